// TCliSession: the headless front end's side of the engine. It receives the engine's notifications on
// the main thread like the main window does, and offers blocking steps with time limits for the
// command-line program: wait for the device, run a queued command, watch the device's own lines.
#pragma once

#include "notify.h"
#include "veltra_commander.h"

#include <QString>
#include <functional>
#include <memory>

class TCliSession : public TNotifyReceiver {
public:
    explicit TCliSession(int timeoutMs);
    ~TCliSession() override;

    void HandleNotification(quint32 msg, int code, qint64 value, const QString &text) override;

    // Finds and identifies the device; sends `password` when the device asks for one.
    // 0 present, 2 no device within the time limit, 3 password asked and none (or a wrong one) given.
    int WaitForDevice(const QString &password);
    // Queues `line` and waits for its result; the engine's LastCmd/LastAns are read while it waits.
    bool RunCommand(const QString &line, QString &lastCmd, QString &lastAns);
    // Queues every line, then a marker; `onResult` sees each command's result as it comes.
    bool RunBatch(const QStringList &lines,
                  const std::function<void(const QString &, bool, const QString &)> &onResult);
    TVeltraCommander &Engine() { return *fengine; }

    // The identity as the engine published it when the device became present.
    struct TIdentity {
        QString name, imei;
        int hw = 0, sw = 0;
    };
    TIdentity Identity() const { return fidentity; }

private:
    bool WaitUntil(const std::function<bool()> &done, int timeoutMs);

    int ftimeout;
    std::unique_ptr<TVeltraCommander> fengine;
    bool fpresent = false;
    bool fpasswordAsked = false;
    TIdentity fidentity;
    std::function<void(const QString &, bool, const QString &)> fonResult;
};
