#include "LuPCom.h"

#include "LuFiles.h"
#include "common.h"
#include "LuUtils.h"
#include "pcomm_sio.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <iterator>

namespace {

struct TBaud {
    quint32 rate;
    int code;
};
const TBaud Bauds[] = {{75, B75_CODE},         {110, B110_CODE},       {300, B300_CODE},
                       {600, B600_CODE},       {1200, B1200_CODE},     {2400, B2400_CODE},
                       {4800, B4800_CODE},     {9600, B9600_CODE},     {19200, B19200_CODE},
                       {38400, B38400_CODE},   {57600, B57600_CODE},   {115200, B115200_CODE},
                       {230400, B230400_CODE}, {460800, B460800_CODE}, {921600, B921600_CODE}};

// The listed rate at or below `rate` (the lowest one for anything smaller).
const TBaud &BaudAtOrBelow(qint64 rate) {
    const TBaud *best = &Bauds[0];
    for (const TBaud &b : Bauds)
        if (b.rate <= rate)
            best = &b;
    return *best;
}

constexpr int TickMs = 1000;
constexpr int IdleTicksBeforeFlush = 10;
constexpr int RxChunk = 4096;

QString Now(const char *format) {
    return QDateTime::currentDateTime().toString(QLatin1String(format));
}

} // namespace

TLuPCom::TLuPCom() {
    ftimer.start();
}

TLuPCom::~TLuPCom() {
    Close();
}

void TLuPCom::SetActive(bool on) {
    if (on == factive)
        return;
    if (on)
        Open();
    else
        Close();
}

void TLuPCom::SetBaudRate(qint64 rate) {
    fbaudrate = rate >= (qint64(1) << 31) ? 9600 : BaudAtOrBelow(rate).rate;
}

void TLuPCom::SetLogEnabled(bool on) {
    if (on == flogenabled)
        return;
    flogenabled = on;
    if (factive && !flogfile.isEmpty())
        WriteLog(QStringLiteral("\r\n*** Log is ") + (on ? "enabled" : "disabled") + QStringLiteral(" at ") +
                 Now("dd.MM.yyyy HH:mm:ss"));
}

QString TLuPCom::ErrorText(int code) {
    switch (code) {
    case SIO_BADPORT:
        return QStringLiteral("No such port or port not opened");
    case SIO_OUTCONTROL:
        return QStringLiteral("Can't control board");
    case SIO_NODATA:
        return QStringLiteral("No data to read or no buffer to write");
    case SIO_OPENFAIL:
        return QStringLiteral("No such port or port has opened");
    case SIO_RTS_BY_HW:
        return QStringLiteral("Can't set because H/W flowctrl");
    case SIO_BADPARM:
        return QStringLiteral("Bad parameter");
    case SIO_WIN32FAIL:
        return QStringLiteral("Win32 error ") + QString::number(sio_LastError());
    case SIO_BOARDNOTSUPPORT:
        return QStringLiteral("Board does not support this function");
    case SIO_FAIL:
        return QStringLiteral("PComm function run result fail");
    case SIO_ABORTWRITE:
        return QStringLiteral("Write has blocked, and user abort write");
    case SIO_WRITETIMEOUT:
        return QStringLiteral("Write timeout has happened");
    default:
        return QStringLiteral("Unknow error code [%1]").arg(code);
    }
}

void TLuPCom::RaiseError(const QString &operation, int code) {
    const QString message = QStringLiteral("TLuPCom(%1) error %2 into %3: %4")
                                .arg(fport)
                                .arg(code)
                                .arg(operation, ErrorText(code));
    AppendLog(QStringLiteral("\r\n") + message);
    throw TLuPComError(message.toStdString());
}

int TLuPCom::Checked(const QString &operation, int result) {
    if (result < 0)
        RaiseError(operation, result);
    return result;
}

void TLuPCom::CheckOpen() {
    if (!factive)
        throw TLuPComError(QStringLiteral("Port [%1] is not open").arg(fport).toStdString());
    IdleTick();
}

void TLuPCom::Open() {
    if (factive)
        return;
    Checked(QStringLiteral("Open"), sio_open(fport));
    factive = true;
    flogcount = 0;
    flogdirection = 0;
    frxbuf.clear();
    AppendLog(QStringLiteral("\r\n*** COM%1 opened at ").arg(fport) + Now("dd.MM.yyyy HH:mm:ss"));
    UpdateIoctl();
}

void TLuPCom::UpdateIoctl() {
    CheckOpen();
    static const int parityBits[] = {P_NONE, P_ODD, P_EVEN, P_MRK, P_SPC};
    const int mode = int(fdatabits) + (fstopbits == sb2 ? STOP_2 : 0) + parityBits[fparity];
    Checked(QStringLiteral("update_ioctl.ioctl"), sio_ioctl(fport, BaudAtOrBelow(fbaudrate).code, mode));
    const int flow = fflowctrl == fcHardware   ? (F_CTS | F_RTS)
                     : fflowctrl == fcSoftware ? (F_TXSW | F_RXSW)
                                               : 0;
    Checked(QStringLiteral("update_ioctl.flowctl"), sio_flowctrl(fport, flow));
    Checked(QStringLiteral("update_ioctl.SetWriteTimeouts"), sio_SetWriteTimeouts(fport, fwritetimeout));
    Checked(QStringLiteral("update_ioctl.SetReadTimeouts"), sio_SetReadTimeouts(fport, 0, freadtimeout));
}

