// The main window against the device simulator on a pseudo-terminal: what a person sees (the LED, the
// status strip, the tree and its marks, the enabled actions), the main-log lines, and what reaches the
// device. Questions are answered through the hooks; nothing waits on a real modal box.
#include "main_window_fixture.h"

#include <QMenu>
#include <QMenuBar>

#include <grp.h>

TEST_F(MainWindowTest, TheSimulationBuildsTheWorkedExample) {
    Describe(WorkedExample);
    Open({}, false);
    EXPECT_FALSE(window->LedLit());
    EXPECT_EQ(window->StatusText(), "нет устройства");
    EXPECT_FALSE(window->Action("ActDevReadCfg")->isEnabled());
    window->Action("ActDevSim")->trigger();
    EXPECT_TRUE(window->LedLit());
    EXPECT_TRUE(window->Action("ActDevReadCfg")->isEnabled());
    EXPECT_EQ(TreeText(), "Link\n  Server address=\n  Server port=\nMode\n  Mode=\n  Flags=\n  Period=\nNote=\n");
    // The first group is expanded and selected; its description shows; the refresh list holds PAR_MODE.
    const QModelIndex link = window->ViewIndex(window->Model().Root(0));
    EXPECT_TRUE(window->ParamsTree().isExpanded(link));
    EXPECT_EQ(window->ParamsTree().currentIndex(), link);
    EXPECT_EQ(window->DescriptionText(), "Server connection");
    EXPECT_EQ(window->RefreshParams().GetText(), "PAR_MODE");
    EXPECT_FALSE(window->ParamsTree().isExpanded(window->ViewIndex(window->Model().Root(1))));
    EXPECT_EQ(window->Model().headerData(0, Qt::Horizontal).toString(), "Параметр");
    EXPECT_EQ(window->Model().headerData(1, Qt::Horizontal).toString(), "Значение");
}

TEST_F(MainWindowTest, ConnectingReadsTheConfigurationIntoTheTree) {
    Describe(SimDescription);
    Open();
    ASSERT_TRUE(WaitRead());
    EXPECT_TRUE(window->LedLit());
    EXPECT_EQ(window->StatusText(), "VT-300 [ 356938035643809 ]");
    for (const char *name : {"ActDevReadCfg", "ActDevShowInfo", "ActDevReboot", "ActDevUpdFirmware"})
        EXPECT_TRUE(window->Action(name)->isEnabled()) << name;
    EXPECT_FALSE(window->Action("ActDevWriteCfg")->isEnabled());
    EXPECT_EQ(TreeText(), "Сервер\n  Адрес=203.0.113.25\n  Порт=21000\n  Резервный адрес=NOT USE\n"
                          "Сигнал=18\nНет в трекере=\n");
    const QString log = MainLog();
    // Log entries are trimmed: the labels' leading blanks do not reach the file.
    for (const char *line : {"[main] MSG_DEV_PRESENT: 1", "[main] Device connected", "[main] Type:  VT-300",
                             "[main] IMEI:  356938035643809", "[main] VerHw: 0012", "[main] VerSw: 0345",
                             "[main] MSG_DEV_CMD: R_CFG -> 1", "[main] MSG_DEV_CMD: R_NO_SUCH_PARAM -> 0",
                             "[main] Read device parameter [R_NO_SUCH_PARAM -> "})
        EXPECT_TRUE(log.contains(line)) << line;
    EXPECT_TRUE(QRegularExpression("Device config readed \\[\\d+\\]").match(log).hasMatch());
    // "NOT USE" cannot be edited; a value can.
    const TParamNode *spare = window->FindParamNode("SRV2_ADDR");
    EXPECT_FALSE(window->Model().flags(window->Model().IndexOf(const_cast<TParamNode *>(spare), 1)) & Qt::ItemIsEditable);
    EXPECT_TRUE(window->Model().flags(window->Model().IndexOf(window->FindParamNode("SRV_PORT"), 1)) & Qt::ItemIsEditable);
}

