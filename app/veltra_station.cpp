// The provisioning station's window: start-up as the configurator's (folders, settings, logs, the
// language), then the job (the setting job=FILE, or chosen in a dialog), a slot per port of com_ports
// and the event loop. Closing the window stops the station; jobs under way are recorded as interrupted.
//
// The setting screenshot=FILE makes a run that saves a picture of the window once every tracker on
// the bench is finished (or after a minute) and ends: for the demo without a display.
#include "LuVerInfo.h"
#include "common.h"
#include "param_description.h"
#include "provisioning_station.h"
#include "station_window.h"
#include "veltra_language.h"
#include "veltra_look.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QTimer>
#include <cstdio>
#include <memory>

namespace {

const char *const Usage =
    "Usage: veltra_station [KEY=VALUE]...\n"
    "The provisioning station for Veltra vehicle tracking terminals: a tile per bench socket (each\n"
    "port of com_ports); every tracker plugged in gets the job's configuration, its own values from\n"
    "the job's table and the job's firmware when it reports another version, is read back and\n"
    "recorded in the audit. Nothing is asked: plug a tracker in, take it out when its tile is green.\n"
    "\n"
    "Settings (KEY=VALUE) override those of the settings files; the ones changed most:\n"
    "  job=FILE               the job (without it the window asks for one)\n"
    "  com_ports=N[,N]...     the station's ports, one slot each\n"
    "  comN=DEVICE            the device of COM port N, e.g. com3=/dev/serial/by-path/...\n"
    "  audit=FILE             the audit (default: Veltra/audit/NAME.jsonl in the user's\n"
    "                         configuration folder), with a CSV report beside it\n"
    "  station=NAME           the station's name in the audit (default: the host name)\n"
    "  params=FILE            the parameter description the job is checked against\n"
    "  lang=en|ru             the window's language\n"
    "  log_dir=FOLDER/        the logs' folder; each slot logs into slots/COMn/ there\n"
    "\n"
    "Options:\n"
    "  --help                 show this text\n"
    "  --version              print the program's name and version\n";

bool AnswerOption(int argc, char **argv) {
    const QByteArray option = argc == 2 ? QByteArray(argv[1]) : QByteArray();
    if (option != "--help" && option != "--version")
        return false;
    QCoreApplication core(argc, argv);
    if (option == "--help")
        std::fputs(Usage, stdout);
    else
        std::printf("%s\n", qPrintable(VersionLine(QCoreApplication::applicationFilePath())));
    return true;
}

// Start-up makes the program's folder the current one: the paths given are fixed before that.
QStringList AbsolutePaths(QStringList arguments) {
    for (QString &argument : arguments)
        for (const char *key : {"job=", "params=", "audit="})
            if (argument.startsWith(QLatin1String(key)) && argument.size() > int(strlen(key)))
                argument = QLatin1String(key) + QFileInfo(argument.mid(int(strlen(key)))).absoluteFilePath();
    return arguments;
}

// The description the job is checked against: params=FILE, or the configurator's places.
TLuHash LoadDescription() {
    TLuHash description;
    const QString file = AppSettings->GetVal(QStringLiteral("params"));
    if (file.isEmpty())
        LoadParamsDescription(description, {ExeDir, ParentDir, ConfDirPrefix()});
    else
        description.Load(file, true);
    return description;
}

// What the window hears goes on to it, and the summary line follows every change.
class TWindowFeed : public TStationObserver {
public:
    TProvisioningStation *station = nullptr;
    TStationWindow *window = nullptr;
    void SlotChanged(const TSlotState &state) override {
        if (window) {
            window->SlotChanged(state);
            window->ShowSummary(station->Summary());
        }
    }
    void Recorded(const TAuditRecord &record) override {
        if (window)
            window->Recorded(record);
    }
    void Warning(const QString &text) override {
        if (window)
            window->Warning(text);
    }
};

// Saves the window once no slot works and a tracker has been finished, or after a minute.
void ScreenshotWhenFinished(TStationWindow &window, const TProvisioningStation &station, const QString &file) {
    auto *poll = new QTimer(&window);
    const QDeadlineTimer limit(60000);
    QObject::connect(poll, &QTimer::timeout, &window, [&window, &station, file, limit] {
        const TStationSummary s = station.Summary();
        if ((s.inProgress > 0 || s.done + s.failed + s.skipped == 0) && !limit.hasExpired())
            return;
        const bool saved = window.grab().save(file);
        std::printf("%s\n", saved ? qPrintable(file) : "the picture was not saved");
        QApplication::exit(saved ? 0 : 1);
    });
    poll->start(500);
}

} // namespace

int main(int argc, char **argv) {
    if (AnswerOption(argc, argv))
        return 0;
    QApplication app(argc, argv);
    try {
        StartUp(AbsolutePaths(app.arguments()));
    } catch (const std::exception &e) {
        std::fprintf(stderr, "veltra_station: %s\n", e.what());
        return 1;
    }
    InstallInterfaceLanguage();
    SetUpProgramWindows(app.devicePixelRatio());
    QString job = AppSettings->GetVal(QStringLiteral("job"));
    if (job.isEmpty())
        job = QFileDialog::getOpenFileName(nullptr, TStationWindow::tr("Задание станции"), QString(),
                                           TStationWindow::tr("Задания (*.job);;Все файлы (*)"));
    if (job.isEmpty())
        return 1;
    TWindowFeed feed;
    TProvisioningStation station(feed);
    QStringList problems;
    if (!station.Start(job, LoadDescription(), problems)) {
        std::fprintf(stderr, "veltra_station: %s\n", qPrintable(problems.join(u'\n')));
        if (AppSettings->GetVal(QStringLiteral("screenshot")).isEmpty())
            QMessageBox::critical(nullptr, TStationWindow::tr("VELTRA - Станция"),
                                  TStationWindow::tr("Задание не запущено, в трекеры ничего не записано:") +
                                      QStringLiteral("\n\n") + problems.join(u'\n'));
        return 6;
    }
    QList<TSlotState> states;
    for (const auto &slot : station.Slots())
        states << slot->State();
    TStationWindow window(station.Job().name, states);
    feed.station = &station;
    feed.window = &window;
    QTimer summary;
    QObject::connect(&summary, &QTimer::timeout, &window, [&] { window.ShowSummary(station.Summary()); });
    summary.start(1000);
    window.resize(900, 600);
    window.show();
    const QString screenshot = AppSettings->GetVal(QStringLiteral("screenshot"));
    if (!screenshot.isEmpty())
        ScreenshotWhenFinished(window, station, screenshot);
    const int result = app.exec();
    summary.stop();
    // The slots' last events (interruptions among them) still reach the window.
    station.Stop();
    feed.window = nullptr;
    return result;
}
