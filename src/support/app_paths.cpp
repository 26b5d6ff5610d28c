#include "support/app_paths.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include <fmt/format.h>

#include <array>
#include <cstdlib>
#include <system_error>

#include "platform/log.h"
#include "support/files.h"
#include "support/iso8601.h"

namespace corvane {

namespace fs = std::filesystem;

namespace {
std::optional<std::string> environment(const char* name) {
    const char* value = std::getenv(name);
    if (value && *value) return std::string(value);
    return std::nullopt;
}

std::optional<fs::path> dataBase() {
    auto xdg = environment("XDG_DATA_HOME");
    if (xdg && fs::path(*xdg).is_absolute()) return fs::path(*xdg);
    if (auto home = AppPaths::homeDirectory()) return *home / ".local" / "share";
    return std::nullopt;
}
}  // namespace

std::optional<fs::path> AppPaths::applicationFolderOverride() {
    if (auto folder = environment("CORVANE_HOME")) return fs::path(*folder);
    return std::nullopt;
}

std::optional<fs::path> AppPaths::homeDirectory() {
    if (auto home = environment("HOME")) return fs::path(*home);
    std::array<char, 4096> buffer{};
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_dir &&
        *found->pw_dir)
        return fs::path(found->pw_dir);
    return std::nullopt;
}

fs::path AppPaths::temporaryDirectory() {
    std::error_code error;
    fs::path folder = fs::temp_directory_path(error);
    return error ? fs::path("/tmp") : folder;
}

fs::path AppPaths::resourcesDirectory() {
    if (auto folder = environment("CORVANE_RESOURCES")) return fs::path(*folder);
    return fs::path(CORVANE_SOURCE_DIR) / "resources";
}

std::optional<fs::path> AppPaths::userDataDirectory() {
    auto base = dataBase();
    if (!base) return std::nullopt;
    std::error_code ec;
    fs::create_directories(*base, ec);
    if (ec && !fs::is_directory(*base)) return std::nullopt;
    return base;
}

fs::path AppPaths::appSupportDirectory(const std::optional<std::string>& subdirectory) {
    fs::path folder;
    if (auto overridden = applicationFolderOverride()) {
        folder = *overridden;
    } else if (auto base = dataBase()) {
        folder = *base / "Corvane";
    } else {
        folder = temporaryDirectory() / "Corvane";
    }
    if (subdirectory && !subdirectory->empty()) folder /= *subdirectory;
    createPrivateFolders(folder);  // failures surface later as failed reads and writes
    return folder;
}

void AppPaths::narrowApplicationFolder() { narrowToOwner(appSupportDirectory()); }

namespace {
constexpr int kMaxBackupsPerSecond = 1000;

// The n-th backup name of this second (n from 1); the first keeps the plain form.
fs::path backupPath(const fs::path& file, const std::string& stamp, int n) {
    fs::path backup = file;
    backup += ".corrupt-" + stamp + (n == 1 ? std::string() : "-" + std::to_string(n)) + ".bak";
    return backup;
}

std::string backupStamp() {
    std::string stamp = ISO8601::plainString(ISO8601::now());
    for (auto& c : stamp)
        if (c == ':') c = '-';
    return stamp;
}

// Renames without ever replacing what is at the target.
bool renameNoReplace(const fs::path& from, const fs::path& to, int& error) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    error = errno;
    if (error != EINVAL && error != ENOSYS) return false;
    struct stat st {};  // a file system without RENAME_NOREPLACE
    if (::lstat(to.c_str(), &st) == 0) {
        error = EEXIST;
        return false;
    }
    if (::rename(from.c_str(), to.c_str()) == 0) return true;
    error = errno;
    return false;
}
}  // namespace

void AppPaths::archiveCorruptFile(const fs::path& file, const std::string& context) {
    const FileRead read = readFile(file);
    if (read.status == FileRead::Status::missing) return;
    const std::string stamp = backupStamp();
    fs::path backup;
    int error = read.error;
    // Written whole or not at all: a copy cut short (a full disk) is no backup, and would be
    // made again at every load.
    for (int n = 1; read.ok() && n <= kMaxBackupsPerSecond; ++n) {
        backup = backupPath(file, stamp, n);
        struct stat st {};
        // A link where the backup goes is neither followed nor passed over, as before.
        if (::lstat(backup.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
            error = ELOOP;
            break;
        }
        error = writeNewFileAtomically(backup, read.bytes, 0600) ? 0 : errno;
        if (error != EEXIST) break;
    }
    if (error == 0) {
        log(fmt::format("[{}] Preserved corrupt file: {}", context, backup.string()));
    } else {
        log(fmt::format("[{}] Could not preserve corrupt file {}: {}", context, file.string(),
                        std::generic_category().message(error)));
    }
}

bool AppPaths::moveUnreadableFileAside(const fs::path& file, const std::string& context) {
    const std::string stamp = backupStamp();
    int error = 0;
    for (int n = 1; n <= kMaxBackupsPerSecond; ++n) {
        fs::path backup = backupPath(file, stamp, n);
        if (renameNoReplace(file, backup, error)) {
            log(fmt::format("[{}] Moved unreadable file aside: {}", context, backup.string()));
            return true;
        }
        if (error != EEXIST) break;
    }
    log(fmt::format("[{}] Could not move unreadable file aside {}: {}", context, file.string(),
                    std::generic_category().message(error)));
    return false;
}

bool AppPaths::hasPreservedCopy(const fs::path& file, const std::string& bytes) {
    const std::string prefix = file.filename().string() + ".corrupt-";
    std::error_code ec;
    for (fs::directory_iterator it(file.parent_path(), ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (!name.starts_with(prefix) || !name.ends_with(".bak")) continue;
        std::error_code sizeError;
        if (fs::file_size(it->path(), sizeError) != bytes.size() || sizeError) continue;
        FileRead backup = readFile(it->path());
        if (backup.ok() && backup.bytes == bytes) return true;
    }
    return false;
}

}  // namespace corvane
