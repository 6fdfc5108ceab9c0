#include "veltra_commander.h"

#include "LuFiles.h"
#include "LuProto.h"
#include "common.h"
#include "notify.h"
#include "pcomm_sio.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <cerrno>
#include <cmath>

namespace {

constexpr int CycleMs = 100;
constexpr int ScanBackoffMs = 1000;
constexpr int ErrorBackoffMs = 5000;
constexpr int FirmwareBackoffMs = 5000;
constexpr int KeepAliveMs = 5000;
constexpr int LineTimeoutMs = 500;
constexpr int AnswerLimitMs = 5000;
// A device that keeps talking must not hold the engine in one cycle for ever.
constexpr int UnsolicitedLimitMs = 1000;
constexpr int ProbeLimitMs = 5000;

qint64 Tick() {
    return QDeadlineTimer::current().deadline();
}

TDateTime NowTm() {
    const QDateTime now = QDateTime::currentDateTime();
    const QDate d = now.date();
    const QTime t = now.time();
    return EncodeDateTime(d.year(), d.month(), d.day(), t.hour(), t.minute(), t.second(), t.msec());
}

QString Captured(const QString &pattern, const QString &text) {
    const QRegularExpressionMatch m = QRegularExpression(pattern).match(text);
    return m.hasMatch() ? m.captured(1) : QString();
}

// Switches the port's traffic log off for the lifetime of the object, so that a password (and the
// device's echo of it) never reaches the log; the log shows the gap. Other quiet commands stay in the
// traffic log: only the command log leaves them out.
class TTrafficLogPause {
public:
    TTrafficLogPause(TLuPCom &com, const QString &cmd)
        : fcom(com), fwasOn(TDeviceCommand::FromLine(cmd).IsPassword() && com.LogEnabled()) {
        if (fwasOn)
            fcom.SetLogEnabled(false);
    }
    ~TTrafficLogPause() {
        if (fwasOn)
            fcom.SetLogEnabled(true);
    }

private:
    TLuPCom &fcom;
    bool fwasOn;
};

} // namespace

TEngineLogs TEngineLogs::ProcessWide() {
    return {CmdLogFile, DbgLogFile, ComLogFile, MainLogFile};
}

TVeltraCommander::TVeltraCommander(TNotifyReceiver *receiver, const TEngineLogs &logs, int port)
    : freceiver(receiver), flogs(logs), fcom_port(port) {
    start();
}

TNotifyReceiver *TVeltraCommander::Receiver() const {
    return freceiver ? freceiver : MainWindowHandle.load();
}

bool TVeltraCommander::Notify(int code, qint64 value, const QString &text) {
    return SendNotification(Receiver(), AppMessage, code, value, text);
}

bool TVeltraCommander::NotifyProgress(int code, qint64 value, const QString &text) {
    return SendNotification(Receiver(), ProgressMessage, code, value, text);
}

// The result travels in the notification; LastCmd and LastAns read the same while it is handled.
void TVeltraCommander::NotifyResult(const QString &line, bool ok) {
    const TCmdResult result{TDeviceCommand::FromLine(line), ok, fLastAns};
    SendNotification(Receiver(), AppMessage, MSG_DEV_CMD, ok ? 1 : 0, QString(), std::any(result));
}

TVeltraCommander::~TVeltraCommander() {
    Stop();
}

void TVeltraCommander::Stop() {
    if (isFinished() && !com)
        return;
    requestInterruption();
    fCancelFlag = true;
    {
        std::lock_guard guard(fWakeLock);
        fWake.notify_all();
    }
    JoinServing(this);
    Disconnect();
}

void TVeltraCommander::CheckPublishedRead() const {
    Q_ASSERT_X(ServingNotification() || QThread::currentThread() == this, "TVeltraCommander",
               "published fields are read while a notification is served; use Identity() elsewhere");
}

QString TVeltraCommander::DevName() const {
    CheckPublishedRead();
    return fDevName;
}

QString TVeltraCommander::DevIMEI() const {
    CheckPublishedRead();
    return fDevIMEI;
}

int TVeltraCommander::DevHwVersion() const {
    CheckPublishedRead();
    return fDevHwVersion;
}

