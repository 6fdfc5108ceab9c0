#include "port_details.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

// The links of a /dev/serial folder that lead to `resolved`, as full paths.
QStringList LinksTo(const QString &folder, const QString &resolved) {
    QStringList links;
    const QDir dir(folder);
    for (const QString &name : dir.entryList(QDir::Files | QDir::System | QDir::NoDotAndDotDot, QDir::Name))
        if (QFileInfo(dir.filePath(name)).canonicalFilePath() == resolved)
            links << dir.filePath(name);
    return links;
}

QString ReadAttribute(const QString &folder, const char *name) {
    return ReadSystemText(folder + u'/' + QLatin1String(name));
}

// The USB device above a tty's sysfs entry: the first folder upwards that carries idVendor. A serial
// adapter's tty sits one or two levels below its interface, which sits below the device.
QString UsbDeviceFolder(const QString &ttyName, const TPortRoots &roots) {
    const QString sysRoot = QFileInfo(roots.sys).canonicalFilePath();
    QString folder = QFileInfo(roots.sys + QStringLiteral("/class/tty/") + ttyName + QStringLiteral("/device"))
                         .canonicalFilePath();
    for (int level = 0; level < 6 && !folder.isEmpty() && folder != sysRoot && folder.startsWith(sysRoot);
         ++level) {
        if (QFileInfo::exists(folder + QStringLiteral("/idVendor")))
            return folder;
        folder = QFileInfo(folder).path();
    }
    return QString();
}

} // namespace

QString ReadSystemText(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).trimmed() : QString();
}

TPortDetails DescribePort(const QString &device, const TPortRoots &roots) {
    TPortDetails details;
    details.device = device;
    details.resolved = QFileInfo(device).canonicalFilePath();
    if (details.resolved.isEmpty())
        return details;
    details.byPath = LinksTo(roots.dev + QStringLiteral("/serial/by-path"), details.resolved);
    details.byId = LinksTo(roots.dev + QStringLiteral("/serial/by-id"), details.resolved);
    const QString usb = UsbDeviceFolder(QFileInfo(details.resolved).fileName(), roots);
    if (usb.isEmpty())
        return details;
    details.vendorId = ReadAttribute(usb, "idVendor");
    details.productId = ReadAttribute(usb, "idProduct");
    details.manufacturer = ReadAttribute(usb, "manufacturer");
    details.product = ReadAttribute(usb, "product");
    details.serial = ReadAttribute(usb, "serial");
    return details;
}
