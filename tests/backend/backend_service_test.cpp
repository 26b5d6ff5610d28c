#include "backend/backend_service.h"

#include <gtest/gtest.h>
#include <sodium.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <limits>
#include <thread>

#include <nlohmann/json.hpp>

#include "backend/backend_fixture.h"
#include "backend/jwt.h"
#include "backend/report_store.h"
#include "backend/request_checks.h"
#include "backend/sign_in_throttle.h"
#include "support/files.h"
#include "test_support/temp_home.h"
#include "test_support/work_cost.h"

namespace corvane::backend {
namespace {

namespace fs = std::filesystem;
using http::HTTPRequest;
using http::HTTPResponse;
using nlohmann::json;
using testing::LocalBackend;
using testing::TempHome;

constexpr const char* kKey = BackendOptions::kDefaultPublishableKey;

HTTPRequest post(const std::string& target, const std::string& body, std::map<std::string, std::string> headers = {}) {
    return HTTPRequest{.method = "POST", .path = target, .body = body, .headers = std::move(headers)};
}

HTTPRequest signInRequest(const std::string& email, const std::string& password) {
    return post("/auth/v1/token?grant_type=password", json{{"email", email}, {"password", password}}.dump(),
                {{"apikey", kKey}});
}

unsigned modeOf(const fs::path& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_mode & 0777;
}

class BackendServiceTest : public ::testing::Test {
protected:
    TempHome home;
    LocalBackend backend{home.root() / "backend"};

