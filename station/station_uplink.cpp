#include "station_uplink.h"

#include "job_bundle.h"

#include <QCryptographicHash>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>

TStationUplink::TStationUplink(TSetup setup) : fsetup(std::move(setup)) {}

TStationUplink::~TStationUplink() {
    Stop();
}

bool TStationUplink::Start(QString &error) {
    TBrokerLink::TEvents events;
    events.connected = [this] { Connected_(); };
    events.lost = [this](const QString &why) { fsetup.say(QStringLiteral("Broker: ") + why); };
    events.message = [this](const QString &topic, const QByteArray &payload, bool) { Message(topic, payload); };
    events.delivered = [this](int mid) {
        const QString id = fpending.take(mid);
        if (!id.isEmpty() && fstation)
            fstation->MarkRecordSent(id);
    };
    events.refused = [this](const QString &topic) {
        fsetup.say(QStringLiteral("Broker: the access list refuses %1 to this user: is station=%2 this station's own "
                                  "name, and station_group=%3 its group?")
                       .arg(topic, fsetup.station, fsetup.group));
    };
    // A record refused stays in the outbox; the person is told once a connection.
    events.publishRefused = [this](int mid) {
        fpending.remove(mid);
        if (!std::exchange(frefusedSaid, true))
            fsetup.say(QStringLiteral("Broker: the access list refuses this station's name: user %1 may not speak as "
                                      "station %2 (each station logs in with its own name)")
                           .arg(fsetup.broker.user, fsetup.station));
    };
    flink = std::make_unique<TBrokerLink>(fsetup.broker, events);
    return flink->Start(BrokerTopics::Presence(fsetup.station), "offline", error);
}

void TStationUplink::Stop() {
    // What the broker still delivers while the line closes starts nothing new.
    fstopping = true;
    if (flink)
        flink->Stop(BrokerTopics::Presence(fsetup.station), "offline");
    flink.reset();
}

void TStationUplink::SetStation(TProvisioningStation *station) {
    fstation = station;
    fpending.clear();
    if (fstation && Connected())
        for (const TAuditRecord &record : fstation->Audit().Unsent())
            SendRecord(record);
}

void TStationUplink::Connected_() {
    fsetup.say(QStringLiteral("Broker: connected as station %1").arg(fsetup.station));
    frefusedSaid = false;
    flink->Publish(BrokerTopics::Presence(fsetup.station), "online", 1, true);
    flink->Subscribe(BrokerTopics::StationJob(fsetup.station, QStringLiteral("+")));
    if (!fsetup.group.isEmpty())
        flink->Subscribe(BrokerTopics::GroupJob(fsetup.group, QStringLiteral("+")));
    // What the broker did not confirm before it went away goes again.
    fpending.clear();
    if (fstation)
        for (const TAuditRecord &record : fstation->Audit().Unsent())
            SendRecord(record);
}

void TStationUplink::Message(const QString &topic, const QByteArray &payload) {
    if (fstopping)
        return;
    const QString name = topic.section(u'/', -1);
    if (payload.isEmpty()) {
        fsetup.jobWithdrawn(name);
        return;
    }
    // Each job content in a folder of its own: a job being worked is never overwritten under a slot.
    const QString folder = QDir(fsetup.jobsFolder)
                               .filePath(QString::fromLatin1(QCryptographicHash::hash(payload, QCryptographicHash::Sha256).toHex().left(16)));
    QString jobFile, jobName, error;
    if (!UnpackJobBundle(payload, folder, fsetup.description, jobFile, jobName, error)) {
        fsetup.say(QStringLiteral("Job %1 refused: %2").arg(jobName.isEmpty() ? name : jobName, error));
        ReportJob(jobName.isEmpty() ? name : jobName, QStringLiteral("refused"), error);
        return;
    }
    ReportJob(jobName, QStringLiteral("received"), QString());
    fsetup.jobArrived(jobFile, jobName);
}

void TStationUplink::ReportJob(const QString &name, const QString &state, const QString &reason) {
    const QByteArray payload = QJsonDocument(QJsonObject{{"job", name}, {"state", state}, {"reason", reason}})
                                   .toJson(QJsonDocument::Compact);
    flink->Publish(QStringLiteral("veltra/station/%1/job").arg(fsetup.station), payload, 1, true);
}

QByteArray TStationUplink::SlotPayload(const TSlotState &s) {
    return QJsonDocument(QJsonObject{{"slot", s.name},
                                     {"port", s.path},
                                     {"stage", StageName(s.stage)},
                                     {"imei", s.imei},
                                     {"detail", s.detail},
                                     {"written", s.written},
                                     {"to_write", s.toWrite},
                                     {"percent", s.percent}})
        .toJson(QJsonDocument::Compact);
}

void TStationUplink::SlotChanged(const TSlotState &state) {
    if (flink)
        flink->Publish(BrokerTopics::Slot(fsetup.station, state.name), SlotPayload(state), 1, true);
    if (fsetup.next)
        fsetup.next->SlotChanged(state);
}

void TStationUplink::Recorded(const TAuditRecord &record) {
    SendRecord(record);
    if (fsetup.next)
        fsetup.next->Recorded(record);
}

void TStationUplink::Warning(const QString &text) {
    if (fsetup.next)
        fsetup.next->Warning(text);
}

void TStationUplink::NotRecorded(const TAuditRecord &record, const QString &error) {
    if (fsetup.next)
        fsetup.next->NotRecorded(record, error);
}

void TStationUplink::SendRecord(const TAuditRecord &record) {
    if (!flink)
        return;
    const int mid =
        flink->Publish(BrokerTopics::Records(fsetup.station), QJsonDocument(record.ToJson()).toJson(QJsonDocument::Compact), 1, false);
    if (mid > 0)
        fpending.insert(mid, record.id);
}
