// Line round trips through a pty with an echoing peer: TLuPCom::PutString + ReadString against a plain
// write/poll/read loop on the same pty, in the same run. Prints both mean latencies and their ratio.
#include "LuPCom.h"
#include "common.h"

#include <QElapsedTimer>
#include <atomic>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr int Trips = 1000;
constexpr int Port = 90;

void EchoPeer(int master, const std::atomic<bool> &stop)
{
    char buf[4096];
    while (!stop) {
        pollfd p{master, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0)
            continue;
        const ssize_t n = ::read(master, buf, sizeof buf);
        if (n > 0)
            (void)::write(master, buf, size_t(n));
    }
}

double PlainMicros(const QString &path)
{
    const int fd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    termios t{};
    ::tcgetattr(fd, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(fd, TCSANOW, &t);
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < Trips; ++i) {
        const QByteArray line = "  PARAM_" + QByteArray::number(i) + "=12345\r";
        (void)::write(fd, line.constData(), size_t(line.size()));
        QByteArray got;
        while (!got.endsWith('\r')) {
            pollfd p{fd, POLLIN, 0};
            ::poll(&p, 1, 1000);
            char buf[256];
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n > 0)
                got.append(buf, n);
        }
    }
    const double us = timer.nsecsElapsed() / 1e3 / Trips;
    ::close(fd);
    return us;
}

double PComMicros()
{
    TLuPCom com;
    com.SetPort(Port);
    com.SetBaudRate(115200);
    com.SetFlowCtrl(fcNone);
    com.Open();
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < Trips; ++i) {
        com.PutString(QStringLiteral("  PARAM_%1=12345\r").arg(i));
        if (com.ReadString(false, false, 1000).isEmpty())
            std::printf("error: round trip %d lost\n", i);
    }
    return timer.nsecsElapsed() / 1e3 / Trips;
}

} // namespace

int main()
{
    int master = -1, slave = -1;
    char name[256] = {};
    termios raw{};
    ::cfmakeraw(&raw);
    if (::openpty(&master, &slave, name, &raw, nullptr) != 0) {
        std::printf("error: no pty\n");
        return 1;
    }
    AppSettings = new TLuHash();
    AppSettings->SetVal(QStringLiteral("com%1").arg(Port), QString::fromLocal8Bit(name));
    std::atomic<bool> stop{false};
    std::thread peer(EchoPeer, master, std::cref(stop));
    const double plain = PlainMicros(QString::fromLocal8Bit(name));
    const double pcom = PComMicros();
    stop = true;
    peer.join();
    std::printf("plain_roundtrip: %.1f us\n", plain);
    std::printf("pcom_roundtrip: %.1f us\n", pcom);
    std::printf("ratio_pcom_plain: %.2f x\n", pcom / plain);
    return 0;
}