int TVeltraCommander::DevSwVersion() const {
    CheckPublishedRead();
    return fDevSwVersion;
}

QString TVeltraCommander::LastCmd() const {
    CheckPublishedRead();
    return fLastCmd;
}

QString TVeltraCommander::LastAns() const {
    CheckPublishedRead();
    return fLastAns;
}

TDateTime TVeltraCommander::LastTm() const {
    CheckPublishedRead();
    return fLastTm;
}

TVeltraCommander::TIdentity TVeltraCommander::Identity() const {
    std::lock_guard guard(fDevLock);
    return {fDevPresent, fDevName, fDevIMEI, fDevHwVersion, fDevSwVersion};
}

void TVeltraCommander::PutCmd(const TDeviceCommand &cmd) {
    PutCmd(cmd.ToLine());
}

void TVeltraCommander::PutCmd(const QString &cmd) {
    if (!fDevPresent)
        return;
    std::lock_guard guard(fQueueLock);
    fcmdqu.Add(cmd);
}

void TVeltraCommander::Cancel() {
    if (!fCancelFlag.exchange(true))
        LogCmd(QStringLiteral("Set cancel flag"), QStringLiteral("ok"), 0);
}

int TVeltraCommander::CmdQuLen() const {
    std::lock_guard guard(fQueueLock);
    return fcmdqu.Count();
}

int TVeltraCommander::ClearQueue() {
    std::lock_guard guard(fQueueLock);
    const int count = fcmdqu.Count();
    fcmdqu.Clear();
    return count;
}

void TVeltraCommander::SetComPort(int port) {
    if (fcom_port.exchange(port) != port)
        fReleasePort = true;
}

QStringList TVeltraCommander::ComLs() const {
    std::lock_guard guard(fQueueLock);
    QStringList ports;
    for (int i = 0; i < fcomls.Count(); ++i)
        ports << fcomls[i];
    return ports;
}

bool TVeltraCommander::TakeCmd(QString &cmd) {
    std::lock_guard guard(fQueueLock);
    if (fcmdqu.Count() == 0)
        return false;
    cmd = fcmdqu.Shift();
    fRunningCmd = true;
    return true;
}

bool TVeltraCommander::Terminating() const {
    return isInterruptionRequested();
}

void TVeltraCommander::Pause(int ms) {
    std::unique_lock guard(fWakeLock);
    if (!Terminating())
        fWake.wait_for(guard, std::chrono::milliseconds(ms));
}

void TVeltraCommander::Execute() {
    int backoff = 0;
    fLastTick = Tick();
    fLastTm = NowTm();
    while (!Terminating()) {
        Pause(CycleMs);
        if (Terminating())
            break;
        fCancelFlag = false;
        ReleasePortIfAsked();
        if (backoff > 0) {
            backoff -= CycleMs;
            continue;
        }
        try {
            RunCycle(backoff);
        } catch (const std::exception &e) {
            LogText(QStringLiteral("XComm: ") + QString::fromUtf8(e.what()));
            Disconnect();
            backoff = ErrorBackoffMs;
        }
    }
}

void TVeltraCommander::RunCycle(int &backoff) {
    if (!com && !CheckComPorts()) {
        backoff = ScanBackoffMs;
        return;
    }
    ReadUnsolicited();
    RunQueue(backoff);
    KeepAlive();
}

void TVeltraCommander::ReleasePortIfAsked() {
    if (fReleasePort.exchange(false) && com)
        Disconnect();
}

void TVeltraCommander::ReadUnsolicited() {
    const qint64 t0 = Tick();
    // The LF after an answer's CR is still queued after every exchange; it is no start of a line, and
    // waiting half a second for the rest of it would stall the engine after each batch.
    while (com && com->SkipLineEnds() && Tick() - t0 < UnsolicitedLimitMs && !Terminating()) {
        const QString line = com->ReadString(false, false, LineTimeoutMs);
        if (!line.isEmpty())
            LogInput(u'\r' + line);
    }
}

