#include "widgets/message_bubble.h"

#include <QAbstractTextDocumentLayout>
#include <QAccessible>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QEnterEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>

#include "widget_pixels.h"
#include "widgets/text_block.h"

namespace corvane {
namespace {

using testing::at;
using testing::render;

// The blocks of text of a message, in reading order.
std::vector<TextBlock*> textBlocks(QWidget& message) {
    std::vector<TextBlock*> blocks;
    for (auto* child : message.findChildren<QWidget*>())
        if (auto* block = dynamic_cast<TextBlock*>(child)) blocks.push_back(block);
    return blocks;
}

void hover(QWidget& widget, bool inside) {
    if (inside) {
        QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
        QApplication::sendEvent(&widget, &enter);
    } else {
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(&widget, &leave);
    }
}

// Each kind of message: where it sits, how it is filled, and whether it offers "Report".
TEST(MessageBubbleWidget, EachRoleHasItsPlaceFillAndReportButton) {
    testing::ensureApplication();
    struct Case {
        ConversationRole role;
        bool withReport;
        bool bubble;
        bool trailing;
        bool reportShown;
        QColor fill;
    };
    const Case cases[] = {
        {ConversationRole::user, true, true, true, false, QColor(55, 90, 220)},
        {ConversationRole::assistant, true, true, false, true, QColor(30, 30, 38)},
        {ConversationRole::assistant, false, true, false, false, QColor(30, 30, 38)},
        {ConversationRole::system, true, true, false, true, QColor(30, 30, 38)},
        {ConversationRole::update, true, false, false, false, QColor()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(toString(c.role) + (c.withReport ? " with report" : ""));
        int reports = 0;
        std::function<void()> onReport;
        if (c.withReport) onReport = [&] { ++reports; };
        MessageBubbleWidget message(c.role, "Short line", {}, onReport);
        const QImage image = render(message, 900);
        ASSERT_EQ(message.bubble() != nullptr, c.bubble);
        ASSERT_EQ(message.reportButton() != nullptr, c.reportShown);
        if (c.bubble) {
            const QRect box = message.bubble()->geometry();
            EXPECT_LT(box.width(), 300);  // as wide as its line, not its frame
            if (c.trailing) {
                EXPECT_EQ(box.right(), 899);
            } else {
                EXPECT_EQ(box.left(), 0);
            }
            EXPECT_EQ(at(image, box.left() + 6, box.center().y()), c.fill);
        }
        if (c.reportShown) {
            message.reportButton()->click();
            for (const auto& [key, modifiers] : {std::pair{Qt::Key_Return, Qt::NoModifier},
                                                 std::pair{Qt::Key_Enter, Qt::KeypadModifier},
                                                 std::pair{Qt::Key_Space, Qt::NoModifier}}) {
                QKeyEvent press(QEvent::KeyPress, key, modifiers);
                QKeyEvent release(QEvent::KeyRelease, key, modifiers);
                QApplication::sendEvent(message.reportButton(), &press);
                QApplication::sendEvent(message.reportButton(), &release);
            }
            EXPECT_EQ(reports, 4) << "a click, Return, keypad Enter and Space press it";
        }
    }
}

TEST(MessageBubbleWidget, ReportButtonBrightensOnlyWhileThePointerIsOverTheMessage) {
    testing::ensureApplication();
    ManualAnimationClock clock;
    MessageBubbleWidget message(
        ConversationRole::assistant, "Reply", {}, [] {}, clock);
    ReportButton& button = *message.reportButton();
    EXPECT_EQ(button.toolTip(), "Report this response as wrong");
    auto inkOfButton = [&] {
        const QImage image = render(message, 600);
        const QRect area = button.geometry();
        return testing::litBounds(image, area, 20).isEmpty() ? 0 : [&] {
            int brightest = 0;
            for (int y = area.top(); y <= area.bottom(); ++y)
                for (int x = area.left(); x <= area.right(); ++x)
                    brightest = std::max(brightest, testing::brightness(image.pixelColor(x, y)));
            return brightest;
        }();
    };
    EXPECT_DOUBLE_EQ(button.shownOpacity(), 0.35);
    const int dim = inkOfButton();
    hover(message, true);
    EXPECT_TRUE(message.isHovering());
    clock.advance(0.06);
    EXPECT_GT(button.shownOpacity(), 0.35 + 0.65 / 2);  // easing out: past half-way at half time
    EXPECT_LT(button.shownOpacity(), 1.0);
    clock.advance(0.06);
    EXPECT_DOUBLE_EQ(button.shownOpacity(), 1.0);
    EXPECT_GT(inkOfButton(), dim + 40);
    hover(message, false);
    clock.advance(0.12);
    EXPECT_DOUBLE_EQ(button.shownOpacity(), 0.35);
}

TEST(MessageBubbleWidget, BlocksTakeTheirWidthAndTheUsersSnapshotStaysHidden) {
    testing::ensureApplication();
    // A bullet takes the whole frame; a user's analysis snapshot stays hidden.
    MessageBubbleWidget reply(ConversationRole::assistant, "Hi\n- one\n```\n  code\n```", {}, nullptr);
    render(reply, 1000);
    EXPECT_EQ(reply.bubble()->width(), 720);
    EXPECT_EQ(textBlocks(reply).size(), 3u);

    MessageBubbleWidget user(ConversationRole::user,
                             "Make it **warmer**\n\n---\n[INTERNAL — Corvane plugin stream, NOT pasted by the user.\nx",
                             {}, nullptr);
    render(user, 600);
    const auto blocks = textBlocks(user);
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(blocks[0]->plainText(), "Make it warmer");
}

void key(QWidget& widget, int code, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QKeyEvent press(QEvent::KeyPress, code, modifiers);
    QApplication::sendEvent(&widget, &press);
}

void mouseAt(QWidget& widget, QEvent::Type type, QPointF at, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QMouseEvent event(type, at, widget.mapToGlobal(at), Qt::LeftButton,
                      type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, modifiers);
    QApplication::sendEvent(&widget, &event);
}

// A message's text is the reader's to select and copy: by dragging, by word, with the keyboard
// and from the context menu; a screen reader reads it as static text.
TEST(MessageBubbleWidget, TextIsSelectedAndCopiedByMouseKeyboardAndMenu) {
    testing::ensureApplication();
    MessageBubbleWidget reply(ConversationRole::assistant, "The **kick** is `too` loud\n\n- and the bass", {}, nullptr);
    render(reply, 800);
    const auto blocks = textBlocks(reply);
    ASSERT_EQ(blocks.size(), 2u);  // the paragraph and the bullet's text
    TextBlock& line = *blocks[0];
    EXPECT_EQ(line.focusPolicy(), Qt::ClickFocus);
    EXPECT_EQ(line.cursor().shape(), Qt::IBeamCursor);
    const double middle = line.height() / 2.0;
    const QTextLine first = line.document().firstBlock().layout()->lineAt(0);
    auto xOf = [&](int position) { return first.cursorToX(position); };

    mouseAt(line, QEvent::MouseButtonPress, {xOf(4), middle});
    mouseAt(line, QEvent::MouseMove, {xOf(8) + 0.4, middle});
    mouseAt(line, QEvent::MouseButtonRelease, {xOf(8) + 0.4, middle});
    EXPECT_EQ(line.selectedText(), "kick");
    key(line, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "kick");
    mouseAt(line, QEvent::MouseButtonPress, {line.width() - 1.0, middle}, Qt::ShiftModifier);
    EXPECT_EQ(line.selectedText(), "kick is too loud");

    mouseAt(line, QEvent::MouseButtonDblClick, {xOf(13), middle});
    EXPECT_EQ(line.selectedText(), "too");
    key(line, Qt::Key_Home);
    key(line, Qt::Key_Right, Qt::ShiftModifier);
    key(line, Qt::Key_Right, Qt::ShiftModifier);
    key(line, Qt::Key_Right, Qt::ShiftModifier);
    EXPECT_EQ(line.selectedText(), "The");

    // The menu copies the selection and selects the whole block.
    QContextMenuEvent menuEvent(QContextMenuEvent::Mouse, QPoint(2, 2), line.mapToGlobal(QPoint(2, 2)));
    QApplication::sendEvent(&line, &menuEvent);
    auto* menu = line.findChild<QMenu*>();
    ASSERT_NE(menu, nullptr);
    QAction* copy = menu->findChild<QAction*>("edit-copy");
    QAction* all = menu->findChild<QAction*>("select-all");
    ASSERT_TRUE(copy && all);
    EXPECT_TRUE(copy->isEnabled());
    copy->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "The");
    all->trigger();
    EXPECT_EQ(line.selectedText(), "The kick is too loud");
    menu->close();

    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(&line);
    ASSERT_NE(accessible, nullptr);
    EXPECT_EQ(accessible->role(), QAccessible::StaticText);
    EXPECT_EQ(accessible->text(QAccessible::Name), "The kick is too loud");
}

TEST(MessageBubbleWidget, LongParagraphWrapsInsideTheFrameAndAnUnknownVisualKeepsItsSpace) {
    testing::ensureApplication();
    std::string words;
    for (int i = 0; i < 1000; ++i) words += "word ";
    MessageBubbleWidget longOne(ConversationRole::assistant, words, {}, nullptr);
    render(longOne, 1200);
    EXPECT_EQ(longOne.bubble()->width(), 720);
    EXPECT_GT(longOne.bubble()->height(), 400);

    // A word longer than the bubble breaks across lines inside it, in the user's bubble as in any.
    MessageBubbleWidget twoLines(ConversationRole::user, "Open\n\nxxx", {}, nullptr);
    MessageBubbleWidget longWord(ConversationRole::user, "Open " + std::string(300, 'x'), {}, nullptr);
    render(twoLines, 1200);
    render(longWord, 1200);
    EXPECT_LE(longWord.bubble()->width(), 720);
    EXPECT_GT(longWord.bubble()->height(), twoLines.bubble()->height()) << "the word runs out of sight";

    MessageBubbleWidget plain(ConversationRole::assistant, "Text", {}, nullptr);
    MessageBubbleWidget withUnknown(ConversationRole::assistant, "Text\n[visual:nonsense tracks=\"A\"]", {}, nullptr);
    render(plain, 600);
    render(withUnknown, 600);
    ASSERT_EQ(withUnknown.blocks().size(), 2u);
    EXPECT_EQ(withUnknown.bubble()->height(), plain.bubble()->height() + 10);
}

// The old look of a block: its runs as HTML in a rich-text label.
QString labelHtml(const std::string& text) {
    QString html = QStringLiteral("<span style=\"white-space:pre-wrap\">");
    for (const auto& run : MessageMarkdown::renderMarkdownText(text)) {
        const QString escaped = qText(run.text).toHtmlEscaped();
        switch (run.style) {
            case InlineStyle::plain: html += escaped; break;
            case InlineStyle::bold: html += "<b>" + escaped + "</b>"; break;
            case InlineStyle::code:
                html += "<span style=\"font-family:monospace; font-size:13px; font-weight:500; color:#78d2aa\">" +
                        escaped + "</span>";
                break;
        }
    }
    return html + "</span>";
}

// A new message is built, measured and painted while the transcript waits for its frame: each
// block of text is laid out once at its width, not again for every question asked of it or to
// be painted, in a bubble or an interim line. Its text shows as typed (markup characters
// included) and measures as the rich label it replaced.
TEST(MessageBubbleWidget, EachBlockIsLaidOutOncePerWidthAndMeasuresAsALabel) {
    testing::ensureApplication();
    const std::string paragraph = "The **kick** and `Bass <DI>` fight around 80 Hz & <b>more</b>.";
    const std::string bullet =
        "cut 2 dB at `250 Hz` on the **bass** so the kick's body comes through, then check the whole mix again in "
        "mono";
    MessageBubbleWidget reply(ConversationRole::assistant,
                              "## Low end\n" + paragraph + "\n- " + bullet + "\n1. Solo both\n```\nEQ 80 Hz -3\n```",
                              {}, nullptr);
    int passes = 0;
    for (auto* document : reply.findChildren<QTextDocument*>())
        QObject::connect(document->documentLayout(), &QAbstractTextDocumentLayout::update, [&] { ++passes; });
    const auto blocks = textBlocks(reply);
    ASSERT_EQ(blocks.size(), 5u);

    MessageBubbleWidget update(ConversationRole::update,
                               "Listening to the chorus with the vocal soloed, then with the whole mix, to compare", {},
                               nullptr);
    for (auto* document : update.findChildren<QTextDocument*>())
        QObject::connect(document->documentLayout(), &QAbstractTextDocumentLayout::update, [&] { ++passes; });

    render(reply, 900);
    render(update, 900);
    EXPECT_EQ(passes, 6);
    render(reply, 900);
    render(update, 900);
    EXPECT_EQ(passes, 6);

    EXPECT_EQ(blocks[1]->plainText(), "The kick and Bass <DI> fight around 80 Hz & <b>more</b>.");
    const std::pair<TextBlock*, QString> rich[] = {{blocks[1], labelHtml(paragraph)}, {blocks[2], labelHtml(bullet)}};
    for (const auto& [block, html] : rich) {
        SCOPED_TRACE(block->plainText().toStdString());
        QLabel label;
        label.setTextFormat(Qt::RichText);
        label.setText(html);
        label.setFont(block->font());
        label.setWordWrap(true);
        EXPECT_EQ(block->height(), label.heightForWidth(block->width()));
    }
    QLabel code;
    code.setTextFormat(Qt::PlainText);
    code.setText(blocks[4]->plainText());
    code.setFont(blocks[4]->font());
    code.setWordWrap(true);
    code.setMargin(blocks[4]->margin());
    EXPECT_EQ(blocks[4]->height(), code.heightForWidth(blocks[4]->width()));
}

}  // namespace
}  // namespace corvane
