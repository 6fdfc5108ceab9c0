// The provisioning station's window: start-up as the configurator's (folders, settings, logs, the
// language), then the job (the setting job=FILE, chosen in a dialog, or, with broker=, the jobs
// published for the station there), a slot per port of com_ports and the event loop. Closing the window stops the station; jobs under way are recorded as interrupted.
//
// The setting screenshot=FILE makes a run that saves a picture of the window once every tracker on
// the bench is finished (or after a minute) and ends: for the demo without a display.
#include "LuVerInfo.h"
#include "common.h"
#include "pcomm_sio.h"
#include "provisioning_station.h"
#include "station_runner.h"
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
    "  job=FILE               the job (without it the window asks for one, unless a broker is given)\n"
    "  broker=mqtts://HOST[:PORT]  take the jobs published for station= or station_group= there,\n"
    "                         and report every slot and record to it (broker_user, broker_pass_file,\n"
    "                         broker_ca, broker_cert, broker_key as for veltra_cli station)\n"
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


// What the window hears goes on to it, and the summary line follows every change.
class TWindowFeed : public TStationObserver {
public:
    TStationRunner *runner = nullptr;
    TStationWindow *window = nullptr;
    void SlotChanged(const TSlotState &state) override {
        if (window) {
            window->SlotChanged(state);
            window->ShowSummary(runner->Summary());
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

// The tiles before any job: one per port, waiting.
QList<TSlotState> PortTiles() {
    QList<TSlotState> states;
    for (int port : TProvisioningStation::StationPorts()) {
        TSlotState state;
        state.name = QStringLiteral("COM%1").arg(port);
        state.port = port;
        state.path = sio_PortPath(port);
        states << state;
    }
    return states;
}

// Saves the window once no slot works and a tracker has been finished, or after a minute.
void ScreenshotWhenFinished(TStationWindow &window, const TStationRunner &runner, const QString &file) {
    auto *poll = new QTimer(&window);
    const QDeadlineTimer limit(60000);
    QObject::connect(poll, &QTimer::timeout, &window, [&window, &runner, file, limit] {
        const TStationSummary s = runner.Summary();
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
    if (AnswerHelpOrVersion(argc, argv, Usage))
        return 0;
    QApplication app(argc, argv);
    for (const QString &argument : app.arguments())
        if (argument.startsWith(QStringLiteral("broker_pass="))) {
            std::fprintf(stderr, "veltra_station: broker_pass= is not taken from the command line (every user can "
                                 "read it in the process list): put it in veltra_station.conf or give "
                                 "broker_pass_file=FILE\n");
            return 1;
        }
    try {
        StartUp(WithAbsolutePaths(app.arguments(), {"job=", "params=", "audit=", "broker_ca=", "broker_cert=",
                                                    "broker_key=", "broker_pass_file="}));
    } catch (const std::exception &e) {
        std::fprintf(stderr, "veltra_station: %s\n", e.what());
        return 1;
    }
    InstallInterfaceLanguage();
    SetUpProgramWindows(app.devicePixelRatio());
    const bool broker = !AppSettings->GetVal(QStringLiteral("broker")).isEmpty();
    const bool picture = !AppSettings->GetVal(QStringLiteral("screenshot")).isEmpty();
    QString job = AppSettings->GetVal(QStringLiteral("job"));
    if (job.isEmpty() && !broker)
        job = QFileDialog::getOpenFileName(nullptr, TStationWindow::tr("Задание станции"), QString(),
                                           TStationWindow::tr("Задания (*.job);;Все файлы (*)"));
    if (job.isEmpty() && !broker)
        return 1;
    TWindowFeed feed;
    TStationWindow window(TStationWindow::tr("ожидание задания"), PortTiles());
    TStationRunner::TFront front;
    front.observer = &feed;
    front.say = [&window](const QString &text) { window.Warning(text); };
    front.refused = [&window, picture](const QStringList &problems) {
        std::fprintf(stderr, "veltra_station: %s\n", qPrintable(problems.join(u'\n')));
        window.Warning(problems.join(u' '));
        if (!picture)
            QMessageBox::critical(&window, TStationWindow::tr("VELTRA - Станция"),
                                  TStationWindow::tr("Задание не запущено, в трекеры ничего не записано:") +
                                      QStringLiteral("\n\n") + problems.join(u'\n'));
    };
    front.started = [&window](TProvisioningStation &station) { window.SetJobName(station.Job().name); };
    TStationRunner runner(StationDescription(), front);
    feed.runner = &runner;
    feed.window = &window;
    QString error;
    if (broker && !runner.JoinBroker(error)) {
        std::fprintf(stderr, "veltra_station: %s\n", qPrintable(error));
        return 6;
    }
    if (!job.isEmpty() && !runner.StartJob(job))
        return 6;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, &window, [&] {
        runner.StartPendingWhenIdle();
        window.ShowSummary(runner.Summary());
    });
    tick.start(1000);
    window.resize(900, 600);
    window.show();
    if (picture)
        ScreenshotWhenFinished(window, runner, AppSettings->GetVal(QStringLiteral("screenshot")));
    const int result = app.exec();
    tick.stop();
    // The slots' last events (interruptions among them) still reach the window.
    runner.Stop();
    feed.window = nullptr;
    return result;
}
