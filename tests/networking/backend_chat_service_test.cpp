#include "networking/backend_chat_service.h"

#include <gtest/gtest.h>

#include "backend/backend_fixture.h"
#include "networking/auth_service.h"
#include "networking_fixture.h"
#include "platform/log.h"
#include "support/app_paths.h"
#include "test_support/temp_home.h"

namespace corvane::networking {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using testing::describe;
using testing::HookedTransport;
using testing::LocalBackend;
using testing::ScriptedServer;
using testing::TempHome;

json agentBody(const std::string& message) {
    return {
        {"tier", "standard"},
        {"kind", "agent"},
        {"parallel_tool_calls", true},
        {"input",
         json::array({{{"role", "user"}, {"content", json::array({{{"type", "input_text"}, {"text", message}}})}}})}};
}

class BackendChatServiceTest : public ::testing::Test {
protected:
    TempHome home;
    std::shared_ptr<HookedTransport> transport = std::make_shared<HookedTransport>();

    std::unique_ptr<BackendChatService> signedInTo(LocalBackend& backend, std::unique_ptr<AuthService>& auth) {
        BackendConfiguration configuration;
        configuration.baseURL = backend.baseURL();
        auth = std::make_unique<AuthService>(configuration, transport, backend.clock);
        auth->signIn(LocalBackend::kEmail, LocalBackend::kPassword);
        auto service = std::make_unique<BackendChatService>(configuration.chatEndpoint(), "gpt-5", transport);
        service->setAuthTokenProvider([a = auth.get()] { return a->getValidToken(); });
        return service;
    }
};

TEST_F(BackendChatServiceTest, RunsAScriptedExchangeAgainstTheLocalBackendAndTracesItWithoutTheToken) {
    LocalBackend backend(home.root() / "backend");
    std::unique_ptr<AuthService> auth;
    auto owned = signedInTo(backend, auth);
    BackendChatService& service = *owned;
    platform::LogCapture log;
    const json first = service.sendRequest(agentBody("Mute the guitar"));
    EXPECT_EQ(first["output"][0]["name"], "set_track_mute");
    const json next = service.sendRequest({{"tier", "standard"},
                                           {"previous_response_id", first["id"]},
                                           {"input", json::array({{{"type", "function_call_output"},
                                                                   {"call_id", first["output"][0]["call_id"]},
                                                                   {"output", R"({"status":"ok"})"}}})},
                                           {"parallel_tool_calls", true}});
    EXPECT_EQ(next["output"][0]["name"], "respond");

    const std::string token = *auth->getValidToken();
    bool sawRequest = false;
    for (const auto& line : log.lines()) {
        EXPECT_EQ(line.find(token), std::string::npos) << "the bearer token leaked into the trace";
        sawRequest = sawRequest || line.rfind("[API] API Proxy request\n  POST " + service.endpoint(), 0) == 0;
    }
    EXPECT_TRUE(sawRequest);
    EXPECT_TRUE(log.contains("[API] API Proxy response\n  " + service.endpoint() + "\n  status: 200"));

    // The report is filed on the same host, with or without a token.
    EXPECT_TRUE(service.submitErrorReport("T1", std::nullopt, "reply", json::array(), "wrong track"));
    service.setAuthTokenProvider(BackendChatService::TokenProvider{});
    EXPECT_TRUE(service.submitErrorReport("T2", "hi", "reply", json::array({{{"name", "x"}}}), "again"));
    EXPECT_EQ(
        std::distance(fs::directory_iterator(backend.service().dataFolder() / "reports"), fs::directory_iterator()), 2);
}

TEST_F(BackendChatServiceTest, RelayModeForwardsToTheProviderAndPassesItsReplyBack) {
    const json providerReply = {
        {"id", "resp_p1"},
        {"output",
         json::array(
             {{{"type", "function_call"}, {"call_id", "call_1"}, {"name", "list_tracks"}, {"arguments", "{}"}}})}};
    ScriptedServer provider([&](const http::HTTPRequest&) {
        return http::HTTPResponse{200, "application/json", providerReply.dump()};
    });
    LocalBackend backend(home.root() / "relay",
                         std::make_unique<backend::RelayModel>(
                             backend::RelayConfiguration{provider.baseURL() + "/v1/responses", "pk", "small", "big"},
                             AppPaths::resourcesDirectory()));
    std::unique_ptr<AuthService> auth;
    auto owned = signedInTo(backend, auth);
    BackendChatService& service = *owned;
    EXPECT_EQ(service.sendRequest(agentBody("hello")), providerReply);
    service.sendRequest({{"tier", "pro"}, {"previous_response_id", "resp_p1"}, {"input", json::array()}});
    const auto received = provider.received();
    ASSERT_EQ(received.size(), 2u);
    const json forwarded = json::parse(received[1].body);
    EXPECT_EQ(forwarded["model"], "big");
    EXPECT_EQ(forwarded["previous_response_id"], "resp_p1");
    EXPECT_EQ(forwarded["tools"].size(), 31u);
    EXPECT_FALSE(forwarded["instructions"].get<std::string>().empty());
    EXPECT_EQ(received[1].header("authorization"), "Bearer pk");
}

TEST_F(BackendChatServiceTest, FailureAnswersBecomeTheClientErrorTexts) {
    struct Case {
        int status;
        std::string body;
        std::string description;
    };
    const std::string prefix = "OpenAI response could not be parsed: ";
    const std::vector<Case> cases = {
        {401, R"({"id":"resp_1","output":[]})", "Not authenticated: the sign-in has ended. Please sign in again."},
        {500, "", prefix + "HTTP 500: "},
        {502, "bad gateway", prefix + "HTTP 502: bad gateway"},
        {503, std::string("\xff\xfe busy", 7), "The chat service is busy. Try again in a moment."},
        {503, R"({"error":"Too many chats at once; try again shortly"})", "The chat service is busy. Try again in a moment."},
        {429, "{}", "The chat service is busy. Try again in a moment."},
        {504, "", prefix + "HTTP 504: "},
        {200, "[1,2]", prefix + "response was not a JSON object"},
    };
    for (const auto& c : cases) {
        ScriptedServer server([&](const http::HTTPRequest&) {
            return http::HTTPResponse{c.status, "application/json", c.body};
        });
        BackendChatService service(server.baseURL() + "/api/ai/chat", "gpt-5", transport);
        service.setAuthTokenProvider([] { return std::optional<std::string>("tok"); });
        EXPECT_EQ(describe([&] { service.sendRequest(agentBody("x")); }), c.description) << c.status;
        EXPECT_EQ(server.received().at(0).header("authorization"), "Bearer tok");
    }
    ScriptedServer notJSON([](const http::HTTPRequest&) { return http::HTTPResponse{200, "text/plain", "hello"}; });
    BackendChatService service(notJSON.baseURL() + "/api/ai/chat", "gpt-5", transport);
    service.setAuthTokenProvider([] { return std::optional<std::string>("tok"); });
    EXPECT_THROW(service.sendRequest(agentBody("x")), nlohmann::json::parse_error);
}

TEST_F(BackendChatServiceTest, NothingIsSentWithoutATokenOrInClearToAnotherHost) {
    transport->forwards = false;
    BackendChatService local("http://127.0.0.1:9/api/ai/chat", "gpt-5", transport);
    const std::string missing = BackendChatService::OpenAIClientError::missingApiKey().what();
    EXPECT_EQ(describe([&] { local.sendRequest(agentBody("x")); }), missing);
    local.setAuthTokenProvider([] { return std::nullopt; });
    EXPECT_EQ(describe([&] { local.sendRequest(agentBody("x")); }), "Not authenticated. Please sign in again.");
    EXPECT_EQ(missing, "Missing OPENAI_API_KEY. Set it in the environment or place it in a .env file inside Corvane.");

    for (const char* endpoint : {"http://example.com/api/ai/chat", "http://127.0.0.1@example.com/api/ai/chat",
                                 "http://10.0.0.2:51235/api/ai/chat"}) {
        BackendChatService remote(endpoint, "gpt-5", transport);
        remote.setAuthTokenProvider([] { return std::optional<std::string>("tok"); });
        EXPECT_THROW(remote.sendRequest(agentBody("x")), http::TransportError) << endpoint;
        EXPECT_FALSE(remote.submitErrorReport("T", std::nullopt, "a", json::array(), "d")) << endpoint;
    }
    EXPECT_EQ(transport->calls, 0);
    BackendChatService secure("https://chat.example.com/api/ai/chat", "gpt-5", transport);
    secure.setAuthTokenProvider([] { return std::optional<std::string>("tok"); });
    EXPECT_EQ(secure.sendRequest(agentBody("x")), json::object());
    EXPECT_EQ(transport->calls, 1);
}

TEST(BackendChatServiceTitles, ExtractsAndCleansTitles) {
    const json reply = {{"output", json::array({{{"content", "no"}},
                                                {{"content", json::array({{{"text", ""}}, {{"text", "First"}}})}},
                                                {{"content", json::array({{{"text", "Second"}}})}}})}};
    EXPECT_EQ(BackendChatService::extractTitleText(reply), "First");
    EXPECT_EQ(BackendChatService::extractTitleText({{"output", "x"}}), std::nullopt);

    const std::string sixty(60, 'a');
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"  \u201CVocal Chain Tune-Up.\u201D  ", "Vocal Chain Tune-Up"},
        {"\u2018Bass\u2019 \u201CRoom\u201D.", "Bass\u2019 \u201CRoom\u201D"},
        {"\"Drums\".", "Drums\""},
        {"'Mix notes?!'", "Mix notes"},
        {sixty + "b", sixty},
        {std::string(58, 'x') + " \t" + "yz", std::string(58, 'x')},
        {std::string(59, 'e') + "\U0001F44D\U0001F3FD" + "more", std::string(59, 'e') + "\U0001F44D\U0001F3FD"},
    };
    for (const auto& [raw, clean] : cases) EXPECT_EQ(BackendChatService::cleanTitle(raw), clean) << raw;
}

TEST(BackendChatServiceReports, ReportURLReplacesTheChatPath) {
    EXPECT_EQ(BackendChatService::errorReportURL("https://x.io/api/ai/chat"), "https://x.io/api/errors/report");
    EXPECT_EQ(BackendChatService::errorReportURL("http://127.0.0.1:5/v2/api/ai/chat"),
              "http://127.0.0.1:5/v2/api/errors/report");
}

}  // namespace
}  // namespace corvane::networking
