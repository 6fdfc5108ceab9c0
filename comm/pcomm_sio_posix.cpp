// The termios backend of pcomm_sio.h.
#include "pcomm_sio.h"

#include "common.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QSet>
#include <algorithm>
#include <cstring>
#include <mutex>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

struct TSioPort {
    int fd = -1;
    unsigned long writeTimeout = 10000;
};

// SioLock guards the table of open ports; the I/O itself runs outside it on the port's descriptor.
std::mutex SioLock;
QHash<int, TSioPort> OpenPorts;
thread_local int LastError = 0;

int Fail(int code, int err) {
    LastError = err;
    return code;
}

bool FindPort(int port, TSioPort &out) {
    std::lock_guard guard(SioLock);
    auto it = OpenPorts.constFind(port);
    if (it == OpenPorts.constEnd())
        return false;
    out = *it;
    return true;
}

int PortFd(int port) {
    TSioPort p;
    return FindPort(port, p) ? p.fd : -1;
}

// A port whose device went away (adapter pulled, peer closed) reports a hang-up; every operation on it
// must fail rather than read as "no data".
bool HungUp(int fd) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL));
}

speed_t SpeedOf(int baudCode) {
    switch (baudCode) {
    case B75_CODE:
        return B75;
    case B110_CODE:
        return B110;
    case B300_CODE:
        return B300;
    case B600_CODE:
        return B600;
    case B1200_CODE:
        return B1200;
    case B2400_CODE:
        return B2400;
    case B4800_CODE:
        return B4800;
    case B9600_CODE:
        return B9600;
    case B19200_CODE:
        return B19200;
    case B38400_CODE:
        return B38400;
    case B57600_CODE:
        return B57600;
    case B115200_CODE:
        return B115200;
    case B230400_CODE:
        return B230400;
    case B460800_CODE:
        return B460800;
    case B921600_CODE:
        return B921600;
    default:
        return B0;
    }
}

void ApplyMode(termios &t, int mode) {
    static const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
    t.c_cflag = (t.c_cflag & ~(CSIZE | CSTOPB | PARENB | PARODD | CMSPAR)) | sizes[mode & 3];
    if (mode & STOP_2)
        t.c_cflag |= CSTOPB;
    switch (mode & 0x38) {
    case P_ODD:
        t.c_cflag |= PARENB | PARODD;
        break;
    case P_EVEN:
        t.c_cflag |= PARENB;
        break;
    case P_MRK:
        t.c_cflag |= PARENB | PARODD | CMSPAR;
        break;
    case P_SPC:
        t.c_cflag |= PARENB | CMSPAR;
        break;
    default:
        break;
    }
}

template <typename F> int WithTermios(int port, F change) {
    const int fd = PortFd(port);
    if (fd < 0)
        return SIO_BADPORT;
    termios t{};
    if (::tcgetattr(fd, &t) != 0)
        return Fail(SIO_WIN32FAIL, errno);
    if (!change(t))
        return SIO_BADPARM;
    if (::tcsetattr(fd, TCSANOW, &t) != 0)
        return Fail(SIO_WIN32FAIL, errno);
    return SIO_OK;
}

int ModemLine(int port, int bit, int mode) {
    const int fd = PortFd(port);
    if (fd < 0)
        return SIO_BADPORT;
    if (::ioctl(fd, mode ? TIOCMBIS : TIOCMBIC, &bit) != 0)
        return Fail(errno == ENOTTY || errno == EINVAL ? SIO_BOARDNOTSUPPORT : SIO_WIN32FAIL, errno);
    return SIO_OK;
}

int WaitWritable(int fd, int timeoutMs) {
    pollfd p{fd, POLLOUT, 0};
    return ::poll(&p, 1, timeoutMs) > 0 && !(p.revents & (POLLHUP | POLLERR | POLLNVAL)) ? 1 : 0;
}

// Serial devices named by the system, with their default port numbers.
struct TDeviceFamily {
    const char *prefix;
    int firstPort;
};
const TDeviceFamily Families[] = {{"ttyS", 1}, {"ttyUSB", 101}, {"ttyACM", 201}};
constexpr int FamilySize = 100;

// ttyS entries exist for every possible UART; only those with hardware behind them report a type.
bool IsPresentDevice(const QString &name) {
    const QString sys = QStringLiteral("/sys/class/tty/") + name;
    if (!QFileInfo::exists(sys + QStringLiteral("/device")))
        return false;
    if (!name.startsWith(QStringLiteral("ttyS")))
        return true;
    QFile type(sys + QStringLiteral("/type"));
    return type.open(QIODevice::ReadOnly) && type.readAll().trimmed() != "0";
}

} // namespace

QString sio_PortPath(int port) {
    const QString mapped =
        AppSettings ? TrimText(AppSettings->GetVal(QStringLiteral("com%1").arg(port))) : QString();
    if (!mapped.isEmpty())
        return mapped;
    for (const TDeviceFamily &f : Families)
        if (port >= f.firstPort && port < f.firstPort + FamilySize)
            return QStringLiteral("/dev/%1%2").arg(QLatin1String(f.prefix)).arg(port - f.firstPort);
    return QString();
}

