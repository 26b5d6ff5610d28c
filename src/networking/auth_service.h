#pragma once

// Signs the user in against the sign-in service, keeps the session in the credential file and
// hands out access tokens, refreshing an expired one first. Refreshes are coalesced: whoever
// needs a token while a refresh runs waits for that refresh's result.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <stop_token>
#include <string>
#include <thread>
#include <map>
#include <vector>

#include <nlohmann/json.hpp>

#include "http/http_client.h"
#include "platform/clock.h"
#include "platform/platform.h"
#include "support/files.h"

namespace corvane::networking {

// Where the chat backend and the sign-in service are: CORVANE_BACKEND_URL (else the local
// corvane-backend on 127.0.0.1:51235) and CORVANE_BACKEND_APIKEY (else its publishable key).
struct BackendConfiguration {
    static constexpr const char* kDefaultBaseURL = "http://127.0.0.1:51235";
    static constexpr const char* kDefaultPublishableKey = "sb_publishable_corvaneLocalBackendPublishable1";

    std::string baseURL = kDefaultBaseURL;
    std::string publishableKey = kDefaultPublishableKey;
    std::string siteURL = "https://corvane.app";

    static BackendConfiguration fromEnvironment();
    std::string chatEndpoint() const { return baseURL + "/api/ai/chat"; }
};

class AuthService {
public:
    // The sign-in service could not refresh an expired token just now (it answered 429 or 5xx):
    // the session is kept and the next request tries again. Its text is what the turn reports,
    // instead of asking the user to sign in again.
    class ServiceBusy : public std::runtime_error {
    public:
        ServiceBusy() : std::runtime_error("The sign-in service is busy. Try again in a moment.") {}

    protected:
        explicit ServiceBusy(const std::string& text) : std::runtime_error(text) {}
    };
    // The refresh was answered with neither tokens nor a refusal of the grant (no connection, a
    // wrong address, a proxy's or captive portal's page): the token was likely never seen by the
    // sign-in service, so the session is kept, as for a busy one.
    class ServiceUnreachable : public ServiceBusy {
    public:
        ServiceUnreachable() : ServiceBusy("The sign-in service could not be reached. Try again in a moment.") {}
    };
    // No answer within kServiceWait: the turn goes on to say so rather than hang; the session is kept.
    class NoAnswer : public ServiceBusy {
    public:
        NoAnswer() : ServiceBusy("The sign-in service did not answer. Try again in a moment.") {}
    };
    // The credential file could not be locked (another copy renews the session right now, or
    // holds the file while stopped; the lock file cannot be used): the refresh token is not spent,
    // since the pair that replaces it might not be stored, and the session is kept.
    class SessionFileLocked : public ServiceBusy {
    public:
        explicit SessionFileLocked(const std::string& reason)
            : ServiceBusy("The sign-in could not be renewed: " + reason + ". Try again in a moment.") {}
    };
    // The service turned down the app's own key (CORVANE_BACKEND_APIKEY) without looking at the
    // session, which is therefore kept.
    class KeyRefused : public ServiceBusy {
    public:
        KeyRefused()
            : ServiceBusy("The sign-in service refused the app's key. Check CORVANE_BACKEND_APIKEY and try again.") {}
    };

    // No session is stored: nobody has signed in with this application folder (or the session ended).
    class NoOneSignedIn : public std::runtime_error {
    public:
        explicit NoOneSignedIn(const std::string& where) : std::runtime_error("No one is signed in. " + where) {}
    };

    // How long a turn waits for refreshes in all, over all its requests (on the platform clock),
    // and the longest any request to the service is let run, so that a silent service never holds
    // a turn or a thread for long.
    static constexpr std::chrono::seconds kServiceWait{4};
    static constexpr std::chrono::seconds kRequestTimeout{5};
    // How soon a pair the credential file refused is offered to it again.
    static constexpr std::chrono::seconds kPendingRetry{2};
    // A refresh that got no answer may have spent the refresh token all the same; the service
    // gives the pair it issued again for a minute after. The app asks again by itself every
    // kUnansweredRetry for kUnansweredWindow after the first unanswered request, and at once
    // when the request outlasted its time-out by far (the copy was stopped meanwhile).
    static constexpr std::chrono::seconds kUnansweredRetry{10};
    static constexpr std::chrono::seconds kUnansweredWindow{40};
    static constexpr std::chrono::seconds kStoppedMeanwhile{kRequestTimeout + std::chrono::seconds(2)};
    // How soon a sign-out the service did not take is told again.
    static constexpr std::chrono::seconds kRevocationRetry{10};

