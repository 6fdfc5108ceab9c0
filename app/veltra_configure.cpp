// The configurator's entry point: start-up (folders, settings, logs), the language of the windows
// (the setting lang or the system's locale), then the windows in their order
// (main window, log window, device information, progress, message box) and the event loop.
//
// The setting screenshot=FILE makes a run that shows the window until the tracker's configuration is
// in the tree, saves a picture of the window to FILE and ends: for the demo without a display.
#include "LuVerInfo.h"
#include "common.h"
#include "veltra_commander.h"
#include "veltra_configure_main.h"
#include "veltra_dev_info.h"
#include "veltra_language.h"
#include "veltra_log_view.h"
#include "veltra_msgbox.h"
#include "veltra_look.h"
#include "veltra_progress_info.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QTimer>
#include <cstdio>
#include <memory>

namespace {

// Saves the window once the configuration has been read and every single query answered.
void ScreenshotWhenRead(TVeltraConfigurator &window, const QString &file) {
    auto *poll = new QTimer(&window);
    const QDeadlineTimer limit(60000);
    QObject::connect(poll, &QTimer::timeout, &window, [&window, file, limit] {
        const bool read = !window.Model().IsEmpty() && window.Engine().CmdQuLen() == 0 &&
                          !window.Engine().RunningCommand();
        if (!read && !limit.hasExpired())
            return;
        const bool saved = read && window.grab().save(file);
        std::printf("%s\n", saved ? qPrintable(file) : "no configuration was read");
        QApplication::exit(saved ? 0 : 1);
    });
    poll->start(500);
}

const char *const Usage =
    "Usage: veltra_configure [KEY=VALUE]...\n"
    "The configurator's window for Veltra vehicle tracking terminals: it finds the tracker on a serial\n"
    "port, reads its whole configuration into a tree described by veltra_params.conf, writes changes\n"
    "back and confirms each one, saves and loads configuration files and uploads firmware.\n"
    "\n"
    "Settings (KEY=VALUE) override those of the settings files; the ones changed most:\n"
    "  lang=en|ru             the windows' language (without it: English for an English locale,\n"
    "                         else Russian)\n"
    "  com_ports=N[,N]...     the COM ports searched for the tracker (without it: every port present)\n"
    "  comN=DEVICE            the device of COM port N, e.g. com3=/dev/ttyUSB0\n"
    "  conf_dir=FOLDER/       the folder of the user's own settings file and description\n"
    "  log_level=N            how much the logs tell (9 or more: also the serial traffic)\n"
    "  log_dir=FOLDER/        the logs' folder (default ~/.config/Veltra/)\n"
    "\n"
    "Options:\n"
    "  --help                 show this text\n"
    "  --version              print the program's name and version\n";


} // namespace

int main(int argc, char **argv) {
    if (AnswerHelpOrVersion(argc, argv, Usage))
        return 0;
    QApplication app(argc, argv);
    try {
        StartUp(app.arguments());
    } catch (const std::exception &e) {
        std::fprintf(stderr, "veltra_configure: %s\n", e.what());
        return 1;
    }
    InstallInterfaceLanguage();
    SetUpProgramWindows(app.devicePixelRatio());
    auto window = std::make_unique<TVeltraConfigurator>();
    // The log window's raw lines and the progress window's cancel reach the window's session.
    MainWindowHandle = &window->Session();
    TVeltraLogView logView; // hidden until the main window shows it
    TVeltraDevInfo devInfo;
    TVeltraProgressInfo progress;
    TVeltraMsgBox msgBox;
    window->SetCompanions({&logView, &devInfo, &progress, &msgBox});
    // Closing the main window ends the program, whichever of the others are still open.
    for (QWidget *companion : std::initializer_list<QWidget *>{&logView, &devInfo, &progress, &msgBox})
        companion->setAttribute(Qt::WA_QuitOnClose, false);
    window->show();
    const QString screenshot = AppSettings->GetVal(QStringLiteral("screenshot"));
    if (!screenshot.isEmpty())
        ScreenshotWhenRead(*window, screenshot);
    const int result = app.exec();
    // The main window first: its engine may still notify it, and it may still show the others.
    MainWindowHandle = nullptr;
    window.reset();
    return result;
}