QList<int> sio_EnumPorts(QString *) {
    QSet<int> ports;
    if (AppSettings) {
        static const QRegularExpression mapKey(QStringLiteral("^com(\\d+)$"),
                                               QRegularExpression::CaseInsensitiveOption);
        for (int i = 0; i < AppSettings->Count(); ++i) {
            const QRegularExpressionMatch m = mapKey.match(AppSettings->GetKey(i));
            if (m.hasMatch() && !TrimText(AppSettings->GetValByIndex(i)).isEmpty())
                ports.insert(m.captured(1).toInt());
        }
    }
    for (const TDeviceFamily &f : Families) {
        const QStringList names = QDir(QStringLiteral("/sys/class/tty"))
                                      .entryList({QLatin1String(f.prefix) + u'*'}, QDir::Dirs | QDir::System);
        for (const QString &name : names) {
            bool ok = false;
            const int k = name.mid(int(qstrlen(f.prefix))).toInt(&ok);
            if (ok && k < FamilySize && IsPresentDevice(name))
                ports.insert(f.firstPort + k);
        }
    }
    QList<int> sorted(ports.begin(), ports.end());
    std::sort(sorted.begin(), sorted.end());
    return sorted;
}

int sio_open(int port) {
    const QString path = sio_PortPath(port);
    if (path.isEmpty())
        return Fail(SIO_OPENFAIL, ENOENT);
    std::lock_guard guard(SioLock);
    if (OpenPorts.contains(port))
        return Fail(SIO_OPENFAIL, EBUSY);
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return Fail(SIO_OPENFAIL, errno);
    termios t{};
    if (!::isatty(fd) || ::tcgetattr(fd, &t) != 0) {
        const int err = errno ? errno : ENOTTY;
        ::close(fd);
        return Fail(SIO_OPENFAIL, err);
    }
    // One program per tracker: the lock keeps out every program that locks its ports the same way (a
    // second configurator, the command line), TIOCEXCL every other non-root program.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return Fail(SIO_OPENFAIL, EBUSY);
    }
    ::ioctl(fd, TIOCEXCL);
    ::cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    ::tcsetattr(fd, TCSANOW, &t);
    OpenPorts.insert(port, TSioPort{fd, 10000});
    return SIO_OK;
}

int sio_close(int port) {
    std::lock_guard guard(SioLock);
    auto it = OpenPorts.find(port);
    if (it == OpenPorts.end())
        return SIO_BADPORT;
    // The exclusive mode belongs to the terminal, not to this descriptor: while another program keeps
    // the line open (the simulator holds its pseudo-terminal's slave) it would outlast the close and
    // lock out every later opener without root's rights.
    ::ioctl(it->fd, TIOCNXCL);
    ::close(it->fd);
    OpenPorts.erase(it);
    return SIO_OK;
}

int sio_ioctl(int port, int baud, int mode) {
    const speed_t speed = SpeedOf(baud);
    if (speed == B0 || mode < 0 || mode > 63)
        return PortFd(port) < 0 ? SIO_BADPORT : SIO_BADPARM;
    return WithTermios(port, [&](termios &t) {
        ::cfsetispeed(&t, speed);
        ::cfsetospeed(&t, speed);
        ApplyMode(t, mode);
        return true;
    });
}

int sio_flowctrl(int port, int mode) {
    return WithTermios(port, [&](termios &t) {
        t.c_cflag &= ~CRTSCTS;
        t.c_iflag &= ~(IXON | IXOFF | IXANY);
        if (mode & (F_CTS | F_RTS))
            t.c_cflag |= CRTSCTS;
        if (mode & F_TXSW)
            t.c_iflag |= IXON;
        if (mode & F_RXSW)
            t.c_iflag |= IXOFF;
        return true;
    });
}

int sio_SetReadTimeouts(int port, unsigned long, unsigned long) {
    // Reads never block here: the port object waits with its own deadlines.
    return PortFd(port) < 0 ? SIO_BADPORT : SIO_OK;
}

int sio_SetWriteTimeouts(int port, unsigned long totalTimeout) {
    std::lock_guard guard(SioLock);
    auto it = OpenPorts.find(port);
    if (it == OpenPorts.end())
        return SIO_BADPORT;
    it->writeTimeout = totalTimeout;
    return SIO_OK;
}

