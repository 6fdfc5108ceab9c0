#include "LuLed.h"

#include "ui_test_util.h"

#include <QImage>
#include <QPainter>
#include <QSignalSpy>
#include <QTimer>
#include <algorithm>
#include <set>

namespace {

QColor Pixel(const QImage &image, int x, int y) {
    const qreal ratio = image.devicePixelRatio();
    return image.pixelColor(int(x * ratio), int(y * ratio));
}

QImage Painted(QWidget &widget) {
    return widget.grab().toImage();
}

// The pixels of one cell of a strip (at pixel ratio 1) that are painted in the strip's lit colour.
using TPixels = std::set<std::pair<int, int>>;

TPixels LitPixels(const QImage &strip, int cell, QSize cellSize, const QColor &lit) {
    TPixels pixels;
    for (int y = 0; y < cellSize.height(); ++y)
        for (int x = 0; x < cellSize.width(); ++x)
            if (strip.pixelColor(cell * cellSize.width() + x, y) == lit)
                pixels.insert({x, y});
    return pixels;
}

TPixels Without(TPixels from, const TPixels &taken) {
    for (const auto &p : taken)
        from.erase(p);
    return from;
}

bool Contains(const TPixels &all, const TPixels &part) {
    return std::includes(all.begin(), all.end(), part.begin(), part.end());
}

struct TStyleCase {
    TLuLedStyle style;
    QSize strip;
    int states;
};

const TStyleCase StyleCases[] = {
    {ldsDigitBigRed, {684, 53}, 18},
    {ldsDigitBigGreen, {684, 53}, 18},
    {ldsDigitSmallRed, {288, 21}, 18},
    {ldsDigitSmallGreen, {288, 21}, 18},
    {ldsHorizontal, {88, 14}, 4},
    {ldsVertical, {56, 22}, 4},
    {ldsSquare, {64, 16}, 4},
    {ldsRound, {64, 16}, 4},
    {ldsSoft, {68, 17}, 4},
};

} // namespace

TEST(LuLed, StateIsClampedToTheStatesAndEveryChangeIsAnnounced) {
    TLuLed led;
    QSignalSpy changes(&led, &TLuLed::OnChange);
    EXPECT_EQ(led.size(), QSize(16, 16));
    EXPECT_EQ(led.StatesCount(), 2);
    led.SetState(7);
    EXPECT_EQ(led.State(), 1);
    EXPECT_TRUE(led.Lit());
    led.SetState(1); // unchanged: no announcement
    led.SetState(-3);
    EXPECT_EQ(led.State(), 0);
    EXPECT_EQ(changes.count(), 2);

    led.SetStateOff(5);
    EXPECT_EQ(led.StateOff(), 1);
    led.SetStateOn(9); // stored as given
    EXPECT_EQ(led.StateOn(), 9);
    led.SetLit(true);
    EXPECT_EQ(led.State(), 1); // clamped on the way in
    led.SetStateOn(0);
    led.SetLit(true);
    EXPECT_EQ(led.State(), 0);
    EXPECT_TRUE(led.Lit());
}

TEST(LuLed, BlinkPeriodAndDurationKeepTheirBounds) {
    TLuLed led;
    led.SetBlinkPeriod(30);
    EXPECT_EQ(led.BlinkPeriod(), 50);
    EXPECT_EQ(led.BlinkDuration(), 40); // 200 lowered to fit the new period
    led.SetBlinkDuration(5);
    EXPECT_EQ(led.BlinkDuration(), 10);
    led.SetBlinkPeriod(1000);
    led.SetBlinkDuration(2000);
    EXPECT_EQ(led.BlinkDuration(), 990);
}

TEST(LuLed, BlinkingAlternatesOnForTheDurationAndOffForTheRestOfThePeriod) {
    TLuLed led;
    led.SetBlinkPeriod(120);
    led.SetBlinkDuration(40);
    led.SetState(1);
    auto *timer = led.findChild<QTimer *>();
    ASSERT_NE(timer, nullptr);
    led.SetBlinking(true);
    EXPECT_FALSE(led.Lit());
    EXPECT_TRUE(timer->isActive());
    EXPECT_EQ(timer->interval(), 1000); // the first tick comes after the timer's initial interval

    // Ticks by hand first: each sets the length of the phase it starts.
    QMetaObject::invokeMethod(timer, "timeout");
    EXPECT_TRUE(led.Lit());
    EXPECT_EQ(timer->interval(), 40);
    QMetaObject::invokeMethod(timer, "timeout");
    EXPECT_FALSE(led.Lit());
    EXPECT_EQ(timer->interval(), 80);

    // Then the timer's own.
    QSignalSpy changes(&led, &TLuLed::OnChange);
    ASSERT_TRUE(WaitUntil([&] { return changes.count() >= 4; }, 10000));

    led.SetBlinking(false);
    EXPECT_FALSE(led.Lit());
    EXPECT_FALSE(timer->isActive());
}

