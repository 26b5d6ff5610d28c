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

// Whether the sign-in service still renews a session with this refresh token.
bool renews(LocalBackend& backend, const std::string& refreshToken) {
    return backend.service()
               .handle({.method = "POST",
                        .path = "/auth/v1/token?grant_type=refresh_token",
                        .body = json{{"refresh_token", refreshToken}}.dump(),
                        .headers = {{"apikey", BackendConfiguration::kDefaultPublishableKey}}})
               .statusCode == 200;
}

void awaitSignOuts(AuthService& copy) {
    const auto until = std::chrono::steady_clock::now() + kGuard;  // a bound against a hang, not a pace
    while (copy.signOutsPending() && std::chrono::steady_clock::now() < until) std::this_thread::yield();
    EXPECT_FALSE(copy.signOutsPending());
}

// A fresh folder and backend that knows a second account, and a window on them, signed in as nobody yet.
struct WindowOfTwoAccounts {
    static BackendConfiguration withOtherAccount(LocalBackend& backend) {
        backend.service().accounts().addUser(kOtherEmail, kOtherPassword);
        return at(backend.baseURL());
    }
    TempHome home;
    LocalBackend backend{home.root() / "backend"};
    std::shared_ptr<HookedTransport> transport = std::make_shared<HookedTransport>();
    AuthService window{withOtherAccount(backend), transport, backend.clock};
};

// A window still showing the session it signed in with, while another copy on the folder signed
// in since (over it, or after signing out of it): its Sign Out cleared the other copy's sign-in
// from "auth.json" and had the service end it, and left the session the user meant to end valid.
// Sign Out ends the session the window shows; a later sign-in elsewhere stays stored and working,
// unless the window went on as it at a request since.
TEST(AuthServiceCopies, SignOutEndsTheSessionTheWindowShowsAndLeavesALaterSignInOfAnotherCopy) {
    struct Row {
        const char* name;
        bool otherSignsOutFirst;
        bool otherAccount;
        bool windowSentSince = false;
    };
    std::vector<Row> rows = {
        {"signed in over it, another account", false, true},
        {"signed in over it, the same account", false, false},
        {"signed out of it and in, another account", true, true},
        {"signed out of it and in, the same account", true, false},
    };
    for (std::size_t i = 0, n = rows.size(); i < n; ++i) rows.push_back({rows[i].name, rows[i].otherSignsOutFirst,
                                                                          rows[i].otherAccount, true});
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.name) + (row.windowSentSince ? ", the window sent a request since" : ""));
        WindowOfTwoAccounts setup;
        auto& [home, backend, transport, window] = setup;
        window.signIn(LocalBackend::kEmail, LocalBackend::kPassword);
        const auto shownAccess = *KeychainStore::read(AuthService::kAccessTokenKey);
        const auto shownRefresh = *KeychainStore::read(AuthService::kRefreshTokenKey);
        AuthService other(at(backend.baseURL()), transport, backend.clock);
        if (row.otherSignsOutFirst) {
            other.signOut();
            awaitSignOuts(other);
        }
        other.signIn(row.otherAccount ? kOtherEmail : LocalBackend::kEmail,
                     row.otherAccount ? kOtherPassword : LocalBackend::kPassword);
        const auto later = KeychainStore::read(AuthService::kAccessTokenKey);
        ASSERT_TRUE(later);
        ASSERT_NE(AuthService::sessionIDFromJWT(*later), AuthService::sessionIDFromJWT(shownAccess));
        EXPECT_EQ(window.userEmail(), LocalBackend::kEmail);
        if (row.windowSentSince) {
            EXPECT_EQ(window.getValidToken(), later);
            EXPECT_EQ(window.userEmail(), row.otherAccount ? kOtherEmail : LocalBackend::kEmail);
        }

        window.signOut();
        awaitSignOuts(window);
        EXPECT_FALSE(window.isAuthenticated());
        EXPECT_EQ(window.notice(), std::nullopt);
        if (row.windowSentSince) {  // the session it went on as is the one signed out of
            EXPECT_EQ(KeychainStore::read(AuthService::kAccessTokenKey), std::nullopt);
            EXPECT_EQ(chatStatusWith(backend, *later), 401);
            EXPECT_EQ(other.getValidToken(), std::nullopt);
            EXPECT_FALSE(other.isAuthenticated());
            continue;
        }
        EXPECT_EQ(KeychainStore::read(AuthService::kAccessTokenKey), later) << "the later sign-in was cleared";
        EXPECT_EQ(chatStatusWith(backend, *later), 200) << "the later sign-in was ended";
        EXPECT_EQ(describe([&] { EXPECT_EQ(other.getValidToken(), later); }), "no error");
        EXPECT_TRUE(other.isAuthenticated());
        EXPECT_EQ(other.notice(), std::nullopt);
        EXPECT_EQ(chatStatusWith(backend, shownAccess), 401) << "the session signed out of is still taken";
        EXPECT_FALSE(renews(backend, shownRefresh)) << "the session signed out of still renews";
    }
}

