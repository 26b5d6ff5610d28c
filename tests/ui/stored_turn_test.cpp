// What the conversation file keeps of a turn when the disk or another copy of the program gets in
// its way: always a whole beginning of the chat, and no image that no chat holds.

#include <filesystem>

#include "support/image_encoding.h"
#include "test_support/full_disk.h"
#include "ui/chat_view_model.h"
#include "ui/view_model_fixture.h"

namespace corvane::testing {
namespace {

class StoredTurnTest : public ViewModelTest {
protected:
    ConversationStore& store() { return controller_->conversationStore(); }
    std::string chatWithOneExchange() {
        const auto id = store().createThread(std::string("Demo Song")).currentThreadID;
        store().append(ConversationRole::user, "Earlier", id);
        store().append(ConversationRole::assistant, "Earlier reply", id);
        model().loadConversations();
        model().switchConversation(id);
        model().setNavigation(NavigationState::chat(id));
        return id;
    }
    std::vector<std::string> stored(const std::string& id) {
        std::vector<std::string> lines;
        for (const auto& entry : store().conversationState(id).entries)
            lines.push_back(toString(entry.role) + ":" + entry.content.substr(0, 20));
        return lines;
    }
};

// A long message on a nearly full disk: its entry is refused, the reply would fit. Stored alone,
// the reply would come back after a restart without its question, and the next turn's history
// would lack the question the window shows.
TEST_F(StoredTurnTest, AfterARefusedEntryNoLaterEntryOfTheTurnIsStored) {
    fakeTurns_ = false;
    const auto chat = chatWithOneExchange();
    transport_->reply(respondReply("Louder now."));
    const std::string longMessage = "Make the vocal louder " + std::string(200 * 1024, 'x');
    {
        FullDisk full(std::filesystem::file_size(store().fileURL()) + 16 * 1024);
        ASSERT_TRUE(model().sendMessage(longMessage));
        waitForTurnEvents();
    }
    EXPECT_EQ(stored(chat), (std::vector<std::string>{"user:Earlier", "assistant:Earlier reply"}));
    EXPECT_NE(model().storeFailure().find("The chat could not be saved"), std::string::npos) << "and it is told";
}

// Another copy deletes the chat while its turn runs and an image waits for the turn's end: the
// image's file goes, as for any drop the chat could not keep, instead of staying on disk for good.
TEST_F(StoredTurnTest, AnImageDroppedDuringATurnGoesWhenItsChatWasDeletedMeanwhile) {
    const auto chat = chatWithOneExchange();
    ASSERT_TRUE(model().sendMessage("Go"));
    model().acceptDroppedImage(*encodePNG(RGBAImage{2, 2, std::vector<std::uint8_t>(16, 200)}), "png");
    const auto captures = home_.appFolder() / "Captures";
    ASSERT_FALSE(std::filesystem::is_empty(captures));

    EXPECT_TRUE(store().deleteThread(chat).ok);
    EXPECT_FALSE(store().appendPendingCapture(CaptureMetadata{}, chat)) << "a chat that is gone takes nothing";
    EXPECT_EQ(store().lastFailure(), ConversationStore::kGoneThreadFailure);
    finish("");

    EXPECT_TRUE(std::filesystem::is_empty(captures)) << "no orphaned image";
    EXPECT_EQ(model().pendingCaptureCount(), 0);
    EXPECT_TRUE(store().conversationState().threads.empty()) << "the deleted chat is not brought back";
}

// The program quit mid-turn: after the restart the chat ends with the question, and the tool calls
// the turn had stored, which says why; not while another copy sharing the folder is still working
// on it.
TEST_F(StoredTurnTest, AQuestionLeftWithoutItsReplySaysWhyAfterARestart) {
    const auto id = store().createThread(std::string("Demo Song")).currentThreadID;
    store().append(ConversationRole::user, "Check the mix balance", id);
    store().appendToolCall(toolCall("c1", 0), 0, id);
    store().append(ConversationRole::tool, "{\"status\":\"ok\"}", id);
    auto lastShown = [&] {
        model().switchConversation(id);
        const auto& items = model().transcriptItems();
        const auto* entry = items.empty() ? nullptr : std::get_if<ConversationEntry>(&items.back().value);
        return entry ? entry->content : std::string();
    };
    model().loadConversations();
    {
        ConversationStore otherCopy;
        const FileLock working = otherCopy.lockChatTurn(id);
        EXPECT_EQ(lastShown(), "") << "the turn's card, and no note";
    }
    EXPECT_EQ(lastShown(), ChatViewModel::kUnansweredNote);
    store().append(ConversationRole::assistant, "Balanced.", id);
    EXPECT_EQ(lastShown(), "Balanced.");

    // A later question does not take the note from the one left without its reply.
    store().append(ConversationRole::user, "Check the vocal", id);
    store().append(ConversationRole::user, "Check the drums", id);
    store().append(ConversationRole::assistant, "Tight.", id);
    lastShown();
    std::vector<std::string> shown;
    for (const auto& item : model().transcriptItems())
        if (const auto* entry = std::get_if<ConversationEntry>(&item.value)) shown.push_back(entry->content);
    EXPECT_EQ(shown, (std::vector<std::string>{"Check the mix balance", "Balanced.", "Check the vocal",
                                               ChatViewModel::kUnansweredNote, "Check the drums", "Tight."}));
}

// Stopped before it answered, a turn leaves its question without a reply: the chat says so as the
// turn ends, and again when it is opened anew.
TEST_F(StoredTurnTest, AStoppedTurnsQuestionSaysNoReplyWasStored) {
    fakeTurns_ = false;
    const auto other = store().createThread(std::string("Demo Song")).currentThreadID;
    const auto chat = chatWithOneExchange();
    Gate backend;
    transport_->hold(backend);
    ASSERT_TRUE(model().sendMessage("Check the balance"));
    backend.waitForArrival();
    model().stopTurn();
    waitForTurnEvents();
    ASSERT_FALSE(model().isTurnRunning());
    EXPECT_EQ(stored(chat), (std::vector<std::string>{"user:Earlier", "assistant:Earlier reply",
                                                      "user:Check the balance"}));
    const auto lastShown = [&] {
        const auto& items = model().transcriptItems();
        const auto* entry = items.empty() ? nullptr : std::get_if<ConversationEntry>(&items.back().value);
        return entry ? entry->content : std::string();
    };
    EXPECT_EQ(lastShown(), ChatViewModel::kUnansweredNote) << "as the turn ends";
    model().switchConversation(other);
    model().switchConversation(chat);
    EXPECT_EQ(lastShown(), ChatViewModel::kUnansweredNote) << "opened again";
}

}  // namespace
}  // namespace corvane::testing
