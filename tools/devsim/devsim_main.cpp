// veltra_devsim: the device simulator as a program. Prints the port path as its first line and
// serves it until SIGTERM or SIGINT; see DevSimUsage() for the options.
#include "LuVerInfo.h"
#include "TDevSim.h"

#include <QFile>
#include <atomic>
#include <csignal>
#include <cstdio>

namespace {

std::atomic<TDevSim *> gSim{nullptr};

void OnStopSignal(int) {
    if (TDevSim *sim = gSim.load())
        sim->Stop();
}

void CatchStopSignals() {
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

bool WriteLinkFile(const QString &fileName, const QString &portPath, QString &error) {
    if (fileName.isEmpty())
        return true;
    QFile file(fileName);
    const QByteArray text = portPath.toLocal8Bit() + '\n';
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(text) == text.size())
        return true;
    error = QStringLiteral("cannot write ") + fileName;
    return false;
}

int Fail(const QString &text, int code) {
    std::fprintf(stderr, "veltra_devsim: %s\n", qPrintable(text));
    return code;
}

} // namespace

int main(int argc, char **argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments += QString::fromLocal8Bit(argv[i]);
    const TDevSimCommandLine commandLine = ParseDevSimCommandLine(arguments);
    if (!commandLine.fError.isEmpty())
        return Fail(commandLine.fError + QStringLiteral(" (--help lists the options)"), dsxBadArguments);
    if (commandLine.fHelp) {
        std::fputs(qPrintable(DevSimUsage()), stdout);
        return dsxStopped;
    }
    if (commandLine.fVersion) {
        // There is no application object to ask; the simulator runs on POSIX systems only (ptys).
        std::printf("%s\n", qPrintable(VersionLine(QStringLiteral("/proc/self/exe"))));
        return dsxStopped;
    }
    TDevSim sim(commandLine.fOptions);
    QString error;
    if (!sim.Open(error) || !WriteLinkFile(commandLine.fOptions.fLinkFile, sim.PortPath(), error))
        return Fail(error, dsxOpenFailed);
    std::printf("%s\n", qPrintable(sim.PortPath()));
    std::fflush(stdout);
    gSim.store(&sim);
    CatchStopSignals();
    const int code = sim.Run();
    gSim.store(nullptr);
    return code;
}
