#include "LuCRC.h"

#include <stdexcept>

quint16 Crc16(const void *data, int length, int polynomial, quint16 initial) {
    if (length < 1)
        throw std::range_error("Crc16: the length must be at least 1");
    // Bit 16 of the polynomial is implied and bit 0 always set, so 0x11021 and 0x1021 mean the same.
    const quint16 poly = quint16((polynomial & 0xFFFE) | 1);
    const auto *bytes = static_cast<const unsigned char *>(data);
    quint16 crc = initial;
    for (int i = 0; i < length; ++i) {
        unsigned int b = bytes[i];
        for (int bit = 0; bit < 8; ++bit) {
            const bool top = ((crc ^ (b << 8)) & 0x8000) != 0;
            crc = quint16(crc << 1);
            if (top)
                crc ^= poly;
            b <<= 1;
        }
    }
    return crc;
}
