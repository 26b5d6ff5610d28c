#include "widgets/message_bubble.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "diagrams/diagram_router.h"
#include "transcript/theme.h"
#include "widgets/analysis_diagrams.h"
#include "widgets/diagram_painter.h"
#include "widgets/symbols.h"
#include "widgets/text_block.h"
#include "widgets/widget_parts.h"

namespace corvane {

using namespace diagram;

namespace {

TextBlock* textLabel(const QString& text, const Font& font, const Color& color) {
    return new TextBlock(text, font, toQColor(color));
}

// A list's dot: one character, never wrapped or selected, so a plain label measures it cheaply.
QLabel* dotLabel(double size, const Color& color) {
    auto* label = new QLabel(QStringLiteral("\u2022"));
    label->setTextFormat(Qt::PlainText);
    label->setFont(diagramFont(Font{size}, label));
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setTextColor(label, toQColor(color));
    return label;
}

// The runs go into the block's document as they are: no markup to write and parse again.
TextBlock* runsLabel(const std::string& text, const BlockStyle& style) {
    auto* block = new TextBlock(style.font, toQColor(style.color));
    for (const auto& run : MessageMarkdown::renderMarkdownText(text))
        block->append(qText(run.text), inlineRunFormat(run.style));
    return block;
}

// A fenced code block: verbatim text on a faint rounded panel.
class CodeBlock : public TextBlock {
public:
    CodeBlock(const QString& text, const Font& font, const QColor& color) : TextBlock(text, font, color) {
        setMargin(10);
    }

protected:
    void paintEvent(QPaintEvent* event) override {
        {
            QPainter painter(this);
            painter.setRenderHint(QPainter::Antialiasing);
            QPainterPath path;
            path.addRoundedRect(QRectF(rect()), 8, 8);
            painter.fillPath(path, toQColor(CorvaneTheme::codeBackground));
        }
        TextBlock::paintEvent(event);
    }
};

// The bubble itself: its blocks stacked with the spacing the markdown rules give, inside the
// bubble's padding. Blocks are placed by hand because a wrapped label's own size hint is not the
// width a chat bubble wants: the bubble is as wide as its widest line, up to its frame.
class BubbleBody : public QWidget {
public:
    explicit BubbleBody(const BubbleStyle& style) : style_(style) {
        QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
        policy.setHeightForWidth(true);
        setSizePolicy(policy);
        setMaximumWidth(int(style.maxWidth));
    }

    // `widget` null: a block that draws nothing but keeps the space above it.
    // A block that does not fill the width is a line of text, as wide as it is up to the frame.
    void add(QWidget* widget, double top) {
        if (widget) widget->setParent(this);
        parts_.push_back({widget, nullptr, top});
        cachedWidth_ = -1;
    }
    void addLine(TextBlock* line, double top) {
        line->setParent(this);
        parts_.push_back({line, line, top});
        cachedWidth_ = -1;
    }

    bool hasHeightForWidth() const override { return true; }
    // Asked for every row whenever the transcript's column changes: the blocks never change,
    // so the last answer holds until the width does.
    int heightForWidth(int width) const override {
        if (width != cachedWidth_) {
            cachedHeight_ = int(std::ceil(place(width, false)));
            cachedWidth_ = width;
        }
        return cachedHeight_;
    }
    QSize sizeHint() const override {
        const int width = preferredWidth();
        return {width, heightForWidth(width)};
    }
    QSize minimumSizeHint() const override { return {int(2 * BubbleStyle::horizontalPadding) + 24, 0}; }

protected:
    void resizeEvent(QResizeEvent*) override { place(width(), true); }
    void paintEvent(QPaintEvent*) override {
        QPainter qt(this);
        DiagramPainter painter(qt);
        const Rect bounds{0, 0, double(width()), double(height())};
        painter.fill(Box{bounds, BubbleStyle::cornerRadius, style_.fill});
        if (style_.outlined)
            painter.strokeInside(bounds, BubbleStyle::cornerRadius, Stroke{CorvaneTheme::assistantBubbleBorder, 1});
    }

private:
    struct Part {
        QWidget* widget;
        TextBlock* line;  // set when the block is as wide as its text
        double top;
    };

    int innerMaxWidth() const { return std::max(0, int(style_.maxWidth) - int(2 * BubbleStyle::horizontalPadding)); }

    int preferredWidth() const {
        int widest = 0;
        for (const auto& part : parts_) {
            if (part.widget && !part.line) return int(style_.maxWidth);
            if (part.line) widest = std::max(widest, part.line->naturalWidth(innerMaxWidth()));
        }
        return std::min(int(style_.maxWidth), widest + int(2 * BubbleStyle::horizontalPadding));
    }