TEST(LuLed, EachStyleSizesTheControlToOneCellOfItsStripDrawnAtTheScreensPixelRatio) {
    for (const TStyleCase &c : StyleCases) {
        SCOPED_TRACE(c.style);
        for (const qreal ratio : {1.0, 2.0}) {
            const QPixmap strip = TLuLed::StylePicture(c.style, ratio);
            EXPECT_EQ(strip.deviceIndependentSize().toSize(), c.strip);
            EXPECT_EQ(strip.size(), c.strip * ratio);
        }
        TLuLed led;
        led.SetStateOff(1);
        led.SetState(1);
        led.SetLedStyle(c.style);
        EXPECT_EQ(led.size(), QSize(c.strip.width() / c.states, c.strip.height()));
        EXPECT_EQ(led.StatesCount(), c.states);
        EXPECT_TRUE(led.HaveItems());
        EXPECT_EQ(led.StateOff(), 0);
        EXPECT_EQ(led.StateOn(), 1);
        EXPECT_EQ(led.State(), 0);
        led.SetState(99);
        EXPECT_EQ(led.State(), c.states - 1);
    }
    for (const TLuLedStyle none : {ldsDrawing, ldsUserDefined})
        EXPECT_TRUE(TLuLed::StylePicture(none, 1).isNull());
}

// The digits are told apart by their segments: with d = (3 - 7) - minus, "A" is "8" without d.
TEST(LuLed, DigitCellsShowTheHexDigitsThenMinusThenBlank) {
    const QSize cell(16, 21);
    const QImage strip = TLuLed::StylePicture(ldsDigitSmallRed, 1).toImage();
    const QColor lit = strip.pixelColor(cell.width() * 8 + cell.width() / 2, cell.height() / 2); // 8's g
    const auto segments = [&](int c) { return LitPixels(strip, c, cell, lit); };
    const TPixels eight = segments(8);
    ASSERT_FALSE(eight.empty());
    std::set<TPixels> distinct;
    for (int c = 0; c < 18; ++c) {
        EXPECT_TRUE(Contains(eight, segments(c))) << "cell " << c;
        distinct.insert(segments(c));
    }
    EXPECT_EQ(distinct.size(), 18u);
    const TPixels minus = segments(LedDigitMinus);
    EXPECT_EQ(minus, Without(eight, segments(0)));
    EXPECT_TRUE(segments(LedDigitBlank).empty());
    const TPixels d = Without(Without(segments(3), segments(7)), minus);
    EXPECT_EQ(segments(10), Without(eight, d));
    // The bottom-left pixel, the one shown through, is not the black of the display.
    EXPECT_EQ(strip.pixelColor(0, cell.height() - 1).alpha(), 0);
    EXPECT_EQ(strip.pixelColor(1, cell.height() / 2), QColor(Qt::black));
}

TEST(LuLed, LampCellsAreGreyRedYellowGreenInThatOrder) {
    for (const TLuLedStyle style : {ldsHorizontal, ldsVertical, ldsSquare, ldsRound, ldsSoft}) {
        SCOPED_TRACE(style);
        const QImage strip = TLuLed::StylePicture(style, 1).toImage();
        const int cellWidth = strip.width() / 4;
        const auto centre = [&](int cell) {
            return strip.pixelColor(cell * cellWidth + cellWidth / 2, strip.height() / 2 + 1);
        };
        const QColor off = centre(ledLampOff), red = centre(ledLampRed), yellow = centre(ledLampYellow),
                     green = centre(ledLampGreen);
        EXPECT_LT(off.hsvSaturation(), 20);
        EXPECT_NEAR(red.hsvHue(), 0, 10);
        EXPECT_NEAR(yellow.hsvHue(), 50, 12);
        EXPECT_NEAR(green.hsvHue(), 125, 15);
        EXPECT_EQ(strip.pixelColor(0, strip.height() - 1).alpha(), 0);
    }
}

