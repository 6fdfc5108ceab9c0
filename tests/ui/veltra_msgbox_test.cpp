#include "veltra_msgbox.h"

#include "sys_message_box.h"
#include "ui_test_util.h"
#include "veltra_pictures.h"

#include <QColor>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <functional>

namespace {

// The hue (0-359) of the average colour of a picture's opaque pixels: what the eye calls its colour.
int HueOf(const QPixmap &picture) {
    const QImage image = picture.toImage().convertToFormat(QImage::Format_ARGB32);
    qint64 red = 0, green = 0, blue = 0, count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            if (pixel.alpha() < 255)
                continue;
            red += pixel.red();
            green += pixel.green();
            blue += pixel.blue();
            ++count;
        }
    if (count == 0)
        return -1;
    return QColor(int(red / count), int(green / count), int(blue / count)).hsvHue();
}

bool IsRed(int hue) {
    return hue >= 0 && (hue < 20 || hue > 340);
}
bool IsYellow(int hue) {
    return hue >= 35 && hue <= 65;
}
bool IsBlue(int hue) {
    return hue >= 190 && hue <= 240;
}

class MsgBox : public ::testing::Test {
protected:
    void Tick() { QMetaObject::invokeMethod(timer, "timeout"); }
    QString Caption() const { return button->text(); }
    QImage ShownPicture() const { return Control<QLabel>(box, "Icon")->pixmap().toImage(); }

    TVeltraMsgBox box;
    QTimer *timer = Control<QTimer>(box, "Timer");
    QPushButton *button = Control<QPushButton>(box, "Button");
};

} // namespace

TEST(MsgBoxPictures, AreSquaresOf48AtEveryScaleDistinctAndColouredByTheirSeverity) {
    for (const qreal scale : {1.0, 2.0}) {
        QList<QImage> seen;
        for (int picture = 0; picture < MsgPictureCount; ++picture) {
            const QPixmap pixmap = MsgBoxPicture(picture, scale);
            EXPECT_EQ(pixmap.size(), QSize(48, 48) * scale);
            EXPECT_EQ(pixmap.deviceIndependentSize(), QSizeF(48, 48));
            EXPECT_FALSE(seen.contains(pixmap.toImage())) << "picture " << picture;
            seen.append(pixmap.toImage());
        }
        EXPECT_TRUE(IsBlue(HueOf(MsgBoxPicture(mpInformation, scale))));
        EXPECT_TRUE(IsBlue(HueOf(MsgBoxPicture(mpQuestion, scale))));
        EXPECT_TRUE(IsBlue(HueOf(MsgBoxPicture(mpWarningBlue, scale))));
        EXPECT_TRUE(IsYellow(HueOf(MsgBoxPicture(mpWarning, scale))));
        EXPECT_TRUE(IsRed(HueOf(MsgBoxPicture(mpError, scale))));
    }
}

TEST_F(MsgBox, ThePictureFollowsTheIconBitsOfTheFlags) {
    const struct {
        int flags;
        int picture;
    } cases[] = {
        {MB_ICONWARNING, mpWarning},
        {MB_ICONQUESTION, mpQuestion},
        {MB_ICONERROR, mpError},
        {MB_OK, mpInformation},
        {MB_ICONINFORMATION, mpInformation},
        {MB_YESNO | MB_ICONWARNING, mpWarning}, // the button bits do not matter
        {0x70, mpInformation},                  // nor does an icon value the box does not know
    };
    for (const auto &c : cases) {
        box.ShowMsg(QStringLiteral("Сообщение"), c.flags, 10);
        EXPECT_EQ(ShownPicture(), MsgBoxPicture(c.picture, box.devicePixelRatioF()).toImage())
            << "flags " << c.flags;
    }
}

TEST_F(MsgBox, ShowsTheTextWithoutBeingModalAndCountsDownFrom10ToClosingOnTheTenthTick) {
    box.ShowMsg(QStringLiteral("Трекер не отвечает"), MB_ICONERROR, 10);
    EXPECT_TRUE(box.isVisible());
    EXPECT_FALSE(box.isModal());
    EXPECT_EQ(Control<QLabel>(box, "Msg")->text(), "Трекер не отвечает");
    EXPECT_TRUE(timer->isActive());
    EXPECT_EQ(timer->interval(), 1000);
    for (int left = 10; left >= 1; --left) {
        ASSERT_TRUE(box.isVisible()) << "closed before the tick showing " << left;
        Tick();
        EXPECT_EQ(Caption(), QStringLiteral("Закрыть (%1)").arg(left));
    }
    EXPECT_FALSE(box.isVisible());
    EXPECT_FALSE(timer->isActive());
}

TEST_F(MsgBox, ASecondMessageReplacesTheFirstAndClosesTenSecondsAfterIt) {
    box.ShowMsg(QStringLiteral("Первое"), MB_OK, 10);
    for (int second = 0; second < 4; ++second)
        Tick();
    EXPECT_EQ(Caption(), "Закрыть (7)");
    box.ShowMsg(QStringLiteral("Второе"), MB_ICONWARNING, 10);
    EXPECT_EQ(Control<QLabel>(box, "Msg")->text(), "Второе");
    EXPECT_EQ(Caption(), "Закрыть") << "no number left over from the first countdown";
    for (int second = 0; second < 9; ++second)
        Tick();
    EXPECT_TRUE(box.isVisible());
    EXPECT_EQ(Caption(), "Закрыть (2)");
    Tick();
    EXPECT_FALSE(box.isVisible());
}

TEST_F(MsgBox, TheButtonEnterEscapeAndHideMsgEachCloseItAndStopTheCountdown) {
    const std::pair<const char *, std::function<void()>> ways[] = {
        {"button", [&] { QTest::mouseClick(button, Qt::LeftButton); }},
        {"Enter", [&] { QTest::keyClick(&box, Qt::Key_Return); }},
        {"Escape", [&] { QTest::keyClick(&box, Qt::Key_Escape); }},
        {"HideMsg", [&] { box.HideMsg(); }},
    };
    for (const auto &[name, close] : ways) {
        box.ShowMsg(QStringLiteral("Сообщение"), MB_OK, 10);
        Tick();
        close();
        EXPECT_FALSE(box.isVisible()) << name;
        EXPECT_FALSE(timer->isActive()) << name;
    }
}

TEST_F(MsgBox, ShownAgainAfterClosingItStartsAFreshCountdown) {
    box.ShowMsg(QStringLiteral("Первое"), MB_OK, 2);
    Tick();
    Tick();
    ASSERT_FALSE(box.isVisible());
    box.ShowMsg(QStringLiteral("Второе"), MB_OK, 3);
    EXPECT_TRUE(box.isVisible());
    EXPECT_EQ(Caption(), "Закрыть");
    Tick();
    EXPECT_EQ(Caption(), "Закрыть (3)");
}
