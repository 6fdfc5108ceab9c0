#include "job_bundle.h"

#include "station_job.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

namespace {

// A path the job gives a file, as it may travel: relative, inside the job's folder.
bool CleanRelative(const QString &path) {
    const QString clean = QDir::cleanPath(path);
    return !clean.isEmpty() && !QDir::isAbsolutePath(clean) && clean != u".." && !clean.startsWith(QStringLiteral("../"));
}

bool ReadAll(const QString &path, QByteArray &bytes) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    bytes = file.readAll();
    return true;
}

} // namespace

bool PackJobBundle(const QString &jobFile, const TLuHash &description, QByteArray &bundle, QString &name,
                   QString &error) {
    TStationJob job;
    QStringList problems;
    if (!LoadStationJob(jobFile, description, job, problems)) {
        error = problems.join(u'\n');
        return false;
    }
    const QDir folder = QFileInfo(job.file).dir();
    QJsonObject files;
    for (const QString &path : {job.file, job.configFile, job.tableFile, job.firmwareFile}) {
        if (path.isEmpty())
            continue;
        const QString relative = folder.relativeFilePath(path);
        QByteArray bytes;
        if (!CleanRelative(relative)) {
            error = QStringLiteral("%1 lies outside the job's folder: a published job carries only files beside or "
                                   "below its job file")
                        .arg(path);
            return false;
        }
        if (!ReadAll(path, bytes)) {
            error = QStringLiteral("%1 cannot be read").arg(path);
            return false;
        }
        files.insert(relative, QString::fromLatin1(bytes.toBase64()));
    }
    name = job.name;
    bundle = QJsonDocument(QJsonObject{{"format", 1},
                                       {"name", job.name},
                                       {"sha256", job.sha256},
                                       {"job", folder.relativeFilePath(job.file)},
                                       {"files", files}})
                 .toJson(QJsonDocument::Compact);
    return true;
}

bool UnpackJobBundle(const QByteArray &bundle, const QString &folder, const TLuHash &description, QString &jobFile,
                     QString &name, QString &error) {
    const QJsonObject o = QJsonDocument::fromJson(bundle).object();
    const QString jobName = o.value("job").toString();
    const QString sha256 = o.value("sha256").toString();
    const QJsonObject files = o.value("files").toObject();
    name = o.value("name").toString();
    if (o.value("format").toInt() != 1 || jobName.isEmpty() || sha256.size() != 64 || !files.contains(jobName)) {
        error = QStringLiteral("not a job: the message lacks its job file, name or SHA-256");
        return false;
    }
    if (!QDir().mkpath(folder)) {
        error = QStringLiteral("cannot make the folder %1").arg(folder);
        return false;
    }
    for (auto it = files.begin(); it != files.end(); ++it) {
        if (!CleanRelative(it.key())) {
            error = QStringLiteral("the job names a file outside its folder: ") + it.key();
            return false;
        }
        const QString path = QDir(folder).filePath(QDir::cleanPath(it.key()));
        QDir().mkpath(QFileInfo(path).absolutePath());
        QSaveFile file(path);
        const QByteArray bytes = QByteArray::fromBase64(it.value().toString().toLatin1());
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
            error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
            return false;
        }
    }
    jobFile = QDir(folder).filePath(QDir::cleanPath(jobName));
    TStationJob job;
    QStringList problems;
    if (!LoadStationJob(jobFile, description, job, problems)) {
        error = problems.join(u'\n');
        return false;
    }
    if (job.sha256 != sha256) {
        error = QStringLiteral("the job's content does not match its SHA-256 (changed or damaged on the way)");
        return false;
    }
    return true;
}
