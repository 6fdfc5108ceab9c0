#include "DevSimLoader.h"

#include "LuCRC.h"

#include <QFile>
#include <cstdio>
#include <utility>

using namespace std::chrono_literals;

namespace {

constexpr char SOH = 0x01;
constexpr char STX = 0x02;
constexpr char EOT = 0x04;
constexpr char ACK = 0x06;
constexpr char NAK = 0x15;
constexpr char CAN = 0x18;
const QByteArray CancelBytes(2, CAN);

constexpr auto BootTime = 200ms; // from the reboot answer to the first "C"
constexpr auto InviteInterval = 1000ms;
constexpr auto LeaveTime = 300ms;  // from the end of the transfer to the device being back
constexpr auto FrameGap = 1000ms;  // a block that stalls this long is refused, the sender repeats it
constexpr auto IdleTime = 10000ms; // a sender that sends no block this long has gone
constexpr int MaxRefusedInRow = 10;

// Header, number, complement, data, CRC high and low byte.
int FrameSize(char header) {
    return (header == STX ? 1024 : 128) + 5;
}

} // namespace

TDevSimLoader::TDevSimLoader(const TDevSimOptions &options, TLog log)
    : fOptions(options), fLog(std::move(log)) {}

void TDevSimLoader::Start(TSimTime bootAt) {
    fState = lsBooting;
    fDeadline = bootAt + BootTime;
    fInvitations = 0;
    fFrame.clear();
    fImage.clear();
    fLastNumber = 0;
    fBlocks = 0;
    fRefusedInRow = 0;
    fNakDone = false;
    fLastWasCan = false;
    fReceived = false;
}

QByteArray TDevSimLoader::Feed(const QByteArray &bytes, TSimTime now) {
    QByteArray answer;
    for (const char byte : bytes) {
        if (fState != lsInviting && fState != lsReceiving)
            break;
        answer += TakeByte(byte, now);
    }
    return answer;
}

QByteArray TDevSimLoader::Tick(TSimTime now) {
    if (now < fDeadline)
        return QByteArray();
    switch (fState) {
    case lsBooting:
        return Boot(now);
    case lsInviting:
        return Invite(now);
    case lsReceiving:
        return fFrame.isEmpty() ? Abort(QStringLiteral("the sender has gone"), now)
                                : RefuseFrame(QStringLiteral("block stalled"), now);
    case lsSilent:
    case lsLeaving:
    case lsDone:
        fState = lsDone;
        break;
    }
    return QByteArray();
}

QByteArray TDevSimLoader::Boot(TSimTime now) {
    if (fOptions.fLoaderFault != dslSilent)
        return Invite(now);
    fLog(QStringLiteral("loader: silent for %1 ms").arg(fOptions.fLoaderSilentMs));
    fState = lsSilent;
    fDeadline = now + std::chrono::milliseconds(fOptions.fLoaderSilentMs);
    return QByteArray();
}

QByteArray TDevSimLoader::Invite(TSimTime now) {
    if (fInvitations == fOptions.fLoaderAttempts) {
        fLog(QStringLiteral("loader: no transfer"));
        Leave(now);
        return QByteArray();
    }
    fState = lsInviting;
    ++fInvitations;
    fDeadline = now + InviteInterval;
    return QByteArrayLiteral("C");
}

QByteArray TDevSimLoader::TakeByte(char byte, TSimTime now) {
    if (fFrame.isEmpty())
        return TakeControl(byte, now);
    fFrame += byte;
    fDeadline = now + FrameGap;
    return fFrame.size() == FrameSize(fFrame[0]) ? CheckFrame(now) : QByteArray();
}

// Between blocks only the start of a block, EOT and a double CAN mean something; line noise is skipped.
QByteArray TDevSimLoader::TakeControl(char byte, TSimTime now) {
    const bool secondCan = byte == CAN && fLastWasCan;
    fLastWasCan = byte == CAN;
    if (byte == SOH || byte == STX) {
        fState = lsReceiving;
        fFrame = QByteArray(1, byte);
        fDeadline = now + FrameGap;
    } else if (byte == EOT)
        return Finish(now);
    else if (secondCan) {
        fLog(QStringLiteral("loader: cancelled by the sender"));
        Leave(now);
    }
    return QByteArray();
}

QByteArray TDevSimLoader::CheckFrame(TSimTime now) {
    const int size = fFrame.size() - 5;
    const auto number = quint8(fFrame[1]);
    const auto complement = quint8(fFrame[2]);
    const QByteArray data = fFrame.mid(3, size);
    const quint16 crc = quint16(quint8(fFrame[3 + size]) << 8 | quint8(fFrame[4 + size]));
    fFrame.clear();
    fDeadline = now + IdleTime;
    if (quint8(number + complement) != 0xFF)
        return RefuseFrame(QStringLiteral("bad block number complement"), now);
    if (crc != Crc16(data.constData(), size, 0x1021, 0))
        return RefuseFrame(QStringLiteral("CRC error in block %1").arg(number), now);
    fRefusedInRow = 0;
    // The sender repeats a block whose ACK it missed: acknowledge it again, keep the first copy.
    if (number == fLastNumber) {
        fLog(QStringLiteral("loader: block %1 repeated").arg(number));
        return QByteArray(1, ACK);
    }
    if (number != quint8(fLastNumber + 1))
        return Abort(QStringLiteral("block %1 out of sequence").arg(number), now);
    if (fOptions.fLoaderFault == dslCancel)
        return Abort(QStringLiteral("cancelling as asked"), now);
    return AcceptBlock(number, data);
}

QByteArray TDevSimLoader::AcceptBlock(quint8 number, const QByteArray &data) {
    if (fOptions.fLoaderFault == dslNak && fBlocks + 1 == fOptions.fLoaderNakBlock && !fNakDone) {
        fNakDone = true;
        fLog(QStringLiteral("loader: refusing block %1 once as asked").arg(number));
        return QByteArray(1, NAK);
    }
    fImage += data;
    fLastNumber = number;
    ++fBlocks;
    return QByteArray(1, ACK);
}

QByteArray TDevSimLoader::RefuseFrame(const QString &why, TSimTime now) {
    fFrame.clear();
    if (++fRefusedInRow == MaxRefusedInRow)
        return Abort(why + QStringLiteral(", too many errors"), now);
    fLog(QStringLiteral("loader: ") + why);
    fDeadline = now + IdleTime;
    return QByteArray(1, NAK);
}

QByteArray TDevSimLoader::Finish(TSimTime now) {
    fLog(QStringLiteral("loader: received %1 bytes in %2 blocks").arg(fImage.size()).arg(fBlocks));
    WriteImage();
    fReceived = true;
    Leave(now);
    return QByteArray(1, ACK);
}

QByteArray TDevSimLoader::Abort(const QString &why, TSimTime now) {
    fLog(QStringLiteral("loader: ") + why);
    Leave(now);
    return CancelBytes;
}

void TDevSimLoader::Leave(TSimTime now) {
    fState = lsLeaving;
    fFrame.clear();
    fDeadline = now + LeaveTime;
}

void TDevSimLoader::WriteImage() const {
    if (fOptions.fFirmwareOut.isEmpty())
        return;
    QFile file(fOptions.fFirmwareOut);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(fImage) != fImage.size())
        std::fprintf(stderr, "veltra_devsim: cannot write the firmware image to %s\n",
                     qPrintable(fOptions.fFirmwareOut));
}
