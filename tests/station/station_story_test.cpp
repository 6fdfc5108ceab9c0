// The provisioning station as whole stories against simulators with their own IMEIs, each on a bench
// socket of its own: trackers done, skipped on the next run, refusing a key, keeping a value that
// was never stored, locked with the right or a wrong password, pulled out mid-write and plugged back,
// replaced by another tracker, given a firmware or not, and a station killed and started again. The
// audit is read back from its file every time.
#include "provisioning_station.h"

#include "LuFiles.h"
#include "app/app_test_util.h"
#include "common.h"
#include "devsim_process.h"
#include "station/bench_socket.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>
#include <unistd.h>

namespace {

const QString DataDir = QStringLiteral(VELTRA_DATA_DIR);

QString Ident(const QString &imei, int sw = 345) {
    return QStringLiteral("VT-300 HW:12 SW:%1 IMEI:%2").arg(sw).arg(imei);
}

// What a front end sees: every slot's stages and every record, in order.
class TWatch : public TStationObserver {
public:
    QList<TAuditRecord> records;
    QHash<QString, QStringList> stages; // by slot

    void SlotChanged(const TSlotState &s) override {
        QStringList &list = stages[s.name];
        if (list.isEmpty() || list.last() != StageName(s.stage))
            list << StageName(s.stage);
    }
    void Recorded(const TAuditRecord &r) override { records << r; }

    const TAuditRecord *Of(const QString &imei, int nth = 0) const {
        for (const TAuditRecord &r : records)
            if (r.imei == imei && nth-- == 0)
                return &r;
        return nullptr;
    }
    const TAuditRecord *OfSlot(const QString &slot) const {
        for (const TAuditRecord &r : records)
            if (r.slot == slot)
                return &r;
        return nullptr;
    }
    ::testing::AssertionResult WaitRecords(int count, int ms = 30000) const {
        if (WaitUntil([&] { return records.size() >= count; }, ms))
            return ::testing::AssertionSuccess();
        auto failure = ::testing::AssertionFailure() << records.size() << " records;";
        for (auto it = stages.begin(); it != stages.end(); ++it)
            failure << ' ' << it.key().toStdString() << ": " << it.value().join(", ").toStdString() << ';';
        return failure;
    }
};

class Station : public ::testing::Test {
protected:
    QTemporaryDir dir;
    TLuHash description;
    std::vector<std::unique_ptr<TSocket>> sockets;

    void SetUp() override {
        if (!AppSettings)
            AppSettings = new TLuHash();
        AppSettings->Clear();
        LogLevel = 6;
        AppMessage = RegisterMessageName(QStringLiteral("station-test"));
        ProgressMessage = RegisterMessageName(QStringLiteral("Veltra Progress Message"));
        AppDataDir = dir.filePath(QStringLiteral("appdata/"));
        MainLogFile = dir.filePath(QStringLiteral("main.log"));
        CmdLogFile = dir.filePath(QStringLiteral("cmd.log"));
        DbgLogFile = ComLogFile = QString();
        AppSettings->SetVal(QStringLiteral("log_dir"), dir.filePath(QStringLiteral("logs")));
        AppSettings->SetVal(QStringLiteral("audit"), dir.filePath(QStringLiteral("audit.jsonl")));
        AppSettings->SetVal(QStringLiteral("station"), QStringLiteral("bench-1"));
        description.Load(DataDir + QStringLiteral("/veltra_params.conf"), true);
    }

    // Sockets 1..count as com1..comN, all mapped before any engine starts.
    void Bench(int count) {
        QStringList ports;
        for (int i = 1; i <= count; ++i) {
            const QString path = dir.filePath(QStringLiteral("socket%1").arg(i));
            sockets.push_back(std::make_unique<TSocket>(path));
            AppSettings->SetVal(QStringLiteral("com%1").arg(i), path);
            ports << QString::number(i);
        }
        AppSettings->SetVal(QStringLiteral("com_ports"), ports.join(u','));
    }
    TSocket &Socket(int n) { return *sockets[size_t(n - 1)]; }

