// veltra_cli: the configurator without windows, on the same engine. For scripted provisioning of many
// trackers, firmware uploads, plain XModem/YModem transfers and running the engine end to end on a bench:
//   veltra_cli [key=value settings...] COMMAND [ARGS]
#include "LuFiles.h"
#include "LuLogTail.h"
#include "LuVerInfo.h"
#include "cli_session.h"
#include "cli_station.h"
#include "cli_transfer.h"
#include "common.h"
#include "config_backups.h"
#include "param_description.h"
#include "pcomm_sio.h"
#include "port_details.h"
#include "port_doctor.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QThread>
#include <cstdio>

namespace {

const char *const Usage =
    "Usage: veltra_cli [key=value ...] COMMAND [ARGS]\n"
    "\n"
    "The Veltra configurator without windows: finds the tracker on the serial ports, identifies it\n"
    "and runs one command, for scripted provisioning, firmware uploads and XModem/YModem transfers.\n"
    "\n"
    "Commands that find and identify the device first:\n"
    "  info                   the device's type, IMEI and versions\n"
    "  read                   print the device's configuration as key=value lines\n"
    "  diff FILE              print every parameter whose value on the device differs from the\n"
    "                         configuration file's, or that only one of them has\n"
    "  write FILE             write every entry of a configuration file, report each one\n"
    "                         (write and firmware first save the device's configuration as a backup\n"
    "                         in the user's configuration folder, Veltra/backups/IMEI/)\n"
    "  send LINE              send a raw line and print what the device sends back within a second\n"
    "  firmware FILE          upload a firmware image (Ctrl-C cancels before the next block)\n"
    "\n"
    "Commands without the device protocol; the transfers use the first of the ports:\n"
    "  check FILE             check a configuration file against the parameter description: print\n"
    "                         each entry it does not know or whose value its editor would refuse\n"
    "  backups [IMEI]         list the saved configurations of every device (or one), newest first\n"
    "  ports                  list the serial ports that would be probed, with their stable names\n"
    "                         (/dev/serial/by-path/, by-id/) and a USB adapter's ids and names\n"
    "  doctor [PORT]          check why a port does not talk (the port itself, your access, another\n"
    "                         program holding it, ModemManager, brltty, a missing driver, then R_INFO),\n"
    "                         each with a verdict and the command that mends it; exit 0 when a\n"
    "                         tracker answered, 2 otherwise\n"
    "  xsend FILE [--ymodem]  send FILE by XModem (or as a YModem batch of one)\n"
    "  xrecv FILE [--ymodem]  receive FILE by XModem (YModem: the sender's name, in FILE's folder)\n"
    "  yrecv DIR              receive a YModem batch into the folder DIR\n"
    "\n"
    "The provisioning station:\n"
    "  station JOB [--trackers N]\n"
    "                         work the job on a tracker in every port of com_ports at once: each\n"
    "                         tracker plugged in is identified, skipped when the audit holds its\n"
    "                         success with this job, backed up, given the job's firmware when it\n"
    "                         reports another version, written what differs, read back and recorded\n"
    "                         (audit=FILE, by default Veltra/audit/NAME.jsonl in the user's\n"
    "                         configuration folder, and a CSV report beside it); one line per event,\n"
    "                         a summary at the end; ends after N trackers or on Ctrl-C\n"
    "  station [JOB] with broker=mqtts://HOST[:PORT]\n"
    "                         the same, joined to an MQTT broker: jobs published for station=NAME or\n"
    "                         station_group=GROUP are taken from there (JOB then optional), each slot's\n"
    "                         state and every record go there (records kept while it is away)\n"
    "\n"
    "info, read, diff, check, backups, ports and doctor print one JSON document instead with --json;\n"
    "station prints one JSON object per event.\n"
    "\n"
    "Other:\n"
    "  help, --help           print this text\n"
    "  --version              print the program's name and version\n"
    "\n"
    "Settings (key=value before the command; those of the configurator), for example:\n"
    "  com_ports=3,5          probe only these ports\n"
    "  com3=/dev/ttyUSB0      map a port to a device\n"
    "  password=SECRET        answer the device's password request\n"
    "  cli_timeout=20         seconds to wait for the device and for each command\n"
    "  log_dir=/tmp/logs      where the logs go\n"
    "  backup_keep=50         backups kept per device\n"
    "  force=1                go on when no backup can be saved\n"
    "  params=FILE            the parameter description to check against (default: veltra_params.conf\n"
    "                         beside the program, in its parent folder and in conf_dir, as the window)\n"
    "  invite_delay=3000      milliseconds a receiving transfer waits before its first invitation\n"
    "  station=bench-3        the station's name in the audit (default: the host name)\n"
    "  broker=mqtts://h:8883  the broker (TLS, certificate verified; mqtt:// only when named)\n"
    "  broker_user=NAME       ... its user (the station's name), with broker_pass_file=FILE (or\n"
    "                         broker_pass= in veltra_cli.conf, never on the command line)\n"
    "  broker_ca=FILE         ... the authority that signed its certificate (default: the system's)\n"
    "  broker_cert=FILE, broker_key=FILE  a client certificate instead of a password\n"
    "  station_group=NAME     the group whose jobs the station also takes\n"
    "\n"
    "Exit codes:\n"
    "  0                      done\n"
    "  1                      usage\n"
    "  2                      no device answered or the port not opened\n"
    "  3                      password needed or wrong\n"
    "  4                      a command or transfer failed; station: a tracker was not done\n"
    "  5                      unreadable or missing file or folder\n"
    "  6                      the checked file has entries the description does not know or accept;\n"
    "                         station: the job (or the station's settings) refused, nothing written\n"
    "  7                      the device and the file differ\n";

const QStringList Commands{"backups", "check", "ports", "doctor", "info", "read", "diff", "write", "send", "firmware", "xsend", "xrecv", "yrecv", "station"};
const QStringList CommandsWithoutArgs{"backups", "ports", "doctor", "info", "read", "station"};
const QStringList CommandsWithPath{"check", "diff", "write", "firmware", "xsend", "xrecv", "yrecv", "station"};
const QStringList CommandsWithYModem{"xsend", "xrecv"};
const QStringList CommandsOnPort{"xsend", "xrecv", "yrecv"};

int ShowUsage(const QString &command) {
    const bool help = command == u"help" || command == u"--help";
    std::fputs(Usage, help ? stdout : stderr);
    return help ? ExitOk : ExitUsage;
}

// What is sent must exist, and so must the folder a batch goes into; the other paths are checked
// by their commands.
bool PathExists(const QString &command, const QString &path) {
    if (command == u"firmware" || command == u"xsend" || command == u"check" ||
        command == u"station")
        return QFileInfo(path).isFile();
    if (command == u"yrecv")
        return QFileInfo(path).isDir();
    return true;
}

// One line: which ports opened and stayed silent, and why the others did not open.
QString SilentScanText(const TVeltraCommander::TScanReport &scan, const QStringList &probed) {
    if (scan.silentPorts.isEmpty() && scan.openErrors.isEmpty())
        return QStringLiteral("No device answered on ports: ") + probed.join(u' ');
    QString text = QStringLiteral("No device answered.");
    if (!scan.silentPorts.isEmpty())
        text += QStringLiteral(" Opened and silent: ") + scan.silentPorts.join(QStringLiteral(", ")) + u'.';
    if (!scan.openErrors.isEmpty())
        text += QStringLiteral(" Not opened: ") + scan.openErrors.join(QStringLiteral("; ")) + u'.';
    return text;
}

int NoDevice(TCliSession &session, int code) {
    const TVeltraCommander::TScanReport scan = session.Engine().LastScan();
    if (code == ExitPassword)
        PrintError(QStringLiteral("The device asks for a password: give password=... (or the right one)."));
    else if (!scan.anyOpened && !scan.openErrors.isEmpty())
        PrintError(scan.openErrors.join(u'\n'));
    else
        PrintError(SilentScanText(scan, session.Engine().ComLs()));
    return code;
}


// With --json the commands that report something print one JSON document instead of their lines.
bool JsonOutput = false;
const QStringList CommandsWithJson{"info", "read", "diff", "check", "backups", "ports", "doctor", "station"};

void PrintJson(const QJsonObject &document) {
    Print(QString::fromUtf8(QJsonDocument(document).toJson(QJsonDocument::Indented)));
}

// The settings dev_root, sys_root, proc_root, etc_root, bin_root and udev_rules (folders separated by
// ",") move what the bench commands look at (for tests).
TDoctorRoots PortRoots() {
    TDoctorRoots roots;
    for (const auto &[key, root] : {std::pair{"dev_root", &roots.dev}, std::pair{"sys_root", &roots.sys},
                                    std::pair{"proc_root", &roots.proc}, std::pair{"etc_root", &roots.etc},
                                    std::pair{"bin_root", &roots.bin}})
        if (const QString value = AppSettings->GetVal(QString::fromLatin1(key)); !value.isEmpty())
            *root = value;
    if (const QString rules = AppSettings->GetVal(QStringLiteral("udev_rules")); !rules.isEmpty())
        roots.udevRules = rules.split(u',', Qt::SkipEmptyParts);
    return roots;
}

QJsonObject PortJson(int port, const TPortDetails &d) {
    QJsonObject usb;
    if (d.IsUsb())
        usb = {{"vendor_id", d.vendorId}, {"product_id", d.productId}, {"manufacturer", d.manufacturer},
               {"product", d.product}, {"serial", d.serial}};
    return {{"com", port}, {"device", d.device}, {"resolved", d.resolved.isEmpty() ? QJsonValue() : d.resolved},
            {"by_path", QJsonArray::fromStringList(d.byPath)}, {"by_id", QJsonArray::fromStringList(d.byId)},
            {"usb", d.IsUsb() ? QJsonValue(usb) : QJsonValue()}};
}

// Each port with what names it on this machine: its stable names and, for a USB adapter, the adapter.
void PrintPort(int port, const TPortDetails &d) {
    Print(QStringLiteral("COM%1\t%2\n").arg(port).arg(d.device));
    if (!d.resolved.isEmpty() && d.resolved != d.device)
        Print(QStringLiteral("  device: ") + d.resolved + u'\n');
    for (const QString &path : d.byPath)
        Print(QStringLiteral("  by-path: ") + path + u'\n');
    for (const QString &path : d.byId)
        Print(QStringLiteral("  by-id: ") + path + u'\n');
    if (d.IsUsb())
        Print(QStringLiteral("  usb: %1:%2 %3 %4, serial %5\n")
                  .arg(d.vendorId, d.productId, d.manufacturer, d.product,
                       d.serial.isEmpty() ? QStringLiteral("none") : d.serial));
}

const char *StateName(TVerdict::TState state) {
    switch (state) {
    case TVerdict::vsOk:
        return "ok";
    case TVerdict::vsProblem:
        return "PROBLEM";
    case TVerdict::vsUnknown:
        break;
    }
    return "unknown";
}

// Every check on the port given (a COM number), or on each port that would be probed.
int Doctor(const QString &portWord) {
    QList<int> ports;
    if (!portWord.isEmpty()) {
        const qint64 port = DecToInt(QString(portWord).remove(QRegularExpression("^(?i)com")), 0);
        if (port <= 0) {
            PrintError(QStringLiteral("Not a COM port number: ") + portWord);
            return ExitUsage;
        }
        ports << int(port);
    } else {
        QString detail;
        const TLuStringList listed = TVeltraCommander::ListComPorts(detail);
        for (int i = 0; i < listed.Count(); ++i)
            ports << int(DecToInt(listed[i], 0));
    }
    if (ports.isEmpty()) {
        PrintError(QStringLiteral("No serial ports found: give com_ports=N and comN=DEVICE."));
        return ExitNoDevice;
    }
    const TDoctorRoots roots = PortRoots();
    bool answered = false;
    QJsonArray listed;
    for (const int port : ports) {
        const TDiagnosis d = DiagnosePort(port, roots);
        answered = answered || d.answered;
        QJsonArray verdicts;
        if (!JsonOutput)
            Print(QStringLiteral("COM%1 (%2)\n").arg(port).arg(sio_PortPath(port)));
        for (const TVerdict &v : d.verdicts) {
            verdicts.append(QJsonObject{{"check", v.check}, {"state", StateName(v.state)}, {"text", v.text},
                                        {"fix", v.fix.isEmpty() ? QJsonValue() : v.fix}});
            if (JsonOutput)
                continue;
            Print(QStringLiteral("  %1 %2: %3\n").arg(QString::fromLatin1(StateName(v.state)), -7).arg(v.check, v.text));
            if (!v.fix.isEmpty())
                Print(QStringLiteral("          fix: ") + v.fix + u'\n');
        }
        listed.append(QJsonObject{{"com", port}, {"device", sio_PortPath(port)}, {"answered", d.answered},
                                  {"verdicts", verdicts}});
    }
    if (JsonOutput)
        PrintJson({{"ports", listed}});
    return answered ? ExitOk : ExitNoDevice;
}

int ListPorts() {
    QString detail;
    const TLuStringList ports = TVeltraCommander::ListComPorts(detail);
    if (ports.Count() == 0) {
        PrintError(QStringLiteral("No serial ports found."));
        return ExitNoDevice;
    }
    const TPortRoots roots = PortRoots();
    QJsonArray listed;
    for (int i = 0; i < ports.Count(); ++i) {
        const int port = int(DecToInt(ports[i], 0));
        const TPortDetails details = DescribePort(sio_PortPath(port), roots);
        if (JsonOutput)
            listed.append(PortJson(port, details));
        else
            PrintPort(port, details);
    }
    if (JsonOutput)
        PrintJson({{"ports", listed}});
    return ExitOk;
}

QJsonValue JsonText(bool present, const QString &text) {
    return present ? QJsonValue(text) : QJsonValue(QJsonValue::Null);
}

int ShowInfo(TCliSession &session) {
    const TDeviceIdentity id = session.Identity();
    if (JsonOutput) {
        PrintJson({{"type", id.name}, {"imei", id.imei}, {"hw", id.hw}, {"sw", id.sw}});
        return ExitOk;
    }
    Print(QStringLiteral("type: %1\nimei: %2\nhw: %3\nsw: %4\n").arg(id.name, id.imei).arg(id.hw).arg(id.sw));
    return ExitOk;
}

// The device's whole configuration; false (and said why) when it could not be read.
bool ReadDeviceConfig(TCliSession &session, TLuHash &config) {
    TCmdResult result;
    if (!session.RunCommand(TDeviceCommand::ReadConfig(), result)) {
        PrintError(QStringLiteral("Reading the configuration failed: ") + UnescapeText(result.answer));
        return false;
    }
    config.Assign(UnescapeText(result.answer), true);
    return true;
}

int ReadConfig(TCliSession &session) {
    TLuHash config;
    if (!ReadDeviceConfig(session, config))
        return ExitFailed;
    if (JsonOutput) {
        // An array keeps the device's order, which an object would not.
        QJsonArray entries;
        for (int i = 0; i < config.Count(); ++i)
            entries.append(QJsonObject{{"key", config.GetKey(i)}, {"value", config.GetValByIndex(i)}});
        PrintJson({{"config", entries}});
        return ExitOk;
    }
    Print(config.AsText(QStringLiteral("="), QStringLiteral("\n")) + u'\n');
    return ExitOk;
}

// Every parameter a load of the file would change, or that the file leaves as the device has it.
int DiffConfig(TCliSession &session, const TLuHash &file) {
    TLuHash device;
    if (!ReadDeviceConfig(session, device))
        return ExitFailed;
    const QList<TConfigDifference> differences = CompareConfigs(device, file);
    if (JsonOutput) {
        QJsonArray rows;
        for (const TConfigDifference &d : differences)
            rows.append(QJsonObject{{"key", d.key}, {"device", JsonText(d.onDevice, d.deviceValue)},
                                    {"file", JsonText(d.inFile, d.fileValue)}});
        PrintJson({{"differences", rows}});
        return differences.isEmpty() ? ExitOk : ExitDifferent;
    }
    for (const TConfigDifference &d : differences) {
        const QString deviceSide = d.onDevice ? QStringLiteral("device=") + d.deviceValue : QStringLiteral("(not on the device)");
        const QString fileSide = d.inFile ? QStringLiteral("file=") + d.fileValue : QStringLiteral("(not in the file)");
        Print(d.key + QStringLiteral("\t") + deviceSide + QStringLiteral("\t") + fileSide + u'\n');
    }
    Print(QStringLiteral("%1 differences\n").arg(differences.size()));
    return differences.isEmpty() ? ExitOk : ExitDifferent;
}

// The same entries a loaded configuration file marks for writing.
QList<std::pair<QString, QString>> WriteEntries(const TLuHash &config) {
    QList<std::pair<QString, QString>> entries;
    for (int i = 0; i < config.Count(); ++i) {
        const QString key = config.GetKey(i);
        const QString value = config.GetValByIndex(i);
        if (WrittenByLoad(key, value))
            entries.append({key, value});
    }
    return entries;
}

// Why a configuration file cannot be written from, or nothing when it can be read.
QString UnreadableFile(const QString &fileName) {
    const QFileInfo info(fileName);
    if (!info.exists())
        return QStringLiteral("No such file: ") + fileName;
    if (!info.isFile())
        return QStringLiteral("Not a file: ") + fileName;
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("Cannot read ") + fileName + QStringLiteral(": ") + file.errorString();
    return {};
}

// The configuration to write, read before any port is opened; false (and said why) when there is none.
bool LoadConfig(const QString &fileName, TLuHash &config) {
    QString problem = UnreadableFile(fileName);
    if (problem.isEmpty() && config.Load(fileName, true) == 0)
        problem = QStringLiteral("No configuration entries in ") + fileName;
    if (!problem.isEmpty())
        PrintError(problem);
    return problem.isEmpty();
}

// The session backs up what the device reported before it changes anything, as the window's does:
// the configuration is read first. False when it cannot be read and the user has not said to go on
// without a backup (force=1).
bool ReadForBackup(TCliSession &session) {
    TLuHash device;
    if (ReadDeviceConfig(session, device))
        return true;
    PrintError(QStringLiteral("No backup of the device's configuration: the device's configuration could not be read"));
    if (AppSettings->GetVal(QStringLiteral("force")) == u"1")
        return true;
    PrintError(QStringLiteral("Nothing was changed; give force=1 to go on without a backup."));
    return false;
}

int ListBackupFiles(const QString &imei) {
    const QStringList devices = imei.isEmpty() ? BackupDevices(AppDataDir) : QStringList{imei};
    QJsonArray listed;
    for (const QString &device : devices)
        for (const QString &path : ListBackups(AppDataDir, device)) {
            listed.append(QJsonObject{{"imei", device}, {"path", path}});
            if (!JsonOutput)
                Print(path + u'\n');
        }
    if (JsonOutput)
        PrintJson({{"backups", listed}});
    else if (listed.isEmpty())
        PrintError(QStringLiteral("No backups in ") + AppDataDir + QStringLiteral("backups/"));
    return ExitOk;
}

int WriteConfig(TCliSession &session, const TLuHash &config) {
    int failed = 0;
    int confirmed = 0;
    // The engine's word to the user, for one: another tracker was found and the rest was not sent.
    session.OnMessage = [](const QString &text) { PrintError(text); };
    const bool done = session.RunWrite(WriteEntries(config), [&](const QString &key, const QString &value, bool ok,
                                                                 const QString &answer) {
        const QString entry = key + u'=' + value;
        if (ok) {
            ++confirmed;
            Print(entry + QStringLiteral(": confirmed\n"));
        } else {
            ++failed;
            Print(entry + QStringLiteral(": FAILED [") + UnescapeText(answer).replace(u'\r', u' ').trimmed() +
                  QStringLiteral("]\n"));
        }
    });
    session.OnMessage = nullptr;
    if (session.NothingQueued())
        return ExitFailed; // nothing written: said why
    Print(QStringLiteral("%1 written, %2 refused\n").arg(confirmed).arg(failed));
    if (!done)
        PrintError(QStringLiteral("The device stopped answering before every entry was written."));
    return done && failed == 0 ? ExitOk : ExitFailed;
}

// The debug log starts every line it is given with a line end and a "yyyymmdd hhnnss " stamp; the
// device's lines are printed as they came, one to a line.
QString DeviceLines(const QString &logText) {
    static const QRegularExpression stamp(QStringLiteral("^\\d{8} \\d{6} "));
    QString lines;
    for (const QString &line : logText.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts))
        lines += QString(line).remove(stamp) + u'\n';
    return lines;
}

