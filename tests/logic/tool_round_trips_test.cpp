// Holds the Accessibility round trips of every agent tool down, on the demo song and in a 64-track
// session, and checks that kept answers and batched reads change nothing but their number.
//
// One round trip is one call that reaches Logic Pro's process, as the host answers it: one
// attribute, several attributes of one element, one write, one action, or the element at a point.
// A list of children is one, and each child read after it one more; an answer a read scope kept is
// none.

#include <gtest/gtest.h>

#include <map>
#include <set>

#include "test_support/temp_home.h"
#include "test_support/tool_round_trips.h"

namespace corvane::round_trips {
namespace {

// Per line (a tool, a plug-in path, the turn's start, the list_tracks after it, the scripted turn):
// the round trips of its first call and per call over kRuns calls (for a turn's lines, of the first
// turn and per later turn), on the demo song and in the 64-track session, as measured when they were
// last brought down. The simulated Logic Pro is deterministic, so any rise fails.
struct Pinned {
    long first;
    double mean;
    long largeFirst;
    double largeMean;
};
constexpr int kRuns = 4;

const std::map<std::string, Pinned>& pinned() {
    static const std::map<std::string, Pinned> counts{
        {"list_tracks", {47, 20, 275, 119.75}},
        {"get_transport", {21, 19.5, 21, 19.5}},
        {"get_arrangement", {47, 29.5, 218, 143.5}},
        {"control_transport", {20, 20, 20, 20}},
        {"get_track_details", {174, 153, 345, 238.5}},  // +22: the strip held; the bus strip read before each press,
                                                        // the strip's name before the send is touched
        {"set_track_solo", {53, 49.25, 167, 163.25}},
        {"set_track_mute", {29, 19.75, 86, 76.75}},  // +0.5: the selection read before the press, to put it back
        {"set_track_volume", {61, 49.25, 118, 106.25}},
        {"set_track_pan", {37, 34, 94, 91}},
        {"set_folder_expanded", {54, 53, 168, 167}},  // a folder that is not opened reads what others hide
        {"rename_track", {56, 32, 113, 89}},
        {"ensure_bus_track", {152, 147.5, 209, 204.5}},  // +26: the same
        {"ensure_master_track", {24, 9.75, 81, 24}},
        {"set_send_level", {91, 86.25, 148, 143.25}},  // +2: the strip read showing the track before its knob is taken
        {"get_plugin_parameters", {64, 41.5, 121, 98.5}},  // +2: the turn end lists the windows in front
        {"get_plugin_parameters, no map", {80, 56.75, 137, 113.75}},
        {"set_plugin_parameter", {59, 44.75, 116, 101.75}},
        {"set_plugin_bypass", {48, 43.5, 105, 100.5}},  // +1: the bypass read back after the press
        {"add_plugin", {122, 103, 179, 160}},  // +1.5: the windows before the insert opens one; the strip held
        {"remove_plugin", {66, 53.75, 123, 110.75}},  // +2.5: the windows before and after the removal; the strip held
        {"reorder_plugin", {95, 80.75, 152, 137.75}},  // +13.25: the strip read at the press, release and drop
        {"set_plugin_sidechain", {87, 102.25, 144, 160.75}},
        {"expand_folder", {17, 17, 74, 74}},
        {"collapse_folder", {56, 53, 170, 167}},
        {"listen_to_playback", {56, 54.5, 56, 54.5}},  // +7: the playhead read back for the card
        {"turn start", {45, 9, 273, 66}},
        {"list_tracks after turn start", {9, 9, 66, 66}},
        {"scripted turn", {229, 153, 799, 495}},
    };
    return counts;
}

TEST(ToolRoundTrips, StayWithinTheirPinnedCountsAndBudgets) {
    testing::TempHome home;
    std::string failure;
    const auto demo = measure(home.root() / "demo", kRuns, {}, failure);
    ASSERT_FALSE(demo.empty()) << failure;
    const auto large = measure(home.root() / "large", kRuns, {.session = Session::large}, failure);
    ASSERT_FALSE(large.empty()) << failure;
    ASSERT_EQ(demo.size(), large.size());
    EXPECT_EQ(demo.size(), pinned().size());
    for (std::size_t i = 0; i < demo.size(); ++i) {
        const auto& line = demo[i].tool;
        std::printf("%-30s %6ld %8.2f %8.2f %6ld | %6ld %8.2f %8.2f %6ld\n", line.c_str(), demo[i].first, demo[i].mean,
                    demo[i].steady, demo[i].most, large[i].first, large[i].mean, large[i].steady, large[i].most);
        if (!pinned().count(line)) {
            ADD_FAILURE() << line << " has no pin";
            continue;
        }
        const auto& p = pinned().at(line);
        EXPECT_LE(demo[i].first, p.first) << line << " first call, demo song";
        EXPECT_LE(demo[i].mean, p.mean) << line << " per call, demo song";
        EXPECT_LE(large[i].first, p.largeFirst) << line << " first call, 64 tracks";
        EXPECT_LE(large[i].mean, p.largeMean) << line << " per call, 64 tracks";
        const auto small = budget(demo[i], demo[i], Session::demo);
        EXPECT_LE(double(demo[i].first), small.first) << line << " first call over budget, demo song";
        EXPECT_LE(benchMean(demo[i]), small.mean) << line << " per call over budget, demo song";
        EXPECT_LE(double(demo[i].most), small.most) << line << " a single call over budget, demo song";
        EXPECT_LE(demo[i].steady, small.steady) << line << " steady call over budget, demo song";
        const auto wide = budget(large[i], demo[i], Session::large);
        EXPECT_LE(double(large[i].first), wide.first) << line << " first call over budget, 64 tracks";
        EXPECT_LE(benchMean(large[i]), wide.mean) << line << " per call over budget, 64 tracks";
        EXPECT_LE(double(large[i].most), wide.most) << line << " a single call over budget, 64 tracks";
        EXPECT_LE(large[i].steady, wide.steady) << line << " steady call over budget, 64 tracks";
    }
}

// A tool that reaches Logic Pro has its line above: every other tool of the catalog, called with
// arguments it acts on, makes no round trip.
TEST(ToolRoundTrips, EveryToolThatReachesLogicProIsCounted) {
    testing::TempHome home;
    // What the tools not counted above are given, so that each gets as far as it would go.
    const std::map<std::string, std::string> arguments{
        {"update_track_description", R"({"trackName":"Bass","description":"Round bass"})"},
        {"update_song_brief", R"({"brief":"A ballad"})"},
        {"update_user", R"({"note":"Likes it dry"})"},
        {"remember", R"({"content":"Bass is DI","scope":"song"})"},
        {"forget", R"({"content":"Bass is DI"})"},
        {"respond", R"({"message":"Done."})"},
    };
    std::set<std::string, std::less<>> counted;
    for (const auto& tool : tools()) counted.insert(tool.name);
    std::set<std::string> reaching;
    {
        Rig rig(home.root() / "rest", Session::demo);
        for (const auto& tool : toolCatalog()) {
            if (counted.count(tool.name)) continue;
            const auto given = arguments.find(std::string(tool.name));
            std::string failure;
            const long before = rig.calls();
            rig.call(tool.name.data(), given == arguments.end() ? "{}" : given->second, failure);
            if (rig.calls() != before) reaching.insert(std::string(tool.name));
        }
    }
    EXPECT_TRUE(reaching.empty()) << "reach Logic Pro without a round-trip line: " << *reaching.begin();
}

TEST(ToolRoundTrips, KeptAnswersAndPlacesChangeNeitherResultsNorWhatReachesLogicPro) {
    testing::TempHome home;
    std::string failure;
    const auto kept = measure(home.root() / "kept", 2, {}, failure);
    ASSERT_FALSE(kept.empty()) << failure;
    const auto unkept = measure(home.root() / "unkept", 2, {.keptAnswers = false}, failure);
    ASSERT_FALSE(unkept.empty()) << failure;
    const auto placesForgotten = measure(home.root() / "forgotten", 2, {.keptPlaces = false}, failure);
    ASSERT_FALSE(placesForgotten.empty()) << failure;
    ASSERT_EQ(kept.size(), unkept.size());
    ASSERT_EQ(kept.size(), placesForgotten.size());
    for (std::size_t i = 0; i < kept.size(); ++i) {
        EXPECT_DOUBLE_EQ(kept[i].sleeps, unkept[i].sleeps) << kept[i].tool;
        EXPECT_LT(kept[i].mean, unkept[i].mean) << kept[i].tool;
        EXPECT_DOUBLE_EQ(kept[i].sleeps, placesForgotten[i].sleeps) << kept[i].tool << ", places forgotten";
        EXPECT_EQ(kept[i].outputs, unkept[i].outputs) << kept[i].tool;
        EXPECT_EQ(kept[i].outputs, placesForgotten[i].outputs) << kept[i].tool << ", places forgotten";
    }
}

}  // namespace
}  // namespace corvane::round_trips
