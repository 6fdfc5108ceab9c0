#include "comm/pty_fixture.h"
#include "engine_fixture.h"
#include "fuzz/answer_checks.h"

#include <map>
#include <thread>

#include <QRegularExpression>

namespace {

const QString Ident = QStringLiteral("Tracker-A HW:12 SW:345 IMEI: 356938035643809");

QStringList SimArgs(const QStringList &extra = {}) {
    return QStringList{"--ident", Ident, "--config", QStringLiteral(VELTRA_DATA_DIR "/devsim_default.cfg")} +
           extra;
}

} // namespace

TEST_F(EngineTest, ScansListedPortsInOrderAndIdentifies) {
    TDevSimProcess sim(SimArgs());
    ASSERT_FALSE(sim.SlavePath().isEmpty());
    MapPort(61, QStringLiteral("/nonexistent/tty61"));
    MapPort(63, sim.SlavePath());
    StartEngine(QStringLiteral("63; 61,62"));
    ASSERT_TRUE(WaitPresent());
    const TVeltraCommander::TIdentity id = engine->Identity();
    EXPECT_TRUE(id.present);
    EXPECT_EQ(id.name, "Tracker-A");
    EXPECT_EQ(id.imei, "356938035643809");
    EXPECT_EQ(id.hw, 12);
    EXPECT_EQ(id.sw, 345);
    EXPECT_EQ(engine->ComLs(), QStringList({"61", "62", "63"}));
    ASSERT_GE(recorder.events.size(), 2u);
    EXPECT_EQ(recorder.events[0].code, MSG_COM_PORTS);
    EXPECT_EQ(recorder.events[0].value, 3);
    EXPECT_EQ(recorder.CountOf(MSG_DEV_PRESENT, 1), 1);
    // The scan's line is written once the device has been reported present.
    EXPECT_TRUE(PumpUntil([&] { return CmdLog().contains("Check COM ports"); }, 5000));
    const QString log = CmdLog();
    EXPECT_TRUE(log.contains("Enum COM ports ->  (3) 61 62 63 [")) << log.toStdString();
    EXPECT_TRUE(
        log.contains("Check COM ports ->  61x 62x 63+[Tracker-A HW:12 SW:345 IMEI: 356938035643809] ["))
        << log.toStdString();
    // Why the other ports did not open is said once in the main log.
    const QString mainLog = ReadTextFile(MainLogFile, 0);
    EXPECT_EQ(mainLog.count("No such device: " + PortLink(61)), 1) << mainLog.toStdString();
    EXPECT_TRUE(mainLog.contains(" /dev/ttyS61")) << mainLog.toStdString(); // COM62 by the default mapping

    // "_GET_DEV_INFO" identifies from scratch: the device is reported present once more.
    EXPECT_EQ(Run("_GET_DEV_INFO").value, 1);
    EXPECT_EQ(recorder.CountOf(MSG_DEV_PRESENT, 1), 2);
    engine->SetComPort(63);
    ASSERT_TRUE(PumpUntil([&] { return recorder.CountOf(MSG_DEV_PRESENT, 0) == 1; }, 3000));
    ASSERT_TRUE(WaitPresent());
}

TEST_F(EngineTest, ReadsAndWritesWithTheThreeAnswerForms) {
    TDevSimProcess sim(SimArgs({"--reject", "DEV_LABEL"}));
    MapPort(64, sim.SlavePath());
    StartEngine(QStringLiteral("64"));
    ASSERT_TRUE(WaitPresent());

    const TEvent cfg = Run("/R_CFG");
    EXPECT_EQ(cfg.value, 1);
    EXPECT_EQ(cfg.lastCmd, "R_CFG");
    EXPECT_TRUE(cfg.lastAns.startsWith("SRV_ADDR=")) << cfg.lastAns.toStdString();
    EXPECT_TRUE(cfg.lastAns.contains("\\r")) << cfg.lastAns.toStdString();
    EXPECT_FALSE(cfg.lastAns.contains('\r'));

    const TEvent write = Run("S_SRV_PORT=60");
    EXPECT_EQ(write.value, 1);
    EXPECT_EQ(write.lastAns, "");
    const TEvent read = Run("R_SRV_PORT");
    EXPECT_EQ(read.value, 1);
    EXPECT_EQ(read.lastAns, "60");

    const TEvent rejected = Run("S_DEV_LABEL=x");
    EXPECT_EQ(rejected.value, 0);
    // A failed answer keeps its line break, so the detail lands on a line of its own.
    EXPECT_TRUE(
        CmdLog().contains(QRegularExpression("S_DEV_LABEL=x -> ERROR=DEV_LABEL is read-only\r\n\\d{8} "
                                             "\\d{6}  \\[bad answer\\] \\[\\d+\\]")))
        << CmdLog().toStdString();

    const TEvent quiet = Run("./R_CFG");
    EXPECT_EQ(quiet.value, 1);
    EXPECT_EQ(quiet.lastCmd, "R_CFG");
    EXPECT_EQ(CmdLog().count("R_CFG -> "), 1);
}