// The device's reply to a raw line is not an answer: the engine writes it to the debug log, so the
// reply is taken from there, as the log window does.
class TDebugLogEcho : public TNotifyReceiver {
public:
    bool collecting = false;
    QString text;
    TLuLogTail tail{DbgLogFile}; // last: its thread stops before what its notifications fill goes away
    TDebugLogEcho() {
        tail.SetNotifyWindow(this);
        tail.SetTag(1);
    }
    void HandleNotification(quint32, int, qint64 value, const QString &) override {
        if (value > 0 && collecting)
            text += tail.Tail().GetText();
        tail.Tail().Clear();
    }
};

int SendLine(TCliSession &session, const QString &line) {
    TDebugLogEcho echo;
    auto pump = [](int ms) {
        const QDeadlineTimer deadline(ms);
        while (!deadline.hasExpired()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            QThread::msleep(5);
        }
    };
    pump(700); // past the follower's first look, which delivers the log's old tail
    echo.collecting = true;
    TCmdResult result;
    const bool ok = session.RunCommand(TDeviceCommand::Internal(TDeviceCommand::SendText, line), result);
    pump(1100);
    Print(DeviceLines(echo.text));
    return ok ? ExitOk : ExitFailed;
}

int RunDeviceCommand(const QString &command, const QStringList &args) {
    const int timeoutMs =
        int(std::max<qint64>(1, AppSettings->GetAsInteger(QStringLiteral("cli_timeout")))) * 1000;
    TLuHash config;
    if ((command == u"write" || command == u"diff") && !LoadConfig(args.value(0), config))
        return ExitBadFile;
    TCliSession session(timeoutMs);
    const int found = session.WaitForDevice(AppSettings->GetVal(QStringLiteral("password")));
    if (found != ExitOk)
        return NoDevice(session, found);
    if (command == u"info")
        return ShowInfo(session);
    if (command == u"read")
        return ReadConfig(session);
    if ((command == u"write" || command == u"firmware") && !ReadForBackup(session))
        return ExitFailed;
    if (command == u"write")
        return WriteConfig(session, config);
    if (command == u"diff")
        return DiffConfig(session, config);
    if (command == u"firmware")
        return UploadFirmware(session, args.value(0));
    return SendLine(session, args.join(u' '));
}

