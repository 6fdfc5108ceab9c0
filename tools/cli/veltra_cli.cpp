// veltra_cli: the configurator without windows, on the same engine. For scripted provisioning of many
// trackers and for running the engine end to end on a bench:
//   veltra_cli [key=value settings...] COMMAND [ARGS]
#include "LuFiles.h"
#include "LuLogTail.h"
#include "cli_session.h"
#include "common.h"
#include "pcomm_sio.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QThread>
#include <cstdio>

namespace {

enum TExit { ExitOk = 0, ExitUsage = 1, ExitNoDevice = 2, ExitPassword = 3, ExitFailed = 4, ExitBadFile = 5 };

const char *const Usage =
    "usage: veltra_cli [key=value ...] COMMAND [ARGS]\n"
    "\n"
    "Commands:\n"
    "  ports        list the serial ports that would be probed\n"
    "  info         find and identify the device: type, IMEI, versions\n"
    "  read         print the device's configuration as key=value lines\n"
    "  write FILE   write every entry of a configuration file, report each one\n"
    "  send LINE    send a raw line and print what the device sends back within a second\n"
    "\n"
    "Settings (key=value before the command) are those of the configurator, for example\n"
    "  com_ports=3,5      probe only these ports      com3=/dev/ttyUSB0   map a port to a device\n"
    "  password=SECRET    answer the device's password request\n"
    "  cli_timeout=20     seconds to wait for the device and for each command\n"
    "  log_dir=/tmp/logs  where the logs go\n"
    "\n"
    "Exit codes: 0 done, 1 usage, 2 no device answered, 3 password needed or wrong,\n"
    "            4 a command failed, 5 unreadable configuration file.\n";

void Print(const QString &text) {
    std::fputs(text.toLocal8Bit().constData(), stdout);
}
void PrintError(const QString &text) {
    std::fputs((text + u'\n').toLocal8Bit().constData(), stderr);
}

int NoDevice(TCliSession &session, int code) {
    if (code == ExitPassword)
        PrintError(QStringLiteral("The device asks for a password: give password=... (or the right one)."));
    else
        PrintError(QStringLiteral("No device answered on ports: ") + session.Engine().ComLs().join(u' '));
    return code;
}

int ListPorts() {
    QString detail;
    const TLuStringList ports = TVeltraCommander::ListComPorts(detail);
    if (ports.Count() == 0) {
        PrintError(QStringLiteral("No serial ports found."));
        return ExitNoDevice;
    }
    for (int i = 0; i < ports.Count(); ++i)
        Print(QStringLiteral("COM%1\t%2\n").arg(ports[i], sio_PortPath(int(DecToInt(ports[i], 0)))));
    return ExitOk;
}

int ShowInfo(TCliSession &session) {
    const TCliSession::TIdentity id = session.Identity();
    Print(QStringLiteral("type: %1\nimei: %2\nhw: %3\nsw: %4\n").arg(id.name, id.imei).arg(id.hw).arg(id.sw));
    return ExitOk;
}

int ReadConfig(TCliSession &session) {
    QString cmd, answer;
    if (!session.RunCommand(QStringLiteral("/R_CFG"), cmd, answer)) {
        PrintError(QStringLiteral("Reading the configuration failed: ") + UnescapeText(answer));
        return ExitFailed;
    }
    TLuHash config;
    config.Assign(UnescapeText(answer), true);
    Print(config.AsText(QStringLiteral("="), QStringLiteral("\n")) + u'\n');
    return ExitOk;
}

// The same entries a loaded configuration file marks for writing: keys starting with "_" are the
// device's own, and "NOT USE" marks a parameter the device does not use.
QStringList WriteCommands(const TLuHash &config) {
    QStringList lines;
    for (int i = 0; i < config.Count(); ++i) {
        const QString key = config.GetKey(i);
        const QString value = config.GetValByIndex(i);
        if (!key.startsWith(u'_') && value != u"NOT USE")
            lines << QStringLiteral("S_") + key + u'=' + value;
    }
    return lines;
}

int WriteConfig(TCliSession &session, const QString &fileName) {
    TLuHash config;
    if (config.Load(fileName, true) == 0) {
        PrintError(QStringLiteral("No configuration entries in ") + fileName);
        return ExitBadFile;
    }
    int failed = 0;
    const QStringList lines = WriteCommands(config);
    const bool done = session.RunBatch(lines, [&failed](const QString &cmd, bool ok, const QString &answer) {
        const QString entry = cmd.mid(2);
        if (ok) {
            Print(entry + QStringLiteral(": confirmed\n"));
        } else {
            ++failed;
            Print(entry + QStringLiteral(": FAILED [") + UnescapeText(answer).replace(u'\r', u' ').trimmed() +
                  QStringLiteral("]\n"));
        }
    });
    if (!done)
        PrintError(QStringLiteral("The device stopped answering before every entry was written."));
    return done && failed == 0 ? ExitOk : ExitFailed;
}

// The device's reply to a raw line is not an answer: the engine writes it to the debug log, so the
// reply is taken from there, as the log window does.
class TDebugLogEcho : public TNotifyReceiver {
public:
    TLuLogTail tail{DbgLogFile};
    bool printing = false;
    TDebugLogEcho() {
        tail.SetNotifyWindow(this);
        tail.SetTag(1);
    }
    void HandleNotification(quint32, int, qint64 value, const QString &) override {
        const QString text = value > 0 ? tail.Tail().GetText() : QString();
        tail.Tail().Clear();
        if (printing)
            Print(text);
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
    echo.printing = true;
    QString cmd, answer;
    const bool ok = session.RunCommand(QStringLiteral("_SEND_STR=") + line, cmd, answer);
    pump(1100);
    Print(QStringLiteral("\n"));
    return ok ? ExitOk : ExitFailed;
}

int RunDeviceCommand(const QString &command, const QStringList &args) {
    const int timeoutMs =
        int(std::max<qint64>(1, AppSettings->GetAsInteger(QStringLiteral("cli_timeout")))) * 1000;
    TCliSession session(timeoutMs);
    const int found = session.WaitForDevice(AppSettings->GetVal(QStringLiteral("password")));
    if (found != ExitOk)
        return NoDevice(session, found);
    if (command == u"info")
        return ShowInfo(session);
    if (command == u"read")
        return ReadConfig(session);
    if (command == u"write")
        return WriteConfig(session, args.value(0));
    return SendLine(session, args.join(u' '));
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    // Settings come first (they contain "="); the first word without "=" is the command.
    QStringList settings{app.arguments().value(0), QStringLiteral("cli_timeout=20")};
    QStringList rest = app.arguments().mid(1);
    while (!rest.isEmpty() && rest.first().contains(u'='))
        settings << rest.takeFirst();
    const QString command = rest.isEmpty() ? QString() : rest.takeFirst().toLower();
    const bool needsArg = command == u"write" || command == u"send";
    if (command.isEmpty() || (needsArg && rest.isEmpty()) ||
        !QStringList{"ports", "info", "read", "write", "send"}.contains(command)) {
        std::fputs(Usage, command == u"help" || command == u"--help" ? stdout : stderr);
        return command == u"help" || command == u"--help" ? ExitOk : ExitUsage;
    }
    // Start-up makes the program's folder the current one: file arguments are fixed before that.
    if (command == u"write")
        rest[0] = QFileInfo(rest[0]).absoluteFilePath();
    try {
        StartUp(settings);
    } catch (const std::exception &e) {
        PrintError(QStringLiteral("veltra_cli: ") + QString::fromUtf8(e.what()));
        return ExitUsage;
    }
    if (command == u"ports")
        return ListPorts();
    return RunDeviceCommand(command, rest);
}
