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
        {"get_arrangement", {28, 25.5}},
        {"control_transport", {44, 44}},
        {"get_track_details", {167, 78.5}},
        {"set_track_solo", {103, 103}},
        {"set_track_mute", {53, 43.25}},
        {"set_track_volume", {50, 34.5}},
        {"set_track_pan", {31, 24.25}},
        {"set_folder_expanded", {35, 30.5}},
        {"rename_track", {62, 53}},
        {"ensure_bus_track", {155, 155.75}},
        {"ensure_master_track", {40, 25.75}},
        {"set_send_level", {65, 53.75}},
        {"get_plugin_parameters", {50, 41.75}},
        {"set_plugin_parameter", {45, 53.25}},
        {"set_plugin_bypass", {29, 23.75}},
        {"add_plugin", {92, 84.5}},
        {"remove_plugin", {42, 33.75}},
        {"reorder_plugin", {48, 42.75}},
        {"set_plugin_sidechain", {63, 75}},
    };
    return counts;
}

TEST(ToolRoundTrips, StayWithinTheirPinnedCounts) {
    testing::TempHome home;
    std::string failure;
    const auto figures = measure(home.root(), kRuns, true, failure);
    ASSERT_FALSE(figures.empty()) << failure;
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
