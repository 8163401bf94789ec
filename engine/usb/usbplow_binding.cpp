// Loading the driver library, binding its entry points, the thin wrappers.
#include "usb/usbplow.h"

#include <bit>
#include <thread>

#include "dynlib.h"

namespace {

platform::TLibHandle Library = nullptr;
TFtEntryPoints Entries;
std::string LibraryFolder;
std::function<void(const char*, bool)> TraceHook;
// Static initialisation runs on the thread that starts the program.
const std::thread::id MainThread = std::this_thread::get_id();

// Frees a loaded library when the program ends.
struct TUnloadAtExit {
    ~TUnloadAtExit() { FtUnload(); }
} UnloadAtExit;

struct TEntry {
    const char* Name;
    void** Slot;
    bool Required;
};

template <typename F>
void** SlotOf(F& Pointer)
{
    return reinterpret_cast<void**>(&Pointer);
}

std::vector<TEntry> EntryTable(TFtEntryPoints& E)
{
    // Lookup order as the driver lists them; FT_SetVIDPID and
    // FT_GetDriverVersion are the only optional ones.
    return {
        {"FT_Open", SlotOf(E.FT_Open), true},
        {"FT_ListDevices", SlotOf(E.FT_ListDevices), true},
        {"FT_SetVIDPID", SlotOf(E.FT_SetVIDPID), false},
        {"FT_Close", SlotOf(E.FT_Close), true},
        {"FT_Read", SlotOf(E.FT_Read), true},
        {"FT_Write", SlotOf(E.FT_Write), true},
        {"FT_ResetDevice", SlotOf(E.FT_ResetDevice), true},
        {"FT_Purge", SlotOf(E.FT_Purge), true},
        {"FT_GetQueueStatus", SlotOf(E.FT_GetQueueStatus), true},
        {"FT_SetLatencyTimer", SlotOf(E.FT_SetLatencyTimer), true},
        {"FT_SetBitMode", SlotOf(E.FT_SetBitMode), true},
        {"FT_GetBitMode", SlotOf(E.FT_GetBitMode), true},
        {"FT_SetUSBParameters", SlotOf(E.FT_SetUSBParameters), true},
        {"FT_GetDeviceInfo", SlotOf(E.FT_GetDeviceInfo), true},
        {"FT_SetTimeouts", SlotOf(E.FT_SetTimeouts), true},
        {"FT_CreateDeviceInfoList", SlotOf(E.FT_CreateDeviceInfoList), true},
        {"FT_GetDeviceInfoList", SlotOf(E.FT_GetDeviceInfoList), true},
        {"FT_SetBaudRate", SlotOf(E.FT_SetBaudRate), true},
        {"FT_GetDriverVersion", SlotOf(E.FT_GetDriverVersion), false},
        {"FT_StopInTask", SlotOf(E.FT_StopInTask), true},
        {"FT_RestartInTask", SlotOf(E.FT_RestartInTask), true},
    };
}

platform::TLibHandle LoadDriver()
{
    for (const char* name : {"libftd2xx.so", "liblin_ftd2xx.so"}) {
        const std::string path = LibraryFolder.empty() ? std::string(name) : LibraryFolder + "/" + name;
        if (platform::TLibHandle lib = platform::LoadLib(path))
            return lib;
    }
    return nullptr;
}

} // namespace

const TFtEntryPoints& FtEntries()
{
    return Entries;
}

bool FtLoaded()
{
    return Library != nullptr;
}

void FtSetLibraryFolder(const std::string& Folder)
{
    LibraryFolder = Folder;
}

bool FtLoad()
{
    if (Library)
        return true;
    Entries = {};
    Library = LoadDriver();
    if (!Library)
        return false;

    // A library that exports lin_FT_Open uses that prefix for everything.
    // FT_SetVIDPID is bound in both sets when exported: the Linux driver
    // lists devices with other USB ids only after that call.
    const std::string prefix = platform::LibSymbol(Library, "lin_FT_Open") ? "lin_" : "";
    for (const TEntry& entry : EntryTable(Entries)) {
        *entry.Slot = platform::LibSymbol(Library, prefix + entry.Name);
        if (!*entry.Slot && entry.Required) {
            FtUnload();
            return false;
        }
    }
    return true;
}

void FtUnload()
{
    if (Library)
        platform::FreeLib(Library);
    Library = nullptr;
    Entries = {};
}

void FtTrace(const char* Text)
{
    if (TraceHook)
        TraceHook(Text, std::this_thread::get_id() == MainThread);
}

