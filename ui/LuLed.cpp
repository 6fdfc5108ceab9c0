#include "LuLed.h"

#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QRadialGradient>
#include <QTimer>
#include <algorithm>
#include <cmath>

namespace {

constexpr int DefaultSide = 16;
constexpr int MinBlinkPeriod = 50;
constexpr int MinBlinkDuration = 10;
const QColor FrameShadow(128, 128, 128);

// The cells of a style's built-in strip; no cells for the styles without one.
struct TStripCells {
    int width = 0, height = 0, count = 0;
};

constexpr int DigitCells = 18;
constexpr int LampCells = 4;

TStripCells StripCells(TLuLedStyle style) {
    switch (style) {
    case ldsDigitBigRed:
    case ldsDigitBigGreen:
        return {38, 53, DigitCells};
    case ldsDigitSmallRed:
    case ldsDigitSmallGreen:
        return {16, 21, DigitCells};
    case ldsHorizontal:
        return {22, 14, LampCells};
    case ldsVertical:
        return {14, 22, LampCells};
    case ldsSquare:
    case ldsRound:
        return {16, 16, LampCells};
    case ldsSoft:
        return {17, 17, LampCells};
    default:
        return {};
    }
}

// Segments a (top) to g (middle) in bits 0 to 6, for the cells in strip order.
constexpr quint8 DigitSegments[DigitCells] = {0x3F, 0x06, 0x5B, 0x4F, 0x66, 0x6D, 0x7D, 0x07, 0x7F,
                                              0x6F, 0x77, 0x7C, 0x39, 0x5E, 0x79, 0x71, 0x40, 0x00};

// A segment from `from` to `to`: a bar of thickness `t` with pointed ends, short of both ends so that
// neighbouring segments stay apart.
QPolygonF Segment(QPointF from, QPointF to, qreal t) {
    const QPointF along = (to - from) / std::hypot(to.x() - from.x(), to.y() - from.y());
    const QPointF across(-along.y(), along.x());
    const qreal half = t / 2;
    const QPointF a = from + along * (t * 0.3);
    const QPointF b = to - along * (t * 0.3);
    return QPolygonF({a, a + (along + across) * half, b + (across - along) * half, b,
                      b - (along + across) * half, a + (along - across) * half});
}

void DrawDigit(QPainter &p, QSizeF cell, quint8 segments, const QColor &lit) {
    const qreal w = cell.width(), h = cell.height();
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::black);
    // Corners round enough to leave the strip's bottom-left pixel clear: its colour is the one shown
    // through, and it must not be the black of the display.
    const qreal corner = std::max(4.0, w * 0.15);
    p.drawRoundedRect(QRectF(0, 0, w, h), corner, corner);
    const qreal t = w * 0.14;
    const qreal left = w * 0.22, right = w * 0.78;
    const qreal top = h * 0.13, middle = h / 2, bottom = h * 0.87;
    const QLineF ends[7] = {{left, top, right, top},        {right, top, right, middle},
                            {right, middle, right, bottom}, {left, bottom, right, bottom},
                            {left, middle, left, bottom},   {left, top, left, middle},
                            {left, middle, right, middle}};
    const QColor unlit = lit.darker(450);
    for (int s = 0; s < 7; ++s) {
        p.setBrush(segments & (1 << s) ? lit : unlit);
        p.drawPolygon(Segment(ends[s].p1(), ends[s].p2(), t));
    }
}

const QColor LampColours[LampCells] = {QColor(0x8C, 0x8C, 0x8C), QColor(0xE5, 0x2B, 0x24),
                                       QColor(0xF7, 0xD0, 0x1E), QColor(0x2F, 0xB5, 0x3C)};

