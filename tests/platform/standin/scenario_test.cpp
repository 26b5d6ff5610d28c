#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "platform/standin/taper.h"
#include "standin_fixture.h"

namespace corvane::standin::testing {
namespace {

using nlohmann::json;

TEST_F(StandinTest, DemoSongNumbersTracksInListOrderAndKeepsAuxAndOutputOutOfTheList) {
    Project p = world().project();
    std::vector<std::pair<std::string, int>> visible;
    for (int id : p.visibleTrackIds()) visible.emplace_back(p.trackById(id)->name, p.trackById(id)->number);
    std::vector<std::pair<std::string, int>> expected{{"Drums", 1},    {"Kick", 2}, {"Snare", 3}, {"Bass", 4},
                                                      {"Lead Vox", 5}, {"Keys", 6}, {"Guitar", 7}};
    EXPECT_EQ(visible, expected);
    EXPECT_EQ(p.depthOf(p.track("Kick")->id), 1);
    EXPECT_EQ(p.track("Reverb")->number, 0);
    EXPECT_FALSE(p.isVisible(p.track("Stereo Out")->id));
    EXPECT_EQ(selectedName(), "Kick");
    EXPECT_EQ(p.track("Kick")->strip.inserts.size(), 2u);
    EXPECT_TRUE(p.track("Kick")->strip.inserts[1].bypassed);
    EXPECT_EQ(p.track("Bass")->strip.inserts[0].params.at("threshold"), 90);
    EXPECT_EQ(p.track("Bass")->strip.inserts[0].params.at("autogain"), 1);  // the definition's default
    EXPECT_TRUE(p.track("Bass")->regions[1].muted);
    EXPECT_EQ(p.transport.playhead(), (PlayheadPosition{1, 1, 1, 1}));
    EXPECT_TRUE(p.transport.cycleOn);
}

TEST(Scenario, MalformedScenariosAreRejectedWithTheirPlace) {
    struct Case {
        const char* name;
        json scenario;
        const char* mentions;
    };
    const Case cases[] = {
        {"no project", json::object(), "project"},
        {"no tracks", json{{"project", {{"name", "X"}}}}, "project.tracks"},
        {"unknown kind", json{{"project", {{"tracks", {{{"name", "A"}, {"kind", "video"}}}}}}}, "kind"},
        {"volume as text", json{{"project", {{"tracks", {{{"name", "A"}, {"volume", "loud"}}}}}}}, "volume"},
        {"selected missing", json{{"project", {{"selected", "Nope"}, {"tracks", {{{"name", "A"}}}}}}}, "selected"},
        {"bad activation",
         json{{"project", {{"tracks", {{{"name", "A"}}}}}}, {"faults", {{"activation", "sometimes"}}}}, "activation"},
        {"short window frame",
         json{{"project", {{"tracks", {{{"name", "A"}}}}}}, {"faults", {{"windowFrames", {{"main", {0, 0, 10}}}}}}},
         "windowFrames"},
    };
    for (const auto& c : cases) {
        try {
            World w(c.scenario);
            ADD_FAILURE() << c.name << ": accepted";
        } catch (const std::invalid_argument& ex) {
            EXPECT_NE(std::string(ex.what()).find(c.mentions), std::string::npos) << c.name << ": " << ex.what();
        }
    }
}

TEST(Scenario, MinimalProjectGetsAMainOutputAndDefaultWorkspace) {
    World w(json{{"project", {{"tracks", {{{"name", "Solo Track"}}}}}}});
    Project p = w.project();
    ASSERT_NE(p.track("Stereo Out"), nullptr);
    EXPECT_EQ(p.track("Solo Track")->number, 1);
    EXPECT_EQ(p.track("Solo Track")->strip.volume, 225);
    auto apps = w.workspace().runningApplications();
    ASSERT_EQ(apps.size(), 3u);
    EXPECT_EQ(apps[1].bundleIdentifier, "com.apple.logic10");
    EXPECT_EQ(apps[1].processIdentifier, 4242);
    EXPECT_EQ(w.frontmostPid(), w.selfPid());
}

TEST(Scenario, WindowKnobsOfTheScenarioHoldFromTheStart) {
    World w(json{{"project", {{"name", "S"}, {"tracks", {{{"name", "A"}}}}}},
                 {"faults", {{"windowFrames", {{"S - Tracks", {10, 30, 800, 600}}}}, {"minimisedWindows", {"main"}}}}});
    EXPECT_EQ(w.windowFrame(), (platform::Rect{10, 30, 800, 600}));
    EXPECT_EQ(w.ui().minimisedWindows, (std::vector<std::string>{"S - Tracks"}));
}

TEST(Scenario, LogicClosedAtLoadHasNoProcessUntilLaunched) {
    World w(json{{"logic", {{"running", false}}}, {"project", {{"tracks", {{{"name", "A"}}}}}}});
    for (const auto& a : w.workspace().runningApplications()) EXPECT_NE(a.processIdentifier, 4242);
    platform::AXValue v;
    EXPECT_EQ(w.accessibility().applicationElement(4242).copyAttributeValue("AXRole", v),
              platform::AXError::invalidUIElement);
    auto content = w.screenCapture().shareableContent();
    ASSERT_TRUE(content.ok());
    EXPECT_TRUE(content.value->windows.empty());
    w.launchLogic(false);
    auto apps = w.workspace().runningApplications();
    ASSERT_EQ(apps.size(), 3u);
    EXPECT_EQ(apps[1].processIdentifier, 4242);  // where the scenario places Logic, after the program
    EXPECT_EQ(w.accessibility().applicationElement(4242).string("AXRole"), "AXApplication");
    EXPECT_EQ(w.frontmostPid(), w.selfPid());
}

TEST(Scenario, DuplicatePidsAreRejected) {
    json apps = json::array({{{"self", true}, {"pid", 100}}, {{"name", "Terminal"}, {"pid", 100}}});
    EXPECT_THROW(World(json{{"workspace", {{"apps", apps}}}, {"project", {{"tracks", {{{"name", "A"}}}}}}}),
                 std::invalid_argument);
}

TEST(Taper, LevelFollowsTheDocumentedKneesAndTextRoundsToATenth) {
    struct Case {
        int raw;
        double level;
        const char* text;
    };
    const Case cases[] = {
        {1, -96.0, "-96.0 dB"},   {45, -60.0, "-60.0 dB"},
        {125, -20.0, "-20.0 dB"}, {126, -19.8, "-19.8 dB"},
        {195, -6.0, "-6.0 dB"},   {225, 0.0, "0.0 dB"},
        {242, 3.4, "3.4 dB"},     {255, 6.0, "6.0 dB"},
        {85, -40.0, "-40.0 dB"},  {2, -96.0 + 36.0 / 44.0, "-95.2 dB"},
    };
    for (const auto& c : cases) {
        EXPECT_NEAR(taper::level(c.raw), c.level, 1e-9) << c.raw;
        EXPECT_EQ(taper::levelText(c.raw), c.text) << c.raw;
        EXPECT_EQ(taper::rawFor(c.level), c.raw) << c.raw;
        EXPECT_EQ(World::rawFor(World::level(c.raw)), c.raw);
    }
    EXPECT_EQ(taper::level(0), -std::numeric_limits<double>::infinity());
    EXPECT_EQ(taper::levelText(0), "-\u221E dB");
    EXPECT_EQ(taper::levelText(0, true), "-\u221E");
    EXPECT_EQ(taper::levelText(195, true), "-6.0");
    EXPECT_EQ(taper::rawFor(-std::numeric_limits<double>::infinity()), 0);
    EXPECT_EQ(taper::rawFor(40), 255);
    EXPECT_EQ(taper::rawFor(-300), 1);
    for (int raw = 1; raw < 255; ++raw)
        EXPECT_LT(taper::level(raw), taper::level(raw + 1)) << "taper not monotonic at " << raw;
}

TEST(Taper, SendLadderHas58DetentsWithTheDocumentedRawValues) {
    EXPECT_EQ(taper::sendDetentText(0), "-\u221E");
    EXPECT_EQ(taper::sendDetentDb(1), -60);
    EXPECT_EQ(taper::sendDetentDb(9), -18);
    EXPECT_EQ(taper::sendDetentDb(10), -17.5);
    EXPECT_EQ(taper::sendDetentDb(57), 6.0);
    EXPECT_EQ(taper::sendDetentText(56), "5.5");
    EXPECT_EQ(taper::sendDetentText(45), "0.0");
    EXPECT_EQ(taper::sendDetentRaw(57), 2130706432);
    EXPECT_EQ(taper::sendDetentRaw(1), 37380815);  // round(2130706432 / 57)
    EXPECT_EQ(taper::nearestSendDetent(-12.0), 21);
    EXPECT_EQ(taper::sendDetentForRaw(taper::sendDetentRaw(33)), 33);
}

}  // namespace
}  // namespace corvane::standin::testing
