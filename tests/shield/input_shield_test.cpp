#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/log.h"
#include "platform/manual_main_queue.h"
#include "platform/platform.h"
#include "test_support/manual_clock.h"
#include "shield/input_shield.h"

namespace corvane {
namespace {

using platform::Rect;
using Scope = InputShield::Scope;

struct RecordingWindow : InputShield::Window {
    void show(Rect f, Scope scope) override {
        visible = true;
        onTop = true;
        frame = f;
        shownAtLevel.push_back(scope);
    }
    void hide() override { visible = false; }
    void setFrame(Rect f) override { frame = f; }
    void bringToFront() override { onTop = visible; }
    void setLabel(const std::string& text) override { label = text; }
    bool visible = false;
    bool onTop = false;  // no other window above it
    Rect frame;
    std::string label;
    std::vector<Scope> shownAtLevel;  // one entry per window put up, with the scope that chose its level
};

const Rect kScreen{0, 0, 1440, 900};

class InputShieldTest : public ::testing::Test {
protected:
    void SetUp() override {
        shield.setWindow(window);
        InputShield::Environment environment;
        environment.logicIsFrontmost = [this] { return logicInFront.load(); };
        environment.logicMainWindowFrame = [this] { return logicFrame; };
        environment.mainScreenFrame = [] { return std::optional<Rect>(kScreen); };
        environment.observeActivation = [this](std::function<void()> activated) {
            onActivation = std::move(activated);
            return std::shared_ptr<void>(nullptr, [this](void*) { onActivation = nullptr; });
        };
        environment.timers = &main;
        shield.setEnvironment(environment);
    }
    void TearDown() override {
        shield.endTurn();
        shield.escalate(Scope::logicWindow);
        shield.setWindow(nullptr);
        shield.setEnvironment({});
    }
    // As the workspace delivers it: Logic Pro's windows come up over ours before the shield hears of it.
    void activate(bool logic) {
        logicInFront = logic;
        if (logic) window->onTop = false;
        if (onActivation) onActivation();
    }

