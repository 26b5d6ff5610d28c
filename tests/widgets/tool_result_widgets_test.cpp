#include "widgets/tool_result_widgets.h"

#include <gtest/gtest.h>

#include <string>

#include "widget_pixels.h"

namespace corvane {
namespace {

using testing::at;
using testing::render;

TEST(ToolResultVisualWidget, DrawsNothingWhereThereIsNothingToDraw) {
    testing::ensureApplication();
    const std::pair<const char*, const char*> cases[] = {
        {"run_applescript", R"({"status":"ok"})"},
        {"list_tracks", "not json"},
        {"list_tracks", R"({"status":"error","tracks":[{"number":1,"name":"A","isMuted":false,"isFolder":false}]})"},
        {"get_audio_analysis", R"({"status":"ok","tracks":[{"trackName":"A","isMaster":false,"shortTermLufs":-90}]})"},
        {"show_visual", R"({"diagramType":"freq_compare","tracks":[{"trackName":"A"}]})"},
        {"show_visual", R"({"diagramType":"stereo_field","tracks":["A"]})"},
    };
    for (const auto& [tool, json] : cases) {
        ToolResultVisualWidget widget(tool, json);
        EXPECT_TRUE(widget.isEmpty()) << tool << " " << json;
        EXPECT_EQ(widget.sizeHint().height(), 0) << tool << " " << json;
    }
    ToolResultVisualWidget drawn("show_visual", R"({"diagramType":"stereo_field","tracks":[]})");
    EXPECT_FALSE(drawn.isEmpty());
    EXPECT_EQ(render(drawn, 400).height(), 52);  // an empty field still takes its frame
}

std::string analysisJSON(int count, const char* name) {
    std::string json = R"({"status":"ok","tracks":[)";
    for (int i = 0; i < count; ++i) {
        if (i > 0) json += ",";
        json += std::string(R"({"trackName":")") + name +
                R"(","isMaster":false,"shortTermLufs":-20,"subBandRatio":0.5,"airBandRatio":0.1})";
    }
    return json + "]}";
}

TEST(ToolResultVisualWidget, AudioAnalysisGivesEachTrackItsOwnRowAndScrollsBeyondItsLimit) {
    // Two tracks of one name: a 68 pt meter, then band rows whose bars end at y 123 and 148;
    // the sub bar (half the 18 pt bar area) stands in x 133-138.
    ToolResultVisualWidget two("get_audio_analysis", analysisJSON(2, "Vocal"));
    const QImage image = render(two, 420);
    for (double bottom : {123.0, 148.0}) {
        const QColor sub = at(image, 135, bottom - 2);
        EXPECT_GT(sub.red(), 120) << bottom;
        EXPECT_GT(sub.red(), sub.blue() + 50) << bottom;
        EXPECT_LT(at(image, 135, bottom - 11).red(), 20) << bottom;  // 9 pt high, no more
    }

    ToolResultVisualWidget many("listen_to_playback", analysisJSON(30, "Vocal"));
    const QImage scrolled = render(many, 420);
    EXPECT_EQ(scrolled.height(), int(AudioAnalysisVisual::maxHeight));
    EXPECT_LT(at(scrolled, 5, 5).red(), 20);  // the scroller shows the chat's background, not its own
}

TEST(ToolResultVisualWidget, PluginChainScrollsSidewaysInsteadOfWrapping) {
    std::string json = R"({"status":"ok","trackName":"Lead Vocal","plugins":[)";
    for (int i = 0; i < 8; ++i)
        json += (i ? "," : "") + std::string(R"({"index":)") + std::to_string(i) +
                R"(,"name":"Channel EQ","isBypassed":false})";
    ToolResultVisualWidget chain("get_track_details", json + "]}");
    // Name, spacing and one row of chips: 10 + 13 + 4 + 22 + 10, however narrow the card.
    const QImage narrow = render(chain, 200);
    EXPECT_EQ(narrow.height(), 59);
    EXPECT_NEAR(at(narrow, 12, 30).red(), 22, 3);  // the first chip, over the card
    EXPECT_NEAR(at(narrow, 12, 52).red(), 8, 2);   // the card below it
}

TEST(KnobRowWidget, TilesShareTheWidthAndALongNameMakesTheRowTaller) {
    testing::ensureApplication();
    const std::vector<KnobParam> four{{"Threshold", "-18", "dB", {}, {}},
                                      {"Ratio", "4", "", {}, {}},
                                      {"Gain", "0", "", {}, {}},
                                      {"Gain", "1", "", {}, {}}};
    KnobRowWidget row(four);
    const QImage image = render(row, 400);
    // Tiles 95.5 wide, 6 apart: the gaps stay empty, the tiles carry their faint background.
    for (double gap : {98.0, 199.5, 301.0}) EXPECT_EQ(at(image, gap, 2).red(), 0) << gap;
    for (double tileLeft : {0.0, 101.5, 203.0, 304.5})
        EXPECT_NEAR(at(image, tileLeft + 3, image.height() / 2).red(), 10, 2) << tileLeft;

    auto withLongName = four;
    withLongName[1].name = "Makeup gain applied after the knee of the curve";
    EXPECT_GT(KnobRowWidget(withLongName).heightForWidth(400), row.heightForWidth(400));
}

}  // namespace
}  // namespace corvane
