// The Win32 backend of pcomm_sio.h: port N is \\.\COMN, opened for overlapped I/O so that a write
// can be aborted from another thread (CancelIoEx) and a wait for input has a deadline
// (WaitCommEvent). Reads never block: they take what is queued.
#include "pcomm_sio.h"

#include "LuUtils.h"

#include <QDeadlineTimer>
#include <QHash>
#include <algorithm>
#include <mutex>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace {

// A wait for a received byte (WaitCommEvent) is left pending between waits rather than cancelled:
// not every system ends a cancelled wait (Wine does not), and its OVERLAPPED must outlive it.
struct TByteWait {
    OVERLAPPED ov{};
    DWORD mask = 0;
    bool pending = false;
};

struct TSioPort {
    HANDLE handle = INVALID_HANDLE_VALUE;
    // One event per kind of operation: a read or write runs while a byte wait is pending.
    HANDLE ioEvent = nullptr;
    HANDLE waitEvent = nullptr;
    TByteWait *byteWait = nullptr; // owned; used by the port's one user only
    HANDLE claim = nullptr;        // our programs' mark that the port is taken
    unsigned long writeTimeout = 10000;
};

// SioLock guards the table of open ports; the I/O itself runs outside it on the port's handle.
std::mutex SioLock;
QHash<int, TSioPort> OpenPorts;
thread_local int LastError = 0;

// A wait for input looks at the queue again at least this often: a byte that came in just before
// the wait started raises no event, and Wine signals received bytes late or not at all.
constexpr int MaxEventWaitMs = 10;

int Fail(int code, DWORD err) {
    LastError = int(err);
    return code;
}

int FailLast(int code) {
    return Fail(code, GetLastError());
}

bool FindPort(int port, TSioPort &out) {
    std::lock_guard guard(SioLock);
    auto it = OpenPorts.constFind(port);
    if (it == OpenPorts.constEnd())
        return false;
    out = *it;
    return true;
}

DWORD BaudOf(int baudCode) {
    static const QHash<int, DWORD> rates{
        {B75_CODE, 75},       {B110_CODE, 110},       {B300_CODE, 300},       {B600_CODE, 600},
        {B1200_CODE, 1200},   {B2400_CODE, 2400},     {B4800_CODE, 4800},     {B9600_CODE, 9600},
        {B19200_CODE, 19200}, {B38400_CODE, 38400},   {B57600_CODE, 57600},   {B115200_CODE, 115200},
        {B230400_CODE, 230400}, {B460800_CODE, 460800}, {B921600_CODE, 921600}};
    return rates.value(baudCode, 0);
}

BYTE ParityOf(int mode) {
    switch (mode & 0x38) {
    case P_ODD:
        return ODDPARITY;
    case P_EVEN:
        return EVENPARITY;
    case P_MRK:
        return MARKPARITY;
    case P_SPC:
        return SPACEPARITY;
    default:
        return NOPARITY;
    }
}

template <typename F> int WithDcb(int port, F change) {
    TSioPort p;
    if (!FindPort(port, p))
        return SIO_BADPORT;
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(p.handle, &dcb))
        return FailLast(SIO_WIN32FAIL);
    change(dcb);
    if (!SetCommState(p.handle, &dcb))
        return FailLast(SIO_WIN32FAIL);
    return SIO_OK;
}

// Reads return at once with what is queued; a write gives up after the write time-out.
bool SetTimeouts(HANDLE handle, unsigned long writeTimeout) {
    COMMTIMEOUTS t{};
    t.ReadIntervalTimeout = MAXDWORD;
    t.WriteTotalTimeoutConstant = DWORD(writeTimeout);
    return SetCommTimeouts(handle, &t) != 0;
}

// Waits for an overlapped operation; the count it moved, or -1 with the system's error.
int Finish(HANDLE handle, OVERLAPPED &ov, BOOL started) {
    DWORD n = 0;
    if (!started && GetLastError() != ERROR_IO_PENDING)
        return -1;
    if (!GetOverlappedResult(handle, &ov, &n, TRUE))
        return -1;
    return int(n);
}

int ModemFunction(int port, DWORD function) {
    TSioPort p;
    if (!FindPort(port, p))
        return SIO_BADPORT;
    if (!EscapeCommFunction(p.handle, function))
        return FailLast(SIO_WIN32FAIL);
    return SIO_OK;
}

