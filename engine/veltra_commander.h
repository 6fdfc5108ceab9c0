// TVeltraCommander: the worker thread that owns the serial link to the tracker. It finds the port on
// which the device answers, identifies it, runs the command lines the main window queues (device
// commands, firmware upload, reboot, identification, raw text), keeps the link alive when idle, logs
// everything and reports every event to the main window through synchronous notifications.
//
// The main thread talks to it only through PutCmd, Cancel and ComPort; it reads the published fields
// (LastCmd, LastAns, the identity) while it handles a notification, when the engine is waiting. Checked
// builds assert that. Readers at other times (a refresh timer) take Identity(), which locks.
#pragma once

#include "LuDates.h"
#include "LuPCom.h"
#include "LuStrings.h"

#include "common.h"
#include "device_command.h"
#include "notify.h"

#include <QThread>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>

class QFile;
class TLuXYModem;

// The engine's own log files: commands, the device's own lines, the serial traffic, and the main log
// its dialogue writes to (the process's unless given).
struct TEngineLogs {
    QString cmd, dbg, com;
    QString main = MainLogFile;
    static TEngineLogs ProcessWide(); // CmdLogFile, DbgLogFile, ComLogFile, MainLogFile
};

class TVeltraCommander : public TWorkerThread {
public:
    // `receiver` gets every notification (MainWindowHandle at the time of each one when null); it
    // outlives the engine or stops it first. Several engines run side by side, each with its own logs;
    // `port` (when not 0) is the only port it ever opens, from its first scan on.
    explicit TVeltraCommander(TNotifyReceiver *receiver = nullptr,
                              const TEngineLogs &logs = TEngineLogs::ProcessWide(), int port = 0);
    ~TVeltraCommander() override;

    // Ends the thread, serving its notifications meanwhile, and drops the link. An owner that receives
    // the engine's notifications calls it first in its own destructor (the lifetime rule of notify.h).
    void Stop();

    void PutCmd(const QString &cmd);
    void PutCmd(const TDeviceCommand &cmd);
    void Cancel();
    int CmdQuLen() const;
    // Drops every line not taken yet; the count dropped.
    int ClearQueue();
    // True from the moment a queued line is taken until its result has been reported, or until an
    // error ended it without one (a port failure drops the link instead).
    bool RunningCommand() const { return fRunningCmd; }
    int ComPort() const { return fcom_port; }
    void SetComPort(int port);

    QStringList ComLs() const;
    bool DevPresent() const { return fDevPresent; }
    bool DevNeedPassword() const { return fDevNeedPassword; }
    // Read while handling one of the engine's notifications (or on its own thread).
    QString DevName() const;
    QString DevIMEI() const;
    int DevHwVersion() const;
    int DevSwVersion() const;
    QString LastCmd() const;
    QString LastAns() const;
    TDateTime LastTm() const;

    struct TIdentity {
        bool present = false;
        QString name, imei;
        int hw = 0, sw = 0;
    };
    // The device as last identified, for readers outside a notification.
    TIdentity Identity() const;

    // The last completed scan of the ports: whether any port opened, and why those that did not
    // failed (one text per port, for a person).
    struct TScanReport {
        int scans = 0;
        bool anyOpened = false;
        QStringList openErrors;
        QStringList deniedPaths; // the devices refused for want of permission
        QStringList silentPorts; // "COM<n> (<device>)" of the ports that opened and did not answer
    };
    TScanReport LastScan() const;

    // The parsers of what the device sends, without the port. CleanAnswer: false when the collected
    // answer lines do not start with the command's name; otherwise the answer in its escaped
    // single-line form. ParseIdentity: the fields of an "INFO" text, -1 for a missing version.
    static bool CleanAnswer(const QString &name, QString &answer);
    // A text for the person at the window (a message, the progress of an update), in the language
    // the window installed; lupdate collects these calls as it does tr(). Log lines are not translated.
    static QString ForUser(const char *text);
    static TIdentity ParseIdentity(const QString &text);