TEST_F(MainWindowTest, AWriteClearsEachMarkAsTheDeviceConfirmsIt) {
    Describe(SimDescription);
    Open({"--reject", "SRV_ADDR"});
    ASSERT_TRUE(WaitRead());
    Edit("SRV_PORT", "21001");
    Edit("SRV_ADDR", "198.51.100.7");
    EXPECT_TRUE(window->Action("ActDevWriteCfg")->isEnabled());
    EXPECT_TRUE(window->HasChangedParams());
    window->Action("ActDevWriteCfg")->trigger();
    ASSERT_TRUE(WaitUntil([&] { return MainLog().contains("Configuration writed OK"); }, 10000));
    EXPECT_FALSE(window->FindParamNode("SRV_PORT")->data.changed);
    EXPECT_TRUE(window->FindParamNode("SRV_ADDR")->data.changed); // refused by the device
    EXPECT_TRUE(window->Action("ActDevWriteCfg")->isEnabled());
    const QString log = MainLog();
    EXPECT_TRUE(log.contains("[main] CMD(S_SRV_PORT=21001) -> OK [")) << log.toStdString();
    EXPECT_TRUE(log.contains("[main] CMD(S_SRV_ADDR=198.51.100.7) -> ERROR ["));
    EXPECT_TRUE(log.contains("[main] Write summary: 1 written, 1 refused: SRV_ADDR")) << log.toStdString();
    EXPECT_EQ(window->statusBar()->currentMessage(), "Записано параметров: 1, не принято трекером: 1 (SRV_ADDR)");
    // An unchanged edit marks nothing.
    Edit("SRV2_ADDR", "NOT USE");
    EXPECT_FALSE(window->FindParamNode("SRV2_ADDR")->data.changed);
}

TEST_F(MainWindowTest, ThePasswordIsAskedForAndSent) {
    Describe(SimDescription);
    QString asked;
    person.password = [&](QString &password) {
        asked = QStringLiteral("yes");
        password = QStringLiteral("s3cr3t");
        return true;
    };
    Open({"--password", "s3cr3t"});
    ASSERT_TRUE(WaitRead(15000));
    EXPECT_EQ(asked, "yes");
    EXPECT_EQ(window->StatusText(), "VT-300 [ 356938035643809 ]");
    EXPECT_EQ(window->FindParamNode("SRV_PORT")->data.value, "21000");
    for (const QString &log : {MainLogFile, CmdLogFile})
        EXPECT_FALSE(ReadTextFile(log, 0).contains("s3cr3t")) << log.toStdString();
    EXPECT_TRUE(MainLog().contains("[main] MSG_DEV_CMD: S_PASSNOW=*** -> 1"));
}

TEST_F(MainWindowTest, TheCloseQueryAsksOnlyAboutUnwrittenChanges) {
    Describe(WorkedExample);
    Open({}, false);
    window->Action("ActDevSim")->trigger();
    EXPECT_TRUE(window->close()); // nothing changed: no question
    EXPECT_TRUE(questions.isEmpty());

    Open({}, false);
    window->Action("ActDevSim")->trigger();
    Edit("PAR_PORT", "80");
    answer = IDCANCEL;
    EXPECT_FALSE(window->close());
    ASSERT_EQ(questions.size(), 1);
    EXPECT_EQ(questions[0], "Некоторые параметры были изменены. Записать их в трекер?");
    // Yes without a tracker: the user is told, and the window stays open instead of waiting for ever.
    answer = IDYES;
    EXPECT_FALSE(window->close());
    EXPECT_TRUE(questions.last().startsWith("Трекер не подключён")) << questions.last().toStdString();
    answer = IDNO;
    EXPECT_TRUE(window->close());
    const QString log = MainLog();
    EXPECT_EQ(log.count("Close query: false"), 2);
    EXPECT_EQ(log.count("Close query: true"), 2);
}

TEST_F(MainWindowTest, ConfigurationFilesComeBackWithTheirMarks) {
    Describe(QByteArray(WorkedExample) + "_FW = {\n  name = Firmware\n}\n");
    Open({}, false);
    window->Action("ActDevSim")->trigger();
    Edit("PAR_PORT", "8080");
    Edit("PAR_NOTE", "bus 12");
    const QString file = dir.filePath(QStringLiteral("saved.cfg"));
    person.file = [&](bool save, const QString &title, const QString &folder, const QString &name,
                      const QList<TFileFilter> &filters) {
        EXPECT_EQ(title, save ? "Сохранение конфигурации" : "Загрузка конфигурации");
        EXPECT_EQ(FileFiltersText(filters), "Файлы конфигурации (*.cfg) (*.cfg);;Все файлы (*)");
        EXPECT_EQ(folder, ExeDir);
        EXPECT_EQ(name, "veltra_.cfg");
        return file;
    };
    window->Action("ActSaveCfg")->trigger();
    QFile saved(file);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    // Keys starting with "_" are never copied from the tree.
    EXPECT_EQ(saved.readAll(), "grp_link=\r\nPAR_ADDR=\r\nPAR_PORT=8080\r\ngrp_mode=\r\nPAR_MODE=\r\nPAR_FLAGS=\r\n"
                               "PAR_PERIOD=\r\nPAR_NOTE=bus 12");
    saved.close();
    EXPECT_TRUE(window->FindParamNode("PAR_PORT")->data.changed); // saving is not writing

    QFile edited(file);
    ASSERT_TRUE(edited.open(QIODevice::Append));
    edited.write("\r\nPAR_MODE=NOT USE\r\n_FW=345\r\n");
    edited.close();
    window->Action("ActLoadCfg")->trigger();
    const QString first = TreeText();
    EXPECT_EQ(first, "Link\n  Server address=*\n  Server port=8080*\nMode\n  Mode=NOT USE\n  Flags=*\n  Period=*\n"
                     "Note=bus 12*\nFirmware=345\n");
    window->Action("ActLoadCfg")->trigger();
    EXPECT_EQ(TreeText(), first);

    // A file that cannot be written says so.
    const QString unwritable = dir.filePath(QStringLiteral("saved.cfg/inside.cfg"));
    EXPECT_FALSE(window->SaveConfigTo(unwritable));
    ASSERT_FALSE(questions.isEmpty());
    EXPECT_TRUE(questions.last().startsWith("Не удалось сохранить конфигурацию в файл [" + unwritable + "]: "));
}

