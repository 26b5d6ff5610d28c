#include "widgets/input_bar.h"

#include <QBuffer>
#include <QDragEnterEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QTextBlock>
#include <QTextEdit>
#include <QTextLayout>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <filesystem>

#include "transcript/theme.h"
#include "widgets/hover_button.h"
#include "widgets/symbols.h"
#include "widgets/widget_parts.h"

namespace corvane {

namespace {
constexpr int kMaxLines = 6;

const char* tierTitle(ModelTier tier) { return tier == ModelTier::pro ? "Pro" : "Standard"; }
const char* tierSubtitle(ModelTier tier) {
    return tier == ModelTier::pro ? "Coming soon" : "Default \u2014 handles most requests";
}

// A row of widgets inside a capsule of white at 5 %.
PaintedBox* capsule(QWidget* parent, QColor fill, int padX, int padY, int spacing) {
    auto* box = new PaintedBox(parent);
    box->setFill(fill);
    box->setRadius(-1);
    auto* row = new QHBoxLayout(box);
    row->setContentsMargins(padX, padY, padX, padY);
    row->setSpacing(spacing);
    return box;
}
}  // namespace

// Grows from one to six lines; Return submits, every other key does what the field does.
class MessageInputView::TextArea : public QTextEdit {
public:
    TextArea(MessageInputView* bar) : QTextEdit(bar), bar_(bar) {
        setAcceptRichText(false);
        setFrameShape(QFrame::NoFrame);
        setAcceptDrops(false);  // drops belong to the bar
        setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        setTabChangesFocus(true);
        setFont(uiFont(14));
        document()->setDocumentMargin(0);
        viewport()->setAutoFillBackground(false);
        setStyleSheet("QTextEdit { background: transparent; }");
        QPalette p = palette();
        p.setColor(QPalette::Text, white(1));
        p.setColor(QPalette::PlaceholderText, white(0.3));
        p.setColor(QPalette::Disabled, QPalette::Text, white(0.5));
        p.setColor(QPalette::Disabled, QPalette::PlaceholderText, white(0.3));
        setPalette(p);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        connect(document(), &QTextDocument::contentsChanged, this, [this] { fitHeight(); });
        fitHeight();
    }

protected:
    void keyPressEvent(QKeyEvent* event) override {
        const bool submit = (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
                            (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
        if (submit) {
            event->accept();
            if (bar_->actions_.onSend) bar_->actions_.onSend();
            return;
        }
        QTextEdit::keyPressEvent(event);
    }
    void resizeEvent(QResizeEvent* event) override {
        QTextEdit::resizeEvent(event);
        fitHeight();
    }

private:
    void fitHeight() {
        // A line as the document lays it out, so that six of them show whole.
        const QTextLayout* first = document()->firstBlock().layout();
        const double line =
            first && first->lineCount() > 0 ? first->lineAt(0).height() : QFontMetricsF(font()).lineSpacing();
        document()->setTextWidth(contentsRect().width());  // the viewport follows only once shown
        const double content = std::clamp(document()->size().height(), line, line * kMaxLines);
        const int height = int(std::ceil(content));
        if (height != this->height()) setFixedHeight(height);
    }

    MessageInputView* bar_;
};

// The tier label; a click opens the tier menu under it.
class MessageInputView::TierPicker : public QWidget {
public:
    TierPicker(MessageInputView* bar) : QWidget(bar), bar_(bar) {
        auto* outer = new QHBoxLayout(this);
        outer->setContentsMargins(0, 0, 0, 0);
        const QColor ink = white(0.5);
        auto* box = capsule(this, white(0.05), 9, 4, 5);
        box->layout()->addWidget(new SymbolView("cpu", 10, ink, 1.1));
        label_ = makeLabel(tierTitle(ModelTier::standard), uiFont(11, QFont::Medium), ink);
        box->layout()->addWidget(label_);
        QColor chevronInk = ink;
        chevronInk.setAlphaF(ink.alphaF() * 0.9f);
        auto* chevron = new SymbolView("chevron.down", 10, chevronInk, 1.8);
        static_cast<QHBoxLayout*>(box->layout())->addSpacing(2);
        box->layout()->addWidget(chevron);
        box->setAttribute(Qt::WA_TransparentForMouseEvents);
        outer->addWidget(box);
        setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
        setCursor(Qt::PointingHandCursor);
        setToolTip("Standard handles every mixing question reliably. Pro is coming soon.");
        setFocusPolicy(Qt::TabFocus);
    }
    void setTier(ModelTier tier) { label_->setText(tierTitle(tier)); }
    QString text() const { return label_->text(); }

protected:
    void mousePressEvent(QMouseEvent* event) override {
        if (event->button() != Qt::LeftButton) return;
        event->accept();
        bar_->tierMenu_->popup(mapToGlobal(QPoint(0, height())));
    }
    // Reached by Tab, it opens as the window's other controls press.
    void keyPressEvent(QKeyEvent* event) override {
        const int key = event->key();
        const bool opens = key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space || key == Qt::Key_Down;
        if (!opens || (event->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier || event->isAutoRepeat()) {
            QWidget::keyPressEvent(event);
            return;
        }
        event->accept();
        bar_->tierMenu_->popup(mapToGlobal(QPoint(0, height())));
    }

private:
    MessageInputView* bar_;
    QLabel* label_ = nullptr;
};

namespace {
// The round send / stop button's face; it asks the bar which symbol to draw.
class SendFace : public QWidget {
public:
    SendFace(std::function<std::string()> symbol, bool hovered) : symbol_(std::move(symbol)), hovered_(hovered) {
        setFixedSize(28, 28);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        if (!isEnabled()) painter.setOpacity(0.45);
        painter.setPen(Qt::NoPen);
        painter.setBrush(toQColorOf(hovered_ ? CorvaneTheme::primaryButtonHover : CorvaneTheme::primaryButton));
        painter.drawEllipse(QRectF(0, 0, 28, 28));
        drawSymbol(painter, symbol_(), QRectF(7.5, 7.5, 13, 13), white(1), 2.0);
    }

private:
    static QColor toQColorOf(const diagram::Color& color) { return withOpacity(color); }
    std::function<std::string()> symbol_;
    bool hovered_;
};
}  // namespace

MessageInputView::MessageInputView(Actions actions, QWidget* parent, platform::MainQueue& mainQueue)
    : QWidget(parent), actions_(std::move(actions)), mainQueue_(mainQueue) {
    setAcceptDrops(true);
    setAttribute(Qt::WA_StyledBackground, false);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(14, 10, 14, 10);
    column->setSpacing(0);

    notice_ = makeLabel(QString(), uiFont(11), toQColor(CorvaneTheme::textSecondary));
    notice_->setWordWrap(true);
    notice_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    notice_->setContentsMargins(0, 0, 0, 6);
    notice_->hide();
    column->addWidget(notice_);

    textArea_ = new TextArea(this);
    column->addWidget(textArea_);
    connect(textArea_, &QTextEdit::textChanged, this, [this] {
        // The notice explains the text it was shown for; an edit makes it stale.
        setNotice("");
        refresh();
    });

    auto* toolbar = new QWidget(this);
    auto* row = new QHBoxLayout(toolbar);
    row->setContentsMargins(0, 8, 0, 0);
    row->setSpacing(8);
    column->addWidget(toolbar);

    attachButton_ = new HoverButton([this] { pickImage(); },
                                    [](bool) {
                                        auto* face = capsule(nullptr, white(0.05), 7, 5, 0);
                                        face->layout()->addWidget(new SymbolView("paperclip", 12, white(0.5), 1.4));
                                        return face;
                                    },
                                    toolbar);
    attachButton_->setToolTip("Attach an image");
    attachButton_->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    row->addWidget(attachButton_, 0, Qt::AlignVCenter);

    tierMenu_ = new QMenu(this);
    for (const ModelTier tier : kAllModelTiers) {
        // The menu's second column holds each tier's description.
        QAction* item = tierMenu_->addAction(QString(tierTitle(tier)) + "\t" + tierSubtitle(tier));
        item->setData(int(tier));
        item->setEnabled(tier != ModelTier::pro);  // not offered yet
        connect(item, &QAction::triggered, this, [this, item, tier] {
            if (item->isEnabled() && actions_.onSelectModelTier) actions_.onSelectModelTier(tier);
        });
    }
    tierPicker_ = new TierPicker(this);
    row->addWidget(tierPicker_, 0, Qt::AlignVCenter);

    captureChip_ = capsule(toolbar, withOpacity(CorvaneTheme::primaryButton, 0.3), 8, 3, 4);
    captureChip_->layout()->addWidget(new SymbolView("photo.fill", 10, white(0.75), 1.1));
    captureCountLabel_ = makeLabel("0", uiFont(11, QFont::Medium), white(0.75));
    captureChip_->layout()->addWidget(captureCountLabel_);
    row->addWidget(captureChip_, 0, Qt::AlignVCenter);

    row->addStretch(1);
    sendButton_ = new HoverButton(
        [this] { sendPressed(); },
        [this](bool hovered) { return new SendFace([this] { return sendSymbol(); }, hovered); }, toolbar);
    sendButton_->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    sendButton_->installEventFilter(this);
    row->addWidget(sendButton_, 0, Qt::AlignVCenter);
    refresh();
}

MessageInputView::~MessageInputView() {
    lifetime_.end();
    readers_.clear();  // joins them
}

void MessageInputView::setNotice(const std::string& text) {
    notice_->setText(QString::fromStdString(text));
    notice_->setVisible(!text.empty());
}

QString MessageInputView::noticeText() const { return notice_->text(); }

std::string MessageInputView::messageText() const { return textArea_->toPlainText().toStdString(); }

void MessageInputView::setMessageText(const std::string& text) {
    if (messageText() == text) return;
    textArea_->setPlainText(QString::fromStdString(text));
    textArea_->moveCursor(QTextCursor::End);
}

void MessageInputView::setSelectedModelTier(ModelTier tier) {
    tier_ = tier;
    refresh();
}

void MessageInputView::setPendingCaptureCount(std::int64_t count) {
    captureCount_ = count;
    refresh();
}

void MessageInputView::setBusy(bool busy) {
    busy_ = busy;
    if (!busy) stopAsked_ = false;
    refresh();
}

QString MessageInputView::placeholder() const {
    if (busy_) return QStringLiteral("Working\u2026");
    if (dropTargeted_) return QStringLiteral("Drop image to attach\u2026");
    return QStringLiteral("Ask about your mix\u2026");
}

QTextEdit* MessageInputView::textArea() const { return textArea_; }
QWidget* MessageInputView::tierPicker() const { return tierPicker_; }
QWidget* MessageInputView::captureChip() const { return captureChip_; }
QString MessageInputView::tierLabelText() const { return tierPicker_->text(); }
QString MessageInputView::captureChipText() const { return captureCountLabel_->text(); }

void MessageInputView::refresh() {
    if (textArea_->placeholderText() != placeholder()) textArea_->setPlaceholderText(placeholder());
    // After Stop the turn only winds down: the next message may be typed at once (it is sent
    // once the turn has ended; the view model says so before).
    const bool editable = !busy_ || stopAsked_;
    if (!editable && textArea_->isEnabled() && window()->focusWidget() == textArea_) {
        // Disabled, the field would hand the focus on to the next control (a reply's Report link,
        // which the next space would press): the bar holds it until the field takes typing again.
        focusParked_ = true;
        setFocus(Qt::OtherFocusReason);
    }
    textArea_->setEnabled(editable);
    if (editable && focusParked_) {
        focusParked_ = false;
        if (window()->focusWidget() == this) textArea_->setFocus(Qt::OtherFocusReason);
    }
    tierPicker_->setTier(tier_);
    captureChip_->setVisible(captureCount_ >= 1);
    captureCountLabel_->setText(QString::number(captureCount_));
    sendButton_->setToolTip(busy_ ? "Stop" : "Send");
    sendButton_->setEnabled(busy_ || !textArea_->toPlainText().trimmed().isEmpty());
    if (sendButton_->labelWidget()) sendButton_->labelWidget()->update();
    update();
}

void MessageInputView::focusInEvent(QFocusEvent* event) {
    QWidget::focusInEvent(event);
    // Parked: refresh() is taking the focus from the field it is about to disable.
    if (!focusParked_ && textArea_->isEnabled())
        textArea_->setFocus(event->reason());
    else
        focusParked_ = true;
}

void MessageInputView::sendPressed() {
    if (busy_) {
        stopAsked_ = true;
        if (actions_.onStop) actions_.onStop();
        refresh();
    } else if (actions_.onSend) {
        actions_.onSend();
    }
}

void MessageInputView::setDropTargeted(bool targeted) {
    if (dropTargeted_ == targeted) return;
    dropTargeted_ = targeted;
    refresh();
}

void MessageInputView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF area = QRectF(rect());
    painter.setPen(Qt::NoPen);
    painter.setBrush(withOpacity(CorvaneTheme::surfaceElevated, dropTargeted_ ? 0.9 : 1));
    painter.drawRoundedRect(area, 14, 14);
    const double width = dropTargeted_ ? 2 : 1;
    painter.setPen(QPen(
        dropTargeted_ ? withOpacity(CorvaneTheme::primaryButton) : withOpacity(CorvaneTheme::surfaceBorder), width));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(area.adjusted(width / 2, width / 2, -width / 2, -width / 2), 14 - width / 2,
                            14 - width / 2);
}

// The send button's circle is its hit area: a press in a corner of its square is no press.
bool MessageInputView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == sendButton_ && event->type() == QEvent::MouseButtonPress) {
        const QPointF at = static_cast<QMouseEvent*>(event)->position();
        const QPointF centre = QRectF(sendButton_->rect()).center();
        const double radius = std::min(sendButton_->width(), sendButton_->height()) / 2.0;
        const QPointF d = at - centre;
        if (d.x() * d.x() + d.y() * d.y() > radius * radius) return true;
    }
    return QWidget::eventFilter(watched, event);
}

void MessageInputView::dragEnterEvent(QDragEnterEvent* event) {
    if (!event->mimeData()->hasUrls() && !event->mimeData()->hasImage()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    setDropTargeted(true);
}

void MessageInputView::dragLeaveEvent(QDragLeaveEvent* event) {
    setDropTargeted(false);
    QWidget::dragLeaveEvent(event);
}

void MessageInputView::dropEvent(QDropEvent* event) {
    setDropTargeted(false);
    if (handleDrop(*event->mimeData()))
        event->acceptProposedAction();
    else
        event->ignore();
}

bool MessageInputView::handleDrop(const QMimeData& mime) {
    const QList<QUrl> urls = mime.urls();
    if (!urls.isEmpty()) {
        // Every address is taken; only local files can be read, the rest come to nothing.
        QStringList paths;
        for (const QUrl& url : urls)
            if (url.isLocalFile()) paths.push_back(url.toLocalFile());
        handOnFiles(paths);
        return true;
    }
    if (!mime.hasImage()) return false;
    QByteArray bytes = mime.data("image/png");
    if (bytes.isEmpty()) {
        const QImage image = qvariant_cast<QImage>(mime.imageData());
        QBuffer buffer(&bytes);
        if (!image.isNull() && buffer.open(QIODevice::WriteOnly)) image.save(&buffer, "PNG");
    }
    if (!bytes.isEmpty() && actions_.onDropImage) actions_.onDropImage(bytes.toStdString(), "png");
    return true;
}

void MessageInputView::pickImage() {
    std::optional<std::string> path;
    if (picker_) {
        path = picker_(this);
    } else {
        const QString chosen = QFileDialog::getOpenFileName(this, QString(), QString(), "Images (*.png *.jpg *.jpeg *.tif *.tiff)");
        if (!chosen.isEmpty()) path = chosen.toStdString();
    }
    if (path && !path->empty()) handOnFiles({QString::fromStdString(*path)});
}

bool MessageInputView::isReading() const {
    return std::any_of(readers_.begin(), readers_.end(), [](const Reader& reader) { return reader.running.alive(); });
}

// Up to 20 MB from a disk or a network share: read on a thread of its own, so the window keeps
// drawing; the bytes come back on the UI thread, unless the bar is gone by then.
// One reader per drop, so that its files arrive in the order they were dropped.
void MessageInputView::handOnFiles(const QStringList& paths) {
    std::erase_if(readers_, [](const Reader& reader) { return !reader.running.alive(); });
    if (paths.isEmpty()) return;
    std::vector<std::pair<std::string, std::string>> files;  // path, extension
    for (const QString& path : paths) {
        QString extension = QFileInfo(path).suffix().toLower();
        if (extension.isEmpty()) extension = "png";
        files.emplace_back(path.toStdString(), extension.toStdString());
    }
    platform::Lifetime running;
    Reader reader{running.guard(), {}};
    reader.thread = std::jthread([this, running = std::move(running), alive = lifetime_.guard(), &queue = mainQueue_,
                                  files = std::move(files)]() mutable {
        for (const auto& [path, extension] : files) read(path, extension, alive, queue);
        running.end();
    });
    readers_.push_back(std::move(reader));
}

// Only a regular file is read: a folder or a pipe dropped from a file manager comes to nothing
// instead of blocking the reader.
void MessageInputView::read(const std::string& path, const std::string& extension, platform::Lifetime::Guard alive,
                            platform::MainQueue& queue) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(std::filesystem::path(path), error)) return;
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly)) return;
    std::string bytes = file.read(kMaxReadBytes).toStdString();
    if (file.error() != QFileDevice::NoError) return;
    queue.async([this, alive, bytes = std::move(bytes), extension] {
        if (alive && actions_.onDropImage) actions_.onDropImage(bytes, extension);
    });
}

}  // namespace corvane
