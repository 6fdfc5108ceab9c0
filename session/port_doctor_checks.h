// Between the port doctor and its checks for the system built for (port_doctor_linux.cpp,
// port_doctor_win.cpp).
#pragma once

#include "port_doctor.h"

TVerdict Ok(const char *check, const QString &text);
TVerdict Problem(const char *check, const QString &text, const QString &fix = QString());
TVerdict Unknown(const char *check, const QString &text);

// The system's reasons a port may not talk, before the tracker is asked; `exists` tells whether the
// port is there to be asked at all.
QList<TVerdict> SystemVerdicts(int port, const TDoctorRoots &roots, bool &exists);
