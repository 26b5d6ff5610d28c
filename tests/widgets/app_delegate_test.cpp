#include "widgets/app_delegate.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>
#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "app/simulated_host.h"
#include "conversation/conversation_store.h"
#include "http/http_client.h"
#include "networking/auth_service.h"
#include "platform/standin/world.h"
#include "support/image_encoding.h"
#include "test_support/free_port.h"
#include "test_support/temp_home.h"
#include "transcript/theme.h"
#include "widget_events.h"
#include "widget_pixels.h"
#include "widgets/diagram_painter.h"
#include "widgets/qt_main_queue.h"

namespace corvane {
namespace {

using corvane::testing::pumpUntil;

namespace mod = platform::modifier;

// The sign-in service's token answer, for any request.
class TokenTransport final : public http::HTTPTransport {
public:
    http::HTTPClientResponse send(const http::HTTPClientRequest&, std::stop_token) override {
        return {200, R"({"access_token":"a.e30.s","refresh_token":"refresh"})"};
    }
};

class NoUpdater final : public Updater {
public:
    int checks = 0;
    void checkForUpdates() override { ++checks; }
};

// The delegate over the simulated Logic Pro, its flags and opener recorded.
class AppDelegateTest : public ::testing::Test {
protected:
    void SetUp() override { testing::ensureApplication(); }

    AppDelegate& launch(std::vector<std::string> arguments = {}, bool trusted = true, std::uint16_t port = 0) {
        world_ = std::make_unique<standin::World>(
            nlohmann::json::parse(
                testing::readAll(std::string(CORVANE_SOURCE_DIR) + "/resources/Scenarios/demo-song.json")),
            standin::World::Options{&queue_});
        world_->updateFaults([&](standin::Faults& faults) {
            faults.accessibilityTrusted = trusted;
            faults.analysisPort = analysisPort_.port();
        });
        services_ = std::make_unique<platform::ScopedServices>(world_->services());
        app::CompanionController::Options controllerOptions;
        controllerOptions.port = port;
        auto updater = std::make_unique<NoUpdater>();
        updater_ = updater.get();
        AppDelegate::Options options;
        options.arguments = std::move(arguments);
        options.launchURL = [this](const std::string& url) {
            opened_.push_back(url);
            return browserTakesURLs_;
        };
        options.terminate = [this] { ++terminations_; };
        if (signedIn_)
            options.makeAuthService = [] {
                auto auth = std::make_shared<networking::AuthService>(networking::BackendConfiguration{},
                                                                      std::make_shared<TokenTransport>());
                auth->signIn("ada@example.com", "secret");
                return auth;
            };
        options.out = &out_;
        delegate_ = std::make_unique<AppDelegate>(app::CompanionController::create(controllerOptions),
                                                  std::move(updater), hub_, queue_, queue_, std::move(options));
        delegate_->applicationDidFinishLaunching();
        return *delegate_;
    }

    void TearDown() override {
        delegate_.reset();
        services_.reset();
        world_.reset();
    }

    QAction* menuItem(const QString& menu, const QString& item) {
        for (QAction* top : delegate_->mainMenu()->actions())
            if (top->text() == menu)
                for (QAction* action : top->menu()->actions())
                    if (action->text() == item) return action;
        return nullptr;
    }