int sio_write(int port, const char *buf, int len) {
    TSioPort p;
    if (!FindPort(port, p))
        return SIO_BADPORT;
    if (len < 0 || (len > 0 && !buf))
        return SIO_BADPARM;
    int written = 0;
    QDeadlineTimer deadline(qint64(p.writeTimeout));
    while (written < len) {
        const ssize_t n = ::write(p.fd, buf + written, size_t(len - written));
        if (n > 0) {
            written += int(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return Fail(SIO_WIN32FAIL, errno);
        if (deadline.hasExpired() ||
            !WaitWritable(p.fd, int(std::min<qint64>(deadline.remainingTime(), 100)))) {
            if (HungUp(p.fd))
                return Fail(SIO_WIN32FAIL, EIO);
            if (deadline.hasExpired())
                return written > 0 ? written : SIO_WRITETIMEOUT;
        }
    }
    return written;
}

int sio_putch(int port, int term) {
    const char c = char(term);
    const int n = sio_write(port, &c, 1);
    return n < 0 ? n : SIO_OK;
}

int sio_read(int port, char *buf, int len) {
    const int fd = PortFd(port);
    if (fd < 0)
        return SIO_BADPORT;
    if (len <= 0)
        return 0;
    const ssize_t n = ::read(fd, buf, size_t(len));
    if (n > 0)
        return int(n);
    if ((n < 0 && errno != EAGAIN && errno != EINTR) || HungUp(fd))
        return Fail(SIO_WIN32FAIL, n < 0 && errno != EAGAIN ? errno : EIO);
    return 0;
}

int sio_iqueue(int port) {
    const int fd = PortFd(port);
    if (fd < 0)
        return SIO_BADPORT;
    int count = 0;
    if (::ioctl(fd, FIONREAD, &count) != 0)
        return Fail(SIO_WIN32FAIL, errno);
    if (count == 0 && HungUp(fd))
        return Fail(SIO_WIN32FAIL, EIO);
    return count;
}

int sio_oqueue(int port) {
    const int fd = PortFd(port);
    if (fd < 0)
        return SIO_BADPORT;
    int count = 0;
    if (::ioctl(fd, TIOCOUTQ, &count) != 0)
        return Fail(SIO_WIN32FAIL, errno);
    return count;
}

int sio_flush(int port, int func) {
    const int fd = PortFd(port);
    if (fd < 0)
        return SIO_BADPORT;
    static const int queues[] = {TCIFLUSH, TCOFLUSH, TCIOFLUSH};
    if (func < 0 || func > 2)
        return SIO_BADPARM;
    if (::tcflush(fd, queues[func]) != 0)
        return Fail(SIO_WIN32FAIL, errno);
    return SIO_OK;
}

int sio_AbortWrite(int port) {
    return sio_flush(port, 1);
}

int sio_DTR(int port, int mode) {
    return ModemLine(port, TIOCM_DTR, mode);
}

int sio_RTS(int port, int mode) {
    return ModemLine(port, TIOCM_RTS, mode);
}

int sio_lstatus(int port) {
    const int fd = PortFd(port);
    if (fd < 0)
        return SIO_BADPORT;
    int lines = 0;
    if (::ioctl(fd, TIOCMGET, &lines) != 0)
        return Fail(errno == ENOTTY || errno == EINVAL ? SIO_BOARDNOTSUPPORT : SIO_WIN32FAIL, errno);
    return (lines & TIOCM_CTS ? S_CTS : 0) | (lines & TIOCM_DSR ? S_DSR : 0) | (lines & TIOCM_RI ? S_RI : 0) |
           (lines & TIOCM_CD ? S_CD : 0);
}

int sio_WaitInput(int port, int timeoutMs) {
    const int fd = PortFd(port);
    if (fd < 0)
        return SIO_BADPORT;
    pollfd p{fd, POLLIN, 0};
    const int r = ::poll(&p, 1, std::max(timeoutMs, 0));
    if (r < 0)
        return errno == EINTR ? 0 : Fail(SIO_WIN32FAIL, errno);
    if (r > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)))
        return Fail(SIO_WIN32FAIL, EIO);
    return r > 0 ? 1 : 0;
}

int sio_LastError() {
    return LastError;
}

QString sio_PortAccessGroup(const QString &path) {
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return {};
    // Joining root's group, or a group the node gives nothing to, would not help (or would be wrong).
    constexpr mode_t readWrite = S_IRGRP | S_IWGRP;
    if (info.st_gid == 0 || (info.st_mode & readWrite) != readWrite)
        return {};
    if (const group *owner = ::getgrgid(info.st_gid))
        return QString::fromLocal8Bit(owner->gr_name);
    return QString::number(info.st_gid);
}

bool sio_IsPermissionError(int err) {
    return err == EACCES || err == EPERM;
}

QString sio_OpenErrorText(int port, int err) {
    const QString path = sio_PortPath(port);
    if (path.isEmpty())
        return QStringLiteral("COM%1 is not mapped to a device").arg(port);
    if (sio_IsPermissionError(err)) {
        const QString group = sio_PortAccessGroup(path);
        if (group.isEmpty())
            return QStringLiteral("Permission denied on ") + path;
        return QStringLiteral("Permission denied on %1: it belongs to the group %2; join it with "
                              "\"sudo usermod -aG %2 $USER\" and log in again")
            .arg(path, group);
    }
    switch (err) {
    case ENOENT:
    case ENXIO:
    case ENODEV:
        return QStringLiteral("No such device: ") + path;
    case EBUSY:
        return path + QStringLiteral(" is in use by another program");
    case ENOTTY:
        return path + QStringLiteral(" is not a serial port");
    default:
        return path + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(err));
    }
}
