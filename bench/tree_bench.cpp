// The parameter tree at size: a description of N parameters in 100 groups, for N = 10 000 and 20 000.
// Prints, for each N, the time from BuildParamsTree to the window painted once, a configuration file
// of N entries loaded and painted, the marks of a whole write batch cleared one confirmation at a time
// as the window takes a command result (the main-log line, FindParamNode, unmark, write action) and a
// keystroke in the filter line, then the 20 000 / 10 000 ratios (2.0 is linear).
#include "LuFiles.h"
#include "bench_description.h"
#include "common.h"
#include "params_tree.h"
#include "veltra_configure_main.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTemporaryDir>
#include <cstdio>

namespace {

void WriteDescription(const QString &file, int params) {
    WriteTextFile(file, BenchDescription(params, [](int i) {
        return QStringLiteral("name = Parameter %1\n  type = int").arg(i);
    }), true);
}

struct TFigures {
    qint64 build, load, clear, filter;
};

TFigures Measure(int params, const QTemporaryDir &dir) {
    ExeDir = dir.filePath(QStringLiteral("bin%1/").arg(params));
    QDir().mkpath(ExeDir);
    WriteDescription(ExeDir + QStringLiteral("veltra_params.conf"), params);
    QString config;
    for (int i = 0; i < params; ++i)
        config += BenchKey(i) + QStringLiteral("=%1\r\n").arg(i);
    const QString configFile = dir.filePath(QStringLiteral("config%1.cfg").arg(params));
    WriteTextFile(configFile, config, true);

    TVeltraConfigurator window;
    window.show();
    QApplication::processEvents();
    QElapsedTimer clock;
    clock.start();
    window.Action(QStringLiteral("ActDevSim"))->trigger();
    window.grab();
    TFigures f{};
    f.build = clock.restart();
    window.LoadConfigFrom(configFile);
    window.grab();
    f.load = clock.restart();
    // Each write confirmed, as the engine reports it.
    for (int i = 0; i < params; ++i)
        SendNotification(&window.Session(), AppMessage, MSG_DEV_CMD, 1, QString(),
                         std::any(TCmdResult{TDeviceCommand::Write(BenchKey(i), QString::number(i)), true,
                                             QStringLiteral("OK")}));
    f.clear = clock.restart();
    // One keystroke in the filter line: the whole tree filtered and painted again.
    auto *filter = window.findChild<QLineEdit *>(QStringLiteral("FilterEdit"));
    filter->setText(QStringLiteral("Parameter 99"));
    window.grab();
    f.filter = clock.elapsed();
    return f;
}

} // namespace

int main(int argc, char **argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QElapsedTimer start;
    start.start();
    QApplication app(argc, argv);
    QTemporaryDir dir;
    AppSettings = new TLuHash();
    AppSettings->SetVal(QStringLiteral("com_ports"), QStringLiteral("250"));
    AppSettings->SetVal(QStringLiteral("com250"), QStringLiteral("/nonexistent/tty"));
    ParentDir = dir.path() + u'/';
    // The main log is written as in the program: every confirmation adds its line.
    MainLogFile = dir.filePath(QStringLiteral("main.log"));
    {
        TVeltraConfigurator window;
        window.show();
        QApplication::processEvents();
        std::printf("window_shown: %lld ms\n", static_cast<long long>(start.elapsed()));
    }
    const TFigures small = Measure(10000, dir);
    const TFigures large = Measure(20000, dir);
    const auto line = [](const char *name, qint64 a, qint64 b) {
        std::printf("%s: %lld ms at 10000, %lld ms at 20000, ratio %.2f\n", name, static_cast<long long>(a),
                    static_cast<long long>(b), a > 0 ? double(b) / double(a) : 0.0);
    };
    line("build_and_paint", small.build, large.build);
    line("load_and_paint", small.load, large.load);
    line("clear_marks", small.clear, large.clear);
    line("filter_keystroke", small.filter, large.filter);
    return 0;
}
