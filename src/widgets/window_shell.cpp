#include "widgets/window_shell.h"

#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QVBoxLayout>
#include <cmath>

#include "support/unicode.h"
#include "transcript/theme.h"
#include "widgets/diagram_painter.h"
#include "widgets/focus_ring.h"
#include "widgets/hover_button.h"
#include "widgets/symbols.h"
#include "widgets/widget_parts.h"

namespace corvane {

namespace {

QWidget* placeholder(const QString& text) {
    auto* label = makeLabel(text, uiFont(12), white(0.3));
    label->setAlignment(Qt::AlignCenter);
    return label;
}

QDialog* placeholderSheet(QWidget* parent, const QString& title) {
    auto* dialog = new QDialog(parent);
    dialog->setWindowTitle(title);
    auto* layout = new QVBoxLayout(dialog);
    layout->addWidget(placeholder(title));
    dialog->resize(420, 200);
    return dialog;
}

QWidget* padded(QWidget* content, int left, int top, int right, int bottom) {
    auto* holder = new QWidget;
    auto* layout = new QVBoxLayout(holder);
    layout->setContentsMargins(left, top, right, bottom);
    layout->setSpacing(0);
    layout->addWidget(content);
    return holder;
}

QWidget* line(const QColor& color) { return new PaintedBox(0, color); }

}  // namespace

std::string CompanionRootView::songBriefPreview(const std::string& brief) {
    const std::string trimmed = text::trimmingWhitespaceAndNewlines(brief);
    // A cut brief says so: the line would otherwise end mid-word as if that were all.
    if (text::graphemeCount(trimmed) <= 80) return trimmed;
    return text::graphemePrefix(trimmed, 80) + "\u2026";
}

CompanionRootView::CompanionRootView(ShellActions actions, ShellViews views, double compactSidebarThreshold,
                                     AnimationClock& clock, QWidget* parent)
    : QWidget(parent),
      actions_(std::move(actions)),
      views_(std::move(views)),
      threshold_(compactSidebarThreshold),
      clock_(clock),
      frames_([this] { tick(); }) {
    setMinimumSize(0, 0);
    // The dark controls draw no focus of their own: the ring shows where Tab went.
    FocusRing::shared();
    auto sidebar = [this](bool fullWindow) -> QWidget* {
        auto navigated = [this, fullWindow] {
            if (fullWindow) setSidebarVisible(false, false);
        };
        return views_.sidebar ? views_.sidebar(navigated) : placeholder("Songs");
    };

    mainRow_ = new QWidget(this);
    auto* row = new QHBoxLayout(mainRow_);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    inlineHolder_ = new QWidget;
    inlineContent_ = sidebar(false);
    inlineContent_->setParent(inlineHolder_);
    row->addWidget(inlineHolder_);
    divider_ = line(white(0.06));
    divider_->setFixedWidth(1);
    row->addWidget(divider_);

    auto* column = new QWidget;
    auto* stack = new QVBoxLayout(column);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(0);
    topBar_ = new TopBar({[this] { toggleSidebar(); },
                          [this] {
                              if (actions_.showProjectPage) actions_.showProjectPage(state_.currentProjectName);
                          },
                          [this] { showSongBriefEditor(); },
                          [this] {
                              if (actions_.clearChat) actions_.clearChat();
                          }});
    stack->addWidget(topBar_);
    auto* divider = line(white(0.05));
    divider->setFixedHeight(1);
    stack->addWidget(divider);
    loopbackBanner_ = new ProblemBanner("Local API not available");
    stack->addWidget(loopbackBanner_);
    storeFailureBanner_ = new ProblemBanner("Not saved", [this] {
        if (actions_.dismissStoreFailure) actions_.dismissStoreFailure();
    });
    stack->addWidget(storeFailureBanner_);
    otherSongBanner_ = new ProblemBanner("Another song is open");
    stack->addWidget(otherSongBanner_);
    accessibilityBanner_ = new AccessibilityBanner(actions_.openURL);
    stack->addWidget(accessibilityBanner_);
    pluginBanner_ = new PluginMissingBanner(actions_.siteURL, actions_.openURL, [this] {
        if (actions_.dismissPluginBanner) actions_.dismissPluginBanner();
    });
    stack->addWidget(pluginBanner_);
    reportSentBanner_ = new ConfirmationBanner("Report sent. Thank you for telling us.");
    stack->addWidget(reportSentBanner_);

    pageHolder_ = new QWidget;
    auto* pageLayout = new QVBoxLayout(pageHolder_);
    pageLayout->setContentsMargins(0, 0, 0, 0);
    stack->addWidget(pageHolder_, 1);

    chatPane_ = new QWidget;
    auto* pane = new QVBoxLayout(chatPane_);
    pane->setContentsMargins(0, 0, 0, 0);
    pane->setSpacing(0);
    songBriefStrip_ = new HoverButton(
        [this] { showSongBriefEditor(); },
        [this](bool hovered) {
            auto* box = new PaintedBox(0, hovered ? std::optional(white(0.03)) : std::nullopt);
            auto* label = new QHBoxLayout(box);
            label->setContentsMargins(12, 4, 12, 4);
            label->setSpacing(6);
            const QColor color = white(hovered ? 0.5 : 0.3);
            label->addWidget(new SymbolView("music.note", 10, SymbolView::Weight::regular, color), 0, Qt::AlignVCenter);
            songBriefLabel_ = new ElidedLabel(QString::fromStdString(songBriefPreview_), uiFont(11), color);
            label->addWidget(songBriefLabel_, 1, Qt::AlignVCenter);
            return box;
        });
    pane->addWidget(songBriefStrip_);
    pane->addWidget(padded(views_.transcript ? views_.transcript() : placeholder("Transcript"), 8, 0, 8, 0), 1);
    inputBar_ = views_.inputBar ? views_.inputBar() : placeholder("Input bar");
    pane->addWidget(padded(inputBar_, 10, 6, 10, 6));
    // Under the chat: the one place a turn's errors and a refused drop are told.
    statusLine_ = new StatusLine;
    pane->addWidget(statusLine_);
    stack->addWidget(chatPane_, 1);
    row->addWidget(column, 1);

    fullSidebar_ = new QWidget(this);
    fullSidebar_->setAutoFillBackground(true);
    QPalette background = fullSidebar_->palette();
    background.setColor(QPalette::Window, toQColor(CorvaneTheme::background));
    fullSidebar_->setPalette(background);
    auto* full = new QVBoxLayout(fullSidebar_);
    full->setContentsMargins(0, 0, 0, 0);
    full->addWidget(sidebar(true));
    fullSidebar_->hide();

    // The strip lies over the top bar and the sidebar's header, whose buttons keep their clicks:
    // it only marks where a double click that nothing took zooms the window.
    titleStrip_ = new QWidget(this);
    titleStrip_->setAttribute(Qt::WA_TransparentForMouseEvents);

    ShellState initial;
    state_ = initial;
    state_.isChat = true;  // differs, so the first setState applies everything
    setState(initial);
    layoutLayers();
}

void CompanionRootView::setState(const ShellState& state) {
    if (state == state_) return;
    const bool pageChanged = state.isChat != state_.isChat || state.pageProjectName != state_.pageProjectName;
    const bool reportingChanged = state.reporting != state_.reporting;
    state_ = state;
    topBar_->setState(
        {sidebarVisible_, state.isChat, state.currentProjectName, state.threadTitle, state.isBusy, state.songBrief});
    loopbackBanner_->setProblem(state.loopbackProblem);
    loopbackBanner_->setVisible(!state.loopbackProblem.empty());
    storeFailureBanner_->setProblem(state.storeFailure);
    storeFailureBanner_->setVisible(!state.storeFailure.empty());
    otherSongBanner_->setProblem(state.otherSong);
    otherSongBanner_->setVisible(state.isChat && !state.otherSong.empty());
    accessibilityBanner_->setVisible(!state.accessibilityTrusted);
    pluginBanner_->setVisible(state.showPluginMissingBanner);
    reportSentBanner_->setVisible(state.reportSent);
    statusLine_->setState(state.statusMessage, state.statusFailures, state.isBusy);
    if (pageChanged) rebuildProjectPage();
    chatPane_->setVisible(state.isChat);
    // A chat or song page just opened takes what is typed next; the page that opened it, and the
    // field or row that had the focus there, are gone. The bar hands the focus to its field once
    // that takes typing (after the turn a new chat starts with).
    if (pageChanged) focusTypingPlace();
    updateSongBriefStrip();
    if (reportingChanged) syncReportSheet();
}

void CompanionRootView::focusTypingPlace() {
    if (state_.isChat) {
        inputBar_->setFocus(Qt::OtherFocusReason);
    } else if (projectPage_) {
        auto* field = projectPage_->findChild<QLineEdit*>();
        (field ? static_cast<QWidget*>(field) : projectPage_)->setFocus(Qt::OtherFocusReason);
    }
}

void CompanionRootView::focusInEvent(QFocusEvent* event) {
    QWidget::focusInEvent(event);
    focusTypingPlace();
}

void CompanionRootView::rebuildProjectPage() {
    if (state_.isChat) {
        pageHolder_->hide();
        return;
    }
    if (!shownPage_ || *shownPage_ != state_.pageProjectName) {
        // Deleted later (its own click may be what replaces it), but out of sight at once.
        if (projectPage_) {
            pageHolder_->layout()->removeWidget(projectPage_);
            projectPage_->hide();
            projectPage_->deleteLater();
        }
        projectPage_ =
            views_.projectPage
                ? views_.projectPage(state_.pageProjectName)
                : placeholder(QString::fromStdString("Project page: " + state_.pageProjectName.value_or("No project")));
        pageHolder_->layout()->addWidget(projectPage_);
        projectPage_->show();
        shownPage_ = state_.pageProjectName;
    }
    pageHolder_->show();
}

void CompanionRootView::updateSongBriefStrip() {
    const std::string preview = songBriefPreview(state_.songBrief);
    if (preview != songBriefPreview_) {
        songBriefPreview_ = preview;
        if (songBriefLabel_) songBriefLabel_->setFullText(QString::fromStdString(preview));
    }
    songBriefStrip_->setVisible(!songBriefPreview_.empty());
}

QString CompanionRootView::songBriefStripText() const { return QString::fromStdString(songBriefPreview_); }

void CompanionRootView::showSongBriefEditor() {
    if (songBriefSheet_) return;
    songBriefSheet_ = views_.songBriefEditor ? views_.songBriefEditor(this) : placeholderSheet(this, "Song brief");
    if (!songBriefSheet_) return;
    songBriefSheet_->setAttribute(Qt::WA_DeleteOnClose);
    songBriefSheet_->setWindowModality(Qt::WindowModal);
    songBriefSheet_->open();
}

// The sheet follows the reported entry; closing it by any means lets the entry go.
void CompanionRootView::syncReportSheet() {
    if (state_.reporting && !reportSheet_) {
        reportSheet_ = views_.reportSheet ? views_.reportSheet(this) : placeholderSheet(this, "Report");
        if (!reportSheet_) return;
        reportSheet_->setAttribute(Qt::WA_DeleteOnClose);
        reportSheet_->setWindowModality(Qt::WindowModal);
        connect(reportSheet_, &QDialog::finished, this, [this] {
            if (actions_.endReport) actions_.endReport();
        });
        reportSheet_->open();
    } else if (!state_.reporting && reportSheet_) {
        reportSheet_->close();
    }
}

void CompanionRootView::toggleSidebar() { setSidebarVisible(!sidebarVisible_, true); }

void CompanionRootView::setSidebarVisible(bool visible, bool animated) {
    sidebarVisible_ = visible;
    TopBarState bar = topBar_->state();
    bar.sidebarVisible = visible;
    topBar_->setState(bar);
    const double now = clock_.seconds();
    const bool compact = isCompact();
    const double inlineTarget = visible && !compact ? 1 : 0;
    const double fullTarget = visible && compact ? 1 : 0;
    if (animated) {
        inlineShown_.animateTo(inlineTarget, now);
        fullShown_.animateTo(fullTarget, now);
        frames_.start();
    } else {
        inlineShown_.jumpTo(inlineTarget);
        fullShown_.jumpTo(fullTarget);
    }
    layoutLayers();
}

void CompanionRootView::tick() {
    const double now = clock_.seconds();
    if (!inlineShown_.isMoving(now) && !fullShown_.isMoving(now)) frames_.stop();
    layoutLayers();
}

void CompanionRootView::layoutLayers() {
    const double now = clock_.seconds();
    // Under the window's own title bar, the columns start at the top edge.
    const QRect content(0, 0, width(), height());
    mainRow_->setGeometry(content);

    const double inlineFraction = inlineShown_.value(now);
    const int inlineWidth = static_cast<int>(std::lround(kSidebarWidth * inlineFraction));
    inlineHolder_->setFixedWidth(inlineWidth);
    inlineContent_->setGeometry(inlineWidth - static_cast<int>(kSidebarWidth), 0, static_cast<int>(kSidebarWidth),
                                content.height());
    inlineHolder_->setVisible(inlineWidth > 0);
    divider_->setVisible(inlineWidth > 0);
    if (inlineFraction > 0 && inlineFraction < 1) {
        auto* fade = qobject_cast<QGraphicsOpacityEffect*>(inlineHolder_->graphicsEffect());
        if (!fade) inlineHolder_->setGraphicsEffect(fade = new QGraphicsOpacityEffect(inlineHolder_));
        fade->setOpacity(inlineFraction);
    } else if (inlineHolder_->graphicsEffect()) {
        inlineHolder_->setGraphicsEffect(nullptr);
    }

    const double fullFraction = fullShown_.value(now);
    const int offset = static_cast<int>(std::lround(-content.width() * (1 - fullFraction)));
    fullSidebar_->setGeometry(content.translated(offset, 0));
    fullSidebar_->setVisible(fullFraction > 0);
    fullSidebar_->raise();

    titleStrip_->setGeometry(kTitleStripInset, 0, std::max(0, width() - kTitleStripInset), kTitleStripHeight);
    titleStrip_->raise();
}

void CompanionRootView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), toQColor(CorvaneTheme::background));
}

void CompanionRootView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    const bool compact = isCompact();
    if (firstShown_ && compact != wasCompact_) {
        wasCompact_ = compact;
        setSidebarVisible(!compact, true);
        return;
    }
    wasCompact_ = compact;
    // The sidebar's place follows the width even when its visibility does not change.
    setSidebarVisible(sidebarVisible_, false);
}

void CompanionRootView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (firstShown_) return;
    firstShown_ = true;
    if (actions_.loadConversations) actions_.loadConversations();
    wasCompact_ = isCompact();
    setSidebarVisible(sidebarVisible_ && !wasCompact_, false);
}

void CompanionRootView::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && titleStrip_->geometry().contains(event->position().toPoint())) {
        event->accept();
        zoom();
        return;
    }
    QWidget::mouseDoubleClickEvent(event);
}

void CompanionRootView::zoom() {
    if (actions_.zoom) {
        actions_.zoom();
        return;
    }
    QWidget* top = window();
    if (top->isMaximized())
        top->showNormal();
    else
        top->showMaximized();
}

}  // namespace corvane
