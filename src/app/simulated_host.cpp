#include "app/simulated_host.h"

#include <algorithm>
#include <cstdlib>

#include "networking/auth_service.h"
#include "networking/update_check.h"
#include "platform/standin/world.h"
#include "support/numbers.h"

namespace corvane::app {

std::string SimulatedHost::scenarioPathFromEnvironment() {
    const char* chosen = std::getenv("CORVANE_SCENARIO");
    return chosen && *chosen ? chosen : std::string(CORVANE_SOURCE_DIR) + "/resources/Scenarios/demo-song.json";
}

std::optional<std::uint16_t> SimulatedHost::portFromEnvironment() {
    const char* text = std::getenv("CORVANE_PORT");
    if (!text || !*text) return CompanionController::kServerPort;
    const auto port = readInteger(text);
    if (!port || *port < 1 || *port > 65535) return std::nullopt;
    return static_cast<std::uint16_t>(*port);
}

std::string SimulatedHost::usageText() {
    return "usage: corvane [OPTION]           Corvane's window, beside the simulated Logic Pro's (needs a display)\n"
           "       corvane-headless [OPTION]  the same without a window: the loopback API alone, until SIGINT,\n"
           "                                  SIGTERM or SIGHUP (a second one ends it at once)\n"
           "\n"
           "Options:\n"
           "  --print-health  print the health answer and exit\n"
           "  --capture-test  corvane only: capture the simulated Logic Pro, print the answer and exit\n"
           "  --version       print the version and exit\n"
           "  --help          show this and exit\n";
}

std::optional<std::string> SimulatedHost::argumentError(const std::vector<std::string>& arguments,
                                                        const std::vector<std::string>& known) {
    for (const auto& argument : arguments) {
        if (std::find(known.begin(), known.end(), argument) != known.end()) continue;
        return (argument.starts_with('-') ? "unknown option '" : "unexpected argument '") + argument + "'";
    }
    return std::nullopt;
}

std::string SimulatedHost::helpText() {
    const networking::BackendConfiguration defaults;
    return usageText() +
           "\n"
           "Settings (environment):\n"
           "  CORVANE_HOME             the application folder: chats, notes, logs, the sign-in session\n"
           "                           (default: \"Corvane\" in XDG_DATA_HOME, else in ~/.local/share)\n"
           "  XDG_DATA_HOME            where the application folder is, without CORVANE_HOME\n"
           "  CORVANE_PORT             the loopback API's port on 127.0.0.1 (default " +
           std::to_string(CompanionController::kServerPort) +
           ")\n"
           "  CORVANE_SCENARIO         the simulated project's scenario file\n"
           "                           (default: resources/Scenarios/demo-song.json in the source tree)\n"
           "  CORVANE_RESOURCES        the resources folder with the plug-in maps (default: \"resources\" in the\n"
           "                           source tree)\n"
           "  CORVANE_BACKEND_URL      the chat backend and sign-in service (default " +
           defaults.baseURL +
           ")\n"
           "  CORVANE_BACKEND_APIKEY   the publishable key sign-in requests carry (default: corvane-backend's)\n"
           "  CORVANE_UPDATE_FEED_URL  corvane only: the feed \"Check for Updates…\" reads\n"
           "                           (default " +
           defaults.siteURL + networking::UpdateCheckConfiguration::kFeedPath +
           ")\n"
           "  CORVANE_REPORT_STARTUP   corvane only: when set, say on standard error how long the window took to\n"
           "                           show\n";
}

SimulatedHost::SimulatedHost(const Options& options) {
    standin::World::Options worldOptions;
    worldOptions.mainQueue = options.mainQueue;
    worldOptions.clock = options.clock;
    // Every health check is logged; a program that runs for weeks keeps only the recent past.
    worldOptions.eventLogLimit = kEventLogLimit;
    world_ = standin::World::fromFile(options.scenarioPath, worldOptions);
    // The simulated analysis plug-ins post where this host listens, not to the default port.
    if (options.port != 0) world_->updateFaults([&](standin::Faults& faults) { faults.analysisPort = options.port; });
    services_ = std::make_unique<platform::ScopedServices>(world_->services());
    CompanionController::Options controllerOptions;
    controllerOptions.port = options.port;
    controller_ = CompanionController::create(controllerOptions);
}

SimulatedHost::~SimulatedHost() {
    if (controller_) controller_->shutdown();
    controller_.reset();
    services_.reset();
}

standin::World& SimulatedHost::world() { return *world_; }
platform::KeyMonitor& SimulatedHost::keyMonitor() { return world_->keyMonitor(); }
platform::ScreenChanges& SimulatedHost::screenChanges() { return world_->screenChanges(); }
platform::ScreenCapture& SimulatedHost::screenCapture() { return world_->screenCapture(); }

void SimulatedHost::userActivated(DesktopApplication application) {
    if (application == DesktopApplication::corvane) {
        world_->setFrontmost(world_->selfPid());
    } else if (world_->logicRunning()) {
        world_->setFrontmost(world_->logicPid());
    }
}

platform::Workspace::ObserverToken SimulatedHost::observeFrontmost(FrontmostObserver observer) {
    standin::World* world = world_.get();
    return world_->workspace().addObserver(
        platform::WorkspaceNotification::didActivateApplication,
        [world, observer = std::move(observer)](const platform::RunningApplication& application) {
            // Delivered later on the main queue: only the application still frontmost comes forward.
            if (world->frontmostPid() != application.processIdentifier) return;
            if (application.processIdentifier == world->selfPid()) {
                observer(DesktopApplication::corvane);
            } else if (application.processIdentifier == world->logicPid()) {
                observer(DesktopApplication::logicPro);
            }
        });
}

void SimulatedHost::stopObservingFrontmost(platform::Workspace::ObserverToken token) {
    world_->workspace().removeObserver(token);
}

}  // namespace corvane::app
