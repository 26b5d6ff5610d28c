#pragma once

// The sign-in session between launches: "auth.json" in the application folder, a JSON object of
// texts readable only by the user (folder 0700, file 0600). Not the system keychain, despite
// the name.

#include <filesystem>
#include <map>
#include <optional>
#include <string>

namespace corvane::networking {

struct KeychainStore {
    static std::optional<std::string> read(const std::string& key);
    static void save(const std::string& key, const std::string& value);
    static void remove(const std::string& key);  // "delete" in the design; a keyword here

    // The file's location; sets the folder's mode to 0700 on every call.
    static std::filesystem::path storeURL();

private:
    static std::map<std::string, std::string> readAll();
    static void writeAll(const std::map<std::string, std::string>& values);
};

}  // namespace corvane::networking