    json session() {
        const HTTPResponse r = backend.service().handle(signInRequest(LocalBackend::kEmail, LocalBackend::kPassword));
        EXPECT_EQ(r.statusCode, 200) << r.body;
        return json::parse(r.body);
    }
    HTTPResponse chat(const json& body, const std::string& token) {
        return backend.service().handle(post("/api/ai/chat", body.dump(), {{"authorization", "Bearer " + token}}));
    }
    static json agentBody(const std::string& message) {
        return {{"tier", "standard"},
                {"kind", "agent"},
                {"parallel_tool_calls", true},
                {"input", json::array({{{"role", "user"},
                                        {"content", json::array({{{"type", "input_text"}, {"text", message}}})}}})}};
    }
    static json continuation(const std::string& previous) {
        return {{"tier", "standard"}, {"previous_response_id", previous}, {"input", json::array()}};
    }
};

TEST_F(BackendServiceTest, EveryBadInputGetsTheStatusAndErrorMembersTheClientReads) {
    const json good = session();
    const std::string token = good["access_token"];
    std::string forged = token;
    forged[forged.size() - 2] = forged[forged.size() - 2] == 'A' ? 'B' : 'A';
    const std::string otherKey(32, 'k');
    const std::string foreign = signJWT({{"email", "mix@example.com"}, {"exp", 4102444800}}, otherKey);
    const std::string refreshTarget = "/auth/v1/token?grant_type=refresh_token";
    struct Case {
        const char* name;
        HTTPRequest request;
        int status;
        const char* member;
        const char* text;
    };
    const std::vector<Case> cases = {
        {"no apikey", post("/auth/v1/token?grant_type=password", "{}"), 401, "error_description", "Invalid API key"},
        {"unknown account", signInRequest("nobody@example.com", "x"), 400, "error_description",
         "Invalid login credentials"},
        {"wrong password", signInRequest(LocalBackend::kEmail, "wrong"), 400, "error_description",
         "Invalid login credentials"},
        {"malformed sign-in body", post("/auth/v1/token?grant_type=password", "{\"email\":", {{"apikey", kKey}}), 400,
         "error", "invalid_request"},
        {"password not text",
         post("/auth/v1/token?grant_type=password", R"({"email":"a","password":1})", {{"apikey", kKey}}), 400, "error",
         "invalid_request"},
        {"unknown grant", post("/auth/v1/token?grant_type=magic", "{}", {{"apikey", kKey}}), 400, "error",
         "unsupported_grant_type"},
        {"unknown refresh token", post(refreshTarget, R"({"refresh_token":"abc"})", {{"apikey", kKey}}), 400, "error",
         "invalid_grant"},
        {"chat without token", post("/api/ai/chat", agentBody("hi").dump()), 401, "error", "Not authenticated"},
        {"forged signature", post("/api/ai/chat", agentBody("hi").dump(), {{"authorization", "Bearer " + forged}}), 401,
         "error", "Not authenticated"},
        {"token of another key", post("/api/ai/chat", agentBody("hi").dump(), {{"authorization", "Bearer " + foreign}}),
         401, "error", "Not authenticated"},
        {"not a JWT", post("/api/ai/chat", agentBody("hi").dump(), {{"authorization", "Bearer a.b"}}), 401, "error",
         "Not authenticated"},
        {"chat body not JSON", post("/api/ai/chat", "[1,", {{"authorization", "Bearer " + token}}), 400, "error",
         "The request body must be a JSON object"},
        {"chat tier wrong",
         post("/api/ai/chat", R"({"tier":"gold","kind":"agent","input":[]})", {{"authorization", "Bearer " + token}}),
         400, "error", "\"tier\" must be \"standard\" or \"pro\""},
        {"chat input missing",
         post("/api/ai/chat", R"({"tier":"pro","kind":"agent"})", {{"authorization", "Bearer " + token}}), 400, "error",
         "\"input\" must be an array"},
        {"continuation with kind",
         post("/api/ai/chat", R"({"tier":"pro","kind":"agent","previous_response_id":"r","input":[]})",
              {{"authorization", "Bearer " + token}}),
         400, "error", "a continuation names no \"kind\""},
        {"unknown previous response",
         post("/api/ai/chat", continuation("resp_gone").dump(), {{"authorization", "Bearer " + token}}), 400, "error",
         "Unknown previous_response_id"},
        {"report not an object", post("/api/errors/report", "\"text\""), 400, "error",
         "The report must be a JSON object"},
        {"unknown path", post("/api/other", "{}"), 404, "error", "Not found"},
        {"wrong method", HTTPRequest{.method = "GET", .path = "/api/ai/chat"}, 405, "error", "Method not allowed"},
    };
    for (const auto& c : cases) {
        const HTTPResponse response = backend.service().handle(c.request);
        EXPECT_EQ(response.statusCode, c.status) << c.name;
        const auto body = json::parse(response.body, nullptr, false);
        ASSERT_TRUE(body.is_object()) << c.name;
        EXPECT_EQ(body.value(c.member, ""), c.text) << c.name;
    }
}

TEST_F(BackendServiceTest, AccessTokensExpireAndRefreshTokensAreSingleUse) {
    const json first = session();
    backend.clock.sleep(std::chrono::hours(1) + std::chrono::seconds(1));
    EXPECT_EQ(chat(agentBody("Mute the guitar"), first["access_token"]).statusCode, 401);

    const auto refresh = [&](const std::string& token) {
        return backend.service().handle(
            post("/auth/v1/token?grant_type=refresh_token", json{{"refresh_token", token}}.dump(), {{"apikey", kKey}}));
    };
    const HTTPResponse rotated = refresh(first["refresh_token"]);
    ASSERT_EQ(rotated.statusCode, 200);
    const json second = json::parse(rotated.body);
    EXPECT_NE(second["refresh_token"], first["refresh_token"]);
    EXPECT_EQ(second["user"]["email"], LocalBackend::kEmail);
    EXPECT_EQ(chat(agentBody("Mute the guitar"), second["access_token"]).statusCode, 200);
    backend.clock.sleep(std::chrono::seconds(61));
    EXPECT_EQ(refresh(first["refresh_token"]).statusCode, 400) << "a used refresh token works once";
}

TEST_F(BackendServiceTest, TheSecretAccountsAndTokensArePrivateAndPasswordsHashedWithArgon2id) {
    session();
    const fs::path data = backend.service().dataFolder();
    for (const char* name : {"accounts.json", "jwt-secret", "refresh-tokens.json"}) {
        EXPECT_EQ(modeOf(data / name), 0600u) << name;
    }
    const std::string accounts = readFile(data / "accounts.json").bytes;
    EXPECT_NE(accounts.find("$argon2id$"), std::string::npos);
    EXPECT_EQ(accounts.find(LocalBackend::kPassword), std::string::npos);
    const json issued = session();
    EXPECT_EQ(readFile(data / "refresh-tokens.json").bytes.find(issued["refresh_token"].get<std::string>()),
              std::string::npos)
        << "only hashes of refresh tokens are stored";
}

// Part of the tool arguments the script sends, keyed by round.
TEST_F(BackendServiceTest, ScriptModeDrivesTheDemoExchangeAndKeepsEachConversationByResponseID) {
    const std::string token = session()["access_token"];
    HTTPResponse response = chat(agentBody("Check the mix balance please"), token);
    std::vector<std::string> names;
    for (int round = 0; round < 10 && response.statusCode == 200; ++round) {
        const json reply = json::parse(response.body);
        ASSERT_FALSE(reply["output"].empty());
        const json call = reply["output"][0];
        EXPECT_EQ(call["type"], "function_call");
        EXPECT_FALSE(call["call_id"].get<std::string>().empty());
        EXPECT_TRUE(json::parse(call["arguments"].get<std::string>()).is_object());
        names.push_back(call["name"]);
        if (names.back() == "respond") break;
        response = chat(continuation(reply["id"]), token);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"list_tracks", "update_user", "set_track_mute", "set_track_volume",
                                               "listen_to_playback", "respond"}));

    const json offline = json::parse(chat(agentBody("Make it sound like the eighties"), token).body);
    const json arguments = json::parse(offline["output"][0]["arguments"].get<std::string>());
    EXPECT_EQ(offline["output"][0]["name"], "respond");
    EXPECT_NE(arguments["prose"].get<std::string>().find("running offline"), std::string::npos);
    EXPECT_NE(arguments["prose"].get<std::string>().find("\"Mute the guitar\""), std::string::npos);

    json title = agentBody("User: Check the levels of the drum bus tonight please\nAssistant: Done.");
    title["kind"] = "title";
    const json titled = json::parse(chat(title, token).body);
    EXPECT_EQ(titled["output"][0]["content"][0]["text"], "Check the levels of the drum…");
    title = agentBody("User: Check the drum bus \nAssistant: Done.");
    title["kind"] = "title";
    EXPECT_EQ(json::parse(chat(title, token).body)["output"][0]["content"][0]["text"], "Check the drum bus");
}

