#include "widgets/sidebar.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QScrollArea>
#include <QVBoxLayout>

#include "transcript/theme.h"
#include "widgets/account_settings.h"
#include "widgets/hover_button.h"
#include "widgets/symbols.h"
#include "widgets/widget_parts.h"

namespace corvane {

namespace {
QWidget* rowFace(const SidebarRow& row, bool hovered) {
    auto* face = new PaintedBox;
    face->setRadius(7);
    if (row.current)
        face->setFill(white(0.07));
    else if (hovered)
        face->setFill(white(0.04));
    auto* column = new QVBoxLayout(face);
    column->setContentsMargins(10, 7, 10, 7);
    column->setSpacing(2);
    auto* titleRow = new QHBoxLayout;
    titleRow->setSpacing(6);
    if (row.detected) {
        auto* dot = new PaintedBox;
        dot->setFixedSize(5, 5);
        dot->setRadius(-1);
        dot->setFill(withOpacity(system_color::green, 0.55));
        titleRow->addWidget(dot, 0, Qt::AlignVCenter);
    }
    auto* title =
        new ElidedLabel(QString::fromStdString(row.title), uiFont(13, row.current ? QFont::DemiBold : QFont::Normal),
                        white(row.current ? 0.95
                              : hovered   ? 0.8
                                          : 0.65));
    titleRow->addWidget(title, 1);
    column->addLayout(titleRow);
    column->addWidget(makeLabel(QString::fromStdString(chatCountText(row.count)), uiFont(10.5), white(0.25)));
    return face;
}

QWidget* accountFace(bool hovered) {
    auto* face = new PaintedBox;
    face->setRadius(7);
    if (hovered) face->setFill(white(0.04));
    auto* row = new QHBoxLayout(face);
    row->setContentsMargins(12, 10, 12, 10);
    row->setSpacing(8);
    const double ink = hovered ? 0.85 : 0.55;
    row->addWidget(new SymbolView("person.crop.circle", 13, white(ink), 1.1));
    row->addWidget(makeLabel("Account", uiFont(12.5), white(ink)));
    row->addStretch(1);
    row->addWidget(new SymbolView("chevron.right", 10, white(ink * (hovered ? 0.5 : 0.3)), 1.5));
    return face;
}
}  // namespace

SidebarView::SidebarView(Actions actions, QWidget* parent) : QWidget(parent), actions_(std::move(actions)) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    // The window's own title bar sits above both columns here, so the header takes the top bar's
    // row (8 above, a 28-point row, 6 below): "SONGS" lines up with the bar's buttons.
    auto* header = new QWidget;
    auto* headerRow = new QHBoxLayout(header);
    headerRow->setContentsMargins(14, 8, 14, 6);
    header->setFixedHeight(8 + 28 + 6);
    QFont headerFont = uiFont(11.5, QFont::DemiBold);
    headerFont.setLetterSpacing(QFont::AbsoluteSpacing, 0.6);
    headerLabel_ = makeLabel("SONGS", headerFont, white(0.45));
    headerRow->addWidget(headerLabel_, 0, Qt::AlignVCenter);
    headerRow->addStretch(1);
    column->addWidget(header);

    auto* scroll = new QScrollArea;
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    scroll->setFocusPolicy(Qt::NoFocus);  // Tab goes to its rows, and scrolls to the one it reaches
    scroll->setStyleSheet("QScrollArea, QScrollArea > QWidget > QWidget { background: transparent; }");
    scroll->viewport()->setAutoFillBackground(false);
    auto* content = new QWidget;
    content->setAutoFillBackground(false);
    list_ = new QVBoxLayout(content);
    list_->setContentsMargins(8, 0, 8, 12);
    list_->setSpacing(1);
    list_->addStretch(1);
    scroll->setWidget(content);
    column->addWidget(scroll, 1);

    auto* footer = new QWidget;
    auto* footerRow = new QHBoxLayout(footer);
    footerRow->setContentsMargins(8, 0, 8, 10);
    account_ = new HoverButton([this] { openSettings(); }, [](bool hovered) { return accountFace(hovered); });
    footerRow->addWidget(account_);
    column->addWidget(footer);
    rebuildRows();
}

void SidebarView::setState(SidebarState state) {
    state_ = std::move(state);
    auto rows = sidebarRows(state_);
    if (rows == rows_) return;
    rows_ = std::move(rows);
    rebuildRows();
}

void SidebarView::rebuildRows() {
    for (HoverButton* button : rowButtons_) {
        list_->removeWidget(button);
        button->deleteLater();
    }
    rowButtons_.clear();
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        const SidebarRow row = rows_[i];
        auto* button = new HoverButton([this, name = row.projectName] { click(name); },
                                       [row](bool hovered) { return rowFace(row, hovered); });
        list_->insertWidget(int(i), button);
        rowButtons_.push_back(button);
    }
}

// Also on the current row: the page is set again and the shell hears of it.
void SidebarView::click(const std::optional<std::string>& projectName) {
    if (actions_.setNavigation) actions_.setNavigation(NavigationState::projectPage(projectName));
    if (actions_.onNavigate) actions_.onNavigate(projectName);
}

void SidebarView::openSettings() {
    if (settings_ || !actions_.makeSettingsSheet) return;
    QDialog* sheet = actions_.makeSettingsSheet(this);
    if (!sheet) return;
    settings_ = sheet;
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    connect(sheet, &QDialog::finished, this, [this, sheet] {
        if (settings_ == sheet) settings_.clear();
    });
    sheet->open();
}

void SidebarView::authChanged() {
    if (auto* sheet = dynamic_cast<SettingsView*>(settings_.data())) sheet->refresh();
}

void SidebarView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), withOpacity(CorvaneTheme::background));
}

}  // namespace corvane
