// Process-wide values of the configurator and the main log. StartUp fills them once, on the main
// thread, before any worker exists; afterwards they are only read (MainWindowHandle excepted: the
// main window sets it before it creates the command engine). Folder values end with the native
// separator.
#pragma once

#include "LuHash.h"

#include <QString>
#include <QStringList>
#include <atomic>
#include <initializer_list>
#include <mutex>

class TNotifyReceiver;

extern QString ProgramPath;
extern QString ExeDir;
extern QString ParentDir;
extern QString AppDataDir;
extern TLuHash *AppSettings;
extern int LogLevel;
extern QString MainLogFile;
extern QString CmdLogFile;
extern QString ComLogFile;
extern QString DbgLogFile;
extern quint32 AppMessage;
extern quint32 LogTailNotifyMessage;
extern quint32 ProgressMessage;
extern std::atomic<TNotifyReceiver *> MainWindowHandle;
extern std::recursive_mutex LogLock;

// Notification codes of AppMessage and ProgressMessage.
enum : int {
    MSG_DEV_CMD = 4,
    MSG_DEV_PRESENT = 5,
    MSG_DEV_INFO = 6,
    MSG_DEV_MESSAGE = 7,
    MSG_DEV_PASSWORD = 8,
    MSG_DEV_SEND_STR = 9,
    MSG_COM_PORTS = 10,
    MSG_PORT_DENIED = 11, // text: a serial device that could not be opened for want of permission
};
enum : int {
    PROGRESS_SHOW = 1,
    PROGRESS_HIDE = 2,
    PROGRESS_TEXT = 10,
    PROGRESS_STEP = 11,
    PROGRESS_PERCENT = 12,
    PROGRESS_CANCEL = 20,
};

// `arguments` are the process arguments (the program first); `programPath` overrides the program
// file, which is otherwise the running executable. Raises std::runtime_error when the program's
// folder cannot become the current directory.
void StartUp(const QStringList &arguments, const QString &programPath = QString());
void LoadAppSettings(const QStringList &arguments);
// The settings `KEY=FILE` among `arguments` whose key is in `keys` ("params=", ...), their file made
// absolute: StartUp makes the program's folder the current one, so a program fixes them before.
QStringList WithAbsolutePaths(QStringList arguments, std::initializer_list<const char *> keys);
// The setting conf_dir as the prefix of the files read from there (the second settings file, the
// parameter description): used exactly as written, so a relative value is relative to the program's
// folder, except that a leading "~/" stands for the user's home folder. Empty before the settings exist.
QString ConfDirPrefix();

void AppLog(const QString &channel, const QString &text, int level);
// AppLog into another main log (a station's slot has its own).
void AppLogTo(const QString &fileName, const QString &channel, const QString &text, int level);
void AppendLogLine(const QString &fileName, const QString &text, const QString &channel);
// The ceiling of every log file in bytes: the setting log_max_size in megabytes (default 20); 0 when
// logs are never cut (log_max_size=0).
qint64 LogMaxSize();
// Cuts a log that has passed the ceiling back to its newest part, at whole lines; looks at a file at
// most once a minute on each thread that writes it. Start-up cuts every log once.
void KeepLogWithinLimit(const QString &fileName);

// The main window's refresh period: refresh_interval seconds (at most a day), 10 s when absent, 0 or
// not a number.
int RefreshIntervalMs();
// How many configuration backups are kept per device (setting backup_keep, default 50).
int BackupKeep();

// The system beep of transfer retries: the windowed program sets a hook; without one nothing sounds.
void SetBeepHook(void (*hook)());
void SystemBeep();

// Sends AppMessage to MainWindowHandle; skipped (false) while there is no main window.
bool NotifyMainWindow(int code, qint64 value, const QString &text = QString());
// Sends ProgressMessage to MainWindowHandle (the progress codes above).
bool NotifyProgress(int code, qint64 value, const QString &text = QString());