void TVeltraCommander::RunQueue(int &backoff) {
    if (fQueueOrphaned && fDevPresent)
        DropLinesForAnotherDevice();
    QString line;
    while (com && !Terminating() && TakeCmd(line)) {
        // Cleared however the command ends, a port error's exception included.
        struct TClearOnExit {
            std::atomic<bool> &flag;
            ~TClearOnExit() { flag = false; }
        } running{fRunningCmd};
        fLastCmd = TrimText(line);
        const bool internal = fLastCmd.startsWith(u'_');
        const bool ok = internal ? RunInternal(fLastCmd, backoff) : RunDeviceCommand(fLastCmd);
        NotifyResult(line, ok);
        fLastTick = Tick();
        fLastTm = NowTm();
        if (internal)
            break;
    }
}

// Reads, the identification and the markers may run on any tracker; everything else may change one.
bool TVeltraCommander::ChangesDevice(const QString &line) {
    const QString cmd = CmdName(line);
    if (cmd.startsWith(u'_'))
        return cmd.startsWith(QStringLiteral("_UPD")) || cmd.startsWith(QStringLiteral("_REBOOT")) ||
               cmd.startsWith(QStringLiteral("_SEND_STR"));
    return !cmd.startsWith(QStringLiteral("R_"));
}

void TVeltraCommander::RememberQueueOwner() {
    if (!fQueueOrphaned && CmdQuLen() > 0) {
        fQueueOrphaned = true;
        fQueuedFor = fDevIMEI;
    }
}

// The device found after a drop is another tracker (or one without an IMEI): the lines that would
// change it are not sent. Each is reported as a failed command, so that the window keeps its marks,
// and the user is told once.
void TVeltraCommander::DropLinesForAnotherDevice() {
    fQueueOrphaned = false;
    if (!fDevIMEI.isEmpty() && fDevIMEI == fQueuedFor)
        return;
    QStringList dropped;
    {
        std::lock_guard guard(fQueueLock);
        TLuStringList kept;
        for (int i = 0; i < fcmdqu.Count(); ++i) {
            if (ChangesDevice(fcmdqu[i]))
                dropped << fcmdqu[i];
            else
                kept.Add(fcmdqu[i]);
        }
        fcmdqu.Assign(kept);
    }
    const QString found = fDevIMEI.isEmpty() ? QStringLiteral("none") : fDevIMEI;
    const QString queuedFor = fQueuedFor.isEmpty() ? QStringLiteral("none") : fQueuedFor;
    for (const QString &line : dropped) {
        fLastCmd = CmdName(line);
        fLastAns = QStringLiteral("not sent: another tracker");
        LogCmd(fLastCmd, QStringLiteral("not sent"), 0,
               QStringLiteral("another tracker: queued for IMEI %1, found IMEI %2").arg(queuedFor, found));
        NotifyResult(line, false);
    }
    if (dropped.isEmpty())
        return;
    LogText(QStringLiteral("Another tracker found (IMEI %1, the queue was for %2): %3 lines not sent")
                .arg(found, queuedFor)
                .arg(dropped.size()));
    Notify(MSG_DEV_MESSAGE, 0,
                     ForUser("Подключён другой трекер (IMEI %1, команды готовились для IMEI %2). "
                             "Не отправлено команд записи: %3.")
                         .arg(found, queuedFor)
                         .arg(dropped.size()));
}

QString TVeltraCommander::CmdName(const QString &line, bool *quiet, bool *multi) {
    QString cmd = TrimText(line);
    if (cmd.startsWith(u'_'))
        return cmd;
    while (!cmd.isEmpty() && (cmd[0] == u'.' || cmd[0] == u'/')) {
        if (bool *flag = cmd[0] == u'.' ? quiet : multi)
            *flag = true;
        cmd.remove(0, 1);
    }
    return cmd;
}

bool TVeltraCommander::RunDeviceCommand(const QString &line) {
    bool quiet = false;
    bool multi = false;
    fLastCmd = CmdName(line, &quiet, &multi);
    TTrafficLogPause pause(*com, fLastCmd);
    return ExchangeCmd(fLastCmd, fLastAns, multi, !quiet);
}

