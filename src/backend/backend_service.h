#pragma once

// The routes of corvane-backend: sign-in and refresh ("/auth/v1/token"), sign-out
// ("/auth/v1/logout"), chat ("/api/ai/chat") and error reports ("/api/errors/report"). Every bad
// input gets a status and an error member,
// never a crash.

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

#include "backend/accounts.h"
#include "backend/chat_models.h"
#include "backend/report_store.h"
#include "backend/sign_in_throttle.h"
#include "http/http_message.h"
#include "http/http_server.h"
#include "http/work_slots.h"
#include "platform/clock.h"
#include "platform/platform.h"

namespace corvane::backend {

struct BackendOptions {
    // The app's default; CORVANE_BACKEND_APIKEY replaces it on both sides.
    static constexpr const char* kDefaultPublishableKey = "sb_publishable_corvaneLocalBackendPublishable1";
    static constexpr std::uint16_t kDefaultPort = 51235;

    std::filesystem::path dataFolder;
    std::string publishableKey = kDefaultPublishableKey;
    std::chrono::seconds accessTokenLifetime = std::chrono::hours(1);
    std::chrono::seconds refreshTokenLifetime = std::chrono::hours(24 * 30);
    PasswordCost passwordCost = PasswordCost::interactive();
    ThrottlePolicy signInThrottle{};
    ReportQuotas reportQuotas{};
    // Sign-in and chat bodies; a chat carries its screenshots inline.
    std::size_t maxTokenBodyBytes = 64 * 1024;
    // Password hashes at once (64 MiB each at the interactive cost), and sign-ins waiting for one;
    // further sign-ins are answered 429 at once.
    std::size_t maxConcurrentHashes = 2;
    std::size_t maxWaitingHashes = 16;
    // Reports being stored at once (one at a time goes to the disk) and reports waiting for it,
    // at most one of each for all signed-out clients together and for any one account; further
    // reports are answered 503 at once, so that a flood of them holds only these few workers.
    std::size_t maxConcurrentReports = 1;
    std::size_t maxWaitingReports = 8;
};

class BackendService {
public:
    BackendService(BackendOptions options, std::unique_ptr<ChatModel> model,
                   platform::Clock& clock = platform::clock());

    http::HTTPResponse handle(const http::HTTPRequest& request);
    AccountStore& accounts() { return accounts_; }
    const std::filesystem::path& dataFolder() const { return options_.dataFolder; }

    // CORVANE_BACKEND_HOME, else "Corvane Backend" in the user's data folder; created 0700.
    static std::filesystem::path defaultDataFolder();
    // The shared server's caps and deadlines, its Host and Origin guard, each route's body limit
    // (decided from the head, so a body over it is refused before it is read), and the backend's
    // own JSON refusals and reason phrases. The server must not outlive the service.
    http::HTTPServerOptions serverOptions() const;

private:
    http::HTTPResponse token(const http::HTTPRequest& request);
    http::HTTPResponse logout(const http::HTTPRequest& request);
    http::HTTPResponse chat(const http::HTTPRequest& request);
    http::HTTPResponse errorReport(const http::HTTPRequest& request);
    std::optional<std::string> bearerAccount(const http::HTTPRequest& request) const;
    http::BodyAllowance bodyAllowance(const http::HTTPRequest& head) const;
    std::size_t signedOutBodyBytes() const;

    BackendOptions options_;
    std::unique_ptr<ChatModel> model_;
    platform::Clock& clock_;
    AccountStore accounts_;
    TokenService tokens_;
    SignInThrottle throttle_;
    mutable http::WorkSlots hashSlots_;
    http::WorkSlots reportSlots_;
    ReportStore reports_;
};

}  // namespace corvane::backend
