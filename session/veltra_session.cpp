#include "veltra_session.h"

#include "LuUtils.h"
#include "common.h"
#include "config_backups.h"

namespace {

// The main log is read and passed around: a password command shows as "S_PASSNOW=***".
QString WithoutPassword(const TDeviceCommand &command) {
    return command.IsPassword() ? QStringLiteral("S_PASSNOW=***") : command.Name();
}

} // namespace

QString VersionText(int version) {
    return IntToDec(4, version);
}

TVeltraSession::TVeltraSession(TSessionListener &listener, const TEngineLogs &logs, int port)
    : flistener(listener), fmainLog(logs.main), fengine(std::make_unique<TVeltraCommander>(this, logs, port)) {}

TVeltraSession::~TVeltraSession() {
    Stop();
    // The log and progress windows reach the program's session through this handle: never a gone one.
    if (MainWindowHandle == this)
        MainWindowHandle = nullptr;
}

// The engine reports the device absent while it stops; the listener handles that as usual.
void TVeltraSession::Stop() {
    fengine->Stop();
}

void TVeltraSession::Log(const QString &text) const {
    AppLogTo(fmainLog, TAG, text, -1);
}

void TVeltraSession::HandleNotification(quint32 msg, int code, qint64 value, const QString &text) {
    HandleDetailed(msg, code, value, text, std::any());
}

void TVeltraSession::HandleDetailed(quint32 msg, int code, qint64 value, const QString &text,
                                    const std::any &detail) {
    if (msg == ProgressMessage) {
        // Code 20 comes from the progress window's cancel button; the others from the engine.
        if (code == PROGRESS_CANCEL) {
            if (value == 1)
                Cancel();
        } else {
            flistener.Progress(code, value, text);
        }
        return;
    }
    if (msg != AppMessage)
        return;
    switch (code) {
    case MSG_DEV_CMD:
        if (const auto *result = std::any_cast<TCmdResult>(&detail))
            CommandAnswered(*result);
        else if (ServingNotification())
            CommandAnswered({TDeviceCommand::FromLine(fengine->LastCmd()), value != 0, fengine->LastAns()});
        break;
    case MSG_DEV_PRESENT:
        PresenceChanged(value);
        break;
    case MSG_DEV_INFO: {
        Log(QStringLiteral("MSG_DEV_PRESENT: ") + QString::number(value));
        Log(QStringLiteral("Device info updated"));
        const TDeviceIdentity id = PublishedIdentity();
        LogDeviceDetails(id);
        flistener.IdentityUpdated(id);
        break;
    }
    case MSG_DEV_MESSAGE:
        flistener.Message(text);
        break;
    case MSG_DEV_PASSWORD:
        flistener.PasswordWanted();
        break;
    case MSG_DEV_SEND_STR:
        SendRaw(text);
        break;
    case MSG_PORT_DENIED:
        flistener.PortDenied(text);
        break;
    default:
        break;
    }
}

// The identity the engine published with the notification being handled.
TDeviceIdentity TVeltraSession::PublishedIdentity() const {
    if (!ServingNotification())
        return fengine->Identity();
    return {fengine->DevPresent(), fengine->DevName(), fengine->DevIMEI(), fengine->DevHwVersion(),
            fengine->DevSwVersion()};
}

void TVeltraSession::LogDeviceDetails(const TDeviceIdentity &id) const {
    Log(QStringLiteral("  Type:  ") + id.name);
    Log(QStringLiteral("  IMEI:  ") + id.imei);
    Log(QStringLiteral("  VerHw: ") + VersionText(id.hw));
    Log(QStringLiteral("  VerSw: ") + VersionText(id.sw));
}

void TVeltraSession::PresenceChanged(qint64 value) {
    Log(QStringLiteral("MSG_DEV_PRESENT: ") + QString::number(value));
    if (value > 0) {
        Log(QStringLiteral("Device connected"));
        const TDeviceIdentity id = PublishedIdentity();
        LogDeviceDetails(id);
        flistener.DevicePresent(id);
        return;
    }
    Log(QStringLiteral("Device disconnected"));
    // What the gone tracker reported is no backup of the one found next.
    freported.Clear();
    fhaveReport = fbackedUp = false;
    flistener.DeviceAbsent(value < 0);
}

void TVeltraSession::SimulatePresence() {
    SendNotification(this, AppMessage, MSG_DEV_PRESENT, 1);
}

void TVeltraSession::CommandAnswered(const TCmdResult &result) {
    const TDeviceCommand &cmd = result.command;
    Log(QStringLiteral("MSG_DEV_CMD: ") + WithoutPassword(cmd) + QStringLiteral(" -> ") +
        QString::number(result.success ? 1 : 0));
    if (cmd.IsPassword()) {
        Queue(TDeviceCommand::Internal(TDeviceCommand::GetDevInfo));
    } else if (cmd.kind == TDeviceCommand::dcRead) {
        ReadAnswered(result);
    } else if (cmd.IsInternal(TDeviceCommand::WriteDone)) {
        Log(QStringLiteral("Configuration writed OK"));
        const QString refused = ftally.refused.join(QStringLiteral(", "));
        Log(QStringLiteral("Write summary: %1 written, %2 refused").arg(ftally.written).arg(ftally.refused.size()) +
            (refused.isEmpty() ? QString() : QStringLiteral(": ") + refused));
        flistener.WriteDone(ftally);
    } else if (cmd.IsInternal(TDeviceCommand::Close)) {
        flistener.CloseRequested();
    } else {
        Log(QStringLiteral("CMD(") + cmd.Name() + QStringLiteral(") -> ") + (result.success ? "OK" : "ERROR") +
            QStringLiteral(" [") + result.answer + u']');
        if (cmd.kind == TDeviceCommand::dcWrite)
            WriteAnswered(result);
    }
    flistener.CommandDone(result);
}

