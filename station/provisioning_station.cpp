#include "provisioning_station.h"

#include "LuUtils.h"
#include "common.h"
#include "param_description.h"
#include "pcomm_sio.h"

#include <QDir>
#include <QSysInfo>

namespace {

// A slot's own log beside the process's: log_dir/slots/<slot>/<name>.log, or none when the process
// keeps no such log.
QString SlotLog(const QString &processLog, const QString &folder, const char *name) {
    return processLog.isEmpty() ? QString() : QDir(folder).filePath(QString::fromLatin1(name) + QStringLiteral(".log"));
}

TEngineLogs SlotLogs(const QString &slot) {
    const QString logDir = AppSettings ? AppSettings->GetVal(QStringLiteral("log_dir")) : QString();
    const QString folder = QDir(logDir.isEmpty() ? QDir::currentPath() : logDir).filePath(QStringLiteral("slots/") + slot);
    QDir().mkpath(folder);
    return {SlotLog(CmdLogFile, folder, "cmd"), SlotLog(DbgLogFile, folder, "dbg"), SlotLog(ComLogFile, folder, "com"),
            SlotLog(MainLogFile, folder, "main")};
}

QString Setting(const char *key) {
    return AppSettings ? TrimText(AppSettings->GetVal(QString::fromLatin1(key))) : QString();
}

} // namespace

TLuHash StationDescription() {
    TLuHash description;
    const QString file = Setting("params");
    if (file.isEmpty())
        LoadParamsDescription(description, {ExeDir, ParentDir, ConfDirPrefix()});
    else
        description.Load(file, true);
    return description;
}

TProvisioningStation::TProvisioningStation(TStationObserver &observer) : fobserver(observer) {}

TProvisioningStation::~TProvisioningStation() {
    Stop();
}

QString TProvisioningStation::StationName() {
    const QString name = Setting("station");
    return name.isEmpty() ? QSysInfo::machineHostName() : name;
}

QList<int> TProvisioningStation::StationPorts() {
    QString detail;
    const TLuStringList ports = TVeltraCommander::ListComPorts(detail);
    QList<int> result;
    for (int i = 0; i < ports.Count(); ++i) {
        const int port = int(DecToInt(ports[i], 0));
        if (port > 0 && !result.contains(port))
            result << port;
    }
    return result;
}

QString TProvisioningStation::AuditFileName(const QString &jobName) {
    const QString setting = Setting("audit");
    return setting.isEmpty() ? TStationAudit::DefaultFileName(AppDataDir, jobName) : setting;
}

bool TProvisioningStation::Start(const QString &jobFile, const TLuHash &description, QStringList &problems) {
    if (!LoadStationJob(jobFile, description, fjob, problems))
        return false;
    QString error;
    if (!faudit.Open(AuditFileName(fjob.name), error)) {
        problems << error;
        return false;
    }
    const QList<int> ports = StationPorts();
    if (ports.isEmpty()) {
        problems << QStringLiteral("no ports: list the bench's ports in com_ports and map each with comN=PATH");
        return false;
    }
    fname = StationName();
    fstarted.start();
    // Every slot's logs and port are settled here; the engines only read the settings afterwards.
    for (int port : ports) {
        const QString slot = QStringLiteral("COM%1").arg(port);
        fslots.push_back(std::make_unique<TStationSlot>(*this, slot, port, sio_PortPath(port), SlotLogs(slot)));
        AppLog(TAG, QStringLiteral("Slot %1: %2").arg(slot, sio_PortPath(port)), -1);
    }
    return true;
}

void TProvisioningStation::Stop() {
    for (const auto &slot : fslots)
        slot->Stop();
}

bool TProvisioningStation::DoneBefore(const QString &imei) const {
    return faudit.DoneBefore(imei, fjob.sha256);
}

bool TProvisioningStation::Record(TAuditRecord &record, QString &error) {
    record.time = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
    record.station = fname;
    record.id = fname + u'/' + record.time + u'/' + record.slot;
    record.job = fjob.name;
    record.jobSha256 = fjob.sha256;
    if (!faudit.Append(record, error))
        return false;
    (record.result == u"done" ? fdone : ffailed)++;
    AppLog(TAG, QStringLiteral("%1 %2 %3 (%4 written)%5")
                    .arg(record.slot, record.imei, record.result)
                    .arg(record.written.size())
                    .arg(record.reason.isEmpty() ? QString() : QStringLiteral(": ") + record.reason),
           -1);
    QString csvError;
    if (!faudit.WriteCsv(csvError))
        fobserver.Warning(csvError);
    fobserver.Recorded(record);
    return true;
}

void TProvisioningStation::NotRecorded(const TAuditRecord &record, const QString &error) {
    ++ffailed;
    AppLog(TAG, QStringLiteral("%1 %2 %3 NOT RECORDED: %4").arg(record.slot, record.imei, record.result, error), -1);
    fobserver.NotRecorded(record, error);
}

void TProvisioningStation::SlotChanged(const TSlotState &state) {
    if (state.stage == TSlotStage::Skipped)
        ++fskipped;
    fobserver.SlotChanged(state);
}

TStationSummary TProvisioningStation::Summary() const {
    TStationSummary summary;
    summary.done = fdone;
    summary.failed = ffailed;
    summary.skipped = fskipped;
    for (const auto &slot : fslots) {
        if (StageActive(slot->State().stage))
            ++summary.inProgress;
        else if (slot->State().stage == TSlotStage::Waiting)
            ++summary.waiting;
    }
    const double hours = double(fstarted.isValid() ? fstarted.elapsed() : 0) / 3'600'000.0;
    summary.perHour = hours > 0 ? fdone / hours : 0;
    return summary;
}
