#include "networking/keychain_store.h"

#include <mutex>

#include <nlohmann/json.hpp>

#include "platform/log.h"
#include "support/app_paths.h"
#include "support/files.h"

namespace fs = std::filesystem;

namespace corvane::networking {
namespace {

// Read-modify-write cycles may come from several threads here (the design had them all on
// the UI thread); one lock keeps them from overlapping.
std::recursive_mutex& storeMutex() {
    static std::recursive_mutex mutex;
    return mutex;
}

}  // namespace

fs::path KeychainStore::storeURL() {
    const fs::path folder = AppPaths::appSupportDirectory();
    std::error_code ignored;
    fs::permissions(folder, fs::perms::owner_all, fs::perm_options::replace, ignored);
    return folder / "auth.json";
}

std::map<std::string, std::string> KeychainStore::readAll() {
    const FileRead file = readFile(storeURL());
    if (!file.ok()) return {};
    try {
        const auto json = nlohmann::json::parse(file.bytes);
        if (!json.is_object()) return {};
        std::map<std::string, std::string> values;
        for (const auto& [key, value] : json.items()) {
            if (!value.is_string()) return {};
            values[key] = value.get<std::string>();
        }
        return values;
    } catch (const nlohmann::json::exception&) {
        return {};
    }
}

void KeychainStore::writeAll(const std::map<std::string, std::string>& values) {
    const fs::path path = storeURL();
    std::string bytes;
    try {
        bytes = nlohmann::json(values).dump(-1, ' ', false, nlohmann::json::error_handler_t::strict);
    } catch (const nlohmann::json::exception&) {
        return;
    }
    std::error_code error;
    const bool written = writePrivateFile(path, bytes);
    if (written)
        fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::replace, error);
    if (!written || error) {
        log("[KeychainStore] write failed: " + (error ? error.message() : "could not write " + path.string()));
    }
}

std::optional<std::string> KeychainStore::read(const std::string& key) {
    std::lock_guard lock(storeMutex());
    const auto values = readAll();
    const auto found = values.find(key);
    if (found == values.end()) return std::nullopt;
    return found->second;
}

void KeychainStore::save(const std::string& key, const std::string& value) {
    std::lock_guard lock(storeMutex());
    auto values = readAll();
    values[key] = value;
    writeAll(values);
}

void KeychainStore::remove(const std::string& key) {
    std::lock_guard lock(storeMutex());
    auto values = readAll();
    values.erase(key);
    writeAll(values);
}

}  // namespace corvane::networking
