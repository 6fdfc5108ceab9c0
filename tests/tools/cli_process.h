// veltra_cli run as a user runs it: the real program with its settings on the command line, one port
// mapped to a given device path and its logs kept in the test's folder. What a script would see is
// returned: standard output, standard error, the exit code and the time it took.
#pragma once

#include <QElapsedTimer>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <csignal>
#include <sys/prctl.h>
#include <gtest/gtest.h>

struct TCliResult {
    int exitCode = -1;
    QString out;
    QString err;
    qint64 elapsedMs = 0;
};

// Started in `workDir` with port `port` mapped to `device`.
class TCliProcess {
public:
    TCliProcess(const QString &workDir, int port, const QString &device, const QStringList &words,
                const QStringList &settings)
        : fwords(words.join(u' ')) {
        fprocess.setWorkingDirectory(workDir);
        // The user's configuration folder (backups) is the test's own.
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), workDir + QStringLiteral("/config"));
        fprocess.setProcessEnvironment(environment);
        const QStringList arguments{
            QStringLiteral("com_ports=%1").arg(port), QStringLiteral("com%1=").arg(port) + device,
            QStringLiteral("log_dir=") + workDir + QStringLiteral("/logs"), QStringLiteral("cli_timeout=5")};
        ftimer.start();
        fprocess.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); }); // see TDevSimProcess
        fprocess.start(QStringLiteral(VELTRA_CLI_PATH), arguments + settings + words);
        fprocess.waitForStarted(5000);
    }

    // Reads standard output until it contains `text`; false when the program ended or the time ran out.
    bool WaitForOutput(const QString &text, int limitMs) {
        QElapsedTimer waited;
        waited.start();
        while (!fout.contains(text) && waited.elapsed() < limitMs && fprocess.state() == QProcess::Running) {
            fprocess.waitForReadyRead(100);
            fout += QString::fromLocal8Bit(fprocess.readAllStandardOutput());
        }
        return fout.contains(text);
    }

    // Ctrl-C, as a terminal delivers it.
    void Interrupt() { ::kill(pid_t(fprocess.processId()), SIGINT); }

    // A run that outlasts `limitMs` is killed and fails the test.
    TCliResult Finish(int limitMs) {
        TCliResult result;
        if (!fprocess.waitForFinished(limitMs)) {
            fprocess.kill();
            fprocess.waitForFinished(1000);
            ADD_FAILURE() << "veltra_cli did not finish: " << fwords.toStdString();
        } else if (fprocess.exitStatus() == QProcess::NormalExit) {
            result.exitCode = fprocess.exitCode();
        }
        result.elapsedMs = ftimer.elapsed();
        result.out = fout + QString::fromLocal8Bit(fprocess.readAllStandardOutput());
        result.err = QString::fromLocal8Bit(fprocess.readAllStandardError());
        return result;
    }

private:
    QString fwords;
    QProcess fprocess;
    QElapsedTimer ftimer;
    QString fout; // what WaitForOutput has read so far
};

inline TCliResult RunCli(const QString &workDir, int port, const QString &device, const QStringList &words,
                         const QStringList &settings = {}, int limitMs = 15000) {
    return TCliProcess(workDir, port, device, words, settings).Finish(limitMs);
}
