// One line of the engine's command queue as a value, and the result the engine reports for it. The
// queue's text form (prefixes "." quiet, "/" several answer lines, "_" internal, "R_" read, "S_" write)
// is composed by ToLine and taken apart by FromLine, and nowhere else.
#pragma once

#include <QString>

struct TDeviceCommand {
    enum TKind {
        dcRead,     // "R_" + key
        dcWrite,    // "S_" + key + "=" + value
        dcInternal, // "_" + key, its argument after "=" (or after a blank for the firmware upload)
        dcDevice,   // any other text for the device, in key
    };
    TKind kind = dcDevice;
    bool quiet = false; // left out of the command log
    bool multi = false; // the answer takes several lines
    QString key;
    QString value;

    static TDeviceCommand Read(const QString &key, bool quiet = false);
    static TDeviceCommand ReadConfig();
    static TDeviceCommand Write(const QString &key, const QString &value);
    static TDeviceCommand Password(const QString &password);
    static TDeviceCommand Internal(const QString &name, const QString &argument = QString());
    // Names of the internal commands (without the "_").
    static const QString WriteDone, Close, GetDevInfo, UpdateFirmware, Reboot, SendText;

    static TDeviceCommand FromLine(const QString &line);
    QString ToLine() const;
    // The line without its "." and "/": what the engine's LastCmd reads while the result is reported.
    QString Name() const;

    bool IsConfigRead() const { return kind == dcRead && key == u"CFG"; }
    bool IsPassword() const { return kind == dcWrite && key == u"PASSNOW"; }
    bool IsInternal(const QString &name) const { return kind == dcInternal && key == name; }
    bool operator==(const TDeviceCommand &other) const = default;
};

// What the engine reports when a queued line has run.
struct TCmdResult {
    TDeviceCommand command;
    bool success = false;
    QString answer; // escaped (Part of the answer grammar: CR between lines as "\r")
};
