#include "cli_session.h"

#include "common.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>
#include <cstdio>

TCliSession::TCliSession(int timeoutMs) : ftimeout(timeoutMs) {
    MainWindowHandle = this;
    fengine = std::make_unique<TVeltraCommander>();
}

TCliSession::~TCliSession() {
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
    else if (code == MSG_DEV_CMD && fonResult)
        fonResult(fengine->LastCmd(), value == 1, fengine->LastAns());
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
    if (!WaitUntil([this] { return fpresent || fpasswordAsked; }, ftimeout))
        return 2;
    if (!fpasswordAsked)
        return 0;
    if (password.isEmpty())
        return 3;
    fpresent = false;
    fpasswordAsked = false;
    fengine->PutCmd(QStringLiteral(".S_PASSNOW=") + password);
    fengine->PutCmd(QStringLiteral("_GET_DEV_INFO"));
    const bool answered =
        WaitUntil([this] { return fpresent || fpasswordAsked; }, int(deadline.remainingTime()));
    if (!answered)
        return 2;
    return fpresent && !fpasswordAsked ? 0 : 3;
}

bool TCliSession::RunCommand(const QString &line, QString &lastCmd, QString &lastAns) {
    return Await(line, lastCmd, lastAns,
                 [this](const bool &finished) { WaitUntil([&] { return finished; }, ftimeout); });
}

bool TCliSession::RunLongCommand(const QString &line, const std::function<void()> &poll) {
    if (!fengine->DevPresent())
        return false;
    QString lastCmd, lastAns;
    return Await(line, lastCmd, lastAns, [&](const bool &finished) {
        // The time limit holds until the engine takes the command; from then on its own deadlines do.
        if (WaitUntil([&] { return finished || fengine->CmdQuLen() == 0; }, ftimeout, poll))
            WaitUntil([&] { return finished; }, -1, poll);
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
    fengine->PutCmd(line);
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
        fengine->PutCmd(line);
    fengine->PutCmd(marker);
    // The time limit is for each command, not for the batch: it starts again with every result.
    for (int seen = -1; !finished && results > seen;) {
        seen = results;
        WaitUntil([&] { return finished || results > seen; }, ftimeout);
    }
    fonResult = nullptr;
    return finished;
}
