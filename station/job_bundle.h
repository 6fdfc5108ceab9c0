// A job as one message: the job file and every file it names (configuration, table, firmware image),
// each under the path the job gives it, with the SHA-256 of the job's whole content as the station
// computes it (the job file, then the configuration, the table and the image). The office packs it,
// a station unpacks it into a folder of its own and refuses it when the hash does not match.
#pragma once

#include "LuHash.h"

#include <QByteArray>
#include <QString>

// Packs `jobFile` after checking it as a station would; false, with the reasons, when it may not go.
bool PackJobBundle(const QString &jobFile, const TLuHash &description, QByteArray &bundle, QString &name,
                   QString &error);

// Unpacks into `folder` (made when missing); `jobFile` receives the job's path there. False, with the
// reason, when the bundle is not one, names a path outside the folder, or its content does not match
// its hash. The job itself is checked when the station loads it.
bool UnpackJobBundle(const QByteArray &bundle, const QString &folder, const TLuHash &description, QString &jobFile,
                     QString &name, QString &error);
