// The D2XX types and statuses as the emulated driver exports them.
#pragma once

#include <cstdint>

namespace simd2xx {

using DWORD = uint32_t;
using UCHAR = uint8_t;
using FT_HANDLE = void*;
using FT_STATUS = DWORD;

enum : FT_STATUS {
    FT_OK = 0,
    FT_INVALID_HANDLE = 1,
    FT_DEVICE_NOT_FOUND = 2,
    FT_DEVICE_NOT_OPENED = 3,
    FT_IO_ERROR = 4,
    FT_INVALID_PARAMETER = 6,
};

constexpr DWORD FT_LIST_NUMBER_ONLY = 0x80000000;
constexpr DWORD FT_PURGE_RX = 1;

// Bytes the driver writes into each of FT_GetDeviceInfo's text buffers at
// most, NUL included when it fits.
constexpr unsigned InfoTextSize = 64;

} // namespace simd2xx