// Closing the program while the engine is busy with the device ends within seconds.
TEST_F(MainWindowTest, ClosingDuringAReadAWriteOrAnUploadEndsCleanly) {
    Describe(SimDescription);
    const QString image = dir.filePath(QStringLiteral("image.bin"));
    QFile big(image);
    ASSERT_TRUE(big.open(QIODevice::WriteOnly));
    big.write(QByteArray(256 * 1024, 'x'));
    big.close();
    for (const char *phase : {"read", "write", "upload"}) {
        SCOPED_TRACE(phase);
        Open({"--delay", "50"});
        ASSERT_TRUE(WaitUntil([&] { return window->LedLit(); }, 10000));
        if (QByteArray(phase) == "write") {
            ASSERT_TRUE(WaitRead());
            for (int i = 0; i < 20; ++i)
                Edit("SRV_PORT", QString::number(30000 + i));
            window->Action("ActDevWriteCfg")->trigger();
        } else if (QByteArray(phase) == "upload") {
            ASSERT_TRUE(WaitRead());
            window->Engine().PutCmd(QStringLiteral("_UPD_FIRMWARE ") + image);
            ASSERT_TRUE(WaitUntil([&] { return progress.isVisible(); }, 5000));
            ServeFor(300);
        }
        QElapsedTimer clock;
        clock.start();
        window.reset();
        EXPECT_LT(clock.elapsed(), 5000);
        EXPECT_TRUE(MainLog().contains(QRegularExpression("Destroy \\[\\d+\\]")));
    }
}

TEST_F(MainWindowTest, NotificationsWithoutADeviceBehaveAsTheWindowShowsThem) {
    Describe(WorkedExample);
    Open({}, false);
    window->Action("ActDevSim")->trigger();
    Edit("PAR_MODE", "auto");
    // Going absent with 0 keeps the tree and its marks; with -1 (a firmware upload) clears both.
    SendNotification(MainWindowHandle, AppMessage, MSG_DEV_PRESENT, 0, QString());
    EXPECT_FALSE(window->LedLit());
    EXPECT_EQ(window->StatusText(), "нет устройства");
    EXPECT_FALSE(window->Action("ActDevReadCfg")->isEnabled());
    EXPECT_TRUE(window->FindParamNode("PAR_MODE")->data.changed);
    EXPECT_TRUE(window->Action("ActDevWriteCfg")->isEnabled());
    SendNotification(MainWindowHandle, AppMessage, MSG_DEV_PRESENT, -1, QString());
    EXPECT_TRUE(window->Model().IsEmpty());
    EXPECT_EQ(window->DescriptionText(), "");

    // A message's first character picks the picture and is dropped; a letter stays.
    SendNotification(MainWindowHandle, AppMessage, MSG_DEV_MESSAGE, 0, QStringLiteral("?Продолжить?"));
    EXPECT_TRUE(msgBox.isVisible());
    EXPECT_EQ(Control<QLabel>(msgBox, "Msg")->text(), "Продолжить?");
    SendNotification(MainWindowHandle, AppMessage, MSG_DEV_MESSAGE, 0, QStringLiteral("Готово"));
    EXPECT_EQ(Control<QLabel>(msgBox, "Msg")->text(), "Готово");

    // Progress codes go to the progress window; code 20 with 0 does nothing.
    SendNotification(MainWindowHandle, ProgressMessage, PROGRESS_SHOW, 0, QString());
    EXPECT_TRUE(progress.isVisible());
    SendNotification(MainWindowHandle, ProgressMessage, PROGRESS_PERCENT, 40, QString());
    EXPECT_EQ(Control<QProgressBar>(progress, "ProgressBar")->value(), 40);
    SendNotification(MainWindowHandle, ProgressMessage, PROGRESS_CANCEL, 0, QString());
    EXPECT_FALSE(ReadTextFile(CmdLogFile, 0).contains("Set cancel flag"));
    SendNotification(MainWindowHandle, ProgressMessage, PROGRESS_HIDE, 0, QString());
    EXPECT_FALSE(progress.isVisible());
}

