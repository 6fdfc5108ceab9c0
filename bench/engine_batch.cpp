// A batch of parameter writes through the engine against the device simulator, as the main window
// queues them when it writes a configuration: 200 S_KEY=value lines and the _WRITE_OK marker, timed
// until the marker's result reaches the main thread. The reference, in the same run and on the same
// simulator, is the bare exchange: the same lines written to its pty and the answer line read back.
#include "common.h"
#include "devsim_process.h"
#include "notify.h"
#include "veltra_commander.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr int Writes = 200;
constexpr int Port = 91;
const QString Marker = QStringLiteral("_WRITE_OK");

QString Value(int i) {
    return QStringLiteral("%1").arg(10000 + i);
}

// The main window's part: takes the engine's notifications as soon as they are sent.
class TBatchReceiver : public TNotifyReceiver {
public:
    TVeltraCommander *engine = nullptr;
    QElapsedTimer clock; // started when the batch is queued
    double firstResultMs = -1;
    bool present = false;
    bool markerDone = false;
    int failed = 0;

    void HandleNotification(quint32 msg, int code, qint64 value, const QString &) override {
        if (msg != AppMessage)
            return;
        if (code == MSG_DEV_PRESENT || code == MSG_DEV_INFO) {
            present = value == 1;
        } else if (code == MSG_DEV_CMD) {
            if (firstResultMs < 0)
                firstResultMs = clock.nsecsElapsed() / 1e6;
            if (engine->LastCmd() == Marker)
                markerDone = true;
            else if (value != 1)
                ++failed;
        }
    }
};

// Sleeps in the event loop, as a window's main thread does, so that a send is served at once.
bool ServeUntil(const std::function<bool()> &done, int timeoutMs) {
    QEventLoop loop;
    QTimer limit; // wakes the loop at the deadline when nothing else does
    limit.setSingleShot(true);
    limit.start(timeoutMs);
    while (!done() && limit.isActive())
        loop.processEvents(QEventLoop::WaitForMoreEvents);
    return done();
}

struct TEngineBatch {
    double totalMs = -1; // negative when the batch did not complete
    double firstResultMs = -1;
    int failed = 0;
};

TEngineBatch RunEngineBatch(const QString &device) {
    AppSettings->SetVal(QStringLiteral("com_ports"), QString::number(Port));
    AppSettings->SetVal(QStringLiteral("com%1").arg(Port), device);
    TBatchReceiver receiver;
    MainWindowHandle = &receiver;
    TEngineBatch batch;
    {
        TVeltraCommander engine;
        receiver.engine = &engine;
        if (ServeUntil([&] { return receiver.present; }, 10000)) {
            receiver.clock.start();
            for (int i = 0; i < Writes; ++i)
                engine.PutCmd(QStringLiteral("S_KEY=") + Value(i));
            engine.PutCmd(Marker);
            if (ServeUntil([&] { return receiver.markerDone; }, 30000))
                batch.totalMs = receiver.clock.nsecsElapsed() / 1e6;
        }
    }
    MainWindowHandle = nullptr;
    batch.firstResultMs = receiver.firstResultMs;
    batch.failed = receiver.failed;
    return batch;
}

// Milliseconds for the whole batch on the bare pty, or a negative figure when an answer did not come.
double RawBatchMs(const QString &device) {
    const int fd = ::open(device.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return -1;
    termios tio{};
    ::tcgetattr(fd, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(fd, TCSANOW, &tio);
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < Writes; ++i) {
        const QByteArray command = "S_KEY=" + Value(i).toLatin1() + "\r\n";
        const QByteArray answer = "  KEY=" + Value(i).toLatin1() + "\r\n";
        (void)::write(fd, command.constData(), size_t(command.size()));
        // The echo comes first; the answer line is the one that counts.
        QByteArray got;
        while (!got.endsWith(answer)) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 1000) <= 0) {
                ::close(fd);
                return -1;
            }
            char buf[256];
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n > 0)
                got.append(buf, n);
        }
    }
    const double ms = timer.nsecsElapsed() / 1e6;
    ::close(fd);
    return ms;
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir logDir;
    AppSettings = new TLuHash();
    AppMessage = RegisterMessageName(QStringLiteral("engine-batch"));
    CmdLogFile = logDir.filePath(QStringLiteral("cmd.log"));
    DbgLogFile = logDir.filePath(QStringLiteral("dbg.log"));
    ComLogFile = logDir.filePath(QStringLiteral("com.log"));
    MainLogFile = logDir.filePath(QStringLiteral("main.log"));

    TDevSimProcess sim({});
    if (sim.SlavePath().isEmpty()) {
        std::printf("error: the device simulator did not start\n");
        return 1;
    }
    const TEngineBatch batch = RunEngineBatch(sim.SlavePath());
    if (batch.totalMs < 0 || batch.failed > 0) {
        std::printf("error: the engine's batch did not complete (%d writes failed)\n", batch.failed);
        return 1;
    }
    // The engine has let the port go: the same pty serves the reference.
    const double rawMs = RawBatchMs(sim.SlavePath());
    if (rawMs < 0) {
        std::printf("error: the simulator stopped answering the bare exchange\n");
        return 1;
    }
    const double rawPer = rawMs / Writes;
    const double enginePer = batch.totalMs / Writes;
    // From the first write's result to the marker's: the exchanges alone, without what the engine
    // does in its cycle before it takes the queue.
    const double steadyPer = (batch.totalMs - batch.firstResultMs) / (Writes - 1);
    std::printf("engine_batch_total: %.1f ms\n", batch.totalMs);
    std::printf("engine_first_result: %.1f ms\n", batch.firstResultMs);
    std::printf("engine_per_exchange: %.3f ms\n", enginePer);
    std::printf("engine_per_exchange_after_first: %.3f ms\n", steadyPer);
    std::printf("raw_per_exchange: %.3f ms\n", rawPer);
    std::printf("overhead_per_exchange: %.3f ms\n", enginePer - rawPer);
    std::printf("overhead_per_exchange_after_first: %.3f ms\n", steadyPer - rawPer);
    std::printf("ratio_engine_raw: %.2f x\n", enginePer / rawPer);
    std::printf("ratio_engine_after_first_raw: %.2f x\n", steadyPer / rawPer);
    return 0;
}
