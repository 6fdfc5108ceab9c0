#include "common.h"

#include "LuFiles.h"
#include "LuPlatform.h"
#include "LuStrings.h"
#include "LuVerInfo.h"
#include "notify.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QThread>
#include <cstdlib>
#include <ctime>
#include <stdexcept>

QString ProgramPath;
QString ExeDir;
QString ParentDir;
QString AppDataDir;
TLuHash *AppSettings = nullptr;
int LogLevel = 6;
QString MainLogFile;
QString CmdLogFile;
QString ComLogFile;
QString DbgLogFile;
quint32 AppMessage = 0;
quint32 LogTailNotifyMessage = 0;
quint32 ProgressMessage = 0;
std::atomic<TNotifyReceiver *> MainWindowHandle{nullptr};
std::recursive_mutex LogLock;

namespace {

const QChar Sep = QDir::separator();

QString WithTrailingSeparator(const QString &dir) {
    return dir.endsWith(u'/') || dir.endsWith(u'\\') ? dir : dir + Sep;
}

QString FolderOf(const QString &path) {
    const qsizetype cut = std::max({path.lastIndexOf(u'/'), path.lastIndexOf(u'\\'), path.lastIndexOf(u':')});
    return path.left(cut + 1);
}

QString FileNameOf(const QString &path) {
    return path.mid(FolderOf(path).size());
}

// The folder above `dir`; a program in the root folder has the root as its parent.
QString ParentOf(const QString &dir) {
    QString lines = dir;
    lines.replace(u'\\', u'\n').replace(u'/', u'\n');
    TLuStringList parts(lines);
    parts.DeleteEmpty();
    const QString joined = parts.Join(Sep, 0, parts.Count() - 2);
    const QString root = dir.startsWith(u'/') ? QStringLiteral("/") : QString();
    return joined.isEmpty() ? (root.isEmpty() ? QString(Sep) : root) : root + joined + Sep;
}

QString UserAppDataDir() {
    QString base = UserConfigFolder();
    if (base.isEmpty()) {
        const QString env = qEnvironmentVariable("APPDATA");
        base = env.size() >= 1 && env.size() <= 259 ? env : ExeDir;
    }
    return WithTrailingSeparator(base) + QStringLiteral("Veltra") + Sep;
}

QString SettingsName() {
    return ChangeFileExtension(FileNameOf(ProgramPath), QStringLiteral("conf"));
}

// The settings as the start banner lists them: a secret (any key that names a password) shows as ***,
// since the main log is read and passed around by people who must not learn it.
QString SettingsForLog() {
    TLuHash shown(*AppSettings);
    for (int i = 0; i < shown.Count(); ++i)
        if (shown.GetKey(i).contains(QStringLiteral("pass"), Qt::CaseInsensitive))
            shown.SetValByIndex(i, QStringLiteral("***"));
    return shown.AsText(QStringLiteral("="), QStringLiteral("\r\n"));
}

void WriteStartBanner() {
    TLuHash version;
    ReadVersionInfo(ProgramPath, version);
    AppLog(QStringLiteral("init"), QString(), -1);
    AppLog(QStringLiteral("init"),
           QStringLiteral("=== ") + version.GetVal("ProductName") + QStringLiteral(" v") +
               version.GetVal("FileVersion") + u' ' + version.GetVal("LegalCopyright"),
           -1);
    AppLog(QStringLiteral("init"), SettingsForLog(), -1);
}

constexpr qint64 DefaultLogMaxMegabytes = 20;
constexpr qint64 LogLookPeriodMs = 60000;

// A log over its ceiling keeps its newer half, so that it is cut again only after as much has been
// written again, not at every look.
void TrimLogOver(const QString &fileName, qint64 ceiling) {
    if (ceiling > 0 && FileSizeOf(fileName) > ceiling)
        TrimFileHead(fileName, ceiling / 2);
}

QString LogPrefix(const QString &channel) {
    QString prefix = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd HHmmss "));
    if (!channel.isEmpty())
        prefix += u'[' + channel + QStringLiteral("] ");
    return prefix;
}

} // namespace

void StartUp(const QStringList &arguments, const QString &programPath) {
    ProgramPath = programPath;
    if (ProgramPath.isEmpty() && QCoreApplication::instance())
        ProgramPath = QCoreApplication::applicationFilePath();
    if (ProgramPath.isEmpty() && !arguments.isEmpty())
        ProgramPath = QFileInfo(arguments.first()).absoluteFilePath();
    MainWindowHandle = nullptr;
    AppMessage = RegisterMessageName(ProgramPath);
    LogTailNotifyMessage = RegisterMessageName(QStringLiteral("TLuLogTailNotifyMessage"));
    ProgressMessage = RegisterMessageName(QStringLiteral("Veltra Progress Message"));
    ExeDir = FolderOf(ProgramPath);
    if (!QDir::setCurrent(ExeDir))
        throw std::runtime_error("I/O error: cannot enter the program folder " + ExeDir.toStdString());
    ParentDir = ParentOf(ExeDir);
    LoadAppSettings(arguments);
    WriteStartBanner();
    std::srand(unsigned(std::time(nullptr)));
}

