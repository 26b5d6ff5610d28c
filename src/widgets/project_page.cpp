#include "widgets/project_page.h"

#include <QApplication>
#include <QDateTime>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>
#include <chrono>

#include "support/unicode.h"
#include "ui/chat_view_model.h"
#include "transcript/theme.h"
#include "widgets/chat_row.h"
#include "widgets/diagram_painter.h"
#include "widgets/symbols.h"
#include "widgets/widget_parts.h"

namespace corvane {

namespace {

// A symbol image at a font size, in one colour.
SymbolView* symbolImage(std::string name, double size, QColor color) {
    return new SymbolView(std::move(name), size, color, std::max(1.2, size / 12));
}

// A hairline between two rows, inset on the leading side.
class RowDivider : public QWidget {
public:
    RowDivider() { setFixedHeight(1); }

protected:
    void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(QRect(16, 0, width() - 16, 1), white(0.05)); }
};

qint64 millisecondsSinceEpoch(ISO8601::TimePoint t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
}

}  // namespace

std::string formattedDate(const std::string& updatedAt, const ChatDateContext& context) {
    // The shared formatter reads only its own form, which always has fractional seconds.
    if (updatedAt.size() < 20 || updatedAt[19] != '.') return {};
    const auto parsed = ISO8601::parse(updatedAt);
    if (!parsed) return {};
    const QDateTime when = QDateTime::fromMSecsSinceEpoch(millisecondsSinceEpoch(*parsed), context.timeZone);
    const QDateTime now = QDateTime::fromMSecsSinceEpoch(
        millisecondsSinceEpoch(context.now ? context.now() : ISO8601::now()), context.timeZone);
    const bool today = when.date() == now.date();
    return utf8(context.locale.toString(when, today ? QStringLiteral("h:mm AP") : QStringLiteral("MMM d")));
}

std::string trimmedNewChatText(const std::string& text) { return text::trimmingWhitespace(text); }

QMessageBox* makeAlertBox(const ViewModelAlert& alert, QWidget* parent) {
    auto* box = new QMessageBox(parent);
    useWindowPalette(box);
    box->setIcon(QMessageBox::Warning);
    box->setText(qText(alert.messageText));
    box->setInformativeText(qText(alert.informativeText));
    QPushButton* keyboardDefault = nullptr;
    for (std::size_t i = 0; i < alert.buttons.size(); ++i) {
        const bool destructive = alert.destructiveButton == i;
        const QString title = qText(alert.buttons[i]);
        QPushButton* button = box->addButton(
            title, destructive
                       ? QMessageBox::DestructiveRole
                       : (title == QStringLiteral("Cancel") ? QMessageBox::RejectRole : QMessageBox::ActionRole));
        // What cannot be undone is never done by a Return: it takes a click, or the focus and Space.
        if (destructive)
            clearKeyboardDefault(button);
        else if (!keyboardDefault)
            keyboardDefault = button;
        if (title == QStringLiteral("Cancel")) box->setEscapeButton(button);
    }
    if (keyboardDefault) box->setDefaultButton(keyboardDefault);
    return box;
}

std::size_t showViewModelAlert(const ViewModelAlert& alert, QWidget* parent) {
    // The parent may go while the box waits (it then takes the box with it): no answer then.
    QPointer<QMessageBox> box(makeAlertBox(alert, parent));
    box->exec();
    if (!box) return alert.buttons.size();
    std::size_t chosen = alert.buttons.size();
    for (std::size_t i = 0; i < alert.buttons.size() && chosen == alert.buttons.size(); ++i)
        if (box->clickedButton() && box->clickedButton()->text() == qText(alert.buttons[i])) chosen = i;
    delete box.data();
    return chosen;
}

ProjectPageView::ProjectPageView(std::optional<std::string> projectName, Actions actions, ChatDateContext dates,
                                 AnimationClock& clock, QWidget* parent)
    : QScrollArea(parent),
      projectName_(std::move(projectName)),
      actions_(std::move(actions)),
      dates_(std::move(dates)),
      clock_(clock) {
    build();
}