    // A tracker's own configuration, kept across its hang-ups (the simulator's --persist).
    QString Tracker(const QString &name) {
        const QString file = dir.filePath(name + QStringLiteral(".cfg"));
        QFile::remove(file);
        EXPECT_TRUE(QFile::copy(DataDir + QStringLiteral("/devsim_default.cfg"), file));
        QFile(file).setPermissions(QFile::ReadOwner | QFile::WriteOwner);
        return file;
    }
    static QString ValueIn(const QString &configFile, const QString &key) {
        TLuHash values;
        values.Load(configFile, true);
        return values.GetVal(key);
    }

    QString Write(const QString &name, const QString &text) {
        const QString file = dir.filePath(name);
        QFile f(file);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(text.toUtf8());
        return file;
    }
    QString Job(const QString &extra = QString()) {
        Write("order.cfg", "SRV_ADDR=198.51.100.7\nSRV_PORT=9000\nSRV_HOST=fleet.example.org\nAPN_NAME=m2m.customer\n");
        Write("table.csv", "IMEI;DEV_LABEL;APN_PASS\n"
                           "356938035643801;bus 1;pw1\n356938035643802;bus 2;pw2\n356938035643803;bus 3;pw3\n"
                           "356938035643804;bus 4;pw4\n");
        return Write("order.job", "name=Order 42\nconfig=order.cfg\ntable=table.csv\n" + extra);
    }

    QList<TAuditRecord> AuditOnDisk() const {
        QList<TAuditRecord> records;
        QFile file(dir.filePath(QStringLiteral("audit.jsonl")));
        if (!file.open(QIODevice::ReadOnly))
            return records;
        for (const QByteArray &line : file.readAll().split('\n')) {
            TAuditRecord r;
            if (!line.isEmpty() && TAuditRecord::FromJson(QJsonDocument::fromJson(line).object(), r))
                records << r;
        }
        return records;
    }
};

QStringList Keys(const QList<std::pair<QString, QString>> &entries) {
    QStringList keys;
    for (const auto &entry : entries)
        keys << entry.first;
    return keys;
}

} // namespace

