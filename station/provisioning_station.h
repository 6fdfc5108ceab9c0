// TProvisioningStation: one job, the audit it is recorded in and a slot per port of the setting
// com_ports (each mapped by its comN setting, as everywhere else). Front ends (veltra_cli station and
// the station's window) start it, follow its events and show its summary; everything it does to a
// tracker lives in the slots.
#pragma once

#include "station_audit.h"
#include "station_job.h"
#include "station_slot.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <memory>
#include <vector>

// The description a job is checked against: the setting params=FILE, or the configurator's places
// (beside the program, its parent folder, conf_dir).
TLuHash StationDescription();

class TStationObserver {
public:
    virtual ~TStationObserver() = default;
    virtual void SlotChanged(const TSlotState &state) { (void)state; }
    virtual void Recorded(const TAuditRecord &record) { (void)record; }
    // Something a person should know that belongs to no slot (a report that could not be written).
    virtual void Warning(const QString &text) { (void)text; }
    // A tracker's outcome that the audit could not keep: counted as failed.
    virtual void NotRecorded(const TAuditRecord &record, const QString &error) { (void)record, (void)error; }
};

struct TStationSummary {
    int done = 0, failed = 0, skipped = 0, inProgress = 0, waiting = 0;
    double perHour = 0; // trackers done per hour since the station started
};

class TProvisioningStation : public TSlotHost {
public:
    explicit TProvisioningStation(TStationObserver &observer);
    ~TProvisioningStation() override;

    // Loads and checks the job, opens its audit and starts a slot per port. False, with one reason a
    // line, when the station may not start; nothing has been sent to any tracker then.
    bool Start(const QString &jobFile, const TLuHash &description, QStringList &problems);
    // Stops every slot; jobs under way are recorded as interrupted.
    void Stop();

    const TStationJob &Job() const override { return fjob; }
    bool DoneBefore(const QString &imei) const override;
    bool Record(TAuditRecord &record, QString &error) override;
    void SlotChanged(const TSlotState &state) override;
    void NotRecorded(const TAuditRecord &record, const QString &error) override;

    const std::vector<std::unique_ptr<TStationSlot>> &Slots() const { return fslots; }
    const TStationAudit &Audit() const { return faudit; }
    // The broker has the record: it is not sent again.
    void MarkRecordSent(const QString &id) { faudit.MarkSent(id); }
    QString Name() const { return fname; }
    TStationSummary Summary() const;

    // The setting station, else the host name.
    static QString StationName();
    // The ports the station works on: the setting com_ports, in its order.
    static QList<int> StationPorts();
    // The audit's file: the setting audit, else one per job name under the program's data folder.
    static QString AuditFileName(const QString &jobName);

private:
    const QString TAG = QStringLiteral("station");
    TStationObserver &fobserver;
    TStationJob fjob;
    TStationAudit faudit;
    QString fname;
    QElapsedTimer fstarted;
    int fdone = 0, ffailed = 0, fskipped = 0;
    std::vector<std::unique_ptr<TStationSlot>> fslots;
};
