// A provisioning job as the station reads it: a key/value file naming the configuration every tracker
// gets, an optional table of each tracker's own values (by IMEI), an optional firmware image with the
// version it carries, the password and whether to verify by reading back. It is loaded and checked
// as a whole before any tracker is touched: a job the description refuses, or a file or table that
// cannot be read as meant, does not start, and every reason is said.
#pragma once

#include "LuHash.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <utility>

struct TStationJob {
    QString file, name;
    QString configFile, tableFile, firmwareFile, firmwareVersion, password;
    bool verify = true;
    QList<std::pair<QString, QString>> config; // the entries every tracker gets, in the file's order
    QStringList tableKeys;                      // the per-tracker keys, in the table's column order
    QHash<QString, QStringList> tableRows;      // values by IMEI, in tableKeys' order
    QString sha256;                             // of the job's whole content: its file and every file it names

    // The entries one tracker gets: the configuration with its own values over it. False, with the
    // reason, when the job has per-tracker keys and the tracker is not in the table.
    bool EntriesFor(const QString &imei, QList<std::pair<QString, QString>> &entries, QString &why) const;
};

// Loads and checks `fileName` against the parameter description. False, with one reason a line, when
// the job may not start.
bool LoadStationJob(const QString &fileName, const TLuHash &description, TStationJob &job, QStringList &problems);
