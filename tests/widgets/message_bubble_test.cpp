#include "widgets/message_bubble.h"

#include <QEnterEvent>
#include <QAbstractTextDocumentLayout>
#include <QLabel>
#include <QTextDocument>

#include "widget_pixels.h"

namespace corvane {
namespace {

using testing::at;
using testing::render;

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
            EXPECT_EQ(reports, 1);
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

TEST(MessageBubbleWidget, TextIsSelectableAndBlocksTakeTheirWidth) {
    testing::ensureApplication();
    // A bullet takes the whole frame; a user's analysis snapshot stays hidden.
    MessageBubbleWidget reply(ConversationRole::assistant, "Hi\n- one\n```\n  code\n```", {}, nullptr);
    render(reply, 1000);
    EXPECT_EQ(reply.bubble()->width(), 720);
    for (auto* label : reply.findChildren<QLabel*>()) {
        if (label->text() == QStringLiteral("\u2022")) continue;
        EXPECT_TRUE(label->textInteractionFlags() & Qt::TextSelectableByMouse) << label->text().toStdString();
    }

    MessageBubbleWidget user(ConversationRole::user,
                             "Make it **warmer**\n\n---\n[INTERNAL — Corvane plugin stream, NOT pasted by the user.\nx",
                             {}, nullptr);
    render(user, 600);
    const auto labels = user.findChildren<QLabel*>();
    ASSERT_EQ(labels.size(), 1);
    EXPECT_TRUE(labels[0]->text().contains("<b>warmer</b>"));
    EXPECT_FALSE(labels[0]->text().contains("INTERNAL"));
}

TEST(MessageBubbleWidget, LongParagraphWrapsInsideTheFrameAndAnUnknownVisualKeepsItsSpace) {
    testing::ensureApplication();
    std::string words;
    for (int i = 0; i < 1000; ++i) words += "word ";
    MessageBubbleWidget longOne(ConversationRole::assistant, words, {}, nullptr);
    render(longOne, 1200);
    EXPECT_EQ(longOne.bubble()->width(), 720);
    EXPECT_GT(longOne.bubble()->height(), 400);

    MessageBubbleWidget plain(ConversationRole::assistant, "Text", {}, nullptr);
    MessageBubbleWidget withUnknown(ConversationRole::assistant, "Text\n[visual:nonsense tracks=\"A\"]", {}, nullptr);
    render(plain, 600);
    render(withUnknown, 600);
    ASSERT_EQ(withUnknown.blocks().size(), 2u);
    EXPECT_EQ(withUnknown.bubble()->height(), plain.bubble()->height() + 10);
}

// A new message is built, measured and painted while the transcript waits for its frame: each
// line of text is measured by one layout at its width (the label showing it then lays it out
// for itself), not again for every question asked of it; and its heights are the label's own.
TEST(MessageBubbleWidget, EachLineIsLaidOutOncePerWidthAndMeasuresAsItsLabel) {
    testing::ensureApplication();
    MessageBubbleWidget reply(ConversationRole::assistant,
                              "## Low end\nThe **kick** and `Bass DI` fight around 80 Hz.\n- cut 2 dB at 250 Hz on the "
                              "bass so the kick's body comes through, then check the whole mix again in mono\n1. Solo "
                              "both\n```\nEQ 80 Hz -3\n```",
                              {}, nullptr);
    int passes = 0;
    for (auto* document : reply.findChildren<QTextDocument*>())
        QObject::connect(document->documentLayout(), &QAbstractTextDocumentLayout::update, [&] { ++passes; });
    const auto lines = reply.findChildren<QLabel*>();
    int textLines = 0;
    for (auto* label : lines) textLines += label->text() != QStringLiteral("\u2022");
    ASSERT_EQ(textLines, 5);

    // One pass to measure, and the label's own to show: five, for its text, its options and width.
    render(reply, 900);
    EXPECT_LE(passes, 6 * textLines);
    const int built = passes;
    render(reply, 900);
    EXPECT_EQ(passes, built);

    for (auto* label : lines) {
        SCOPED_TRACE(label->text().toStdString());
        EXPECT_EQ(label->height(), label->QLabel::heightForWidth(label->width()));
    }
}

TEST(MessageBubbleWidget, InlineRunsBecomeEscapedHtml) {
    const QString html = inlineRunsHtml(MessageMarkdown::renderMarkdownText("a <b> **bold** and `x<y`"));
    EXPECT_TRUE(html.contains("a &lt;b&gt; "));
    EXPECT_TRUE(html.contains("<b>bold</b>"));
    EXPECT_TRUE(html.contains("x&lt;y</span>"));
    EXPECT_TRUE(html.contains("#78d2aa"));
}

}  // namespace
}  // namespace corvane
