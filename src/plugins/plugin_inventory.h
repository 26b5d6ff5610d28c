#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace corvane {

// Written "audioUnit" / "vst3".
enum class InstalledPluginFormat { audioUnit, vst3 };

std::string toString(InstalledPluginFormat v);
std::optional<InstalledPluginFormat> installedPluginFormatFromString(std::string_view s);

struct InstalledPluginSummary {
    std::string name;
    InstalledPluginFormat format = InstalledPluginFormat::audioUnit;
    std::string path;  // the bundle's full path
    friend bool operator==(const InstalledPluginSummary&, const InstalledPluginSummary&) = default;
};

// The result of one scan: summaries sorted by name, and their number.
struct InstalledPluginInventory {
    std::vector<InstalledPluginSummary> plugins;
    std::int64_t totalCount = 0;
};

// An installed plug-in as the model sees it (no path).
struct ModelPluginSummary {
    std::string name;
    InstalledPluginFormat format = InstalledPluginFormat::audioUnit;
    friend bool operator==(const ModelPluginSummary&, const ModelPluginSummary&) = default;
};

// The answer of the tool that lists installed plug-ins; the tool fills status and message.
struct PluginInventoryToolResult {
    std::string status;
    std::int64_t totalCount = 0;
    std::vector<ModelPluginSummary> plugins;
    std::string message;
    friend bool operator==(const PluginInventoryToolResult&, const PluginInventoryToolResult&) = default;
};

void to_json(nlohmann::json& j, InstalledPluginFormat v);
void from_json(const nlohmann::json& j, InstalledPluginFormat& v);
void to_json(nlohmann::json& j, const InstalledPluginSummary& v);
void from_json(const nlohmann::json& j, InstalledPluginSummary& v);
void to_json(nlohmann::json& j, const ModelPluginSummary& v);
void from_json(const nlohmann::json& j, ModelPluginSummary& v);
void to_json(nlohmann::json& j, const PluginInventoryToolResult& v);
void from_json(const nlohmann::json& j, PluginInventoryToolResult& v);

// Lists the Audio Unit and VST3 bundles in the system's and the user's plug-in folders. Every
// scan reads the disk afresh; missing or unreadable folders and bundles without a readable
// Info.plist never make it fail.
class PluginInventoryService final {
public:
    // "/Library/Audio/Plug-Ins/{Components,VST3}" and the same under the user's home folder.
    PluginInventoryService();
    // The same four folders below another system root and home folder (tests, the stand-in).
    PluginInventoryService(const std::filesystem::path& systemRoot, const std::filesystem::path& homeFolder);

    const std::vector<std::string>& audioUnitDirectories() const { return audioUnitDirectories_; }
    const std::vector<std::string>& vst3Directories() const { return vst3Directories_; }

    // Audio Units, then VST3s; one entry per format and path; sorted by name case-insensitively
    // (identical names by path).
    InstalledPluginInventory scanInstalledPlugins() const;

    // Every entry whose extension equals fileExtension ignoring case, found recursively in each
    // folder in turn. Vendor sub-folders are entered; bundles and hidden entries are not.
    static std::vector<InstalledPluginSummary> scanDirectories(const std::vector<std::string>& directories,
                                                               std::string_view fileExtension,
                                                               InstalledPluginFormat format);

    // CFBundleDisplayName, else CFBundleName, from the bundle's Info.plist (XML or binary form),
    // each only when it holds more than white space; returned untrimmed. Absent otherwise.
    static std::optional<std::string> bundleDisplayName(const std::filesystem::path& bundle);

    // The string entries at the top of an Info.plist in XML or binary form, by key. Absent when
    // the list is refused: malformed, not a dictionary, larger, nested deeper or (binary) expanding
    // to more values than any real Info.plist, or XML that is not UTF-8. Strings that are not
    // UTF-8 are left out.
    static std::optional<std::map<std::string, std::string>> infoPlistStrings(std::string_view bytes);

private:
    std::vector<std::string> audioUnitDirectories_;
    std::vector<std::string> vst3Directories_;
};

}  // namespace corvane
