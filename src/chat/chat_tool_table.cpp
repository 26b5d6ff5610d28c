#include "chat/chat_tool_executor.h"

namespace corvane {

// The one binding of handlers to tool names. The tool catalog (model/tool_catalog.h) holds
// everything else about each tool; the tool-definition tests fail when a name is here but not
// there or in tools.json, or the reverse. The composition root or a test may add or replace a
// tool with ChatToolExecutor::registerTool.
ToolTable ChatToolExecutor::defaultToolTable() {
    using namespace tool_handlers;
    return {
        {"list_installed_plugins", listInstalledPlugins},
        {"update_track_description", updateTrackDescription},
        {"update_song_brief", updateSongBrief},
        {"update_user", updateUser},
        {"list_tracks", listTracks},
        {"get_transport", getTransport},
        {"get_track_details", getTrackDetails},
        {"get_plugin_parameters", getPluginParameters},
        {"set_track_solo", setTrackSolo},
        {"set_track_mute", setTrackMute},
        {"set_plugin_bypass", setPluginBypass},
        {"control_transport", controlTransport},
        {"set_track_volume", setTrackVolume},
        {"set_track_pan", setTrackPan},
        {"set_plugin_parameter", setPluginParameter},
        {"get_arrangement", getArrangement},
        {"respond", respond},
        {"listen_to_playback", listenToPlayback},
        {"rename_track", renameTrack},
        {"set_send_level", setSendLevel},
        {"ensure_bus_track", ensureBusTrack},
        {"ensure_master_track", ensureMasterTrack},
        {"add_plugin", addPlugin},
        {"set_plugin_sidechain", setPluginSidechain},
        {"remove_plugin", removePlugin},
        {"reorder_plugin", reorderPlugin},
        {"set_folder_expanded", setFolderExpanded},
        {"expand_folder", setFolderExpanded},
        {"collapse_folder", setFolderExpanded},
        {"remember", remember},
        {"forget", forget},
    };
}

}  // namespace corvane