bool QueueCounts(const TSioPort &p, COMSTAT &stat) {
    DWORD errors = 0;
    return ClearCommError(p.handle, &errors, &stat) != 0;
}

// One of the queue counts of port N, or the error; a USB adapter pulled out fails here (access
// denied, bad command, device not ready).
int QueueCount(int port, DWORD COMSTAT::*count) {
    TSioPort p;
    if (!FindPort(port, p))
        return SIO_BADPORT;
    COMSTAT stat{};
    if (!QueueCounts(p, stat))
        return FailLast(SIO_WIN32FAIL);
    return int(stat.*count);
}

// Waits until a byte arrives or `ms` pass; false when the system cannot wait on this port.
bool WaitForByte(const TSioPort &p, int ms) {
    TByteWait &wait = *p.byteWait;
    if (!wait.pending) {
        wait.ov = OVERLAPPED{};
        wait.ov.hEvent = p.waitEvent;
        ResetEvent(p.waitEvent);
        if (WaitCommEvent(p.handle, &wait.mask, &wait.ov))
            return true;
        if (GetLastError() != ERROR_IO_PENDING)
            return false;
        wait.pending = true;
    }
    if (WaitForSingleObject(p.waitEvent, DWORD(ms)) == WAIT_OBJECT_0) {
        DWORD n = 0;
        GetOverlappedResult(p.handle, &wait.ov, &n, FALSE);
        wait.pending = false;
    }
    return true;
}

// Windows gives a COM port to one opener only; Wine does not, so our programs also mark the port as
// theirs with a named mutex that the others find. Null when another program of ours has the port.
HANDLE ClaimPort(int port) {
    const QString name = QStringLiteral("Local\\Veltra-COM%1").arg(port);
    const HANDLE claim = CreateMutexW(nullptr, FALSE, reinterpret_cast<const wchar_t *>(name.utf16()));
    if (claim && GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(claim);
        return nullptr;
    }
    return claim;
}

// After the port's handle is closed: a wait still pending ends with the handle; should it not end in
// time, its small state is left behind rather than freed under the system's feet.
void FreePort(TSioPort &p) {
    const bool abandoned =
        p.byteWait && p.byteWait->pending && WaitForSingleObject(p.waitEvent, 200) != WAIT_OBJECT_0;
    if (p.ioEvent)
        CloseHandle(p.ioEvent);
    if (p.claim)
        CloseHandle(p.claim);
    if (abandoned)
        return;
    delete p.byteWait;
    if (p.waitEvent)
        CloseHandle(p.waitEvent);
}

} // namespace

QString sio_PortPath(int port) {
    return QStringLiteral("\\\\.\\COM%1").arg(port);
}

QList<int> sio_EnumPorts(QString *error) {
    std::vector<wchar_t> names(65535);
    DWORD length = QueryDosDeviceW(nullptr, names.data(), DWORD(names.size()));
    if (length == 0 && GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
        names.resize(1 << 20);
        length = QueryDosDeviceW(nullptr, names.data(), DWORD(names.size()));
    }
    if (length == 0) {
        if (error)
            *error = SystemErrorText(-1);
        return {};
    }
    QList<int> ports;
    for (const wchar_t *name = names.data(); *name && name < names.data() + length; name += wcslen(name) + 1) {
        const QString text = QString::fromWCharArray(name);
        if (!text.startsWith(QLatin1String("COM")))
            continue;
        const int number = text.mid(3, 3).toInt();
        if (number > 0 && !ports.contains(number))
            ports << number;
    }
    std::sort(ports.begin(), ports.end());
    return ports;
}

