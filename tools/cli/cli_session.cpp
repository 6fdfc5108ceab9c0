#include "cli_session.h"

#include "LuPlatform.h"
#include "common.h"

#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <cstdio>

namespace {
constexpr int FirstScanGraceMs = 3000;
}

TCliSession::TCliSession(int timeoutMs)
    : ftimeout(timeoutMs), fsession(std::make_unique<TVeltraSession>(static_cast<TSessionListener &>(*this))) {}

TCliSession::~TCliSession() {
    // The engine still notifies while it stops; the handlers use this adapter, so it goes first.
    fsession->Stop();
    fsession.reset();
}

void Print(const QString &text) {
    WriteConsoleText(stdout, text);
    std::fflush(stdout);
}

void PrintError(const QString &text) {
    WriteConsoleText(stderr, text + u'\n');
}

void TCliSession::DevicePresent(const TDeviceIdentity &id) {
    fpresent = true;
    fidentity = id;
}

void TCliSession::DeviceAbsent(bool) {
    fpresent = false;
}

void TCliSession::IdentityUpdated(const TDeviceIdentity &id) {
    fpresent = true;
    fidentity = id;
}

void TCliSession::PasswordWanted() {
    fpasswordAsked = true;
}

void TCliSession::Message(const QString &text) {
    if (OnMessage)
        OnMessage(text);
}

void TCliSession::Progress(int code, qint64 value, const QString &text) {
    if (OnProgress)
        OnProgress(code, value, text);
}

void TCliSession::ValueConfirmed(const QString &key, const QString &value) {
    ++fwriteResults;
    if (fonWritten)
        fonWritten(key, value, true, QString());
}

void TCliSession::ValueRefused(const QString &key, const QString &value, const QString &answer) {
    ++fwriteResults;
    if (fonWritten)
        fonWritten(key, value, false, answer);
}

void TCliSession::WriteDone(const TWriteSummary &) {
    fwriteDone = true;
}

// Results come in queue order; commands before the one reported were never run (the engine refused
// them while the device was absent), so they are forgotten with it.
void TCliSession::CommandDone(const TCmdResult &result) {
    if (result.command.IsInternal(TDeviceCommand::GetDevInfo))
        fidentified = true;
    const auto it = std::find(fexpected.begin(), fexpected.end(), result.command.Name());
    if (it == fexpected.end())
        return;
    fexpected.erase(fexpected.begin(), it + 1);
    if (fonResult)
        fonResult(result);
}

bool TCliSession::GoOnWithoutBackup(const QString &error) {
    PrintError(QStringLiteral("No backup of the device's configuration: ") + error);
    if (AppSettings->GetVal(QStringLiteral("force")) == u"1")
        return true;
    PrintError(QStringLiteral("Nothing was changed; give force=1 to go on without a backup."));
    fbackupRefused = true;
    return false;
}

// A refused backup has been explained already; otherwise the device went away before anything was
// queued.
void TCliSession::SayWhyNothingQueued() {
    if (!fbackupRefused)
        PrintError(QStringLiteral("The device went away before anything was sent."));
}

// Sleeps in the event loop, not between looks at it: the engine waits in every notification until it
// is served, so each pause here would be added to every command of a batch.
bool TCliSession::WaitUntil(const std::function<bool()> &done, int timeoutMs,
                            const std::function<void()> &poll) {
    QEventLoop loop;
    QTimer limit; // wakes the loop at the deadline when nothing else does
    limit.setSingleShot(true);
    if (timeoutMs >= 0)
        limit.start(timeoutMs);
    QTimer ticker;
    if (poll) {
        QObject::connect(&ticker, &QTimer::timeout, poll);
        ticker.start(100);
    }
    while (!done() && (timeoutMs < 0 || limit.isActive()))
        loop.processEvents(QEventLoop::WaitForMoreEvents);
    return done();
}

