#include "widgets/app_delegate.h"

#include <QAction>
#include <QClipboard>
#include <QMessageBox>
#include <QPushButton>
#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QKeyEvent>
#include <QScreen>
#include <QUrl>
#include <QVBoxLayout>
#include <iostream>
#include <map>

#include "app/port_holder.h"
#include "platform/platform.h"
#include "support/json_writer.h"
#include "transcript/theme.h"
#include "widgets/diagram_painter.h"
#include "widgets/shell_views.h"
#include "widgets/widget_parts.h"

namespace corvane {

namespace {

constexpr std::uint16_t kLKeyCode = 37;

// The host's virtual key codes of the letter keys.
std::uint16_t letterKeyCode(int qtKey) {
    static const std::map<int, std::uint16_t> codes{
        {Qt::Key_A, 0},  {Qt::Key_S, 1},  {Qt::Key_D, 2},  {Qt::Key_F, 3},  {Qt::Key_H, 4},  {Qt::Key_G, 5},
        {Qt::Key_Z, 6},  {Qt::Key_X, 7},  {Qt::Key_C, 8},  {Qt::Key_V, 9},  {Qt::Key_B, 11}, {Qt::Key_Q, 12},
        {Qt::Key_W, 13}, {Qt::Key_E, 14}, {Qt::Key_R, 15}, {Qt::Key_Y, 16}, {Qt::Key_T, 17}, {Qt::Key_O, 31},
        {Qt::Key_U, 32}, {Qt::Key_I, 34}, {Qt::Key_P, 35}, {Qt::Key_L, 37}, {Qt::Key_J, 38}, {Qt::Key_K, 40},
        {Qt::Key_N, 45}, {Qt::Key_M, 46}};
    const auto found = codes.find(qtKey);
    return found == codes.end() ? 0xFFFF : found->second;
}

// Sends an edit command to whatever has the keyboard focus, when it takes it (a button takes none).
void sendToFirstResponder(const char* command) {
    QWidget* focus = QApplication::focusWidget();
    if (!focus) return;
    const QByteArray signature = QByteArray(command) + "()";
    if (focus->metaObject()->indexOfMethod(signature.constData()) < 0) return;
    QMetaObject::invokeMethod(focus, command);
}

}  // namespace

AppDelegate::AppDelegate(std::shared_ptr<app::CompanionController> controller, std::unique_ptr<Updater> updater,
                         platform::KeyMonitor& keyMonitor, platform::MainQueue& mainQueue, platform::MainTimers& timers,
                         Options options)
    : controller_(std::move(controller)),
      updater_(std::move(updater)),
      keyMonitor_(keyMonitor),
      mainQueue_(mainQueue),
      timers_(timers),
      options_(std::move(options)) {
    if (!options_.userDefaults) {
        ownedDefaults_ = std::make_unique<JSONFileUserDefaults>();
        options_.userDefaults = ownedDefaults_.get();
    }
    if (auto* application = QCoreApplication::instance())
        connect(application, &QCoreApplication::aboutToQuit, this, [this] { applicationWillTerminate(); });
}

AppDelegate::~AppDelegate() {
    lifetime_.end();
    if (monitorToken_) keyMonitor_.removeMonitor(monitorToken_);
    if (qApp) qApp->removeEventFilter(this);
    if (captureTest_.joinable()) captureTest_.join();
    if (authService_) authService_->setObserver(nullptr);
    aboutPanel_.reset();
    delete mainWindow_;  // with its menu bar
    if (menuBar_ && !menuBar_->parent()) delete menuBar_.data();
}

void AppDelegate::applicationDidFinishLaunching() {
    installMainMenu();
    // The window, hot key and flags come regardless; without its port the window says so.
    const bool listening = controller_->start();
    createMainWindow();
    if (!listening) {
        const auto port = controller_->requestedPort();
        chatViewModel_->reportLoopbackUnavailable(
            "Corvane could not serve its local API on 127.0.0.1:" + std::to_string(port) + ": " +
            app::listenFailure(port, controller_->listenError()) +
            ". The Corvane plug-in and the test tools cannot reach Corvane until it is restarted with that port free.");
    }
    installGlobalHotkey();
    handleLaunchFlags();
    auto& accessibility = platform::accessibility();
    if (!accessibility.isProcessTrusted(false)) accessibility.isProcessTrusted(true);
}

void AppDelegate::applicationWillTerminate() { controller_->stop(); }

void AppDelegate::installMainMenu() {
    menuBar_ = new QMenuBar;
    auto* appMenu = menuBar_->addMenu(BundleInfo::kDisplayName);
    appMenu->addAction("About Corvane", this, [this] { showCustomAboutPanel(); });
    appMenu->addSeparator();
    appMenu->addAction("Check for Updates\u2026", this, [this] { updater_->checkForUpdates(); });
    appMenu->addSeparator();
    appMenu->addAction("Quit Corvane", QKeySequence(Qt::CTRL | Qt::Key_Q), this, [this] { terminate(); });

    auto* edit = menuBar_->addMenu("Edit");
    edit->addAction("Undo", QKeySequence(Qt::CTRL | Qt::Key_Z), [] { sendToFirstResponder("undo"); });
    edit->addAction("Redo", QKeySequence(Qt::SHIFT | Qt::CTRL | Qt::Key_Z), [] { sendToFirstResponder("redo"); });
    edit->addSeparator();
    edit->addAction("Cut", QKeySequence(Qt::CTRL | Qt::Key_X), [] { sendToFirstResponder("cut"); });
    edit->addAction("Copy", QKeySequence(Qt::CTRL | Qt::Key_C), [] { sendToFirstResponder("copy"); });
    edit->addAction("Paste", QKeySequence(Qt::CTRL | Qt::Key_V), [] { sendToFirstResponder("paste"); });
    edit->addAction("Select All", QKeySequence(Qt::CTRL | Qt::Key_A), [] { sendToFirstResponder("selectAll"); });

    auto* windowMenu = menuBar_->addMenu("Window");
    windowMenu->addAction("Minimize", QKeySequence(Qt::CTRL | Qt::Key_M), [] {
        if (QWidget* window = QApplication::activeWindow()) window->showMinimized();
    });
    windowMenu->addAction("Zoom", [] {
        if (QWidget* window = QApplication::activeWindow())
            window->isMaximized() ? window->showNormal() : window->showMaximized();
    });
    windowMenu->addSeparator();
    windowMenu->addAction("Bring All to Front", [] {
        for (QWidget* window : QApplication::topLevelWidgets())
            if (window->isVisible()) window->raise();
    });

    auto* help = menuBar_->addMenu("Help");
    auto addLink = [this, help](const char* title, const std::string& address) {
        QAction* action = help->addAction(title);
        action->setData(QString::fromStdString(address));
        connect(action, &QAction::triggered, this, [this, action] { openRepresentedURL(action); });
    };
    const std::string& site = options_.siteURL;
    addLink("Corvane Help", site);
    addLink("Report a Bug", std::string("mailto:") + BundleInfo::kSupportAddress + "?subject=Corvane%20Bug%20Report");
    help->addSeparator();
    addLink("Privacy Policy", site + "/privacy");
    addLink("Terms of Service", site + "/terms");
}

void AppDelegate::openRepresentedURL(const QAction* sender) {
    if (!sender) return;
    const QVariant represented = sender->data();
    if (represented.typeId() != QMetaType::QString) return;
    const QString text = represented.toString();
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || url.scheme().isEmpty()) return;
    openURL(text.toStdString());
}

