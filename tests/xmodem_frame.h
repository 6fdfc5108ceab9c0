// One XModem block as a sender puts it on the line: header (STX for 1024 bytes, else SOH), number,
// complement, the payload padded with zeros to `size`, CRC-16 high byte first.
#pragma once

#include "LuCRC.h"

#include <QByteArray>

inline QByteArray XModemFrame(int number, const QByteArray &payload, int size)
{
    const QByteArray data = payload.leftJustified(size, '\0', true);
    const quint16 crc = Crc16(data.constData(), size, 0x11021, 0);
    QByteArray frame(1, size == 1024 ? 2 : 1);
    frame += char(number);
    frame += char(255 - number);
    frame += data;
    frame += char(crc >> 8);
    frame += char(crc & 0xFF);
    return frame;
}
