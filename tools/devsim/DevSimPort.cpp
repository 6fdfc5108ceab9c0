#include "DevSimPort.h"

#include "LuUtils.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace {

// Raw bytes both ways, no modem control: CLOCAL keeps a real serial line from hanging up on carrier.
bool MakeRaw(int fd) {
    termios tio{};
    if (tcgetattr(fd, &tio) != 0)
        return false;
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    return tcsetattr(fd, TCSANOW, &tio) == 0;
}

bool MakeNonBlocking(int fd) {
    const int flags = fcntl(fd, F_GETFL);
    return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

void CloseFd(int &fd) {
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

} // namespace

bool TDevSimPort::Fail(const QString &what, QString &error) {
    error = what + QStringLiteral(": ") + SystemErrorText(-1);
    Close();
    return false;
}

bool TDevSimPort::OpenPty(QString &error) {
    fFd = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fFd < 0 || grantpt(fFd) != 0 || unlockpt(fFd) != 0 || !MakeNonBlocking(fFd))
        return Fail(QStringLiteral("cannot create a pseudo-terminal"), error);
    char name[256];
    if (ptsname_r(fFd, name, sizeof name) != 0)
        return Fail(QStringLiteral("cannot name the pseudo-terminal"), error);
    fPath = QString::fromLocal8Bit(name);
    // The client opens and closes the slave again and again; when its last descriptor goes, every
    // read of the master fails with EIO and poll reports a hang-up. Our own descriptor keeps it open.
    fHeldSlave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fHeldSlave < 0 || !MakeRaw(fHeldSlave))
        return Fail(QStringLiteral("cannot open ") + fPath, error);
    return true;
}

bool TDevSimPort::OpenDevice(const QString &path, QString &error) {
    fPath = path;
    fFd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fFd < 0 || !MakeRaw(fFd))
        return Fail(QStringLiteral("cannot open ") + path, error);
    return true;
}

void TDevSimPort::Close() {
    CloseFd(fFd);
    CloseFd(fHeldSlave);
}

bool TDevSimPort::Read(QByteArray &bytes) {
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fFd, buffer, sizeof buffer);
        if (n > 0)
            bytes.append(buffer, n);
        else if (n < 0 && errno == EINTR)
            continue;
        else
            return n < 0 && errno == EAGAIN;
    }
}

qint64 TDevSimPort::Write(const QByteArray &bytes) {
    for (;;) {
        const ssize_t n = ::write(fFd, bytes.constData(), size_t(bytes.size()));
        if (n >= 0)
            return n;
        if (errno == EAGAIN)
            return 0;
        if (errno != EINTR)
            return -1;
    }
}
