#include "app/simulated_host.h"

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "platform/standin/world.h"
#include "support/numbers.h"

namespace corvane::app {

// Moves the virtual clock with wall time in small steps until destroyed, which stops the wait
// between steps at once.
class SimulatedHost::Pacer {
public:
    explicit Pacer(standin::World& world)
        : thread_([&world](std::stop_token stop) {
              constexpr auto kStep = std::chrono::milliseconds(50);
              std::mutex mutex;
              std::condition_variable_any wake;
              std::unique_lock lock(mutex);
              for (;;) {
                  wake.wait_for(lock, stop, kStep, [] { return false; });  // one step, or the stop
                  if (stop.stop_requested()) return;
                  world.advance(std::chrono::duration<double>(kStep).count());
              }
          }) {}

private:
    std::jthread thread_;
};

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
    stopPacing();
    if (controller_) controller_->stop();
    controller_.reset();
    services_.reset();
}

standin::World& SimulatedHost::world() { return *world_; }
platform::KeyMonitor& SimulatedHost::keyMonitor() { return world_->keyMonitor(); }
platform::ScreenChanges& SimulatedHost::screenChanges() { return world_->screenChanges(); }
platform::ScreenCapture& SimulatedHost::screenCapture() { return world_->screenCapture(); }

void SimulatedHost::startPacing() {
    if (!pacer_) pacer_ = std::make_unique<Pacer>(*world_);
}

void SimulatedHost::stopPacing() { pacer_.reset(); }

}  // namespace corvane::app
