// CRC-16 as the XModem transfer uses it: MSB first, no reflection, no final XOR.
#pragma once

#include <QtGlobal>

// Raises std::range_error for a length below 1; callers always pass a whole block.
quint16 Crc16(const void *data, int length, int polynomial, quint16 initial);
