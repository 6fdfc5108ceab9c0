// Renders the configurator's windows offscreen into PNG files, so that their looks can be checked
// without a display: `ui_screenshots <folder>` writes one file per window and a sheet of the painted
// pictures, then prints the folder. Run it with QT_SCALE_FACTOR=2 to see them at 200 %. The main
// window shows the sample description with the simulator's configuration loaded from its file (every
// row marked for writing); the demo shows it filled from the simulator itself.
#include "LuHash.h"
#include "common.h"
#include "sys_message_box.h"
#include "veltra_about.h"
#include "veltra_dev_info.h"
#include "veltra_msgbox.h"
#include "veltra_password.h"
#include "veltra_pictures.h"
#include "veltra_configure_main.h"
#include "veltra_progress_info.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QPainter>
#include <QTimer>
#include <QTreeView>
#include <cstdio>
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
    box.ShowMsg(QStringLiteral("Ошибка записи параметра SRV_PORT: трекер ответил ERROR. "
                               "Проверьте значение и повторите запись."),
                MB_ICONERROR, 10);
    // One tick of the countdown, so that the button shows its number.
    QMetaObject::invokeMethod(box.findChild<QTimer *>(QStringLiteral("Timer")), "timeout");
    bool ok = Save(box, folder, QStringLiteral("msgbox_error"));
    box.ShowMsg(QStringLiteral("Обновление программы завершено."), MB_ICONWARNING, 10);
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
    progress.SetGlobalInfo(QStringLiteral("Обновление программы трекера из файла firmware_0347.bin"));
    progress.SetCurrentInfo(QStringLiteral("Передача блока 120 из 310"));
    progress.SetProgress(39);
    return Save(progress, folder, QStringLiteral("progress"));
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
    window.ParamsTree().setCurrentIndex(window.Model().index(1, 0, window.Model().index(0, 0)));
    bool ok = Save(window, folder, QStringLiteral("main_window"));
    // And with a value being edited in its list.
    TParamNode *node = window.FindParamNode(QStringLiteral("SRV_PROTO"));
    window.ParamsTree().setCurrentIndex(window.Model().IndexOf(node, 0));
    window.ParamsTree().edit(window.Model().IndexOf(node, 1));
    return Save(window, folder, QStringLiteral("main_window_editing")) && ok;
}

} // namespace

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    ProgramPath = QCoreApplication::applicationFilePath(); // this tool carries a version block
    const QDir folder(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath());
    if (!folder.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "ui_screenshots: cannot create %s\n", qPrintable(folder.path()));
        return 1;
    }
    TVeltraAbout about;
    const bool ok =
        SaveMsgBoxes(folder) && SavePassword(folder) && SaveDevInfo(folder) && SaveProgress(folder) &&
        Save(about, folder, QStringLiteral("about")) && SaveMainWindow(folder) &&
        PictureSheet(app.devicePixelRatio()).save(folder.filePath(QStringLiteral("pictures.png")));
    if (!ok) {
        std::fprintf(stderr, "ui_screenshots: cannot write the pictures into %s\n",
                     qPrintable(folder.path()));
        return 1;
    }
    std::printf("%s\n", qPrintable(QDir::toNativeSeparators(folder.absolutePath())));
    return 0;
}
