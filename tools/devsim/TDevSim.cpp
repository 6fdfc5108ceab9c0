#include "TDevSim.h"

#include "LuUtils.h"

#include <QFileInfo>
#include <QRandomGenerator>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#include <utility>

using namespace std::chrono_literals;

namespace {

const QByteArray LineEnd = QByteArrayLiteral("\r\n");
const QString NoPassword = QStringLiteral("ERROR=no password");
const QString UnknownCommand = QStringLiteral("ERROR=unknown command");
constexpr qsizetype MaxLineBytes = 4096;
// Nobody has the port open: what piles up is dropped, as a serial line without a listener would.
constexpr qsizetype MaxBacklog = 65536;
constexpr auto UnsolicitedRetry = 20ms;

TSimTime Now() {
    return TSimClock::now();
}

std::chrono::milliseconds Ms(int ms) {
    return std::chrono::milliseconds(ms);
}

// Bytes above 127, as a wrong baud rate gives, ended like a line: a line the client reads but can
// never take for an answer.
QByteArray Garbage() {
    QByteArray bytes(32, '\0');
    for (char &byte : bytes)
        byte = char(QRandomGenerator::global()->bounded(128, 256));
    return bytes + LineEnd;
}

} // namespace

TDevSim::TDevSim(const TDevSimOptions &options)
    : fOptions(options), fLoader(options, [this](const QString &text) { Log(text); }),
      fLocked(!options.fPassword.isEmpty()) {}

TDevSim::~TDevSim() {
    for (const int fd : {fWakeRead, fWakeWrite})
        if (fd >= 0)
            ::close(fd);
}

bool TDevSim::Open(QString &error) {
    if (!fOptions.fConfigFile.isEmpty()) {
        if (!QFileInfo(fOptions.fConfigFile).isFile()) {
            error = QStringLiteral("no configuration file ") + fOptions.fConfigFile;
            return false;
        }
        fParams.Load(fOptions.fConfigFile, true);
    }
    int wake[2];
    if (pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        error = QStringLiteral("cannot create a pipe: ") + SystemErrorText(-1);
        return false;
    }
    fWakeRead = wake[0];
    fWakeWrite = wake[1];
    fUnsolicitedAt = Now() + Ms(fOptions.fUnsolicitedPeriodMs);
    return fOptions.fDevice.isEmpty() ? fPort.OpenPty(error) : fPort.OpenDevice(fOptions.fDevice, error);
}

int TDevSim::Run() {
    while (!fStopAsked.load()) {
        pollfd fds[2] = {{fPort.Fd(), short(POLLIN | (fOut.isEmpty() ? 0 : POLLOUT)), 0},
                         {fWakeRead, POLLIN, 0}};
        if (poll(fds, 2, PollTimeoutMs(Now())) < 0 && errno != EINTR)
            return dsxPortLost;
        if (!Serve(Now(), fds[0].revents)) {
            Log(QStringLiteral("the port is gone"));
            return dsxPortLost;
        }
        if (fHangUp) {
            Log(QStringLiteral("hanging up"));
            fPort.Close();
            return dsxHangup;
        }
    }
    return dsxStopped;
}

void TDevSim::Stop() {
    fStopAsked.store(true);
    const char byte = 0;
    if (fWakeWrite >= 0) {
        // A full pipe has woken the loop already.
        [[maybe_unused]] const ssize_t written = ::write(fWakeWrite, &byte, 1);
    }
}

bool TDevSim::Serve(TSimTime now, short events) {
    if (events & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) {
        QByteArray bytes;
        const bool alive = fPort.Read(bytes);
        TakeBytes(bytes, now);
        if (!alive)
            return false;
    }
    RunTimers(now);
    return Flush();
}

int TDevSim::PollTimeoutMs(TSimTime now) const {
    TSimTime next = TSimTime::max();
    if (!fPending.empty())
        next = std::min(next, fPending.front().fDue);
    if (fInLoader)
        next = std::min(next, fLoader.Deadline());
    if (UnsolicitedOn())
        next = std::min(next, fUnsolicitedAt);
    if (next == TSimTime::max())
        return -1;
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(next - now).count();
    return int(std::clamp<decltype(wait)>(wait, 0, INT_MAX));
}

void TDevSim::RunTimers(TSimTime now) {
    while (!fPending.empty() && fPending.front().fDue <= now) {
        Send(fPending.front().fBytes);
        fPending.pop_front();
    }
    if (fInLoader && now >= fLoader.Deadline()) {
        Send(fLoader.Tick(now));
        LeaveLoaderIfDone(now);
    }
    if (UnsolicitedOn() && now >= fUnsolicitedAt)
        SendUnsolicited(now);
}

void TDevSim::TakeBytes(const QByteArray &bytes, TSimTime now) {
    for (qsizetype i = 0; i < bytes.size() && !fHangUp; ++i) {
        if (fInLoader) {
            Send(fLoader.Feed(bytes.mid(i), now));
            return;
        }
        const char byte = bytes[i];
        if (byte == '\r' || byte == '\n')
            HandleLine(std::exchange(fLine, QByteArray()), now);
        else if (fLine.size() < MaxLineBytes)
            fLine += byte;
    }
}

void TDevSim::HandleLine(const QByteArray &line, TSimTime now) {
    const QString command = TrimText(FromAnsiText(line));
    if (command.isEmpty())
        return;
    ++fCommands;
    Log(QStringLiteral("< ") + command);
    const TDevSimFault fault = ActiveFault();
    if (fault == dsfHangup || fault == dsfSilence) {
        fHangUp = fault == dsfHangup;
        return;
    }
    if (fOptions.fEcho)
        Queue(ToAnsiText(command) + LineEnd, now, 0ms);
    const QStringList lines = Answer(command);
    Log(QStringLiteral("> ") + lines.join(QStringLiteral(" | ")));
    const TSimTime answeredAt = Queue(AnswerBytes(lines, fault), now, Ms(fOptions.fDelayMs));
    if (std::exchange(fRebootAsked, false))
        StartLoader(answeredAt);
}

