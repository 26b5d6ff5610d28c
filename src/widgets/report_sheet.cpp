#include "widgets/report_sheet.h"

#include <QAbstractTextDocumentLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QTextLayout>
#include <QVBoxLayout>
#include <algorithm>

#include "support/unicode.h"
#include "ui/chat_view_model.h"
#include "transcript/theme.h"
#include "widgets/diagram_painter.h"
#include "widgets/widget_parts.h"

namespace corvane {

namespace {
constexpr int kWidth = 440;
constexpr int kPreviewCharacters = 240;
constexpr int kPreviewLines = 3;
constexpr int kPreviewPadding = 10;
constexpr int kEditorPadding = 8;
constexpr int kEditorMinHeight = 80;
constexpr int kEditorMaxHeight = 120;

// The preview's text wrapped at `width`, cut to `maxLines`, the last of them ending in "…" when
// text was cut.
QStringList wrappedLines(QString text, const QFont& font, int width, int maxLines) {
    text.replace(QChar('\n'), QChar::LineSeparator);
    QTextLayout layout(text, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    std::vector<std::pair<int, int>> ranges;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(std::max(1, width));
        ranges.emplace_back(line.textStart(), line.textLength());
    }
    layout.endLayout();

    auto lineText = [&](size_t i) {
        QString piece = text.mid(ranges[i].first, ranges[i].second);
        while (piece.endsWith(QChar::LineSeparator)) piece.chop(1);
        return piece;
    };
    QStringList out;
    const size_t shown = std::min(ranges.size(), size_t(maxLines));
    for (size_t i = 0; i < shown; ++i) out << lineText(i);
    if (ranges.size() > size_t(maxLines) && !out.isEmpty()) {
        const QFontMetrics metrics(font);
        QString rest = text.mid(ranges[shown - 1].first);
        rest.replace(QChar::LineSeparator, QChar(' '));
        QString last = metrics.elidedText(rest, Qt::ElideRight, width);
        // The rest fits on the line only when the cut came at a line break: mark it there.
        if (last == rest) {
            const QString marked = out.back() + QChar(0x2026);
            last =
                metrics.horizontalAdvance(marked) <= width ? marked : metrics.elidedText(marked, Qt::ElideRight, width);
        }
        out.back() = last;
    }
    return out;
}

// The reply's preview: three lines at most, on a faint rounded panel.
class PreviewBox : public QWidget {
public:
    explicit PreviewBox(QString text) : text_(std::move(text)) {
        font_ = uiFont(11);
        QSizePolicy policy(QSizePolicy::Expanding, QSizePolicy::Preferred);
        policy.setHeightForWidth(true);
        setSizePolicy(policy);
    }

    QStringList lines(int width) const {
        return wrappedLines(text_, font_, width - 2 * kPreviewPadding, kPreviewLines);
    }
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override {
        return int(lines(width).size()) * QFontMetrics(font_).lineSpacing() + 2 * kPreviewPadding;
    }
    QSize sizeHint() const override { return {kWidth - 40, heightForWidth(kWidth - 40)}; }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath shape;
        shape.addRoundedRect(QRectF(rect()), 6, 6);
        painter.fillPath(shape, white(0.03));
        painter.setFont(font_);
        painter.setPen(white(0.55));
        const QFontMetrics metrics(font_);
        int y = kPreviewPadding;
        for (const QString& line : lines(width())) {
            painter.drawText(QRect(kPreviewPadding, y, width() - 2 * kPreviewPadding, metrics.height()),
                             Qt::AlignLeft | Qt::AlignTop, line);
            y += metrics.lineSpacing();
        }
    }

private:
    QString text_;
    QFont font_;
};

TextButton* sheetButton(const QString& text, bool prominent) {
    return new TextButton(text, {.font = uiFont(13),
                                 .text = white(prominent ? 1 : 0.85),
                                 .fill = prominent ? toQColor(CorvaneTheme::primaryButton) : white(0.1),
                                 .horizontalPadding = 12,
                                 .verticalPadding = 4,
                                 .cornerRadius = 6});
}
}  // namespace

std::string reportPreviewText(const std::string& assistantSnippet) {
    const std::string trimmed = text::trimmingWhitespaceAndNewlines(assistantSnippet);
    if (text::graphemeCount(trimmed) <= kPreviewCharacters) return trimmed;
    return text::graphemePrefix(trimmed, kPreviewCharacters) + "\u2026";
}

