// The firmware upload end to end: "_UPD_FIRMWARE <file>" queued to the real engine, the simulator's
// loader receiving the image, the notifications the main window and the progress window get, the logs,
// and the device found again after the reboot.
#include "engine_fixture.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>

namespace {

const QString Ident = QStringLiteral("Tracker-A HW:12 SW:345 IMEI: 356938035643809");
const QString Done = QStringLiteral("Обновление прошивки завершено. Устройство будет перезагружено.");
const QString Cancelled = QStringLiteral("Обновление прошивки прервано по Вашему желанию.");

// "code value text", one line per notification, so that a mismatch shows the whole sequence.
QString Line(int code, qint64 value, const QString &text = QString()) {
    return QStringLiteral("%1 %2 %3").arg(code).arg(value).arg(text);
}

// n of b in percent, to the nearest whole number, a half to the even one.
int Percent(int n, int b) {
    const int whole = n * 100 / b;
    const int twiceRest = 2 * (n * 100 % b);
    return whole + (twiceRest > b || (twiceRest == b && whole % 2 == 1) ? 1 : 0);
}

// A sequence as one text, so that a failure prints it readably.
std::string Lines(const QStringList &lines) {
    return lines.join(u'\n').toStdString();
}

QByteArray ReadAll(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// What the progress window is told by an upload that reached the loader: `blocks` blocks of which
// the first `sent` went out, and whether the transfer got as far as its EOT.
std::string UploadProgress(const QString &image, int blocks, int sent, bool finished) {
    QStringList lines{Line(PROGRESS_SHOW, 0),
                      Line(PROGRESS_TEXT, 0, QStringLiteral("Загрузка прошивки из файла [") + image + u']'),
                      Line(PROGRESS_STEP, 0, QStringLiteral("Ожидание готовности устройства"))};
    for (int n = 1; n <= sent; ++n) {
        lines << Line(PROGRESS_STEP, 0, QStringLiteral("Блок %1 из %2").arg(n).arg(blocks));
        lines << Line(PROGRESS_PERCENT, Percent(n, blocks));
    }
    if (finished)
        lines << Line(PROGRESS_STEP, 0, QStringLiteral("Завершение передачи"));
    lines << Line(PROGRESS_HIDE, 0);
    return Lines(lines);
}

} // namespace

class FirmwareTest : public EngineTest {
protected:
    QTemporaryDir work;
    std::unique_ptr<TDevSimProcess> sim;

    QString FirmwareOut() const { return work.filePath(QStringLiteral("received.bin")); }

