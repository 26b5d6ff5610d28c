#include "widgets/text_block.h"

#include <QAbstractTextDocumentLayout>
#include <QAccessibleWidget>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleHints>
#include <QTextBlock>
#include <QTextDocumentFragment>
#include <QTextLayout>
#include <algorithm>
#include <cmath>

namespace corvane {

namespace {

// What a screen reader is told: static text, named by what it shows, as a label is.
class TextBlockAccessible : public QAccessibleWidget {
public:
    explicit TextBlockAccessible(TextBlock* block) : QAccessibleWidget(block, QAccessible::StaticText) {}

    QString text(QAccessible::Text kind) const override {
        if (kind != QAccessible::Name) return QAccessibleWidget::text(kind);
        const QString name = widget()->accessibleName();
        return name.isEmpty() ? static_cast<const TextBlock*>(widget())->plainText() : name;
    }
    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        state.readOnly = true;
        return state;
    }
};

QAccessibleInterface* accessibleTextBlock(const QString&, QObject* object) {
    if (auto* block = dynamic_cast<TextBlock*>(object)) return new TextBlockAccessible(block);
    return nullptr;
}

// The keys that move the (hidden) cursor, and with shift the end of the selection, as in any
// read-only text.
struct Move {
    QKeySequence::StandardKey key;
    QTextCursor::MoveOperation operation;
    QTextCursor::MoveMode mode;
};
constexpr Move kMoves[] = {
    {QKeySequence::MoveToNextChar, QTextCursor::NextCharacter, QTextCursor::MoveAnchor},
    {QKeySequence::MoveToPreviousChar, QTextCursor::PreviousCharacter, QTextCursor::MoveAnchor},
    {QKeySequence::MoveToNextWord, QTextCursor::NextWord, QTextCursor::MoveAnchor},
    {QKeySequence::MoveToPreviousWord, QTextCursor::PreviousWord, QTextCursor::MoveAnchor},
    {QKeySequence::MoveToNextLine, QTextCursor::Down, QTextCursor::MoveAnchor},
    {QKeySequence::MoveToPreviousLine, QTextCursor::Up, QTextCursor::MoveAnchor},
    {QKeySequence::MoveToStartOfLine, QTextCursor::StartOfLine, QTextCursor::MoveAnchor},
    {QKeySequence::MoveToEndOfLine, QTextCursor::EndOfLine, QTextCursor::MoveAnchor},
    {QKeySequence::MoveToStartOfBlock, QTextCursor::StartOfBlock, QTextCursor::MoveAnchor},
    {QKeySequence::MoveToEndOfBlock, QTextCursor::EndOfBlock, QTextCursor::MoveAnchor},
    {QKeySequence::MoveToStartOfDocument, QTextCursor::Start, QTextCursor::MoveAnchor},
    {QKeySequence::MoveToEndOfDocument, QTextCursor::End, QTextCursor::MoveAnchor},
    {QKeySequence::SelectNextChar, QTextCursor::NextCharacter, QTextCursor::KeepAnchor},
    {QKeySequence::SelectPreviousChar, QTextCursor::PreviousCharacter, QTextCursor::KeepAnchor},
    {QKeySequence::SelectNextWord, QTextCursor::NextWord, QTextCursor::KeepAnchor},
    {QKeySequence::SelectPreviousWord, QTextCursor::PreviousWord, QTextCursor::KeepAnchor},
    {QKeySequence::SelectNextLine, QTextCursor::Down, QTextCursor::KeepAnchor},
    {QKeySequence::SelectPreviousLine, QTextCursor::Up, QTextCursor::KeepAnchor},
    {QKeySequence::SelectStartOfLine, QTextCursor::StartOfLine, QTextCursor::KeepAnchor},
    {QKeySequence::SelectEndOfLine, QTextCursor::EndOfLine, QTextCursor::KeepAnchor},
    {QKeySequence::SelectStartOfBlock, QTextCursor::StartOfBlock, QTextCursor::KeepAnchor},
    {QKeySequence::SelectEndOfBlock, QTextCursor::EndOfBlock, QTextCursor::KeepAnchor},
    {QKeySequence::SelectStartOfDocument, QTextCursor::Start, QTextCursor::KeepAnchor},
    {QKeySequence::SelectEndOfDocument, QTextCursor::End, QTextCursor::KeepAnchor},
};

// A context-menu entry worded as Qt's own text views word it, in the user's language.
QString menuText(const char* text, QKeySequence::StandardKey key) {
    QString out = QCoreApplication::translate("QWidgetTextControl", text);
    if (QGuiApplication::styleHints()->showShortcutsInContextMenus())
        out += QLatin1Char('\t') + QKeySequence(key).toString(QKeySequence::NativeText);
    return out;
}

}  // namespace