    // The port numbers to probe: the setting com_ports, else every serial port the system has,
    // ascending. `detail` receives the log text ("(n) 1 2 3").
    static TLuStringList ListComPorts(QString &detail);
    // A port object with the device's line (115200 baud, 8 data bits, no parity, 2 stop bits, no flow
    // control) and the traffic log as the log level asks; not opened yet.
    static std::unique_ptr<TLuPCom> NewPort(int port, const QString &trafficLog = ComLogFile);
    // What LastCmd reads while the result of queued `line` is reported: the trimmed line, and for a
    // device command without its prefix characters ("." quiet, "/" several answer lines).
    static QString CmdName(const QString &line, bool *quiet = nullptr, bool *multi = nullptr);

protected:
    void Execute() override;

private:
    TNotifyReceiver *Receiver() const;
    bool Notify(int code, qint64 value, const QString &text = QString());
    bool NotifyProgress(int code, qint64 value, const QString &text = QString());
    void NotifyResult(const QString &line, bool ok);
    void RunCycle(int &backoff);
    void ReadUnsolicited();
    void RunQueue(int &backoff);
    bool RunInternal(const QString &cmd, int &backoff);
    bool RunDeviceCommand(const QString &line);
    void KeepAlive();
    bool TakeCmd(QString &cmd);
    bool CheckComPorts();
    int EnumComPorts();
    bool ProbePort(int port, QString &detail, TScanReport &scan);
    void PublishScan(TScanReport &scan);
    bool ExchangeCmd(const QString &cmd, QString &answer, bool multi, bool log);
    bool ProbeInfo(QString &answer);
    void SetDevInfo(const QString &text);
    bool UpdateFirmware(const QString &fileName);
    void SendFirmware(const QString &fileName, int &result);
    void SendFirmwareBlocks(TLuXYModem &modem, QFile &file, int &result);
    static QString FirmwareResultMessage(int result);
    void Disconnect();
    void ReleasePortIfAsked();
    void LogText(const QString &text);
    void LogCmd(const QString &what, const QString &result, qint64 elapsed,
                const QString &detail = QString());
    void LogInput(const QString &text);
    void RememberQueueOwner();
    void DropLinesForAnotherDevice();
    static bool ChangesDevice(const QString &line);
    bool Terminating() const;
    void Pause(int ms);
    void CheckPublishedRead() const;

    const QString TAG = QStringLiteral("comm");
    TNotifyReceiver *const freceiver;
    const TEngineLogs flogs;
    std::atomic<int> fcom_port{0};
    std::unique_ptr<TLuPCom> com;
    TLuStringList fcmdqu;
    TLuStringList fcomls;
    std::atomic<bool> fDevPresent{false};
    std::atomic<bool> fDevNeedPassword{false};
    QString fDevName;
    QString fDevIMEI;
    int fDevHwVersion = 0;
    int fDevSwVersion = 0;
    mutable std::mutex fDevLock; // the identity fields and fScan, written by the engine's thread
    TScanReport fScan;
    // Set when the device went away with lines still queued: the IMEI they were meant for (engine's
    // thread only). The device found next runs them only when it is that same tracker.
    bool fQueueOrphaned = false;
    QString fQueuedFor;
    QString fLastCmd;
    QString fLastAns;
    TDateTime fLastTm = 0;
    std::atomic<bool> fCancelFlag{false};
    std::atomic<bool> fRunningCmd{false};

    qint64 fLastTick = 0;                  // tick of the last command or keep-alive, for the 5 s rhythm
    std::atomic<bool> fReleasePort{false}; // ComPort changed: the engine's thread drops the port
    mutable std::mutex fQueueLock;            // guards fcmdqu and fcomls between the two threads
    std::mutex fWakeLock;                  // with fWake: lets Stop cut the 100 ms pause short
    std::condition_variable fWake;
};
