// Stations and the office through a real Mosquitto broker on 127.0.0.1, with TLS from a CA and
// certificates made here with openssl, passwords and the access list the package ships: a job
// published to a group reaches two stations (one of them started later), their trackers are
// configured and every record arrives at the office once, also across a broker stopped and started
// again mid-order; a wrong password, a wrong CA, a tampered job and a station using another's name
// are refused with a reason.
#include "app/app_test_util.h"
#include "devsim_process.h"
#include "fleet/broker_fixture.h"
#include "tools/run_program.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const QString DataDir = QStringLiteral(VELTRA_DATA_DIR);

// A station (veltra_cli station with a broker) with its own simulated trackers.
class TStation {
public:
    TStation(const QString &folder, const QString &name, const QStringList &brokerSettings,
             const QList<QStringList> &trackers, const QString &group = QStringLiteral("workshop-a")) {
        QDir().mkpath(folder);
        QStringList settings = brokerSettings;
        QStringList ports;
        for (qsizetype i = 0; i < trackers.size(); ++i) {
            sims.push_back(std::make_unique<TDevSimProcess>(trackers[i]));
            settings << QStringLiteral("com%1=%2").arg(i + 1).arg(sims.back()->SlavePath());
            ports << QString::number(i + 1);
        }
        settings << "com_ports=" + ports.join(u',') << "station=" + name << "station_group=" + group
                 << "params=" + DataDir + "/veltra_params.conf" << "log_dir=" + folder + "/logs"
                 << "audit=" + folder + "/audit.jsonl" << "station" << "--json";
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", folder);
        env.insert("XDG_CONFIG_HOME", folder + "/config");
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(QStringLiteral(VELTRA_CLI_PATH), settings);
        process.waitForStarted(5000);
    }
    ~TStation() {
        process.terminate();
        if (!process.waitForFinished(10000))
            process.kill();
    }
    QString Output() {
        out += process.readAll();
        return QString::fromUtf8(out);
    }
    bool Says(const QString &text, int ms = 20000) {
        return WaitUntil([&] { return Output().contains(text); }, ms);
    }
    std::vector<std::unique_ptr<TDevSimProcess>> sims;
    QProcess process;
    QByteArray out;
};

QStringList Tracker(const QString &folder, const QString &imei, const QStringList &more = {}) {
    const QString file = QDir(folder).filePath(imei + ".cfg");
    QFile::copy(DataDir + "/devsim_default.cfg", file);
    QFile(file).setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    return QStringList{"--config", file, "--persist", "--ident", "VT-300 HW:12 SW:345 IMEI:" + imei} + more;
}

class Fleet : public ::testing::Test {
protected:
    QTemporaryDir dir;
    std::unique_ptr<TBroker> broker;

    void SetUp() override {
        for (const char *program : {"mosquitto", "mosquitto_passwd", "openssl"})
            if (QStandardPaths::findExecutable(QString::fromLatin1(program)).isEmpty() &&
                !QFileInfo::exists(QStringLiteral("/usr/sbin/") + program))
                GTEST_SKIP() << program << " is not installed (scripts/setup installs it)";
        QDir().mkpath(dir.filePath("broker"));
        broker = std::make_unique<TBroker>(dir.filePath("broker"));
        ASSERT_TRUE(broker->ready);
        ASSERT_TRUE(broker->Start()) << broker->Log().toStdString();
        // The order: the sample configuration for every tracker, each tracker's label from the table.
        Write("job/order.cfg", "SRV_ADDR=198.51.100.7\nSRV_PORT=9000\n");
        Write("job/table.csv", "IMEI;DEV_LABEL\n356938035643801;bus 1\n356938035643802;bus 2\n"
                               "356938035643803;bus 3\n356938035643804;bus 4\n");
        Write("job/order.job", "name=Order-42\nconfig=order.cfg\ntable=table.csv\n");
    }
    void Write(const QString &name, const QByteArray &text) {
        QDir().mkpath(QFileInfo(dir.filePath(name)).absolutePath());
        QFile file(dir.filePath(name));
        file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        file.write(text);
    }
    TProgramRun Office(const QStringList &words, const QString &ca = QStringLiteral("ca.crt")) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", dir.filePath("office"));
        env.insert("XDG_CONFIG_HOME", dir.filePath("office/config"));
        return RunProgram(QStringLiteral(VELTRA_FLEET_PATH),
                          broker->As("office", ca) + QStringList{"log_dir=" + dir.filePath("office/logs"),
                                                                  "store=" + dir.filePath("office/records.jsonl"),
                                                                  "params=" + DataDir + "/veltra_params.conf",
                                                                  "fleet_timeout=5"} +
                              words,
                          env, 60000);
    }
    QJsonArray Results() {
        const TProgramRun run = Office({"results", "--json"});
        EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
        return QJsonDocument::fromJson(run.out.toUtf8()).array();
    }
    static QStringList Imeis(const QJsonArray &records) {
        QStringList imeis;
        for (const QJsonValue &r : records)
            imeis << r.toObject().value("imei").toString();
        imeis.sort();
        return imeis;
    }
};

} // namespace