bool TVeltraCommander::RunInternal(const QString &cmd, int &backoff) {
    if (cmd.startsWith(QStringLiteral("_UPD"))) {
        static const QRegularExpression wordThenBlanks(QStringLiteral("^\\S*[ \\t]*"));
        const QString fileName = cmd.mid(wordThenBlanks.match(cmd).capturedLength());
        const bool ok = UpdateFirmware(fileName);
        if (ok) {
            backoff = FirmwareBackoffMs;
            LogText(QStringLiteral("Firmware sent; waiting 5 s while the device writes it"));
        }
        return ok;
    }
    if (cmd == u"_GET_DEV_INFO") {
        fDevPresent = false;
        QString answer;
        return ProbeInfo(answer);
    }
    if (cmd.startsWith(QStringLiteral("_REBOOT"))) {
        const bool ok = ExchangeCmd(QStringLiteral("S_REBOOT=1"), fLastAns, false, false);
        SetDevInfo(QString());
        return ok;
    }
    fLastAns.clear();
    if (cmd.startsWith(QStringLiteral("_SEND_STR"))) {
        const qsizetype eq = cmd.indexOf(u'=');
        if (eq < 0)
            return false;
        com->PutString(cmd.mid(eq + 1, 999) + u'\r');
    }
    return true;
}

void TVeltraCommander::KeepAlive() {
    if (!com || Tick() - fLastTick <= KeepAliveMs)
        return;
    fLastTick = Tick();
    fLastTm = NowTm();
    QString answer;
    const bool ok = DecToInt(fDevIMEI, 0) != 0 ? ExchangeCmd(QStringLiteral("S_NOP"), answer, false, false)
                                               : ProbeInfo(answer);
    if (!ok) {
        LogText(QStringLiteral("NOP error [") + answer + u']');
        Disconnect();
    }
}

TLuStringList TVeltraCommander::ListComPorts(QString &detail) {
    QString setting = AppSettings ? AppSettings->GetVal(QStringLiteral("com_ports")) : QString();
    for (QChar &c : setting)
        if (c == u' ' || c == u'\t' || c == u',' || c == u';')
            c = u'\r';
    TLuStringList ports(setting);
    ports.TrimAll();
    ports.DeleteEmpty();
    if (ports.Count() == 0) {
        QString error;
        for (int port : sio_EnumPorts(&error))
            ports.Add(QString::number(port));
        detail += error;
    }
    ports.Sort(false);
    detail +=
        QStringLiteral(" (%1) ").arg(ports.Count()) + ports.Join(QStringLiteral(" "), 0, ports.Count() - 1);
    return ports;
}

int TVeltraCommander::EnumComPorts() {
    const qint64 t0 = Tick();
    QString detail;
    const TLuStringList ports = ListComPorts(detail);
    bool changed = false;
    {
        std::lock_guard guard(fQueueLock);
        changed = ports.GetText() != fcomls.GetText();
        if (changed)
            fcomls.Assign(ports);
    }
    if (changed) {
        LogCmd(QStringLiteral("Enum COM ports"), detail, Tick() - t0);
        Notify(MSG_COM_PORTS, ports.Count());
    }
    return ports.Count();
}

bool TVeltraCommander::CheckComPorts() {
    if (com)
        return true;
    EnumComPorts();
    const qint64 t0 = Tick();
    QStringList ports = ComLs();
    if (fcom_port > 0)
        ports = ports.contains(QString::number(fcom_port)) ? QStringList{QString::number(fcom_port)}
                                                           : QStringList();
    QString detail;
    bool found = false;
    TScanReport scan;
    for (const QString &port : ports) {
        if (fCancelFlag || Terminating()) {
            detail += QStringLiteral(".canceled");
            break;
        }
        detail += u' ' + port;
        if (ProbePort(int(DecToInt(port, 0)), detail, scan)) {
            found = true;
            break;
        }
    }
    LogCmd(QStringLiteral("Check COM ports"), detail, Tick() - t0);
    PublishScan(scan);
    return found;
}

