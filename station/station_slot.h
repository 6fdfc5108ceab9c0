// TStationSlot: one socket of the bench, with a session of its own on one port. It waits for a
// tracker, works the job on it (identify, skip when done before, back up, firmware when needed,
// write what differs, read back and compare), has the outcome recorded, and waits for the tracker to
// be taken away before it starts on the next. Nothing is asked of a person.
#pragma once

#include "station_audit.h"
#include "station_job.h"
#include "veltra_session.h"

#include <QElapsedTimer>
#include <memory>

enum class TSlotStage { Waiting, Identifying, Skipped, Backup, Firmware, Writing, Verifying, Done, Failed };

// The stage's name in events, JSON and logs: "waiting", "identifying", ...
QString StageName(TSlotStage stage);
// Whether the slot is working on a tracker (neither waiting for one nor finished with it).
bool StageActive(TSlotStage stage);

// What a slot shows: its port, the tracker on it and how far the job is.
struct TSlotState {
    QString name; // COM<n>
    int port = 0;
    QString path; // the device path the port is mapped to
    TSlotStage stage = TSlotStage::Waiting;
    QString imei;
    QString detail;   // the reason of a failure, what a skip or an interruption was about
    int percent = 0;  // of the firmware upload
    int written = 0;  // confirmed writes of the batch under way
    int toWrite = 0;  // writes of the batch under way
    QString lastResult; // the outcome recorded last on this slot ("done", "interrupted", ...)
};

// What a slot needs from its station: the job, the audit and someone to tell.
class TSlotHost {
public:
    virtual ~TSlotHost() = default;
    virtual const TStationJob &Job() const = 0;
    virtual bool DoneBefore(const QString &imei) const = 0;
    // Completes and keeps the record; false, with the reason, when it could not be kept.
    virtual bool Record(TAuditRecord &record, QString &error) = 0;
    virtual void SlotChanged(const TSlotState &state) = 0;
    // After the slot has shown that `record` could not be kept.
    virtual void NotRecorded(const TAuditRecord &record, const QString &error) = 0;
};

class TStationSlot : public TSessionListener {
public:
    TStationSlot(TSlotHost &host, const QString &name, int port, const QString &path, const TEngineLogs &logs);
    ~TStationSlot() override;

    const TSlotState &State() const { return fstate; }
    TVeltraSession &Session() { return *fsession; }
    // Stops the session; a job under way is recorded as interrupted.
    void Stop();

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

private:
    void Found(const TDeviceIdentity &id);
    void ResetAttempt();
    void Begin(const TDeviceIdentity &id);
    void ConfigAnswered(const TCmdResult &result);
    bool FirmwareNeeded() const;
    void StartFirmware();
    void FirmwareAnswered(const TCmdResult &result);
    void BackFromFirmware(const TDeviceIdentity &id);
    void StartWrite();
    void Verify();
    void Finish(const QString &result, const QString &reason, const QStringList &keys = QStringList());
    void Fail(const QString &reason) { Finish(QStringLiteral("failed"), reason); }
    void SetStage(TSlotStage stage, const QString &detail = QString());
    void Changed();

    TSlotHost &fhost;
    TSlotState fstate;
    // The attempt under way.
    TDeviceIdentity fbefore, fafter;
    QList<std::pair<QString, QString>> fentries; // what the job gives this tracker
    QList<std::pair<QString, QString>> fwritten; // confirmed in this attempt
    QStringList frefused;
    QString ffinishedImei; // the tracker whose job has ended and that is still on the slot
    QString fmessage;      // the engine's last message (the outcome of a firmware upload)
    QString fbackupError;
    bool fpasswordSent = false;
    bool fawaitingReturn = false; // the firmware went in: the tracker comes back with it
    bool fstopping = false;
    QElapsedTimer ftotal, fstep;
    qint64 ffirmwareMs = 0, fwriteMs = 0, fverifyMs = 0;
    // Last: its engine notifies this slot, and is stopped first.
    std::unique_ptr<TVeltraSession> fsession;
};
