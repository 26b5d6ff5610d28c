#include "widgets/account_settings.h"

#include <QHBoxLayout>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

#include "transcript/theme.h"
#include "widgets/hover_button.h"
#include "widgets/symbols.h"
#include "widgets/widget_parts.h"

namespace corvane {

namespace {
constexpr int kWidth = 340;
constexpr int kHeight = 280;

QWidget* divider(double opacity, int indent) {
    auto* holder = new QWidget;
    auto* row = new QHBoxLayout(holder);
    row->setContentsMargins(indent, 0, 0, 0);
    auto* line = new PaintedBox;
    line->setFill(white(opacity));
    line->setFixedHeight(1);
    row->addWidget(line);
    return holder;
}

// A full-width row whose whole rectangle is the button.
PaintedBox* rowFace(std::optional<QColor> fill, int padX, int padY) {
    auto* face = new PaintedBox;
    face->setFill(fill);
    auto* row = new QHBoxLayout(face);
    row->setContentsMargins(padX, padY, padX, padY);
    row->setSpacing(10);
    return face;
}
}  // namespace

SettingsView::SettingsView(networking::AuthService& authService, std::string dashboardURL, OpenURL openURL,
                           std::function<void()> stopTurns, QWidget* parent)
    : QDialog(parent),
      authService_(authService),
      dashboardURL_(std::move(dashboardURL)),
      openURL_(std::move(openURL)),
      stopTurns_(std::move(stopTurns)) {
    setModal(true);
    setFixedSize(kWidth, kHeight);
    setWindowTitle("Account");
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    auto* header = new QWidget;
    auto* headerRow = new QHBoxLayout(header);
    headerRow->setContentsMargins(20, 14, 20, 14);
    headerRow->addWidget(makeLabel("Account", uiFont(15, QFont::DemiBold), white(1)));
    headerRow->addStretch(1);
    close_ = new HoverButton([this] { reject(); },
                             [](bool) { return centredInSquare(new SymbolView("xmark", 11, white(0.5), 1.5), 22); });
    close_->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    headerRow->addWidget(close_);
    column->addWidget(header);
    column->addWidget(divider(0.06, 0));

    auto* body = new QWidget;
    auto* bodyColumn = new QVBoxLayout(body);
    bodyColumn->setContentsMargins(0, 6, 0, 6);
    bodyColumn->setSpacing(0);

    auto* emailRow = new QWidget;
    auto* emailColumn = new QVBoxLayout(emailRow);
    emailColumn->setContentsMargins(20, 10, 20, 10);
    emailColumn->setSpacing(3);
    QFont captionFont = uiFont(10, QFont::Medium);
    captionFont.setLetterSpacing(QFont::AbsoluteSpacing, 0.4);
    emailColumn->addWidget(makeLabel("SIGNED IN AS", captionFont, withOpacity(CorvaneTheme::textSecondary)));
    email_ = new ElidedLabel(QString(), uiFont(13), white(1), Qt::ElideMiddle);
    email_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    emailColumn->addWidget(email_);
    bodyColumn->addWidget(emailRow);
    bodyColumn->addWidget(divider(0.04, 20));

    const QString domain = QUrl(QString::fromStdString(dashboardURL_)).host();
    dashboard_ = new HoverButton(
        [this] {
            // Whether a browser took the address is not shown; the sheet stays.
            if (openURL_) openURL_(dashboardURL_);
        },
        [domain](bool hovered) {
            auto* face = rowFace(hovered ? std::optional(white(0.04)) : std::nullopt, 20, 10);
            const QColor ink = white(hovered ? 0.9 : 0.75);
            face->layout()->addWidget(new SymbolView("arrow.up.right.square", 13, ink, 1.2));
            face->layout()->addWidget(makeLabel("Open Dashboard", uiFont(13), ink));
            static_cast<QHBoxLayout*>(face->layout())->addStretch(1);
            face->layout()->addWidget(
                makeLabel(domain, uiFont(10, QFont::Normal, true), withOpacity(CorvaneTheme::textTertiary)));
            return face;
        });
    bodyColumn->addWidget(dashboard_);
    column->addWidget(body);
    column->addStretch(1);
    column->addWidget(divider(0.06, 0));

    signOut_ = new HoverButton(
        [this] { requestSignOut(); },
        [](bool hovered) {
            const QColor red = withOpacity(system_color::red, hovered ? 1 : 0.85);
            auto* face = rowFace(hovered ? std::optional(withOpacity(system_color::red, 0.08)) : std::nullopt, 20, 14);
            face->layout()->addWidget(new SymbolView("rectangle.portrait.and.arrow.right", 13, red, 1.2));
            face->layout()->addWidget(makeLabel("Sign Out", uiFont(13, QFont::Medium), red));
            static_cast<QHBoxLayout*>(face->layout())->addStretch(1);
            return face;
        });
    column->addWidget(signOut_);

    confirmation_ = new QMessageBox(this);
    useWindowPalette(confirmation_);
    confirmation_->setWindowModality(Qt::WindowModal);
    confirmation_->setIcon(QMessageBox::NoIcon);
    confirmation_->setText("Sign out of Corvane?");
    confirmation_->setInformativeText("You'll need to sign back in to use AI features.");
    confirmSignOut_ = confirmation_->addButton("Sign Out", QMessageBox::DestructiveRole);
    cancelSignOut_ = confirmation_->addButton("Cancel", QMessageBox::RejectRole);
    confirmation_->setEscapeButton(cancelSignOut_);
    // Neither answer is the one Return picks.
    for (QPushButton* button : {confirmSignOut_, cancelSignOut_}) clearKeyboardDefault(button);
    connect(confirmSignOut_, &QPushButton::clicked, this, [this] {
        // A turn left running would go on driving Logic Pro behind the sign-in form, and end as if
        // the sign-in had been lost rather than given up.
        if (stopTurns_) stopTurns_();
        authService_.signOut();
        accept();
    });
    refresh();
}

void SettingsView::refresh() {
    const auto email = authService_.userEmail();
    email_->setFullText(email ? QString::fromStdString(*email) : QStringLiteral("\u2014"));
    email_->setToolTip(email_->fullText());
}

void SettingsView::requestSignOut() { confirmation_->open(); }

bool SettingsView::showingSignOutConfirmation() const { return confirmation_->isVisible(); }

QString SettingsView::emailText() const { return email_->fullText(); }

void SettingsView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), withOpacity(CorvaneTheme::background));
}

}  // namespace corvane
