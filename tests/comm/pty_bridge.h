// A pty for the port object, joined by a relay thread to a peer: a socket for a peer program such as
// lrzsz, or a second pty for a second port object (our sender into our receiver). The port objects
// open the ptys' slaves through com<N> mappings (or PortPath() on a child's command line); a peer
// program gets the other end of the socket pair as its standard input and output. A socket has no
// terminal to flush: lrzsz flushes its terminal when it exits, which on a pty would throw away its last
// acknowledgement before anyone read it.
//
// The relay can play a real serial line: paced to a byte rate in each direction, with a share of the
// bytes damaged (one bit flipped) or dropped, drawn from a fixed seed so that a failing run can be
// repeated, and with single bytes, counted from 0 in their direction's stream, damaged or dropped.
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
#include <random>
#include <sys/socket.h>
#include <termios.h>
#include <thread>
#include <time.h>
#include <unistd.h>
#include <vector>

// Directions of the relay: from the port object's pty, and towards it.
enum TLineDirection { ldFromPort = 0, ldToPort = 1 };

struct TByteFault {
    std::int64_t index; // in its direction's stream, from 0
    std::uint8_t mask;  // XORed into the byte; 0 drops it
};

struct TLineSetup {
    int bytesPerSecond = 0; // 0: as fast as the relay goes
    double flip[2] = {0, 0}; // share of the bytes with one bit flipped, per direction
    double drop[2] = {0, 0}; // share of the bytes lost, per direction
    std::vector<TByteFault> faults[2];
    std::uint32_t seed = 1;
};

// 115200 baud with 8 data bits, no parity and 2 stop bits: 11 bits a byte.
constexpr int LineRate115200 = 115200 / 11;