TEST_F(BackendServiceTest, ErrorReportsAreStoredAsPrivateJSONFilesWithTheAccount) {
    const std::string token = session()["access_token"];
    const json report = {{"thread_id", "T1"}, {"assistant_message", "oops"}, {"tool_calls", json::array()}};
    const HTTPResponse r =
        backend.service().handle(post("/api/errors/report", report.dump(), {{"authorization", "Bearer " + token}}));
    ASSERT_EQ(r.statusCode, 200) << r.body;
    const fs::path reports = backend.service().dataFolder() / "reports";
    std::vector<fs::path> folders{fs::directory_iterator(reports / "accounts"), fs::directory_iterator()};
    ASSERT_EQ(folders.size(), 1u);
    const fs::path folder = folders[0];
    for (const fs::path& each : {reports, reports / "accounts", folder}) EXPECT_EQ(modeOf(each), 0700u) << each;
    std::vector<fs::path> files{fs::directory_iterator(folder), fs::directory_iterator()};
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(modeOf(files[0]), 0600u);
    const json stored = json::parse(readFile(files[0]).bytes);
    EXPECT_EQ(stored["thread_id"], "T1");
    EXPECT_EQ(stored["account"], LocalBackend::kEmail);
}

json claimsOf(const std::string& token) {
    const auto first = token.find('.');
    const auto second = token.find('.', first + 1);
    return json::parse(*base64URLDecode(token.substr(first + 1, second - first - 1)));
}

std::string nested(std::size_t depth) { return std::string(depth, '[') + std::string(depth, ']'); }

class SessionTest : public BackendServiceTest {
protected:
    HTTPResponse refresh(const json& session) {
        return backend.service().handle(post("/auth/v1/token?grant_type=refresh_token",
                                             json{{"refresh_token", session["refresh_token"]}}.dump(),
                                             {{"apikey", kKey}}));
    }
    int chatStatus(const json& session) {
        return chat(agentBody("Mute the guitar"), session["access_token"]).statusCode;
    }
    int signIn(const std::string& email, const std::string& password) {
        return backend.service().handle(signInRequest(email, password)).statusCode;
    }
};

TEST_F(SessionTest, AccountRemovalAndANewPasswordEndEverySessionOfTheAccount) {
    const json removed = session();
    ASSERT_TRUE(backend.service().accounts().removeUser(LocalBackend::kEmail));
    EXPECT_EQ(chatStatus(removed), 401);
    EXPECT_EQ(refresh(removed).statusCode, 400);
    EXPECT_FALSE(backend.service().accounts().removeUser(LocalBackend::kEmail));

    // Back with the same password: the old sessions stay ended.
    ASSERT_TRUE(backend.service().accounts().addUser(LocalBackend::kEmail, LocalBackend::kPassword));
    EXPECT_EQ(chatStatus(removed), 401);
    const json older = session();
    EXPECT_EQ(chatStatus(older), 200);
    ASSERT_TRUE(backend.service().accounts().addUser(LocalBackend::kEmail, "a new password"));
    EXPECT_EQ(chatStatus(older), 401);
    EXPECT_EQ(refresh(older).statusCode, 400);
    EXPECT_EQ(signIn(LocalBackend::kEmail, "a new password"), 200);
}

// A client killed after the rotation but before it stored the new pair presents the spent token
// again at its next start; a copy presented later, or after the new pair was used, is theft.
TEST_F(SessionTest, ASpentRefreshTokenGetsTheSamePairWithinTheGraceAndEndsItsSessionAfter) {
    const json first = session();
    const HTTPResponse rotated = refresh(first);
    ASSERT_EQ(rotated.statusCode, 200);
    const json second = json::parse(rotated.body);
    backend.clock.sleep(std::chrono::seconds(59));
    const HTTPResponse again = refresh(first);
    ASSERT_EQ(again.statusCode, 200) << again.body;
    EXPECT_EQ(json::parse(again.body)["refresh_token"], second["refresh_token"]);
    EXPECT_EQ(json::parse(again.body)["access_token"], second["access_token"]);
    EXPECT_EQ(chatStatus(second), 200);
    backend.clock.sleep(std::chrono::seconds(2));
    EXPECT_EQ(refresh(first).statusCode, 400) << "replayed past the grace";
    EXPECT_EQ(chatStatus(second), 401) << "the session of a replayed token is over";
    EXPECT_EQ(refresh(second).statusCode, 400);

    const json third = session();
    const json fourth = json::parse(refresh(third).body);
    const HTTPResponse fifth = refresh(fourth);
    ASSERT_EQ(fifth.statusCode, 200);
    EXPECT_EQ(refresh(third).statusCode, 400) << "replayed within the grace, but after the new pair was used";
    EXPECT_EQ(chatStatus(json::parse(fifth.body)), 401);

    const json bystander = session();  // a session of its own, untouched by the replay
    EXPECT_EQ(chatStatus(bystander), 200);
    const json lasting = session();
    backend.clock.sleep(std::chrono::hours(24 * 29));
    const HTTPResponse kept = refresh(lasting);
    EXPECT_EQ(kept.statusCode, 200) << "within the refresh lifetime";
    backend.clock.sleep(std::chrono::hours(24));
    EXPECT_EQ(refresh(bystander).statusCode, 400) << "past the refresh lifetime";
    EXPECT_EQ(refresh(json::parse(kept.body)).statusCode, 200) << "each refresh gives a fresh lifetime";
}

