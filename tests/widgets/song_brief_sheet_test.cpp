#include "widgets/song_brief_sheet.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QPushButton>

#include <filesystem>

#include "conversation/conversation_store.h"
#include "test_support/full_disk.h"
#include "ui/chat_view_model.h"
#include "ui/view_model_fixture.h"

#include "widget_events.h"
#include "widget_pixels.h"

namespace corvane {
namespace {

class SongBriefSheetTest : public ::testing::Test {
protected:
    std::unique_ptr<SongBriefEditorSheet> open(const std::string& brief) {
        auto sheet =
            std::make_unique<SongBriefEditorSheet>(brief, [this](const std::string& t) { saved.push_back(t); });
        sheet->show();
        return sheet;
    }
    void key(QWidget* target, int key) {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, key == Qt::Key_Return ? "\r" : "");
        QApplication::sendEvent(target, &press);
    }
    std::vector<std::string> saved;
};

TEST_F(SongBriefSheetTest, SaveHandsOverTheTextExactlyAsTyped) {
    const std::string brief = "\n\n  Dream pop, \u00a0like early Beach House.\n\tWide chorus.  \n\n";
    auto sheet = open("old");
    EXPECT_EQ(sheet->text(), "old");
    sheet->editor()->setPlainText(QString::fromUtf8(brief));
    sheet->saveButton()->click();
    EXPECT_EQ(saved, std::vector<std::string>{brief});
    EXPECT_FALSE(sheet->isVisible());

    auto emptied = open("something");
    emptied->editor()->clear();
    emptied->saveButton()->click();
    EXPECT_EQ(saved.back(), "");
}

TEST_F(SongBriefSheetTest, CancelDropsTheEdits) {
    auto sheet = open("");
    EXPECT_EQ(sheet->text(), "");
    sheet->editor()->setPlainText("half a thought");
    sheet->cancelButton()->click();
    EXPECT_FALSE(sheet->isVisible());
    EXPECT_TRUE(saved.empty());
    EXPECT_EQ(sheet->width(), 400);
}

// The sheet could be left only with the mouse: Escape, Return and Enter did nothing, and Tab
// typed a tab. Keys go where a person's would, to what has the focus.
TEST_F(SongBriefSheetTest, EscapeCancelsTabMovesOnAndReturnBreaksTheLineWithoutPressingAButton) {
    auto sheet = open("half a thought");
    sheet->activateWindow();
    ASSERT_TRUE(testing::pumpUntil([&] { return QApplication::activeWindow() == sheet.get(); }));
    sheet->editor()->setFocus(Qt::MouseFocusReason);
    sheet->editor()->moveCursor(QTextCursor::End);
    auto typed = [](int code) {
        QWidget* target = QApplication::focusWidget();
        ASSERT_NE(target, nullptr);
        QKeyEvent press(QEvent::KeyPress, code, Qt::NoModifier,
                        code == Qt::Key_Return || code == Qt::Key_Enter ? "\r" : code == Qt::Key_Tab ? "\t" : "");
        QApplication::sendEvent(target, &press);
    };
    typed(Qt::Key_Return);
    typed(Qt::Key_Enter);
    EXPECT_EQ(sheet->text(), "half a thought\n\n");
    EXPECT_TRUE(sheet->isVisible());

    typed(Qt::Key_Tab);
    EXPECT_EQ(sheet->text(), "half a thought\n\n") << "Tab typed into the brief";
    EXPECT_EQ(QApplication::focusWidget(), sheet->cancelButton());
    typed(Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), sheet->saveButton());
    typed(Qt::Key_Return);
    EXPECT_TRUE(sheet->isVisible()) << "Save is no key of the sheet";
    EXPECT_TRUE(saved.empty());

    typed(Qt::Key_Escape);
    EXPECT_FALSE(sheet->isVisible());
    EXPECT_EQ(sheet->result(), QDialog::Rejected);
    EXPECT_TRUE(saved.empty());
}

}  // namespace
}  // namespace corvane

