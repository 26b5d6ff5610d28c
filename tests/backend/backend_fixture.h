#pragma once

// corvane-backend's real service on a loopback port, in-process, and a scripted server for
// answers the real one never gives.

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include <sodium.h>

#include "backend/backend_service.h"
#include "http/http_message.h"
#include "http/http_server.h"
#include "support/app_paths.h"
#include "support/files.h"
#include "test_support/manual_clock.h"

namespace corvane::testing {

inline std::unique_ptr<backend::ChatModel> demoScript() {
    return backend::ScriptedModel::fromFile(AppPaths::resourcesDirectory() / "Backend" / "demo-script.json");
}

// The service's own HS256 key, read from its data folder, to sign what only a holder of the key could.
inline std::string signingKey(const std::filesystem::path& dataFolder) {
    const std::string hexText = readFile(dataFolder / "jwt-secret").bytes;
    std::string key(crypto_auth_hmacsha256_KEYBYTES, '\0');
    sodium_hex2bin(reinterpret_cast<unsigned char*>(key.data()), key.size(), hexText.data(), hexText.size(), "\n",
                   nullptr, nullptr);
    return key;
}

class LocalBackend {
public:
    ManualClock clock;  // first: the service keeps a reference to it

    static constexpr const char* kEmail = "mix@example.com";
    static constexpr const char* kPassword = "correct horse battery";

    explicit LocalBackend(std::filesystem::path dataFolder, std::unique_ptr<backend::ChatModel> model = demoScript(),
                          std::chrono::seconds accessLifetime = std::chrono::hours(1),
                          const std::function<void(backend::BackendOptions&)>& adjust = {})
        : service_(options(std::move(dataFolder), accessLifetime, adjust), std::move(model), clock),
          server_(
              0, [this](const http::HTTPRequest& request) { return service_.handle(request); },
              service_.serverOptions()) {
        std::filesystem::create_directories(service_.dataFolder());
        service_.accounts().addUser(kEmail, kPassword);
        if (!server_.start()) throw std::runtime_error("no loopback port for the backend");
    }

    std::uint16_t port() const { return server_.boundPort(); }
    std::string baseURL() const { return "http://127.0.0.1:" + std::to_string(port()); }
    backend::BackendService& service() { return service_; }

private:
    static backend::BackendOptions options(std::filesystem::path folder, std::chrono::seconds lifetime,
                                           const std::function<void(backend::BackendOptions&)>& adjust) {
        std::filesystem::create_directories(folder);
        backend::BackendOptions o;
        o.dataFolder = std::move(folder);
        o.accessTokenLifetime = lifetime;
        o.passwordCost = backend::PasswordCost::minimum();
        if (adjust) adjust(o);
        return o;
    }

    backend::BackendService service_;
    http::HTTPServer server_;
};

// Answers every request with the handler and keeps what it received.
class ScriptedServer {
public:
    explicit ScriptedServer(std::function<http::HTTPResponse(const http::HTTPRequest&)> handler)
        : handler_(std::move(handler)), server_(0, [this](const http::HTTPRequest& request) {
              {
                  std::lock_guard lock(mutex_);
                  received_.push_back(request);
              }
              return handler_(request);
          }) {
        if (!server_.start()) throw std::runtime_error("no loopback port for the scripted server");
    }
    std::string baseURL() const { return "http://127.0.0.1:" + std::to_string(server_.boundPort()); }
    std::vector<http::HTTPRequest> received() const {
        std::lock_guard lock(mutex_);
        return received_;
    }

private:
    std::function<http::HTTPResponse(const http::HTTPRequest&)> handler_;
    mutable std::mutex mutex_;
    std::vector<http::HTTPRequest> received_;
    http::HTTPServer server_;
};

}  // namespace corvane::testing
