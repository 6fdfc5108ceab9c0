// A program run to its end, for the tests of the installation and the package: the build's tools
// (cmake, cpack), Debian's (dpkg-deb, desktop-file-validate) and the installed programs.
#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <gtest/gtest.h>

struct TProgramRun {
    int exitCode = -1; // -1: did not start, crashed or ran out of time
    QString out;
    QString err;
};

inline TProgramRun
RunProgram(const QString &program, const QStringList &arguments,
           const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment(),
           int limitMs = 60000) {
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    TProgramRun run;
    if (!process.waitForFinished(limitMs)) {
        process.kill();
        process.waitForFinished(1000);
        ADD_FAILURE() << program.toStdString() << " did not finish: " << arguments.join(u' ').toStdString();
    } else if (process.exitStatus() == QProcess::NormalExit) {
        run.exitCode = process.exitCode();
    }
    run.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(process.readAllStandardError());
    return run;
}
