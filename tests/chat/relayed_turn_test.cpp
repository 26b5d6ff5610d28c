// Turns of the real agent loop through the real backend client and corvane-backend in relay
// mode, against a fake provider that keeps every body it receives.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "backend/backend_fixture.h"
#include "chat/chat_orchestrator.h"
#include "chat/turn_services.h"
#include "http/http_client.h"
#include "networking/auth_service.h"
#include "platform/standin/standin_fixture.h"
#include "plugins/plugin_map_store.h"
#include "support/app_paths.h"
#include "support/files.h"
#include "test_support/scripted_chat_backend.h"
#include "test_support/temp_home.h"

namespace corvane::testing {
namespace {

using nlohmann::json;

constexpr const char* kTrackFooter =
    "(Tracks marked `folder` are Logic folder tracks / track stacks. A folder's audio output is the SUM of its "
    "children's audio \u2014 so listen_to_playback on a folder returns the combined mix of everything inside it. "
    "Soloing a folder solos all its children. When the user says \"inside the Foo folder\", they mean the tracks "
    "listed below Foo as children. Tracks marked `monitored` have the Corvane plugin installed and can be read "
    "with listen_to_playback. Only currently visible tracks are listed \u2014 collapsed folders hide their "
    "children, use set_folder_expanded to reveal them.)";

json textPart(const std::string& text) { return {{"type", "input_text"}, {"text", text}}; }
json userItem(const std::string& text, const std::string& context) {
    return {{"role", "user"}, {"content", json::array({textPart(text), textPart(context)})}};
}
json historyItem(const std::string& text) { return {{"role", "user"}, {"content", json::array({textPart(text)})}}; }
json assistantItem(const std::string& text) {
    return {{"role", "assistant"}, {"content", json::array({{{"type", "output_text"}, {"text", text}}})}};
}

class RelayedTurnTest : public standin::testing::StandinTest, protected TurnServices {
protected:
    void SetUp() override {
        StandinTest::SetUp();
        load(standin::testing::demoSongWith(
            {{"project",
              {{"tracks", json::array({{{"name", "Bass"}, {"kind", "audio"}}, {{"name", "Lead Vox"}, {"kind", "audio"}}})},
               {"selected", "Bass"}}}}));
        threadID = conversations.createThread(std::string("Demo Song")).currentThreadID;
        provider = std::make_unique<ScriptedServer>([this](const http::HTTPRequest&) {
            const json reply = respondReply("Reply " + std::to_string(++replies));
            return http::HTTPResponse{200, "application/json", reply.dump()};
        });
        local = std::make_unique<LocalBackend>(
            home.root() / "backend",
            std::make_unique<backend::RelayModel>(
                backend::RelayConfiguration{provider->baseURL() + "/v1/responses", "provider-key", "small-model",
                                            "big-model"},
                AppPaths::resourcesDirectory()));
        networking::BackendConfiguration configuration;
        configuration.baseURL = local->baseURL();
        auto curl = std::make_shared<http::CurlTransport>();
        auth = std::make_unique<networking::AuthService>(configuration, curl, local->clock);
        auth->signIn(LocalBackend::kEmail, LocalBackend::kPassword);
        service = std::make_unique<networking::BackendChatService>(configuration.chatEndpoint(), "gpt-5", curl);
        service->setAuthTokenProvider([this] { return auth->getValidToken(); });
        ChatOrchestrator::Providers providers;
        providers.healthSnapshot = [] {
            HealthResponse health;
            health.logic.logicIsRunning = true;
            return health;
        };
        orchestrator = std::make_unique<ChatOrchestrator>(
            ChatOrchestrator::Services{inventory, *service, conversations, memories, logic, plugins, logger, {}},
            std::move(providers));
    }
    void TearDown() override {
        orchestrator.reset();
        world().drainMainQueue();
        StandinTest::TearDown();
    }

    ChatResponse run(const std::string& message) {
        ChatRequest request;
        request.message = message;
        request.threadID = threadID;
        ChatResponse response;
        for (const auto& event : orchestrator->handleChatStreaming(request)->collect())
            if (auto* final = std::get_if<AgentEvent::FinalResponse>(&event.value)) response = final->response;
        world().drainMainQueue();
        logger.drain();
        return response;
    }

    static json resource(const std::string& relative) {
        return json::parse(readFile(AppPaths::resourcesDirectory() / relative).bytes);
    }
    // What the provider receives for a first request with this input.
    static json providerBody(json input) {
        return {{"model", "small-model"},
                {"instructions", readFile(AppPaths::resourcesDirectory() / "Backend" / "instructions-agent.md").bytes},
                {"input", std::move(input)},
                {"parallel_tool_calls", true},
                {"tools", resource("ToolDefinitions/tools.json")}};
    }

    int replies = 0;
    std::unique_ptr<ScriptedServer> provider;
    std::unique_ptr<LocalBackend> local;
    std::unique_ptr<networking::AuthService> auth;
    std::unique_ptr<networking::BackendChatService> service;
    std::unique_ptr<ChatOrchestrator> orchestrator;
    std::string threadID;
};

// The new message went out twice: alone as the history's last entry, then with its context.
TEST_F(RelayedTurnTest, TheProviderGetsTheUserMessageOnceWithItsContextAndLaterTurnsKeepItOnce) {
    const std::string context = std::string("Logic Pro context:\n- Running: true\n- Project: \"Demo Song\"\n\n") +
                                "All tracks in project (exact names \u2014 pass these to tools verbatim):\n"
                                "- Bass\n- Lead Vox\n" + kTrackFooter;

    EXPECT_EQ(run("Raise the vocal by 3 dB").assistantMessage, "Reply 1");
    EXPECT_EQ(run("Now the bass").assistantMessage, "Reply 2");

    const auto received = provider->received();
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(json::parse(received[0].body), providerBody(json::array({userItem("Raise the vocal by 3 dB", context)})));
    EXPECT_EQ(json::parse(received[1].body),
              providerBody(json::array({historyItem("Raise the vocal by 3 dB"), assistantItem("Reply 1"),
                                        userItem("Now the bass", context)})));
}

}  // namespace
}  // namespace corvane::testing
