#include "widgets/window_activation.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QWindow>

#include "platform/platform.h"
#include "platform/standin/world.h"
#include "widgets/qt_main_queue.h"

namespace corvane {
namespace {

// Handles posted events until `done` holds; false when it never does.
template <typename Predicate>
bool processUntil(Predicate done) {
    for (int round = 0; round < 200 && !done(); ++round) QCoreApplication::processEvents();
    return done();
}

class WindowActivationTest : public ::testing::Test {
protected:
    QtMainQueue mainQueue;
    app::SimulatedHost host{{app::SimulatedHost::scenarioPathFromEnvironment(), 0, &mainQueue,
                             standin::ClockMode::virtualTime}};
    QWidget logicWindow;
    QWidget mainWindow;
    QWidget sheet{&mainWindow, Qt::Dialog};

    void SetUp() override {
        logicWindow.resize(300, 200);
        mainWindow.resize(300, 200);
        logicWindow.show();
        mainWindow.show();
        // Showing activates windows too: let that settle before a test activates its own.
        mainWindow.activateWindow();
        ASSERT_TRUE(processUntil([&] { return focused(mainWindow); }));
    }

    bool frontmostIs(int pid) { return host.world().frontmostPid() == pid; }
    bool focused(const QWidget& window) { return QGuiApplication::focusWindow() == window.windowHandle(); }
};

TEST_F(WindowActivationTest, FrontmostFollowsTheWindowTheUserActivatesBothWays) {
    WindowActivation activation(host, logicWindow, mainWindow);
    const int logic = host.world().logicPid();
    const int self = host.world().selfPid();

    host.world().setFrontmost(self);
    logicWindow.activateWindow();
    EXPECT_TRUE(processUntil([&] { return frontmostIs(logic); })) << "clicking Logic Pro's window";
    EXPECT_TRUE(platform::workspace().frontmostApplication().has_value());
    EXPECT_EQ(platform::workspace().frontmostApplication()->processIdentifier, logic);

    mainWindow.activateWindow();
    EXPECT_TRUE(processUntil([&] { return frontmostIs(self); })) << "clicking Corvane's window";

    // A sheet of the chat window is Corvane too.
    logicWindow.activateWindow();
    ASSERT_TRUE(processUntil([&] { return frontmostIs(logic); }));
    sheet.show();
    sheet.activateWindow();
    EXPECT_TRUE(processUntil([&] { return frontmostIs(self); })) << "a sheet of Corvane's window";
    sheet.hide();
    ASSERT_TRUE(processUntil([&] { return focused(mainWindow); }));

    // A window that is neither (the notice, the shield) leaves the frontmost application alone.
    logicWindow.activateWindow();
    ASSERT_TRUE(processUntil([&] { return frontmostIs(logic); }));
    QWidget other;
    other.show();
    other.activateWindow();
    ASSERT_TRUE(processUntil([&] { return focused(other); }));
    EXPECT_TRUE(frontmostIs(logic));
}

TEST_F(WindowActivationTest, TheAgentActivatingLogicProBringsItsWindowForward) {
    WindowActivation activation(host, logicWindow, mainWindow);
    const int logic = host.world().logicPid();
    const int self = host.world().selfPid();

    mainWindow.activateWindow();
    ASSERT_TRUE(processUntil([&] { return frontmostIs(self) && focused(mainWindow); }));
    logicWindow.hide();

    ASSERT_TRUE(platform::workspace().activate(logic, platform::activation::kAllWindows));
    EXPECT_TRUE(processUntil([&] { return focused(logicWindow); }));
    EXPECT_TRUE(logicWindow.isVisible());
    EXPECT_TRUE(frontmostIs(logic));

    // Corvane activating itself at a turn's end brings its own window back.
    platform::workspace().activateCurrentApplication(true);
    EXPECT_TRUE(processUntil([&] { return focused(mainWindow); }));
    EXPECT_TRUE(frontmostIs(self));

    // A closed chat window stays closed.
    logicWindow.activateWindow();
    ASSERT_TRUE(processUntil([&] { return frontmostIs(logic); }));
    mainWindow.hide();
    platform::workspace().activateCurrentApplication(true);
    for (int round = 0; round < 20; ++round) QCoreApplication::processEvents();
    EXPECT_FALSE(mainWindow.isVisible());
}

TEST_F(WindowActivationTest, ClickingLogicProsWindowWhileItDoesNotRunLeavesCorvaneFrontmost) {
    WindowActivation activation(host, logicWindow, mainWindow);
    host.world().quitLogic();
    mainWindow.activateWindow();
    ASSERT_TRUE(processUntil([&] { return frontmostIs(host.world().selfPid()); }));
    logicWindow.activateWindow();
    ASSERT_TRUE(processUntil([&] { return focused(logicWindow); }));
    EXPECT_TRUE(frontmostIs(host.world().selfPid()));
}

}  // namespace
}  // namespace corvane
