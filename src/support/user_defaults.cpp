#include "support/user_defaults.h"

#include <nlohmann/json.hpp>

#include "support/app_paths.h"
#include "support/files.h"
#include "support/json_fields.h"

namespace corvane {

JSONFileUserDefaults::JSONFileUserDefaults()
    : JSONFileUserDefaults(AppPaths::appSupportDirectory() / "user-defaults.json") {}

JSONFileUserDefaults::JSONFileUserDefaults(std::filesystem::path file)
    : file_(std::move(file), "UserDefaults", {.mode = 0600}) {
    // Made once at start, like the stores: what a crash left mid-write goes now.
    removeLeftoverTemporaryFiles(file_.path());
}

std::optional<std::string> JSONFileUserDefaults::string(const std::string& key) {
    std::lock_guard lock(mutex_);
    const auto loaded = file_.load<nlohmann::json>(decodeJSONObject);
    return json_fields::lenientText(loaded.value, key.c_str());
}

void JSONFileUserDefaults::setString(const std::string& key, const std::string& value) {
    std::lock_guard lock(mutex_);
    const FileLock held = file_.lock();  // from the read to the rename: another copy's change is kept
    // Re-read so that keys this process does not know survive; members that are not text are
    // kept as they are.
    auto loaded = file_.load<nlohmann::json>(decodeJSONObject);
    if (!loaded.value.is_object()) loaded.value = nlohmann::json::object();
    loaded.value[key] = value;
    if (auto bytes = file_.encode(loaded.value, nullptr)) file_.saveBytes(loaded, *bytes + "\n");
}

}  // namespace corvane
