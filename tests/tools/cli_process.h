// veltra_cli run as a user runs it: the real program with its settings on the command line, one port
// mapped to a given device path and its logs kept in the test's folder. What a script would see is
// returned: standard output, standard error, the exit code and the time it took.
#pragma once

#include "watched_process.h"

#include <QStringList>
#include <csignal>
#include <sys/prctl.h>

// Started in `workDir` with port `port` mapped to `device`.
class TCliProcess : public TWatchedProcess {
public:
    TCliProcess(const QString &workDir, int port, const QString &device, const QStringList &words,
                const QStringList &settings) {
        fprocess.setWorkingDirectory(workDir);
        // The user's configuration folder (backups) is the test's own.
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), workDir + QStringLiteral("/config"));
        fprocess.setProcessEnvironment(environment);
        const QStringList arguments{
            QStringLiteral("com_ports=%1").arg(port), QStringLiteral("com%1=").arg(port) + device,
            QStringLiteral("log_dir=") + workDir + QStringLiteral("/logs"), QStringLiteral("cli_timeout=5")};
        fprocess.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); }); // see TDevSimProcess
        Start(QStringLiteral(VELTRA_CLI_PATH), arguments + settings + words);
    }

    // Ctrl-C, as a terminal delivers it.
    void Interrupt() { ::kill(pid_t(fprocess.processId()), SIGINT); }
};

inline TCliResult RunCli(const QString &workDir, int port, const QString &device, const QStringList &words,
                         const QStringList &settings = {}, int limitMs = 15000) {
    return TCliProcess(workDir, port, device, words, settings).Finish(limitMs);
}
