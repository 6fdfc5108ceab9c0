// veltra_fleet: the office's side of the stations' broker. It publishes jobs for a station or a group,
// withdraws them, shows every station and slot as they report themselves, and collects the stations'
// records into a local store that survives restarts (the broker keeps them for it meanwhile).
//   veltra_fleet [key=value settings...] COMMAND [ARGS]
#include "LuVerInfo.h"
#include "broker_link.h"
#include "cli_interrupt.h"
#include "common.h"
#include "job_bundle.h"
#include "provisioning_station.h"
#include "station_audit.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLockFile>
#include <QMap>
#include <QTimer>
#include <cstdio>
#include <functional>
#include <memory>

namespace {

const char *const Usage =
    "Usage: veltra_fleet [key=value ...] COMMAND [ARGS]\n"
    "\n"
    "The office's side of the provisioning stations' MQTT broker.\n"
    "\n"
    "Commands:\n"
    "  publish JOB (--station NAME | --group NAME)\n"
    "                         check the job as a station would, then publish it with its files and\n"
    "                         their SHA-256 for one station or a group (kept by the broker: a station\n"
    "                         offline now takes it when it comes back); from then on the broker keeps\n"
    "                         the stations' records for the office until results collects them\n"
    "  withdraw NAME (--station NAME | --group NAME)\n"
    "                         withdraw the job of that name; the stations working it stop\n"
    "  status [--watch]       every station (online or offline, its job) and every slot; --watch\n"
    "                         goes on printing each change until Ctrl-C\n"
    "  results [--since TIME] [--job NAME] [--csv | --json] [--watch]\n"
    "                         collect the records the stations sent since the last time into the\n"
    "                         local store, then print the store's records (TIME: ISO 8601, UTC);\n"
    "                         --watch goes on collecting and printing each new one until Ctrl-C\n"
    "  help, --help           print this text\n"
    "  --version              print the program's name and version\n"
    "\n"
    "Settings (key=value before the command, or in veltra_fleet.conf):\n"
    "  broker=mqtts://HOST[:PORT]   the broker (TLS with its certificate verified; mqtt:// for plain\n"
    "                         text only when named so)\n"
    "  broker_user=NAME       the office's user on the broker\n"
    "  broker_pass_file=FILE  a file whose first line is its password (broker_pass= is taken from a\n"
    "                         settings file only, never from the command line)\n"
    "  broker_ca=FILE         the authority that signed the broker's certificate\n"
    "  broker_cert=FILE, broker_key=FILE   a client certificate instead of a password\n"
    "  fleet_id=NAME          the office's client id; the broker keeps records for it while it is\n"
    "                         away (default veltra-fleet)\n"
    "  store=FILE             the local record store (default ~/.config/Veltra/fleet/records.jsonl)\n"
    "  params=FILE            the parameter description a published job is checked against\n"
    "  fleet_timeout=10       seconds to wait for the broker\n"
    "\n"
    "Exit codes:\n"
    "  0                      done\n"
    "  1                      usage\n"
    "  2                      the broker could not be reached or refused us (the reason is printed)\n"
    "  5                      an unreadable file\n"
    "  6                      the job refused before it was published\n";

enum { ExitOk = 0, ExitUsage = 1, ExitBroker = 2, ExitBadFile = 5, ExitRefused = 6 };

void Print(const QString &text) {
    std::fputs(text.toLocal8Bit().constData(), stdout);
    std::fflush(stdout);
}

void PrintError(const QString &text) {
    std::fputs((text + u'\n').toLocal8Bit().constData(), stderr);
}

// The event loop until `done` or the time-out; false at the time-out.
bool ServeUntil(const std::function<bool()> &done, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        ServeNotificationsFor(20);
    }
    return true;
}

int TimeoutMs() {
    const int seconds = AppSettings->GetVal(QStringLiteral("fleet_timeout")).toInt();
    return (seconds > 0 ? seconds : 10) * 1000;
}

// One connection to the broker for one command.
class TOffice {
public:
    QStringList refusedTopics;
    QList<std::pair<QString, QByteArray>> messages;
    QSet<int> delivered;
    QString lost;
    std::function<void(const QString &, const QByteArray &)> onMessage;

