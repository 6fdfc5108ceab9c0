#include "config_backups.h"

#include "LuFiles.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>

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

// The order of backups by name: the time, then the number FreeName gave within one millisecond (none
// counts as 1). Plain name order would put "…-123-2-write" before "…-123-firmware" and "-10-" before "-9-".
QString OrderKey(const QString &name) {
    static const QRegularExpression stamped(QStringLiteral("^(\\d{8}-\\d{6}-\\d{3})-(?:(\\d{1,6})-)?"));
    const QRegularExpressionMatch match = stamped.match(name);
    if (!match.hasMatch())
        return name;
    const int number = match.captured(2).isEmpty() ? 1 : match.captured(2).toInt();
    return match.captured(1) + QStringLiteral("-%1").arg(number, 6, 10, QLatin1Char('0'));
}

} // namespace

QString BackupFolder(const QString &dataDir, const QString &imei) {
    return BackupsRoot(dataDir) + SafeName(imei) + u'/';
}

QStringList ListBackups(const QString &dataDir, const QString &imei) {
    const QDir folder(BackupFolder(dataDir, imei));
    QStringList paths;
    QStringList names = folder.entryList({QStringLiteral("*.cfg")}, QDir::Files);
    std::stable_sort(names.begin(), names.end(), [](const QString &a, const QString &b) {
        const QString keyA = OrderKey(a), keyB = OrderKey(b);
        return keyA != keyB ? keyA > keyB : a > b;
    });
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
