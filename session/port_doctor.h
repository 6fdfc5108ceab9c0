// The doctor for a port that will not talk: the machine-side reasons a tracker is "not found" (on
// Linux the device node, access, holders, ModemManager, brltty and drivers; on Windows whether the COM
// port exists), each checked on its own with a one-line verdict and, where something is wrong, the
// command that mends it. A check that cannot look (an unreadable entry, a process table it may not read) says
// it could not tell; the others still run. Nothing is written to a device but "R_INFO".
// veltra_cli doctor prints the verdicts.
#pragma once

#include "port_details.h"
#include "veltra_commander.h"

#include <QList>
#include <QString>
#include <QStringList>

// Where the doctor looks: /dev and /sys (port_details.h), /proc, /etc, the udev rules folders and the
// programs' folder. A test points them at trees of its own.
struct TDoctorRoots : TPortRoots {
    QString proc = QStringLiteral("/proc");
    QString etc = QStringLiteral("/etc");
    QStringList udevRules{QStringLiteral("/usr/lib/udev/rules.d"), QStringLiteral("/lib/udev/rules.d"),
                          QStringLiteral("/etc/udev/rules.d")};
    QString bin = QStringLiteral("/usr/bin");
};

struct TVerdict {
    enum TState { vsOk, vsProblem, vsUnknown };
    QString check; // a short name: "exists", "access", "holder", ...
    TState state = vsOk;
    QString text;  // one line for a person
    QString fix;   // the command that mends it, when there is one
};

struct TDiagnosis {
    QList<TVerdict> verdicts;
    bool answered = false; // a tracker answered R_INFO
    TVeltraCommander::TIdentity identity;
};

// Every check on COM `port`; `probeMs` limits the wait for the answer to R_INFO, and 0 leaves that
// check out (the window's engine is asking already).
TDiagnosis DiagnosePort(int port, const TDoctorRoots &roots = TDoctorRoots(), int probeMs = 2000);

// The udev rule that keeps ModemManager away from one adapter.
QString ModemManagerIgnoreRule(const QString &vendorId, const QString &productId);
