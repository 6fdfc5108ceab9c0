#include "veltra_dev_info.h"

#include "ui_test_util.h"

#include <QCursor>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>

namespace {

class DevInfo : public ::testing::Test {
protected:
    QString Edit(const char *name) const { return Control<QLineEdit>(window, name)->text(); }

    TVeltraDevInfo window;
};

// A 1920 x 1080 screen whose taskbar, as the system reports it, reaches two pixels past the bottom.
const QRect Screen(0, 0, 1920, 1080);
const QRect BottomTaskbar(-2, 1040, 1924, 42);
const QRect AboveBottomTaskbar(Screen.topLeft(), QPoint(Screen.right(), BottomTaskbar.top() - 1));
const QSize Window(330, 291);

} // namespace

TEST_F(DevInfo, FillsEachEditFromTheKeyOfItsNameAndEmptiesTheEditsOfAbsentKeys) {
    window.UpdateDevInfo(QStringLiteral("\rDevName=VT-300\rDevIMEI=356938035643809\rDevHwVersion=0102"
                                        "\rDevSwVersion=0347\r"));
    EXPECT_EQ(Edit("DevName"), "VT-300");
    EXPECT_EQ(Edit("DevIMEI"), "356938035643809");
    EXPECT_EQ(Edit("DevHwVersion"), "0102");
    EXPECT_EQ(Edit("DevSwVersion"), "0347");

    window.UpdateDevInfo(QStringLiteral("\rDevName=VT-310\rDevHwVersion=0103\rDevSwVersion=0348\r"));
    EXPECT_EQ(Edit("DevName"), "VT-310");
    EXPECT_EQ(Edit("DevIMEI"), "");
    EXPECT_EQ(Edit("DevSwVersion"), "0348");
}

TEST_F(DevInfo, KeysMaySeparateTheirValuesByTabOrBlankAndOtherControlsAreLeftAlone) {
    window.UpdateDevInfo(QStringLiteral("DevName\tVT 300\rDevIMEI 35693\rdevswversion=0347\r"
                                        "ButClose=Открыть\r"));
    EXPECT_EQ(Edit("DevName"), "VT 300");
    EXPECT_EQ(Edit("DevIMEI"), "35693");
    EXPECT_EQ(Edit("DevSwVersion"), "0347");
    EXPECT_EQ(Control<QPushButton>(window, "ButClose")->text(), "Закрыть");
}

TEST_F(DevInfo, OpensWithTheCloseButtonFocusedWhichEnterAndEscapeAlsoPress) {
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Escape}) {
        ShowWindow(window);
        EXPECT_EQ(window.focusWidget(), Control<QPushButton>(window, "ButClose"));
        EXPECT_TRUE(Control<QLineEdit>(window, "DevIMEI")->isReadOnly());
        QTest::keyClick(&window, key);
        EXPECT_FALSE(window.isVisible()) << "key " << key;
    }
    ShowWindow(window);
    QTest::mouseClick(Control<QPushButton>(window, "ButClose"), Qt::LeftButton);
    EXPECT_FALSE(window.isVisible());
}

TEST(WindowAtCursor, NearTheBottomRightCornerTheWindowMovesUpAndLeftToLieWhollyAboveTheTaskbar) {
    const QPoint cursor(1910, 1070);
    const QRect placed(WindowPosAtCursor(cursor, Window, AboveBottomTaskbar, false, false), Window);
    EXPECT_LT(placed.left(), cursor.x());
    EXPECT_LT(placed.top(), cursor.y());
    EXPECT_FALSE(placed.intersects(BottomTaskbar));
    EXPECT_EQ(placed.right(), Screen.right());
    EXPECT_EQ(placed.bottom(), BottomTaskbar.top() - 1);
}

TEST(WindowAtCursor, InTheMiddleOfTheScreenTheTopLeftCornerIsAtTheCursorOrTheCentreWhenAsked) {
    const QPoint cursor(960, 540);
    EXPECT_EQ(WindowPosAtCursor(cursor, Window, AboveBottomTaskbar, false, false), cursor);
    EXPECT_EQ(WindowPosAtCursor(cursor, Window, AboveBottomTaskbar, true, false),
              QPoint(cursor.x() - Window.width() / 2, cursor.y()));
    EXPECT_EQ(WindowPosAtCursor(cursor, Window, AboveBottomTaskbar, false, true),
              QPoint(cursor.x(), cursor.y() - Window.height() / 2));
}

TEST(WindowAtCursor, ATaskbarAtTheTopOrLeftPushesTheWindowDownOrRight) {
    const QRect belowTopTaskbar(0, 40, 1920, 1040);
    const QRect rightOfLeftTaskbar(62, 0, 1858, 1080);
    const QPoint corner(3, 3);
    EXPECT_EQ(WindowPosAtCursor(corner, Window, belowTopTaskbar, true, true), belowTopTaskbar.topLeft());
    EXPECT_EQ(WindowPosAtCursor(corner, Window, rightOfLeftTaskbar, false, false),
              QPoint(rightOfLeftTaskbar.left(), corner.y()));
}

TEST(WindowAtCursor, AWindowLargerThanTheWorkAreaKeepsItsTopLeftCornerInside) {
    const QRect small(100, 50, 200, 150);
    EXPECT_EQ(WindowPosAtCursor(QPoint(250, 190), Window, small, false, false), small.topLeft());
}

TEST(WindowAtCursor, MovesARealWindowToTheCursorInsideTheScreensAvailableArea) {
    const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    const QPoint middle = available.center();
    QCursor::setPos(middle);
    if (QCursor::pos() != middle)
        GTEST_SKIP() << "this platform cannot move the cursor";
    TVeltraDevInfo window;
    MoveWindowToCursor(&window, false, false);
    EXPECT_EQ(window.frameGeometry().topLeft(), middle);

    QCursor::setPos(available.bottomRight() - QPoint(2, 2));
    MoveWindowToCursor(&window, false, false);
    EXPECT_TRUE(available.contains(window.frameGeometry())) << "placed outside the screen";
    EXPECT_EQ(window.size(), QSize(314, 252)) << "the window must keep its size";
}
