#include <gtest/gtest.h>
#include <sys/stat.h>

#include "logic/logic_inspector.h"
#include "platform/log.h"
#include "platform/standin/standin_fixture.h"
#include "test_support/temp_home.h"

namespace corvane {
namespace {

using standin::EventKind;

class LogicInspectorInput : public standin::testing::StandinTest {
protected:
    std::vector<std::string> traceLines() {
        std::vector<std::string> lines;
        std::string all = testing::readAll(PlayheadDebug::url());
        size_t start = 0;
        for (size_t nl; (nl = all.find('\n', start)) != std::string::npos; start = nl + 1)
            lines.push_back(all.substr(start, nl - start));
        return lines;
    }
    // Drops the "[2026-…Z] " stamp.
    static std::string message(const std::string& line) { return line.substr(line.find("] ") + 2); }

    std::vector<standin::Event> mouseEvents() { return world().events(EventKind::mouse); }

    testing::TempHome home;
    LogicInspector inspector;
};

TEST_F(LogicInspectorInput, FindsLogicByBundleIdOrExactNameButNeverAnAppWithoutBundleId) {
    load(standin::testing::demoSongWith(
        {{"workspace",
          {{"apps",
            {{{"self", true}, {"name", "Corvane"}, {"bundleId", "app.corvane"}, {"pid", 100}},
             {{"name", "Logic Pro"}, {"pid", 300}},
             {{"name", "logic pro"}, {"bundleId", "com.other.lower"}, {"pid", 302}},
             {{"name", "Logic Pro"}, {"bundleId", "com.other.exact"}, {"pid", 301}},
             {{"logic", true}}}}}}}));
    auto found = inspector.logicApplication();
    ASSERT_TRUE(found);
    EXPECT_EQ(found->processIdentifier, 301);  // exact name under another bundle id, listed first

    world().quitLogic();
    load(standin::testing::demoSong());
    EXPECT_EQ(inspector.logicApplication()->processIdentifier, 4242);
    world().quitLogic();
    EXPECT_FALSE(inspector.logicApplication());
}

TEST_F(LogicInspectorInput, ActivationWaitsOnlyWhenNeededAndFallsBackToAppleScript) {
    world().setFrontmost(logicPid());
    double t0 = world().virtualSeconds();
    inspector.activateLogic();
    EXPECT_EQ(world().virtualSeconds(), t0);  // already in front: no sleep at all
    EXPECT_TRUE(world().events(EventKind::appleScript).empty());

    struct Case {
        const char* activation;
        bool endsInFront;
        bool warns;
    };
    for (const Case& c :
         {Case{"immediate", true, false}, Case{"appleScriptOnly", true, false}, Case{"never", false, true}}) {
        load(standin::testing::demoSongWith({{"logic", {{"activation", c.activation}}}}));
        platform::LogCapture logs;
        inspector.activateLogic();
        EXPECT_EQ(world().frontmostPid() == logicPid(), c.endsInFront) << c.activation;
        EXPECT_EQ(logs.contains("[activateLogic] WARNING: Logic did not become frontmost after 1.5s"), c.warns)
            << c.activation;
        if (std::string(c.activation) != "immediate") {
            auto scripts = world().events(EventKind::appleScript);
            ASSERT_EQ(scripts.size(), 1u) << c.activation;
            EXPECT_EQ(scripts[0].name, "tell application \"Logic Pro\" to activate");
        }
    }
}

TEST_F(LogicInspectorInput, KeysAndChordsReachLogicAndLeaveTraceLines) {
    inspector.pressKey(53);
    inspector.pressKey(8);
    inspector.pressKeyChord(124, 0x140000);
    auto keys = world().events(EventKind::key);
    ASSERT_EQ(keys.size(), 6u);
    EXPECT_EQ(keys[4].keyCode, 124);
    EXPECT_EQ(keys[4].flags, 0x140000u);
    EXPECT_EQ(keys[4].route, "process");
    EXPECT_NEAR(keys[1].time - keys[0].time, 0.02, 1e-9);
    world().quitLogic();
    inspector.pressKey(53);
    inspector.pressKeyChord(123, 0x140000);

    std::vector<std::string> messages;
    for (const auto& l : traceLines()) messages.push_back(message(l));
    EXPECT_EQ(messages,
              (std::vector<std::string>{"pressKey vk=53 (Escape)", "pressKey vk=8 (vk8)",
                                        "pressKeyChord Right mods=0x140000", "pressKey DROP vk=53 (Logic not running)",
                                        "pressKeyChord DROP vk=123 mods=1310720 (Logic not running)"}));
    EXPECT_EQ(traceLines()[0].size(), std::string("[2026-01-01T00:00:00Z] ").size() + messages[0].size());

    // Private to the user, appended to, never through a link.
    struct stat st {};
    ASSERT_EQ(::stat(PlayheadDebug::url().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(PlayheadDebug::url(), home.appFolder() / "playhead-trace.log");

    // A trace file removed while running is simply made again.
    std::filesystem::remove(PlayheadDebug::url());
    PlayheadDebug::log("again");
    EXPECT_EQ(message(traceLines().at(0)), "again");
}

// A long session traces a key press per action: the file keeps the latest lines within its bound.
TEST_F(LogicInspectorInput, TheTraceIsRotatedAtItsBoundAndKeepsTheLatestLines) {
    const std::string filler(1000, 'k');
    const std::uintmax_t lines = PlayheadDebug::kMaxBytes / filler.size() * 3;
    for (std::uintmax_t i = 0; i < lines; ++i) PlayheadDebug::log(std::to_string(i) + " " + filler);

    auto previous = PlayheadDebug::url();
    previous += ".1";
    EXPECT_LE(std::filesystem::file_size(PlayheadDebug::url()), PlayheadDebug::kMaxBytes);
    EXPECT_LE(std::filesystem::file_size(previous), PlayheadDebug::kMaxBytes);
    EXPECT_GT(std::filesystem::file_size(previous), PlayheadDebug::kMaxBytes / 2);
    EXPECT_EQ(message(traceLines().back()), std::to_string(lines - 1) + " " + filler);
    struct stat st {};
    ASSERT_EQ(::stat(previous.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(LogicInspectorInput, DragPostsTheGestureAtTheTapAndNeverIntoAnotherApplication) {
    auto from = standin::World::center(*world().slotFrame(0, 0));
    LogicInspector::Point to{from.x, from.y - 60};
    auto cursorBefore = world().cursor();
    auto result = inspector.mouseDragInLogic(from, to, 24);
    EXPECT_TRUE(result.success) << result.message;
    auto events = mouseEvents();
    std::vector<standin::Event> drags;
    for (const auto& e : events)
        if (e.mouseType == platform::MouseEventType::leftDragged) drags.push_back(e);
    ASSERT_EQ(drags.size(), 25u);
    EXPECT_EQ(drags.front().point.y, from.y - 12);  // end above start: first step goes up
    EXPECT_EQ(drags.back().point, to);
    for (const auto& e : events) EXPECT_EQ(e.route == "stray", false);
    EXPECT_EQ(world().cursor(), cursorBefore);  // put back where it was
    EXPECT_FALSE(world().events(EventKind::hide).empty());
    EXPECT_FALSE(inspector.mouseDragInLogic(from, to, 0).success);

    load(standin::testing::demoSongWith({{"logic", {{"activation", "never"}}}}));
    world().setFrontmost(200);  // the terminal stays in front whatever is asked
    world().clearEventLog();
    auto refused = inspector.mouseDragInLogic(from, to, 24);
    EXPECT_FALSE(refused.success);
    EXPECT_TRUE(mouseEvents().empty());
    auto click = inspector.mouseClickInLogic(from, LogicInspector::ClickMode::global);
    EXPECT_FALSE(click.success);
    EXPECT_TRUE(mouseEvents().empty());
}

TEST_F(LogicInspectorInput, GlobalClickPressesWhatIsUnderThePointAndRestoresTheCursor) {
    auto bass = world().headerFrame("Bass");
    ASSERT_TRUE(bass);
    platform::LogCapture logs;
    auto cursorBefore = world().cursor();
    auto result = inspector.mouseClickInLogic(standin::World::center(*bass), LogicInspector::ClickMode::global);
    EXPECT_TRUE(result.success);
    EXPECT_EQ(selectedName(), "Bass");
    EXPECT_TRUE(logs.contains("[mouseClickInLogic] frontmost before click: Logic Pro (target=Logic Pro)"));
    EXPECT_EQ(world().cursor(), cursorBefore);

    // Process-targeted: nothing moves the cursor or Logic's place in front.
    world().setFrontmost(world().selfPid());
    auto vox = world().headerFrame("Lead Vox");
    EXPECT_TRUE(
        inspector.mouseClickInLogic(standin::World::center(*vox), LogicInspector::ClickMode::pidTargeted).success);
    EXPECT_EQ(world().frontmostPid(), world().selfPid());
}

TEST_F(LogicInspectorInput, TypedTextGoesOneCharacterPerKeyPairAndWholeStringsInOne) {
    world().clearEventLog();
    EXPECT_TRUE(inspector.typeStringIntoLogic("e\u0301a", 0.06).success);
    auto keys = world().events(EventKind::key);
    ASSERT_EQ(keys.size(), 4u);
    EXPECT_EQ(keys[0].text, "e\u0301");
    EXPECT_EQ(keys[2].text, "a");
    world().clearEventLog();
    EXPECT_TRUE(inspector.postUnicodeStringToLogic("").success);
    EXPECT_EQ(world().events(EventKind::key).size(), 2u);
    world().quitLogic();
    EXPECT_FALSE(inspector.typeStringIntoLogic("x", 0.06).success);
    EXPECT_FALSE(inspector.postUnicodeStringToLogic("x").success);
}

}  // namespace
}  // namespace corvane