TextBlock::TextBlock(const diagram::Font& font, const QColor& color, QWidget* parent)
    : QWidget(parent), color_(color), cursor_(&document_) {
    static const bool accessible = (QAccessible::installFactory(accessibleTextBlock), true);
    (void)accessible;
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
    setFocusPolicy(Qt::ClickFocus);
    setCursor(Qt::IBeamCursor);
    setFont(diagramFont(font, this));
    // Everything but the width is set before the document has a layout, which costs no pass.
    document_.setUndoRedoEnabled(false);
    document_.setDocumentMargin(0);
    document_.setDefaultFont(this->font());
    QTextOption option = document_.defaultTextOption();
    option.setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // A word longer than the line (a path, an address) breaks rather than running out of sight.
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    document_.setDefaultTextOption(option);
}

TextBlock::TextBlock(const QString& text, const diagram::Font& font, const QColor& color, QWidget* parent)
    : TextBlock(font, color, parent) {
    append(text);
}

void TextBlock::append(const QString& text, const QTextCharFormat& format) {
    QTextCursor end(&document_);
    end.movePosition(QTextCursor::End);
    end.insertText(text, format);
    laidOutWidth_ = -1;
    askedWidth_ = -1;
}

void TextBlock::setMargin(int margin) {
    margin_ = margin;
    askedWidth_ = -1;
    updateGeometry();
    update();
}

QString TextBlock::selectedText() const { return QTextDocumentFragment(cursor_).toPlainText(); }

int TextBlock::naturalWidth(int widest) const {
    layOut(std::max(0, widest - 2 * margin_));
    if (!wraps_) return int(std::ceil(document_.idealWidth())) + 2 * margin_;
    return widest;
}

int TextBlock::heightForWidth(int width) const {
    if (width != askedWidth_) {
        layOut(std::max(0, width - 2 * margin_));
        askedWidth_ = width;
        askedHeight_ = int(std::ceil(document_.size().height())) + 2 * margin_;
    }
    return askedHeight_;
}

QSize TextBlock::sizeHint() const {
    const int width = naturalWidth(QWIDGETSIZE_MAX);
    return {width, heightForWidth(width)};
}

// A width at which the text does not wrap lays it out as every wider width does.
void TextBlock::layOut(int textWidth) const {
    const bool fits = laidOutWidth_ >= 0 && !wraps_ && textWidth >= std::ceil(document_.idealWidth());
    if (textWidth == laidOutWidth_ || fits) return;
    document_.setTextWidth(textWidth);
    laidOutWidth_ = textWidth;
    document_.size();  // a long text is laid out in stages: finish it before counting
    int lines = 0;
    for (QTextBlock block = document_.begin(); block.isValid(); block = block.next())
        lines += block.layout()->lineCount();
    wraps_ = lines > document_.blockCount();
}

bool TextBlock::event(QEvent* event) {
    // Copying and selecting take their keys before any shortcut of the window does.
    if (event->type() == QEvent::ShortcutOverride) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->matches(QKeySequence::Copy) || key->matches(QKeySequence::SelectAll)) {
            key->accept();
            return true;
        }
    }
    return QWidget::event(event);
}

void TextBlock::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange && document_.defaultFont() != font()) {
        document_.setDefaultFont(font());
        laidOutWidth_ = -1;
        askedWidth_ = -1;
        updateGeometry();
    }
    QWidget::changeEvent(event);
}

void TextBlock::paintEvent(QPaintEvent* event) {
    layOut(std::max(0, width() - 2 * margin_));
    QPainter painter(this);
    QAbstractTextDocumentLayout::PaintContext context;
    context.palette = palette();
    context.palette.setColor(QPalette::Text, color_);
    const QPalette::ColorGroup group = hasFocus() ? QPalette::Active : QPalette::Inactive;
    if (cursor_.hasSelection()) {
        QAbstractTextDocumentLayout::Selection selection;
        selection.cursor = cursor_;
        selection.format.setBackground(context.palette.brush(group, QPalette::Highlight));
        selection.format.setForeground(context.palette.brush(group, QPalette::HighlightedText));
        context.selections.append(selection);
    }
    // Keyboard selection moves a cursor of its own: it shows while the block has focus.
    if (hasFocus()) context.cursorPosition = cursor_.position();
    const QRectF area(0, 0, width() - 2 * margin_, height() - 2 * margin_);
    painter.translate(margin_, margin_);
    painter.setClipRect(area);
    context.clip = QRectF(event->rect()).translated(-margin_, -margin_) & area;
    document_.documentLayout()->draw(&painter, context);
}

