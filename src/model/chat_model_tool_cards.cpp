#include <map>

#include "model/chat_model.h"
#include "support/numbers.h"

namespace corvane {

namespace {

const std::map<std::string, std::string>& displayNames() {
    static const std::map<std::string, std::string> names{
        {"list_tracks", "List Tracks"},
        {"get_transport", "Get Transport"},
        {"get_track_details", "Get Track Details"},
        {"get_plugin_parameters", "Get Plugin Parameters"},
        {"get_arrangement", "Get Arrangement"},
        {"list_installed_plugins", "List Installed Plugins"},
        {"set_track_solo", "Set Track Solo"},
        {"set_track_mute", "Set Track Mute"},
        {"set_track_volume", "Set Track Volume"},
        {"set_track_pan", "Set Track Pan"},
        {"set_plugin_bypass", "Set Plugin Bypass"},
        {"set_plugin_parameter", "Set Plugin Parameter"},
        {"add_plugin", "Add Plugin"},
        {"remove_plugin", "Remove Plugin"},
        {"reorder_plugin", "Reorder Plugin"},
        {"control_transport", "Control Transport"},
        {"listen_to_playback", "Listen to Playback"},
        {"update_track_description", "Update Track Description"},
        {"update_song_brief", "Update Song Brief"},
        {"set_folder_expanded", "Set Folder Expanded"},
        {"set_send_level", "Set Send Level"},
        {"ensure_bus_track", "Surface Bus"},
        {"ensure_master_track", "Surface Master"},
        {"rename_track", "Rename Track"},
        {"show_visual", "Analysis"},
        {"set_plugin_sidechain", "Set Plugin Sidechain"},
        {"update_user", "Note"},
    };
    return names;
}

const std::map<std::string, std::string>& icons() {
    static const std::map<std::string, std::string> symbols{
        {"list_tracks", "list.bullet"},
        {"get_track_details", "list.bullet"},
        {"get_plugin_parameters", "slider.horizontal.3"},
        {"set_track_volume", "dial.medium"},
        {"set_track_pan", "dial.medium"},
        {"set_track_solo", "speaker.slash"},
        {"set_track_mute", "speaker.slash"},
        {"set_plugin_bypass", "power"},
        {"control_transport", "play.circle"},
        {"listen_to_playback", "ear"},
        {"add_plugin", "puzzlepiece"},
        {"remove_plugin", "puzzlepiece"},
        {"reorder_plugin", "arrow.up.arrow.down"},
        {"list_installed_plugins", "square.grid.2x2"},
        {"get_arrangement", "rectangle.3.group"},
        {"get_transport", "gauge"},
        {"update_track_description", "pencil"},
        {"update_song_brief", "doc.text"},
        {"set_folder_expanded", "chevron.down.square"},
    };
    return symbols;
}

std::optional<std::string> stringMember(const nlohmann::json& args, const char* key) {
    auto it = args.find(key);
    if (it == args.end() || !it->is_string()) return std::nullopt;
    return it->get<std::string>();
}

std::string joinPresent(const std::optional<std::string>& a, const std::optional<std::string>& b,
                        const std::string& separator) {
    if (a && b) return *a + separator + *b;
    if (a) return *a;
    if (b) return *b;
    return {};
}

constexpr const char* kArrow = " \u2192 ";
constexpr const char* kDot = " \u00B7 ";

}  // namespace

std::string ToolCallInfo::displayNameFor(const std::string& toolName) {
    auto it = displayNames().find(toolName);
    return it == displayNames().end() ? toolName : it->second;
}

std::string ToolCallInfo::icon(const std::string& toolName) {
    auto it = icons().find(toolName);
    return it == icons().end() ? "gearshape" : it->second;
}

std::optional<std::string> ToolCallInfo::argumentPreview() const {
    nlohmann::json args = nlohmann::json::parse(arguments, nullptr, false);
    if (!args.is_object()) return std::nullopt;  // also what a parse failure gives (discarded)

    auto track = stringMember(args, "track_name");
    auto plugin = stringMember(args, "plugin_name");
    auto parameter = stringMember(args, "parameter_name");
    auto value = stringMember(args, "value");
    auto action = stringMember(args, "action");
    std::optional<double> duration;
    if (auto it = args.find("duration_seconds"); it != args.end() && it->is_number()) duration = it->get<double>();

    if (toolName == "set_plugin_bypass") return joinPresent(track, plugin, " > ");
    if (toolName == "set_plugin_parameter") {
        if (parameter && value) return track.value_or("") + " > " + *parameter + kArrow + *value;
        return joinPresent(track, plugin, " > ");
    }
    if (toolName == "set_track_volume" || toolName == "set_track_pan") {
        if (!track) return std::nullopt;
        if (!value) return track;
        return *track + kArrow + *value;
    }
    if (toolName == "set_track_solo" || toolName == "set_track_mute") return track;
    if (toolName == "listen_to_playback") {
        std::string label = track && !track->empty() ? *track : "full mix";
        if (!duration) return label;
        auto seconds = checkedInteger(*duration, INT64_MIN, INT64_MAX);  // whole seconds toward zero
        if (!seconds) return label;
        return label + kDot + std::to_string(*seconds) + "s";
    }
    if (toolName == "control_transport") return action;
    if (toolName == "add_plugin" || toolName == "remove_plugin") return joinPresent(plugin, track, " on ");
    if (track) return track;
    if (plugin) return plugin;
    return action;
}

}  // namespace corvane