TEST_F(MainWindowTest, TheRefreshReadsOnlyUnmarkedParametersAndDropsAnswersForMarkedOnes) {
    Describe(SimDescription);
    AppSettings->SetVal(QStringLiteral("refresh_interval"), QStringLiteral("3"));
    Open();
    EXPECT_EQ(window->RefreshPeriodMs(), 3000);
    ASSERT_TRUE(WaitRead());
    EXPECT_EQ(window->RefreshParams().GetText(), "GSM_SIGNAL");
    window->RefreshTick();
    ASSERT_TRUE(WaitUntil([&] { return MainLog().contains("MSG_DEV_CMD: R_GSM_SIGNAL -> 1") && Idle(); }, 5000));
    // A marked node is not refreshed, and a single read's answer leaves it alone.
    Edit("GSM_SIGNAL", "99");
    const qsizetype before = MainLog().count("MSG_DEV_CMD: R_GSM_SIGNAL");
    window->RefreshTick();
    ServeFor(500);
    EXPECT_EQ(MainLog().count("MSG_DEV_CMD: R_GSM_SIGNAL"), before);
    window->Engine().PutCmd(QStringLiteral("R_GSM_SIGNAL"));
    ASSERT_TRUE(WaitUntil([&] { return MainLog().count("MSG_DEV_CMD: R_GSM_SIGNAL") > before && Idle(); }, 5000));
    EXPECT_EQ(window->FindParamNode("GSM_SIGNAL")->data.value, "99");
}

TEST_F(MainWindowTest, AFirmwareUploadThroughTheWindowReachesTheLoader) {
    Describe(SimDescription);
    const QString image = dir.filePath(QStringLiteral("image.bin"));
    const QString received = dir.filePath(QStringLiteral("received.bin"));
    QFile file(image);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(300, 'f'));
    file.close();
    Open({"--firmware-out", received});
    ASSERT_TRUE(WaitRead());
    QString title;
    person.file = [&](bool, const QString &t, const QString &, const QString &, const QList<TFileFilter> &) {
        title = t;
        return image;
    };
    bool shown = false;
    window->Action("ActDevUpdFirmware")->trigger();
    EXPECT_EQ(title, "Выбор файла прошивки");
    ASSERT_TRUE(WaitUntil([&] {
        shown = shown || progress.isVisible();
        return msgBox.isVisible();
    }, 20000));
    EXPECT_TRUE(shown);
    EXPECT_FALSE(progress.isVisible());
    EXPECT_EQ(Control<QLabel>(msgBox, "Msg")->text(), "Обновление прошивки завершено. Устройство будет перезагружено.");
    QFile got(received);
    ASSERT_TRUE(WaitUntil([&] { return got.exists(); }, 5000));
    ASSERT_TRUE(got.open(QIODevice::ReadOnly));
    EXPECT_EQ(got.readAll().left(300), QByteArray(300, 'f'));
    // The device comes back after its reboot and the configuration is read again.
    EXPECT_TRUE(WaitUntil([&] { return window->LedLit() && !window->Model().IsEmpty(); }, 20000));
    // What it held before the update was saved first.
    EXPECT_EQ(ListBackups(AppDataDir, "356938035643809").filter("-firmware.cfg").size(), 1);
}

