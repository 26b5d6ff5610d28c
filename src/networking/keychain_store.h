#pragma once

// The sign-in session between launches: "auth.json" in the application folder, a JSON object of
// texts readable only by the user (folder 0700, file 0600), written compactly. Not the system
// keychain, despite the name. The file follows the stores' policy (StoreFile): anything but an
// object of texts is archived beside it and reads as no session, and is written over only once
// that backup exists.

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "support/store_file.h"

namespace corvane::networking {

struct KeychainStore {
    static std::optional<std::string> read(const std::string& key);
    // Every member in one read, so that two of them belong to the same write.
    static std::map<std::string, std::string> readMembers();
    // Each says whether the file holds the change: false when the file could not be locked, read
    // or written (the reason is logged).
    static bool save(const std::string& key, const std::string& value);
    // Several members in one write, so that a crash leaves all of them or none.
    static bool save(const std::map<std::string, std::string>& values);
    static bool remove(const std::string& key);  // "delete" in the design; a keyword here
    // Hands the stored members to `change` and writes what it made of them, all under the file's
    // lock, so that a decision on what another copy of the app stored meanwhile is not undone by
    // it; nothing is written when `change` answers false. False when the lock could not be had
    // (`change` is then not run) or the write failed.
    static bool update(const std::function<bool(std::map<std::string, std::string>&)>& change);
    // The file's lock, for a caller that keeps other copies away across more than one step (a
    // refresh: its refresh token read, spent and replaced). The update below given it works
    // under it, never locking again.
    static FileLock lock();
    static FileLock lock(std::chrono::milliseconds wait);  // refused once nothing moved for `wait`
    static bool update(const FileLock& held, const std::function<bool(std::map<std::string, std::string>&)>& change);

    // The file's location; takes the group's and others' permissions off the folder on every call.
    static std::filesystem::path storeURL();

private:
    using Values = std::map<std::string, std::string>;
    static StoreFile storeFile();
    static StoreFile::Contents<Values> readAll(StoreFile& file);
    static bool writeAll(StoreFile& file, const StoreFile::Contents<Values>& values);
};

}  // namespace corvane::networking
