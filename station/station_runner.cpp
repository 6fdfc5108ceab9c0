#include "station_runner.h"

#include "common.h"

#include <QCoreApplication>

TStationRunner::TStationRunner(const TLuHash &description, TFront front)
    : fdescription(description), ffront(std::move(front)) {}

TStationRunner::~TStationRunner() {
    Stop();
}

bool TStationRunner::JoinBroker(QString &error) {
    TStationUplink::TSetup setup;
    if (!ParseBrokerSettings(*AppSettings, setup.broker, error))
        return false;
    setup.station = TProvisioningStation::StationName();
    setup.group = AppSettings->GetVal(QStringLiteral("station_group")).trimmed();
    // The same id after a restart takes the old connection over; a station under another's name (and
    // so another user) does not push the real one off.
    setup.broker.clientId = QStringLiteral("veltra-station-%1-%2").arg(setup.station, setup.broker.user);
    setup.jobsFolder = AppDataDir + QStringLiteral("jobs");
    setup.description = fdescription;
    setup.next = ffront.observer;
    // Started by the front end's next tick, not inside the broker's notification: a dialog there
    // would hold the network thread.
    setup.jobArrived = [this](const QString &file, const QString &name) {
        // The same job again (the broker repeats what it keeps at every reconnection): nothing new.
        if ((fstation && fstation->Job().file == file) || fpendingJob == file)
            return;
        ffront.say(QStringLiteral("Job %1 received").arg(name));
        fpendingJob = file;
        fpendingName = name;
    };
    setup.jobWithdrawn = [this](const QString &name) {
        if (!fpendingJob.isEmpty() && BrokerTopics::Level(fpendingName) == name) {
            fpendingJob.clear();
            ffront.say(QStringLiteral("Job %1 withdrawn before it started").arg(fpendingName));
        }
        if (fstation && BrokerTopics::Level(fstation->Job().name) == name) {
            ffront.say(QStringLiteral("Job %1 withdrawn: the slots stop").arg(fstation->Job().name));
            StopStation();
        }
    };
    setup.say = ffront.say;
    fuplink = std::make_unique<TStationUplink>(setup);
    return fuplink->Start(error);
}

TStationObserver &TStationRunner::Observer() {
    return fuplink ? static_cast<TStationObserver &>(*fuplink) : *ffront.observer;
}

bool TStationRunner::StartJob(const QString &file) {
    StopStation();
    fstation = std::make_unique<TProvisioningStation>(Observer());
    QStringList problems;
    if (!fstation->Start(file, fdescription, problems)) {
        fstation.reset();
        ffront.refused(problems);
        return false;
    }
    if (fuplink)
        fuplink->SetStation(fstation.get());
    ffront.started(*fstation);
    return true;
}

void TStationRunner::StartPendingWhenIdle() {
    if (!fpendingJob.isEmpty() && Idle())
        StartJob(std::exchange(fpendingJob, QString()));
}

void TStationRunner::StopStation() {
    if (!fstation)
        return;
    fstation->Stop();
    fsummary = fstation->Summary();
    fauditFile = fstation->Audit().FileName();
    freportFile = fstation->Audit().CsvFileName();
    if (fuplink)
        fuplink->SetStation(nullptr);
    fstation.reset();
}

void TStationRunner::Stop() {
    StopStation();
    if (fuplink)
        fuplink->Stop();
    fuplink.reset();
}
