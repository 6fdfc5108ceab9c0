// The Linux checks of the port doctor: the device node, the user's access to it, programs holding it,
// ModemManager, brltty and the USB serial drivers.
#include "port_doctor_checks.h"

#include "LuUtils.h"
#include "pcomm_sio.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The numbered folders of the process table.
QStringList Processes(const TDoctorRoots &roots) {
    static const QRegularExpression number(QStringLiteral("^\\d+$"));
    return QDir(roots.proc).entryList(QDir::Dirs | QDir::NoDotAndDotDot).filter(number);
}

QString UserName() {
    const passwd *user = ::getpwuid(::getuid());
    return user ? QString::fromLocal8Bit(user->pw_name) : QString();
}

// Whether /etc/group lists `user` in `group`: then only this login lacks the membership.
bool ListedInGroupFile(const TDoctorRoots &roots, const QString &group, const QString &user) {
    QFile file(roots.etc + QStringLiteral("/group"));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray &raw : file.readAll().split('\n')) {
        const QStringList fields = QString::fromLocal8Bit(raw).split(u':');
        if (fields.size() >= 4 && fields[0] == group && fields[3].split(u',').contains(user))
            return true;
    }
    return false;
}

bool InProcessGroups(gid_t gid) {
    if (::getegid() == gid)
        return true;
    gid_t groups[256];
    const int n = ::getgroups(256, groups);
    for (int i = 0; i < n; ++i)
        if (groups[i] == gid)
            return true;
    return false;
}

TVerdict AccessVerdict(const QString &device, const TDoctorRoots &roots) {
    if (::access(QFile::encodeName(device).constData(), R_OK | W_OK) == 0)
        return Ok("access", QStringLiteral("you may read and write ") + device);
    struct stat info {};
    if (::stat(QFile::encodeName(device).constData(), &info) != 0)
        return Unknown("access", QStringLiteral("could not tell who may use ") + device);
    const group *owner = ::getgrgid(info.st_gid);
    const QString group = owner ? QString::fromLocal8Bit(owner->gr_name) : QString::number(info.st_gid);
    const bool groupMayUse = (info.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP) && info.st_gid != 0;
    if (!groupMayUse)
        return Problem("access", QStringLiteral("you may not read and write %1, and no group may").arg(device),
                       QStringLiteral("sudo chmod g+rw %1  (or ask the administrator)").arg(device));
    if (InProcessGroups(info.st_gid))
        return Unknown("access", QStringLiteral("you are in the group %1, yet may not use %2").arg(group, device));
    if (ListedInGroupFile(roots, group, UserName()))
        return Problem("access",
                       QStringLiteral("%1 belongs to the group %2; you were added to it, but this login "
                                      "started before")
                           .arg(device, group),
                       QStringLiteral("log out and in again (or: newgrp %1)").arg(group));
    return Problem("access", QStringLiteral("%1 belongs to the group %2, and you are not in it").arg(device, group),
                   QStringLiteral("sudo usermod -aG %1 $USER  (then log in again)").arg(group));
}

TVerdict HolderVerdict(const QString &device, const TDoctorRoots &roots) {
    const QString self = QString::number(QCoreApplication::applicationPid());
    int unreadable = 0;
    QStringList holders, pids;
    for (const QString &pid : Processes(roots)) {
        if (pid == self)
            continue;
        const QDir fds(roots.proc + u'/' + pid + QStringLiteral("/fd"));
        if (!fds.isReadable()) {
            ++unreadable;
            continue;
        }
        for (const QString &fd : fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot))
            if (QFileInfo(fds.filePath(fd)).symLinkTarget() == device) {
                holders << QStringLiteral("%1 (process %2)").arg(ReadSystemText(roots.proc + u'/' + pid + QStringLiteral("/comm")), pid);
                pids << pid;
                break;
            }
    }
    if (!holders.isEmpty())
        return Problem("holder", QStringLiteral("%1 is held by ").arg(device) + holders.join(QStringLiteral(", ")),
                       QStringLiteral("close that program, or: kill ") + pids.join(u' '));
    if (unreadable > 0)
        return Unknown("holder", QStringLiteral("no process that could be looked at holds %1; %2 could not be "
                                                "looked at (sudo shows them all)")
                                     .arg(device)
                                     .arg(unreadable));
    return Ok("holder", QStringLiteral("no other program holds ") + device);
}

