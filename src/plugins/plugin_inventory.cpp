#include "plugins/plugin_inventory.h"

#include <fcntl.h>
#include <plist/plist.h>
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
#include <unordered_map>
#include <unordered_set>

#include "support/app_paths.h"
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

// No real Info.plist nests more than a few levels or holds more than some thousand values. libplist
// recurses once per level without a limit of its own and expands each reference of a binary list
// anew, so a crafted file of a few hundred bytes would exhaust the stack or the memory: both are
// checked before it sees the bytes.
constexpr std::size_t kMaxNesting = 64;
constexpr std::uint64_t kMaxValues = 1 << 18;

// Folders with these extensions are bundles: listed when wanted, never entered.
constexpr std::array<std::string_view, 12> kPackageExtensions{
    "component", "vst3", "vst", "aaxplugin", "clap", "app", "bundle", "framework", "plugin", "kext", "appex", "xpc"};

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

// Dictionaries and arrays nest no deeper than kMaxNesting, comments and CDATA sections aside.
// Whatever the count cannot follow is refused: libplist would refuse it too.
bool xmlWithinLimits(std::string_view xml) {
    std::size_t depth = 0;
    for (auto at = xml.find('<'); at != std::string_view::npos; at = xml.find('<', at + 1)) {
        const std::string_view tag = xml.substr(at);
        if (tag.starts_with("<!--") || tag.starts_with("<![CDATA[")) {
            at = xml.find(tag[2] == '-' ? "-->" : "]]>", at);
            if (at == std::string_view::npos) return false;
            continue;
        }
        const bool closing = tag.starts_with("</");
        const std::string_view name = tag.substr(closing ? 2 : 1);
        if (!name.starts_with("dict") && !name.starts_with("array")) continue;
        const auto end = xml.find('>', at);
        if (end == std::string_view::npos) return false;
        if (xml[end - 1] == '/') continue;  // an empty <dict/>
        if (closing) {
            if (depth == 0) return false;
            --depth;
        } else if (++depth > kMaxNesting) {
            return false;
        }
    }
    return true;
}

std::uint64_t bigEndian(std::string_view bytes, std::uint64_t at, unsigned width) {
    std::uint64_t value = 0;
    for (unsigned i = 0; i < width; ++i) value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
    return value;
}

// The objects that the binary object at `offset` refers to: an array's or a set's elements, a
// dictionary's keys and values, nothing for any other object. False when it overruns `end`.
bool binaryReferences(std::string_view bytes, std::uint64_t offset, std::uint64_t end, unsigned referenceSize,
                      std::vector<std::uint64_t>& references) {
    references.clear();
    if (offset >= end) return false;
    const unsigned marker = static_cast<unsigned char>(bytes[offset]);
    const unsigned type = marker >> 4;
    if (type != 0xA && type != 0xC && type != 0xD) return true;
    std::uint64_t count = marker & 0xF;
    std::uint64_t at = offset + 1;
    if (count == 0xF) {  // a larger count follows as an integer object
        if (at >= end) return false;
        const unsigned integerMarker = static_cast<unsigned char>(bytes[at]);
        if (integerMarker >> 4 != 0x1 || (integerMarker & 0xF) > 3) return false;
        const unsigned width = 1u << (integerMarker & 0xF);
        if (end - at - 1 < width) return false;
        count = bigEndian(bytes, at + 1, width);
        at += 1 + width;
    }
    if (type == 0xD && count > end) return false;
    if (type == 0xD) count *= 2;
    if (count > (end - at) / referenceSize) return false;
    for (std::uint64_t i = 0; i < count; ++i)
        references.push_back(bigEndian(bytes, at + i * referenceSize, referenceSize));
    return true;
}

