// TDevSimLoader: the simulated device's boot loader, an XModem-CRC receiver for firmware images.
// TDevSim hands it the line after the device has answered S_REBOOT=1 and takes the line back when
// Done() says so. It never blocks: TDevSim feeds it the received bytes, calls Tick() at Deadline(),
// and sends whatever either returns.
#pragma once

#include "DevSimOptions.h"

#include <QByteArray>
#include <chrono>
#include <functional>

using TSimClock = std::chrono::steady_clock;
using TSimTime = TSimClock::time_point;

class TDevSimLoader {
public:
    using TLog = std::function<void(const QString &)>;

    TDevSimLoader(const TDevSimOptions &options, TLog log);

    // The device reboots at bootAt: the loader's first "C" follows shortly after.
    void Start(TSimTime bootAt);
    QByteArray Feed(const QByteArray &bytes, TSimTime now);
    QByteArray Tick(TSimTime now);
    TSimTime Deadline() const { return fDeadline; }
    bool Done() const { return fState == lsDone; }
    // The last transfer ended with a whole image.
    bool Received() const { return fReceived; }

private:
    enum TState { lsBooting, lsInviting, lsReceiving, lsSilent, lsLeaving, lsDone };

    QByteArray Boot(TSimTime now);
    QByteArray Invite(TSimTime now);
    QByteArray TakeByte(char byte, TSimTime now);
    QByteArray TakeControl(char byte, TSimTime now);
    QByteArray CheckFrame(TSimTime now);
    QByteArray AcceptBlock(quint8 number, const QByteArray &data);
    QByteArray RefuseFrame(const QString &why, TSimTime now);
    QByteArray Finish(TSimTime now);
    QByteArray Abort(const QString &why, TSimTime now);
    void Leave(TSimTime now);
    void WriteImage() const;

    const TDevSimOptions fOptions;
    TLog fLog;
    TState fState = lsDone;
    TSimTime fDeadline;
    int fInvitations = 0;
    QByteArray fFrame; // the block being received, from its SOH or STX on
    QByteArray fImage;
    quint8 fLastNumber = 0;
    int fBlocks = 0;
    int fRefusedInRow = 0;
    bool fNakDone = false;
    bool fLastWasCan = false;
    bool fReceived = false;
};
