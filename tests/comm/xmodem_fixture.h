// A TLuXYModem on a pty. XModemTest: the test plays the other end with raw bytes on the master.
// XModemPeerTest: an lrzsz program (sx, rx, sb, rb) plays it, on a terminal of its own.
#pragma once

#include "LuProto.h"
#include "pty_bridge.h"
#include "pty_fixture.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

inline QByteArray WriteRandomFile(const QString &path, int size, quint32 seed) {
    QByteArray data(size, '\0');
    QRandomGenerator rng(seed);
    for (char &c : data)
        c = char(rng.bounded(256));
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(data);
    return data;
}

inline QByteArray ReadAll(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A peer that stalls must fail the test, not hang it.
inline void FinishPeer(QProcess &peer, int ms = 30000) {
    if (!peer.waitForFinished(ms)) {
        peer.kill();
        peer.waitForFinished(1000);
        ADD_FAILURE() << "peer did not finish";
    }
}

template <typename TLine> class TModemOn : public ::testing::Test {
protected:
    TLine line;
    TLuPCom com;
    TLuXYModem modem;
    QTemporaryDir dir;

    explicit TModemOn(int port) : line(port), fport(port) {}

    void SetUp() override {
        ASSERT_TRUE(line.Ok());
        com.SetPort(fport);
        com.SetBaudRate(115200);
        com.SetFlowCtrl(fcNone);
        com.Open();
        modem.SetComPort(&com);
        modem.SetFirstInviteDelay(0);
    }
    QString Path(const QString &name) const { return dir.filePath(name); }

private:
    int fport;
};

class XModemTest : public TModemOn<TPtyPair> {
protected:
    XModemTest() : TModemOn(43) {}
};

class XModemPeerTest : public TModemOn<TPtyBridge> {
protected:
    XModemPeerTest() : TModemOn(44) {}

    // False when lrzsz is missing.
    bool StartPeer(QProcess &peer, const QString &program, const QStringList &args,
                   const QString &workDir = {}) {
        const QString exe = QStandardPaths::findExecutable(program);
        if (exe.isEmpty())
            return false;
        peer.setWorkingDirectory(workDir.isEmpty() ? dir.path() : workDir);
        line.StartPeer(peer, exe, args);
        return peer.waitForStarted(5000);
    }
};
