#include "device_command.h"

#include "LuUtils.h"

const QString TDeviceCommand::WriteDone = QStringLiteral("WRITE_OK");
const QString TDeviceCommand::Close = QStringLiteral("CLOSE");
const QString TDeviceCommand::GetDevInfo = QStringLiteral("GET_DEV_INFO");
const QString TDeviceCommand::UpdateFirmware = QStringLiteral("UPD_FIRMWARE");
const QString TDeviceCommand::Reboot = QStringLiteral("REBOOT");
const QString TDeviceCommand::SendText = QStringLiteral("SEND_STR");

TDeviceCommand TDeviceCommand::Read(const QString &key, bool quiet) {
    TDeviceCommand c;
    c.kind = dcRead;
    c.key = key;
    c.quiet = quiet;
    return c;
}

TDeviceCommand TDeviceCommand::ReadConfig() {
    TDeviceCommand c = Read(QStringLiteral("CFG"));
    c.multi = true;
    return c;
}

TDeviceCommand TDeviceCommand::Write(const QString &key, const QString &value) {
    TDeviceCommand c;
    c.kind = dcWrite;
    c.key = key;
    c.value = value;
    return c;
}

// Quiet, so that the password stays out of the command log.
TDeviceCommand TDeviceCommand::Password(const QString &password) {
    TDeviceCommand c = Write(QStringLiteral("PASSNOW"), password);
    c.quiet = true;
    return c;
}

TDeviceCommand TDeviceCommand::Internal(const QString &name, const QString &argument) {
    TDeviceCommand c;
    c.kind = dcInternal;
    c.key = name;
    c.value = argument;
    return c;
}

TDeviceCommand TDeviceCommand::FromLine(const QString &line) {
    TDeviceCommand c;
    QString text = TrimText(line);
    if (text.startsWith(u'_')) {
        // The firmware upload takes its path after a blank; the others their argument after "=".
        qsizetype end = 1;
        while (end < text.size() && text[end] != u' ' && text[end] != u'=')
            ++end;
        return Internal(text.mid(1, end - 1), text.mid(end + 1));
    }
    while (!text.isEmpty() && (text[0] == u'.' || text[0] == u'/')) {
        (text[0] == u'.' ? c.quiet : c.multi) = true;
        text.remove(0, 1);
    }
    const qsizetype eq = text.indexOf(u'=');
    if (text.startsWith(QStringLiteral("R_"))) {
        c.kind = dcRead;
        c.key = text.mid(2);
    } else if (text.startsWith(QStringLiteral("S_")) && eq > 0) {
        c.kind = dcWrite;
        c.key = TrimText(text.mid(2, eq - 2));
        c.value = text.mid(eq + 1);
    } else {
        c.key = text;
    }
    return c;
}

QString TDeviceCommand::Name() const {
    switch (kind) {
    case dcRead:
        return QStringLiteral("R_") + key;
    case dcWrite:
        return QStringLiteral("S_") + key + u'=' + value;
    case dcInternal:
        // A raw line may be empty: its "=" is what tells the engine to send a bare line end.
        if (value.isEmpty() && key != SendText)
            return u'_' + key;
        return u'_' + key + (key == UpdateFirmware ? u' ' : u'=') + value;
    case dcDevice:
        break;
    }
    return key;
}

QString TDeviceCommand::ToLine() const {
    if (kind == dcInternal)
        return Name();
    return QString(quiet ? QStringLiteral(".") : QString()) + (multi ? QStringLiteral("/") : QString()) + Name();
}