// The reasons go to the main log when they change, not on every scan of a port that stays missing.
void TVeltraCommander::PublishScan(TScanReport &scan) {
    std::unique_lock guard(fDevLock);
    scan.scans = fScan.scans + 1;
    const bool changed = scan.openErrors != fScan.openErrors;
    fScan = scan;
    guard.unlock();
    if (!changed)
        return;
    for (const QString &reason : scan.openErrors)
        AppLogTo(flogs.main, TAG, reason, -1);
    // The window tells the person once how to get access; the log alone is easily missed.
    if (!scan.deniedPaths.isEmpty())
        Notify(MSG_PORT_DENIED, scan.deniedPaths.size(), scan.deniedPaths.first());
}

TVeltraCommander::TScanReport TVeltraCommander::LastScan() const {
    std::lock_guard guard(fDevLock);
    return fScan;
}

std::unique_ptr<TLuPCom> TVeltraCommander::NewPort(int port, const QString &trafficLog) {
    auto result = std::make_unique<TLuPCom>();
    result->SetPort(port);
    result->SetBaudRate(115200);
    result->SetStopBits(sb2);
    result->SetFlowCtrl(fcNone);
    result->SetLogEnabled(LogLevel >= 9);
    result->SetLogFile(trafficLog);
    result->SetMaxLogSize(100000);
    return result;
}

bool TVeltraCommander::ProbePort(int port, QString &detail, TScanReport &scan) {
    com = NewPort(port, flogs.com);
    try {
        com->Open();
        scan.anyOpened = scan.anyOpened || com->Active();
        if (!com->Active()) {
            detail += u'-';
        } else {
            QString answer;
            if (ProbeInfo(answer)) {
                detail += QStringLiteral("+[") + answer + u']';
                return true;
            }
            detail += answer;
            scan.silentPorts << QStringLiteral("COM%1 (%2)").arg(port).arg(sio_PortPath(port));
        }
    } catch (const std::exception &) {
        detail += u'x';
        if (!com->Active()) {
            const int err = sio_LastError();
            scan.openErrors << sio_OpenErrorText(port, err);
            if (sio_IsPermissionError(err))
                scan.deniedPaths << sio_PortPath(port);
        }
    }
    com.reset();
    return false;
}

bool TVeltraCommander::ExchangeCmd(const QString &cmd, QString &answer, bool multi, bool log) {
    answer.clear();
    const qint64 t0 = Tick();
    qint64 t1 = t0;
    const QString name = TrimText(cmd.mid(2, 99));
    com->Flush();
    com->PutString(cmd + QStringLiteral("\r\n"));
    for (;;) {
        QString line;
        com->ReadString(line, false, LineTimeoutMs);
        if (Terminating())
            break;
        t1 = Tick();
        if (line.isEmpty() || t1 - t0 > AnswerLimitMs)
            break;
        if (!line.startsWith(QStringLiteral("  ")))
            continue;
        answer += TrimText(line) + u'\r';
        if (!multi)
            break;
    }
    const bool ok = CleanAnswer(name, answer);
    if (log)
        LogCmd(cmd, answer, t1 - t0, ok ? QString() : QStringLiteral("bad answer"));
    return ok;
}

bool TVeltraCommander::CleanAnswer(const QString &name, QString &answer) {
    if (answer.left(name.size()) != name)
        return false;
    answer = TrimText(answer.mid(name.size() + 1));
    if (answer.startsWith(u'='))
        answer = TrimText(answer.mid(1));
    answer = ReplaceAll(answer, QStringLiteral("  "), QStringLiteral(" "));
    answer = ReplaceAll(answer, QStringLiteral(": "), QStringLiteral(":"));
    answer = ReplaceAll(answer, QStringLiteral("\r "), QStringLiteral("\r"));
    answer = TrimText(EscapeText(answer));
    return true;
}