int sio_open(int port) {
    if (port <= 0)
        return Fail(SIO_OPENFAIL, ERROR_FILE_NOT_FOUND);
    std::lock_guard guard(SioLock);
    if (OpenPorts.contains(port))
        return Fail(SIO_OPENFAIL, ERROR_ACCESS_DENIED);
    // The \\.\ form opens COM10 and above too; the system refuses a second opener (ACCESS_DENIED).
    TSioPort p;
    p.claim = ClaimPort(port);
    if (!p.claim)
        return Fail(SIO_OPENFAIL, ERROR_ACCESS_DENIED);
    p.handle = CreateFileW(reinterpret_cast<const wchar_t *>(sio_PortPath(port).utf16()),
                           GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (p.handle == INVALID_HANDLE_VALUE) {
        const DWORD err = GetLastError();
        CloseHandle(p.claim);
        return Fail(SIO_OPENFAIL, err);
    }
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(p.handle, &dcb)) {
        const DWORD err = GetLastError();
        CloseHandle(p.handle);
        CloseHandle(p.claim);
        return Fail(SIO_OPENFAIL, err == ERROR_SUCCESS ? ERROR_INVALID_FUNCTION : err);
    }
    // Raw bytes both ways, the modem lines raised as a terminal raises them, no flow control until
    // sio_flowctrl asks for it.
    dcb.fBinary = TRUE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fOutxCtsFlow = dcb.fOutxDsrFlow = dcb.fDsrSensitivity = FALSE;
    dcb.fOutX = dcb.fInX = dcb.fErrorChar = dcb.fNull = dcb.fAbortOnError = FALSE;
    SetCommState(p.handle, &dcb);
    SetupComm(p.handle, 4096, 4096);
    SetTimeouts(p.handle, p.writeTimeout);
    SetCommMask(p.handle, EV_RXCHAR);
    PurgeComm(p.handle, PURGE_RXCLEAR | PURGE_TXCLEAR);
    p.ioEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    p.waitEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    p.byteWait = new TByteWait;
    if (!p.ioEvent || !p.waitEvent) {
        const DWORD err = GetLastError();
        CloseHandle(p.handle);
        FreePort(p);
        return Fail(SIO_OPENFAIL, err);
    }
    OpenPorts.insert(port, p);
    return SIO_OK;
}

int sio_close(int port) {
    std::lock_guard guard(SioLock);
    auto it = OpenPorts.find(port);
    if (it == OpenPorts.end())
        return SIO_BADPORT;
    CancelIoEx(it->handle, nullptr);
    CloseHandle(it->handle);
    FreePort(*it);
    OpenPorts.erase(it);
    return SIO_OK;
}

int sio_ioctl(int port, int baud, int mode) {
    const DWORD rate = BaudOf(baud);
    if (rate == 0 || mode < 0 || mode > 63) {
        TSioPort p;
        return FindPort(port, p) ? SIO_BADPARM : SIO_BADPORT;
    }
    return WithDcb(port, [&](DCB &dcb) {
        dcb.BaudRate = rate;
        dcb.ByteSize = BYTE(5 + (mode & 3));
        dcb.StopBits = (mode & STOP_2) ? TWOSTOPBITS : ONESTOPBIT;
        dcb.Parity = ParityOf(mode);
        dcb.fParity = dcb.Parity != NOPARITY;
    });
}

int sio_flowctrl(int port, int mode) {
    return WithDcb(port, [&](DCB &dcb) {
        dcb.fOutxCtsFlow = (mode & F_CTS) != 0;
        dcb.fRtsControl = (mode & F_RTS) ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
        dcb.fOutX = (mode & F_TXSW) != 0;
        dcb.fInX = (mode & F_RXSW) != 0;
        dcb.XonChar = 0x11;
        dcb.XoffChar = 0x13;
    });
}

int sio_SetReadTimeouts(int port, unsigned long, unsigned long) {
    // Reads never block here: the port object waits with its own deadlines.
    TSioPort p;
    return FindPort(port, p) ? SIO_OK : SIO_BADPORT;
}

int sio_SetWriteTimeouts(int port, unsigned long totalTimeout) {
    std::lock_guard guard(SioLock);
    auto it = OpenPorts.find(port);
    if (it == OpenPorts.end())
        return SIO_BADPORT;
    if (!SetTimeouts(it->handle, totalTimeout))
        return FailLast(SIO_WIN32FAIL);
    it->writeTimeout = totalTimeout;
    return SIO_OK;
}

int sio_write(int port, const char *buf, int len) {
    TSioPort p;
    if (!FindPort(port, p))
        return SIO_BADPORT;
    if (len < 0 || (len > 0 && !buf))
        return SIO_BADPARM;
    if (len == 0)
        return 0;
    OVERLAPPED ov{};
    ov.hEvent = p.ioEvent;
    const int n = Finish(p.handle, ov, WriteFile(p.handle, buf, DWORD(len), nullptr, &ov));
    if (n < 0) {
        const DWORD err = GetLastError();
        return Fail(err == ERROR_OPERATION_ABORTED ? SIO_ABORTWRITE : SIO_WIN32FAIL, err);
    }
    // The write time-out ends the write with what went out.
    return n > 0 ? n : SIO_WRITETIMEOUT;
}

