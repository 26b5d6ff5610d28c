#include "widgets/agent_overlay.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>

#include "platform/log.h"
#include "platform/manual_main_queue.h"
#include "platform/platform.h"
#include "platform/standin/standin_fixture.h"
#include "platform/standin/world.h"
#include "shield/shield_platform.h"
#include "test_support/free_port.h"
#include "test_support/manual_clock.h"
#include "widget_pixels.h"

namespace corvane {
namespace {

using platform::Rect;
using Scope = InputShield::Scope;

// The shield drives the Qt notice; Logic Pro's window is given in top-left (Accessibility) terms.
class AgentOverlayTest : public ::testing::Test {
protected:
    void SetUp() override {
        testing::ensureApplication();
        InputShield::Environment environment;
        environment.logicIsFrontmost = [this] { return logicInFront; };
        environment.logicMainWindowFrame = [this] { return shield::flipped(logicAX, primaryHeight()); };
        environment.mainScreenFrame = [] { return AgentOverlay::mainScreen(); };
        environment.timers = &main;
        shield.setEnvironment(environment);
        shield.setWindow(overlay);
    }
    void TearDown() override {
        shield.endTurn();
        shield.setWindow(nullptr);
        shield.setEnvironment({});
    }
    static double primaryHeight() {
        return shield::primaryScreenHeight(AgentOverlay::screens(), AgentOverlay::mainScreen());
    }
    QString label() const { return overlay->window()->content()->labelField()->text(); }

    testing::ManualClock clock;
    platform::ManualMainQueue main{&clock};
    platform::ScopedServices services{{.clock = &clock, .mainQueue = &main}};
    InputShield& shield = InputShield::shared();
    std::shared_ptr<AgentOverlay> overlay = std::make_shared<AgentOverlay>();
    bool logicInFront = true;
    Rect logicAX{100, 50, 400, 300};
};

TEST_F(AgentOverlayTest, CoversLogicsWindowWithTheWordingOfEachScope) {
    shield.beginTurn("");
    ShieldWindow* window = overlay->window();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->geometry(), QRect(100, 50, 400, 300)) << "back in Qt's top-left terms";
    EXPECT_EQ(label(), "Corvane is working...");
    shield.updateTool("Set Volume");
    EXPECT_EQ(label(), "Corvane is working: Set Volume");

    shield.escalate(Scope::fullscreen);
    EXPECT_EQ(overlay->window(), window) << "the window stays, with its level";
    EXPECT_EQ(window->level(), ShieldWindow::kModalPanelLevel);
    EXPECT_EQ(window->geometry(), QGuiApplication::primaryScreen()->geometry());
    EXPECT_EQ(label(), "Corvane: Set Volume \u2014 please hold");

