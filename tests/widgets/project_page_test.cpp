#include "widgets/project_page.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QContextMenuEvent>
#include <QEventLoop>
#include <QMenu>
#include <QTimer>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>

#include "support/iso8601.h"
#include "transcript/theme.h"
#include "ui/chat_view_model.h"
#include "ui/view_model_fixture.h"
#include "widgets/chat_row.h"
#include "widgets/diagram_painter.h"
#include "widgets/widget_parts.h"
#include "widget_pixels.h"

namespace corvane {
namespace {

// New York, on a day of summer time (UTC-4), in an English locale.
ChatDateContext newYork(const std::string& now) {
    return {QLocale(QLocale::English, QLocale::UnitedStates), QTimeZone("America/New_York"),
            [now] { return *ISO8601::parse(now); }};
}

TEST(FormattedDate, TimeTodayMonthAndDayBeforeNothingForOtherForms) {
    const auto context = newYork("2026-03-10T20:00:00.000Z");  // 4:00 PM there
    const struct {
        const char* updatedAt;
        const char* shown;
    } cases[] = {
        {"2026-03-10T19:07:00.000Z", "3:07 PM"},
        {"2026-03-10T04:00:00.000Z", "12:00 AM"},  // the first minute of the local day
        {"2026-03-10T03:59:00.000Z", "Mar 9"},     // still yesterday there, though today in UTC
        {"2026-03-04T15:07:00.250Z", "Mar 4"},
        {"2025-12-25T12:00:00.000Z", "Dec 25"},
        {"2026-03-10T19:07:00Z", ""},  // no fractional seconds: not the stored form
        {"yesterday", ""},
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(formattedDate(c.updatedAt, context), c.shown) << c.updatedAt;
}

TEST(NewChatField, TrimsHorizontalWhiteSpaceOnly) {
    EXPECT_EQ(trimmedNewChatText("  check the kick \t"), "check the kick");
    EXPECT_EQ(trimmedNewChatText("\u3000\u00a0louder\u2009"), "louder");
    EXPECT_EQ(trimmedNewChatText(" \t "), "");
    EXPECT_EQ(trimmedNewChatText("\nkeep\n"), "\nkeep\n");
}

ConversationSummary summary(std::string id, std::string title, std::string updatedAt,
                            std::optional<std::string> preview = std::nullopt) {
    ConversationSummary s;
    s.threadID = std::move(id);
    s.title = std::move(title);
    s.updatedAt = std::move(updatedAt);
    s.lastMessagePreview = std::move(preview);
    return s;
}

struct Recorded {
    std::vector<std::string> sent, opened, deleted;
};

class ProjectPageTest : public ::testing::Test {
protected:
    std::unique_ptr<ProjectPageView> makePage(std::optional<std::string> name) {
        ProjectPageView::Actions actions{[this](const std::string& t) -> std::optional<std::string> {
                                             calls.sent.push_back(t);
                                             return std::nullopt;
                                         },
                                         [this](const std::string& id) {
                                             calls.opened.push_back(id);
                                             if (afterOpen) afterOpen();
                                         },
                                         [this](const std::string& id) { calls.deleted.push_back(id); }};
        auto page =
            std::make_unique<ProjectPageView>(std::move(name), actions, newYork("2026-03-10T20:00:00.000Z"), clock);
        page->resize(640, 480);
        page->show();
        return page;
    }
    void pressReturn(QWidget* widget) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, "\r");
        QApplication::sendEvent(widget, &press);
    }

