// A station's link to the broker: jobs come in (published for the station's name or its group, each
// checked against its SHA-256), each slot's state and the station's presence go out retained (the
// last will says "offline"), and every audit record goes out with QoS 1 under its id. The local
// audit is the outbox: what the broker has not confirmed is sent again when it is back.
#pragma once

#include "broker_link.h"
#include "provisioning_station.h"

#include <QHash>
#include <functional>
#include <memory>

class TStationUplink : public TStationObserver {
public:
    struct TSetup {
        TBrokerSettings broker;
        QString station, group;
        QString jobsFolder;             // where published jobs are unpacked
        TLuHash description;            // the jobs are checked against it
        TStationObserver *next = nullptr; // the front end: every event goes on to it
        std::function<void(const QString &jobFile, const QString &name)> jobArrived;
        std::function<void(const QString &name)> jobWithdrawn;
        std::function<void(const QString &text)> say; // for a person: refused jobs, the broker's state
    };

    explicit TStationUplink(TSetup setup);
    ~TStationUplink() override;

    bool Start(QString &error);
    void Stop();
    // The station whose audit is the outbox (it changes with the job).
    void SetStation(TProvisioningStation *station);
    bool Connected() const { return flink && flink->Connected(); }

    void SlotChanged(const TSlotState &state) override;
    void Recorded(const TAuditRecord &record) override;
    void Warning(const QString &text) override;
    void NotRecorded(const TAuditRecord &record, const QString &error) override;

    // The state of a slot and a record as they travel.
    static QByteArray SlotPayload(const TSlotState &state);

private:
    void Connected_();
    void Message(const QString &topic, const QByteArray &payload);
    void SendRecord(const TAuditRecord &record);
    void ReportJob(const QString &name, const QString &state, const QString &reason);

    TSetup fsetup;
    TProvisioningStation *fstation = nullptr;
    bool frefusedSaid = false;
    bool fstopping = false;
    QHash<int, QString> fpending; // record ids by message id, until the broker confirms them
    std::unique_ptr<TBrokerLink> flink;
};