TDevSimFault TDevSim::ActiveFault() const {
    return fCommands > fOptions.fFaultAfter ? fOptions.fFault : dsfNone;
}

QStringList TDevSim::Answer(const QString &command) {
    if (command.startsWith(u"S_PASSNOW="))
        return {AnswerPassword(command.mid(10))};
    if (fLocked)
        return {NoPassword};
    if (command == u"R_INFO")
        return {QStringLiteral("INFO ") +
                (fUpdated && !fOptions.fIdentAfterUpdate.isEmpty() ? fOptions.fIdentAfterUpdate : fOptions.fIdent)};
    if (command == u"R_CFG")
        return AnswerConfig();
    if (command == u"S_NOP")
        return {QStringLiteral("NOP")};
    if (command == u"S_REBOOT=1") {
        fRebootAsked = true;
        return {QStringLiteral("REBOOT=1")};
    }
    if (command.startsWith(u"R_"))
        return {AnswerRead(command.mid(2))};
    if (command.startsWith(u"S_") && command.contains(u'='))
        return {AnswerWrite(command.mid(2))};
    return {UnknownCommand};
}

QString TDevSim::AnswerRead(const QString &key) const {
    const QString name = TrimText(key);
    const int idx = fParams.KeyIndex(name);
    if (idx < 0)
        return QStringLiteral("ERROR=unknown parameter ") + name;
    return name + u'=' + fParams.GetValByIndex(idx);
}

// The device confirms a write by repeating it, key=value as it was sent.
QString TDevSim::AnswerWrite(const QString &assignment) {
    const qsizetype eq = assignment.indexOf(u'=');
    const QString key = TrimText(assignment.left(eq));
    if (key.isEmpty())
        return UnknownCommand;
    if (fOptions.fReject.contains(key, Qt::CaseInsensitive))
        return QStringLiteral("ERROR=") + key + QStringLiteral(" is read-only");
    if (fOptions.fForget.contains(key, Qt::CaseInsensitive))
        return assignment;
    fParams.SetVal(key, TrimText(assignment.mid(eq + 1)));
    if (fOptions.fPersist && !fOptions.fConfigFile.isEmpty())
        fParams.Save(fOptions.fConfigFile, QStringLiteral("="));
    return assignment;
}

QString TDevSim::AnswerPassword(const QString &password) {
    if (!fOptions.fPassword.isEmpty() && password != fOptions.fPassword)
        return QStringLiteral("ERROR=wrong password");
    fLocked = false;
    return QStringLiteral("PASSNOW=") + password;
}

QStringList TDevSim::AnswerConfig() const {
    QStringList lines{QStringLiteral("CFG:")};
    for (int i = 0; i < fParams.Count(); ++i)
        lines += fParams.GetKey(i) + u'=' + fParams.GetValByIndex(i);
    return lines;
}

QByteArray TDevSim::AnswerBytes(const QStringList &lines, TDevSimFault fault) const {
    if (fault == dsfGarbage)
        return Garbage();
    QByteArray bytes;
    for (const QString &line : lines)
        bytes += "  " + ToAnsiText(line) + LineEnd;
    if (fault == dsfUnterminated)
        bytes.chop(LineEnd.size());
    return bytes;
}

// The device takes one command at a time: what follows a delayed answer waits for it.
TSimTime TDevSim::Queue(const QByteArray &bytes, TSimTime now, std::chrono::milliseconds delay) {
    const TSimTime due = (fPending.empty() ? now : std::max(now, fPending.back().fDue)) + delay;
    fPending.push_back({due, bytes});
    return due;
}

bool TDevSim::UnsolicitedOn() const {
    return !fOptions.fUnsolicited.isEmpty() && !fInLoader && !fHangUp && ActiveFault() != dsfSilence;
}

// Only between commands: not into a command line being received, not before a delayed answer.
void TDevSim::SendUnsolicited(TSimTime now) {
    if (!fLine.isEmpty() || !fPending.empty()) {
        fUnsolicitedAt = now + UnsolicitedRetry;
        return;
    }
    Send(ToAnsiText(fOptions.fUnsolicited) + LineEnd);
    fUnsolicitedAt = now + Ms(fOptions.fUnsolicitedPeriodMs);
}

void TDevSim::StartLoader(TSimTime bootAt) {
    Log(QStringLiteral("rebooting into the loader"));
    fInLoader = true;
    fLine.clear();
    fLoader.Start(bootAt);
}

void TDevSim::LeaveLoaderIfDone(TSimTime now) {
    if (!fLoader.Done())
        return;
    Log(QStringLiteral("the device is back"));
    fInLoader = false;
    fUpdated = fUpdated || fLoader.Received();
    fUnsolicitedAt = now + Ms(fOptions.fUnsolicitedPeriodMs);
}

void TDevSim::Send(const QByteArray &bytes) {
    if (fOut.size() > MaxBacklog)
        fOut.clear();
    fOut += bytes;
}

bool TDevSim::Flush() {
    if (fOut.isEmpty())
        return true;
    const qint64 written = fPort.Write(fOut);
    if (written < 0)
        return false;
    fOut.remove(0, written);
    return true;
}

void TDevSim::Log(const QString &text) const {
    if (fOptions.fVerbose)
        std::fprintf(stderr, "veltra_devsim: %s\n", qPrintable(text));
}
