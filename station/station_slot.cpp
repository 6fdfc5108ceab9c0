#include "station_slot.h"

#include "LuUtils.h"
#include "common.h"

namespace {

bool IsFinal(TSlotStage stage) {
    return stage == TSlotStage::Done || stage == TSlotStage::Failed || stage == TSlotStage::Skipped;
}

// What the tracker holds under `key`, as it reported it. A key it did not report reads as empty, as
// the configuration's reader keeps a key with an empty value: no value to write, none to compare.
bool Holds(const TLuHash &reported, const QString &key, const QString &value) {
    return TrimText(reported.GetVal(key)) == TrimText(value);
}

} // namespace

QString StageName(TSlotStage stage) {
    switch (stage) {
    case TSlotStage::Waiting: return QStringLiteral("waiting");
    case TSlotStage::Identifying: return QStringLiteral("identifying");
    case TSlotStage::Skipped: return QStringLiteral("skipped");
    case TSlotStage::Backup: return QStringLiteral("backup");
    case TSlotStage::Firmware: return QStringLiteral("firmware");
    case TSlotStage::Writing: return QStringLiteral("writing");
    case TSlotStage::Verifying: return QStringLiteral("verifying");
    case TSlotStage::Done: return QStringLiteral("done");
    case TSlotStage::Failed: return QStringLiteral("failed");
    }
    return QString();
}

bool StageActive(TSlotStage stage) {
    return stage != TSlotStage::Waiting && !IsFinal(stage);
}

TStationSlot::TStationSlot(TSlotHost &host, const QString &name, int port, const QString &path,
                           const TEngineLogs &logs)
    : fhost(host) {
    fstate.name = name;
    fstate.port = port;
    fstate.path = path;
    fsession = std::make_unique<TVeltraSession>(*this, logs, port);
}

TStationSlot::~TStationSlot() {
    Stop();
}

// The session stops first, so that every confirmation the tracker sent is in; its last event (the
// tracker gone) then records a job under way as interrupted by the stop.
void TStationSlot::Stop() {
    fstopping = true;
    fsession->Stop();
    if (StageActive(fstate.stage) && !fbefore.imei.isEmpty())
        Finish(QStringLiteral("interrupted"), QStringLiteral("the station stopped during ") + StageName(fstate.stage));
}

void TStationSlot::SetStage(TSlotStage stage, const QString &detail) {
    fstate.stage = stage;
    fstate.detail = detail;
    if (stage != TSlotStage::Firmware)
        fstate.percent = 0;
    Changed();
}

void TStationSlot::Changed() {
    fhost.SlotChanged(fstate);
}

void TStationSlot::DevicePresent(const TDeviceIdentity &id) {
    Found(id);
}

void TStationSlot::IdentityUpdated(const TDeviceIdentity &id) {
    Found(id);
}

// A tracker said who it is: found anew, back from its firmware, or unlocked by the password.
void TStationSlot::Found(const TDeviceIdentity &id) {
    if (id.imei.isEmpty())
        return; // a locked tracker: it says who it is once the password is in
    // The upload ended without a result (its port failed): the tracker is back as it was.
    if (fstate.stage == TSlotStage::Firmware && !fawaitingReturn)
        Fail(QStringLiteral("firmware: the upload broke off") + (fmessage.isEmpty() ? QString() : QStringLiteral(": ") + fmessage));
    if (fawaitingReturn)
        BackFromFirmware(id);
    else if (!StageActive(fstate.stage) || (fstate.stage == TSlotStage::Identifying && fbefore.imei.isEmpty()))
        Begin(id);
}

// A new attempt starts from nothing: no values, versions or times of the tracker before.
void TStationSlot::ResetAttempt() {
    fbefore = fafter = {};
    fentries.clear();
    fwritten.clear();
    frefused.clear();
    fmessage.clear();
    fbackupError.clear();
    fpasswordSent = false;
    fawaitingReturn = false;
    ffirmwareMs = fwriteMs = fverifyMs = 0;
    ftotal.start();
}

void TStationSlot::Begin(const TDeviceIdentity &id) {
    // The tracker whose job has just ended, found again without having been taken away.
    if (IsFinal(fstate.stage) && id.imei == ffinishedImei)
        return;
    const bool unlocking = fstate.stage == TSlotStage::Identifying && fbefore.imei.isEmpty();
    const bool passwordSent = unlocking && fpasswordSent;
    if (!unlocking)
        ResetAttempt();
    fpasswordSent = passwordSent;
    fbefore = id;
    ffinishedImei.clear();
    fstate.imei = id.imei;
    fstate.written = fstate.toWrite = 0;
    if (fhost.DoneBefore(id.imei)) {
        ffinishedImei = id.imei;
        SetStage(TSlotStage::Skipped, QStringLiteral("done before with this job"));
        return;
    }
    QString why;
    if (!fhost.Job().EntriesFor(id.imei, fentries, why)) {
        Fail(why);
        return;
    }
    SetStage(TSlotStage::Identifying);
    fsession->ReadConfig();
}

