// The dialogue with the tracker as whole stories against the simulator, without a widget: a listener
// records the session's events as a front end would see them.
#include "veltra_session.h"

#include "LuFiles.h"
#include "app/app_test_util.h"
#include "common.h"
#include "devsim_process.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>

namespace {

const QString DefaultConfig = QStringLiteral(VELTRA_DATA_DIR "/devsim_default.cfg");

// Every event as one line, in the order the session reported them.
class TStory : public TSessionListener {
public:
    QStringList events;
    TDeviceIdentity identity;
    TWriteSummary summary;
    bool written = false;
    QString password; // answered when the device asks
    QString message;

    bool Has(const QString &event) const { return events.contains(event); }
    void DevicePresent(const TDeviceIdentity &id) override {
        identity = id;
        events << QStringLiteral("present ") + id.imei;
    }
    void DeviceAbsent(bool forget) override { events << (forget ? "absent, forget" : "absent"); }
    void IdentityUpdated(const TDeviceIdentity &id) override {
        identity = id;
        events << QStringLiteral("identified ") + id.imei;
    }
    void ConfigRead(const TLuHash &values) override { events << QStringLiteral("read %1").arg(values.Count()); }
    void ValueConfirmed(const QString &key, const QString &value) override {
        events << QStringLiteral("confirmed ") + key + u'=' + value;
    }
    void ValueRefused(const QString &key, const QString &value, const QString &) override {
        events << QStringLiteral("refused ") + key + u'=' + value;
    }
    void WriteDone(const TWriteSummary &s) override {
        summary = s;
        written = true;
        events << QStringLiteral("write done");
    }
    void PasswordWanted() override {
        events << QStringLiteral("password wanted");
        if (fsession && !password.isEmpty())
            fsession->SendPassword(password);
    }
    void Message(const QString &text) override { message = text; }
    void Progress(int code, qint64 value, const QString &) override {
        if (code == PROGRESS_SHOW || code == PROGRESS_HIDE || (code == PROGRESS_PERCENT && value == 100))
            events << QStringLiteral("progress %1 %2").arg(code).arg(value);
    }
    void Attach(TVeltraSession &session) { fsession = &session; }

private:
    TVeltraSession *fsession = nullptr;
};

// The session on its own port and logs, in a folder of its own.
struct TBench {
    QTemporaryDir dir;
    std::unique_ptr<TDevSimProcess> sim;
    TStory story;
    std::unique_ptr<TVeltraSession> session;

    // The port is mapped at once; the session starts with Start(). Engines read the settings on their
    // own threads, so every bench of a test is mapped before the first session starts.
    TBench(int port, const QStringList &simArgs) : fport(port) {
        sim = std::make_unique<TDevSimProcess>(simArgs);
        AppSettings->SetVal(QStringLiteral("com%1").arg(port), sim->SlavePath());
    }
    void Start() {
        session = std::make_unique<TVeltraSession>(story, TEngineLogs{Log("cmd"), Log("dbg"), Log("com")});
        story.Attach(*session);
        session->Engine().SetComPort(fport);
    }
    const int fport;
    ~TBench() { session.reset(); }
    QString Log(const char *name) const { return dir.filePath(QString::fromLatin1(name) + QStringLiteral(".log")); }
    bool Wait(const QString &event, int ms = 10000) const {
        return WaitUntil([&] { return story.Has(event); }, ms);
    }
};

class Session : public ::testing::Test {
protected:
    QTemporaryDir dir;
    void SetUp() override {
        if (!AppSettings)
            AppSettings = new TLuHash();
        AppSettings->Clear();
        AppSettings->SetVal(QStringLiteral("com_ports"), QStringLiteral("1,2"));
        LogLevel = 6;
        AppMessage = RegisterMessageName(QStringLiteral("session-test"));
        ProgressMessage = RegisterMessageName(QStringLiteral("Veltra Progress Message"));
        AppDataDir = dir.filePath(QStringLiteral("appdata/"));
        MainLogFile = dir.filePath(QStringLiteral("main.log"));
        CmdLogFile = DbgLogFile = ComLogFile = QString(); // each session has its own
    }
    QString MainLog() const { return ReadTextFile(MainLogFile, 0); }
};

} // namespace