ProjectPageView::ProjectPageView(const std::shared_ptr<ChatViewModel>& viewModel,
                                 std::optional<std::string> projectName, QWidget* parent)
    : ProjectPageView(std::move(projectName), Actions{}, ChatDateContext{}, AnimationClock::system(), parent) {
    viewModel_ = viewModel;
    std::weak_ptr<ChatViewModel> weak = viewModel;
    actions_.sendMessage = [weak](const std::string& text) -> std::optional<std::string> {
        auto vm = weak.lock();
        if (!vm || vm->sendMessage(text)) return std::nullopt;
        return vm->unsentReason();
    };
    actions_.openThread = [weak](const std::string& threadID) {
        if (auto vm = weak.lock()) {
            vm->switchConversation(threadID);
            vm->setNavigation(NavigationState::chat(threadID));
        }
    };
    actions_.deleteThread = [weak](const std::string& threadID) {
        if (auto vm = weak.lock()) vm->requestDeleteThread(threadID);
    };
    observerToken_ = viewModel->addObserver([this](ChatViewModel::Field field) {
        auto vm = viewModel_.lock();
        if (!vm) return;
        if (field == ChatViewModel::Field::threads) setThreads(vm->threadsForProject(projectName_));
        // "Still working" is over with the turn; the text waits in the field to be sent.
        if (field == ChatViewModel::Field::isBusy && !vm->isTurnRunning() &&
            noticeText() == QString(ChatViewModel::kTurnRunningNotice))
            notice_->hide();
    });
    setThreads(viewModel->threadsForProject(projectName_));
}

ProjectPageView::~ProjectPageView() { unbind(); }

void ProjectPageView::unbind() {
    if (auto vm = viewModel_.lock(); vm && observerToken_) vm->removeObserver(observerToken_);
    observerToken_ = 0;
}

void ProjectPageView::build() {
    // The page is scrolled, never typed into: Tab and clicks leave the focus with its controls.
    setFocusPolicy(Qt::NoFocus);
    setFrameShape(QFrame::NoFrame);
    setWidgetResizable(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    styleScrollIndicator(this);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, toQColor(CorvaneTheme::background));
    setPalette(palette);
    setAutoFillBackground(true);

    auto* content = new QWidget;
    content->setAutoFillBackground(true);
    content->setPalette(palette);
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(40, 28, 40, 40);
    column->setSpacing(22);

    auto* header = new QHBoxLayout;
    header->setSpacing(12);
    header->addWidget(symbolImage("folder.fill", 20, white(0.35)));
    header_ = makeLabel(headerText(), uiFont(22, QFont::Bold), white(1));
    header->addWidget(header_);
    header->addStretch(1);
    column->addLayout(header);

    auto* field = new PaintedBox(12, toQColor(CorvaneTheme::surfaceElevated), toQColor(CorvaneTheme::surfaceBorder));
    auto* fieldRow = new QHBoxLayout(field);
    fieldRow->setContentsMargins(16, 12, 16, 12);
    fieldRow->setSpacing(10);
    fieldRow->addWidget(symbolImage("plus", 13, white(0.3)));
    newChatField_ = new QLineEdit;
    newChatField_->setFrame(false);
    newChatField_->setPlaceholderText(QStringLiteral("Start a new chat\u2026"));
    newChatField_->setFont(uiFont(14));
    QPalette fieldPalette = newChatField_->palette();
    fieldPalette.setColor(QPalette::Base, Qt::transparent);
    fieldPalette.setColor(QPalette::Text, white(1));
    fieldPalette.setColor(QPalette::PlaceholderText, toQColor(CorvaneTheme::textTertiary));
    newChatField_->setPalette(fieldPalette);
    newChatField_->setAttribute(Qt::WA_MacShowFocusRect, false);
    QObject::connect(newChatField_, &QLineEdit::returnPressed, this, [this] { submitNewChat(); });
    fieldRow->addWidget(newChatField_, 1);
    column->addWidget(field);
    notice_ = makeLabel(QString(), uiFont(12), toQColor(CorvaneTheme::textSecondary));
    notice_->setWordWrap(true);
    notice_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    notice_->hide();
    column->addWidget(notice_);
    // The reason explains the text it was given for; an edit makes it stale.
    QObject::connect(newChatField_, &QLineEdit::textChanged, this, [this](const QString& text) {
        if (text != sentText_) notice_->hide();
    });

    listLayout_ = column;
    column->addStretch(1);
    setWidget(content);
    rebuildList();
}

