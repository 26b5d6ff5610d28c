// Sessions that copies sharing the folder, a slow sign-in service or a refusing proxy put to the
// test: what the window shows of the session agrees with "auth.json", and a turn's waits stay bounded.
#include "networking/auth_service.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>

#include "backend/backend_fixture.h"
#include "networking/backend_chat_service.h"
#include "networking/keychain_store.h"
#include "networking_fixture.h"
#include "platform/platform.h"
#include "test_support/hang_guard.h"
#include "test_support/temp_home.h"

namespace corvane::networking {
namespace {

using nlohmann::json;
using testing::describe;
using testing::HookedTransport;
using testing::LocalBackend;
using testing::TempHome;

// How long a test waits for what should come at once before it calls it a hang.
constexpr std::chrono::seconds kGuard = testing::kHangGuard;
constexpr const char* kOtherEmail = "other@example.com";
constexpr const char* kOtherPassword = "another horse battery";

BackendConfiguration at(const std::string& baseURL) {
    BackendConfiguration configuration;
    configuration.baseURL = baseURL;
    return configuration;
}

bool isRefresh(const http::HTTPClientRequest& request) {
    return request.url.find("grant_type=refresh_token") != std::string::npos;
}

const json kChat = {{"tier", "standard"}, {"kind", "agent"}, {"input", json::array()}};

// What the backend answers a chat request carrying this access token.
int chatStatusWith(LocalBackend& backend, const std::string& token) {
    return backend.service()
        .handle({.method = "POST",
                 .path = "/api/ai/chat",
                 .body = kChat.dump(),
                 .headers = {{"authorization", "Bearer " + token}}})
        .statusCode;
}

// Holds one request until the test opens it.
class Gate {
public:
    void arrive() {
        std::lock_guard lock(mutex_);
        arrived_ = true;
        changed_.notify_all();
    }
    bool waitArrived() {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, kGuard, [&] { return arrived_; });
    }
    void open() {
        std::lock_guard lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }
    void waitOpen() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return open_; });
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool arrived_ = false;
    bool open_ = false;
};