namespace corvane::testing {
namespace {

class SongBriefPresenterTest : public ViewModelTest {};

TEST_F(SongBriefPresenterTest, SeedsWithTheThreadsBriefSavesThroughTheViewModelAndCancelKeepsIt) {
    auto& store = controller_->conversationStore();
    const auto id = store.createThread(std::string("Night Drive")).currentThreadID;
    store.updateSongBrief(std::string("Dream pop"), id);
    model().loadConversations();
    model().switchConversation(id);

    std::unique_ptr<SongBriefEditorSheet> sheet(makeSongBriefEditor(model_, nullptr));
    sheet->show();
    EXPECT_EQ(sheet->text(), "Dream pop");
    sheet->editor()->setPlainText("half a thought");
    sheet->cancelButton()->click();
    EXPECT_EQ(model().songBrief(), "Dream pop");

    sheet.reset(makeSongBriefEditor(model_, nullptr));
    sheet->show();
    EXPECT_EQ(sheet->text(), "Dream pop");
    sheet->editor()->setPlainText("Dream pop, 92 BPM\n");
    sheet->saveButton()->click();
    // The store trims what the sheet hands over as typed.
    EXPECT_EQ(model().songBrief(), "Dream pop, 92 BPM");
    EXPECT_EQ(store.conversationState(id).songBrief, "Dream pop, 92 BPM");
}

// Another copy of the program on the same folder changes the brief: the sheet opens with the
// brief as stored, the top bar shows it too, and a save over a brief changed while the sheet was
// open is refused with the stored text shown; only a second Save replaces it.
TEST_F(SongBriefPresenterTest, OpensWithTheStoredBriefAndNeverSilentlyOverwritesAnotherCopysChange) {
    auto& store = controller_->conversationStore();
    const auto id = store.createThread(std::string("Night Drive")).currentThreadID;
    store.updateSongBrief(std::string("SECOND"), id);
    model().loadConversations();
    model().switchConversation(id);
    model().setNavigation(NavigationState::chat(id));
    ASSERT_EQ(model().songBrief(), "SECOND");
    const auto otherCopySets = [&](const std::string& brief) {
        ConversationStore other;
        ASSERT_TRUE(other.updateSongBrief(brief, id).ok);
    };

    otherCopySets("THIRD");
    std::unique_ptr<SongBriefEditorSheet> sheet(makeSongBriefEditor(model_, nullptr));
    sheet->show();
    EXPECT_EQ(sheet->text(), "THIRD");
    EXPECT_EQ(model().songBrief(), "THIRD") << "the brief under the top bar";

    otherCopySets("FOURTH");
    sheet->editor()->setPlainText("THIRD + window edit");
    sheet->saveButton()->click();
    EXPECT_EQ(store.songBrief(id), "FOURTH") << "not written over";
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_EQ(sheet->text(), "THIRD + window edit") << "the user's text stays";
    EXPECT_NE(sheet->notice().find("FOURTH"), std::string::npos) << sheet->notice();
    EXPECT_EQ(model().songBrief(), "FOURTH");
    EXPECT_NE(model().statusMessage().find("changed elsewhere"), std::string::npos);

    sheet->saveButton()->click();
    EXPECT_EQ(store.songBrief(id), "THIRD + window edit");
    EXPECT_FALSE(sheet->isVisible());
    EXPECT_EQ(model().songBrief(), "THIRD + window edit");
    EXPECT_EQ(model().statusMessage(), "Saved.");

    // The disk refuses it: said in the sheet and the window, the sheet stays open with the text
    // typed, and a Save once the disk has room stores it.
    sheet.reset(makeSongBriefEditor(model_, nullptr));
    sheet->show();
    sheet->editor()->setPlainText("THIRD + window edit, and a good deal more");
    {
        FullDisk full(std::filesystem::file_size(store.fileURL()));
        sheet->saveButton()->click();
    }
    const std::string refused =
        "The song brief was not saved: " + store.fileURL().string() + " could not be written: File too large.";
    EXPECT_EQ(model().storeFailure(), refused);
    EXPECT_TRUE(sheet->isVisible()) << "the text typed was lost with the sheet";
    EXPECT_EQ(sheet->text(), "THIRD + window edit, and a good deal more");
    EXPECT_EQ(sheet->notice(), refused);
    EXPECT_EQ(store.songBrief(id), "THIRD + window edit");
    sheet->saveButton()->click();
    EXPECT_FALSE(sheet->isVisible());
    EXPECT_EQ(store.songBrief(id), "THIRD + window edit, and a good deal more");

    // The chat deleted by the other copy meanwhile: told, and nothing brought back.
    sheet.reset(makeSongBriefEditor(model_, nullptr));
    sheet->show();
    ConversationStore().deleteThread(id);
    sheet->saveButton()->click();
    EXPECT_FALSE(sheet->isVisible());
    EXPECT_EQ(model().storeFailure(), "The song brief was not saved: the chat no longer exists.");
    EXPECT_TRUE(store.conversationState().threads.empty());
}

// B's sheet is open when A's turn ends: Save goes to B, A's brief stays.
TEST_F(SongBriefPresenterTest, SavesToTheThreadItWasOpenedForWhenAnotherThreadsTurnEnds) {
    auto& store = controller_->conversationStore();
    const auto b = store.createThread(std::string("Night Drive")).currentThreadID;
    store.updateSongBrief(std::string("B brief"), b);
    model().loadConversations();
    model().sendMessage("Go");
    const auto a = model().currentThreadID();
    store.updateSongBrief(std::string("A brief"), a);
    model().switchConversation(b);
    model().setNavigation(NavigationState::chat(b));

    std::unique_ptr<SongBriefEditorSheet> sheet(makeSongBriefEditor(model_, nullptr));
    sheet->show();
    finish("Done", a);
    sheet->editor()->setPlainText("B brief, 120 BPM");
    sheet->saveButton()->click();
    EXPECT_EQ(store.conversationState(b).songBrief, "B brief, 120 BPM");
    EXPECT_EQ(store.conversationState(a).songBrief, "A brief");
    EXPECT_EQ(model().songBrief(), "B brief, 120 BPM");
}

}  // namespace
}  // namespace corvane::testing
