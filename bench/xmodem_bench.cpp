// XModem-CRC transfers of 1 MB of random data: TLuXYModem against lrzsz, in the same run, over the same
// kind of line (a pty joined by a relay thread to a socket, TPtyBridge). Sending: our SendFile into
// "rx -c". Receiving: our ReadFile from "sx". The reference, in both directions and alternating with
// ours, is "sx" into "rx -c". Ours is always on the pty, its partner on the socket. Both block sizes
// are run; each figure is the median of a few rounds.
//
// The clock starts with the receiver (the sender is already waiting for it). It stops twice: when the
// sender's EOT passes the relay (the transfer proper), and when the receiver has the whole file (rx has
// exited, or our worker reports the end of the file). The two differ because rx, after an EOT, waits a
// whole second for anything that might follow before it writes its last bytes and acknowledges. A
// sender still waiting for the acknowledgement of its EOT after the receiver is done (a receiver that
// resets its terminal on exit may throw it away) gets a short grace and is stopped, so such a wait
// counts for neither side. CPU time: lrzsz's from wait4; ours is this process's time minus the relay
// thread's. Last, our sender into our receiver over a paced, noisy line (NoisyLine below).
#include "LuProto.h"
#include "comm/pty_bridge.h"
#include "common.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <mutex>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <tuple>
#include <vector>

extern char **environ;

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int FileSize = 1 << 20;
constexpr int Rounds = 5;
constexpr auto RunLimit = 60s;
constexpr auto EotGrace = 1s;
constexpr int Port = 92;

double Seconds(const timeval &t) {
    return double(t.tv_sec) + double(t.tv_usec) / 1e6;
}

double CpuSeconds(const rusage &u) {
    return Seconds(u.ru_utime) + Seconds(u.ru_stime);
}

double SecondsBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

// A peer program on `fd` (its standard input and output) in `folder`, started with posix_spawn and
// reaped by a thread of its own, which notes when it exited and what it used.
class TChild {
public:
    TChild(const QStringList &args, int fd, const QString &folder) {
        std::vector<QByteArray> bytes;
        for (const QString &a : args)
            bytes.push_back(a.toLocal8Bit());
        std::vector<char *> argv;
        for (QByteArray &b : bytes)
            argv.push_back(b.data());
        argv.push_back(nullptr);
        const QByteArray dir = folder.toLocal8Bit();
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fd, 0);
        posix_spawn_file_actions_adddup2(&actions, fd, 1);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addchdir_np(&actions, dir.constData());
        if (posix_spawnp(&fpid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
            fpid = -1;
        posix_spawn_file_actions_destroy(&actions);
        if (fpid > 0)
            freaper = std::thread([this] { Reap(); });
    }
    ~TChild() {
        Kill();
        if (freaper.joinable())
            freaper.join();
    }
    bool Started() const { return fpid > 0; }
    bool WaitExit(Clock::time_point deadline) {
        std::unique_lock<std::mutex> guard(flock);
        return fdone.wait_until(guard, deadline, [this] { return fexited; });
    }
    void Kill() {
        std::lock_guard<std::mutex> guard(flock);
        if (fpid > 0 && !fexited)
            ::kill(fpid, SIGKILL);
    }
    // Valid once it has exited.
    Clock::time_point ExitedAt() const { return fexitedAt; }
    double Cpu() const { return CpuSeconds(fusage); }
    bool ExitedCleanly() const { return WIFEXITED(fstatus) && WEXITSTATUS(fstatus) == 0; }

private:
    void Reap() {
        int status = 0;
        rusage usage{};
        ::wait4(fpid, &status, 0, &usage);
        const Clock::time_point at = Clock::now();
        std::lock_guard<std::mutex> guard(flock);
        fstatus = status;
        fusage = usage;
        fexitedAt = at;
        fexited = true;
        fdone.notify_all();
    }

    pid_t fpid = -1;
    std::thread freaper;
    std::mutex flock;
    std::condition_variable fdone;
    bool fexited = false;
    int fstatus = -1;
    rusage fusage{};
    Clock::time_point fexitedAt;
};

// Our side of a line: the port object on the bridge's pty and a modem on it.
struct TOurEnd {
    TPtyBridge line{Port};
    TLuPCom com;
    TLuXYModem modem;

