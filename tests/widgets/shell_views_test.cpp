// The window as the user meets it: the root view bound to the view model, with the real sidebar,
// song page, transcript and input bar, in a window that has the keyboard.

#include "widgets/shell_views.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTextEdit>

#include "ui/view_model_fixture.h"
#include "widgets/chat_row.h"
#include "widgets/input_bar.h"
#include "widgets/project_page.h"
#include "widget_events.h"
#include "widget_pixels.h"

namespace corvane::testing {
namespace {

class ShellViewsTest : public ViewModelTest {
protected:
    void SetUp() override {
        ViewModelTest::SetUp();
        auto& store = controller_->conversationStore();
        chat_ = store.createThread(std::string("Demo Song")).currentThreadID;
        store.append(ConversationRole::user, "the vocal feels buried", chat_);
        store.append(ConversationRole::assistant, "It sits 4 dB under the guitars.", chat_);
        model();
        views_ = makeShellViews(model_, auth_, authChanges_, nullptr);
        root_.reset(makeCompanionRootView(model_, auth_, nullptr, "", views_));
        root_->resize(1000, 700);
        root_->show();
        root_->activateWindow();
        ASSERT_TRUE(pumpUntil([&] { return QApplication::activeWindow() == root_.get(); }));
        ASSERT_FALSE(model().navigation().isChat());
    }
    void TearDown() override {
        root_.reset();
        ViewModelTest::TearDown();
    }
    ProjectPageView* page() const { return dynamic_cast<ProjectPageView*>(root_->projectPage()); }
    MessageInputView* bar() const {
        for (QWidget* child : root_->chatPane()->findChildren<QWidget*>())
            if (auto* found = dynamic_cast<MessageInputView*>(child)) return found;
        return nullptr;
    }
    // Typed as a person types: to whatever has the focus, which is nothing when nothing has it.
    void type(const QString& text) {
        for (const QChar c : text) {
            QWidget* target = QApplication::focusWidget();
            if (!target) return;
            QKeyEvent press(QEvent::KeyPress, int(c.toUpper().unicode()), Qt::NoModifier, QString(c));
            QApplication::sendEvent(target, &press);
        }
    }
    void press(int key) {
        QWidget* target = QApplication::focusWidget();
        ASSERT_NE(target, nullptr);
        QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier, key == Qt::Key_Return ? "\r" : "");
        QApplication::sendEvent(target, &event);
    }

    networking::AuthService auth_;
    AuthChangeFanout authChanges_;
    ShellViews views_;
    std::unique_ptr<CompanionRootView> root_;
    std::string chat_;
};

// A chat opened from the song page left the focus nowhere: what was typed next was lost.
TEST_F(ShellViewsTest, OpeningAChatLeavesTheFocusInItsMessageField) {
    ASSERT_NE(page(), nullptr);
    ASSERT_EQ(page()->rows().size(), 1u);
    click(*page()->rows()[0]);
    ASSERT_EQ(model().navigation(), NavigationState::chat(chat_));
    type("louder");
    EXPECT_EQ(bar()->messageText(), "louder");
}

// Started with Return in the song page's field, the chat's turn holds the field; once it has
// ended, typing goes there.
TEST_F(ShellViewsTest, AChatStartedFromTheSongPageTakesTypingOnceItsTurnHasEnded) {
    page()->newChatField()->setFocus(Qt::MouseFocusReason);
    type("Check it");
    press(Qt::Key_Return);
    ASSERT_EQ(requests_.size(), 1u);
    ASSERT_TRUE(model().navigation().isChat());
    EXPECT_FALSE(bar()->textArea()->isEnabled());
    finish("Done.");
    advance(1.0);  // the reveal
    ASSERT_FALSE(model().isBusy());
    type("louder");
    EXPECT_EQ(bar()->messageText(), "louder");
}

// Chat rows could not take the focus, so no chat could be opened without the mouse; and nothing
// showed where Tab had gone.
TEST_F(ShellViewsTest, TabReachesAChatRowWithARingAroundItAndReturnOpensIt) {
    page()->newChatField()->setFocus(Qt::MouseFocusReason);
    press(Qt::Key_Tab);
    ChatRowView* row = page()->rows()[0];
    ASSERT_EQ(QApplication::focusWidget(), row);
    const QImage shot = root_->grab().toImage();
    const double scale = shot.width() / double(root_->width());
    const QRect at(row->mapTo(root_.get(), QPoint(0, 0)), row->size());
    const QColor beside = shot.pixelColor(int((at.left() - 2) * scale), int(at.center().y() * scale));
    EXPECT_TRUE(beside.blue() > 150 && beside.blue() > beside.red() + 60) << "no ring beside the focused row";

    press(Qt::Key_Return);
    ASSERT_EQ(model().navigation(), NavigationState::chat(chat_));
    type("louder");
    EXPECT_EQ(bar()->messageText(), "louder");
}

}  // namespace
}  // namespace corvane::testing