    testing::TempHome home_;
    QtMainQueue queue_;
    platform::KeyEventHub hub_;
    testing::ClosedPort analysisPort_;  // where the plug-ins post
    std::unique_ptr<standin::World> world_;
    std::unique_ptr<platform::ScopedServices> services_;
    std::unique_ptr<AppDelegate> delegate_;
    NoUpdater* updater_ = nullptr;
    std::vector<std::string> opened_;
    bool browserTakesURLs_ = true;
    int terminations_ = 0;
    bool signedIn_ = false;
    std::ostringstream out_;
};

TEST(AppDelegateHotKey, ControlOptionLWithAnyOtherModifiersAndNothingElse) {
    struct Case {
        std::uint16_t key;
        std::uint64_t flags;
        bool down;
        bool shows;
    };
    const Case cases[] = {
        {37, mod::kControl | mod::kOption, true, true},
        {37, mod::kControl | mod::kOption | mod::kShift, true, true},
        {37, mod::kControl | mod::kOption | mod::kCommand, true, true},
        {37, mod::kControl, true, false},
        {37, mod::kOption, true, false},
        {37, mod::kControl | mod::kOption, false, false},
        {38, mod::kControl | mod::kOption, true, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(AppDelegate::isShowWindowHotKey({c.key, c.down, c.flags, {}}), c.shows)
            << c.key << " " << c.flags << " " << c.down;
    const QKeyEvent own(QEvent::KeyPress, Qt::Key_L, Qt::ControlModifier | Qt::AltModifier);
    EXPECT_TRUE(AppDelegate::isShowWindowHotKey(AppDelegate::keyEventFromQt(own)));
}

// Without a display the program sends the user to corvane-headless on the port it would serve,
// which CORVANE_PORT moves; the advice named the default port whatever that said. `--help` went on
// to open the window: it prints the help and exits, with no display needed. An unknown option was
// ignored: it is refused with the usage, before the window opens.
TEST(AppEntry, WithoutADisplayItNamesThePortTheHeadlessProgramWouldServeOrPrintsItsHelp) {
    struct Case {
        std::string setting, arguments;
        int status;
        std::string told;  // a part of what it says; for the help, all of it
    };
    const std::vector<Case> cases{
        {"CORVANE_PORT=52345", "", 1, "Run corvane-headless instead: it serves the loopback API on 127.0.0.1:52345 "},
        {"", "", 1, "Run corvane-headless instead: it serves the loopback API on 127.0.0.1:51234 "},
        {"", "--help", 0, app::SimulatedHost::helpText()},
        // --print-health ends the program had it ignored the unknown option.
        {"QT_QPA_PLATFORM=offscreen", "--print-health --bogus", 2,
         "corvane: unknown option '--bogus'\n" + app::SimulatedHost::usageText()},
    };
    for (const auto& c : cases) {
        const std::string command = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM -u CORVANE_PORT " + c.setting +
                                    " " + CORVANE_APP_BINARY + " " + c.arguments + " 2>&1";
        FILE* pipe = ::popen(command.c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        std::string told;
        char buffer[4096];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) told.append(buffer, n);
        const int status = ::pclose(pipe);
        EXPECT_EQ(WEXITSTATUS(status), c.status) << command << "\n" << told;
        if (c.status == 0) {
            EXPECT_EQ(told, c.told) << command;
        } else {
            EXPECT_NE(told.find(c.told), std::string::npos) << command << "\n" << told;
        }
    }
}

TEST_F(AppDelegateTest, LaunchServesTheAPIAndShowsTheWindowWithItsMenus) {
    auto& delegate = launch({}, false);
    EXPECT_NE(delegate.controller()->boundPort(), 0);
    ASSERT_NE(delegate.mainWindow(), nullptr);
    EXPECT_TRUE(delegate.mainWindow()->isVisible());
    EXPECT_EQ(delegate.mainWindow()->windowTitle(), "Corvane");
    EXPECT_EQ(delegate.mainWindow()->minimumSize(), QSize(600, 400));
    EXPECT_EQ(delegate.mainWindow()->maximumSize(), QSize(5000, 5000));
    EXPECT_NE(delegate.chatViewModel(), nullptr);
    EXPECT_EQ(world_->accessibilityPrompts(), 1);  // untrusted: the system's prompt once

    QStringList menus;
    for (QAction* top : delegate.mainMenu()->actions()) menus << top->text();
    EXPECT_EQ(menus, QStringList({"Corvane", "Edit", "Window", "Help"}));
    ASSERT_NE(menuItem("Corvane", "Quit Corvane"), nullptr);
    EXPECT_EQ(menuItem("Corvane", "Quit Corvane")->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
    EXPECT_EQ(menuItem("Edit", "Redo")->shortcut(), QKeySequence(Qt::SHIFT | Qt::CTRL | Qt::Key_Z));
    EXPECT_EQ(menuItem("Window", "Minimize")->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_M));
    menuItem("Corvane", "Check for Updates\u2026")->trigger();
    EXPECT_EQ(updater_->checks, 1);
    menuItem("Corvane", "Quit Corvane")->trigger();
    EXPECT_EQ(terminations_, 1);

    delegate.applicationWillTerminate();
    EXPECT_EQ(delegate.controller()->boundPort(), 0);
}

// Another program holds the port and never answers: the window says at once that the local API
// is not served there, why, and by whom.
TEST_F(AppDelegateTest, APortAlreadyTakenIsToldInTheWindow) {
    const corvane::testing::TakenPort holder;
    const auto port = holder.port();
    ASSERT_NE(port, 0);

    auto& delegate = launch({}, true, port);
    EXPECT_EQ(delegate.controller()->boundPort(), 0);
    ASSERT_NE(delegate.rootView(), nullptr);  // what shows once signed in
    QStringList told;
    for (const QLabel* label : delegate.rootView()->findChildren<QLabel*>())
        if (label->isVisibleTo(delegate.rootView()) && label->text().contains("127.0.0.1:" + QString::number(port)))
            told << label->text();
    ASSERT_EQ(told.size(), 1) << told.join("|").toStdString();
    // The holder, as far as the system shows it: here this very test.
    EXPECT_TRUE(told[0].contains("Address already in use (widgets_tests, process " + QString::number(::getpid()) + ")"))
        << told[0].toStdString();
    EXPECT_FALSE(delegate.chatViewModel()->showPluginMissingBanner());
}

TEST_F(AppDelegateTest, HelpItemsOpenTheirAddresses) {
    launch();
    for (const char* item : {"Corvane Help", "Report a Bug", "Privacy Policy", "Terms of Service"})
        menuItem("Help", item)->trigger();
    const std::vector<std::string> expected{"https://corvane.app",
                                            "mailto:support@corvane.app?subject=Corvane%20Bug%20Report",
                                            "https://corvane.app/privacy", "https://corvane.app/terms"};
    EXPECT_EQ(opened_, expected);
    QAction notText("x");
    notText.setData(42);
    delegate_->openRepresentedURL(&notText);
    delegate_->openRepresentedURL(nullptr);
    EXPECT_EQ(opened_.size(), expected.size());
}

TEST_F(AppDelegateTest, AnAddressNoBrowserTakesIsShownToCopy) {
    launch();
    menuItem("Help", "Privacy Policy")->trigger();
    EXPECT_EQ(delegate_->unopenedURLNotice(), nullptr);

    browserTakesURLs_ = false;
    menuItem("Help", "Terms of Service")->trigger();
    QMessageBox* notice = delegate_->unopenedURLNotice();
    ASSERT_NE(notice, nullptr);
    EXPECT_TRUE(notice->isVisible());
    EXPECT_EQ(notice->informativeText(), "https://corvane.app/terms");
    EXPECT_EQ(notice->palette().color(QPalette::Window), toQColor(CorvaneTheme::background));
    for (QAbstractButton* button : notice->buttons())
        if (button->text() == "Copy Address") button->click();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "https://corvane.app/terms");
}

// The program's keys where the chat window's menu does not reach: Control+Q in its other windows
// (the simulated Logic Pro's), Select All with a button focused (nothing to select, nothing said),
// Escape in the notice of a link no browser took.
TEST_F(AppDelegateTest, ProgramKeysAnswerInEveryWindowAndOnlyWhereTheyApply) {
    launch();
    QWidget logicWindow;
    logicWindow.show();
    QKeyEvent quit(QEvent::KeyPress, Qt::Key_Q, Qt::ControlModifier);
    QApplication::sendEvent(&logicWindow, &quit);
    EXPECT_EQ(terminations_, 1);

    static QStringList warnings;
    warnings.clear();
    const auto previous =
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& text) { warnings << text; });
    auto* button = new QPushButton("Go", delegate_->mainWindow());
    button->show();
    delegate_->mainWindow()->activateWindow();
    ASSERT_TRUE(pumpUntil([&] { return QApplication::activeWindow() == delegate_->mainWindow(); }));
    button->setFocus(Qt::TabFocusReason);
    ASSERT_EQ(QApplication::focusWidget(), button);
    menuItem("Edit", "Select All")->trigger();
    qInstallMessageHandler(previous);
    EXPECT_TRUE(warnings.isEmpty()) << warnings.join("\n").toStdString();