    // The device on `port`, found by the engine; `loaderArgs` give the loader its fault.
    void StartDevice(int port, const QStringList &loaderArgs = {}) {
        sim = std::make_unique<TDevSimProcess>(
            QStringList{"--ident", Ident, "--firmware-out", FirmwareOut()} + loaderArgs);
        ASSERT_FALSE(sim->SlavePath().isEmpty());
        MapPort(port, sim->SlavePath());
        StartEngine(QString::number(port));
        ASSERT_TRUE(WaitPresent());
    }
    QByteArray WriteImage(const QString &path, int size) {
        QByteArray data(size, '\0');
        QRandomGenerator rng{quint32(size)};
        for (char &c : data)
            c = char(rng.bounded(256));
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(data);
        return data;
    }
    // The main window's notifications from `from` up to the command's result.
    std::string AppUntilResult(size_t from) const {
        QStringList lines;
        for (size_t i = from; i < recorder.events.size(); ++i) {
            lines << Line(recorder.events[i].code, recorder.events[i].value, recorder.events[i].text);
            if (recorder.events[i].code == MSG_DEV_CMD)
                break;
        }
        return Lines(lines);
    }
    std::string ProgressSince(size_t from) const {
        QStringList lines;
        for (size_t i = from; i < recorder.progress.size(); ++i)
            lines << Line(recorder.progress[i].code, recorder.progress[i].value, recorder.progress[i].text);
        return Lines(lines);
    }
    // The transfer's entries of a piece of the command log, without their times.
    static QStringList TransferEntries(const QString &log) {
        static const QRegularExpression entry(
            QStringLiteral("(Wait RxR|Send block \\d+|Send EOT) -> (.*) \\[\\d+\\]"));
        QStringList entries;
        for (auto it = entry.globalMatch(log); it.hasNext();) {
            const QRegularExpressionMatch m = it.next();
            entries << m.captured(1) + QStringLiteral(" -> ") + m.captured(2);
        }
        return entries;
    }
    // Where the notifications and logs stood when an upload was queued.
    struct TMark {
        size_t events, progress;
        qsizetype cmdLog, mainLog;
    };
    TMark Mark() const {
        return {recorder.events.size(), recorder.progress.size(), CmdLog().size(), MainLog().size()};
    }
    QString MainLog() const { return ReadTextFile(MainLogFile, 0); }
};

TEST_F(FirmwareTest, ImagesReachTheLoaderPaddedAndTheRebootedDeviceIsFoundAgain) {
    StartDevice(71);

    // A missing file is refused before anything reaches the device or the windows.
    const QString missing = work.filePath(QStringLiteral("missing.bin"));
    const TMark beforeMissing = Mark();
    EXPECT_EQ(Run(QStringLiteral("_UPD_FIRMWARE ") + missing).value, 0);
    EXPECT_TRUE(MainLog().mid(beforeMissing.mainLog).contains("File does not exists [" + missing + "]"));
    EXPECT_EQ(AppUntilResult(beforeMissing.events), Lines({Line(MSG_DEV_CMD, 0)}));
    EXPECT_TRUE(recorder.progress.empty());

    const struct {
        int size;
        int blocks;
        QStringList entries;
    } cases[] = {
        {300,
         3,
         {"Wait RxR -> OK", "Send block 1 -> 128", "Send block 2 -> 128", "Send block 3 -> 44",
          "Send EOT -> ok"}},
        {256, 2, {"Wait RxR -> OK", "Send block 1 -> 128", "Send block 2 -> 128", "Send EOT -> ok"}},
        {0, 0, {"Wait RxR -> OK", "Send EOT -> ok"}},
        // 12.5, 37.5, 62.5 and 87.5 per cent: the halves go to the even neighbour.
        {1000,
         8,
         {"Wait RxR -> OK", "Send block 1 -> 128", "Send block 2 -> 128", "Send block 3 -> 128",
          "Send block 4 -> 128", "Send block 5 -> 128", "Send block 6 -> 128", "Send block 7 -> 128",
          "Send block 8 -> 104", "Send EOT -> ok"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.size);
        const QString image = work.filePath(QStringLiteral("image%1.bin").arg(c.size));
        const QByteArray data = WriteImage(image, c.size);
        QFile::remove(FirmwareOut());
        const TMark mark = Mark();

        const TEvent result = Run(QStringLiteral("_UPD_FIRMWARE ") + image, 10000);
        QElapsedTimer sinceResult;
        sinceResult.start();
        EXPECT_EQ(result.value, 1);
        EXPECT_EQ(result.lastCmd, QStringLiteral("_UPD_FIRMWARE ") + image);
        // The device is absent for the main window first; the link is dropped before the result.
        EXPECT_EQ(AppUntilResult(mark.events),
                  Lines({Line(MSG_DEV_PRESENT, -1), Line(MSG_DEV_MESSAGE, 0, Done), Line(MSG_DEV_PRESENT, 0),
                         Line(MSG_DEV_CMD, 1)}));
        EXPECT_EQ(ProgressSince(mark.progress), UploadProgress(image, c.blocks, c.blocks, true));
        ASSERT_GT(recorder.progress.size(), mark.progress);
        EXPECT_EQ(recorder.progress[mark.progress].appEvents, mark.events + 1);
        EXPECT_EQ(recorder.progress.back().appEvents, mark.events + 1);
        EXPECT_EQ(Lines(TransferEntries(CmdLog().mid(mark.cmdLog))), Lines(c.entries));
        const QString mainLog = MainLog().mid(mark.mainLog);
        EXPECT_TRUE(mainLog.contains(QStringLiteral("Send %1 bytes by XModem [").arg(c.size) + image + u']'))
            << mainLog.toStdString();
        EXPECT_TRUE(mainLog.contains("Send result: OK")) << mainLog.toStdString();

        // The rebooted device is looked for only after the back-off.
        const int foundBefore = recorder.CountOf(MSG_DEV_PRESENT, 1);
        ASSERT_TRUE(WaitPresent(9000));
        EXPECT_GE(sinceResult.elapsed(), 4900);
        EXPECT_EQ(recorder.CountOf(MSG_DEV_PRESENT, 1), foundBefore + 1);
        EXPECT_TRUE(engine->DevPresent());
        EXPECT_TRUE(QFileInfo::exists(FirmwareOut()));
        EXPECT_EQ(ReadAll(FirmwareOut()), data + QByteArray(c.blocks * 128 - c.size, '\0'));
    }
}

TEST_F(FirmwareTest, CancelFromTheMainThreadTakesEffectBeforeTheNextBlock) {
    StartDevice(72);
    const QString image = work.filePath(QStringLiteral("large.bin"));
    WriteImage(image, 64 * 1024);
    const TMark mark = Mark();
    engine->PutCmd(QStringLiteral("_UPD_FIRMWARE ") + image);
    auto codeSince = [&](int code) -> const TEvent * {
        for (size_t i = mark.events; i < recorder.events.size(); ++i)
            if (recorder.events[i].code == code)
                return &recorder.events[i];
        return nullptr;
    };
    ASSERT_TRUE(PumpUntil(
        [&] {
            return std::any_of(recorder.progress.begin() + qsizetype(mark.progress), recorder.progress.end(),
                               [](const TProgressEvent &p) { return p.code == PROGRESS_PERCENT; });
        },
        10000));
    engine->Cancel();
    ASSERT_TRUE(PumpUntil([&] { return codeSince(MSG_DEV_CMD) != nullptr; }, 10000));

    EXPECT_EQ(codeSince(MSG_DEV_CMD)->value, 0);
    ASSERT_NE(codeSince(MSG_DEV_MESSAGE), nullptr);
    EXPECT_EQ(codeSince(MSG_DEV_MESSAGE)->text, Cancelled);
    EXPECT_EQ(recorder.LastOf(MSG_DEV_PRESENT)->value, 0);
    EXPECT_FALSE(engine->DevPresent());
    // Blocks already under way finish; none starts after the flag is seen.
    const QStringList entries = TransferEntries(CmdLog().mid(mark.cmdLog));
    const auto sent = int(entries.count() - 1);
    EXPECT_GE(sent, 1);
    EXPECT_LT(sent, 512);
    EXPECT_FALSE(entries.join(u'\n').contains("Send EOT"));
    EXPECT_EQ(ProgressSince(mark.progress), UploadProgress(image, 512, sent, false));
    EXPECT_TRUE(CmdLog().mid(mark.cmdLog).contains("Set cancel flag -> ok [0]"));
    EXPECT_TRUE(MainLog().mid(mark.mainLog).contains("Send result: Cancel"));
}

TEST_F(FirmwareTest, LoaderThatNeverInvitesTimesOutAfterTenSeconds) {
    StartDevice(73, {"--loader-fault", "silent:12000"});
    const QString image = work.filePath(QStringLiteral("image.bin"));
    WriteImage(image, 300);
    const TMark mark = Mark();
    const TEvent result = Run(QStringLiteral("_UPD_FIRMWARE ") + image, 15000);
    EXPECT_EQ(result.value, 0);
    EXPECT_EQ(AppUntilResult(mark.events),
              Lines({Line(MSG_DEV_PRESENT, -1),
                     Line(MSG_DEV_MESSAGE, 0,
                          QStringLiteral("Ошибка при передаче прошивки в устройство [Timeout].")),
                     Line(MSG_DEV_PRESENT, 0), Line(MSG_DEV_CMD, 0)}));
    EXPECT_EQ(ProgressSince(mark.progress), UploadProgress(image, 3, 0, false));
    const QRegularExpressionMatch wait =
        QRegularExpression(QStringLiteral("Wait RxR -> Timeout \\[(\\d+)\\]"))
            .match(CmdLog().mid(mark.cmdLog));
    ASSERT_TRUE(wait.hasMatch()) << CmdLog().toStdString();
    EXPECT_GE(wait.captured(1).toInt(), 9900);
    EXPECT_LT(wait.captured(1).toInt(), 11000);
    EXPECT_FALSE(CmdLog().mid(mark.cmdLog).contains("Send block"));
    EXPECT_TRUE(MainLog().mid(mark.mainLog).contains("End firmware update"));
}

TEST_F(FirmwareTest, LoaderThatCancelsGivesTheCancelledMessage) {
    StartDevice(74, {"--loader-fault", "cancel"});
    const QString image = work.filePath(QStringLiteral("image.bin"));
    WriteImage(image, 300);
    const TMark mark = Mark();
    const TEvent result = Run(QStringLiteral("_UPD_FIRMWARE ") + image, 10000);
    EXPECT_EQ(result.value, 0);
    EXPECT_EQ(AppUntilResult(mark.events),
              Lines({Line(MSG_DEV_PRESENT, -1), Line(MSG_DEV_MESSAGE, 0, Cancelled), Line(MSG_DEV_PRESENT, 0),
                     Line(MSG_DEV_CMD, 0)}));
    EXPECT_EQ(ProgressSince(mark.progress), UploadProgress(image, 3, 1, false));
    EXPECT_EQ(Lines(TransferEntries(CmdLog().mid(mark.cmdLog))),
              Lines({"Wait RxR -> OK", "Send block 1 -> -8 [Cancel]"}));
    EXPECT_TRUE(MainLog().mid(mark.mainLog).contains("Send result: Cancel"));
    EXPECT_FALSE(QFileInfo::exists(FirmwareOut()));
}

TEST_F(FirmwareTest, APortThatFailsMidUploadEndsItWithAFailureMessage) {
    StartDevice(75);
    const QString image = work.filePath(QStringLiteral("image.bin"));
    WriteImage(image, 128 * 6);
    // The device vanishes once two blocks are through, while the engine waits in the notification.
    const TMark mark = Mark();
    bool killed = false;
    recorder.onProgress = [&](const TProgressEvent &p) {
        if (!killed && p.code == PROGRESS_PERCENT && p.value == 33) {
            killed = true;
            sim.reset();
        }
    };
    engine->PutCmd(QStringLiteral("_UPD_FIRMWARE ") + image);
    ASSERT_TRUE(PumpUntil(
        [&] { return recorder.LastOf(MSG_DEV_MESSAGE) != nullptr && recorder.CountOf(MSG_DEV_PRESENT, 0) >= 2; },
        20000));
    recorder.onProgress = nullptr;
    EXPECT_TRUE(killed);
    EXPECT_EQ(recorder.LastOf(MSG_DEV_MESSAGE)->text,
              QStringLiteral("Ошибка при передаче прошивки в устройство [COM port not opened]."));
    // No command result: the port error drops the link, and the engine says why in its log.
    EXPECT_EQ(recorder.CountOf(MSG_DEV_CMD, 1), 0);
    EXPECT_TRUE(PumpUntil([&] { return MainLog().mid(mark.mainLog).contains("XComm: TLuPCom(75) error"); }, 3000));
    EXPECT_FALSE(engine->RunningCommand());
}

TEST_F(FirmwareTest, AnImageThatCannotBeReadIsNotReportedSent) {
    StartDevice(76);
    // A file the system lists as a regular file whose reading fails.
    const QString unreadable = QStringLiteral("/proc/self/mem");
    const TMark mark = Mark();
    const TEvent result = Run(QStringLiteral("_UPD_FIRMWARE ") + unreadable, 15000);
    EXPECT_EQ(result.value, 0);
    EXPECT_EQ(recorder.LastOf(MSG_DEV_MESSAGE)->text,
              QStringLiteral("Ошибка при передаче прошивки в устройство [Error of reading the file]."));
    EXPECT_FALSE(CmdLog().mid(mark.cmdLog).contains("Send EOT"));
    EXPECT_TRUE(MainLog().mid(mark.mainLog).contains("File read error [/proc/self/mem]"));
}
