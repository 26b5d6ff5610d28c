// The application entry without a window (corvane-headless): the companion controller with its
// stores and loopback server on 127.0.0.1:51234, in front of the simulated Logic Pro. Runs until
// SIGINT, SIGTERM or SIGHUP; a second one ends it at once.

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/port_holder.h"
#include "app/simulated_host.h"
#include "networking/auth_service.h"
#include "networking/keychain_store.h"
#include "platform/log.h"
#include "support/app_paths.h"
#include "support/files.h"

namespace {

using namespace corvane;

bool hasFlag(int argc, char** argv, const std::string& flag) {
    for (int i = 1; i < argc; ++i)
        if (flag == argv[i]) return true;
    return false;
}

// A terminal closed ends the program as SIGTERM does, unless it was started to outlive its
// terminal (nohup ignores SIGHUP for it).
bool hangUpIgnored() {
    struct sigaction current {};
    return sigaction(SIGHUP, nullptr, &current) == 0 && current.sa_handler == SIG_IGN;
}

// The first signal ends the program in order; one more ends it at once, as a kill would. What was
// acknowledged is on disk already (the stores write through before answering), and a write cut
// short leaves a temporary file that the next start sweeps.
void endAtOnceOnAnotherSignal(const sigset_t& signals) {
    std::thread([signals] {
        int signal = 0;
        if (sigwait(&signals, &signal) != 0) return;
        // No log(): the main thread may be tearing down what it uses.
        const std::string told = "Corvane: ending at once on a second signal (" + std::to_string(signal) + ")\n";
        [[maybe_unused]] const auto written = ::write(STDERR_FILENO, told.data(), told.size());
        std::_Exit(128 + signal);
    }).detach();
}

}  // namespace

int main(int argc, char** argv) {
    if (const auto refused = app::SimulatedHost::argumentError(std::vector<std::string>(argv + 1, argv + argc),
                                                               {"--help", "--version", "--print-health"})) {
        std::fprintf(stderr, "corvane-headless: %s\n%s", refused->c_str(), app::SimulatedHost::usageText().c_str());
        return 2;
    }
    if (hasFlag(argc, argv, "--help")) {
        std::fputs(app::SimulatedHost::helpText().c_str(), stdout);
        return 0;
    }
    if (hasFlag(argc, argv, "--version")) {
        std::printf("Corvane %s\n", CORVANE_VERSION);
        return 0;
    }

    refuseWritesPastFileSizeLimit();
    // Every thread started from here on leaves the signals that end the program to sigwait below.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    if (!hangUpIgnored()) sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    const auto port = app::SimulatedHost::portFromEnvironment();
    if (!port) {
        std::fprintf(stderr, "Corvane: CORVANE_PORT must be a port number from 1 to 65535\n");
        return 2;
    }
    // The sign-in session kept in the application folder: without its token every agent turn,
    // a test turn included, fails. Declared first, so that it outlives the controller.
    networking::AuthService auth;
    std::unique_ptr<app::SimulatedHost> host;
    try {
        host = std::make_unique<app::SimulatedHost>(
            app::SimulatedHost::Options{app::SimulatedHost::scenarioPathFromEnvironment(), *port, nullptr});
    } catch (const std::exception& error) {
        std::fprintf(stderr, "Corvane: cannot load the simulated project: %s\n", error.what());
        return 1;
    }
    log("Corvane " CORVANE_VERSION " started; application folder " + AppPaths::appSupportDirectory().string());

    auto& controller = *host->controller();
    controller.backendChatService().setAuthTokenProvider([&auth](std::stop_token stop) {
        auto token = auth.getValidToken(std::move(stop));
        // No window here to sign in with: the turn says where it is done.
        if (!token)
            throw networking::AuthService::NoOneSignedIn(
                "Sign in with Corvane's window (scripts/run), which stores the session in " +
                networking::KeychainStore::storeURL().string() + " for this program too.");
        return token;
    });
    controller.backendChatService().setTokenRefusedHandler(
        [&auth](const std::string& token, std::stop_token stop) { return auth.tokenRefused(token, std::move(stop)); });
    const bool listening = controller.start();
    if (hasFlag(argc, argv, "--print-health")) {
        controller.printHealth(std::cout);
        return 0;
    }
    // Without its port the program would run with no API at all: say so and stop.
    if (!listening) {
        std::fprintf(stderr, "Corvane: cannot serve the loopback API on 127.0.0.1:%u: %s\n", unsigned{*port},
                     app::listenFailure(*port, controller.listenError()).c_str());
        return 2;
    }

    int signal = 0;
    sigwait(&stopSignals, &signal);
    log("Corvane stopping on signal " + std::to_string(signal));
    endAtOnceOnAnotherSignal(stopSignals);
    // The stores write each change through before answering; dropping the host waits for the
    // requests still running and for the stores' queues.
    host.reset();
    return 0;
}
