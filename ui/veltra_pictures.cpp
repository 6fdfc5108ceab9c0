#include "veltra_pictures.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <functional>

namespace {

// Every picture is drawn on a 48-unit square; the painter scales that to the requested size.
constexpr qreal Units = 48.0;

QPixmap Paint(int logicalSize, qreal devicePixelRatio, const std::function<void(QPainter &)> &draw) {
    const int pixels = qRound(logicalSize * devicePixelRatio);
    QPixmap pixmap(pixels, pixels);
    pixmap.setDevicePixelRatio(devicePixelRatio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(logicalSize / Units, logicalSize / Units);
    draw(painter);
    return pixmap;
}

QBrush Shaded(const QColor &colour, qreal top, qreal bottom) {
    QLinearGradient gradient(0, top, 0, bottom);
    gradient.setColorAt(0, colour.lighter(135));
    gradient.setColorAt(1, colour.darker(115));
    return gradient;
}

void Disc(QPainter &p, const QColor &colour) {
    p.setPen(QPen(colour.darker(160), 1.5));
    p.setBrush(Shaded(colour, 3, 45));
    p.drawEllipse(QRectF(3, 3, 42, 42));
}

void Triangle(QPainter &p, const QColor &colour) {
    QPainterPath path;
    path.moveTo(24, 4);
    path.lineTo(45.5, 42.5);
    path.lineTo(2.5, 42.5);
    path.closeSubpath();
    p.setPen(QPen(colour.darker(170), 1.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Shaded(colour, 4, 43));
    p.drawPath(path);
}

void Dot(QPainter &p, const QColor &colour, QPointF centre, qreal radius) {
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawEllipse(centre, radius, radius);
}

void Bar(QPainter &p, const QColor &colour, const QRectF &rect) {
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawRoundedRect(rect, rect.width() / 2, rect.width() / 2);
}

void LetterI(QPainter &p) {
    Dot(p, Qt::white, {24, 14}, 3.8);
    Bar(p, Qt::white, {20.5, 20.5, 7, 17});
}

void Exclamation(QPainter &p, const QColor &colour, const QRectF &bar, qreal dotRadius) {
    Bar(p, colour, bar);
    Dot(p, colour, {24, bar.bottom() + dotRadius + 2.5}, dotRadius);
}

void QuestionMark(QPainter &p) {
    QPainterPath hook;
    hook.arcMoveTo(QRectF(16.5, 9, 15, 15), 160);
    hook.arcTo(QRectF(16.5, 9, 15, 15), 160, -250);
    hook.lineTo(24, 29);
    p.setPen(QPen(Qt::white, 5.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPath(hook);
    Dot(p, Qt::white, {24, 36.5}, 3.5);
}

const QColor Blue(0x1E, 0x64, 0xC8);
const QColor Yellow(0xF5, 0xC2, 0x1B);
const QColor Red(0xD3, 0x2F, 0x2F);

void DrawMsgPicture(QPainter &p, int picture) {
    switch (picture) {
    case mpQuestion:
        Disc(p, Blue);
        QuestionMark(p);
        break;
    case mpWarningBlue:
        Disc(p, Blue);
        Exclamation(p, Qt::white, {20.5, 9.5, 7, 20}, 3.8);
        break;
    case mpWarning:
        Triangle(p, Yellow);
        Exclamation(p, QColor(0x20, 0x20, 0x20), {21.5, 15, 5, 16}, 3);
        break;
    case mpError:
        Disc(p, Red);
        Exclamation(p, Qt::white, {20.5, 9.5, 7, 20}, 3.8);
        break;
    default:
        Disc(p, Blue);
        LetterI(p);
        break;
    }
}

// A tracker's location pin over a signal wave, on the product's blue tile.
void DrawProgramIcon(QPainter &p) {
    p.setPen(Qt::NoPen);
    p.setBrush(Shaded(Blue, 2, 46));
    p.drawRoundedRect(QRectF(2, 2, 44, 44), 9, 9);

    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(255, 255, 255, 150), 2.2, Qt::SolidLine, Qt::RoundCap));
    for (const qreal radius : {6.0, 11.0})
        p.drawArc(QRectF(32 - radius, 15 - radius, 2 * radius, 2 * radius), 0, 90 * 16);

    QPainterPath pin;
    pin.moveTo(20, 41);
    pin.cubicTo(13, 31, 9, 26, 9, 20);
    pin.arcTo(QRectF(9, 9, 22, 22), 180, -180);
    pin.cubicTo(31, 26, 27, 31, 20, 41);
    p.setPen(QPen(Blue.darker(150), 1.2));
    p.setBrush(Qt::white);
    p.drawPath(pin);
    Dot(p, Blue, {20, 20}, 4.5);
}

} // namespace

QPixmap MsgBoxPicture(int picture, qreal devicePixelRatio) {
    return Paint(MsgPictureSize, devicePixelRatio, [picture](QPainter &p) { DrawMsgPicture(p, picture); });
}

QPixmap ProgramIcon(int logicalSize, qreal devicePixelRatio) {
    return Paint(logicalSize, devicePixelRatio, DrawProgramIcon);
}

QIcon PaintedIcon(int logicalSize, const std::function<void(QPainter &)> &draw) {
    QIcon icon;
    for (qreal scale : {1.0, 1.5, 2.0, 3.0})
        icon.addPixmap(Paint(logicalSize, scale, draw));
    return icon;
}

namespace {

// A tray (the tracker) with an arrow into it or out of it.
void TrayArrow(QPainter &p, const QColor &colour, bool intoTray) {
    p.setPen(QPen(QColor(0x50, 0x58, 0x64), 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPolyline(QPolygonF({{6, 30}, {6, 42}, {42, 42}, {42, 30}}));
    const qreal tip = intoTray ? 36 : 4;
    const qreal tail = intoTray ? 6 : 34;
    const qreal head = intoTray ? tip - 14 : tip + 14;
    p.setPen(QPen(colour.darker(140), 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Shaded(colour, 4, 40));
    p.drawPolygon(QPolygonF({{19, tail}, {29, tail}, {29, head}, {36, head}, {24, tip}, {12, head}, {19, head}}));
}

// The bent arrow of the Enter key: what the button does is what Enter on the command line does.
void EnterArrow(QPainter &p) {
    const QColor edge = Blue.darker(130);
    p.setPen(QPen(edge, 5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPolyline(QPolygonF({{39, 7}, {39, 30}, {18, 30}}));
    p.setPen(QPen(edge, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Blue);
    p.drawPolygon(QPolygonF({{5, 30}, {20, 18}, {20, 42}}));
}

} // namespace

QIcon ToolbarGlyph(TGlyph glyph) {
    switch (glyph) {
    case glyphDevInfo:
        return PaintedIcon(16, [](QPainter &p) { DrawMsgPicture(p, mpInformation); });
    case glyphReadConfig:
        return PaintedIcon(16, [](QPainter &p) { TrayArrow(p, QColor(0x2E, 0x9E, 0x44), true); });
    case glyphWriteConfig:
        return PaintedIcon(16, [](QPainter &p) { TrayArrow(p, QColor(0xE0, 0x7B, 0x1A), false); });
    case glyphSendCmd:
        return PaintedIcon(16, EnterArrow);
    }
    return {};
}
