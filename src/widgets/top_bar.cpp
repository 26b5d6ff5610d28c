#include "widgets/top_bar.h"

#include <QHBoxLayout>
#include <QPainter>
#include <algorithm>

#include "transcript/theme.h"
#include "widgets/diagram_painter.h"
#include "widgets/hover_button.h"
#include "widgets/symbols.h"

namespace corvane {

namespace {

constexpr int kSpinnerSide = 11;  // the small control size (16) scaled to 0.7

// In a narrow window the long chat title shrinks first: the song's name keeps a few characters
// (ending in "…") rather than vanishing from its back button.
void keepSomeOf(ElidedLabel* label) { label->setMinimumWidth(std::min(label->sizeHint().width(), 64)); }

}  // namespace

BusyIndicator::BusyIndicator(AnimationClock& clock, QWidget* parent)
    : QWidget(parent), clock_(clock), frames_([this] { tick(); }) {
    setFixedSize(kSpinnerSide, kSpinnerSide);
}

void BusyIndicator::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    drawSpinner(painter, QRectF(rect()), white(0.7), clock_.seconds());
}

void BusyIndicator::showEvent(QShowEvent* event) {
    frames_.start();
    QWidget::showEvent(event);
}

void BusyIndicator::hideEvent(QHideEvent* event) {
    frames_.stop();
    QWidget::hideEvent(event);
}

TopBar::TopBar(TopBarActions actions, QWidget* parent) : QWidget(parent), actions_(std::move(actions)) {
    auto* row = new QHBoxLayout(this);
    // The root view's padding of the bar.
    row->setContentsMargins(12, 8, 12, 6);
    row->setSpacing(10);
    // One height on every page (the chat's 28-point menu button sets it), so the bar does not
    // jump and the sidebar's header lines up with it.
    setFixedHeight(8 + 28 + 6);

    sidebarButton_ = new HoverButton(
        [this] {
            if (actions_.toggleSidebar) actions_.toggleSidebar();
        },
        [](bool) { return new SymbolView("sidebar.left", 13, SymbolView::Weight::medium, white(0.5)); });
    row->addWidget(sidebarButton_, 0, Qt::AlignVCenter);

    backButton_ = new HoverButton(
        [this] {
            if (actions_.back) actions_.back();
        },
        [this](bool) {
            auto* capsule = new PaintedBox(-1, white(0.04));
            auto* label = new QHBoxLayout(capsule);
            label->setContentsMargins(8, 4, 8, 4);
            label->setSpacing(4);
            label->addWidget(new SymbolView("chevron.left", 10, SymbolView::Weight::semibold, white(0.5)), 0,
                             Qt::AlignVCenter);
            backLabel_ = new ElidedLabel(QString::fromStdString(state_.projectName.value_or("No project")), uiFont(12),
                                         white(0.5));
            keepSomeOf(backLabel_);
            label->addWidget(backLabel_, 0, Qt::AlignVCenter);
            return capsule;
        });
    backButton_->setToolTip("Back to song");
    row->addWidget(backButton_, 0, Qt::AlignVCenter);

    title_ = new ElidedLabel("Chat", uiFont(13, QFont::Medium), white(0.7));
    title_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    row->addWidget(title_, 0, Qt::AlignVCenter);
    row->addStretch(1);

    busy_ = new BusyIndicator;
    row->addWidget(busy_, 0, Qt::AlignVCenter);

    menu_ = new QMenu(this);
    songBriefAction_ = menu_->addAction("Add song brief", [this] {
        if (actions_.editSongBrief) actions_.editSongBrief();
    });
    menu_->addSeparator();
    menu_->addAction("Clear chat", [this] {
        if (actions_.clearChat) actions_.clearChat();
    });
    menuButton_ = new HoverButton([this] { menu_->popup(menuButton_->mapToGlobal(QPoint(0, menuButton_->height()))); },
                                  [](bool) {
                                      return centredInSquare(
                                          new SymbolView("ellipsis", 12, SymbolView::Weight::medium, white(0.4)), 28,
                                          toQColor(CorvaneTheme::buttonIdle));
                                  });
    menuButton_->setFixedSize(28, 28);
    row->addWidget(menuButton_, 0, Qt::AlignVCenter);

    TopBarState initial;
    state_ = initial;
    state_.isBusy = true;  // differs, so the first setState applies everything
    setState(initial);
}

void TopBar::setState(const TopBarState& state) {
    if (state == state_) return;
    state_ = state;
    sidebarButton_->setToolTip(state.sidebarVisible ? "Hide songs sidebar" : "Show songs sidebar");
    backButton_->setVisible(state.isChat);
    if (backLabel_) {
        backLabel_->setFullText(QString::fromStdString(state.projectName.value_or("No project")));
        keepSomeOf(backLabel_);
    }
    title_->setVisible(state.isChat);
    title_->setFullText(state.threadTitle.empty() ? QString("Chat") : QString::fromStdString(state.threadTitle));
    busy_->setVisible(state.isBusy);
    menuButton_->setVisible(state.isChat);
    // The test is on the brief as stored, spaces and all.
    songBriefAction_->setText(state.songBrief.empty() ? "Add song brief" : "Edit song brief");
}

}  // namespace corvane
