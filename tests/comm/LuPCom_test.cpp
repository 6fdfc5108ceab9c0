#include "LuFiles.h"
#include "LuPCom.h"
#include "pcomm_sio.h"
#include "pty_fixture.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr int Port = 41;

// A port opened on a fresh pty with the engine's line setting.
struct TOpenPort {
    TPtyPair pty{Port};
    TLuPCom com;
    explicit TOpenPort(const QString &logFile = QString()) {
        com.SetPort(Port);
        com.SetBaudRate(115200);
        com.SetFlowCtrl(fcNone);
        if (!logFile.isEmpty()) {
            com.SetLogFile(logFile);
            com.SetLogEnabled(true);
        }
        com.Open();
    }
};

QString ErrorOf(const std::function<void()> &op) {
    try {
        op();
    } catch (const TLuPComError &e) {
        return e.Message();
    }
    return QString();
}

QStringList LogLines(const QString &file) {
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLatin1(f.readAll()).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
}

} // namespace

TEST(LuPComReadString, LineEndsAtCrAndTheRestStaysQueued) {
    TOpenPort p;
    p.pty.Send("\r\n  OK\r\n");
    EXPECT_EQ(p.com.ReadString(false, false, 1000), "  OK");
    EXPECT_EQ(p.com.RxCount(), 1);
    QString res;
    EXPECT_FALSE(p.com.ReadString(res, false, 50));
    EXPECT_EQ(res, "");
}

TEST(LuPComReadString, DeadlinesAndMultiline) {
    TOpenPort p;
    QElapsedTimer t;
    t.start();
    EXPECT_EQ(p.com.ReadString(false, false, 200), "");
    EXPECT_GE(t.elapsed(), 190);

    p.pty.Send("ABC");
    QString res;
    EXPECT_FALSE(p.com.ReadString(res, false, 100));
    EXPECT_EQ(res, "ABC");

    p.pty.Send("A\rB\r");
    t.restart();
    EXPECT_EQ(p.com.ReadString(true, false, 150), "A\rB\r");
    EXPECT_GE(t.elapsed(), 140);
}

TEST(LuPComReadString, ALineIsSeenAsSoonAsItArrivesAndEchoed) {
    TOpenPort p;
    std::thread peer([&p] {
        QThread::msleep(30);
        p.pty.Send("hi\tthere\r");
    });
    QElapsedTimer t;
    t.start();
    EXPECT_EQ(p.com.ReadString(false, true, 2000), "hithere");
    EXPECT_LT(t.elapsed(), 500);
    peer.join();
    EXPECT_EQ(p.pty.Receive(100), QByteArray("hithere\r\n"));
}

TEST(LuPComErrors, MessagesAndCodes) {
    TLuPCom closed;
    closed.SetPort(4);
    EXPECT_EQ(ErrorOf([&] { closed.RxCount(); }), "Port [4] is not open");
    EXPECT_EQ(ErrorOf([&] { closed.PutString("x"); }), "Port [4] is not open");

    Settings().SetVal("com7", "/nonexistent/tty");
    TLuPCom missing;
    missing.SetPort(7);
    EXPECT_EQ(ErrorOf([&] { missing.Open(); }),
              "TLuPCom(7) error -5 into Open: No such port or port has opened");
    EXPECT_FALSE(missing.Active());

    Settings().SetVal("com7", "/dev/null");
    EXPECT_EQ(ErrorOf([&] { missing.Open(); }),
              "TLuPCom(7) error -5 into Open: No such port or port has opened");
    Settings().Remove("com7");

    EXPECT_EQ(TLuPCom::ErrorText(-3), "Unknow error code [-3]");
    EXPECT_EQ(TLuPCom::ErrorText(-12), "Write timeout has happened");

    TOpenPort p;
    TLuPCom second;
    second.SetPort(Port);
    EXPECT_EQ(ErrorOf([&] { second.Open(); }),
              QStringLiteral("TLuPCom(%1) error -5 into Open: No such port or port has opened").arg(Port));
}

