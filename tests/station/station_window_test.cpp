// The station's window: a tile in every stage as a person reads it (words, colour, bar), in both
// languages, and the tiles following a real station on simulated trackers: done and failed, the slot
// back to waiting when a tracker is taken out, and the next tracker started by itself.
#include "station_window.h"

#include "app/app_test_util.h"
#include "common.h"
#include "station/bench_socket.h"
#include "veltra_language.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace {

const QString DataDir = QStringLiteral(VELTRA_DATA_DIR);

TSlotState Slot(int n, TSlotStage stage, const QString &imei = QString(), const QString &detail = QString()) {
    TSlotState s;
    s.name = QStringLiteral("COM%1").arg(n);
    s.port = n;
    s.path = QStringLiteral("/dev/serial/by-path/pci-0000:00:14.0-usb-0:%1:1.0-port0").arg(n);
    s.stage = stage;
    s.imei = imei;
    s.detail = detail;
    return s;
}

bool IsGreen(const QColor &c) {
    return c.green() > c.red() + 40 && c.green() > c.blue() + 40;
}
bool IsRed(const QColor &c) {
    return c.red() > c.green() + 80 && c.red() > c.blue() + 80;
}

class StationWindow : public ::testing::Test {
protected:
    void TearDown() override { RemoveInterfaceLanguage(); }
};

} // namespace

// Every stage on a tile of its own; the picture is saved beside the test for a person to look at.
TEST_F(StationWindow, EveryStageReadsAsWordsColourAndBarInBothLanguages) {
    QList<TSlotState> states{Slot(1, TSlotStage::Waiting), Slot(2, TSlotStage::Identifying, "356938035643802"),
                             Slot(3, TSlotStage::Backup, "356938035643803"), Slot(4, TSlotStage::Firmware, "356938035643804"),
                             Slot(5, TSlotStage::Writing, "356938035643805"), Slot(6, TSlotStage::Verifying, "356938035643806"),
                             Slot(7, TSlotStage::Done, "356938035643807"), Slot(8, TSlotStage::Skipped, "356938035643808", "done before with this job"),
                             Slot(9, TSlotStage::Failed, "356938035643809", "the tracker refused APN_NAME")};
    states[3].percent = 40;
    states[4].written = 12;
    states[4].toWrite = 40;
    states[0].lastResult = "interrupted";
    TStationWindow window("Order 42", states);
    window.resize(1100, 760);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    EXPECT_EQ(window.windowTitle(), "VELTRA - Станция: Order 42");
    EXPECT_EQ(window.Tile("COM1")->StageText(), "Ожидание трекера");
    EXPECT_EQ(window.Tile("COM1")->DetailText(), "Предыдущий трекер: прервано");
    EXPECT_EQ(window.Tile("COM5")->StageText(), "Запись 12 из 40");
    EXPECT_TRUE(window.Tile("COM5")->ProgressShown());
    EXPECT_EQ(window.Tile("COM5")->ProgressValue(), 12);
    EXPECT_TRUE(window.Tile("COM4")->ProgressShown());
    EXPECT_EQ(window.Tile("COM4")->ProgressValue(), 40);
    EXPECT_FALSE(window.Tile("COM6")->ProgressShown());
    EXPECT_EQ(window.Tile("COM9")->DetailText(), "the tracker refused APN_NAME");
    EXPECT_EQ(window.Tile("COM7")->ImeiText(), "IMEI 356938035643807");
    EXPECT_TRUE(IsGreen(window.Tile("COM7")->Colour()));
    EXPECT_TRUE(IsRed(window.Tile("COM9")->Colour()));
    // Waiting, working and finished are told apart by colour alone.
    EXPECT_NE(window.Tile("COM1")->Colour(), window.Tile("COM2")->Colour());
    EXPECT_NE(window.Tile("COM2")->Colour(), window.Tile("COM7")->Colour());
    window.ShowSummary({3, 1, 1, 4, 0, 42.5});
    EXPECT_EQ(window.SummaryText(), "Готово: 3    Ошибки: 1    Пропущено: 1    В работе: 4    Трекеров в час: 42.5");
    EXPECT_TRUE(window.grab().save(QDir::current().filePath("station_window.png")));

    InstallInterfaceLanguage(TInterfaceLanguage::English);
    TStationWindow english("Order 42", states);
    english.ShowSummary({3, 1, 1, 4, 0, 42.5});
    EXPECT_EQ(english.windowTitle(), "VELTRA - Station: Order 42");
    EXPECT_EQ(english.Tile("COM5")->StageText(), "Writing 12 of 40");
    EXPECT_EQ(english.Tile("COM1")->DetailText(), "Previous tracker: interrupted");
    EXPECT_EQ(english.SummaryText(), "Done: 3    Failed: 1    Skipped: 1    In progress: 4    Trackers per hour: 42.5");
}