bool TVeltraCommander::ProbeInfo(QString &answer) {
    answer.clear();
    com->Flush();
    QThread::msleep(100);
    com->PutString(QStringLiteral("R_INFO\r\n"));
    // Lines that are not answers (echo, the device's own messages) are skipped; a device that never
    // stops sending them is given up on after a few seconds instead of holding the engine for ever.
    QString line;
    const qint64 t0 = Tick();
    for (;;) {
        com->ReadString(line, false, LineTimeoutMs);
        if (line.isEmpty() || line.startsWith(QStringLiteral("  ")) || Terminating())
            break;
        if (Tick() - t0 > ProbeLimitMs) {
            line.clear();
            break;
        }
    }
    line = TrimText(line);
    bool result = false;
    bool identified = false;
    if (line.isEmpty()) {
        answer = QStringLiteral("~");
    } else if (line == u"ERROR=no password") {
        answer = QStringLiteral("NO_PASSWORD");
        result = true;
        fDevPresent = true;
        fDevNeedPassword = true;
        Notify(MSG_DEV_PASSWORD, 0);
    } else if (!line.startsWith(QStringLiteral("INFO"))) {
        answer = line;
    } else {
        answer = TrimText(line.mid(5, 999));
        result = true;
        identified = true;
    }
    LogCmd(QStringLiteral("R_INFO"), answer, 0);
    if (identified)
        SetDevInfo(answer);
    return result;
}

TVeltraCommander::TIdentity TVeltraCommander::ParseIdentity(const QString &text) {
    TIdentity id;
    id.present = !text.isEmpty();
    id.name = TrimText(Captured(QStringLiteral("(.+?)(HW:|SW:|IMEI:)"), text));
    id.imei = Captured(QStringLiteral("IMEI:\\s*(\\S+)"), text);
    const QString hw = Captured(QStringLiteral("HW:\\s*(\\d+)"), text);
    const QString sw = Captured(QStringLiteral("SW:\\s*(\\d+)"), text);
    id.hw = hw.isEmpty() ? -1 : int(DecToInt(hw, 0));
    id.sw = sw.isEmpty() ? -1 : int(DecToInt(sw, 0));
    return id;
}

void TVeltraCommander::SetDevInfo(const QString &text) {
    const bool present = !text.isEmpty();
    std::unique_lock guard(fDevLock);
    if (present) {
        // A field the answer lacks keeps what an earlier identification found.
        const TIdentity id = ParseIdentity(text);
        if (!id.name.isEmpty())
            fDevName = id.name;
        if (!id.imei.isEmpty())
            fDevIMEI = id.imei;
        if (id.hw >= 0)
            fDevHwVersion = id.hw;
        if (id.sw >= 0)
            fDevSwVersion = id.sw;
    } else {
        RememberQueueOwner();
        fDevName.clear();
        fDevIMEI.clear();
        fDevHwVersion = 0;
        fDevSwVersion = 0;
    }
    const bool was = fDevPresent.exchange(present);
    guard.unlock();
    if (present && was)
        Notify(MSG_DEV_INFO, 1);
    else
        Notify(MSG_DEV_PRESENT, present ? 1 : 0);
}

bool TVeltraCommander::UpdateFirmware(const QString &fileName) {
    if (!QFileInfo(fileName).isFile()) {
        LogText(QStringLiteral("File does not exists [") + fileName + u']');
        return false;
    }
    Notify(MSG_DEV_PRESENT, -1);
    LogText(QStringLiteral("Begin firmware update"));
    NotifyProgress(PROGRESS_SHOW, 0);
    int result = xmTimeout;
    // Whatever happens from here on (a port error included), the user gets the outcome, the progress
    // window goes away and the link is dropped so that the rebooted device is found again.
    auto finish = [&] {
        LogText(QStringLiteral("End firmware update"));
        NotifyProgress(PROGRESS_HIDE, 0);
        Notify(MSG_DEV_MESSAGE, 0, FirmwareResultMessage(result));
        Disconnect();
    };
    try {
        SendFirmware(fileName, result);
    } catch (...) {
        // The code reached so far; one that had not failed yet must not read as a finished update.
        if (result >= 0)
            result = xmPortNotOpened;
        finish();
        throw;
    }
    finish();
    return result == xmOK;
}

QString TVeltraCommander::ForUser(const char *text) {
    return QCoreApplication::translate("TVeltraCommander", text);
}

QString TVeltraCommander::FirmwareResultMessage(int result) {
    if (result == xmCancel)
        return ForUser("Обновление прошивки прервано по Вашему желанию.");
    if (result == xmOK)
        return ForUser("Обновление прошивки завершено. Устройство будет перезагружено.");
    return ForUser("Ошибка при передаче прошивки в устройство [%1].").arg(TLuXYModem::GetErrorText(result));
}