// Signing out of a sign-in the file refused ends the session it was to replace only while the file
// still holds that one: once another copy's later sign-in replaced it there, it is left alone.
TEST(AuthServiceCopies, SignOutOfAnUnsavedSignInLeavesTheSessionItReplacedOnceAnotherSignInReplacedIt) {
    WindowOfTwoAccounts setup;
    auto& [home, backend, transport, window] = setup;
    window.signIn(LocalBackend::kEmail, LocalBackend::kPassword);
    const auto replaced = *KeychainStore::read(AuthService::kAccessTokenKey);
    const auto lock = KeychainStore::storeURL().parent_path() / ".auth.json.lock";
    std::filesystem::remove(lock);
    std::filesystem::create_symlink(home.root() / "elsewhere", lock);
    window.signIn(LocalBackend::kEmail, LocalBackend::kPassword);
    ASSERT_EQ(window.notice(), AuthService::kSessionNotSaved);
    std::filesystem::remove(lock);
    AuthService other(at(backend.baseURL()), transport, backend.clock);
    other.signIn(kOtherEmail, kOtherPassword);  // before the window offers its sign-in again
    const auto later = KeychainStore::read(AuthService::kAccessTokenKey);
    ASSERT_NE(later, replaced);
    window.signOut();
    awaitSignOuts(window);
    EXPECT_EQ(KeychainStore::read(AuthService::kAccessTokenKey), later);
    EXPECT_EQ(chatStatusWith(backend, *later), 200);
    EXPECT_EQ(chatStatusWith(backend, replaced), 200) << "ended though the file no longer held it";
}

// Two sign-ins "auth.json" refused for a moment (its lock unusable) are offered to it again, each
// copy on its own: when the earlier came first, the later was dropped as "another sign-in made
// since", and its copy went on as the earlier account. The later sign-in is stored, whichever
// copy offers first; the copy of the earlier one goes on as the later account.
TEST(AuthServiceCopies, OfTwoSignInsTheFileRefusedTheLaterIsStoredWhicheverCopyOffersFirst) {
    struct Row {
        const char* name;
        bool signedInBefore;  // both copies showed a session both sign-ins replace
        std::chrono::milliseconds apart;
        bool earlierOffersFirst;
        bool laterRenewed = false;  // in between the offers: it keeps its sign-in's place
    };
    std::vector<Row> rows;
    for (const bool before : {false, true})
        for (const auto apart : {std::chrono::milliseconds(0), std::chrono::milliseconds(500)}) {
            rows.push_back({"", before, apart, true});
            rows.push_back({"", before, apart, false});
            rows.push_back({"", before, apart, false, true});
        }
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.signedInBefore ? "over a session" : "over none") + ", " +
                     std::to_string(row.apart.count()) + " ms apart, " +
                     (row.earlierOffersFirst ? "the earlier" : "the later") + " offered first" +
                     (row.laterRenewed ? ", then renewed" : ""));
        TempHome home;
        LocalBackend backend{home.root() / "backend"};
        platform::ScopedServices services{{.clock = &backend.clock}};
        backend.service().accounts().addUser(kOtherEmail, kOtherPassword);
        auto transport = std::make_shared<HookedTransport>();
        if (row.signedInBefore)
            AuthService(at(backend.baseURL()), transport, backend.clock)
                .signIn(LocalBackend::kEmail, LocalBackend::kPassword);
        AuthService earlier(at(backend.baseURL()), transport, backend.clock);
        AuthService later(at(backend.baseURL()), transport, backend.clock);
        const auto lock = KeychainStore::storeURL().parent_path() / ".auth.json.lock";
        std::filesystem::remove(lock);
        std::filesystem::create_symlink(home.root() / "elsewhere", lock);
        earlier.signIn(LocalBackend::kEmail, LocalBackend::kPassword);
        backend.clock.sleep(row.apart);
        later.signIn(kOtherEmail, kOtherPassword);
        EXPECT_EQ(earlier.notice(), AuthService::kSessionNotSaved);
        EXPECT_EQ(later.notice(), AuthService::kSessionNotSaved);
        auto laterToken = later.getValidToken();
        ASSERT_TRUE(laterToken);
        std::filesystem::remove(lock);

        // A request offers a copy's pair to the file before anything else.
        AuthService& first = row.earlierOffersFirst ? earlier : later;
        AuthService& second = row.earlierOffersFirst ? later : earlier;
        EXPECT_EQ(describe([&] { first.getValidToken(); }), "no error");
        if (row.laterRenewed) {
            laterToken = later.tokenRefused(*laterToken);
            ASSERT_TRUE(laterToken);
        }
        EXPECT_EQ(describe([&] { second.getValidToken(); }), "no error");
        EXPECT_EQ(KeychainStore::read(AuthService::kAccessTokenKey), laterToken) << "the later sign-in was dropped";
        for (AuthService* copy : {&earlier, &later}) {
            EXPECT_EQ(copy->getValidToken(), laterToken);
            EXPECT_TRUE(copy->isAuthenticated());
            EXPECT_EQ(copy->userEmail(), kOtherEmail);
            EXPECT_EQ(copy->notice(), std::nullopt);
        }
    }
}

