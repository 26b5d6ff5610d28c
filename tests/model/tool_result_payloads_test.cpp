#include "model/tool_result_payloads.h"

#include <gtest/gtest.h>

#include "support/json_fields.h"

namespace corvane {
namespace {

using nlohmann::json;

TEST(ToolResultPayloads, AbsentOptionalsAreLeftOutAndRequiredEmptiesAreWritten) {
    EXPECT_EQ(json(TransportResult{"ok", {}, {}, {}, false, true, false, true}),
              json::parse(R"({"status":"ok","isPlaying":false,"isRecording":true,"cycleEnabled":false,
                              "globalSolo":true})"));
    TrackDetailsResult bare;
    bare.status = "ok";
    bare.trackName = "Keys";
    EXPECT_EQ(json(bare), json::parse(R"({"status":"ok","trackName":"Keys","plugins":[]})"));
    bare.sends = std::vector<std::string>{};
    EXPECT_EQ(json(bare)["sends"], json::array());
    EXPECT_EQ(json(ListTracksResult{"ok", {}}), json::parse(R"({"status":"ok","tracks":[]})"));
    EXPECT_EQ(json(PluginParametersResult::PluginParam{"Gain", {}, "knob"}),
              json::parse(R"({"label":"Gain","role":"knob"})"));
}

TEST(ToolResultPayloads, DecodingIsStrictAboutRequiredKeysAndTypesOnly) {
    auto decodes = [](auto tag, const char* text) {
        try {
            (void)json_fields::decode<decltype(tag)>(text);
            return true;
        } catch (const json_fields::DecodeError&) {
            return false;
        }
    };
    EXPECT_FALSE(decodes(ListTracksResult{}, R"({"status":"ok"})"));
    EXPECT_TRUE(decodes(ListTracksResult{}, R"({"status":"ok","tracks":[],"memories":[]})"));
    EXPECT_FALSE(decodes(ListTracksResult{}, R"({"status":"ok","tracks":[{"number":1.5,"name":"a","isMuted":false,
                                                  "isFolder":false}]})"));
    EXPECT_TRUE(decodes(PluginParametersResult::PluginParam{}, R"({"label":"Gain","value":null,"role":"knob"})"));
    EXPECT_FALSE(decodes(TransportResult{}, R"({"status":"ok","isPlaying":"yes","isRecording":false,
                                               "cycleEnabled":false,"globalSolo":false})"));
    EXPECT_FALSE(decodes(TrackDetailsResult{}, R"({"status":"ok","trackName":"K","plugins":[],"sends":[1]})"));
    EXPECT_FALSE(decodes(ActionResult{}, R"({"status":"ok"})"));

    const auto full = json_fields::decode<TrackDetailsResult>(
        R"({"status":"ok","trackName":"Kick","volume":"-3.2","sends":["Bus 1"],"sendTargets":{"Bus 1":"Reverb"},
            "plugins":[{"index":0,"name":"Channel EQ","isBypassed":true}],"memories":[{"id":"x"}]})");
    EXPECT_EQ(full.sendTargets, (std::map<std::string, std::string>{{"Bus 1", "Reverb"}}));
    EXPECT_EQ(full.plugins, (std::vector<TrackDetailsResult::PluginSlotInfo>{{0, "Channel EQ", true}}));
    EXPECT_EQ(json(full), json::parse(R"({"status":"ok","trackName":"Kick","volume":"-3.2","sends":["Bus 1"],
        "sendTargets":{"Bus 1":"Reverb"},"plugins":[{"index":0,"name":"Channel EQ","isBypassed":true}]})"));
}

}  // namespace
}  // namespace corvane
