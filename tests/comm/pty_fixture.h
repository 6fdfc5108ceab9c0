// A pseudo-terminal pair for serial tests: the port object opens the slave through a com<N> mapping,
// the test plays the peer on the master.
#pragma once

#include "common.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

inline TLuHash &Settings() {
    if (!AppSettings)
        AppSettings = new TLuHash();
    return *AppSettings;
}

class TPtyPair {
public:
    explicit TPtyPair(int port) : fport(port) {
        int slave = -1;
        char name[256] = {};
        termios raw{};
        cfmakeraw(&raw);
        if (openpty(&fmaster, &slave, name, &raw, nullptr) != 0)
            return;
        fslavePath = QString::fromLocal8Bit(name);
        // Keeping a slave descriptor open here means the master never sees a hang-up merely because
        // the port object closed its side.
        fslave = slave;
        Settings().SetVal(QStringLiteral("com%1").arg(port), fslavePath);
    }
    ~TPtyPair() {
        CloseMaster();
        if (fslave >= 0)
            ::close(fslave);
        AppSettings->Remove(QStringLiteral("com%1").arg(fport));
    }
    bool Ok() const { return fmaster >= 0; }
    QString SlavePath() const { return fslavePath; }
    int SlaveFd() const { return fslave; }
    void Send(const QByteArray &bytes) const {
        (void)::write(fmaster, bytes.constData(), size_t(bytes.size()));
    }
    // Everything the port sent within `ms` milliseconds.
    // What the port sent, as soon as something arrived (empty after `ms` milliseconds of silence).
    QByteArray ReceiveSome(int ms) const {
        pollfd p{fmaster, POLLIN, 0};
        char buf[4096];
        const ssize_t n = ::poll(&p, 1, ms) > 0 ? ::read(fmaster, buf, sizeof buf) : 0;
        return n > 0 ? QByteArray(buf, int(n)) : QByteArray();
    }
    QByteArray Receive(int ms) const {
        QByteArray got;
        QElapsedTimer t;
        t.start();
        for (qint64 left = ms; left > 0; left = ms - t.elapsed()) {
            pollfd p{fmaster, POLLIN, 0};
            if (::poll(&p, 1, int(left)) <= 0 || !(p.revents & POLLIN))
                break;
            char buf[4096];
            const ssize_t n = ::read(fmaster, buf, sizeof buf);
            if (n <= 0)
                break;
            got.append(buf, n);
        }
        return got;
    }
    void CloseMaster() {
        if (fmaster >= 0)
            ::close(fmaster);
        fmaster = -1;
    }
    void CloseSlave() {
        if (fslave >= 0)
            ::close(fslave);
        fslave = -1;
    }
    int Master() const { return fmaster; }

private:
    int fport;
    int fmaster = -1;
    int fslave = -1;
    QString fslavePath;
};