ReportSheetView::ReportSheetView(std::string assistantSnippet, std::function<void(const std::string&)> onSend,
                                 QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint),
      previewText_(reportPreviewText(assistantSnippet)),
      onSend_(std::move(onSend)) {
    QVBoxLayout* stack = sheetColumn(this, QStringLiteral("Report this response"), white(0.95));
    auto* explanation = makeLabel(QStringLiteral("Sends this response, the preceding message, and what Corvane did "
                                                 "so we can fix it. Nothing else from this conversation is shared."),
                                  uiFont(12), white(0.6));
    explanation->setWordWrap(true);
    stack->addWidget(explanation);
    preview_ = new PreviewBox(qText(previewText_));
    stack->addWidget(preview_);

    auto* group = new QVBoxLayout;
    group->setSpacing(6);
    group->addWidget(makeLabel(QStringLiteral("What went wrong? (optional)"), uiFont(11, QFont::Medium), white(0.55)));
    auto* panel = new PaintedBox(6, white(0.04), white(0.08));
    auto* panelLayout = new QVBoxLayout(panel);
    panelLayout->setContentsMargins(kEditorPadding, kEditorPadding, kEditorPadding, kEditorPadding);
    editor_ = plainEditor(12);
    // Tab leaves the editor, so that Return can reach "Send report".
    editor_->setTabChangesFocus(true);
    panelLayout->addWidget(editor_);
    panel->setFixedHeight(kEditorMinHeight);
    editorPanel_ = panel;
    group->addWidget(panel);
    stack->addLayout(group);
    // The editor grows with its text from 80 to 120 points, then scrolls.
    QObject::connect(editor_->document(), &QTextDocument::contentsChanged, this, [this] { fitHeight(); });

    // Why the last try did not go; shown only then.
    problem_ = makeLabel(QString(), uiFont(11.5), rgb255(255, 110, 110));
    problem_->setWordWrap(true);
    problem_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    problem_->hide();
    stack->addWidget(problem_);

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(10);
    buttons->addStretch(1);
    cancel_ = sheetButton(QStringLiteral("Cancel"), false);
    send_ = sheetButton(QStringLiteral("Send report"), true);
    // Return outside the editor sends; Escape cancels (QDialog's own reject).
    send_->setDefault(true);
    QObject::connect(cancel_, &QPushButton::clicked, this, [this] { reject(); });
    QObject::connect(send_, &QPushButton::clicked, this, [this] { sendReport(); });
    buttons->addWidget(cancel_);
    buttons->addWidget(send_);
    stack->addLayout(buttons);
    fitHeight();
}

void ReportSheetView::setDescription(const std::string& text) {
    editor_->setPlainText(qText(text));
    editor_->moveCursor(QTextCursor::End);
}

void ReportSheetView::setProblem(const std::string& text) {
    problem_->setText(qText(text));
    problem_->setVisible(!text.empty());
    fitHeight();
}

QString ReportSheetView::problemText() const { return problem_->isHidden() ? QString() : problem_->text(); }

QStringList ReportSheetView::shownPreviewLines() const {
    return static_cast<PreviewBox*>(preview_)->lines(kWidth - 40);
}

void ReportSheetView::fitHeight() {
    const int lines = int(editor_->document()->documentLayout()->documentSize().height());
    const int wanted = std::max(1, lines) * QFontMetrics(editor_->font()).lineSpacing() + 2 * kEditorPadding;
    editorPanel_->setFixedHeight(std::clamp(wanted, kEditorMinHeight, kEditorMaxHeight));
    layout()->activate();
    setFixedSize(kWidth, layout()->totalHeightForWidth(kWidth));
}

void ReportSheetView::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    editor_->setFocus(Qt::OtherFocusReason);
}

// Without a window frame the sheet would melt into the window behind it, which has its colour.
void ReportSheetView::paintEvent(QPaintEvent* event) {
    QDialog::paintEvent(event);
    paintSheetEdge(this);
}

void ReportSheetView::sendReport() {
    const std::string description = text::trimmingWhitespaceAndNewlines(editorText(editor_));
    if (onSend_) onSend_(description);
    // The presenter may have closed the sheet already, when sending cleared what it reports.
    if (isVisible()) accept();
}

ReportSheetView* makeReportSheet(const std::shared_ptr<ChatViewModel>& viewModel, QWidget* parent) {
    const auto& entry = viewModel->reportingEntry();
    if (!entry) return nullptr;
    std::weak_ptr<ChatViewModel> weak = viewModel;
    auto* sheet = new ReportSheetView(
        entry->content,
        [weak](const std::string& description) {
            if (auto vm = weak.lock()) vm->submitReport(description);
        },
        parent);
    // A report that did not go comes back with its text, to send again.
    sheet->setDescription(viewModel->reportDraft());
    sheet->setProblem(viewModel->reportProblem());
    return sheet;
}

}  // namespace corvane
