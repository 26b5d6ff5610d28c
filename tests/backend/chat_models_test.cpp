#include "backend/chat_models.h"

#include <memory>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <set>

#include "backend/backend_fixture.h"
#include "model/tool_catalog.h"
#include "support/app_paths.h"
#include "support/files.h"
#include "test_support/temp_home.h"

namespace corvane::backend {
namespace {

using http::HTTPRequest;
using http::HTTPResponse;
using nlohmann::json;
using testing::ScriptedServer;

json resource(const std::string& relative) {
    return json::parse(readFile(AppPaths::resourcesDirectory() / relative).bytes);
}

TEST(ToolDefinitions, DefineExactlyTheCatalogedToolsAndTheDemoScriptCallsThemWithTheirRequiredArguments) {
    const json tools = resource("ToolDefinitions/tools.json");
    std::map<std::string, json> byName;
    for (const auto& tool : tools) {
        EXPECT_EQ(tool["type"], "function");
        EXPECT_EQ(tool["parameters"]["type"], "object") << tool["name"];
        byName[tool["name"]] = tool["parameters"];
    }
    std::set<std::string> names;
    for (const auto& [name, parameters] : byName) names.insert(name);
    std::set<std::string> cataloged;
    for (const auto& tool : toolCatalog()) cataloged.emplace(tool.name);
    EXPECT_EQ(names, cataloged);

    const json script = resource("Backend/demo-script.json");
    for (const auto& rule : script["rules"]) {
        for (const auto& step : rule["steps"]) {
            for (const auto& call : step.value("calls", json::array())) {
                const std::string name = call["name"];
                ASSERT_TRUE(byName.count(name)) << name;
                const json& parameters = byName[name];
                for (const auto& required : parameters.value("required", json::array())) {
                    EXPECT_TRUE(call["arguments"].contains(required)) << name << " needs " << required;
                }
                for (const auto& [key, value] : call["arguments"].items()) {
                    EXPECT_TRUE(parameters["properties"].contains(key)) << name << " has no argument " << key;
                }
            }
        }
    }
}

TEST(ScriptedModel, RefusesMalformedScripts) {
    for (const char* script : {R"([])", R"({"rules":[{"match":"x"}]})", R"({"rules":[{"match":"x","steps":[]}]})",
                               R"({"rules":[{"match":"x","steps":[{"calls":[],"respond":"y"}]}]})",
                               R"({"rules":[{"match":"(","steps":[{"respond":"y"}]}]})"}) {
        EXPECT_THROW(ScriptedModel{json::parse(script)}, std::invalid_argument) << script;
    }
}

// The prose of a scripted reply, or the name of the tool it calls.
std::string scriptedAnswer(const json& reply) {
    const json& first = reply.at("output").at(0);
    if (first.at("name") != "respond") return "calls " + first.at("name").get<std::string>();
    return json::parse(first.at("arguments").get<std::string>()).at("prose").get<std::string>();
}

json firstRequest(const std::string& text) {
    return {{"tier", "standard"},
            {"kind", "agent"},
            {"input",
             json::array({{{"role", "user"},
                           {"content", json::array({{{"type", "input_text"}, {"text", text}},
                                                    {{"type", "input_text"}, {"text", "Logic Pro context"}}})}}})}};
}

json continuation(const json& previous, const json& output) {
    return {{"tier", "standard"},
            {"previous_response_id", previous.at("id")},
            {"input", json::array({{{"type", "function_call_output"},
                                    {"call_id", previous.at("output").at(0).at("call_id")},
                                    {"output", output.dump()}}})}};
}

TEST(ScriptedModel, RulesMatchTheUsersWordsNotTheAnalysisCorvaneAppends) {
    ScriptedModel model(json::parse(R"({"rules":[
        {"match":"\\bmaster\\b","steps":[{"respond":"About the master."}]},
        {"match":"\\bbass\\b","steps":[{"respond":"About the bass."}]}]})"));
    const std::string appended =
        "\n\n---\n[INTERNAL — Corvane plugin stream, NOT pasted by the user.]\n"
        "Stereo Out(master): LUFS:-14.3\n---";
    struct Case {
        std::string message;
        std::string answer;
    };
    for (const Case& c : {Case{"Is the bass too loud?" + appended, "About the bass."},
                          Case{"How is the master?" + appended, "About the master."},
                          Case{"Make it warmer" + appended, "running offline"}}) {
        SCOPED_TRACE(c.message);
        const std::string answer = scriptedAnswer(model.answer(firstRequest(c.message)).body);
        EXPECT_NE(answer.find(c.answer), std::string::npos) << answer;
    }
}

TEST(ScriptedModel, AReplyAfterAFailedToolDoesNotClaimItsSuccess) {
    ScriptedModel model(json::parse(R"({"rules":[{"match":"remove","steps":[
        {"calls":[{"name":"remove_plugin","arguments":{"track_name":"Bass","plugin_name":"Channel EQ"}}]},
        {"respond":"Removed Channel EQ from Bass."}]}]})"));
    struct Case {
        const char* label;
        json output;
        std::string reply;
    };
    for (const Case& c : {Case{"ok", {{"status", "ok"}, {"message", "Removed"}}, "Removed Channel EQ from Bass."},
                          Case{"failed",
                               {{"status", "error"}, {"message", "No plug-in named Channel EQ on Bass"}},
                               "That step did not work, so I stopped there: No plug-in named Channel EQ on Bass."}}) {
        SCOPED_TRACE(c.label);
        const ChatReply call = model.answer(firstRequest("Remove the EQ from the bass"));
        ASSERT_EQ(scriptedAnswer(call.body), "calls remove_plugin");
        const ChatReply reply = model.answer(continuation(call.body, c.output));
        EXPECT_EQ(reply.statusCode, 200);
        EXPECT_EQ(scriptedAnswer(reply.body), c.reply);
    }
}

