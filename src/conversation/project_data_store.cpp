#include "conversation/project_data_store.h"

#include "support/app_paths.h"

namespace corvane {

using nlohmann::json;
using namespace json_fields;

using Projects = std::map<std::string, StoredProjectData>;

void to_json(json& j, const StoredSection& section) {
    j = json{{"name", section.name},
             {"startBar", section.startBar},
             {"endBar", section.endBar},
             {"colorIndex", section.colorIndex}};
}

void from_json(const json& j, StoredSection& section) {
    section.name = text(j, "name");
    section.startBar = integerOf<int>(j, "startBar");
    section.endBar = integerOf<int>(j, "endBar");
    section.colorIndex = integerOf<int>(j, "colorIndex");
}

void to_json(json& j, const StoredProjectData& data) {
    j = json{{"sections", data.sections}, {"trackDescriptions", data.trackDescriptions}};
    put(j, "songStartBar", data.songStartBar);
    put(j, "songEndBar", data.songEndBar);
}

void from_json(const json& j, StoredProjectData& data) {
    data.sections = value<std::vector<StoredSection>>(j, "sections");
    data.trackDescriptions = value<std::map<std::string, std::string>>(j, "trackDescriptions");
    data.songStartBar = optionalIntegerOf<int>(j, "songStartBar");
    data.songEndBar = optionalIntegerOf<int>(j, "songEndBar");
}

ProjectDataStore::ProjectDataStore(std::stop_token ending)
    : file_(StoreFile(AppPaths::appSupportDirectory() / "project-data.json", "ProjectDataStore",
                      {.ending = std::move(ending)})) {}

std::optional<std::string> ProjectDataStore::lastFailure() {
    return queue_.sync([&] { return file_.lastFailure(); });
}

std::optional<StoredProjectData> ProjectDataStore::load(const std::string& projectName) {
    return queue_.sync([&]() -> std::optional<StoredProjectData> {
        const Projects& projects = file_.current().value;
        auto found = projects.find(projectName);
        if (found == projects.end()) return std::nullopt;
        return found->second;
    });
}

bool ProjectDataStore::save(const std::string& projectName, const StoredProjectData& data) {
    return queue_.sync([&] {
        const FileLock held = file_.lock();  // from the read to the rename: another copy's change is kept
        file_.current().value[projectName] = data;
        return file_.save();
    });
}

bool ProjectDataStore::update(const std::string& projectName,
                              const std::function<void(StoredProjectData&)>& change) {
    return queue_.sync([&] {
        const FileLock held = file_.lock();  // from the read to the rename: another copy's change is kept
        change(file_.current().value[projectName]);
        return file_.save();
    });
}

}  // namespace corvane