    bool Connect(bool keepSession, QString &error) {
        TBrokerSettings settings;
        if (!ParseBrokerSettings(*AppSettings, settings, error))
            return false;
        const QString id = AppSettings->GetVal(QStringLiteral("fleet_id")).trimmed();
        settings.clientId = (id.isEmpty() ? QStringLiteral("veltra-fleet") : id) +
                            (keepSession ? QString() : QStringLiteral("-%1").arg(QCoreApplication::applicationPid()));
        settings.cleanSession = !keepSession;
        TBrokerLink::TEvents events;
        events.connected = [this] { fconnected = true; };
        events.lost = [this](const QString &why) { lost = why; };
        events.message = [this](const QString &topic, const QByteArray &payload, bool) {
            if (onMessage)
                onMessage(topic, payload);
            else
                messages.append({topic, payload});
            flastMessage.restart();
        };
        events.delivered = [this](int mid) { delivered.insert(mid); };
        events.refused = [this](const QString &topic) { refusedTopics << topic; };
        flink = std::make_unique<TBrokerLink>(settings, events);
        if (!flink->Start(QString(), QByteArray(), error))
            return false;
        if (ServeUntil([this] { return fconnected || !lost.isEmpty(); }, TimeoutMs()) && fconnected)
            return true;
        error = QStringLiteral("The broker %1 did not accept us: %2")
                    .arg(AppSettings->GetVal(QStringLiteral("broker")),
                         !lost.isEmpty()                ? lost
                         : !flink->LastError().isEmpty() ? flink->LastError()
                                                         : QStringLiteral("no answer (is it running, is the address right?)"));
        return false;
    }

    TBrokerLink &Link() { return *flink; }

    bool PublishAndWait(const QString &topic, const QByteArray &payload, QString &error) {
        const int mid = flink->Publish(topic, payload, 1, true);
        if (mid > 0 && ServeUntil([&] { return delivered.contains(mid); }, TimeoutMs()))
            return true;
        error = QStringLiteral("The broker did not confirm the message to %1").arg(topic);
        return false;
    }

    // Waits until the broker has sent what it kept (retained or queued): nothing new for `quietMs`.
    void Drain(int quietMs) {
        flastMessage.start();
        ServeUntil([&] { return flastMessage.elapsed() >= quietMs; }, TimeoutMs() * 6);
    }

    ~TOffice() {
        if (flink)
            flink->Stop();
    }

private:
    bool fconnected = false;
    QElapsedTimer flastMessage;
    std::unique_ptr<TBrokerLink> flink;
};

// --station NAME or --group NAME: the topic of job `name` for it.
bool JobTopic(const QStringList &args, const QString &name, QString &topic) {
    const qsizetype station = args.indexOf(QStringLiteral("--station"));
    const qsizetype group = args.indexOf(QStringLiteral("--group"));
    if ((station >= 0) == (group >= 0))
        return false;
    const QString target = args.value((station >= 0 ? station : group) + 1);
    if (target.isEmpty() || target.startsWith(u'-') || target.contains(u'/') || target.contains(u'+') ||
        target.contains(u'#'))
        return false;
    topic = station >= 0 ? BrokerTopics::StationJob(target, name) : BrokerTopics::GroupJob(target, name);
    return true;
}

QString StoreFile() {
    const QString setting = AppSettings->GetVal(QStringLiteral("store")).trimmed();
    return setting.isEmpty() ? AppDataDir + QStringLiteral("fleet/records.jsonl") : setting;
}

QString RecordLine(const TAuditRecord &r) {
    return QStringLiteral("%1\t%2\t%3\t%4\t%5\t%6%7\n")
        .arg(r.time, r.station, r.slot, r.imei.isEmpty() ? QStringLiteral("-") : r.imei, r.job, r.result,
             r.reason.isEmpty() ? QString() : QStringLiteral("\t") + r.reason);
}

// A record stored badly has been confirmed to the broker all the same: the command must not end as
// if all were well.
bool StoreFailed = false;

// Takes the records the broker kept for the office into the store, each once; the count of new ones.
// The office's queue on the broker exists from its first connection with the persistent session on.
// The handler stays for the connection's whole life: a record the broker delivers later (while a job
// is published, while the line closes) is confirmed to it too and must not be dropped. `each` sees
// every new record.
int CollectRecords(TOffice &office, TStationAudit &store, const std::function<void(const TAuditRecord &)> &each = nullptr) {
    const auto added = std::make_shared<int>(0);
    office.onMessage = [&store, added, each](const QString &topic, const QByteArray &payload) {
        TAuditRecord record;
        QString why;
        if (!TAuditRecord::FromJson(QJsonDocument::fromJson(payload).object(), record) || record.id.isEmpty())
            return;
        // A station speaks only for itself: a record that names another station is not taken.
        if (topic != BrokerTopics::Records(record.station) || !record.id.startsWith(record.station + u'/')) {
            PrintError(QStringLiteral("A record on %1 that names station %2 was not taken").arg(topic, record.station));
            return;
        }
        // A record sent twice (the station did not hear the broker's confirmation) is kept once.
        if (store.Holds(record.id))
            return;
        if (!store.Append(record, why)) {
            PrintError(why);
            StoreFailed = true;
            return;
        }
        ++*added;
        if (each)
            each(record);
    };
    office.Link().Subscribe(QStringLiteral("veltra/records/+"));
    office.Drain(1000);
    return *added;
}

