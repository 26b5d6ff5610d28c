#include <algorithm>
#include <map>
#include <string_view>

#include "model/chat_model.h"
#include "support/numbers.h"
#include "support/unicode.h"

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
constexpr std::size_t kTargetsLength = 40;

void addName(std::vector<std::string>& names, std::string_view name) {
    if (auto trimmed = text::trimSpacesAndTabs(name); !trimmed.empty()) names.emplace_back(trimmed);
}

// "tracks" as a comma-separated text, else "track_name" read the same way.
std::vector<std::string> listenedNames(const nlohmann::json& args) {
    std::vector<std::string> names;
    auto list = stringMember(args, "tracks");
    if (!list) list = stringMember(args, "track_name");
    if (!list) return names;
    for (std::size_t start = 0; start <= list->size();) {
        const std::size_t comma = std::min(list->find(',', start), list->size());
        addName(names, std::string_view(*list).substr(start, comma - start));
        start = comma + 1;
    }
    return names;
}

// "track_names" when it is a list of texts, else "track_name".
std::vector<std::string> namedTracks(const nlohmann::json& args) {
    std::vector<std::string> names;
    if (auto it = args.find("track_names"); it != args.end() && it->is_array()) {
        bool allText = true;
        for (const auto& element : *it) allText = allText && element.is_string();
        if (allText) {
            for (const auto& element : *it) addName(names, element.get<std::string>());
            return names;
        }
    }
    if (auto single = stringMember(args, "track_name")) addName(names, *single);
    return names;
}

// "tracks" when it is a list of objects, else the call's own "track_name" and "value"; a value
// shows only as text.
std::vector<std::string> writtenTracks(const nlohmann::json& args) {
    std::vector<std::string> writes;
    auto write = [&writes](const nlohmann::json& object) {
        auto name = stringMember(object, "track_name");
        if (!name) return;
        std::string line(text::trimSpacesAndTabs(*name));
        if (line.empty()) return;
        if (auto value = stringMember(object, "value")) line += kArrow + *value;
        writes.push_back(std::move(line));
    };
    if (auto it = args.find("tracks"); it != args.end() && it->is_array()) {
        bool allObjects = true;
        for (const auto& element : *it) allObjects = allObjects && element.is_object();
        if (allObjects) {
            for (const auto& element : *it) write(element);
            return writes;
        }
    }
    write(args);
    return writes;
}

// The one track a tool names under a key of its own, else "track_name".
std::optional<std::string> singleTrack(const std::string& toolName, const nlohmann::json& args) {
    if (toolName == "set_folder_expanded" || toolName == "expand_folder" || toolName == "collapse_folder") {
        for (const char* key : {"track_name", "name", "folder", "folder_name"})
            if (auto name = stringMember(args, key)) return name;
        return std::nullopt;
    }
    if (toolName == "rename_track") return stringMember(args, "current_name");
    if (toolName == "ensure_bus_track") return stringMember(args, "source_track");
    if (toolName == "update_track_description") return stringMember(args, "trackName");
    return stringMember(args, "track_name");
}

// The targets on one line: joined, and cut short so the card keeps to one line.
std::optional<std::string> joinedTargets(const std::vector<std::string>& targets) {
    if (targets.empty()) return std::nullopt;
    std::string joined = targets.front();
    for (std::size_t i = 1; i < targets.size(); ++i) joined += ", " + targets[i];
    if (text::graphemeCount(joined) <= kTargetsLength) return joined;
    std::string cut = text::graphemePrefix(joined, kTargetsLength);
    while (!cut.empty() && (cut.back() == ' ' || cut.back() == ',')) cut.pop_back();
    return cut + "\u2026";
}

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

    auto track = singleTrack(toolName, args);
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
    if (toolName == "set_track_volume" || toolName == "set_track_pan") return joinedTargets(writtenTracks(args));
    if (toolName == "set_track_solo" || toolName == "set_track_mute" || toolName == "get_track_details")
        return joinedTargets(namedTracks(args));
    if (toolName == "listen_to_playback") {
        std::string label = joinedTargets(listenedNames(args)).value_or("full mix");
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
