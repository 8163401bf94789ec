// The FTDI D2XX driver library, loaded at run time: binding, thin wrappers,
// device search by USB ids and serial mask, and open under the lock that
// this program shares with others that search FTDI devices.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "namedlock.h"

// D2XX's own types, as the driver's calls take them.
using DWORD = uint32_t;
using UCHAR = uint8_t;
using FT_HANDLE = void*;
using FT_STATUS = DWORD;
using FT_DEVICE = DWORD;

constexpr FT_STATUS FT_OK = 0;
constexpr FT_STATUS FT_INVALID_HANDLE = 1;
constexpr FT_STATUS FT_DEVICE_NOT_FOUND = 2;
constexpr FT_STATUS FT_DEVICE_NOT_OPENED = 3;
constexpr FT_STATUS FT_IO_ERROR = 4;

constexpr DWORD FT_LIST_NUMBER_ONLY = 0x80000000;

// Serial and description buffers of FtGetDeviceInfo.
constexpr size_t FtInfoTextSize = 64;

// The driver's entry points. Null while unbound.
struct TFtEntryPoints {
    FT_STATUS (*FT_Open)(int DeviceNumber, FT_HANDLE* Handle) = nullptr;
    FT_STATUS (*FT_ListDevices)(void* Arg1, void* Arg2, DWORD Flags) = nullptr;
    FT_STATUS (*FT_SetVIDPID)(DWORD Vid, DWORD Pid) = nullptr;
    FT_STATUS (*FT_Close)(FT_HANDLE Handle) = nullptr;
    FT_STATUS (*FT_Read)(FT_HANDLE Handle, void* Buffer, DWORD Count, DWORD* Read) = nullptr;
    FT_STATUS (*FT_Write)(FT_HANDLE Handle, void* Buffer, DWORD Count, DWORD* Written) = nullptr;
    FT_STATUS (*FT_ResetDevice)(FT_HANDLE Handle) = nullptr;
    FT_STATUS (*FT_Purge)(FT_HANDLE Handle, DWORD Mask) = nullptr;
    FT_STATUS (*FT_GetQueueStatus)(FT_HANDLE Handle, DWORD* Queued) = nullptr;
    FT_STATUS (*FT_SetLatencyTimer)(FT_HANDLE Handle, UCHAR Timer) = nullptr;
    FT_STATUS (*FT_SetBitMode)(FT_HANDLE Handle, UCHAR Mask, UCHAR Mode) = nullptr;
    FT_STATUS (*FT_GetBitMode)(FT_HANDLE Handle, UCHAR* Mode) = nullptr;
    FT_STATUS (*FT_SetUSBParameters)(FT_HANDLE Handle, DWORD InSize, DWORD OutSize) = nullptr;
    FT_STATUS (*FT_GetDeviceInfo)(FT_HANDLE Handle, void* DeviceType, DWORD* Id, char* Serial,
                                  char* Description, void* Dummy) = nullptr;
    FT_STATUS (*FT_SetTimeouts)(FT_HANDLE Handle, DWORD ReadTimeout, DWORD WriteTimeout) = nullptr;
    FT_STATUS (*FT_CreateDeviceInfoList)(DWORD* Count) = nullptr;
    FT_STATUS (*FT_GetDeviceInfoList)(void* List, DWORD* Count) = nullptr;
    FT_STATUS (*FT_SetBaudRate)(FT_HANDLE Handle, DWORD BaudRate) = nullptr;
    FT_STATUS (*FT_GetDriverVersion)(FT_HANDLE Handle, DWORD* Version) = nullptr;
    FT_STATUS (*FT_StopInTask)(FT_HANDLE Handle) = nullptr;
    FT_STATUS (*FT_RestartInTask)(FT_HANDLE Handle) = nullptr;
};

// What FtLoad bound; all null while no library is loaded.
const TFtEntryPoints& FtEntries();

// ---- loading

// Loads libftd2xx.so, else liblin_ftd2xx.so, and binds the entry points.
// True when a usable library is loaded (at once when one already is).
bool FtLoad();
void FtUnload();
bool FtLoaded();

// Where FtLoad looks for the two names: empty (the default) means the
// program's own folder, then the loader's search path; a folder means that
// folder only. For tests that load a particular build of the library.
void FtSetLibraryFolder(const std::string& Folder);

// ---- thin wrappers: arguments and the driver's status passed unchanged.
// Called while no library is loaded they return FT_DEVICE_NOT_OPENED.