void FtSetTraceHook(std::function<void(const char*, bool)> Hook)
{
    TraceHook = std::move(Hook);
}

int32_t FtDeviceCount()
{
    if (!Entries.FT_ListDevices)
        return 0;
    DWORD count = 0;
    FtTrace("FT_ListDevices");
    if (Entries.FT_ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY) != FT_OK)
        return 0;
    return static_cast<int32_t>(count);
}

FT_STATUS FtListDevices(void* Arg1, void* Arg2, DWORD Flags)
{
    FtTrace("FT_ListDevices");
    return Entries.FT_ListDevices ? Entries.FT_ListDevices(Arg1, Arg2, Flags) : FT_DEVICE_NOT_OPENED;
}

FT_STATUS FtClose(FT_HANDLE Handle)
{
    FtTrace("FT_Close");
    return Entries.FT_Close ? Entries.FT_Close(Handle) : FT_DEVICE_NOT_OPENED;
}

FT_STATUS FtRead(FT_HANDLE Handle, void* Buffer, DWORD Count, DWORD& Read)
{
    FtTrace("FT_Read");
    return Entries.FT_Read ? Entries.FT_Read(Handle, Buffer, Count, &Read) : FT_DEVICE_NOT_OPENED;
}

FT_STATUS FtWrite(FT_HANDLE Handle, const void* Buffer, DWORD Count, DWORD& Written)
{
    FtTrace("FT_Write");
    // The driver's prototype is not const but it only reads the buffer.
    return Entries.FT_Write ? Entries.FT_Write(Handle, const_cast<void*>(Buffer), Count, &Written)
                            : FT_DEVICE_NOT_OPENED;
}

FT_STATUS FtResetDevice(FT_HANDLE Handle)
{
    FtTrace("FT_ResetDevice");
    return Entries.FT_ResetDevice ? Entries.FT_ResetDevice(Handle) : FT_DEVICE_NOT_OPENED;
}

FT_STATUS FtPurge(FT_HANDLE Handle, DWORD Mask)
{
    FtTrace("FT_Purge");
    return Entries.FT_Purge ? Entries.FT_Purge(Handle, Mask) : FT_DEVICE_NOT_OPENED;
}

FT_STATUS FtGetQueueStatus(FT_HANDLE Handle, DWORD& Queued)
{
    FtTrace("FT_GetQueueStatus");
    return Entries.FT_GetQueueStatus ? Entries.FT_GetQueueStatus(Handle, &Queued) : FT_DEVICE_NOT_OPENED;
}

FT_STATUS FtSetLatencyTimer(FT_HANDLE Handle, UCHAR Timer)
{
    FtTrace("FT_SetLatencyTimer");
    return Entries.FT_SetLatencyTimer ? Entries.FT_SetLatencyTimer(Handle, Timer) : FT_DEVICE_NOT_OPENED;
}

FT_STATUS FtGetDeviceInfo(FT_HANDLE Handle, FT_DEVICE& DeviceType, DWORD& Id, char (&Serial)[FtInfoTextSize],
                          char (&Description)[FtInfoTextSize], void* Dummy)
{
    FtTrace("FT_GetDeviceInfo");
    if (!Entries.FT_GetDeviceInfo)
        return FT_DEVICE_NOT_OPENED;
    // The device type is a C long in some builds of the driver: give it
    // room for either width and keep the low 32 bits.
    static_assert(std::endian::native == std::endian::little);
    uint64_t type = 0;
    const FT_STATUS status = Entries.FT_GetDeviceInfo(Handle, &type, &Id, Serial, Description, Dummy);
    DeviceType = static_cast<FT_DEVICE>(type);
    return status;
}

FT_STATUS FtSetTimeouts(FT_HANDLE Handle, DWORD ReadTimeout, DWORD WriteTimeout)
{
    FtTrace("FT_SetTimeouts");
    return Entries.FT_SetTimeouts ? Entries.FT_SetTimeouts(Handle, ReadTimeout, WriteTimeout) : FT_DEVICE_NOT_OPENED;
}

FT_STATUS FtSetBitMode(FT_HANDLE Handle, UCHAR Mask, UCHAR Mode)
{
    return Entries.FT_SetBitMode ? Entries.FT_SetBitMode(Handle, Mask, Mode) : FT_DEVICE_NOT_OPENED;
}

FT_STATUS FtGetBitMode(FT_HANDLE Handle, UCHAR& Mode)
{
    return Entries.FT_GetBitMode ? Entries.FT_GetBitMode(Handle, &Mode) : FT_DEVICE_NOT_OPENED;
}
