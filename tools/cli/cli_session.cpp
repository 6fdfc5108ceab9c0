#include "cli_session.h"

#include "common.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

TCliSession::TCliSession(int timeoutMs) : ftimeout(timeoutMs) {
    MainWindowHandle = this;
    fengine = std::make_unique<TVeltraCommander>();
}

TCliSession::~TCliSession() {
    fengine.reset();
    MainWindowHandle = nullptr;
}

void TCliSession::HandleNotification(quint32 msg, int code, qint64 value, const QString &) {
    if (msg != AppMessage)
        return;
    if (code == MSG_DEV_PRESENT || code == MSG_DEV_INFO) {
        fpresent = value == 1;
        if (fpresent)
            fidentity = {fengine->DevName(), fengine->DevIMEI(), fengine->DevHwVersion(),
                         fengine->DevSwVersion()};
    } else if (code == MSG_DEV_PASSWORD)
        fpasswordAsked = true;
    else if (code == MSG_DEV_CMD && fonResult)
        fonResult(fengine->LastCmd(), value == 1, fengine->LastAns());
}

bool TCliSession::WaitUntil(const std::function<bool()> &done, int timeoutMs) {
    const QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
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
    bool finished = false;
    bool ok = false;
    fonResult = [&](const QString &cmd, bool success, const QString &ans) {
        finished = true;
        ok = success;
        lastCmd = cmd;
        lastAns = ans;
    };
    fengine->PutCmd(line);
    WaitUntil([&] { return finished; }, ftimeout);
    fonResult = nullptr;
    return ok;
}

bool TCliSession::RunBatch(const QStringList &lines,
                           const std::function<void(const QString &, bool, const QString &)> &onResult) {
    static const QString marker = QStringLiteral("_WRITE_OK");
    bool finished = false;
    fonResult = [&](const QString &cmd, bool success, const QString &ans) {
        if (cmd == marker)
            finished = true;
        else
            onResult(cmd, success, ans);
    };
    for (const QString &line : lines)
        fengine->PutCmd(line);
    fengine->PutCmd(marker);
    const bool done = WaitUntil([&] { return finished; }, ftimeout);
    fonResult = nullptr;
    return done;
}