    TOurEnd() {
        com.SetPort(Port);
        com.SetBaudRate(115200);
        com.SetFlowCtrl(fcNone);
        com.Open();
        modem.SetComPort(&com);
    }
    double Cpu() {
        rusage self{};
        getrusage(RUSAGE_SELF, &self);
        return CpuSeconds(self) - line.RelayCpuSeconds();
    }
    bool WaitReady(Clock::time_point deadline) {
        while (modem.Status() != lupsReady) {
            if (Clock::now() >= deadline)
                return false;
            QThread::msleep(5);
        }
        return true;
    }
};

struct TRun {
    bool ok = false;
    double seconds = 0; // to the sender's EOT on the line
    double toFile = 0;  // until the receiver has the whole file
    double senderCpu = 0;
    double receiverCpu = 0;
    bool senderStopped = false; // still waiting for its EOT acknowledgement when the receiver was done
};

class TBench {
public:
    QTemporaryDir dir;
    QByteArray data;

    bool Prepare() {
        data.resize(FileSize);
        QRandomGenerator rng(20240601);
        for (char &c : data)
            c = char(rng.bounded(256));
        QFile f(Source());
        return dir.isValid() && f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
    }
    QString Source() const { return dir.filePath(QStringLiteral("out.bin")); }
    // A fresh folder for each reception, so that a name never exists already.
    QString Target() {
        const QString folder = dir.filePath(QStringLiteral("in%1").arg(++ftargets));
        QDir().mkpath(folder);
        return folder;
    }
    bool Received(const QString &folder) const {
        QFile f(QDir(folder).filePath(QStringLiteral("in.bin")));
        return f.open(QIODevice::ReadOnly) && f.readAll() == data;
    }

    static QStringList Sx(bool oneK) {
        return oneK ? QStringList{"sx", "-k", "out.bin"} : QStringList{"sx", "out.bin"};
    }
    static QStringList Rx() { return {"rx", "-c", "in.bin"}; }

    // A sender has a grace after the receiver is done, then it is stopped; true when it had to be.
    static bool FinishSender(TChild &sender, Clock::time_point receiverDone) {
        if (sender.WaitExit(receiverDone + EotGrace))
            return false;
        sender.Kill();
        sender.WaitExit(Clock::now() + 5s);
        return true;
    }

    TRun OursSend(bool oneK) {
        TRun run;
        TOurEnd ours;
        ours.modem.SetBlockSize(oneK ? 1024 : 128);
        const QString target = Target();
        const double cpu0 = ours.Cpu();
        if (ours.modem.SendFileAsync(Source(), false) != xmOK)
            return run;
        const Clock::time_point t0 = Clock::now();
        TChild rx(Rx(), ours.line.PeerFd(), target);
        if (!rx.Started() || !rx.WaitExit(t0 + RunLimit)) {
            rx.Kill();
            ours.modem.Cancel();
            ours.WaitReady(Clock::now() + 5s);
            return run;
        }
        const Clock::time_point eot = ours.line.LastFromPort();
        if (!ours.WaitReady(rx.ExitedAt() + EotGrace)) {
            ours.modem.Cancel();
            run.senderStopped = true;
            ours.WaitReady(Clock::now() + 5s);
        }
        run.senderCpu = ours.Cpu() - cpu0;
        run.receiverCpu = rx.Cpu();
        run.seconds = SecondsBetween(t0, eot);
        run.toFile = SecondsBetween(t0, rx.ExitedAt());
        run.ok = rx.ExitedCleanly() && Received(target);
        return run;
    }

