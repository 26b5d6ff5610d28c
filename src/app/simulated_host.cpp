#include "app/simulated_host.h"

#include <cstdlib>

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