    testing::ManualClock clock;
    platform::ManualMainQueue main{&clock};
    platform::ScopedServices services{{.clock = &clock, .mainQueue = &main}};
    InputShield& shield = InputShield::shared();
    std::shared_ptr<RecordingWindow> window = std::make_shared<RecordingWindow>();
    std::atomic<bool> logicInFront{false};
    std::optional<Rect> logicFrame = Rect{100, 200, 1200, 700};
    std::function<void()> onActivation;
};

TEST_F(InputShieldTest, ShownOverLogicOnlyWhileLogicIsInFront) {
    shield.beginTurn("");
    EXPECT_FALSE(window->visible);
    activate(true);
    EXPECT_TRUE(window->visible);
    EXPECT_EQ(window->frame, *logicFrame);
    EXPECT_EQ(window->label, "Corvane is working...");
    shield.updateTool("Set Volume");
    EXPECT_EQ(window->label, "Corvane is working: Set Volume");
    activate(false);
    EXPECT_FALSE(window->visible);
    shield.endTurn();
    EXPECT_FALSE(onActivation) << "the observer lives only while a turn runs";
    EXPECT_EQ(shield.toolName(), "Set Volume");  // kept until the next turn
}

// The turn's first tool may bring Logic Pro forward before the turn's start reaches the UI thread:
// the notice then goes up at once, and Logic Pro's activation, heard after, raises its window over it.
TEST_F(InputShieldTest, LogicComingForwardAfterTheNoticeWentUpLeavesItOnTop) {
    logicInFront = true;
    shield.beginTurn("");
    ASSERT_TRUE(window->visible);
    activate(true);
    EXPECT_TRUE(window->onTop);
    EXPECT_EQ(window->shownAtLevel.size(), 1u);
}

TEST_F(InputShieldTest, WithoutLogicsMainWindowTheNoticeCoversTheScreen) {
    logicFrame.reset();
    logicInFront = true;
    shield.beginTurn("");
    EXPECT_EQ(window->frame, kScreen);
}

TEST_F(InputShieldTest, EscalationCoversTheScreenAndKeepsTheWindowsLevel) {
    shield.beginTurn("");
    shield.updateTool("Move Plugin");
    shield.escalate(Scope::fullscreen);
    EXPECT_TRUE(window->visible) << "full screen shows whatever is in front";
    EXPECT_EQ(window->frame, kScreen);
    EXPECT_EQ(window->label, "Corvane: Move Plugin \u2014 please hold");
    shield.escalate(Scope::logicWindow);
    EXPECT_FALSE(window->visible);

    activate(true);
    shield.escalate(Scope::fullscreen);
    shield.escalate(Scope::logicWindow);
    EXPECT_TRUE(window->visible);
    EXPECT_EQ(window->frame, *logicFrame);
    EXPECT_EQ(window->label, "Corvane is working: Move Plugin");
    EXPECT_EQ(window->shownAtLevel, (std::vector<Scope>{Scope::fullscreen, Scope::logicWindow}));

    // A new turn goes back over Logic's window; the window already up keeps its level.
    shield.escalate(Scope::fullscreen);
    shield.beginTurn("");
    EXPECT_EQ(shield.scope(), Scope::logicWindow);
    EXPECT_EQ(window->frame, *logicFrame);
    EXPECT_EQ(window->label, "Corvane is working...");
    EXPECT_EQ(window->shownAtLevel.size(), 2u);
}

TEST_F(InputShieldTest, TheNoticeFollowsLogicsWindowWithinHalfASecond) {
    logicInFront = true;
    shield.beginTurn("");
    logicFrame = Rect{300, 100, 800, 600};
    main.advance(0.49);
    EXPECT_EQ(window->frame, (Rect{100, 200, 1200, 700}));
    main.advance(0.01);
    EXPECT_EQ(window->frame, *logicFrame);

    shield.escalate(Scope::fullscreen);
    logicFrame = Rect{0, 0, 10, 10};
    main.advance(1);
    EXPECT_EQ(window->frame, kScreen) << "in full screen the notice stays put";
}

TEST_F(InputShieldTest, WatchdogEndsATurnAfterSixtySecondsForGood) {
    platform::LogCapture log;
    logicInFront = true;
    shield.beginTurn("");
    main.advance(59.9);
    EXPECT_TRUE(window->visible);
    shield.updateTool("Listen");  // does not restart the watchdog
    main.advance(0.1);
    EXPECT_FALSE(window->visible);
    EXPECT_FALSE(shield.isTurnActive());
    EXPECT_EQ(log.lines(), std::vector<std::string>{"[InputShield] Watchdog fired \u2014 auto-ending turn after 60s"});

    shield.updateTool("Set Volume");
    shield.escalate(Scope::logicWindow);
    activate(true);
    EXPECT_FALSE(window->visible) << "later calls of the same turn do not bring the notice back";
    EXPECT_EQ(main.activeTimers(), 0u);
}

TEST_F(InputShieldTest, CallsFromOtherThreadsArePostedButEscalationWaits) {
    logicInFront = true;
    std::jthread([&] {
        shield.beginTurn("");
        shield.updateTool("Add Plugin");
    }).join();
    // Run on the calling thread, the start would already show.
    EXPECT_FALSE(shield.isTurnActive()) << "nothing ran yet";
    EXPECT_FALSE(window->visible);
    main.drain();
    EXPECT_TRUE(shield.isTurnActive());
    EXPECT_TRUE(window->visible);
    EXPECT_EQ(window->label, "Corvane is working: Add Plugin") << "the posted bodies ran in order";
    std::jthread([&] { shield.endTurn(); }).join();
    EXPECT_TRUE(shield.isTurnActive()) << "the end is posted too";
    main.drain();
    EXPECT_FALSE(shield.isTurnActive());
    EXPECT_FALSE(window->visible);

    shield.beginTurn("");
    std::atomic<bool> escalated{false};
    std::jthread turn([&] {
        shield.escalate(Scope::fullscreen);
        escalated = true;
    });
    ASSERT_TRUE(main.runUntil([&] { return shield.scope() == Scope::fullscreen; }));
    turn.join();
    EXPECT_TRUE(escalated);
    EXPECT_EQ(window->frame, kScreen);
}

TEST(InputShieldLabel, WordingsByScopeAndTool) {
    const struct {
        Scope scope;
        const char* tool;
        const char* text;
    } cases[] = {
        {Scope::logicWindow, "", "Corvane is working..."},
        {Scope::logicWindow, "Set Volume", "Corvane is working: Set Volume"},
        {Scope::fullscreen, "", "Corvane is working \u2014 please hold"},
        {Scope::fullscreen, "Set Volume", "Corvane: Set Volume \u2014 please hold"},
    };
    for (const auto& c : cases) EXPECT_EQ(InputShield::labelText(c.scope, c.tool), c.text) << c.tool;
}

}  // namespace
}  // namespace corvane
