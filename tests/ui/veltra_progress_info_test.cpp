#include "veltra_progress_info.h"

#include "common.h"
#include "ui_test_util.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

namespace {

class ProgressInfo : public ::testing::Test {
protected:
    void SetUp() override {
        ProgressMessage = RegisterMessageName(QStringLiteral("Veltra Progress Message"));
        MainWindowHandle = &mainWindow;
    }
    void TearDown() override { MainWindowHandle = nullptr; }

    QString Global() const { return Control<QLabel>(window, "LblGlobalInfo")->text(); }
    QString Current() const { return Control<QLabel>(window, "LblCurrentInfo")->text(); }
    int Bar() const { return Control<QProgressBar>(window, "ProgressBar")->value(); }
    void Apply(int code, qint64 value, const QString &text = QString()) {
        EXPECT_TRUE(window.ApplyProgressCode(code, value, text)) << "code " << code;
    }

    TRecordingReceiver mainWindow;
    TVeltraProgressInfo window;
};

} // namespace

TEST_F(ProgressInfo, AnUploadShowsItsTextsAndPercentageAndHidesAtItsEnd) {
    EXPECT_FALSE(window.isVisible());
    EXPECT_TRUE(window.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    Apply(PROGRESS_SHOW, 0);
    EXPECT_TRUE(window.isVisible());
    EXPECT_FALSE(window.isModal());
    EXPECT_EQ(Global(), "");
    EXPECT_EQ(Current(), "");
    Apply(PROGRESS_TEXT, 0, QStringLiteral("Обновление программы"));
    Apply(PROGRESS_STEP, 0, QStringLiteral("Блок 3"));
    EXPECT_EQ(Global(), "Обновление программы");
    EXPECT_EQ(Current(), "Блок 3");
    Apply(PROGRESS_PERCENT, 100);
    EXPECT_EQ(Bar(), 100);
    Apply(PROGRESS_PERCENT, 0);
    EXPECT_EQ(Bar(), 0);
    Apply(PROGRESS_PERCENT, 47);
    EXPECT_EQ(Bar(), 47);
    Apply(PROGRESS_HIDE, 0);
    EXPECT_FALSE(window.isVisible());
}

TEST_F(ProgressInfo, ASecondStartWhileShownClearsItAndKeepsItShown) {
    Apply(PROGRESS_SHOW, 0);
    Apply(PROGRESS_TEXT, 0, QStringLiteral("Первая загрузка"));
    Apply(PROGRESS_STEP, 0, QStringLiteral("Блок 9"));
    Apply(PROGRESS_PERCENT, 80);
    Apply(PROGRESS_SHOW, 0);
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(Global(), "");
    EXPECT_EQ(Current(), "");
    EXPECT_EQ(Bar(), 0);
}

TEST_F(ProgressInfo, CodesNotMeantForTheWindowChangeNothing) {
    Apply(PROGRESS_SHOW, 0);
    Apply(PROGRESS_PERCENT, 30);
    EXPECT_FALSE(window.ApplyProgressCode(PROGRESS_CANCEL, 1, QString()));
    EXPECT_FALSE(window.ApplyProgressCode(3, 0, QStringLiteral("?")));
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(Bar(), 30);
    EXPECT_TRUE(mainWindow.Calls.empty());
}

TEST_F(ProgressInfo, EachPressOfCancelAsksTheMainWindowToCancelAndTheWindowStays) {
    Apply(PROGRESS_SHOW, 0);
    auto *cancel = Control<QPushButton>(window, "Button");
    EXPECT_EQ(cancel->text(), "Отмена");
    QTest::mouseClick(cancel, Qt::LeftButton);
    QTest::mouseClick(cancel, Qt::LeftButton);
    ASSERT_EQ(mainWindow.Calls.size(), 2u);
    for (const TNotification &call : mainWindow.Calls) {
        EXPECT_EQ(call.msg, ProgressMessage);
        EXPECT_EQ(call.code, PROGRESS_CANCEL);
        EXPECT_EQ(call.value, 1);
        EXPECT_TRUE(call.onMainThread);
    }
    EXPECT_TRUE(window.isVisible());
    QTest::keyClick(&window, Qt::Key_Escape);
    EXPECT_TRUE(window.isVisible()) << "only the end of the operation hides the window";
}

TEST_F(ProgressInfo, CancelWithoutAMainWindowSendsNothing) {
    MainWindowHandle = nullptr;
    Apply(PROGRESS_SHOW, 0);
    QTest::mouseClick(Control<QPushButton>(window, "Button"), Qt::LeftButton);
    EXPECT_TRUE(mainWindow.Calls.empty());
    EXPECT_TRUE(window.isVisible());
}
