// corvane-backend: the chat backend and sign-in service for one machine. `corvane-backend --help`
// tells its commands and settings.

#include <signal.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <cstdlib>
#include <iostream>
#include <stdexcept>
#include <string>
#include <utility>

#include "backend/backend_service.h"
#include "http/http_server.h"
#include "support/app_paths.h"
#include "support/files.h"
#include "support/numbers.h"

using namespace corvane;

namespace {

constexpr const char* kUsage =
    "usage: corvane-backend [--port N]         serve on 127.0.0.1:N (default 51235) until SIGINT, SIGTERM or SIGHUP\n"
    "       corvane-backend add-user EMAIL     add an account, or give it a new password (read from stdin)\n"
    "       corvane-backend remove-user EMAIL  remove an account; its sessions end with it\n"
    "       corvane-backend --help             show this\n";

constexpr const char* kSettings =
    "\n"
    "Settings (environment):\n"
    "  CORVANE_BACKEND_HOME        data folder: accounts, sessions, error reports\n"
    "                              (default: \"Corvane Backend\" in the user's data folder)\n"
    "  CORVANE_BACKEND_APIKEY      the publishable key sign-in requests must carry (the app reads it too)\n"
    "  CORVANE_BACKEND_SCRIPT      script mode (the default): the chat script to answer from\n"
    "                              (default: Backend/demo-script.json in the resources folder)\n"
    "  CORVANE_RESOURCES           the resources folder: the default chat script, the model's instructions\n"
    "                              and tool definitions (default: \"resources\" in the source tree)\n"
    "  CORVANE_PROVIDER_URL        relay mode: an OpenAI-compatible Responses endpoint, https (plain http\n"
    "                              only to a loopback host); with CORVANE_PROVIDER_KEY set, chats are\n"
    "                              relayed there instead of answered from the script\n"
    "  CORVANE_PROVIDER_KEY        relay mode: the provider's key\n"
    "  CORVANE_PROVIDER_MODEL      relay mode: the model for standard chats (default: {standard})\n"
    "  CORVANE_PROVIDER_MODEL_PRO  relay mode: the model for pro chats (default: {pro})\n"
    "The port is --port; scripts/run takes it from CORVANE_BACKEND_PORT, and the app finds the\n"
    "backend through CORVANE_BACKEND_URL (default http://127.0.0.1:51235).\n";

int usage() {
    std::cerr << kUsage << "corvane-backend --help tells its settings.\n";
    return 2;
}

int help() {
    std::string settings = kSettings;
    const backend::RelayConfiguration defaults;
    for (const auto& [name, value] :
         {std::pair<std::string, std::string>{"{standard}", defaults.standardModel}, {"{pro}", defaults.proModel}}) {
        settings.replace(settings.find(name), name.size(), value);
    }
    std::cout << kUsage << settings;
    return 0;
}

std::unique_ptr<backend::ChatModel> makeModel(std::string& mode) {
    const auto resources = AppPaths::resourcesDirectory();
    if (auto relay = backend::RelayConfiguration::fromEnvironment()) {
        mode = "relay to " + relay->providerURL;
        return std::make_unique<backend::RelayModel>(*relay, resources);
    }
    const char* script = std::getenv("CORVANE_BACKEND_SCRIPT");
    const std::filesystem::path file = script != nullptr && *script != '\0'
                                           ? std::filesystem::path(script)
                                           : resources / "Backend" / "demo-script.json";
    mode = "script " + file.string();
    return backend::ScriptedModel::fromFile(file);
}

backend::BackendOptions options() {
    backend::BackendOptions result;
    result.dataFolder = backend::BackendService::defaultDataFolder();
    if (const char* key = std::getenv("CORVANE_BACKEND_APIKEY"); key != nullptr && *key != '\0') {
        result.publishableKey = key;
    }
    return result;
}

int addUser(const std::string& email) {
    std::string password;
    std::getline(std::cin, password);
    if (!password.empty() && password.back() == '\r') password.pop_back();
    if (password.empty()) {
        std::cerr << "corvane-backend: no password on standard input\n";
        return 1;
    }
    backend::AccountStore accounts(options().dataFolder);
    if (!accounts.addUser(email, password)) {
        std::cerr << "corvane-backend: could not add " << email << "\n";
        return 1;
    }
    std::cout << "added " << email << "\n";
    return 0;
}

int removeUser(const std::string& email) {
    backend::AccountStore accounts(options().dataFolder);
    if (!accounts.removeUser(email)) {
        std::cerr << "corvane-backend: no account " << email << " could be removed\n";
        return 1;
    }
    std::cout << "removed " << email << "\n";
    return 0;
}

int serve(std::uint16_t port) {
#if defined(__GLIBC__)
    // Bodies of up to 64 MiB come and go on any of the workers: allocated from the system and handed
    // back at once, not kept in whichever thread's arena freed one last (raised by a large free,
    // the default bound leaves them there).
    mallopt(M_MMAP_THRESHOLD, 1024 * 1024);
#endif
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);  // a closed terminal ends it as SIGTERM does, not mid-write
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);  // before any thread starts, so all inherit it

    http::raiseOpenFilesLimit();  // the connection bound counts within it
    std::string mode;
    backend::BackendService service(options(), makeModel(mode));
    http::HTTPServer server(
        port, [&service](const http::HTTPRequest& request) { return service.handle(request); },
        service.serverOptions());
    if (!server.start()) {
        throw std::runtime_error("bind 127.0.0.1:" + std::to_string(port) + ": " +
                                 server.listenError().value_or("unknown error"));
    }
    std::cout << "corvane-backend listening on http://127.0.0.1:" << server.boundPort() << " (" << mode << ")"
              << std::endl;
    int received = 0;
    sigwait(&signals, &received);
    server.stop();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    refuseWritesPastFileSizeLimit();
    try {
        const std::string first = argc > 1 ? argv[1] : "";
        if (first == "--help" || first == "-h") return argc == 2 ? help() : usage();
        if (first == "add-user") return argc == 3 ? addUser(argv[2]) : usage();
        if (first == "remove-user") return argc == 3 ? removeUser(argv[2]) : usage();
        std::uint16_t port = backend::BackendOptions::kDefaultPort;
        if (first == "--port" && argc == 3) {
            const auto chosen = readInteger(argv[2]);
            if (!chosen || *chosen < 0 || *chosen > 65535) return usage();
            port = static_cast<std::uint16_t>(*chosen);
        } else if (argc != 1) {
            return usage();
        }
        return serve(port);
    } catch (const std::exception& error) {
        std::cerr << "corvane-backend: " << error.what() << "\n";
        return 1;
    }
}