QString ProjectPageView::headerText() const {
    return projectName_ ? qText(*projectName_) : QStringLiteral("No project");
}

void ProjectPageView::setProjectName(std::optional<std::string> projectName) {
    if (projectName == projectName_) return;
    projectName_ = std::move(projectName);
    header_->setText(headerText());
    if (auto vm = viewModel_.lock()) setThreads(vm->threadsForProject(projectName_));
}

void ProjectPageView::submitNewChat() {
    const std::string trimmed = trimmedNewChatText(utf8(newChatField_->text()));
    if (trimmed.empty() || !actions_.sendMessage) return;
    // Sending normally opens the new chat, which replaces this page (later, not now).
    const auto notSent = actions_.sendMessage(trimmed);
    if (!notSent) {
        newChatField_->clear();
        notice_->hide();
        return;
    }
    sentText_ = newChatField_->text();
    notice_->setText(qText(*notSent));
    notice_->show();
}

QString ProjectPageView::noticeText() const { return notice_->text(); }

void ProjectPageView::setThreads(std::vector<ConversationSummary> threads) {
    if (list_ && threads == threads_) return;
    threads_ = std::move(threads);
    rebuildList();
}

void ProjectPageView::rebuildList() {
    // The old list may hold the row whose click led here: it goes once that click is over.
    if (list_) {
        listLayout_->removeWidget(list_);
        list_->hide();
        list_->deleteLater();
    }
    rows_.clear();
    emptyState_ = nullptr;
    sectionLabel_ = nullptr;
    dividerCount_ = 0;

    list_ = new QWidget;
    auto* layout = new QVBoxLayout(list_);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    if (threads_.empty()) {
        auto* empty = new QWidget;
        auto* stack = new QVBoxLayout(empty);
        stack->setContentsMargins(0, 40, 0, 0);
        stack->setSpacing(10);
        stack->addWidget(symbolImage("bubble.left.and.bubble.right", 28, white(0.12)), 0, Qt::AlignHCenter);
        stack->addWidget(makeLabel(QStringLiteral("No chats yet"), uiFont(13), white(0.25)), 0, Qt::AlignHCenter);
        stack->addWidget(makeLabel(QStringLiteral("Start typing above to begin"), uiFont(11), white(0.15)), 0,
                         Qt::AlignHCenter);
        layout->addWidget(empty);
        emptyState_ = empty;
    } else {
        auto* section = makeLabel(QStringLiteral("Chats"), uiFont(11, QFont::DemiBold), white(0.3));
        QFont font = section->font();
        font.setCapitalization(QFont::AllUppercase);
        font.setLetterSpacing(QFont::AbsoluteSpacing, 0.6);
        section->setFont(font);
        section->setContentsMargins(0, 0, 0, 8);
        layout->addWidget(section);
        sectionLabel_ = section;
        for (size_t i = 0; i < threads_.size(); ++i) {
            const std::string id = threads_[i].threadID;
            auto* row = new ChatRowView(
                threads_[i], formattedDate(threads_[i].updatedAt, dates_),
                [this, id] {
                    if (actions_.openThread) actions_.openThread(id);
                },
                [this, id] {
                    // Asked once the row's own click or menu is over: the question waits in an event
                    // loop of its own, where a turn's end may rebuild (and delete) these rows.
                    if (auto action = actions_.deleteThread)
                        QMetaObject::invokeMethod(
                            qApp, [action = std::move(action), id] { action(id); }, Qt::QueuedConnection);
                },
                clock_);
            layout->addWidget(row);
            rows_.push_back(row);
            if (i + 1 < threads_.size()) {
                layout->addWidget(new RowDivider);
                ++dividerCount_;
            }
        }
    }
    // Under the header, the field and its notice, above the closing stretch.
    listLayout_->insertWidget(3, list_);
    // Tab goes from the field down the rows, however late in the window these were built.
    QWidget* previous = newChatField_;
    for (ChatRowView* row : rows_) {
        QWidget::setTabOrder(previous, row);
        previous = row;
    }
}

}  // namespace corvane
