// The application entry with its window (corvane): the simulated Logic Pro and the controller
// from the composition root, the application delegate with the chat window, and the simulated
// Logic Pro's own window beside it. Without a display it says so and points to corvane-headless.

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>
#include <QApplication>
#include <QPalette>
#include <QScreen>
#include <QSocketNotifier>
#include <QStyleFactory>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "app/simulated_host.h"
#include "networking/auth_service.h"
#include "networking/update_check.h"
#include "platform/log.h"
#include "support/files.h"
#include "widgets/agent_overlay.h"
#include "widgets/app_delegate.h"
#include "widgets/logic_pro_window.h"
#include "widgets/qt_main_queue.h"
#include "widgets/window_activation.h"

namespace {

using namespace corvane;

bool hasFlag(const std::vector<std::string>& arguments, const std::string& flag) {
    for (const auto& argument : arguments)
        if (argument == flag) return true;
    return false;
}

bool isSet(const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
}

void applyDarkAppearance(QApplication& application) {
    application.setStyle(QStyleFactory::create("Fusion"));
    QPalette palette;
    const QColor window(18, 18, 22);
    const QColor base(26, 26, 32);
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::WindowText, Qt::white);
    palette.setColor(QPalette::Base, base);
    palette.setColor(QPalette::AlternateBase, QColor(32, 32, 40));
    palette.setColor(QPalette::Text, Qt::white);
    palette.setColor(QPalette::Button, QColor(32, 32, 40));
    palette.setColor(QPalette::ButtonText, Qt::white);
    palette.setColor(QPalette::ToolTipBase, base);
    palette.setColor(QPalette::ToolTipText, Qt::white);
    palette.setColor(QPalette::Highlight, QColor(80, 110, 240));
    palette.setColor(QPalette::HighlightedText, Qt::white);
    palette.setColor(QPalette::PlaceholderText, QColor(255, 255, 255, 100));
    application.setPalette(palette);
}

// SIGINT, SIGTERM and SIGHUP end the program through the normal termination path: the handler only
// writes a byte, which the event loop reads.
int gSignalPipe[2] = {-1, -1};

void onStopSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(gSignalPipe[1], &byte, 1);
}

