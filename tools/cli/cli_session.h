// TCliSession: the headless front end's side of the engine. It receives the engine's notifications on
// the main thread like the main window does, and offers blocking steps with time limits for the
// command-line program: wait for the device, run a queued command, watch the device's own lines.
#pragma once

#include "notify.h"
#include "veltra_commander.h"

#include <QString>
#include <functional>
#include <memory>

// The exit codes of veltra_cli, and its output: the commands print through these.
enum TExit { ExitOk = 0, ExitUsage = 1, ExitNoDevice = 2, ExitPassword = 3, ExitFailed = 4, ExitBadFile = 5,
             ExitFileProblems = 6, ExitDifferent = 7 };
void Print(const QString &text);
void PrintError(const QString &text); // adds the line end

class TCliSession : public TNotifyReceiver {
public:
    explicit TCliSession(int timeoutMs);
    ~TCliSession() override;

    void HandleNotification(quint32 msg, int code, qint64 value, const QString &text) override;

    // Finds and identifies the device; sends `password` when the device asks for one.
    // 0 present, 2 no device within the time limit, 3 password asked and none (or a wrong one) given.
    int WaitForDevice(const QString &password);
    // Queues `line` and waits for its result; the engine's LastCmd/LastAns are read while it waits.
    // Only the results of lines this session queued count: the password flow's own lines never answer
    // a command.
    bool RunCommand(const QString &line, QString &lastCmd, QString &lastAns);
    // Queues an internal command that ends by deadlines of its own (the firmware upload) and waits for
    // its result however long it takes; `poll` runs about every 100 ms meanwhile. The wait also ends,
    // with false and `linkLost` set, when the link drops without a result (a port error).
    bool RunLongCommand(const QString &line, const std::function<void()> &poll, bool &linkLost);
    // Queues every line, then a marker; `onResult` sees each command's result as it comes. False when
    // no result came within the time limit (which applies to each command).
    bool RunBatch(const QStringList &lines,
                  const std::function<void(const QString &, bool, const QString &)> &onResult);
    TVeltraCommander &Engine() { return *fengine; }

    // While set, these see the engine's progress reports (code, value, text of ProgressMessage) and its
    // messages to the user (MSG_DEV_MESSAGE).
    std::function<void(int, qint64, const QString &)> OnProgress;
    std::function<void(const QString &)> OnMessage;

    // The identity as the engine published it when the device became present.
    struct TIdentity {
        QString name, imei;
        int hw = 0, sw = 0;
    };
    TIdentity Identity() const { return fidentity; }

private:
    // A negative time limit waits for ever.
    bool WaitUntil(const std::function<bool()> &done, int timeoutMs, const std::function<void()> &poll = {});
    // Queues `line`; `wait` returns when `finished` is set (by the result) or it gives up.
    bool Await(const QString &line, QString &lastCmd, QString &lastAns,
               const std::function<void(const bool &finished)> &wait);
    // Queues `line` and expects its result, in queue order; fonResult sees it when `report` is set.
    void Queue(const QString &line, bool report = true);
    // Hands a reported result to fonResult when it belongs to the next line this session queued.
    void TakeResult(bool success);

    int ftimeout;
    std::unique_ptr<TVeltraCommander> fengine;
    bool fpresent = false;
    bool fpasswordAsked = false;
    TIdentity fidentity;
    std::function<void(const QString &, bool, const QString &)> fonResult;
    struct TExpected {
        QString cmd; // LastCmd while its result is reported
        bool report;
    };
    QList<TExpected> fexpected; // the lines queued and not yet reported, oldest first
};