TEST_F(MainWindowTest, TheLogWindowOpensBesideTheMainWindow) {
    Describe(WorkedExample);
    Open({}, false);
    QWidget log(nullptr, Qt::Window);
    log.resize(100, 100);
    window->SetCompanions({&log, nullptr, &progress, &msgBox});
    window->move(10, 10);
    QCoreApplication::processEvents();
    // Its shortcut is a second one only: it opens the window, and the menu shows no shortcut.
    EXPECT_TRUE(window->Action("ActShowLog")->shortcut().isEmpty());
    QTest::keyClick(window.get(), Qt::Key_L, Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier);
    EXPECT_TRUE(log.isVisible());
    EXPECT_EQ(log.pos().x(), window->frameGeometry().right() + 2);
    EXPECT_EQ(log.pos().y(), window->frameGeometry().top() + 24);
    // Where it would pass the screen's right or bottom edge, it ends there instead.
    const QRect screen = window->screen()->geometry();
    log.resize(screen.width() / 2, screen.height());
    window->Action("ActShowLog")->trigger();
    EXPECT_EQ(log.frameGeometry().right(), screen.right());
    EXPECT_EQ(log.frameGeometry().bottom(), screen.bottom());
}

// The whole way of a raw command: typed on the log window's "Debug" page, sent by the main window to
// the simulator, and the device's answer shown on that page from the debug log.
TEST_F(MainWindowTest, ACommandTypedOnTheDebugPageReachesTheDeviceAndItsAnswerShows) {
    Describe(SimDescription);
    Open();
    ASSERT_TRUE(WaitRead());
    TVeltraLogView logView;
    window->SetCompanions({&logView, nullptr, &progress, &msgBox});
    window->Action("ActShowLog")->trigger();
    Control<QTabWidget>(logView, "LogPages")->setCurrentIndex(3);
    QLineEdit *line = Control<QComboBox>(logView, "CbCmd")->lineEdit();
    line->clear();
    QTest::keyClicks(line, "r_srv_port");
    QTest::keyClick(line, Qt::Key_Return);
    const TLuTtyBox *box = logView.BoxForTag(4);
    ASSERT_TRUE(WaitUntil([&] { return box->toPlainText().contains("SRV_PORT=21000"); }, 5000))
        << box->toPlainText().toStdString() << "\n--- debug log:\n" << ReadTextFile(DbgLogFile, 0).toStdString();
    EXPECT_TRUE(box->toPlainText().contains("\n>R_SRV_PORT\n"));
    EXPECT_TRUE(MainLog().contains("R_SRV_PORT")) << MainLog().toStdString();
}

TEST_F(MainWindowTest, ValuesTheDescriptionRefusesAreShownAndSentOnlyWhenTheUserAgrees) {
    Describe(SimDescription);
    Open();
    ASSERT_TRUE(WaitRead());
    TParamNode *port = window->FindParamNode("SRV_PORT");
    const QModelIndex cell = window->Model().IndexOf(port, 1);
    EXPECT_FALSE(cell.data(Qt::ToolTipRole).isValid());
    Edit("SRV_PORT", "21x");
    EXPECT_EQ(cell.data(Qt::ToolTipRole).toString(), "не целое десятичное число");
    EXPECT_EQ(cell.data(Qt::ForegroundRole).value<QColor>(), TParamsModel::WarningColor());
    // A parameter the device did not report is missing, not wrong.
    EXPECT_FALSE(window->Model().IndexOf(window->FindParamNode("NO_SUCH_PARAM"), 1).data(Qt::ToolTipRole).isValid());

    answer = IDNO;
    window->Action("ActDevWriteCfg")->trigger();
    ASSERT_EQ(questions.size(), 1);
    EXPECT_TRUE(questions[0].contains("SRV_PORT")) << questions[0].toStdString();
    ServeFor(300);
    EXPECT_FALSE(MainLog().contains("S_SRV_PORT=21x"));
    EXPECT_TRUE(port->data.changed);

    answer = IDYES;
    window->Action("ActDevWriteCfg")->trigger();
    EXPECT_EQ(questions.size(), 2);
    ASSERT_TRUE(WaitUntil([&] { return MainLog().contains("Write summary:"); }, 10000));
    EXPECT_TRUE(MainLog().contains("CMD(S_SRV_PORT=21x)"));
}