// Two copies share the folder; the other copy renews the session in its last minute and the
// sign-in service is slow to answer, while the user signs out in the window and in again. The
// window's new sign-in, refused by the file the other copy held, was dropped once the other
// copy's renewal (refused: the sign-out revoked it) cleared the file or stored its pair, and the
// window said signed in, without a strip, over an empty "auth.json". A sign-in made here is the
// session the folder holds; whenever the window shows one signed in without a strip, the file
// holds it.
TEST(AuthServiceCopies, ASignInMadeRightAfterSignOutIsStoredWhateverTheOtherCopysRenewalDid) {
    enum class Step { renewalAnswered, signOut, signIn };
    struct Row {
        const char* name;
        bool renewedFirst;  // the service took the renewal before the sign-out: it answers 200, else refuses
        std::vector<Step> steps;
        bool otherAccount;  // the new sign-in is another account's
    };
    using enum Step;
    std::vector<Row> rows;
    for (const bool other : {false, true}) {
        rows.push_back({"renewal answered before the sign-out", true, {renewalAnswered, signOut, signIn}, other});
        rows.push_back(
            {"renewal refused between sign-out and sign-in", false, {signOut, renewalAnswered, signIn}, other});
        rows.push_back(
            {"renewal answered between sign-out and sign-in", true, {signOut, renewalAnswered, signIn}, other});
        rows.push_back({"renewal refused after the sign-in", false, {signOut, signIn, renewalAnswered}, other});
        rows.push_back({"renewal answered after the sign-in", true, {signOut, signIn, renewalAnswered}, other});
    }
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.name) + (row.otherAccount ? ", another account" : ", the same account"));
        TempHome home;
        LocalBackend backend{home.root() / "backend"};
        platform::ScopedServices services{{.clock = &backend.clock}};
        backend.service().accounts().addUser(kOtherEmail, kOtherPassword);
        const std::string email = row.otherAccount ? kOtherEmail : LocalBackend::kEmail;
        auto wire = std::make_shared<http::CurlTransport>();
        AuthService(at(backend.baseURL()), wire, backend.clock).signIn(LocalBackend::kEmail, LocalBackend::kPassword);
        const auto firstSession = AuthService::sessionIDFromJWT(*KeychainStore::read(AuthService::kAccessTokenKey));

        Gate renewal;
        std::atomic<bool> held{false};
        std::mutex toldMutex;
        std::condition_variable told;
        bool loggedOut = false;
        auto windowTransport = std::make_shared<HookedTransport>();
        auto otherTransport = std::make_shared<HookedTransport>();
        windowTransport->instead =
            [&](const http::HTTPClientRequest& request) -> std::optional<http::HTTPClientResponse> {
            if (request.url.find("/logout") == std::string::npos) return std::nullopt;
            const auto answer = wire->send(request, {});
            std::lock_guard lock(toldMutex);
            loggedOut = true;
            told.notify_all();
            return answer;
        };
        otherTransport->instead =
            [&](const http::HTTPClientRequest& request) -> std::optional<http::HTTPClientResponse> {
            if (!isRefresh(request) || held.exchange(true)) return std::nullopt;
            std::optional<http::HTTPClientResponse> answer;
            if (row.renewedFirst) answer = wire->send(request, {});
            renewal.arrive();
            renewal.waitOpen();
            return answer;  // none: sent now, after the sign-out
        };
        std::mutex seenMutex;
        std::vector<std::string> disagreements;
        std::atomic<bool> signedOut{false};
        auto window = std::make_unique<AuthService>(at(backend.baseURL()), windowTransport, backend.clock);
        auto other = std::make_unique<AuthService>(at(backend.baseURL()), otherTransport, backend.clock);
        struct OpenAtEnd {  // before the copies go, whatever failed: the renewal holds the other one
            Gate& gate;
            ~OpenAtEnd() { gate.open(); }
        };
        // Whenever the window shows someone signed in without a strip, the file holds that session.
        window->setObserver([&] {
            if (!window->isAuthenticated() || window->notice()) return;
            const auto stored = KeychainStore::read(AuthService::kAccessTokenKey);
            const bool agrees = stored && AuthService::emailFromJWT(*stored) == window->userEmail() &&
                                !(signedOut && AuthService::sessionIDFromJWT(*stored) == firstSession);
            std::lock_guard lock(seenMutex);
            if (!agrees) disagreements.push_back(stored.value_or("an empty auth.json"));
        });

        backend.clock.sleep(std::chrono::hours(1) - std::chrono::seconds(50));
        auto renewing = std::async(std::launch::async, [&] { return describe([&] { other->getValidToken(); }); });
        const OpenAtEnd openAtEnd{renewal};
        ASSERT_TRUE(renewal.waitArrived());
        bool answered = false;
        for (const Step step : row.steps) {
            switch (step) {
                case renewalAnswered:
                    answered = true;
                    renewal.open();
                    // Joins the renewal under way: back once its answer is dealt with.
                    describe([&] { other->getValidToken(); });
                    break;
                case signOut: {
                    signedOut = true;
                    window->signOut();
                    std::unique_lock lock(toldMutex);
                    ASSERT_TRUE(told.wait_for(lock, kGuard, [&] { return loggedOut; }));
                    break;
                }
                case signIn:
                    window->signIn(email, row.otherAccount ? kOtherPassword : LocalBackend::kPassword);
                    EXPECT_TRUE(window->isAuthenticated()) << window->errorMessage().value_or("");
                    // The other copy holds the file: the strip says the session is not stored yet.
                    if (!answered) {
                        EXPECT_EQ(window->notice(), AuthService::kSessionNotSaved);
                    }
                    break;
            }
        }
        renewing.wait();

        // The pair the file refused is offered again after kPendingRetry, and the sign-out's
        // rounds go on, each moved on to by the clock; a bound against a hang, not a pace.
        const auto until = std::chrono::steady_clock::now() + kGuard;
        for (int seen = -1; std::chrono::steady_clock::now() < until; std::this_thread::yield()) {
            const bool storing = window->notice() == AuthService::kSessionNotSaved;
            if (!storing && !window->signOutsPending()) break;
            if (!storing && window->signOutRounds() == seen) continue;
            seen = window->signOutRounds();
            backend.clock.sleep(storing ? AuthService::kPendingRetry : AuthService::kRevocationRetry);
            if (storing) {
                const auto stepped = std::chrono::steady_clock::now() + std::chrono::seconds(2);
                while (window->notice() == AuthService::kSessionNotSaved && std::chrono::steady_clock::now() < stepped)
                    std::this_thread::yield();
            }
        }
        EXPECT_FALSE(window->signOutsPending());
        EXPECT_TRUE(window->isAuthenticated());
        EXPECT_EQ(window->userEmail(), email);
        EXPECT_EQ(window->notice(), std::nullopt);
        const auto stored = KeychainStore::read(AuthService::kAccessTokenKey);
        EXPECT_TRUE(stored) << "auth.json is empty while the window says signed in";
        if (stored) {
            EXPECT_EQ(AuthService::emailFromJWT(*stored), email);
            EXPECT_NE(AuthService::sessionIDFromJWT(*stored), firstSession) << "the session signed out of";
            EXPECT_EQ(window->getValidToken(), stored);
            EXPECT_EQ(describe([&] { EXPECT_EQ(other->getValidToken(), stored); }), "no error");
            // The other copy, found signed in, goes on as the one who signed in last.
            if (other->isAuthenticated()) {
                EXPECT_EQ(other->userEmail(), email);
            }
            EXPECT_EQ(chatStatusWith(backend, *stored), 200);
        }
        {
            std::lock_guard lock(seenMutex);
            for (const auto& seen : disagreements)
                ADD_FAILURE() << "signed in without a strip while auth.json held " << seen;
        }
        window->setObserver(nullptr);
    }
}