// Connect, read, write with one refusal (a backup first), then a firmware upload that the loader
// stores, and the tracker found again.
TEST_F(Session, ConnectReadWriteWithARefusalAndUploadFirmware) {
    const QString stored = dir.filePath(QStringLiteral("stored.bin"));
    TBench bench(1, {"--config", DefaultConfig, "--reject", "SRV_PORT", "--firmware-out", stored});
    bench.Start();
    ASSERT_TRUE(bench.Wait(QStringLiteral("present 356938035643809")));
    EXPECT_EQ(bench.story.identity.name, "VT-300");
    EXPECT_EQ(bench.story.identity.sw, 345);

    bench.session->ReadConfig();
    ASSERT_TRUE(bench.Wait(QStringLiteral("read 84")));
    EXPECT_EQ(bench.session->Values().GetVal(QStringLiteral("SRV_ADDR")), "203.0.113.25");

    ASSERT_TRUE(bench.session->Write({{"SRV_ADDR", "198.51.100.7"}, {"SRV_PORT", "2"}, {"DEV_LABEL", "bus 12"}}));
    ASSERT_TRUE(WaitUntil([&] { return bench.story.written; }, 10000));
    EXPECT_EQ(bench.story.events.mid(bench.story.events.indexOf("read 84") + 1),
              (QStringList{"confirmed SRV_ADDR=198.51.100.7", "refused SRV_PORT=2", "confirmed DEV_LABEL=bus 12",
                           "write done"}));
    EXPECT_EQ(bench.story.summary.written, 2);
    EXPECT_EQ(bench.story.summary.refused, QStringList{"SRV_PORT"});
    EXPECT_TRUE(MainLog().contains("Write summary: 2 written, 1 refused: SRV_PORT"));
    // The backup holds the configuration before the write; the report follows the confirmations.
    const QDir backups(AppDataDir + QStringLiteral("backups/356938035643809"));
    const QStringList files = backups.entryList({"*-write.cfg"}, QDir::Files);
    ASSERT_EQ(files.size(), 1);
    EXPECT_TRUE(ReadTextFile(backups.filePath(files[0]), 0).contains("SRV_ADDR=203.0.113.25"));
    EXPECT_EQ(bench.session->DeviceReported().GetVal(QStringLiteral("SRV_ADDR")), "198.51.100.7");
    EXPECT_EQ(bench.session->DeviceReported().GetVal(QStringLiteral("SRV_PORT")), "21000");

    const QString image = dir.filePath(QStringLiteral("image.bin"));
    WriteTextFile(image, QString(200, u'F'), true);
    ASSERT_TRUE(bench.session->UpdateFirmware(image));
    ASSERT_TRUE(WaitUntil([&] { return !bench.story.message.isEmpty(); }, 30000));
    for (const char *event : {"absent, forget", "progress 1 0", "progress 12 100", "progress 2 0"})
        EXPECT_TRUE(bench.story.Has(QString::fromLatin1(event))) << event;
    EXPECT_EQ(bench.story.message, "Обновление прошивки завершено. Устройство будет перезагружено.");
    EXPECT_EQ(backups.entryList({"*-firmware.cfg"}, QDir::Files).size(), 1);
    ASSERT_TRUE(WaitUntil([&] { return QFile(stored).size() == 256; }, 5000));
    EXPECT_EQ(ReadTextFile(stored, 0).left(200), QString(200, u'F'));
    bench.story.events.clear();
    EXPECT_TRUE(bench.Wait(QStringLiteral("present 356938035643809"), 20000));
}

