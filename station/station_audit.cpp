#include "station_audit.h"

#include "LuPlatform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSaveFile>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace {

const char *const CsvColumns[] = {"time",       "station",    "slot",      "port",      "imei",     "type",
                                  "hw_before",  "sw_before",  "hw_after",  "sw_after",  "job",      "job_sha256",
                                  "result",     "reason",     "keys",      "written",   "total_ms", "firmware_ms",
                                  "write_ms",   "verify_ms"};

QString DoneKey(const QString &imei, const QString &jobSha256) {
    return imei + u'\n' + jobSha256;
}

// A field as spreadsheets read it: quoted when it holds the separator, a quote or a line end.
QString CsvField(QString text) {
    if (!text.contains(u';') && !text.contains(u'"') && !text.contains(u'\n') && !text.contains(u'\r'))
        return text;
    text.replace(u'"', QStringLiteral("\"\""));
    return u'"' + text + u'"';
}

QString WrittenText(const QList<std::pair<QString, QString>> &written) {
    QStringList parts;
    for (const auto &[key, value] : written)
        parts << key + u'=' + value;
    return parts.join(QStringLiteral(", "));
}

QStringList CsvRow(const TAuditRecord &r) {
    return {r.time,
            r.station,
            r.slot,
            r.port,
            r.imei,
            r.type,
            QString::number(r.hwBefore),
            QString::number(r.swBefore),
            QString::number(r.hwAfter),
            QString::number(r.swAfter),
            r.job,
            r.jobSha256,
            r.result,
            r.reason,
            r.keys.join(u' '),
            WrittenText(r.written),
            QString::number(r.totalMs),
            QString::number(r.firmwareMs),
            QString::number(r.writeMs),
            QString::number(r.verifyMs)};
}

bool WriteAll(int fd, const QByteArray &bytes) {
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

} // namespace

QJsonObject TAuditRecord::ToJson() const {
    QJsonObject written;
    QJsonArray order;
    for (const auto &[key, value] : this->written) {
        written[key] = value;
        order.append(key);
    }
    return {{"id", id},
            {"time", time},
            {"station", station},
            {"slot", slot},
            {"port", port},
            {"imei", imei},
            {"type", type},
            {"hw_before", hwBefore},
            {"sw_before", swBefore},
            {"hw_after", hwAfter},
            {"sw_after", swAfter},
            {"job", job},
            {"job_sha256", jobSha256},
            {"result", result},
            {"reason", reason},
            {"keys", QJsonArray::fromStringList(keys)},
            {"written", written},
            {"written_order", order},
            {"total_ms", totalMs},
            {"firmware_ms", firmwareMs},
            {"write_ms", writeMs},
            {"verify_ms", verifyMs}};
}

bool TAuditRecord::FromJson(const QJsonObject &o, TAuditRecord &r) {
    if (!o.value("imei").isString() || !o.value("result").isString() || !o.value("job_sha256").isString())
        return false;
    r = {};
    r.time = o.value("time").toString();
    r.id = o.value("id").toString();
    r.station = o.value("station").toString();
    r.slot = o.value("slot").toString();
    r.port = o.value("port").toString();
    r.imei = o.value("imei").toString();
    r.type = o.value("type").toString();
    r.hwBefore = o.value("hw_before").toInt();
    r.swBefore = o.value("sw_before").toInt();
    r.hwAfter = o.value("hw_after").toInt();
    r.swAfter = o.value("sw_after").toInt();
    r.job = o.value("job").toString();
    r.jobSha256 = o.value("job_sha256").toString();
    r.result = o.value("result").toString();
    r.reason = o.value("reason").toString();
    for (const QJsonValue &key : o.value("keys").toArray())
        r.keys << key.toString();
    const QJsonObject written = o.value("written").toObject();
    for (const QJsonValue &key : o.value("written_order").toArray())
        r.written.append({key.toString(), written.value(key.toString()).toString()});
    r.totalMs = o.value("total_ms").toInteger();
    r.firmwareMs = o.value("firmware_ms").toInteger();
    r.writeMs = o.value("write_ms").toInteger();
    r.verifyMs = o.value("verify_ms").toInteger();
    return true;
}

