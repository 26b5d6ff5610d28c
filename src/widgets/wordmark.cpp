#include "widgets/wordmark.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QRadialGradient>
#include <cmath>

#include "transcript/theme.h"
#include "widgets/widget_parts.h"

namespace corvane {

Wordmark::Wordmark(Style style, QWidget* parent) : QWidget(parent), style_(style) {
    font_ = uiFont(style.fontSize, QFont::Medium, true);
    font_.setLetterSpacing(QFont::AbsoluteSpacing, style.tracking);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSizeF Wordmark::nameSize() const {
    const QFontMetricsF metrics(font_);
    return {metrics.horizontalAdvance(kName), metrics.height()};
}

QSize Wordmark::sizeHint() const {
    const QSizeF name = nameSize();
    const double dot = style_.dotDiameter + 2 * style_.glowRadius;  // room for the glow
    if (style_.vertical)
        return QSize(int(std::ceil(std::max(name.width(), dot))),
                     int(std::ceil(dot + style_.spacing - style_.glowRadius + name.height())));
    return QSize(int(std::ceil(dot + style_.spacing - style_.glowRadius + name.width())),
                 int(std::ceil(std::max(name.height(), dot))));
}

void Wordmark::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor green = toQColor(CorvaneTheme::liveAnalysisText);
    const QSizeF name = nameSize();
    const double r = style_.dotDiameter / 2, glow = style_.glowRadius;
    QPointF centre;
    QRectF nameBox;
    if (style_.vertical) {
        centre = {width() / 2.0, glow + r};
        nameBox = QRectF((width() - name.width()) / 2, centre.y() + r + style_.spacing, name.width(), name.height());
    } else {
        centre = {glow + r, height() / 2.0};
        nameBox = QRectF(centre.x() + r + style_.spacing, (height() - name.height()) / 2, name.width(), name.height());
    }
    QRadialGradient halo(centre, r + glow);
    QColor faint = green;
    faint.setAlphaF(0.55f);
    halo.setColorAt(r / (r + glow), faint);
    faint.setAlphaF(0);
    halo.setColorAt(1, faint);
    painter.setPen(Qt::NoPen);
    painter.setBrush(halo);
    painter.drawEllipse(centre, r + glow, r + glow);
    painter.setBrush(green);
    painter.drawEllipse(centre, r, r);
    painter.setFont(font_);
    painter.setPen(green);
    painter.drawText(nameBox, Qt::AlignCenter, kName);
}

}  // namespace corvane