void TVeltraSession::ReadAnswered(const TCmdResult &result) {
    const TDeviceCommand &cmd = result.command;
    if (cmd.IsConfigRead()) {
        fvalues.Clear();
        fvalues.Assign(UnescapeText(result.answer), true, StdKeySeparators, QStringLiteral("\r"));
        freported.Clear();
        freported.Assign(&fvalues);
        // A failed read leaves no configuration the device can be said to hold: nothing to back up.
        fhaveReport = result.success;
        fbackedUp = false;
        Log(QStringLiteral("Device config readed [%1]").arg(fvalues.Count()));
        flistener.ConfigRead(fvalues);
    } else if (result.success) {
        fbackedUp = fbackedUp && freported.GetVal(cmd.key) == result.answer;
        freported.SetVal(cmd.key, result.answer);
        fhaveReport = true;
        if (flistener.ValueRead(cmd.key, result.answer))
            fvalues.SetVal(cmd.key, result.answer);
    } else {
        Log(QStringLiteral("Read device parameter [") + cmd.Name() + QStringLiteral(" -> ") + result.answer + u']');
    }
}

void TVeltraSession::WriteAnswered(const TCmdResult &result) {
    const TDeviceCommand &cmd = result.command;
    if (result.success) {
        ++ftally.written;
        fbackedUp = false;
        freported.SetVal(cmd.key, cmd.value);
        fhaveReport = true;
        flistener.ValueConfirmed(cmd.key, cmd.value);
    } else {
        ftally.refused << cmd.key;
        flistener.ValueRefused(cmd.key, cmd.value, result.answer);
    }
}

void TVeltraSession::Queue(const TDeviceCommand &command) {
    fengine->PutCmd(command);
}

void TVeltraSession::ReadConfig() {
    Queue(TDeviceCommand::ReadConfig());
}

void TVeltraSession::ReadValue(const QString &key) {
    Queue(TDeviceCommand::Read(key));
}

void TVeltraSession::Refresh(const QStringList &keys) {
    if (!DevicePresent())
        return;
    for (const QString &key : keys)
        Queue(TDeviceCommand::Read(key, true));
}

bool TVeltraSession::Write(const QList<std::pair<QString, QString>> &entries, bool closeAfter) {
    if (!DevicePresent() || !BackupBefore(QStringLiteral("write")))
        return false;
    ftally = {};
    for (const auto &[key, value] : entries)
        Queue(TDeviceCommand::Write(key, value));
    Queue(TDeviceCommand::Internal(TDeviceCommand::WriteDone));
    if (closeAfter)
        Queue(TDeviceCommand::Internal(TDeviceCommand::Close));
    return true;
}

bool TVeltraSession::UpdateFirmware(const QString &fileName) {
    if (!DevicePresent() || !BackupBefore(QStringLiteral("firmware")))
        return false;
    Queue(TDeviceCommand::Internal(TDeviceCommand::UpdateFirmware, fileName));
    return true;
}

void TVeltraSession::Reboot() {
    if (DevicePresent())
        Queue(TDeviceCommand::Internal(TDeviceCommand::Reboot));
}

void TVeltraSession::SendPassword(const QString &password) {
    if (!password.isEmpty())
        Queue(TDeviceCommand::Password(password));
}

void TVeltraSession::SendRaw(const QString &text) {
    if (!DevicePresent())
        return;
    Log(QStringLiteral("MSG_DEV_SEND_STR: ") + text);
    Queue(TDeviceCommand::Internal(TDeviceCommand::SendText, text));
}

void TVeltraSession::DropQueued() {
    if (const int dropped = fengine->ClearQueue())
        Log(QStringLiteral("Dropped %1 queued commands").arg(dropped));
}

void TVeltraSession::Cancel() {
    fengine->Cancel();
}

bool TVeltraSession::BackupBefore(const QString &reason) {
    if (!fhaveReport) {
        Log(QStringLiteral("No configuration read from the device yet: no backup before the ") + reason);
        return true;
    }
    if (fbackedUp)
        return true;
    QString error;
    const QString path = WriteBackup(AppDataDir, Identity().imei, freported, reason, BackupKeep(), error);
    if (!path.isEmpty()) {
        Log(QStringLiteral("Backup of the device's configuration: ") + path);
        fbackedUp = true;
        return true;
    }
    Log(QStringLiteral("No backup of the device's configuration: ") + error);
    return flistener.GoOnWithoutBackup(error);
}