// Behind a proxy that answers 401 to some chat requests, a resend refused again said the sign-in
// had ended while the sign-in service had just renewed the session, and the next turn worked.
TEST(AuthServiceTurns, AChatRefusedAgainAfterARenewalSaysTheChatBackendRefusedItAndKeepsTheSession) {
    struct Row {
        const char* name;
        std::vector<bool> refusedByTheProxy;  // each chat request in turn, then none
        const char* said;
    };
    const std::vector<Row> rows = {
        {"refused once", {true}, "no error"},
        {"refused again after the renewal",
         {true, true},
         "The chat backend refused the request although the sign-in is valid. Try again in a moment."},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TempHome home;
        LocalBackend backend{home.root() / "backend"};
        auto transport = std::make_shared<HookedTransport>();
        AuthService auth(at(backend.baseURL()), transport, backend.clock);
        auth.signIn(LocalBackend::kEmail, LocalBackend::kPassword);
        ASSERT_TRUE(auth.isAuthenticated());
        BackendChatService chat(at(backend.baseURL()).chatEndpoint(), "gpt-5", transport);
        chat.setAuthTokenProvider([&](std::stop_token stop) { return auth.getValidToken(std::move(stop)); });
        chat.setTokenRefusedHandler(
            [&](const std::string& token, std::stop_token stop) { return auth.tokenRefused(token, std::move(stop)); });
        std::size_t chats = 0;
        transport->instead = [&](const http::HTTPClientRequest& request) -> std::optional<http::HTTPClientResponse> {
            if (request.url.find("/api/ai/chat") == std::string::npos || chats >= row.refusedByTheProxy.size())
                return std::nullopt;
            if (!row.refusedByTheProxy[chats++]) return std::nullopt;
            return http::HTTPClientResponse{401, R"({"error":"Unauthorized"})"};
        };
        EXPECT_EQ(describe([&] { chat.sendRequest(kChat); }), row.said);
        EXPECT_TRUE(auth.isAuthenticated());
        EXPECT_EQ(auth.notice(), std::nullopt);
        const auto stored = KeychainStore::read(AuthService::kAccessTokenKey);
        ASSERT_TRUE(stored);
        EXPECT_EQ(chatStatusWith(backend, *stored), 200);
        EXPECT_EQ(describe([&] { chat.sendRequest(kChat); }), "no error") << "the next turn";
    }
}

// With the sign-in service hanging, each of a turn's chat requests waited its own kServiceWait for
// the same unanswered renewal. A turn waits for the service kServiceWait in all; the next turn
// waits again.
TEST(AuthServiceTurns, ATurnWaitsForAHangingSignInServiceAtMostTheBoundInAllOverItsRequests) {
    TempHome home;
    LocalBackend backend{home.root() / "backend"};
    auto transport = std::make_shared<HookedTransport>();
    AuthService(at(backend.baseURL()), transport, backend.clock).signIn(LocalBackend::kEmail, LocalBackend::kPassword);
    transport->holdsIf = isRefresh;
    AuthService auth(at(backend.baseURL()), transport, backend.clock);
    BackendChatService chat(at(backend.baseURL()).chatEndpoint(), "gpt-5", transport);
    chat.setAuthTokenProvider([&](std::stop_token stop) { return auth.getValidToken(std::move(stop)); });
    // In the token's last minute: renewed before use, and still taken by the backend meanwhile.
    backend.clock.sleep(std::chrono::hours(1) - std::chrono::seconds(50));

    // Each round of a turn: whether it waited for the service (it joined the renewal under way),
    // and what it ended with once the clock moved past any wait.
    const auto round = [&](const std::stop_token& turn) {
        auto sent = std::async(std::launch::async, [&] { return describe([&] { chat.sendRequest(kChat, turn); }); });
        bool waited = false;
        const auto until = std::chrono::steady_clock::now() + kGuard;  // a bound against a hang, not a pace
        while (sent.wait_for(std::chrono::seconds(0)) != std::future_status::ready &&
               std::chrono::steady_clock::now() < until) {
            if (auth.refreshWaiters() == 0) continue;
            waited = true;
            backend.clock.sleep(AuthService::kServiceWait);
            break;
        }
        return std::pair{waited, sent.get()};
    };
    std::stop_source turn;
    auto first =
        std::async(std::launch::async, [&] { return describe([&] { chat.sendRequest(kChat, turn.get_token()); }); });
    while (transport->refreshCalls == 0) std::this_thread::yield();
    backend.clock.sleep(AuthService::kServiceWait);
    EXPECT_EQ(first.get(), "no error");
    EXPECT_EQ(round(turn.get_token()), std::pair(false, std::string("no error"))) << "the turn waited again";
    EXPECT_EQ(round(turn.get_token()), std::pair(false, std::string("no error")));
    std::stop_source nextTurn;
    EXPECT_EQ(round(nextTurn.get_token()), std::pair(true, std::string("no error"))) << "the next turn";
    EXPECT_EQ(transport->refreshCalls, 1);
    EXPECT_TRUE(auth.isAuthenticated());
}

}  // namespace
}  // namespace corvane::networking
