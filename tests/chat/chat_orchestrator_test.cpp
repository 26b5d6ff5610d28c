// Whole agent turns on the stand-in's demo song, with real stores, a real tool logger and a
// scripted chat backend: a fake transport that answers each request instantly with the next
// scripted reply, and once the local backend's script mode on a loopback port.

#include "chat/chat_orchestrator.h"
#include "chat/turn_services.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "backend/backend_fixture.h"
#include "networking/auth_service.h"
#include "networking/networking_fixture.h"
#include "platform/standin/standin_fixture.h"
#include "plugins/plugin_editors_fixture.h"
#include "plugins/plugin_map_store.h"
#include "shield/input_shield.h"
#include "support/store_file.h"
#include "test_support/full_disk.h"
#include "test_support/hang_guard.h"
#include "test_support/scripted_chat_backend.h"
#include "test_support/temp_home.h"

namespace corvane::testing {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

struct Outcome {
    std::vector<AgentEvent> events;
    ChatResponse response;
    std::vector<std::string> errors;
    std::vector<ToolCallInfo> started, completed;
    std::vector<std::string> interim;
    int thinking = 0;
};

Outcome outcomeOf(std::vector<AgentEvent> events) {
    Outcome o;
    for (const auto& e : events) {
        if (auto* f = std::get_if<AgentEvent::FinalResponse>(&e.value)) o.response = f->response;
        if (auto* f = std::get_if<AgentEvent::Error>(&e.value)) o.errors.push_back(f->message);
        if (auto* f = std::get_if<AgentEvent::ToolCallStarted>(&e.value)) o.started.push_back(f->call);
        if (auto* f = std::get_if<AgentEvent::ToolCallCompleted>(&e.value)) o.completed.push_back(f->call);
        if (auto* f = std::get_if<AgentEvent::InterimAssistantMessage>(&e.value)) o.interim.push_back(f->text);
        if (std::holds_alternative<AgentEvent::Thinking>(e.value)) ++o.thinking;
    }
    EXPECT_FALSE(events.empty());
    if (!events.empty()) {
        EXPECT_TRUE(std::holds_alternative<AgentEvent::FinalResponse>(events.back().value));
    }
    o.events = std::move(events);
    return o;
}

class ChatOrchestratorTest : public standin::testing::StandinTest, protected ScriptedTurns {
protected:
    void SetUp() override {
        StandinTest::SetUp();
        threadID = conversations.createThread(std::string("Demo Song")).currentThreadID;
        backend.setAuthTokenProvider([] { return std::optional<std::string>("token"); });
        // The stand-in for the executor's "respond": its arguments come back with "status" "ok".
        orchestrator->toolExecutor().registerTool("respond", [](ToolCall& call) {
            json args = json::parse(call.args());
            args["status"] = "ok";
            call.record("Responded", true);
            return ChatToolExecutor::makeJSONOutput(call.callID(), args, "{}");
        });
    }
    void TearDown() override {
        orchestrator.reset();
        world().drainMainQueue();
        StandinTest::TearDown();
    }

    ChatRequest request(const std::string& message = "Mix it") {
        ChatRequest r;
        r.message = message;
        r.threadID = threadID;
        return r;
    }
    Outcome run(const ChatRequest& r) {
        auto events = orchestrator->handleChatStreaming(r)->collect();
        world().drainMainQueue();
        logger.drain();
        return outcomeOf(std::move(events));
    }
    Outcome run() { return run(request()); }

    TurnLog lastLog() {
        logger.drain();
        auto files = logger.recentLogPaths(1);
        if (files.empty()) return {};
        std::ifstream in(files[0].url);
        return json::parse(in).get<TurnLog>();
    }
    std::vector<ConversationEntry> entries() { return conversations.conversationState(threadID).entries; }
    int assistantEntries() {
        int n = 0;
        for (const auto& e : entries()) n += e.role == ConversationRole::assistant;
        return n;
    }
    static bool mentions(const json& body, const std::string& text) {
        return body.dump().find(text) != std::string::npos;
    }
    // A tool "held" that waits at whichever gate `gate` holds when it runs.
    void registerHeldTool(std::shared_ptr<Gate>& gate) {
        orchestrator->toolExecutor().registerTool("held", [&gate](ToolCall& call) {
            gate->arrive();
            call.record("held", true);
            return ChatToolExecutor::makeJSONOutput(call.callID(), {{"status", "ok"}}, "{}");
        });
    }
    bool shieldUp() {
        world().drainMainQueue();
        return InputShield::shared().isTurnActive();
    }

