// The log window over log files in a temporary folder, with a recording receiver as the main window.
#include "veltra_log_view.h"

#include "LuTtyBox.h"
#include "common.h"
#include "ui_test_util.h"

#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QToolButton>
#include <memory>

namespace {

void Append(const QString &name, const QString &text) {
    QFile file(name);
    ASSERT_TRUE(file.open(QIODevice::Append));
    file.write(text.toLatin1());
}

// Lines "<tag> entry <n>" of about 40 bytes: 1024 bytes end in the middle of one.
QString Entries(const QString &tag, int from, int to) {
    QString text;
    for (int i = from; i < to; ++i)
        text +=
            QStringLiteral("%1 entry %2 ........................\r\n").arg(tag).arg(i, 5, 10, QChar(u'0'));
    return text;
}

class LogView : public ::testing::Test {
protected:
    void SetUp() override {
        StartUpForTest();
        MainLogFile = dir.filePath(QStringLiteral("veltra.log"));
        CmdLogFile = dir.filePath(QStringLiteral("cmd.log"));
        ComLogFile = dir.filePath(QStringLiteral("com.log"));
        DbgLogFile = dir.filePath(QStringLiteral("dbg.log"));
        MainWindowHandle = &mainWindow;
    }
    void TearDown() override { MainWindowHandle = nullptr; }

    static void StartUpForTest() {
        AppMessage = RegisterMessageName(QStringLiteral("veltra_log_view_test"));
        LogTailNotifyMessage = RegisterMessageName(QStringLiteral("TLuLogTailNotifyMessage"));
    }

    void Open() { view = std::make_unique<TVeltraLogView>(); }
    TLuTtyBox &Box(int tag) const { return *view->BoxForTag(tag); }
    QString Shown(int tag) const { return Box(tag).toPlainText(); }
    QTabWidget &Pages() const { return *Control<QTabWidget>(*view, "LogPages"); }
    QComboBox &CbCmd() const { return *Control<QComboBox>(*view, "CbCmd"); }

    void ShowDebugPage() {
        ShowWindow(*view);
        Pages().setCurrentIndex(3);
    }

    QTemporaryDir dir;
    TRecordingReceiver mainWindow;
    std::unique_ptr<TVeltraLogView> view;
};

} // namespace

TEST_F(LogView, FourPagesWithTabsBelowShowTheFourLogsAndTheCommandLineWaitsWithRInfo) {
    Open();
    EXPECT_EQ(view->windowTitle(), "VELTRA - Журнал");
    EXPECT_EQ(view->size(), QSize(632, 450));
    EXPECT_EQ(view->minimumSize(), QSize(320, 240));
    EXPECT_TRUE(view->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_FALSE(view->isVisible());
    EXPECT_EQ(Pages().tabPosition(), QTabWidget::South);
    const QStringList captions = {"Конфигуратор", "Коммандер", "COM-порт", "Debug"};
    ASSERT_EQ(Pages().count(), 4);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(Pages().tabText(i), captions[i]);
        EXPECT_EQ(Box(i + 1).Tag(), i + 1);
        EXPECT_EQ(Box(i + 1).parentWidget(), Pages().widget(i));
        EXPECT_EQ(Box(i + 1).LogMode(), lmDisabled);
        EXPECT_TRUE(Box(i + 1).isReadOnly());
    }
    EXPECT_EQ(view->BoxForTag(5), nullptr);
    EXPECT_EQ(Pages().currentIndex(), 0);
    EXPECT_EQ(CbCmd().currentText(), "R_INFO");
    EXPECT_EQ(CbCmd().count(), 0);
    EXPECT_EQ(Control<QToolButton>(*view, "SbCmd")->size(), QSize(22, 22));
}

// Each page starts with the end of its file and goes on from exactly there: no line twice.
TEST_F(LogView, FilesWrittenWhileTheWindowIsHiddenAreShownCompleteAndWithoutRepeats) {
    Append(MainLogFile, Entries("main", 0, 100));
    Append(ComLogFile, QStringLiteral("short\r\n"));
    Open();
    const QString start = Shown(1);
    EXPECT_EQ(start, Entries("main", 0, 100).right(1024).remove(u'\r')) << "the last 1024 bytes";
    EXPECT_EQ(Shown(3), "short\n");
    EXPECT_EQ(Shown(2), "");

    Append(MainLogFile, Entries("main", 100, 130));
    Append(CmdLogFile, Entries("cmd", 0, 3));
    ASSERT_TRUE(
        WaitUntil([&] { return Shown(1).endsWith("main entry 00129 ........................\n"); }, 5000));
    ASSERT_TRUE(WaitUntil([&] { return Shown(2) == QString(Entries("cmd", 0, 3)).remove(u'\r'); }, 5000))
        << Shown(2).toStdString();
    const QString shown = Shown(1);
    EXPECT_TRUE(shown.startsWith(start));
    EXPECT_EQ(shown.mid(start.size()), QString(Entries("main", 100, 130)).remove(u'\r'));
    EXPECT_FALSE(view->isVisible());

    ShowWindow(*view);
    EXPECT_TRUE(ShowsTheEnd(Box(1)));
}