void AppDelegate::openURL(const std::string& url) {
    const bool opened = options_.launchURL ? options_.launchURL(url)
                                           : QDesktopServices::openUrl(QUrl(QString::fromStdString(url)));
    if (opened) return;
    // Without a browser the link would do nothing at all: say so, with the address to copy.
    if (unopenedURLNotice_) unopenedURLNotice_->close();
    QMessageBox* notice = makeUnopenedURLNotice(url, mainWindow_);
    notice->setAttribute(Qt::WA_DeleteOnClose);
    notice->setWindowModality(Qt::NonModal);
    unopenedURLNotice_ = notice;
    notice->show();
}

QMessageBox* makeUnopenedURLNotice(const std::string& url, QWidget* parent) {
    auto* notice = new QMessageBox(QMessageBox::Warning, "Couldn't open the link",
                                   "No browser opened this address. Copy it and open it yourself:", QMessageBox::Ok,
                                   parent);
    useWindowPalette(notice);
    notice->setInformativeText(QString::fromStdString(url));
    notice->setTextInteractionFlags(Qt::TextSelectableByMouse);
    notice->setEscapeButton(notice->button(QMessageBox::Ok));  // two buttons: Escape needs telling
    QPushButton* copy = notice->addButton("Copy Address", QMessageBox::ActionRole);
    QObject::connect(copy, &QPushButton::clicked, notice,
                     [url] { QGuiApplication::clipboard()->setText(QString::fromStdString(url)); });
    return notice;
}