void quitOnStopSignals(QApplication& application) {
    if (::pipe2(gSignalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    auto* notifier = new QSocketNotifier(gSignalPipe[0], QSocketNotifier::Read, &application);
    QObject::connect(notifier, &QSocketNotifier::activated, &application, [] { QCoreApplication::quit(); });
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // A closed terminal too, unless the program was started to outlive it (nohup).
    struct sigaction hangUp {};
    if (sigaction(SIGHUP, nullptr, &hangUp) == 0 && hangUp.sa_handler != SIG_IGN) sigaction(SIGHUP, &action, nullptr);
}

std::string feedURL(const std::string& siteURL) {
    const char* chosen = std::getenv("CORVANE_UPDATE_FEED_URL");
    return chosen && *chosen ? chosen : siteURL + networking::UpdateCheckConfiguration::kFeedPath;
}

}  // namespace

int main(int argc, char** argv) {
    const auto started = std::chrono::steady_clock::now();
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    // Before any display is needed.
    if (hasFlag(arguments, "--help")) {
        std::fputs(app::SimulatedHost::helpText().c_str(), stdout);
        return 0;
    }
    if (hasFlag(arguments, "--version")) {
        std::printf("Corvane %s (%s)\n", BundleInfo::kShortVersion, BundleInfo::kVersion);
        return 0;
    }
    // The port first: the advice below names the one this setting would serve on.
    const auto port = app::SimulatedHost::portFromEnvironment();
    if (!port) {
        std::fprintf(stderr, "Corvane: CORVANE_PORT must be a port number from 1 to 65535\n");
        return 2;
    }
    if (!isSet("QT_QPA_PLATFORM") && !isSet("DISPLAY") && !isSet("WAYLAND_DISPLAY")) {
        std::fprintf(stderr,
                     "Corvane: no display found (DISPLAY and WAYLAND_DISPLAY are not set), so the window cannot "
                     "open.\nRun corvane-headless instead: it serves the loopback API on 127.0.0.1:%u in front "
                     "of the simulated Logic Pro without a window.\n",
                     unsigned{*port});
        return 1;
    }

    QApplication application(argc, argv);
    // What Qt took for itself (-platform, -style …) is gone from argv by now.
    if (const auto refused = app::SimulatedHost::argumentError(std::vector<std::string>(argv + 1, argv + argc),
                                                               {"--help", "--version", "--print-health", "--capture-test"})) {
        std::fprintf(stderr, "corvane: %s\n%s", refused->c_str(), app::SimulatedHost::usageText().c_str());
        return 2;
    }
    // QApplication takes the whole locale from the environment; numbers written and read as text
    // (JSON, tool arguments, logs) must not follow a decimal comma.
    std::setlocale(LC_NUMERIC, "C");
    QApplication::setApplicationName("Corvane");
    QApplication::setApplicationDisplayName("Corvane");
    // Closing the window hides it; the hot key or the Logic Pro window brings it back.
    QApplication::setQuitOnLastWindowClosed(false);
    applyDarkAppearance(application);
    quitOnStopSignals(application);
    refuseWritesPastFileSizeLimit();

    QtMainQueue mainQueue;
    std::unique_ptr<app::SimulatedHost> host;
    try {
        host = std::make_unique<app::SimulatedHost>(
            app::SimulatedHost::Options{app::SimulatedHost::scenarioPathFromEnvironment(), *port, &mainQueue});
    } catch (const std::exception& error) {
        std::fprintf(stderr, "Corvane: cannot load the simulated project: %s\n", error.what());
        return 1;
    }
    log(std::string("Corvane ") + BundleInfo::kShortVersion + " started with its window");

    const std::string siteURL = networking::BackendConfiguration::fromEnvironment().siteURL;
    networking::UpdateCheckConfiguration updates{feedURL(siteURL), BundleInfo::kDisplayName, BundleInfo::kShortVersion,
                                                 BundleInfo::kVersion};
    auto updater = std::make_unique<FeedUpdater>(networking::UpdateChecker(updates), mainQueue);
    FeedUpdater& feedUpdater = *updater;

    AppDelegate::Options options;
    options.arguments = arguments;
    options.siteURL = siteURL;
    auto delegate = std::make_unique<AppDelegate>(host->controller(), std::move(updater), host->keyMonitor(), mainQueue,
                                                  mainQueue, std::move(options));

    const bool flagged = hasFlag(arguments, "--print-health") || hasFlag(arguments, "--capture-test");
    std::unique_ptr<LogicProWindow> logicWindow;
    std::shared_ptr<AgentOverlay> overlay;
    std::unique_ptr<WindowActivation> activation;
    QTimer::singleShot(0, delegate.get(), [&] {
        delegate->applicationDidFinishLaunching();
        if (flagged) return;
        feedUpdater.start(mainQueue);
        logicWindow = std::make_unique<LogicProWindow>(host->screenCapture(), host->screenChanges(), mainQueue);
        // Side by side, so that what the agent does in Logic Pro can be watched while chatting:
        // the chat window keeps the right-hand part of the screen, wide enough not to be compact.
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            const QRect available = screen->availableGeometry();
            const int chatWidth = std::min(available.width(), std::max(800, available.width() * 45 / 100));
            const QRect logicArea(available.left(), available.top(), available.width() - chatWidth, available.height());
            if (logicArea.width() >= logicWindow->minimumWidth()) {
                delegate->mainWindow()->setGeometry(available.adjusted(logicArea.width(), 0, 0, 0));
                logicWindow->setGeometry(logicArea);
            } else {
                logicWindow->resize(logicWindow->sizeHint());
            }
        } else {
            logicWindow->resize(logicWindow->sizeHint());
        }
        logicWindow->show();
        // The notice over Logic Pro covers its screen where this desktop shows it.
        overlay = installAgentOverlay(mainQueue, [&logicWindow](platform::Rect frame) {
            return logicWindow ? logicWindow->toDesktop(frame) : std::nullopt;
        });
        activation = std::make_unique<WindowActivation>(*host, *logicWindow, *delegate->mainWindow());
        delegate->mainWindow()->raise();
        delegate->mainWindow()->activateWindow();
        if (isSet("CORVANE_REPORT_STARTUP"))
            // Once the events of the showing (layout, first paint) have been handled.
            QTimer::singleShot(0, [started] {
                const auto shown =
                    std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started);
                std::fprintf(stderr, "Corvane: window shown after %.0f ms\n", shown.count());
            });
    });
    const int status = application.exec();

    // The delegate stopped the listener on the way out. The view model and the controller hold
    // each other for the life of the process, so nothing more is torn down: the stores wrote
    // every change through when it was made.
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(status);
}