bool TStationAudit::Open(const QString &fileName, QString &error) {
    ffile = fileName;
    frecords.clear();
    fdone.clear();
    fskipped = 0;
    fendsMidLine = false;
    fsent.clear();
    fids.clear();
    if (!QDir().mkpath(QFileInfo(fileName).absolutePath())) {
        error = QStringLiteral("cannot make the folder of the audit %1").arg(fileName);
        return false;
    }
    QFile sent(fileName + QStringLiteral(".sent"));
    if (sent.open(QIODevice::ReadOnly))
        for (const QByteArray &line : sent.readAll().split('\n'))
            if (!line.trimmed().isEmpty())
                fsent.insert(QString::fromUtf8(line.trimmed()));
    QFile file(fileName);
    if (!file.exists())
        return true;
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("cannot read the audit %1: %2").arg(fileName, file.errorString());
        return false;
    }
    const QByteArray bytes = file.readAll();
    fendsMidLine = !bytes.isEmpty() && !bytes.endsWith('\n');
    for (const QByteArray &line : bytes.split('\n')) {
        if (line.trimmed().isEmpty())
            continue;
        TAuditRecord record;
        const QJsonDocument doc = QJsonDocument::fromJson(line);
        if (!doc.isObject() || !TAuditRecord::FromJson(doc.object(), record)) {
            ++fskipped;
            continue;
        }
        Keep(record);
    }
    return true;
}

bool TStationAudit::Append(const TAuditRecord &record, QString &error) {
    QByteArray line = QJsonDocument(record.ToJson()).toJson(QJsonDocument::Compact) + '\n';
    if (fendsMidLine)
        line.prepend('\n');
    const bool created = !QFile::exists(ffile);
    QFile file(ffile);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        error = QStringLiteral("cannot open the audit %1: %2").arg(ffile, file.errorString());
        return false;
    }
    // Unbuffered: the record goes to the system at once, and fsync waits until the disk has it (and
    // the folder's entry of a new file).
    const int fd = file.handle();
    const bool written = WriteAll(fd, line);
    const int writeError = errno;
    if (!written || !SyncDescriptor(fd) || (created && !SyncFolderOf(ffile))) {
        // Whatever part reached the file ends mid-line: the next record starts on a line of its own.
        fendsMidLine = true;
        error = QStringLiteral("cannot write the audit %1: %2")
                    .arg(ffile, QString::fromLocal8Bit(strerror(written ? errno : writeError)));
        return false;
    }
    fendsMidLine = false;
    Keep(record);
    return true;
}

void TStationAudit::Keep(const TAuditRecord &record) {
    frecords << record;
    fids.insert(record.id);
    if (record.result == u"done")
        fdone.insert(DoneKey(record.imei, record.jobSha256));
}

bool TStationAudit::DoneBefore(const QString &imei, const QString &jobSha256) const {
    return fdone.contains(DoneKey(imei, jobSha256));
}

QList<TAuditRecord> TStationAudit::Unsent() const {
    QList<TAuditRecord> unsent;
    for (const TAuditRecord &record : frecords)
        if (!record.id.isEmpty() && !fsent.contains(record.id))
            unsent << record;
    return unsent;
}

void TStationAudit::MarkSent(const QString &id) {
    if (fsent.contains(id))
        return;
    fsent.insert(id);
    QFile file(ffile + QStringLiteral(".sent"));
    if (file.open(QIODevice::WriteOnly | QIODevice::Append))
        file.write(id.toUtf8() + '\n');
}

QString TStationAudit::CsvFileName() const {
    const QFileInfo info(ffile);
    return info.dir().filePath(info.completeBaseName() + QStringLiteral(".csv"));
}

QString TStationAudit::DefaultFileName(const QString &folder, const QString &jobName) {
    QString name = jobName;
    name.replace(QRegularExpression(QStringLiteral("[^\\w.-]+")), QStringLiteral("_"));
    if (name.isEmpty() || name.startsWith(u'.'))
        name.prepend(QStringLiteral("job"));
    return QDir(folder).filePath(QStringLiteral("audit/") + name + QStringLiteral(".jsonl"));
}

QString TStationAudit::CsvReport(const QList<TAuditRecord> &records) {
    QStringList header;
    for (const char *column : CsvColumns)
        header << QString::fromLatin1(column);
    QString text = header.join(u';') + QStringLiteral("\r\n");
    for (const TAuditRecord &record : records) {
        QStringList fields;
        for (const QString &field : CsvRow(record))
            fields << CsvField(field);
        text += fields.join(u';') + QStringLiteral("\r\n");
    }
    return text;
}

// Spreadsheets take a UTF-8 file for one only with its byte order mark.
bool TStationAudit::WriteCsv(QString &error) const {
    QSaveFile file(CsvFileName());
    const QByteArray bytes = "\xEF\xBB\xBF" + CsvReport(frecords).toUtf8();
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        error = QStringLiteral("cannot write the report %1: %2").arg(CsvFileName(), file.errorString());
        return false;
    }
    return true;
}
