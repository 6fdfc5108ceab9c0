// A program of ours run as a user runs it, watched by a test: what a script would see is returned,
// standard output, standard error, the exit code and the time it took. A run that outlasts its limit
// is killed and fails the test.
#pragma once

#include <QElapsedTimer>
#include <QProcess>
#include <QString>
#include <gtest/gtest.h>

struct TCliResult {
    int exitCode = -1;
    QString out;
    QString err;
    qint64 elapsedMs = 0;
};

class TWatchedProcess {
public:
    ~TWatchedProcess() {
        if (fprocess.state() != QProcess::NotRunning) {
            fprocess.kill();
            fprocess.waitForFinished(3000);
        }
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

    TCliResult Finish(int limitMs) {
        TCliResult result;
        if (!fprocess.waitForFinished(limitMs)) {
            fprocess.kill();
            fprocess.waitForFinished(1000);
            ADD_FAILURE() << "did not finish: " << fprocess.arguments().join(u' ').toStdString();
        } else if (fprocess.exitStatus() == QProcess::NormalExit) {
            result.exitCode = fprocess.exitCode();
        }
        result.elapsedMs = ftimer.elapsed();
        result.out = fout + QString::fromLocal8Bit(fprocess.readAllStandardOutput());
        result.err = QString::fromLocal8Bit(fprocess.readAllStandardError());
        return result;
    }

protected:
    // Starts `program` with `arguments`; the caller has set the environment and folder.
    void Start(const QString &program, const QStringList &arguments) {
        ftimer.start();
        fprocess.start(program, arguments);
        fprocess.waitForStarted(5000);
    }

    QProcess fprocess;

private:
    QElapsedTimer ftimer;
    QString fout; // what WaitForOutput has read so far
};
