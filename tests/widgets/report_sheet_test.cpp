#include "widgets/report_sheet.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <optional>

#include "support/unicode.h"
#include "ui/chat_view_model.h"
#include "ui/view_model_fixture.h"
#include "widget_pixels.h"
#include "widgets/shell_views.h"

namespace corvane {
namespace {

std::string repeat(const std::string& piece, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += piece;
    return out;
}

TEST(ReportPreview, WholeUpTo240CharactersElseCutWithAnEllipsis) {
    const std::string ellipsis = "\u2026";
    const std::string e = "e\u0301";  // one character of two code points
    const struct {
        std::string snippet;
        std::string preview;
    } cases[] = {
        {repeat("a", 240), repeat("a", 240)},
        {repeat("a", 241), repeat("a", 240) + ellipsis},
        {"\n\n  " + repeat("b", 240) + " \n\n", repeat("b", 240)},
        {repeat(e, 240), repeat(e, 240)},
        {repeat(e, 241), repeat(e, 240) + ellipsis},
        {" \n ", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(reportPreviewText(c.snippet), c.preview) << c.snippet;
        EXPECT_LE(text::graphemeCount(reportPreviewText(c.snippet)), 241u);
    }
}

class ReportSheetTest : public ::testing::Test {
protected:
    void SetUp() override {
        sheet = std::make_unique<ReportSheetView>("The vocal sits 4 dB under the kick.",
                                                  [this](const std::string& d) { sent.push_back(d); });
        sheet->show();
    }
    void key(QWidget* target, int key) {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, key == Qt::Key_Return ? "\r" : "");
        QApplication::sendEvent(target, &press);
    }

    std::vector<std::string> sent;
    std::unique_ptr<ReportSheetView> sheet;
};

TEST_F(ReportSheetTest, SendsTheTrimmedDescriptionEvenWhenBlankAndCloses) {
    sheet->descriptionEditor()->setPlainText("  \n It moved the wrong fader.\nTwice. \n\n");
    sheet->sendButton()->click();
    EXPECT_EQ(sent, std::vector<std::string>{"It moved the wrong fader.\nTwice."});
    EXPECT_FALSE(sheet->isVisible());
    EXPECT_EQ(sheet->result(), QDialog::Accepted);

    SetUp();
    sheet->descriptionEditor()->setPlainText(" \n ");
    sheet->sendButton()->click();
    EXPECT_EQ(sent.back(), "");
}

TEST_F(ReportSheetTest, ReturnOutsideTheEditorSendsEscapeCancelsReturnInsideBreaksTheLine) {
    EXPECT_TRUE(sheet->sendButton()->isDefault());
    EXPECT_FALSE(sheet->cancelButton()->autoDefault());
    sheet->descriptionEditor()->setPlainText("wrong");
    sheet->descriptionEditor()->moveCursor(QTextCursor::End);
    key(sheet->descriptionEditor(), Qt::Key_Return);
    EXPECT_TRUE(sent.empty());
    EXPECT_EQ(sheet->descriptionEditor()->toPlainText(), "wrong\n");

    key(sheet->cancelButton(), Qt::Key_Return);
    EXPECT_EQ(sent, std::vector<std::string>{"wrong"});
    EXPECT_FALSE(sheet->isVisible());

    SetUp();
    key(sheet.get(), Qt::Key_Escape);
    EXPECT_FALSE(sheet->isVisible());
    EXPECT_EQ(sheet->result(), QDialog::Rejected);
    EXPECT_EQ(sent.size(), 1u);
}

TEST_F(ReportSheetTest, PreviewShowsAtMostThreeLinesEndingInAnEllipsis) {
    ReportSheetView longer(repeat("word ", 200), {});
    const QStringList lines = longer.shownPreviewLines();
    ASSERT_EQ(lines.size(), 3);
    EXPECT_TRUE(lines.back().endsWith(QChar(0x2026)));

    ReportSheetView shortOne("one\ntwo", {});
    EXPECT_EQ(shortOne.shownPreviewLines(), (QStringList{"one", "two"}));
    ReportSheetView broken("1\n2\n3\n4", {});
    EXPECT_EQ(broken.shownPreviewLines(), (QStringList{"1", "2", QString("3") + QChar(0x2026)}));
    EXPECT_EQ(sheet->width(), 440);
}

}  // namespace
}  // namespace corvane

