// The Windows checks of the port doctor: whether the system has the COM port at all. Access and
// other programs holding the port show when the tracker is asked (the open fails with the reason).
#include "pcomm_sio.h"
#include "port_doctor_checks.h"

QList<TVerdict> SystemVerdicts(int port, const TDoctorRoots &, bool &exists) {
    QString error;
    const QList<int> ports = sio_EnumPorts(&error);
    exists = ports.contains(port);
    if (exists)
        return {Ok("exists", QStringLiteral("COM%1 exists").arg(port))};
    if (!error.isEmpty())
        return {Unknown("exists", QStringLiteral("could not list the COM ports: ") + error)};
    QStringList present;
    for (int p : ports)
        present << QStringLiteral("COM%1").arg(p);
    return {Problem("exists", QStringLiteral("COM%1 does not exist on this computer").arg(port),
                    present.isEmpty() ? QStringLiteral("plug the adapter in and install its driver")
                                      : QStringLiteral("plug the adapter in; present now: ") + present.join(u' '))};
}
