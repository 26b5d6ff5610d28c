// The chat's input bar bound to the view model, where what the user typed must never go astray:
// a chat another copy of the app deleted, and a turn's "still working" reason.

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QTextEdit>

#include "conversation/conversation_store.h"
#include "ui/view_model_fixture.h"
#include "widgets/bar_bindings.h"
#include "widgets/hover_button.h"
#include "widgets/input_bar.h"
#include "widget_events.h"

namespace corvane::testing {
namespace {

class ChatInputBindingTest : public ViewModelTest {
protected:
    void SetUp() override {
        ViewModelTest::SetUp();
        auto& store = controller_->conversationStore();
        kept_ = store.createThread(std::string("Night Drive")).currentThreadID;
        store.append(ConversationRole::user, "the kept chat", kept_);
        queue_.advance(0.01);
        open_ = store.createThread(std::string("Night Drive")).currentThreadID;
        store.append(ConversationRole::user, "the vocal feels buried", open_);
        store.append(ConversationRole::assistant, "It sits 4 dB under the guitars.", open_);
        model().loadConversations();
        model().switchConversation(open_);
        model().setNavigation(NavigationState::chat(open_));
        bar_.reset(makeInputBar(model_, [this] { model().stopTurn(); }));
        bar_->show();
    }
    void TearDown() override {
        bar_.reset();
        ViewModelTest::TearDown();
    }
    void type(const std::string& text) {
        bar_->setMessageText(text);
        QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, "\r");
        QApplication::sendEvent(bar_->textArea(), &enter);
    }
    // The other copy of the app: its own store on the same file. The window's store reads the file
    // again when it changed on disk, whichever process changed it.
    void deleteInTheOtherCopy(const std::string& threadID) {
        ConversationStore other;
        ASSERT_TRUE(other.deleteThread(threadID).ok);
    }
    std::size_t storedEntries(const std::string& threadID) {
        const auto state = controller_->conversationStore().existingThreadState(threadID);
        return state ? state->entries.size() : 0;
    }

    std::string kept_, open_;
    std::unique_ptr<MessageInputView> bar_;
};

TEST_F(ChatInputBindingTest, AMessageInAChatAnotherCopyDeletedIsRefusedAndTheWindowStays) {
    deleteInTheOtherCopy(open_);
    type("Make the vocal louder");
    EXPECT_TRUE(requests_.empty()) << "no turn for a chat that is gone";
    EXPECT_EQ(bar_->messageText(), "Make the vocal louder");
    EXPECT_EQ(bar_->noticeText().toStdString(), ChatViewModel::kDeletedChatNotice);
    EXPECT_FALSE(bar_->noticeLabel()->isHidden());
    EXPECT_EQ(model().navigation(), NavigationState::chat(open_));
    EXPECT_EQ(model().currentThreadID(), open_);
    ASSERT_EQ(model().entries().size(), 2u);
    EXPECT_EQ(model().entries()[0].content, "the vocal feels buried");
    EXPECT_EQ(storedEntries(kept_), 1u) << "nothing went into another chat";
    // The list no longer offers the deleted chat.
    ASSERT_EQ(model().threads().size(), 1u);
    EXPECT_EQ(model().threads()[0].threadID, kept_);

    type("Make the vocal louder");
    EXPECT_TRUE(requests_.empty());
    EXPECT_EQ(model().currentThreadID(), open_);
    EXPECT_EQ(storedEntries(kept_), 1u);
}

// The refusal was told of the chat another copy deleted, and stayed over every other chat opened
// after it.
TEST_F(ChatInputBindingTest, TheDeletedChatsRefusalGoesWhenAnotherChatIsOpenedAndTheTextGoesThere) {
    deleteInTheOtherCopy(open_);
    type("Make the vocal louder");
    ASSERT_EQ(bar_->noticeText().toStdString(), ChatViewModel::kDeletedChatNotice);
    model().switchConversation(kept_);
    model().setNavigation(NavigationState::chat(kept_));
    EXPECT_TRUE(bar_->noticeLabel()->isHidden());
    EXPECT_EQ(bar_->messageText(), "Make the vocal louder");
    type("Make the vocal louder");
    ASSERT_EQ(requests_.size(), 1u);
    EXPECT_EQ(requests_[0].threadID, kept_);
}

// Deleted while its turn ran: the turn's end does not open another chat in its place, and the
// next message is refused as above.
TEST_F(ChatInputBindingTest, AChatDeletedDuringItsTurnStaysShownAndTakesNoFurtherMessage) {
    type("Make the vocal louder");
    ASSERT_EQ(requests_.size(), 1u);
    deleteInTheOtherCopy(open_);
    finish("Raised it by 2 dB.", open_);
    advance(2.0);
    ASSERT_FALSE(model().isBusy());
    EXPECT_EQ(model().navigation(), NavigationState::chat(open_));
    EXPECT_EQ(model().currentThreadID(), open_);
    ASSERT_FALSE(model().entries().empty());
    EXPECT_EQ(model().entries().back().content, "Make the vocal louder");
    EXPECT_FALSE(model().storeFailure().empty());

    type("and the guitars down");
    EXPECT_EQ(requests_.size(), 1u);
    EXPECT_EQ(bar_->messageText(), "and the guitars down");
    EXPECT_EQ(storedEntries(kept_), 1u);
}

// Typed during a turn (after Stop), the message is refused with a reason that is over with the
// turn: the reason goes then, and the text stays to be sent.
TEST_F(ChatInputBindingTest, TheStillWorkingReasonGoesWithTheTurnAndTheTextStays) {
    type("Make the vocal louder");
    ASSERT_EQ(requests_.size(), 1u);
    click(*bar_->sendButton());  // Stop
    ASSERT_TRUE(bar_->textArea()->isEnabled());
    type("and the kick punchier");
    EXPECT_EQ(bar_->noticeText().toStdString(), ChatViewModel::kTurnRunningNotice);
    finish("Done.", open_);
    advance(2.0);
    ASSERT_FALSE(model().isBusy());
    EXPECT_TRUE(bar_->noticeLabel()->isHidden());
    EXPECT_EQ(bar_->messageText(), "and the kick punchier");
}

}  // namespace
}  // namespace corvane::testing
