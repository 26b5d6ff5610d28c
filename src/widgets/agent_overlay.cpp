#include "widgets/agent_overlay.h"

#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <cmath>

#include "logic/logic_inspector.h"
#include "shield/shield_platform.h"
#include "widgets/widget_parts.h"

namespace corvane {

namespace {

constexpr int kSpokes = 12;

QRect toQRect(const platform::Rect& r) {
    return QRect(int(std::lround(r.x)), int(std::lround(r.y)), int(std::lround(r.width)), int(std::lround(r.height)));
}

platform::Rect toRect(const QRect& r) { return {double(r.x()), double(r.y()), double(r.width()), double(r.height())}; }

double primaryHeight() { return shield::primaryScreenHeight(AgentOverlay::screens(), AgentOverlay::mainScreen()); }

}  // namespace

OverlaySpinner::OverlaySpinner(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    timer_.setInterval(1000 / kSpokes);
    QObject::connect(&timer_, &QTimer::timeout, this, [this] {
        step_ = (step_ + 1) % kSpokes;
        update();
    });
    timer_.start();  // runs for as long as the notice is up
}

void OverlaySpinner::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPointF centre = QRectF(rect()).center();
    const double outer = std::min(width(), height()) / 2.0, inner = outer * 0.5;
    for (int i = 0; i < kSpokes; ++i) {
        const double angle = 2 * M_PI * i / kSpokes;
        const int age = (step_ - i + kSpokes) % kSpokes;  // 0: the leading spoke
        QPen pen(QColor(255, 255, 255, 255 - age * 17), std::max(1.5, outer / 5), Qt::SolidLine, Qt::RoundCap);
        painter.setPen(pen);
        const QPointF direction(std::sin(angle), -std::cos(angle));
        painter.drawLine(centre + direction * inner, centre + direction * (outer - pen.widthF() / 2));
    }
}

ShieldContentView::ShieldContentView(QWidget* parent)
    : QWidget(parent), label_(new QLabel(this)), spinner_(new OverlaySpinner(this)) {
    label_->setFont(uiFont(18, QFont::Medium));
    label_->setAlignment(Qt::AlignCenter);
    label_->setStyleSheet("color: white; background: transparent; border: none;");
    label_->setTextInteractionFlags(Qt::NoTextInteraction);
    layoutLabels();
}

void ShieldContentView::resizeEvent(QResizeEvent*) { layoutLabels(); }

// The layout is worked out with the origin at the bottom left and flipped for Qt.
void ShieldContentView::layoutLabels() {
    const auto layout = shield::layoutLabels(width(), height());
    label_->setGeometry(toQRect(shield::flipped(layout.label, height())));
    spinner_->setGeometry(toQRect(shield::flipped(layout.spinner, height())));
}

// Never handed to a window manager, whatever the scope: one puts a frame of its own around a
// window it manages, and that frame takes the clicks (Stop's too) the window lets through. A
// window first shown over Logic Pro is the one a drag later widens to the whole screen.
ShieldWindow::ShieldWindow(InputShield::Scope scope)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus |
                           Qt::WindowTransparentForInput | Qt::NoDropShadowWindowHint |
                           Qt::X11BypassWindowManagerHint),
      content_(new ShieldContentView(this)),
      level_(scope == InputShield::Scope::fullscreen ? kScreenSaverLevel : kModalPanelLevel) {
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
    setWindowTitle("Corvane");
}

void ShieldWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), QColor::fromRgbF(0, 0, 0, 0.3f));
}

AgentOverlay::~AgentOverlay() { delete window_.data(); }

void AgentOverlay::show(platform::Rect frame, InputShield::Scope scope) {
    delete window_.data();
    window_ = new ShieldWindow(scope);
    window_->content()->labelField()->setText(label_);
    place(frame);
    window_->show();
    window_->raise();
}

void AgentOverlay::hide() {
    if (!window_) return;
    delete window_.data();
}

void AgentOverlay::setFrame(platform::Rect frame) {
    if (window_) place(frame);
}

void AgentOverlay::bringToFront() {
    if (window_) window_->raise();
}

void AgentOverlay::setLabel(const std::string& text) {
    label_ = QString::fromStdString(text);
    if (window_) window_->content()->labelField()->setText(label_);
}

void AgentOverlay::place(platform::Rect frame) {
    const auto topLeft = shield::flipped(frame, primaryHeight());
    window_->setGeometry(toQRect(topLeft));
    window_->content()->setGeometry(0, 0, int(std::lround(frame.width)), int(std::lround(frame.height)));
    window_->content()->layoutLabels();
}

std::vector<platform::Rect> AgentOverlay::screens() {
    std::vector<platform::Rect> frames;
    for (const QScreen* screen : QGuiApplication::screens()) frames.push_back(toRect(screen->geometry()));
    return frames;
}

std::optional<platform::Rect> AgentOverlay::mainScreen() {
    if (const QScreen* screen = QGuiApplication::primaryScreen()) return toRect(screen->geometry());
    return std::nullopt;
}

std::shared_ptr<AgentOverlay> installAgentOverlay(platform::MainTimers& timers, shield::LogicToDesktop toDesktop) {
    auto overlay = std::make_shared<AgentOverlay>();
    InputShield::shared().setEnvironment(shield::platformEnvironment(
        {&AgentOverlay::screens, &AgentOverlay::mainScreen}, &timers,
        [logic = LogicInspector()] { return logic.findMainWindow(); }, std::move(toDesktop)));
    InputShield::shared().setWindow(overlay);
    return overlay;
}

}  // namespace corvane
