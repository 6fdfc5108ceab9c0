// veltra_cli station: the provisioning station without windows. One line per event (or one JSON
// object per line with --json), a summary at the end; it ends after `trackers` finished trackers
// (0: never) or on Ctrl-C / SIGTERM.
#pragma once

#include "LuHash.h"

#include <QString>

// 0: every tracker done or skipped; 4: one failed, was refused, mismatched or interrupted;
// 6: the job (or the station's settings: no ports, no audit) refused before anything started.
int RunStation(const QString &jobFile, const TLuHash &description, bool json, int trackers);
