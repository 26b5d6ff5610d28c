#pragma once

// The application delegate: owns what lives for the whole process (the controller, the updater,
// the main window with its view model and sign-in service, the About panel) and runs the launch
// sequence: menus, local server, window, global hot key, launch flags, Accessibility prompt.

#include <QMainWindow>
#include <QMessageBox>
#include <QMenuBar>
#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "app/companion_controller.h"
#include "networking/auth_service.h"
#include "platform/key_monitor.h"
#include "platform/lifetime.h"
#include "platform/main_queue.h"
#include "platform/main_timers.h"
#include "support/user_defaults.h"
#include "ui/chat_view_model.h"
#include "widgets/about_panel.h"
#include "widgets/banners.h"
#include "widgets/shell_views.h"
#include "widgets/updater.h"
#include "widgets/window_shell.h"

class QKeyEvent;

namespace corvane {

// What the application's property list holds elsewhere.
struct BundleInfo {
    static constexpr const char* kDisplayName = "Corvane";
    static constexpr const char* kShortVersion = CORVANE_VERSION;  // the project version, 0.1.2
    static constexpr const char* kVersion = CORVANE_BUILD_NUMBER;  // the build, 3
    static constexpr const char* kSupportAddress = "support@corvane.app";
};

// What the window shows when no browser took an address: the address, to copy.
QMessageBox* makeUnopenedURLNotice(const std::string& url, QWidget* parent = nullptr);

struct AppDelegateOptions {
    std::vector<std::string> arguments;  // the process's, searched for the launch flags
    std::string siteURL = "https://corvane.app";
    // Hands an address to a browser or mail program; whether one took it. Null: the desktop's
    // default one. When none takes it, the window says so and shows the address to copy.
    std::function<bool(const std::string& url)> launchURL;
    std::function<void()> terminate;  // the normal termination path; null: the application quits
    std::ostream* out = nullptr;      // where the launch flags print; null: standard output
    // The other parts' views; null: makeShellViews.
    std::function<ShellViews(const std::shared_ptr<ChatViewModel>&, networking::AuthService&)> views;
    // The sign-in service; null: the one of the environment's backend configuration.
    std::function<std::shared_ptr<networking::AuthService>()> makeAuthService;
    UserDefaults* userDefaults = nullptr;  // null: the application folder's file
};

class AppDelegate : public QObject {
public:
    using Options = AppDelegateOptions;

    AppDelegate(std::shared_ptr<app::CompanionController> controller, std::unique_ptr<Updater> updater,
                platform::KeyMonitor& keyMonitor, platform::MainQueue& mainQueue, platform::MainTimers& timers,
                Options options);
    ~AppDelegate() override;

    // The launch sequence, once the event loop runs.
    void applicationDidFinishLaunching();
    // Stops the local server's listener; nothing else is flushed or waited for.
    void applicationWillTerminate();

    void showCustomAboutPanel();
    // Opens the text the action carries as its data; nothing for anything else.
    void openRepresentedURL(const QAction* sender);
    // The global monitor's handler: Control+Option+L (any other modifiers too) shows the window.
    void handleKeyDown(const platform::KeyEvent& event);
    static bool isShowWindowHotKey(const platform::KeyEvent& event);
    // A key press of one of this program's own windows, as the global monitor would report it.
    static platform::KeyEvent keyEventFromQt(const QKeyEvent& event);

    QMainWindow* mainWindow() const { return mainWindow_; }
    // The notice of the last address no browser took, while it is open.
    QMessageBox* unopenedURLNotice() const { return unopenedURLNotice_; }
    QMenuBar* mainMenu() const { return menuBar_; }
    QWidget* aboutPanel() const { return aboutPanel_ ? aboutPanel_->window() : nullptr; }
    CompanionRootView* rootView() const { return rootView_; }
    const std::shared_ptr<ChatViewModel>& chatViewModel() const { return chatViewModel_; }
    const std::shared_ptr<networking::AuthService>& authService() const { return authService_; }
    const std::shared_ptr<app::CompanionController>& controller() const { return controller_; }
    Updater& updater() { return *updater_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void installMainMenu();
    void createMainWindow();
    void installGlobalHotkey();
    void handleLaunchFlags();
    bool hasFlag(const std::string& flag) const;
    void terminate();
    void openURL(const std::string& url);
    void bringMainWindowToFront();

    std::shared_ptr<app::CompanionController> controller_;
    std::unique_ptr<Updater> updater_;
    platform::KeyMonitor& keyMonitor_;
    platform::MainQueue& mainQueue_;
    platform::MainTimers& timers_;
    Options options_;
    std::unique_ptr<UserDefaults> ownedDefaults_;
    platform::Lifetime lifetime_;  // posted work checks it on the UI thread

    QPointer<QMainWindow> mainWindow_;
    QPointer<QMessageBox> unopenedURLNotice_;
    QPointer<QMenuBar> menuBar_;
    std::shared_ptr<ChatViewModel> chatViewModel_;
    std::shared_ptr<networking::AuthService> authService_;
    std::unique_ptr<AboutPanel> aboutPanel_;
    AuthChangeFanout authChanges_;
    CompanionRootView* rootView_ = nullptr;
    platform::KeyMonitor::Token monitorToken_ = 0;
    std::jthread captureTest_;
};

}  // namespace corvane
