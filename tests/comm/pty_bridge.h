// A pty for the port object, joined by a relay thread to a socket for a peer program such as lrzsz.
// The port object opens the pty's slave (through a com<N> mapping, or PortPath() on a child's command
// line); the peer gets the other end of a socket pair as its standard input and output. A socket has
// no terminal to flush: lrzsz flushes its terminal when it exits, which on a pty would throw away its
// last acknowledgement before anyone read it.
#pragma once

#include "common.h"

#include <QProcess>
#include <QString>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <poll.h>
#include <pthread.h>
#include <pty.h>
#include <sys/socket.h>
#include <termios.h>
#include <thread>
#include <time.h>
#include <unistd.h>

class TPtyBridge {
public:
    explicit TPtyBridge(int port) : fport(port) {
        termios raw{};
        cfmakeraw(&raw);
        char name[256] = {};
        int pair[2] = {-1, -1};
        if (openpty(&fmaster, &fslave, name, &raw, nullptr) != 0 ||
            socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0)
            return;
        frelayEnd = pair[0];
        fpeerEnd = pair[1];
        fportPath = QString::fromLocal8Bit(name);
        if (!AppSettings)
            AppSettings = new TLuHash();
        AppSettings->SetVal(QStringLiteral("com%1").arg(port), fportPath);
        frelay = std::thread([this] { Relay(); });
    }
    ~TPtyBridge() {
        fstop = true;
        if (frelay.joinable())
            frelay.join();
        for (int fd : {fmaster, fslave, frelayEnd, fpeerEnd})
            if (fd >= 0)
                ::close(fd);
        AppSettings->Remove(QStringLiteral("com%1").arg(fport));
    }
    bool Ok() const { return fpeerEnd >= 0; }
    QString PortPath() const { return fportPath; }
    // The peer's end of the socket, for a peer started without QProcess (a benchmark that needs the
    // child's resource usage).
    int PeerFd() const { return fpeerEnd; }
    // CPU time the relay thread has used so far, so that a measurement of this process can leave it out.
    double RelayCpuSeconds() {
        clockid_t clock;
        timespec used{};
        if (!frelay.joinable() || pthread_getcpuclockid(frelay.native_handle(), &clock) != 0 ||
            clock_gettime(clock, &used) != 0)
            return 0;
        return double(used.tv_sec) + double(used.tv_nsec) / 1e9;
    }
    // When bytes from the port's side, or from the peer's side, last went through: where a sender's
    // last byte (its EOT) reached the line.
    std::chrono::steady_clock::time_point LastFromPort() const { return Stamp(flastFrom[0]); }
    std::chrono::steady_clock::time_point LastFromPeer() const { return Stamp(flastFrom[1]); }

    // Starts `program` with the peer's end of the socket as its standard input and output.
    void StartPeer(QProcess &peer, const QString &program, const QStringList &args) const {
        const int fd = fpeerEnd;
        peer.setChildProcessModifier([fd] {
            ::dup2(fd, 0);
            ::dup2(fd, 1);
        });
        peer.start(program, args);
    }

private:
    void Relay() {
        char buf[16384];
        while (!fstop) {
            pollfd p[2] = {{fmaster, POLLIN, 0}, {frelayEnd, POLLIN, 0}};
            if (::poll(p, 2, 20) <= 0)
                continue;
            for (int i = 0; i < 2; ++i) {
                if (!(p[i].revents & POLLIN))
                    continue;
                const ssize_t n = ::read(p[i].fd, buf, sizeof buf);
                if (n > 0)
                    flastFrom[i] = std::chrono::steady_clock::now().time_since_epoch().count();
                for (ssize_t off = 0; n > 0 && off < n;) {
                    const ssize_t w = ::write(i == 0 ? frelayEnd : fmaster, buf + off, size_t(n - off));
                    if (w > 0)
                        off += w;
                    else
                        ::usleep(200);
                }
            }
        }
    }

    static std::chrono::steady_clock::time_point Stamp(const std::atomic<std::int64_t> &ticks) {
        return std::chrono::steady_clock::time_point(std::chrono::steady_clock::duration(ticks.load()));
    }

    int fport;
    int fmaster = -1, fslave = -1, frelayEnd = -1, fpeerEnd = -1;
    QString fportPath;
    std::atomic<bool> fstop{false};
    std::atomic<std::int64_t> flastFrom[2] = {0, 0};
    std::thread frelay;
};
