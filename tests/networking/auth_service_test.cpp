#include "networking/auth_service.h"

#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>

#include "backend/backend_fixture.h"
#include "networking/backend_chat_service.h"
#include "networking/keychain_store.h"
#include "networking_fixture.h"
#include "platform/platform.h"
#include "support/base64.h"
#include "support/files.h"
#include "test_support/hang_guard.h"
#include "test_support/temp_home.h"

namespace corvane::networking {
namespace {

using nlohmann::json;
using testing::describe;
using testing::HookedTransport;
using testing::LocalBackend;
using testing::ScriptedServer;
using testing::TempHome;

BackendConfiguration at(const std::string& baseURL) {
    BackendConfiguration configuration;
    configuration.baseURL = baseURL;
    return configuration;
}

std::string jwtWith(const json& payload) {
    std::string text = base64Encode(payload.dump());
    for (char& c : text) {
        if (c == '+') c = '-';
        if (c == '/') c = '_';
    }
    while (!text.empty() && text.back() == '=') text.pop_back();
    return "eyJhbGciOiJIUzI1NiJ9." + text + ".sig";
}

// How long a test waits for what should come at once before it calls it a hang.
constexpr std::chrono::seconds kGuard = testing::kHangGuard;

// A sign-in service that takes every request and answers none until released.
class SilentServer {
public:
    ~SilentServer() { release(); }
    std::string baseURL() const { return server_.baseURL(); }
    void release() {
        std::call_once(released_, [this] { release_.set_value(); });
    }
    // The requests it holds, once there are at least `count`.
    std::vector<http::HTTPRequest> waitFor(std::size_t count) {
        std::unique_lock lock(mutex_);
        EXPECT_TRUE(arrived_.wait_for(lock, kGuard, [&] { return held_.size() >= count; })) << "nothing arrived";
        return held_;
    }

private:
    std::promise<void> release_;
    std::shared_future<void> releasedFuture_ = release_.get_future().share();
    std::once_flag released_;
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<http::HTTPRequest> held_;
    ScriptedServer server_{[this](const http::HTTPRequest& request) {
        {
            std::lock_guard lock(mutex_);
            held_.push_back(request);
        }
        arrived_.notify_all();
        releasedFuture_.wait();
        return http::HTTPResponse{503, "application/json", "{}"};
    }};
};

class AuthServiceTest : public ::testing::Test {
protected:
    TempHome home;
    LocalBackend backend{home.root() / "backend"};
    std::shared_ptr<HookedTransport> transport = std::make_shared<HookedTransport>();

    std::unique_ptr<AuthService> signedIn() {
        auto auth = std::make_unique<AuthService>(at(backend.baseURL()), transport, backend.clock);
        auth->signIn(LocalBackend::kEmail, LocalBackend::kPassword);
        EXPECT_TRUE(auth->isAuthenticated()) << auth->errorMessage().value_or("");
        return auth;
    }

