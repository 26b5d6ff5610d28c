// The window as the user meets it: the root view bound to the view model, with the real sidebar,
// song page, transcript and input bar, in a window that has the keyboard.

#include "widgets/shell_views.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <functional>
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

// A chat opened from the song page left the focus nowhere, so what was typed next was lost; a chat
// row could not take the focus at all, and nothing showed where Tab had gone.
TEST_F(ShellViewsTest, EveryWayOfOpeningAChatLeavesTheFocusInItsMessageField) {
    const auto ringBeside = [&](QWidget* control) {
        const QImage shot = root_->grab().toImage();
        const double scale = shot.width() / double(root_->width());
        const QRect at(control->mapTo(root_.get(), QPoint(0, 0)), control->size());
        const QColor c = shot.pixelColor(int((at.left() - 2) * scale), int(at.center().y() * scale));
        return c.blue() > 150 && c.blue() > c.red() + 60;
    };
    const struct {
        const char* name;
        std::function<void()> open;
    } ways[] = {
        {"Return in the song page's field, once the turn it starts has ended",
         [&] {
             page()->newChatField()->setFocus(Qt::MouseFocusReason);
             type("Check it");
             press(Qt::Key_Return);
             ASSERT_EQ(requests_.size(), 1u);
             EXPECT_FALSE(bar()->textArea()->isEnabled()) << "the turn holds the field";
             finish("Done.");
             advance(1.0);  // the reveal
             ASSERT_FALSE(model().isBusy());
         }},
        {"a click on its row", [&] { click(*page()->rows()[0]); }},
        {"Tab to its row, then Return",
         [&] {
             page()->newChatField()->setFocus(Qt::MouseFocusReason);
             press(Qt::Key_Tab);
             ASSERT_EQ(QApplication::focusWidget(), page()->rows()[0]);
             EXPECT_TRUE(ringBeside(page()->rows()[0])) << "no ring shows where the focus is";
             press(Qt::Key_Return);
         }},
    };
    for (const auto& way : ways) {
        SCOPED_TRACE(way.name);
        model().setNavigation(NavigationState::projectPage(std::string("Demo Song")));
        QCoreApplication::processEvents();  // the page's rebuilt list shows
        bar()->setMessageText("");
        way.open();
        ASSERT_TRUE(model().navigation().isChat());
        type("louder");
        EXPECT_EQ(bar()->messageText(), "louder");
    }
}

}  // namespace
}  // namespace corvane::testing
