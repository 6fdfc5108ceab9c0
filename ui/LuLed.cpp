#include "LuLed.h"

#include <QPainter>
#include <QRadialGradient>

TLuLed::TLuLed(QWidget *parent) : QWidget(parent) {
    setFixedSize(12, 21);
}

void TLuLed::SetLit(bool lit) {
    if (lit == flit)
        return;
    flit = lit;
    update();
}

void TLuLed::paintEvent(QPaintEvent *) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF lamp(0.5, (height() - 11) / 2.0, 11, 11);
    const QColor body = flit ? QColor(0x2e, 0xc2, 0x40) : QColor(0xb4, 0xb8, 0xbe);
    QRadialGradient shine(lamp.center() - QPointF(2, 2), lamp.width() * 0.7);
    shine.setColorAt(0, body.lighter(170));
    shine.setColorAt(1, body);
    p.setPen(QPen(body.darker(160), 1));
    p.setBrush(shine);
    p.drawEllipse(lamp);
}