    logicInFront = false;
    shield.escalate(Scope::logicWindow);
    EXPECT_EQ(overlay->window(), nullptr);
    shield.escalate(Scope::fullscreen);
    ASSERT_NE(overlay->window(), nullptr);
    EXPECT_EQ(overlay->window()->level(), ShieldWindow::kScreenSaverLevel);
    shield.updateTool("");
    EXPECT_EQ(label(), "Corvane is working \u2014 please hold");
}

// A window manager frames every window it manages, and its frame takes the clicks the notice lets
// through: Stop could not be clicked during a drag. The notice a drag widens was first shown over
// Logic Pro, so neither way may hand it to a window manager.
TEST_F(AgentOverlayTest, NoNoticeIsFramedByAWindowManagerOrTakesTheMouseOrTheKeyboard) {
    const struct {
        const char* name;
        bool logicInFront;
    } cases[] = {{"shown over Logic Pro, then widened for a drag", true}, {"shown for a drag at once", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        logicInFront = c.logicInFront;
        shield.beginTurn("");
        shield.escalate(Scope::fullscreen);
        ShieldWindow* window = overlay->window();
        ASSERT_NE(window, nullptr);
        EXPECT_EQ(window->geometry(), QGuiApplication::primaryScreen()->geometry());
        EXPECT_TRUE(window->windowFlags().testFlag(Qt::X11BypassWindowManagerHint));
        EXPECT_TRUE(window->windowFlags().testFlag(Qt::FramelessWindowHint));
        EXPECT_TRUE(window->windowFlags().testFlag(Qt::WindowTransparentForInput));
        EXPECT_TRUE(window->windowFlags().testFlag(Qt::WindowDoesNotAcceptFocus));
        // Whether a desktop honours these is up to it; the offscreen platform activates anyway.
        EXPECT_TRUE(window->testAttribute(Qt::WA_ShowWithoutActivating));
        EXPECT_TRUE(window->testAttribute(Qt::WA_TransparentForMouseEvents));
        EXPECT_EQ(window->focusPolicy(), Qt::NoFocus);
        shield.endTurn();
    }
}

TEST_F(AgentOverlayTest, TintsWhatIsBelow) {
    shield.beginTurn("");
    ShieldWindow* window = overlay->window();
    ASSERT_NE(window, nullptr);
    QImage image(window->size(), QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    window->render(&image, QPoint(), QRegion(), QWidget::DrawWindowBackground);
    const QColor corner = image.pixelColor(2, 2);
    EXPECT_EQ(corner.red(), 0);
    EXPECT_NEAR(corner.alphaF(), 0.3, 0.01);
}

TEST_F(AgentOverlayTest, TheLabelIsAtMost700WideWithTheSpinner8Below) {
    const struct { int width, labelWidth; } cases[] = {{1000, 700}, {600, 560}};
    for (const auto& c : cases) {
        ShieldContentView view;
        view.resize(c.width, 400);
        view.layoutLabels();
        EXPECT_EQ(view.labelField()->geometry(), QRect((c.width - c.labelWidth) / 2, 180, c.labelWidth, 40));
        EXPECT_EQ(view.spinner()->geometry(), QRect((c.width - 20) / 2, 228, 20, 20));
    }
}

TEST_F(AgentOverlayTest, FollowsLogicsWindowAndGivesUpAfterTheWatchdog) {
    platform::LogCapture log;
    shield.beginTurn("");
    logicAX = {300, 120, 500, 350};
    main.advance(0.5);
    ASSERT_NE(overlay->window(), nullptr);
    EXPECT_EQ(overlay->window()->geometry(), QRect(300, 120, 500, 350));
    EXPECT_EQ(overlay->window()->content()->size(), QSize(500, 350));

    main.advance(59.5);
    EXPECT_EQ(overlay->window(), nullptr);
    EXPECT_TRUE(log.contains("[InputShield] Watchdog fired \u2014 auto-ending turn after 60s"));
    shield.updateTool("Listen");
    shield.escalate(Scope::logicWindow);
    EXPECT_EQ(overlay->window(), nullptr) << "later tool updates do not bring it back";
}

// Logic Pro's Mixer window, often open in front, has a title of the same kind as the main window's
// and no track list: the notice covers the window the agent works in.
TEST(AgentOverlayOnTheStandin, CoversTheMainWindowWhenTheMixerWindowIsListedFirst) {
    testing::ensureApplication();
    testing::ManualClock clock;
    platform::ManualMainQueue main{&clock};
    testing::ClosedPort analysisPort;
    standin::World world{standin::testing::demoSong(), standin::WorldOptions{&main}};
    platform::ScopedServices services{world.services()};
    world.setKnob("analysisPort", analysisPort.port());
    world.setKnob("mixerWindowFirst", true);
    world.setFrontmost(world.logicPid());
    main.drain();
    const auto mainWindow = world.windowFrame("main");
    ASSERT_TRUE(mainWindow);

    auto overlay = installAgentOverlay(main);
    InputShield& shield = InputShield::shared();
    shield.beginTurn("");
    main.drain();
    ASSERT_NE(overlay->window(), nullptr);
    EXPECT_EQ(world.ui().keyWindow, "Demo Song - Mixer") << "the notice leaves Logic Pro's windows as they are";
    EXPECT_EQ(overlay->window()->geometry(),
              QRect(int(mainWindow->x), int(mainWindow->y), int(mainWindow->width), int(mainWindow->height)));
    shield.endTurn();
    main.drain();
    shield.setWindow(nullptr);
    shield.setEnvironment({});
}

}  // namespace
}  // namespace corvane