    // The reference for both directions: sx on the pty, rx on the socket. rx flushes its terminal's
    // input after each acknowledgement; on a pty, where the next block may already be waiting, that
    // throws it away and stalls the transfer for seconds, so rx is never put on the pty.
    TRun Lrzsz(bool oneK) {
        TRun run;
        TPtyBridge line(Port + 1);
        const QString target = Target();
        const int pty = ::open(line.PortPath().toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
        TChild sx(Sx(oneK), pty, dir.path());
        ::close(pty);
        const Clock::time_point t0 = Clock::now();
        TChild rx(Rx(), line.PeerFd(), target);
        if (!sx.Started() || !rx.Started() || !rx.WaitExit(t0 + RunLimit))
            return run;
        run.seconds = SecondsBetween(t0, line.LastFromPort());
        run.toFile = SecondsBetween(t0, rx.ExitedAt());
        run.senderStopped = FinishSender(sx, rx.ExitedAt());
        run.senderCpu = sx.Cpu();
        run.receiverCpu = rx.Cpu();
        run.ok = rx.ExitedCleanly() && Received(target);
        return run;
    }

    TRun OursRead(bool oneK) {
        TRun run;
        TOurEnd ours;
        ours.modem.SetFirstInviteDelay(0);
        Clock::time_point done;
        ours.modem.OnEndReadFile = [&](TLuXYModem *) { done = Clock::now(); };
        const QString target = Target();
        TChild sx(Sx(oneK), ours.line.PeerFd(), dir.path());
        const double cpu0 = ours.Cpu();
        const Clock::time_point t0 = Clock::now();
        if (!sx.Started() || ours.modem.ReadFileAsync(QDir(target).filePath("in.bin"), false) != xmOK)
            return run;
        if (!ours.WaitReady(t0 + RunLimit)) {
            ours.modem.Cancel();
            ours.WaitReady(Clock::now() + 5s);
            return run;
        }
        run.seconds = SecondsBetween(t0, ours.line.LastFromPeer());
        run.toFile = SecondsBetween(t0, done);
        run.senderStopped = FinishSender(sx, done);
        run.receiverCpu = ours.Cpu() - cpu0;
        run.senderCpu = sx.Cpu();
        run.ok = ours.modem.ErrorCode() == xmEndOfText && Received(target);
        return run;
    }

private:
    int ftargets = 0;
};

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

struct TFigures {
    std::vector<double> seconds, toFile, senderCpu, receiverCpu;
    int senderStopped = 0;

