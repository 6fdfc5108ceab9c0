#include "DevSimOptions.h"

#include <QCommandLineParser>
#include <utility>

namespace {

const char *const ValueOptions[] = {"config",      "ident",        "password",           "reject",
                                    "delay",       "unsolicited",  "unsolicited-period", "fault",
                                    "fault-after", "loader-fault", "loader-attempts",    "firmware-out",
                                    "link-file",   "device",       "forget",             "ident-after-update"};
const char *const FlagOptions[] = {"no-echo", "persist", "verbose", "help", "version"};

const std::pair<const char *, TDevSimFault> FaultNames[] = {{"silence", dsfSilence},
                                                            {"garbage", dsfGarbage},
                                                            {"unterminated", dsfUnterminated},
                                                            {"hangup", dsfHangup}};

void AddOptions(QCommandLineParser &parser) {
    for (const char *name : ValueOptions)
        parser.addOption(QCommandLineOption(QString::fromLatin1(name), QString(), QStringLiteral("value")));
    for (const char *name : FlagOptions)
        parser.addOption(QCommandLineOption(QString::fromLatin1(name)));
}

bool ToNumber(const QString &text, int minimum, int &value) {
    bool ok = false;
    const int number = text.toInt(&ok);
    if (!ok || number < minimum)
        return false;
    value = number;
    return true;
}

void ReadText(const QCommandLineParser &parser, const QString &name, QString &value) {
    if (parser.isSet(name))
        value = parser.value(name);
}

bool ReadNumber(const QCommandLineParser &parser, const QString &name, int minimum, int &value,
                QString &error) {
    if (!parser.isSet(name) || ToNumber(parser.value(name), minimum, value))
        return true;
    error = QStringLiteral("--%1 needs a whole number of at least %2, not \"%3\"")
                .arg(name)
                .arg(minimum)
                .arg(parser.value(name));
    return false;
}

QStringList ReadList(const QCommandLineParser &parser, const QString &name) {
    QStringList items;
    for (const QString &value : parser.values(name))
        for (const QString &item : value.split(u',', Qt::SkipEmptyParts))
            if (!item.trimmed().isEmpty())
                items += item.trimmed();
    return items;
}

bool ToFault(const QString &text, TDevSimFault &fault) {
    for (const auto &[name, value] : FaultNames)
        if (text == QLatin1String(name)) {
            fault = value;
            return true;
        }
    return false;
}

bool ToLoaderFault(const QString &text, TDevSimOptions &options) {
    const QString kind = text.section(u':', 0, 0);
    const QString argument = text.section(u':', 1);
    const bool hasArgument = text.contains(u':');
    if (kind == u"cancel" && !hasArgument)
        options.fLoaderFault = dslCancel;
    else if (kind == u"nak" && ToNumber(argument, 1, options.fLoaderNakBlock))
        options.fLoaderFault = dslNak;
    else if (kind == u"silent" && (!hasArgument || ToNumber(argument, 0, options.fLoaderSilentMs)))
        options.fLoaderFault = dslSilent;
    else
        return false;
    return true;
}

QString ReadKinds(const QCommandLineParser &parser, TDevSimOptions &options) {
    if (parser.isSet("fault") && !ToFault(parser.value("fault"), options.fFault))
        return QStringLiteral("unknown fault \"%1\"").arg(parser.value("fault"));
    if (parser.isSet("loader-fault") && !ToLoaderFault(parser.value("loader-fault"), options))
        return QStringLiteral("unknown loader fault \"%1\"").arg(parser.value("loader-fault"));
    return QString();
}

QString ReadOptions(const QCommandLineParser &parser, TDevSimOptions &options) {
    ReadText(parser, "config", options.fConfigFile);
    ReadText(parser, "ident", options.fIdent);
    ReadText(parser, "password", options.fPassword);
    ReadText(parser, "unsolicited", options.fUnsolicited);
    ReadText(parser, "firmware-out", options.fFirmwareOut);
    ReadText(parser, "link-file", options.fLinkFile);
    ReadText(parser, "device", options.fDevice);
    ReadText(parser, "ident-after-update", options.fIdentAfterUpdate);
    options.fReject = ReadList(parser, "reject");
    options.fForget = ReadList(parser, "forget");
    options.fPersist = parser.isSet("persist");
    options.fEcho = !parser.isSet("no-echo");
    options.fVerbose = parser.isSet("verbose");
    QString error;
    if (!ReadNumber(parser, "delay", 0, options.fDelayMs, error) ||
        !ReadNumber(parser, "unsolicited-period", 1, options.fUnsolicitedPeriodMs, error) ||
        !ReadNumber(parser, "fault-after", 0, options.fFaultAfter, error) ||
        !ReadNumber(parser, "loader-attempts", 1, options.fLoaderAttempts, error))
        return error;
    return ReadKinds(parser, options);
}

} // namespace