TEST(LuPComErrors, OpenFailuresAreExplainedForAPerson) {
    Settings().SetVal("com7", "/nonexistent/tty");
    TLuPCom missing;
    missing.SetPort(7);
    ErrorOf([&] { missing.Open(); });
    EXPECT_EQ(sio_OpenErrorText(7, sio_LastError()), "No such device: /nonexistent/tty");
    Settings().SetVal("com7", "/dev/null");
    ErrorOf([&] { missing.Open(); });
    EXPECT_EQ(sio_OpenErrorText(7, sio_LastError()), "/dev/null is not a serial port");
    // Root opens what it likes, so the permission text is asked for directly. Root's group is never
    // offered for joining.
    EXPECT_EQ(sio_OpenErrorText(7, EACCES), "Permission denied on /dev/null");
    Settings().Remove("com7");
    EXPECT_EQ(sio_OpenErrorText(0, ENOENT), "COM0 is not mapped to a device");

    // A port this process holds is taken for a second opener, whichever object or program it is.
    TOpenPort p;
    TLuPCom second;
    second.SetPort(Port);
    ErrorOf([&] { second.Open(); });
    EXPECT_EQ(sio_OpenErrorText(Port, sio_LastError()), sio_PortPath(Port) + " is in use by another program");
}

// The group to join is named only when it may read and write the device, as dialout may a serial port.
TEST(LuPComErrors, APermissionTextNamesOnlyAGroupThatMayReadAndWrite) {
    QTemporaryDir dir;
    const QString node = dir.filePath(QStringLiteral("ttyTest"));
    QFile(node).open(QIODevice::WriteOnly);
    const group *dialout = ::getgrnam("dialout");
    if (!dialout || ::chown(QFile::encodeName(node).constData(), -1, dialout->gr_gid) != 0)
        GTEST_SKIP() << "giving a file to the group dialout needs root";
    Settings().SetVal("com7", node);
    QFile::setPermissions(node, QFileDevice::ReadGroup | QFileDevice::WriteGroup);
    EXPECT_EQ(sio_OpenErrorText(7, EACCES), "Permission denied on " + node +
                                                ": it belongs to the group dialout; join it with "
                                                "\"sudo usermod -aG dialout $USER\" and log in again");
    QFile::setPermissions(node, QFileDevice::ReadGroup);
    EXPECT_EQ(sio_OpenErrorText(7, EACCES), "Permission denied on " + node);
    Settings().Remove("com7");
}

// Root is never kept out by the exclusive mode, so the test asks the terminal for it, through the
// descriptor the fixture already holds (a new open would be refused to anyone but root).
TEST(LuPComErrors, ClosingThePortEndsItsExclusiveUseWhileTheLineStaysOpen) {
    TOpenPort p;
    const auto exclusive = [&p] {
        int flag = -1;
        ::ioctl(p.pty.SlaveFd(), TIOCGEXCL, &flag);
        return flag;
    };
    EXPECT_EQ(exclusive(), 1);
    p.com.Close();
    EXPECT_EQ(exclusive(), 0);
}

TEST(LuPComErrors, AFailedSecondOpenLeavesTheFirstObjectsPortOpen) {
    TOpenPort p;
    {
        TLuPCom second;
        second.SetPort(Port);
        EXPECT_FALSE(ErrorOf([&] { second.Open(); }).isEmpty());
        second.Close();
    } // and its destructor closes once more
    EXPECT_EQ(ErrorOf([&] { p.com.PutString("R_INFO\r\n"); }), "");
    EXPECT_EQ(ErrorOf([&] { p.com.RxCount(); }), "");
}

TEST(LuPComErrors, VanishedDeviceFailsEveryOperationWithoutHanging) {
    TOpenPort p;
    p.pty.CloseMaster();
    QElapsedTimer t;
    t.start();
    EXPECT_TRUE(
        ErrorOf([&] { p.com.RxCount(); }).startsWith("TLuPCom(41) error -8 into RxCount: Win32 error"));
    EXPECT_FALSE(ErrorOf([&] { p.com.ReadString(false, false, 5000); }).isEmpty());
    EXPECT_FALSE(ErrorOf([&] { p.com.PutString("R_INFO\r\n"); }).isEmpty());
    EXPECT_LT(t.elapsed(), 1000);
}

TEST(LuPComSettings, BaudRateSnapsDown) {
    TLuPCom com;
    const std::pair<qint64, quint32> cases[] = {{100000, 57600}, {50, 75},         {1000000, 921600},
                                                {110, 110},      {115200, 115200}, {qint64(1) << 31, 9600}};
    for (const auto &[given, stored] : cases) {
        com.SetBaudRate(given);
        EXPECT_EQ(com.BaudRate(), stored) << given;
    }
    EXPECT_EQ(com.StopBits(), sb2);
    EXPECT_EQ(com.FlowCtrl(), fcHardware);
}