void DrawLamp(QPainter &p, TLuLedStyle style, QSizeF cell, const QColor &colour) {
    const QRectF body(1, 1, cell.width() - 2, cell.height() - 2);
    if (style == ldsSoft) {
        QRadialGradient ball(body.left() + body.width() * 0.38, body.top() + body.height() * 0.32,
                             body.width() * 0.62);
        ball.setColorAt(0, colour.lighter(185));
        ball.setColorAt(0.45, colour);
        ball.setColorAt(1, colour.darker(175));
        p.setPen(Qt::NoPen);
        p.setBrush(ball);
        p.drawEllipse(body);
        return;
    }
    QLinearGradient face(0, body.top(), 0, body.bottom());
    face.setColorAt(0, colour.lighter(150));
    face.setColorAt(1, colour.darker(120));
    p.setPen(QPen(colour.darker(200), 1));
    p.setBrush(face);
    const QRectF rim = body.adjusted(0.5, 0.5, -0.5, -0.5);
    if (style == ldsRound)
        p.drawEllipse(rim);
    else
        p.drawRoundedRect(rim, 2, 2);
}

// The strip as painted: pixels of the colour of its bottom-left pixel become transparent, so that the
// parent's background shows through them.
QPixmap WithBackgroundCleared(const QPixmap &strip) {
    if (strip.isNull())
        return {};
    QImage image = strip.toImage().convertToFormat(QImage::Format_ARGB32);
    const QRgb background = image.pixel(0, image.height() - 1);
    for (int y = 0; y < image.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        std::replace(line, line + image.width(), background, QRgb(0));
    }
    QPixmap cleared = QPixmap::fromImage(image);
    cleared.setDevicePixelRatio(strip.devicePixelRatio());
    return cleared;
}

QSize LogicalSize(const QPixmap &strip) {
    return strip.deviceIndependentSize().toSize();
}

} // namespace

QPixmap TLuLed::StylePicture(TLuLedStyle style, qreal devicePixelRatio) {
    const TStripCells cells = StripCells(style);
    if (cells.count == 0)
        return {};
    QPixmap strip(QSize(cells.width * cells.count, cells.height) * devicePixelRatio);
    strip.setDevicePixelRatio(devicePixelRatio);
    strip.fill(Qt::transparent);
    QPainter p(&strip);
    p.setRenderHint(QPainter::Antialiasing);
    const bool digits = cells.count == DigitCells;
    const bool red = style == ldsDigitBigRed || style == ldsDigitSmallRed;
    const QColor digitColour = red ? QColor(0xFF, 0x30, 0x20) : QColor(0x30, 0xFF, 0x40);
    const QSizeF size(cells.width, cells.height);
    for (int cell = 0; cell < cells.count; ++cell) {
        p.save();
        p.translate(cell * cells.width, 0);
        if (digits)
            DrawDigit(p, size, DigitSegments[cell], digitColour);
        else
            DrawLamp(p, style, size, LampColours[cell]);
        p.restore();
    }
    return strip;
}

TLuLed::TLuLed(QWidget *parent) : QWidget(parent), FTimer(new QTimer(this)) {
    setFixedSize(DefaultSide, DefaultSide);
    FTimer->setInterval(1000);
    connect(FTimer, &QTimer::timeout, this, &TLuLed::BlinkTick);
}

int TLuLed::Clamped(int state) const {
    return std::max(0, std::min(state, StatesCount() - 1));
}

int TLuLed::StatesCount() const {
    if (FLedStyle == ldsDrawing || !fHaveItems || width() <= 0)
        return 2;
    return LogicalSize(FItems).width() / width();
}

void TLuLed::SetState(int state) {
    if (state == FState)
        return;
    FState = Clamped(state);
    update();
    emit OnChange();
}

void TLuLed::SetStateOff(int state) {
    if (state != FStateOff)
        FStateOff = Clamped(state);
}

void TLuLed::SetLit(bool lit) {
    SetState(lit ? FStateOn : FStateOff);
}

void TLuLed::SetBlinking(bool blinking) {
    if (blinking == FBlinking)
        return;
    FBlinking = blinking;
    SetState(FStateOff);
    if (blinking)
        FTimer->start();
    else
        FTimer->stop();
}

void TLuLed::SetBlinkPeriod(int ms) {
    FBlinkPeriod = std::max(ms, MinBlinkPeriod);
    SetBlinkDuration(FBlinkDuration);
}

void TLuLed::SetBlinkDuration(int ms) {
    FBlinkDuration = std::min(std::max(ms, MinBlinkDuration), FBlinkPeriod - MinBlinkDuration);
}

