// The configurator's entry point: start-up (folders, settings, logs), then the program proper.
#include "common.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    try {
        StartUp(app.arguments());
    } catch (const std::exception &e) {
        std::fprintf(stderr, "veltra_configure: %s\n", e.what());
        return 1;
    }
    std::printf("settings: %s\nlogs: %s\n", qPrintable(ExeDir), qPrintable(AppSettings->GetVal("log_dir")));
    return 0;
}