TEST(LuPComSettings, ModemLinesWorkOrFailCleanly) {
    TOpenPort p;
    // A pty has no modem lines on most kernels: the failure must be a port error naming the operation.
    const QString err = ErrorOf([&] { (void)p.com.CTS(); });
    EXPECT_TRUE(err.isEmpty() || err.contains("into get_cts")) << err.toStdString();
    const QString dtr = ErrorOf([&] { p.com.SetDTR(true); });
    EXPECT_TRUE(dtr.isEmpty() || dtr.contains("into set_dtr")) << dtr.toStdString();
}

TEST(LuPComTrafficLog, TwentyBytesGiveTwoAlignedLines) {
    QTemporaryDir dir;
    const QString log = dir.filePath("com.log");
    {
        TOpenPort p(log);
        p.com.Write("ABCDEFGHIJKLMNOPQRST", 20);
        EXPECT_EQ(LogLines(log).size(), 2); // the opened line and the first sixteen bytes
    }
    const QStringList lines = LogLines(log);
    ASSERT_EQ(lines.size(), 4);
    EXPECT_TRUE(lines[0].startsWith("*** COM41 opened at "));
    const QRegularExpression first("^\\d\\d:\\d\\d:\\d\\d:\\d\\d\\d - 0000 41 42 43 44 45 46 47 48 49 4A 4B "
                                   "4C 4D 4E 4F 50 ABCDEFGHIJKLMNOP $");
    EXPECT_TRUE(first.match(lines[1]).hasMatch()) << lines[1].toStdString();
    EXPECT_TRUE(lines[2].endsWith(" - 0010 51 52 53 54" + QString(36, ' ') + " QRST"))
        << lines[2].toStdString();
    EXPECT_EQ(lines[1].indexOf("ABCD"), lines[2].indexOf("QRST"));
    EXPECT_TRUE(lines[3].startsWith(" *** COM41 closed at ") || lines[3].startsWith("*** COM41 closed at "));
}

TEST(LuPComTrafficLog, DirectionChangesStartNewRuns) {
    QTemporaryDir dir;
    const QString log = dir.filePath("com.log");
    {
        TOpenPort p(log);
        p.com.PutString("abc");
        p.pty.Send("\x01\xFF");
        ASSERT_TRUE(p.com.WaitRx(1000));
        QThread::msleep(20);
        char buf[2];
        EXPECT_EQ(p.com.Read(buf, 2), 2);
        p.com.PutChar('z');
    }
    const QStringList lines = LogLines(log);
    ASSERT_EQ(lines.size(), 5);
    EXPECT_TRUE(lines[1].contains(" - 0000 61 62 63 ")) << lines[1].toStdString();
    EXPECT_TRUE(lines[2].contains(" + 0000 01 FF ")) << lines[2].toStdString();
    // The raw byte goes to the character column as it came (0xFF is a letter in windows-1251).
    EXPECT_TRUE(lines[2].endsWith(QString(" .") + QChar(0xFF) + u' ')) << lines[2].toStdString();
    EXPECT_TRUE(lines[3].contains(" - 0000 7A ")) << lines[3].toStdString();
}

TEST(LuPComTrafficLog, FailedOpenStillLogsErrorAndClose) {
    QTemporaryDir dir;
    const QString log = dir.filePath("com.log");
    Settings().SetVal("com9", "/nonexistent/tty");
    {
        TLuPCom com;
        com.SetPort(9);
        com.SetLogFile(log);
        com.SetLogEnabled(true);
        EXPECT_THROW(com.Open(), TLuPComError);
    }
    Settings().Remove("com9");
    const QStringList lines = LogLines(log);
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(lines[0], "TLuPCom(9) error -5 into Open: No such port or port has opened");
    EXPECT_TRUE(lines[1].startsWith("*** COM9 closed at "));
}

TEST(LuPComTrafficLog, FirstIdleTickTrimsTheLog) {
    QTemporaryDir dir;
    const QString log = dir.filePath("com.log");
    WriteTextFile(log, QString("old traffic line\r\n").repeated(5000), true);
    TOpenPort p(log);
    p.com.SetMaxLogSize(20000);
    QThread::msleep(1100);
    p.com.IdleTick();
    EXPECT_LT(FileSizeOf(log), 21000);
    EXPECT_GT(FileSizeOf(log), 19000);
}