    bool Add(const TRun &run) {
        seconds.push_back(run.seconds);
        toFile.push_back(run.toFile);
        senderCpu.push_back(run.senderCpu);
        receiverCpu.push_back(run.receiverCpu);
        senderStopped += run.senderStopped ? 1 : 0;
        return run.ok;
    }
    static double KBps(const std::vector<double> &seconds) { return FileSize / 1024.0 / Median(seconds); }
};

// One direction and block size: ours and the reference alternately, then the medians. `oursSends`
// says which side of each run is ours.
bool Compare(const char *name, bool oursSends, const std::function<TRun()> &ours,
             const std::function<TRun()> &reference) {
    TFigures o, r;
    for (int round = 0; round < Rounds; ++round) {
        for (auto [figures, run, who] : {std::tuple{&o, &ours, "ours"}, std::tuple{&r, &reference, "lrzsz"}})
            if (!figures->Add((*run)())) {
                std::printf("error: %s: %s failed, stalled or delivered a wrong file (round %d)\n", name, who,
                            round + 1);
                return false;
            }
    }
    const auto &oursCpu = oursSends ? o.senderCpu : o.receiverCpu;
    const auto &refCpu = oursSends ? r.senderCpu : r.receiverCpu;
    const auto &partnerOfOurs = oursSends ? o.receiverCpu : o.senderCpu;
    const auto &partnerOfRef = oursSends ? r.receiverCpu : r.senderCpu;
    for (const auto &[suffix, ofTime, rfTime] :
         {std::tuple{"", &o.seconds, &r.seconds}, std::tuple{"_until_file", &o.toFile, &r.toFile}}) {
        const double ours = TFigures::KBps(*ofTime), reference = TFigures::KBps(*rfTime);
        std::printf("%s%s_ours: %.0f KB/s\n", name, suffix, ours);
        std::printf("%s%s_lrzsz: %.0f KB/s\n", name, suffix, reference);
        std::printf("%s%s_ratio: %.2f x\n", name, suffix, ours / reference);
    }
    std::printf("%s_cpu_ours: %.1f ms\n", name, Median(oursCpu) * 1000);
    std::printf("%s_cpu_lrzsz: %.1f ms\n", name, Median(refCpu) * 1000);
    std::printf("%s_cpu_ratio: %.2f x\n", name, Median(oursCpu) / Median(refCpu));
    std::printf("%s_cpu_partner_of_ours: %.1f ms\n", name, Median(partnerOfOurs) * 1000);
    std::printf("%s_cpu_partner_of_lrzsz: %.1f ms\n", name, Median(partnerOfRef) * 1000);
    std::printf("%s_senders_stopped_after_eot: %d of %d\n", name, o.senderStopped + r.senderStopped,
                2 * Rounds);
    return true;
}

// Our sender into our receiver over a line paced to 115200 baud (two stop bits) with a share of the
// bytes damaged, one bit flipped, in both directions, from a fixed seed per run. The clock runs from the
// receiver's start to the end of its file; efficiency is payload bytes / (that time x line rate).
constexpr int NoisyFileSize = 50000;
constexpr int NoisySeeds = 5;
constexpr auto NoisyRunLimit = 300s;

struct TNoisyRun {
    bool intact = false;          // the receiver reported the end of the file and has it all
    bool damagedReported = false; // the receiver reported the end of a file it does not have right
    double efficiency = 0;
};

class TNoisyBench {
public:
    bool Prepare() {
        fdata.resize(NoisyFileSize);
        QRandomGenerator rng(20240613);
        for (char &c : fdata)
            c = char(rng.bounded(256));
        QFile f(fdir.filePath(QStringLiteral("noisy.bin")));
        return fdir.isValid() && f.open(QIODevice::WriteOnly) && f.write(fdata) == fdata.size();
    }

