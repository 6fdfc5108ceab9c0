// The device simulator's options and their command-line form. veltra_devsim's main() parses its
// arguments into TDevSimOptions; tests fill the structure directly to run TDevSim in-process.
#pragma once

#include <QString>
#include <QStringList>

// How the simulated device misbehaves once --fault-after commands have been answered.
enum TDevSimFault {
    dsfNone,
    dsfSilence,      // reads commands, sends nothing at all
    dsfGarbage,      // random bytes instead of each answer
    dsfUnterminated, // each answer without its final line end
    dsfHangup        // closes the port and ends with dsxHangup
};

// How the loader misbehaves during a firmware upload.
enum TDevSimLoaderFault {
    dslNone,
    dslCancel, // answers the first block with CAN CAN
    dslNak,    // refuses block fLoaderNakBlock once with NAK
    dslSilent  // sends no "C" and ignores the line for fLoaderSilentMs, then comes back
};

// Exit codes of veltra_devsim; TDevSim::Run returns the ones that end a run.
enum TDevSimExit { dsxStopped = 0, dsxOpenFailed = 1, dsxBadArguments = 2, dsxHangup = 3, dsxPortLost = 4 };

struct TDevSimOptions {
    QString fConfigFile;
    QString fIdent = QStringLiteral("VT-300 HW:12 SW:345 IMEI:356938035643809");
    QString fPassword;
    QStringList fReject;
    QStringList fForget;      // writes confirmed and not kept
    bool fPersist = false;    // written values go back into fConfigFile, as a tracker's flash keeps them
    QString fIdentAfterUpdate; // the identification once a firmware image has been received
    int fDelayMs = 0;
    bool fEcho = true;
    QString fUnsolicited;
    int fUnsolicitedPeriodMs = 1000;
    TDevSimFault fFault = dsfNone;
    int fFaultAfter = 0;
    TDevSimLoaderFault fLoaderFault = dslNone;
    int fLoaderNakBlock = 0;
    int fLoaderSilentMs = 12000;
    int fLoaderAttempts = 10;
    QString fFirmwareOut;
    QString fLinkFile;
    QString fDevice;
    bool fVerbose = false;
};

struct TDevSimCommandLine {
    TDevSimOptions fOptions;
    bool fHelp = false;
    bool fVersion = false;
    QString fError; // empty when the arguments were understood
};

// arguments[0] is the program name, as in QCoreApplication::arguments().
TDevSimCommandLine ParseDevSimCommandLine(const QStringList &arguments);
QString DevSimUsage();
