#pragma once

// The composition root on Linux: the simulated Logic Pro installed as the platform services and
// the companion controller in front of it, for the windowed and the headless entry alike.
//
// The programs run the simulated world on the wall clock, so that its transport plays, its
// analysis plug-ins post and the agent's pauses last as they would in real life.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/companion_controller.h"
#include "platform/key_monitor.h"
#include "platform/main_queue.h"
#include "platform/platform.h"
#include "platform/screen_changes.h"
#include "platform/standin/clock_mode.h"
#include "platform/workspace.h"

namespace corvane::standin {
class World;
}

namespace corvane::app {

struct SimulatedHostOptions {
    std::string scenarioPath;                  // the simulated project's scenario file
    std::uint16_t port = 51234;                // of the loopback API
    platform::MainQueue* mainQueue = nullptr;  // the UI thread's queue; null: one on a thread of its own
    standin::ClockMode clock = standin::ClockMode::wall;
};

// The applications of the simulated desktop that have a real window on this one.
enum class DesktopApplication { logicPro, corvane };

class SimulatedHost {
public:
    using Options = SimulatedHostOptions;
    using FrontmostObserver = std::function<void(DesktopApplication)>;
    // How many of the simulated Logic Pro's most recent events the running programs keep.
    static constexpr std::size_t kEventLogLimit = 10'000;

    // CORVANE_SCENARIO, else the demo song.
    static std::string scenarioPathFromEnvironment();
    // CORVANE_PORT, else 51234; absent when it is not a port number from 1 to 65535.
    static std::optional<std::uint16_t> portFromEnvironment();
    // What `--help` prints, for corvane and corvane-headless alike: their options and every
    // setting they read from the environment.
    static std::string helpText();
    // Its usage and options alone: what a refused command line is answered with.
    static std::string usageText();
    // The refusal of the first argument that is none of `known`; absent when each is one.
    static std::optional<std::string> argumentError(const std::vector<std::string>& arguments,
                                                    const std::vector<std::string>& known);

    // Loads the scenario (throws std::invalid_argument when it cannot), installs the services and
    // creates the controller, not yet listening.
    explicit SimulatedHost(const Options& options);
    // Drops the controller (waiting for its requests and stores), then restores the services
    // installed before.
    ~SimulatedHost();
    SimulatedHost(const SimulatedHost&) = delete;
    SimulatedHost& operator=(const SimulatedHost&) = delete;

    const std::shared_ptr<CompanionController>& controller() const { return controller_; }
    standin::World& world();  // for tests
    platform::KeyMonitor& keyMonitor();
    platform::ScreenChanges& screenChanges();
    platform::ScreenCapture& screenCapture();

    // The user brought that application's window forward: the simulated workspace makes it
    // frontmost, as a click on an application's window does (Logic Pro only while it runs).
    void userActivated(DesktopApplication application);
    // Called on the main queue whenever the simulated workspace makes one of them frontmost (the
    // agent activating Logic Pro, Corvane activating itself), so that its window can come forward.
    platform::Workspace::ObserverToken observeFrontmost(FrontmostObserver observer);
    void stopObservingFrontmost(platform::Workspace::ObserverToken token);

private:
    std::unique_ptr<standin::World> world_;
    std::unique_ptr<platform::ScopedServices> services_;
    std::shared_ptr<CompanionController> controller_;
};

}  // namespace corvane::app