bool ProcessRuns(const TDoctorRoots &roots, const QString &name) {
    for (const QString &pid : Processes(roots))
        if (ReadSystemText(roots.proc + u'/' + pid + QStringLiteral("/comm")) == name)
            return true;
    return false;
}

// The lines of the udev rules that name this adapter's vendor and product.
QStringList RulesFor(const TDoctorRoots &roots, const QString &vendorId, const QString &productId) {
    const QRegularExpression vendor(QStringLiteral("idVendor\\}?==\"%1\"").arg(vendorId),
                                    QRegularExpression::CaseInsensitiveOption);
    const QRegularExpression product(QStringLiteral("idProduct\\}?==\"%1\"").arg(productId),
                                     QRegularExpression::CaseInsensitiveOption);
    QStringList lines;
    for (const QString &folder : roots.udevRules) {
        const QDir dir(folder);
        for (const QString &name : dir.entryList({QStringLiteral("*.rules")}, QDir::Files)) {
            QFile file(dir.filePath(name));
            if (!file.open(QIODevice::ReadOnly))
                continue;
            for (const QByteArray &raw : file.readAll().split('\n')) {
                const QString line = QString::fromUtf8(raw);
                if (!line.trimmed().startsWith(u'#') && line.contains(vendor) && line.contains(product))
                    lines << name + QStringLiteral(": ") + line.trimmed();
            }
        }
    }
    return lines;
}

TVerdict ModemManagerVerdict(const TPortDetails &port, const TDoctorRoots &roots) {
    if (!ProcessRuns(roots, QStringLiteral("ModemManager")))
        return Ok("modemmanager", QStringLiteral("ModemManager is not running"));
    if (!port.IsUsb())
        return Ok("modemmanager", QStringLiteral("ModemManager is running; the port is no USB adapter it would probe"));
    if (!RulesFor(roots, port.vendorId, port.productId).filter(QStringLiteral("ID_MM_DEVICE_IGNORE")).isEmpty())
        return Ok("modemmanager", QStringLiteral("ModemManager is running and leaves this adapter alone"));
    return Problem("modemmanager",
                   QStringLiteral("ModemManager is running and sends AT commands to every new USB serial port "
                                  "(%1:%2) for several seconds")
                       .arg(port.vendorId, port.productId),
                   QStringLiteral("echo '%1' | sudo tee /etc/udev/rules.d/99-veltra-modemmanager.rules && sudo "
                                  "udevadm control --reload")
                       .arg(ModemManagerIgnoreRule(port.vendorId, port.productId)));
}

TVerdict BrlttyVerdict(const TPortDetails &port, const TDoctorRoots &roots) {
    if (!QFileInfo::exists(roots.bin + QStringLiteral("/brltty")))
        return Ok("brltty", QStringLiteral("brltty is not installed"));
    if (!port.IsUsb())
        return Ok("brltty", QStringLiteral("brltty is installed; the port is no USB adapter it would claim"));
    if (RulesFor(roots, port.vendorId, port.productId).filter(QStringLiteral("brltty"), Qt::CaseInsensitive).isEmpty())
        return Ok("brltty", QStringLiteral("brltty is installed but does not claim this adapter"));
    return Problem("brltty",
                   QStringLiteral("brltty is installed and its udev rules claim %1:%2: it takes the adapter and "
                                  "its serial device disappears")
                       .arg(port.vendorId, port.productId),
                   QStringLiteral("sudo apt remove brltty"));
}

