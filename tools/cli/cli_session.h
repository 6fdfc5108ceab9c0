// TCliSession: the headless front end's blocking adapter over the device dialogue (TVeltraSession). It
// listens to the session's events on the main thread and offers steps with time limits for the
// command-line program: wait for the device (answering its password request), run one command, write
// a configuration with a backup first, upload firmware.
#pragma once

#include "veltra_session.h"

#include <QString>
#include <functional>
#include <memory>

// The exit codes of veltra_cli, and its output: the commands print through these.
enum TExit { ExitOk = 0, ExitUsage = 1, ExitNoDevice = 2, ExitPassword = 3, ExitFailed = 4, ExitBadFile = 5,
             ExitFileProblems = 6, ExitDifferent = 7 };
void Print(const QString &text);
void PrintError(const QString &text); // adds the line end

class TCliSession : private TSessionListener {
public:
    explicit TCliSession(int timeoutMs);
    ~TCliSession() override;

    // Finds and identifies the device; sends `password` when the device asks for one.
    // 0 present, 2 no device within the time limit, 3 password asked and none (or a wrong one) given.
    int WaitForDevice(const QString &password);
    // Queues `command` and waits for its result. Only the results of commands this adapter queued
    // count: the password flow's own lines never answer a command.
    bool RunCommand(const TDeviceCommand &command, TCmdResult &result);
    // Uploads an image (the session backs the configuration up first) and waits for the result however
    // long it takes; `poll` runs about every 100 ms meanwhile. The wait also ends, with false and
    // `linkLost` set, when the link drops without a result (a port error).
    bool RunFirmware(const QString &fileName, const std::function<void()> &poll, bool &linkLost);
    // Writes the entries through the session (a backup first); `onResult` sees each entry's result as it
    // comes. False when nothing was written (no backup and not going on) or no result came within the
    // time limit, which applies to each entry.
    bool RunWrite(const QList<std::pair<QString, QString>> &entries,
                  const std::function<void(const QString &key, const QString &value, bool ok,
                                           const QString &answer)> &onResult);
    // Whether the last write or upload was refused before anything was queued (and said why).
    bool NothingQueued() const { return fnothingQueued; }

    TVeltraSession &Session() { return *fsession; }
    TVeltraCommander &Engine() { return fsession->Engine(); }

    // While set, these see the engine's progress reports and its messages to the user.
    std::function<void(int, qint64, const QString &)> OnProgress;
    std::function<void(const QString &)> OnMessage;

    // The identity as the engine published it when the device became present.
    TDeviceIdentity Identity() const { return fidentity; }

private:
    void DevicePresent(const TDeviceIdentity &id) override;
    void DeviceAbsent(bool forget) override;
    void IdentityUpdated(const TDeviceIdentity &id) override;
    void ValueConfirmed(const QString &key, const QString &value) override;
    void ValueRefused(const QString &key, const QString &value, const QString &answer) override;
    void WriteDone(const TWriteSummary &summary) override;
    void PasswordWanted() override;
    void Message(const QString &text) override;
    void Progress(int code, qint64 value, const QString &text) override;
    void CommandDone(const TCmdResult &result) override;
    bool GoOnWithoutBackup(const QString &error) override;
    void SayWhyNothingQueued();

    // A negative time limit waits for ever.
    bool WaitUntil(const std::function<bool()> &done, int timeoutMs, const std::function<void()> &poll = {});
    // Expects `command`'s result, runs `start` (which queues it; false: nothing queued), then `wait`
    // until the result is in `finished` or it gives up.
    bool Await(const TDeviceCommand &command, TCmdResult &result, const std::function<bool()> &start,
               const std::function<void(const bool &finished)> &wait);

    int ftimeout;
    bool fpresent = false;
    bool fpasswordAsked = false;
    bool fidentified = false; // the identification after a password has run
    TDeviceIdentity fidentity;
    QStringList fexpected; // the names of the commands queued and not yet reported, oldest first
    std::function<void(const TCmdResult &)> fonResult;
    std::function<void(const QString &, const QString &, bool, const QString &)> fonWritten;
    bool fwriteDone = false;
    int fwriteResults = 0;
    bool fnothingQueued = false;
    bool fbackupRefused = false;
    // Last: its events reach this adapter, which stops it first.
    std::unique_ptr<TVeltraSession> fsession;
};