TEST(RelayModel, ForwardsModelInstructionsToolsAndPreviousResponseAndPassesTheReplyBack) {
    const json providerReply = {{"id", "resp_provider"}, {"output", json::array()}, {"output_text", "hello"}};
    ScriptedServer provider([&](const HTTPRequest& request) {
        if (request.header("authorization") != "Bearer provider-key")
            return HTTPResponse{401, "application/json", "{}"};
        return HTTPResponse{200, "application/json", providerReply.dump()};
    });
    RelayConfiguration configuration{provider.baseURL() + "/v1/responses", "provider-key", "small-model", "big-model"};
    RelayModel relay(configuration, AppPaths::resourcesDirectory());

    const json input = json::array({{{"role", "user"}, {"content", json::array()}}});
    const ChatReply first =
        relay.answer({{"tier", "pro"}, {"kind", "agent"}, {"input", input}, {"parallel_tool_calls", true}});
    EXPECT_EQ(first.statusCode, 200);
    EXPECT_EQ(first.body, providerReply);
    relay.answer({{"tier", "standard"},
                  {"previous_response_id", "resp_provider"},
                  {"input", json::array()},
                  {"parallel_tool_calls", true}});
    relay.answer(
        {{"tier", "standard"}, {"kind", "title"}, {"input", input}, {"store", false}, {"parallel_tool_calls", false}});

    const auto received = provider.received();
    ASSERT_EQ(received.size(), 3u);
    EXPECT_EQ(received[0].routePath(), "/v1/responses");
    const json agent = json::parse(received[0].body);
    EXPECT_EQ(agent["model"], "big-model");
    EXPECT_EQ(agent["instructions"], readFile(AppPaths::resourcesDirectory() / "Backend/instructions-agent.md").bytes);
    EXPECT_EQ(agent["tools"], resource("ToolDefinitions/tools.json"));
    EXPECT_EQ(agent["input"], input);
    EXPECT_FALSE(agent.contains("previous_response_id"));
    const json next = json::parse(received[1].body);
    EXPECT_EQ(next["model"], "small-model");
    EXPECT_EQ(next["previous_response_id"], "resp_provider");
    EXPECT_EQ(next["instructions"], agent["instructions"]);
    EXPECT_EQ(next["tools"], agent["tools"]);
    const json title = json::parse(received[2].body);
    EXPECT_EQ(title["instructions"], readFile(AppPaths::resourcesDirectory() / "Backend/instructions-title.md").bytes);
    EXPECT_FALSE(title.contains("tools"));
    EXPECT_EQ(title["store"], false);
}

TEST(RelayModel, ProviderFailuresBecomeBadGatewayWithAnErrorMember) {
    ScriptedServer provider([](const HTTPRequest&) {
        return HTTPResponse{500, "application/json", R"({"error":"boom"})"};
    });
    RelayModel relay({provider.baseURL(), "k", "a", "b"}, AppPaths::resourcesDirectory());
    const ChatReply reply = relay.answer({{"tier", "standard"}, {"kind", "agent"}, {"input", json::array()}});
    EXPECT_EQ(reply.statusCode, 502);
    EXPECT_EQ(reply.body["error"], "Provider answered HTTP 500: \"boom\"");
}