void TLuPCom::Close() {
    // Only a port this object opened: the same number may be open in another object, and a failed
    // Open here must not close it there.
    if (factive)
        sio_close(fport);
    factive = false;
    frxbuf.clear();
    if (!flogenabled)
        return;
    FlushLog();
    AppendLog(QStringLiteral("\r\n*** COM%1 closed at ").arg(fport) + Now("dd.MM.yyyy HH:mm:ss"));
}

int TLuPCom::Write(const void *buf, int len) {
    CheckOpen();
    const int n = Checked(QStringLiteral("Write"), sio_write(fport, static_cast<const char *>(buf), len));
    LogData(buf, n, 1);
    return n;
}

int TLuPCom::PutByte(quint8 b) {
    return Write(&b, 1);
}

int TLuPCom::PutChar(char c) {
    CheckOpen();
    const int r = Checked(QStringLiteral("PutChar"), sio_putch(fport, quint8(c)));
    LogData(&c, 1, 1);
    return r;
}

int TLuPCom::PutChar(QChar c) {
    return PutChar(ToAnsiChar(c));
}

int TLuPCom::PutString(const QString &text) {
    CheckOpen();
    const QByteArray bytes = ToAnsiText(text);
    const int n =
        Checked(QStringLiteral("PutString"), sio_write(fport, bytes.constData(), int(bytes.size())));
    LogData(bytes.constData(), n, 1);
    return n;
}

int TLuPCom::FillRx(const QString &operation) {
    char chunk[RxChunk];
    const int n = Checked(operation, sio_read(fport, chunk, RxChunk));
    frxbuf.append(chunk, n);
    return n;
}

int TLuPCom::Read(void *buf, int len) {
    CheckOpen();
    if (len <= 0)
        return 0;
    while (frxbuf.size() < len && FillRx(QStringLiteral("Read")) > 0) {
    }
    const int n = int(std::min<qsizetype>(len, frxbuf.size()));
    memcpy(buf, frxbuf.constData(), size_t(n));
    frxbuf.remove(0, n);
    LogData(buf, n, 0);
    return n;
}

quint8 TLuPCom::GetChar() {
    CheckOpen();
    if (frxbuf.isEmpty() && FillRx(QStringLiteral("GetChar")) == 0)
        RaiseError(QStringLiteral("GetChar"), SIO_NODATA);
    const quint8 b = quint8(frxbuf.at(0));
    frxbuf.remove(0, 1);
    LogData(&b, 1, 0);
    return b;
}

int TLuPCom::RxCount() {
    CheckOpen();
    return int(frxbuf.size()) + Checked(QStringLiteral("RxCount"), sio_iqueue(fport));
}

int TLuPCom::TxCount() {
    CheckOpen();
    return Checked(QStringLiteral("TxCount"), sio_oqueue(fport));
}

bool TLuPCom::WaitRxCount(int count, int timeoutMs) {
    CheckOpen();
    const QDeadlineTimer deadline(std::max(timeoutMs, 0));
    // The wait comes first and a read only once the device has bytes: reading an empty device costs two
    // system calls (the read and the hang-up check), which a block transfer would pay before every wait.
    while (frxbuf.size() < count) {
        const bool ready =
            Checked(QStringLiteral("RxCount"), sio_WaitInput(fport, int(deadline.remainingTime()))) > 0;
        if ((!ready || FillRx(QStringLiteral("RxCount")) == 0) && deadline.hasExpired())
            return false;
    }
    return true;
}

bool TLuPCom::SkipLineEnds() {
    CheckOpen();
    for (;;) {
        if (frxbuf.isEmpty() && FillRx(QStringLiteral("RxCount")) == 0)
            return false;
        if (quint8(frxbuf.at(0)) >= 32)
            return true;
        GetChar();
    }
}

// Reads until a CR ends a line (or, with Multiline, until the deadline). Control characters other
// than CR are dropped; bytes after the ending CR stay queued. Instead of sleeping 50 ms between
// looks, it waits on the port, so a line is seen as soon as its CR arrives.
QString TLuPCom::ReadLine(bool Multiline, bool Echo, int Timeout, bool &gotLine) {
    CheckOpen();
    gotLine = false;
    const QDeadlineTimer deadline(Timeout > 0 ? Timeout : 0);
    QByteArray collected;
    for (;;) {
        while (!frxbuf.isEmpty() || FillRx(QStringLiteral("RxCount")) > 0) {
            const quint8 b = GetChar();
            if (b == '\r') {
                if (Echo)
                    PutString(QStringLiteral("\r\n"));
                if (collected.isEmpty())
                    continue;
                if (!Multiline) {
                    gotLine = true;
                    return FromAnsiText(collected);
                }
                collected += '\r';
            } else if (b >= 32) {
                if (Echo)
                    PutChar(char(b));
                collected += char(b);
            }
        }
        if (deadline.hasExpired())
            return FromAnsiText(collected);
        WaitRx(int(deadline.remainingTime()));
    }
}