int sio_putch(int port, int term) {
    const char c = char(term);
    const int n = sio_write(port, &c, 1);
    return n < 0 ? n : SIO_OK;
}

int sio_read(int port, char *buf, int len) {
    TSioPort p;
    if (!FindPort(port, p))
        return SIO_BADPORT;
    if (len <= 0)
        return 0;
    // Only what is queued is asked for, so that the read never waits: not every system honours the
    // "return at once" read time-outs for overlapped reads (Wine does not).
    COMSTAT stat{};
    if (!QueueCounts(p, stat))
        return FailLast(SIO_WIN32FAIL);
    const DWORD queued = std::min<DWORD>(stat.cbInQue, DWORD(len));
    if (queued == 0)
        return 0;
    OVERLAPPED ov{};
    ov.hEvent = p.ioEvent;
    const int n = Finish(p.handle, ov, ReadFile(p.handle, buf, queued, nullptr, &ov));
    return n < 0 ? FailLast(SIO_WIN32FAIL) : n;
}

int sio_iqueue(int port) {
    return QueueCount(port, &COMSTAT::cbInQue);
}

int sio_oqueue(int port) {
    return QueueCount(port, &COMSTAT::cbOutQue);
}

int sio_flush(int port, int func) {
    TSioPort p;
    if (!FindPort(port, p))
        return SIO_BADPORT;
    static const DWORD queues[] = {PURGE_RXCLEAR, PURGE_TXCLEAR, PURGE_RXCLEAR | PURGE_TXCLEAR};
    if (func < 0 || func > 2)
        return SIO_BADPARM;
    if (!PurgeComm(p.handle, queues[func]))
        return FailLast(SIO_WIN32FAIL);
    return SIO_OK;
}

int sio_AbortWrite(int port) {
    TSioPort p;
    if (!FindPort(port, p))
        return SIO_BADPORT;
    // Ends a write blocked on another thread (it returns SIO_ABORTWRITE) and drops what is queued.
    CancelIoEx(p.handle, nullptr);
    if (!PurgeComm(p.handle, PURGE_TXABORT | PURGE_TXCLEAR))
        return FailLast(SIO_WIN32FAIL);
    return SIO_OK;
}

int sio_DTR(int port, int mode) {
    return ModemFunction(port, mode ? SETDTR : CLRDTR);
}

int sio_RTS(int port, int mode) {
    return ModemFunction(port, mode ? SETRTS : CLRRTS);
}

int sio_lstatus(int port) {
    TSioPort p;
    if (!FindPort(port, p))
        return SIO_BADPORT;
    DWORD lines = 0;
    if (!GetCommModemStatus(p.handle, &lines))
        return FailLast(SIO_WIN32FAIL);
    return (lines & MS_CTS_ON ? S_CTS : 0) | (lines & MS_DSR_ON ? S_DSR : 0) | (lines & MS_RING_ON ? S_RI : 0) |
           (lines & MS_RLSD_ON ? S_CD : 0);
}

int sio_WaitInput(int port, int timeoutMs) {
    TSioPort p;
    if (!FindPort(port, p))
        return SIO_BADPORT;
    const QDeadlineTimer deadline(std::max(timeoutMs, 0));
    for (;;) {
        const int queued = sio_iqueue(port);
        if (queued != 0)
            return queued < 0 ? queued : 1;
        const int left = int(std::min<qint64>(deadline.remainingTime(), MaxEventWaitMs));
        if (left <= 0)
            return 0;
        if (!WaitForByte(p, left))
            Sleep(DWORD(std::min(left, 5)));
    }
}

int sio_LastError() {
    return LastError;
}

QString sio_PortAccessGroup(const QString &) {
    return {};
}

bool sio_IsPermissionError(int) {
    return false;
}

QString sio_OpenErrorText(int port, int err) {
    switch (err) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BAD_UNIT:
    case ERROR_DEV_NOT_EXIST:
        return QStringLiteral("COM%1 does not exist on this computer").arg(port);
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
        return QStringLiteral("COM%1 is in use by another program (access denied)").arg(port);
    case ERROR_INVALID_FUNCTION:
    case ERROR_NOT_SUPPORTED:
        return QStringLiteral("COM%1 is not a serial port").arg(port);
    default:
        return QStringLiteral("COM%1: ").arg(port) + SystemErrorText(err);
    }
}