// `result` follows the procedure as it goes, so that a port error that ends it leaves the code reached.
void TVeltraCommander::SendFirmware(const QString &fileName, int &result) {
    TLuXYModem modem;
    QString answer;
    if (!ExchangeCmd(QStringLiteral("S_REBOOT=1"), answer, false, true)) {
        LogText(QStringLiteral("Error at reboot"));
        return;
    }
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        LogText(QStringLiteral("File open error [") + fileName + QStringLiteral("] [") +
                QString::number(errno) + u']');
        return;
    }
    LogText(QStringLiteral("Send %1 bytes by XModem [").arg(file.size()) + fileName + u']');
    NotifyProgress(PROGRESS_TEXT, 0, ForUser("Загрузка прошивки из файла [%1]").arg(fileName));
    NotifyProgress(PROGRESS_STEP, 0, ForUser("Ожидание готовности устройства"));

    modem.SetComPort(com.get());
    const qint64 t0 = Tick();
    result = modem.WaitRxR(10000);
    LogCmd(QStringLiteral("Wait RxR"), TLuXYModem::GetErrorText(result), Tick() - t0);
    if (result != xmOK)
        return;
    SendFirmwareBlocks(modem, file, result);
    LogText(QStringLiteral("Send result: ") + TLuXYModem::GetErrorText(result));
}

void TVeltraCommander::SendFirmwareBlocks(TLuXYModem &modem, QFile &file, int &result) {
    const qint64 size = file.size();
    const qint64 blocks = (size + 127) / 128;
    qint64 sent = 0;
    for (qint64 n = 1;; ++n) {
        if (fCancelFlag) {
            result = xmCancel;
            return;
        }
        const qint64 t0 = Tick();
        char block[128];
        const qint64 r = file.read(block, sizeof block);
        // A read error is not the end of the image: the loader would take a truncated one as whole.
        if (r < 0) {
            LogText(QStringLiteral("File read error [") + file.fileName() + QStringLiteral("] [") +
                    file.errorString() + u']');
            result = xmFileReadError;
            return;
        }
        if (r > 0) {
            if (fCancelFlag) {
                result = xmCancel;
                return;
            }
            int repeats = 0;
            result = modem.SendBlock(int(n % 256), block, int(r), repeats);
            LogCmd(QStringLiteral("Send block %1").arg(n), QString::number(result), Tick() - t0,
                   result < 0 ? TLuXYModem::GetErrorText(result) : QString());
            NotifyProgress(PROGRESS_STEP, 0, ForUser("Блок %1 из %2").arg(n).arg(blocks));
            // Halves go to the even neighbour, as the progress bar's figures always did.
            NotifyProgress(PROGRESS_PERCENT, qint64(std::nearbyint(double(n * 100) / double(blocks))));
            if (result < 0)
                return;
            sent += r;
            if (r == 128 && sent < size)
                continue;
        }
        com->PutChar(char(4));
        LogCmd(QStringLiteral("Send EOT"), QStringLiteral("ok"), Tick() - t0);
        NotifyProgress(PROGRESS_STEP, 0, ForUser("Завершение передачи"));
        result = xmOK;
        return;
    }
}

void TVeltraCommander::Disconnect() {
    SetDevInfo(QString());
    com.reset();
}

void TVeltraCommander::LogText(const QString &text) {
    if (!text.isEmpty() && LogLevel >= 5)
        AppLogTo(flogs.main, TAG, text, -1);
}

void TVeltraCommander::LogCmd(const QString &what, const QString &result, qint64 elapsed,
                              const QString &detail) {
    if (flogs.cmd.isEmpty())
        return;
    QString entry = u'\r' + what + QStringLiteral(" -> ") + result;
    if (!detail.isEmpty())
        entry += QStringLiteral(" [") + detail + u']';
    entry += QStringLiteral(" [%1]").arg(elapsed);
    AppendLogLine(flogs.cmd, entry, QString());
}

void TVeltraCommander::LogInput(const QString &text) {
    AppendLogLine(flogs.dbg, text, QString());
}