TEST_F(EngineTest, MarkersEndABatchAndInternalCommands) {
    TDevSimProcess sim(SimArgs());
    MapPort(65, sim.SlavePath());
    StartEngine(QStringLiteral("65"));
    ASSERT_TRUE(WaitPresent());
    EXPECT_EQ(Run("R_SRV_PORT").value, 1);

    const size_t before = recorder.events.size();
    engine->PutCmd("_WRITE_OK");
    engine->PutCmd("R_SRV_PORT");
    ASSERT_TRUE(PumpUntil([&] { return recorder.events.size() >= before + 2; }, 3000));
    EXPECT_EQ(recorder.events[before].lastCmd, "_WRITE_OK");
    EXPECT_EQ(recorder.events[before].value, 1);
    EXPECT_EQ(recorder.events[before].lastAns, "");
    EXPECT_EQ(recorder.events[before + 1].lastCmd, "R_SRV_PORT");

    EXPECT_EQ(Run("_SEND_STR no separator").value, 0);
    EXPECT_EQ(Run("_SEND_STR=R_NOSUCH").value, 1);
    ASSERT_TRUE(PumpUntil([&] { return ReadTextFile(DbgLogFile, 0).contains("ERROR"); }, 2000));

    EXPECT_EQ(Run("_UPD_FIRMWARE /nonexistent/image.bin").value, 0);
    EXPECT_TRUE(engine->DevPresent());

    // Twice while the engine waits in one notification, so both fall into one cycle.
    recorder.onEvent = [&](const TEvent &e) {
        if (e.code == MSG_DEV_CMD && e.lastCmd == "R_SRV_PORT") {
            engine->Cancel();
            engine->Cancel();
        }
    };
    EXPECT_EQ(Run("R_SRV_PORT").value, 1);
    recorder.onEvent = nullptr;
    EXPECT_EQ(CmdLog().count("Set cancel flag -> ok [0]"), 1);

    EXPECT_EQ(Run("_REBOOT").value, 1);
    EXPECT_FALSE(engine->DevPresent());
    EXPECT_EQ(recorder.LastOf(MSG_DEV_PRESENT)->value, 0);
    engine->PutCmd("R_SRV_PORT");
    EXPECT_EQ(engine->CmdQuLen(), 0);
}

TEST_F(EngineTest, PasswordFlowKeepsThePasswordOutOfTheLogs) {
    TDevSimProcess sim(SimArgs({"--password", "s3cret"}));
    MapPort(66, sim.SlavePath());
    LogLevel = 9; // traffic log on
    StartEngine(QStringLiteral("66"));
    ASSERT_TRUE(PumpUntil([&] { return recorder.CountOf(MSG_DEV_PASSWORD, 0) > 0; }, 5000));
    EXPECT_TRUE(engine->DevPresent());
    EXPECT_TRUE(engine->DevNeedPassword());
    EXPECT_EQ(engine->Identity().imei, "");

    EXPECT_EQ(Run(".S_PASSNOW=s3cret").value, 1);
    EXPECT_EQ(Run("_GET_DEV_INFO").value, 1);
    EXPECT_EQ(engine->Identity().imei, "356938035643809");
    EXPECT_GE(recorder.CountOf(MSG_DEV_PRESENT, 1), 1);
    engine->Stop();
    for (const QString &log : {CmdLogFile, ComLogFile, MainLogFile, DbgLogFile})
        EXPECT_FALSE(ReadTextFile(log, 0).contains("s3cret")) << log.toStdString();
    EXPECT_TRUE(ReadTextFile(ComLogFile, 0).contains("*** Log is disabled at"));
}