// The lamp is on for BlinkDuration of every BlinkPeriod.
void TLuLed::BlinkTick() {
    if (FState == FStateOn) {
        SetState(FStateOff);
        FTimer->setInterval(FBlinkPeriod - FBlinkDuration);
    } else {
        SetState(FStateOn);
        FTimer->setInterval(FBlinkDuration);
    }
}

void TLuLed::SetColorOn(const QColor &colour) {
    if (colour == FColorOn)
        return;
    FColorOn = colour;
    if (!fHaveItems)
        update();
}

void TLuLed::SetColorOff(const QColor &colour) {
    if (colour == FColorOff)
        return;
    FColorOff = colour;
    if (!fHaveItems)
        update();
}

void TLuLed::TakeStrip(const QPixmap &strip) {
    FItems = strip;
    fCells = WithBackgroundCleared(strip);
    fHaveItems = !strip.isNull();
}

void TLuLed::SetItems(const QPixmap &strip) {
    TakeStrip(strip);
    const int height = LogicalSize(strip).height();
    const int side = fHaveItems && height > 0 ? height : DefaultSide;
    setFixedSize(side, side);
    update();
}

void TLuLed::SetLedStyle(TLuLedStyle style) {
    if (style == FLedStyle)
        return;
    FLedStyle = style;
    TakeStrip(StylePicture(style, devicePixelRatioF()));
    if (fHaveItems) {
        const QSize strip = LogicalSize(FItems);
        setFixedSize(strip.width() / StripCells(style).count, strip.height());
    } else {
        setFixedSize(DefaultSide, DefaultSide);
    }
    FStateOff = Clamped(0);
    FStateOn = 1;
    SetState(FStateOff);
    update();
}

void TLuLed::paintEvent(QPaintEvent *) {
    QPainter p(this);
    if (FLedStyle == ldsDrawing)
        PaintDrawn(p);
    else if (fHaveItems)
        PaintCell(p);
    else
        PaintNoStrip(p);
}

// Whole logical pixels, so the frame stays sharp at any scaling.
void TLuLed::PaintDrawn(QPainter &p) const {
    const int w = width(), h = height();
    p.fillRect(rect(), FState == FStateOff ? FColorOff : FColorOn);
    p.fillRect(0, 0, w, 1, Qt::white);
    p.fillRect(0, 0, 1, h, Qt::white);
    p.fillRect(0, h - 1, w, 1, FrameShadow);
    p.fillRect(w - 1, 0, 1, h, FrameShadow);
    // The glint: the triangle 3,3 - 5,3 - 3,5.
    p.fillRect(3, 3, 3, 1, Qt::white);
    p.fillRect(3, 4, 2, 1, Qt::white);
    p.fillRect(3, 5, 1, 1, Qt::white);
}

void TLuLed::PaintCell(QPainter &p) {
    const qreal ratio = fCells.devicePixelRatio();
    const QRectF source(FState * width() * ratio, 0, width() * ratio, height() * ratio);
    p.drawPixmap(QRectF(rect()), fCells, source);
}

void TLuLed::PaintNoStrip(QPainter &p) const {
    p.fillRect(rect(), Qt::white);
    p.fillRect(rect(), QBrush(Qt::black, Qt::DiagCrossPattern));
}

void TLuLed::mousePressEvent(QMouseEvent *event) {
    emit OnMouseDown(event->button(), event->modifiers(), event->position().toPoint());
}

void TLuLed::mouseMoveEvent(QMouseEvent *event) {
    emit OnMouseMove(event->modifiers(), event->position().toPoint());
}

void TLuLed::mouseReleaseEvent(QMouseEvent *event) {
    const QPoint pos = event->position().toPoint();
    emit OnMouseUp(event->button(), event->modifiers(), pos);
    if (event->button() == Qt::LeftButton && rect().contains(pos))
        emit OnClick();
}

void TLuLed::enterEvent(QEnterEvent *) {
    emit OnMouseEnter();
}

void TLuLed::leaveEvent(QEvent *) {
    emit OnMouseLeave();
}
