#include "chat/chat_tool_executor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

#include "chat/tool_executor_fixture.h"
#include "platform/clock.h"
#include "support/unicode.h"

namespace corvane::testing {
namespace {

using nlohmann::json;

constexpr const char* kRejection =
    "Rejected: listen_to_playback was already called in this round. Only ONE listen per round \u2014 the playback "
    "head and solo state are shared, so parallel listens would race. Listen to one track at a time across multiple "
    "rounds, observing each result before the next listen.";

std::vector<std::string> toolEntries(ConversationStore& store, const std::string& threadID) {
    std::vector<std::string> contents;
    for (const auto& entry : store.recentEntries(threadID, 100))
        if (entry.role == ConversationRole::tool) contents.push_back(entry.content);
    return contents;
}

class ChatToolExecutorTest : public ToolExecutorTest {};

// How the dispatcher answered one call.
enum class Fate { ran, skipped, rejected, unknown };

TEST_F(ChatToolExecutorTest, EveryCallGetsOneOutputAndOneRecordInOrderWhateverItsFate) {
    struct Case {
        const char* name;
        std::vector<AgentToolCall> previousRound;
        std::vector<AgentToolCall> calls;
        std::vector<Fate> fates;
    };
    const AgentToolCall a = toolCall("a", "list_tracks");
    const AgentToolCall b = toolCall("b", "get_transport");
    const AgentToolCall listen1 = toolCall("l1", "listen_to_playback", R"({"tracks":"Kick"})");
    const AgentToolCall listen2 = toolCall("l2", "listen_to_playback", R"({"tracks":"Bass"})");
    const Case cases[] = {
        {"empty round", {}, {}, {}},
        {"A,A", {}, {a, a}, {Fate::ran, Fate::skipped}},
        {"A,B,A", {}, {a, b, a}, {Fate::ran, Fate::ran, Fate::ran}},
        {"previous round's last call", {b, a}, {a, b}, {Fate::skipped, Fate::ran}},
        {"other spacing is another call", {}, {a, toolCall("a2", "list_tracks", "{ }")}, {Fate::ran, Fate::ran}},
        {"two listens", {}, {listen1, b, listen2}, {Fate::ran, Fate::ran, Fate::rejected}},
        {"a skipped listen still uses up the round's one",
         {listen1},
         {listen1, listen2},
         {Fate::skipped, Fate::rejected}},
        {"unknown names, letter case included",
         {},
         {toolCall("u1", "List_tracks"), toolCall("u2", "make_it_louder"), a},
         {Fate::unknown, Fate::unknown, Fate::ran}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        toolsUsed.clear();
        signature.reset();
        if (!c.previousRound.empty()) round(c.previousRound);
        const std::size_t recordsBefore = toolsUsed.size();
        const auto entriesBefore = toolEntries(conversations, threadID).size();
        loggedCalls();  // start a fresh log

        const auto outputs = round(c.calls);

        ASSERT_EQ(outputs.size(), c.calls.size());
        ASSERT_EQ(toolsUsed.size() - recordsBefore, c.calls.size());
        std::vector<std::string> expectedLogged;
        std::vector<std::string> expectedEntries;
        for (std::size_t i = 0; i < c.calls.size(); ++i) {
            const auto& call = c.calls[i];
            const auto& record = toolsUsed[recordsBefore + i];
            const json output = json::parse(outputs[i].outputJSON);
            EXPECT_EQ(outputs[i].callID, call.callID);
            EXPECT_EQ(record.tool, call.name);
            EXPECT_FALSE(outputs[i].additionalInputText || outputs[i].additionalInputImageDataURL);
            switch (c.fates[i]) {
                case Fate::ran:
                    expectedLogged.push_back(call.callID);
                    if (call.name != "listen_to_playback") {
                        EXPECT_EQ(output["status"], "ok") << outputs[i].outputJSON;
                        EXPECT_TRUE(record.succeeded);
                    }
                    break;
                case Fate::skipped:
                    EXPECT_EQ(output["message"], "Skipped repeated tool call: " + call.name + ".");
                    EXPECT_EQ(record.summary, output["message"]);
                    expectedEntries.push_back(output["message"]);
                    break;
                case Fate::rejected:
                    EXPECT_EQ(outputs[i].outputJSON, json({{"status", "error"}, {"message", kRejection}}).dump());
                    EXPECT_EQ(record.summary, kRejection);
                    break;
                case Fate::unknown:
                    EXPECT_EQ(output["message"], "Model requested unknown tool: " + call.name);
                    expectedLogged.push_back(call.callID);
                    expectedEntries.push_back(output["message"]);
                    break;
            }
            if (c.fates[i] != Fate::ran) {
                EXPECT_FALSE(record.succeeded);
            }
        }
        std::vector<std::string> logged;
        for (const auto& entry : loggedCalls()) logged.push_back(entry.callID.value_or(""));
        EXPECT_EQ(logged, expectedLogged);
        auto entries = toolEntries(conversations, threadID);
        EXPECT_EQ(std::vector<std::string>(entries.begin() + static_cast<std::ptrdiff_t>(entriesBefore), entries.end()),
                  expectedEntries);
    }
}

TEST_F(ChatToolExecutorTest, ErrorOutputIsExactlyMessageAndStatusInSortedOrder) {
    EXPECT_EQ(ChatToolExecutor::makeErrorToolOutput("c", "Nope \"quoted\"").outputJSON,
              R"({"message":"Nope \"quoted\"","status":"error"})");
    // Text that is not UTF-8 cannot be written: the documented fallbacks.
    EXPECT_EQ(ChatToolExecutor::makeErrorToolOutput("c", "bad \xff").outputJSON, "{}");
    EXPECT_EQ(ChatToolExecutor::makeToolOutput("c", json{{"name", "bad \xff"}}).outputJSON, R"({"status":"ok"})");
}

TEST_F(ChatToolExecutorTest, LogRecordCarriesTheCallAndCutsItsResultAtTenThousandCharactersNotBytes) {
    // A tool group that arrives later registers without touching the dispatcher.
    std::string accented;
    for (int i = 0; i < 10100; ++i) accented += "e\u0301";  // two code points, one character
    executor->registerTool("long_answer", [&](ToolCall& call) {
        platform::pause(0.25);
        return call.succeed("Answered at length.", json{{"status", "ok"}, {"text", accented}});
    });
    const auto output = one("long_answer", R"({"why": "because"})");

    const auto logged = loggedCalls();
    ASSERT_EQ(logged.size(), 1u);
    const ToolCallLog& entry = logged[0];
    EXPECT_EQ(entry.tool, "long_answer");
    EXPECT_EQ(entry.arguments, R"({"why": "because"})");
    EXPECT_EQ(entry.summary, "Answered at length.");
    EXPECT_TRUE(entry.succeeded);
    EXPECT_EQ(entry.durationMs, 250);
    EXPECT_EQ(entry.roundIndex, 0);
    EXPECT_EQ(entry.timestamp.size(), 20u);                                             // whole seconds, "Z"
    EXPECT_EQ(output.outputJSON, json({{"status", "ok"}, {"text", accented}}).dump());  // the model gets it whole
    ASSERT_TRUE(entry.resultJSON);
    EXPECT_EQ(text::graphemeCount(*entry.resultJSON), ChatToolExecutor::kLoggedResultCharacters);
    EXPECT_TRUE(output.outputJSON.starts_with(*entry.resultJSON));
}

TEST_F(ChatToolExecutorTest, AHandlerThatThrowsOrForgetsItsRecordStillLeavesOneOutputAndOneRecord) {
    executor->registerTool("throws", [](ToolCall&) -> AgentToolOutputPayload { throw std::runtime_error("boom"); });
    executor->registerTool("silent", [](ToolCall& call) {
        return ChatToolExecutor::makeJSONOutput(call.callID(), json{{"status", "ok"}}, "{}");
    });
    const auto outputs = round({toolCall("t", "throws"), toolCall("s", "silent"), toolCall("l", "list_tracks")});
    ASSERT_EQ(outputs.size(), 3u);
    ASSERT_EQ(toolsUsed.size(), 3u);
    EXPECT_EQ(json::parse(outputs[0].outputJSON)["message"], "throws failed: boom");
    EXPECT_FALSE(toolsUsed[0].succeeded);
    EXPECT_EQ(toolsUsed[1].tool, "silent");
    EXPECT_EQ(toolsUsed[2].tool, "list_tracks");
}

// Writes an empty bundle; without an Info.plist the bundle's file name is its name.
void bundle(const std::filesystem::path& folder, const std::string& file) {
    std::filesystem::create_directories(folder / file);
}

TEST_F(ChatToolExecutorTest, InventoryIsScannedEveryCallDeduplicatedByNameAndFormatAndCappedAtEighty) {
    const auto system = home.root() / "system" / "Library" / "Audio" / "Plug-Ins";
    const auto user = home.root() / "home" / "Library" / "Audio" / "Plug-Ins";

    json empty = oneJSON("list_installed_plugins");
    EXPECT_EQ(empty, json::parse(R"({"message":"Found 0 installed plugins. Examples: none found.","plugins":[],
                                     "status":"ok","totalCount":0})"));
    ASSERT_TRUE(installedPlugins);
    EXPECT_EQ(installedPlugins->totalCount, 0);

    // The same name and format twice (system and user folder), the same name in both formats.
    bundle(system / "Components", "Alpha.component");
    bundle(user / "Components", "Alpha.component");
    bundle(system / "VST3", "Alpha.vst3");
    for (int i = 0; i < 85; ++i) bundle(system / "VST3", "Plug " + std::to_string(100 + i) + ".vst3");
    ASSERT_EQ(inventory.scanInstalledPlugins().totalCount, 88);

    json listed = oneJSON("list_installed_plugins", R"({"again":1})");
    EXPECT_EQ(listed["totalCount"], 88);
    ASSERT_EQ(listed["plugins"].size(), ChatToolExecutor::kMaxListedPlugins);
    EXPECT_EQ(listed["plugins"][0], json::parse(R"({"name":"Alpha","format":"audioUnit"})"));
    EXPECT_EQ(listed["plugins"][1], json::parse(R"({"name":"Alpha","format":"vst3"})"));
    EXPECT_EQ(listed["plugins"][2]["name"], "Plug 100");
    EXPECT_EQ(listed["message"],
              "Found 88 installed plugins. Examples: Alpha, Alpha, Alpha, Plug 100, Plug 101, Plug 102, Plug 103, "
              "Plug 104, ....");
    EXPECT_EQ(installedPlugins->totalCount, 88);
    EXPECT_EQ(toolEntries(conversations, threadID).back(), listed["message"]);
    EXPECT_EQ(lastRecord().summary, listed["message"]);
}

TEST_F(ChatToolExecutorTest, TwoTurnsAtOnceKeepTheirOwnRecordsAndHooks) {
    // Two threads share one executor (a window turn and a test turn); each keeps its own round
    // state while the hook, the presence cache and the table are shared.
    std::atomic<int> interim{0};
    auto turn = [&](int n) {
        std::vector<ToolExecution> used;
        std::optional<std::string> sig;
        std::optional<InstalledPluginInventory> inv;
        for (int r = 0; r < 4; ++r) {
            executor->setInterimUpdateHandler([&interim](const std::string&) { ++interim; });
            executor->updateCorvaneCache("Track " + std::to_string(n), {});
            executor->pluginInspector().resetTurnState();  // what each turn's end does
            auto outputs = executor->executeToolCalls(
                {toolCall("a", "update_user", R"({"message":"working )" + std::to_string(n) + R"("})"),
                 toolCall("b", "list_tracks"),
                 toolCall("c", "remember", R"({"scope":"master","note":"n)" + std::to_string(n * 10 + r) + R"("})")},
                request, threadID, r, projectName, inv, used, sig);
            EXPECT_EQ(outputs.size(), 3u);
            EXPECT_TRUE(executor->corvanePresence("Track " + std::to_string(n)).has_value());
        }
        EXPECT_EQ(used.size(), 12u);
    };
    std::thread first(turn, 1);
    std::thread second(turn, 2);
    first.join();
    second.join();
    EXPECT_EQ(interim.load(), 8);
    EXPECT_EQ(memories.masterMemories().size(), 8u);
}

}  // namespace
}  // namespace corvane::testing
