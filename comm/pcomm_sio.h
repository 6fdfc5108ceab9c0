// The serial-port layer the port object is written against: PComm's sio_* operations with PComm's
// argument meanings, baud and mode codes and negative result codes. Two backends, one per system:
// - pcomm_sio_win.cpp, the Win32 communications API: port N is \\.\COMN, the port list is the
//   system's COM devices (QueryDosDeviceW);
// - pcomm_sio_posix.cpp, termios: port N opens the device named by the setting com<N> (e.g.
//   com7=/dev/pts/4); without it the default mapping applies: COM1-COM100 are /dev/ttyS0-99,
//   COM101-200 /dev/ttyUSB0-99 and COM201-300 /dev/ttyACM0-99.
// Every function may be called from any thread; one port is used by one thread.
#pragma once

#include <QList>
#include <QString>

enum : int {
    SIO_OK = 0,
    SIO_BADPORT = -1,
    SIO_OUTCONTROL = -2,
    SIO_NODATA = -4,
    SIO_OPENFAIL = -5,
    SIO_RTS_BY_HW = -6,
    SIO_BADPARM = -7,
    SIO_WIN32FAIL = -8,
    SIO_BOARDNOTSUPPORT = -9,
    SIO_FAIL = -10,
    SIO_ABORTWRITE = -11,
    SIO_WRITETIMEOUT = -12,
};

// sio_ioctl baud codes and mode bits.
enum : int {
    B75_CODE = 1,
    B110_CODE = 2,
    B300_CODE = 5,
    B600_CODE = 6,
    B1200_CODE = 7,
    B2400_CODE = 9,
    B4800_CODE = 10,
    B9600_CODE = 12,
    B19200_CODE = 13,
    B38400_CODE = 14,
    B57600_CODE = 15,
    B115200_CODE = 16,
    B230400_CODE = 17,
    B460800_CODE = 18,
    B921600_CODE = 19,
};
enum : int {
    BIT_5 = 0,
    BIT_6 = 1,
    BIT_7 = 2,
    BIT_8 = 3,
    STOP_1 = 0,
    STOP_2 = 4,
    P_NONE = 0,
    P_ODD = 8,
    P_EVEN = 24,
    P_MRK = 40,
    P_SPC = 56,
};
// sio_flowctrl modes and sio_lstatus bits.
enum : int { F_CTS = 1, F_RTS = 2, F_TXSW = 4, F_RXSW = 8 };
enum : int { S_CTS = 1, S_DSR = 2, S_RI = 4, S_CD = 8 };

int sio_open(int port);
int sio_close(int port);
int sio_ioctl(int port, int baud, int mode);
int sio_flowctrl(int port, int mode);
int sio_SetReadTimeouts(int port, unsigned long totalTimeout, unsigned long intervalTimeout);
int sio_SetWriteTimeouts(int port, unsigned long totalTimeout);
int sio_write(int port, const char *buf, int len);
int sio_putch(int port, int term);
int sio_read(int port, char *buf, int len);
int sio_iqueue(int port);
int sio_oqueue(int port);
int sio_flush(int port, int func);
int sio_AbortWrite(int port);
int sio_DTR(int port, int mode);
int sio_RTS(int port, int mode);
int sio_lstatus(int port);

// Not in PComm: waits up to timeoutMs for received bytes instead of sleeping blindly. Result: 1 when
// bytes are waiting, 0 at the time-out, negative on a port error.
int sio_WaitInput(int port, int timeoutMs);
// The system error behind the last SIO_WIN32FAIL or SIO_OPENFAIL of this thread.
int sio_LastError();
// Why port N could not be opened, for a person, in the system's terms: the device is missing, not
// accessible (on Linux naming the group that owns it and how to join it), held by another program,
// or not a serial port.
QString sio_OpenErrorText(int port, int err);
// The group whose members may read and write a device node: its owning group when that group has
// both rights and is not root's (a number when the system has no name for it); empty otherwise, when
// the node cannot be read, and on Windows, which has no such groups.
QString sio_PortAccessGroup(const QString &path);
// Whether an open failed for want of permission, which joining the owning group mends (Linux only:
// on Windows a refused port is one another program holds).
bool sio_IsPermissionError(int err);
// The device path port N opens.
QString sio_PortPath(int port);
// The serial ports to probe, ascending: on Linux those mapped by com<N> settings plus the serial
// devices present; on Windows the system's COM devices. When the system cannot be asked, `error`
// (if given) receives why and the list holds what could be found.
QList<int> sio_EnumPorts(QString *error = nullptr);
