// veltra_cli's plain transfers against lrzsz, an independent implementation, on a bridged terminal; and
// the firmware upload to a loader that never invites, which takes the real ten-second wait.
#include "cli_process.h"
#include "comm/xmodem_fixture.h"
#include "devsim_process.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

constexpr int Port = 45;

class VeltraCliTransfer : public ::testing::Test {
protected:
    TPtyBridge line{Port};
    QTemporaryDir dir;

    void SetUp() override {
        ASSERT_TRUE(line.Ok());
        for (const char *folder : {"rx", "sx", "rb", "sb", "got"})
            QDir(dir.path()).mkdir(folder);
        if (QStandardPaths::findExecutable(QStringLiteral("sx")).isEmpty())
            GTEST_SKIP() << "lrzsz is not installed";
    }
    QString Path(const QString &name) const { return dir.filePath(name); }
    // lrzsz refuses absolute names for what it writes: it runs in a folder of the test's with relative ones.
    void StartPeer(QProcess &peer, const QString &program, const QStringList &args, const QString &folder) {
        peer.setWorkingDirectory(Path(folder));
        line.StartPeer(peer, program, args);
        ASSERT_TRUE(peer.waitForStarted(5000));
    }
    TCliResult Run(const QStringList &words, const QStringList &settings = {}) {
        return RunCli(dir.path(), Port, line.PortPath(), words, settings, 40000);
    }
};

} // namespace

TEST_F(VeltraCliTransfer, XSendToRx) {
    const QByteArray data = WriteRandomFile(Path("out.bin"), 1000, 21);
    QProcess rx;
    StartPeer(rx, "rx", {"-c", "in.bin"}, "rx");
    const TCliResult r = Run({"xsend", "out.bin"});
    FinishPeer(rx);
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.endsWith("Sent " + Path("out.bin") + " (1000 bytes)\n")) << r.out.toStdString();
    const QByteArray got = ReadAll(Path("rx/in.bin"));
    ASSERT_EQ(got.size(), 1024);
    EXPECT_EQ(got.left(1000), data);
    EXPECT_EQ(got.mid(1000), QByteArray(24, '\0'));
}

TEST_F(VeltraCliTransfer, XRecvFromSx) {
    const QByteArray data = WriteRandomFile(Path("sx/out.bin"), 3000, 22);
    QProcess sx;
    StartPeer(sx, "sx", {"out.bin"}, "sx");
    const TCliResult r = Run({"xrecv", "got/in.bin"}, {"invite_delay=0"});
    FinishPeer(sx);
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.endsWith("Received " + Path("got/in.bin") + " (3072 bytes)\n")) << r.out.toStdString();
    // sx pads its last block with ^Z.
    const QByteArray got = ReadAll(Path("got/in.bin"));
    EXPECT_EQ(got.left(3000), data);
    EXPECT_EQ(got.mid(3000), QByteArray(72, 0x1A));
}

// A YModem file goes as a batch of one, closed by the empty header the receiver waits for.
TEST_F(VeltraCliTransfer, YModemSendToRb) {
    const QByteArray data = WriteRandomFile(Path("y.bin"), 5000, 23);
    QProcess rb;
    StartPeer(rb, "rb", {"-q"}, "rb");
    const TCliResult r = Run({"xsend", "--ymodem", "y.bin"});
    FinishPeer(rb);
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(rb.exitCode(), 0);
    EXPECT_EQ(ReadAll(Path("rb/y.bin")), data);
}

TEST_F(VeltraCliTransfer, YRecvBatchFromSb) {
    const QByteArray a = WriteRandomFile(Path("sb/a.bin"), 3000, 24);
    const QByteArray c = WriteRandomFile(Path("sb/c.dat"), 1500, 25);
    QProcess sb;
    StartPeer(sb, "sb", {"-q", "a.bin", "c.dat"}, "sb");
    const TCliResult r = Run({"yrecv", "got"}, {"invite_delay=0"});
    FinishPeer(sb);
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.endsWith("Received " + Path("got/a.bin") + " (3000 bytes)\nReceived " +
                               Path("got/c.dat") + " (1500 bytes)\n"))
        << r.out.toStdString();
    EXPECT_EQ(ReadAll(Path("got/a.bin")), a);
    EXPECT_EQ(ReadAll(Path("got/c.dat")), c);
}

// Ctrl-C while the receiver still invites: the transfer ends at once with the user's cancel.
TEST_F(VeltraCliTransfer, XRecvInterruptedByTheUser) {
    TCliProcess cli(dir.path(), Port, line.PortPath(), {"xrecv", "in.bin"}, {"invite_delay=0"});
    ASSERT_TRUE(cli.WaitForOutput("Send RxR\n", 5000));
    cli.Interrupt();
    const TCliResult r = cli.Finish(5000);
    EXPECT_EQ(r.exitCode, 4);
    EXPECT_EQ(r.err, "Transfer failed: User cancel\n");
    EXPECT_LT(r.elapsedMs, 3000);
}

TEST(VeltraCliFirmware, SilentLoaderTimesOut) {
    QTemporaryDir dir;
    TDevSimProcess sim({"--loader-fault", "silent"});
    WriteRandomFile(dir.filePath("image.bin"), 300, 26);
    const TCliResult r = RunCli(dir.path(), 7, sim.SlavePath(), {"firmware", "image.bin"}, {}, 30000);
    EXPECT_EQ(r.exitCode, 4);
    EXPECT_EQ(r.err, "Ошибка при передаче прошивки в устройство [Timeout].\n");
    EXPECT_GE(r.elapsedMs, 10000);
}