// Five trackers at once: one done, one refusing a key, one that confirms a value it does not keep, one
// the table does not name and one locked by a password the job does not have. The next run skips the
// done one and tries the others again.
TEST_F(Station, DoneRefusedMismatchedNotInTheTableAndLockedThenSkippedOnTheNextRun) {
    Bench(5);
    const QString good = Tracker("good");
    {
        TLuHash values;
        values.Load(good, true);
        values.SetVal(QStringLiteral("SRV_PORT"), QStringLiteral("9000")); // already right: not written
        values.Save(good, QStringLiteral("="));
    }
    Socket(1).Plug({"--config", good, "--persist", "--ident", Ident("356938035643801")});
    Socket(2).Plug({"--config", Tracker("stubborn"), "--ident", Ident("356938035643802"), "--reject", "APN_NAME"});
    Socket(3).Plug({"--config", Tracker("forgetful"), "--ident", Ident("356938035643803"), "--forget", "DEV_LABEL"});
    Socket(4).Plug({"--config", Tracker("stranger"), "--ident", Ident("356938035649999")});
    Socket(5).Plug({"--config", Tracker("locked"), "--ident", Ident("356938035643804"), "--password", "x"});
    const QString job = Job();
    {
        TWatch watch;
        TProvisioningStation station(watch);
        QStringList problems;
        ASSERT_TRUE(station.Start(job, description, problems)) << problems.join('\n').toStdString();
        ASSERT_TRUE(watch.WaitRecords(5));

        const TAuditRecord *done = watch.Of("356938035643801");
        ASSERT_TRUE(done);
        EXPECT_EQ(done->result, "done");
        EXPECT_EQ(Keys(done->written), (QStringList{"SRV_ADDR", "SRV_HOST", "APN_NAME", "DEV_LABEL", "APN_PASS"}));
        EXPECT_EQ(ValueIn(good, "DEV_LABEL"), "bus 1");
        EXPECT_EQ(watch.stages["COM1"], (QStringList{"identifying", "backup", "writing", "verifying", "done"}));

        const TAuditRecord *refused = watch.Of("356938035643802");
        ASSERT_TRUE(refused);
        EXPECT_EQ(refused->result, "refused");
        EXPECT_EQ(refused->keys, QStringList{"APN_NAME"});
        const TAuditRecord *mismatched = watch.Of("356938035643803");
        ASSERT_TRUE(mismatched);
        EXPECT_EQ(mismatched->result, "mismatched");
        EXPECT_EQ(mismatched->keys, QStringList{"DEV_LABEL"});
        const TAuditRecord *stranger = watch.Of("356938035649999");
        ASSERT_TRUE(stranger);
        EXPECT_EQ(stranger->result, "failed");
        EXPECT_TRUE(stranger->reason.contains("356938035649999")) << stranger->reason.toStdString();
        EXPECT_TRUE(stranger->written.isEmpty());
        const TAuditRecord *locked = watch.OfSlot("COM5");
        ASSERT_TRUE(locked);
        EXPECT_EQ(locked->result, "failed");
        EXPECT_EQ(locked->reason, "the tracker asks for a password and the job has none");
        EXPECT_EQ(locked->imei, ""); // a locked tracker does not say who it is

        const TStationSummary summary = station.Summary();
        EXPECT_EQ(summary.done, 1);
        EXPECT_EQ(summary.failed, 4);
        EXPECT_EQ(summary.inProgress, 0);
        // The tracker was backed up before the write, under its IMEI.
        EXPECT_EQ(QDir(AppDataDir + "backups/356938035643801").entryList({"*.cfg"}, QDir::Files).size(), 1);
        EXPECT_TRUE(QFile::exists(dir.filePath("logs/slots/COM1/main.log")));
        EXPECT_TRUE(ReadTextFile(dir.filePath("logs/slots/COM2/cmd.log"), 0).contains("APN_NAME"));
        EXPECT_FALSE(ReadTextFile(dir.filePath("logs/slots/COM1/cmd.log"), 0).contains("356938035643802"));
    }

    // The audit as it is on the disk, and its report.
    QList<TAuditRecord> disk = AuditOnDisk();
    ASSERT_EQ(disk.size(), 5);
    for (const TAuditRecord &r : disk) {
        EXPECT_EQ(r.station, "bench-1");
        EXPECT_EQ(r.job, "Order 42");
        EXPECT_EQ(r.jobSha256.size(), 64);
        EXPECT_EQ(r.swBefore, r.slot == "COM5" ? 0 : 345);
        EXPECT_FALSE(r.time.isEmpty());
    }
    const QString report = ReadTextFile(dir.filePath("audit.csv"), 0);
    EXPECT_EQ(report.count("\r\n"), 6) << report.toStdString();
    EXPECT_TRUE(report.contains(";356938035643803;VT-300;") && report.contains(";mismatched;"));

    // The next run: the done tracker is skipped and gets no record; the others are tried again.
    TWatch watch;
    TProvisioningStation station(watch);
    QStringList problems;
    ASSERT_TRUE(station.Start(job, description, problems));
    ASSERT_TRUE(watch.WaitRecords(4));
    ASSERT_TRUE(WaitUntil([&] { return watch.stages["COM1"].contains("skipped"); }, 10000));
    EXPECT_EQ(watch.Of("356938035643801"), nullptr);
    EXPECT_EQ(station.Summary().skipped, 1);
    EXPECT_EQ(AuditOnDisk().size(), 9);
}

