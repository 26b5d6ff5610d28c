#include <gtest/gtest.h>

#include "diagrams/tool_result_visuals.h"

namespace corvane {
namespace {

using nlohmann::json;

json analysisTrack(const char* name, std::optional<double> lufs, json extra = json::object()) {
    json t = {{"trackName", name}, {"isMaster", false}};
    if (lufs) t["shortTermLufs"] = *lufs;
    t.update(extra);
    return t;
}

template <class T>
const T* as(const std::optional<ToolResultVisual>& visual) {
    return visual ? std::get_if<T>(&*visual) : nullptr;
}

TEST(ToolResultVisual, AudioAnalysisKeepsAudibleTracksClampsTheMeterAndDrawsBandBars) {
    json result = {{"status", "ok"},
                   {"tracks",
                    {analysisTrack("Silent", -90), analysisTrack("Quiet", -89.9), analysisTrack("Loud", 3),
                     analysisTrack("Far", -75, {{"subBandRatio", 0.5}, {"spectralTiltDb", -2.4}}),
                     analysisTrack("Far", -20, {{"airBandRatio", 0.1}, {"spectralTiltDb", 9}}),
                     analysisTrack("Unmeasured", std::nullopt)}}};
    auto visual = toolResultVisual("listen_to_playback", result.dump());
    const auto* audio = as<AudioAnalysisVisual>(visual);
    ASSERT_TRUE(audio);
    std::vector<std::pair<std::string, double>> meter;
    for (const auto& t : audio->meter) meter.emplace_back(t.name, t.levelDb);
    EXPECT_EQ(meter,
              (std::vector<std::pair<std::string, double>>{{"Quiet", -60}, {"Loud", 0}, {"Far", -60}, {"Far", -20}}));
    ASSERT_EQ(audio->spectrumRows.size(), 2u);  // tracks of one name keep a row each

    auto bars = audio->spectrumRows[0].bars();
    ASSERT_EQ(bars.size(), 5u);
    EXPECT_EQ(bars[0].rect, (diagram::Rect{1, 9, 5, 9}));   // 18 × 0.5, bottom-aligned
    EXPECT_EQ(bars[1].rect, (diagram::Rect{8, 16, 5, 2}));  // a zero share is a 2-pt stub
    auto falling = audio->spectrumRows[0].tiltLabel();
    EXPECT_EQ(falling->text, "-2.4 dB tilt");
    EXPECT_EQ(falling->color.withOpacity(0.5), (diagram::Color{0.8, 0.45, 0.4, 0.5}));
    EXPECT_NEAR(falling->color.opacity, 0.5, 1e-12);
    EXPECT_EQ(audio->spectrumRows[1].tiltLabel()->text, "+9.0 dB tilt");
    EXPECT_EQ(audio->spectrumRows[1].tiltLabel()->color.opacity, 0.8);
    EXPECT_EQ((CompactSpectrumRow{"x", {0, 0, 0, 0, 0}, 0.0}.tiltLabel()->text), "+0.0 dB tilt");

    EXPECT_TRUE(toolResultVisual("get_audio_analysis", result.dump()));
    json silent = {{"status", "ok"}, {"tracks", {analysisTrack("Silent", -95), analysisTrack("None", std::nullopt)}}};
    EXPECT_FALSE(toolResultVisual("listen_to_playback", silent.dump()));
    result["status"] = "error";
    EXPECT_FALSE(toolResultVisual("listen_to_playback", result.dump()));
}

TEST(ToolResultVisual, ChainKnobsAndTrackList) {
    json details = {{"status", "ok"},
                    {"trackName", "Bass"},
                    {"plugins",
                     {{{"index", 0}, {"name", "EQ"}, {"isBypassed", false}},
                      {{"index", 1}, {"name", "Comp"}, {"isBypassed", true}}}}};
    auto chainVisual = toolResultVisual("get_track_details", details.dump());
    const auto* chain = as<PluginChainVisual>(chainVisual);
    ASSERT_TRUE(chain);
    EXPECT_TRUE(chain->chips[0].followedByChevron);
    EXPECT_FALSE(chain->chips[1].followedByChevron);
    EXPECT_TRUE(chain->chips[1].isBypassed);
    details["plugins"] = json::array();
    EXPECT_FALSE(toolResultVisual("get_track_details", details.dump()));

    json parameters = {
        {"status", "ok"}, {"trackName", "Bass"}, {"pluginName", "Channel EQ"}, {"parameters", json::array()}};
    for (const char* label : {"Slider 1", "Sliders", "Slider", "Gain", "Q", "Freq", "Mix", "Drive", "Tone", "Out"})
        parameters["parameters"].push_back({{"label", label}, {"value", "1"}, {"role", "x"}});
    parameters["parameters"].push_back({{"label", "Empty"}, {"value", ""}, {"role", "x"}});
    parameters["parameters"].push_back({{"label", "Absent"}, {"role", "x"}});
    auto knobVisual = toolResultVisual("get_plugin_parameters", parameters.dump());
    const auto* knobs = as<KnobGridVisual>(knobVisual);
    ASSERT_TRUE(knobs);
    EXPECT_EQ(knobs->heading, "Channel EQ on Bass");
    ASSERT_EQ(knobs->rows.size(), 3u);  // nine knobs: 4, 4, 1
    EXPECT_EQ(knobs->rows[0][0].name, "Sliders");
    EXPECT_EQ(knobs->rows[2].size(), 1u);

    json tracks = {{"status", "ok"},
                   {"tracks",
                    {{{"number", 7}, {"name", "Bass"}, {"isMuted", true}, {"isFolder", false}},
                     {{"number", 123}, {"name", "Bass"}, {"isMuted", false}, {"isFolder", true}}}}};
    auto listVisual = toolResultVisual("list_tracks", tracks.dump());
    const auto* list = as<TrackListVisual>(listVisual);
    ASSERT_TRUE(list);
    EXPECT_EQ(list->rows[0].number, "07");
    EXPECT_EQ(list->rows[1].number, "123");
}

TEST(ToolResultVisual, ShowVisualChoosesItsDiagram) {
    const json bass = {{"trackName", "Bass"}, {"shortTermLufs", -12}, {"subBandRatio", 0.3}, {"stereoWidth", "wide"}};
    const json kick = {{"trackName", "Kick"}, {"bassBandRatio", 0.4}};
    struct Case {
        json output;
        std::optional<DiagramChoice::Kind> kind;
        double height;
        size_t rows;
    };
    using K = DiagramChoice::Kind;
    const Case cases[] = {
        {{{"diagramType", "stereo_field"}, {"tracks", json::array()}}, K::stereoField, 52, 0},
        {{{"diagramType", "stereo_field"}, {"tracks", {bass, {{"noName", 1}}, kick}}}, K::stereoField, 88, 2},
        {{{"diagramType", "freq_curve"}, {"tracks", {bass, kick, kick}}}, K::spectrumCurve, 140, 3},
        {{{"diagramType", "freq_curve"}, {"tracks", json::array()}}, std::nullopt, 0, 0},
        {{{"diagramType", "freq_compare"}, {"tracks", json::array({bass})}}, std::nullopt, 0, 0},
        {{{"diagramType", "freq_compare"}, {"tracks", {bass, kick}}}, K::overlapCurve, 160, 2},
        {{{"diagramType", "levels_compare"}, {"tracks", {bass, bass}}}, K::levelsCompare, 86, 2},
        {{{"diagramType", "before_after"},
          {"tracks", json::array({bass})},
          {"beforeTracks", json::array()},
          {"metric", 3}},
         K::beforeAfter,
         180,
         1},
        {{{"diagramType", "before_after"}, {"tracks", json::array({bass})}}, std::nullopt, 0, 0},
        {{{"diagramType", "stereo_field"}, {"tracks", {bass, "Kick"}}}, std::nullopt, 0, 0},
        {{{"diagramType", 4}, {"tracks", json::array({bass})}}, std::nullopt, 0, 0},
        {{{"diagramType", "pie"}, {"tracks", json::array({bass})}}, std::nullopt, 0, 0},
        {json::array(), std::nullopt, 0, 0},
    };
    for (const auto& c : cases) {
        auto visual = toolResultVisual("show_visual", c.output.dump());
        const auto* choice = as<DiagramChoice>(visual);
        ASSERT_EQ(choice != nullptr, c.kind.has_value()) << c.output;
        if (!choice) continue;
        EXPECT_EQ(choice->kind, *c.kind) << c.output;
        EXPECT_EQ(choice->height, c.height) << c.output;
        EXPECT_EQ(choice->tracks.size(), c.rows) << c.output;
    }
    auto stereo = toolResultVisual("show_visual", cases[1].output.dump());
    EXPECT_EQ(as<DiagramChoice>(stereo)->tracks[0].shortTermLufs, -12);
    EXPECT_FALSE(as<DiagramChoice>(stereo)->tracks[0].stereoWidth);  // not a number
    auto compare = toolResultVisual("show_visual", cases[7].output.dump());
    EXPECT_EQ(as<DiagramChoice>(compare)->metric, "freq");
}

TEST(ToolResultVisual, OtherToolsAndUnreadableOutputsDrawNothing) {
    EXPECT_FALSE(toolResultVisual("listen_to_playback", "not json"));
    EXPECT_FALSE(toolResultVisual("set_volume", R"({"status":"ok"})"));
    EXPECT_FALSE(toolResultVisual(
        "List_Tracks", R"({"status":"ok","tracks":[{"number":1,"name":"A","isMuted":false,"isFolder":false}]})"));
    // What the tool executor writes for these two tools is no typed result, so no visual.
    EXPECT_FALSE(toolResultVisual(
        "get_track_details",
        R"({"tracks":[{"status":"ok","trackName":"Bass","plugins":[{"index":0,"name":"EQ","isBypassed":false}]}]})"));
    EXPECT_FALSE(toolResultVisual(
        "get_plugin_parameters",
        R"({"pluginName":"EQ","trackName":"Bass","viewUsed":"controls","mapApplied":true,"parameters":[]})"));
}

}  // namespace
}  // namespace corvane
