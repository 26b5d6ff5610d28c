#include "ui/widgets/about_panel.h"

#include <QGuiApplication>
#include <QLabel>
#include <QPainter>
#include <QScreen>
#include <QVBoxLayout>

#include "ui/transcript/theme.h"
#include "ui/widgets/diagram_painter.h"
#include "ui/widgets/wordmark.h"

namespace corvane {

using diagram::FontWeight;

namespace {

constexpr const char* kNotice = "\u00a9 2026 Corvane. All rights reserved.";

QLabel* label(const std::string& text, diagram::Font font, const diagram::Color& color) {
    auto* l = new QLabel(QString::fromStdString(text));
    l->setFont(diagramFont(font, l));
    const QColor c = toQColor(color);
    l->setStyleSheet(QString("color: rgba(%1, %2, %3, %4); background: transparent;")
                         .arg(c.red())
                         .arg(c.green())
                         .arg(c.blue())
                         .arg(c.alphaF()));
    l->setAlignment(Qt::AlignCenter);
    return l;
}

}  // namespace

std::string AboutView::versionLine(const std::optional<std::string>& shortVersion,
                                   const std::optional<std::string>& build) {
    return "Version " + shortVersion.value_or("\u2014") + " (" + build.value_or("\u2014") + ")";
}

AboutView::AboutView(std::function<void()> checkForUpdates, std::optional<std::string> shortVersion,
                     std::optional<std::string> build, QWidget* parent)
    : QWidget(parent),
      checkForUpdates_(std::move(checkForUpdates)),
      update_(new QPushButton("Check for Updates\u2026")) {
    setFixedSize(kWidth, kHeight);
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(32, 32, 32, 16);
    stack->setSpacing(16);

    auto* mark = new QWidget;
    mark->setFixedSize(80, 80);
    auto* markLayout = new QVBoxLayout(mark);
    markLayout->setContentsMargins(0, 0, 0, 0);
    markLayout->addWidget(
        new Wordmark(
            {.dotDiameter = 12, .glowRadius = 6, .fontSize = 11, .tracking = 2, .spacing = 8, .vertical = true}),
        0, Qt::AlignCenter);
    stack->addWidget(mark, 0, Qt::AlignHCenter);

    auto* names = new QVBoxLayout;
    names->setSpacing(4);
    names->addWidget(label("Corvane", {.size = 22, .weight = FontWeight::semibold}, CorvaneTheme::textPrimary));
    names->addWidget(
        label(versionLine(shortVersion, build), {.size = 11, .monospaced = true}, CorvaneTheme::textSecondary));
    stack->addLayout(names);

    auto* description = label("An AI mixing agent for Logic Pro.", {.size = 12}, CorvaneTheme::textSecondary);
    description->setWordWrap(true);
    description->setContentsMargins(0, 4, 0, 0);
    stack->addWidget(description);

    update_->setAutoDefault(false);
    update_->setDefault(false);
    update_->setCursor(Qt::PointingHandCursor);
    update_->setFont(diagramFont({.size = 12, .weight = FontWeight::medium}, update_));
    const QColor blue = toQColor(CorvaneTheme::primaryButton);
    update_->setStyleSheet(QString("QPushButton { color: white; background: rgb(%1, %2, %3); border: none; "
                                   "border-radius: 7px; padding: 7px 14px; }")
                               .arg(blue.red())
                               .arg(blue.green())
                               .arg(blue.blue()));
    QObject::connect(update_, &QPushButton::clicked, this, [this] {
        if (checkForUpdates_) checkForUpdates_();
    });
    auto* button = new QVBoxLayout;
    button->setContentsMargins(0, 10, 0, 0);
    button->addWidget(update_, 0, Qt::AlignHCenter);
    stack->addLayout(button);

    stack->addStretch(1);
    stack->addWidget(label(kNotice, {.size = 10}, CorvaneTheme::textTertiary));
}

void AboutView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), toQColor(CorvaneTheme::background));
}

AboutPanel::AboutPanel(std::function<void()> checkForUpdates, std::optional<std::string> shortVersion,
                       std::optional<std::string> build)
    : checkForUpdates_(std::move(checkForUpdates)), shortVersion_(std::move(shortVersion)), build_(std::move(build)) {}

AboutPanel::~AboutPanel() = default;

void AboutPanel::show() {
    if (!window_) {
        window_ = std::make_unique<QWidget>(
            nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
        window_->setWindowTitle("About Corvane");
        window_->setFixedSize(AboutView::kWidth, AboutView::kHeight);
        auto* layout = new QVBoxLayout(window_.get());
        layout->setContentsMargins(0, 0, 0, 0);
        view_ = new AboutView(checkForUpdates_, shortVersion_, build_);
        layout->addWidget(view_);
    }
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = window_->frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        window_->move(frame.topLeft());
    }
    window_->show();
    window_->raise();
    window_->activateWindow();
}

}  // namespace corvane
