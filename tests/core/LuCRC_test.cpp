#include "LuCRC.h"

#include <gtest/gtest.h>
#include <stdexcept>

TEST(LuCRC, KnownCheckValues) {
    const char *check = "123456789";
    EXPECT_EQ(Crc16(check, 9, 0x11021, 0), 0x31C3); // CRC-16/XMODEM
    EXPECT_EQ(Crc16("abc", 3, 0x11021, 0), 0x9DD6);
    EXPECT_EQ(Crc16(check, 9, 0x1021, 0xFFFF), 0x29B1); // CRC-16/CCITT-FALSE
    EXPECT_EQ(Crc16(check, 9, 0x8005, 0), 0xFEE8);      // CRC-16/BUYPASS
    EXPECT_EQ(Crc16(check, 9, 0x18004, 0), 0xFEE8);     // bit 16 dropped, bit 0 forced
}

TEST(LuCRC, AppendingTheCrcGivesZero) {
    unsigned char block[130];
    for (int i = 0; i < 128; ++i)
        block[i] = (unsigned char)(i * 7 + 3);
    const quint16 crc = Crc16(block, 128, 0x11021, 0);
    block[128] = (unsigned char)(crc >> 8);
    block[129] = (unsigned char)(crc & 0xFF);
    EXPECT_EQ(Crc16(block, 130, 0x11021, 0), 0);
    EXPECT_THROW(Crc16(block, 0, 0x11021, 0), std::range_error);
}