void TStationSlot::DeviceAbsent(bool forget) {
    (void)forget;
    // During an upload the tracker leaves for its loader and comes back: the upload's result decides.
    if (fstate.stage == TSlotStage::Firmware && !fstopping)
        return;
    if (StageActive(fstate.stage)) {
        // Lines meant for this tracker must not reach the one plugged in next.
        fsession->DropQueued();
        if (!fbefore.imei.isEmpty())
            Finish(QStringLiteral("interrupted"), (fstopping ? QStringLiteral("the station stopped during ")
                                                             : QStringLiteral("the tracker went away during ")) +
                                                      StageName(fstate.stage));
    }
    ffinishedImei.clear();
    ResetAttempt();
    fstate.imei.clear();
    SetStage(TSlotStage::Waiting);
}

void TStationSlot::PasswordWanted() {
    if (IsFinal(fstate.stage))
        return;
    if (fstate.stage == TSlotStage::Waiting) {
        ResetAttempt();
        SetStage(TSlotStage::Identifying, QStringLiteral("password"));
    }
    const QString &password = fhost.Job().password;
    if (password.isEmpty()) {
        Fail(QStringLiteral("the tracker asks for a password and the job has none"));
    } else if (fpasswordSent) {
        Fail(QStringLiteral("the tracker refused the job's password"));
    } else {
        fpasswordSent = true;
        fsession->SendPassword(password);
    }
}

void TStationSlot::CommandDone(const TCmdResult &result) {
    if (result.command.IsConfigRead())
        ConfigAnswered(result);
    else if (result.command.IsInternal(TDeviceCommand::UpdateFirmware))
        FirmwareAnswered(result);
}

void TStationSlot::ConfigAnswered(const TCmdResult &result) {
    if (fstate.stage == TSlotStage::Verifying) {
        if (result.success)
            Verify();
        else
            Finish(QStringLiteral("failed"), QStringLiteral("the configuration could not be read back: ") + result.answer);
    } else if (fstate.stage == TSlotStage::Identifying) {
        if (!result.success)
            Fail(QStringLiteral("the configuration could not be read: ") + result.answer);
        else if (fafter.imei.isEmpty() && FirmwareNeeded())
            StartFirmware();
        else
            StartWrite();
    }
}

bool TStationSlot::FirmwareNeeded() const {
    const TStationJob &job = fhost.Job();
    return !job.firmwareFile.isEmpty() && fbefore.sw != int(job.firmwareVersion.toUInt());
}

void TStationSlot::StartFirmware() {
    SetStage(TSlotStage::Firmware, QStringLiteral("from %1 to %2").arg(VersionText(fbefore.sw), fhost.Job().firmwareVersion));
    fstep.start();
    if (!fsession->UpdateFirmware(fhost.Job().firmwareFile))
        Fail(fbackupError.isEmpty() ? QStringLiteral("the tracker went away before the firmware")
                                    : QStringLiteral("no backup: ") + fbackupError);
}

void TStationSlot::FirmwareAnswered(const TCmdResult &result) {
    if (fstate.stage != TSlotStage::Firmware)
        return;
    ffirmwareMs = fstep.elapsed();
    if (!result.success) {
        Fail(QStringLiteral("firmware: ") + (fmessage.isEmpty() ? QStringLiteral("the upload failed") : fmessage));
        return;
    }
    fawaitingReturn = true;
    fpasswordSent = false;
    fstate.detail = QStringLiteral("waiting for the tracker to come back");
    Changed();
}

void TStationSlot::BackFromFirmware(const TDeviceIdentity &id) {
    fawaitingReturn = false;
    if (id.imei != fbefore.imei) {
        // The tracker updated did not come back; the one found instead gets its own job.
        Fail(QStringLiteral("firmware: the tracker did not come back (another one, %1, was found)").arg(id.imei));
        Begin(id);
        return;
    }
    fafter = id;
    if (id.sw != int(fhost.Job().firmwareVersion.toUInt())) {
        Fail(QStringLiteral("after the firmware the tracker reports version %1, the image carries %2")
                 .arg(VersionText(id.sw), fhost.Job().firmwareVersion));
        return;
    }
    SetStage(TSlotStage::Identifying, QStringLiteral("after the firmware"));
    fsession->ReadConfig();
}