    TNoisyRun Run(double share, std::uint32_t seed, int maxRetries) {
        TLineSetup setup;
        setup.bytesPerSecond = LineRate115200;
        setup.seed = seed;
        setup.flip[ldFromPort] = setup.flip[ldToPort] = share;
        TPtyBridge line(Port + 2, Port + 3, setup);
        TLuPCom sendCom, readCom;
        TLuXYModem sender, receiver;
        for (auto [com, modem, port] : {std::tuple{&sendCom, &sender, Port + 2}, std::tuple{&readCom, &receiver, Port + 3}}) {
            com->SetPort(port);
            com->SetBaudRate(115200);
            com->SetFlowCtrl(fcNone);
            com->Open();
            modem->SetComPort(com);
            modem->SetMaxRetries(maxRetries);
        }
        receiver.SetFirstInviteDelay(0);
        Clock::time_point done;
        receiver.OnEndReadFile = [&](TLuXYModem *) { done = Clock::now(); };
        const QString target = fdir.filePath(QStringLiteral("noisy_in_%1.bin").arg(++fruns));
        TNoisyRun run;
        if (sender.SendFileAsync(fdir.filePath(QStringLiteral("noisy.bin")), false) != xmOK)
            return run;
        const Clock::time_point t0 = Clock::now();
        if (receiver.ReadFileAsync(target, false) != xmOK)
            return run;
        while (sender.Status() != lupsReady || receiver.Status() != lupsReady) {
            if (Clock::now() - t0 > NoisyRunLimit) {
                sender.Cancel();
                receiver.Cancel();
            }
            QThread::msleep(20);
        }
        QFile f(target);
        const bool whole = f.open(QIODevice::ReadOnly) && f.readAll().left(NoisyFileSize) == fdata &&
                           f.size() < NoisyFileSize + 128;
        const bool reported = receiver.ErrorCode() == xmEndOfText;
        run.intact = reported && whole;
        run.damagedReported = reported && !whole;
        run.efficiency = run.intact ? NoisyFileSize / (SecondsBetween(t0, done) * LineRate115200) : 0;
        return run;
    }

private:
    QTemporaryDir fdir;
    QByteArray fdata;
    int fruns = 0;
};

bool NoisyLine() {
    TNoisyBench bench;
    if (!bench.Prepare()) {
        std::printf("error: cannot write the noisy run's file\n");
        return false;
    }
    std::printf("noisy_file: %d bytes, XModem-CRC 128-byte blocks, ours into ours\n", NoisyFileSize);
    std::printf("noisy_line: %d bytes/s each way, one bit flipped in the given share of bytes both ways; "
                "%d seeds per share; efficiency: median of the intact runs\n",
                LineRate115200, NoisySeeds);
    int damagedReported = 0;
    // At 1 % three frames in four are hit: 16 misses in a row, the end of the default 15 repetitions,
    // then happen to almost one block in a hundred, so that share is also run with more repetitions.
    for (const auto &[share, retries] : {std::pair{0.0, 15}, std::pair{0.001, 15}, std::pair{0.003, 15},
                                        std::pair{0.01, 15}, std::pair{0.01, 40}}) {
        int intact = 0;
        std::vector<double> efficiency;
        for (std::uint32_t seed = 1; seed <= NoisySeeds; ++seed) {
            const TNoisyRun run = bench.Run(share, seed, retries);
            intact += run.intact ? 1 : 0;
            damagedReported += run.damagedReported ? 1 : 0;
            if (run.intact)
                efficiency.push_back(run.efficiency);
        }
        const QByteArray name = QStringLiteral("noisy_%1%_retries_%2").arg(share * 100, 0, 'f', 1).arg(retries).toLatin1();
        std::printf("%s_intact: %d of %d\n", name.constData(), intact, NoisySeeds);
        std::printf("%s_efficiency: %.2f\n", name.constData(), efficiency.empty() ? 0 : Median(efficiency));
    }
    std::printf("noisy_damaged_files_reported_received: %d\n", damagedReported);
    return damagedReported == 0;
}

} // namespace

// "xmodem_bench noisy" runs only the noisy line.
int main(int argc, char **argv) {
    if (argc > 1 && std::strcmp(argv[1], "noisy") == 0)
        return NoisyLine() ? 0 : 1;
    TBench bench;
    if (!bench.Prepare()) {
        std::printf("error: cannot write the test file\n");
        return 1;
    }
    std::printf("file: %d bytes\n", FileSize);
    std::printf("rounds: %d (medians)\n", Rounds);
    std::printf("clock: from the receiver's start to the sender's EOT on the line; *_until_file: until the "
                "receiver has the whole file (rx exit, our end of file; rx waits 1 s after an EOT)\n");
    std::printf("eot_grace: %lld ms (a sender still waiting for its EOT acknowledgement is stopped)\n",
                (long long)std::chrono::milliseconds(EotGrace).count());
    std::printf("line: pty <-> relay thread <-> socket; ours on the pty, its lrzsz partner on the socket\n");
    std::printf("reference: sx on the pty into rx -c on the socket, for both directions\n");
    std::printf("our_first_invite_delay: 0 ms (receiving)\n");
    bool ok = true;
    for (const bool oneK : {false, true}) {
        const char *sendName = oneK ? "send_1k" : "send_128";
        const char *readName = oneK ? "receive_1k" : "receive_128";
        ok = Compare(
                 sendName, true, [&] { return bench.OursSend(oneK); }, [&] { return bench.Lrzsz(oneK); }) &&
             ok;
        ok = Compare(
                 readName, false, [&] { return bench.OursRead(oneK); }, [&] { return bench.Lrzsz(oneK); }) &&
             ok;
    }
    ok = NoisyLine() && ok;
    return ok ? 0 : 1;
}