int TCliSession::WaitForDevice(const QString &password) {
    const QDeadlineTimer deadline(ftimeout);
    // A scan in which no port could even be opened ends the wait: the reasons will not change by waiting.
    const auto noPortOpens = [this] {
        const TVeltraCommander::TScanReport scan = Engine().LastScan();
        return scan.scans > 0 && !scan.anyOpened && !scan.openErrors.isEmpty();
    };
    // The scan publishes no notification of its own: a tick looks at it ten times a second.
    WaitUntil([&] { return fpresent || fpasswordAsked || noPortOpens(); }, ftimeout, [] {});
    if (!fpresent && !fpasswordAsked) {
        // A time limit shorter than one scan: its end is waited for, so that the person is told what
        // each port did.
        WaitUntil([this] { return Engine().LastScan().scans > 0; }, FirstScanGraceMs, [] {});
        return ExitNoDevice;
    }
    if (!fpasswordAsked)
        return ExitOk;
    if (password.isEmpty())
        return ExitPassword;
    fpresent = false;
    fpasswordAsked = false;
    fidentified = false;
    // The session identifies the device again once the password is taken; the identification reports
    // the device before its own result, and both are waited for, so that no result of the password
    // flow is still on its way when the first command is queued.
    fsession->SendPassword(password);
    WaitUntil([&] { return fidentified; }, int(std::max<qint64>(0, deadline.remainingTime())));
    if (fpasswordAsked)
        return ExitPassword;
    return fidentified && fpresent ? ExitOk : ExitNoDevice;
}

bool TCliSession::Await(const TDeviceCommand &command, TCmdResult &result, const std::function<bool()> &start,
                        const std::function<void(const bool &finished)> &wait) {
    bool finished = false;
    fonResult = [&](const TCmdResult &r) {
        finished = true;
        result = r;
    };
    // As the engine will report it: the line trimmed.
    const QString name = TDeviceCommand::FromLine(command.ToLine()).Name();
    fexpected.append(name);
    fbackupRefused = false;
    fnothingQueued = !start();
    if (fnothingQueued) {
        fexpected.removeAll(name);
        SayWhyNothingQueued();
    } else {
        wait(finished);
    }
    fonResult = nullptr;
    return finished && result.success;
}

bool TCliSession::RunCommand(const TDeviceCommand &command, TCmdResult &result) {
    return Await(
        command, result, [&] { fsession->Queue(command); return true; },
        [this](const bool &finished) { WaitUntil([&] { return finished; }, ftimeout); });
}

bool TCliSession::RunFirmware(const QString &fileName, const std::function<void()> &poll, bool &linkLost) {
    linkLost = false;
    TCmdResult result;
    return Await(
        TDeviceCommand::Internal(TDeviceCommand::UpdateFirmware, fileName), result,
        [&] { return fsession->UpdateFirmware(fileName); },
        [&](const bool &finished) {
            // The time limit holds until the engine takes the command; from then on its own deadlines
            // do. A port error ends the command without a result: the link is dropped and the command
            // is no longer running.
            if (WaitUntil([&] { return finished || Engine().CmdQuLen() == 0; }, ftimeout, poll))
                WaitUntil(
                    [&] {
                        linkLost = !finished && !fpresent && !Engine().RunningCommand();
                        return finished || linkLost;
                    },
                    -1, poll);
        });
}

bool TCliSession::RunWrite(const QList<std::pair<QString, QString>> &entries,
                           const std::function<void(const QString &, const QString &, bool, const QString &)> &onResult) {
    fwriteDone = false;
    fwriteResults = 0;
    fonWritten = onResult;
    fbackupRefused = false;
    const bool started = fsession->Write(entries);
    fnothingQueued = !started;
    if (fnothingQueued)
        SayWhyNothingQueued();
    // The time limit is for each entry, not for the batch: it starts again with every result.
    for (int seen = -1; started && !fwriteDone && fwriteResults > seen;) {
        seen = fwriteResults;
        WaitUntil([&] { return fwriteDone || fwriteResults > seen; }, ftimeout);
    }
    fonWritten = nullptr;
    return started && fwriteDone;
}
