#include "model/tool_catalog.h"

#include <algorithm>
#include <array>

namespace corvane {

namespace {

using enum RoundTripBudget;
namespace p = tool_preview;

constexpr MemoryArguments kNoMemories{};
constexpr MemoryArguments kPluginOnTrack{.pluginName = true, .trackKey = "track_name"};
constexpr MemoryArguments kTrack{.trackKey = "track_name"};
constexpr MemoryArguments kTrackNames{.trackNames = true};
constexpr MemoryArguments kTrackObjects{.trackObjects = true};

// One line per tool. A new tool also needs its handler bound in chat/chat_tool_table.cpp and its
// definition in tools.json.
// clang-format off
constexpr auto kTools = std::to_array<ToolDescriptor>({
    // name, card title, icon, argument preview, has a visual, memory arguments, round-trip budget
    {"list_installed_plugins", "List Installed Plugins", "square.grid.2x2", p::trackOrPlugin, false, kNoMemories, reading},
    {"update_track_description", "Update Track Description", "pencil", p::describedTrackOrPlugin, false, {.trackKey = "trackName"}, reading},
    {"update_song_brief", "Update Song Brief", "doc.text", p::trackOrPlugin, false, kNoMemories, reading},
    {"update_user", "Note", "", p::trackOrPlugin, false, kNoMemories, reading},
    {"list_tracks", "List Tracks", "list.bullet", p::trackOrPlugin, true, kNoMemories, reading},
    {"get_transport", "Get Transport", "gauge", p::trackOrPlugin, false, kNoMemories, reading},
    {"get_track_details", "Get Track Details", "list.bullet", p::namedTracks, true, kTrackNames, wide},
    {"get_plugin_parameters", "Get Plugin Parameters", "slider.horizontal.3", p::trackOrPlugin, true, kPluginOnTrack, reading},
    {"set_track_solo", "Set Track Solo", "speaker.slash", p::namedTracks, false, kTrackNames, editing},
    {"set_track_mute", "Set Track Mute", "speaker.slash", p::namedTracks, false, kTrackNames, editing},
    {"set_plugin_bypass", "Set Plugin Bypass", "power", p::trackAndPlugin, false, kPluginOnTrack, editing},
    {"control_transport", "Control Transport", "play.circle", p::action, false, kNoMemories, editing},
    {"set_track_volume", "Set Track Volume", "dial.medium", p::trackWrites, false, kTrackObjects, editing},
    {"set_track_pan", "Set Track Pan", "dial.medium", p::trackWrites, false, kTrackObjects, editing},
    {"set_plugin_parameter", "Set Plugin Parameter", "", p::parameterWrite, false, kPluginOnTrack, editing},
    {"get_arrangement", "Get Arrangement", "rectangle.3.group", p::trackOrPlugin, false, kNoMemories, reading},
    {"respond", "", "", p::trackOrPlugin, false, {.visualTracks = true}, reading},
    // It may insert the analysis plug-in on every track it listens to.
    {"listen_to_playback", "Listen to Playback", "ear", p::listened, false, {.trackText = true}, wide},
    {"rename_track", "Rename Track", "", p::currentNameOrPlugin, false, {.trackKey = "current_name"}, editing},
    {"set_send_level", "Set Send Level", "", p::trackOrPlugin, false, kTrack, editing},
    {"ensure_bus_track", "Surface Bus", "", p::sourceTrackOrPlugin, false, {.trackKey = "source_track"}, wide},
    {"ensure_master_track", "Surface Master", "", p::trackOrPlugin, false, kNoMemories, editing},
    {"add_plugin", "Add Plugin", "puzzlepiece", p::pluginOnTrack, false, kPluginOnTrack, editing},
    {"set_plugin_sidechain", "Set Plugin Sidechain", "", p::trackOrPlugin, false, kPluginOnTrack, editing},
    {"remove_plugin", "Remove Plugin", "puzzlepiece", p::pluginOnTrack, false, kPluginOnTrack, editing},
    {"reorder_plugin", "Reorder Plugin", "arrow.up.arrow.down", p::trackOrPlugin, false, kTrack, editing},
    {"set_folder_expanded", "Set Folder Expanded", "chevron.down.square", p::folderOrPlugin, false, kTrack, editing},
    {"expand_folder", "", "", p::folderOrPlugin, false, kNoMemories, editing},
    {"collapse_folder", "", "", p::folderOrPlugin, false, kNoMemories, editing},
    {"remember", "", "", p::trackOrPlugin, false, kNoMemories, reading},
    {"forget", "", "", p::trackOrPlugin, false, kNoMemories, reading},
});
// clang-format on

// Cards no agent call makes under its own name.
constexpr auto kCardsOnly = std::to_array<ToolDescriptor>({
    {"show_visual", "Analysis", "", p::trackOrPlugin, true, kNoMemories, reading},
    {"get_audio_analysis", "", "", p::trackOrPlugin, true, kNoMemories, reading},
});

const ToolDescriptor* findIn(std::span<const ToolDescriptor> tools, std::string_view name) {
    auto it = std::find_if(tools.begin(), tools.end(), [&](const ToolDescriptor& tool) { return tool.name == name; });
    return it == tools.end() ? nullptr : &*it;
}

}  // namespace

long roundTripGoal(RoundTripBudget budget) {
    switch (budget) {
        case reading: return 50;
        case editing: return 150;
        case wide: return 300;
    }
    return 0;
}

std::span<const ToolDescriptor> toolCatalog() { return kTools; }

const ToolDescriptor* findTool(std::string_view name) { return findIn(kTools, name); }

const ToolDescriptor* findCardTool(std::string_view name) {
    if (const ToolDescriptor* tool = findTool(name)) return tool;
    return findIn(kCardsOnly, name);
}

}  // namespace corvane