// The driver of the common USB serial chips, by vendor; a CDC ACM device (class 02) is cdc_acm's.
QString SerialDriver(const QString &usbFolder) {
    static const QHash<QString, QString> drivers{{"0403", "ftdi_sio"}, {"067b", "pl2303"}, {"10c4", "cp210x"},
                                                  {"1a86", "ch341"}};
    const QString vendor = ReadSystemText(usbFolder + QStringLiteral("/idVendor")).toLower();
    if (drivers.contains(vendor))
        return drivers.value(vendor);
    QDirIterator interfaces(usbFolder, {QStringLiteral("bInterfaceClass")}, QDir::Files, QDirIterator::Subdirectories);
    while (interfaces.hasNext())
        if (ReadSystemText(interfaces.next()) == u"02")
            return QStringLiteral("cdc_acm");
    return QString();
}

bool HasTty(const QString &usbFolder) {
    QDirIterator it(usbFolder, {QStringLiteral("tty*")}, QDir::Dirs | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext())
        if (it.next().section(u'/', -1).contains(QRegularExpression(QStringLiteral("^tty\\w*\\d+$"))))
            return true;
    return false;
}

TVerdict DriverVerdict(const TDoctorRoots &roots) {
    const QDir devices(roots.sys + QStringLiteral("/bus/usb/devices"));
    if (!devices.exists())
        return Unknown("driver", QStringLiteral("could not tell which USB devices are plugged in"));
    for (const QString &name : devices.entryList(QDir::AllEntries | QDir::NoDotAndDotDot)) {
        const QString folder = QFileInfo(devices.filePath(name)).canonicalFilePath();
        if (name.contains(u':') || folder.isEmpty() || !QFileInfo::exists(folder + QStringLiteral("/idVendor")))
            continue;
        const QString driver = SerialDriver(folder);
        if (driver.isEmpty() || HasTty(folder))
            continue;
        const QString id = ReadSystemText(folder + QStringLiteral("/idVendor")) + u':' + ReadSystemText(folder + QStringLiteral("/idProduct"));
        return Problem("driver",
                       QStringLiteral("the USB serial adapter %1 (%2) has no serial device: its driver is missing")
                           .arg(id, ReadSystemText(folder + QStringLiteral("/product"))),
                       QStringLiteral("sudo modprobe %1  (and see: sudo dmesg | tail)").arg(driver));
    }
    return Ok("driver", QStringLiteral("every USB serial adapter plugged in has its serial device"));
}

} // namespace

QList<TVerdict> SystemVerdicts(int port, const TDoctorRoots &roots, bool &exists) {
    QList<TVerdict> verdicts;
    const QString path = sio_PortPath(port);
    if (path.isEmpty()) {
        exists = false;
        verdicts << Problem("exists", QStringLiteral("COM%1 is not mapped to a device").arg(port),
                            QStringLiteral("give com%1=/dev/serial/by-path/... (veltra_cli ports)").arg(port));
        verdicts << DriverVerdict(roots);
        return verdicts;
    }
    const TPortDetails details = DescribePort(path, roots);
    exists = !details.resolved.isEmpty();
    if (exists)
        verdicts << Ok("exists", details.resolved == path ? path + QStringLiteral(" exists")
                                                          : path + QStringLiteral(" leads to ") + details.resolved);
    else
        verdicts << Problem("exists", path + QStringLiteral(" does not exist"),
                            QStringLiteral("plug the adapter in; ls -l /dev/serial/by-id/ shows what is there"));
    if (exists) {
        verdicts << AccessVerdict(details.resolved, roots);
        verdicts << HolderVerdict(details.resolved, roots);
    }
    verdicts << ModemManagerVerdict(details, roots);
    verdicts << BrlttyVerdict(details, roots);
    verdicts << DriverVerdict(roots);
    return verdicts;
}