// The description a check reads: the file given by params=, or the window's three places.
bool LoadDescription(TLuHash &description) {
    const QString file = AppSettings->GetVal(QStringLiteral("params"));
    if (file.isEmpty()) {
        LoadParamsDescription(description, {ExeDir, ParentDir, ConfDirPrefix()});
        if (description.Count() == 0)
            PrintError(QStringLiteral("No parameter description found: give one with params=FILE"));
    } else if (const QString problem = UnreadableFile(file); !problem.isEmpty()) {
        PrintError(problem);
        return false;
    } else {
        description.Load(file, true);
    }
    return description.Count() > 0;
}

int CheckConfig(const QString &fileName) {
    TLuHash description;
    if (!LoadDescription(description))
        return ExitBadFile;
    if (const QString problem = UnreadableFile(fileName); !problem.isEmpty()) {
        PrintError(problem);
        return ExitBadFile;
    }
    const QList<TConfigEntry> entries = ConfigEntries(ReadTextFile(fileName, 0));
    const QList<TConfigProblem> problems = CheckConfigEntries(entries, description);
    // The description's own contradictions are the description's, not the file's: said, not counted.
    const QStringList contradictions = DescriptionProblems(description);
    if (JsonOutput) {
        QJsonArray rows;
        for (const TConfigProblem &p : problems)
            rows.append(QJsonObject{{"line", p.entry.line}, {"key", p.entry.key}, {"value", p.entry.value},
                                    {"reason", p.reason}});
        PrintJson({{"entries", int(entries.size())}, {"problems", rows},
                   {"description_problems", QJsonArray::fromStringList(contradictions)}});
        return problems.isEmpty() ? ExitOk : ExitFileProblems;
    }
    for (const QString &contradiction : contradictions)
        PrintError(QStringLiteral("description: ") + contradiction);
    for (const TConfigProblem &p : problems)
        Print(QStringLiteral("line %1: %2=%3: %4\n").arg(p.entry.line).arg(p.entry.key, p.entry.value, p.reason));
    Print(QStringLiteral("%1 entries checked, %2 with problems\n").arg(entries.size()).arg(problems.size()));
    return problems.isEmpty() ? ExitOk : ExitFileProblems;
}

