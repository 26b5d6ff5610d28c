#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/platform.h"
#include "platform/thread_main_queue.h"
#include "ui/shield/input_shield.h"

namespace corvane {
namespace {

struct RecordingWindow : InputShield::Window {
    void show() override { visible = true; }
    void hide() override { visible = false; }
    void setFrame(platform::Rect f) override { frame = f; }
    std::atomic<bool> visible{false};
    platform::Rect frame;
};

class InputShieldTest : public ::testing::Test {
protected:
    void SetUp() override {
        shield.setWindow(window);
        shield.setEnvironment({[this] { return logicInFront.load(); },
                               [] {
                                   return std::optional<platform::Rect>(platform::Rect{0, 25, 1200, 800});
                               },
                               [] {
                                   return std::optional<platform::Rect>(platform::Rect{0, 0, 1440, 900});
                               }});
    }
    void TearDown() override {
        shield.endTurn();
        shield.escalate(InputShield::Scope::logicWindow);
        shield.setWindow(nullptr);
        shield.setEnvironment({});
    }

    platform::ThreadMainQueue main;
    platform::ScopedServices services{{.mainQueue = &main}};
    InputShield& shield = InputShield::shared();
    std::shared_ptr<RecordingWindow> window = std::make_shared<RecordingWindow>();
    std::atomic<bool> logicInFront{false};
};

TEST_F(InputShieldTest, EscalationTakesEffectBeforeItReturnsFromAnyThread) {
    shield.beginTurn("");
    std::jthread turn([&] { shield.escalate(InputShield::Scope::fullscreen); });
    turn.join();
    EXPECT_EQ(shield.scope(), InputShield::Scope::fullscreen);
    EXPECT_TRUE(window->visible);  // full screen shows whatever is in front
    EXPECT_EQ(window->frame, (platform::Rect{0, 0, 1440, 900}));

    std::jthread back([&] { shield.escalate(InputShield::Scope::logicWindow); });
    back.join();
    EXPECT_FALSE(window->visible);  // back over Logic's window, which is not in front
    EXPECT_EQ(window->frame, (platform::Rect{0, 25, 1200, 800}));
    logicInFront = true;
    shield.escalate(InputShield::Scope::logicWindow);
    EXPECT_TRUE(window->visible);
}

TEST_F(InputShieldTest, NoTurnNoShieldAndTurnStateFollowsThePostedCalls) {
    logicInFront = true;
    shield.escalate(InputShield::Scope::fullscreen);
    EXPECT_FALSE(window->visible);
    shield.beginTurn("Add Plugin");
    main.drain();
    EXPECT_TRUE(shield.isTurnActive());
    EXPECT_EQ(shield.toolName(), "Add Plugin");
    shield.updateTool("Set Volume");
    shield.endTurn();
    main.drain();
    EXPECT_FALSE(shield.isTurnActive());
    EXPECT_FALSE(window->visible);
}

}  // namespace
}  // namespace corvane
