// From a record written at a station to the office's store: two stations with 16 slots between them
// send 500 audit records through a real Mosquitto broker (TLS, passwords, the shipped access list) to
// the office, which collects them as veltra_fleet results --watch does (each stored and synced to the
// disk once). Figures: the median and worst time, and how many were lost or doubled. The reference
// in the same run is the broker's bare round trip: one message to the office's own topic and back.
#include "broker_link.h"
#include "common.h"
#include "fleet/broker_fixture.h"
#include "station_audit.h"
#include "station_uplink.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int Records = 500;
constexpr int Slots = 16;

TBrokerSettings Login(const TBroker &broker, const QString &user, const QString &password) {
    TBrokerSettings s;
    s.host = QStringLiteral("127.0.0.1");
    s.port = broker.Url().section(u':', -1).toInt();
    s.user = user;
    s.password = password;
    s.ca = broker.File(QStringLiteral("ca.crt"));
    s.clientId = QStringLiteral("bench-") + user;
    return s;
}

double Median(std::vector<double> values) {
    if (values.empty())
        return -1;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    AppSettings = new TLuHash();
    AppMessage = RegisterMessageName(QStringLiteral("fleet-bench"));
    QTemporaryDir dir;
    QDir().mkpath(dir.filePath("broker"));
    TBroker broker(dir.filePath("broker"));
    if (!broker.ready || !broker.Start()) {
        std::fprintf(stderr, "the broker did not start:\n%s\n", qPrintable(broker.Log()));
        return 1;
    }

    // The office: its kept session and its store.
    TStationAudit store;
    QString error;
    store.Open(dir.filePath("office/records.jsonl"), error);
    std::vector<double> latencies;
    int doubled = 0;
    QElapsedTimer echoClock;
    double echoMs = -1;
    bool officeUp = false;
    TBrokerLink::TEvents events;
    events.connected = [&] { officeUp = true; };
    events.message = [&](const QString &topic, const QByteArray &payload, bool) {
        if (topic == u"veltra/jobs/echo") {
            echoMs = double(echoClock.nsecsElapsed()) / 1e6;
            return;
        }
        TAuditRecord r;
        QString why;
        if (!TAuditRecord::FromJson(QJsonDocument::fromJson(payload).object(), r))
            return;
        if (store.Holds(r.id)) {
            ++doubled;
            return;
        }
        store.Append(r, why);
        const QDateTime written = QDateTime::fromString(r.time, Qt::ISODateWithMs);
        latencies.push_back(double(written.msecsTo(QDateTime::currentDateTimeUtc())));
    };
    TBrokerSettings officeLogin = Login(broker, "office", "office-secret");
    officeLogin.cleanSession = false;
    TBrokerLink office(officeLogin, events);
    office.Start(QString(), QByteArray(), error);
    WaitFor([&] { return officeUp; }, 10000);
    office.Subscribe(QStringLiteral("veltra/records/+"));
    office.Subscribe(QStringLiteral("veltra/jobs/echo"));
    WaitFor([] { return false; }, 500);
    echoClock.start();
    office.Publish(QStringLiteral("veltra/jobs/echo"), "ping", 1, false);
    WaitFor([&] { return echoMs >= 0; }, 5000);

    // Two stations, eight slots each, a record every 4 ms in turn.
    std::vector<std::unique_ptr<TStationUplink>> stations;
    for (const char *name : {"bench-1", "bench-2"}) {
        TStationUplink::TSetup setup;
        setup.broker = Login(broker, name, QByteArray(name) + "-secret");
        setup.station = QString::fromLatin1(name);
        setup.jobsFolder = dir.filePath(QStringLiteral("jobs-") + name);
        setup.jobArrived = [](const QString &, const QString &) {};
        setup.jobWithdrawn = [](const QString &) {};
        setup.say = [](const QString &) {};
        stations.push_back(std::make_unique<TStationUplink>(setup));
        if (!stations.back()->Start(error)) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return 1;
        }
    }
    WaitFor([&] { return stations[0]->Connected() && stations[1]->Connected(); }, 10000);
    for (int i = 0; i < Records; ++i) {
        TAuditRecord r;
        r.station = i % 2 ? QStringLiteral("bench-2") : QStringLiteral("bench-1");
        r.slot = QStringLiteral("COM%1").arg(1 + (i / 2) % (Slots / 2));
        r.imei = QStringLiteral("35693803%1").arg(i, 7, 10, QChar(u'0'));
        r.job = QStringLiteral("bench");
        r.jobSha256 = QString(64, u'0');
        r.result = QStringLiteral("done");
        r.time = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
        r.id = r.station + u'/' + r.time + u'/' + r.slot + u'/' + QString::number(i);
        stations[size_t(i % 2)]->Recorded(r);
        WaitFor([] { return false; }, 4);
    }
    WaitFor([&] { return int(latencies.size()) >= Records; }, 30000);
    const double worst = latencies.empty() ? -1 : *std::max_element(latencies.begin(), latencies.end());
    std::printf("fleet broker round trip (reference): %.1f ms\n", echoMs);
    std::printf("fleet record to the office's store, median: %.1f ms (target: under 100 ms)\n", Median(latencies));
    std::printf("fleet record to the office's store, worst: %.1f ms\n", worst);
    std::printf("fleet median / round trip: %.1f\n", Median(latencies) / std::max(echoMs, 0.1));
    std::printf("fleet records lost: %d, doubled: %d, of %d\n", Records - int(latencies.size()), doubled, Records);
    for (auto &station : stations)
        station->Stop();
    office.Stop();
    return int(latencies.size()) == Records ? 0 : 1;
}