// One collector at a time: two would take the broker's kept session from each other.
class TStoreLock {
public:
    explicit TStoreLock(const QString &store) : flock(store + QStringLiteral(".lock")) { flock.setStaleLockTime(0); }
    bool Take() { return flock.tryLock(100); }

private:
    QLockFile flock;
};

int Publish(const QStringList &args) {
    const QString jobFile = args.value(0);
    QByteArray bundle;
    QString name, error, topic;
    if (!QFileInfo(jobFile).isFile()) {
        PrintError(QStringLiteral("No such file: ") + jobFile);
        return ExitBadFile;
    }
    if (!PackJobBundle(jobFile, StationDescription(), bundle, name, error)) {
        PrintError(error);
        PrintError(QStringLiteral("The job was not published."));
        return ExitRefused;
    }
    if (!JobTopic(args, BrokerTopics::Level(name), topic)) {
        PrintError(QStringLiteral("Usage: veltra_fleet publish JOB (--station NAME | --group NAME)"));
        return ExitUsage;
    }
    TStationAudit store;
    if (!store.Open(StoreFile(), error)) {
        PrintError(error);
        return ExitBadFile;
    }
    // With the office's own session: from the first job on, the broker keeps the records for it. A
    // collector already running (results --watch) has it: this one publishes on a session of its own.
    TStoreLock lock(StoreFile());
    const bool collect = lock.Take();
    TOffice office;
    if (!office.Connect(collect, error)) {
        PrintError(error);
        return ExitBroker;
    }
    if (collect)
        CollectRecords(office, store);
    if (!office.PublishAndWait(topic, bundle, error)) {
        PrintError(error);
        return ExitBroker;
    }
    Print(QStringLiteral("Published job %1 (%2 bytes) to %3\n").arg(name).arg(bundle.size()).arg(topic));
    return StoreFailed ? ExitBadFile : ExitOk;
}

int Withdraw(const QStringList &args) {
    QString topic, error;
    if (args.isEmpty() || !JobTopic(args, BrokerTopics::Level(args[0]), topic)) {
        PrintError(QStringLiteral("Usage: veltra_fleet withdraw NAME (--station NAME | --group NAME)"));
        return ExitUsage;
    }
    TOffice office;
    if (!office.Connect(false, error) || !office.PublishAndWait(topic, QByteArray(), error)) {
        PrintError(error);
        return ExitBroker;
    }
    Print(QStringLiteral("Withdrew job %1 from %2\n").arg(args[0], topic));
    return ExitOk;
}

// veltra/station/<name>/presence | job | slot/<slot>, as one line for a person.
QString StatusLine(const QString &topic, const QByteArray &payload) {
    const QStringList parts = topic.split(u'/');
    const QString station = parts.value(2);
    const QString what = parts.value(3);
    if (what == u"presence")
        return QStringLiteral("%1\t%2").arg(station, QString::fromUtf8(payload));
    const QJsonObject o = QJsonDocument::fromJson(payload).object();
    if (what == u"job")
        return QStringLiteral("%1\tjob %2 %3%4")
            .arg(station, o.value("job").toString(), o.value("state").toString(),
                 o.value("reason").toString().isEmpty() ? QString() : QStringLiteral(": ") + o.value("reason").toString());
    const QString detail = o.value("detail").toString();
    return QStringLiteral("%1\t%2\t%3\t%4%5")
        .arg(station, o.value("slot").toString(), o.value("stage").toString(),
             o.value("imei").toString().isEmpty() ? QStringLiteral("-") : o.value("imei").toString(),
             detail.isEmpty() ? QString() : QStringLiteral("\t") + detail);
}

int Status(const QStringList &args) {
    const bool watch = args.contains(QStringLiteral("--watch"));
    TOffice office;
    QString error;
    if (!office.Connect(false, error)) {
        PrintError(error);
        return ExitBroker;
    }
    office.Link().Subscribe(QStringLiteral("veltra/station/#"));
    office.Drain(500);
    QMap<QString, QString> lines; // by topic: the last state of each
    for (const auto &[topic, payload] : office.messages)
        if (!payload.isEmpty())
            lines.insert(topic, StatusLine(topic, payload));
    for (const QString &line : lines)
        Print(line + u'\n');
    if (!watch)
        return ExitOk;
    office.onMessage = [](const QString &topic, const QByteArray &payload) {
        if (!payload.isEmpty())
            Print(StatusLine(topic, payload) + u'\n');
    };
    TInterruptWatch interrupt(true);
    while (!interrupt.Take())
        ServeUntil([] { return false; }, 200);
    return ExitOk;
}