    // The height at `width`; moves the blocks there when `apply`.
    double place(int width, bool apply) const {
        const int inner = std::max(0, width - int(2 * BubbleStyle::horizontalPadding));
        double y = BubbleStyle::verticalPadding;
        for (const auto& part : parts_) {
            y += part.top;
            if (!part.widget) continue;
            const int w = part.line ? std::min(inner, part.line->naturalWidth(innerMaxWidth()) + 1) : inner;
            const int h =
                part.widget->hasHeightForWidth() ? part.widget->heightForWidth(w) : part.widget->sizeHint().height();
            if (apply) part.widget->setGeometry(int(BubbleStyle::horizontalPadding), int(std::lround(y)), w, h);
            y += h;
        }
        return y + BubbleStyle::verticalPadding;
    }

    BubbleStyle style_;
    std::vector<Part> parts_;
    mutable int cachedWidth_ = -1;
    mutable int cachedHeight_ = 0;
};

// A bullet character, then text wrapping beside it; placed by hand for the same reason as the
// bubble's blocks (a box layout asks a wrapped label for the height of a narrower width).
class DotRow : public QWidget {
public:
    DotRow(QLabel* dot, TextBlock* text, QMargins margins, int trailingGap)
        : dot_(dot), text_(text), margins_(margins), trailingGap_(trailingGap) {
        QSizePolicy policy(QSizePolicy::Expanding, QSizePolicy::Preferred);
        policy.setHeightForWidth(true);
        setSizePolicy(policy);
        dot_->setParent(this);
        text_->setParent(this);
        dot_->setWordWrap(false);
    }

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override {
        if (width != cachedWidth_) {
            cachedHeight_ =
                margins_.top() + std::max(dotHeight(), text_->heightForWidth(textWidth(width))) + margins_.bottom();
            cachedWidth_ = width;
        }
        return cachedHeight_;
    }
    // Its height is always asked for the width it gets; laying the text out at a made-up width
    // first would only be thrown away.
    QSize sizeHint() const override {
        return {400, cachedWidth_ >= 0 ? cachedHeight_ : margins_.top() + dotHeight() + margins_.bottom()};
    }
    QSize minimumSizeHint() const override { return {0, 0}; }

protected:
    void resizeEvent(QResizeEvent*) override {
        const QSize dot = dot_->sizeHint();
        dot_->setGeometry(margins_.left(), margins_.top(), dot.width(), dotHeight());
        const int w = textWidth(width());
        text_->setGeometry(margins_.left() + dot.width() + kSpacing, margins_.top(), w, text_->heightForWidth(w));
    }

private:
    static constexpr int kSpacing = 8;
    int dotHeight() const { return dot_->sizeHint().height(); }
    int textWidth(int width) const {
        return std::max(
            0, width - margins_.left() - margins_.right() - dot_->sizeHint().width() - kSpacing - trailingGap_);
    }

