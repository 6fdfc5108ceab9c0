// The provisioning station at scale, against simulators that answer after 20 ms as a tracker does.
// Each tracker differs from the job in 40 values; the station writes them and reads back. Figures:
//   - 8 trackers in parallel against 1 alone, in the same run (the wall time until every record);
//   - the station's own CPU while 8 slots wait for trackers (empty sockets), as a share of one core;
//   - 32 slots on this machine against 1 alone.
#include "LuFiles.h"
#include "common.h"
#include "devsim_process.h"
#include "provisioning_station.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <cstdio>
#include <functional>
#include <memory>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int Differing = 40;
const QString DataDir = QStringLiteral(VELTRA_DATA_DIR);

class TCount : public TStationObserver {
public:
    int records = 0, done = 0;
    void Recorded(const TAuditRecord &r) override {
        ++records;
        done += r.result == u"done";
        if (r.result != u"done")
            std::fprintf(stderr, "%s %s: %s\n", qPrintable(r.imei), qPrintable(r.result), qPrintable(r.reason));
    }
};

bool ServeUntil(const std::function<bool()> &finished, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!finished()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QEventLoop loop;
        QTimer::singleShot(5, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

class TBench {
public:
    TBench() {
        AppSettings = new TLuHash();
        LogLevel = 6;
        AppMessage = RegisterMessageName(QStringLiteral("station-bench"));
        ProgressMessage = RegisterMessageName(QStringLiteral("Veltra Progress Message"));
        AppDataDir = fdir.filePath(QStringLiteral("appdata/"));
        MainLogFile = fdir.filePath(QStringLiteral("main.log"));
        CmdLogFile = fdir.filePath(QStringLiteral("cmd.log"));
        DbgLogFile = ComLogFile = QString();
        fdescription.Load(DataDir + QStringLiteral("/veltra_params.conf"), true);
        // The job is the sample configuration; each tracker starts with 40 of its values changed.
        fjob = fdir.filePath(QStringLiteral("bench.job"));
        WriteTextFile(fjob, QStringLiteral("name=bench\nconfig=") + DataDir + QStringLiteral("/devsim_default.cfg\n"), true);
        TLuHash values;
        values.Load(DataDir + QStringLiteral("/devsim_default.cfg"), true);
        int changed = 0;
        for (int i = 0; i < values.Count() && changed < Differing; ++i)
            if (!values.GetValByIndex(i).isEmpty() && values.GetValByIndex(i) != u"NOT USE") {
                values.SetVal(values.GetKey(i), QStringLiteral("stale%1").arg(i));
                ++changed;
            }
        ftracker = fdir.filePath(QStringLiteral("tracker.cfg"));
        values.Save(ftracker, QStringLiteral("="));
    }

    // Wall milliseconds until `count` trackers, each on its own slot, are recorded (-1: not all done).
    double Run(int count, int run) {
        std::vector<std::unique_ptr<TDevSimProcess>> sims;
        QStringList ports;
        AppSettings->Clear();
        for (int i = 1; i <= count; ++i) {
            sims.push_back(std::make_unique<TDevSimProcess>(
                QStringList{"--config", ftracker, "--delay", "20", "--ident",
                            QStringLiteral("VT-300 HW:12 SW:345 IMEI:35693803%1").arg(run * 1000 + i, 7, 10, QChar(u'0'))}));
            AppSettings->SetVal(QStringLiteral("com%1").arg(i), sims.back()->SlavePath());
            ports << QString::number(i);
        }
        Settle(ports, run);
        TCount count_;
        TProvisioningStation station(count_);
        QStringList problems;
        QElapsedTimer clock;
        clock.start();
        if (!station.Start(fjob, fdescription, problems)) {
            std::fprintf(stderr, "%s\n", qPrintable(problems.join(u'\n')));
            return -1;
        }
        const bool all = ServeUntil([&] { return count_.records >= count; }, 300000);
        const double ms = double(clock.elapsed());
        return all && count_.done == count ? ms : -1;
    }

    // The station's CPU share of one core while `count` slots wait at empty sockets.
    double IdleCpu(int count, int seconds) {
        AppSettings->Clear();
        QStringList ports;
        for (int i = 1; i <= count; ++i) {
            AppSettings->SetVal(QStringLiteral("com%1").arg(i), fdir.filePath(QStringLiteral("empty%1").arg(i)));
            ports << QString::number(i);
        }
        Settle(ports, 99);
        TCount none;
        TProvisioningStation station(none);
        QStringList problems;
        if (!station.Start(fjob, fdescription, problems))
            return -1;
        ServeUntil([] { return false; }, 1000); // past the first scans
        const double cpu0 = CpuSeconds();
        QElapsedTimer clock;
        clock.start();
        ServeUntil([] { return false; }, seconds * 1000);
        return (CpuSeconds() - cpu0) / (double(clock.elapsed()) / 1000.0) * 100.0;
    }

private:
    void Settle(const QStringList &ports, int run) {
        AppSettings->SetVal(QStringLiteral("com_ports"), ports.join(u','));
        AppSettings->SetVal(QStringLiteral("log_dir"), fdir.filePath(QStringLiteral("logs%1").arg(run)));
        AppSettings->SetVal(QStringLiteral("audit"), fdir.filePath(QStringLiteral("audit%1.jsonl").arg(run)));
    }

    QTemporaryDir fdir;
    TLuHash fdescription;
    QString fjob, ftracker;
};

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    TBench bench;
    const double one = bench.Run(1, 1);
    const double eight = bench.Run(8, 2);
    std::printf("station 1 tracker, %d values written and verified: %.0f ms\n", Differing, one);
    std::printf("station 8 trackers in parallel: %.0f ms\n", eight);
    std::printf("station 8 parallel / 1 alone: %.2f (target: at most 1.3)\n", eight / one);
    const double idle = bench.IdleCpu(8, 10);
    std::printf("station CPU while 8 slots wait: %.2f %% of one core (target: under 2 %%)\n", idle);
    const double thirtyTwo = bench.Run(32, 3);
    std::printf("station 32 trackers in parallel: %.0f ms\n", thirtyTwo);
    std::printf("station 32 parallel / 1 alone: %.2f\n", thirtyTwo / one);
    std::printf("station 32 slots: %.0f trackers per hour\n", thirtyTwo > 0 ? 32 * 3600000.0 / thirtyTwo : 0.0);
    return one > 0 && eight > 0 && thirtyTwo > 0 ? 0 : 1;
}