int TextBlock::positionAt(QPointF point) const {
    layOut(std::max(0, width() - 2 * margin_));
    const int position = document_.documentLayout()->hitTest(point - QPointF(margin_, margin_), Qt::FuzzyHit);
    return std::max(0, position);
}

void TextBlock::selectTo(int position) {
    if (drag_ != Drag::words) {
        cursor_.setPosition(position, QTextCursor::KeepAnchor);
        return;
    }
    QTextCursor word(&document_);
    word.setPosition(position);
    word.select(QTextCursor::WordUnderCursor);
    if (position < word_.selectionStart()) {
        cursor_.setPosition(word_.selectionEnd());
        cursor_.setPosition(std::min(position, word.selectionStart()), QTextCursor::KeepAnchor);
    } else {
        cursor_.setPosition(word_.selectionStart());
        cursor_.setPosition(std::max(position, word.selectionEnd()), QTextCursor::KeepAnchor);
    }
}

void TextBlock::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    const int position = positionAt(event->position());
    const bool triple = doubleClicked_ && event->timestamp() - doubleClickedAt_ <
                                              ulong(QGuiApplication::styleHints()->mouseDoubleClickInterval());
    doubleClicked_ = false;
    if (triple) {
        cursor_.setPosition(position);
        cursor_.movePosition(QTextCursor::StartOfBlock);
        cursor_.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
        drag_ = Drag::none;
    } else if (event->modifiers() & Qt::ShiftModifier) {
        drag_ = Drag::characters;
        selectTo(position);
    } else {
        drag_ = Drag::characters;
        cursor_.setPosition(position);
    }
    update();
}

void TextBlock::mouseMoveEvent(QMouseEvent* event) {
    if (drag_ == Drag::none || !(event->buttons() & Qt::LeftButton)) {
        event->ignore();
        return;
    }
    selectTo(positionAt(event->position()));
    update();
}

void TextBlock::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    drag_ = Drag::none;
    offerSelection();
}

void TextBlock::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    cursor_.setPosition(positionAt(event->position()));
    cursor_.select(QTextCursor::WordUnderCursor);
    word_ = cursor_;
    drag_ = Drag::words;
    doubleClicked_ = true;
    doubleClickedAt_ = event->timestamp();
    update();
}

void TextBlock::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Copy)) {
        copy();
        return;
    }
    if (event->matches(QKeySequence::SelectAll)) {
        selectAll();
        return;
    }
    for (const Move& move : kMoves) {
        if (!event->matches(move.key)) continue;
        layOut(std::max(0, width() - 2 * margin_));
        cursor_.movePosition(move.operation, move.mode);
        update();
        if (move.mode == QTextCursor::KeepAnchor) offerSelection();
        return;
    }
    event->ignore();
}

void TextBlock::contextMenuEvent(QContextMenuEvent* event) {
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    QAction* copying = menu->addAction(menuText("&Copy", QKeySequence::Copy), this, [this] { copy(); });
    copying->setObjectName(QStringLiteral("edit-copy"));
    copying->setEnabled(cursor_.hasSelection());
    menu->addSeparator();
    QAction* all = menu->addAction(menuText("Select All", QKeySequence::SelectAll), this, [this] { selectAll(); });
    all->setObjectName(QStringLiteral("select-all"));
    all->setEnabled(!document_.isEmpty());
    menu->popup(event->globalPos());
}

void TextBlock::focusInEvent(QFocusEvent* event) {
    update();
    QWidget::focusInEvent(event);
}

void TextBlock::focusOutEvent(QFocusEvent* event) {
    update();
    QWidget::focusOutEvent(event);
}

void TextBlock::copy() const {
    if (!cursor_.hasSelection()) return;
    const QTextDocumentFragment fragment(cursor_);
    auto* copied = new QMimeData;
    copied->setText(fragment.toPlainText());
    copied->setHtml(fragment.toHtml());
    QGuiApplication::clipboard()->setMimeData(copied);
}

void TextBlock::selectAll() {
    cursor_.select(QTextCursor::Document);
    update();
    offerSelection();
}

// Where the system keeps a selection of its own (X11), the selected text goes there.
void TextBlock::offerSelection() const {
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (cursor_.hasSelection() && clipboard->supportsSelection())
        clipboard->setText(selectedText(), QClipboard::Selection);
}

}  // namespace corvane
