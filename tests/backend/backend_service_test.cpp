#include "backend/backend_service.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <nlohmann/json.hpp>

#include "backend/backend_fixture.h"
#include "backend/jwt.h"
#include "support/files.h"
#include "test_support/temp_home.h"

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
    EXPECT_EQ(titled["output"][0]["content"][0]["text"], "Check the levels of the drum");
}

TEST_F(BackendServiceTest, ErrorReportsAreStoredAsPrivateJSONFilesWithTheAccount) {
    const std::string token = session()["access_token"];
    const json report = {{"thread_id", "T1"}, {"assistant_message", "oops"}, {"tool_calls", json::array()}};
    const HTTPResponse r =
        backend.service().handle(post("/api/errors/report", report.dump(), {{"authorization", "Bearer " + token}}));
    ASSERT_EQ(r.statusCode, 200) << r.body;
    const fs::path folder = backend.service().dataFolder() / "reports";
    EXPECT_EQ(modeOf(folder), 0700u);
    std::vector<fs::path> files{fs::directory_iterator(folder), fs::directory_iterator()};
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(modeOf(files[0]), 0600u);
    const json stored = json::parse(readFile(files[0]).bytes);
    EXPECT_EQ(stored["thread_id"], "T1");
    EXPECT_EQ(stored["account"], LocalBackend::kEmail);
}

}  // namespace
}  // namespace corvane::backend