// A locked tracker opened with the job's password, another whose password the job does not know, and
// on the third socket a tracker pulled out mid-write, plugged back (it gets the rest) and replaced by
// another tracker, which gets its own job.
TEST_F(Station, PasswordsAndATrackerPulledOutMidWriteThenPluggedBackThenAnother) {
    Bench(3);
    const QString locked = Tracker("locked");
    const QString pulled = Tracker("pulled");
    Socket(1).Plug({"--config", locked, "--persist", "--ident", Ident("356938035643801"), "--password", "s3cret"});
    Socket(2).Plug({"--config", Tracker("other"), "--ident", Ident("356938035643802"), "--password", "another"});
    // R_INFO, R_CFG and two writes are answered; the third write finds the line gone.
    Socket(3).Plug({"--config", pulled, "--persist", "--ident", Ident("356938035643803"), "--fault", "hangup",
                    "--fault-after", "4"});
    TWatch watch;
    TProvisioningStation station(watch);
    QStringList problems;
    ASSERT_TRUE(station.Start(Job("password=s3cret\n"), description, problems));
    ASSERT_TRUE(watch.WaitRecords(3));

    EXPECT_EQ(watch.Of("356938035643801")->result, "done");
    EXPECT_EQ(ValueIn(locked, "SRV_ADDR"), "198.51.100.7");
    const TAuditRecord *wrong = watch.OfSlot("COM2");
    ASSERT_TRUE(wrong);
    EXPECT_EQ(wrong->result, "failed");
    EXPECT_TRUE(wrong->reason.contains("password")) << wrong->reason.toStdString();
    EXPECT_FALSE(ReadTextFile(dir.filePath("logs/slots/COM1/cmd.log"), 0).contains("s3cret"));

    const TAuditRecord *cut = watch.Of("356938035643803");
    ASSERT_TRUE(cut);
    EXPECT_EQ(cut->result, "interrupted");
    EXPECT_EQ(Keys(cut->written), (QStringList{"SRV_ADDR", "SRV_PORT"}));
    ASSERT_TRUE(WaitUntil([&] { return station.Slots()[2]->State().stage == TSlotStage::Waiting; }, 10000));

    // Plugged back: only what it still lacks is written.
    Socket(3).Unplug();
    Socket(3).Plug({"--config", pulled, "--persist", "--ident", Ident("356938035643803")});
    ASSERT_TRUE(watch.WaitRecords(4, 20000));
    const TAuditRecord *rest = watch.Of("356938035643803", 1);
    ASSERT_TRUE(rest);
    EXPECT_EQ(rest->result, "done");
    EXPECT_EQ(Keys(rest->written), (QStringList{"SRV_HOST", "APN_NAME", "DEV_LABEL", "APN_PASS"}));

    // Another tracker in the same socket starts its own job by itself.
    Socket(3).Unplug();
    const QString next = Tracker("next");
    Socket(3).Plug({"--config", next, "--persist", "--ident", Ident("356938035643804")});
    ASSERT_TRUE(watch.WaitRecords(5, 20000));
    EXPECT_EQ(watch.Of("356938035643804")->result, "done");
    EXPECT_EQ(ValueIn(next, "DEV_LABEL"), "bus 4");
    EXPECT_EQ(AuditOnDisk().size(), 5);
}

// A job with a firmware image: a tracker with another version gets it and then its values; one that
// has the version already only its values; one whose loader breaks off is failed and left untouched.
TEST_F(Station, FirmwareWhenNeededAndAFailedUploadLeavesTheConfigurationAlone) {
    Bench(3);
    QByteArray image(3000, 'x');
    Write("fw346.bin", QString::fromLatin1(image));
    const QString updated = dir.filePath("updated.bin");
    const QString old = Tracker("old");
    const QString broken = Tracker("broken");
    Socket(1).Plug({"--config", old, "--persist", "--ident", Ident("356938035643801"), "--ident-after-update",
                    Ident("356938035643801", 346), "--firmware-out", updated});
    Socket(2).Plug({"--config", Tracker("current"), "--ident", Ident("356938035643802", 346)});
    Socket(3).Plug({"--config", broken, "--persist", "--ident", Ident("356938035643803"), "--loader-fault", "cancel"});
    TWatch watch;
    TProvisioningStation station(watch);
    QStringList problems;
    ASSERT_TRUE(station.Start(Job("firmware=fw346.bin\nfirmware_version=346\n"), description, problems))
        << problems.join('\n').toStdString();
    ASSERT_TRUE(watch.WaitRecords(3, 60000)) << watch.records.size();

    const TAuditRecord *fresh = watch.Of("356938035643801");
    ASSERT_TRUE(fresh);
    EXPECT_EQ(fresh->result, "done") << fresh->reason.toStdString();
    EXPECT_EQ(fresh->swBefore, 345);
    EXPECT_EQ(fresh->swAfter, 346);
    EXPECT_GT(fresh->firmwareMs, 0);
    EXPECT_EQ(QFile(updated).size(), 3072); // the image, padded to whole blocks
    EXPECT_EQ(ValueIn(old, "SRV_ADDR"), "198.51.100.7");
    EXPECT_TRUE(watch.stages["COM1"].contains("firmware"));

    const TAuditRecord *current = watch.Of("356938035643802");
    ASSERT_TRUE(current);
    EXPECT_EQ(current->result, "done");
    EXPECT_EQ(current->firmwareMs, 0);
    EXPECT_FALSE(watch.stages["COM2"].contains("firmware"));

    const TAuditRecord *failed = watch.Of("356938035643803");
    ASSERT_TRUE(failed);
    EXPECT_EQ(failed->result, "failed");
    EXPECT_TRUE(failed->reason.startsWith("firmware")) << failed->reason.toStdString();
    EXPECT_TRUE(failed->written.isEmpty());
    EXPECT_EQ(ValueIn(broken, "SRV_ADDR"), "203.0.113.25");
    // The tracker that failed comes back from its loader: the slot does not start over on it.
    ServeFor(6000);
    EXPECT_EQ(watch.records.size(), 3);
    EXPECT_EQ(station.Slots()[2]->State().stage, TSlotStage::Failed);
}

