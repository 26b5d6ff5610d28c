#pragma once

#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "support/json_fields.h"

namespace corvane {

// The two views of a plug-in window: the plug-in's own editor and Logic Pro's generic
// Controls view. Written as "editor" / "controls".
enum class PluginViewPreference { editor, controls };

inline std::string toString(PluginViewPreference v) {
    return v == PluginViewPreference::editor ? "editor" : "controls";
}

inline std::optional<PluginViewPreference> pluginViewPreferenceFromString(const std::string& s) {
    if (s == "editor") return PluginViewPreference::editor;
    if (s == "controls") return PluginViewPreference::controls;
    return std::nullopt;
}

inline void to_json(nlohmann::json& j, PluginViewPreference v) { j = toString(v); }

inline void from_json(const nlohmann::json& j, PluginViewPreference& v) {
    v = json_fields::enumeration(j, "plug-in view", pluginViewPreferenceFromString);
}

}  // namespace corvane