    // Restores a stored session; when its access token is near expiry, refreshes it in the background.
    // Whatever is still out to the service when it goes (a refresh, a sign-out) is cancelled.
    explicit AuthService(BackendConfiguration configuration = BackendConfiguration::fromEnvironment(),
                         std::shared_ptr<http::HTTPTransport> transport = http::defaultTransport(),
                         platform::Clock& clock = platform::clock());
    ~AuthService();
    AuthService(const AuthService&) = delete;
    AuthService& operator=(const AuthService&) = delete;

    bool isAuthenticated() const;
    bool isLoading() const;
    std::optional<std::string> userEmail() const;
    std::optional<std::string> errorMessage() const;
    // What the window says of the session itself, signed in or out, until it no longer holds: a
    // session the file has not stored, a sign-out not finished, a session the service ended.
    std::optional<std::string> notice() const;
    // Called after any of the five fields changed (a write of the same value is not a change), on
    // the thread that changed them; the window hops to its UI thread. It reads the fields and must
    // not sign in, out or refresh from within the call.
    void setObserver(std::function<void()> observer);

    // Blocks for the answer; the outcome is in the fields.
    void signIn(const std::string& email, const std::string& password);
    // Ends the session here at once. The credential file is cleared of it (later, when another copy
    // holds the file) and the service told to revoke it, in the background and again until it
    // answered; until both are done the notice says what is left. No pair of the session is
    // stored by this copy after it, and another copy's renewal is cleared with it.
    void signOut();
    // The chat backend turned down this access token (401). The session's token when it lives on
    // (renewed by another copy or a refresh, else the same one); none when it has ended, which
    // clears it from the file, as a refused refresh does, and says so in the notice. Throws as
    // getValidToken does when the sign-in service cannot tell just now.
    std::optional<std::string> tokenRefused(const std::string& accessToken, std::stop_token stop = {});
    // Sign-outs still on their way to the service, and the rounds they made, each counted once
    // its next round's time is set (for tests that move the clock on).
    bool signOutsPending();
    int signOutRounds() const { return signOutRounds_.load(); }
    // The threads of this copy that go on waiting on the clock between their rounds, for tests
    // that move a clock by hand only once each of them waits on it.
    int clockWaiters();
    // The token to send, refreshed first when expired; none when signed out. Throws ServiceBusy
    // (or one derived from it) when the refresh was put off and the stored token is past its
    // expiry, and http::TransportError when `stop` ends the wait for a refresh.
    std::optional<std::string> getValidToken(std::stop_token stop = {});
    std::optional<std::string> refreshTokenIfNeeded();
    // Waits for the refresh started at construction, if any.
    void waitForStartupRefresh();
    // Callers that joined a refresh another caller started, waiting right now (for tests of the coalescing).
    int refreshWaiters() const;

    static std::optional<std::string> emailFromJWT(const std::string& token);
    // The sign-in session a token belongs to ("session_id"), where it says.
    static std::optional<std::string> sessionIDFromJWT(const std::string& token);
    static std::optional<nlohmann::json> decodeJWTPayload(const std::string& token);
    // Expired 60 s before "exp", and when the expiry cannot be read.
    bool isTokenExpired(const std::string& token) const;

    static constexpr const char* kSessionNotSaved =
        "The session could not be saved: you will be asked to sign in again after Corvane quits.";
    static constexpr const char* kSessionEnded =
        "The sign-in service ended your session (a new password, the account removed, or a sign-out "
        "elsewhere). Sign in again.";