TEST_F(EngineTest, SilentKeepAliveDropsTheLinkAndTheScanStartsAgain) {
    TDevSimProcess sim(SimArgs({"--fault", "silence", "--fault-after", "1"}));
    MapPort(67, sim.SlavePath());
    StartEngine(QStringLiteral("67"));
    ASSERT_TRUE(WaitPresent());
    ASSERT_TRUE(PumpUntil([&] { return recorder.CountOf(MSG_DEV_PRESENT, 0) > 0; }, 9000));
    EXPECT_FALSE(engine->DevPresent());
    EXPECT_TRUE(ReadTextFile(MainLogFile, 0).contains("[comm] NOP error []"));
    ASSERT_TRUE(PumpUntil([&] { return CmdLog().count("Check COM ports") >= 2; }, 4000));
    EXPECT_TRUE(CmdLog().contains("Check COM ports ->  67~ ["));
}

class EngineHangUpTest : public EngineTest {
protected:
    std::unique_ptr<TDevSimProcess> sim;

    // A write batch on `port` that meets a hang-up at its second write; some of it stays queued.
    void WriteBatchThatHangsUp(int port) {
        sim = std::make_unique<TDevSimProcess>(SimArgs({"--fault", "hangup", "--fault-after", "3"}));
        MapPort(port, sim->SlavePath());
        StartEngine(QString::number(port));
        ASSERT_TRUE(WaitPresent());
        // The identification was command 1; the batch's third write meets the hang-up and is lost.
        for (const char *line : {"S_SRV_PORT=1", "S_SRV_PORT=2", "S_SRV_PORT=3", "R_SRV_PORT", "_SEND_STR=S_X=1",
                                 "S_SRV_PORT=4", "_WRITE_OK"})
            engine->PutCmd(line);
        ASSERT_TRUE(PumpUntil([&] { return recorder.CountOf(MSG_DEV_PRESENT, 0) > 0; }, 5000));
        EXPECT_TRUE(ReadTextFile(MainLogFile, 0).contains(QStringLiteral("[comm] XComm: TLuPCom(%1) error -8").arg(port)));
        EXPECT_EQ(engine->CmdQuLen(), 4);
    }
    // The next device on the same port, found by the engine; true once the batch's marker has run.
    bool NextDeviceRunsTheRest(int port, const QStringList &simArgs) {
        sim = std::make_unique<TDevSimProcess>(simArgs);
        MapPort(port, sim->SlavePath());
        return WaitPresent(10000) && PumpUntil(
                                         [&] {
                                             return engine->CmdQuLen() == 0 && recorder.LastOf(MSG_DEV_CMD) &&
                                                    recorder.LastOf(MSG_DEV_CMD)->lastCmd == "_WRITE_OK";
                                         },
                                         5000);
    }
    // The command results from `from` on, as "line value", one to a line.
    std::string ResultsSince(size_t from) const {
        QStringList results;
        for (size_t i = from; i < recorder.events.size(); ++i)
            if (recorder.events[i].code == MSG_DEV_CMD)
                results << recorder.events[i].lastCmd + u' ' + QString::number(recorder.events[i].value);
        return results.join(u'\n').toStdString();
    }
};

TEST_F(EngineHangUpTest, TheSameTrackerFoundAgainGetsTheRestOfTheBatch) {
    WriteBatchThatHangsUp(68);
    const size_t before = recorder.events.size();
    ASSERT_TRUE(NextDeviceRunsTheRest(68, SimArgs()));
    EXPECT_EQ(ResultsSince(before), "R_SRV_PORT 1\n_SEND_STR=S_X=1 1\nS_SRV_PORT=4 1\n_WRITE_OK 1");
    EXPECT_EQ(recorder.LastOf(MSG_DEV_MESSAGE), nullptr);
    EXPECT_EQ(Run("R_SRV_PORT").lastAns, "4");
}