TEST(LuLed, TheMainWindowsLampPaintsGreenWhenLitAndSilverWhenNotInARaisedFrame) {
    TLuLed led;
    led.SetColorOn(QColor(0, 128, 0));
    led.SetColorOff(QColor(192, 192, 192));
    led.setFixedSize(12, 21);
    led.SetLit(true);
    QImage image = Painted(led);
    EXPECT_EQ(Pixel(image, 6, 12), QColor(0, 128, 0));
    EXPECT_EQ(Pixel(image, 0, 10), QColor(Qt::white));
    EXPECT_EQ(Pixel(image, 6, 0), QColor(Qt::white));
    EXPECT_EQ(Pixel(image, 11, 10), QColor(128, 128, 128));
    EXPECT_EQ(Pixel(image, 6, 20), QColor(128, 128, 128));
    for (const QPoint glint : {QPoint(3, 3), QPoint(5, 3), QPoint(4, 4), QPoint(3, 5)})
        EXPECT_EQ(Pixel(image, glint.x(), glint.y()), QColor(Qt::white)) << glint.x() << "," << glint.y();
    for (const QPoint beside : {QPoint(6, 3), QPoint(5, 4), QPoint(4, 5)})
        EXPECT_EQ(Pixel(image, beside.x(), beside.y()), QColor(0, 128, 0)) << beside.x() << "," << beside.y();

    led.SetLit(false);
    image = Painted(led);
    EXPECT_EQ(Pixel(image, 6, 12), QColor(192, 192, 192));
}

TEST(LuLed, APictureStyleShowsTheCellOfItsState) {
    TLuLed led;
    led.SetLedStyle(ldsDigitBigGreen);
    led.SetState(10);
    const QImage painted = Painted(led);
    const QImage strip = TLuLed::StylePicture(ldsDigitBigGreen, painted.devicePixelRatio()).toImage();
    const int ratio = int(painted.devicePixelRatio());
    int compared = 0;
    for (int y = 0; y < painted.height(); ++y)
        for (int x = 0; x < painted.width(); ++x) {
            const QColor cell = strip.pixelColor(10 * led.width() * ratio + x, y);
            if (cell.alpha() < 255)
                continue; // blended with the background
            ++compared;
            ASSERT_EQ(painted.pixelColor(x, y), cell) << x << "," << y;
        }
    EXPECT_GT(compared, painted.width() * painted.height() / 2);
}

// A strip given by the program: its bottom-left colour lets the parent's background show through.
TEST(LuLed, AUserStripIsCutIntoSquareCellsAndItsBackgroundColourIsSeeThrough) {
    QWidget parent;
    parent.setAutoFillBackground(true);
    QPalette palette = parent.palette();
    palette.setColor(QPalette::Window, QColor(10, 200, 10));
    parent.setPalette(palette);
    parent.resize(40, 40);
    auto *led = new TLuLed(&parent);
    led->SetLedStyle(ldsUserDefined);
    EXPECT_FALSE(led->HaveItems());
    const QImage hatched = Painted(*led).convertToFormat(QImage::Format_RGB32);
    std::set<QRgb> colours;
    for (int y = 0; y < hatched.height(); ++y)
        for (int x = 0; x < hatched.width(); ++x)
            colours.insert(hatched.pixel(x, y));
    EXPECT_EQ(colours, (std::set<QRgb>{qRgb(0, 0, 0), qRgb(255, 255, 255)})) << "a cross hatch on white";

    QPixmap strip(60, 20);
    strip.fill(Qt::magenta);
    QPainter(&strip).fillRect(25, 5, 10, 10, Qt::blue); // in the middle of the second cell
    led->SetItems(strip);
    EXPECT_EQ(led->size(), QSize(20, 20));
    EXPECT_EQ(led->StatesCount(), 3);
    led->SetState(1);
    const QImage painted = Painted(parent);
    EXPECT_EQ(Pixel(painted, 10, 10), QColor(Qt::blue));
    EXPECT_EQ(Pixel(painted, 2, 2), QColor(10, 200, 10));

    led->SetItems(QPixmap());
    EXPECT_FALSE(led->HaveItems());
    EXPECT_EQ(led->size(), QSize(16, 16));
    EXPECT_EQ(led->StatesCount(), 2);
}

TEST(LuLed, ClickAndMouseCrossingsAreAnnounced) {
    TLuLed led;
    QSignalSpy clicks(&led, &TLuLed::OnClick);
    QSignalSpy downs(&led, &TLuLed::OnMouseDown);
    QTest::mouseClick(&led, Qt::LeftButton, {}, QPoint(4, 4));
    EXPECT_EQ(clicks.count(), 1);
    ASSERT_EQ(downs.count(), 1);
    EXPECT_EQ(downs[0][2].toPoint(), QPoint(4, 4));
    QTest::mouseClick(&led, Qt::RightButton, {}, QPoint(4, 4));
    EXPECT_EQ(clicks.count(), 1);

    QSignalSpy enters(&led, &TLuLed::OnMouseEnter);
    QSignalSpy leaves(&led, &TLuLed::OnMouseLeave);
    QEnterEvent enter(QPointF(2, 2), QPointF(2, 2), QPointF(2, 2));
    QCoreApplication::sendEvent(&led, &enter);
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(&led, &leave);
    EXPECT_EQ(enters.count(), 1);
    EXPECT_EQ(leaves.count(), 1);
}
