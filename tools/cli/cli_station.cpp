#include "cli_station.h"

#include "cli_interrupt.h"
#include "cli_session.h"
#include "common.h"
#include "provisioning_station.h"
#include "station_runner.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

namespace {

void PrintJsonLine(const QJsonObject &object) {
    Print(QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)) + u'\n');
}

QString Clock() {
    return QDateTime::currentDateTime().toString(QStringLiteral("HH:mm:ss"));
}

// What the stage means beyond its name: how far the write is, the upload's percent, the reason.
QString StageDetail(const TSlotState &s) {
    QString text;
    if (s.stage == TSlotStage::Writing)
        text = QStringLiteral("%1 of %2").arg(s.written).arg(s.toWrite);
    else if (s.stage == TSlotStage::Firmware && s.percent > 0)
        text = QStringLiteral("%1%").arg(s.percent);
    if (!s.detail.isEmpty())
        text += (text.isEmpty() ? QString() : QStringLiteral(", ")) + s.detail;
    return text;
}

class TStationPrinter : public TStationObserver {
public:
    TStationPrinter(bool json, int trackers) : fjson(json), ftrackers(trackers) {}

    int finished = 0;   // trackers recorded or skipped
    int unfinished = 0; // records other than done

    void SlotChanged(const TSlotState &s) override {
        // The write's progress goes out at each tenth and at its end, not at every value.
        if (s.stage == TSlotStage::Writing && s.written != s.toWrite && s.toWrite >= 10 &&
            s.written % (s.toWrite / 10) != 0)
            return;
        if (s.stage == TSlotStage::Firmware && s.percent % 10 != 0)
            return;
        if (s.stage == TSlotStage::Skipped)
            ++finished;
        if (fjson) {
            PrintJsonLine({{"event", "slot"}, {"slot", s.name}, {"port", s.path}, {"stage", StageName(s.stage)},
                           {"imei", s.imei}, {"detail", s.detail}, {"written", s.written}, {"to_write", s.toWrite},
                           {"percent", s.percent}});
        } else {
            const QString detail = StageDetail(s);
            Print(QStringLiteral("%1 %2 %3 %4%5\n")
                      .arg(Clock(), s.name, s.imei.isEmpty() ? QStringLiteral("-") : s.imei, StageName(s.stage),
                           detail.isEmpty() ? QString() : QStringLiteral(": ") + detail));
        }
    }
    void Recorded(const TAuditRecord &r) override {
        ++finished;
        if (r.result != u"done")
            ++unfinished;
        if (fjson) {
            QJsonObject object = r.ToJson();
            object.insert("event", "record");
            PrintJsonLine(object);
        } else {
            Print(QStringLiteral("%1 %2 %3 recorded %4, %5 written in %6 s%7\n")
                      .arg(Clock(), r.slot, r.imei.isEmpty() ? QStringLiteral("-") : r.imei, r.result)
                      .arg(r.written.size())
                      .arg(double(r.totalMs) / 1000.0, 0, 'f', 1)
                      .arg(r.reason.isEmpty() ? QString() : QStringLiteral(": ") + r.reason));
        }
    }
    void NotRecorded(const TAuditRecord &r, const QString &error) override {
        ++finished;
        ++unfinished;
        PrintError(QStringLiteral("%1 %2: the outcome (%3) could not be recorded: %4").arg(r.slot, r.imei, r.result, error));
    }
    void Warning(const QString &text) override { PrintError(text); }

    void PrintSummary(const TStationSummary &s, const QString &audit, const QString &report) const {
        if (fjson) {
            PrintJsonLine({{"event", "summary"}, {"done", s.done}, {"failed", s.failed}, {"skipped", s.skipped},
                           {"in_progress", s.inProgress}, {"per_hour", s.perHour}, {"audit", audit},
                           {"report", report}});
            return;
        }
        Print(QStringLiteral("Summary: %1 done, %2 failed, %3 skipped, %4 in progress; %5 trackers per hour\n")
                  .arg(s.done)
                  .arg(s.failed)
                  .arg(s.skipped)
                  .arg(s.inProgress)
                  .arg(s.perHour, 0, 'f', 1));
        if (!audit.isEmpty())
            Print(QStringLiteral("Audit: %1\nReport: %2\n").arg(audit, report));
    }

    // The trackers asked for are finished; those still being worked are let finish first.
    bool Enough() const { return ftrackers > 0 && finished >= ftrackers; }

private:
    const bool fjson;
    const int ftrackers;
};

} // namespace

int RunStation(const QString &jobFile, const TLuHash &description, bool json, int trackers) {
    TStationPrinter printer(json, trackers);
    TStationRunner::TFront front;
    front.observer = &printer;
    front.say = [json](const QString &text) {
        if (json)
            PrintJsonLine({{"event", "station"}, {"text", text}});
        else
            Print(QStringLiteral("%1 %2\n").arg(Clock(), text));
    };
    front.refused = [](const QStringList &problems) {
        for (const QString &problem : problems)
            PrintError(problem);
        PrintError(QStringLiteral("The job does not start: nothing was written to any tracker."));
    };
    front.started = [json](TProvisioningStation &station) {
        if (json)
            return;
        QStringList names;
        for (const auto &slot : station.Slots())
            names << slot->State().name + QStringLiteral(" (") + slot->State().path + u')';
        Print(QStringLiteral("Station %1, job %2 (%3); slots %4; Ctrl-C ends\n")
                  .arg(station.Name(), station.Job().name, station.Job().sha256.left(12),
                       names.join(QStringLiteral(", "))));
    };
    TStationRunner runner(description, front);
    QString error;
    if (!AppSettings->GetVal(QStringLiteral("broker")).isEmpty() && !runner.JoinBroker(error)) {
        PrintError(error);
        return ExitFileProblems;
    }
    if (!jobFile.isEmpty() && !runner.StartJob(jobFile))
        return ExitFileProblems;
    TInterruptWatch interrupt(true);
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (interrupt.Take() || (printer.Enough() && runner.Idle()))
            QCoreApplication::exit(0);
        runner.StartPendingWhenIdle();
    });
    watch.start(100);
    QCoreApplication::exec();
    watch.stop();
    runner.Stop();
    printer.PrintSummary(runner.Summary(), runner.AuditFile(), runner.ReportFile());
    return printer.unfinished > 0 ? ExitFailed : ExitOk;
}
