// TLuLed: a small indicator lamp with a number of states, drawn as a framed coloured rectangle or cut
// from a picture strip (lamps in four colours, or seven-segment digits), with optional blinking. The
// main window's device lamp uses the drawn style. The built-in strips are painted here rather than
// shipped as bitmaps, at the screen's pixel ratio, so they stay sharp at any display scaling; their
// sizes, cell counts and cell orders are the ones forms and callers count on.
#pragma once

#include <QColor>
#include <QPixmap>
#include <QWidget>

class QTimer;

enum TLuLedStyle : int {
    ldsDrawing,
    ldsDigitBigRed,
    ldsDigitBigGreen,
    ldsDigitSmallRed,
    ldsDigitSmallGreen,
    ldsHorizontal,
    ldsVertical,
    ldsSquare,
    ldsRound,
    ldsSoft,
    ldsUserDefined,
};

// Cells of the digit strips: the hexadecimal digits 0 to F, then these two.
inline constexpr int LedDigitMinus = 16;
inline constexpr int LedDigitBlank = 17;
// Cells of the lamp strips.
enum TLuLedLamp : int { ledLampOff, ledLampRed, ledLampYellow, ledLampGreen };

class TLuLed : public QWidget {
    Q_OBJECT
public:
    explicit TLuLed(QWidget *parent = nullptr);

    bool Blinking() const { return FBlinking; }
    void SetBlinking(bool blinking);
    int BlinkPeriod() const { return FBlinkPeriod; }
    void SetBlinkPeriod(int ms);
    int BlinkDuration() const { return FBlinkDuration; }
    void SetBlinkDuration(int ms);
    QColor ColorOn() const { return FColorOn; }
    void SetColorOn(const QColor &colour);
    QColor ColorOff() const { return FColorOff; }
    void SetColorOff(const QColor &colour);
    // The picture strip in use; a null pixmap means none. Setting one makes the control a square of
    // the strip's height, so a user-defined strip is cut into square cells.
    const QPixmap &Items() const { return FItems; }
    void SetItems(const QPixmap &strip);
    bool HaveItems() const { return fHaveItems; }
    TLuLedStyle LedStyle() const { return FLedStyle; }
    void SetLedStyle(TLuLedStyle style);
    bool Lit() const { return FState == FStateOn; }
    void SetLit(bool lit);
    int State() const { return FState; }
    void SetState(int state);
    int StateOn() const { return FStateOn; }
    void SetStateOn(int state) { FStateOn = state; }
    int StateOff() const { return FStateOff; }
    void SetStateOff(int state);
    int StatesCount() const;

    // The built-in strip of a style at `devicePixelRatio` (its size in logical pixels is the style's
    // strip size); a null pixmap for the styles without one.
    static QPixmap StylePicture(TLuLedStyle style, qreal devicePixelRatio);

signals:
    void OnChange();
    void OnClick();
    void OnMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, QPoint pos);
    void OnMouseMove(Qt::KeyboardModifiers modifiers, QPoint pos);
    void OnMouseUp(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, QPoint pos);
    void OnMouseEnter();
    void OnMouseLeave();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    int Clamped(int state) const;
    void TakeStrip(const QPixmap &strip);
    void BlinkTick();
    void PaintDrawn(QPainter &p) const;
    void PaintCell(QPainter &p);
    void PaintNoStrip(QPainter &p) const;

    bool FBlinking = false;
    int FBlinkPeriod = 1000;
    int FBlinkDuration = 200;
    QColor FColorOn{255, 0, 0};
    QColor FColorOff{192, 192, 192};
    QPixmap FItems;
    // FItems with the pixels of its bottom-left colour made transparent: what is painted.
    QPixmap fCells;
    TLuLedStyle FLedStyle = ldsDrawing;
    int FState = 0;
    int FStateOn = 1;
    int FStateOff = 0;
    QTimer *FTimer;
    bool fHaveItems = false;
};
