// The real engine against the real device simulator: the simulator runs as its own process on a pty
// of its own, the engine finds it through a com<N> mapping, and a recording receiver on the main
// thread takes the engine's notifications (AppMessage and ProgressMessage) the way the main window does.
#pragma once

#include "LuFiles.h"
#include "common.h"
#include "devsim_process.h"
#include "notify.h"
#include "veltra_commander.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <cstdio>

struct TEvent {
    int code;
    qint64 value;
    QString lastCmd;
    QString lastAns;
    QString text;
};

struct TProgressEvent {
    int code;
    qint64 value;
    QString text;
    size_t appEvents; // AppMessage events recorded before it: the order of the two streams
};

class TRecorder : public TNotifyReceiver {
public:
    TVeltraCommander *engine = nullptr;
    std::vector<TEvent> events;
    std::vector<TProgressEvent> progress;
    std::function<void(const TEvent &)> onEvent;
    std::function<void(const TProgressEvent &)> onProgress;

    void HandleNotification(quint32 msg, int code, qint64 value, const QString &text) override {
        if (msg == ProgressMessage) {
            progress.push_back({code, value, text, events.size()});
            if (onProgress)
                onProgress(progress.back());
        }
        if (msg != AppMessage)
            return;
        TEvent e{code, value, engine ? engine->LastCmd() : QString(), engine ? engine->LastAns() : QString(),
                 text};
        events.push_back(e);
        if (onEvent)
            onEvent(e);
    }
    int CountOf(int code, qint64 value) const {
        return int(std::count_if(events.begin(), events.end(),
                                 [&](const TEvent &e) { return e.code == code && e.value == value; }));
    }
    const TEvent *LastOf(int code) const {
        for (auto it = events.rbegin(); it != events.rend(); ++it)
            if (it->code == code)
                return &*it;
        return nullptr;
    }
};

inline bool PumpUntil(const std::function<bool()> &done, int timeoutMs) {
    const QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
    return true;
}

inline void Pump(int ms) {
    PumpUntil([] { return false; }, ms);
}

// Process-wide values as start-up would set them, with the logs in a temporary folder.
class EngineTest : public ::testing::Test {
protected:
    QTemporaryDir logDir;
    TRecorder recorder;
    std::unique_ptr<TVeltraCommander> engine;

    void SetUp() override {
        if (!AppSettings)
            AppSettings = new TLuHash();
        AppSettings->Clear();
        LogLevel = 6;
        AppMessage = RegisterMessageName(QStringLiteral("engine-test"));
        ProgressMessage = RegisterMessageName(QStringLiteral("engine-test-progress"));
        CmdLogFile = logDir.filePath(QStringLiteral("cmd.log"));
        DbgLogFile = logDir.filePath(QStringLiteral("dbg.log"));
        ComLogFile = logDir.filePath(QStringLiteral("com.log"));
        MainLogFile = logDir.filePath(QStringLiteral("main.log"));
        MainWindowHandle = &recorder;
    }
    void TearDown() override {
        // The recorder reads the engine in its handler: the engine stops while it is whole.
        if (engine)
            engine->Stop();
        engine.reset();
        MainWindowHandle = nullptr;
    }
    // Port N opens a link in the test's folder: the setting is written before the engine starts and
    // never again, and the link can be pointed at another device while the engine runs.
    void MapPort(int port, const QString &path) {
        const QString link = PortLink(port);
        if (!AppSettings->GetVal(QStringLiteral("com%1").arg(port)).isEmpty()) {
            // A new link renamed over the old one: the engine sees one device or the other, never none.
            const QString fresh = link + QStringLiteral(".new");
            QFile::remove(fresh);
            ASSERT_TRUE(QFile::link(path, fresh));
            ASSERT_EQ(::rename(QFile::encodeName(fresh).constData(), QFile::encodeName(link).constData()), 0);
            return;
        }
        QFile::remove(link);
        ASSERT_TRUE(QFile::link(path, link));
        AppSettings->SetVal(QStringLiteral("com%1").arg(port), link);
    }
    QString PortLink(int port) const { return logDir.filePath(QStringLiteral("tty%1").arg(port)); }
    void StartEngine(const QString &comPorts) {
        AppSettings->SetVal(QStringLiteral("com_ports"), comPorts);
        engine = std::make_unique<TVeltraCommander>();
        recorder.engine = engine.get();
    }
    // Until the main window would have been told that the device is there.
    bool WaitPresent(int timeoutMs = 5000) {
        return PumpUntil(
            [&] {
                for (auto it = recorder.events.rbegin(); it != recorder.events.rend(); ++it)
                    if (it->code == MSG_DEV_PRESENT || it->code == MSG_DEV_INFO)
                        return it->value == 1;
                return false;
            },
            timeoutMs);
    }
    // Queues a line and waits for the code 4 it brings.
    TEvent Run(const QString &line, int timeoutMs = 8000) {
        const size_t before = recorder.events.size();
        engine->PutCmd(line);
        TEvent result{-1, -1, {}, {}, {}};
        PumpUntil(
            [&] {
                for (size_t i = before; i < recorder.events.size(); ++i)
                    if (recorder.events[i].code == MSG_DEV_CMD) {
                        result = recorder.events[i];
                        return true;
                    }
                return false;
            },
            timeoutMs);
        return result;
    }
    QString CmdLog() const { return ReadTextFile(CmdLogFile, 0); }
};