// veltra_cli station killed with SIGKILL in the middle of a slow tracker's write, then started again:
// the record already reported is on the disk, the interrupted tracker is redone, the done one skipped.
TEST_F(Station, KilledMidJobAndStartedAgain) {
    Bench(2);
    const QString slow = Tracker("slow");
    Socket(1).Plug({"--config", Tracker("fast"), "--ident", Ident("356938035643801")});
    Socket(2).Plug({"--config", slow, "--persist", "--ident", Ident("356938035643802"), "--delay", "300"});
    const QString job = Job();
    const QStringList words{"com_ports=1,2",
                            "com1=" + dir.filePath("socket1"),
                            "com2=" + dir.filePath("socket2"),
                            "log_dir=" + dir.filePath("cli-logs"),
                            "params=" + DataDir + "/veltra_params.conf",
                            "audit=" + dir.filePath("audit.jsonl"),
                            "station=bench-1",
                            "station",
                            job,
                            "--json"};
    QProcess cli;
    cli.setProgram(QStringLiteral(VELTRA_CLI_PATH));
    cli.setArguments(words);
    cli.start();
    ASSERT_TRUE(cli.waitForStarted(5000));
    QByteArray out;
    // The fast tracker's record is out and the slow one is writing.
    ASSERT_TRUE(WaitUntil(
        [&] {
            cli.waitForReadyRead(50);
            out += cli.readAllStandardOutput();
            return out.contains("\"event\":\"record\"") && out.contains("\"slot\":\"COM2\",\"stage\":\"writing\"");
        },
        30000))
        << out.toStdString();
    ::kill(pid_t(cli.processId()), SIGKILL);
    cli.waitForFinished(5000);
    QList<TAuditRecord> disk = AuditOnDisk();
    ASSERT_EQ(disk.size(), 1);
    EXPECT_EQ(disk[0].imei, "356938035643801");
    EXPECT_EQ(disk[0].result, "done");

    QProcess again;
    again.setProgram(QStringLiteral(VELTRA_CLI_PATH));
    QStringList plain = words;
    plain.removeLast();
    again.setArguments(plain << "--trackers" << "2");
    again.start();
    ASSERT_TRUE(again.waitForFinished(60000));
    const QString text = QString::fromUtf8(again.readAllStandardOutput());
    EXPECT_EQ(again.exitCode(), 0) << text.toStdString();
    EXPECT_TRUE(text.contains("COM1 356938035643801 skipped")) << text.toStdString();
    EXPECT_TRUE(text.contains("Summary: 1 done, 0 failed, 1 skipped")) << text.toStdString();
    disk = AuditOnDisk();
    ASSERT_EQ(disk.size(), 2);
    EXPECT_EQ(disk[1].imei, "356938035643802");
    EXPECT_EQ(disk[1].result, "done");
    EXPECT_EQ(ValueIn(slow, "APN_PASS"), "pw2");
}