TEST_F(SessionTest, AnAccountKeepsItsNewestSessionsAndEndsTheOldestFirst) {
    ASSERT_TRUE(backend.service().accounts().addUser("other@example.com", "other password"));
    const json other = json::parse(backend.service().handle(signInRequest("other@example.com", "other password")).body);
    std::vector<json> sessions;
    for (std::size_t i = 0; i <= TokenService::kMaxSessionsPerAccount; ++i) sessions.push_back(session());
    EXPECT_EQ(chatStatus(sessions[0]), 401) << "the oldest ended";
    EXPECT_EQ(refresh(sessions[0]).statusCode, 400);
    EXPECT_EQ(chatStatus(sessions[1]), 200);
    EXPECT_EQ(chatStatus(sessions.back()), 200);
    EXPECT_EQ(chatStatus(other), 200) << "another account's sessions do not count";
}

// Every request checks its session; 50,000 sessions of other accounts must not make that slower.
// Timed by the processor time of the thread that handles the request, the cheapest of nine.
TEST_F(SessionTest, ARequestsSessionCheckDoesNotGrowWithTheStore) {
    const json mine = session();
    for (int i = 0; i < 9; ++i) session();
    const auto cheapestChat = [&] {
        double cheapest = std::numeric_limits<double>::max();
        for (int i = 0; i < 9; ++i)
            cheapest = std::min(cheapest, testing::cpuSecondsOf([&] { EXPECT_EQ(chatStatus(mine), 200); }));
        return cheapest;
    };
    const double few = cheapestChat();
    const fs::path file = backend.service().dataFolder() / "refresh-tokens.json";
    json store = json::parse(readFile(file).bytes);
    const auto expires = claimsOf(mine["access_token"])["exp"].get<std::int64_t>() + 3600;
    for (int i = 0; i < 50000; ++i) {
        const std::string id = "session" + std::to_string(i);
        store["sessions"][id] = {{"email", "user" + std::to_string(i % 1000) + "@example.com"}, {"stamp", "0"}};
        store["tokens"]["token" + std::to_string(i)] = {{"session", id}, {"expires_at", expires}, {"used", false}};
    }
    ASSERT_TRUE(writeFileAtomically(file, store.dump(), 0600));
    EXPECT_EQ(chatStatus(mine), 200);
    const double many = cheapestChat();
    EXPECT_LT(many, 4 * few + 0.005) << "10 sessions: " << few * 1000 << " ms, 50,000: " << many * 1000 << " ms";
}

TEST_F(SessionTest, ValidlySignedAccessTokensAreRefusedWhenTheyOutliveWhatTheServiceIssues) {
    const json issued = session();
    const std::string key = testing::signingKey(backend.service().dataFolder());
    const json claims = claimsOf(issued["access_token"]);
    const auto now = claims["iat"].get<std::int64_t>();
    const auto bearer = [&](const json& changes) {
        json forged = claims;
        forged.update(changes);
        forged.erase(changes.contains("drop") ? changes["drop"].get<std::string>() : "drop");
        return chat(agentBody("Mute the guitar"), signJWT(forged, key)).statusCode;
    };
    EXPECT_EQ(bearer({{"exp", now + 1800}}), 200) << "the key and a live session make a good token";
    EXPECT_EQ(bearer({{"exp", 1e308}}), 401);
    EXPECT_EQ(bearer({{"exp", now + 2 * 3600}}), 401);
    EXPECT_EQ(bearer({{"iat", now - 3600 * 24}, {"exp", now + 600}}), 401);
    EXPECT_EQ(bearer({{"iat", INT64_MIN}, {"exp", now + 600}}), 401);
    EXPECT_EQ(bearer({{"exp", std::to_string(now + 600)}}), 401);
    EXPECT_EQ(bearer({{"session_id", "made-up"}}), 401);
    EXPECT_EQ(bearer({{"drop", "session_id"}}), 401);
    EXPECT_EQ(bearer({{"email", "other@example.com"}}), 401);
    EXPECT_EQ(bearer({{"deep", json::parse(nested(kMaxJSONNesting + 1))}}), 401);
}

