#include "port_doctor.h"

#include "LuPCom.h"
#include "LuUtils.h"
#include "pcomm_sio.h"
#include "port_doctor_checks.h"

#include <QDeadlineTimer>

TVerdict Ok(const char *check, const QString &text) {
    return {QString::fromLatin1(check), TVerdict::vsOk, text, QString()};
}

TVerdict Problem(const char *check, const QString &text, const QString &fix) {
    return {QString::fromLatin1(check), TVerdict::vsProblem, text, fix};
}

TVerdict Unknown(const char *check, const QString &text) {
    return {QString::fromLatin1(check), TVerdict::vsUnknown, text, QString()};
}

namespace {

// Opens the port as the engine does and asks the one question that changes nothing.
TVerdict ProbeVerdict(int port, int probeMs, TDiagnosis &diagnosis) {
    const std::unique_ptr<TLuPCom> com = TVeltraCommander::NewPort(port, QString());
    try {
        com->Open();
        com->Flush();
        com->PutString(QStringLiteral("R_INFO\r\n"));
        const QDeadlineTimer deadline(probeMs);
        while (!deadline.hasExpired()) {
            QString line;
            com->ReadString(line, false, int(std::max<qint64>(1, deadline.remainingTime())));
            line = TrimText(line);
            if (line == u"ERROR=no password") {
                diagnosis.answered = true;
                return Ok("answer", QStringLiteral("a tracker answered and asks for its password (give password=...)"));
            }
            if (line.startsWith(QStringLiteral("INFO"))) {
                diagnosis.answered = true;
                diagnosis.identity = TVeltraCommander::ParseIdentity(TrimText(line.mid(5)));
                return Ok("answer", QStringLiteral("a tracker answered: ") + TrimText(line.mid(5)));
            }
        }
    } catch (const TLuPComError &) {
        return Problem("answer", QStringLiteral("the port does not open: ") + sio_OpenErrorText(port, sio_LastError()));
    }
    return Problem("answer", QStringLiteral("the port opened at 115200 8N2, but nothing answered R_INFO"),
                   QStringLiteral("check that the tracker is powered and its cable is in this socket; veltra_cli "
                                  "ports lists the others"));
}

} // namespace

QString ModemManagerIgnoreRule(const QString &vendorId, const QString &productId) {
    return QStringLiteral("ATTRS{idVendor}==\"%1\", ATTRS{idProduct}==\"%2\", ENV{ID_MM_DEVICE_IGNORE}=\"1\"")
        .arg(vendorId, productId);
}

TDiagnosis DiagnosePort(int port, const TDoctorRoots &roots, int probeMs) {
    TDiagnosis d;
    bool exists = false;
    d.verdicts = SystemVerdicts(port, roots, exists);
    if (exists && probeMs > 0)
        d.verdicts << ProbeVerdict(port, probeMs, d);
    return d;
}
