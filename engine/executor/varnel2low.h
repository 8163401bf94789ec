// The Mirrow's low-level routines below the executor's output buffer: the
// register packet, the upload of the FPGA image through the FTDI chip's
// MPSSE engine, the read of the calibration bytes, and the conversions
// between volts and the ADC and DAC codes. They talk to the device
// directly through the handle given and show no message.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "usb/usbplow.h"

using TRegisterPacket = std::array<uint8_t, 5>;

// The register-write command 0x21 and the 24-bit word Value << 8 | Register
// in four 7-bit groups from the top, each with bit 7 set.
void EncodeRegisterPacket(uint8_t Register, uint16_t Value, TRegisterPacket& Packet);

// The resource that carries the FPGA's configuration image.
constexpr const char* FpgaImageResource = "VN2ZBIN";

// Streams Data to the FPGA; true when it reports its configuration done.
// Whatever the result (unless the device reset itself failed) the chip is
// left in synchronous FIFO mode (0x40).
bool UploadFpgaImage(FT_HANDLE Handle, const uint8_t* Data, size_t Length);
// The image resource, uploaded; false also when the program carries none.
bool LoadFpgaImage(FT_HANDLE Handle, const char* Resource = FpgaImageResource);

// Ten signed values from the 36 calibration bytes: [2], [3] the ADC codes
// of 0 V and 5 V, [6], [7] the DAC codes for 0 V and 5 V.
struct TMirrowCalibration {
    std::array<int32_t, 10> Values{};
};
constexpr int CalibrationAdc0V = 2;
constexpr int CalibrationAdc5V = 3;
constexpr int CalibrationDac0V = 6;
constexpr int CalibrationDac5V = 7;

// Reads the calibration bytes (addresses 32 to 67) in synchronous FIFO
// mode; false on a failed write or read, a time-out, or a reply with bit 7
// set (Cal is then undefined).
bool ReadCalibration(TMirrowCalibration& Cal, FT_HANDLE Handle);
// The 36 bytes from their 72 reply bytes; false when one has bit 7 set.
bool DecodeCalibration(const uint8_t (&Replies)[72], TMirrowCalibration& Cal);
// Two distinct ADC points: without them no voltage can be measured.
bool CalibrationUsable(const TMirrowCalibration& Cal);

long double LinearInterpolate(long double X1, long double Y1, long double X2, long double Y2, long double X);
int32_t ClampInt(int32_t Lo, int32_t Hi, int32_t Value);
float AdcToVolts(const TMirrowCalibration& Cal, int32_t Code);
// 0 .. 4095, clamped before it is made an integer.
int32_t VoltsToDac(const TMirrowCalibration& Cal, float Volts);