// The office publishes to the group before either station is up; both take the job when they come
// (bench-2 logs in with a client certificate instead of a password), configure their trackers, and the office's results list every tracker once, again after a second
// collection. The status shows both stations.
TEST_F(Fleet, AJobForAGroupReachesTwoStationsAndEveryRecordArrivesOnce) {
    const TProgramRun published = Office({"publish", dir.filePath("job/order.job"), "--group", "workshop-a"});
    ASSERT_EQ(published.exitCode, 0) << published.err.toStdString();
    EXPECT_TRUE(published.out.contains("Published job Order-42")) << published.out.toStdString();

    TStation one(dir.filePath("s1"), "bench-1", broker->As("bench-1"),
                 {Tracker(dir.path(), "356938035643801"), Tracker(dir.path(), "356938035643802")});
    ASSERT_TRUE(one.Says("\"result\":\"done\"")) << one.Output().toStdString();
    TStation two(dir.filePath("s2"), "bench-2", broker->WithCertificate("bench-2"),
                 {Tracker(dir.path(), "356938035643803"), Tracker(dir.path(), "356938035643804")});
    ASSERT_TRUE(WaitUntil([&] { return one.Output().count("\"event\":\"record\"") == 2 &&
                                       two.Output().count("\"event\":\"record\"") == 2; },
                          30000))
        << one.Output().toStdString() << two.Output().toStdString();

    QJsonArray records;
    ASSERT_TRUE(WaitUntil([&] { return (records = Results()).size() >= 4; }, 20000)) << records.size();
    EXPECT_EQ(Imeis(records),
              (QStringList{"356938035643801", "356938035643802", "356938035643803", "356938035643804"}));
    for (const QJsonValue &r : records) {
        EXPECT_EQ(r.toObject().value("result").toString(), "done");
        EXPECT_EQ(r.toObject().value("job").toString(), "Order-42");
    }
    EXPECT_EQ(Results().size(), 4); // collected again: nothing twice
    const TProgramRun csv = Office({"results", "--csv", "--job", "Order-42", "--since", "2000-01-01T00:00:00"});
    EXPECT_EQ(csv.out.count("\r\n"), 5) << csv.out.toStdString(); // the header and four trackers
    EXPECT_EQ(Office({"results", "--json", "--since", "2999-01-01T00:00:00"}).out.trimmed(), "[\n]");
    EXPECT_EQ(Office({"results", "--json", "--job", "another"}).out.trimmed(), "[\n]");

    const TProgramRun status = Office({"status"});
    EXPECT_TRUE(status.out.contains("bench-1\tonline")) << status.out.toStdString();
    EXPECT_TRUE(status.out.contains("bench-2\tonline")) << status.out.toStdString();
    EXPECT_TRUE(status.out.contains("bench-2\tjob Order-42 received")) << status.out.toStdString();

    // No password in any log or banner of the stations or the office.
    one.process.terminate();
    two.process.terminate();
    one.process.waitForFinished(10000);
    two.process.waitForFinished(10000);
    QDirIterator files(dir.path(), QDir::Files, QDirIterator::Subdirectories);
    int logs = 0;
    while (files.hasNext()) {
        const QString file = files.next();
        if (!file.endsWith(".log"))
            continue;
        ++logs;
        QFile log(file);
        log.open(QIODevice::ReadOnly);
        const QByteArray text = log.readAll();
        for (const auto &[user, password] : TBroker::Users)
            EXPECT_FALSE(text.contains(password)) << file.toStdString();
    }
    EXPECT_GE(logs, 6);
}

