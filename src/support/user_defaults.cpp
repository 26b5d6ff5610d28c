#include "support/user_defaults.h"

#include <nlohmann/json.hpp>

#include "support/app_paths.h"
#include "support/files.h"

namespace corvane {

JSONFileUserDefaults::JSONFileUserDefaults()
    : JSONFileUserDefaults(AppPaths::appSupportDirectory() / "user-defaults.json") {}

JSONFileUserDefaults::JSONFileUserDefaults(std::filesystem::path file) : file_(std::move(file)) {}

std::map<std::string, std::string> JSONFileUserDefaults::read() const {
    std::map<std::string, std::string> values;
    const auto file = readFile(file_);
    if (!file.ok()) return values;
    const auto json = nlohmann::json::parse(file.bytes, nullptr, false);
    if (!json.is_object()) return values;
    for (const auto& [key, value] : json.items())
        if (value.is_string()) values[key] = value.get<std::string>();
    return values;
}

std::optional<std::string> JSONFileUserDefaults::string(const std::string& key) {
    std::lock_guard lock(mutex_);
    auto values = read();
    auto found = values.find(key);
    if (found == values.end()) return std::nullopt;
    return found->second;
}

void JSONFileUserDefaults::setString(const std::string& key, const std::string& value) {
    std::lock_guard lock(mutex_);
    // Re-read so that keys this process does not know survive; members that are not text are
    // kept as they are.
    nlohmann::json json = nlohmann::json::object();
    if (const auto file = readFile(file_); file.ok()) {
        auto parsed = nlohmann::json::parse(file.bytes, nullptr, false);
        if (parsed.is_object()) json = std::move(parsed);
    }
    json[key] = value;
    writeFileAtomically(file_, json.dump(2) + "\n", 0600);
}

}  // namespace corvane
