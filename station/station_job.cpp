#include "station_job.h"

#include "LuUtils.h"
#include "param_description.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringDecoder>
#include <algorithm>

namespace {

constexpr qsizetype MaxLineLength = 4096;
const QStringList JobKeys{"name", "config", "table", "firmware", "firmware_version", "password", "verify"};

// The bytes of a file the job names; false, with the reason, when it cannot be read.
bool ReadBytes(const QString &path, const char *what, QByteArray &bytes, QStringList &problems) {
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly)) {
        problems << QStringLiteral("the %1 %2 cannot be read").arg(QLatin1String(what), path);
        return false;
    }
    bytes = file.readAll();
    return true;
}

// UTF-8 (with or without its mark) and no line longer than a person would write.
bool ReadText(const QString &path, const char *what, const QByteArray &bytes, QString &text, QStringList &problems) {
    QStringDecoder utf8(QStringDecoder::Utf8);
    text = utf8(bytes.startsWith("\xEF\xBB\xBF") ? bytes.mid(3) : bytes);
    if (utf8.hasError()) {
        problems << QStringLiteral("the %1 %2 is not UTF-8 text").arg(QLatin1String(what), path);
        return false;
    }
    const QStringList lines = text.split(QRegularExpression(QStringLiteral("\r\n|\r|\n")));
    for (qsizetype i = 0; i < lines.size(); ++i)
        if (lines[i].size() > MaxLineLength) {
            problems << QStringLiteral("%1 line %2: longer than %3 characters").arg(path).arg(i + 1).arg(MaxLineLength);
            return false;
        }
    return true;
}

QStringList SplitRow(const QString &line, QChar separator) {
    QStringList fields = line.split(separator);
    for (QString &field : fields)
        field = TrimText(field);
    return fields;
}

// IMEI;KEY;KEY... then one row per tracker, fields separated by ";" or "," as the header is.
void ParseTable(const QString &path, const QString &text, TStationJob &job, QList<TConfigEntry> &checked,
                QStringList &problems) {
    const QStringList lines = text.split(QRegularExpression(QStringLiteral("\r\n|\r|\n")));
    qsizetype first = 0;
    while (first < lines.size() && TrimText(lines[first]).isEmpty())
        ++first;
    if (first == lines.size()) {
        problems << path + QStringLiteral(": no header line IMEI;KEY...");
        return;
    }
    const QChar separator = lines[first].contains(u';') ? u';' : u',';
    const QStringList header = SplitRow(lines[first], separator);
    if (header.value(0).compare(QStringLiteral("IMEI"), Qt::CaseInsensitive) != 0 || header.size() < 2) {
        problems << QStringLiteral("%1 line %2: the header must be IMEI and the keys").arg(path).arg(first + 1);
        return;
    }
    job.tableKeys = header.mid(1);
    for (qsizetype i = first + 1; i < lines.size(); ++i) {
        if (TrimText(lines[i]).isEmpty())
            continue;
        const QStringList fields = SplitRow(lines[i], separator);
        const int line = int(i + 1);
        if (fields.size() != header.size()) {
            problems << QStringLiteral("%1 line %2: %3 fields, the header has %4")
                            .arg(path).arg(line).arg(fields.size()).arg(header.size());
            continue;
        }
        const QString &imei = fields[0];
        if (!QRegularExpression(QStringLiteral("^\\d{15}$")).match(imei).hasMatch()) {
            problems << QStringLiteral("%1 line %2: %3 is not an IMEI").arg(path).arg(line).arg(imei);
            continue;
        }
        if (job.tableRows.contains(imei)) {
            problems << QStringLiteral("%1 line %2: IMEI %3 is in the table twice").arg(path).arg(line).arg(imei);
            continue;
        }
        job.tableRows.insert(imei, fields.mid(1));
        for (qsizetype k = 1; k < fields.size(); ++k)
            checked.append({line, header[k], fields[k]});
    }
}

} // namespace

