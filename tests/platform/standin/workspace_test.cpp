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
    const Case cases[] = {{"immediate", true, 0.1, 0},
                          {"delayed 0.5", true, 0.5, 1},
                          {"appleScriptOnly", true, 0.15, 1},
                          {"never", false, 1.6, 1}};
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
        EXPECT_EQ(requests[0].options, std::optional<unsigned>(platform::activation::kAllWindows)) << c.activation;
        EXPECT_NE(describe(requests[0]).find("options=0x1"), std::string::npos) << c.activation;
        for (const auto& r : requests) {
            if (r.route == "appleScript") {
                EXPECT_FALSE(r.options) << c.activation;
            }
        }
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
    const auto ownActivation = world().events(EventKind::activation).at(1);  // after Logic's frontmost change
    EXPECT_EQ(ownActivation.pid, world().selfPid());
    EXPECT_EQ(ownActivation.options, std::optional<unsigned>(platform::activation::kIgnoringOtherApps));
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
        // Every check is logged with its answer, and a request says whether it prompted.
        std::vector<std::string> checks;
        for (const auto& e : world().events(EventKind::permissionCheck))
            checks.push_back(e.route + " " + e.outcome + " " + e.detail);
        const std::string answer = c.request ? "granted" : "denied";
        EXPECT_EQ(checks, (std::vector<std::string>{std::string("preflight ") + (c.preflight ? "granted " : "denied "),
                                                    "request " + answer + (c.prompts ? " after prompt" : " no prompt"),
                                                    "request " + answer + " no prompt"}))
            << c.state;
        EXPECT_EQ(world().events(EventKind::permissionPrompt).size(), static_cast<std::size_t>(c.prompts)) << c.state;
    }
}

TEST_F(StandinTest, LogicWindowsMoveResizeAndGoOffTheDisplaysThroughKnobs) {
    namespace ax = platform::ax;
    const platform::Rect home = *world().windowFrame();
    const platform::Rect slotBefore = *world().slotFrame(0, 1);
    world().setKnob("windowFrames", {{"main", {300, 125, 900, 600}}});
    EXPECT_EQ(world().windowFrame(), (platform::Rect{300, 125, 900, 600}));
    auto main = *mainWindow();
    EXPECT_EQ(main.point(ax::kPosition), (platform::Point{300, 125}));
    EXPECT_EQ(main.size(ax::kSize), (platform::Size{900, 600}));
    // The contents move with the window, so pointers and searches meet them there.
    const platform::Rect slot = *world().slotFrame(0, 1);
    EXPECT_EQ(slot.origin(), (platform::Point{slotBefore.x + 300 - home.x, slotBefore.y + 125 - home.y}));
    EXPECT_EQ(find(*strip(0), "Compressor", "AXGroup")->point(ax::kPosition), slot.origin());
    clickInProcess(World::center(slot));
    ASSERT_EQ(world().ui().pluginWindows.size(), 1u);
    EXPECT_EQ(world().ui().pluginWindows[0].title, "Kick: Compressor");

    // Plug-in windows are named by title; this one goes wholly off the display, the main one back home.
    world().setKnob("windowFrames", {{"Kick: Compressor", {-900, 40, 520, 320}}});
    EXPECT_EQ(world().ui().pluginWindows[0].frame, (platform::Rect{-900, 40, 520, 320}));
    EXPECT_EQ(world().windowFrame(), home);
    auto content = platform::screenCapture().shareableContent();
    ASSERT_TRUE(content.ok());
    bool listed = false;
    for (const auto& w : content.value->windows)
        if (w.title == std::optional<std::string>("Kick: Compressor")) {
            listed = true;
            EXPECT_EQ(w.frame, (platform::Rect{-900, 40, 520, 320}));
        }
    EXPECT_TRUE(listed);
    world().setKnob("windowFrames", nullptr);
    EXPECT_EQ(world().ui().pluginWindows[0].frame.origin(), (platform::Point{400, 200}));
}

TEST_F(StandinTest, MinimisedLogicWindowsAreListedButNeitherFocusedNorOnScreen) {
    namespace ax = platform::ax;
    world().setFrontmost(logicPid());
    const platform::Rect home = *world().windowFrame();
    world().setKnob("minimisedWindows", {"main"});
    auto windows = *app().elements(ax::kWindows);
    ASSERT_EQ(windows.size(), 1u);  // still listed
    EXPECT_EQ(windows[0].boolean("AXMinimized"), true);
    EXPECT_EQ(windows[0].point(ax::kPosition), home.origin());  // the frame it had
    platform::AXValue v;
    EXPECT_EQ(app().copyAttributeValue(ax::kFocusedWindow, v), platform::AXError::noValue);
    EXPECT_EQ(world().ui().keyWindow, "");
    EXPECT_EQ(world().ui().minimisedWindows, (std::vector<std::string>{"Demo Song - Tracks"}));
    // Pointers pass through to what lies below.
    clickAtHID(World::center(*world().slotFrame(0, 1)));
    EXPECT_EQ(world().events(EventKind::mouse).back().route, "stray");
    EXPECT_TRUE(world().ui().pluginWindows.empty());

    // Un-minimising through Accessibility, as a user's Dock click would.
    bool settable = false;
    ASSERT_EQ(windows[0].isAttributeSettable("AXMinimized", settable), platform::AXError::success);
    EXPECT_TRUE(settable);
    EXPECT_EQ(windows[0].setAttributeValue("AXMinimized", false), platform::AXError::success);
    EXPECT_TRUE(world().ui().minimisedWindows.empty());
    EXPECT_EQ(app().element(ax::kFocusedWindow)->string(ax::kTitle), "Demo Song - Tracks");
    EXPECT_EQ(world().events(EventKind::axWrite).back().name, "AXMinimized");
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
