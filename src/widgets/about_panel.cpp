#include "widgets/about_panel.h"

#include <QGuiApplication>
#include <QLabel>
#include <QPainter>
#include <QScreen>
#include <QVBoxLayout>

#include "transcript/theme.h"
#include "widgets/widget_parts.h"
#include "widgets/wordmark.h"

namespace corvane {

namespace {

constexpr const char* kNotice = "\u00a9 2026 Corvane. All rights reserved.";

QLabel* label(const std::string& text, const QFont& font, const diagram::Color& color) {
    QLabel* out = makeLabel(qText(text), font, toQColor(color));
    out->setAlignment(Qt::AlignCenter);
    return out;
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
      update_(new TextButton("Check for Updates\u2026", {.font = uiFont(12, QFont::Medium),
                                                         .text = white(1),
                                                         .fill = toQColor(CorvaneTheme::primaryButton),
                                                         .horizontalPadding = 14,
                                                         .verticalPadding = 7,
                                                         .cornerRadius = 7})) {
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
    names->addWidget(label("Corvane", uiFont(22, QFont::DemiBold), CorvaneTheme::textPrimary));
    names->addWidget(
        label(versionLine(shortVersion, build), uiFont(11, QFont::Normal, true), CorvaneTheme::textSecondary));
    stack->addLayout(names);

    auto* description = label("An AI mixing agent for Logic Pro.", uiFont(12), CorvaneTheme::textSecondary);
    description->setWordWrap(true);
    description->setContentsMargins(0, 4, 0, 0);
    stack->addWidget(description);

    QObject::connect(update_, &QPushButton::clicked, this, [this] {
        if (checkForUpdates_) checkForUpdates_();
    });
    auto* button = new QVBoxLayout;
    button->setContentsMargins(0, 10, 0, 0);
    button->addWidget(update_, 0, Qt::AlignHCenter);
    stack->addLayout(button);

    stack->addStretch(1);
    stack->addWidget(label(kNotice, uiFont(10), CorvaneTheme::textTertiary));
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