    ManualAnimationClock clock;
    Recorded calls;
    std::function<void()> afterOpen;
};

TEST_F(ProjectPageTest, HeaderNamesTheProjectOrNoProject) {
    EXPECT_EQ(makePage(std::string("Night Drive"))->headerText(), "Night Drive");
    auto page = makePage(std::nullopt);
    EXPECT_EQ(page->headerText(), "No project");
    EXPECT_EQ(page->newChatField()->placeholderText(), QString::fromUtf8("Start a new chat\u2026"));
}

TEST_F(ProjectPageTest, ReturnSendsTrimmedTextAndBlankTextStaysInTheField) {
    auto page = makePage(std::string("Night Drive"));
    QLineEdit* field = page->newChatField();
    field->setText("   ");
    pressReturn(field);
    EXPECT_EQ(field->text(), "   ");
    EXPECT_TRUE(calls.sent.empty());

    field->setText("  make the chorus wider  ");
    pressReturn(field);
    EXPECT_EQ(field->text(), "");
    EXPECT_EQ(calls.sent, std::vector<std::string>{"make the chorus wider"});
}

TEST_F(ProjectPageTest, RowsDividersAndEmptyState) {
    auto page = makePage(std::nullopt);
    EXPECT_TRUE(page->showsEmptyState());
    EXPECT_FALSE(page->showsSectionLabel());
    EXPECT_TRUE(page->rows().empty());

    page->setThreads({summary("a", "Vocals", "2026-03-10T19:07:00.000Z", "Turn it up"),
                      summary("b", "", "2026-03-04T15:07:00.000Z"), summary("c", "Drums", "not a date")});
    ASSERT_EQ(page->rows().size(), 3u);
    EXPECT_EQ(page->dividerCount(), 2);
    EXPECT_TRUE(page->showsSectionLabel());
    EXPECT_FALSE(page->showsEmptyState());
    EXPECT_EQ(page->rows()[0]->date(), "3:07 PM");
    EXPECT_EQ(page->rows()[1]->date(), "Mar 4");
    EXPECT_EQ(page->rows()[1]->titleText(), "Chat");
    EXPECT_EQ(page->rows()[2]->date(), "");

    page->setThreads({});
    EXPECT_TRUE(page->showsEmptyState());
    EXPECT_EQ(page->dividerCount(), 0);
}

// Opening a chat changes the threads under the click (the view model reloads them): the
// clicked row must live until its click is over.
TEST_F(ProjectPageTest, RowsOpenAndDeleteTheirOwnThread) {
    auto page = makePage(std::string("Night Drive"));
    page->setThreads({summary("a", "Vocals", "2026-03-10T19:07:00.000Z"), summary("b", "Bass", "x")});
    QPointer<ChatRowView> second = page->rows()[1];
    afterOpen = [&] { page->setThreads({summary("b", "Bass", "x")}); };
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(200, 10), second->mapToGlobal(QPointF(200, 10)), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(200, 10), second->mapToGlobal(QPointF(200, 10)),
                        Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(second, &press);
    QApplication::sendEvent(second, &release);
    EXPECT_EQ(calls.opened, std::vector<std::string>{"b"});
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(second.isNull());
    ASSERT_EQ(page->rows().size(), 1u);

    ChatRowView* row = page->rows()[0];
    row->setHovered(true);
    row->deleteButton()->click();
    EXPECT_TRUE(calls.deleted.empty()) << "asked only once the click is over";
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(calls.deleted, std::vector<std::string>{"b"});
}

}  // namespace
}  // namespace corvane

