// The configurator's entry point: start-up (folders, settings, logs), the language of the windows
// (the setting lang or the system's locale), then the windows in their order
// (main window, log window, device information, progress, message box) and the event loop.
//
// The setting screenshot=FILE makes a run that shows the window until the tracker's configuration is
// in the tree, saves a picture of the window to FILE and ends: for the demo without a display.
#include "common.h"
#include "veltra_commander.h"
#include "veltra_configure_main.h"
#include "veltra_dev_info.h"
#include "veltra_language.h"
#include "veltra_log_view.h"
#include "veltra_msgbox.h"
#include "veltra_pictures.h"
#include "veltra_progress_info.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QIcon>
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

} // namespace

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    try {
        StartUp(app.arguments());
    } catch (const std::exception &e) {
        std::fprintf(stderr, "veltra_configure: %s\n", e.what());
        return 1;
    }
    InstallInterfaceLanguage();
    QApplication::setApplicationDisplayName(TVeltraConfigurator::tr("VELTRA - Конфигуратор"));
    // The desktop shows the program's own icon and ties its windows to the menu entry.
    QGuiApplication::setDesktopFileName(QStringLiteral("veltra-configure"));
    QIcon icon;
    for (const int size : {16, 24, 32, 48, 64, 128})
        icon.addPixmap(ProgramIcon(size, app.devicePixelRatio()));
    QApplication::setWindowIcon(icon);
    auto window = std::make_unique<TVeltraConfigurator>();
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
    window.reset();
    return result;
}
