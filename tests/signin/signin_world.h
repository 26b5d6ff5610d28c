#pragma once

// Copies of the sign-in sharing one application folder, the sign-in service they talk to (the
// real corvane-backend service, called in-process through a wire that can make it slow, hang,
// busy or refuse), and what the folder and the service must hold: every sign-in in the order the
// service issued it, whose copy made it, and whether the user signed out of it.

#include <array>
#include <atomic>
#include <list>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "backend/backend_service.h"
#include "http/http_client.h"
#include "networking/auth_service.h"
#include "platform/platform.h"
#include "support/files.h"
#include "test_support/temp_home.h"

namespace corvane::signin {

enum class ServiceMode { answers, slow, hangs, renewalsHang, busy503, busy429, refuses };
const char* describe(ServiceMode mode);

inline constexpr int kAccounts = 3;
inline constexpr int kMostCopies = 3;
std::string accountEmail(int account);

class World;

// The platform clock, moved by hand, that knows who waits on it and for when: the world moves it
// on only once every thread that waits between its rounds waits, straight to the next moment one
// of them waits for, so that what the copies do never depends on how fast their threads run.
class StepClock final : public platform::Clock {
public:
    TimePoint now() override;
    // A sleeper moves the clock itself, as on a clock moved by hand.
    void sleep(std::chrono::duration<double> d) override;
    bool waitUntil(TimePoint due, std::stop_token stop) override;
    // Until `until` holds (heard at each wake()), `due` comes (false) or `stop` (false).
    bool waitFor(TimePoint due, std::stop_token stop, const std::function<bool()>& until);
    void moveTo(TimePoint t);
    // Every waiter looks again at what it waits for.
    void wake();
    int waiting();
    std::optional<TimePoint> nextDue();

private:
    struct Waiter {
        TimePoint due;
        std::stop_token stop;  // once requested, the waiter is on its way out: busy
        bool released = false;
        bool waits() const { return !released && !stop.stop_requested(); }
    };
    void releaseDue();  // under mutex_
    std::mutex mutex_;
    std::condition_variable_any changed_;
    TimePoint now_{std::chrono::seconds{1796225040}};  // 2026-12-02T15:24:00Z
    std::list<Waiter> waiters_;
};

// One copy's way to the service; answers as the world's mode says at the time of the request.
class Wire final : public http::HTTPTransport {
public:
    Wire(World& world, int copy) : world_(world), copy_(copy) {}
    http::HTTPClientResponse send(const http::HTTPClientRequest& request, std::stop_token stop) override;

private:
    World& world_;
    int copy_;
};

// A sign-in the service answered and the copy heard of.
struct SignIn {
    int order = 0;  // the service's order of issue
    std::string session;
    int account = 0;
    int copy = 0;
    bool signedOut = false;
    int signedOutBy = 0;
    // Its copy quit while the file had not taken it: the strip said it would be lost.
    bool lost = false;
    // Its copy quit before the service took the sign-out: nobody is left to tell it.
    bool revocationAbandoned = false;
    // The session auth.json held when the file refused this sign-in: the user meant to replace
    // it, so signing out of this one while the file still holds it signs out of that one too.
    std::optional<std::string> replaces = {};
};

class World {
public:
    explicit World(int copies);
    ~World();
    World(const World&) = delete;
    World& operator=(const World&) = delete;

    int copies() const { return copies_; }
    networking::AuthService& copy(int i) { return *copies_at_[static_cast<std::size_t>(i)]; }
    StepClock& clock() { return clock_; }

    // The actions a user or the machine takes. Each runs while the clock moves on by itself
    // (a hang is caught by a ceiling), so that waits on the platform clock end.
    void signIn(int copy, int account);
    void signOut(int copy);
    // A turn: the token to send. Its outcome, for the log.
    std::string turn(int copy);
    // A chat refused with 401 for the token the copy sends.
    std::string chatRefused(int copy);
    void advance(std::chrono::seconds by);
    void setMode(ServiceMode mode);
    void diskRefuses(bool refuses);
    void holdLock(bool holds);
    void restart(int copy);
    // The service answers, the disk takes writes and no copy holds the lock: the clock moves on
    // until every sign-out was told; then the service must have ended every session signed out of.
    void settle();

    // What breaks the rules after this step; empty when all hold.
    std::vector<std::string> broken();

    // Called by the wire.
    // `unheard`: the caller will not hear the answer.
    http::HTTPClientResponse forward(int copy, const http::HTTPClientRequest& request, bool unheard = false);
    ServiceMode mode() const { return mode_.load(); }
    std::mutex modeMutex;
    std::condition_variable modeChanged;

private:
    // Runs `action` on a thread of its own, moving the clock on whenever it and every copy's
    // thread wait on it, until it ends.
    void pumped(const std::function<void()>& action);
    // Moves the clock on, each time to the next moment one waits for, once every copy's thread
    // (and `plus` more) waits on it, until `done` holds.
    void pumpUntil(const std::function<bool()>& done, int plus);
    // Until `done` holds or every copy's thread that waits between rounds waits on the clock
    // (`plus` more waiters besides); real time bounds it only against a hang.
    void untilQuiet(const std::function<bool()>& done, int plus = 0);
    std::optional<std::string> fileSession();
    std::set<std::string> liveSessions();
    SignIn* findSignIn(const std::string& session);
    std::optional<std::string> sessionShownBy(int copy);
    void noteShown(int copy, const std::optional<std::string>& token);
    // What a copy shows and sends after it asked for a token.
    void checkSent(int copy, bool wasIn, const std::optional<std::string>& token, const std::string& what);

    testing::TempHome home_;
    StepClock clock_;
    platform::ScopedServices services_;
    std::unique_ptr<backend::BackendService> service_;
    std::mutex serviceMutex_;
    std::atomic<ServiceMode> mode_{ServiceMode::answers};
    int copies_;
    std::array<std::shared_ptr<Wire>, kMostCopies> wires_;
    std::array<std::unique_ptr<networking::AuthService>, kMostCopies> copies_at_;
    std::array<std::optional<std::string>, kMostCopies> shown_;  // the session each copy shows
    // The session each copy's latest sign-in request was answered with, heard or not.
    std::array<std::optional<std::string>, kMostCopies> answeredSignIn_;
    std::array<int, kMostCopies> answeredOrder_{};
    std::vector<SignIn> signIns_;
    int issued_ = 0;
    std::optional<FileLock> heldLock_;
    bool diskRefuses_ = false;
    std::vector<std::string> stepBreaks_;
    // Sign Out only in a copy that shows the session the file holds (CORVANE_SIGNIN_SIGN_OUT_OF_FILED_ONLY=1).
    bool shownSignOutOnly_ = false;
    // No sign-in while another copy shows its session is not saved (CORVANE_SIGNIN_ONE_UNSAVED_SIGN_IN=1).
    bool oneUnsavedSignIn_ = false;
    // Renewals the service took whose answer the copy never heard (the session and when), the
    // service's modes since the start and when the file could not be had: a
    // session whose spent token came back only after the service's grace, no re-asking having
    // met a service that answers and a file to store the pair in, is the service's to end.
    bool lostForGood(const std::string& session);
    std::vector<std::pair<platform::Clock::TimePoint, std::string>> lostAnswers_;
    std::vector<std::pair<platform::Clock::TimePoint, ServiceMode>> modes_;
    std::vector<std::pair<platform::Clock::TimePoint, bool>> fileBlocked_;  // the lock held or the disk refusing
    void noteFileBlocked();
    std::mutex historyMutex_;
    std::vector<std::string> hangs_;
};

}  // namespace corvane::signin
