#include "config_backups.h"

#include "LuFiles.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

namespace {

QString SafeName(const QString &text) {
    static const QRegularExpression unsafe(QStringLiteral("[^A-Za-z0-9_-]"));
    QString name = text.left(64);
    name.replace(unsafe, QStringLiteral("_"));
    return name.isEmpty() ? QStringLiteral("unknown") : name;
}

QString BackupsRoot(const QString &dataDir) {
    return dataDir + QStringLiteral("backups/");
}

// A name not taken yet: two backups within one millisecond get "-2", "-3" after the time.
QString FreeName(const QDir &folder, const QString &stamp, const QString &reason) {
    QString name = stamp + u'-' + reason + QStringLiteral(".cfg");
    for (int n = 2; folder.exists(name); ++n)
        name = stamp + u'-' + QString::number(n) + u'-' + reason + QStringLiteral(".cfg");
    return name;
}

} // namespace

QString BackupFolder(const QString &dataDir, const QString &imei) {
    return BackupsRoot(dataDir) + SafeName(imei) + u'/';
}

QStringList ListBackups(const QString &dataDir, const QString &imei) {
    const QDir folder(BackupFolder(dataDir, imei));
    QStringList paths;
    // The names start with the time, so the newest sort last by name; the listing gives them newest first.
    const QStringList names =
        folder.entryList({QStringLiteral("*.cfg")}, QDir::Files, QDir::Name | QDir::Reversed);
    for (const QString &name : names)
        paths << folder.filePath(name);
    return paths;
}

QStringList BackupDevices(const QString &dataDir) {
    return QDir(BackupsRoot(dataDir)).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
}

QString WriteBackup(const QString &dataDir, const QString &imei, const TLuHash &config, const QString &reason,
                    int keep, QString &error) {
    const QString folder = BackupFolder(dataDir, imei);
    if (!QDir().mkpath(folder)) {
        error = QStringLiteral("cannot create the folder ") + folder;
        return {};
    }
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss-zzz"));
    const QString path = folder + FreeName(QDir(folder), stamp, SafeName(reason));
    if (!WriteTextFileWhole(path, config.AsText(QStringLiteral("="), QStringLiteral("\r\n")), error))
        return {};
    const QStringList backups = ListBackups(dataDir, imei);
    for (qsizetype i = qMax(keep, 1); i < backups.size(); ++i)
        QFile::remove(backups[i]);
    return path;
}
