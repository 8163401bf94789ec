// The emulated driver: the scenario's devices, open handles and call
// counters behind the exported D2XX entry points. Every call takes one lock,
// so the host's threads may call in as they like.
#pragma once

#include <cstddef>
#include <string>

#include "d2xx_types.h"

namespace sim {
class Protocol;
}

namespace simd2xx {

FT_STATUS Open(int Index, FT_HANDLE* Handle);
FT_STATUS ListDevices(void* Arg1, void* Arg2, DWORD Flags);
FT_STATUS SetVidPid(DWORD Vid, DWORD Pid);
FT_STATUS Close(FT_HANDLE Handle);
FT_STATUS Read(FT_HANDLE Handle, void* Buffer, DWORD Count, DWORD* Read);
FT_STATUS Write(FT_HANDLE Handle, void* Buffer, DWORD Count, DWORD* Written);
FT_STATUS ResetDevice(FT_HANDLE Handle);
FT_STATUS Purge(FT_HANDLE Handle, DWORD Mask);
FT_STATUS GetQueueStatus(FT_HANDLE Handle, DWORD* Queued);
FT_STATUS SetLatencyTimer(FT_HANDLE Handle, UCHAR Timer);
FT_STATUS SetBitMode(FT_HANDLE Handle, UCHAR Mask, UCHAR Mode);
FT_STATUS GetBitMode(FT_HANDLE Handle, UCHAR* Mode);
FT_STATUS GetDeviceInfo(FT_HANDLE Handle, void* Type, DWORD* Id, char* Serial, char* Description, void* Dummy);
FT_STATUS SetTimeouts(FT_HANDLE Handle, DWORD ReadTimeout, DWORD WriteTimeout);
FT_STATUS CreateDeviceInfoList(DWORD* Count);
FT_STATUS GetDriverVersion(FT_HANDLE Handle, DWORD* Version);
// The calls the host never makes: counted, FT_OK.
FT_STATUS Unused(const char* Name);

// Control. Both close every open handle, reset the counters and clear the
// in-memory trace. False with Error set when the scenario cannot be read
// (the device list is then empty).
bool LoadScenario(const std::string& PathOrJson, std::string& Error);
// Reads the scenario named by $ORBESK_SIM_SCENARIO (none: no devices) and
// points the trace file at $ORBESK_SIM_TRACE.
bool ResetFromEnvironment(std::string& Error);
unsigned long long Counter(const std::string& Name);
// The protocol of the scenario's device Index (scenario order, whether
// listed or not); null past the end.
sim::Protocol* DeviceProtocol(size_t Index);

} // namespace simd2xx
