// The Mirrow's low-level routines below the executor's output buffer.
#pragma once

#include <array>
#include <cstdint>

using TRegisterPacket = std::array<uint8_t, 5>;

// The register-write command 0x21 and the 24-bit word Value << 8 | Register
// in four 7-bit groups from the top, each with bit 7 set.
void EncodeRegisterPacket(uint8_t Register, uint16_t Value, TRegisterPacket& Packet);