TEST_F(MainWindowTest, TheFilterKeepsMatchingRowsAndTheirGroupsUntilEscape) {
    Describe(WorkedExample);
    Open({}, false);
    window->Action("ActDevSim")->trigger();
    QTreeView &tree = window->ParamsTree();
    const auto shown = [&](const char *key) {
        const QModelIndex index = window->ViewIndex(window->FindParamNode(QString::fromLatin1(key)));
        return index.isValid() && !tree.isRowHidden(index.row(), index.parent());
    };
    QWidget *bar = Control<QWidget>(*window, "FilterBar");
    EXPECT_TRUE(bar->isHidden());
    QTest::keyClick(window.get(), Qt::Key_F, Qt::ControlModifier);
    EXPECT_FALSE(bar->isHidden());
    auto *edit = Control<QLineEdit>(*window, "FilterEdit");
    QTest::keyClicks(edit, "PORT"); // any case, in the name "Server port"
    EXPECT_TRUE(shown("PAR_PORT"));
    EXPECT_TRUE(shown("grp_link"));
    for (const char *key : {"PAR_ADDR", "grp_mode", "PAR_MODE", "PAR_NOTE"})
        EXPECT_FALSE(shown(key)) << key;

    edit->clear();
    Edit("PAR_PERIOD", "5m");
    Control<QCheckBox>(*window, "FilterChanged")->setChecked(true);
    EXPECT_TRUE(shown("PAR_PERIOD"));
    EXPECT_TRUE(shown("grp_mode"));
    EXPECT_FALSE(shown("PAR_MODE"));
    EXPECT_FALSE(shown("grp_link"));

    QTest::keyClick(edit, Qt::Key_Escape);
    EXPECT_TRUE(bar->isHidden());
    for (const char *key : {"PAR_ADDR", "grp_mode", "PAR_MODE", "PAR_NOTE", "grp_link"})
        EXPECT_TRUE(shown(key)) << key;
    EXPECT_TRUE(window->FindParamNode("PAR_PERIOD")->data.changed); // the filter changes nothing else
}

// Before a write the device's own values are saved; a saved configuration loads like a file; without
// a place for the backup the write waits for the user's word.
TEST_F(MainWindowTest, AWriteIsPrecededByABackupThatCanBeLoadedBack) {
    Describe(SimDescription);
    Open();
    ASSERT_TRUE(WaitRead());
    Edit("SRV_PORT", "21001");
    window->Action("ActDevWriteCfg")->trigger();
    ASSERT_TRUE(WaitUntil([&] { return MainLog().contains("Write summary:"); }, 10000));
    const QStringList backups = ListBackups(AppDataDir, "356938035643809");
    ASSERT_EQ(backups.size(), 1);
    EXPECT_TRUE(ReadTextFile(backups[0], 0).contains("SRV_PORT=21000\r\n"));
    EXPECT_TRUE(MainLog().contains("Backup of the device's configuration: " + backups[0]));

    window->Action("ActDevBackups")->trigger();
    auto *dialog = window->findChild<TVeltraBackups *>();
    ASSERT_NE(dialog, nullptr);
    ASSERT_EQ(Control<QListWidget>(*dialog, "BackupList")->count(), 1);
    Control<QPushButton>(*dialog, "BtnLoad")->click();
    EXPECT_EQ(window->FindParamNode("SRV_PORT")->data.value, "21000");
    EXPECT_TRUE(window->FindParamNode("SRV_PORT")->data.changed); // loaded like a file: marked for writing

    // A file where the backups' folder should be: the write asks, and No writes nothing.
    QDir(AppDataDir + "backups").removeRecursively();
    QFile blocker(AppDataDir + "backups");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    answer = IDNO;
    window->Action("ActDevWriteCfg")->trigger();
    ASSERT_EQ(questions.size(), 1);
    EXPECT_TRUE(questions[0].startsWith("Не удалось сохранить резервную копию")) << questions[0].toStdString();
    ServeFor(500);
    EXPECT_FALSE(MainLog().contains("CMD(S_SRV_PORT=21000)"));
    EXPECT_TRUE(window->FindParamNode("SRV_PORT")->data.changed);
}

TEST_F(MainWindowTest, ComparingWithAFileLoadsOnlyTheDifferencesWhenAsked) {
    Describe(SimDescription);
    Open();
    ASSERT_TRUE(WaitRead());
    const QString file = dir.filePath("other.cfg");
    WriteTextFile(file, "SRV_ADDR=203.0.113.25\r\nSRV_PORT=1\r\nSRV2_ADDR=NOT USE\r\n_IMEI=1\r\n", true);
    window->CompareWithFile(file);
    auto *dialog = window->findChild<TVeltraCompare *>();
    ASSERT_NE(dialog, nullptr);
    auto *table = Control<QTableWidget>(*dialog, "Differences");
    // SRV_PORT differs; every other parameter of the device is missing from the file.
    ASSERT_GT(table->rowCount(), 1);
    QStringList rows;
    for (int row = 0; row < table->rowCount(); ++row)
        if (table->item(row, 0)->text() == "SRV_PORT")
            rows << table->item(row, 1)->text() + "|" + table->item(row, 2)->text() + "|" + table->item(row, 3)->text();
    EXPECT_EQ(rows, QStringList({"Порт|21000|1"}));
    Control<QPushButton>(*dialog, "BtnLoadDifferences")->click();
    EXPECT_EQ(window->FindParamNode("SRV_PORT")->data.value, "1");
    EXPECT_TRUE(window->FindParamNode("SRV_PORT")->data.changed);
    EXPECT_FALSE(window->FindParamNode("SRV_ADDR")->data.changed); // the same on both sides
    EXPECT_FALSE(window->FindParamNode("GSM_SIGNAL")->data.changed); // only on the device
    EXPECT_EQ(window->Model().ChangedCount(), 1);
}