    static constexpr const char* kAccessTokenKey = "supabase_access_token";
    static constexpr const char* kRefreshTokenKey = "supabase_refresh_token";
    // Which sign-in the stored pair belongs to and when it was made (its session, then the moment
    // on the platform clock and on the machine's monotonic clock, in nanoseconds): of two sign-ins
    // the later is kept, whichever copy offers it to the file first. A renewal keeps it. A file
    // without it (written by an earlier version) holds a sign-in earlier than any that has it.
    static constexpr const char* kSignInOrderKey = "corvane_sign_in_order";

private:
    struct Fields {
        bool isAuthenticated = false;
        bool isLoading = false;
        std::optional<std::string> userEmail;
        std::optional<std::string> errorMessage;
        std::optional<std::string> notice;
        bool operator==(const Fields&) const = default;
    };
    void update(const std::function<void(Fields&)>& change);
    struct Refreshed {
        enum class PutOff { no, busy, unreachable, noAnswer, keyRefused, locked };
        std::optional<std::string> token;
        PutOff putOff = PutOff::no;  // other than no: the session is as it was
        std::string lockRefusal = {};  // why the credential file could not be locked
    };
    struct Revocation {
        std::shared_ptr<std::atomic<bool>> done;
        std::jthread thread;
    };
    // A session: the one the window shows, or one signed out of; its latest pair known to this copy.
    struct EndedSession {
        std::optional<std::string> id;
        std::string accessToken;
        std::optional<std::string> refreshToken;
        bool holds(const std::string& access, const std::optional<std::string>& refresh) const;
    };
    // When a sign-in was made; a later one is greater, whichever copy made it.
    struct SignInOrder {
        std::int64_t at = 0;   // the platform clock
        std::int64_t tie = 0;  // the machine's monotonic clock, for two sign-ins in one instant of it
        auto operator<=>(const SignInOrder&) const = default;
    };
    SignInOrder signInOrderNow() const;
    // The order of the sign-in the stored pair belongs to; the least for one stored without it.
    static SignInOrder storedOrder(const std::map<std::string, std::string>& values);
    static std::string orderText(const std::string& accessToken, const SignInOrder& order);
    enum class Told { done, again, never };
    http::HTTPClientRequest tokenRequest(const std::string& grantType, const nlohmann::json& body) const;
    // `foundExpired`: the access token the caller found expired. Another copy may have stored a
    // fresh pair since: under the file's lock that pair is used, and no refresh token is spent.
    // Without it the refresh goes whatever the file holds.
    Refreshed refresh(std::stop_token stop, const std::optional<std::string>& foundExpired = std::nullopt);
    // `reasking`: the re-asking waits for it, which is counted in its stead till it answers.
    std::shared_future<Refreshed> startRefresh(bool& joined, std::optional<std::string> foundExpired,
                                               bool reasking = false);
    Refreshed performRefresh(std::stop_token stop, const std::optional<std::string>& foundExpired);
    [[noreturn]] static void throwPutOff(const Refreshed& refreshed);
    // Until the refresh answered (true) or `stop`; in real time, for whoever does not wait on the clock.
    bool awaitAnswer(const std::shared_future<Refreshed>& asked, std::stop_token stop);
    void forgetWaiter(const std::stop_source& waiter);
    // Clears the file of the ended session, which takes up another copy's renewal of it; false
    // (and why) when the file could not be locked or written within `wait`.
    bool clearEnded(EndedSession& ended, std::chrono::milliseconds wait, std::string& why);
    // Tells the service once to revoke the session; `why` says what kept it from being done.
    Told revoke(EndedSession& ended, std::stop_token stop, std::string& why);
    void finishSignOut(EndedSession ended, bool cleared, std::stop_token stop);
    // Whether this copy signed out of the session the pair belongs to. Under sessionMutex_.
    bool signedOutOf(const std::string& access, const std::optional<std::string>& refresh) const;
    bool expiresWithin(const std::string& token, double seconds) const;
    static bool hasExpiry(const std::string& token);
    // What a sign-in and a refresh store: an access token whose expiry can be read, and a refresh token.
    static bool usablePair(const std::string& accessToken, const std::string& refreshToken);
    // The window shows the session of the token it hands out, and its account: the copy sends
    // the token of the account it shows.
    std::optional<std::string> handOut(std::optional<std::string> token);
    void markSignedOut();
    // The file no longer holds the session the window shows (cleared by another copy's Sign Out,
    // ended by the service): the sign-in form comes back saying why.
    void markSessionGone();
    // The session's token: the pending pair's while the file has not taken it, else the file's.
    std::optional<std::string> sessionToken(const char* key);
    // Stores the pending pair once the file takes it. A renewed pair is dropped when the file no
    // longer holds the pair it replaces (a sign-out or a sign-in elsewhere wins); a sign-in made
    // here goes over an empty file, a session signed out of here and any sign-in made before it,
    // and is dropped only for a sign-in made later. The window then goes on showing its own
    // session, as had its pair reached the file first and the later one replaced it there: what
    // Sign Out ends does not hang on which copy's write came first.
    // Under sessionMutex_.
    void storePendingSession();
    // A change of the credential file, under the lock this copy holds (a refresh under way, a
    // pair the file refused) or else under the file's lock taken for it.
    bool updateStored(const std::function<bool(std::map<std::string, std::string>&)>& change);
    // Lets the file's lock go once no refresh runs and no pair waits for the file. Under sessionMutex_.
    void letGoOfFileLockWhenDone();
    // Offers the pending pair to the file every kPendingRetry until it takes it. Under sessionMutex_.
    void retryPendingSession();
    // A refresh request that got no answer: asked again by itself while the service still gives
    // the same pair. Only the pair or a refusal of the token ends the re-asking (answered()): a
    // busy or failing service, a proxy's page or another time-out may not have seen it.
    void noteUnanswered(const std::optional<std::string>& askedWith);
    void answered();
    // Waits on the platform clock until `due`, in short slices; false when `stop` came first.
    bool waitUntil(platform::Clock::TimePoint due, std::stop_token stop);
    // What is left of kServiceWait for a turn, known by the stop token its requests carry (a
    // caller without one waits the whole of it each time), and what it waited.
    platform::Clock::TimePoint::duration waitLeft(const std::stop_token& turn);
    void noteWaited(const std::stop_token& turn, platform::Clock::TimePoint::duration waited);