TEST(RelayModel, ProviderErrorsLoseTheKeyAndAnythingShapedLikeOne) {
    const std::string key = "sk-proj-Zq81vXkPq0aLmN3tRu7sYw";
    std::string providerError;
    ScriptedServer provider([&](const HTTPRequest&) { return HTTPResponse{401, "application/json", providerError}; });
    RelayModel relay({provider.baseURL(), key, "a", "b"}, AppPaths::resourcesDirectory());
    const json request = {{"tier", "standard"}, {"kind", "agent"}, {"input", json::array()}};
    for (const std::string& message : std::vector<std::string>{
             "Incorrect API key provided: " + key + ". You can find your API key at https://provider.example/keys.",
          "Incorrect API key provided: sk-proj-Zq81********************sYw.",
          "Key sk_live_51HqLyjWDarjtT1zdp7dc rejected", "Key " + key.substr(0, 10) + "…" + key.substr(24)}) {
        providerError = json{{"error", {{"message", message}, {"type", "invalid_request_error"}}}}.dump();
        const ChatReply reply = relay.answer(request);
        EXPECT_EQ(reply.statusCode, 502);
        const std::string text = reply.body["error"].get<std::string>();
        EXPECT_EQ(text.find("sk-"), std::string::npos) << text;
        EXPECT_EQ(text.find("sk_"), std::string::npos) << text;
        EXPECT_NE(text.find("Provider answered HTTP 401"), std::string::npos) << text;
        EXPECT_NE(text.find("[redacted]"), std::string::npos) << text;
    }
}

TEST(RelayModel, RepliesAreRedactedToo) {
    const std::string key = "provider-key-0123456789";
    ScriptedServer provider([&](const HTTPRequest&) {
        const json echo = {{"id", "resp_1"},
                           {"output_text", "your key is " + key},
                           {"output", json::array({{{"note", "Authorization: Bearer abc.def.ghijklmnop"}}})}};
        return HTTPResponse{200, "application/json", echo.dump()};
    });
    RelayModel relay({provider.baseURL(), key, "a", "b"}, AppPaths::resourcesDirectory());
    const ChatReply reply = relay.answer({{"tier", "standard"}, {"kind", "agent"}, {"input", json::array()}});
    EXPECT_EQ(reply.statusCode, 200);
    EXPECT_EQ(reply.body["id"], "resp_1");
    EXPECT_EQ(reply.body["output_text"], "your key is [redacted]");
    EXPECT_EQ(reply.body["output"][0]["note"], "Authorization: Bearer [redacted]");
}

TEST(RelayModel, PlainHTTPProvidersAreRefusedExceptOnLoopback) {
    const auto resources = AppPaths::resourcesDirectory();
    for (const char* url : {"http://api.provider.example/v1/responses", "http://10.0.0.2:8080/v1/responses",
                            "http://127.0.0.1@api.provider.example/v1/responses", "ftp://api.provider.example/"}) {
        EXPECT_THROW(RelayModel({url, "k", "a", "b"}, resources), std::invalid_argument) << url;
    }
    for (const char* url : {"https://api.provider.example/v1/responses", "http://127.0.0.1:8080/v1/responses",
                            "http://localhost/v1/responses"}) {
        EXPECT_NO_THROW(RelayModel({url, "k", "a", "b"}, resources)) << url;
    }
}

TEST(RelayModel, DeeplyNestedInputIsNeverRelayedNorADeepReplyPassedOn) {
    const std::string deep = std::string(20'000, '[') + std::string(20'000, ']');
    ScriptedServer provider([&](const HTTPRequest&) {
        return HTTPResponse{200, "application/json", R"({"id":"resp_1","output":)" + deep + "}"};
    });
    testing::TempHome home;
    testing::LocalBackend backend(home.root() / "backend",
                                  std::make_unique<RelayModel>(RelayConfiguration{provider.baseURL(), "k", "a", "b"},
                                                               AppPaths::resourcesDirectory()));
    const HTTPResponse signedIn = backend.service().handle(HTTPRequest{
        .method = "POST",
        .path = "/auth/v1/token?grant_type=password",
        .body = json{{"email", testing::LocalBackend::kEmail}, {"password", testing::LocalBackend::kPassword}}.dump(),
        .headers = {{"apikey", BackendOptions::kDefaultPublishableKey}}});
    ASSERT_EQ(signedIn.statusCode, 200);
    const std::string bearer = "Bearer " + json::parse(signedIn.body)["access_token"].get<std::string>();
    const auto chat = [&](const std::string& input) {
        return backend.service().handle(
            HTTPRequest{.method = "POST",
                        .path = "/api/ai/chat",
                        .body = R"({"tier":"standard","kind":"agent","input":)" + input + "}",
                        .headers = {{"authorization", bearer}}});
    };
    EXPECT_EQ(chat(deep).statusCode, 413);
    EXPECT_TRUE(provider.received().empty());
    const HTTPResponse relayed = chat("[]");
    EXPECT_EQ(relayed.statusCode, 502);
    EXPECT_EQ(provider.received().size(), 1u);
}

}  // namespace
}  // namespace corvane::backend