TEST_F(LogView, ALogFileCreatedAfterTheWindowIsShownFromItsStart) {
    Open();
    EXPECT_EQ(Shown(4), "");
    Append(DbgLogFile, Entries("dbg", 0, 10));
    ASSERT_TRUE(WaitUntil([&] { return Shown(4) == QString(Entries("dbg", 0, 10)).remove(u'\r'); }, 5000));
}

TEST_F(LogView, EscHidesTheWindowFromAnyPageAndShowingItAgainScrollsToTheEnd) {
    Open();
    Append(CmdLogFile, Entries("cmd", 0, 100)); // more than the page can show at once
    ASSERT_TRUE(
        WaitUntil([&] { return Shown(2).endsWith("cmd entry 00099 ........................\n"); }, 5000));
    for (int page = 0; page < 4; ++page) {
        ShowWindow(*view);
        Pages().setCurrentIndex(page);
        Box(page + 1).setFocus();
        QTest::keyClick(&Box(page + 1), Qt::Key_Escape);
        EXPECT_FALSE(view->isVisible()) << "page " << page;
    }
    ShowDebugPage();
    QTest::keyClick(CbCmd().lineEdit(), Qt::Key_Escape);
    EXPECT_FALSE(view->isVisible());

    Pages().setCurrentIndex(1);
    Box(2).ScrollTo(0);
    ShowWindow(*view);
    EXPECT_TRUE(ShowsTheEnd(Box(2)));
}

TEST_F(LogView, TypingOnTheDebugPageSendsTheCommandInUpperCaseAndEchoesItOnANewLine) {
    Append(DbgLogFile, QStringLiteral("debug line\r\nunfinished"));
    Open();
    ShowDebugPage();
    QLineEdit *line = CbCmd().lineEdit();
    line->clear();
    // Typed into the page's box: the command line takes the keys.
    Box(4).setFocus();
    QTest::keyClicks(&Box(4), QStringLiteral("r_info"));
    EXPECT_EQ(line->text(), "R_INFO");
    EXPECT_TRUE(line->hasFocus());
    QTest::keyClick(line, Qt::Key_Return);

    ASSERT_EQ(mainWindow.Calls.size(), 1u);
    EXPECT_EQ(mainWindow.Calls[0].msg, AppMessage);
    EXPECT_EQ(mainWindow.Calls[0].code, MSG_DEV_SEND_STR);
    EXPECT_EQ(mainWindow.Calls[0].text, "R_INFO");
    EXPECT_EQ(Shown(4), "debug line\nunfinished\n>R_INFO");
    EXPECT_EQ(line->text(), "R_INFO") << "ready to be sent again";
    QTest::keyClick(line, Qt::Key_Enter);
    EXPECT_EQ(mainWindow.Calls.size(), 2u);
    EXPECT_EQ(Box(4).document()->lastBlock().text(), ">R_INFO");
    EXPECT_EQ(Box(4).document()->blockCount(), 4);
    ASSERT_EQ(CbCmd().count(), 1);
    EXPECT_EQ(CbCmd().itemText(0), "R_INFO");

    CbCmd().setEditText(QStringLiteral(" \ts_nop  "));
    QTest::mouseClick(Control<QToolButton>(*view, "SbCmd"), Qt::LeftButton);
    ASSERT_EQ(mainWindow.Calls.size(), 3u);
    EXPECT_EQ(mainWindow.Calls[2].text, "S_NOP");
    EXPECT_EQ(CbCmd().count(), 2);
    EXPECT_EQ(CbCmd().itemText(0), "S_NOP");
    EXPECT_EQ(CbCmd().currentText(), " \ts_nop  ");
}

TEST_F(LogView, KeysGoToTheCommandLineOnlyOnTheDebugPage) {
    Open();
    ShowWindow(*view);
    Pages().setCurrentIndex(2);
    Box(3).setFocus();
    QTest::keyClicks(&Box(3), QStringLiteral("xy"));
    EXPECT_EQ(CbCmd().currentText(), "R_INFO");
    EXPECT_TRUE(Box(3).hasFocus());
}

TEST_F(LogView, WithoutAMainWindowOrWithAnEmptyLineNothingIsSentOrShown) {
    Open();
    ShowDebugPage();
    CbCmd().setEditText(QStringLiteral("   "));
    view->SendCommand();
    MainWindowHandle = nullptr;
    CbCmd().setEditText(QStringLiteral("R_CFG"));
    view->SendCommand();
    EXPECT_TRUE(mainWindow.Calls.empty());
    EXPECT_EQ(Shown(4), "");
    EXPECT_EQ(CbCmd().count(), 0);
}

TEST_F(LogView, TheWindowIsDestroyedSoonWhileItsFollowersDeliver) {
    const QString files[] = {MainLogFile, CmdLogFile, ComLogFile, DbgLogFile};
    Open();
    for (const QString &file : files)
        Append(file, Entries("busy", 0, 5000));
    ASSERT_TRUE(WaitUntil([&] { return !Shown(1).isEmpty() && !Shown(4).isEmpty(); }, 5000));
    QElapsedTimer clock;
    clock.start();
    view.reset();
    EXPECT_LT(clock.elapsed(), 3000);
}
