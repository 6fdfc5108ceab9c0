// veltra_devsim run as a process of its own on a new pseudo-terminal, for the tests and benchmarks that
// drive the real engine or the real programs against it. VELTRA_DEVSIM_PATH names the program.
#pragma once

#include <QFile>
#include <QProcess>
#include <QStringList>
#include <csignal>
#include <sys/prctl.h>

class TDevSimProcess {
public:
    explicit TDevSimProcess(const QStringList &args) {
        fprocess.setProgram(QStringLiteral(VELTRA_DEVSIM_PATH));
        fprocess.setArguments(args);
        fprocess.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        // A test that dies (a sanitizer's abort) takes its simulators along: a simulator left running
        // would hold the test's output open and CTest would wait for it until the time-out.
        fprocess.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
        fprocess.start();
        if (fprocess.waitForStarted(5000) && fprocess.waitForReadyRead(5000))
            fpath = QString::fromLocal8Bit(fprocess.readLine()).trimmed();
    }
    ~TDevSimProcess() {
        fprocess.terminate();
        if (!fprocess.waitForFinished(3000))
            fprocess.kill();
        fprocess.waitForFinished(1000);
    }
    QString SlavePath() const { return fpath; }

private:
    QProcess fprocess;
    QString fpath;
};

// The simulator's configuration as `read` prints it: the file without its comments.
inline QString ConfigLines(const QString &fileName) {
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    QString lines;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine());
        if (!line.startsWith(u'#'))
            lines += line;
    }
    return lines;
}
