// Fuzz target for what an XModem/YModem receiver makes of the bytes it hears: the frame decoder that
// ReadBlock feeds from its port, and the YModem header parser. Checked on every input:
// - read as a byte stream, every frame the decoder accepts is a real frame of that stream: a size the
//   buffer holds, the number's complement after it, the data copied as it came, its CRC after it;
// - a frame built from the input comes back whole, and with one of its bytes damaged (position and
//   mask from the input) it is refused, unless the damage hit the header (the decoder may then find
//   another real frame in what follows, which the first check covers);
// - a header that parses names a file inside the target folder; one built from a plain name and size
//   parses back to them.
#include "LuCRC.h"
#include "LuXYFrame.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

void Check(bool ok) {
    if (!ok)
        std::abort();
}

// Feeds bytes[from, end) as ReadBlock does; checks every accepted frame against the stream. Returns the
// number of frames accepted and the start of the last one.
int DecodeStream(const uint8_t *bytes, size_t from, size_t end, int capacity, size_t &lastStart) {
    static char buffer[1024];
    TXYFrameDecoder decoder(buffer, capacity);
    int frames = 0;
    size_t frameStart = 0;
    for (size_t pos = from; pos + size_t(decoder.Needed()) <= end;) {
        const bool header = !decoder.InFrame();
        const int n = decoder.Needed();
        memcpy(decoder.Into(), bytes + pos, size_t(n));
        if (header)
            frameStart = pos;
        pos += size_t(n);
        const TXYFrameStep step = decoder.Took();
        if (step == xfsOverflow)
            return frames;
        if (step != xfsFrame)
            continue;
        const int size = decoder.Size();
        const uint8_t *frame = bytes + frameStart;
        Check(size == 128 || size == 1024);
        Check(size <= capacity);
        Check(frame[0] == (size == 128 ? 1 : 2));
        Check(decoder.Number() == frame[1] && frame[1] + frame[2] == 255);
        Check(memcmp(buffer, frame + 3, size_t(size)) == 0);
        const quint16 crc = Crc16(frame + 3, size, 0x11021, 0);
        Check(frame[3 + size] == crc >> 8 && frame[4 + size] == (crc & 0xFF));
        lastStart = frameStart;
        ++frames;
    }
    return frames;
}

void CheckBuiltFrame(const uint8_t *data, size_t size) {
    if (size < 3)
        return;
    const int number = data[0];
    const size_t damageAt = data[1];
    const uint8_t mask = data[2];
    const int length = int(std::min<size_t>(size - 3, 1024));
    const QByteArray frame = XYFrame(number, data + 3, length);
    const auto *bytes = reinterpret_cast<const uint8_t *>(frame.constData());
    size_t start = 1;
    Check(DecodeStream(bytes, 0, size_t(frame.size()), 1024, start) == 1 && start == 0);

    QByteArray damaged = frame;
    const size_t at = damageAt % size_t(frame.size());
    damaged[qsizetype(at)] = char(damaged[qsizetype(at)] ^ (mask | 1));
    const int accepted = DecodeStream(reinterpret_cast<const uint8_t *>(damaged.constData()), 0,
                                      size_t(damaged.size()), 1024, start);
    Check(at == 0 || accepted == 0);
}

bool SafeName(const QString &name) {
    return !name.isEmpty() && !name.contains(u'/') && !name.contains(u'\\') && name != u"." && name != u"..";
}

void CheckHeader(const uint8_t *data, size_t size) {
    const QByteArray block(reinterpret_cast<const char *>(data), qsizetype(std::min<size_t>(size, 128)));
    QString name;
    qint64 declared = -1;
    if (ParseYModemHeader(block, name, declared) == xmOK)
        Check(SafeName(name) && declared >= 0);

    // A plain name from the input's letters, and a size from its first bytes.
    static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789._-";
    QString plain;
    for (size_t i = 0; i < std::min<size_t>(size, 60); ++i)
        plain += QLatin1Char(letters[data[i] % (sizeof letters - 1)]);
    qint64 wanted = 0;
    for (size_t i = 0; i < std::min<size_t>(size, 6); ++i)
        wanted = wanted * 256 + data[i];
    if (!SafeName(plain))
        return;
    QString back;
    qint64 backSize = -1;
    Check(ParseYModemHeader(YModemHeader(plain, wanted), back, backSize) == xmOK);
    Check(back == plain && backSize == wanted);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0)
        return 0;
    size_t start = 0;
    DecodeStream(data, 1, size, data[0] & 1 ? 1024 : 128, start);
    CheckBuiltFrame(data, size);
    CheckHeader(data, size);
    return 0;
}