TEST_F(MainWindowTest, APortRefusedForPermissionIsExplainedOnceWithItsGroup) {
    // A port as serial devices are: its group may read and write it, its owner (this user) may not.
    const QString port = dir.filePath(QStringLiteral("ttyLocked"));
    QFile(port).open(QIODevice::WriteOnly);
    const group *dialout = ::getgrnam("dialout");
    if (!dialout || ::chown(QFile::encodeName(port).constData(), -1, dialout->gr_gid) != 0)
        GTEST_SKIP() << "giving a file to the group dialout needs root";
    QFile::setPermissions(port, QFileDevice::ReadGroup | QFileDevice::WriteGroup);
    const QString group = QStringLiteral("dialout");
    {
        TPermissionBitsHold hold;
        ASSERT_TRUE(hold.Held());
        AppSettings->SetVal(QStringLiteral("com_ports"), QStringLiteral("9"));
        AppSettings->SetVal(QStringLiteral("com9"), port);
        window = std::make_unique<TVeltraConfigurator>();
        window->SetQuestions(&person);
        ShowWindow(*window);
        ASSERT_TRUE(WaitUntil([&] { return !questions.isEmpty(); }, 5000)) << MainLog().toStdString();
        EXPECT_TRUE(questions[0].startsWith("Нет доступа к последовательному порту " + port +
                                            ": он принадлежит группе " + group + '.'))
            << questions[0].toStdString();
        EXPECT_TRUE(questions[0].contains("sudo usermod -aG " + group + " $USER"))
            << questions[0].toStdString();
        EXPECT_TRUE(MainLog().contains("Permission denied on " + port)) << MainLog().toStdString();
        // Later scans, and the engine telling again, do not ask again.
        const int scans = window->Engine().LastScan().scans;
        EXPECT_TRUE(WaitUntil([&] { return window->Engine().LastScan().scans >= scans + 2; }, 5000));
        SendNotification(&window->Session(), AppMessage, MSG_PORT_DENIED, 1, port);
        ServeFor(50);
        EXPECT_EQ(questions.size(), 1);
        window.reset();
    }
}

