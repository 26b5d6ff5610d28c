#include "plugins/plugin_map_store.h"

#include <fmt/format.h>

#include <algorithm>
#include <exception>
#include <system_error>
#include <utility>

#include "platform/log.h"
#include "support/app_paths.h"
#include "support/files.h"
#include "support/unicode.h"

namespace corvane {

namespace fs = std::filesystem;

namespace {

// "json" entries directly inside the folder, by file name: directory order is arbitrary, and
// which file wins a shared key must not depend on it.
std::vector<fs::path> jsonEntries(const fs::path& folder) {
    std::vector<fs::path> out;
    std::error_code ec;
    fs::directory_iterator it(folder, ec), end;
    if (ec) return out;
    for (; it != end; it.increment(ec)) {
        if (ec) break;
        if (it->path().extension() == ".json") out.push_back(it->path());
    }
    std::sort(out.begin(), out.end(),
              [](const fs::path& a, const fs::path& b) { return a.filename().string() < b.filename().string(); });
    return out;
}

}  // namespace

PluginMapStore::PluginMapStore() : PluginMapStore(resourcesRoot()) {}

PluginMapStore::PluginMapStore(fs::path resourcesRoot) : resourcesRoot_(std::move(resourcesRoot)) {}

fs::path PluginMapStore::resourcesRoot() { return AppPaths::resourcesDirectory(); }

std::vector<fs::path> PluginMapStore::mapResources() const {
    std::error_code ec;
    if (!fs::is_directory(resourcesRoot_, ec)) {
        log(fmt::format("[PluginMapStore] Resource folder not found: {}", resourcesRoot_.string()));
        return {};
    }
    auto found = jsonEntries(resourcesRoot_ / "PluginMaps");
    if (found.empty()) found = jsonEntries(resourcesRoot_);
    return found;
}

void PluginMapStore::reload() {
    mapsByKey_.clear();
    const auto resources = mapResources();
    log(fmt::format("[PluginMapStore] Scanning {} PluginMap resource(s)", resources.size()));
    for (const auto& file : resources) {
        const std::string fileName = file.filename().string();
        std::error_code ec;
        // Only plain files: opening a pipe that happens to be named *.json would block start-up.
        FileRead read;
        if (fs::is_regular_file(file, ec)) read = readFile(file);
        if (!read.ok()) {
            log(fmt::format("[PluginMapStore] Could not read {}", fileName));
            continue;
        }
        PluginMap map;
        try {
            map = decodePluginMap(read.bytes);
        } catch (const std::exception& e) {
            log(fmt::format("[PluginMapStore] Failed to decode {}: {}", fileName, e.what()));
            continue;
        }
        registerMap(map);
        log(fmt::format("[PluginMapStore] Loaded '{}' ({} parameters) from {}", map.name, map.parameters.size(),
                        fileName));
    }
}

void PluginMapStore::registerMap(const PluginMap& map) {
    mapsByKey_.insert_or_assign(text::lowercased(map.name), map);
    if (map.aliases)
        for (const auto& alias : *map.aliases) mapsByKey_.insert_or_assign(text::lowercased(alias), map);
}

const PluginMap* PluginMapStore::mapForPlugin(std::string_view pluginName) const {
    auto it = mapsByKey_.find(text::lowercased(pluginName));
    return it == mapsByKey_.end() ? nullptr : &it->second;
}

}  // namespace corvane
