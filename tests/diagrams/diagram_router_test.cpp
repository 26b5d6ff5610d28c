#include <gtest/gtest.h>

#include "diagrams/diagram_router.h"

namespace corvane {
namespace {

using Kind = DiagramChoice::Kind;

// A stored listening result of the named tracks, each with the given loudness and, unless
// `withBands` is false, band shares.
ConversationEntry listen(std::vector<std::string> names, double lufs, bool withBands = true) {
    nlohmann::json result = {
        {"status", "ok"}, {"durationSeconds", 8}, {"summary", ""}, {"tracks", nlohmann::json::array()}};
    for (const auto& name : names) {
        nlohmann::json t = {{"trackName", name}, {"isMaster", false}, {"shortTermLufs", lufs}};
        if (withBands)
            t.update({{"subBandRatio", 0.1},
                      {"bassBandRatio", 0.3},
                      {"lowMidBandRatio", 0.2},
                      {"highMidBandRatio", 0.1},
                      {"airBandRatio", 0.05}});
        result["tracks"].push_back(t);
    }
    ConversationEntry entry;
    entry.role = ConversationRole::toolCall;
    entry.toolName = "listen_to_playback";
    entry.resultJSON = result.dump();
    return entry;
}

std::optional<DiagramChoice> route(const std::string& line, const std::vector<ConversationEntry>& entries) {
    auto tag = VisualTagParser::parse(line);
    EXPECT_TRUE(tag) << line;
    return tag ? VisualDiagramRouter::choose(*tag, entries) : std::nullopt;
}

TEST(VisualDiagramRouter, TagsChooseTheirDiagramAndHeight) {
    const std::vector<ConversationEntry> thread = {
        listen({"A", "B", "C", "D", "E", "F", "G"}, -30), listen({"Kick", "Bass", "Pad", "Keys"}, -20),
        listen({"Kick", "Bass", "Bass"}, -10),  // newest; two tracks of one name
    };
    struct Case {
        const char* tag;
        Kind kind;
        double height;
        size_t rows;
    };
    const Case cases[] = {
        {R"([visual:freq_curve tracks="Bass, Kick"])", Kind::spectrumCurve, 180, 3},
        {R"([visual:freq_compare tracks="Kick,Bass"])", Kind::overlapCurve, 160, 3},
        {R"([visual:freq_compare tracks="Kick,Bass,Pad,Keys"])", Kind::overlapCurve, 160, 3},
        {R"([visual:freq_compare tracks="Pad,Keys,Kick"])", Kind::spectrumCurve, 180, 1},  // newest: Kick
        {R"([visual:freq_compare tracks="pad"])", Kind::spectrumCurve, 180, 1},
        {R"([visual:freq_compare tracks="Pad,Keys"])", Kind::overlapCurve, 160, 2},
        {R"([visual:freq_compare tracks="a,b,c,d"])", Kind::overlapCurve, 176, 4},
        {R"([visual:freq_compare tracks="a,b,c,d,e,f,g"])", Kind::overlapCurve, 192, 7},
        {R"([visual:stereo_field track="Kick, Pad"])", Kind::stereoField, 36 + 16, 1},
        {R"([visual:stereo_field tracks="Bass"])", Kind::stereoField, 88, 2},
        {R"([visual:levels_compare tracks="bass"])", Kind::levelsCompare, 86, 2},
        {R"([visual:before_after tracks="Kick" metric="levels"])", Kind::beforeAfter, 180, 1},
    };
    for (const auto& c : cases) {
        auto choice = route(c.tag, thread);
        ASSERT_TRUE(choice) << c.tag;
        EXPECT_EQ(choice->kind, c.kind) << c.tag;
        EXPECT_EQ(choice->height, c.height) << c.tag;
        EXPECT_EQ(choice->tracks.size(), c.rows) << c.tag;
    }
    for (const char* tag : {
             R"([visual:FREQ_CURVE tracks="Bass"])", R"([visual:spectrum tracks="Bass"])",
             R"([visual:freq_curve tracks="Nobody"])", R"([visual:freq_curve])",
             R"([visual:before_after tracks="Pad"])",  // only one result mentions it
         })
        EXPECT_FALSE(route(tag, thread)) << tag;
}

TEST(VisualDiagramRouter, ParametersReachTheDiagram) {
    const std::vector<ConversationEntry> thread = {listen({"Bass"}, -30), listen({"Bass"}, -20, false),
                                                   listen({"Bass", "Kick"}, -10)};
    const std::pair<const char*, double> targets[] = {
        {R"([visual:levels_compare tracks="Bass" target="-9.5"])", -9.5},
        {R"([visual:levels_compare tracks="Bass" target="loud"])", -14},
        {R"([visual:levels_compare tracks="Bass"])", -14},
    };
    for (const auto& [tag, target] : targets) EXPECT_EQ(route(tag, thread)->targetDb, target) << tag;

    auto overlap = route(R"([visual:freq_compare tracks="Bass,Kick" range="1k-3k"])", thread);
    EXPECT_EQ(overlap->overlapRange, "1k-3k");
    EXPECT_EQ(overlap->overlapCurve(330).markedRange.at(0).rect.x, 330 * frequencyAxisPosition(1000));

    // Three results: the newest is "after", the second newest "before", and its missing band
    // shares draw a flat curve of zeros.
    auto compare = route(R"([visual:before_after tracks="Bass"])", thread);
    ASSERT_TRUE(compare);
    EXPECT_EQ(compare->metric, "freq");
    EXPECT_EQ(compare->tracks.at(0).shortTermLufs, -10);
    EXPECT_EQ(compare->beforeTracks.at(0).shortTermLufs, -20);
    auto layout = compare->beforeAfter(500);
    const auto& before = std::get<SpectrumCurveLayout>(layout.before.diagram);
    for (const auto& mark : before.marks) EXPECT_EQ(mark.percentage.text, "0%");
}

}  // namespace
}  // namespace corvane