TEST_F(EngineHangUpTest, AnotherTrackerGetsNoneOfTheWrites) {
    WriteBatchThatHangsUp(72);
    const size_t before = recorder.events.size();
    const QString other = QStringLiteral("Tracker-C HW:12 SW:345 IMEI: 490154203237518");
    ASSERT_TRUE(NextDeviceRunsTheRest(72, {"--ident", other, "--config", QStringLiteral(VELTRA_DATA_DIR "/devsim_default.cfg")}));
    // The writes, the raw line and nothing else come back failed, with their own LastCmd; the read
    // and the marker run.
    EXPECT_EQ(ResultsSince(before), "_SEND_STR=S_X=1 0\nS_SRV_PORT=4 0\nR_SRV_PORT 1\n_WRITE_OK 1");
    const TEvent *message = recorder.LastOf(MSG_DEV_MESSAGE);
    ASSERT_NE(message, nullptr);
    EXPECT_EQ(message->text, "Подключён другой трекер (IMEI 490154203237518, команды готовились для IMEI "
                             "356938035643809). Не отправлено команд записи: 2.");
    EXPECT_TRUE(CmdLog().contains("S_SRV_PORT=4 -> not sent [another tracker: queued for IMEI 356938035643809, "
                                  "found IMEI 490154203237518] [0]"))
        << CmdLog().toStdString();
    EXPECT_EQ(Run("R_SRV_PORT").lastAns, "21000"); // untouched
}

TEST_F(EngineHangUpTest, ATrackerWithoutAnImeiCountsAsAnother) {
    WriteBatchThatHangsUp(73);
    const size_t before = recorder.events.size();
    ASSERT_TRUE(NextDeviceRunsTheRest(
        73, {"--ident", "Tracker-D HW:1 SW:2", "--config", QStringLiteral(VELTRA_DATA_DIR "/devsim_default.cfg")}));
    EXPECT_EQ(ResultsSince(before), "_SEND_STR=S_X=1 0\nS_SRV_PORT=4 0\nR_SRV_PORT 1\n_WRITE_OK 1");
    EXPECT_TRUE(recorder.LastOf(MSG_DEV_MESSAGE)->text.contains("IMEI none"));
}

TEST_F(EngineTest, DestroyWhileTheEngineWaitsInANotification) {
    TDevSimProcess sim(SimArgs());
    MapPort(69, sim.SlavePath());
    StartEngine(QStringLiteral("69"));
    ASSERT_TRUE(WaitPresent());
    recorder.onEvent = [](const TEvent &) { QThread::msleep(300); };
    engine->PutCmd("R_SRV_PORT");
    // Nothing is served now: the engine runs the command and then waits in its result's notification.
    for (QDeadlineTimer limit(5000); NotificationsWaiting() == 0 && !limit.hasExpired();)
        QThread::msleep(5);
    ASSERT_EQ(NotificationsWaiting(), 1);
    const size_t before = recorder.events.size();
    QElapsedTimer t;
    t.start();
    engine.reset();
    EXPECT_LT(t.elapsed(), 3000);
    // The waiting result was served with the engine whole, and the device went absent last.
    ASSERT_GE(recorder.events.size(), before + 2);
    EXPECT_EQ(recorder.events[before].code, MSG_DEV_CMD);
    EXPECT_EQ(recorder.events[before].lastCmd, "R_SRV_PORT");
    EXPECT_EQ(recorder.events.back().code, MSG_DEV_PRESENT);
    EXPECT_EQ(recorder.events.back().value, 0);
}

TEST_F(EngineTest, KeepAliveIdentifiesADeviceWithoutNumericImeiAgain) {
    TDevSimProcess sim({"--ident", "Tracker-B HW:3 SW:7"});
    MapPort(70, sim.SlavePath());
    StartEngine(QStringLiteral("70"));
    ASSERT_TRUE(WaitPresent());
    EXPECT_EQ(engine->Identity().imei, "");
    ASSERT_TRUE(PumpUntil([&] { return recorder.CountOf(MSG_DEV_INFO, 1) == 1; }, 7000));
    EXPECT_EQ(recorder.CountOf(MSG_DEV_PRESENT, 1), 1);
    EXPECT_EQ(CmdLog().count("R_INFO -> Tracker-B HW:3 SW:7 [0]"), 2);
}