// The broker goes away while a station works a slow tracker and comes back later: the records made
// meanwhile wait in the station's audit and reach the office once.
TEST_F(Fleet, BrokerStoppedMidOrderAndStartedAgainLosesAndDoublesNothing) {
    ASSERT_EQ(Office({"publish", dir.filePath("job/order.job"), "--station", "bench-1"}).exitCode, 0);
    // The office watches the records come in, across the broker's absence.
    QProcess watch;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", dir.filePath("office"));
    watch.setProcessEnvironment(env);
    watch.start(QStringLiteral(VELTRA_FLEET_PATH),
                broker->As("office") + QStringList{"log_dir=" + dir.filePath("office/logs"),
                                                   "store=" + dir.filePath("office/records.jsonl"), "results", "--watch"});
    ASSERT_TRUE(watch.waitForStarted(5000));
    TStation one(dir.filePath("s1"), "bench-1", broker->As("bench-1"),
                 {Tracker(dir.path(), "356938035643801"), Tracker(dir.path(), "356938035643802", {"--delay", "400"})});
    ASSERT_TRUE(one.Says("\"slot\":\"COM2\",\"stage\":\"writing\"")) << one.Output().toStdString();
    broker->Stop();
    ASSERT_TRUE(WaitUntil([&] { return one.Output().count("\"event\":\"record\"") == 2; }, 30000))
        << one.Output().toStdString();
    ASSERT_TRUE(broker->Start());
    // One collector at a time.
    const TProgramRun second = Office({"results"});
    EXPECT_EQ(second.exitCode, 5);
    EXPECT_TRUE(second.err.contains("Another veltra_fleet collects")) << second.err.toStdString();
    QString watched;
    EXPECT_TRUE(WaitUntil([&] {
        watched += QString::fromUtf8(watch.readAllStandardOutput());
        return watched.contains("356938035643801") && watched.contains("356938035643802");
    }, 40000)) << watched.toStdString();
    ServeFor(2000);
    watched += QString::fromUtf8(watch.readAllStandardOutput());
    EXPECT_EQ(watched.count("356938035643801"), 1) << watched.toStdString();
    EXPECT_EQ(watched.count("356938035643802"), 1) << watched.toStdString();
    watch.terminate();
    EXPECT_TRUE(watch.waitForFinished(10000));
    EXPECT_EQ(watch.exitCode(), 0);
    const QJsonArray records = Results();
    EXPECT_EQ(Imeis(records), (QStringList{"356938035643801", "356938035643802"}));
}