    browserTakesURLs_ = false;
    menuItem("Help", "Terms of Service")->trigger();
    QPointer<QMessageBox> notice = delegate_->unopenedURLNotice();
    ASSERT_NE(notice, nullptr);
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(notice, &escape);
    EXPECT_TRUE(!notice || !notice->isVisible());
}

TEST_F(AppDelegateTest, HotKeyBringsTheClosedWindowBack) {
    signedIn_ = true;
    auto& delegate = launch();
    QMainWindow* window = delegate.mainWindow();
    window->close();
    world_->setFrontmost(world_->logicPid());  // the user went on in Logic Pro
    EXPECT_FALSE(window->isVisible());
    hub_.deliver({37, true, mod::kControl, {}});
    QCoreApplication::processEvents();
    EXPECT_FALSE(window->isVisible());
    // From another thread, as a global monitor calls.
    std::thread([&] { hub_.deliver({37, true, mod::kControl | mod::kOption | mod::kShift, {}}); }).join();
    ASSERT_TRUE(pumpUntil([&] { return window->isVisible(); }));
    EXPECT_EQ(delegate.mainWindow(), window);
    EXPECT_EQ(world_->frontmostPid(), world_->selfPid());  // the application was activated
    // Typing goes on where the page takes it.
    ASSERT_TRUE(pumpUntil([&] { return QApplication::activeWindow() == window; }));
    EXPECT_NE(qobject_cast<QLineEdit*>(window->focusWidget()), nullptr) << "the song page's new-chat field";
}

// Another copy sharing the folder names a chat: this window shows the name once the user comes
// back to it, not only once the chat is opened again.
TEST_F(AppDelegateTest, ComingBackToTheWindowShowsChatTitlesAnotherCopyChanged) {
    auto& delegate = launch();
    ChatViewModel& model = *delegate.chatViewModel();
    const auto id = delegate.controller()->conversationStore().createThread(std::string("Demo Song")).currentThreadID;
    model.switchConversation(id);
    ASSERT_EQ(model.currentThreadTitle(), "Chat 1");
    ConversationStore otherCopy;
    ASSERT_TRUE(otherCopy.updateTitle(id, "Check the mix balance"));

    QEvent activated(QEvent::WindowActivate);
    QApplication::sendEvent(delegate.mainWindow(), &activated);
    EXPECT_EQ(model.currentThreadTitle(), "Check the mix balance");
    ASSERT_FALSE(model.threads().empty());
    EXPECT_EQ(model.threads().front().title, "Check the mix balance");
}

// The status line was drawn by no view: a turn's error and a refused drop happened out of sight.
// Under the chat, each failure shows until the user's next action, whatever progress came after.
TEST_F(AppDelegateTest, TheStatusLineUnderTheChatShowsEachFailureUntilTheNextAction) {
    auto& delegate = launch();  // signed out: the turn's request is refused before anything is sent
    ChatViewModel& model = *delegate.chatViewModel();
    CompanionRootView& root = *delegate.rootView();
    StatusLine& line = *root.statusLine();
    // The failure lines as drawn: on screen, at the top of the line.
    auto failuresShown = [&] {
        QStringList shown;
        for (const QLabel* label : line.findChildren<QLabel*>())
            if (label->isVisibleTo(&root)) shown << label->text();
        return shown.mid(0, line.failureCount());
    };
    ASSERT_TRUE(model.sendMessage("Check the mix balance"));
    ASSERT_TRUE(pumpUntil([&] { return !model.isBusy(); }));
    ASSERT_TRUE(root.chatPane()->isVisibleTo(&root));
    EXPECT_EQ(model.statusMessage(), "Ready.") << "the turn ended as usual";
    ASSERT_EQ(line.failureCount(), 1);
    EXPECT_TRUE(failuresShown().join("|").startsWith("Error: Not authenticated"))
        << failuresShown().join("|").toStdString();
    EXPECT_EQ(line.lines().size(), 1) << "the failure, not \"Ready.\", once the turn is over";

    model.acceptDroppedImage("not an image", "png");
    EXPECT_EQ(failuresShown(), QStringList{"Drop failed: the file is not a PNG, JPEG or TIFF image."})
        << "the drop is the next action: the turn's error goes";

    RGBAImage pixels{2, 2, std::vector<std::uint8_t>(16, 200)};
    model.acceptDroppedImage(*encodePNG(pixels), "png");
    EXPECT_EQ(line.failureCount(), 0);
    EXPECT_EQ(line.lines(), QStringList{"Attached image."});
}

TEST_F(AppDelegateTest, AboutPanelIsMadeOnceAndReused) {
    auto& delegate = launch();
    delegate.showCustomAboutPanel();
    QWidget* first = delegate.aboutPanel();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->windowTitle(), "About Corvane");
    EXPECT_EQ(first->size(), QSize(320, 380));
    first->close();
    delegate.showCustomAboutPanel();
    EXPECT_EQ(delegate.aboutPanel(), first);
    EXPECT_TRUE(first->isVisible());
}

TEST_F(AppDelegateTest, PrintHealthWinsOverCaptureTestAndEndsTheProgram) {
    launch({"--capture-test", "--print-health"});
    EXPECT_EQ(terminations_, 1);
    const auto health = nlohmann::json::parse(out_.str());
    EXPECT_TRUE(health.contains("appName"));
    QCoreApplication::processEvents();
    EXPECT_EQ(terminations_, 1);
}

TEST_F(AppDelegateTest, CaptureTestPrintsTheCaptureThenEndsTheProgram) {
    launch({"--capture-test"});
    EXPECT_EQ(terminations_, 0);  // the capture runs in a task after the launch sequence
    ASSERT_TRUE(pumpUntil([&] { return terminations_ == 1; }));
    const auto capture = nlohmann::json::parse(out_.str());
    EXPECT_TRUE(capture.is_object());
}

}  // namespace
}  // namespace corvane
