// The exported D2XX entry points. Built once per variant of the library:
//   SIM_PREFIX          prefix of every name (empty, or lin_)
//   SIM_OPEN_PREFIX     prefix of FT_Open alone (default SIM_PREFIX)
//   SIM_NO_SETVIDPID    FT_SetVIDPID not exported
//   SIM_NO_GETBITMODE   FT_GetBitMode not exported
#include "driver.h"

#ifndef SIM_PREFIX
#define SIM_PREFIX
#endif
#ifndef SIM_OPEN_PREFIX
#define SIM_OPEN_PREFIX SIM_PREFIX
#endif

#define SIM_CAT2(a, b) a##b
#define SIM_CAT(a, b) SIM_CAT2(a, b)
#define SIM_NAME(name) SIM_CAT(SIM_PREFIX, name)
#define SIM_EXPORT extern "C" __attribute__((visibility("default")))

using namespace simd2xx;

SIM_EXPORT FT_STATUS SIM_CAT(SIM_OPEN_PREFIX, FT_Open)(int Index, FT_HANDLE* Handle)
{
    return Open(Index, Handle);
}

SIM_EXPORT FT_STATUS SIM_NAME(FT_ListDevices)(void* Arg1, void* Arg2, DWORD Flags)
{
    return ListDevices(Arg1, Arg2, Flags);
}

#ifndef SIM_NO_SETVIDPID
SIM_EXPORT FT_STATUS SIM_NAME(FT_SetVIDPID)(DWORD Vid, DWORD Pid)
{
    return SetVidPid(Vid, Pid);
}
#endif

SIM_EXPORT FT_STATUS SIM_NAME(FT_Close)(FT_HANDLE Handle)
{
    return Close(Handle);
}

SIM_EXPORT FT_STATUS SIM_NAME(FT_Read)(FT_HANDLE Handle, void* Buffer, DWORD Count, DWORD* BytesRead)
{
    return Read(Handle, Buffer, Count, BytesRead);
}

SIM_EXPORT FT_STATUS SIM_NAME(FT_Write)(FT_HANDLE Handle, void* Buffer, DWORD Count, DWORD* Written)
{
    return Write(Handle, Buffer, Count, Written);
}

SIM_EXPORT FT_STATUS SIM_NAME(FT_ResetDevice)(FT_HANDLE Handle)
{
    return ResetDevice(Handle);
}

SIM_EXPORT FT_STATUS SIM_NAME(FT_Purge)(FT_HANDLE Handle, DWORD Mask)
{
    return Purge(Handle, Mask);
}

SIM_EXPORT FT_STATUS SIM_NAME(FT_GetQueueStatus)(FT_HANDLE Handle, DWORD* Queued)
{
    return GetQueueStatus(Handle, Queued);
}

SIM_EXPORT FT_STATUS SIM_NAME(FT_SetLatencyTimer)(FT_HANDLE Handle, UCHAR Timer)
{
    return SetLatencyTimer(Handle, Timer);
}

SIM_EXPORT FT_STATUS SIM_NAME(FT_SetBitMode)(FT_HANDLE Handle, UCHAR Mask, UCHAR Mode)
{
    return SetBitMode(Handle, Mask, Mode);
}

#ifndef SIM_NO_GETBITMODE
SIM_EXPORT FT_STATUS SIM_NAME(FT_GetBitMode)(FT_HANDLE Handle, UCHAR* Mode)
{
    return GetBitMode(Handle, Mode);
}
#endif

SIM_EXPORT FT_STATUS SIM_NAME(FT_SetUSBParameters)(FT_HANDLE, DWORD, DWORD)
{
    return Unused("FT_SetUSBParameters");
}

SIM_EXPORT FT_STATUS SIM_NAME(FT_GetDeviceInfo)(FT_HANDLE Handle, void* Type, DWORD* Id, char* Serial,
                                                char* Description, void* Dummy)
{
    return GetDeviceInfo(Handle, Type, Id, Serial, Description, Dummy);
}

SIM_EXPORT FT_STATUS SIM_NAME(FT_SetTimeouts)(FT_HANDLE Handle, DWORD ReadTimeout, DWORD WriteTimeout)
{
    return SetTimeouts(Handle, ReadTimeout, WriteTimeout);
}

SIM_EXPORT FT_STATUS SIM_NAME(FT_CreateDeviceInfoList)(DWORD* Count)
{
    return CreateDeviceInfoList(Count);
}

SIM_EXPORT FT_STATUS SIM_NAME(FT_GetDeviceInfoList)(void*, DWORD*)
{
    return Unused("FT_GetDeviceInfoList");
}

SIM_EXPORT FT_STATUS SIM_NAME(FT_SetBaudRate)(FT_HANDLE, DWORD)
{
    return Unused("FT_SetBaudRate");
}

SIM_EXPORT FT_STATUS SIM_NAME(FT_GetDriverVersion)(FT_HANDLE Handle, DWORD* Version)
{
    return GetDriverVersion(Handle, Version);
}

SIM_EXPORT FT_STATUS SIM_NAME(FT_StopInTask)(FT_HANDLE)
{
    return Unused("FT_StopInTask");
}

SIM_EXPORT FT_STATUS SIM_NAME(FT_RestartInTask)(FT_HANDLE)
{
    return Unused("FT_RestartInTask");
}
