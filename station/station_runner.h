// TStationRunner: a station as a front end runs it, from a job file or from the jobs a broker brings
// (joined when the settings name one). A job that arrives while trackers are being worked waits until
// every slot is idle; a withdrawn job stops the slots. veltra_cli station and the station's window
// are front ends on it.
#pragma once

#include "provisioning_station.h"
#include "station_uplink.h"

#include <functional>
#include <memory>

class TStationRunner {
public:
    struct TFront {
        TStationObserver *observer = nullptr;            // every slot event and record
        std::function<void(const QString &text)> say;    // the station's own news, for a person
        std::function<void(const QStringList &problems)> refused; // a job that does not start
        std::function<void(TProvisioningStation &)> started;      // a job has started
    };

    TStationRunner(const TLuHash &description, TFront front);
    ~TStationRunner();

    // With broker= in the settings: joins it as the setting station (name) of station_group.
    bool JoinBroker(QString &error);
    bool StartJob(const QString &file);
    void StartPendingWhenIdle();
    void Stop();

    TProvisioningStation *Station() const { return fstation.get(); }
    bool Idle() const { return !fstation || fstation->Summary().inProgress == 0; }
    // Of the station running now, or of the last one stopped.
    TStationSummary Summary() const { return fstation ? fstation->Summary() : fsummary; }
    QString AuditFile() const { return fstation ? fstation->Audit().FileName() : fauditFile; }
    QString ReportFile() const { return fstation ? fstation->Audit().CsvFileName() : freportFile; }

private:
    TStationObserver &Observer();
    void StopStation();

    const TLuHash fdescription;
    TFront ffront;
    TStationSummary fsummary;
    QString fauditFile, freportFile, fpendingJob, fpendingName;
    std::unique_ptr<TStationUplink> fuplink;
    std::unique_ptr<TProvisioningStation> fstation; // last: its slots report to the others
};
