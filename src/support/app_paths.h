#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace corvane {

// The application folder and the rules its JSON stores share.
struct AppPaths {
    // The application folder, or a subfolder of it, created with its parents when missing (new
    // folders 0700).
    // CORVANE_HOME replaces the whole application folder; otherwise it is "Corvane" in the
    // user's data folder ($XDG_DATA_HOME, else ~/.local/share). Never fails: a folder that
    // cannot be created shows up later as failed reads and writes.
    static std::filesystem::path appSupportDirectory(const std::optional<std::string>& subdirectory = std::nullopt);

    // Holds the user's chats and notes: made 0700, files in it 0600. Narrows what an earlier
    // version (or the user) left readable by others to the user alone; for the program's start.
    static void narrowApplicationFolder();

    // The user's data folder itself, created when missing; absent when it cannot be found.
    static std::optional<std::filesystem::path> userDataDirectory();

    // The folder CORVANE_HOME names, when it is set and not empty.
    static std::optional<std::filesystem::path> applicationFolderOverride();

    // The user's home folder: $HOME, else the account's entry in the password database.
    static std::optional<std::filesystem::path> homeDirectory();

    // The folder for temporary files: the one $TMPDIR names when it is a folder, else /tmp.
    static std::filesystem::path temporaryDirectory();

    // The shipped resources (plug-in maps, scenarios): the folder CORVANE_RESOURCES names when it
    // is set, else the source tree's "resources".
    static std::filesystem::path resourcesDirectory();

    // Copies an undecodable store file beside itself as "<name>.corrupt-<stamp>.bak" before the
    // store starts over; context is the store's name for the log lines. A name already taken
    // (a second backup within one second) gets a counter: "<name>.corrupt-<stamp>-2.bak", …
    static void archiveCorruptFile(const std::filesystem::path& file, const std::string& context);

    // Renames a store file that cannot be read (no permission, a folder in its place) to a
    // backup name as above, so the store can start over without losing it. Whether it moved.
    static bool moveUnreadableFileAside(const std::filesystem::path& file, const std::string& context);

    // Whether one of the file's ".corrupt-…" backups holds exactly these bytes: only then may a
    // store write over an undecodable file (a backup can fail, e.g. in a folder it cannot write).
    static bool hasPreservedCopy(const std::filesystem::path& file, const std::string& bytes);
};

}  // namespace corvane
