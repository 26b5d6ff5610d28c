#include "widgets/login_form.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

#include "transcript/theme.h"
#include "widgets/agent_overlay.h"
#include "widgets/widget_parts.h"
#include "widgets/wordmark.h"

namespace corvane {

namespace {

QLabel* label(const QString& text, const QFont& font, const diagram::Color& color) {
    QLabel* out = makeLabel(text, font, toQColor(color));
    out->setAlignment(Qt::AlignCenter);
    return out;
}

// A borderless text button that opens a page of the maker's site.
QPushButton* linkButton(const QString& title, const diagram::Color& color) {
    auto* button = new TextButton(title, {.font = uiFont(11), .text = toQColor(color)});
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}

diagram::Color errorColor() {
    auto red = system_color::red;
    red.opacity = 0.85;
    return red;
}

}  // namespace

// --- The fields --------------------------------------------------------------------------------------

LoginField::LoginField(const QString& placeholder, bool secure, QWidget* parent)
    : QWidget(parent), edit_(new QLineEdit(this)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 10, 12, 10);
    layout->addWidget(edit_);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    edit_->setPlaceholderText(placeholder);
    edit_->setFrame(false);
    edit_->setFont(uiFont(13));
    edit_->setStyleSheet("QLineEdit { color: white; background: transparent; border: none; padding: 0; }");
    QPalette palette = edit_->palette();
    palette.setColor(QPalette::PlaceholderText, toQColor(CorvaneTheme::textTertiary));
    edit_->setPalette(palette);
    if (secure) {
        edit_->setEchoMode(QLineEdit::Password);
        edit_->setInputMethodHints(Qt::ImhHiddenText | Qt::ImhSensitiveData | Qt::ImhNoPredictiveText);
    } else {
        edit_->setInputMethodHints(Qt::ImhEmailCharactersOnly | Qt::ImhNoAutoUppercase | Qt::ImhNoPredictiveText);
    }
    edit_->installEventFilter(this);
}

QColor LoginField::outlineColor() const {
    return toQColor(edit_->hasFocus() ? CorvaneTheme::primaryButton : CorvaneTheme::surfaceBorder);
}

double LoginField::outlineWidth() const { return edit_->hasFocus() ? 1.5 : 1; }

bool LoginField::eventFilter(QObject* watched, QEvent* event) {
    if (watched == edit_ && (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut)) update();
    return QWidget::eventFilter(watched, event);
}

void LoginField::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const double inset = outlineWidth() / 2;
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()).adjusted(inset, inset, -inset, -inset), 8, 8);
    painter.fillPath(shape, toQColor(CorvaneTheme::surfaceElevated));
    painter.setPen(QPen(outlineColor(), outlineWidth()));
    painter.drawPath(shape);
}

// --- The button ---------------------------------------------------------------------------------------

SignInButton::SignInButton(QWidget* parent) : QPushButton("Sign In", parent), spinner_(new OverlaySpinner(this)) {
    clearKeyboardDefault(this);
    setFlat(true);
    setCursor(Qt::PointingHandCursor);
    setFont(uiFont(13, QFont::DemiBold));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    spinner_->resize(16, 16);
    spinner_->hide();
}

void SignInButton::setLoading(bool loading) {
    loading_ = loading;
    spinner_->setVisible(loading);
    placeSpinner();
    update();
}

QSize SignInButton::sizeHint() const { return {160, int(std::ceil(QFontMetricsF(font()).height())) + 20}; }

QColor SignInButton::background() const {
    QColor color = toQColor(CorvaneTheme::primaryButton);
    if (!isEnabled()) color.setAlphaF(0.4f);
    return color;
}

void SignInButton::resizeEvent(QResizeEvent* event) {
    QPushButton::resizeEvent(event);
    placeSpinner();
}

// The spinner and the title sit together in the middle, 8 apart.
void SignInButton::placeSpinner() {
    const double title = QFontMetricsF(font()).horizontalAdvance(text());
    const double whole = title + (loading_ ? spinner_->width() + 8 : 0);
    spinner_->move(int((width() - whole) / 2), (height() - spinner_->height()) / 2);
}

void SignInButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()), 8, 8);
    painter.fillPath(shape, background());
    const double title = QFontMetricsF(font()).horizontalAdvance(text());
    const double whole = title + (loading_ ? spinner_->width() + 8 : 0);
    QRectF box((width() - whole) / 2 + (whole - title), 0, title, height());
    painter.setPen(Qt::white);
    painter.setFont(font());
    painter.drawText(box, Qt::AlignCenter, text());
}

