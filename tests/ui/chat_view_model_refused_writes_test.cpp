// What the window says, and what it keeps showing, when the disk refuses the conversation file's
// writes: a new chat, a turn's messages, a clear, a delete, a dropped image; and when the local
// API was never served.

#include "ui/chat_view_model.h"

#include <filesystem>

#include "chat/chat_orchestrator.h"
#include "support/image_encoding.h"
#include "test_support/full_disk.h"
#include "ui/view_model_fixture.h"

namespace corvane::testing {
namespace {

class ChatViewModelRefusedWritesTest : public ViewModelTest {
protected:
    ConversationStore& store() { return controller_->conversationStore(); }
    std::string refusal() { return store().fileURL().string() + " could not be written: File too large"; }
    // A disk with room for the conversation file as it is now, and not one byte more.
    std::uintmax_t roomForTheFileAsItIs() { return std::filesystem::file_size(store().fileURL()); }
    std::string exchange(const std::optional<std::string>& project, const std::string& user, const std::string& reply) {
        const auto id = store().createThread(project).currentThreadID;
        store().append(ConversationRole::user, user, id);
        store().append(ConversationRole::assistant, reply, id);
        return id;
    }
    void open(const std::string& threadID) {
        model().switchConversation(threadID);
        model().setNavigation(NavigationState::chat(threadID));
    }
    void revealAll() {
        for (int i = 0; i < 400 && model().isBusy(); ++i) advance(ChatViewModel::kRevealInterval);
    }
    std::vector<std::string> shown() {
        std::vector<std::string> lines;
        for (const auto& entry : model().entries()) lines.push_back(toString(entry.role) + ":" + entry.content);
        return lines;
    }
};

// A refused create answers the kept state, whose current thread is another song's chat: nothing
// of the message may go there, neither a turn, nor its queued images, nor the refusal's clean-up.
TEST_F(ChatViewModelRefusedWritesTest, ANewChatTheDiskRefusesStartsNoTurnAndTouchesNoOtherChat) {
    fakeTurns_ = false;
    auto harness = controller_->chatOrchestrator().reserveTurn(TurnOwner::harness);
    const auto other = exchange(std::string("Other Song"), "Other question", "Other reply");
    CaptureMetadata image;
    image.timestamp = "2026-12-06T15:23:51.000Z";
    image.mode = CaptureMode::display;
    store().appendPendingCapture(image, other);
    model().loadConversations();
    ASSERT_FALSE(model().navigation().isChat());

    const auto attempt = [&](const std::string& text) {
        FullDisk full(roomForTheFileAsItIs());  // a new thread does not fit; a smaller file would
        return model().sendMessage(text);
    };
    // Once while the agent loop is held (its refusal once deleted the chat it was handed)...
    EXPECT_FALSE(attempt("Brighten the vocal"));
    EXPECT_EQ(model().unsentReason(), "The new chat could not be created: " + refusal() + ".");
    EXPECT_EQ(model().statusMessage(), model().unsentReason());
    EXPECT_EQ(model().storeFailure(), model().unsentReason()) << "the window's notice, not only the field's line";
    harness = TurnReservation();
    transport_->reply(respondReply("Brighter."));
    // ...and once with the agent loop free.
    EXPECT_FALSE(attempt("Brighten the vocal"));
    EXPECT_EQ(model().unsentReason(), "The new chat could not be created: " + refusal() + ".");
    queue_.drain();

    EXPECT_TRUE(transport_->requests().empty()) << "no turn was sent";
    EXPECT_FALSE(model().isBusy());
    EXPECT_FALSE(model().navigation().isChat());
    const auto kept = store().conversationState(other);
    ASSERT_EQ(kept.currentThreadID, other);
    EXPECT_EQ(kept.threads.size(), 1u);
    EXPECT_EQ(kept.entries.size(), 2u);
    EXPECT_EQ(store().pendingCaptures(other).size(), 1u);

    // A message longer than the backend takes is refused the same way: no chat, the text kept.
    const std::string tooLong(ChatOrchestrator::kMaxMessageBytes + 1, 'a');
    EXPECT_FALSE(model().sendMessage(tooLong));
    EXPECT_EQ(model().unsentReason(), ChatOrchestrator::messageProblem(tooLong).value_or("(none)"));
    queue_.drain();
    EXPECT_TRUE(transport_->requests().empty());
    EXPECT_EQ(store().conversationState(other).threads.size(), 1u);

    // A new chat stored: the notice of the refused one is no longer true.
    ASSERT_TRUE(model().sendMessage("Brighten the vocal"));
    EXPECT_EQ(model().storeFailure(), "");
    waitForTurnEvents();
}

// On a full disk the turn still answers; the window says the chat was not saved and keeps showing
// its messages and tool cards, where they belong and marked as not kept, for as long as the
// program runs. The notice goes once the chat is saved again; the mark stays.
TEST_F(ChatViewModelRefusedWritesTest, ATurnTheDiskRefusesSaysSoAndKeepsItsMessagesShown) {
    fakeTurns_ = false;
    const auto elsewhere = exchange(std::string("Demo Song"), "Elsewhere", "Elsewhere reply");
    const auto chat = exchange(std::string("Demo Song"), "Earlier", "Earlier reply");
    transport_->reply(callsReply({{"w1", "list_tracks", "{}"}}));
    Gate answer;
    transport_->replyAfter(answer, respondReply("Warmer now."));
    model().loadConversations();
    open(chat);
    const std::string notSaved = "The chat could not be saved: " + refusal() + ".";
    {
        FullDisk full;
        ASSERT_TRUE(model().sendMessage("Make it warmer"));
        // Told with the first refused write, while the turn still works.
        ASSERT_TRUE(queue_.runUntil([&] { return !model().storeFailure().empty(); }));
        EXPECT_EQ(model().storeFailure(), notSaved);
        EXPECT_TRUE(model().isTurnRunning());
        answer.open();
        waitForTurnEvents();
    }
    revealAll();
    EXPECT_EQ(model().statusMessage(), notSaved);
    EXPECT_EQ(model().storeFailure(), notSaved) << "the window's notice";
    EXPECT_FALSE(model().isBusy());
    EXPECT_EQ(store().conversationState(chat).entries.size(), 2u) << "the file kept what it had";
    const std::string unsavedNote = std::string("update:") + ChatViewModel::kUnsavedTurnNote;
    const std::vector<std::string> afterTurn{"user:Earlier", "assistant:Earlier reply", "user:Make it warmer",
                                             "toolCall:",    "assistant:Warmer now.",   unsavedNote};
    EXPECT_EQ(shown(), afterTurn);
    const std::vector<std::string> rows{"user:Earlier", "assistant:Earlier reply", "user:Make it warmer",
                                        "group0:w1,",   "assistant:Warmer now.",   unsavedNote};
    EXPECT_EQ(transcriptKinds(), rows) << "the call's card and the mark";

    open(elsewhere);
    EXPECT_EQ(shown(), (std::vector<std::string>{"user:Elsewhere", "assistant:Elsewhere reply"}));
    open(chat);
    EXPECT_EQ(shown(), afterTurn);
    EXPECT_EQ(model().storeFailure(), notSaved) << "another chat's opening saves nothing of this one";

    // A save of another chat does not take the notice away.
    model().saveSongBrief("Warm", elsewhere);
    EXPECT_EQ(model().storeFailure(), notSaved);

    // The disk has room again: the next exchange is stored and shown after the one kept in memory,
    // and the notice, no longer true, goes.
    transport_->reply(respondReply("Done."));
    ASSERT_TRUE(model().sendMessage("And brighter"));
    waitForTurnEvents();
    revealAll();
    EXPECT_EQ(model().statusMessage(), "Ready.");
    EXPECT_EQ(model().storeFailure(), "") << "the chat is saved again";
    auto all = afterTurn;
    all.insert(all.end(), {"user:And brighter", "assistant:Done."});
    EXPECT_EQ(shown(), all) << "what the file lacks stays marked";
    EXPECT_EQ(store().conversationState(chat).entries.size(), 4u);
}

TEST_F(ChatViewModelRefusedWritesTest, ARefusedClearDeleteOrDropSaysWhatFailedAndShowsWhatIsStored) {
    // Long enough that the file has room for a small image beside it.
    const auto chat = exchange(std::string("Demo Song"), "Earlier", std::string(20000, 'r'));
    model().loadConversations();
    open(chat);
    const auto stored = shown();

    {
        FullDisk full;
        model().clearConversation();
    }
    EXPECT_EQ(model().statusMessage(), "This chat was not cleared: " + refusal() + ".");
    EXPECT_EQ(model().storeFailure(), model().statusMessage());
    EXPECT_EQ(shown(), stored);
    EXPECT_FALSE(model().isBusy());

    {
        FullDisk full;
        model().deleteThread(chat);
    }
    EXPECT_EQ(model().statusMessage(), "The chat was not deleted: " + refusal() + ".");
    EXPECT_EQ(model().storeFailure(), model().statusMessage());
    EXPECT_EQ(model().navigation(), NavigationState::chat(chat));
    EXPECT_EQ(model().currentThreadID(), chat);
    ASSERT_EQ(model().threads().size(), 1u);
    EXPECT_EQ(shown(), stored);

    const std::string png = *encodePNG(RGBAImage{2, 2, std::vector<std::uint8_t>(16, 200)});
    {
        FullDisk full(roomForTheFileAsItIs());  // the image file fits; the longer chat does not
        model().acceptDroppedImage(png, "png");
    }
    EXPECT_EQ(model().statusMessage(), "Drop failed: the chat could not keep the image: " + refusal() + ".");
    EXPECT_EQ(model().storeFailure(), model().statusMessage());
    EXPECT_EQ(model().pendingCaptureCount(), 0);
    EXPECT_TRUE(store().pendingCaptures(chat).empty());
    const auto captures = home_.appFolder() / "Captures";
    EXPECT_TRUE(!std::filesystem::exists(captures) || std::filesystem::is_empty(captures)) << "no orphaned image";

    // One dropped while a turn runs is queued when the turn ends: the same there.
    model().dismissStoreFailure();
    model().sendMessage("Go");
    model().acceptDroppedImage(png, "png");
    EXPECT_EQ(model().pendingCaptureCount(), 1);
    {
        FullDisk full(roomForTheFileAsItIs());
        finish("");
    }
    EXPECT_EQ(model().storeFailure(), "Drop failed: the chat could not keep the image: " + refusal() + ".");
    EXPECT_EQ(model().pendingCaptureCount(), 0);
    EXPECT_TRUE(std::filesystem::is_empty(captures)) << "no orphaned image";
}

TEST_F(ChatViewModelRefusedWritesTest, AnUnservedLocalAPIIsToldAndThePluginIsNotCalledMissing) {
    model().reportLoopbackUnavailable("Corvane could not serve its local API on 127.0.0.1:51234: Address in use.");
    advance(ChatViewModel::kPluginCheckDelay + 1);
    EXPECT_EQ(model().loopbackProblem(), "Corvane could not serve its local API on 127.0.0.1:51234: Address in use.");
    EXPECT_FALSE(model().showPluginMissingBanner());
}

}  // namespace
}  // namespace corvane::testing
