// The wire rules fed from memory: frames and damaged frames through the decoder, the sender's reading
// of answers while a frame drains and afterwards, and the YModem header.
#include "LuXYFrame.h"
#include "xmodem_frame.h"

#include <gtest/gtest.h>
#include <vector>

using namespace XYControl;

namespace {

// Hands `bytes` to the decoder in the amounts it asks for, as ReadBlock does; the steps it reported.
std::vector<TXYFrameStep> Feed(TXYFrameDecoder &decoder, const QByteArray &bytes) {
    std::vector<TXYFrameStep> steps;
    for (qsizetype pos = 0; pos + decoder.Needed() <= bytes.size();) {
        const int n = decoder.Needed();
        memcpy(decoder.Into(), bytes.constData() + pos, size_t(n));
        pos += n;
        steps.push_back(decoder.Took());
        if (steps.back() == xfsOverflow)
            break;
    }
    return steps;
}

QByteArray Payload(int size, int seed) {
    QByteArray data(size, '\0');
    for (int i = 0; i < size; ++i)
        data[i] = char((i * 31 + seed * 7) ^ (i >> 3));
    return data;
}

int Count(const std::vector<TXYFrameStep> &steps, TXYFrameStep step) {
    return int(std::count(steps.begin(), steps.end(), step));
}

} // namespace

TEST(XYFrameDecoder, WholeFramesComeOutWithTheirNumberAndData) {
    char buffer[1024];
    for (const int size : {128, 1024}) {
        TXYFrameDecoder decoder(buffer, sizeof buffer);
        const QByteArray payload = Payload(size - 5, size);
        const auto steps = Feed(decoder, XModemFrame(200, payload, size));
        ASSERT_EQ(steps.back(), xfsFrame) << size;
        EXPECT_EQ(Count(steps, xfsMore), 3);
        EXPECT_EQ(decoder.Number(), 200);
        EXPECT_EQ(decoder.Size(), size);
        EXPECT_EQ(QByteArray(buffer, size), payload.leftJustified(size, '\0'));
        EXPECT_FALSE(decoder.InFrame());
    }
}

TEST(XYFrameDecoder, OurFramesMatchAnIndependentBuilder) {
    for (const int length : {0, 1, 100, 128, 129, 1024}) {
        const QByteArray payload = Payload(length, length);
        EXPECT_EQ(XYFrame(7, payload.constData(), length), XModemFrame(7, payload, length <= 128 ? 128 : 1024))
            << length;
    }
}

// No single damaged byte may let a frame through with other content: the number and complement
// guard each other, the CRC guards the data and itself, and a damaged header starts no frame there.
TEST(XYFrameDecoder, EverySingleDamagedByteIsCaught) {
    const QByteArray payload = Payload(128, 3);
    const QByteArray good = XModemFrame(5, payload, 128);
    char buffer[1024];
    for (int pos = 0; pos < good.size(); ++pos)
        for (const int mask : {0x01, 0x05, 0x80, 0xFF}) {
            QByteArray damaged = good;
            damaged[pos] = char(damaged[pos] ^ mask);
            TXYFrameDecoder decoder(buffer, sizeof buffer);
            const auto steps = Feed(decoder, damaged);
            const bool accepted = !steps.empty() && steps.back() == xfsFrame;
            EXPECT_FALSE(accepted && (decoder.Number() != 5 || QByteArray(buffer, 128) != payload))
                << "byte " << pos << " mask " << mask;
            if (pos > 0) {
                EXPECT_EQ(steps.back(), xfsBadFrame) << "byte " << pos << " mask " << mask;
            }
        }
}

