// Our sender into our receiver over a line that damages bytes: one chosen byte at a time (every kind
// of byte the protocol has), and a share of all bytes from a fixed seed. Each transfer must arrive
// whole and be reported as such, in about the time the recovery waits promise.
#include "xmodem_fixture.h"

#include <QElapsedTimer>
#include <QThread>
#include <tuple>

namespace {

constexpr int SenderPort = 45, ReceiverPort = 46;

// A sender and a receiver joined by a simulated line.
class TModemPair {
public:
    explicit TModemPair(TLineSetup setup) : fline(SenderPort, ReceiverPort, std::move(setup)) {
        for (auto [com, modem, port] : {std::tuple{&fsenderCom, &fsender, SenderPort},
                                        std::tuple{&freceiverCom, &freceiver, ReceiverPort}}) {
            com->SetPort(port);
            com->SetBaudRate(115200);
            com->SetFlowCtrl(fcNone);
            com->Open();
            modem->SetComPort(com);
            modem->SetFirstInviteDelay(0);
        }
    }

    // Waits until both sides are done; false when either is still busy after `ms`.
    bool Finish(int ms) {
        QElapsedTimer t;
        t.start();
        while (fsender.Status() != lupsReady || freceiver.Status() != lupsReady) {
            if (t.elapsed() > ms)
                return false;
            QThread::msleep(10);
        }
        return true;
    }

    TPtyBridge fline;
    TLuPCom fsenderCom, freceiverCom;
    TLuXYModem fsender, freceiver;
};

struct TFault {
    const char *name;
    TLineDirection direction;
    std::int64_t index;
    std::uint8_t mask; // 0: the byte is lost
};

std::ostream &operator<<(std::ostream &out, const TFault &f) {
    return out << f.name;
}

// Three 128-byte blocks, then EOT. From the sender: block n's frame starts at 133 * (n - 1), the EOT
// is byte 399. From the receiver: "C", the ACKs of blocks 1 to 3, the NAK that asks for the EOT again,
// the ACK of the EOT.
constexpr int Block2 = 133;
const TFault Faults[] = {
    {"HeaderReadsAsEot", ldFromPort, Block2, 0x05},
    {"HeaderLost", ldFromPort, Block2, 0},
    {"BlockNumberDamaged", ldFromPort, Block2 + 1, 0x01},
    {"ComplementLost", ldFromPort, Block2 + 2, 0},
    {"DataDamaged", ldFromPort, Block2 + 3 + 60, 0x10},
    {"DataLost", ldFromPort, Block2 + 3 + 60, 0},
    {"CrcDamaged", ldFromPort, Block2 + 131, 0x80},
    {"AckDamaged", ldToPort, 2, 0x01},
    {"AckReadsAsNak", ldToPort, 2, 0x13},
    {"AckLost", ldToPort, 2, 0},
    {"NakDamaged", ldToPort, 4, 0x40},
    {"NakLost", ldToPort, 4, 0},
    {"EotDamaged", ldFromPort, 399, 0x01},
    {"EotLost", ldFromPort, 399, 0},
};

// The longest single recovery is the receiver's quiet second, twice over for a lost EOT answer.
constexpr int RecoveryBoundMs = 6000;

} // namespace

class XModemOneBadByte : public ::testing::TestWithParam<TFault> {
protected:
    QTemporaryDir dir;
};

TEST_P(XModemOneBadByte, CostsARepeatNotTheFile) {
    const TFault &fault = GetParam();
    TLineSetup setup;
    setup.bytesPerSecond = LineRate115200;
    setup.faults[fault.direction] = {{fault.index, fault.mask}};
    TModemPair pair(setup);
    ASSERT_TRUE(pair.fline.Ok());
    const QByteArray data = WriteRandomFile(dir.filePath("out.bin"), 300, 21);
    ASSERT_EQ(pair.fsender.SendFileAsync(dir.filePath("out.bin"), false), xmOK);
    ASSERT_EQ(pair.freceiver.ReadFileAsync(dir.filePath("in.bin"), false), xmOK);
    ASSERT_TRUE(pair.Finish(RecoveryBoundMs));
    EXPECT_EQ(pair.fline.Spoiled(fault.direction), 1);
    EXPECT_EQ(pair.fsender.ErrorCode(), xmOK);
    EXPECT_EQ(pair.freceiver.ErrorCode(), xmEndOfText);
    EXPECT_EQ(ReadAll(dir.filePath("in.bin")), data + QByteArray(84, '\0'));
}

INSTANTIATE_TEST_SUITE_P(Faults, XModemOneBadByte, ::testing::ValuesIn(Faults),
                         [](const auto &info) { return std::string(info.param.name); });

// A share of the bytes damaged or lost in both directions, as on a long cable near an ignition.
TLineSetup NoisyLine(double flip, double drop, std::uint32_t seed) {
    TLineSetup setup;
    setup.bytesPerSecond = LineRate115200;
    setup.seed = seed;
    for (int d : {ldFromPort, ldToPort}) {
        setup.flip[d] = flip;
        setup.drop[d] = drop;
    }
    return setup;
}

TEST(XModemNoisyLine, FileArrivesWhole) {
    QTemporaryDir dir;
    TModemPair pair(NoisyLine(0.003, 0.0003, 1313));
    const QByteArray data = WriteRandomFile(dir.filePath("x.bin"), 20000, 22);
    ASSERT_EQ(pair.fsender.SendFileAsync(dir.filePath("x.bin"), false), xmOK);
    ASSERT_EQ(pair.freceiver.ReadFileAsync(dir.filePath("x_in.bin"), false), xmOK);
    ASSERT_TRUE(pair.Finish(60000));
    EXPECT_GT(pair.fline.Spoiled(ldFromPort), 20);
    EXPECT_EQ(pair.fsender.ErrorCode(), xmOK);
    EXPECT_EQ(pair.freceiver.ErrorCode(), xmEndOfText);
    EXPECT_EQ(ReadAll(dir.filePath("x_in.bin")), data.leftJustified(20096, '\0'));
}

// A 1029-byte frame survives this line only about half the time.
TEST(XModemNoisyLine, YModemBatchWith1KBlocksArrivesWhole) {
    QTemporaryDir dir;
    TModemPair pair(NoisyLine(0.0005, 0.0001, 1717));
    pair.fsender.SetBlockSize(1024);
    const QByteArray data = WriteRandomFile(dir.filePath("y.bin"), 30000, 23);
    QDir(dir.path()).mkdir("got");
    ASSERT_EQ(pair.fsender.SendFilesAsync({dir.filePath("y.bin")}), xmOK);
    ASSERT_EQ(pair.freceiver.ReadFilesAsync(dir.filePath("got")), xmOK);
    ASSERT_TRUE(pair.Finish(60000));
    EXPECT_GT(pair.fline.Spoiled(ldFromPort), 5);
    EXPECT_EQ(pair.fsender.ErrorCode(), xmOK);
    EXPECT_EQ(pair.freceiver.ErrorCode(), xmLastFile);
    EXPECT_EQ(ReadAll(dir.filePath("got/y.bin")), data);
}