QString TLuPCom::ReadString(bool Multiline, bool Echo, int Timeout) {
    bool gotLine = false;
    return ReadLine(Multiline, Echo, Timeout, gotLine);
}

bool TLuPCom::ReadString(QString &Res, bool Multiline, int Timeout) {
    bool gotLine = false;
    Res = ReadLine(Multiline, false, Timeout, gotLine);
    return gotLine;
}

void TLuPCom::Flush() {
    CheckOpen();
    frxbuf.clear();
    Checked(QStringLiteral("Flush"), sio_flush(fport, 2));
}

void TLuPCom::FlushRx() {
    CheckOpen();
    frxbuf.clear();
    Checked(QStringLiteral("FlushRx"), sio_flush(fport, 0));
}

void TLuPCom::FlushTx() {
    CheckOpen();
    Checked(QStringLiteral("FlushTx"), sio_flush(fport, 1));
}

void TLuPCom::Abort() {
    CheckOpen();
    Checked(QStringLiteral("Abort"), sio_AbortWrite(fport));
}

void TLuPCom::SetDTR(bool on) {
    CheckOpen();
    Checked(QStringLiteral("set_dtr"), sio_DTR(fport, on ? 1 : 0));
}

void TLuPCom::SetRTS(bool on) {
    CheckOpen();
    Checked(QStringLiteral("set_rts"), sio_RTS(fport, on ? 1 : 0));
}

bool TLuPCom::ModemStatus(const QString &operation, int bit) {
    CheckOpen();
    return Checked(operation, sio_lstatus(fport)) & bit;
}

bool TLuPCom::CTS() {
    return ModemStatus(QStringLiteral("get_cts"), S_CTS);
}
bool TLuPCom::DSR() {
    return ModemStatus(QStringLiteral("get_dsr"), S_DSR);
}
bool TLuPCom::CD() {
    return ModemStatus(QStringLiteral("get_cd"), S_CD);
}
bool TLuPCom::RI() {
    return ModemStatus(QStringLiteral("get_ri"), S_RI);
}

void TLuPCom::IdleTick() {
    const qint64 now = ftimer.elapsed();
    for (int i = 0; now >= fnexttick && i <= IdleTicksBeforeFlush + 1; ++i) {
        LogTimerTick();
        fnexttick += TickMs;
    }
    if (now >= fnexttick)
        fnexttick = now + TickMs;
}

void TLuPCom::LogTimerTick() {
    if (!factive || !flogenabled || flogfile.isEmpty())
        return;
    if (++fidleCount <= IdleTicksBeforeFlush)
        return;
    fidleCount = 0;
    FlushLog();
    TrimFileHead(flogfile, fmaxlogsize);
}

void TLuPCom::AppendLog(const QString &text) {
    if (flogenabled && !flogfile.isEmpty())
        WriteLog(text);
}

void TLuPCom::LogData(const void *data, int len, int direction) {
    if (flogfile.isEmpty() || !flogenabled)
        return;
    fidleCount = 0;
    if (direction != flogdirection) {
        FlushLog();
        flogdirection = direction;
        flogcount = 0;
    }
    const quint8 *bytes = static_cast<const quint8 *>(data);
    for (int i = 0; i < len; ++i) {
        flogcache.Put(bytes[i]);
        ++flogcount;
        if (flogcache.Count() == flogcache.Size())
            FlushLog();
    }
}

// One line per flush: time, direction marker, offset within the run, the bytes in hex, padding so
// that the character column always starts at the same place, then the bytes as characters.
void TLuPCom::FlushLog() {
    const int n = flogcache.Count();
    if (n == 0)
        return;
    QString line = QStringLiteral(" \r\n") + Now("HH:mm:ss:zzz") + (flogdirection > 0 ? " - " : " + ") +
                   IntToBase(4, 16, flogcount - n);
    QString chars;
    for (int i = 0; i < n; ++i) {
        const quint8 b = flogcache.Get();
        line += u' ' + IntToBase(2, 16, b);
        chars += b >= 32 ? FromAnsiChar(char(b)) : QChar(u'.');
    }
    line += RepeatChar(u' ', 48 - 3 * n) + u' ' + chars;
    WriteLog(line);
}

// A port that never falls idle never reaches the idle cut; the log's ceiling holds it.
void TLuPCom::WriteLog(const QString &text) {
    KeepLogWithinLimit(flogfile);
    WriteTextFile(flogfile, text, false);
}