void AppDelegate::showCustomAboutPanel() {
    if (!aboutPanel_)
        aboutPanel_ = std::make_unique<AboutPanel>([this] { updater_->checkForUpdates(); }, BundleInfo::kShortVersion,
                                                   BundleInfo::kVersion);
    aboutPanel_->show();
}

void AppDelegate::createMainWindow() {
    authService_ = options_.makeAuthService ? options_.makeAuthService() : std::make_shared<networking::AuthService>();
    ChatViewModel::Environment environment{mainQueue_, timers_, *options_.userDefaults};
    chatViewModel_ = ChatViewModel::create(controller_->windowPorts(), environment);

    // The service is thread-safe, so the token is fetched on the asking thread; a turn never
    // waits for the UI thread.
    std::weak_ptr<networking::AuthService> weakAuth = authService_;
    controller_->backendChatService().setAuthTokenProvider(
        [weakAuth](std::stop_token stop) -> std::optional<std::string> {
            if (auto auth = weakAuth.lock()) return auth->getValidToken(std::move(stop));
            return std::nullopt;
        });
    // A token the backend refused ends the session here, and the sign-in form says why, unless it
    // can be renewed.
    controller_->backendChatService().setTokenRefusedHandler(
        [weakAuth](const std::string& token, std::stop_token stop) -> std::optional<std::string> {
            if (auto auth = weakAuth.lock()) return auth->tokenRefused(token, std::move(stop));
            return std::nullopt;
        });

    // The service has one observer slot and calls it on its own thread; the views that follow
    // sign-in hear of it on the UI thread.
    authService_->setObserver([this, alive = lifetime_.guard()] {
        mainQueue_.async([this, alive] {
            if (alive) authChanges_.notify();
        });
    });

    ShellViews views = options_.views ? options_.views(chatViewModel_, *authService_)
                                      : makeShellViews(chatViewModel_, *authService_, authChanges_,
                                                       [this](const std::string& url) { openURL(url); });
    rootView_ = makeCompanionRootView(
        chatViewModel_, *authService_, [this](const std::string& url) { openURL(url); }, options_.siteURL,
        std::move(views));

    auto* window = new QMainWindow;
    window->setWindowTitle("Corvane");
    window->setMinimumSize(600, 400);
    window->setMaximumSize(5000, 5000);
    QPalette palette = window->palette();
    palette.setColor(QPalette::Window, toQColor(CorvaneTheme::background));
    window->setPalette(palette);
    window->setAutoFillBackground(true);
    window->setAttribute(Qt::WA_DeleteOnClose, false);
    if (menuBar_) window->setMenuBar(menuBar_);
    window->setCentralWidget(makeAuthGate(
        *authService_, rootView_, options_.siteURL, [this](const std::string& url) { openURL(url); }, authChanges_));
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        window->setGeometry(screen->availableGeometry());
    else
        window->resize(1200, 800);
    mainWindow_ = window;
    window->show();
    bringMainWindowToFront();
}