class TPtyBridge {
public:
    explicit TPtyBridge(int port, TLineSetup setup = {}) : fport(port), fsetup(std::move(setup)) {
        int pair[2] = {-1, -1};
        if (!OpenPty(port, fmaster, fslave, fportPath) || socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0)
            return;
        frelayEnd = pair[0];
        fpeerEnd = pair[1];
        Start();
    }
    // Our port object on `port` joined to a second one on `secondPort`.
    TPtyBridge(int port, int secondPort, TLineSetup setup) : fport(port), fsecondPort(secondPort), fsetup(std::move(setup)) {
        QString secondPath;
        if (!OpenPty(port, fmaster, fslave, fportPath) || !OpenPty(secondPort, frelayEnd, fsecondSlave, secondPath))
            return;
        fpeerEnd = frelayEnd;
        Start();
    }
    ~TPtyBridge() {
        fstop = true;
        if (frelay.joinable())
            frelay.join();
        for (int fd : {fmaster, fslave, frelayEnd, fsecondSlave})
            if (fd >= 0)
                ::close(fd);
        if (fpeerEnd >= 0 && fpeerEnd != frelayEnd)
            ::close(fpeerEnd);
        for (int port : {fport, fsecondPort})
            if (port > 0)
                AppSettings->Remove(QStringLiteral("com%1").arg(port));
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
    std::chrono::steady_clock::time_point LastFromPort() const { return Stamp(flastFrom[ldFromPort]); }
    std::chrono::steady_clock::time_point LastFromPeer() const { return Stamp(flastFrom[ldToPort]); }
    // Bytes damaged or dropped so far in a direction.
    int Spoiled(TLineDirection d) const { return fspoiled[d]; }

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
    using Clock = std::chrono::steady_clock;

    // Bytes on their way in one direction, and when the paced line is free for the next one.
    struct TWay {
        int from = -1, to = -1;
        std::vector<char> pending;
        Clock::time_point lineFree;
        std::int64_t count = 0;
        std::mt19937 rng;
    };

    static bool OpenPty(int port, int &master, int &slave, QString &path) {
        termios raw{};
        cfmakeraw(&raw);
        char name[256] = {};
        if (openpty(&master, &slave, name, &raw, nullptr) != 0)
            return false;
        path = QString::fromLocal8Bit(name);
        if (!AppSettings)
            AppSettings = new TLuHash();
        AppSettings->SetVal(QStringLiteral("com%1").arg(port), path);
        return true;
    }

    void Start() {
        fways[ldFromPort].from = fmaster;
        fways[ldFromPort].to = frelayEnd;
        fways[ldToPort].from = frelayEnd;
        fways[ldToPort].to = fmaster;
        for (int d : {ldFromPort, ldToPort})
            fways[d].rng.seed(fsetup.seed * 2 + std::uint32_t(d));
        frelay = std::thread([this] { Relay(); });
    }

    void Relay() {
        char buf[16384];
        while (!fstop) {
            pollfd p[2] = {{fways[0].from, POLLIN, 0}, {fways[1].from, POLLIN, 0}};
            const timespec wait = UntilNextByte();
            ::ppoll(p, 2, &wait, nullptr);
            for (int d : {ldFromPort, ldToPort}) {
                if (p[d].revents & POLLIN) {
                    const ssize_t n = ::read(p[d].fd, buf, sizeof buf);
                    if (n > 0)
                        flastFrom[d] = Clock::now().time_since_epoch().count();
                    for (ssize_t i = 0; i < n; ++i)
                        Pass(fways[d], TLineDirection(d), buf[i]);
                }
                Deliver(fways[d]);
            }
        }
    }

    // The line's damage to one byte: the faults asked for by index first, then the shares by chance.
    void Pass(TWay &way, TLineDirection d, char byte) {
        const std::int64_t index = way.count++;
        int mask = -1;
        for (const TByteFault &f : fsetup.faults[d])
            if (f.index == index)
                mask = f.mask;
        if (mask < 0) {
            const double u = std::uniform_real_distribution<double>(0, 1)(way.rng);
            mask = u < fsetup.drop[d] ? 0 : u < fsetup.drop[d] + fsetup.flip[d] ? 1 << (way.rng() % 8) : -1;
        }
        if (mask >= 0)
            ++fspoiled[d];
        if (mask == 0)
            return;
        if (way.pending.empty()) // an idle line starts sending now
            way.lineFree = std::max(way.lineFree, Clock::now());
        way.pending.push_back(char(byte ^ std::max(mask, 0)));
    }

    Clock::duration ByteTime() const {
        return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / fsetup.bytesPerSecond));
    }

    // The relay sleeps until the next paced byte is due (20 ms when none is), so bytes reach the far
    // end when a real line would deliver them, not at the next round of some coarser tick.
    timespec UntilNextByte() const {
        Clock::duration wait = std::chrono::milliseconds(20);
        for (const TWay &way : fways)
            if (!way.pending.empty())
                wait = fsetup.bytesPerSecond > 0 ? std::min(wait, way.lineFree + ByteTime() - Clock::now())
                                                : Clock::duration::zero();
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(std::max(wait, Clock::duration::zero()));
        return timespec{time_t(ns.count() / 1000000000), long(ns.count() % 1000000000)};
    }

    // Hands on the bytes whose time on the paced line is over.
    void Deliver(TWay &way) {
        if (way.pending.empty())
            return;
        const Clock::time_point now = Clock::now();
        size_t ready = way.pending.size();
        if (fsetup.bytesPerSecond > 0) {
            const Clock::duration byteTime = ByteTime();
            for (ready = 0; ready < way.pending.size() && way.lineFree + byteTime <= now; ++ready)
                way.lineFree += byteTime;
        }
        for (size_t off = 0; off < ready;) {
            const ssize_t w = ::write(way.to, way.pending.data() + off, ready - off);
            if (w > 0)
                off += size_t(w);
            else
                ::usleep(200);
        }
        way.pending.erase(way.pending.begin(), way.pending.begin() + std::ptrdiff_t(ready));
    }

    static Clock::time_point Stamp(const std::atomic<std::int64_t> &ticks) {
        return Clock::time_point(Clock::duration(ticks.load()));
    }

    int fport;
    int fsecondPort = 0;
    TLineSetup fsetup;
    int fmaster = -1, fslave = -1, frelayEnd = -1, fpeerEnd = -1, fsecondSlave = -1;
    QString fportPath;
    TWay fways[2];
    std::atomic<bool> fstop{false};
    std::atomic<std::int64_t> flastFrom[2] = {0, 0};
    std::atomic<int> fspoiled[2] = {0, 0};
    std::thread frelay;
};