// What is refused, and says why: a wrong password, a broker certificate from another authority, a
// job whose content does not match its hash, and a station calling itself by another's name.
TEST_F(Fleet, WrongPasswordWrongCaTamperedJobAndAnotherStationsNameAreRefused) {
    Write("broker/office.pw", "not-the-password\n");
    const TProgramRun wrongPassword = Office({"status"});
    EXPECT_EQ(wrongPassword.exitCode, 2);
    EXPECT_TRUE(wrongPassword.err.contains("user name or password") || wrongPassword.err.contains("not authorised"))
        << wrongPassword.err.toStdString();
    Write("broker/office.pw", "office-secret\n");

    const TProgramRun wrongCa = Office({"status"}, "other-ca.crt");
    EXPECT_EQ(wrongCa.exitCode, 2);
    EXPECT_TRUE(wrongCa.err.contains("certificate")) << wrongCa.err.toStdString();

    const TProgramRun plain = RunProgram(QStringLiteral(VELTRA_FLEET_PATH),
                                         {"broker=mqtt://127.0.0.1:1", "broker_pass=secret", "status"});
    EXPECT_EQ(plain.exitCode, 1);
    EXPECT_TRUE(plain.err.contains("process list")) << plain.err.toStdString();

    // A job changed after it was packed: published by hand with the office's rights.
    ASSERT_EQ(Office({"publish", dir.filePath("job/order.job"), "--station", "bench-1"}).exitCode, 0);
    TStation one(dir.filePath("s1"), "bench-1", broker->As("bench-1"), {Tracker(dir.path(), "356938035643801")});
    ASSERT_TRUE(one.Says("Job Order-42 received")) << one.Output().toStdString();
    QByteArray tampered = QJsonDocument(QJsonObject{{"format", 1}, {"name", "Order-43"}, {"job", "order.job"},
                                                    {"sha256", QString(64, u'0')},
                                                    {"files", QJsonObject{{"order.job", QString::fromLatin1(
                                                                               QByteArray("name=Order-43\nconfig=order.cfg\n").toBase64())},
                                                                          {"order.cfg", QString::fromLatin1(
                                                                               QByteArray("SRV_PORT=1\n").toBase64())}}}})
                              .toJson(QJsonDocument::Compact);
    Write("tampered.json", tampered);
    const TProgramRun pub = RunProgram("mosquitto_pub", {"-h", "127.0.0.1", "-p", broker->Url().section(u':', -1), "--cafile",
                                                         broker->File("ca.crt"), "-u", "office", "-P", "office-secret",
                                                         "-t", "veltra/jobs/station/bench-1/Order-43", "-q", "1", "-r",
                                                         "-f", dir.filePath("tampered.json")});
    ASSERT_EQ(pub.exitCode, 0) << pub.err.toStdString();
    EXPECT_TRUE(one.Says("Job Order-43 refused: the job's content does not match its SHA-256")) << one.Output().toStdString();
    EXPECT_TRUE(WaitUntil([&] { return Office({"status"}).out.contains("bench-1\tjob Order-43 refused"); }, 10000));
    // The order withdrawn: the station stops its slots.
    const TProgramRun withdrawn = Office({"withdraw", "Order-42", "--station", "bench-1"});
    EXPECT_EQ(withdrawn.exitCode, 0) << withdrawn.err.toStdString();
    EXPECT_TRUE(one.Says("Job Order-42 withdrawn: the slots stop")) << one.Output().toStdString();

    // bench-2 sends, on its own topic, a record in bench-1's name: the office does not take it.
    Write("forged.json", QJsonDocument(QJsonObject{{"id", "bench-1/2026-01-01T00:00:00.000Z/COM1"},
                                                   {"station", "bench-1"}, {"imei", "356938035649999"},
                                                   {"result", "done"}, {"job_sha256", QString(64, u'0')}})
                             .toJson(QJsonDocument::Compact));
    ASSERT_EQ(RunProgram("mosquitto_pub", {"-h", "127.0.0.1", "-p", broker->Url().section(u':', -1), "--cafile",
                                           broker->File("ca.crt"), "-u", "bench-2", "-P", "bench-2-secret", "-t",
                                           "veltra/records/bench-2", "-q", "1", "-f", dir.filePath("forged.json")})
                  .exitCode,
              0);
    const TProgramRun collected = Office({"results", "--json"});
    EXPECT_FALSE(collected.out.contains("356938035649999")) << collected.out.toStdString();
    EXPECT_TRUE(collected.err.contains("names station bench-1 was not taken")) << collected.err.toStdString();

    // bench-2's password, but calling itself bench-1: the access list refuses it bench-1's jobs.
    TStation impostor(dir.filePath("s2"), "bench-1", broker->As("bench-2"), {Tracker(dir.path(), "356938035643802")});
    EXPECT_TRUE(impostor.Says("the access list refuses this station's name: user bench-2 may not speak as station bench-1"))
        << impostor.Output().toStdString();
    EXPECT_FALSE(impostor.Output().contains("Job Order-42 received"));
}
