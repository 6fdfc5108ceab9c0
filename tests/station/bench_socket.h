// A socket of the provisioning bench for the tests: a fixed path (the station's comN) that leads to
// whichever simulated tracker is plugged in; plugging in another re-points it, pulling one out leaves
// it leading nowhere, as a USB socket's stable name does.
#pragma once

#include "devsim_process.h"

#include <QFile>
#include <gtest/gtest.h>
#include <memory>
#include <unistd.h>

class TSocket {
public:
    TSocket(const QString &path) : fpath(path) {}
    void Plug(const QStringList &simArgs) {
        sim = std::make_unique<TDevSimProcess>(simArgs);
        const QString link = fpath + QStringLiteral(".new");
        QFile::remove(link);
        ASSERT_EQ(::symlink(sim->SlavePath().toLocal8Bit().constData(), link.toLocal8Bit().constData()), 0);
        ASSERT_EQ(::rename(link.toLocal8Bit().constData(), fpath.toLocal8Bit().constData()), 0);
    }
    void Unplug() { sim.reset(); }
    std::unique_ptr<TDevSimProcess> sim;

private:
    QString fpath;
};