// Only what differs: every write costs the tracker's flash a cycle.
void TStationSlot::StartWrite() {
    QList<std::pair<QString, QString>> differing;
    for (const auto &entry : fentries)
        if (!Holds(fsession->DeviceReported(), entry.first, entry.second))
            differing.append(entry);
    if (differing.isEmpty()) {
        Verify();
        return;
    }
    SetStage(TSlotStage::Backup);
    fstep.start();
    fstate.toWrite = int(differing.size());
    fstate.written = 0;
    if (!fsession->Write(differing)) {
        Fail(fbackupError.isEmpty() ? QStringLiteral("the tracker went away before the write")
                                    : QStringLiteral("no backup: ") + fbackupError);
        return;
    }
    SetStage(TSlotStage::Writing);
}

bool TStationSlot::GoOnWithoutBackup(const QString &error) {
    fbackupError = error;
    return false;
}

void TStationSlot::ValueConfirmed(const QString &key, const QString &value) {
    if (fstate.stage != TSlotStage::Writing)
        return;
    fwritten.append({key, value});
    ++fstate.written;
    Changed();
}

void TStationSlot::ValueRefused(const QString &key, const QString &value, const QString &answer) {
    (void)value, (void)answer;
    if (fstate.stage != TSlotStage::Writing)
        return;
    frefused << key;
    ++fstate.written;
    Changed();
}

void TStationSlot::WriteDone(const TWriteSummary &summary) {
    (void)summary;
    if (fstate.stage != TSlotStage::Writing)
        return;
    fwriteMs = fstep.elapsed();
    if (!frefused.isEmpty()) {
        Finish(QStringLiteral("refused"), QStringLiteral("the tracker refused ") + frefused.join(QStringLiteral(", ")),
               frefused);
    } else if (fhost.Job().verify) {
        SetStage(TSlotStage::Verifying);
        fstep.start();
        fsession->ReadConfig();
    } else {
        Finish(QStringLiteral("done"), QString());
    }
}

// Every key the job sets, against what the tracker reported last (read back, or read before when
// nothing had to be written).
void TStationSlot::Verify() {
    if (fstate.stage == TSlotStage::Verifying)
        fverifyMs = fstep.elapsed();
    QStringList mismatched;
    for (const auto &[key, value] : fentries)
        if (!Holds(fsession->DeviceReported(), key, value))
            mismatched << key;
    if (mismatched.isEmpty())
        Finish(QStringLiteral("done"), QString());
    else
        Finish(QStringLiteral("mismatched"),
               QStringLiteral("read back differs: ") + mismatched.join(QStringLiteral(", ")), mismatched);
}

void TStationSlot::Message(const QString &text) {
    fmessage = text;
}

void TStationSlot::Progress(int code, qint64 value, const QString &text) {
    (void)text;
    if (fstate.stage == TSlotStage::Firmware && code == PROGRESS_PERCENT && value != fstate.percent) {
        fstate.percent = int(value);
        Changed();
    }
}

void TStationSlot::Finish(const QString &result, const QString &reason, const QStringList &keys) {
    const TDeviceIdentity after = fafter.imei.isEmpty() ? fbefore : fafter;
    TAuditRecord record;
    record.slot = fstate.name;
    record.port = fstate.path;
    record.imei = fbefore.imei;
    record.type = fbefore.name;
    record.hwBefore = fbefore.hw;
    record.swBefore = fbefore.sw;
    record.hwAfter = after.hw;
    record.swAfter = after.sw;
    record.result = result;
    record.reason = reason;
    record.keys = keys;
    record.written = fwritten;
    record.totalMs = ftotal.isValid() ? ftotal.elapsed() : 0;
    record.firmwareMs = ffirmwareMs;
    record.writeMs = fwriteMs;
    record.verifyMs = fverifyMs;
    fawaitingReturn = false;
    ffinishedImei = fbefore.imei;
    fstate.lastResult = result;
    QString error;
    if (!fhost.Record(record, error)) {
        fstate.lastResult = QStringLiteral("failed");
        SetStage(TSlotStage::Failed, QStringLiteral("not recorded: ") + error);
        fhost.NotRecorded(record, error);
        return;
    }
    SetStage(result == u"done" ? TSlotStage::Done : TSlotStage::Failed, reason);
}
