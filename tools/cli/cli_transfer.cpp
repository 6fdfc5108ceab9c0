#include "cli_transfer.h"

#include "LuPlatform.h"
#include "LuProto.h"
#include "LuUtils.h"
#include "cli_interrupt.h"
#include "cli_session.h"
#include "common.h"
#include "notify.h"
#include "pcomm_sio.h"
#include "veltra_commander.h"

#include <QFileInfo>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <functional>

namespace {

// On a terminal one line rewritten in place: "\r<step> <detail>". Elsewhere (a pipe, a log) one line
// for each new step only, so that a long transfer does not fill the log with figures.
class TProgressLine {
public:
    ~TProgressLine() { End(); }
    void Show(const QString &step, const QString &detail);
    void End();

private:
    const bool fterminal = StdoutIsTerminal();
    QString fstep;
    QString fshown; // what the terminal line holds now
};

void TProgressLine::Show(const QString &step, const QString &detail) {
    if (!fterminal) {
        if (step != fstep)
            Print(step + u'\n');
        fstep = step;
        return;
    }
    const QString text = step + u' ' + detail;
    if (text == fshown)
        return;
    // Blanks over what is left of a longer previous text.
    Print(u'\r' + text + QString(std::max<qsizetype>(fshown.size() - text.size(), 0), u' '));
    fshown = text;
}

void TProgressLine::End() {
    if (!fshown.isEmpty())
        Print(QStringLiteral("\n"));
    fshown.clear();
    fstep.clear();
}

// The engine's progress reports as its progress window takes them: a caption, a step and a percentage.
class TFirmwareProgress {
public:
    void Take(int code, qint64 value, const QString &text);
    void End() { fline.End(); }

private:
    TProgressLine fline;
    QString fstep;
    qint64 fpercent = 0;
};

void TFirmwareProgress::Take(int code, qint64 value, const QString &text) {
    switch (code) {
    case PROGRESS_SHOW:
        fstep.clear();
        fpercent = 0;
        return;
    case PROGRESS_HIDE:
        fline.End();
        return;
    case PROGRESS_TEXT:
        fline.End();
        Print(text + u'\n');
        return;
    case PROGRESS_STEP:
        fstep = text;
        break;
    case PROGRESS_PERCENT:
        fpercent = value;
        break;
    default:
        return;
    }
    fline.Show(fstep, QStringLiteral("%1%").arg(fpercent));
}

QString StatText(const TLuProtocolStat &stat) {
    const QString bytes = stat.TotalSize > 0
                              ? QStringLiteral("%1 of %2 bytes").arg(stat.TransferedSize).arg(stat.TotalSize)
                              : QStringLiteral("%1 bytes").arg(stat.TransferedSize);
    return bytes + QStringLiteral(", %1 B/s").arg(stat.AverageSpeed);
}

// Follows a started file-level transfer to its end; the worker's events are not used, so the loop
// only has to look at its status and figures.
int WaitForTransfer(TLuXYModem &modem, int started) {
    if (started != xmOK)
        return started;
    TInterruptWatch interrupt;
    TProgressLine line;
    for (int status; (status = modem.Status()) != lupsReady;) {
        TLuProtocolStat stat;
        modem.GetStat(stat);
        line.Show(TLuXYModem::StatusTextOf(status), StatText(stat));
        ServeNotificationsFor(100);
        if (interrupt.Take())
            modem.Cancel();
    }
    return modem.ErrorCode();
}

QString SizeText(const QString &fileName) {
    return QStringLiteral(" (%1 bytes)").arg(QFileInfo(fileName).size());
}

// Runs one transfer that `start` begins on the first port to be probed, with the device's line.
// `success` is the result that means done; `report` then tells what was transferred.
int RunOnPort(const std::function<int(TLuXYModem &)> &start, int success,
              const std::function<void(const TLuXYModem &)> &report) {
    QString detail;
    const TLuStringList ports = TVeltraCommander::ListComPorts(detail);
    if (ports.Count() == 0) {
        PrintError(QStringLiteral("No serial port to use: give com_ports=N."));
        return ExitNoDevice;
    }
    const int number = int(DecToInt(ports[0], 0));
    const std::unique_ptr<TLuPCom> port = TVeltraCommander::NewPort(number);
    try {
        port->Open();
    } catch (const TLuPComError &) {
        // The same explanation as the commands that look for the tracker give.
        PrintError(sio_OpenErrorText(number, sio_LastError()));
        return ExitNoDevice;
    }
    TLuXYModem modem;
    modem.SetComPort(port.get());
    modem.SetFirstInviteDelay(
        int(DecToInt(AppSettings->GetVal(QStringLiteral("invite_delay")), modem.FirstInviteDelay())));
    const int result = WaitForTransfer(modem, start(modem));
    if (result != success) {
        PrintError(QStringLiteral("Transfer failed: ") + TLuXYModem::GetErrorText(result));
        return ExitFailed;
    }
    report(modem);
    return ExitOk;
}

// The receiving side knows the names only from the worker: one, or a batch joined by CR.
void ReportReceived(const TLuXYModem &modem) {
    for (const QString &name : modem.FileName().split(u'\r', Qt::SkipEmptyParts))
        Print(QStringLiteral("Received ") + name + SizeText(name) + u'\n');
}

} // namespace

int UploadFirmware(TCliSession &session, const QString &fileName) {
    TFirmwareProgress progress;
    session.OnProgress = [&progress](int code, qint64 value, const QString &text) {
        progress.Take(code, value, text);
    };
    QString message = QStringLiteral("The device went away before the upload began.");
    session.OnMessage = [&message](const QString &text) { message = text; };
    TInterruptWatch interrupt;
    bool linkLost = false;
    const bool ok = session.RunFirmware(
        fileName,
        [&] {
            if (interrupt.Take())
                session.Engine().Cancel();
        },
        linkLost);
    session.OnProgress = nullptr;
    session.OnMessage = nullptr;
    progress.End();
    if (!ok && session.NothingQueued())
        return ExitFailed; // no backup, and not going on without one: said why
    if (!ok) {
        PrintError(message);
        if (linkLost)
            PrintError(QStringLiteral("The serial port failed during the upload; the link to the device was "
                                      "dropped (see the main log)."));
        return ExitFailed;
    }
    Print(message + u'\n');
    return ExitOk;
}

int SendByModem(const QString &fileName, bool ymodem) {
    return RunOnPort(
        [&](TLuXYModem &modem) {
            return ymodem ? modem.SendFilesAsync({fileName}) : modem.SendFileAsync(fileName, false);
        },
        xmOK,
        [&](const TLuXYModem &) { Print(QStringLiteral("Sent ") + fileName + SizeText(fileName) + u'\n'); });
}

int ReceiveByModem(const QString &fileName, bool ymodem) {
    // XModem has no end-of-file header: the sender's EOT is the regular end.
    return RunOnPort([&](TLuXYModem &modem) { return modem.ReadFileAsync(fileName, ymodem); },
                     ymodem ? xmOK : xmEndOfText, ReportReceived);
}

int ReceiveBatch(const QString &folder) {
    // The batch ends with the sender's empty header.
    return RunOnPort([&](TLuXYModem &modem) { return modem.ReadFilesAsync(folder); }, xmLastFile,
                     ReportReceived);
}
