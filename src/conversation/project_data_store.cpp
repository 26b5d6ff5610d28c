#include "conversation/project_data_store.h"

#include <fmt/format.h>

#include <cmath>
#include <limits>
#include <stdexcept>

#include "platform/log.h"
#include "support/app_paths.h"
#include "support/files.h"

namespace corvane {

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

using Projects = std::map<std::string, StoredProjectData>;

// A JSON number that is exactly an int (3.0 counts; 3.5 and 1e12 do not).
int exactInt(const json& value, const char* key) {
    constexpr auto low = std::numeric_limits<int>::min();
    constexpr auto high = std::numeric_limits<int>::max();
    if (value.is_number_integer()) {
        if (value.is_number_unsigned()) {
            if (value.get<std::uint64_t>() <= static_cast<std::uint64_t>(high)) return value.get<int>();
        } else if (auto v = value.get<std::int64_t>(); v >= low && v <= high) {
            return static_cast<int>(v);
        }
    } else if (value.is_number_float()) {
        double v = value.get<double>();
        if (std::isfinite(v) && std::trunc(v) == v && v >= low && v <= high) return static_cast<int>(v);
    }
    throw std::runtime_error(fmt::format("\"{}\" is not an integer", key));
}

int requiredInt(const json& j, const char* key) { return exactInt(j.at(key), key); }

std::optional<int> optionalInt(const json& j, const char* key) {
    auto found = j.find(key);
    if (found == j.end() || found->is_null()) return std::nullopt;
    return exactInt(*found, key);
}

Projects decodeProjects(const std::string& bytes) {
    json document = json::parse(bytes);
    if (!document.is_object()) throw std::runtime_error("expected an object of projects");
    Projects projects;
    for (const auto& [name, record] : document.items()) projects.emplace(name, record.get<StoredProjectData>());
    return projects;
}

}  // namespace

void to_json(json& j, const StoredSection& section) {
    j = json{{"name", section.name},
             {"startBar", section.startBar},
             {"endBar", section.endBar},
             {"colorIndex", section.colorIndex}};
}

void from_json(const json& j, StoredSection& section) {
    if (!j.is_object()) throw std::runtime_error("a section is not an object");
    const json& name = j.at("name");
    if (!name.is_string()) throw std::runtime_error("\"name\" is not a string");
    section.name = name.get<std::string>();
    section.startBar = requiredInt(j, "startBar");
    section.endBar = requiredInt(j, "endBar");
    section.colorIndex = requiredInt(j, "colorIndex");
}

void to_json(json& j, const StoredProjectData& data) {
    j = json{{"sections", data.sections}, {"trackDescriptions", data.trackDescriptions}};
    if (data.songStartBar) j["songStartBar"] = *data.songStartBar;
    if (data.songEndBar) j["songEndBar"] = *data.songEndBar;
}

void from_json(const json& j, StoredProjectData& data) {
    if (!j.is_object()) throw std::runtime_error("a project record is not an object");
    const json& sections = j.at("sections");
    if (!sections.is_array()) throw std::runtime_error("\"sections\" is not a list");
    data.sections = sections.get<std::vector<StoredSection>>();
    const json& descriptions = j.at("trackDescriptions");
    if (!descriptions.is_object()) throw std::runtime_error("\"trackDescriptions\" is not an object");
    data.trackDescriptions.clear();
    for (const auto& [track, description] : descriptions.items()) {
        if (!description.is_string()) throw std::runtime_error("a track description is not a string");
        data.trackDescriptions.emplace(track, description.get<std::string>());
    }
    data.songStartBar = optionalInt(j, "songStartBar");
    data.songEndBar = optionalInt(j, "songEndBar");
}

// What one read of the file found. An unreadable file, or an undecodable one of which no
// backup could be made, is never written over: it may still hold the user's records.
struct ProjectDataStore::Loaded {
    enum class Source { missing, decoded, corrupt, unreadable };
    Source source = Source::missing;
    Projects projects;
    std::string corruptBytes;
};

ProjectDataStore::ProjectDataStore() : fileURL_(AppPaths::appSupportDirectory() / "project-data.json") {}

ProjectDataStore::Loaded ProjectDataStore::read() {
    Loaded loaded;
    FileRead file = readFile(fileURL_);
    if (file.status == FileRead::Status::missing) return loaded;
    if (file.status == FileRead::Status::unreadable) {
        loaded.source = Loaded::Source::unreadable;
        return loaded;
    }
    try {
        loaded.projects = decodeProjects(file.bytes);
        loaded.source = Loaded::Source::decoded;
    } catch (const std::exception& error) {
        log(fmt::format("[ProjectDataStore] decode failed: {}", error.what()));
        AppPaths::archiveCorruptFile(fileURL_, "ProjectDataStore");
        loaded.source = Loaded::Source::corrupt;
        loaded.projects.clear();
        loaded.corruptBytes = std::move(file.bytes);
    }
    return loaded;
}

std::optional<StoredProjectData> ProjectDataStore::load(const std::string& projectName) {
    return queue_.sync([&]() -> std::optional<StoredProjectData> {
        Loaded loaded = read();
        auto found = loaded.projects.find(projectName);
        if (found == loaded.projects.end()) return std::nullopt;
        return found->second;
    });
}

void ProjectDataStore::save(const std::string& projectName, const StoredProjectData& data) {
    queue_.sync([&] {
        Loaded loaded = read();
        if (loaded.source == Loaded::Source::unreadable) {
            log(fmt::format("[ProjectDataStore] Not overwriting unreadable file: {}", fileURL_.string()));
            return;
        }
        if (loaded.source == Loaded::Source::corrupt && !AppPaths::hasPreservedCopy(fileURL_, loaded.corruptBytes)) {
            log(fmt::format("[ProjectDataStore] Not overwriting corrupt file without a backup: {}",
                            fileURL_.string()));
            return;
        }
        loaded.projects[projectName] = data;
        // Invalid UTF-8 is replaced rather than losing the whole write to one bad byte.
        std::string bytes = json(loaded.projects).dump(2, ' ', false, json::error_handler_t::replace);
        writeFileAtomically(fileURL_, bytes);  // failures are not reported, as for every store
    });
}

}  // namespace corvane
