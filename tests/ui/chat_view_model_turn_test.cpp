// One chat turn from the typed message to the revealed reply: the request, the live cards and
// progress lines, the rebuilt thread, the title of a new thread; once through the real agent
// loop against a scripted backend.

#include "ui/chat_view_model.h"

#include <algorithm>
#include <atomic>

#include "chat/chat_orchestrator.h"
#include "http/http_server.h"
#include "ui/view_model_fixture.h"

namespace corvane::testing {
namespace {

class ChatViewModelTurnTest : public ViewModelTest {
protected:
    std::vector<nlohmann::json> titleRequests() {
        std::vector<nlohmann::json> bodies;
        for (const auto& sent : transport_->requests())
            if (sent.body.value("kind", "") == "title") bodies.push_back(sent.body);
        return bodies;
    }
    // The turn's rounds; a title request may or may not have gone yet, as the threads run.
    std::size_t agentRequests() {
        const auto sent = transport_->requests();
        return std::size_t(std::count_if(sent.begin(), sent.end(),
                                         [](const auto& one) { return one.body.value("kind", "") != "title"; }));
    }
    void revealAll() {
        for (int i = 0; i < 200 && model().isBusy(); ++i) advance(ChatViewModel::kRevealInterval);
    }
};

TEST_F(ChatViewModelTurnTest, AWholeTurnThroughTheAgentLoopEndsRevealedAndTitled) {
    fakeTurns_ = false;
    transport_->reply(callsReply({{"c1", "list_tracks", "{}"}, {"c2", "list_tracks", "{}"}}));
    transport_->reply(callsReply({{"c3", "list_tracks", "{}"}}));
    transport_->reply(respondReply("The mix is balanced."));
    transport_->reply(textReply("\"Balance check.\""));

    model().loadConversations();
    model().sendMessage("Check the mix balance");
    EXPECT_TRUE(model().navigation().isChat());
    EXPECT_EQ(model().statusMessage(), "Thinking...");
    ASSERT_TRUE(queue_.runUntil([&] { return model().streamingText().has_value(); }));

    EXPECT_TRUE(model().isBusy());
    EXPECT_EQ(transcriptKinds(), (std::vector<std::string>{"user:Check the mix balance", "group0:c1,c2,", "group1:c3,",
                                                           "assistant:The mix is balanced."}));
    EXPECT_TRUE(model().isToolCallExpanded("c3"));
    EXPECT_FALSE(model().isToolCallExpanded("c1"));
    const auto* group = std::get_if<ToolCallGroup>(&model().transcriptItems()[1].value);
    ASSERT_NE(group, nullptr);
    EXPECT_EQ(group->id, "user-0-round-0");

    revealAll();
    EXPECT_FALSE(model().isBusy());
    EXPECT_EQ(model().statusMessage(), "Ready.");
    EXPECT_FALSE(model().streamingText().has_value());
    ASSERT_TRUE(queue_.runUntil([&] { return model().currentThreadTitle() == "Balance check"; }));
    ASSERT_EQ(titleRequests().size(), 1u);
    EXPECT_EQ(model().threads().at(0).title, "Balance check");
}

TEST_F(ChatViewModelTurnTest, StopEndsTheTurnBeforeItsNextRound) {
    fakeTurns_ = false;
    Gate answer;
    transport_->replyAfter(answer, callsReply({{"c1", "list_tracks", "{}"}}));
    model().sendMessage("Check it");
    ASSERT_TRUE(queue_.runUntil([&] { return agentRequests() == 1; }));
    model().stopTurn();
    answer.open();
    ASSERT_TRUE(queue_.runUntil([&] { return !model().isBusy(); }));
    EXPECT_EQ(model().statusMessage(), "Ready.");
    EXPECT_EQ(agentRequests(), 1u) << "no round after the stop";
}

// The user's delete of the chat whose turn runs: the turn ends as a Stop ends it (the listen plays
// no further) and nothing of it is told as a failure.
TEST_F(ChatViewModelTurnTest, DeletingTheChatOfARunningTurnStopsItsListenAndTellsNoFailure) {
    fakeTurns_ = false;
    // The first analysis post made while Logic Pro plays is held: the world's time stands there
    // until the chat is deleted.
    Gate deleted;
    std::atomic<bool> held{false};
    http::HTTPServer analysis(0, [&](const http::HTTPRequest&) {
        if (world_->project().transport.playing && !held.exchange(true)) deleted.arrive();
        return http::HTTPResponse{200, "application/json", "{}"};
    });
    ASSERT_TRUE(analysis.start());
    world_->updateFaults([&](standin::Faults& faults) { faults.analysisPort = analysis.boundPort(); });
    transport_->reply(callsReply({{"l", "listen_to_playback", R"({"duration_seconds":20,"start_bar":9})"}}));
    transport_->reply(respondReply("Heard the whole chorus."));
    model().loadConversations();
    ASSERT_TRUE(model().sendMessage("Listen to the chorus"));
    const std::string chat = model().currentThreadID();
    deleted.waitForArrival();
    const double deletedAt = world_->virtualSeconds();

    model().deleteThread(chat);
    deleted.open();
    ASSERT_TRUE(queue_.runUntil([&] { return !model().isBusy(); }));

    EXPECT_FALSE(world_->project().transport.playing);
    EXPECT_LT(world_->virtualSeconds() - deletedAt, 1.0) << "the listen played on";
    EXPECT_EQ(agentRequests(), 1u) << "no round after the delete";
    EXPECT_TRUE(model().threads().empty());
    EXPECT_EQ(model().navigation(), NavigationState::projectPage(std::string("Demo Song")));
    EXPECT_EQ(model().storeFailure(), "");
    EXPECT_EQ(model().statusMessage(), "Ready.");
}

TEST_F(ChatViewModelTurnTest, TheRequestCarriesTheTextAsTypedTheSnapshotAndQueuedImages) {
    model().sendMessage(" \n\t ");
    EXPECT_TRUE(requests_.empty());
    EXPECT_EQ(model().statusMessage(), "Ready.");
    EXPECT_TRUE(model().threads().empty());

    model().sendMessage("  louder?  ");
    ASSERT_EQ(requests_.size(), 1u);
    EXPECT_EQ(requests_[0].message, "  louder?  ");
    EXPECT_EQ(requests_[0].analysisSnapshot, std::nullopt);
    EXPECT_EQ(requests_[0].includePendingCaptures, std::nullopt);
    EXPECT_EQ(requests_[0].threadID, model().currentThreadID());
    EXPECT_EQ(model().threads().at(0).projectName, "Demo Song");
    finish("");

    controller_->conversationStore().appendPendingCapture(CaptureMetadata{}, model().currentThreadID());
    controller_->conversationStore().appendPendingCapture(CaptureMetadata{}, model().currentThreadID());
    model().switchConversation(model().currentThreadID());
    model().updateTrackAnalysis(
        {{"b", liveState("b", "Bass")}, {"m", liveState("m", "Stereo Out")}, {"q", liveState("q", "Quiet", false)}});
    model().setSelectedModelTier(ModelTier::pro);
    model().sendMessage("again");
    ASSERT_EQ(requests_.size(), 2u);
    EXPECT_EQ(requests_[1].includePendingCaptures, true);
    EXPECT_EQ(requests_[1].modelTier, ModelTier::pro);
    const std::string fixed =
        "---\n"
        "[INTERNAL — Corvane plugin stream, NOT pasted by the user.\n"
        "Live readings (updated ~twice per second) from Corvane instances currently monitoring tracks.\n"
        "Use for quick context only — for any audio question, still run a fresh `listen_to_playback` this turn.\n"
        "Do NOT reference this block in your reply ('that snapshot', 'those numbers you shared', etc.). The user did "
        "not paste it.]\n";
    const std::string line = ": LUFS:-14.3, lowMid:21%, highMid:11%, air:3%, width:46%, tilt:-3.0dB\n";
    EXPECT_EQ(requests_[1].analysisSnapshot, fixed + "Stereo Out(master)" + line + "Bass" + line + "---");
    controller_->conversationStore().clearPendingCaptures(model().currentThreadID());  // as the agent loop does
    finish("");
    EXPECT_EQ(model().pendingCaptureCount(), 0);

    model().updateTrackAnalysis({{"q", liveState("q", "Quiet", false)}});
    model().sendMessage("third");
    EXPECT_EQ(requests_[2].analysisSnapshot, fixed + "---");
}

TEST_F(ChatViewModelTurnTest, LiveCardsGroupByRoundAndTheStatusFollowsTheEvents) {
    model().sendMessage("Go");
    EXPECT_EQ(transcriptKinds(), (std::vector<std::string>{"user:Go", "thinking"}));
    feed(AgentEvent::toolCallStarted(toolCall("A", 0)));
    EXPECT_EQ(model().statusMessage(), "List Tracks...");
    feed(AgentEvent::toolCallStarted(toolCall("B", 0)));
    feed(AgentEvent::toolCallStarted(toolCall("C", 1)));
    EXPECT_EQ(transcriptKinds(), (std::vector<std::string>{"user:Go", "group0:A,B,", "group1:C,"}));
    EXPECT_TRUE(model().isToolCallExpanded("C"));
    EXPECT_FALSE(model().isToolCallExpanded("A"));
    model().toggleToolCallExpanded("A", false);
    EXPECT_TRUE(model().isToolCallExpanded("A"));

    struct Case {
        std::optional<bool> succeeded;
        std::optional<std::string> summary;
        std::string status;
    };
    for (const auto& c : std::vector<Case>{{true, std::string("3 tracks"), "Done: 3 tracks"},
                                           {false, std::string("no Logic"), "Failed: no Logic"},
                                           {std::nullopt, std::string("odd"), "Failed: odd"},
                                           {std::nullopt, std::nullopt, "Failed: List Tracks"}}) {
        auto done = toolCall("B", 0);
        done.status = ToolCallStatus::completed;
        done.succeeded = c.succeeded;
        done.summary = c.summary;
        feed(AgentEvent::toolCallCompleted(done));
        EXPECT_EQ(model().statusMessage(), c.status);
    }
    const auto* group = std::get_if<ToolCallGroup>(&model().transcriptItems()[1].value);
    ASSERT_NE(group, nullptr);
    EXPECT_EQ(group->toolCalls[1].status, ToolCallStatus::completed);

    feed(AgentEvent::thinking());
    EXPECT_EQ(transcriptKinds().back(), "thinking");
    feed(AgentEvent::interimAssistantMessage("Looking at the bass"));
    const auto kinds = transcriptKinds();
    EXPECT_EQ(kinds.back(), "update:Looking at the bass");
    EXPECT_EQ(std::count(kinds.begin(), kinds.end(), "thinking"), 0);
    feed(AgentEvent::error("backend down"));
    EXPECT_EQ(model().statusMessage(), "Error: backend down");
    EXPECT_TRUE(model().isBusy());
}

TEST_F(ChatViewModelTurnTest, AStoredThreadIsRebuiltRoundByRound) {
    auto& store = controller_->conversationStore();
    const auto id = store.createThread(std::string("Demo Song")).currentThreadID;
    store.append(ConversationRole::user, "Fix it", id);
    auto later = toolCall("late", 1);
    later.status = ToolCallStatus::failed;
    later.succeeded = false;
    store.appendToolCall(later, 0, id);
    store.appendToolCall(toolCall("early", 0), 0, id);
    store.append(ConversationRole::tool, "raw output", id);
    store.append(ConversationRole::assistant, "Fixed", id);

    model().switchConversation(id);
    EXPECT_EQ(transcriptKinds(),
              (std::vector<std::string>{"user:Fix it", "group0:early,", "group1:late,", "assistant:Fixed"}));
    const auto* failed = std::get_if<ToolCallGroup>(&model().transcriptItems()[2].value);
    ASSERT_NE(failed, nullptr);
    EXPECT_EQ(failed->id, "user-0-round-1");
    EXPECT_EQ(failed->toolCalls[0].status, ToolCallStatus::failed);
}

TEST_F(ChatViewModelTurnTest, OnlyAThreadsFirstExchangeAsksForATitle) {
    // The agent loop stores each message; here the test does.
    auto& store = controller_->conversationStore();
    transport_->reply(textReply("First title"));
    model().sendMessage("one");
    store.append(ConversationRole::user, "one", model().currentThreadID());
    finish("reply one");
    advance(1);  // the reveal
    ASSERT_TRUE(queue_.runUntil([&] { return model().currentThreadTitle() == "First title"; }));

    model().sendMessage("two");
    store.append(ConversationRole::user, "two", model().currentThreadID());
    finish("reply two");
    queue_.drain();
    EXPECT_EQ(titleRequests().size(), 1u);
}

// The user opens B (and its brief sheet, or a report) while A's turn runs; A's end must not make
// A current under the window, or B's sheet saves into A and the report names A.
TEST_F(ChatViewModelTurnTest, ATurnEndingInAnotherThreadLeavesTheShownThreadCurrent) {
    auto& store = controller_->conversationStore();
    const auto other = store.createThread(std::string("Demo Song")).currentThreadID;
    store.append(ConversationRole::user, "B question", other);
    store.append(ConversationRole::assistant, "B answer", other);
    store.updateSongBrief(std::string("B brief"), other);
    model().loadConversations();
    transport_->reply(textReply("A title"));
    model().sendMessage("Go");
    const auto turnThread = model().currentThreadID();
    store.append(ConversationRole::user, "Go", turnThread);
    store.append(ConversationRole::assistant, "Done here", turnThread);
    model().switchConversation(other);
    model().setNavigation(NavigationState::chat(other));
    model().setReportingEntry(model().entries().back());

    finish("Done here", turnThread);
    EXPECT_EQ(model().currentThreadID(), other);
    EXPECT_EQ(model().navigation(), NavigationState::chat(other));
    EXPECT_EQ(model().songBrief(), "B brief");
    EXPECT_EQ(transcriptKinds().back(), "assistant:B answer");
    EXPECT_FALSE(model().streamingText().has_value()) << "A's reply is not revealed over B";
    EXPECT_FALSE(model().isBusy());
    // The first exchange of A still gets its title.
    ASSERT_TRUE(queue_.runUntil([&] { return titleRequests().size() == 1; }));

    transport_->status(200);
    model().submitReport("wrong");
    ASSERT_TRUE(queue_.runUntil([&] { return transport_->requests().back().body.contains("user_description"); }));
    EXPECT_EQ(transport_->requests().back().body["thread_id"], other);
    EXPECT_EQ(transport_->requests().back().body["user_message"], "B question");
}

// A clear of the chat whose turn runs, in this window or by another copy sharing the folder: the
// chat never keeps the rest of the turn without its question. Here the turn stops, as a delete
// stops it; cleared elsewhere, it goes on, stores nothing more and says so.
TEST_F(ChatViewModelTurnTest, AClearDuringATurnLeavesNoReplyWithoutItsQuestion) {
    fakeTurns_ = false;
    // Cleared here, the turn stops before its second reply, which the backend keeps: that case goes last.
    for (const bool elsewhere : {true, false}) {
        Gate answer;
        transport_->replyAfter(answer, callsReply({{"m1", "list_tracks", "{}"}}));
        transport_->reply(respondReply("I muted Guitar and set Keys to -6 dB."));
        model().loadConversations();
        const auto firstRound = agentRequests() + 1;
        ASSERT_TRUE(model().sendMessage("Check the mix balance"));
        const std::string chat = model().currentThreadID();
        auto& store = controller_->conversationStore();
        ASSERT_TRUE(queue_.runUntil([&] {
            return agentRequests() == firstRound && store.existingThreadState(chat)->entries.size() == 1;
        }));

        if (elsewhere) {
            ConversationStore otherCopy;
            ASSERT_TRUE(otherCopy.clearThread(chat).ok);
        } else {
            model().clearConversation();
        }
        answer.open();
        waitForTurnEvents();
        revealAll();
        ASSERT_FALSE(model().isTurnRunning()) << elsewhere;

        EXPECT_TRUE(store.existingThreadState(chat)->entries.empty()) << elsewhere;
        if (elsewhere) {
            EXPECT_EQ(model().storeFailure(), ChatViewModel::kClearedChatNotice);
            std::vector<std::string> shown;
            for (const auto& entry : model().entries()) shown.push_back(entry.content);
            // The call has its card (an entry without text), and the turn is marked as not kept.
            EXPECT_EQ(shown,
                      (std::vector<std::string>{"Check the mix balance", "", "I muted Guitar and set Keys to -6 dB.",
                                                ChatViewModel::kUnsavedTurnNote}))
                << "the exchange stays shown, whole and in order, while the program runs";
        } else {
            EXPECT_EQ(agentRequests(), firstRound) << "no round after the clear";
            EXPECT_EQ(model().storeFailure(), "");
            EXPECT_TRUE(model().entries().empty());
        }
        model().dismissStoreFailure();
        model().deleteThread(chat);
    }
}

// Another copy sharing the folder runs a turn in this chat: the message is refused, kept, and why
// is said, rather than its entries interleaving with the other turn's.
TEST_F(ChatViewModelTurnTest, AMessageToAChatAnotherCopyIsWorkingInIsRefused) {
    fakeTurns_ = false;
    model().loadConversations();
    const auto chat = controller_->conversationStore().createThread(std::string("Demo Song")).currentThreadID;
    model().switchConversation(chat);
    model().setNavigation(NavigationState::chat(chat));
    ConversationStore otherCopy;
    {
        const FileLock otherTurn = otherCopy.lockChatTurn(chat);
        ASSERT_TRUE(otherTurn.held());
        EXPECT_FALSE(model().sendMessage("Make the vocal louder"));
        EXPECT_EQ(model().unsentReason(), ChatOrchestrator::kChatBusyElsewhereMessage);
        EXPECT_FALSE(model().isBusy());
        EXPECT_TRUE(controller_->conversationStore().existingThreadState(chat)->entries.empty());
    }
    Gate answer;
    transport_->replyAfter(answer, respondReply("Louder now."));
    EXPECT_TRUE(model().sendMessage("Make the vocal louder")) << "the chat is free once the other turn ended";
    EXPECT_FALSE(otherCopy.lockChatTurn(chat).held()) << "held while this copy's turn runs";
    answer.open();
    ASSERT_TRUE(queue_.runUntil([&] { return !model().isTurnRunning() || model().streamingText(); }));
    EXPECT_TRUE(otherCopy.lockChatTurn(chat).held());
}

// A harness run holds the agent loop: the message goes nowhere, and says so.
TEST_F(ChatViewModelTurnTest, AMessageTheAgentLoopRefusesLeavesNoThreadAndSaysWhy) {
    Gate answer;
    auto harness = holdAgentLoop(answer);
    model().loadConversations();
    const auto threadsBefore = controller_->conversationStore().conversationState().threads.size();

    EXPECT_FALSE(model().sendMessage("Make the vocal louder"));
    EXPECT_FALSE(model().navigation().isChat());
    EXPECT_FALSE(model().isBusy());
    EXPECT_EQ(model().statusMessage(), ChatOrchestrator::kBusyMessage);
    EXPECT_EQ(model().unsentReason(), ChatOrchestrator::kBusyMessage);
    EXPECT_EQ(controller_->conversationStore().conversationState().threads.size(), threadsBefore);
    queue_.drain();
    EXPECT_EQ(model().statusMessage(), ChatOrchestrator::kBusyMessage) << "the reason stays";
    answer.open();
    ASSERT_TRUE(queue_.runUntil([&] { return harness->finished(); }));
}

TEST_F(ChatViewModelTurnTest, AMessageWhileATurnRunsIsRefusedWithTheReasonAndTheCardStaysOpen) {
    model().sendMessage("one");
    auto call = toolCall("c1", 0);
    feed(AgentEvent::toolCallStarted(call));
    EXPECT_TRUE(model().isToolCallExpanded("c1"));
    model().setNavigation(NavigationState::projectPage(std::nullopt));
    EXPECT_FALSE(model().sendMessage("two"));
    EXPECT_EQ(model().unsentReason(), ChatViewModel::kTurnRunningNotice);
    EXPECT_EQ(model().statusMessage(), "List Tracks...") << "the turn keeps its status line";
    EXPECT_EQ(requests_.size(), 1u);

    call.status = ToolCallStatus::completed;
    call.succeeded = true;
    call.summary = "3 tracks";
    controller_->conversationStore().appendToolCall(call, 0, model().currentThreadID());
    model().setNavigation(NavigationState::chat(model().currentThreadID()));
    finish("");
    EXPECT_TRUE(model().isToolCallExpanded("c1"));
    // A new message leaves the card as the user sees it.
    EXPECT_TRUE(model().sendMessage("three"));
    EXPECT_TRUE(model().isToolCallExpanded("c1"));
}

}  // namespace
}  // namespace corvane::testing