// --- The form ------------------------------------------------------------------------------------------

LoginForm::LoginForm(Actions actions, std::string signupURL, std::string forgotURL, QWidget* parent)
    : QWidget(parent),
      actions_(std::move(actions)),
      signupURL_(std::move(signupURL)),
      forgotURL_(std::move(forgotURL)),
      email_(new LoginField("Email", false)),
      password_(new LoginField("Password", true)),
      error_(label({}, uiFont(11), errorColor())),
      button_(new SignInButton),
      forgot_(linkButton("Forgot your password?", CorvaneTheme::textSecondary)),
      signup_(linkButton("Sign up", CorvaneTheme::primaryButton)) {
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(32, 32, 32, 32);
    stack->setSpacing(0);
    stack->addStretch(1);

    stack->addWidget(new Wordmark({.dotDiameter = 6, .glowRadius = 4, .fontSize = 10, .tracking = 1.5, .spacing = 6}),
                     0, Qt::AlignHCenter);
    stack->addSpacing(20);
    stack->addWidget(label("Welcome back", uiFont(26, QFont::DemiBold), CorvaneTheme::textPrimary));
    stack->addSpacing(6);
    stack->addWidget(label("Sign in to your Corvane account.", uiFont(13), CorvaneTheme::textSecondary));
    stack->addSpacing(30);

    auto* column = new QWidget;
    column->setMaximumWidth(320);  // narrower windows shrink it
    column->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    auto* fields = new QVBoxLayout(column);
    fields->setContentsMargins(0, 0, 0, 0);
    fields->setSpacing(10);
    fields->addWidget(email_);
    fields->addWidget(password_);
    error_->setWordWrap(true);
    error_->setContentsMargins(0, 2, 0, 0);
    error_->hide();
    fields->addWidget(error_);
    fields->addSpacing(6);  // the button's own padding, on top of the column's spacing
    fields->addWidget(button_);
    // Centred between two stretches rather than by alignment, so that the wrapped error text is
    // measured at the column's own width.
    auto* centred = new QHBoxLayout;
    centred->addStretch(1);
    centred->addWidget(column, 1000);
    centred->addStretch(1);
    stack->addLayout(centred);

    stack->addSpacing(20);
    auto* links = new QVBoxLayout;
    links->setSpacing(8);
    links->addWidget(forgot_, 0, Qt::AlignHCenter);
    auto* signupRow = new QHBoxLayout;
    signupRow->setSpacing(4);
    signupRow->addWidget(label("Don\u2019t have an account?", uiFont(11), CorvaneTheme::textSecondary));
    signupRow->addWidget(signup_);
    links->addLayout(signupRow);
    links->setAlignment(signupRow, Qt::AlignHCenter);
    stack->addLayout(links);
    stack->addStretch(1);

    QObject::connect(email_->edit(), &QLineEdit::returnPressed, this, [this] { submit(); });
    QObject::connect(password_->edit(), &QLineEdit::returnPressed, this, [this] { submit(); });
    QObject::connect(email_->edit(), &QLineEdit::textChanged, this, [this] { updateButton(); });
    QObject::connect(password_->edit(), &QLineEdit::textChanged, this, [this] { updateButton(); });
    QObject::connect(button_, &QPushButton::clicked, this, [this] { submit(); });
    QObject::connect(forgot_, &QPushButton::clicked, this, [this] {
        if (actions_.onOpenURL) actions_.onOpenURL(forgotURL_);
    });
    QObject::connect(signup_, &QPushButton::clicked, this, [this] {
        if (actions_.onOpenURL) actions_.onOpenURL(signupURL_);
    });
    updateButton();
}

void LoginForm::setLoading(bool loading) {
    loading_ = loading;
    button_->setLoading(loading);
    updateButton();
}

void LoginForm::setErrorMessage(const std::optional<std::string>& message) {
    error_->setText(message ? QString::fromStdString(*message) : QString());
    error_->setVisible(message.has_value());
}

void LoginForm::updateButton() {
    button_->setEnabled(!email_->edit()->text().isEmpty() && !password_->edit()->text().isEmpty() && !loading_);
    button_->update();
}

void LoginForm::submit() {
    const QString email = email_->edit()->text(), password = password_->edit()->text();
    if (email.isEmpty() || password.isEmpty() || loading_) return;
    if (actions_.onSubmit) actions_.onSubmit(email.toStdString(), password.toStdString());
}

void LoginForm::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), toQColor(CorvaneTheme::background));
}

}  // namespace corvane
