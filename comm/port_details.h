// What the bench knows of a serial port beyond its COM number: the device it leads to, the stable
// names udev gives it under /dev/serial/by-path/ (the socket it is plugged into) and /dev/serial/by-id/
// (the adapter), and for a USB adapter the vendor and product ids, manufacturer, product and serial
// number of the USB device, read from sysfs. Missing or unreadable entries leave their fields empty.
// veltra_cli ports shows them, so that an engineer can pin bench sockets to COM numbers (comN=PATH).
#pragma once

#include <QString>
#include <QStringList>

struct TPortDetails {
    QString device;   // the path as mapped
    QString resolved; // the device the path leads to, empty when it does not exist
    QStringList byPath, byId;
    QString vendorId, productId, manufacturer, product, serial; // empty unless a USB adapter
    bool IsUsb() const { return !vendorId.isEmpty(); }
};

// Where /dev and /sys are: a test points them at a tree of its own.
struct TPortRoots {
    QString dev = QStringLiteral("/dev");
    QString sys = QStringLiteral("/sys");
};

// A small system file's text (a sysfs attribute, a process name), trimmed; empty when unreadable.
QString ReadSystemText(const QString &path);

TPortDetails DescribePort(const QString &device, const TPortRoots &roots = TPortRoots());
