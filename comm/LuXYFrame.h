// The wire rules of XModem-CRC and YModem without a port or a clock: what the bytes a receiver hears
// amount to (TXYFrameDecoder), what a sender makes of the bytes that come back (TXYAnswerReader), and
// the YModem file header. TLuXYModem feeds them from its port and adds the waiting; tests and the fuzz
// target feed them from memory.
#pragma once

#include <QByteArray>
#include <QString>

namespace XYControl {
constexpr char SOH = 1, STX = 2, EOT = 4, ACK = 6, NAK = 21, CAN = 24, SUB = 26, CRC_INVITE = 'C';
}

// Result codes of every transfer operation: 0 or a positive byte count is success.
enum : int {
    xmOK = 0,
    xmTimeout = -1,
    xmInvalidBlockSize = -2,
    xmOutOfRetries = -3,
    xmInvalidMode = -4,
    xmBadFormat = -5,
    xmOverflow = -6,
    xmUnderflow = -7,
    xmCancel = -8,
    xmEndOfText = -9,
    xmEndOfFile = -10,
    xmUserCancel = -11,
    xmPortNotAssigned = -12,
    xmPortNotOpened = -13,
    xmThreadBusy = -14,
    xmLastFile = -15,
    xmBadFileName = -16,
    xmOutOfSequence = -17,
    xmFileOpenError = -20,
    xmFileReadError = -21,
    xmFileWriteError = -22,
};

// The frame a sender puts on the line for `dLen` payload bytes (at most 1024): header, number, complement,
// the payload padded with zeros to 128 or 1024 bytes, CRC-16 high byte first.
QByteArray XYFrame(int number, const void *payload, int dLen);

enum TXYFrameStep : quint8 {
    xfsMore,     // part of a frame; more bytes wanted
    xfsNoise,    // a byte between frames that means nothing
    xfsControl,  // EOT, CAN or SUB between frames (Control())
    xfsFrame,    // a whole frame whose complement and CRC check out
    xfsBadFrame, // a whole frame that does not
    xfsOverflow, // a header announcing a block larger than the buffer
};

// Takes a receiver's bytes in the amounts it asks for: one header byte, the number and its complement,
// the whole data field (straight into the caller's buffer), the two CRC bytes.
class TXYFrameDecoder {
public:
    TXYFrameDecoder(void *data, int capacity);

    int Needed() const;
    char *Into();
    TXYFrameStep Took();
    // Drops a frame under way and waits for a header again.
    void Restart() { fstage = 0; }
    bool InFrame() const { return fstage > 0; }
    int Size() const { return fsize; }
    int Number() const { return fnumber; }
    char Control() const { return fbytes[0]; }

private:
    char *fdata;
    int fcapacity;
    int fstage = 0; // 0 header, 1 number and complement, 2 data, 3 CRC
    int fsize = 0;
    int fnumber = 0;
    int fcomplement = 0;
    char fbytes[2] = {};
};

enum TXYAnswer : quint8 { xaNone, xaAck, xaNak, xaCancel, xaNoise };

// What a sender hears after a frame. While the frame is still going out nothing can answer it, so only a
// pair of CANs (the receiver giving up) counts then; once it is out, one byte is the answer. A CAN heard
// while draining is forgotten when the wait for the answer begins.
class TXYAnswerReader {
public:
    void StartDrain() { Start(true); }
    void StartWait() { Start(false); }
    TXYAnswer Take(char byte);

private:
    void Start(bool draining);

    bool fdraining = false;
    bool flastWasCan = false;
};

// YModem block 0: the name without its folder in the ANSI code page, a zero byte, the size in decimal;
// an empty name gives the all-zero header that ends a batch.
QByteArray YModemHeader(const QString &fileName, qint64 size);
// xmOK with the bare file name and the declared size (0 when none), xmLastFile for the batch's end,
// xmBadFileName for a name that would leave the target folder.
int ParseYModemHeader(const QByteArray &block, QString &name, qint64 &size);
