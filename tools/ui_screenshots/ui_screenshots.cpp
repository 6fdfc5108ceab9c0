// Renders the configurator's windows offscreen into PNG files, so that their looks can be checked
// without a display: `ui_screenshots <folder>` writes one file per window and a sheet of the painted
// pictures, then prints the folder; `ui_screenshots <folder> en` draws them in English. Run it with
// QT_SCALE_FACTOR=2 to see them at 200 %. The main window shows the sample description with the simulator's
// configuration loaded from its file (every row marked for writing); the demo shows it filled from the
// simulator itself.
#include "LuFiles.h"
#include "LuHash.h"
#include "LuLed.h"
#include "LuProto.h"
#include "common.h"
#include "notify.h"
#include "sys_message_box.h"
#include "veltra_about.h"
#include "veltra_commander.h"
#include "veltra_compare.h"
#include "veltra_configure_main.h"
#include "veltra_dev_info.h"
#include "veltra_language.h"
#include "veltra_log_view.h"
#include "veltra_msgbox.h"
#include "veltra_password.h"
#include "veltra_pictures.h"
#include "veltra_progress_info.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>
#include <cstdio>
#include <grp.h>
#include <unistd.h>
#include <memory>

namespace {

bool Save(QWidget &window, const QDir &folder, const QString &name) {
    window.show(); // a shown window has its final geometry, font and pixel ratio
    QApplication::processEvents();
    return window.grab().save(folder.filePath(name + QStringLiteral(".png")));
}

QPixmap PictureSheet(qreal devicePixelRatio) {
    constexpr int gap = 12;
    constexpr int iconSize = 72;
    const int width = gap + MsgPictureCount * (MsgPictureSize + gap) + iconSize + gap;
    QPixmap sheet(QSize(width, iconSize + 2 * gap) * devicePixelRatio);
    sheet.setDevicePixelRatio(devicePixelRatio);
    sheet.fill(QColor(0xF0, 0xF0, 0xF0));
    QPainter painter(&sheet);
    int x = gap;
    for (int picture = 0; picture < MsgPictureCount; ++picture, x += MsgPictureSize + gap)
        painter.drawPixmap(x, gap + (iconSize - MsgPictureSize) / 2,
                           MsgBoxPicture(picture, devicePixelRatio));
    painter.drawPixmap(x, gap, ProgramIcon(iconSize, devicePixelRatio));
    return sheet;
}

bool SaveMsgBoxes(const QDir &folder) {
    TVeltraMsgBox box;
    box.ShowMsg(TVeltraCommander::ForUser("Ошибка при передаче прошивки в устройство [%1].")
                    .arg(TLuXYModem::GetErrorText(xmTimeout)),
                MB_ICONERROR, 10);
    // One tick of the countdown, so that the button shows its number.
    QMetaObject::invokeMethod(box.findChild<QTimer *>(QStringLiteral("Timer")), "timeout");
    bool ok = Save(box, folder, QStringLiteral("msgbox_error"));
    box.ShowMsg(TVeltraCommander::ForUser("Обновление прошивки завершено. Устройство будет перезагружено."),
                MB_ICONWARNING, 10);
    return Save(box, folder, QStringLiteral("msgbox_warning")) && ok;
}

bool SavePassword(const QDir &folder) {
    TVeltraPassword password;
    password.findChild<QLineEdit *>(QStringLiteral("EdPassword"))->setText(QStringLiteral("secret"));
    bool ok = Save(password, folder, QStringLiteral("password_masked"));
    password.findChild<QCheckBox *>(QStringLiteral("CbShowPassword"))->setChecked(true);
    return Save(password, folder, QStringLiteral("password_shown")) && ok;
}

bool SaveDevInfo(const QDir &folder) {
    TVeltraDevInfo info;
    info.UpdateDevInfo(QStringLiteral("\rDevName=VT-300\rDevIMEI=356938035643809\rDevHwVersion=0102"
                                      "\rDevSwVersion=0347\r"));
    return Save(info, folder, QStringLiteral("dev_info"));
}

bool SaveProgress(const QDir &folder) {
    TVeltraProgressInfo progress;
    progress.BeginInfo();
    progress.SetGlobalInfo(
        TVeltraCommander::ForUser("Загрузка прошивки из файла [%1]").arg("/home/engineer/firmware_0347.bin"));
    progress.SetCurrentInfo(TVeltraCommander::ForUser("Блок %1 из %2").arg(120).arg(310));
    progress.SetProgress(39);
    return Save(progress, folder, QStringLiteral("progress"));
}

// The question the window asks when a port is refused for want of permission: for a device of the
// group dialout, as serial ports are, when this user may hand a file to that group, else for one
// no group may use.
bool SavePortMessage(TVeltraConfigurator &window, const QDir &folder) {
    const QTemporaryDir dir;
    const QString port = dir.filePath(QStringLiteral("ttyUSB0"));
    QFile(port).open(QIODevice::WriteOnly);
    if (const group *dialout = ::getgrnam("dialout"))
        if (::chown(QFile::encodeName(port).constData(), -1, dialout->gr_gid) == 0)
            QFile::setPermissions(port, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
                                            QFileDevice::WriteGroup);
    std::unique_ptr<QMessageBox> box;
    SetSysMessageBoxHook([&box](const QString &caption, const QString &text, int flags) {
        box = NewSysMessageBox(caption, text, flags, nullptr);
        return IDOK;
    });
    AppMessage = RegisterMessageName(QStringLiteral("ui_screenshots"));
    SendNotification(&window.Session(), AppMessage, MSG_PORT_DENIED, 1, port);
    QApplication::processEvents();
    SetSysMessageBoxHook({});
    return box && Save(*box, folder, QStringLiteral("port_permission"));
}

bool SaveMainWindow(const QDir &folder) {
    AppSettings = new TLuHash();
    AppSettings->SetVal(QStringLiteral("conf_dir"), QStringLiteral(VELTRA_DATA_DIR "/"));
    AppSettings->SetVal(QStringLiteral("com_ports"), QStringLiteral("250")); // no device: the engine idles
    AppSettings->SetVal(QStringLiteral("com250"), QStringLiteral("/nonexistent/tty"));
    TVeltraConfigurator window;
    window.resize(900, 620);
    window.LoadConfigFrom(QStringLiteral(VELTRA_DATA_DIR "/devsim_default.cfg"));
    window.ParamsTree().expandAll();
    window.ParamsTree().setCurrentIndex(window.ViewIndex(window.Model().Root(0)->children[1].get()));
    bool ok = Save(window, folder, QStringLiteral("main_window"));
    // And with a value being edited in its list.
    TParamNode *node = window.FindParamNode(QStringLiteral("SRV_PROTO"));
    window.ParamsTree().setCurrentIndex(window.ViewIndex(node));
    window.ParamsTree().edit(window.ViewIndex(node, 1));
    ok = Save(window, folder, QStringLiteral("main_window_editing")) && ok;
    // And narrowed by the filter line (Ctrl+F).
    window.Action(QStringLiteral("ActFind"))->trigger();
    window.findChild<QLineEdit *>(QStringLiteral("FilterEdit"))->setText(QStringLiteral("server"));
    ok = Save(window, folder, QStringLiteral("main_window_filter")) && ok;
    return SavePortMessage(window, folder) && ok;
}

// Log files as the program writes them, a few lines each, for the log window's pages.
void WriteSampleLogs(const QTemporaryDir &dir) {
    const auto write = [&dir](QString &file, const char *name, const QString &lines) {
        file = dir.filePath(QString::fromLatin1(name));
        WriteTextFile(file, lines, true);
    };
    write(MainLogFile, "veltra_configure.log",
          QStringLiteral("20260309 101500 [init] Veltra Configure 1.4.2 started\r\n"
                         "20260309 101500 [init] log_dir=/home/engineer/.config/Veltra/log/\r\n"
                         "20260309 101502 [main] MSG_DEV_PRESENT: 1\r\n"
                         "20260309 101502 [main] Device: VT-300 IMEI 356938035643809\r\n"
                         "20260309 101503 [main] Configuration read: 42 parameters\r\n"));
    write(CmdLogFile, "cmd.log",
          QStringLiteral("20260309 101501 [comm] > R_INFO\r\n"
                         "20260309 101501 [comm] <   INFO VT-300;356938035643809;0102;0347\r\n"
                         "20260309 101502 [comm] > R_CFG\r\n"
                         "20260309 101503 [comm] <   CFG 42 lines\r\n"
                         "20260309 101508 [comm] > S_NOP\r\n"
                         "20260309 101508 [comm] <   OK\r\n"));
    write(ComLogFile, "com.log",
          QStringLiteral("20260309 101501 [comm] TX 52 5F 49 4E 46 4F 0D 0A              R_INFO..\r\n"
                         "20260309 101501 [comm] RX 20 20 49 4E 46 4F 20 56 54 2D 33 30    INFO VT-30\r\n"
                         "20260309 101501 [comm] RX 30 3B 33 35 36 39 33 38 30 33 35 36  0;3569380356\r\n"));
    write(DbgLogFile, "dbg.log",
          QStringLiteral("20260309 101500 [help] Scan: COM3 COM7\r\n"
                         "20260309 101501 [help] COM7 answered R_INFO\r\n"
                         "20260309 101505 [help] Idle, keep-alive in 5 s\r\n"));
}

bool SaveLogView(const QDir &folder) {
    QTemporaryDir dir;
    WriteSampleLogs(dir);
    TVeltraLogView view;
    auto *pages = view.findChild<QTabWidget *>(QStringLiteral("LogPages"));
    bool ok = true;
    for (int page = 0; page < pages->count(); ++page) {
        pages->setCurrentIndex(page);
        ok = Save(view, folder, QStringLiteral("log_view_%1").arg(page + 1)) && ok;
    }
    return ok;
}

// Every style of the lamp in every state, one row a style, on the window's background.
bool SaveLeds(const QDir &folder) {
    QWidget sheet;
    auto *grid = new QGridLayout(&sheet);
    grid->setHorizontalSpacing(4);
    const std::pair<TLuLedStyle, const char *> styles[] = {
        {ldsDrawing, "ldsDrawing"},
        {ldsDigitBigRed, "ldsDigitBigRed"},
        {ldsDigitBigGreen, "ldsDigitBigGreen"},
        {ldsDigitSmallRed, "ldsDigitSmallRed"},
        {ldsDigitSmallGreen, "ldsDigitSmallGreen"},
        {ldsHorizontal, "ldsHorizontal"},
        {ldsVertical, "ldsVertical"},
        {ldsSquare, "ldsSquare"},
        {ldsRound, "ldsRound"},
        {ldsSoft, "ldsSoft"},
        {ldsUserDefined, "ldsUserDefined"},
    };
    int row = 0;
    for (const auto &[style, name] : styles) {
        grid->addWidget(new QLabel(QString::fromLatin1(name), &sheet), row, 0);
        auto *first = new TLuLed(&sheet);
        first->SetLedStyle(style);
        for (int state = 0; state < first->StatesCount(); ++state) {
            TLuLed *led = state == 0 ? first : new TLuLed(&sheet);
            led->SetLedStyle(style);
            led->SetState(state);
            grid->addWidget(led, row, state + 1);
        }
        ++row;
    }
    // The main window's device lamp, lit and dark.
    grid->addWidget(new QLabel(QStringLiteral("DevLed"), &sheet), row, 0);
    for (const bool lit : {true, false}) {
        auto *led = new TLuLed(&sheet);
        led->SetColorOn(QColor(0, 128, 0));
        led->setFixedSize(12, 21);
        led->SetLit(lit);
        grid->addWidget(led, row, lit ? 1 : 2);
    }
    return Save(sheet, folder, QStringLiteral("leds"));
}

bool SaveCompare(const QDir &folder) {
    const QList<TConfigDifference> differences{{"SRV_PORT", "21000", "21001", true, true},
                                               {"APN_NAME", "internet", QString(), true, false},
                                               {"DEV_LABEL", QString(), "Bus 12", false, true}};
    TVeltraCompare compare(QStringLiteral("/home/engineer/fleet/bus12.cfg"), differences,
                           [](const QString &key) { return key == u"SRV_PORT" ? QStringLiteral("Server port") : QString(); });
    return Save(compare, folder, QStringLiteral("compare"));
}

} // namespace

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    ProgramPath = QCoreApplication::applicationFilePath(); // this tool carries a version block
    const QDir folder(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath());
    if (argc > 2 &&
        ChooseInterfaceLanguage(QString::fromLocal8Bit(argv[2]), QLocale::c()) == TInterfaceLanguage::English)
        InstallInterfaceLanguage(TInterfaceLanguage::English);
    if (!folder.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "ui_screenshots: cannot create %s\n", qPrintable(folder.path()));
        return 1;
    }
    TVeltraAbout about;
    const bool ok =
        SaveMsgBoxes(folder) && SavePassword(folder) && SaveDevInfo(folder) && SaveProgress(folder) &&
        Save(about, folder, QStringLiteral("about")) && SaveMainWindow(folder) && SaveCompare(folder) && SaveLogView(folder) &&
        SaveLeds(folder) &&
        PictureSheet(app.devicePixelRatio()).save(folder.filePath(QStringLiteral("pictures.png")));
    if (!ok) {
        std::fprintf(stderr, "ui_screenshots: cannot write the pictures into %s\n",
                     qPrintable(folder.path()));
        return 1;
    }
    std::printf("%s\n", qPrintable(QDir::toNativeSeparators(folder.absolutePath())));
    return 0;
}
