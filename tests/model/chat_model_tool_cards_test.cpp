#include <gtest/gtest.h>

#include "model/chat_model.h"

namespace corvane {
namespace {

std::optional<std::string> preview(const std::string& tool, const std::string& arguments) {
    ToolCallInfo call;
    call.toolName = tool;
    call.arguments = arguments;
    return call.argumentPreview();
}

TEST(ChatModelToolCards, ToolCardTitlesAndIconsFallBackForUnknownTools) {
    EXPECT_EQ(ToolCallInfo::displayNameFor("ensure_master_track"), "Surface Master");
    EXPECT_EQ(ToolCallInfo::displayNameFor("listen_to_playback"), "Listen to Playback");
    EXPECT_EQ(ToolCallInfo::displayNameFor("update_user"), "Note");
    EXPECT_EQ(ToolCallInfo::displayNameFor("get_audio_analysis"), "get_audio_analysis");
    EXPECT_EQ(ToolCallInfo::displayNameFor("List_Tracks"), "List_Tracks");  // compared exactly
    EXPECT_EQ(ToolCallInfo::icon("get_track_details"), "list.bullet");
    EXPECT_EQ(ToolCallInfo::icon("set_track_mute"), "speaker.slash");
    EXPECT_EQ(ToolCallInfo::icon("rename_track"), "gearshape");
}

TEST(ChatModelToolCards, ArgumentPreviewShowsOnlyValuesOfTheExpectedType) {
    const std::optional<std::string> none;
    struct Case {
        const char* tool;
        const char* arguments;
        std::optional<std::string> expected;
    };
    const Case cases[] = {
        {"listen_to_playback", "{}", "full mix"},
        {"listen_to_playback", R"({"track_name":"Vocals","duration_seconds":12.9})", "Vocals \u00B7 12s"},
        {"listen_to_playback", R"({"track_name":"","duration_seconds":8})", "full mix \u00B7 8s"},
        {"listen_to_playback", R"({"duration_seconds":"8"})", "full mix"},
        {"listen_to_playback", R"({"duration_seconds":1e300})", "full mix"},
        {"set_track_volume", R"({"track_name":"Bass","value":-6})", "Bass"},
        {"set_track_volume", R"({"track_name":"Bass","value":"-6 dB"})", "Bass \u2192 -6 dB"},
        {"set_track_pan", R"({"value":"L20"})", none},
        {"set_plugin_parameter", R"({"parameter_name":"Threshold","value":"-20"})", " > Threshold \u2192 -20"},
        {"set_plugin_parameter", R"({"track_name":"Vox","plugin_name":"EQ","parameter_name":"Gain"})", "Vox > EQ"},
        {"set_plugin_bypass", R"({"plugin_name":"EQ"})", "EQ"},
        {"set_plugin_bypass", "{}", ""},
        {"set_track_solo", R"({"track_name":"Kick"})", "Kick"},
        {"set_track_mute", "{}", none},
        {"add_plugin", R"({"plugin_name":"Compressor"})", "Compressor"},
        {"add_plugin", R"({"plugin_name":"Compressor","track_name":"Bass"})", "Compressor on Bass"},
        {"remove_plugin", "{}", ""},
        {"control_transport", R"({"action":"play"})", "play"},
        {"rename_track", R"({"plugin_name":"EQ","action":"x"})", "EQ"},
        {"get_transport", "{}", none},
        {"list_tracks", "[1,2]", none},
        {"list_tracks", "not json", none},
    };
    for (const auto& c : cases) EXPECT_EQ(preview(c.tool, c.arguments), c.expected) << c.tool << " " << c.arguments;
}

// Each tool names its tracks under its own keys; a card that reads only "track_name" shows the
// wrong target (a listen to named tracks as the full mix) or none.
TEST(ChatModelToolCards, ArgumentPreviewNamesTheTracksTheCallTargets) {
    struct Case {
        const char* tool;
        const char* arguments;
        std::optional<std::string> expected;
    };
    const Case cases[] = {
        {"listen_to_playback", R"({"tracks":"Bass, Lead Vox","duration_seconds":8,"start_bar":1})",
         "Bass, Lead Vox \u00B7 8s"},
        {"listen_to_playback", R"({"tracks":" ,\t","track_name":"Bass","duration_seconds":8})", "full mix \u00B7 8s"},
        {"set_track_mute", R"({"track_names":["Guitar"],"enabled":true})", "Guitar"},
        {"set_track_solo", R"({"track_names":["Kick"," Snare ",""],"enabled":true})", "Kick, Snare"},
        {"set_track_mute", R"({"track_names":["Kick In","Kick Out","Snare Top","Snare Bottom","Overheads"]})",
         "Kick In, Kick Out, Snare Top, Snare Bott\u2026"},
        {"set_track_volume", R"({"tracks":[{"track_name":"Keys","value":"-6 dB"}]})", "Keys \u2192 -6 dB"},
        {"set_track_pan", R"({"tracks":[{"track_name":"Keys","value":"-20"},{"track_name":"Bass","value":0}]})",
         "Keys \u2192 -20, Bass"},
        {"get_track_details", R"({"track_names":["Bass","Lead Vox"]})", "Bass, Lead Vox"},
        {"set_send_level", R"({"track_name":"Lead Vox","bus_label":"Bus 1","delta_db":-3})", "Lead Vox"},
        {"set_plugin_parameter", R"({"track_name":"Bass","plugin_name":"EQ","parameter_name":"Gain","value":"2 dB"})",
         "Bass > Gain \u2192 2 dB"},
        {"remove_plugin", R"({"track_name":"Bass","plugin_name":"EQ"})", "EQ on Bass"},
        {"set_folder_expanded", R"({"folder_name":"Drums","expanded":true})", "Drums"},
        {"rename_track", R"({"current_name":"Audio 1","new_name":"Bass"})", "Audio 1"},
        {"ensure_bus_track", R"({"source_track":"Lead Vox","bus_label":"Bus 1"})", "Lead Vox"},
        {"update_track_description", R"({"trackName":"Bass","description":"Round and warm"})", "Bass"},
    };
    for (const auto& c : cases) EXPECT_EQ(preview(c.tool, c.arguments), c.expected) << c.tool << " " << c.arguments;
}

}  // namespace
}  // namespace corvane