// A copy signed out by another (the form and its strip shown) handed out the token of a sign-in
// another copy made after, while it still showed itself signed out: a copy that hands out a
// session's token shows itself signed in as its account.
TEST(AuthServiceCopies, ACopyThatHandsOutATokenShowsItsAccount) {
    for (const bool refusedByTheBackend : {false, true}) {
        SCOPED_TRACE(refusedByTheBackend ? "the token the chat backend refused" : "the next token");
        WindowOfTwoAccounts setup;
        auto& [home, backend, transport, window] = setup;
        window.signIn(LocalBackend::kEmail, LocalBackend::kPassword);
        const auto first = window.getValidToken();
        ASSERT_TRUE(first);
        AuthService other(at(backend.baseURL()), transport, backend.clock);
        other.signOut();
        awaitSignOuts(other);
        EXPECT_EQ(window.getValidToken(), std::nullopt);
        EXPECT_FALSE(window.isAuthenticated());
        EXPECT_EQ(window.notice(), AuthService::kSessionEnded);
        other.signIn(kOtherEmail, kOtherPassword);

        std::optional<std::string> sent;
        EXPECT_EQ(describe([&] { sent = refusedByTheBackend ? window.tokenRefused(*first) : window.getValidToken(); }),
                  "no error");
        ASSERT_TRUE(sent);
        EXPECT_EQ(sent, KeychainStore::read(AuthService::kAccessTokenKey));
        EXPECT_TRUE(window.isAuthenticated()) << "signed out, while sending " << *AuthService::emailFromJWT(*sent) << "'s token";
        EXPECT_EQ(window.userEmail(), AuthService::emailFromJWT(*sent));
        EXPECT_EQ(window.notice(), std::nullopt);
    }
}

// A renewal asked for a token the chat backend refused, answered only after the app's time-out
// (the service having spent the token), was asked again once and no more, since the stored access
// token had not expired; the next renewal spent the spent token and ended the session everywhere.
// Only the pair, or the service refusing the token, ends the asking.
TEST(AuthServiceTurns, ARenewalAnsweredAfterTheTimeOutIsAskedAgainUntilThePairComesThoughTheTokenIsNotExpired) {
    TempHome home;
    LocalBackend backend{home.root() / "backend"};
    platform::ScopedServices services{{.clock = &backend.clock}};
    auto wire = std::make_shared<http::CurlTransport>();
    auto transport = std::make_shared<HookedTransport>();
    AuthService auth(at(backend.baseURL()), transport, backend.clock);
    auth.signIn(LocalBackend::kEmail, LocalBackend::kPassword);
    const auto refused = auth.getValidToken();
    ASSERT_TRUE(refused);
    constexpr int kLate = 3;  // answers heard too late: the first request and two asked again
    transport->instead = [&](const http::HTTPClientRequest& request) -> std::optional<http::HTTPClientResponse> {
        if (!isRefresh(request) || transport->refreshCalls > kLate) return std::nullopt;
        wire->send(request, {});  // the service spends the token; the answer comes after the time-out
        throw http::TransportError("the request timed out");
    };
    EXPECT_NE(describe([&] { auth.tokenRefused(*refused); }), "no error");
    for (int asked = 2; asked <= kLate + 1; ++asked) {
        backend.clock.sleep(AuthService::kUnansweredRetry);
        const auto until = std::chrono::steady_clock::now() + kGuard;  // a bound against a hang, not a pace
        while (transport->refreshCalls < asked && std::chrono::steady_clock::now() < until)
            std::this_thread::yield();
        ASSERT_EQ(transport->refreshCalls, asked) << "not asked again";
    }
    const auto until = std::chrono::steady_clock::now() + kGuard;
    while (KeychainStore::read(AuthService::kAccessTokenKey) == refused && std::chrono::steady_clock::now() < until)
        std::this_thread::yield();
    const auto stored = KeychainStore::read(AuthService::kAccessTokenKey);
    ASSERT_TRUE(stored);
    EXPECT_NE(stored, refused) << "the pair the service gave was never collected";
    EXPECT_EQ(chatStatusWith(backend, *stored), 200);
    EXPECT_TRUE(auth.isAuthenticated());
    // Collected: asked no more.
    backend.clock.sleep(AuthService::kUnansweredRetry * 2);
    EXPECT_EQ(transport->refreshCalls, kLate + 1);
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
// the same unanswered renewal, and a turn's wait was forgotten once 16 other turns had waited. A
// turn waits for the service kServiceWait in all, while it runs; the next turn waits again.
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
    // However many other turns waited since (the token past its use by now), the turn does not
    // wait again while it runs.
    std::vector<std::stop_source> others(20);  // running still, as chats do side by side
    for (std::size_t other = 0; other < others.size(); ++other)
        EXPECT_TRUE(round(others[other].get_token()).first) << "another turn " << other;
    EXPECT_FALSE(round(turn.get_token()).first) << "the turn waited again";
    EXPECT_EQ(transport->refreshCalls, 1);
    EXPECT_TRUE(auth.isAuthenticated());
}

}  // namespace
}  // namespace corvane::networking
