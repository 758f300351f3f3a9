#include "widgets/gradientpanel.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace tarvik {

GradientPanel::GradientPanel(QWidget* parent)
    : QWidget(parent), top_(QColor(0xF4, 0xF8, 0xFF)), bottom_(QColor(0x9F, 0xB8, 0xDC)) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void GradientPanel::setColors(const QColor& top, const QColor& bottom) {
    top_ = top;
    bottom_ = bottom;
    update();
}

void GradientPanel::setShapesVisible(bool on) {
    shapes_ = on;
    update();
}

void GradientPanel::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QRect r = rect();
    QLinearGradient g(r.topLeft(), r.bottomLeft());
    g.setColorAt(0, top_);
    g.setColorAt(1, bottom_);
    p.fillRect(r, g);
    if (!shapes_ || r.isEmpty()) return;

    // Two rolling hills and a sun, in a faint tone of the lower colour, behind the controls.
    p.setRenderHint(QPainter::Antialiasing);
    QColor shade = bottom_.darker(115);
    shade.setAlpha(70);
    p.setPen(Qt::NoPen);
    p.setBrush(shade);
    const qreal w = r.width();
    const qreal h = r.height();
    QPainterPath hills;
    hills.moveTo(0, h);
    hills.lineTo(0, h * 0.78);
    hills.cubicTo(w * 0.25, h * 0.55, w * 0.45, h * 0.95, w * 0.65, h * 0.72);
    hills.cubicTo(w * 0.8, h * 0.58, w * 0.92, h * 0.66, w, h * 0.6);
    hills.lineTo(w, h);
    hills.closeSubpath();
    p.drawPath(hills);
    QColor sun = top_.lighter(105);
    sun.setAlpha(90);
    p.setBrush(sun);
    const qreal d = qMin(w, h) * 0.35;
    p.drawEllipse(QRectF(w - d - w * 0.05, h * 0.05, d, d));
}

}  // namespace tarvik
