// The station's audit: one record per tracker and attempt, appended to a JSON Lines file and flushed
// to the disk before the slot says it is done, so that a station killed at any moment keeps every
// record it reported. A CSV report is made from the records for people and spreadsheets.
//
// The file is only ever appended to. A line cut short by a kill is skipped when the file is read,
// and the next record starts on a line of its own.
#pragma once

#include <QJsonObject>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <utility>

struct TAuditRecord {
    QString id;   // unique across stations: station/time/slot
    QString time; // UTC, ISO 8601 with milliseconds
    QString station, slot, port;
    QString imei, type;
    int hwBefore = 0, swBefore = 0, hwAfter = 0, swAfter = 0;
    QString job, jobSha256;
    QString result; // done, refused, mismatched, interrupted, failed
    QString reason; // for a person; empty when done
    QStringList keys; // the refused or mismatched keys
    QList<std::pair<QString, QString>> written; // confirmed by the tracker in this attempt
    qint64 totalMs = 0, firmwareMs = 0, writeMs = 0, verifyMs = 0;

    QJsonObject ToJson() const;
    static bool FromJson(const QJsonObject &object, TAuditRecord &record);
};

class TStationAudit {
public:
    // Reads the records the file holds already (a missing file is an empty audit). False, with the
    // reason, when the file cannot be read or its folder not made.
    bool Open(const QString &fileName, QString &error);
    // Appends one line and waits until the disk has it.
    bool Append(const TAuditRecord &record, QString &error);
    // Rewrites the CSV report beside the audit from every record (whole or not at all).
    bool WriteCsv(QString &error) const;

    bool DoneBefore(const QString &imei, const QString &jobSha256) const;
    // A record of that id is in the file (where records from many stations are collected).
    bool Holds(const QString &id) const { return fids.contains(id); }

    // The broker's outbox: the records it has not confirmed yet, oldest first. A confirmation is kept
    // beside the audit (<audit>.sent), so that a restarted station sends only what is missing; one sent
    // twice is dropped by its id where the records are collected.
    QList<TAuditRecord> Unsent() const;
    void MarkSent(const QString &id);
    const QList<TAuditRecord> &Records() const { return frecords; }
    QString FileName() const { return ffile; }
    QString CsvFileName() const;
    int SkippedLines() const { return fskipped; }

    // A file name for a job's audit when the settings name none: one per job under `folder`.
    static QString DefaultFileName(const QString &folder, const QString &jobName);
    static QString CsvReport(const QList<TAuditRecord> &records);

private:
    void Keep(const TAuditRecord &record);

    QString ffile;
    QList<TAuditRecord> frecords;
    QSet<QString> fdone; // imei + '\n' + job hash of every success
    QSet<QString> fsent;
    QSet<QString> fids;
    bool fendsMidLine = false;
    int fskipped = 0;
};
