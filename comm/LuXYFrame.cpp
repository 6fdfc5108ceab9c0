#include "LuXYFrame.h"

#include "LuCRC.h"
#include "LuUtils.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <cstring>

using namespace XYControl;

namespace {

constexpr int CrcPolynomial = 0x11021;

quint16 BlockCrc(const void *data, int size) {
    return Crc16(data, size, CrcPolynomial, 0);
}

// The name a YModem header may create inside the target folder: folders are stripped, but a name
// that tries to climb out of the folder or start from the root is refused outright.
bool SafeHeaderName(const QString &raw, QString &name) {
    static const QRegularExpression climbs(QStringLiteral("(^|[/\\\\])\\.\\.([/\\\\]|$)"));
    static const QRegularExpression rooted(QStringLiteral("^([/\\\\]|[A-Za-z]:)"));
    if (climbs.match(raw).hasMatch() || rooted.match(raw).hasMatch())
        return false;
    name = raw.mid(std::max(raw.lastIndexOf(u'/'), raw.lastIndexOf(u'\\')) + 1);
    return !name.isEmpty() && name != u"." && name != u"..";
}

// The bytes before the first zero byte, or all of them when there is none.
QByteArray UpToZero(const QByteArray &bytes) {
    const qsizetype end = bytes.indexOf('\0');
    return end < 0 ? bytes : bytes.first(end);
}

} // namespace

QByteArray XYFrame(int number, const void *payload, int dLen) {
    const int size = dLen <= 128 ? 128 : 1024;
    QByteArray frame(3 + size + 2, '\0');
    frame[0] = size == 128 ? SOH : STX;
    frame[1] = char(number & 0xFF);
    frame[2] = char(255 - (number & 0xFF));
    if (dLen > 0)
        memcpy(frame.data() + 3, payload, size_t(dLen));
    const quint16 crc = BlockCrc(frame.constData() + 3, size);
    frame[3 + size] = char(crc >> 8);
    frame[4 + size] = char(crc & 0xFF);
    return frame;
}

TXYFrameDecoder::TXYFrameDecoder(void *data, int capacity)
    : fdata(static_cast<char *>(data)), fcapacity(capacity) {}

int TXYFrameDecoder::Needed() const {
    static const int fixed[] = {1, 2, 0, 2};
    return fstage == 2 ? fsize : fixed[fstage];
}

char *TXYFrameDecoder::Into() {
    return fstage == 2 ? fdata : fbytes;
}

TXYFrameStep TXYFrameDecoder::Took() {
    switch (fstage) {
    case 0:
        if (fbytes[0] == SOH || fbytes[0] == STX) {
            fsize = fbytes[0] == SOH ? 128 : 1024;
            if (fsize > fcapacity)
                return xfsOverflow;
            fstage = 1;
            return xfsMore;
        }
        return fbytes[0] == EOT || fbytes[0] == CAN || fbytes[0] == SUB ? xfsControl : xfsNoise;
    case 1:
        fnumber = quint8(fbytes[0]);
        fcomplement = quint8(fbytes[1]);
        fstage = 2;
        return xfsMore;
    case 2:
        fstage = 3;
        return xfsMore;
    default: {
        fstage = 0;
        const quint16 crc = quint16(quint8(fbytes[0]) << 8 | quint8(fbytes[1]));
        // A number and complement that disagree make the frame as damaged as a bad CRC.
        return crc == BlockCrc(fdata, fsize) && fcomplement == 255 - fnumber ? xfsFrame : xfsBadFrame;
    }
    }
}

void TXYAnswerReader::Start(bool draining) {
    fdraining = draining;
    flastWasCan = false;
}

TXYAnswer TXYAnswerReader::Take(char byte) {
    const bool secondCan = byte == CAN && flastWasCan;
    flastWasCan = byte == CAN;
    if (fdraining)
        return secondCan ? xaCancel : xaNone;
    switch (byte) {
    case ACK:
        return xaAck;
    case NAK:
        return xaNak;
    case CAN:
        return xaCancel;
    default:
        return xaNoise;
    }
}

QByteArray YModemHeader(const QString &fileName, qint64 size) {
    QByteArray header(128, '\0');
    if (!fileName.isEmpty()) {
        const QByteArray text = ToAnsiText(QFileInfo(fileName).fileName()) + '\0' + QByteArray::number(size);
        memcpy(header.data(), text.constData(), size_t(std::min<qsizetype>(text.size(), 128)));
    }
    return header;
}

int ParseYModemHeader(const QByteArray &block, QString &name, qint64 &size) {
    const QByteArray rawName = UpToZero(block);
    if (rawName.isEmpty())
        return xmLastFile;
    if (!SafeHeaderName(FromAnsiText(rawName), name))
        return xmBadFileName;
    // lrzsz follows the size with a blank and more fields. A size too big for any file counts as none.
    const QByteArray rest = block.mid(rawName.size() + 1);
    qsizetype digits = 0;
    while (digits < rest.size() && rest[digits] >= '0' && rest[digits] <= '9')
        ++digits;
    bool fits = false;
    size = rest.first(digits).toLongLong(&fits);
    if (!fits)
        size = 0;
    return xmOK;
}