// Walks the binary list's object graph as libplist would expand it, each object once: the
// longest chain of containers must stay within kMaxNesting, the expanded values within
// kMaxValues, and no container may contain itself.
bool binaryWithinLimits(std::string_view bytes) {
    constexpr std::uint64_t kTrailerBytes = 32;
    if (bytes.size() < 8 + kTrailerBytes) return false;
    const std::uint64_t end = bytes.size() - kTrailerBytes;
    const unsigned offsetSize = static_cast<unsigned char>(bytes[end + 6]);
    const unsigned referenceSize = static_cast<unsigned char>(bytes[end + 7]);
    const std::uint64_t objectCount = bigEndian(bytes, end + 8, 8);
    const std::uint64_t topObject = bigEndian(bytes, end + 16, 8);
    const std::uint64_t offsetTable = bigEndian(bytes, end + 24, 8);
    if (offsetSize < 1 || offsetSize > 8 || referenceSize < 1 || referenceSize > 8 || topObject >= objectCount ||
        offsetTable > end || objectCount > (end - offsetTable) / offsetSize)
        return false;

    struct Reach {
        std::size_t height = 0;    // containers below, along the longest chain
        std::uint64_t values = 1;  // values once expanded, itself included
    };
    struct Frame {
        std::uint64_t object;
        std::vector<std::uint64_t> references;
        std::size_t next = 0;
        Reach reach;
    };
    std::unordered_map<std::uint64_t, Reach> finished;
    std::vector<Frame> path;
    auto enter = [&](std::uint64_t object) {
        if (object >= objectCount || path.size() >= kMaxNesting) return false;
        for (const auto& frame : path)
            if (frame.object == object) return false;
        Frame frame{object, {}, 0, {}};
        const std::uint64_t offset = bigEndian(bytes, offsetTable + object * offsetSize, offsetSize);
        if (!binaryReferences(bytes, offset, end, referenceSize, frame.references)) return false;
        path.push_back(std::move(frame));
        return true;
    };
    auto add = [](Reach& parent, const Reach& child) {
        parent.height = std::max(parent.height, child.height + 1);
        parent.values += child.values;
        return parent.values <= kMaxValues;
    };

    if (!enter(topObject)) return false;
    while (!path.empty()) {
        Frame& frame = path.back();
        if (frame.next < frame.references.size()) {
            const std::uint64_t child = frame.references[frame.next++];
            if (auto seen = finished.find(child); seen != finished.end()) {
                if (!add(frame.reach, seen->second) || path.size() + seen->second.height > kMaxNesting) return false;
            } else if (!enter(child)) {
                return false;
            }
            continue;
        }
        const Frame done = std::move(frame);
        path.pop_back();
        finished.emplace(done.object, done.reach);
        if (finished.size() > kMaxValues) return false;
        if (!path.empty() && !add(path.back().reach, done.reach)) return false;
    }
    return true;
}

struct PropertyListFree {
    void operator()(plist_t node) const { plist_free(node); }
};
using PropertyList = std::unique_ptr<void, PropertyListFree>;

PropertyList readPropertyList(std::string_view bytes) {
    if (bytes.size() > static_cast<std::size_t>(kMaxPropertyListBytes)) return nullptr;
    plist_t root = nullptr;
    if (bytes.starts_with("bplist00")) {
        if (!binaryWithinLimits(bytes)) return nullptr;
        const std::string copy(bytes);
        plist_from_bin(copy.data(), static_cast<std::uint32_t>(copy.size()), &root);
    } else {
        if (bytes.starts_with("\xEF\xBB\xBF")) bytes.remove_prefix(3);  // libplist refuses the byte order mark
        if (!text::isValidUTF8(bytes) || !xmlWithinLimits(bytes)) return nullptr;
        const std::string copy(bytes);  // terminated, whatever the caller's view
        plist_from_xml(copy.data(), static_cast<std::uint32_t>(copy.size()), &root);
    }
    return PropertyList(root);
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

PluginInventoryService::PluginInventoryService()
    : PluginInventoryService("/", AppPaths::homeDirectory().value_or(fs::path())) {}

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
    auto info = infoPlistStrings(*bytes);
    if (!info) return std::nullopt;
    for (const char* key : {"CFBundleDisplayName", "CFBundleName"}) {
        auto value = info->find(key);
        if (value != info->end() && !text::trimmingWhitespaceAndNewlines(value->second).empty()) return value->second;
    }
    return std::nullopt;
}

std::optional<std::map<std::string, std::string>> PluginInventoryService::infoPlistStrings(std::string_view bytes) {
    PropertyList root = readPropertyList(bytes);
    if (!root || plist_get_node_type(root.get()) != PLIST_DICT) return std::nullopt;
    std::map<std::string, std::string> strings;
    plist_dict_iter entries = nullptr;
    plist_dict_new_iter(root.get(), &entries);
    for (;;) {
        char* key = nullptr;
        plist_t value = nullptr;
        plist_dict_next_item(root.get(), entries, &key, &value);
        if (!value) {
            std::free(key);
            break;
        }
        if (plist_get_node_type(value) == PLIST_STRING) {
            std::uint64_t length = 0;
            const char* characters = plist_get_string_ptr(value, &length);
            const std::string_view string = characters ? std::string_view(characters, length) : std::string_view();
            if (key && text::isValidUTF8(string)) strings[key] = std::string(string);
        }
        std::free(key);
    }
    std::free(entries);
    return strings;
}

}  // namespace corvane