// A real station on two sockets: the tiles go green and red, a tracker taken out returns its tile to
// waiting, and the one plugged in next is worked by itself.
TEST_F(StationWindow, TilesFollowTheStationAndTheNextTrackerStartsByItself) {
    QTemporaryDir dir;
    if (!AppSettings)
        AppSettings = new TLuHash();
    AppSettings->Clear();
    LogLevel = 6;
    AppMessage = RegisterMessageName(QStringLiteral("station-window-test"));
    ProgressMessage = RegisterMessageName(QStringLiteral("Veltra Progress Message"));
    AppDataDir = dir.filePath("appdata/");
    MainLogFile = dir.filePath("main.log");
    CmdLogFile = DbgLogFile = ComLogFile = QString();
    AppSettings->SetVal("log_dir", dir.filePath("logs"));
    AppSettings->SetVal("audit", dir.filePath("audit.jsonl"));
    AppSettings->SetVal("com_ports", "1,2");
    TSocket first(dir.filePath("socket1")), second(dir.filePath("socket2"));
    AppSettings->SetVal("com1", dir.filePath("socket1"));
    AppSettings->SetVal("com2", dir.filePath("socket2"));
    const auto tracker = [&](const QString &imei, const QStringList &more = {}) {
        const QString file = dir.filePath(imei + ".cfg");
        QFile::copy(DataDir + "/devsim_default.cfg", file);
        QFile(file).setPermissions(QFile::ReadOwner | QFile::WriteOwner);
        return QStringList{"--config", file, "--persist", "--ident", "VT-300 HW:12 SW:345 IMEI:" + imei} + more;
    };
    first.Plug(tracker("356938035643801"));
    second.Plug(tracker("356938035643802", {"--reject", "SRV_PORT"}));
    QFile job(dir.filePath("order.job"));
    ASSERT_TRUE(job.open(QIODevice::WriteOnly));
    job.write("name=Order 7\nconfig=order.cfg\n");
    job.close();
    QFile order(dir.filePath("order.cfg"));
    ASSERT_TRUE(order.open(QIODevice::WriteOnly));
    order.write("SRV_ADDR=198.51.100.9\nSRV_PORT=9100\n");
    order.close();
    TLuHash description;
    description.Load(DataDir + "/veltra_params.conf", true);

    // The feed the program wires: events to the window, the summary after each.
    struct TFeed : TStationObserver {
        TStationWindow *window = nullptr;
        TProvisioningStation *station = nullptr;
        void SlotChanged(const TSlotState &s) override {
            if (window) {
                window->SlotChanged(s);
                window->ShowSummary(station->Summary());
            }
        }
        void Recorded(const TAuditRecord &r) override {
            if (window)
                window->Recorded(r);
        }
    } feed;
    TProvisioningStation station(feed);
    QStringList problems;
    ASSERT_TRUE(station.Start(job.fileName(), description, problems));
    QList<TSlotState> states;
    for (const auto &slot : station.Slots())
        states << slot->State();
    TStationWindow window(station.Job().name, states);
    feed.window = &window;
    feed.station = &station;
    window.show();
    TSlotTile *one = window.Tile("COM1");
    TSlotTile *two = window.Tile("COM2");
    ASSERT_TRUE(one && two);
    EXPECT_TRUE(QTest::qWaitFor([&] { return one->StageText() == "Готово" && two->StageText() == "Ошибка"; }, 20000))
        << one->StageText().toStdString() << " / " << two->StageText().toStdString();
    EXPECT_TRUE(IsGreen(one->Colour()));
    EXPECT_TRUE(IsRed(two->Colour()));
    EXPECT_EQ(two->DetailText(), "the tracker refused SRV_PORT");
    EXPECT_EQ(one->ImeiText(), "IMEI 356938035643801");
    EXPECT_TRUE(window.SummaryText().startsWith("Готово: 1    Ошибки: 1")) << window.SummaryText().toStdString();

    first.Unplug();
    EXPECT_TRUE(QTest::qWaitFor([&] { return one->StageText() == "Ожидание трекера"; }, 10000));
    EXPECT_EQ(one->DetailText(), "Предыдущий трекер: готово");
    EXPECT_EQ(one->ImeiText(), "");
    first.Plug(tracker("356938035643803"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return one->ImeiText() == "IMEI 356938035643803" && one->StageText() == "Готово"; },
                                20000))
        << one->StageText().toStdString();
    EXPECT_TRUE(window.SummaryText().startsWith("Готово: 2    Ошибки: 1")) << window.SummaryText().toStdString();
    EXPECT_TRUE(window.LastEventText().contains("356938035643803")) << window.LastEventText().toStdString();
    feed.window = nullptr;
}
