// The application entry, headless: the companion controller with its stores and loopback server on
// 127.0.0.1:51234, in front of the simulated Logic Pro. Runs until SIGINT or SIGTERM.
//
// The stand-in's clock is virtual; here a pacer moves it along with wall time, so its transport
// plays and its analysis plug-ins post as they would in real life.

#include <pthread.h>
#include <signal.h>

#include <charconv>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "app/companion_controller.h"
#include "networking/auth_service.h"
#include "platform/log.h"
#include "platform/platform.h"
#include "platform/standin/world.h"
#include "support/app_paths.h"

namespace {

using namespace corvane;

bool hasFlag(int argc, char** argv, const std::string& flag) {
    for (int i = 1; i < argc; ++i)
        if (flag == argv[i]) return true;
    return false;
}

// The simulated project: CORVANE_SCENARIO names a scenario file, else the demo song.
std::unique_ptr<standin::World> loadWorld() {
    const char* chosen = std::getenv("CORVANE_SCENARIO");
    const std::string path =
        chosen && *chosen ? chosen : std::string(CORVANE_SOURCE_DIR) + "/resources/Scenarios/demo-song.json";
    return standin::World::fromFile(path);
}

// CORVANE_PORT moves the loopback API off 51234; anything but a port number is refused.
std::optional<std::uint16_t> configuredPort() {
    const char* text = std::getenv("CORVANE_PORT");
    if (!text || !*text) return app::CompanionController::Options{}.port;
    std::uint32_t port = 0;
    const char* end = text + std::strlen(text);
    auto [stop, error] = std::from_chars(text, end, port);
    if (error != std::errc() || stop != end || port == 0 || port > 65535) return std::nullopt;
    return static_cast<std::uint16_t>(port);
}

// Moves the virtual clock with wall time in small steps until stopped.
class Pacer {
public:
    explicit Pacer(standin::World& world)
        : thread_([this, &world] {
              constexpr auto kStep = std::chrono::milliseconds(50);
              std::unique_lock lock(mutex_);
              while (!stopped_) {
                  if (wake_.wait_for(lock, kStep, [&] { return stopped_; })) break;
                  lock.unlock();
                  world.advance(std::chrono::duration<double>(kStep).count());
                  lock.lock();
              }
          }) {}
    ~Pacer() {
        {
            std::lock_guard lock(mutex_);
            stopped_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }

private:
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopped_ = false;
    std::thread thread_;
};

}  // namespace

int main(int argc, char** argv) {
    if (hasFlag(argc, argv, "--version")) {
        std::printf("Corvane %s\n", CORVANE_VERSION);
        return 0;
    }

    // Every thread started from here on leaves SIGINT and SIGTERM to sigwait below.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    std::unique_ptr<standin::World> world;
    try {
        world = loadWorld();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "Corvane: cannot load the simulated project: %s\n", error.what());
        return 1;
    }
    platform::ScopedServices services(world->services());
    log("Corvane " CORVANE_VERSION " started; application folder " + AppPaths::appSupportDirectory().string());

    const auto port = configuredPort();
    if (!port) {
        std::fprintf(stderr, "Corvane: CORVANE_PORT must be a port number from 1 to 65535\n");
        return 2;
    }
    // The sign-in session kept in the application folder: without its token every agent turn,
    // a test turn included, fails. Declared first, so that it outlives the controller.
    networking::AuthService auth;
    app::CompanionController::Options options;
    options.port = *port;
    auto controller = app::CompanionController::create(options);
    controller->backendChatService().setAuthTokenProvider([&auth] { return auth.getValidToken(); });
    const bool listening = controller->start();

    if (hasFlag(argc, argv, "--print-health")) {
        controller->printHealth(std::cout);
        controller->stop();
        return 0;
    }
    // Without its port the program would run with no API at all: say so and stop.
    if (!listening) {
        std::fprintf(stderr, "Corvane: cannot serve the loopback API: %s\n", controller->listenError().c_str());
        return 2;
    }

    int signal = 0;
    {
        Pacer pacer(*world);
        sigwait(&stopSignals, &signal);
    }
    log("Corvane stopping on signal " + std::to_string(signal));
    controller->stop();
    // The stores write each change through before answering; dropping the controller waits for
    // the requests still running and for the stores' queues.
    controller.reset();
    return 0;
}
