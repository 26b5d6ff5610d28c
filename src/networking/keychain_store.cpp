#include "networking/keychain_store.h"

#include <mutex>

#include <nlohmann/json.hpp>

#include "platform/log.h"
#include "support/app_paths.h"
#include "support/files.h"
#include "support/json_fields.h"

namespace fs = std::filesystem;

namespace corvane::networking {
namespace {

// Read-modify-write cycles may come from several threads here (the design had them all on
// the UI thread); one lock keeps them from overlapping.
std::recursive_mutex& storeMutex() {
    static std::recursive_mutex mutex;
    return mutex;
}

void reportWriteFailure(const std::string& reason) { log("[KeychainStore] write failed: " + reason); }

}  // namespace

fs::path KeychainStore::storeURL() {
    const fs::path folder = AppPaths::appSupportDirectory();
    narrowFolderToOwner(folder);
    return folder / "auth.json";
}

StoreFile KeychainStore::storeFile() {
    // An unreadable file reads as no session, and the next sign-in replaces it.
    return StoreFile(storeURL(), "KeychainStore",
                     {.mode = 0600, .reportWriteFailure = reportWriteFailure, .moveUnreadableAside = true});
}

StoreFile::Contents<KeychainStore::Values> KeychainStore::readAll(StoreFile& file) {
    // The decode error may quote the file, which holds the session's tokens: it is not logged.
    return file.load<Values>([](const std::string& bytes) { return json_fields::decode<Values>(bytes); },
                             [](const std::string&) {});
}

bool KeychainStore::writeAll(StoreFile& file, const StoreFile::Contents<Values>& values) {
    std::string bytes;
    try {
        bytes = nlohmann::json(values.value).dump(-1, ' ', false, nlohmann::json::error_handler_t::strict);
    } catch (const nlohmann::json::exception&) {
        reportWriteFailure("the session is not valid text");
        return false;
    }
    return file.saveBytes(values, bytes);
}

std::optional<std::string> KeychainStore::read(const std::string& key) {
    std::lock_guard lock(storeMutex());
    StoreFile file = storeFile();
    const auto values = readAll(file).value;
    const auto found = values.find(key);
    if (found == values.end()) return std::nullopt;
    return found->second;
}

std::map<std::string, std::string> KeychainStore::readMembers() {
    std::lock_guard lock(storeMutex());
    StoreFile file = storeFile();
    return readAll(file).value;
}

bool KeychainStore::save(const std::string& key, const std::string& value) {
    return update([&](Values& values) {
        values[key] = value;
        return true;
    });
}

bool KeychainStore::save(const std::map<std::string, std::string>& members) {
    return update([&](Values& values) {
        for (const auto& [key, value] : members) values[key] = value;
        return true;
    });
}

bool KeychainStore::remove(const std::string& key) {
    return update([&](Values& values) {
        values.erase(key);
        return true;
    });
}

bool KeychainStore::update(const std::function<bool(Values&)>& change) {
    std::lock_guard lock(storeMutex());
    const FileLock held = KeychainStore::lock();  // from the read to the rename: another copy's change is kept
    return update(held, change);
}

FileLock KeychainStore::lock() { return FileLock::acquire(storeURL()); }

FileLock KeychainStore::lock(std::chrono::milliseconds wait) { return FileLock::acquire(storeURL(), wait); }

bool KeychainStore::update(const FileLock& held, const std::function<bool(Values&)>& change) {
    // Values read without the lock may be another copy's half-way state: no decision is made on them.
    if (const auto& refusal = held.refusal()) {
        reportWriteFailure(*refusal);
        return false;
    }
    std::lock_guard lock(storeMutex());
    StoreFile file = storeFile();
    file.lockedBy(held);
    auto values = readAll(file);
    if (!change(values.value)) return true;
    return writeAll(file, values);
}

}  // namespace corvane::networking