TEST_F(SessionTest, FailedSignInsAreThrottledPerAccountAndForAllClients) {
    const ThrottlePolicy policy;
    // The last of the free ones closes the door: the next attempt waits.
    for (int i = 0; i < policy.freeFailuresPerAccount; ++i) EXPECT_EQ(signIn(LocalBackend::kEmail, "guess"), 400);
    HTTPResponse refused = backend.service().handle(signInRequest(LocalBackend::kEmail, LocalBackend::kPassword));
    EXPECT_EQ(refused.statusCode, 429) << "even the right password waits";
    EXPECT_EQ(json::parse(refused.body)["retry_after"], 1);
    EXPECT_EQ(refused.headers, (std::vector<std::pair<std::string, std::string>>{{"Retry-After", "1"}}));
    EXPECT_EQ(signIn("other@example.com", "guess"), 400) << "another account is not held up";
    backend.clock.sleep(std::chrono::seconds(1));
    EXPECT_EQ(signIn(LocalBackend::kEmail, "guess"), 400);
    refused = backend.service().handle(signInRequest(LocalBackend::kEmail, "guess"));
    EXPECT_EQ(json::parse(refused.body)["retry_after"], 2) << "each failure doubles the wait";
    backend.clock.sleep(std::chrono::seconds(2));
    EXPECT_EQ(signIn(LocalBackend::kEmail, LocalBackend::kPassword), 200);
    for (int i = 1; i < policy.freeFailuresPerAccount; ++i) EXPECT_EQ(signIn(LocalBackend::kEmail, "guess"), 400);
    EXPECT_EQ(signIn(LocalBackend::kEmail, LocalBackend::kPassword), 200) << "a success starts the count again";

    // Spread over many e-mails, guesses sent at once still meet the limit for all clients: one
    // more per turn once the free ones are spent (11 failed above).
    int answered = 0;
    for (int i = 0; i < policy.freeFailuresOverall + 5; ++i) {
        if (signIn("guess" + std::to_string(i) + "@example.com", "guess") != 429) ++answered;
    }
    EXPECT_EQ(answered, policy.freeFailuresOverall - 11 + 1);
    // The turns bound guessing: an account with no failures of its own takes none, and its right
    // password gets in at once.
    int waited = 0;
    for (;;) {
        refused = backend.service().handle(signInRequest(LocalBackend::kEmail, LocalBackend::kPassword));
        if (refused.statusCode != 429 || waited > 5) break;
        const int wait = json::parse(refused.body)["retry_after"].get<int>();
        EXPECT_EQ(refused.headers,
                  (std::vector<std::pair<std::string, std::string>>{{"Retry-After", std::to_string(wait)}}));
        backend.clock.sleep(std::chrono::seconds(wait));
        waited += wait;
    }
    EXPECT_EQ(refused.statusCode, 200);
    EXPECT_EQ(waited, 0);

    // The count is forgotten an hour after the last failure: then nothing waits for a turn.
    backend.clock.sleep(policy.forgetAfter);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(signIn(LocalBackend::kEmail, LocalBackend::kPassword), 200) << i;
}

// Past the failures of all accounts, a client asking under ever new e-mails kept the queue's places
// full so that a right password never got one (a minute and more), and identities queued ahead
// that kept asking took every turn (1.4 s each). Whatever other identities do, a right password
// waiting as told is in within a couple of seconds; one with failures of its own still waits for
// its own door.
TEST_F(SessionTest, NoFloodOfOtherIdentitiesKeepsARightPasswordOut) {
    using namespace std::chrono_literals;
    struct Attack {
        const char* name;
        int identities;  // asking again as told, each; 0: a new e-mail every step
        std::chrono::milliseconds step;
    };
    for (const Attack& attack : {Attack{"a new e-mail every 10 ms", 0, 10ms}, Attack{"60 queued ahead", 60, 10ms}}) {
        SCOPED_TRACE(attack.name);
        backend.clock.sleep(ThrottlePolicy{}.forgetAfter);  // the last attack forgotten
        for (int i = 0; i < ThrottlePolicy{}.freeFailuresOverall; ++i) signIn("flood" + std::to_string(i) + "@x", "no");
        std::vector<platform::Clock::TimePoint> asksAt(std::max(attack.identities, 1), backend.clock.now());
        platform::Clock::TimePoint victimAsks = backend.clock.now() + 500ms;
        std::optional<platform::Clock::TimePoint> refusedSince;
        std::chrono::milliseconds longest{0};
        int victimIn = 0, fresh = 0;
        for (auto end = backend.clock.now() + 40s; backend.clock.now() < end; backend.clock.sleep(attack.step)) {
            const auto now = backend.clock.now();
            for (std::size_t i = 0; i < asksAt.size(); ++i) {
                if (now < asksAt[i]) continue;
                const auto email =
                    attack.identities ? "ahead" + std::to_string(i) + "@x" : "new" + std::to_string(fresh++) + "@x";
                const HTTPResponse answer = backend.service().handle(signInRequest(email, "no"));
                if (attack.identities && answer.statusCode == 429) asksAt[i] = now + 700ms;
            }
            if (now < victimAsks) continue;
            const HTTPResponse answer =
                backend.service().handle(signInRequest(LocalBackend::kEmail, LocalBackend::kPassword));
            if (answer.statusCode == 200) {
                ++victimIn;
                if (refusedSince)
                    longest =
                        std::max(longest, std::chrono::duration_cast<std::chrono::milliseconds>(now - *refusedSince));
                refusedSince.reset();
                victimAsks = now + 1s;
                continue;
            }
            ASSERT_EQ(answer.statusCode, 429);
            if (!refusedSince) refusedSince = now;
            victimAsks = now + std::chrono::seconds(json::parse(answer.body)["retry_after"].get<int>());
        }
        if (refusedSince)
            longest = std::max(
                longest, std::chrono::duration_cast<std::chrono::milliseconds>(backend.clock.now() - *refusedSince));
        EXPECT_GE(victimIn, 20);
        EXPECT_LE(longest, 2s);
    }
    // Its own failures still close its own door: a right password is no way round the guesses
    // counted against its account.
    for (int i = 0; i <= ThrottlePolicy{}.freeFailuresPerAccount; ++i) {
        backend.clock.sleep(1s);
        EXPECT_EQ(signIn(LocalBackend::kEmail, "guess"), 400) << i;
    }
    EXPECT_EQ(signIn(LocalBackend::kEmail, LocalBackend::kPassword), 429);
}