void LoadAppSettings(const QStringList &arguments) {
    if (!AppSettings)
        AppSettings = new TLuHash();
    AppSettings->Clear();
    const QString settingsName = SettingsName();
    AppSettings->Load(settingsName, true, StdKeySeparators);
    AppDataDir = UserAppDataDir();
    AppSettings->Assign(QStringLiteral("log_level=6\rconf_dir=.") + Sep + QStringLiteral("\rlog_dir=") +
                            AppDataDir,
                        false, StdKeySeparators, QStringLiteral("\r"));
    // With the default conf_dir the second file is the first one again; reading it twice would empty
    // again the values that the defaults have just filled in (a "log_dir=" line).
    const QFileInfo second(ConfDirPrefix() + settingsName);
    if (second.isFile() && second.canonicalFilePath() != QFileInfo(settingsName).canonicalFilePath())
        AppSettings->Load(second.filePath(), true, StdKeySeparators);
    AppSettings->AssignCommandLine(arguments);

    const QString logDir = WithTrailingSeparator(AppSettings->GetVal("log_dir"));
    AppSettings->SetVal("log_dir", logDir);
    if (!DirExists(logDir))
        ForceDirs(logDir);
    LogLevel = int(AppSettings->GetAsInteger("log_level"));
    MainLogFile = logDir + ChangeFileExtension(FileNameOf(ProgramPath), QStringLiteral("log"));
    CmdLogFile = logDir + QStringLiteral("cmd.log");
    ComLogFile = logDir + QStringLiteral("com.log");
    DbgLogFile = logDir + QStringLiteral("dbg.log");

    for (const QString &log : {MainLogFile, CmdLogFile, ComLogFile, DbgLogFile})
        TrimLogOver(log, LogMaxSize());

    const QString codePage = AppSettings->GetVal("ansi_codepage");
    SetAnsiCodePage(codePage.isEmpty() ? QStringLiteral("windows-1251") : codePage);
}

// An installed program lives in a folder no user may write to; "~/" lets one settings file in /etc
// send every user to a folder of their own.
QString ConfDirPrefix() {
    if (!AppSettings)
        return QString();
    const QString confDir = AppSettings->GetVal(QStringLiteral("conf_dir"));
    return confDir.startsWith(QStringLiteral("~/")) ? QDir::homePath() + confDir.mid(1) : confDir;
}

QStringList WithAbsolutePaths(QStringList arguments, std::initializer_list<const char *> keys) {
    for (QString &argument : arguments)
        for (const char *key : keys) {
            const QLatin1String prefix(key);
            if (argument.startsWith(prefix) && argument.size() > prefix.size())
                argument = prefix + QFileInfo(argument.mid(prefix.size())).absoluteFilePath();
        }
    return arguments;
}

void AppLog(const QString &channel, const QString &text, int level) {
    AppLogTo(MainLogFile, channel, text, level);
}

void AppLogTo(const QString &fileName, const QString &channel, const QString &text, int level) {
    if (level > LogLevel)
        return;
    // Waiting longer than about 300 ms would stall the caller; the entry is dropped instead.
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (LogLock.try_lock()) {
            if (!fileName.isEmpty())
                AppendLogLine(fileName, u'\r' + TrimText(text), channel);
            LogLock.unlock();
            return;
        }
        QThread::msleep(100);
    }
}

void AppendLogLine(const QString &fileName, const QString &text, const QString &channel) {
    KeepLogWithinLimit(fileName);
    QString body = text;
    body.remove(u'\n');
    body.replace(u'\r', QStringLiteral("\r\n") + LogPrefix(channel));
    WriteTextFile(fileName, body, false);
}

qint64 LogMaxSize() {
    static const QString key = QStringLiteral("log_max_size");
    if (!AppSettings)
        return 0;
    const qint64 megabytes =
        AppSettings->KeyIndex(key) < 0 ? DefaultLogMaxMegabytes : AppSettings->GetAsInteger(key);
    return megabytes > 0 ? std::min<qint64>(megabytes, 1 << 20) << 20 : 0;
}

// Each writing thread looks at each of its files once a minute, so a log line costs no size query.
// A file's writers are serialised (LogLock for the main log, one thread for each other), so a cut
// never meets a write to the same file.
void KeepLogWithinLimit(const QString &fileName) {
    thread_local QHash<QString, qint64> nextLook;
    const qint64 now = QDeadlineTimer::current().deadline();
    const auto it = nextLook.constFind(fileName);
    if (it != nextLook.constEnd() && now < *it)
        return;
    nextLook.insert(fileName, now + LogLookPeriodMs);
    TrimLogOver(fileName, LogMaxSize());
}

// More than a day is taken as a day: the period in milliseconds must stay within an int.
int RefreshIntervalMs() {
    const qint64 seconds = AppSettings ? AppSettings->GetAsInteger("refresh_interval") : 0;
    return seconds > 0 ? int(std::min<qint64>(seconds, 86400) * 1000) : 10000;
}

int BackupKeep() {
    const qint64 keep = AppSettings ? AppSettings->GetAsInteger("backup_keep") : 0;
    return keep > 0 && keep < 100000 ? int(keep) : 50;
}

bool NotifyMainWindow(int code, qint64 value, const QString &text) {
    TNotifyReceiver *target = MainWindowHandle.load();
    return target && SendNotification(target, AppMessage, code, value, text);
}

bool NotifyProgress(int code, qint64 value, const QString &text) {
    TNotifyReceiver *target = MainWindowHandle.load();
    return target && SendNotification(target, ProgressMessage, code, value, text);
}

namespace {
std::atomic<void (*)()> BeepHook{nullptr};
}

void SetBeepHook(void (*hook)()) {
    BeepHook = hook;
}

void SystemBeep() {
    if (void (*hook)() = BeepHook.load())
        hook();
}
