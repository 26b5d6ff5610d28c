#include "support/app_paths.h"

#include <fmt/format.h>

#include <cstdlib>
#include <system_error>

#include "platform/log.h"
#include "support/files.h"
#include "support/iso8601.h"

namespace corvane {

namespace fs = std::filesystem;

namespace {
std::optional<fs::path> homeDirectory() {
    const char* home = std::getenv("HOME");
    if (home && *home) return fs::path(home);
    return std::nullopt;
}

std::optional<fs::path> dataBase() {
    const char* xdg = std::getenv("XDG_DATA_HOME");
    if (xdg && *xdg && fs::path(xdg).is_absolute()) return fs::path(xdg);
    if (auto home = homeDirectory()) return *home / ".local" / "share";
    return std::nullopt;
}
}  // namespace

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
    const char* override = std::getenv("CORVANE_HOME");
    if (override && *override) {
        folder = fs::path(override);
    } else if (auto base = dataBase()) {
        folder = *base / "Corvane";
    } else {
        folder = fs::temp_directory_path() / "Corvane";
    }
    if (subdirectory && !subdirectory->empty()) folder /= *subdirectory;
    std::error_code ec;
    fs::create_directories(folder, ec);  // failures surface later as failed reads and writes
    return folder;
}

void AppPaths::archiveCorruptFile(const fs::path& file, const std::string& context) {
    std::error_code ec;
    if (!fs::exists(file, ec)) return;
    std::string stamp = ISO8601::plainString(ISO8601::now());
    for (auto& c : stamp)
        if (c == ':') c = '-';
    fs::path backup = file;
    backup += ".corrupt-" + stamp + ".bak";
    fs::copy_file(file, backup, fs::copy_options::none, ec);
    if (!ec) {
        log(fmt::format("[{}] Preserved corrupt file: {}", context, backup.string()));
    } else {
        log(fmt::format("[{}] Could not preserve corrupt file {}: {}", context, file.string(), ec.message()));
    }
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