    // What the backend answers a chat request carrying this access token.
    int chatStatusWith(const std::string& token) {
        const json chat = {{"tier", "standard"}, {"kind", "agent"}, {"input", json::array()}};
        return backend.service()
            .handle({.method = "POST",
                     .path = "/api/ai/chat",
                     .body = chat.dump(),
                     .headers = {{"authorization", "Bearer " + token}}})
            .statusCode;
    }
};

TEST_F(AuthServiceTest, SignInStoresAPrivateSessionThatTheNextStartRestoresWithoutRefreshingAValidToken) {
    const auto auth = signedIn();
    EXPECT_EQ(auth->userEmail(), LocalBackend::kEmail);
    EXPECT_FALSE(auth->isLoading());
    const auto sent = transport->sent().front();
    EXPECT_EQ(sent.headers.at("apikey"), BackendConfiguration::kDefaultPublishableKey);
    EXPECT_EQ(sent.headers.count("Authorization"), 0u);
    struct stat st {};
    ::stat(KeychainStore::storeURL().c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ::stat(KeychainStore::storeURL().parent_path().c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    const auto refreshBefore = KeychainStore::read(AuthService::kRefreshTokenKey);
    const auto leftover = KeychainStore::storeURL().parent_path() / ".auth.json.tmp-0123456789ab";
    testing::writeAll(leftover, "{\"supabase_access");  // a crash mid-write
    AuthService restarted(at(backend.baseURL()), transport, backend.clock);
    EXPECT_FALSE(std::filesystem::exists(leftover));
    EXPECT_TRUE(restarted.isAuthenticated());
    EXPECT_EQ(restarted.userEmail(), LocalBackend::kEmail);
    restarted.waitForStartupRefresh();
    EXPECT_TRUE(restarted.isAuthenticated());
    EXPECT_EQ(transport->refreshCalls, 0);
    EXPECT_EQ(KeychainStore::read(AuthService::kRefreshTokenKey), refreshBefore);
}

// A kill after the backend rotated the pair but before the file held the new one: the next start
// presents the spent refresh token.
TEST_F(AuthServiceTest, AStartAfterAKillThatLostTheRotatedPairStaysSignedIn) {
    signedIn().reset();
    backend.clock.sleep(std::chrono::hours(1));  // the next start finds the access token expired
    const auto spent = KeychainStore::read(AuthService::kRefreshTokenKey);
    ASSERT_TRUE(spent);
    const http::HTTPResponse lost =
        backend.service().handle({.method = "POST",
                                  .path = "/auth/v1/token?grant_type=refresh_token",
                                  .body = json{{"refresh_token", *spent}}.dump(),
                                  .headers = {{"apikey", BackendConfiguration::kDefaultPublishableKey}}});
    ASSERT_EQ(lost.statusCode, 200);
    const json pair = json::parse(lost.body);

    backend.clock.sleep(std::chrono::seconds(5));
    AuthService restarted(at(backend.baseURL()), transport, backend.clock);
    restarted.waitForStartupRefresh();
    EXPECT_TRUE(restarted.isAuthenticated());
    EXPECT_EQ(KeychainStore::read(AuthService::kRefreshTokenKey), pair["refresh_token"].get<std::string>());
    const auto token = restarted.getValidToken();
    ASSERT_EQ(token, pair["access_token"].get<std::string>());
    EXPECT_EQ(chatStatusWith(*token), 200);
}

// Written apart, a crash between the two writes leaves a new access token beside a spent refresh token.
TEST_F(AuthServiceTest, TheTokenPairIsStoredInOneWrite) {
    const int events = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(events, 0);
    // Each atomic write renames its temporary file onto the file; with the moves away watched too,
    // inotify never folds two of them into one event.
    ASSERT_GE(::inotify_add_watch(events, KeychainStore::storeURL().parent_path().c_str(), IN_MOVED_FROM | IN_MOVED_TO),
              0);
    const auto writesOfTheFile = [&] {
        int count = 0;
        alignas(inotify_event) char buffer[4096];
        ssize_t length;
        while ((length = ::read(events, buffer, sizeof buffer)) > 0) {
            for (char* at = buffer; at < buffer + length;) {
                const auto* event = reinterpret_cast<const inotify_event*>(at);
                if ((event->mask & IN_MOVED_TO) && event->len > 0 && std::string(event->name) == "auth.json") ++count;
                at += sizeof(inotify_event) + event->len;
            }
        }
        return count;
    };
    const auto auth = signedIn();
    EXPECT_EQ(writesOfTheFile(), 1) << "sign-in";
    backend.clock.sleep(std::chrono::hours(1));
    ASSERT_TRUE(auth->getValidToken());
    EXPECT_EQ(transport->refreshCalls, 1);
    EXPECT_EQ(writesOfTheFile(), 1) << "refresh";
    ::close(events);
}

TEST_F(AuthServiceTest, SignInFailuresShowTheTextsOfTheForm) {
    auto closed = std::make_unique<ScriptedServer>([](const http::HTTPRequest&) { return http::HTTPResponse{}; });
    const std::string closedURL = closed->baseURL();
    closed.reset();
    struct Case {
        int status;
        std::string body;
        std::string message;
    };
    std::vector<Case> cases = {
        {400, R"({"error_description":"Invalid login credentials","msg":"m"})", "Invalid login credentials"},
        {400, R"({"msg":"Too many attempts"})", "Too many attempts"},
        {400, "{}", "Sign in failed."},
        {500, "not json", "Invalid response."},
        {200, R"({"access_token":"a"})", "Missing tokens in response."},
    };
    // Tokens no request or refresh could use are not stored either.
    const std::string unusable = "The sign-in service answered with tokens that cannot be used.";
    const std::string expiring = jwtWith({{"exp", 4102444800}, {"email", "who@example.com"}});
    for (const auto& [access, refresh] : std::vector<std::pair<std::string, std::string>>{
             {"", ""}, {"not-a-jwt", "r"}, {jwtWith({{"email", "who@example.com"}}), "r"}, {expiring, ""}})
        cases.push_back({200, json{{"access_token", access}, {"refresh_token", refresh}}.dump(), unusable});
    for (const auto& c : cases) {
        ScriptedServer server([&](const http::HTTPRequest&) {
            return http::HTTPResponse{c.status, "application/json", c.body};
        });
        AuthService auth(at(server.baseURL()), transport, backend.clock);
        auth.signIn("who@example.com", "pw");
        EXPECT_EQ(auth.errorMessage(), c.message) << c.body;
        EXPECT_FALSE(auth.isAuthenticated());
        EXPECT_FALSE(auth.isLoading());
        EXPECT_EQ(KeychainStore::read(AuthService::kAccessTokenKey), std::nullopt) << c.body;
    }
    AuthService offline(at(closedURL), transport, backend.clock);
    offline.signIn("who@example.com", "pw");
    EXPECT_EQ(offline.errorMessage(), "Network error. Check your connection.");

    AuthService real(at(backend.baseURL()), transport, backend.clock);
    real.signIn(LocalBackend::kEmail, "wrong password");
    EXPECT_EQ(real.errorMessage(), "Invalid login credentials");
}

TEST_F(AuthServiceTest, AnExpiredTokenIsRefreshedBeforeUseAndAFreshOneIsSentAsItIs) {
    const auto auth = signedIn();  // an hour left
    const auto stored = KeychainStore::read(AuthService::kAccessTokenKey);
    backend.clock.sleep(std::chrono::seconds(3600 - 61));
    EXPECT_EQ(auth->getValidToken(), stored);
    EXPECT_EQ(transport->refreshCalls, 0);

    backend.clock.sleep(std::chrono::seconds(31));  // 30 s left counts as expired
    const auto token = auth->getValidToken();
    EXPECT_EQ(transport->refreshCalls, 1);
    ASSERT_TRUE(token);
    EXPECT_NE(token, stored);
    EXPECT_EQ(KeychainStore::read(AuthService::kAccessTokenKey), token);
    EXPECT_EQ(chatStatusWith(*token), 200);
}

TEST_F(AuthServiceTest, TwoRefreshesRacingShareOneRequestAndKeepTheSession) {
    const auto auth = signedIn();
    std::thread second;
    std::optional<std::string> secondToken;
    transport->before = [&](const http::HTTPClientRequest& request) {
        if (request.url.find("refresh_token") == std::string::npos || second.joinable()) return;
        second = std::thread([&] { secondToken = auth->refreshTokenIfNeeded(); });
        // Held until the second caller waits for this refresh (or, wrongly, sends its own).
        while (auth->refreshWaiters() == 0 && transport->refreshCalls < 2) std::this_thread::yield();
    };
    const auto firstToken = auth->refreshTokenIfNeeded();
    second.join();
    EXPECT_EQ(transport->refreshCalls, 1);
    ASSERT_TRUE(firstToken);
    EXPECT_EQ(secondToken, firstToken);
    EXPECT_TRUE(auth->isAuthenticated());
    EXPECT_EQ(KeychainStore::read(AuthService::kAccessTokenKey), firstToken);
}

TEST_F(AuthServiceTest, ARejectedRefreshSignsOutOnlyWhileItsTokenIsStillTheStoredOne) {
    const auto auth = signedIn();
    // A pair lands while the refresh with the old token is on its way, from a writer that takes
    // no lock (a copy of the file put back, an older program).
    transport->before = [](const http::HTTPClientRequest& request) {
        if (request.url.find("refresh_token") == std::string::npos) return;
        writeFileAtomically(KeychainStore::storeURL(), json{{AuthService::kAccessTokenKey, "newer-access"},
                                                            {AuthService::kRefreshTokenKey, "newer-refresh"}}
                                                           .dump());
    };
    const auto usedToken = KeychainStore::read(AuthService::kRefreshTokenKey);
    // The stored refresh token is used up elsewhere.
    backend.service().handle(http::HTTPRequest{.method = "POST",
                                               .path = "/auth/v1/token?grant_type=refresh_token",
                                               .body = json{{"refresh_token", *usedToken}}.dump(),
                                               .headers = {{"apikey", BackendConfiguration::kDefaultPublishableKey}}});
    EXPECT_EQ(auth->refreshTokenIfNeeded(), "newer-access");  // the pair stored meanwhile is the one to use
    EXPECT_TRUE(auth->isAuthenticated());
    EXPECT_EQ(KeychainStore::read(AuthService::kRefreshTokenKey), "newer-refresh");

    transport->before = nullptr;
    EXPECT_EQ(auth->refreshTokenIfNeeded(), std::nullopt);  // "newer-refresh" is unknown to the backend
    EXPECT_FALSE(auth->isAuthenticated());
    EXPECT_EQ(KeychainStore::read(AuthService::kAccessTokenKey), std::nullopt);
}

// A busy or failing sign-in service (429, 5xx) has not spent the refresh token: signing out
// then threw away a session the backend still holds. Only a refused grant ends it.
TEST_F(AuthServiceTest, ARefreshAnsweredBusyKeepsTheSessionAndOnlyARefusedGrantEndsIt) {
    const auto auth = signedIn();
    const auto access = KeychainStore::read(AuthService::kAccessTokenKey);
    const auto refresh = KeychainStore::read(AuthService::kRefreshTokenKey);
    int status = 0;  // 0: the backend's own answer
    std::string body = R"({"error":"busy"})";
    transport->instead = [&](const http::HTTPClientRequest& request) -> std::optional<http::HTTPClientResponse> {
        if (request.url.find("refresh_token") == std::string::npos || status == 0) return std::nullopt;
        return http::HTTPClientResponse{status, body};
    };
    backend.clock.sleep(std::chrono::seconds(3600 - 30));  // in its last minute: refreshed before use
    for (int busy : {429, 500, 502, 503}) {
        status = busy;
        EXPECT_EQ(auth->refreshTokenIfNeeded(), access) << busy;
        EXPECT_EQ(auth->getValidToken(), access) << busy << ": still taken by the backend";
        EXPECT_TRUE(auth->isAuthenticated()) << busy;
        EXPECT_EQ(KeychainStore::read(AuthService::kRefreshTokenKey), refresh) << busy;
    }
    backend.clock.sleep(std::chrono::seconds(31));  // past its expiry: no token to send
    EXPECT_THROW(auth->getValidToken(), AuthService::ServiceBusy);
    EXPECT_TRUE(auth->isAuthenticated());

    status = 0;  // the service is back: the refresh token kept works
    const auto fresh = auth->getValidToken();
    ASSERT_TRUE(fresh);
    EXPECT_NE(fresh, access);
    EXPECT_EQ(chatStatusWith(*fresh), 200);

    for (const auto& [refused, refusal] : std::vector<std::pair<int, std::string>>{
             {401, R"({"error":"unauthorized"})"},
             {400, R"({"error":"invalid_grant","error_description":"Invalid Refresh Token"})"}}) {
        auto again = signedIn();
        status = refused;
        body = refusal;
        EXPECT_EQ(again->refreshTokenIfNeeded(), std::nullopt) << refused;
        EXPECT_FALSE(again->isAuthenticated()) << refused;
        EXPECT_EQ(KeychainStore::read(AuthService::kRefreshTokenKey), std::nullopt) << refused;
    }
}

// Every answer but a 200 with tokens signed out and deleted the stored session: a proxy's time-out,
// a wrong address or a captive portal's page cost the user a session the sign-in service never
// saw. Only the service refusing the grant (400 invalid_grant, 401, 403) ends it now. A 200 with
// unusable tokens (empty, or an access token without a readable expiry) was stored over the
// working session, and the next refresh sent an empty token; no connection at all let the
// expired token go out, to be answered 401 as if the user had to sign in again.
TEST_F(AuthServiceTest, ARefreshAnsweredByAnythingButUsableTokensOrARefusedGrantKeepsTheSessionAndSaysTheServiceIsOutOfReach) {
    const auto auth = signedIn();
    const auto access = KeychainStore::read(AuthService::kAccessTokenKey);
    const auto refresh = KeychainStore::read(AuthService::kRefreshTokenKey);
    // Read by the app's re-asking of unanswered refreshes too, on its own thread.
    std::mutex answerMutex;
    std::optional<http::HTTPClientResponse> shared;  // none: the backend's own answer; status 0: no connection
    struct Answer {
        std::mutex& mutex;
        std::optional<http::HTTPClientResponse>& value;
        Answer& operator=(std::optional<http::HTTPClientResponse> next) {
            std::lock_guard lock(mutex);
            value = std::move(next);
            return *this;
        }
        void reset() { *this = std::nullopt; }
    } answer{answerMutex, shared};
    transport->instead = [&](const http::HTTPClientRequest& request) -> std::optional<http::HTTPClientResponse> {
        if (request.url.find("refresh_token") == std::string::npos) return std::nullopt;
        std::optional<http::HTTPClientResponse> now;
        {
            std::lock_guard lock(answerMutex);
            now = shared;
        }
        if (now && now->statusCode == 0) throw http::TransportError("Failed to connect to the sign-in service");
        return now;
    };
    const double later = std::chrono::duration<double>(backend.clock.now().time_since_epoch()).count() + 7200;
    const std::vector<http::HTTPClientResponse> unrefused = {
        {0, ""},
        {408, R"({"error":"timeout"})"},
        {404, "<html><body>Not Found</body></html>"},
        {413, R"({"error":"request_too_large"})"},
        {400, R"({"error":"invalid_request","error_description":"Refresh token required"})"},
        {400, "Bad Request"},
        {200, "<html><body>Sign in to the hotel Wi-Fi</body></html>"},
        {200, R"({"access_token":"a"})"},
        {200, R"({"access_token":"","refresh_token":""})"},
        {200, R"({"access_token":"not-a-jwt","refresh_token":"r2"})"},
        {200, json{{"access_token", jwtWith({{"email", "mix@example.com"}})}, {"refresh_token", "r2"}}.dump()},
        {200, json{{"access_token", jwtWith({{"exp", later}})}, {"refresh_token", ""}}.dump()},
    };
    backend.clock.sleep(std::chrono::seconds(3600 - 30));  // in its last minute: refreshed before use
    for (const auto& unrefusing : unrefused) {
        answer = unrefusing;
        const std::string name = std::to_string(unrefusing.statusCode) + " " + unrefusing.body;
        EXPECT_EQ(auth->refreshTokenIfNeeded(), access) << name;
        EXPECT_EQ(auth->getValidToken(), access) << name << ": still taken by the backend";
        EXPECT_TRUE(auth->isAuthenticated()) << name;
        EXPECT_EQ(KeychainStore::read(AuthService::kRefreshTokenKey), refresh) << name;
    }
    backend.clock.sleep(std::chrono::seconds(31));  // past its expiry: no token to send
    for (const auto& unrefusing : {unrefused.front(), unrefused.back()}) {
        answer = unrefusing;
        try {
            auth->getValidToken();
            ADD_FAILURE() << unrefusing.statusCode << ": a token past its expiry was given";
        } catch (const std::runtime_error& unreachable) {
            EXPECT_EQ(std::string(unreachable.what()),
                      "The sign-in service could not be reached. Try again in a moment.");
        }
        EXPECT_TRUE(auth->isAuthenticated());
        EXPECT_EQ(KeychainStore::read(AuthService::kRefreshTokenKey), refresh);
    }

    answer.reset();  // the service is there again: the refresh token kept works
    // A re-ask of the unanswered refreshes may still be out with the service's last answer, and the
    // first call shares it; the next is the service's own.
    std::optional<std::string> fresh;
    for (int attempt = 0; attempt < 2 && !fresh; ++attempt) {
        try {
            fresh = auth->getValidToken();
        } catch (const std::runtime_error& outOfReach) {
            EXPECT_EQ(attempt, 0) << outOfReach.what();
        }
    }
    ASSERT_TRUE(fresh);
    EXPECT_EQ(chatStatusWith(*fresh), 200);

    answer = http::HTTPClientResponse{403, R"({"error":"forbidden"})"};
    EXPECT_EQ(auth->refreshTokenIfNeeded(), std::nullopt);
    EXPECT_FALSE(auth->isAuthenticated());
    EXPECT_EQ(KeychainStore::read(AuthService::kRefreshTokenKey), std::nullopt);
}

// A lock file the program cannot use (another process's, a root-owned one) makes the credential
// file refuse every write: a renewed pair it refused was lost with the spent token still stored,
// and the session ended at the next expiry.
// Two copies on one folder (two services, each with its own hold on the credential file, as two
// processes have): a refresh token is spent only under the file's lock, held until the pair that
// replaces it is stored, so that no copy spends a token another copy spent. A copy that cannot
// lock the file spends nothing and keeps the session; a pair the file refused keeps the lock and
// is offered to the file again within seconds.
TEST_F(AuthServiceTest, NoCopySpendsARefreshTokenAnotherCopySpentAndARefusedPairIsStoredWithinSeconds) {
    platform::ScopedServices services{{.clock = &backend.clock}};
    signedIn().reset();
    auto otherTransport = std::make_shared<HookedTransport>();
    AuthService a(at(backend.baseURL()), transport, backend.clock);
    AuthService b(at(backend.baseURL()), otherTransport, backend.clock);
    const auto lock = KeychainStore::storeURL().parent_path() / ".auth.json.lock";
    const auto notRenewed = [](AuthService& copy) {
        return describe([&] { copy.getValidToken(); }).find("could not be renewed") != std::string::npos;
    };
    backend.clock.sleep(std::chrono::hours(1));

    // A stopped copy holds the file: neither copy renews the session, neither is signed out.
    {
        const FileLock stopped = FileLock::acquire(KeychainStore::storeURL());
        ASSERT_TRUE(stopped.held());
        EXPECT_TRUE(notRenewed(a));
        backend.clock.sleep(std::chrono::seconds(65));
        EXPECT_TRUE(notRenewed(b));
        EXPECT_EQ(transport->refreshCalls + otherTransport->refreshCalls, 0) << "a token spent that could not be replaced";
    }
    EXPECT_TRUE(a.isAuthenticated());
    EXPECT_TRUE(b.isAuthenticated());

    // The file refuses A's new pair (its lock file turned into a link meanwhile): A goes on with
    // it and keeps the lock; B, finding no usable lock, spends nothing.
    transport->before = [&](const http::HTTPClientRequest& request) {
        if (request.url.find("refresh_token") == std::string::npos) return;
        std::filesystem::remove(lock);
        std::filesystem::create_symlink(home.root() / "elsewhere", lock);
    };
    std::mutex observed;
    std::condition_variable changed;
    a.setObserver([&] {
        std::lock_guard hold(observed);
        changed.notify_all();
    });
    const auto renewed = a.getValidToken();
    ASSERT_TRUE(renewed);
    transport->before = nullptr;
    EXPECT_EQ(a.notice(), AuthService::kSessionNotSaved);
    EXPECT_TRUE(notRenewed(b));
    EXPECT_EQ(otherTransport->refreshCalls, 0);

    // Once the file takes it, the pair is stored within seconds, before anyone needs a token.
    std::filesystem::remove(lock);
    backend.clock.sleep(AuthService::kPendingRetry);
    {
        std::unique_lock hold(observed);  // a bound against a hang, not a pace: the retry runs at once
        changed.wait_for(hold, kGuard,
                         [&] { return a.notice() != AuthService::kSessionNotSaved; });
    }
    EXPECT_EQ(KeychainStore::read(AuthService::kAccessTokenKey), renewed) << "not stored once the file took it";
    EXPECT_EQ(b.getValidToken(), renewed);
    EXPECT_EQ(otherTransport->refreshCalls, 0);
    EXPECT_EQ(transport->refreshCalls, 1);
    EXPECT_EQ(chatStatusWith(*renewed), 200);
    EXPECT_TRUE(a.isAuthenticated());
    EXPECT_TRUE(b.isAuthenticated());

    // A sign-in the file refuses is still signed in, and says its session is not saved.
    std::filesystem::remove(lock);
    std::filesystem::create_symlink(home.root() / "elsewhere", lock);
    a.signIn(LocalBackend::kEmail, LocalBackend::kPassword);
    EXPECT_TRUE(a.isAuthenticated());
    EXPECT_EQ(a.notice(), AuthService::kSessionNotSaved);
    const auto signedInToken = a.getValidToken();
    ASSERT_TRUE(signedInToken);
    EXPECT_NE(signedInToken, renewed);
    EXPECT_EQ(chatStatusWith(*signedInToken), 200);
}

TEST_F(AuthServiceTest, ASignOutDuringARefreshIsNotUndoneByItsAnswer) {
    const auto auth = signedIn();
    // The backend accepts the refresh; its answer is released only after the user signed out.
    transport->before = [&](const http::HTTPClientRequest& request) {
        if (request.url.find("refresh_token") != std::string::npos) auth->signOut();
    };
    EXPECT_EQ(auth->refreshTokenIfNeeded(), std::nullopt);
    EXPECT_FALSE(auth->isAuthenticated());
    EXPECT_EQ(auth->userEmail(), std::nullopt);
    EXPECT_EQ(KeychainStore::read(AuthService::kAccessTokenKey), std::nullopt);
    EXPECT_EQ(KeychainStore::read(AuthService::kRefreshTokenKey), std::nullopt);
}

TEST_F(AuthServiceTest, SignOutKeepsOtherKeysAndTheLastSignInError) {
    const auto auth = signedIn();
    KeychainStore::save("other", "kept");
    auth->signIn(LocalBackend::kEmail, "wrong");
    int changes = 0;
    auth->setObserver([&] { ++changes; });
    auth->signOut();
    EXPECT_EQ(changes, 1);
    EXPECT_FALSE(auth->isAuthenticated());
    EXPECT_EQ(auth->userEmail(), std::nullopt);
    EXPECT_EQ(auth->errorMessage(), "Invalid login credentials");
    EXPECT_EQ(KeychainStore::read("other"), "kept");
    EXPECT_EQ(KeychainStore::read(AuthService::kRefreshTokenKey), std::nullopt);
    EXPECT_EQ(auth->getValidToken(), std::nullopt);
}

// Sign Out forgot the session in the window only: the service kept it, so a copy of the credential
// file taken before stayed signed in for a month.
TEST_F(AuthServiceTest, SignOutTellsTheServiceWhichSessionToRevokeAndWaitsForNoAnswer) {
    signedIn().reset();
    const auto access = KeychainStore::read(AuthService::kAccessTokenKey);
    {
        SilentServer silent;
        auto auth = std::make_unique<AuthService>(at(silent.baseURL()), transport, backend.clock);
        int changes = 0;
        auth->setObserver([&] { ++changes; });
        auth->signOut();
        // Signed out at once, while the service has not answered.
        EXPECT_EQ(changes, 1);
        EXPECT_FALSE(auth->isAuthenticated());
        EXPECT_EQ(KeychainStore::read(AuthService::kAccessTokenKey), std::nullopt);
        EXPECT_EQ(KeychainStore::read(AuthService::kRefreshTokenKey), std::nullopt);
        const auto held = silent.waitFor(1);
        ASSERT_EQ(held.size(), 1u);
        EXPECT_EQ(held[0].method, "POST");
        EXPECT_EQ(held[0].path, "/auth/v1/logout");
        EXPECT_EQ(held[0].header("apikey"), BackendConfiguration::kDefaultPublishableKey);
        EXPECT_EQ(held[0].header("authorization"), "Bearer " + *access);
        auth->setObserver(nullptr);
    }
    // Quitting waits for no answer: a request that no time-out ends is cancelled.
    {
        signedIn().reset();
        auto quitting = std::make_shared<HookedTransport>();
        quitting->holds = true;
        auto auth = std::make_unique<AuthService>(at(backend.baseURL()), quitting, backend.clock);
        auth->signOut();
        auto quit = std::async(std::launch::async, [&] { auth.reset(); });
        const bool quit_ = quit.wait_for(kGuard) == std::future_status::ready;  // a bound against a hang
        quitting->letGo();
        EXPECT_TRUE(quit_) << "quitting waited for the service's answer";
    }

    // The service revokes the session: a copy of the file taken before signs in nobody. An access
    // token past its expiry would be turned away, so the session is renewed for its sign-out.
    for (const bool expired : {false, true}) {
        signedIn().reset();
        const auto copiedAccess = *KeychainStore::read(AuthService::kAccessTokenKey);
        const auto copiedRefresh = *KeychainStore::read(AuthService::kRefreshTokenKey);
        std::promise<std::pair<std::string, int>> answered;  // the bearer sent, the service's status
        transport->instead = [&](const http::HTTPClientRequest& request) -> std::optional<http::HTTPClientResponse> {
            if (request.url.find("/auth/v1/logout") == std::string::npos) return std::nullopt;
            const auto response = http::CurlTransport().send(request);
            answered.set_value({request.headers.at("Authorization"), response.statusCode});
            return response;
        };
        AuthService auth(at(backend.baseURL()), transport, backend.clock);
        if (expired) backend.clock.sleep(std::chrono::hours(1));
        auth.signOut();
        auto sent = answered.get_future();
        ASSERT_EQ(sent.wait_for(kGuard), std::future_status::ready) << expired;
        const auto [bearer, status] = sent.get();
        EXPECT_EQ(status, 204) << expired;
        if (!expired) {
            EXPECT_EQ(bearer, "Bearer " + copiedAccess);
        }
        ASSERT_EQ(bearer.rfind("Bearer ", 0), 0u);
        EXPECT_EQ(chatStatusWith(bearer.substr(7)), 401) << expired;
        EXPECT_EQ(chatStatusWith(copiedAccess), 401) << expired;
        const auto refreshed = backend.service().handle(
            {.method = "POST",
             .path = "/auth/v1/token?grant_type=refresh_token",
             .body = json{{"refresh_token", copiedRefresh}}.dump(),
             .headers = {{"apikey", BackendConfiguration::kDefaultPublishableKey}}});
        EXPECT_NE(refreshed.statusCode, 200) << expired << ": the copied refresh token still refreshes";
        transport->instead = nullptr;
    }
}

// Sign Out was told as done while the session stayed stored and working: the file's lock, held by
// another copy renewing the session, was refused and the change made on values read without it;
// a revocation that got no answer, or a busy or failing one, was never asked again; and the other
// copy then stored a renewed pair of the session signed out of. After every sign-out told as done
// (nothing left in the notice) no copy holds a working session of it and the service refuses its
// tokens; any other says what could not be done.
TEST_F(AuthServiceTest, EverySignOutToldAsDoneLeavesNoCopyAWorkingSessionAndAnyOtherSaysWhatIsLeft) {
    platform::ScopedServices services{{.clock = &backend.clock}};
    using Answer = http::HTTPClientResponse;  // status 0: no answer in time
    struct Row {
        const char* name;
        bool otherRenewing;  // the other copy renews the expired session, its answer late, as the user signs out
        std::vector<Answer> signOutAnswers;  // the first answers to the sign-out's requests, then the service's own
        bool toldAsDone;
    };
    const Answer noAnswer{0, ""};
    const Answer busy{503, R"({"error":"over_request_rate_limit","retry_after":1})"};
    const Answer diskFull{500, R"({"error":"unexpected_failure","error_description":"The session could not be stored: No space left on device"})"};
    const Answer keyRefused{401, R"({"error":"invalid_api_key","error_description":"Invalid API key"})"};
    const std::vector<Row> rows = {
        {"one copy, the service answering", false, {}, true},
        {"one copy, the sign-out unanswered twice", false, {noAnswer, noAnswer}, true},
        {"one copy, the service busy", false, {busy}, true},
        {"one copy, the service's disk full", false, {diskFull, diskFull}, true},
        {"the other copy renewing", true, {}, true},
        {"the other copy renewing, the sign-out unanswered", true, {noAnswer}, true},
        {"the other copy renewing, the service busy then failing", true, {busy, diskFull}, true},
        {"the app's key refused", false, {keyRefused}, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        transport->instead = nullptr;
        signedIn().reset();
        auto aTransport = std::make_shared<HookedTransport>();
        auto bTransport = std::make_shared<HookedTransport>();
        // Before the copies: the other copy's asking again comes back to its transport's hook.
        http::CurlTransport wire;
        bool lost = false;
        std::vector<std::string> accessTokens;
        std::vector<std::string> refreshTokens;
        auto a = std::make_unique<AuthService>(at(backend.baseURL()), aTransport, backend.clock);
        AuthService b(at(backend.baseURL()), bTransport, backend.clock);
        accessTokens.push_back(*KeychainStore::read(AuthService::kAccessTokenKey));
        refreshTokens.push_back(*KeychainStore::read(AuthService::kRefreshTokenKey));
        std::mutex said;
        std::vector<std::string> notices;
        a->setObserver([&] {
            std::lock_guard hold(said);
            if (const auto notice = a->notice()) notices.push_back(*notice);
        });
        std::size_t answered = 0;
        aTransport->instead = [&](const http::HTTPClientRequest&) -> std::optional<http::HTTPClientResponse> {
            if (answered == row.signOutAnswers.size()) return std::nullopt;
            const Answer answer = row.signOutAnswers[answered++];
            if (answer.statusCode == 0) throw http::TransportError("Timeout was reached");
            return answer;
        };
        if (row.otherRenewing) {
            backend.clock.sleep(std::chrono::hours(1));
            bTransport->instead = [&](const http::HTTPClientRequest& request) -> std::optional<http::HTTPClientResponse> {
                if (request.url.find("refresh_token") == std::string::npos || lost) return std::nullopt;
                lost = true;
                const auto renewed = wire.send(request, {});
                EXPECT_EQ(renewed.statusCode, 200);
                const json pair = json::parse(renewed.body);
                accessTokens.push_back(pair["access_token"]);
                refreshTokens.push_back(pair["refresh_token"]);
                a->signOut();  // while this copy holds the credential file
                throw http::TransportError("Timeout was reached");
            };
            describe([&] { b.getValidToken(); });
        } else {
            a->signOut();
        }
        EXPECT_FALSE(a->isAuthenticated());
        // The clock moves on one round of the sign-out at a time, which the other copy's asking
        // again follows; a bound against a hang, not a pace.
        const auto until = std::chrono::steady_clock::now() + kGuard;
        for (int seen = 0; a->signOutsPending() && std::chrono::steady_clock::now() < until;
             std::this_thread::yield()) {
            if (a->signOutRounds() == seen) continue;
            seen = a->signOutRounds();
            backend.clock.sleep(AuthService::kRevocationRetry);
        }
        ASSERT_FALSE(a->signOutsPending());
        EXPECT_EQ(answered, row.signOutAnswers.size());
        const auto notice = a->notice();
        EXPECT_EQ(!notice, row.toldAsDone) << notice.value_or("");
        if (!row.signOutAnswers.empty()) {
            std::lock_guard hold(said);
            EXPECT_FALSE(notices.empty()) << "the window said nothing while the service had not ended the session";
        }
        if (!notice) {
            EXPECT_EQ(KeychainStore::read(AuthService::kAccessTokenKey), std::nullopt);
            EXPECT_EQ(KeychainStore::read(AuthService::kRefreshTokenKey), std::nullopt);
            EXPECT_EQ(describe([&] { EXPECT_EQ(b.getValidToken(), std::nullopt); }), "no error");
            EXPECT_FALSE(b.isAuthenticated());
            AuthService later(at(backend.baseURL()), transport, backend.clock);
            EXPECT_FALSE(later.isAuthenticated()) << "a copy started afterwards";
            for (const auto& access : accessTokens) EXPECT_EQ(chatStatusWith(access), 401);
            for (const auto& refresh : refreshTokens) {
                const auto renewed = backend.service().handle(
                    {.method = "POST",
                     .path = "/auth/v1/token?grant_type=refresh_token",
                     .body = json{{"refresh_token", refresh}}.dump(),
                     .headers = {{"apikey", BackendConfiguration::kDefaultPublishableKey}}});
                EXPECT_NE(renewed.statusCode, 200) << "a refresh token of the session still renews it";
            }
        } else {
            EXPECT_NE(notice->find("was not told"), std::string::npos) << *notice;
            EXPECT_NE(notice->find("refused the app's key"), std::string::npos) << *notice;
        }
        a->setObserver(nullptr);
        a.reset();
        KeychainStore::remove(AuthService::kAccessTokenKey);
        KeychainStore::remove(AuthService::kRefreshTokenKey);
    }
}

// After a password reset or the account's removal every message was answered "I lost my sign-in"
// while the window went on showing the user signed in: a 401 from the chat backend never ended the
// session in the app. A refused token whose session cannot be renewed ends it in every copy on the
// folder, as a refused refresh does, and the sign-in form says why. A copy that found the session
// cleared by another copy's Sign Out fell back to the bare form, saying nothing.
TEST_F(AuthServiceTest, AChatRefusedForASessionTheServiceEndedEndsItInEveryCopyAndSaysWhy) {
    struct Row {
        const char* name;
        std::function<void(backend::AccountStore&, AuthService& other)> end;
        const char* said;
    };
    const char* ended = "Not authenticated: the sign-in has ended. Please sign in again.";
    const std::vector<Row> rows = {
        {"a new password",
         [](backend::AccountStore& accounts, AuthService&) { accounts.addUser(LocalBackend::kEmail, "new one"); },
         ended},
        {"the account removed",
         [](backend::AccountStore& accounts, AuthService&) { accounts.removeUser(LocalBackend::kEmail); }, ended},
        {"signed out in the other copy", [](backend::AccountStore&, AuthService& other) { other.signOut(); },
         "Not authenticated. Please sign in again."},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        backend.service().accounts().addUser(LocalBackend::kEmail, LocalBackend::kPassword);
        signedIn().reset();
        AuthService a(at(backend.baseURL()), transport, backend.clock);
        AuthService b(at(backend.baseURL()), transport, backend.clock);
        BackendChatService chat(at(backend.baseURL()).chatEndpoint(), "gpt-5", transport);
        chat.setAuthTokenProvider([&](std::stop_token stop) { return a.getValidToken(std::move(stop)); });
        chat.setTokenRefusedHandler(
            [&](const std::string& token, std::stop_token stop) { return a.tokenRefused(token, std::move(stop)); });
        const json body = {{"tier", "standard"}, {"kind", "agent"}, {"input", json::array()}};
        EXPECT_EQ(describe([&] { chat.sendRequest(body); }), "no error");
        row.end(backend.service().accounts(), b);
        EXPECT_EQ(describe([&] { chat.sendRequest(body); }), row.said);
        EXPECT_FALSE(a.isAuthenticated());
        EXPECT_EQ(a.userEmail(), std::nullopt);
        EXPECT_EQ(a.notice(), AuthService::kSessionEnded);
        EXPECT_EQ(KeychainStore::read(AuthService::kRefreshTokenKey), std::nullopt);
        EXPECT_EQ(b.getValidToken(), std::nullopt);
        EXPECT_FALSE(b.isAuthenticated());
        // Signing in again takes the notice away.
        backend.service().accounts().addUser(LocalBackend::kEmail, LocalBackend::kPassword);
        a.signIn(LocalBackend::kEmail, LocalBackend::kPassword);
        EXPECT_TRUE(a.isAuthenticated());
        EXPECT_EQ(a.notice(), std::nullopt);
        EXPECT_EQ(describe([&] { chat.sendRequest(body); }), "no error");
    }
}

// A sign-in service that never answered held a turn for the request's 60 s, through the user's
// Stop, and quitting waited as long.
TEST_F(AuthServiceTest, ATurnWaitingOnASilentSignInServiceEndsAtItsStopOrAfterTheBoundAndQuittingWaitsForNothing) {
    signedIn().reset();
    const auto refresh = KeychainStore::read(AuthService::kRefreshTokenKey);
    backend.clock.sleep(std::chrono::hours(1));
    // No answer and no time-out: only a stop ends a wait for it.
    transport->holds = true;
    auto auth = std::make_unique<AuthService>(at(backend.baseURL()), transport, backend.clock);
    BackendChatService chat(at(backend.baseURL()).chatEndpoint(), "gpt-5", transport);
    chat.setAuthTokenProvider([&](std::stop_token stop) { return auth->getValidToken(std::move(stop)); });

    std::stop_source stop;
    auto turn = std::async(std::launch::async,
                           [&] { return describe([&] { chat.sendRequest(json::object(), stop.get_token()); }); });
    while (auth->refreshWaiters() == 0) std::this_thread::yield();
    stop.request_stop();
    ASSERT_EQ(turn.wait_for(kGuard), std::future_status::ready);  // a bound against a hang, not a pace
    EXPECT_EQ(turn.get(), "Network error: the request was cancelled");

    auto unstopped = std::async(std::launch::async, [&] { return describe([&] { auth->getValidToken(); }); });
    while (auth->refreshWaiters() == 0) std::this_thread::yield();
    backend.clock.sleep(AuthService::kServiceWait);
    ASSERT_EQ(unstopped.wait_for(kGuard), std::future_status::ready);
    EXPECT_EQ(unstopped.get(), "The sign-in service did not answer. Try again in a moment.");
    EXPECT_TRUE(auth->isAuthenticated());
    EXPECT_EQ(KeychainStore::read(AuthService::kRefreshTokenKey), refresh);
    EXPECT_EQ(transport->refreshCalls, 1) << "one refresh out for every caller";

    auto quit = std::async(std::launch::async, [&] { auth.reset(); });
    const bool quit_ = quit.wait_for(kGuard) == std::future_status::ready;  // a bound against a hang
    transport->letGo();
    EXPECT_TRUE(quit_) << "quitting waited for the service's answer";
}

// A mistyped CORVANE_BACKEND_APIKEY had the refresh refused for the app's key, and the app deleted
// a session that the service still refreshes with the right key.
TEST_F(AuthServiceTest, ARefreshRefusedForTheAppsKeyKeepsTheSessionAndSaysSo) {
    signedIn().reset();
    const auto refresh = KeychainStore::read(AuthService::kRefreshTokenKey);
    backend.clock.sleep(std::chrono::hours(1));
    BackendConfiguration mistyped = at(backend.baseURL());
    mistyped.publishableKey = "sb_publishable_corvaneLocalBackendPublishable2";
    AuthService auth(mistyped, transport, backend.clock);
    auth.waitForStartupRefresh();
    EXPECT_EQ(describe([&] { auth.getValidToken(); }),
              "The sign-in service refused the app's key. Check CORVANE_BACKEND_APIKEY and try again.");
    EXPECT_TRUE(auth.isAuthenticated());
    EXPECT_EQ(KeychainStore::read(AuthService::kRefreshTokenKey), refresh);

    AuthService rightKey(at(backend.baseURL()), transport, backend.clock);
    const auto token = rightKey.getValidToken();
    ASSERT_TRUE(token);
    EXPECT_EQ(chatStatusWith(*token), 200);
}

// Two copies of the app share the folder and refresh the same expired session at once: the one
// answered second threw its answer away as stale and sent its expired token, answered "Not
// authenticated" while the session was good.
// A copy that needs a token while another renews the session waits for the file, spends nothing
// and uses the pair the other stored.
TEST_F(AuthServiceTest, TheCopyThatFindsARefreshUnderWayUsesThePairTheOtherCopyStored) {
    platform::ScopedServices services{{.clock = &backend.clock}};
    signedIn().reset();
    auto latecomerTransport = std::make_shared<HookedTransport>();
    AuthService first(at(backend.baseURL()), transport, backend.clock);
    std::unique_ptr<AuthService> latecomer;
    transport->before = [&](const http::HTTPClientRequest& request) {
        if (request.url.find("refresh_token") == std::string::npos || latecomer) return;
        // The other copy starts, its token expired, while this one's request is on its way.
        latecomer = std::make_unique<AuthService>(at(backend.baseURL()), latecomerTransport, backend.clock);
        latecomer->waitForStartupRefresh();
    };
    backend.clock.sleep(std::chrono::hours(1));
    const auto token = first.getValidToken();
    ASSERT_TRUE(latecomer);
    ASSERT_TRUE(token);
    EXPECT_EQ(latecomerTransport->refreshCalls, 0) << "the token being spent was spent again";
    EXPECT_EQ(latecomer->getValidToken(), token);
    EXPECT_EQ(token, KeychainStore::read(AuthService::kAccessTokenKey));
    EXPECT_EQ(chatStatusWith(*token), 200);
    EXPECT_TRUE(first.isAuthenticated());
    EXPECT_TRUE(latecomer->isAuthenticated());
}

// Three copies with one expired session: a copy that found it expired while another renewed it
// spent the renewed pair's refresh token again once it had the file's lock (two refreshes for one
// expiry). Under the lock a stored pair that is still fresh is used, not spent.
TEST_F(AuthServiceTest, CopiesThatFoundTheSessionExpiredWhileAnotherRenewedItUseThatPairAndSpendNothing) {
    signedIn().reset();
    auto latecomersTransport = std::make_shared<HookedTransport>();
    AuthService first(at(backend.baseURL()), transport, backend.clock);
    std::vector<std::unique_ptr<AuthService>> latecomers;
    transport->before = [&](const http::HTTPClientRequest& request) {
        if (request.url.find("refresh_token") == std::string::npos || !latecomers.empty()) return;
        // Two more copies start while this one's refresh is out: they find the session expired,
        // and their refreshes wait for the file's lock this copy holds.
        for (int i = 0; i < 2; ++i)
            latecomers.push_back(std::make_unique<AuthService>(at(backend.baseURL()), latecomersTransport, backend.clock));
    };
    backend.clock.sleep(std::chrono::hours(1));
    const auto token = first.getValidToken();
    ASSERT_TRUE(token);
    ASSERT_EQ(latecomers.size(), 2u);
    for (const auto& copy : latecomers) copy->waitForStartupRefresh();
    EXPECT_EQ(transport->refreshCalls + latecomersTransport->refreshCalls, 1);
    EXPECT_EQ(KeychainStore::read(AuthService::kAccessTokenKey), token);
    for (const auto& copy : latecomers) {
        EXPECT_EQ(copy->getValidToken(), token);
        EXPECT_TRUE(copy->isAuthenticated());
    }
    EXPECT_EQ(chatStatusWith(*token), 200);
}

// A refresh the service answered after the app gave up had spent the refresh token and issued a
// pair; the app kept the spent token and asked again only when a turn needed one, past the minute
// in which the service gives that pair again: every copy on the folder was signed out. The app
// asks again by itself well within that minute (at once where the copy was stopped while the
// request was out), collects the pair, and the copies keep the session.
TEST_F(AuthServiceTest, ARefreshAnsweredAfterTheAppGaveUpIsAskedAgainInTimeAndNoCopyIsSignedOut) {
    platform::ScopedServices services{{.clock = &backend.clock}};
    // One busy answer to the first ask again (a 503 with Retry-After, a gateway's page, a failing
    // service, another time-out) ended the asking: the pair was never collected.
    using Answer = std::optional<http::HTTPClientResponse>;  // status 0: no answer in time
    struct Case {
        const char* name;
        std::chrono::seconds stoppedFor;  // how long the copy was stopped while its request was out
        Answer firstAskAgain;             // none: the service's own answer
    };
    const http::HTTPClientResponse busy{503, R"({"error":"over_request_rate_limit","retry_after":1})"};
    const Case cases[] = {
        {"the service answers after the time-out", std::chrono::seconds(0), std::nullopt},
        {"the copy was stopped mid-request", std::chrono::seconds(8), std::nullopt},
        {"the first ask again answered busy", std::chrono::seconds(0), busy},
        {"the first ask again answered by a gateway's page", std::chrono::seconds(0),
         http::HTTPClientResponse{502, "<html><body>Bad Gateway</body></html>"}},
        {"the first ask again answered 500", std::chrono::seconds(0),
         http::HTTPClientResponse{500, R"({"error":"unexpected_failure"})"}},
        {"the first ask again not answered either", std::chrono::seconds(0), http::HTTPClientResponse{0, ""}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        transport->instead = nullptr;
        const auto a = signedIn();
        auto otherTransport = std::make_shared<HookedTransport>();
        AuthService b(at(backend.baseURL()), otherTransport, backend.clock);
        const int sentBefore = transport->refreshCalls;
        // The first refresh reaches the service over the socket, which spends the token and
        // answers; the answer comes after the app gave up on it.
        http::CurlTransport wire;
        int asked = 0;
        transport->instead = [&](const http::HTTPClientRequest& request) -> std::optional<http::HTTPClientResponse> {
            if (request.url.find("refresh_token") == std::string::npos) return std::nullopt;
            ++asked;
            if (asked == 2 && c.firstAskAgain) {
                if (c.firstAskAgain->statusCode == 0) throw http::TransportError("Timeout was reached");
                return c.firstAskAgain;
            }
            if (asked > 1) return std::nullopt;
            backend.clock.sleep(c.stoppedFor);
            EXPECT_EQ(wire.send(request, {}).statusCode, 200);
            throw http::TransportError("Timeout was reached");
        };
        backend.clock.sleep(std::chrono::hours(1));
        std::optional<std::string> token;
        const auto firstAnswer = describe([&] { token = a->getValidToken(); });
        if (c.stoppedFor == std::chrono::seconds(0)) {
            EXPECT_EQ(firstAnswer, "The sign-in service could not be reached. Try again in a moment.");
        } else {
            // The turn's wait was stopped with the copy: it may give up before the ask made at
            // once on resuming is answered.
            EXPECT_TRUE(firstAnswer == "no error" ||
                        firstAnswer == "The sign-in service did not answer. Try again in a moment.")
                << firstAnswer;
        }
        // Nobody needs a token; the app asks again by itself, each time once the last ask was
        // made and the next is due.
        int seen = c.stoppedFor == std::chrono::seconds(0) ? 1 : 2;
        const auto until = std::chrono::steady_clock::now() + kGuard;  // a bound against a hang, not a pace
        while (std::chrono::steady_clock::now() < until &&
               a->isTokenExpired(KeychainStore::read(AuthService::kAccessTokenKey).value_or(""))) {
            if (transport->refreshCalls - sentBefore == seen) {
                ++seen;
                backend.clock.sleep(AuthService::kUnansweredRetry);
            }
            std::this_thread::yield();
        }
        token = KeychainStore::read(AuthService::kAccessTokenKey);
        // At least: the clock may move on while the collecting ask is still out, which the app
        // takes for a copy stopped mid-request and asks once more at once.
        EXPECT_GE(transport->refreshCalls - sentBefore, c.firstAskAgain ? 3 : 2) << "the pair was not asked for again";
        ASSERT_TRUE(token);
        EXPECT_FALSE(a->isTokenExpired(*token));

        // Past the service's minute, every copy still has the session.
        backend.clock.sleep(std::chrono::seconds(61));
        EXPECT_EQ(b.getValidToken(), token);
        EXPECT_EQ(a->getValidToken(), token);
        EXPECT_EQ(otherTransport->refreshCalls, 0);
        EXPECT_TRUE(a->isAuthenticated());
        EXPECT_TRUE(b.isAuthenticated());
        EXPECT_EQ(chatStatusWith(*token), 200);
    }
}

TEST(AuthServiceJWT, ReadsTheEmailAndExpiryTheWayTheServiceWritesThem) {
    testing::ManualClock clock;
    const double now = std::chrono::duration<double>(clock.now().time_since_epoch()).count();
    AuthService auth(at("http://127.0.0.1:1"), std::make_shared<HookedTransport>(), clock);
    EXPECT_TRUE(auth.isTokenExpired(jwtWith({{"exp", now + 30}})));
    EXPECT_FALSE(auth.isTokenExpired(jwtWith({{"exp", now + 61}})));
    EXPECT_TRUE(auth.isTokenExpired(jwtWith({{"exp", "later"}})));
    EXPECT_TRUE(auth.isTokenExpired("two.pieces"));
    EXPECT_TRUE(auth.isTokenExpired("a.%%%.c"));
    EXPECT_EQ(AuthService::emailFromJWT(jwtWith({{"email", ""}, {"user_metadata", {{"email", "n@x.io"}}}})), "n@x.io");
    EXPECT_EQ(AuthService::emailFromJWT(jwtWith({{"email", "e@x.io"}})), "e@x.io");
    EXPECT_EQ(AuthService::emailFromJWT("a.b.c"), std::nullopt);
}

}  // namespace
}  // namespace corvane::networking
