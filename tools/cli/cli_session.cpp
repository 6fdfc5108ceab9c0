#include "cli_session.h"

#include "common.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <cstdio>

namespace {
constexpr int FirstScanGraceMs = 3000;
}

TCliSession::TCliSession(int timeoutMs) : ftimeout(timeoutMs) {
    MainWindowHandle = this;
    fengine = std::make_unique<TVeltraCommander>();
}

TCliSession::~TCliSession() {
    // The engine still notifies while it stops; the handler reads it, so it is stopped while whole.
    fengine->Stop();
    fengine.reset();
    MainWindowHandle = nullptr;
}

void Print(const QString &text) {
    std::fputs(text.toLocal8Bit().constData(), stdout);
    std::fflush(stdout);
}

void PrintError(const QString &text) {
    std::fputs((text + u'\n').toLocal8Bit().constData(), stderr);
}

void TCliSession::HandleNotification(quint32 msg, int code, qint64 value, const QString &text) {
    if (msg == ProgressMessage && OnProgress)
        OnProgress(code, value, text);
    if (msg != AppMessage)
        return;
    if (code == MSG_DEV_MESSAGE && OnMessage)
        OnMessage(text);
    else if (code == MSG_DEV_PRESENT || code == MSG_DEV_INFO) {
        fpresent = value == 1;
        if (fpresent)
            fidentity = {fengine->DevName(), fengine->DevIMEI(), fengine->DevHwVersion(),
                         fengine->DevSwVersion()};
    } else if (code == MSG_DEV_PASSWORD)
        fpasswordAsked = true;
    else if (code == MSG_DEV_CMD)
        TakeResult(value == 1);
}

void TCliSession::Queue(const QString &line, bool report) {
    fexpected.append({TVeltraCommander::CmdName(line), report});
    fengine->PutCmd(line);
}

// Results come in queue order; lines before the one reported were never run (the engine refused them
// while the device was absent), so they are forgotten with it.
void TCliSession::TakeResult(bool success) {
    const QString cmd = fengine->LastCmd();
    const auto it = std::find_if(fexpected.begin(), fexpected.end(),
                                 [&cmd](const TExpected &e) { return e.cmd == cmd; });
    if (it == fexpected.end())
        return;
    const bool report = it->report;
    fexpected.erase(fexpected.begin(), it + 1);
    if (report && fonResult)
        fonResult(cmd, success, fengine->LastAns());
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
        const TVeltraCommander::TScanReport scan = fengine->LastScan();
        return scan.scans > 0 && !scan.anyOpened && !scan.openErrors.isEmpty();
    };
    // The scan publishes no notification of its own: a tick looks at it ten times a second.
    WaitUntil([&] { return fpresent || fpasswordAsked || noPortOpens(); }, ftimeout, [] {});
    if (!fpresent && !fpasswordAsked) {
        // A time limit shorter than one scan: its end is waited for, so that the person is told what
        // each port did.
        WaitUntil([this] { return fengine->LastScan().scans > 0; }, FirstScanGraceMs, [] {});
        return 2;
    }
    if (!fpasswordAsked)
        return 0;
    if (password.isEmpty())
        return 3;
    fpresent = false;
    fpasswordAsked = false;
    Queue(QStringLiteral(".S_PASSNOW=") + password, false);
    // The identification reports the device before its own result; both are waited for, so that no
    // result of the password flow is still on its way when the first command is queued.
    QString cmd, answer;
    const bool identified = Await(QStringLiteral("_GET_DEV_INFO"), cmd, answer, [&](const bool &finished) {
        WaitUntil([&] { return finished; }, int(deadline.remainingTime()));
    });
    fexpected.clear();
    if (fpasswordAsked)
        return 3;
    return identified && fpresent ? 0 : 2;
}

bool TCliSession::RunCommand(const QString &line, QString &lastCmd, QString &lastAns) {
    return Await(line, lastCmd, lastAns,
                 [this](const bool &finished) { WaitUntil([&] { return finished; }, ftimeout); });
}

bool TCliSession::RunLongCommand(const QString &line, const std::function<void()> &poll, bool &linkLost) {
    linkLost = false;
    if (!fengine->DevPresent())
        return false;
    QString lastCmd, lastAns;
    return Await(line, lastCmd, lastAns, [&](const bool &finished) {
        // The time limit holds until the engine takes the command; from then on its own deadlines do.
        // A port error ends the command without a result: the link is dropped and the command is no
        // longer running.
        if (WaitUntil([&] { return finished || fengine->CmdQuLen() == 0; }, ftimeout, poll))
            WaitUntil(
                [&] {
                    linkLost = !finished && !fpresent && !fengine->RunningCommand();
                    return finished || linkLost;
                },
                -1, poll);
    });
}

bool TCliSession::Await(const QString &line, QString &lastCmd, QString &lastAns,
                        const std::function<void(const bool &finished)> &wait) {
    bool finished = false;
    bool ok = false;
    fonResult = [&](const QString &cmd, bool success, const QString &ans) {
        finished = true;
        ok = success;
        lastCmd = cmd;
        lastAns = ans;
    };
    Queue(line);
    wait(finished);
    fonResult = nullptr;
    return ok;
}

bool TCliSession::RunBatch(const QStringList &lines,
                           const std::function<void(const QString &, bool, const QString &)> &onResult) {
    static const QString marker = QStringLiteral("_WRITE_OK");
    bool finished = false;
    int results = 0;
    fonResult = [&](const QString &cmd, bool success, const QString &ans) {
        ++results;
        if (cmd == marker)
            finished = true;
        else
            onResult(cmd, success, ans);
    };
    for (const QString &line : lines)
        Queue(line);
    Queue(marker);
    // The time limit is for each command, not for the batch: it starts again with every result.
    for (int seen = -1; !finished && results > seen;) {
        seen = results;
        WaitUntil([&] { return finished || results > seen; }, ftimeout);
    }
    fonResult = nullptr;
    return finished;
}