// Signing out ended the session in the window only: the service had no sign-out, so a copy of the
// tokens taken before it stayed signed in, renewed with each refresh.
TEST_F(SessionTest, SignOutEndsThatSessionsAccessAndRefreshTokensAndNoOther) {
    const auto logout = [&](std::map<std::string, std::string> headers) {
        return backend.service().handle(post("/auth/v1/logout", "", std::move(headers)));
    };
    const auto bearer = [](const json& session) {
        return std::map<std::string, std::string>{
            {"apikey", kKey}, {"authorization", "Bearer " + session["access_token"].get<std::string>()}};
    };
    const json kept = session();
    const json ended = session();
    auto withoutKey = bearer(ended);
    withoutKey.erase("apikey");
    HTTPResponse refused = logout(withoutKey);
    EXPECT_EQ(refused.statusCode, 401);
    EXPECT_EQ(json::parse(refused.body)["error"], "invalid_api_key");
    EXPECT_EQ(chatStatus(ended), 200) << "a refused sign-out ends nothing";

    auto lowerCase = bearer(ended);
    lowerCase["authorization"].replace(0, 6, "bearer");  // the scheme's case is free
    EXPECT_EQ(backend.service()
                  .handle(post("/api/ai/chat", agentBody("Mute the guitar").dump(),
                               {{"authorization", lowerCase["authorization"]}}))
                  .statusCode,
              200);
    const HTTPResponse done = logout(lowerCase);
    EXPECT_EQ(done.statusCode, 204);
    EXPECT_EQ(done.body, "");
    EXPECT_EQ(chatStatus(ended), 401);
    EXPECT_EQ(refresh(ended).statusCode, 400);
    EXPECT_EQ(chatStatus(kept), 200) << "the account's other session goes on";
    EXPECT_EQ(refresh(kept).statusCode, 200);

    const json expired = session();
    backend.clock.sleep(std::chrono::hours(1) + std::chrono::seconds(1));
    struct Case {
        const char* name;
        std::map<std::string, std::string> headers;
    };
    const std::vector<Case> unknown = {
        {"already signed out", bearer(ended)},
        {"expired", bearer(expired)},
        {"not a token", {{"apikey", kKey}, {"authorization", "Bearer x.y.z"}}},
        {"no bearer", {{"apikey", kKey}}},
    };
    for (const auto& [name, headers] : unknown) {
        refused = logout(headers);
        EXPECT_EQ(refused.statusCode, 401) << name;
        EXPECT_EQ(json::parse(refused.body)["error"], "invalid_token") << name;
    }
    EXPECT_EQ(refresh(expired).statusCode, 200) << "an expired access token signs nothing out";
}

// Guesses sent at once all reach the check before any hash is done; each must count from the start.
// One account's guesses past the one hashing and the one waiting are turned away as busy; those
// let through count with the guesses that follow.
TEST(SignInThrottle, GuessesSentAtOnceAreHeldLikeGuessesInARow) {
    TempHome home;
    testing::ManualClock clock;
    BackendOptions options;
    options.dataFolder = home.root() / "backend";
    fs::create_directories(options.dataFolder);
    options.passwordCost = {crypto_pwhash_OPSLIMIT_MIN, 8 * 1024 * 1024};  // a hash takes a while
    BackendService service(options, testing::demoScript(), clock);
    ASSERT_TRUE(service.accounts().addUser(LocalBackend::kEmail, LocalBackend::kPassword));
    constexpr int kGuesses = 16;
    std::atomic<int> ready{0};
    std::atomic<int> refused{0};
    std::atomic<int> held{0};
    std::vector<std::thread> guessers;
    for (int i = 0; i < kGuesses; ++i) {
        guessers.emplace_back([&] {
            ++ready;
            while (ready.load() < kGuesses) std::this_thread::yield();
            const int status = service.handle(signInRequest(LocalBackend::kEmail, "guess")).statusCode;
            if (status == 400) ++refused;
            if (status == 429) ++held;
        });
    }
    for (auto& guesser : guessers) guesser.join();
    EXPECT_LE(refused.load(), ThrottlePolicy{}.freeFailuresPerAccount);
    EXPECT_EQ(held.load(), kGuesses - refused.load());
    for (int i = 0; i < kGuesses; ++i) {
        if (service.handle(signInRequest(LocalBackend::kEmail, "guess")).statusCode == 400) ++refused;
    }
    EXPECT_EQ(refused.load(), ThrottlePolicy{}.freeFailuresPerAccount) << "only the free failures are checked";
}

