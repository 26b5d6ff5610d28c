#include "signin/signin_world.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <thread>

#include <nlohmann/json.hpp>

#include "backend/chat_models.h"
#include "networking/keychain_store.h"
#include "support/app_paths.h"

namespace corvane::signin {
namespace {

using networking::AuthService;
using networking::KeychainStore;

constexpr const char* kPassword = "correct horse battery";
constexpr const char* kBaseURL = "http://127.0.0.1:51235";
// Longer than any wait of the sign-in on the clock (a sign-in's request runs 60 s at most): a
// step still running after it hangs.
constexpr std::chrono::minutes kStepCeiling{15};
// Against a hang only, never a pace: a step's thread that has not ended after this much real time
// will not end.
constexpr std::chrono::seconds kRealGuard{120};

networking::BackendConfiguration configuration() {
    networking::BackendConfiguration c;
    c.baseURL = kBaseURL;
    return c;
}

std::string shortSession(const std::optional<std::string>& session) {
    return session ? "session " + session->substr(0, 8) : "nothing";
}

bool isPasswordGrant(const http::HTTPClientRequest& request) {
    return request.url.find("grant_type=password") != std::string::npos;
}

}  // namespace

const char* describe(ServiceMode mode) {
    switch (mode) {
        case ServiceMode::answers: return "answers";
        case ServiceMode::slow: return "is slow past the time-out";
        case ServiceMode::hangs: return "hangs";
        case ServiceMode::renewalsHang: return "holds renewals";
        case ServiceMode::busy503: return "is busy (503)";
        case ServiceMode::busy429: return "is busy (429)";
        case ServiceMode::refuses: return "refuses connections";
    }
    return "?";
}

std::string accountEmail(int account) { return "u" + std::to_string(account + 1) + "@example.com"; }

StepClock::TimePoint StepClock::now() {
    std::lock_guard lock(mutex_);
    return now_;
}

void StepClock::sleep(std::chrono::duration<double> d) {
    std::lock_guard lock(mutex_);
    if (d.count() > 0) now_ += std::chrono::duration_cast<std::chrono::system_clock::duration>(d);
    releaseDue();
}

void StepClock::moveTo(TimePoint t) {
    std::lock_guard lock(mutex_);
    if (t > now_) now_ = t;
    releaseDue();
}

void StepClock::releaseDue() {
    // Released by the mover, not by the waiter once it runs: a waiter woken counts as busy at once.
    for (auto& waiter : waiters_)
        if (waiter.due <= now_) waiter.released = true;
    changed_.notify_all();
}

void StepClock::wake() {
    std::lock_guard lock(mutex_);
    for (auto& waiter : waiters_) waiter.released = true;
    changed_.notify_all();
}

int StepClock::waiting() {
    std::lock_guard lock(mutex_);
    return static_cast<int>(std::count_if(waiters_.begin(), waiters_.end(), [](const Waiter& w) { return w.waits(); }));
}

std::optional<StepClock::TimePoint> StepClock::nextDue() {
    std::lock_guard lock(mutex_);
    std::optional<TimePoint> next;
    for (const auto& waiter : waiters_)
        if (waiter.waits() && (!next || waiter.due < *next)) next = waiter.due;
    return next;
}

bool StepClock::waitUntil(TimePoint due, std::stop_token stop) {
    waitFor(due, stop, [] { return false; });
    return !stop.stop_requested();
}

bool StepClock::waitFor(TimePoint due, std::stop_token stop, const std::function<bool()>& until) {
    for (;;) {
        if (until()) return true;
        std::unique_lock lock(mutex_);
        if (stop.stop_requested() || now_ >= due) return false;
        const auto me = waiters_.insert(waiters_.end(), Waiter{due, stop});
        changed_.wait(lock, stop, [&] { return me->released; });
        waiters_.erase(me);
    }
}

http::HTTPClientResponse Wire::send(const http::HTTPClientRequest& request, std::stop_token stop) {
    auto& clock = world_.clock();
    const auto start = clock.now();
    const auto due = start + request.timeout;
    // Until the request's time-out on the clock, the caller's stop, or `until`.
    const auto wait = [&](const std::function<bool()>& until) {
        if (clock.waitFor(due, stop, until)) return;
        if (stop.stop_requested()) throw http::TransportError("the request was cancelled");
        throw http::TransportError("the request timed out");
    };
    switch (world_.mode()) {
        case ServiceMode::refuses: throw http::TransportError("could not connect");
        case ServiceMode::busy503:
            return {503, R"({"error":"unavailable","error_description":"The service is busy."})"};
        case ServiceMode::busy429:
            return {429, R"({"error":"over_request_rate_limit","error_description":"Slow down."})"};
        case ServiceMode::slow:
            // Taken by the service, never heard of by the caller.
            world_.forward(copy_, request, true);
            wait([] { return false; });
            break;
        case ServiceMode::hangs:
            wait([&] { return world_.mode() != ServiceMode::hangs; });
            break;
        case ServiceMode::renewalsHang:
            if (request.url.find("grant_type=refresh_token") != std::string::npos)
                wait([&] { return world_.mode() != ServiceMode::renewalsHang; });
            break;
        case ServiceMode::answers: break;
    }
    return world_.forward(copy_, request);
}

World::World(int copies)
    : services_({.clock = &clock_}), copies_(copies) {
    const char* shownOnly = std::getenv("CORVANE_SIGNIN_SIGN_OUT_OF_FILED_ONLY");
    shownSignOutOnly_ = shownOnly && std::string(shownOnly) == "1";
    const char* oneUnsaved = std::getenv("CORVANE_SIGNIN_ONE_UNSAVED_SIGN_IN");
    oneUnsavedSignIn_ = oneUnsaved && std::string(oneUnsaved) == "1";
    backend::BackendOptions options;
    options.dataFolder = home_.root() / "service";
    options.passwordCost = backend::PasswordCost::minimum();
    std::filesystem::create_directories(options.dataFolder);
    service_ = std::make_unique<backend::BackendService>(
        options, backend::ScriptedModel::fromFile(AppPaths::resourcesDirectory() / "Backend" / "demo-script.json"),
        clock_);
    for (int account = 0; account < kAccounts; ++account) service_->accounts().addUser(accountEmail(account), kPassword);
    for (int i = 0; i < copies_; ++i) {
        wires_[static_cast<std::size_t>(i)] = std::make_shared<Wire>(*this, i);
        copies_at_[static_cast<std::size_t>(i)] =
            std::make_unique<AuthService>(configuration(), wires_[static_cast<std::size_t>(i)], clock_);
    }
}

World::~World() {
    // Whatever a copy still waits for ends with it; the service answers again so that no wait is left.
    mode_ = ServiceMode::answers;
    heldLock_.reset();
    for (auto& copy : copies_at_) copy.reset();
}

http::HTTPClientResponse World::forward(int copy, const http::HTTPClientRequest& request, bool unheard) {
    http::HTTPRequest served;
    served.method = request.method;
    served.path = request.url.substr(std::string(kBaseURL).size());
    served.host = "127.0.0.1:51235";
    served.body = request.body.value_or("");
    for (const auto& [name, value] : request.headers) {
        std::string lower = name;
        std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
        served.headers[lower] = value;
    }
    std::lock_guard lock(serviceMutex_);
    const auto answer = service_->handle(served);
    if (isPasswordGrant(request) && answer.statusCode == 200) {
        const auto reply = nlohmann::json::parse(answer.body, nullptr, false);
        if (reply.is_object() && reply.contains("access_token") && reply["access_token"].is_string()) {
            answeredSignIn_[static_cast<std::size_t>(copy)] =
                AuthService::sessionIDFromJWT(reply["access_token"].get<std::string>());
            answeredOrder_[static_cast<std::size_t>(copy)] = ++issued_;
        }
    }
    if (unheard && !isPasswordGrant(request) && request.url.find("grant_type=refresh_token") != std::string::npos &&
        answer.statusCode == 200) {
        const auto reply = nlohmann::json::parse(answer.body, nullptr, false);
        if (reply.is_object() && reply.contains("access_token") && reply["access_token"].is_string())
            if (const auto session = AuthService::sessionIDFromJWT(reply["access_token"].get<std::string>())) {
                std::lock_guard history(historyMutex_);
                // The copy counts its re-asking from its time-out.
                lostAnswers_.emplace_back(clock_.now() + request.timeout, *session);
            }
    }
    return {answer.statusCode, answer.body};
}

bool World::lostForGood(const std::string& session) {
    std::lock_guard history(historyMutex_);
    const auto answering = [&](platform::Clock::TimePoint from, platform::Clock::TimePoint to) {
        ServiceMode at = ServiceMode::answers;
        for (const auto& [when, mode] : modes_) {
            if (when <= from) at = mode;
            else if (when < to && mode != ServiceMode::answers) return false;
        }
        // Nor may a copy renew while the file cannot be locked or written.
        bool blocked = false;
        for (const auto& [when, state] : fileBlocked_) {
            if (when <= from) blocked = state;
            else if (when < to && state) return false;
        }
        return at == ServiceMode::answers && !blocked;
    };
    for (const auto& [lost, s] : lostAnswers_) {
        if (s != session) continue;
        bool heard = false;
        // The copy asks again every 10 s for 40 s; its thread may see a moment a little late.
        for (int k = 1; k <= 4; ++k) {
            const auto ask = lost + std::chrono::seconds(10 * k);
            heard = heard || answering(ask, ask + std::chrono::seconds(3));
        }
        if (!heard) return true;
    }
    return false;
}

void World::pumped(const std::function<void()>& action) {
    std::atomic<bool> finished{false};
    auto done = std::async(std::launch::async, [&] {
        struct Finish {
            std::atomic<bool>& finished;
            ~Finish() { finished = true; }
        } finish{finished};
        action();
    });
    // The action's thread is the one more: until it ends, it is busy or waits on the clock.
    pumpUntil([&] { return finished.load(); }, 1);
    done.get();
}

void World::pumpUntil(const std::function<bool()>& done, int plus) {
    const auto started = clock_.now();
    bool told = false;
    for (;;) {
        untilQuiet(done, plus);
        if (done()) return;
        const auto due = clock_.nextDue();
        if (!due) {  // nobody waits, and nobody is counted as busy: the step's end is on its way
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        }
        clock_.moveTo(*due);
        if (!told && clock_.now() - started > kStepCeiling) {
            told = true;
            hangs_.push_back("a step did not end within 15 minutes on the clock");
        }
    }
}

void World::untilQuiet(const std::function<bool()>& done, int plus) {
    const auto realStart = std::chrono::steady_clock::now();
    for (;;) {
        if (done()) return;
        int expected = plus;
        for (int i = 0; i < copies_; ++i)
            if (copies_at_[static_cast<std::size_t>(i)]) expected += copy(i).clockWaiters();
        if (clock_.waiting() >= expected) return;
        if (std::chrono::steady_clock::now() - realStart > kRealGuard) {
            std::fprintf(stderr, "signin check: a copy's thread never comes back to wait on the clock (%d waiting of %d)\n",
                         clock_.waiting(), expected);
            for (int i = 0; i < copies_; ++i)
                if (copies_at_[static_cast<std::size_t>(i)])
                    std::fprintf(stderr, "  copy %d: %d threads, sign-outs pending %d\n", i + 1, copy(i).clockWaiters(),
                                 copy(i).signOutsPending() ? 1 : 0);
            std::abort();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

std::optional<std::string> World::fileSession() {
    const auto access = KeychainStore::read(AuthService::kAccessTokenKey);
    if (!access) return std::nullopt;
    return AuthService::sessionIDFromJWT(*access).value_or("(no session id)");
}

std::set<std::string> World::liveSessions() {
    std::lock_guard lock(serviceMutex_);
    std::set<std::string> live;
    const auto read = readFile(home_.root() / "service" / "refresh-tokens.json");
    if (!read.ok()) return live;
    const auto document = nlohmann::json::parse(read.bytes, nullptr, false);
    if (!document.is_object() || !document.contains("sessions") || !document["sessions"].is_object()) return live;
    for (const auto& [id, session] : document["sessions"].items()) live.insert(id);
    return live;
}

SignIn* World::findSignIn(const std::string& session) {
    for (auto& s : signIns_)
        if (s.session == session) return &s;
    return nullptr;
}

void World::signIn(int i, int account) {
    auto& c = copy(i);
    if (oneUnsavedSignIn_)
        for (int other = 0; other < copies_; ++other)
            if (other != i && copy(other).notice() == AuthService::kSessionNotSaved) return;
    {
        std::lock_guard lock(serviceMutex_);
        answeredSignIn_[static_cast<std::size_t>(i)].reset();
    }
    const auto filedBefore = fileSession();
    pumped([&] { c.signIn(accountEmail(account), kPassword); });
    if (c.errorMessage() || !c.isAuthenticated()) return;
    std::optional<std::string> session;
    int order = 0;
    {
        std::lock_guard lock(serviceMutex_);
        session = answeredSignIn_[static_cast<std::size_t>(i)];
        order = answeredOrder_[static_cast<std::size_t>(i)];
    }
    if (!session) return;
    signIns_.push_back({order, *session, account, i});
    if (fileSession() != session) signIns_.back().replaces = filedBefore;
    shown_[static_cast<std::size_t>(i)] = session;
}

void World::signOut(int i) {
    auto& c = copy(i);
    if (!c.isAuthenticated()) return;  // the window offers Sign Out only to someone signed in
    if (shownSignOutOnly_ && shown_[static_cast<std::size_t>(i)] != fileSession()) return;
    // The user signs out of the session the window shows, and of the one it was to replace where
    // the file still holds that one (the file never took the sign-in that replaced it there).
    const auto file = fileSession();
    if (const auto& shown = shown_[static_cast<std::size_t>(i)])
        if (SignIn* s = findSignIn(*shown)) {
            s->signedOut = true;
            s->signedOutBy = i;
            if (s->replaces && file == s->replaces && file != s->session)
                if (SignIn* replaced = findSignIn(*s->replaces); replaced && !replaced->signedOut) {
                    replaced->signedOut = true;
                    replaced->signedOutBy = i;
                }
        }
    shown_[static_cast<std::size_t>(i)].reset();
    pumped([&] { c.signOut(); });
    // Its first round tells what is left in the notice; the check looks after it.
    pumpUntil([&] { return !c.signOutsPending() || c.notice().has_value(); }, 0);
}

void World::noteShown(int i, const std::optional<std::string>& token) {
    if (token && copy(i).isAuthenticated())
        shown_[static_cast<std::size_t>(i)] = AuthService::sessionIDFromJWT(*token);
}

std::string World::turn(int i) {
    auto& c = copy(i);
    const bool wasIn = c.isAuthenticated();
    std::optional<std::string> token;
    std::string outcome;
    pumped([&] {
        std::stop_source turn;
        try {
            token = c.getValidToken(turn.get_token());
            outcome = token ? "sends a token of " + shortSession(AuthService::sessionIDFromJWT(*token)) : "sends nothing";
        } catch (const std::exception& error) {
            outcome = error.what();
        }
    });
    checkSent(i, wasIn, token, "a turn");
    return outcome;
}

std::string World::chatRefused(int i) {
    auto& c = copy(i);
    std::optional<std::string> token;
    std::string outcome;
    const bool wasIn = c.isAuthenticated();
    pumped([&] {
        std::stop_source turn;
        try {
            token = c.getValidToken(turn.get_token());
            if (!token) {
                outcome = "sends nothing";
                return;
            }
            token = c.tokenRefused(*token, turn.get_token());
            outcome = token ? "goes on with " + shortSession(AuthService::sessionIDFromJWT(*token)) : "ends the session";
        } catch (const std::exception& error) {
            outcome = error.what();
        }
    });
    checkSent(i, wasIn, token, "a chat refused with 401");
    return outcome;
}

void World::checkSent(int i, bool wasIn, const std::optional<std::string>& token, const std::string& what) {
    auto& c = copy(i);
    const auto notice = c.notice();
    const bool in = c.isAuthenticated();
    const auto email = c.userEmail();
    const auto file = fileSession();
    const std::string who = "copy " + std::to_string(i + 1);
    if (token && in) {
        const auto sent = AuthService::sessionIDFromJWT(*token);
        if (AuthService::emailFromJWT(*token) != email)
            stepBreaks_.push_back("(2) after " + what + ", " + who + " shows " + email.value_or("nobody") +
                                  " signed in but sends a token of " +
                                  AuthService::emailFromJWT(*token).value_or("nobody"));
        else if (notice != AuthService::kSessionNotSaved && file != sent)
            stepBreaks_.push_back("(2) after " + what + ", " + who + " shows " + *email + " signed in and sends " +
                                  shortSession(sent) + ", but auth.json holds " + shortSession(file) +
                                  " and no strip says so");
    }
    // Signed out here by the user, a copy may hand out another copy's later sign-in; shown as
    // ended by the service, it hands out nothing.
    // A dead token sent on purpose (the backend's 401 then tells the user) is no session handed out.
    const bool live = token && AuthService::sessionIDFromJWT(*token) &&
                      liveSessions().count(*AuthService::sessionIDFromJWT(*token)) && !c.isTokenExpired(*token);
    if (live && !in && (wasIn || notice == AuthService::kSessionEnded))
        stepBreaks_.push_back("(2) after " + what + ", " + who + " shows itself signed out but sends a token of " +
                              AuthService::emailFromJWT(*token).value_or("nobody"));
    // A session the user signed out of here comes back to this copy only where the copy quit before
    // it was done with it.
    if (token && in && !wasIn)
        if (const auto sent = AuthService::sessionIDFromJWT(*token))
            if (const SignIn* s = findSignIn(*sent); s && s->signedOut && s->signedOutBy == i && !s->revocationAbandoned)
                stepBreaks_.push_back("(2) after " + what + ", " + who + " shows " + accountEmail(s->account) +
                                      " signed in again with " + shortSession(sent) + ", signed out of there");
    if (wasIn && !in && !notice)
        stepBreaks_.push_back("after " + what + ", " + who + " shows itself signed out without saying why");
    noteShown(i, token);
}

void World::advance(std::chrono::seconds by) {
    // From one moment a copy waits for to the next, each once every copy's thread waits again:
    // a copy asking again at its moment meets the service and the file as they are then.
    const auto target = clock_.now() + by;
    const auto nothing = [] { return false; };
    for (;;) {
        untilQuiet(nothing);
        auto next = target;
        if (const auto due = clock_.nextDue(); due && *due < next) next = *due;
        clock_.moveTo(next);
        if (next >= target) break;
    }
    untilQuiet(nothing);
}

void World::setMode(ServiceMode mode) {
    std::lock_guard history(historyMutex_);
    modes_.emplace_back(clock_.now(), mode);
    mode_ = mode;
    clock_.wake();  // a request held by the old mode looks again
}

void World::diskRefuses(bool refuses) {
    if (refuses == diskRefuses_) return;
    heldLock_.reset();
    // A lock file that cannot be used makes the credential file refuse every write.
    const auto lock = KeychainStore::storeURL().parent_path() / ".auth.json.lock";
    std::error_code ignored;
    std::filesystem::remove(lock, ignored);
    if (refuses) std::filesystem::create_symlink(home_.root() / "elsewhere", lock, ignored);
    diskRefuses_ = refuses;
    noteFileBlocked();
}

void World::holdLock(bool holds) {
    if (!holds) {
        heldLock_.reset();
        noteFileBlocked();
        return;
    }
    if (heldLock_ || diskRefuses_) return;
    std::optional<FileLock> taken;
    pumped([&] { taken.emplace(FileLock::acquire(KeychainStore::storeURL())); });
    if (taken->held()) heldLock_ = std::move(taken);
    noteFileBlocked();
}

void World::noteFileBlocked() {
    std::lock_guard history(historyMutex_);
    fileBlocked_.emplace_back(clock_.now(), heldLock_.has_value() || diskRefuses_);
}

void World::restart(int i) {
    auto& slot = copies_at_[static_cast<std::size_t>(i)];
    const auto file = fileSession();
    const bool telling = slot->signOutsPending();
    for (auto& s : signIns_) {
        if (s.copy == i && !s.signedOut && file != s.session) s.lost = true;
        if (telling && s.signedOut && s.signedOutBy == i) s.revocationAbandoned = true;
    }
    // On this thread, where the copies are counted: quitting waits for nothing on the clock (every
    // wait hears the stop), and starting only reads the file and sets off its refresh.
    slot.reset();
    slot = std::make_unique<AuthService>(configuration(), wires_[static_cast<std::size_t>(i)], clock_);
    shown_[static_cast<std::size_t>(i)] = slot->isAuthenticated() ? fileSession() : std::nullopt;
}

void World::settle() {
    setMode(ServiceMode::answers);
    diskRefuses(false);
    holdLock(false);
    const auto telling = [&] {
        for (int i = 0; i < copies_; ++i)
            if (copy(i).signOutsPending()) return true;
        return false;
    };
    // Each round moves the clock past a sign-out's next try, then waits for the copies' threads to
    // take it or wait again.
    const auto waitFor = [&](const std::function<bool()>& done) {
        untilQuiet(done);
        return done();
    };
    for (int round = 0; round < 6 && telling(); ++round) {
        advance(AuthService::kRevocationRetry);
        waitFor([&] { return !telling(); });
    }
    if (telling()) stepBreaks_.push_back("a sign-out is still not told a minute after the service answers again");
    // The file takes writes again: a session waiting for it is stored at its next offer, or given
    // up for a later sign-in.
    const auto strip = [&] {
        for (int i = 0; i < copies_; ++i)
            if (copy(i).isAuthenticated() && copy(i).notice() == AuthService::kSessionNotSaved) return i;
        return -1;
    };
    advance(AuthService::kPendingRetry + std::chrono::seconds(1));
    if (!waitFor([&] { return strip() < 0; }))
        stepBreaks_.push_back("(1) auth.json takes writes again, but copy " + std::to_string(strip() + 1) +
                              " still shows the strip saying its session is not saved");
    const auto live = liveSessions();
    for (const auto& s : signIns_)
        if (s.signedOut && !s.revocationAbandoned && live.count(s.session))
            stepBreaks_.push_back("(3) the service still takes " + shortSession(s.session) + " of " +
                                  accountEmail(s.account) + " that a Sign Out in copy " +
                                  std::to_string(s.signedOutBy + 1) + " ended");
}

std::vector<std::string> World::broken() {
    std::vector<std::string> out = std::exchange(stepBreaks_, {});
    out.insert(out.end(), hangs_.begin(), hangs_.end());
    hangs_.clear();
    // The strips first, then the file: a store between the two reads only makes the file right.
    std::array<std::optional<std::string>, kMostCopies> notices;
    std::array<bool, kMostCopies> in{};
    std::array<std::optional<std::string>, kMostCopies> emails;
    for (int i = 0; i < copies_; ++i) {
        notices[static_cast<std::size_t>(i)] = copy(i).notice();
        in[static_cast<std::size_t>(i)] = copy(i).isAuthenticated();
        emails[static_cast<std::size_t>(i)] = copy(i).userEmail();
    }
    const auto file = fileSession();
    const auto live = liveSessions();

    const SignIn* latest = nullptr;
    for (const auto& s : signIns_)
        if (!s.lost && (!latest || s.order > latest->order)) latest = &s;
    // A session whose renewal's answer was lost for good is the service's to end.
    const bool serviceEnded = latest && !live.count(latest->session) && lostForGood(latest->session);
    if (latest && !latest->signedOut && !serviceEnded && file != latest->session) {
        const auto n = static_cast<std::size_t>(latest->copy);
        if (!(in[n] && notices[n] == AuthService::kSessionNotSaved))
            out.push_back("(1) auth.json holds " + shortSession(file) + ", not the latest sign-in (" +
                          accountEmail(latest->account) + ", " + shortSession(latest->session) + " in copy " +
                          std::to_string(latest->copy + 1) + "), and that copy shows no strip");
    }
    if (file)
        if (const SignIn* s = findSignIn(*file); s && s->signedOut && !s->revocationAbandoned) {
            const auto n = static_cast<std::size_t>(s->signedOutBy);
            // Whatever it says: the sign-out's own strip, or a sign-in's since that the file refused too.
            if (!notices[n])
                out.push_back("(1) auth.json holds " + shortSession(file) + " of " + accountEmail(s->account) +
                              ", signed out of in copy " + std::to_string(s->signedOutBy + 1) +
                              ", and that copy says nothing");
        }
    for (const auto& s : signIns_)
        if (!s.signedOut && !live.count(s.session) && !lostForGood(s.session))
            out.push_back("(4) the service ended " + shortSession(s.session) + " of " + accountEmail(s.account) +
                          " (signed in in copy " + std::to_string(s.copy + 1) + ") that nobody signed out of");

    // What each copy shows from now on, for the next Sign Out: the session of the file where the
    // account shown is the file's.
    for (int i = 0; i < copies_; ++i) {
        auto& shown = shown_[static_cast<std::size_t>(i)];
        if (!in[static_cast<std::size_t>(i)]) {
            shown.reset();
            continue;
        }
        const SignIn* s = shown ? findSignIn(*shown) : nullptr;
        const auto email = emails[static_cast<std::size_t>(i)];
        if (s && email == accountEmail(s->account)) continue;
        const SignIn* filed = file ? findSignIn(*file) : nullptr;
        shown = filed && email == accountEmail(filed->account) ? file : std::nullopt;
    }
    return out;
}

}  // namespace corvane::signin