    QLabel* dot_;
    TextBlock* text_;
    QMargins margins_;
    int trailingGap_;
    mutable int cachedWidth_ = -1;
    mutable int cachedHeight_ = 0;
};

}  // namespace

QTextCharFormat inlineRunFormat(InlineStyle style) {
    QTextCharFormat format;
    switch (style) {
        case InlineStyle::plain: break;
        case InlineStyle::bold: format.setFontWeight(QFont::Bold); break;
        case InlineStyle::code:
            format.setFontFamilies({QStringLiteral("monospace")});
            format.setProperty(QTextFormat::FontPixelSize, 13);
            format.setFontWeight(QFont::Medium);
            format.setForeground(toQColor(CorvaneTheme::liveAnalysisText));
            break;
    }
    return format;
}

ReportButton::ReportButton(AnimationClock& clock, QWidget* parent)
    : QAbstractButton(parent),
      clock_(clock),
      opacity_(BubbleStyle::reportButtonOpacity(false), 0.12, Transition::Curve::easeOut),
      frames_([this] { tick(); }) {
    setText(QStringLiteral("Report"));
    setToolTip(QStringLiteral("Report this response as wrong"));
    setFont(diagramFont(Font{10.5}, this));
    setCursor(Qt::PointingHandCursor);
}

void ReportButton::setHovering(bool hovering) {
    opacity_.animateTo(BubbleStyle::reportButtonOpacity(hovering), clock_.seconds());
    frames_.start();
    update();
}

void ReportButton::tick() {
    if (!opacity_.isMoving(clock_.seconds())) frames_.stop();
    update();
}

void ReportButton::keyPressEvent(QKeyEvent* event) {
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (!enter || (event->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier || event->isAutoRepeat()) {
        QAbstractButton::keyPressEvent(event);
        return;
    }
    event->accept();
    click();
}

double ReportButton::shownOpacity() const { return opacity_.value(clock_.seconds()); }

QSize ReportButton::sizeHint() const {
    const QFontMetricsF metrics(font(), this);
    const double width = 8 + 10 + 4 + metrics.horizontalAdvance(text()) + 8;
    const double height = 4 + std::max(10.0, metrics.height()) + 4;
    return {int(std::ceil(width)), int(std::ceil(height))};
}

void ReportButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setOpacity(shownOpacity());
    const QColor ink = corvane::white(0.5);
    const double mid = height() / 2.0;
    drawSymbol(painter, "flag", QRectF(8, mid - 5, 10, 10), ink, 1.2);
    painter.setPen(ink);
    painter.setFont(font());
    painter.drawText(QRectF(8 + 10 + 4, 0, width() - 22, height()), Qt::AlignLeft | Qt::AlignVCenter, text());
}

MessageBubbleWidget::MessageBubbleWidget(ConversationRole role, const std::string& text,
                                         const std::vector<ConversationEntry>& entries, std::function<void()> onReport,
                                         AnimationClock& clock, QWidget* parent)
    : QWidget(parent), role_(role) {
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
    if (role == ConversationRole::update) {
        buildInterimLine(text);
        return;
    }
    blocks_ = MessageMarkdown::parseBlocks(role, text);
    buildBubble(entries, std::move(onReport), clock);
}

MessageBubbleWidget::MessageBubbleWidget(ConversationRole role, std::vector<MarkdownBlock> blocks,
                                         const std::vector<ConversationEntry>& entries, std::function<void()> onReport,
                                         AnimationClock& clock, QWidget* parent)
    : QWidget(parent), role_(role), blocks_(std::move(blocks)) {
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
    buildBubble(entries, std::move(onReport), clock);
}

bool MessageBubbleWidget::hasVisualBlocks() const {
    return std::any_of(blocks_.begin(), blocks_.end(),
                       [](const MarkdownBlock& b) { return b.type == MarkdownBlockType::visual; });
}

void MessageBubbleWidget::buildInterimLine(const std::string& text) {
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(0, 0, 0, 0);
    auto* bullet = dotLabel(13, diagram::white(0.35));
    bullet->setContentsMargins(0, 1, 0, 0);  // pushed down 1 pt
    bullet->setTextInteractionFlags(Qt::NoTextInteraction);
    // Shown as stored: no markdown, line breaks kept.
    auto* line = textLabel(qText(text), Font{12.5, FontWeight::regular, false, false, true}, diagram::white(0.6));
    stack->addWidget(new DotRow(bullet, line, QMargins(16, 4, 16, 4), 24));
}

void MessageBubbleWidget::buildBubble(const std::vector<ConversationEntry>& entries, std::function<void()> onReport,
                                      AnimationClock& clock) {
    const BubbleStyle style = BubbleStyle::forRole(role_);
    auto* body = new BubbleBody(style);
    bubble_ = body;
    for (size_t i = 0; i < blocks_.size(); ++i) {
        const auto& block = blocks_[i];
        const double top = MessageMarkdown::topPadding(i, blocks_);
        const BlockStyle look = BlockStyle::forBlock(block.type, style);
        switch (block.type) {
            case MarkdownBlockType::spacer: body->add(nullptr, top); break;
            case MarkdownBlockType::visual: {
                auto choice = block.tag ? VisualDiagramRouter::choose(*block.tag, entries) : std::nullopt;
                body->add(choice ? new DiagramChoiceWidget(std::move(*choice)) : nullptr, top);
                break;
            }
            case MarkdownBlockType::heading:
                body->addLine(textLabel(qText(block.text), look.font, look.color), top);
                break;
            case MarkdownBlockType::paragraph:
            case MarkdownBlockType::numbered: body->addLine(runsLabel(block.text, look), top); break;
            case MarkdownBlockType::bullet: {
                auto* dot = dotLabel(13, diagram::white(0.4));
                dot->setTextInteractionFlags(Qt::NoTextInteraction);
                body->add(new DotRow(dot, runsLabel(block.text, look), QMargins(), 0), top);
                break;
            }
            case MarkdownBlockType::code: {
                body->add(new CodeBlock(qText(block.text), look.font, toQColor(look.color)), top);
                break;
            }
        }
    }

    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(4);
    auto* row = new QHBoxLayout;
    row->setSpacing(0);
    if (style.trailing) {
        row->addSpacerItem(new QSpacerItem(int(style.minSpacer), 0, QSizePolicy::Expanding, QSizePolicy::Minimum));
        row->addWidget(body, 0, Qt::AlignTop);
    } else {
        row->addWidget(body, 0, Qt::AlignTop);
        row->addSpacerItem(new QSpacerItem(int(style.minSpacer), 0, QSizePolicy::Expanding, QSizePolicy::Minimum));
    }
    stack->addLayout(row);
    if (BubbleStyle::showsReportButton(role_, bool(onReport))) {
        report_ = new ReportButton(clock);
        QObject::connect(report_, &QAbstractButton::clicked, [action = std::move(onReport)] { action(); });
        stack->addWidget(report_, 0, Qt::AlignLeft);
    }
}

void MessageBubbleWidget::setHovering(bool hovering) {
    hovering_ = hovering;
    if (report_) report_->setHovering(hovering);
}

void MessageBubbleWidget::enterEvent(QEnterEvent*) { setHovering(true); }
void MessageBubbleWidget::leaveEvent(QEvent*) { setHovering(false); }

}  // namespace corvane