int Results(QStringList args) {
    const auto option = [&](const char *name) {
        const qsizetype at = args.indexOf(QLatin1String(name));
        return at >= 0 ? args.value(at + 1) : QString();
    };
    const QString since = option("--since"), job = option("--job");
    const bool csv = args.contains(QStringLiteral("--csv")), json = args.contains(QStringLiteral("--json"));
    TStationAudit store;
    QString error;
    if (!store.Open(StoreFile(), error)) {
        PrintError(error);
        return ExitBadFile;
    }
    TStoreLock lock(StoreFile());
    if (!lock.Take()) {
        PrintError(QStringLiteral("Another veltra_fleet collects into %1 (results --watch?): its records are there")
                       .arg(StoreFile()));
        return ExitBadFile;
    }
    TOffice office;
    if (!office.Connect(true, error)) {
        PrintError(error);
        return ExitBroker;
    }
    const bool watch = args.contains(QStringLiteral("--watch"));
    const int added = CollectRecords(office, store);
    QList<TAuditRecord> shown;
    for (const TAuditRecord &r : store.Records())
        if ((since.isEmpty() || r.time >= since) && (job.isEmpty() || r.job == job))
            shown << r;
    if (csv) {
        Print(TStationAudit::CsvReport(shown));
    } else if (json) {
        QJsonArray rows;
        for (const TAuditRecord &r : shown)
            rows.append(r.ToJson());
        Print(QString::fromUtf8(QJsonDocument(rows).toJson(QJsonDocument::Indented)));
    } else {
        for (const TAuditRecord &r : shown)
            Print(RecordLine(r));
        PrintError(QStringLiteral("%1 records shown, %2 new; store %3").arg(shown.size()).arg(added).arg(store.FileName()));
    }
    if (!watch)
        return StoreFailed ? ExitBadFile : ExitOk;
    // Then each record as it arrives, stored first.
    CollectRecords(office, store, [&](const TAuditRecord &r) {
        if ((since.isEmpty() || r.time >= since) && (job.isEmpty() || r.job == job))
            Print(RecordLine(r));
    });
    TInterruptWatch interrupt(true);
    while (!interrupt.Take())
        ServeUntil([] { return false; }, 200);
    return StoreFailed ? ExitBadFile : ExitOk;
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    QStringList settings{app.arguments().value(0)};
    QStringList rest = app.arguments().mid(1);
    while (!rest.isEmpty() && rest.first().contains(u'='))
        settings << rest.takeFirst();
    const QString command = rest.isEmpty() ? QString() : rest.takeFirst();
    if (command == u"--version") {
        Print(VersionLine(QCoreApplication::applicationFilePath()) + u'\n');
        return ExitOk;
    }
    if (command.isEmpty() || command == u"help" || command == u"--help") {
        std::fputs(Usage, command.isEmpty() ? stderr : stdout);
        return command.isEmpty() ? ExitUsage : ExitOk;
    }
    // The process list shows the command line to everyone on the machine.
    for (const QString &setting : settings)
        if (setting.startsWith(QStringLiteral("broker_pass="))) {
            PrintError(QStringLiteral("broker_pass= is not taken from the command line (every user can read it in "
                                      "the process list): put it in veltra_fleet.conf or give broker_pass_file=FILE"));
            return ExitUsage;
        }
    settings = WithAbsolutePaths(settings, {"store=", "params=", "broker_ca=", "broker_cert=", "broker_key=",
                                            "broker_pass_file="});
    if ((command == u"publish" || command == u"withdraw") && !rest.isEmpty())
        rest[0] = command == u"publish" ? QFileInfo(rest[0]).absoluteFilePath() : rest[0];
    try {
        StartUp(settings);
    } catch (const std::exception &e) {
        PrintError(QStringLiteral("veltra_fleet: ") + QString::fromUtf8(e.what()));
        return ExitUsage;
    }
    if (AppSettings->GetVal(QStringLiteral("broker")).isEmpty()) {
        PrintError(QStringLiteral("No broker: give broker=mqtts://HOST[:PORT]"));
        return ExitUsage;
    }
    if (command == u"publish" && !rest.isEmpty())
        return Publish(rest);
    if (command == u"withdraw")
        return Withdraw(rest);
    if (command == u"status")
        return Status(rest);
    if (command == u"results")
        return Results(rest);
    std::fputs(Usage, stderr);
    return ExitUsage;
}
