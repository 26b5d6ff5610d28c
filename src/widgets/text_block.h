#pragma once

#include <QTextCursor>
#include <QTextDocument>
#include <QWidget>

#include "widgets/diagram_painter.h"

namespace corvane {

// A wrapped, selectable block of a message's text. A label lays its text out again for nearly
// every question asked of it and sets up its editing machinery on the way; a chat bubble asks
// for the natural width and the height of every block while the transcript waits for its
// frame. This block keeps one document, laid out once per width, and paints that layout itself.
// The reader can select with the mouse (drag, double-click for a word, triple-click for the
// block, shift-click to extend) and the keyboard once it has focus, and copy with the copy key
// or the context menu.
class TextBlock : public QWidget {
public:
    // Empty: its text is added before it is first measured.
    TextBlock(const diagram::Font& font, const QColor& color, QWidget* parent = nullptr);
    TextBlock(const QString& text, const diagram::Font& font, const QColor& color, QWidget* parent = nullptr);

    // Adds a run in its own style (on the block's font and colour) at the end; a line break
    // starts a new paragraph.
    void append(const QString& text, const QTextCharFormat& format = {});
    // What the reader sees.
    QString plainText() const { return document_.toPlainText(); }
    QString selectedText() const;
    QColor color() const { return color_; }
    // Room kept clear around the text on every side.
    void setMargin(int margin);
    int margin() const { return margin_; }
    const QTextDocument& document() const { return document_; }

    // The width of the widest line left unwrapped, from a layout at `widest`, the most the block
    // is ever given: a text that wraps there is at least that wide, which is all a bubble needs.
    int naturalWidth(int widest) const;
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;

protected:
    bool event(QEvent* event) override;
    void changeEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void layOut(int textWidth) const;
    int positionAt(QPointF point) const;
    void selectTo(int position);
    void copy() const;
    void selectAll();
    void offerSelection() const;

    QColor color_;
    int margin_ = 0;
    mutable QTextDocument document_{this};
    QTextCursor cursor_;
    // A drag after a double-click extends by words from the word it selected.
    enum class Drag { none, characters, words } drag_ = Drag::none;
    QTextCursor word_;
    unsigned long doubleClickedAt_ = 0;
    bool doubleClicked_ = false;
    mutable int laidOutWidth_ = -1;
    mutable bool wraps_ = false;
    mutable int askedWidth_ = -1;
    mutable int askedHeight_ = 0;
};

}  // namespace corvane