TDevSimCommandLine ParseDevSimCommandLine(const QStringList &arguments) {
    TDevSimCommandLine result;
    QCommandLineParser parser;
    AddOptions(parser);
    if (!parser.parse(arguments))
        result.fError = parser.errorText();
    else if (!parser.positionalArguments().isEmpty())
        result.fError = QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments()[0]);
    else {
        result.fHelp = parser.isSet("help");
        result.fVersion = parser.isSet("version");
        result.fError = ReadOptions(parser, result.fOptions);
    }
    return result;
}

QString DevSimUsage() {
    return QStringLiteral(R"(Usage: veltra_devsim [options]

Plays a Veltra tracker on a pseudo-terminal so that the configurator can be run, tested and shown
without hardware. The first line on standard output is the path of the serial device to open.

Port:
  --device PATH              use this serial device instead of a new pseudo-terminal
  --link-file FILE           also write the device path into FILE

Device:
  --config FILE              initial parameters: key=value lines, as the configurator saves them
  --ident TEXT               identification answered to R_INFO
                             (default "VT-300 HW:12 SW:345 IMEI:356938035643809")
  --password TEXT            lock the device until S_PASSNOW=TEXT; until then every command
                             but S_PASSNOW is answered "ERROR=no password"
  --reject KEY[,KEY...]      parameters whose writes are refused as read-only (repeatable)
  --forget KEY[,KEY...]      parameters whose writes are confirmed but not kept (repeatable)
  --persist                  write every stored value back into the --config file, as the
                             tracker's flash keeps it across a hang-up
  --ident-after-update TEXT  identification answered once a firmware image has been received
  --delay MS                 wait MS milliseconds before each answer (default 0); the device
                             takes one command at a time, so what follows waits for the answer
  --no-echo                  do not echo the received command lines
  --unsolicited TEXT         send TEXT as a line of its own, only between commands
  --unsolicited-period MS    ... every MS milliseconds (default 1000)

Faults:
  --fault KIND               misbehave once --fault-after commands have been answered:
  --fault silence            read the commands but send nothing
  --fault garbage            answer random bytes
  --fault unterminated       answer without the final line end
  --fault hangup             close the port and exit with code 3
  --fault-after N            commands answered normally before the fault (default 0)

Loader (entered after S_REBOOT=1 has been answered):
  --loader-fault cancel      answer the first block with CAN CAN
  --loader-fault nak:N       refuse block N once with NAK
  --loader-fault silent[:MS]
                             send no "C", ignore the line for MS milliseconds (default 12000),
                             then come back
  --loader-attempts N        "C" invitations, one a second, before the loader gives up and
                             the device comes back (default 10)
  --firmware-out FILE        write the received image (last block with its padding) to FILE;
                             without it the image is only kept in memory

Other:
  --verbose                  log commands, answers and loader events to standard error
  --help                     show this text
  --version                  print the program's name and version

Commands the device answers:
  R_INFO                     INFO and the identification
  R_CFG                      CFG: and then one key=value line per parameter, in file order
  R_<key>                    key=value, or ERROR=unknown parameter <key>
  S_<key>=<value>            stores the value and answers key=value, or ERROR=<key> is read-only
  S_NOP                      NOP
  S_PASSNOW=<password>       PASSNOW=<password> and unlocked, or ERROR=wrong password
  S_REBOOT=1                 REBOOT=1, then the XModem-CRC loader (128- and 1024-byte blocks);
                             the device comes back about 300 ms after the transfer
  anything else              ERROR=unknown command

Command lines end with CR, LF or CR LF; each is echoed first, answers begin with two blanks.
The loader sends its first "C" about 200 ms after the reboot answer.

Exit codes:
  0                          stopped by SIGTERM or SIGINT
  1                          port or configuration file not opened
  2                          bad arguments
  3                          hang-up fault
  4                          port lost
)");
}
