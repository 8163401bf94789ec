#include "executor/varnel2low.h"

void EncodeRegisterPacket(uint8_t Register, uint16_t Value, TRegisterPacket& Packet)
{
    const uint32_t word = (uint32_t{Value} << 8) | Register;
    Packet[0] = 0x21;
    Packet[1] = static_cast<uint8_t>(0x80 | ((word >> 21) & 0x07));
    Packet[2] = static_cast<uint8_t>(0x80 | ((word >> 14) & 0x7F));
    Packet[3] = static_cast<uint8_t>(0x80 | ((word >> 7) & 0x7F));
    Packet[4] = static_cast<uint8_t>(0x80 | (word & 0x7F));
}