// station JOB [--trackers N]
int Station(QStringList args) {
    int trackers = 0;
    const qsizetype at = args.indexOf(QStringLiteral("--trackers"));
    bool ok = true;
    if (at >= 0) {
        trackers = args.value(at + 1).toInt(&ok);
        args.remove(at, std::min<qsizetype>(2, args.size() - at));
    }
    const bool broker = !AppSettings->GetVal(QStringLiteral("broker")).isEmpty();
    if (!ok || trackers < 0 || args.size() > 1 || (args.isEmpty() && !broker)) {
        PrintError(QStringLiteral("Usage: veltra_cli station JOB [--trackers N] [--json] "
                                  "(without JOB: broker=URL and the jobs published there)"));
        return ExitUsage;
    }
    TLuHash description;
    if (!LoadDescription(description))
        return ExitBadFile;
    return RunStation(args.value(0), description, JsonOutput, trackers);
}

// The plain transfers: no device is looked for.
int RunPortCommand(const QString &command, const QString &path, bool ymodem) {
    if (command == u"xsend")
        return SendByModem(path, ymodem);
    if (command == u"xrecv")
        return ReceiveByModem(path, ymodem);
    return ReceiveBatch(path);
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    // Settings come first (they contain "="); the first word without "=" is the command.
    QStringList settings{app.arguments().value(0), QStringLiteral("cli_timeout=20")};
    QStringList rest = app.arguments().mid(1);
    while (!rest.isEmpty() && rest.first().contains(u'='))
        settings << rest.takeFirst();
    for (QString &setting : settings) {
        if (setting.startsWith(QStringLiteral("broker_pass="))) {
            PrintError(QStringLiteral("broker_pass= is not taken from the command line (every user can read it in the "
                                      "process list): put it in veltra_cli.conf or give broker_pass_file=FILE"));
            return ExitUsage;
        }
    }
    settings = WithAbsolutePaths(settings, {"params=", "broker_ca=", "broker_cert=", "broker_key=", "broker_pass_file="});
    const QString command = rest.isEmpty() ? QString() : rest.takeFirst().toLower();
    // "--ymodem" and "--json" may stand anywhere after the command word.
    const bool ymodem =
        CommandsWithYModem.contains(command) && rest.removeAll(QStringLiteral("--ymodem")) > 0;
    JsonOutput = CommandsWithJson.contains(command) && rest.removeAll(QStringLiteral("--json")) > 0;
    if (command == u"--version") {
        Print(VersionLine(QCoreApplication::applicationFilePath()) + u'\n');
        return ExitOk;
    }
    if (!Commands.contains(command) || (rest.isEmpty() && !CommandsWithoutArgs.contains(command)))
        return ShowUsage(command);
    // Start-up makes the program's folder the current one: paths are fixed before that.
    // A station given a broker takes its jobs from there: its JOB may be left out.
    if (CommandsWithPath.contains(command) && !rest.isEmpty() && !rest[0].startsWith(QStringLiteral("--"))) {
        rest[0] = QFileInfo(rest[0]).absoluteFilePath();
        if (!PathExists(command, rest[0])) {
            PrintError(QStringLiteral("No such file or folder: ") + rest[0]);
            return ExitBadFile;
        }
    }
    try {
        StartUp(settings);
    } catch (const std::exception &e) {
        PrintError(QStringLiteral("veltra_cli: ") + QString::fromUtf8(e.what()));
        return ExitUsage;
    }
    if (command == u"ports")
        return ListPorts();
    if (command == u"doctor")
        return Doctor(rest.value(0));
    if (command == u"check")
        return CheckConfig(rest[0]);
    if (command == u"station")
        return Station(rest);
    if (command == u"backups")
        return ListBackupFiles(rest.value(0));
    if (CommandsOnPort.contains(command))
        return RunPortCommand(command, rest[0], ymodem);
    return RunDeviceCommand(command, rest);
}
