#include <gtest/gtest.h>

#include <atomic>
#include <mutex>

#include "standin_fixture.h"

namespace corvane::standin::testing {
namespace {

bool logicIsFrontmost(int pid) {
    auto front = platform::workspace().frontmostApplication();
    return front && front->processIdentifier == pid;
}

// How the program brings Logic Pro forward: activate, wait, then AppleScript and 30 polls of 0.05 s.
bool activateLikeTheProgram(int pid) {
    auto& ws = platform::workspace();
    if (logicIsFrontmost(pid)) return true;
    ws.activate(pid, platform::activation::kAllWindows);
    platform::pause(0.1);
    if (logicIsFrontmost(pid)) return true;
    ws.runAppleScript("tell application \"Logic Pro\" to activate");
    for (int i = 0; i < 30; ++i) {
        platform::pause(0.05);
        if (logicIsFrontmost(pid)) return true;
    }
    return false;
}

TEST_F(StandinTest, ActivationKnobDecidesWhetherAndWhenLogicComesForward) {
    struct Case {
        const char* activation;
        bool frontmost;
        double seconds;
        int appleScripts;
    };
    const Case cases[] = {{"immediate", true, 0.1, 0}, {"delayed 0.5", true, 0.5, 1},
                          {"appleScriptOnly", true, 0.15, 1}, {"never", false, 1.6, 1}};
    for (const auto& c : cases) {
        load(demoSong());
        world().setKnob("activation", c.activation);
        const double start = world().virtualSeconds();
        EXPECT_EQ(activateLikeTheProgram(logicPid()), c.frontmost) << c.activation;
        EXPECT_NEAR(world().virtualSeconds() - start, c.seconds, 1e-9) << c.activation;
        auto scripts = world().events(EventKind::appleScript);
        EXPECT_EQ(scripts.size(), static_cast<std::size_t>(c.appleScripts)) << c.activation;
        if (!scripts.empty()) {
            EXPECT_EQ(scripts[0].name, "tell application \"Logic Pro\" to activate");
        }
        auto requests = world().events(EventKind::activation);
        ASSERT_FALSE(requests.empty());
        EXPECT_EQ(requests[0].route, "workspace");
        EXPECT_EQ(requests[0].pid, logicPid());
    }
}

TEST_F(StandinTest, AppleScriptUnderstandsOnlyActivateOfARunningApplication) {
    auto& ws = platform::workspace();
    auto ok = ws.runAppleScript("tell application \"Terminal\" to activate");
    EXPECT_TRUE(ok.ok);
    EXPECT_EQ(world().frontmostPid(), 200);
    auto missing = ws.runAppleScript("tell application \"Ghost\" to activate");
    EXPECT_FALSE(missing.ok);
    EXPECT_NE(missing.output.find("Ghost"), std::string::npos);
    auto other = ws.runAppleScript("tell application \"Logic Pro\" to quit");
    EXPECT_FALSE(other.ok);
    EXPECT_TRUE(world().logicRunning());
    auto lowercase = ws.runAppleScript("tell application \"logic pro\" to activate");
    EXPECT_FALSE(lowercase.ok);
    EXPECT_EQ(world().frontmostPid(), 200);
    EXPECT_EQ(world().events(EventKind::appleScript).size(), 4u);
}

TEST_F(StandinTest, ImpostorsAreListedAsTheScenarioOrdersThem) {
    load(demoSongWith({{"workspace",
                        {{"apps",
                          {{{"self", true}, {"name", "Corvane"}, {"bundleId", "app.corvane"}, {"pid", 100}},
                           {{"name", "Logic Pro"}, {"pid", 300}},
                           {{"name", "Logic Pro"}, {"bundleId", "com.example.other"}, {"pid", 301}},
                           {{"name", "logic pro"}, {"bundleId", "com.example.third"}, {"pid", 302}},
                           {{"logic", true}}}}}}}));
    auto apps = platform::workspace().runningApplications();
    ASSERT_EQ(apps.size(), 5u);
    EXPECT_FALSE(apps[1].bundleIdentifier.has_value());
    EXPECT_EQ(apps[2].bundleIdentifier, "com.example.other");
    EXPECT_EQ(apps[3].localizedName, "logic pro");
    EXPECT_EQ(apps[4].bundleIdentifier, "com.apple.logic10");
    // Impostors have no Accessibility tree.
    platform::AXValue v;
    EXPECT_EQ(platform::accessibility().applicationElement(301).copyAttributeValue(platform::ax::kRole, v),
              platform::AXError::cannotComplete);
    EXPECT_EQ(platform::accessibility().applicationElement(999).copyAttributeValue(platform::ax::kRole, v),
              platform::AXError::invalidUIElement);
}

TEST_F(StandinTest, HidingTheProgramHandsFrontmostToTheLastActiveApplication) {
    auto chat = world().addWindow({0, "Corvane", {300, 200, 600, 500}});
    world().setFrontmost(logicPid());
    platform::workspace().activateCurrentApplication(true);
    EXPECT_EQ(world().frontmostPid(), world().selfPid());
    platform::workspace().hideCurrentApplication();
    EXPECT_EQ(world().frontmostPid(), logicPid());
    EXPECT_TRUE(platform::workspace().currentApplication().isHidden);
    auto content = platform::screenCapture().shareableContent();
    ASSERT_TRUE(content.ok());
    for (const auto& w : content.value->windows) {
        if (w.windowID == chat) {
            EXPECT_FALSE(w.isOnScreen);
        }
    }
    EXPECT_FALSE(platform::screenCapture().captureWindow(chat).ok());
    platform::workspace().activateCurrentApplication(true);
    EXPECT_FALSE(platform::workspace().currentApplication().isHidden);
    EXPECT_TRUE(platform::screenCapture().captureWindow(chat).ok());
    EXPECT_EQ(world().frontmostPid(), world().selfPid());
}

TEST_F(StandinTest, LaunchQuitAndActivationNotificationsArriveOnTheMainQueue) {
    std::mutex m;
    std::vector<std::string> seen;
    std::atomic<bool> offMain{false};
    auto& ws = platform::workspace();
    auto record = [&](const char* what) {
        return [&, what](const platform::RunningApplication& a) {
            if (!platform::mainQueue().isMainThread()) offMain = true;
            std::lock_guard lock(m);
            seen.push_back(std::string(what) + ":" + a.localizedName.value_or("?"));
        };
    };
    auto t1 = ws.addObserver(platform::WorkspaceNotification::didLaunchApplication, record("launch"));
    auto t2 = ws.addObserver(platform::WorkspaceNotification::didTerminateApplication, record("quit"));
    auto t3 = ws.addObserver(platform::WorkspaceNotification::didActivateApplication, record("activate"));
    world().setFrontmost(logicPid());
    world().quitLogic();
    world().launchLogic(false);
    world().drainMainQueue();
    ws.removeObserver(t3);
    ws.activate(200, platform::activation::kAllWindows);
    world().drainMainQueue();
    ws.removeObserver(t1);
    ws.removeObserver(t2);
    std::lock_guard lock(m);
    std::vector<std::string> expected{"activate:Logic Pro", "quit:Logic Pro", "activate:Corvane", "launch:Logic Pro"};
    EXPECT_EQ(seen, expected);
    EXPECT_FALSE(offMain);
}

TEST_F(StandinTest, ScreenRecordingPermissionFollowsItsStateAndCountsPrompts) {
    struct Case {
        const char* state;
        const char* answer;
        bool preflight;
        bool request;
        int prompts;
    };
    const Case cases[] = {{"granted", "denied", true, true, 0},
                          {"denied", "granted", false, false, 0},
                          {"undetermined", "granted", false, true, 1},
                          {"undetermined", "denied", false, false, 1}};
    for (const auto& c : cases) {
        load(demoSongWith({{"permissions", {{"screenRecording", c.state}, {"promptAnswer", c.answer}}}}));
        auto& capture = platform::screenCapture();
        EXPECT_EQ(capture.preflightScreenRecording(), c.preflight) << c.state;
        EXPECT_EQ(capture.requestScreenRecording(), c.request) << c.state;
        EXPECT_EQ(capture.requestScreenRecording(), c.request) << c.state << " (asked again)";
        EXPECT_EQ(world().screenRecordingPrompts(), c.prompts) << c.state;
    }
}

TEST_F(StandinTest, CursorWarpsAndFollowsHIDMouseEvents) {
    auto& input = platform::input();
    input.warpCursor({10, 20});
    EXPECT_EQ(input.cursorLocation(), (platform::Point{10, 20}));
    input.postMouseAtHIDTap({platform::MouseEventType::moved, {300, 400}});
    EXPECT_EQ(input.cursorLocation(), (platform::Point{300, 400}));
    input.postMouseToProcess(logicPid(), {platform::MouseEventType::moved, {5, 5}});
    EXPECT_EQ(input.cursorLocation(), (platform::Point{300, 400}));  // process events leave the cursor alone
    EXPECT_EQ(world().events(EventKind::warp).size(), 1u);
    auto display = platform::screenCapture().mainDisplay();
    ASSERT_TRUE(display);
    EXPECT_EQ(display->frame, (platform::Rect{0, 0, 1440, 900}));
    EXPECT_TRUE(platform::workspace().openURL("https://example.com/help"));
    EXPECT_EQ(world().events(EventKind::openURL).back().name, "https://example.com/help");
}

}  // namespace
}  // namespace corvane::standin::testing
