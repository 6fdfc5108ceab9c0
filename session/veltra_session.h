// TVeltraSession: the dialogue with one tracker, without windows. It owns one command engine, receives
// its notifications on the main thread and turns them into typed events for a listener: the device
// present or gone, the configuration read, each value read, confirmed or refused, the summary of a
// write, the password wanted, messages and progress. It keeps what the device reported (the source of
// the backups) and the device's values as read and loaded, runs the write batch with its tally, backs
// the configuration up before a write or an update, and writes the main log's lines of the dialogue.
//
// The configurator's window and veltra_cli are front ends on it; several sessions, each on its own
// port with its own logs, run side by side in one process.
#pragma once

#include "LuHash.h"
#include "device_command.h"
#include "notify.h"
#include "veltra_commander.h"

#include <QString>
#include <QStringList>
#include <memory>

using TDeviceIdentity = TVeltraCommander::TIdentity;

// A hardware or software version as the logs and the device information show it: four digits at least.
QString VersionText(int version);

// What a write batch did: the confirmed count and the refused keys, in the order they were refused.
struct TWriteSummary {
    int written = 0;
    QStringList refused;
};

// Every event is handled on the main thread while the engine waits; a handler may queue commands.
class TSessionListener {
public:
    virtual ~TSessionListener() = default;
    virtual void DevicePresent(const TDeviceIdentity &) {}
    // `forget`: the device went away for a firmware update, its configuration will change.
    virtual void DeviceAbsent(bool forget) { (void)forget; }
    virtual void IdentityUpdated(const TDeviceIdentity &) {}
    virtual void ConfigRead(const TLuHash &values) { (void)values; }
    // A single parameter's answer; true when the front end took it (the session then keeps it among
    // the device's values). An edited parameter keeps its edit.
    virtual bool ValueRead(const QString &key, const QString &value) {
        (void)key, (void)value;
        return true;
    }
    virtual void ValueConfirmed(const QString &key, const QString &value) { (void)key, (void)value; }
    virtual void ValueRefused(const QString &key, const QString &value, const QString &answer) {
        (void)key, (void)value, (void)answer;
    }
    virtual void WriteDone(const TWriteSummary &) {}
    // The batch was written with closing asked for: the last command has run.
    virtual void CloseRequested() {}
    virtual void PasswordWanted() {}
    virtual void Message(const QString &text) { (void)text; }
    virtual void Progress(int code, qint64 value, const QString &text) { (void)code, (void)value, (void)text; }
    virtual void PortDenied(const QString &path) { (void)path; }
    // Every result, after the event it caused.
    virtual void CommandDone(const TCmdResult &) {}
    // No backup could be saved before a change: whether to go on.
    virtual bool GoOnWithoutBackup(const QString &error) {
        (void)error;
        return false;
    }
};

class TVeltraSession : public TNotifyReceiver {
    Q_OBJECT
public:
    // `port` (when not 0): the one port the session's engine opens.
    explicit TVeltraSession(TSessionListener &listener, const TEngineLogs &logs = TEngineLogs::ProcessWide(),
                            int port = 0);
    ~TVeltraSession() override;

    // Stops the engine, serving its last notifications: an owner that is the listener calls it first
    // in its own destructor, while its handlers still work.
    void Stop();

    void HandleNotification(quint32 msg, int code, qint64 value, const QString &text) override;
    void HandleDetailed(quint32 msg, int code, qint64 value, const QString &text, const std::any &detail) override;

    TVeltraCommander &Engine() const { return *fengine; }
    bool DevicePresent() const { return fengine->DevPresent(); }
    TDeviceIdentity Identity() const { return fengine->Identity(); }

    // The device's values as read and loaded (a configuration file's entries join them), and what the
    // device itself last reported or confirmed (the backups' source).
    TLuHash &Values() { return fvalues; }
    const TLuHash &Values() const { return fvalues; }
    const TLuHash &DeviceReported() const { return freported; }

    void ReadConfig();
    void ReadValue(const QString &key);
    // The quiet periodic reads of the given parameters.
    void Refresh(const QStringList &keys);
    // Backs the device's configuration up, then queues one write per entry and the end marker (and
    // closing when asked). False when nothing was queued: no device, or no backup and not going on.
    bool Write(const QList<std::pair<QString, QString>> &entries, bool closeAfter = false);
    bool UpdateFirmware(const QString &fileName);
    void Reboot();
    void SendPassword(const QString &password);
    void SendRaw(const QString &text);
    void Queue(const TDeviceCommand &command);
    // Forgets the lines not sent yet (a front end that starts over with the tracker found next).
    void DropQueued();
    void Cancel();
    // Saves what the device reported before `reason` changes it; true when saved, when nothing has
    // been reported yet, when that report is saved already, or when the listener goes on without it.
    bool BackupBefore(const QString &reason);
    // Reports the device present with no identity, as the engine would: a description can then be
    // looked at without a tracker.
    void SimulatePresence();

private:
    void Log(const QString &text) const;
    void LogDeviceDetails(const TDeviceIdentity &id) const;
    TDeviceIdentity PublishedIdentity() const;
    void CommandAnswered(const TCmdResult &result);
    void ReadAnswered(const TCmdResult &result);
    void WriteAnswered(const TCmdResult &result);
    void PresenceChanged(qint64 value);

    const QString TAG = QStringLiteral("main");
    TSessionListener &flistener;
    const QString fmainLog;
    TLuHash fvalues;
    TLuHash freported;
    bool fhaveReport = false; // the device has reported its configuration, or values, at least once
    bool fbackedUp = false;   // the report as it stands is in a backup
    TWriteSummary ftally; // of the write batch under way
    // Last: it notifies this session, and is stopped first while everything it reaches is whole.
    std::unique_ptr<TVeltraCommander> fengine;
};
