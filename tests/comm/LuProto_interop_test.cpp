// Transfers checked against lrzsz, an independent implementation, in both directions.
#include "xmodem_fixture.h"

namespace {

const int Sizes[] = {0, 1, 127, 128, 129, 1024, 1025, 100 * 1024 + 17};

// XModem has no length: the receiver keeps the sender's padding up to the block size.
void ExpectPadded(const QByteArray &got, const QByteArray &sent, int blockSize, char pad) {
    ASSERT_GE(got.size(), sent.size());
    EXPECT_EQ(got.left(sent.size()), sent);
    EXPECT_LT(got.size() - sent.size(), blockSize);
    EXPECT_EQ(got.mid(sent.size()), QByteArray(got.size() - sent.size(), pad));
}

} // namespace

// Each case runs on a fresh line: lrzsz leaves bytes behind when it gives up, and a stale byte must
// not be mistaken for the next transfer's start.
class XModemInterop : public XModemPeerTest, public ::testing::WithParamInterface<int> {};
class XModemInterop1K : public XModemPeerTest, public ::testing::WithParamInterface<int> {};

TEST_P(XModemInterop, SendToRx) {
    const QByteArray data = WriteRandomFile(Path("out.bin"), GetParam(), 7);
    QProcess rx;
    if (!StartPeer(rx, "rx", {"-c", "in.bin"}))
        GTEST_SKIP() << "lrzsz is not installed";
    EXPECT_EQ(modem.SendFile(Path("out.bin"), false), xmOK);
    FinishPeer(rx);
    EXPECT_EQ(rx.exitCode(), 0) << rx.readAllStandardError().constData();
    // rx drops trailing ^Z padding only; ours is zeros, which it keeps.
    ExpectPadded(ReadAll(Path("in.bin")), data, 128, '\0');
}

TEST_P(XModemInterop1K, SendToRx) {
    const QByteArray data = WriteRandomFile(Path("out.bin"), GetParam(), 8);
    modem.SetBlockSize(1024);
    QProcess rx;
    if (!StartPeer(rx, "rx", {"-c", "in.bin"}))
        GTEST_SKIP() << "lrzsz is not installed";
    EXPECT_EQ(modem.SendFile(Path("out.bin"), false), xmOK);
    FinishPeer(rx);
    ExpectPadded(ReadAll(Path("in.bin")), data, 1024, '\0');
}

TEST_P(XModemInterop, ReceiveFromSx128And1K) {
    for (const bool oneK : {false, true}) {
        const QByteArray data = WriteRandomFile(Path("out.bin"), GetParam(), 9);
        QProcess sx;
        if (!StartPeer(sx, "sx", oneK ? QStringList{"-k", "out.bin"} : QStringList{"out.bin"}))
            GTEST_SKIP() << "lrzsz is not installed";
        QFile::remove(Path("in.bin"));
        EXPECT_EQ(modem.ReadFile(Path("in.bin"), false), xmEndOfText);
        FinishPeer(sx);
        ExpectPadded(ReadAll(Path("in.bin")), data, oneK ? 1024 : 128, 0x1A);
    }
}

TEST_P(XModemInterop, YModemBothWays) {
    const QByteArray data = WriteRandomFile(Path("y.bin"), GetParam(), 11);
    QDir(dir.path()).mkdir("to_rb");
    QDir(dir.path()).mkdir("from_sb");
    QProcess rb;
    if (!StartPeer(rb, "rb", {"-q"}, Path("to_rb")))
        GTEST_SKIP() << "lrzsz is not installed";
    modem.SetBlockSize(1024);
    EXPECT_EQ(modem.SendFiles({Path("y.bin")}), xmOK);
    FinishPeer(rb);
    EXPECT_EQ(ReadAll(Path("to_rb/y.bin")), data);

    QProcess sb;
    ASSERT_TRUE(StartPeer(sb, "sb", {"-q", "y.bin"}));
    EXPECT_EQ(modem.ReadFile(Path("from_sb/any"), true), xmOK);
    EXPECT_EQ(modem.FileName(), Path("from_sb/y.bin"));
    // sb ends its batch with an empty header; reading one file leaves that for a batch read.
    EXPECT_EQ(modem.ReadFiles(Path("from_sb")), xmLastFile);
    FinishPeer(sb);
    EXPECT_EQ(ReadAll(Path("from_sb/y.bin")), data);
}

INSTANTIATE_TEST_SUITE_P(Sizes, XModemInterop, ::testing::ValuesIn(Sizes));
INSTANTIATE_TEST_SUITE_P(Sizes, XModemInterop1K, ::testing::Values(129, 1025, 100 * 1024 + 17));

TEST_F(XModemPeerTest, YModemBatchBothWays) {
    const QByteArray a = WriteRandomFile(Path("a.bin"), 3000, 1);
    const QByteArray b = WriteRandomFile(Path("b.txt"), 0, 2);
    const QByteArray c = WriteRandomFile(Path("c.dat"), 70000, 3);
    QDir(dir.path()).mkdir("got");
    QProcess sb;
    if (!StartPeer(sb, "sb", {"-q", "a.bin", "b.txt", "c.dat"}))
        GTEST_SKIP() << "lrzsz is not installed";
    EXPECT_EQ(modem.ReadFiles(Path("got")), xmLastFile);
    FinishPeer(sb);
    EXPECT_EQ(modem.FileName().split('\r').size(), 3);
    EXPECT_EQ(ReadAll(Path("got/a.bin")), a);
    EXPECT_EQ(ReadAll(Path("got/b.txt")), b);
    EXPECT_EQ(ReadAll(Path("got/c.dat")), c);

    QProcess rb;
    QDir(dir.path()).mkdir("back");
    ASSERT_TRUE(StartPeer(rb, "rb", {"-q"}, Path("back")));
    modem.SetBlockSize(1024);
    EXPECT_EQ(modem.SendFiles({Path("a.bin"), Path("b.txt"), Path("c.dat")}), xmOK);
    FinishPeer(rb);
    for (const char *name : {"a.bin", "b.txt", "c.dat"})
        EXPECT_EQ(ReadAll(Path(QString("back/") + name)), ReadAll(Path(name))) << name;
}
