// TDevSim: the device simulator. Plays the tracker's side of the line protocol on a pseudo-terminal
// (or a given serial device) so that the configurator, its tests and the demo run without hardware:
// commands with echo, the password lock, answer delay, unsolicited lines, faults on request and the
// firmware loader (TDevSimLoader). veltra_devsim's main() runs it; tests run it on a thread of their own.
//
// One thread, one poll() loop: every answer goes out as soon as its command line is complete (or its
// delay has passed), timers only wake the loop when something is due.
#pragma once

#include "DevSimLoader.h"
#include "DevSimOptions.h"
#include "DevSimPort.h"
#include "LuHash.h"

#include <atomic>
#include <deque>

class TDevSim {
public:
    explicit TDevSim(const TDevSimOptions &options);
    TDevSim(const TDevSim &) = delete;
    TDevSim &operator=(const TDevSim &) = delete;
    ~TDevSim();

    // Loads the configuration file and opens the port.
    bool Open(QString &error);
    QString PortPath() const { return fPort.Path(); }
    // Serves the line until Stop() (dsxStopped), the hang-up fault (dsxHangup) or a lost port
    // (dsxPortLost).
    int Run();
    // Safe from any thread and from a signal handler.
    void Stop();

private:
    struct TPending {
        TSimTime fDue;
        QByteArray fBytes;
    };

    bool Serve(TSimTime now, short events);
    int PollTimeoutMs(TSimTime now) const;
    void RunTimers(TSimTime now);
    void TakeBytes(const QByteArray &bytes, TSimTime now);
    void HandleLine(const QByteArray &line, TSimTime now);

    TDevSimFault ActiveFault() const;
    QStringList Answer(const QString &command);
    QString AnswerRead(const QString &key) const;
    QString AnswerWrite(const QString &assignment);
    QString AnswerPassword(const QString &password);
    QStringList AnswerConfig() const;
    QByteArray AnswerBytes(const QStringList &lines, TDevSimFault fault) const;

    TSimTime Queue(const QByteArray &bytes, TSimTime now, std::chrono::milliseconds delay);
    bool UnsolicitedOn() const;
    void SendUnsolicited(TSimTime now);
    void StartLoader(TSimTime bootAt);
    void LeaveLoaderIfDone(TSimTime now);
    void Send(const QByteArray &bytes);
    bool Flush();
    void Log(const QString &text) const;

    const TDevSimOptions fOptions;
    TDevSimPort fPort;
    TLuHash fParams;
    TDevSimLoader fLoader;
    QByteArray fLine; // the command line being received
    QByteArray fOut;  // waiting for the line to take it
    std::deque<TPending> fPending;
    TSimTime fUnsolicitedAt;
    int fCommands = 0;
    bool fLocked;
    bool fInLoader = false;
    bool fRebootAsked = false;
    bool fHangUp = false;
    bool fUpdated = false; // a firmware image was received
    std::atomic<bool> fStopAsked{false};
    int fWakeRead = -1;
    int fWakeWrite = -1;
};