    BackendConfiguration configuration_;
    std::shared_ptr<http::HTTPTransport> transport_;
    platform::Clock& clock_;

    mutable std::mutex fieldsMutex_;
    Fields fields_;
    std::function<void()> observer_;
    // What each sign-out under way would have the strip say, by the order they started. Under fieldsMutex_.
    std::map<std::uint64_t, std::string> signOutNotices_;
    std::atomic<std::uint64_t> nextSignOut_{0};

    std::mutex sessionMutex_;  // the stored tokens' read-compare-write cycles, and pending_
    // A pair the credential file refused (its lock held by another process, a root-owned file):
    // the session goes on with it for the program's life, and it is stored at the next chance.
    struct PendingSession {
        std::string accessToken;
        std::string refreshToken;
        std::optional<std::string> replaces;  // the refresh token the file holds instead
        bool signedIn = false;                // the user's sign-in here, not a renewal
        SignInOrder order = {};               // of a sign-in
        // Of a sign-in (and its renewals while pending): the session the file held, which the
        // user meant to replace, and which a Sign Out of this one therefore ends too.
        std::optional<EndedSession> replacing = {};
    };
    std::optional<PendingSession> pending_;
    // The session the window shows, which Sign Out ends (not whatever the file holds by then).
    std::optional<EndedSession> shown_;  // under sessionMutex_
    // The credential file's lock, held from the read of the refresh token to the store of the pair
    // that replaces it, and on while that pair waits for the file: no other copy spends a refresh
    // token this copy spent. Under fileLockMutex_ (taken after sessionMutex_).
    std::mutex fileLockMutex_;
    std::shared_ptr<FileLock> fileLock_;
    bool refreshing_ = false;    // under sessionMutex_
    bool retrying_ = false;      // under sessionMutex_
    std::jthread pendingRetry_;  // under sessionMutex_
    // Since when the refresh requests of this copy got no answer; unset once one is answered.
    std::optional<platform::Clock::TimePoint> unansweredSince_;  // under sessionMutex_
    std::optional<std::string> unansweredFor_;  // the access token it was to replace; under sessionMutex_
    bool reasking_ = false;                                      // under sessionMutex_
    bool quitting_ = false;                                      // under sessionMutex_
    std::jthread reask_;                                         // under sessionMutex_
    mutable std::mutex refreshMutex_;  // taken after sessionMutex_
    // The waits for the refresh in flight, ended by its answer. Under refreshMutex_.
    std::vector<std::stop_source> answerWaiters_;
    bool reaskWaits_ = false;  // for the refresh in flight; under refreshMutex_
    int refreshWaiters_ = 0;
    std::optional<std::shared_future<Refreshed>> refreshInFlight_;
    std::jthread refreshThread_;  // the latest refresh; a new one starts only once it has answered
    std::shared_future<Refreshed> startupRefresh_;
    std::mutex revocationsMutex_;
    std::vector<Revocation> revocations_;  // sign-outs on their way to the service
    std::vector<EndedSession> ended_;      // under sessionMutex_
    std::atomic<int> signOutRounds_{0};
    struct TurnWait {
        std::stop_token turn;
        platform::Clock::TimePoint::duration waited{};
    };
    std::mutex turnWaitsMutex_;
    std::vector<TurnWait> turnWaits_;  // the turns that waited, while they run
};

}  // namespace corvane::networking