TEST_F(MainWindowTest, TheConfigurationDialogsLeaveAProgramFolderTheUserCannotWrite) {
    Describe(WorkedExample);
    Open({}, false);
    QStringList folders;
    person.file = [&](bool, const QString &, const QString &folder, const QString &, const QList<TFileFilter> &) {
        folders << folder;
        return QString();
    };
    const QFileDevice::Permissions writable = QFile::permissions(ExeDir);
    QFile::setPermissions(ExeDir, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    {
        TPermissionBitsHold hold;
        ASSERT_TRUE(hold.Held());
        window->Action("ActSaveCfg")->trigger();
        window->Action("ActLoadCfg")->trigger();
    }
    QFile::setPermissions(ExeDir, writable);
    window->Action("ActSaveCfg")->trigger();
    ASSERT_EQ(folders.size(), 3);
    EXPECT_NE(folders[0], ExeDir);
    EXPECT_TRUE(DirExists(folders[0])) << folders[0].toStdString();
    EXPECT_EQ(folders[1], folders[0]);
    EXPECT_EQ(folders[2], ExeDir);
    EXPECT_EQ(QDir(ExeDir).entryList(QDir::Files | QDir::Hidden), QStringList{"veltra_params.conf"});
}

// Ctrl+Z and Ctrl+Shift+Z take edits and loads back and forth, values and marks together; a write
// the tracker confirmed ends the history.
TEST_F(MainWindowTest, EditsAndLoadsAreUndoneAndRedoneUntilAWriteEndsTheirHistory) {
    Describe(SimDescription);
    Open();
    ASSERT_TRUE(WaitRead());
    const QString read = TreeText();
    const auto key = [&](Qt::Key k, Qt::KeyboardModifiers modifiers) {
        QTest::keyClick(window.get(), k, modifiers);
        QCoreApplication::processEvents();
    };
    EXPECT_FALSE(window->Action("ActUndo")->isEnabled());
    Edit("SRV_PORT", "8080");
    Edit("SRV_ADDR", "198.51.100.7");
    const QString edited = TreeText();
    EXPECT_EQ(edited, "Сервер\n  Адрес=198.51.100.7*\n  Порт=8080*\n  Резервный адрес=NOT USE\nСигнал=18\nНет в трекере=\n");
    key(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(TreeText(), "Сервер\n  Адрес=203.0.113.25\n  Порт=8080*\n  Резервный адрес=NOT USE\nСигнал=18\nНет в трекере=\n");
    EXPECT_EQ(window->statusBar()->currentMessage(), "Отменено: изменение SRV_ADDR");
    key(Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(TreeText(), edited);
    EXPECT_EQ(window->statusBar()->currentMessage(), "Возвращено: изменение SRV_ADDR");

    const QString file = dir.filePath(QStringLiteral("other.cfg"));
    WriteTextFile(file, QStringLiteral("SRV_PORT=9\r\nSRV2_ADDR=198.51.100.9\r\nNOT_DESCRIBED=5\r\n"), true);
    window->LoadConfigFrom(file);
    EXPECT_EQ(window->FindParamNode("SRV2_ADDR")->data.value, "198.51.100.9");
    EXPECT_EQ(window->DevParams().GetVal("NOT_DESCRIBED"), "5");
    key(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(TreeText(), edited);
    EXPECT_LT(window->DevParams().KeyIndex("NOT_DESCRIBED"), 0); // the file's other keys go with it
    EXPECT_EQ(window->statusBar()->currentMessage(), "Отменено: загрузка файла other.cfg");
    key(Qt::Key_Z, Qt::ControlModifier);
    key(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(TreeText(), read);
    EXPECT_FALSE(window->Action("ActDevWriteCfg")->isEnabled());
    EXPECT_FALSE(window->Action("ActUndo")->isEnabled());
    key(Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_TRUE(window->Action("ActDevWriteCfg")->isEnabled());

    // A value the tracker reports anew ends the history that would put an older one back.
    key(Qt::Key_Z, Qt::ControlModifier);
    ASSERT_TRUE(window->Action("ActRedo")->isEnabled());
    SendNotification(&window->Session(), AppMessage, MSG_DEV_CMD, 1, QString(),
                     std::any(TCmdResult{TDeviceCommand::Read(QStringLiteral("SRV_PORT")), true, QStringLiteral("21005")}));
    EXPECT_EQ(window->FindParamNode("SRV_PORT")->data.value, "21005");
    EXPECT_FALSE(window->Action("ActRedo")->isEnabled());
    Edit("SRV_PORT", "8080");

    window->Action("ActDevWriteCfg")->trigger();
    ASSERT_TRUE(WaitUntil([&] { return MainLog().contains("Configuration writed OK"); }, 10000));
    EXPECT_FALSE(window->FindParamNode("SRV_PORT")->data.changed);
    EXPECT_FALSE(window->Action("ActUndo")->isEnabled());
    EXPECT_FALSE(window->Action("ActRedo")->isEnabled());
    // The menus keep their entries: the two actions are on none.
    QStringList onMenus;
    for (QAction *menu : window->menuBar()->actions())
        for (QAction *item : menu->menu()->actions())
            onMenus << item->objectName();
    EXPECT_FALSE(onMenus.contains("ActUndo") || onMenus.contains("ActRedo")) << onMenus.join(u' ').toStdString();
}

// Ten seconds without a tracker: the status strip offers the machine-side reasons, as the doctor
// finds them, in a message; a tracker found takes the offer away.
TEST_F(MainWindowTest, WithoutATrackerTheStatusStripOffersTheMachineSideReasons) {
    Describe(WorkedExample);
    Open({}, false); // COM9 is /nonexistent/tty9
    auto *hint = Control<QPushButton>(*window, "NoDeviceHint");
    ASSERT_TRUE(hint);
    EXPECT_TRUE(hint->isHidden());
    ServeFor(TVeltraConfigurator::NoDeviceDelayMs - 2000);
    EXPECT_TRUE(hint->isHidden());
    ASSERT_TRUE(WaitUntil([&] { return !hint->isHidden(); }, 4000));
    EXPECT_EQ(hint->text(), "Трекер не найден: почему?");
    hint->click();
    ASSERT_EQ(questions.size(), 1);
    EXPECT_TRUE(questions[0].contains("COM9 (/nonexistent/tty9)\n  /nonexistent/tty9 does not exist\n    plug the "
                                      "adapter in"))
        << questions[0].toStdString();
    window->Action("ActDevSim")->trigger();
    EXPECT_TRUE(hint->isHidden());
}