// A scripted device on a raw pty: answers in the forms a real tracker uses that the simulator does not.
class TScriptedDevice {
public:
    explicit TScriptedDevice(TPtyPair &pty, std::map<QByteArray, QByteArray> answers)
        : fpty(pty), fanswers(std::move(answers)), fthread([this] { Serve(); }) {}
    ~TScriptedDevice() {
        fstop = true;
        fthread.join();
    }

private:
    void Serve() {
        QByteArray pending;
        while (!fstop) {
            pending += fpty.ReceiveSome(20);
            for (qsizetype end; (end = pending.indexOf("\r\n")) >= 0; pending.remove(0, end + 2)) {
                const QByteArray cmd = pending.left(end);
                fpty.Send(cmd + "\r\n" + fanswers[cmd]); // echo first, as the device does
            }
        }
    }
    TPtyPair &fpty;
    std::map<QByteArray, QByteArray> fanswers;
    std::atomic<bool> fstop{false};
    std::thread fthread;
};

TEST_F(EngineTest, AnswerFormsAreNormalised) {
    TPtyPair pty(71);
    TScriptedDevice device(pty, {{"R_INFO", "  INFO Tracker-A HW:12 SW:345 IMEI: 356938035643809\r\n"},
                                 {"R_CFG", "  CFG:\r  apn=internet\r  port = 5000\r"},
                                 {"R_K1", "  K1: 60\r"},
                                 {"R_K2", "  K2=60\r"},
                                 {"R_K3", "  K3 = 60\r"},
                                 {"S_K=60", "  K=60\r"},
                                 {"S_K=61", "  K=50\r"},
                                 {"S_NOP", "  NOP\r"}});
    StartEngine(QStringLiteral("71"));
    ASSERT_TRUE(WaitPresent());
    EXPECT_EQ(Run("/R_CFG").lastAns, "apn=internet\\rport\\s=\\s5000");
    for (const char *read : {"R_K1", "R_K2", "R_K3"})
        EXPECT_EQ(Run(read).lastAns, "60") << read;
    const TEvent written = Run("S_K=60");
    EXPECT_EQ(written.value, 1);
    EXPECT_EQ(written.lastAns, "");
    EXPECT_EQ(Run("S_K=61").value, 0);
    EXPECT_TRUE(CmdLog().contains("S_K=61 -> K=50\r\n")) << CmdLog().toStdString();
    EXPECT_TRUE(CmdLog().contains("[bad answer]"));
    EXPECT_EQ(Run("S_NOP").value, 1);
}

// The answer parsers on their own, with the checks the fuzz target makes, over forms a device sends
// and inputs the fuzzer found.
TEST(EngineParsers, AnswersAndIdentitiesKeepTheirShape) {
    const TVeltraCommander::TIdentity id =
        TVeltraCommander::ParseIdentity(QStringLiteral("Tracker-A HW:12 SW:345 IMEI: 356938035643809"));
    EXPECT_EQ(id.name, "Tracker-A");
    EXPECT_EQ(id.imei, "356938035643809");
    EXPECT_EQ(id.hw, 12);
    EXPECT_EQ(id.sw, 345);
    EXPECT_EQ(TVeltraCommander::ParseIdentity(QStringLiteral("Tracker-B")).hw, -1);
    QString answer = QStringLiteral("CFG:\r  apn = internet\r  port  =  5000\r");
    ASSERT_TRUE(TVeltraCommander::CleanAnswer(QStringLiteral("CFG"), answer));
    EXPECT_EQ(answer, "apn\\s=\\sinternet\\rport\\s=\\s5000");
    // An IMEI followed by a no-break space and control bytes from the code page (found by fuzzing).
    const QString noBreak = QString::fromLatin1("\nON\x1fPES\xff\xff\xff\xa0 7 IMEI:\nON\x1fPES\xff\xff\xff\xa0");
    EXPECT_EQ(AnswerChecks::CheckIdentity(noBreak).toStdString(), "");
    for (const QString &text : {QString(), QStringLiteral("IMEI:"), QStringLiteral("HW:99999999999 SW:"),
                                QStringLiteral("R_CFG\n  CFG\r\r\r  x"), noBreak})
        EXPECT_EQ(AnswerChecks::CheckAnswer(QStringLiteral("R_CFG"), text).toStdString(), "");
}