namespace corvane::testing {
namespace {

// The page bound to a real view model in front of the stores and the simulated Logic Pro.
class BoundProjectPageTest : public ViewModelTest {
protected:
    std::string thread(const std::optional<std::string>& project, const std::string& message) {
        auto& store = controller_->conversationStore();
        const auto id = store.createThread(project).currentThreadID;
        store.append(ConversationRole::user, message, id);
        // Distinct update times, so the newest-first order is the order of creation reversed.
        queue_.advance(0.01);
        return id;
    }
    static std::vector<std::string> ids(const ProjectPageView& page) {
        std::vector<std::string> out;
        for (const auto* row : page.rows()) out.push_back(row->chat().threadID);
        return out;
    }
    static void click(QWidget* row) {
        for (auto type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
            QMouseEvent event(type, QPointF(60, 10), row->mapToGlobal(QPointF(60, 10)), Qt::LeftButton,
                              type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
            QApplication::sendEvent(row, &event);
        }
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
};

TEST_F(BoundProjectPageTest, ListsItsProjectsThreadsOpensSendsAndDeletes) {
    const auto loose = thread(std::nullopt, "no project");
    const auto first = thread(std::string("Night Drive"), "first");
    const auto second = thread(std::string("Night Drive"), "second");
    thread(std::string("Other Song"), "elsewhere");
    model().loadConversations();

    ProjectPageView none(model_, std::nullopt);
    EXPECT_EQ(none.headerText(), "No project");
    EXPECT_EQ(ids(none), std::vector<std::string>{loose});

    ProjectPageView page(model_, std::string("Night Drive"));
    page.show();
    EXPECT_EQ(ids(page), (std::vector<std::string>{second, first}));

    click(page.rows()[1]);
    EXPECT_EQ(model().navigation(), NavigationState::chat(first));
    EXPECT_EQ(model().currentThreadID(), first);

    model().setAlertPresenter([](const ViewModelAlert&) { return std::size_t{0}; });
    page.rows()[0]->setHovered(true);
    page.rows()[0]->deleteButton()->click();
    QCoreApplication::sendPostedEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(ids(page), std::vector<std::string>{first});

    // From the page (not a chat): a new thread of this project, opened, with the trimmed text.
    model().setNavigation(NavigationState::projectPage(std::string("Night Drive")));
    page.newChatField()->setText("  widen the chorus ");
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, "\r");
    QApplication::sendEvent(page.newChatField(), &enter);
    ASSERT_EQ(requests_.size(), 1u);
    EXPECT_EQ(requests_[0].message, "widen the chorus");
    ASSERT_TRUE(model().navigation().isChat());
    EXPECT_EQ(page.rows().size(), 2u);
    EXPECT_EQ(page.rows()[0]->chat().threadID, model().navigation().threadID);

    // While that turn (or its reply's reveal) runs, a new chat's text stays, with the reason.
    model().setNavigation(NavigationState::projectPage(std::string("Night Drive")));
    page.newChatField()->setText("add reverb");
    QApplication::sendEvent(page.newChatField(), &enter);
    EXPECT_EQ(requests_.size(), 1u);
    EXPECT_EQ(page.newChatField()->text(), "add reverb");
    EXPECT_EQ(page.noticeText().toStdString(), ChatViewModel::kTurnRunningNotice);
    EXPECT_FALSE(page.noticeLabel()->isHidden());
    page.newChatField()->setText("add reverb to the vocal");
    EXPECT_TRUE(page.noticeLabel()->isHidden()) << "an edit takes the stale reason away";
}

// The confirmation waits in an event loop of its own. A turn that ends meanwhile renames its chat
// and so rebuilds the rows, the asking row and its menu with them: the answer still deletes the
// chat that was asked about, and the rows built anew still work.
TEST_F(BoundProjectPageTest, ADeleteConfirmedAfterTheRowsWereRebuiltDeletesThatChat) {
    const auto other = thread(std::string("Night Drive"), "other");
    const auto asked = thread(std::string("Night Drive"), "the vocal feels buried");
    auto& store = controller_->conversationStore();
    model().loadConversations();
    model().switchConversation(asked);
    model().setNavigation(NavigationState::chat(asked));
    ASSERT_TRUE(model().sendMessage("listen to the chorus"));
    model().setNavigation(NavigationState::projectPage(std::string("Night Drive")));

    ProjectPageView page(model_, std::string("Night Drive"));
    page.show();
    ASSERT_EQ(ids(page), (std::vector<std::string>{asked, other}));

    std::vector<std::string> questions;
    std::size_t answer = 0;
    model().setAlertPresenter([&](const ViewModelAlert& alert) {
        questions.push_back(alert.messageText);
        if (questions.size() > 1) return answer;
        QEventLoop dialog;
        QTimer::singleShot(0, &dialog, [&] {
            store.updateTitle(asked, "Vocal level");
            finish("Done.");
            QTimer::singleShot(0, &dialog, [&] { dialog.quit(); });
        });
        dialog.exec();
        return answer;
    });
    QMenu* menu = page.rows()[0]->makeContextMenu();
    menu->actions().front()->trigger();
    QCoreApplication::sendPostedEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    EXPECT_EQ(questions, std::vector<std::string>{"Delete \"the vocal feels buried\"?"});
    EXPECT_FALSE(store.existingThreadState(asked));
    EXPECT_TRUE(store.existingThreadState(other));
    EXPECT_EQ(ids(page), std::vector<std::string>{other});

    // The next right-click on the rebuilt list asks about its own chat; a cancel keeps it.
    answer = 1;
    QContextMenuEvent rightClick(QContextMenuEvent::Mouse, QPoint(60, 10), page.rows()[0]->mapToGlobal(QPoint(60, 10)));
    QApplication::sendEvent(page.rows()[0], &rightClick);
    auto* shown = page.rows()[0]->findChild<QMenu*>();
    ASSERT_NE(shown, nullptr);
    shown->actions().front()->trigger();
    shown->close();
    QCoreApplication::sendPostedEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_EQ(questions.size(), 2u);
    EXPECT_EQ(questions[1], "Delete \"other\"?");
    EXPECT_TRUE(store.existingThreadState(other));
}

// The reason a new chat's text was not sent is over with the turn that caused it.
TEST_F(BoundProjectPageTest, TheStillWorkingNoticeGoesWhenTheTurnEnds) {
    const auto running = thread(std::string("Night Drive"), "check the vocal");
    model().loadConversations();
    model().switchConversation(running);
    model().setNavigation(NavigationState::chat(running));
    ASSERT_TRUE(model().sendMessage("listen to the chorus"));
    model().setNavigation(NavigationState::projectPage(std::string("Night Drive")));
    ProjectPageView page(model_, std::string("Night Drive"));
    page.show();
    page.newChatField()->setText("add reverb");
    page.submitNewChat();
    ASSERT_EQ(page.noticeText().toStdString(), ChatViewModel::kTurnRunningNotice);
    ASSERT_FALSE(page.noticeLabel()->isHidden());

    finish("Done.", running);
    advance(2.0);
    ASSERT_FALSE(model().isBusy());
    EXPECT_TRUE(page.noticeLabel()->isHidden());
    EXPECT_EQ(page.newChatField()->text(), "add reverb");
    page.submitNewChat();
    EXPECT_EQ(requests_.size(), 2u);
}

// Return answers Cancel, in the Delete question as in the Clear one; the destructive button takes
// a click, or the focus and Space.
TEST(ViewModelAlertBox, WarningWithItsButtonsInOrderDeleteDestructiveAndCancelOnEscapeAndReturn) {
    ViewModelAlert alert{
        ViewModelAlert::Style::warning, "Delete \"Vocals\"?", "This can't be undone.", {"Delete", "Cancel"}, 0};
    std::unique_ptr<QMessageBox> box(makeAlertBox(alert));
    EXPECT_EQ(box->icon(), QMessageBox::Warning);
    EXPECT_EQ(box->text(), "Delete \"Vocals\"?");
    EXPECT_EQ(box->informativeText(), "This can't be undone.");
    ASSERT_EQ(box->buttons().size(), 2);
    QAbstractButton* remove = nullptr;
    for (QAbstractButton* button : box->buttons())
        if (button->text() == "Delete") remove = button;
    ASSERT_NE(remove, nullptr);
    EXPECT_EQ(box->buttonRole(remove), QMessageBox::DestructiveRole);
    ASSERT_NE(box->escapeButton(), nullptr);
    EXPECT_EQ(box->escapeButton()->text(), "Cancel");
    ASSERT_NE(box->defaultButton(), nullptr);
    EXPECT_EQ(box->defaultButton()->text(), "Cancel");
    for (const char* title : {"Delete", "Clear"}) {
        ViewModelAlert question = alert;
        question.buttons[0] = title;
        std::unique_ptr<QMessageBox> shown(makeAlertBox(question));
        shown->show();
        QApplication::processEvents();
        ASSERT_NE(shown->focusWidget(), nullptr);
        EXPECT_EQ(static_cast<QAbstractButton*>(shown->focusWidget())->text(), "Cancel") << title;
        QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, "\r");
        QApplication::sendEvent(shown->focusWidget(), &enter);
        ASSERT_NE(shown->clickedButton(), nullptr) << title;
        EXPECT_EQ(shown->clickedButton()->text(), "Cancel") << title;
    }
    // Dark like the window, whatever the desktop's colours.
    box->resize(420, 160);
    const QImage image = box->grab().toImage();
    EXPECT_EQ(image.pixelColor(2, 2), toQColor(CorvaneTheme::background));
    EXPECT_EQ(box->palette().color(QPalette::ButtonText), white(0.9));
}

}  // namespace
}  // namespace corvane::testing