int32_t FtDeviceCount(); // 0 when no library is loaded or the count fails
FT_STATUS FtOpen(int32_t Index, FT_HANDLE& Handle); // under the search lock
FT_STATUS FtListDevices(void* Arg1, void* Arg2, DWORD Flags);
FT_STATUS FtClose(FT_HANDLE Handle);
FT_STATUS FtRead(FT_HANDLE Handle, void* Buffer, DWORD Count, DWORD& Read);
FT_STATUS FtWrite(FT_HANDLE Handle, const void* Buffer, DWORD Count, DWORD& Written);
FT_STATUS FtResetDevice(FT_HANDLE Handle);
FT_STATUS FtPurge(FT_HANDLE Handle, DWORD Mask);
FT_STATUS FtGetQueueStatus(FT_HANDLE Handle, DWORD& Queued);
FT_STATUS FtSetLatencyTimer(FT_HANDLE Handle, UCHAR Timer);
FT_STATUS FtGetDeviceInfo(FT_HANDLE Handle, FT_DEVICE& DeviceType, DWORD& Id, char (&Serial)[FtInfoTextSize],
                          char (&Description)[FtInfoTextSize], void* Dummy);
FT_STATUS FtSetTimeouts(FT_HANDLE Handle, DWORD ReadTimeout, DWORD WriteTimeout);

// The two entry points the cable code calls directly (no trace); they too
// return FT_DEVICE_NOT_OPENED while nothing is bound.
FT_STATUS FtSetBitMode(FT_HANDLE Handle, UCHAR Mask, UCHAR Mode);
FT_STATUS FtGetBitMode(FT_HANDLE Handle, UCHAR& Mode);

// Every wrapper names its call here. Without a hook set it does nothing;
// MainThread tells whether the call came from the thread that started the
// program.
void FtTrace(const char* Text);
void FtSetTraceHook(std::function<void(const char* Text, bool MainThread)> Hook);

// ---- device search

// The lock every search and every open takes; other programs use the same
// name. WaitMs is 10 s in the program; tests shorten it. The folder:
// Folder when set, else $ORBESK_SEARCH_LOCK_DIR when set and not empty,
// else the system's usual place for lock files.
struct TFtLockSettings {
    std::string Name = "FTDI_KALDOR_SEARCH";
    std::string Folder;
    uint32_t WaitMs = 10000;
};
TFtLockSettings& FtLockSettings();
inline constexpr const char* SearchLockDirEnvVar = "ORBESK_SEARCH_LOCK_DIR";
// The lock's folder and file, as the settings and the environment name them.
std::string FtSearchLockFolder();
std::string FtSearchLockPath();

// What a wait for the lock does besides waiting: the stop looked at, one
// call once it has lasted a second.
using TFtWaitHooks = platform::TLockWaitHooks;

// How a search or an open got on with the lock: taken; still held by
// another program when the wait ended; the wait ended by its Stop hook;
// no lock to be had at all (its file cannot be made).
enum class TFtLockOutcome { Taken, Busy, Stopped, NoLock };

// Holds the lock for as long as it lives, so that several searches and an
// open see the devices as one: those inside take it again at once.
class TFtSearchLock {
public:
    explicit TFtSearchLock(const TFtWaitHooks& Hooks = {});
    TFtSearchLock(const TFtWaitHooks& Hooks, uint32_t WaitMs);
    ~TFtSearchLock();
    TFtSearchLock(const TFtSearchLock&) = delete;
    TFtSearchLock& operator=(const TFtSearchLock&) = delete;

    TFtLockOutcome Outcome() const { return FOutcome; }
    bool Taken() const { return FOutcome == TFtLockOutcome::Taken; }

private:
    platform::TNamedLock FLock;
    TFtLockOutcome FOutcome;
};

// Upper-cases both; equal lengths and, at every position, equal characters
// or a '?' on either side.
bool SerialMatchesMask(const std::string& Mask, const std::string& Serial);

struct TFtSearchResult {
    TFtLockOutcome Lock = TFtLockOutcome::Taken;
    // Listed devices that could not be opened to be looked at: in use by
    // another program, or held by another driver.
    int32_t Unopened = 0;
};

// Lists the attached devices with this vendor and product id whose serial
// matches SerialMask and, unless WantedSerial is -1, whose 24-bit serial is
// the low 24 bits of WantedSerial. Serials gets their 24-bit serials in
// device-index order (-1 for a serial that is not eight hex digits);
// *Index, when given, the device index of the one match, else -1.
// When the lock cannot be had, returns at once with its outcome and
// touches neither output.
TFtSearchResult FindDevices(uint16_t Vid, uint16_t Pid, const std::string& SerialMask, int32_t WantedSerial,
                            int32_t* Index, std::vector<int32_t>& Serials, const TFtWaitHooks& Hooks = {});
