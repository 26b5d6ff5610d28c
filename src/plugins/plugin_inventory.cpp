#include "plugins/plugin_inventory.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <unicode/coll.h>
#include <unicode/locid.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <memory>
#include <system_error>
#include <unordered_set>

#include "plugins/plugin_inventory_plist.h"
#include "support/json_fields.h"
#include "support/unicode.h"

namespace corvane {

namespace fs = std::filesystem;
using json_fields::integer;
using json_fields::value;

namespace {

constexpr const char* kComponentsFolder = "/Library/Audio/Plug-Ins/Components";
constexpr const char* kVST3Folder = "/Library/Audio/Plug-Ins/VST3";

// An Info.plist is a few kilobytes; anything huge is not one.
constexpr off_t kMaxPropertyListBytes = 4 * 1024 * 1024;

// Folders with these extensions are bundles: listed when wanted, never entered.
constexpr std::array<std::string_view, 12> kPackageExtensions{
    "component", "vst3", "vst", "aaxplugin", "clap", "app", "bundle", "framework", "plugin", "kext", "appex", "xpc"};

std::string homeFolder() {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    std::array<char, 4096> buffer{};
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_dir)
        return found->pw_dir;
    return {};
}

// "/" + "/Library/…" would name the system folder twice over under two spellings; one spelling
// lets the duplicate check see it.
std::string below(const std::string& root, const char* folder) {
    std::string base = root;
    while (!base.empty() && base.back() == '/') base.pop_back();
    return base + folder;
}

// Only a plain file, opened without blocking: a pipe or device named Info.plist must not hang
// the scan.
std::optional<std::string> readSmallFile(const fs::path& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return std::nullopt;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > kMaxPropertyListBytes) {
        ::close(fd);
        return std::nullopt;
    }
    std::string bytes;
    char buffer[16384];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0) break;
        bytes.append(buffer, static_cast<size_t>(n));
        if (bytes.size() > static_cast<size_t>(kMaxPropertyListBytes)) {
            ::close(fd);
            return std::nullopt;
        }
    }
    ::close(fd);
    return bytes;
}

bool hasPackageExtension(const fs::path& path) {
    std::string ext = path.extension().string();
    if (ext.empty()) return false;
    ext = text::lowercased(ext.substr(1));
    return std::find(kPackageExtensions.begin(), kPackageExtensions.end(), ext) != kPackageExtensions.end();
}

// Sorts by name, case-insensitively and in the user's language; names equal that way but not
// identical (other case) fall back to their bytes, identical names to their paths. A plain
// "identical names by path" rule is no strict weak order once names differ only in case, and
// sorting with one is undefined.
void sortByName(std::vector<InstalledPluginSummary>& plugins) {
    UErrorCode status = U_ZERO_ERROR;
    // The C locale's collation orders capitals apart from small letters; the root one does not.
    icu::Locale locale = icu::Locale::getDefault();
    if (std::string_view(locale.getName()) == "en_US_POSIX") locale = icu::Locale::getRoot();
    std::unique_ptr<icu::Collator> collator(icu::Collator::createInstance(locale, status));
    if (U_FAILURE(status)) collator.reset();
    if (collator) collator->setStrength(icu::Collator::SECONDARY);

    // Keys once per plug-in rather than once per comparison.
    std::vector<std::pair<std::string, size_t>> keys;
    keys.reserve(plugins.size());
    for (size_t i = 0; i < plugins.size(); ++i) {
        const icu::UnicodeString folded = icu::UnicodeString::fromUTF8(plugins[i].name).foldCase();
        std::string key;
        if (collator) {
            int32_t length = collator->getSortKey(folded, nullptr, 0);
            key.resize(static_cast<size_t>(length));
            collator->getSortKey(folded, reinterpret_cast<uint8_t*>(key.data()), length);
        } else {
            folded.toUTF8String(key);
        }
        keys.emplace_back(std::move(key), i);
    }
    std::stable_sort(keys.begin(), keys.end(), [&](const auto& a, const auto& b) {
        if (a.first != b.first) return a.first < b.first;
        const auto& pa = plugins[a.second];
        const auto& pb = plugins[b.second];
        if (pa.name != pb.name) return pa.name < pb.name;
        return pa.path < pb.path;
    });
    std::vector<InstalledPluginSummary> sorted;
    sorted.reserve(plugins.size());
    for (const auto& key : keys) sorted.push_back(std::move(plugins[key.second]));
    plugins = std::move(sorted);
}

}  // namespace

std::string toString(InstalledPluginFormat v) { return v == InstalledPluginFormat::vst3 ? "vst3" : "audioUnit"; }

std::optional<InstalledPluginFormat> installedPluginFormatFromString(std::string_view s) {
    if (s == "audioUnit") return InstalledPluginFormat::audioUnit;
    if (s == "vst3") return InstalledPluginFormat::vst3;
    return std::nullopt;
}

void to_json(nlohmann::json& j, InstalledPluginFormat v) { j = toString(v); }