// The password is asked for and given from the handler; a wrong one is asked for again. A tracker
// that hangs up in the middle of a write leaves the batch unfinished, never reported written.
TEST_F(Session, APasswordIsAnsweredAndAHangUpCutsTheBatchShort) {
    TBench locked(1, {"--config", DefaultConfig, "--password", "secret"});
    TBench hangup(2, {"--config", DefaultConfig, "--delay", "20", "--fault", "hangup", "--fault-after", "3"});
    locked.story.password = QStringLiteral("wrong");
    locked.Start();
    ASSERT_TRUE(locked.Wait(QStringLiteral("password wanted")));
    locked.story.events.clear();
    ASSERT_TRUE(locked.Wait(QStringLiteral("password wanted")));
    locked.story.password = QStringLiteral("secret");
    locked.story.events.clear();
    ASSERT_TRUE(WaitUntil([&] { return !locked.story.events.filter("present").isEmpty() ||
                                       locked.story.Has("identified 356938035643809"); },
                          10000))
        << locked.story.events.join(u'|').toStdString();
    EXPECT_FALSE(MainLog().contains("secret"));
    EXPECT_TRUE(MainLog().contains("MSG_DEV_CMD: S_PASSNOW=*** -> 1"));
    locked.session->ReadConfig();
    EXPECT_TRUE(locked.Wait(QStringLiteral("read 84")));

    hangup.Start();
    ASSERT_TRUE(hangup.Wait(QStringLiteral("present 356938035643809")));
    QList<std::pair<QString, QString>> entries;
    for (int i = 0; i < 6; ++i)
        entries.append({QStringLiteral("PKT_RECORDS"), QString::number(i)});
    ASSERT_TRUE(hangup.session->Write(entries));
    ASSERT_TRUE(hangup.Wait(QStringLiteral("absent")));
    ServeFor(1500);
    EXPECT_FALSE(hangup.story.written);
    EXPECT_LT(hangup.story.events.filter("confirmed").size(), 6);
}

// Two sessions in one process, each on its own tracker and port: neither takes the other's events,
// and each writes its own command and debug logs.
TEST_F(Session, TwoSessionsSideBySideKeepTheirOwnEventsAndLogs) {
    TBench a(1, {"--config", DefaultConfig, "--unsolicited", "hello from A", "--unsolicited-period", "300"});
    TBench b(2, {"--config", DefaultConfig, "--ident", "VT-500 HW:3 SW:7 IMEI:490154203237518", "--unsolicited",
                 "hello from B", "--unsolicited-period", "300"});
    a.Start();
    b.Start();
    ASSERT_TRUE(a.Wait(QStringLiteral("present 356938035643809")));
    ASSERT_TRUE(b.Wait(QStringLiteral("present 490154203237518")));
    a.session->ReadConfig();
    b.session->Write({{"DEV_LABEL", "B only"}});
    ASSERT_TRUE(a.Wait(QStringLiteral("read 84")));
    ASSERT_TRUE(WaitUntil([&] { return b.story.written; }, 10000));
    ServeFor(700);
    EXPECT_EQ(a.story.events.filter("490154203237518").size(), 0);
    EXPECT_EQ(b.story.events.filter("356938035643809").size(), 0);
    EXPECT_FALSE(a.story.Has("write done"));
    EXPECT_FALSE(b.story.Has("read 84"));
    const QString cmdA = ReadTextFile(a.Log("cmd"), 0), cmdB = ReadTextFile(b.Log("cmd"), 0);
    EXPECT_TRUE(cmdA.contains("R_CFG")) << cmdA.toStdString();
    EXPECT_FALSE(cmdA.contains("S_DEV_LABEL"));
    EXPECT_TRUE(cmdB.contains("S_DEV_LABEL=B only"));
    EXPECT_FALSE(cmdB.contains("R_CFG"));
    EXPECT_TRUE(ReadTextFile(a.Log("dbg"), 0).contains("hello from A"));
    EXPECT_FALSE(ReadTextFile(a.Log("dbg"), 0).contains("hello from B"));
    EXPECT_TRUE(ReadTextFile(b.Log("dbg"), 0).contains("hello from B"));
}