namespace corvane::testing {
namespace {

class BoundReportSheetTest : public ViewModelTest {};

// The sheet sends while the view model still holds the entry, so the report names it.
TEST_F(BoundReportSheetTest, PreviewsTheReportedEntryAndSendsThroughTheViewModel) {
    model();
    EXPECT_EQ(makeReportSheet(model_, nullptr), nullptr);

    ConversationEntry entry;
    entry.timestamp = "2026-03-10T19:07:00.000Z";
    entry.role = ConversationRole::assistant;
    entry.content = "\n  Cut 200 Hz on the bass.\n";
    model().setReportingEntry(entry);
    std::unique_ptr<ReportSheetView> sheet(makeReportSheet(model_, nullptr));
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->previewText(), "Cut 200 Hz on the bass.");
    sheet->show();

    transport_->status(200);
    sheet->descriptionEditor()->setPlainText(" Wrong band \n");
    sheet->sendButton()->click();
    EXPECT_FALSE(sheet->isVisible());
    EXPECT_FALSE(model().reportingEntry().has_value());
    ASSERT_TRUE(queue_.runUntil([&] { return model().reportSentConfirmation(); }));
    EXPECT_EQ(transport_->requests().back().body["user_description"], "Wrong band");
    EXPECT_EQ(transport_->requests().back().body["assistant_message"], entry.content);
}

// A report the service did not take is not dropped: it comes back with its text and why, to send
// again; one it took is confirmed in the window for a few seconds.
TEST_F(BoundReportSheetTest, AReportNotTakenComesBackWithItsTextAndATakenOneIsConfirmed) {
    model();
    ConversationEntry entry;
    entry.timestamp = "2026-03-10T19:07:00.000Z";
    entry.role = ConversationRole::assistant;
    entry.content = "Cut 200 Hz on the bass.";
    model().setReportingEntry(entry);
    std::unique_ptr<ReportSheetView> sheet(makeReportSheet(model_, nullptr));
    EXPECT_TRUE(sheet->problemText().isEmpty());
    sheet->show();
    transport_->status(503);
    sheet->descriptionEditor()->setPlainText("Wrong band");
    sheet->sendButton()->click();
    EXPECT_FALSE(model().reportingEntry().has_value()) << "the sheet closes at once";

    ASSERT_TRUE(queue_.runUntil([&] { return model().reportingEntry().has_value(); }))
        << "a report that did not go is dropped without a word";
    EXPECT_FALSE(model().reportSentConfirmation());
    EXPECT_EQ(model().reportingEntry()->content, entry.content);
    EXPECT_TRUE(shellState(model()).reporting) << "the window opens the sheet again";
    std::unique_ptr<ReportSheetView> again(makeReportSheet(model_, nullptr));
    EXPECT_EQ(again->descriptionEditor()->toPlainText(), "Wrong band");
    EXPECT_TRUE(again->problemText().contains("not sent")) << again->problemText().toStdString();

    transport_->status(200);
    again->show();
    again->sendButton()->click();
    ASSERT_TRUE(queue_.runUntil([&] { return model().reportSentConfirmation(); }));
    EXPECT_FALSE(model().reportingEntry().has_value());
    EXPECT_TRUE(shellState(model()).reportSent);
    ASSERT_EQ(transport_->requests().size(), 2u);
    EXPECT_EQ(transport_->requests().back().body["user_description"], "Wrong band");
    advance(ChatViewModel::kReportConfirmationSeconds + 0.1);
    EXPECT_FALSE(shellState(model()).reportSent);

    // The next report starts blank.
    model().setReportingEntry(entry);
    std::unique_ptr<ReportSheetView> fresh(makeReportSheet(model_, nullptr));
    EXPECT_TRUE(fresh->descriptionEditor()->toPlainText().isEmpty());
    EXPECT_TRUE(fresh->problemText().isEmpty());
}

}  // namespace
}  // namespace corvane::testing