void from_json(const nlohmann::json& j, InstalledPluginFormat& v) {
    v = json_fields::enumeration(j, "plug-in format", installedPluginFormatFromString);
}

void to_json(nlohmann::json& j, const InstalledPluginSummary& v) {
    j = {{"name", v.name}, {"format", v.format}, {"path", v.path}};
}

void from_json(const nlohmann::json& j, InstalledPluginSummary& v) {
    v.name = json_fields::text(j, "name");
    v.format = value<InstalledPluginFormat>(j, "format");
    v.path = json_fields::text(j, "path");
}

void to_json(nlohmann::json& j, const ModelPluginSummary& v) { j = {{"name", v.name}, {"format", v.format}}; }

void from_json(const nlohmann::json& j, ModelPluginSummary& v) {
    v.name = json_fields::text(j, "name");
    v.format = value<InstalledPluginFormat>(j, "format");
}

void to_json(nlohmann::json& j, const PluginInventoryToolResult& v) {
    j = {{"status", v.status}, {"totalCount", v.totalCount}, {"plugins", v.plugins}, {"message", v.message}};
}

void from_json(const nlohmann::json& j, PluginInventoryToolResult& v) {
    v.status = json_fields::text(j, "status");
    v.totalCount = integer(j, "totalCount");
    v.plugins = value<std::vector<ModelPluginSummary>>(j, "plugins");
    v.message = json_fields::text(j, "message");
}

PluginInventoryService::PluginInventoryService() : PluginInventoryService("/", homeFolder()) {}

PluginInventoryService::PluginInventoryService(const fs::path& systemRoot, const fs::path& homeFolder)
    : audioUnitDirectories_{below(systemRoot.string(), kComponentsFolder),
                            below(homeFolder.string(), kComponentsFolder)},
      vst3Directories_{below(systemRoot.string(), kVST3Folder), below(homeFolder.string(), kVST3Folder)} {}

InstalledPluginInventory PluginInventoryService::scanInstalledPlugins() const {
    auto found = scanDirectories(audioUnitDirectories_, "component", InstalledPluginFormat::audioUnit);
    auto vst3 = scanDirectories(vst3Directories_, "vst3", InstalledPluginFormat::vst3);
    found.insert(found.end(), vst3.begin(), vst3.end());

    InstalledPluginInventory inventory;
    std::unordered_set<std::string> seen;
    for (auto& summary : found)
        if (seen.insert(toString(summary.format) + ":" + summary.path).second)
            inventory.plugins.push_back(std::move(summary));
    sortByName(inventory.plugins);
    inventory.totalCount = static_cast<std::int64_t>(inventory.plugins.size());
    return inventory;
}

std::vector<InstalledPluginSummary> PluginInventoryService::scanDirectories(const std::vector<std::string>& directories,
                                                                            std::string_view fileExtension,
                                                                            InstalledPluginFormat format) {
    std::vector<InstalledPluginSummary> found;
    const std::string wanted = text::lowercased(fileExtension);
    for (const auto& directory : directories) {
        std::error_code ec;
        if (!fs::exists(directory, ec)) continue;
        fs::recursive_directory_iterator it(directory, fs::directory_options::skip_permission_denied, ec), end;
        if (ec) continue;
        for (; it != end; it.increment(ec)) {
            if (ec) break;
            const fs::path& path = it->path();
            const std::string fileName = path.filename().string();
            const bool isDirectory = it->is_directory(ec);
            if (!fileName.empty() && fileName[0] == '.') {
                it.disable_recursion_pending();
                continue;
            }
            if (isDirectory && hasPackageExtension(path)) it.disable_recursion_pending();
            const std::string ext = path.extension().string();
            if (ext.size() < 2 || text::lowercased(ext.substr(1)) != wanted) continue;
            // macOS paths are always UTF-8; any other name could not be written into the JSON
            // answers, and no such bundle can be a real plug-in.
            if (!text::isValidUTF8(path.string())) continue;
            auto name = bundleDisplayName(path);
            found.push_back({name ? *name : path.stem().string(), format, path.string()});
        }
    }
    return found;
}

std::optional<std::string> PluginInventoryService::bundleDisplayName(const fs::path& bundle) {
    std::error_code ec;
    if (!fs::is_directory(bundle, ec)) return std::nullopt;
    // A macOS bundle keeps it in Contents/; a flat bundle at its top.
    fs::path plist = bundle / "Contents" / "Info.plist";
    if (!fs::exists(plist, ec)) plist = bundle / "Info.plist";
    auto bytes = readSmallFile(plist);
    if (!bytes) return std::nullopt;
    auto info = parseXMLPropertyList(*bytes);
    if (!info || info->kind != PropertyListValue::Kind::dictionary) return std::nullopt;
    for (const char* key : {"CFBundleDisplayName", "CFBundleName"}) {
        const std::string* value = info->stringFor(key);
        if (value && !text::trimmingWhitespaceAndNewlines(*value).empty()) return *value;
    }
    return std::nullopt;
}

}  // namespace corvane
