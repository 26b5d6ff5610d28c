// Holds the Accessibility round trips of every agent tool on the demo song down, and checks that
// kept answers and batched reads change nothing but their number.

#include <gtest/gtest.h>

#include <map>

#include "test_support/temp_home.h"
#include "test_support/tool_round_trips.h"

namespace corvane::round_trips {
namespace {

// Per tool: the round trips of its first call and per call over kRuns calls, as measured when
// they were last brought down. The simulated Logic Pro is deterministic, so any rise fails.
struct Pinned {
    long first;
    double mean;
};
constexpr int kRuns = 4;

const std::map<std::string, Pinned>& pinned() {
    static const std::map<std::string, Pinned> counts{
        {"list_tracks", {19, 19}},
        {"get_transport", {43, 43}},
        {"get_arrangement", {48, 45.5}},
        {"control_transport", {44, 44}},
        {"get_track_details", {165, 77.25}},
        {"set_track_solo", {65, 65}},
        {"set_track_mute", {29, 21.5}},
        {"set_track_volume", {49, 34.25}},
        {"set_track_pan", {30, 24}},
        {"set_folder_expanded", {35, 31.25}},
        {"rename_track", {62, 53}},
        {"ensure_bus_track", {153, 153.75}},
        {"ensure_master_track", {40, 25.75}},
        {"set_send_level", {64, 53.5}},
        {"get_plugin_parameters", {49, 41.5}},
        {"set_plugin_parameter", {45, 53.25}},
        {"set_plugin_bypass", {25, 25}},
        {"add_plugin", {91, 84.25}},
        {"remove_plugin", {41, 33.5}},
        {"reorder_plugin", {47, 42.5}},
        {"set_plugin_sidechain", {62, 73.75}},
    };
    return counts;
}

TEST(ToolRoundTrips, StayWithinTheirPinnedCounts) {
    testing::TempHome home;
    std::string failure;
    const auto figures = measure(home.root(), kRuns, true, failure);
    ASSERT_FALSE(figures.empty()) << failure;
    const auto large = measure(home.root() / "large", kRuns, true, failure, Session::large);
    ASSERT_FALSE(large.empty()) << failure;
    for (std::size_t i = 0; i < figures.size(); ++i)
        std::printf("%-22s %6ld %8.2f | %6ld %8.2f\n", figures[i].tool.c_str(), figures[i].first, figures[i].mean,
                    large[i].first, large[i].mean);
    ASSERT_EQ(figures.size(), pinned().size());
    for (const auto& f : figures) {
        const auto& p = pinned().at(f.tool);
        EXPECT_LE(f.first, p.first) << f.tool << " first call";
        EXPECT_LE(f.mean, p.mean) << f.tool << " per call";
    }
}

TEST(ToolRoundTrips, KeptAnswersChangeNeitherResultsNorWhatReachesLogicPro) {
    testing::TempHome home;
    std::string failure;
    const auto kept = measure(home.root() / "kept", 2, true, failure);
    ASSERT_FALSE(kept.empty()) << failure;
    const auto unkept = measure(home.root() / "unkept", 2, false, failure);
    ASSERT_FALSE(unkept.empty()) << failure;
    ASSERT_EQ(kept.size(), unkept.size());
    for (std::size_t i = 0; i < kept.size(); ++i) {
        EXPECT_EQ(kept[i].outputs, unkept[i].outputs) << kept[i].tool;
        EXPECT_DOUBLE_EQ(kept[i].sleeps, unkept[i].sleeps) << kept[i].tool;
        EXPECT_LT(kept[i].mean, unkept[i].mean) << kept[i].tool;
    }
}

}  // namespace
}  // namespace corvane::round_trips