    std::string threadID;
};

TEST_F(ChatOrchestratorTest, RespondEndsTheTurnAfterTheRoundsCardsAndThreadEntries) {
    transport->reply(callsReply({{"c1", "list_tracks", "{}"}}));
    transport->reply(callsReply({{"c2", "update_user", R"({"message":"Looking at the bass"})"},
                                 {"c3", "list_tracks", R"({"x":1})"},
                                 {"c4", "no_such_tool", "{}"},
                                 {"c5", "respond", R"({"prose":"All set"})"}}));
    const auto o = run();

    EXPECT_TRUE(o.response.ok);
    EXPECT_EQ(o.response.assistantMessage, "All set");
    EXPECT_EQ(o.errors.size(), 0u);
    EXPECT_EQ(o.interim, std::vector<std::string>{"Looking at the bass"});
    // No cards for update_user and respond; each card paired with its own record by position.
    ASSERT_EQ(o.completed.size(), 3u);
    EXPECT_EQ(o.started.size(), 3u);
    EXPECT_EQ(o.completed[0].roundIndex, 0);
    EXPECT_EQ(o.completed[1].id, "c3");
    EXPECT_EQ(o.completed[1].roundIndex, 1);
    EXPECT_EQ(o.completed[1].status, ToolCallStatus::completed);
    EXPECT_EQ(o.completed[1].summary, o.response.toolsUsed[2].summary);
    EXPECT_EQ(o.completed[2].id, "c4");
    EXPECT_EQ(o.completed[2].status, ToolCallStatus::failed);
    EXPECT_EQ(o.completed[2].summary, "Model requested unknown tool: no_such_tool");
    EXPECT_EQ(o.response.toolsUsed.size(), 5u);

    const auto thread = entries();
    ASSERT_GE(thread.size(), 2u);
    EXPECT_EQ(thread.front().role, ConversationRole::user);
    EXPECT_EQ(thread.back().role, ConversationRole::assistant);
    EXPECT_EQ(thread.back().content, "All set");
    int cards = 0;
    for (const auto& e : thread)
        if (e.role == ConversationRole::toolCall) {
            ++cards;
            EXPECT_EQ(e.userEntryIndex, 0);
        }
    EXPECT_EQ(cards, 3);
    EXPECT_EQ(lastLog().totalRounds, 1);
    EXPECT_EQ(lastLog().agentResponse, "All set");
    EXPECT_FALSE(shieldUp());
    EXPECT_FALSE(orchestrator->isTurnRunning());
}

// A chat deleted before its turn began: nothing is sent, and nothing lands in another chat.
TEST_F(ChatOrchestratorTest, ATurnForAChatThatIsGoneSendsNothingAndStoresNothingElsewhere) {
    conversations.append(ConversationRole::user, "Kept", threadID);
    auto gone = request();
    gone.threadID = "no-longer-there";
    const auto o = run(gone);
    EXPECT_FALSE(o.response.ok);
    EXPECT_EQ(o.errors, std::vector<std::string>{ChatOrchestrator::kMissingThreadMessage});
    EXPECT_TRUE(transport->requests().empty());
    EXPECT_EQ(entries().size(), 1u);
    EXPECT_FALSE(shieldUp());
    EXPECT_FALSE(orchestrator->isTurnRunning());

    // A file that could not be read says nothing of whether the chat exists: the reason is told.
    const auto file = conversations.fileURL();
    const auto aside = file.parent_path() / "kept.json";
    fs::rename(file, aside);
    fs::create_directory(file);
    const auto unread = run(request());
    EXPECT_FALSE(unread.response.ok);
    EXPECT_EQ(unread.errors, std::vector<std::string>{ChatOrchestrator::unreadableThreadMessage(
                                 file.string() + " could not be read: Is a directory")});
    EXPECT_TRUE(transport->requests().empty());
    EXPECT_TRUE(fs::is_directory(file)) << "moved aside";
    fs::remove(file);
    fs::rename(aside, file);
    EXPECT_EQ(entries().size(), 1u);
}

// A chat deleted (by another copy, say) during its turn: the answer fails and still names that
// chat, never the one the window lands on instead.
TEST_F(ChatOrchestratorTest, AnswerOfATurnWhoseChatWasDeletedMeanwhileNamesThatChat) {
    const std::string other = conversations.createThread(std::string("Demo Song")).currentThreadID;
    transport->push([&](const json&, std::stop_token) {
        conversations.deleteThread(threadID);
        return http::HTTPClientResponse{200, textReply("Done").dump()};
    });
    const auto o = run();
    EXPECT_FALSE(o.response.ok);
    EXPECT_EQ(o.response.threadID, threadID);
    EXPECT_EQ(o.response.threadTitle, "");
    EXPECT_TRUE(conversations.conversationState(other).entries.empty()) << "the reply went into another chat";
}

// A chat another copy deleted while this copy's turn held its lock kept its lock file in "Turns"
// for good: the delete leaves a held lock alone. The turn letting it go removes it; a chat that
// is still there keeps its own.
TEST_F(ChatOrchestratorTest, TheTurnLettingGoOfADeletedChatsLockRemovesItsLockFile) {
    const auto lockFileOf = [&](const std::string& chat) {
        const FileLock taken = conversations.lockChatTurn(chat);
        EXPECT_TRUE(taken.lockedFile());
        return taken.lockedFile() ? taken.lockedFile()->lockPath : std::filesystem::path();
    };
    const auto deleted = lockFileOf(threadID);
    ConversationStore otherCopy;
    // Deleted in the second round: the question, stored beside the first request, is in the file
    // by then, so the other copy's delete never waits for this copy's write (a wait in virtual
    // time that a slow disk outlasts).
    transport->reply(callsReply({{"c1", "list_tracks", "{}"}}));
    transport->push([&](const json&, std::stop_token) {
        EXPECT_TRUE(otherCopy.deleteThread(threadID).ok);
        EXPECT_TRUE(std::filesystem::exists(deleted)) << "removed while a turn held it";
        return http::HTTPClientResponse{200, textReply("Done").dump()};
    });
    run();
    EXPECT_FALSE(std::filesystem::exists(deleted));

    threadID = conversations.createThread(std::string("Demo Song")).currentThreadID;
    const auto kept = lockFileOf(threadID);
    transport->reply(respondReply("Done"));
    EXPECT_TRUE(run().response.ok);
    EXPECT_TRUE(std::filesystem::exists(kept));
}

TEST_F(ChatOrchestratorTest, TheReplyAtRoundFifteenEndsTheTurn) {
    struct Case {
        const char* label;
        json last;
        bool ok;
        std::string reply;
    };
    const std::vector<Case> cases{
        {"text with a refusal phrase", textReply("I can't see the plug-in"), true, "I can't see the plug-in"},
        {"tool calls", callsReply({{"c", "list_tracks", "{}"}}), false, ""},
        {"empty", emptyReply(), false, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        transport = std::make_shared<ScriptedChatBackend>();
        networking::BackendChatService service{"http://127.0.0.1:9/api/ai/chat", "gpt-5", transport};
        service.setAuthTokenProvider([] { return std::optional<std::string>("token"); });
        orchestrator = std::make_unique<ChatOrchestrator>(
            ChatOrchestrator::Services{inventory, service, conversations, memories, logic, plugins, logger, {}},
            ChatOrchestrator::Providers{});
        for (int i = 0; i < 15; ++i) transport->reply(emptyReply());
        transport->reply(c.last);
        const auto o = run();

        const auto sent = transport->requests();
        ASSERT_EQ(sent.size(), 16u);
        for (std::size_t i = 1; i < sent.size(); ++i)
            EXPECT_TRUE(mentions(sent[i].body, ChatOrchestrator::kEmptyReplyNudge)) << i;
        EXPECT_EQ(o.thinking, 16);
        EXPECT_EQ(o.response.ok, c.ok);
        const auto log = lastLog();
        EXPECT_EQ(log.totalRounds, 15);
        if (c.ok) {
            EXPECT_EQ(o.response.assistantMessage, c.reply);
            EXPECT_TRUE(o.errors.empty());
            EXPECT_EQ(log.agentResponse, c.reply);
        } else {
            EXPECT_EQ(o.errors, std::vector<std::string>{"The agent loop reached its round limit before finishing."});
            EXPECT_EQ(log.agentResponse, std::nullopt);  // the failure path finds the log closed
            EXPECT_EQ(o.response.assistantMessage, entries().back().content);
            EXPECT_NE(o.response.assistantMessage.find("Got stuck"), std::string::npos);
        }
        orchestrator.reset();
    }
}

TEST_F(ChatOrchestratorTest, TheParameterNudgeComesBeforeTheFreeTextNudgeAndEachOnlyOnce) {
    struct Case {
        const char* label;
        std::vector<std::string> texts;
        std::vector<const char*> nudges;
    };
    const std::vector<Case> cases{
        {"refusal first",
         {"I'LL PULL the parameters", "Send me a screenshot", "i can't see it"},
         {ChatOrchestrator::kParameterNudge, ChatOrchestrator::kFreeTextNudge}},
        {"free text first",
         {"The mix is fine", "i don't have access", "Here you go"},
         {ChatOrchestrator::kFreeTextNudge, ChatOrchestrator::kParameterNudge}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const auto before = transport->requests().size();
        for (const auto& t : c.texts) transport->reply(textReply(t));
        const auto o = run();
        const auto sent = transport->requests();
        ASSERT_EQ(sent.size() - before, 3u);
        EXPECT_TRUE(mentions(sent[before + 1].body, c.nudges[0]));
        EXPECT_FALSE(mentions(sent[before + 1].body, c.nudges[1]));
        EXPECT_TRUE(mentions(sent[before + 2].body, c.nudges[1]));
        EXPECT_EQ(o.response.assistantMessage, c.texts.back());
        EXPECT_EQ(lastLog().totalRounds, 2);
    }
}

TEST_F(ChatOrchestratorTest, ARespondWithADiagramAddsAnAnalysisCard) {
    transport->reply(callsReply({{"v", "respond", R"({"prose":"Done","diagramType":"freq_curve"})"}}));
    const auto o = run();
    EXPECT_EQ(o.response.assistantMessage, "Done");
    ASSERT_EQ(o.completed.size(), 1u);
    const auto& card = o.completed[0];
    EXPECT_EQ(card.toolName, "show_visual");
    EXPECT_EQ(card.displayName, "Analysis");
    EXPECT_EQ(card.summary, "Analysis");
    EXPECT_EQ(card.status, ToolCallStatus::completed);
    const auto visual = json::parse(card.resultJSON.value_or("{}"));
    EXPECT_EQ(visual["diagramType"], "freq_curve");
    EXPECT_FALSE(visual.contains("prose"));
    EXPECT_FALSE(visual.contains("diagramSummary"));
    EXPECT_EQ(entries()[entries().size() - 2].toolName, "show_visual");
}

TEST_F(ChatOrchestratorTest, EveryEndingClearsTheCapturesAndLogsItsRoundsAndError) {
    struct Case {
        const char* label;
        std::function<void()> script;
        int rounds;
        std::string logged;
        int assistant;
        bool errorEvent;
        bool logWritten = true;
    };
    // A folder in the logs' place makes every log write fail.
    const auto logsUnwritable = [&] {
        std::filesystem::remove_all(logger.logsDir());
        writeAll(logger.logsDir(), "");
    };
    const std::vector<Case> cases{
        {"respond", [&] { transport->reply(emptyReply()), transport->reply(respondReply("Fine")); }, 1, "Fine", 1,
         false},
        {"backend failure", [&] { transport->status(500, R"({"error":"boom"})"); }, 0, "ERROR: ", 1, true},
        {"stopped during the first request",
         [&] {
             transport->push([&](const json&, std::stop_token) {
                 orchestrator->cancelCurrentTurn();
                 return http::HTTPClientResponse{200, respondReply("late").dump()};
             });
         },
         0, "ERROR: The turn was stopped by the user.", 0, false},
        {"respond, its log not written", [&] { logsUnwritable(), transport->reply(respondReply("Fine")); }, 1, "", 1,
         true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        CaptureMetadata capture;
        capture.timestamp = "2026-12-07T10:00:00Z";
        capture.filePath = (home.root() / "missing.png").string();
        conversations.appendPendingCapture(capture, threadID);
        const int assistantBefore = assistantEntries();
        c.script();
        auto r = request();
        r.includePendingCaptures = true;
        const auto o = run(r);

        EXPECT_TRUE(conversations.pendingCaptures(threadID).empty());
        if (c.logWritten) {
            const auto log = lastLog();
            EXPECT_EQ(log.totalRounds, c.rounds);
            EXPECT_EQ(log.agentResponse.value_or("").rfind(c.logged, 0), 0u) << log.agentResponse.value_or("");
        } else {
            ASSERT_EQ(o.errors.size(), 1u) << "a lost log went unsaid";
            EXPECT_EQ(o.errors[0], ChatOrchestrator::toolLogNotWrittenMessage("Not a directory"));
            EXPECT_TRUE(o.response.ok);
        }
        EXPECT_EQ(assistantEntries() - assistantBefore, c.assistant);
        EXPECT_EQ(o.errors.size(), c.errorEvent ? 1u : 0u);
        if (c.assistant == 0) {
            EXPECT_EQ(o.response.assistantMessage, "");
        }
        EXPECT_FALSE(shieldUp());
    }
}

TEST_F(ChatOrchestratorTest, ThePluginWindowIsClosedAfterTheTurn) {
    load(pluginEditorsScenario());
    maps.reload();
    bool opened = false;
    orchestrator->toolExecutor().registerTool("open_first_plugin", [&](ToolCall& call) {
        auto selected = logic.selectTrack("Vox");
        for (const auto& slot : logic.findTrackPluginSlots(selected->mainWindow))
            if (slot.name == "Drift Delay") opened = plugins.readPlugin(slot, selected->mainWindow, "Vox").has_value();
        opened = opened && !world().ui().pluginWindows.empty();
        call.record("opened", true);
        return ChatToolExecutor::makeJSONOutput(call.callID(), {{"status", "ok"}}, "{}");
    });
    transport->reply(callsReply({{"o", "open_first_plugin", "{}"}}));
    transport->reply(respondReply("Looked"));
    const auto o = run();
    EXPECT_EQ(o.response.assistantMessage, "Looked");
    EXPECT_TRUE(opened);
    EXPECT_TRUE(world().ui().pluginWindows.empty());
    EXPECT_EQ(world().project().track("Vox")->strip.inserts[1].windowView, "Editor");
}

// --- Stop ------------------------------------------------------------------------------------------

TEST_F(ChatOrchestratorTest, StopLetsTheRunningToolFinishRunsNoFurtherCallAndKeepsTheShieldUpMeanwhile) {
    bool shieldUpAfterStop = false;
    bool secondRan = false;
    orchestrator->toolExecutor().registerTool("first", [&](ToolCall& call) {
        orchestrator->cancelCurrentTurn();
        shieldUpAfterStop = shieldUp();
        call.record("first done", true);
        return ChatToolExecutor::makeJSONOutput(call.callID(), {{"status", "ok"}}, "{}");
    });
    orchestrator->toolExecutor().registerTool("second", [&](ToolCall& call) {
        secondRan = true;
        call.record("second done", true);
        return ChatToolExecutor::makeJSONOutput(call.callID(), {{"status", "ok"}}, "{}");
    });
    transport->reply(callsReply({{"a", "first", "{}"}, {"b", "second", "{}"}}));
    transport->reply(respondReply("should never be asked for"));
    const auto o = run();

    EXPECT_TRUE(shieldUpAfterStop);
    EXPECT_FALSE(secondRan);
    EXPECT_EQ(transport->requests().size(), 1u);  // no round after the stop
    ASSERT_EQ(o.completed.size(), 2u);
    EXPECT_EQ(o.completed[1].status, ToolCallStatus::failed);
    EXPECT_EQ(o.completed[1].summary, ChatToolExecutor::kStoppedCallMessage);
    EXPECT_NE(o.completed[1].resultJSON.value_or("").find("stopped"), std::string::npos);
    EXPECT_TRUE(o.errors.empty());
    EXPECT_EQ(o.response.assistantMessage, "");
    EXPECT_EQ(assistantEntries(), 0);
    EXPECT_FALSE(shieldUp());
}

TEST_F(ChatOrchestratorTest, StopFromAnotherThreadWhileAToolRuns) {
    Gate gate;
    orchestrator->toolExecutor().registerTool("slow", [&](ToolCall& call) {
        gate.arrive();
        platform::clock().sleep(std::chrono::seconds(2));
        call.record("slow done", true);
        return ChatToolExecutor::makeJSONOutput(call.callID(), {{"status", "ok"}}, "{}");
    });
    transport->reply(callsReply({{"s", "slow", "{}"}, {"t", "list_tracks", "{}"}}));
    auto stream = orchestrator->handleChatStreaming(request());
    gate.waitForArrival();
    stream->stop();
    EXPECT_TRUE(shieldUp());
    gate.open();
    const auto o = outcomeOf(stream->collect());
    EXPECT_EQ(o.response.assistantMessage, "");
    EXPECT_TRUE(o.errors.empty());
    ASSERT_EQ(o.response.toolsUsed.size(), 2u);
    EXPECT_EQ(o.response.toolsUsed[1].summary, ChatToolExecutor::kStoppedCallMessage);
    EXPECT_FALSE(shieldUp());
}

// In the running programs a listen lasts for real: the user's Stop must not wait for its end.
// Unloaded the turn ends a moment after the Stop; how long that moment is says how busy the
// machine is, so the turn is only asked to end well before the longest listen (30 s) would have,
// which waiting it out never does.
TEST_F(ChatOrchestratorTest, OnTheWallClockAStopDuringAListenEndsTheTurnWithoutWaitingForIt) {
    using namespace std::chrono_literals;
    using Steady = std::chrono::steady_clock;
    standin::World::Options options;
    options.clock = standin::ClockMode::wall;
    load(standin::testing::demoSong(), options);
    transport->reply(callsReply({{"l", "listen_to_playback", R"({"duration_seconds":30,"start_bar":9})"}}));
    transport->reply(respondReply("should never be asked for"));
    auto stream = orchestrator->handleChatStreaming(request());
    const auto giveUp = Steady::now() + kHangGuard;
    while (!world().project().transport.playing && Steady::now() < giveUp) std::this_thread::sleep_for(10ms);
    ASSERT_TRUE(world().project().transport.playing);
    const auto playing = Steady::now();
    std::this_thread::sleep_for(250ms);

    stream->stop();
    const auto o = outcomeOf(stream->collect());
    EXPECT_LT(Steady::now() - playing, 25s) << "the turn waited for the listen's end";
    EXPECT_FALSE(world().project().transport.playing);
    EXPECT_EQ(transport->requests().size(), 1u);
    EXPECT_TRUE(o.errors.empty());
    // The listen's card says it was stopped and how long it really played, not the 30 s it was asked for.
    ASSERT_FALSE(o.completed.empty());
    const std::string summary = o.completed[0].summary.value_or("");
    EXPECT_EQ(o.completed[0].status, ToolCallStatus::failed);
    EXPECT_NE(summary.find("Stopped by the user after listening to full mix for "), std::string::npos) << summary;
    EXPECT_EQ(summary.find("for 30s"), std::string::npos) << summary;
}

TEST_F(ChatOrchestratorTest, ABackendErrorSayingCancelledIsAnErrorNotAStop) {
    transport->push([](const json&, std::stop_token) -> http::HTTPClientResponse {
        throw http::TransportError("request cancelled by the proxy");
    });
    const auto o = run();
    ASSERT_EQ(o.errors.size(), 1u);
    EXPECT_NE(o.errors[0].find("cancelled"), std::string::npos);
    EXPECT_FALSE(o.response.ok);
    EXPECT_FALSE(o.response.assistantMessage.empty());
    EXPECT_EQ(assistantEntries(), 1);
}

// --- A respond that fails ----------------------------------------------------------------------------

TEST_F(ChatOrchestratorTest, AFailedRespondGoesBackToTheModelAndNeverEndsAsAnEmptySuccess) {
    struct Case {
        const char* label;
        json failing;
        std::string expectedInBody;
    };
    const std::vector<Case> cases{
        {"blank prose", respondReply("  \n"), "respond needs your reply"},
        {"error output", callsReply({{"r", "respond", "not json"}}), "respond failed"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const auto before = transport->requests().size();
        transport->reply(c.failing);
        transport->reply(respondReply("Now with words"));
        const auto o = run();
        EXPECT_TRUE(o.response.ok);
        EXPECT_EQ(o.response.assistantMessage, "Now with words");
        const auto sent = transport->requests();
        ASSERT_EQ(sent.size() - before, 2u);
        EXPECT_TRUE(mentions(sent[before + 1].body, c.expectedInBody)) << sent[before + 1].body.dump();
    }

    // One that never gets it right runs into the round limit and is reported as failed.
    for (int i = 0; i < 16; ++i)
        transport->reply(callsReply({{"r" + std::to_string(i), "respond", R"({"prose":""})"}}));
    const auto o = run();
    EXPECT_FALSE(o.response.ok);
    EXPECT_EQ(o.errors.size(), 1u);
    EXPECT_EQ(o.response.assistantMessage, entries().back().content);
    EXPECT_FALSE(o.response.assistantMessage.empty());
}

// --- Turn preparation ------------------------------------------------------------------------------

// The controller as the executor sees it: one analysis instance measuring Lead Vox.
class LeadVoxHost final : public ToolHost {
public:
    std::vector<TrackAnalysisState> trackAnalysis() override {
        TrackAnalysisState state;
        state.id = "cv-1";
        state.trackName = "Lead Vox";
        AudioAnalysisSummary analysis;
        analysis.shortTermLufs = -14.0;
        analysis.bassBandRatio = 0.2;
        analysis.highMidBandRatio = 0.3;
        analysis.stereoWidth = 0.4;
        state.analysis = analysis;
        return {state};
    }
    bool storeTrackDescription(const std::string&, const std::string&) override { return false; }
    std::optional<std::string> updateSongBrief(const std::string&, const std::string&) override { return std::nullopt; }
};

class PreparedTurnTest : public ChatOrchestratorTest {
protected:
    // The agent loop as the controller builds it: its providers and tool host, every real tool.
    void rebuild() {
        orchestrator.reset();
        ChatOrchestrator::Providers providers;
        providers.healthSnapshot = [] {
            HealthResponse health;
            health.logic.logicIsRunning = true;
            return health;
        };
        providers.trackAnalysis = [this] { return host->trackAnalysis(); };
        providers.trackDescriptions = [] { return std::map<std::string, std::string>{{"lead vox", "Main vocal"}}; };
        providers.songSections = [] { return std::vector<SongSection>{{"s1", "Chorus", 17, 24, 0}}; };
        orchestrator = std::make_unique<ChatOrchestrator>(
            ChatOrchestrator::Services{inventory, backend, conversations, memories, logic, plugins, logger, host},
            std::move(providers));
    }
    std::shared_ptr<LeadVoxHost> host = std::make_shared<LeadVoxHost>();
};

TEST_F(PreparedTurnTest, TheFirstRequestCarriesTheRecentHistorySnapshotBriefMemoriesAndProjectContext) {
    rebuild();
    for (int i = 1; i <= 30; ++i)
        conversations.append(i % 2 ? ConversationRole::user : ConversationRole::assistant, "old " + std::to_string(i),
                             threadID);
    conversations.updateSongBrief(std::string("Dark synth-pop, 104 BPM"), threadID);
    const auto master = memories.add("master", "Prefer gentle EQ moves").memory.value();
    const auto song = memories.add("song:Demo Song", "The chorus starts at bar 17").memory.value();
    memories.add("song:Another Song", "Belongs elsewhere");
    transport->reply(respondReply("Done."));
    auto r = request("Mix it");
    r.analysisSnapshot = "LIVE: Lead Vox -14.0 LUFS";
    run(r);

    const auto sent = transport->requests();
    ASSERT_FALSE(sent.empty());
    const json& body = sent[0].body;
    EXPECT_EQ(body["kind"], "agent");
    const json& input = body["input"];
    // The last 12 entries before the new message, then the new user item.
    ASSERT_EQ(input.size(), 13u) << body.dump(2);
    EXPECT_EQ(input[0], (json{{"role", "user"}, {"content", {{{"type", "input_text"}, {"text", "old 19"}}}}}));
    EXPECT_EQ(input[11]["content"][0]["text"], "old 30");

    const json& parts = input[12]["content"];
    EXPECT_EQ(input[12]["role"], "user");
    ASSERT_EQ(parts.size(), 3u) << parts.dump(2);
    EXPECT_EQ(parts[0]["text"], "Mix it\n\nLIVE: Lead Vox -14.0 LUFS");
    EXPECT_EQ(parts[1]["text"].get<std::string>().rfind("Saved song brief for this chat:\nDark synth-pop, 104 BPM", 0),
              0u);
    const std::string context = parts[2]["text"];
    for (const std::string& expected :
         {std::string("- Running: true"), std::string("- Project: \"Demo Song\""),
          std::string("- Lead Vox [monitored] \u2014 \"Main vocal\""), std::string("- Chorus: bars 17-24"),
          "- [" + master.id + "] (master) Prefer gentle EQ moves",
          "- [" + song.id + "] (song) The chorus starts at bar 17"})
        EXPECT_NE(context.find(expected), std::string::npos) << expected << " in\n" << context;
    EXPECT_EQ(context.find("Belongs elsewhere"), std::string::npos);
}

// A chat of one song while Logic Pro has another open: the window (the turn's first event, then the
// chat after the user's message) and the agent (its first request) hear of it before any tool runs;
// a chat of the open song, or of none, hears nothing of it.
TEST_F(ChatOrchestratorTest, AChatOfASongThatIsNotOpenSaysSoBeforeAnyToolRuns) {
    struct Case {
        const char* label;
        std::optional<std::string> song;
        bool told;
    };
    const std::string notice = ChatOrchestrator::otherSongNotice("Mix Night", "Demo Song");
    for (const Case& c : {Case{"another song", std::string("Mix Night"), true},
                          Case{"the open song", std::string("Demo Song"), false}, Case{"no song", std::nullopt, false}}) {
        SCOPED_TRACE(c.label);
        threadID = conversations.createThread(c.song).currentThreadID;
        ChatOrchestrator::Providers providers;
        providers.healthSnapshot = [this] {
            HealthResponse health;
            health.logic = logic.snapshot(true);
            return health;
        };
        orchestrator = std::make_unique<ChatOrchestrator>(
            ChatOrchestrator::Services{inventory, backend, conversations, memories, logic, plugins, logger, {}},
            std::move(providers));
        const auto sentBefore = transport->requests().size();
        transport->reply(callsReply({{"l", "list_tracks", "{}"}}));
        transport->reply(respondReply("Those are the tracks in the song."));

        const Outcome o = run(request("Which tracks are in this song"));

        EXPECT_EQ(world().project().track("Guitar")->muted, false);
        ASSERT_FALSE(o.started.empty());
        EXPECT_EQ(o.response.assistantMessage, "Those are the tracks in the song.");
        const auto firstInterim = std::find_if(o.events.begin(), o.events.end(), [](const AgentEvent& e) {
            return std::holds_alternative<AgentEvent::InterimAssistantMessage>(e.value);
        });
        const auto firstTool = std::find_if(o.events.begin(), o.events.end(), [](const AgentEvent& e) {
            return std::holds_alternative<AgentEvent::ToolCallStarted>(e.value);
        });
        std::vector<std::string> roles;
        for (const auto& entry : entries()) roles.push_back(toString(entry.role));
        const json firstRequest = transport->requests().at(sentBefore).body;
        if (c.told) {
            ASSERT_EQ(o.interim, std::vector<std::string>{notice});
            EXPECT_LT(firstInterim, firstTool);
            EXPECT_TRUE(mentions(firstRequest, "Logic Pro has \\\"Demo Song\\\" open, but this chat is about "
                                               "\\\"Mix Night\\\"")) << firstRequest.dump(2);
            ASSERT_GE(roles.size(), 3u);
            EXPECT_EQ(roles[0], "user");
            EXPECT_EQ(roles[1], "update");
            EXPECT_EQ(entries().at(1).content, notice);
        } else {
            EXPECT_TRUE(o.interim.empty());
            EXPECT_FALSE(mentions(firstRequest, "Open project:"));
            EXPECT_EQ(std::count(roles.begin(), roles.end(), "update"), 0);
        }
    }
}

TEST_F(PreparedTurnTest, TheRealRespondEndsTheTurnWithItsDiagramFromTheRoundsListen) {
    rebuild();
    transport->reply(callsReply(
        {{"l", "listen_to_playback", R"({"duration_seconds":2,"start_bar":1})"},
         {"r", "respond", R"({"prose":"Your vocal sits well.","visual":{"type":"freq_curve","tracks":"Lead Vox"}})"}}));
    const auto o = run();

    EXPECT_TRUE(o.response.ok);
    EXPECT_EQ(o.response.assistantMessage, "Your vocal sits well.");
    EXPECT_EQ(transport->requests().size(), 1u);
    ASSERT_EQ(o.completed.size(), 2u);
    EXPECT_EQ(o.completed[0].toolName, "listen_to_playback");
    const ToolCallInfo& card = o.completed[1];
    EXPECT_EQ(card.toolName, "show_visual");
    EXPECT_EQ(card.summary, "Frequency curve \u2014 Lead Vox");
    ASSERT_TRUE(card.resultJSON);
    const json diagram = json::parse(*card.resultJSON);
    EXPECT_EQ(diagram["diagramType"], "freq_curve");
    ASSERT_EQ(diagram["tracks"].size(), 1u);
    EXPECT_EQ(diagram["tracks"][0]["trackName"], "Lead Vox");
    EXPECT_DOUBLE_EQ(diagram["tracks"][0]["shortTermLufs"].get<double>(), -14.0);
    EXPECT_FALSE(diagram.contains("prose"));
    int visuals = 0;
    for (const auto& e : entries()) visuals += e.role == ConversationRole::toolCall && e.toolName == "show_visual";
    EXPECT_EQ(visuals, 1);
    EXPECT_EQ(entries().back().content, "Your vocal sits well.");
}

// --- Two turns ---------------------------------------------------------------------------------------

TEST_F(ChatOrchestratorTest, ATurnStartedWhileAnotherRunsIsRefusedAndStopsOnlyItsOwnTurn) {
    auto gate = std::make_shared<Gate>();
    registerHeldTool(gate);
    transport->reply(callsReply({{"h", "held", "{}"}}));
    transport->reply(respondReply("First done"));
    auto first = orchestrator->handleChatStreaming(request("first"));
    gate->waitForArrival();

    const std::string other = conversations.createThread(std::string("Other")).currentThreadID;
    auto refusedRequest = request("second");
    refusedRequest.threadID = other;
    auto refused = orchestrator->handleChatStreaming(refusedRequest);
    const auto r = outcomeOf(refused->collect());
    EXPECT_EQ(r.errors, std::vector<std::string>{ChatOrchestrator::kBusyMessage});
    EXPECT_FALSE(r.response.ok);
    EXPECT_TRUE(conversations.conversationState(other).entries.empty());
    refused->stop();  // the refused turn's Stop reaches nothing
    EXPECT_TRUE(shieldUp());
    gate->open();
    const auto f = outcomeOf(first->collect());
    EXPECT_EQ(f.response.assistantMessage, "First done");

    // A late Stop of the first turn does not reach the turn after it.
    gate = std::make_shared<Gate>();
    transport->reply(callsReply({{"h2", "held", "{}"}}));
    transport->reply(respondReply("Third done"));
    auto third = orchestrator->handleChatStreaming(request("third"));
    gate->waitForArrival();
    first->stop();
    gate->open();
    EXPECT_EQ(outcomeOf(third->collect()).response.assistantMessage, "Third done");
}

// A message the backend could not take is refused before anything is sent or stored; one at the
// bound is sent once, as the request's last item.
TEST_F(ChatOrchestratorTest, AMessageOverTheBoundIsRefusedUpFrontAndOneAtItIsSent) {
    const std::string atBound(ChatOrchestrator::kMaxMessageBytes, 'm');
    const auto refused = run(request(atBound + "m"));
    const std::string why =
        "The message is too long to send: it holds 4194305 bytes and the chat backend accepts "
        "at most 4194304 (4 MiB). Shorten it and send it again.";
    EXPECT_EQ(refused.errors, std::vector<std::string>{why});
    EXPECT_FALSE(refused.response.ok);
    EXPECT_EQ(refused.response.assistantMessage, why);
    EXPECT_TRUE(transport->requests().empty());
    EXPECT_TRUE(entries().empty());

    transport->reply(respondReply("Heard you"));
    EXPECT_EQ(run(request(atBound)).response.assistantMessage, "Heard you");
    ASSERT_EQ(transport->requests().size(), 1u);
    const std::string sent = transport->requests()[0].body.dump();
    EXPECT_EQ(sent.find(atBound), sent.rfind(atBound));
    EXPECT_EQ(entries().at(0).content, atBound);
}

// The harness holds the loop around its turn: the window is refused meanwhile, and the window's
// Stop does not reach the harness's turn.
TEST_F(ChatOrchestratorTest, AReservationKeepsOutOtherTurnsAndTheWindowsStopReachesOnlyItsOwn) {
    auto reservation = orchestrator->reserveTurn(TurnOwner::harness);
    ASSERT_TRUE(reservation);
    EXPECT_FALSE(orchestrator->reserveTurn(TurnOwner::window));
    EXPECT_FALSE(orchestrator->isTurnRunning());
    EXPECT_EQ(outcomeOf(orchestrator->handleChatStreaming(request("window"))->collect()).errors,
              std::vector<std::string>{ChatOrchestrator::kBusyMessage});

    auto gate = std::make_shared<Gate>();
    registerHeldTool(gate);
    transport->reply(callsReply({{"h", "held", "{}"}}));
    transport->reply(respondReply("Harness done"));
    auto harness = orchestrator->handleChatStreaming(reservation, request("harness"));
    gate->waitForArrival();
    orchestrator->cancelCurrentTurn();
    gate->open();
    EXPECT_EQ(outcomeOf(harness->collect()).response.assistantMessage, "Harness done");
    // The turn has ended, the reservation still holds the loop until it is dropped.
    EXPECT_EQ(outcomeOf(orchestrator->handleChatStreaming(request("window"))->collect()).errors,
              std::vector<std::string>{ChatOrchestrator::kBusyMessage});
    reservation = TurnReservation();

    gate = std::make_shared<Gate>();
    transport->reply(callsReply({{"h2", "held", "{}"}}));
    transport->reply(respondReply("never sent"));
    auto window = orchestrator->handleChatStreaming(request("window"));
    gate->waitForArrival();
    orchestrator->cancelCurrentTurn();
    gate->open();
    const auto stopped = outcomeOf(window->collect());
    EXPECT_TRUE(stopped.response.ok);
    EXPECT_TRUE(stopped.response.assistantMessage.empty());
}

// The lock files another program, a copy run as root or a user may leave: the chat's turn lock
// answers as the stores' locks do. Refused with the same reason, or taken; one removed or replaced
// while held lets another copy in, so the holder's later writes are refused.
TEST_F(ChatOrchestratorTest, TheTurnLockAnswersOddLockFilesAsTheStoresLocksDo) {
    enum class Odd { symlink, fifo, folder, deletedWhileHeld, replacedWhileHeld };
    const auto place = [&](Odd odd, const std::filesystem::path& lock) {
        std::filesystem::remove(lock);
        if (odd == Odd::symlink) std::filesystem::create_symlink(home.root() / "elsewhere", lock);
        if (odd == Odd::fifo) {
            ASSERT_EQ(::mkfifo(lock.c_str(), 0600), 0);
        }
        if (odd == Odd::folder) std::filesystem::create_directory(lock);
        if (odd == Odd::replacedWhileHeld) writeAll(lock, "");
    };
    const bool midway[] = {false, false, false, true, true};
    // The lock's own file names aside: "lost" for a lock no longer named, else the system's reason.
    const auto cause = [](const std::optional<std::string>& reason) -> std::string {
        if (!reason) return "taken";
        if (reason->find("was removed or replaced while this copy held it") != std::string::npos) return "lost";
        std::string tail = reason->substr(reason->rfind(": ") + 2);
        if (!tail.empty() && tail.back() == '.') tail.pop_back();
        return tail;
    };
    std::filesystem::path turnLock;
    {
        const FileLock taken = conversations.lockChatTurn(threadID);
        ASSERT_TRUE(taken.lockedFile());
        turnLock = taken.lockedFile()->lockPath;
    }
    for (const Odd odd : {Odd::symlink, Odd::fifo, Odd::folder, Odd::deletedWhileHeld, Odd::replacedWhileHeld}) {
        SCOPED_TRACE(static_cast<int>(odd));
        // A store's write, the other copy writing midway where its lock file goes.
        const auto storePath = home.root() / "store.json";
        writeAll(storePath, "[1]");
        StoreFile first(storePath, "TestStore"), second(storePath, "TestStore");
        const auto storeLock = home.root() / ".store.json.lock";
        if (!midway[static_cast<int>(odd)]) place(odd, storeLock);
        std::optional<std::string> storeAnswer;
        {
            const FileLock held = first.lock();
            auto loaded = first.load<std::vector<int>>();
            if (midway[static_cast<int>(odd)]) {
                place(odd, storeLock);
                const FileLock other = second.lock();
                auto read = second.load<std::vector<int>>();
                read.value.push_back(2);
                ASSERT_TRUE(second.save(read, json(read.value)));
            }
            loaded.value.push_back(3);
            if (!first.save(loaded, json(loaded.value))) storeAnswer = first.lastFailure();
        }

        // The turn, another copy starting one in the same chat midway.
        const auto before = entries().size();
        if (!midway[static_cast<int>(odd)]) place(odd, turnLock);
        auto gate = std::make_shared<Gate>();
        registerHeldTool(gate);
        const auto sent = transport->requests().size();
        if (!storeAnswer || midway[static_cast<int>(odd)]) {
            transport->reply(callsReply({{"h", "held", "{}"}}));
            transport->reply(respondReply("Done"));
        }
        auto stream = orchestrator->handleChatStreaming(request("q-A"));
        ConversationStore otherCopy;
        std::optional<FileLock> otherTurn;
        if (midway[static_cast<int>(odd)]) {
            gate->waitForArrival();
            place(odd, turnLock);
            otherTurn = otherCopy.lockChatTurn(threadID);
            ASSERT_TRUE(otherTurn->held()) << "the other copy could not start its turn";
            ASSERT_TRUE(TurnWriter(otherCopy, threadID, otherTurn->lockedFile()).question("q-B"));
        }
        gate->open();
        const auto turn = outcomeOf(stream->collect());
        world().drainMainQueue();
        std::optional<std::string> turnAnswer;
        if (!turn.response.ok) turnAnswer = turn.errors.empty() ? "no reason" : turn.errors.back();
        EXPECT_EQ(cause(turnAnswer), cause(storeAnswer)) << turnAnswer.value_or("") << " / " << storeAnswer.value_or("");
        if (storeAnswer && !midway[static_cast<int>(odd)]) {
            EXPECT_EQ(entries().size(), before) << "a refused turn stored its question";
            EXPECT_EQ(transport->requests().size(), sent) << "a refused turn was sent";
        }
        if (midway[static_cast<int>(odd)]) {
            std::vector<std::string> after;
            const auto stored = entries();
            for (auto e = stored.begin() + static_cast<std::ptrdiff_t>(before); e < stored.end(); ++e)
                after.push_back(e->content);
            EXPECT_EQ(after, (std::vector<std::string>{"q-A", "q-B"})) << "the copies' turns interleaved";
        }
        otherTurn.reset();
        std::filesystem::remove_all(turnLock);
        std::filesystem::remove_all(storeLock);
    }
}

// A tool's note took a way of its own into the chat: stored after a refused question (with no
// question to follow) and after a refused entry, and without the turn lock's check. Every kind
// of a turn's entries (question, note, tool call card with its result, diagram card, reply) is
// stored only while every earlier write of the turn was: the chat holds a whole prefix of the
// turn, and the turn says it was not saved.
TEST_F(ChatOrchestratorTest, NoEntryOfATurnIsStoredAfterARefusedWriteOrALostLockNotesIncluded) {
    enum class Fault { none, fullDisk, lift, loseLock };
    struct Case {
        const char* name;
        Fault beforeTurn, first, second, third;  // the three "fault" calls, in the order they run
        std::size_t stored;                      // how many of the turn's entries reach the file
    };
    const Case cases[] = {
        {"nothing refused", Fault::none, Fault::none, Fault::none, Fault::none, 8},
        {"the disk refuses the question", Fault::fullDisk, Fault::lift, Fault::none, Fault::none, 0},
        {"the disk refuses a tool's note", Fault::none, Fault::fullDisk, Fault::lift, Fault::none, 1},
        {"the disk refuses a tool call", Fault::none, Fault::none, Fault::fullDisk, Fault::lift, 2},
        {"the disk refuses the last round", Fault::none, Fault::none, Fault::none, Fault::fullDisk, 5},
        {"the lock is lost before a tool's note", Fault::none, Fault::loseLock, Fault::none, Fault::none, 1},
        {"the lock is lost before a tool call", Fault::none, Fault::none, Fault::loseLock, Fault::none, 2},
        {"the lock is lost before the last round", Fault::none, Fault::none, Fault::none, Fault::loseLock, 5},
    };
    const std::vector<std::string> wholeTurn = {"user",           "tool",           "toolCall fault", "toolCall list_installed_plugins",
                                                "toolCall fault", "toolCall fault", "toolCall show_visual", "assistant"};
    std::filesystem::path turnLock;
    {
        const FileLock taken = conversations.lockChatTurn(threadID);
        ASSERT_TRUE(taken.lockedFile());
        turnLock = taken.lockedFile()->lockPath;
    }
    std::optional<FullDisk> disk;
    const auto apply = [&](Fault fault) {
        if (fault == Fault::fullDisk) disk.emplace();
        if (fault == Fault::lift) disk.reset();
        if (fault == Fault::loseLock) std::filesystem::remove(turnLock);
    };
    orchestrator->toolExecutor().registerTool("fault", [&](ToolCall& call) {
        apply(static_cast<Fault>(json::parse(call.args()).at("fault").get<int>()));
        call.record("fault", true);
        return ChatToolExecutor::makeJSONOutput(call.callID(), {{"status", "ok"}}, "{}");
    });
    const auto faultCall = [](const char* id, Fault fault) {
        return AgentToolCall{id, "fault", json{{"fault", static_cast<int>(fault)}, {"call", id}}.dump()};
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto before = entries().size();
        transport->reply(callsReply({faultCall("c1", c.first), {"c2", "list_installed_plugins", "{}"},
                                     faultCall("c3", c.second)}));
        transport->reply(callsReply({faultCall("c4", c.third),
                                     {"c5", "respond", R"({"prose":"Done","diagramType":"freq_curve"})"}}));
        apply(c.beforeTurn);
        const auto turn = run();
        disk.reset();

        std::vector<std::string> stored;
        const auto chat = entries();
        for (auto e = chat.begin() + static_cast<std::ptrdiff_t>(before); e < chat.end(); ++e)
            stored.push_back(toString(e->role) + (e->toolName ? " " + *e->toolName : ""));
        EXPECT_EQ(stored, std::vector<std::string>(wholeTurn.begin(),
                                                   wholeTurn.begin() + static_cast<std::ptrdiff_t>(c.stored)));
        EXPECT_EQ(turn.response.ok, c.stored == wholeTurn.size());
        const bool toldNotSaved = std::any_of(turn.errors.begin(), turn.errors.end(), [](const std::string& error) {
            return error.starts_with("The chat could not be saved: ");
        });
        EXPECT_EQ(toldNotSaved, c.stored < wholeTurn.size());
        EXPECT_EQ(turn.response.saveError.has_value(), c.stored < wholeTurn.size());
    }
}

// --- The local backend's script mode -------------------------------------------------------------------

TEST_F(ChatOrchestratorTest, AScriptedTurnAgainstTheLocalBackend) {
    LocalBackend local(home.root() / "backend");
    networking::BackendConfiguration configuration;
    configuration.baseURL = local.baseURL();
    auto curl = std::make_shared<HookedTransport>();
    networking::AuthService auth(configuration, curl, local.clock);
    auth.signIn(LocalBackend::kEmail, LocalBackend::kPassword);
    networking::BackendChatService service(configuration.chatEndpoint(), "gpt-5", curl);
    service.setAuthTokenProvider([&auth] { return auth.getValidToken(); });
    orchestrator.reset();
    orchestrator = std::make_unique<ChatOrchestrator>(
        ChatOrchestrator::Services{inventory, service, conversations, memories, logic, plugins, logger, {}},
        ChatOrchestrator::Providers{});
    orchestrator->toolExecutor().registerTool("respond", [](ToolCall& call) {
        json args = json::parse(call.args());
        args["status"] = "ok";
        call.record("Responded", true);
        return ChatToolExecutor::makeJSONOutput(call.callID(), args, "{}");
    });

    const auto o = run(request("Which tracks are in this song?"));
    EXPECT_TRUE(o.response.ok);
    EXPECT_EQ(o.response.assistantMessage,
              "Those are the tracks in the song, top to bottom, with the folders and muted tracks marked.");
    ASSERT_EQ(o.completed.size(), 1u);
    EXPECT_EQ(o.completed[0].toolName, "list_tracks");
    EXPECT_EQ(o.completed[0].status, ToolCallStatus::completed);

    // The token expires while the sign-in service answers 503: the turn says so, and the session
    // stays for the turn after it.
    curl->instead = [](const http::HTTPClientRequest& sent) -> std::optional<http::HTTPClientResponse> {
        if (sent.url.find("refresh_token") == std::string::npos) return std::nullopt;
        return http::HTTPClientResponse{503, R"({"error":"Service Unavailable"})"};
    };
    local.clock.sleep(std::chrono::hours(1));
    const auto busy = run(request("Which tracks are in this song?"));
    EXPECT_FALSE(busy.response.ok);
    ASSERT_EQ(busy.errors.size(), 1u);
    EXPECT_NE(busy.errors[0].find("sign-in service is busy"), std::string::npos) << busy.errors[0];
    EXPECT_EQ(busy.response.assistantMessage, "The sign-in service is busy right now. Try that again in a moment.");
    EXPECT_TRUE(auth.isAuthenticated());
    curl->instead = nullptr;
    EXPECT_TRUE(run(request("Which tracks are in this song?")).response.ok);

    auth.signOut();
    const auto signedOut = run(request("Mute the guitar"));
    EXPECT_FALSE(signedOut.response.ok);
    ASSERT_EQ(signedOut.errors.size(), 1u);
    EXPECT_NE(signedOut.errors[0].find("sign in again"), std::string::npos) << signedOut.errors[0];
    EXPECT_EQ(signedOut.response.assistantMessage, "I lost my sign-in. Sign in again and I'll be ready.");
    orchestrator.reset();
}

}  // namespace
}  // namespace corvane::testing