// The application is activated even when there is no window yet.
void AppDelegate::bringMainWindowToFront() {
    platform::workspace().activateCurrentApplication(true);
    if (!mainWindow_) return;
    mainWindow_->show();
    if (mainWindow_->isMinimized()) mainWindow_->showNormal();
    mainWindow_->raise();
    mainWindow_->activateWindow();
    // Closed, the window let its focus go (activation hands it to the first control it finds):
    // what is typed next goes where the page takes it, unless a field has it already.
    QWidget* focus = mainWindow_->focusWidget();
    const bool typing = focus && focus->isVisible() && focus->testAttribute(Qt::WA_InputMethodEnabled);
    if (!typing && rootView_ && rootView_->isVisible()) rootView_->focusTypingPlace();
}

bool AppDelegate::isShowWindowHotKey(const platform::KeyEvent& event) {
    constexpr std::uint64_t kBoth = platform::modifier::kControl | platform::modifier::kOption;
    return event.keyDown && (event.flags & kBoth) == kBoth && event.virtualKey == kLKeyCode;
}

platform::KeyEvent AppDelegate::keyEventFromQt(const QKeyEvent& event) {
    platform::KeyEvent out;
    out.virtualKey = letterKeyCode(event.key());
    out.keyDown = event.type() == QEvent::KeyPress;
    const auto modifiers = event.modifiers();
    if (modifiers & Qt::ShiftModifier) out.flags |= platform::modifier::kShift;
    if (modifiers & Qt::ControlModifier) out.flags |= platform::modifier::kControl;
    if (modifiers & Qt::AltModifier) out.flags |= platform::modifier::kOption;
    if (modifiers & Qt::MetaModifier) out.flags |= platform::modifier::kCommand;
    return out;
}

void AppDelegate::handleKeyDown(const platform::KeyEvent& event) {
    if (!isShowWindowHotKey(event)) return;
    mainQueue_.async([this, alive = lifetime_.guard()] {
        if (alive) bringMainWindowToFront();
    });
}

void AppDelegate::installGlobalHotkey() {
    monitorToken_ = keyMonitor_.addGlobalMonitor([this](const platform::KeyEvent& event) { handleKeyDown(event); });
    // Presses in this program's own windows reach it as well.
    if (qApp) qApp->installEventFilter(this);
}

bool AppDelegate::eventFilter(QObject* watched, QEvent* event) {
    // Back in the chat window: another copy may have named chats meanwhile.
    if (event->type() == QEvent::WindowActivate && watched == mainWindow_ && chatViewModel_)
        chatViewModel_->reloadThreadTitles();
    if (event->type() == QEvent::KeyPress && watched->isWidgetType()) {
        const auto& pressed = *static_cast<QKeyEvent*>(event);
        // The menu's Quit answers in the chat window only; the program's other windows (the
        // simulated Logic Pro's, a turn's notice) quit on it as well.
        if (pressed.key() == Qt::Key_Q && (pressed.modifiers() & ~Qt::KeypadModifier) == Qt::ControlModifier &&
            static_cast<QWidget*>(watched)->window() != mainWindow_) {
            terminate();
            return true;
        }
        const auto key = keyEventFromQt(pressed);
        if (isShowWindowHotKey(key)) {
            handleKeyDown(key);
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

bool AppDelegate::hasFlag(const std::string& flag) const {
    for (const auto& argument : options_.arguments)
        if (argument == flag) return true;
    return false;
}

void AppDelegate::terminate() {
    if (options_.terminate) {
        options_.terminate();
        return;
    }
    QCoreApplication::quit();
}

void AppDelegate::handleLaunchFlags() {
    std::ostream& out = options_.out ? *options_.out : std::cout;
    if (hasFlag("--print-health")) {
        controller_->printHealth(out);
        terminate();
    } else if (hasFlag("--capture-test")) {
        captureTest_ = std::jthread([this, &out, alive = lifetime_.guard()] {
            const CaptureResponse response = controller_->capture(true);
            std::string text;
            try {
                text = jsonText(nlohmann::json(response), "");
            } catch (const std::exception&) {
                text.clear();
            }
            if (!text.empty()) out << text << '\n' << std::flush;
            mainQueue_.async([this, alive] {
                if (alive) terminate();
            });
        });
    }
}

}  // namespace corvane