// Too deep gets the answer the app's loopback API gives it, 413, on every route.
TEST_F(BackendServiceTest, EveryJSONBodyIsRefusedPastTheNestingLimit) {
    const std::string token = session()["access_token"];
    const std::string deep = nested(20'000);
    const std::string signIn = R"({"email":)" + deep + R"(,"password":"x"})";
    const auto response = [&](const std::string& target, const std::string& body,
                              std::map<std::string, std::string> headers) {
        const HTTPResponse r = backend.service().handle(post(target, body, std::move(headers)));
        return std::pair{r.statusCode, json::parse(r.body, nullptr, false)};
    };
    auto [status, body] = response("/auth/v1/token?grant_type=password", signIn, {{"apikey", kKey}});
    EXPECT_EQ(status, 413);
    EXPECT_EQ(body["error"], "request_too_large");
    EXPECT_EQ(body["error_description"], "The request body nests deeper than 64 levels");
    json chatBody = agentBody("hi");
    chatBody["input"][0]["content"][0]["text"] = "[[[[ brackets in text are only text";
    EXPECT_EQ(chat(chatBody, token).statusCode, 200);
    const std::string deepChat = R"({"tier":"standard","kind":"agent","input":)" + deep + "}";
    std::tie(status, body) = response("/api/ai/chat", deepChat, {{"authorization", "Bearer " + token}});
    EXPECT_EQ(status, 413);
    EXPECT_EQ(body["error"], "The request body nests deeper than 64 levels");
    std::tie(status, body) = response("/api/errors/report", R"({"r":)" + deep + "}", {});
    EXPECT_EQ(status, 413);
    EXPECT_EQ(body["error"], "The report nests deeper than 64 levels");
}

// The parse bounded depth, not the number of values: a chat body within one account's share of
// uploads, {"input":[{},{},...]}, became a node of tens of bytes for every three bytes sent, and the
// backend took gigabytes. Past a bound on values a body is refused before it is parsed.
TEST_F(BackendServiceTest, ABodyOfManySmallValuesIsRefusedBeforeItIsParsed) {
    const std::string token = session()["access_token"];
    const auto many = [](const std::string& value, std::size_t count) {
        std::string items;
        for (std::size_t i = 0; i < count; ++i) items += (i == 0 ? "" : ",") + value;
        return R"({"tier":"standard","kind":"agent","input":[)" + items + "]}";
    };
    struct Case {
        const char* name;
        std::string target;
        std::string body;
        std::map<std::string, std::string> headers;
        int status;
        const char* member;
    };
    const std::map<std::string, std::string> signedIn{{"authorization", "Bearer " + token}};
    const std::vector<Case> cases = {
        {"empty objects", "/api/ai/chat", many("{}", kMaxJSONValues), signedIn, 413, "error"},
        {"zeros", "/api/ai/chat", many("0", kMaxJSONValues), signedIn, 413, "error"},
        {"empty arrays", "/api/ai/chat", many("[]", kMaxJSONValues), signedIn, 413, "error"},
        {"a report", "/api/errors/report", many("0", kMaxJSONValues), signedIn, 413, "error"},
        {"values in a text", "/api/ai/chat", agentBody(std::string(3 * kMaxJSONValues, ',')).dump(), signedIn, 200,
         nullptr},
        {"just within", "/api/ai/chat", many("0", kMaxJSONValues - 8), signedIn, 200, nullptr},
    };
    for (const auto& c : cases) {
        const HTTPResponse r = backend.service().handle(post(c.target, c.body, c.headers));
        EXPECT_EQ(r.statusCode, c.status) << c.name << ": " << r.body.substr(0, 200);
        if (c.member != nullptr) {
            EXPECT_NE(json::parse(r.body)[c.member].get<std::string>().find("holds more than"), std::string::npos)
                << c.name;
        }
    }
}

TEST_F(BackendServiceTest, ErrorReportsAreStoredCompactlyWithinTighterLimitsWithoutAToken) {
    const std::string token = session()["access_token"];
    const ReportQuotas quotas;
    const auto report = [&](std::size_t size, bool signedIn) {
        std::string body = R"({"pad":")";
        body += std::string(size - body.size() - 2, 'p') + "\"}";
        std::map<std::string, std::string> headers;
        if (signedIn) headers["authorization"] = "Bearer " + token;
        return backend.service().handle(post("/api/errors/report", body, headers)).statusCode;
    };
    EXPECT_EQ(report(quotas.signedOut.maxBodyBytes, false), 200);
    EXPECT_EQ(report(quotas.signedOut.maxBodyBytes + 1, false), 413);
    EXPECT_EQ(report(quotas.signedOut.maxBodyBytes + 1, true), 200);
    EXPECT_EQ(report(quotas.signedIn.maxBodyBytes + 1, true), 413);
    // A forged or stale token counts as none.
    const HTTPResponse forged = backend.service().handle(
        post("/api/errors/report", std::string(100'000, ' ') + "{}", {{"authorization", "Bearer x.y.z"}}));
    EXPECT_EQ(forged.statusCode, 413);

    const std::string deepest = R"({"r":)" + nested(kMaxJSONNesting - 1) + "}";
    ASSERT_EQ(backend.service().handle(post("/api/errors/report", deepest)).statusCode, 200);
    const fs::path folder = backend.service().dataFolder() / "reports" / "signed-out";
    EXPECT_EQ(modeOf(folder), 0700u);
    std::uintmax_t largest = 0;
    for (const auto& file : fs::directory_iterator(folder)) {
        EXPECT_EQ(modeOf(file.path()), 0600u);
        const std::string stored = readFile(file.path()).bytes;
        EXPECT_EQ(stored.find('\n'), stored.size() - 1) << "one line";
        if (stored.find("[[[") != std::string::npos) largest = stored.size();
    }
    EXPECT_LT(largest, deepest.size() + 100);

    // A report the disk refuses says why.
    fs::remove_all(folder);
    testing::writeAll(folder, "not a folder");
    const HTTPResponse refused = backend.service().handle(post("/api/errors/report", "{}"));
    EXPECT_EQ(refused.statusCode, 500);
    EXPECT_EQ(json::parse(refused.body)["error"], "The report could not be stored: Not a directory");
}

// The signed-in quota was one for all accounts: another account's reports pushed out the victim's.
TEST(ReportStore, EachAccountAndTheSignedOutKeepTheirNewestReportsWithinTheirOwnCountAndBytes) {
    TempHome home;
    testing::ManualClock clock;
    const fs::path data = home.root() / "backend";
    ReportStore store(data, {.signedIn = {1000, 3, 1000}, .signedOut = {1000, 2, 250}}, clock);
    const auto names = [&](const std::optional<std::string>& account) {
        std::vector<std::string> ids;
        for (const auto& entry : fs::recursive_directory_iterator(data / "reports")) {
            if (!entry.is_regular_file()) continue;
            const bool signedOut = entry.path().parent_path().filename() == "signed-out";
            if (signedOut != !account) continue;
            const std::string name = entry.path().stem().string();
            const std::string id = name.substr(name.rfind('-') + 1);
            if (!account || id.starts_with(account->substr(0, 1))) ids.push_back(id);
        }
        std::sort(ids.begin(), ids.end());
        return ids;
    };
    const json small = {{"n", 1}};
    const auto storeAll = [&](std::vector<const char*> ids, const std::optional<std::string>& account) {
        for (const char* id : ids) {
            ASSERT_EQ(store.store(id, small, account), std::nullopt) << id;
            clock.sleep(std::chrono::milliseconds(1));
        }
    };
    storeAll({"v1"}, "Victim@example.com");
    storeAll({"a1", "a2", "a3", "a4"}, "attacker@example.com");
    storeAll({"p", "q", "r", "s", "t"}, std::nullopt);
    EXPECT_EQ(names("victim"), (std::vector<std::string>{"v1"})) << "another account's reports removed it";
    EXPECT_EQ(names("attacker"), (std::vector<std::string>{"a2", "a3", "a4"}));
    storeAll({"v2", "v3", "v4"}, " victim@EXAMPLE.com");
    EXPECT_EQ(names("victim"), (std::vector<std::string>{"v2", "v3", "v4"})) << "one account however it is written";
    EXPECT_EQ(names(std::nullopt), (std::vector<std::string>{"s", "t"}));
    const json large = {{"pad", std::string(235, 'x')}};  // 247 bytes stored
    ASSERT_EQ(store.store("u", large, std::nullopt), std::nullopt);
    EXPECT_EQ(names(std::nullopt), (std::vector<std::string>{"u"})) << "bytes count too";
    EXPECT_EQ(store.store("v", json{{"pad", std::string(300, 'x')}}, std::nullopt),
              "it is larger than the 250 bytes all reports may take");
}

// A kill between create and rename leaves a temporary file that no quota counts; each writer
// removes its own at start, and only its own.
TEST(BackendFiles, WhatAKillLeftHalfWrittenGoesAtStartAndNothingElseDoes) {
    struct Case {
        const char* writer;
        std::string folder;  // under the data folder
        std::string leftover;
        std::vector<std::string> kept;
    };
    const std::vector<Case> cases = {
        {"token service",
         "",
         ".jwt-secret.tmp-0123456789ab",
         {".jwt-secret.old.tmp-0123456789ab", "jwt-secret.tmp-0123456789ab"}},
        {"reports",
         "reports",
         ".2026-12-06T15-23-51.123Z-a1.json.tmp-0123456789ab",
         {".notes.txt.tmp-0123456789ab", ".2026-12-06T15-23-51.123Z-a1.json.tmp-01234567"}},
        {"an account's reports",
         "reports/accounts/0123456789abcdef0123456789abcdef",
         ".2026-12-06T15-23-51.123Z-c3.json.tmp-0123456789ab",
         {"2026-12-06T15-23-51.123Z-c3.json"}},
        {"signed-out reports",
         "reports/signed-out",
         ".2026-12-06T15-23-51.123Z-b2.json.tmp-0a1b2c3d4e5f",
         {"2026-12-06T15-23-51.123Z-b2.json", ".2026-12-06T15-23-51.123Z-b2.json.tmp-0A1B2C3D4E5F"}},
    };
    TempHome home;
    testing::ManualClock clock;
    const fs::path data = home.root() / "backend";
    for (const Case& c : cases) {
        fs::create_directories(data / c.folder);
        testing::writeAll(data / c.folder / c.leftover, "half");
        for (const auto& name : c.kept) testing::writeAll(data / c.folder / name, "keep");
    }
    AccountStore accounts(data, PasswordCost::minimum());
    TokenService tokens(data, accounts, {}, clock);
    ReportStore reports(data, {}, clock);
    for (const Case& c : cases) {
        EXPECT_FALSE(fs::exists(data / c.folder / c.leftover)) << c.writer;
        for (const auto& name : c.kept)
            EXPECT_EQ(testing::readAll(data / c.folder / name), "keep") << c.writer << ": " << name;
    }
}

}  // namespace
}  // namespace corvane::backend
