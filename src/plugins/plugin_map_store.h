#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "plugins/plugin_map.h"

namespace corvane {

// Every plug-in map shipped with the application, keyed by lower-cased plug-in name and alias.
// Filled by reload() right after creation, before the store is handed out, and only read after
// that, so it takes no lock.
class PluginMapStore final {
public:
    // Maps come from "PluginMaps" under resourcesRoot(); a store made for another folder (tests)
    // reads that folder's "PluginMaps" instead. Both start empty until reload().
    PluginMapStore();
    explicit PluginMapStore(std::filesystem::path resourcesRoot);

    // The application's resource folder: $CORVANE_RESOURCES when set and not empty, otherwise the
    // source tree's "resources" folder.
    static std::filesystem::path resourcesRoot();

    // Empties the store and loads every "json" file of "PluginMaps" (or, when that folder holds
    // none, of the resource folder's top level), in file-name order, so that a key claimed by
    // several files belongs to the last. Unreadable and undecodable files are logged and skipped.
    void reload();

    // Lower-cased name or alias -> map. Several keys may hold the same map.
    const std::map<std::string, PluginMap>& mapsByKey() const { return mapsByKey_; }

    // The map for an insert slot's plug-in name: exact match of the lower-cased texts, no
    // trimming, no partial match. Null when the plug-in has no map.
    const PluginMap* mapForPlugin(std::string_view pluginName) const;

private:
    void registerMap(const PluginMap& map);
    std::vector<std::filesystem::path> mapResources() const;

    std::filesystem::path resourcesRoot_;
    std::map<std::string, PluginMap> mapsByKey_;
};

}  // namespace corvane
