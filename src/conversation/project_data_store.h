#pragma once

#include <nlohmann/json.hpp>

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "platform/serial_queue.h"
#include "support/store_file.h"

namespace corvane {

// One named bar range of the song as the window and the agent loop use it. It has no JSON
// form: it is stored as a StoredSection and gets a fresh id each time a record is loaded.
struct SongSection {
    std::string id;  // UUID text
    std::string name;
    int startBar = 0;
    int endBar = 0;
    int colorIndex = 0;  // into the window's section colours

    bool operator==(const SongSection&) const = default;
};

struct StoredSection {
    std::string name;
    int startBar = 0;
    int endBar = 0;
    int colorIndex = 0;

    bool operator==(const StoredSection&) const = default;
};

// The record of one Logic Pro project.
struct StoredProjectData {
    std::vector<StoredSection> sections;
    std::map<std::string, std::string> trackDescriptions;  // track name -> description
    std::optional<int> songStartBar;
    std::optional<int> songEndBar;

    bool operator==(const StoredProjectData&) const = default;
};

// Decoding throws json_fields::DecodeError on a missing required member, a wrong JSON type or an
// integer out of range.
void to_json(nlohmann::json& j, const StoredSection& section);
void from_json(const nlohmann::json& j, StoredSection& section);
void to_json(nlohmann::json& j, const StoredProjectData& data);
void from_json(const nlohmann::json& j, StoredProjectData& data);

// One record per project, keyed by the project's name, in "project-data.json" of the
// application folder. The records stay in memory and the file is read again only when it changed
// on disk; each save writes the whole file. Every operation may be called from any thread, but
// not from inside the store's own queue.
class ProjectDataStore {
public:
    // Touches no file. Once `ending` is requested a lock held by another copy is not waited for.
    explicit ProjectDataStore(std::stop_token ending = {});
    ProjectDataStore(const ProjectDataStore&) = delete;
    ProjectDataStore& operator=(const ProjectDataStore&) = delete;

    const std::filesystem::path& fileURL() const { return file_.file().path(); }

    // Why the last operation could not read or store the records; absent when it could.
    std::optional<std::string> lastFailure();

    // The record stored under exactly this name (case-sensitive), or absent.
    std::optional<StoredProjectData> load(const std::string& projectName);
    // Replaces the record of that project; the other projects' records stay as they are.
    // Whether it reached the file (when not, lastFailure() tells why and nothing changed).
    bool save(const std::string& projectName, const StoredProjectData& data);
    // Applies `change` to the record as stored now (an empty one when there is none), under the
    // lock: what another copy stored meanwhile in the rest of the record stays. As save answers.
    bool update(const std::string& projectName, const std::function<void(StoredProjectData&)>& change);

private:
    CachedStoreFile<std::map<std::string, StoredProjectData>> file_;
    platform::SerialQueue queue_{"Corvane.ProjectDataStore"};
};

}  // namespace corvane
