#include "widgets/window_activation.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include <QApplication>
#include <QDialog>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QWindow>

#include "platform/platform.h"
#include "platform/standin/world.h"
#include "shield/input_shield.h"
#include "widgets/agent_overlay.h"
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
    app::SimulatedHost host{
        {app::SimulatedHost::scenarioPathFromEnvironment(), 0, &mainQueue, standin::ClockMode::virtualTime}};
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
    void settle() {
        for (int round = 0; round < 20; ++round) QCoreApplication::processEvents();
    }
};

// A question over a sheet of the chat window, made as the account sheet makes its Sign Out question.
struct Question {
    QDialog sheet;
    QMessageBox box{&sheet};
    QPushButton* signOut = nullptr;
    int taken = 0;

    explicit Question(QWidget& mainWindow) : sheet(&mainWindow) {
        sheet.setModal(true);
        sheet.resize(200, 150);
        box.setWindowModality(Qt::WindowModal);
        box.setText("Sign out of Corvane?");
        signOut = box.addButton("Sign Out", QMessageBox::DestructiveRole);
        box.addButton("Cancel", QMessageBox::RejectRole);
        QObject::connect(signOut, &QPushButton::clicked, [this] { ++taken; });
        sheet.open();
        box.open();
    }

    // What the window system hands the question's window: the event goes to the window, which
    // finds the button under the point, as for a click on the screen.
    void mouse(QEvent::Type type) {
        QWindow* window = box.windowHandle();
        const QPointF at = signOut->mapTo(&box, QPointF(signOut->width() / 2.0, signOut->height() / 2.0));
        QMouseEvent event(type, at, window->mapToGlobal(at), Qt::LeftButton,
                          type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
        QGuiApplication::sendEvent(window, &event);
    }
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
    // What the user types in the chat window during the turn still lands there.
    ASSERT_TRUE(platform::workspace().activate(logic, platform::activation::kAllWindows));
    EXPECT_TRUE(processUntil([&] { return frontmostIs(logic); }));
    for (int round = 0; round < 20; ++round) QCoreApplication::processEvents();
    EXPECT_TRUE(focused(mainWindow)) << "the keyboard went to Logic Pro's window";

    host.world().setFrontmost(self);
    logicWindow.hide();
    ASSERT_TRUE(platform::workspace().activate(logic, platform::activation::kAllWindows));
    EXPECT_TRUE(processUntil([&] { return logicWindow.isVisible(); }));
    EXPECT_TRUE(frontmostIs(logic));

    // Corvane activating itself at a turn's end brings its own window back.
    logicWindow.activateWindow();
    ASSERT_TRUE(processUntil([&] { return focused(logicWindow); }));
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

// The user going back to the chat window during a turn (a click on the transcript, another chat,
// the Account entry) leaves Logic Pro's window in view beside it, and the notice over it.
TEST_F(WindowActivationTest, TheNoticeStaysOverLogicProWhicheverWindowTheUserActivates) {
    WindowActivation activation(host, logicWindow, mainWindow);
    auto overlay = installAgentOverlay(mainQueue, [this](platform::Rect frame) -> std::optional<platform::Rect> {
        if (!logicWindow.isVisible()) return std::nullopt;
        return platform::Rect{double(logicWindow.x()) + frame.x / 4, double(logicWindow.y()) + frame.y / 4,
                              frame.width / 4, frame.height / 4};
    });
    InputShield& shield = InputShield::shared();
    logicWindow.activateWindow();
    ASSERT_TRUE(processUntil([&] { return frontmostIs(host.world().logicPid()); }));
    shield.beginTurn("Listen");
    ASSERT_TRUE(processUntil([&] { return overlay->window() && overlay->window()->isVisible(); }));

    mainWindow.activateWindow();
    ASSERT_TRUE(processUntil([&] { return frontmostIs(host.world().selfPid()); }));
    for (int round = 0; round < 20; ++round) QCoreApplication::processEvents();
    ASSERT_NE(overlay->window(), nullptr) << "the notice went with the chat window's activation";
    EXPECT_TRUE(overlay->window()->isVisible());
    EXPECT_TRUE(shield.isShown());

    shield.endTurn();
    for (int round = 0; round < 20; ++round) QCoreApplication::processEvents();
    shield.setWindow(nullptr);
    shield.setEnvironment({});
}

// A person's click is a press, a moment held and a release; the window manager activates the
// window pressed on in between, and the activation must not move the click's window.
TEST_F(WindowActivationTest, APersonsClickOnAQuestionOverTheChatWindowIsTakenWhicheverWindowWasActive) {
    WindowActivation activation(host, logicWindow, mainWindow);
    const int logic = host.world().logicPid();
    struct Case {
        const char* before;
        std::function<void()> activate;
    };
    const std::vector<Case> cases = {
        {"the question itself", [] {}},
        {"Logic Pro's window, clicked by the user", [&] { logicWindow.activateWindow(); }},
        {"Logic Pro brought forward by the agent",
         [&] { ASSERT_TRUE(platform::workspace().activate(logic, platform::activation::kAllWindows)); }},
    };
    for (const auto& [before, activate] : cases) {
        SCOPED_TRACE(before);
        Question question(mainWindow);
        ASSERT_TRUE(processUntil([&] { return focused(question.box); }));
        activate();
        settle();

        question.mouse(QEvent::MouseMove);
        question.mouse(QEvent::MouseButtonPress);
        // The window manager's click to focus, then the button held while events are handled.
        question.box.activateWindow();
        settle();
        EXPECT_TRUE(focused(question.box)) << "the activation moved away from the question mid-click";
        question.mouse(QEvent::MouseButtonRelease);
        EXPECT_EQ(question.taken, 1);
    }
}

// Corvane coming forward (a turn's end, a click on its window) gives the keyboard to the question
// over the chat window, where Escape answers it; the agent bringing Logic Pro forward leaves it there.
TEST_F(WindowActivationTest, TheKeyboardStaysInAQuestionOverTheChatWindow) {
    WindowActivation activation(host, logicWindow, mainWindow);
    const int logic = host.world().logicPid();
    Question question(mainWindow);
    ASSERT_TRUE(processUntil([&] { return focused(question.box); }));

    ASSERT_TRUE(platform::workspace().activate(logic, platform::activation::kAllWindows));
    ASSERT_TRUE(processUntil([&] { return frontmostIs(logic); }));
    settle();
    EXPECT_TRUE(focused(question.box)) << "the agent took the keyboard from the question";

    logicWindow.activateWindow();
    ASSERT_TRUE(processUntil([&] { return focused(logicWindow); }));
    platform::workspace().activateCurrentApplication(true);
    ASSERT_TRUE(processUntil([&] { return frontmostIs(host.world().selfPid()); }));
    settle();
    ASSERT_TRUE(focused(question.box)) << "the keyboard went to the chat window the question blocks";
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QGuiApplication::sendEvent(QGuiApplication::focusWindow(), &escape);
    EXPECT_FALSE(question.box.isVisible());
    EXPECT_TRUE(question.sheet.isVisible());
}

}  // namespace
}  // namespace corvane
