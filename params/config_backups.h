// Copies of a device's configuration taken before anything changes it (a write batch, a firmware
// update): <folder>/backups/<IMEI>/<yyyyMMdd-HHmmss-zzz>-<reason>.cfg in the configuration file format,
// written whole or not at all, the newest `keep` per device kept.
#pragma once

#include "LuHash.h"

#include <QStringList>

constexpr int DefaultBackupKeep = 50;

// The folder of one device's backups under `dataDir` (which ends with its separator). The IMEI comes
// from the device: anything but letters, digits, "-" and "_" is replaced, so it stays one folder name.
QString BackupFolder(const QString &dataDir, const QString &imei);
// Writes the backup and drops the oldest beyond `keep`; the new file's path, or empty with `error` set.
QString WriteBackup(const QString &dataDir, const QString &imei, const TLuHash &config, const QString &reason,
                    int keep, QString &error);
// A device's backups, newest first (full paths).
QStringList ListBackups(const QString &dataDir, const QString &imei);
// The devices that have backups (their folder names).
QStringList BackupDevices(const QString &dataDir);