TEST(XYFrameDecoder, BytesBetweenFramesAreNoiseOrControlAndBigBlocksOverflow) {
    char buffer[1024];
    TXYFrameDecoder decoder(buffer, 128);
    const auto steps = Feed(decoder, QByteArray("x\x7f") + EOT + CAN + SUB + 'C');
    EXPECT_EQ(steps, (std::vector<TXYFrameStep>{xfsNoise, xfsNoise, xfsControl, xfsControl, xfsControl, xfsNoise}));
    Feed(decoder, QByteArray(1, SUB));
    EXPECT_EQ(decoder.Control(), SUB);

    EXPECT_EQ(Feed(decoder, XModemFrame(1, "big", 1024)), std::vector<TXYFrameStep>{xfsOverflow});

    // A frame dropped half way leaves the decoder waiting for a header again.
    TXYFrameDecoder fresh(buffer, sizeof buffer);
    Feed(fresh, XModemFrame(1, "cut", 128).left(40));
    EXPECT_TRUE(fresh.InFrame());
    fresh.Restart();
    EXPECT_EQ(Feed(fresh, XModemFrame(2, "next", 128)).back(), xfsFrame);
    EXPECT_EQ(fresh.Number(), 2);
}

TEST(XYAnswerReader, WhileDrainingOnlyAPairOfCansCounts) {
    TXYAnswerReader ear;
    ear.StartDrain();
    EXPECT_EQ(ear.Take(ACK), xaNone);
    EXPECT_EQ(ear.Take(NAK), xaNone);
    EXPECT_EQ(ear.Take(CAN), xaNone);
    EXPECT_EQ(ear.Take('x'), xaNone);
    EXPECT_EQ(ear.Take(CAN), xaNone);
    EXPECT_EQ(ear.Take(CAN), xaCancel);

    // A CAN heard while draining is not taken up again once the wait for the answer begins.
    ear.StartDrain();
    EXPECT_EQ(ear.Take(CAN), xaNone);
    ear.StartWait();
    EXPECT_EQ(ear.Take('x'), xaNoise);
    EXPECT_EQ(ear.Take(ACK), xaAck);
}

TEST(XYAnswerReader, AfterTheFrameOneByteAnswers) {
    TXYAnswerReader ear;
    ear.StartWait();
    EXPECT_EQ(ear.Take(NAK), xaNak);
    EXPECT_EQ(ear.Take('C'), xaNoise);
    EXPECT_EQ(ear.Take(CAN), xaCancel);
    ear.StartWait();
    EXPECT_EQ(ear.Take(ACK), xaAck);
}

TEST(YModemHeaderText, RoundTripsAndRefusesNamesThatLeaveTheFolder) {
    QString name;
    qint64 size = -1;
    const QByteArray header = YModemHeader(QStringLiteral("/some/folder/report.cfg"), 123456);
    ASSERT_EQ(header.size(), 128);
    EXPECT_TRUE(header.startsWith(QByteArray("report.cfg\0" "123456\0", 18)));
    EXPECT_EQ(ParseYModemHeader(header, name, size), xmOK);
    EXPECT_EQ(name, "report.cfg");
    EXPECT_EQ(size, 123456);

    EXPECT_EQ(YModemHeader(QString(), 5), QByteArray(128, '\0'));
    EXPECT_EQ(ParseYModemHeader(QByteArray(128, '\0'), name, size), xmLastFile);

    // lrzsz adds the modification time and mode after the size; a header may carry no size at all.
    EXPECT_EQ(ParseYModemHeader(QByteArray("deep/name.txt\0" "200 1234 644", 26), name, size), xmOK);
    EXPECT_EQ(name, "name.txt");
    EXPECT_EQ(size, 200);
    EXPECT_EQ(ParseYModemHeader(QByteArray("bare", 4), name, size), xmOK);
    EXPECT_EQ(size, 0);
    // Found by fuzzing: a size of seventy digits once came out negative.
    EXPECT_EQ(ParseYModemHeader(QByteArray("big\0", 4) + QByteArray(70, '6'), name, size), xmOK);
    EXPECT_EQ(size, 0);

    for (const char *hostile : {"../evil.bin", "/etc/evil.bin", "sub/../../evil.bin", "C:\\evil.bin", ".."})
        EXPECT_EQ(ParseYModemHeader(QByteArray(hostile) + '\0' + "5", name, size), xmBadFileName) << hostile;

    // A name too long for the block is cut: what is left still names a file.
    const QByteArray longHeader = YModemHeader(QString(200, u'n'), 77);
    EXPECT_EQ(longHeader.size(), 128);
    EXPECT_EQ(ParseYModemHeader(longHeader, name, size), xmOK);
    EXPECT_EQ(name, QString(128, u'n'));
}