bool LoadStationJob(const QString &fileName, const TLuHash &description, TStationJob &job, QStringList &problems) {
    job = TStationJob();
    job.file = QFileInfo(fileName).absoluteFilePath();
    problems.clear();
    QByteArray jobBytes;
    QString jobText;
    if (!ReadBytes(job.file, "job file", jobBytes, problems) || !ReadText(job.file, "job file", jobBytes, jobText, problems))
        return false;
    TLuHash settings;
    for (const TConfigEntry &entry : ConfigEntries(jobText)) {
        if (!JobKeys.contains(entry.key))
            problems << QStringLiteral("%1 line %2: unknown key %3").arg(job.file).arg(entry.line).arg(entry.key);
        else if (settings.KeyIndex(entry.key) >= 0)
            problems << QStringLiteral("%1 line %2: %3 given twice").arg(job.file).arg(entry.line).arg(entry.key);
        else
            settings.SetVal(entry.key, entry.value);
    }
    const QDir folder = QFileInfo(job.file).dir();
    const auto path = [&](const char *key) {
        const QString value = settings.GetVal(QString::fromLatin1(key));
        return value.isEmpty() ? QString() : QDir::cleanPath(folder.absoluteFilePath(value));
    };
    job.name = settings.GetVal(QStringLiteral("name"));
    job.configFile = path("config");
    job.tableFile = path("table");
    job.firmwareFile = path("firmware");
    job.firmwareVersion = settings.GetVal(QStringLiteral("firmware_version"));
    job.password = settings.GetVal(QStringLiteral("password"));
    const QString verify = settings.GetVal(QStringLiteral("verify"));
    job.verify = verify.isEmpty() || verify == u"1";
    if (!verify.isEmpty() && verify != u"0" && verify != u"1")
        problems << job.file + QStringLiteral(": verify is 0 or 1, not ") + verify;
    if (job.name.isEmpty())
        problems << job.file + QStringLiteral(": the job has no name");
    if (job.configFile.isEmpty())
        problems << job.file + QStringLiteral(": the job names no config file");
    if (!job.firmwareFile.isEmpty() && job.firmwareVersion.isEmpty())
        problems << job.file + QStringLiteral(": firmware without firmware_version (the version the image carries)");
    bool versionIsNumber = false;
    job.firmwareVersion.toUInt(&versionIsNumber);
    if (!job.firmwareVersion.isEmpty() && !versionIsNumber)
        problems << job.file + QStringLiteral(": firmware_version is the software version as the tracker reports it "
                                              "(a whole number), not ") + job.firmwareVersion;

    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(jobBytes);
    QList<TConfigEntry> checked;
    QByteArray bytes;
    QString text;
    if (!job.configFile.isEmpty() && ReadBytes(job.configFile, "config file", bytes, problems) &&
        ReadText(job.configFile, "config file", bytes, text, problems)) {
        hash.addData(bytes);
        for (const TConfigEntry &entry : ConfigEntries(text))
            if (WrittenByLoad(entry.key, entry.value)) {
                job.config.append({entry.key, entry.value});
                checked.append(entry);
            }
    }
    const auto problemsOf = [&](const QString &file) {
        for (const TConfigProblem &p : CheckConfigEntries(checked, description))
            problems << QStringLiteral("%1 line %2: %3=%4: %5").arg(file).arg(p.entry.line).arg(p.entry.key, p.entry.value, p.reason);
        checked.clear();
    };
    problemsOf(job.configFile);
    if (!job.tableFile.isEmpty() && ReadBytes(job.tableFile, "table", bytes, problems) &&
        ReadText(job.tableFile, "table", bytes, text, problems)) {
        hash.addData(bytes);
        ParseTable(job.tableFile, text, job, checked, problems);
        problemsOf(job.tableFile);
    }
    if (!job.firmwareFile.isEmpty() && ReadBytes(job.firmwareFile, "firmware image", bytes, problems))
        hash.addData(bytes);
    job.sha256 = QString::fromLatin1(hash.result().toHex());
    return problems.isEmpty();
}

bool TStationJob::EntriesFor(const QString &imei, QList<std::pair<QString, QString>> &entries, QString &why) const {
    entries = config;
    if (tableKeys.isEmpty())
        return true;
    const auto row = tableRows.constFind(imei);
    if (row == tableRows.constEnd()) {
        why = QStringLiteral("IMEI %1 is not in the table %2").arg(imei, tableFile);
        return false;
    }
    for (qsizetype k = 0; k < tableKeys.size(); ++k) {
        const auto same = std::find_if(entries.begin(), entries.end(), [&](const auto &e) { return e.first == tableKeys[k]; });
        if (same != entries.end())
            same->second = row->value(k);
        else
            entries.append({tableKeys[k], row->value(k)});
    }
    return true;
}
