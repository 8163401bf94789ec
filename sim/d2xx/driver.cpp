#include "driver.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string_view>
#include <thread>
#include <vector>

#include "device_lock.h"
#include "loopback.h"
#include "cables/protocol.h"
#include "scenario/scenario.h"
#include "scenario/trace.h"

namespace simd2xx {

namespace {

struct TDevice {
    sim::ScenarioDevice Info;
    std::unique_ptr<sim::Protocol> Proto;
    uintptr_t Handle = 0; // 0: not open
    // Names the device to other processes; held while it is open here.
    std::string LockKey;
    TDeviceLock CrossProcess;
};

struct THandle {
    size_t Device;
    DWORD ReadTimeoutMs;
};

std::mutex Lock;
bool Initialised = false;
bool VidPidFilter = false;
DWORD ExtraVid = 0;
DWORD ExtraPid = 0;
std::vector<TDevice> Devices;
std::map<uintptr_t, THandle> Handles;
// Never reused within a scenario, so a stale handle stays unknown.
uintptr_t NextHandle = 1;
std::map<std::string, unsigned long long, std::less<>> Counters;
// Read from the environment, as a program under emulation does, rather
// than loaded by a test in-process: its devices are held across processes
// without a lock folder named.
bool ScenarioOfAProgram = false;

std::string Hex(uintptr_t Value)
{
    char text[32];
    std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(Value));
    return text;
}

void Trace(const std::string& Text)
{
    sim::TraceLine("d2xx " + Text);
}

// USB ids and serial; a scenario that lists one device twice gets a
// count after the second, so that each is a device of its own.
std::string LockKeyFor(const sim::ScenarioDevice& Info)
{
    char ids[16];
    std::snprintf(ids, sizeof ids, "%04X-%04X-", Info.Vid, Info.Pid);
    const std::string key = ids + Info.Serial;
    int same = 0;
    for (const TDevice& d : Devices)
        same += d.Info.Vid == Info.Vid && d.Info.Pid == Info.Pid && d.Info.Serial == Info.Serial;
    return same ? key + "#" + std::to_string(same) : key;
}

void Install(sim::Scenario Scenario)
{
    for (TDevice& d : Devices)
        if (d.Handle)
            d.Proto->Closed();
    Devices.clear();
    Handles.clear();
    Counters.clear();
    NextHandle = 1;
    ExtraVid = ExtraPid = 0;
    VidPidFilter = Scenario.VidPidFilter;
    for (sim::ScenarioDevice& device : Scenario.Devices) {
        TDevice d;
        if (device.Kind == "loopback")
            d.Proto = std::make_unique<LoopbackProtocol>(device.Config);
        else
            d.Proto = sim::CreateProtocol(device.Kind, device.Config);
        d.Info = std::move(device);
        d.LockKey = LockKeyFor(d.Info);
        Devices.push_back(std::move(d));
    }
    sim::TraceClear();
    Initialised = true;
}

bool InstallFrom(const std::string& PathOrJson, std::string& Error)
{
    try {
        Install(sim::ReadScenario(PathOrJson));
        return true;
    } catch (const std::exception& e) {
        Install({});
        Error = e.what();
        Trace("scenario-error " + Error);
        return false;
    }
}

bool InstallFromEnvironment(std::string& Error)
{
    ScenarioOfAProgram = true;
    const char* trace = std::getenv(sim::TraceEnvVar);
    sim::TraceToFile(trace ? trace : "");
    const char* scenario = std::getenv(sim::ScenarioEnvVar);
    if (!scenario || !*scenario) {
        Install({});
        return true;
    }
    if (InstallFrom(scenario, Error))
        return true;
    // A program run under the emulator has no other way to say it.
    std::fprintf(stderr, "%s\n", Error.c_str());
    return false;
}

// Takes the lock, reads the environment's scenario on first use and counts
// the call; the trace it made is in the file when it returns or waits.
class TCall {
public:
    explicit TCall(const char* Name) : Guard(Lock)
    {
        if (!Initialised) {
            std::string error;
            InstallFromEnvironment(error);
        }
        // Found without making a string: a fast run calls in often.
        const auto it = Counters.find(std::string_view(Name));
        if (it != Counters.end())
            ++it->second;
        else
            ++Counters[Name];
        CallName = Name;
    }
    ~TCall() { sim::TraceFlush(); }
    TCall(const TCall&) = delete;
    TCall& operator=(const TCall&) = delete;

    // The lock is given up while the device is busy, so that other calls go on.
    void Release()
    {
        sim::TraceFlush();
        Guard.unlock();
    }
    void Retake() { Guard.lock(); }

    std::unique_lock<std::mutex> Guard;
    const char* CallName;
};

bool Listed(const TDevice& D)
{
    if (!VidPidFilter)
        return true;
    if (D.Info.Vid == ExtraVid && D.Info.Pid == ExtraPid)
        return true;
    static constexpr uint16_t ftdiPids[] = {0x6001, 0x6010, 0x6011, 0x6014, 0x6015};
    return D.Info.Vid == 0x0403 &&
           std::find(std::begin(ftdiPids), std::end(ftdiPids), D.Info.Pid) != std::end(ftdiPids);
}

std::vector<size_t> ListedDevices()
{
    std::vector<size_t> listed;
    for (size_t i = 0; i < Devices.size(); ++i)
        if (Listed(Devices[i]))
            listed.push_back(i);
    return listed;
}

// The open handle's device, or null after counting a protocol error.
TDevice* DeviceOf(const TCall& Call, FT_HANDLE Handle, THandle** Info = nullptr)
{
    const auto it = Handles.find(reinterpret_cast<uintptr_t>(Handle));
    if (it == Handles.end()) {
        ++Counters["protocol_errors"];
        Trace(std::string("protocol-error ") + Call.CallName + " on invalid handle " +
              Hex(reinterpret_cast<uintptr_t>(Handle)));
        return nullptr;
    }
    if (Info)
        *Info = &it->second;
    return &Devices[it->second.Device];
}

// The device behind an open handle: FT_INVALID_HANDLE (and a protocol
// error counted) for none, FT_IO_ERROR once it is unplugged.
FT_STATUS LiveDevice(const TCall& Call, FT_HANDLE Handle, TDevice*& Device)
{
    Device = DeviceOf(Call, Handle);
    if (!Device)
        return FT_INVALID_HANDLE;
    return Device->Proto->Present() ? FT_OK : FT_IO_ERROR;
}

void CopyText(char* Buffer, const std::string& Text)
{
    if (!Buffer)
        return;
    const size_t n = std::min<size_t>(Text.size(), InfoTextSize);
    std::memcpy(Buffer, Text.data(), n);
    if (n < InfoTextSize)
        Buffer[n] = '\0';
}

} // namespace

FT_STATUS Open(int Index, FT_HANDLE* Handle)
{
    TCall call("FT_Open");
    const std::vector<size_t> listed = ListedDevices();
    if (!Handle)
        return FT_INVALID_PARAMETER;
    if (Index < 0 || static_cast<size_t>(Index) >= listed.size()) {
        Trace("open-refused index " + std::to_string(Index) + " no such device");
        return FT_DEVICE_NOT_FOUND;
    }
    TDevice& d = Devices[listed[static_cast<size_t>(Index)]];
    if (!d.Proto->Present()) {
        Trace("open-refused " + d.Info.Serial + " unplugged");
        return FT_DEVICE_NOT_FOUND;
    }
    if (d.Info.Busy || d.Handle) {
        Trace("open-refused " + d.Info.Serial + (d.Info.Busy ? " busy" : " already open"));
        return FT_DEVICE_NOT_OPENED;
    }
    if (!d.CrossProcess.Take(d.LockKey, ScenarioOfAProgram)) {
        Trace("open-refused " + d.Info.Serial + " open in another process");
        return FT_DEVICE_NOT_OPENED;
    }
    d.Handle = NextHandle++;
    Handles[d.Handle] = THandle{listed[static_cast<size_t>(Index)], d.Info.ReadTimeoutMs};
    ++Counters["open_handles"];
    *Handle = reinterpret_cast<FT_HANDLE>(d.Handle);
    Trace("open " + d.Info.Serial + " index " + std::to_string(Index) + " handle " + Hex(d.Handle));
    d.Proto->Opened();
    return FT_OK;
}

FT_STATUS ListDevices(void* Arg1, void*, DWORD Flags)
{
    TCall call("FT_ListDevices");
    if (Flags != FT_LIST_NUMBER_ONLY || !Arg1)
        return FT_INVALID_PARAMETER;
    *static_cast<DWORD*>(Arg1) = static_cast<DWORD>(ListedDevices().size());
    return FT_OK;
}

FT_STATUS SetVidPid(DWORD Vid, DWORD Pid)
{
    TCall call("FT_SetVIDPID");
    ExtraVid = Vid;
    ExtraPid = Pid;
    return FT_OK;
}

FT_STATUS Close(FT_HANDLE Handle)
{
    TCall call("FT_Close");
    TDevice* d = DeviceOf(call, Handle);
    if (!d)
        return FT_INVALID_HANDLE;
    Handles.erase(d->Handle);
    d->Handle = 0;
    d->CrossProcess.Release();
    --Counters["open_handles"];
    Trace("close " + d->Info.Serial);
    d->Proto->Closed();
    // A fast run is measured from outside: its calls go to the trace.
    if (d->Info.Config.value("fast", false))
        Trace("calls FT_Write=" + std::to_string(Counters["FT_Write"]) + " FT_Read=" +
              std::to_string(Counters["FT_Read"]) + " FT_GetQueueStatus=" + std::to_string(Counters["FT_GetQueueStatus"]));
    return FT_OK;
}

FT_STATUS Read(FT_HANDLE Handle, void* Buffer, DWORD Count, DWORD* Read)
{
    TCall call("FT_Read");
    THandle* info = nullptr;
    TDevice* d = DeviceOf(call, Handle, &info);
    if (!d)
        return FT_INVALID_HANDLE;
    if (!Read || (!Buffer && Count))
        return FT_INVALID_PARAMETER;
    *Read = 0;
    // What is there now, then what arrives within the read time-out; the
    // lock is given up while waiting so that other calls go on.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(info->ReadTimeoutMs);
    auto* out = static_cast<uint8_t*>(Buffer);
    for (;;) {
        if (!d->Proto->Present() || d->Proto->ReadFails())
            return FT_IO_ERROR;
        *Read += static_cast<DWORD>(d->Proto->Read(out + *Read, Count - *Read));
        if (*Read >= Count || std::chrono::steady_clock::now() >= deadline)
            return FT_OK;
        const uintptr_t handle = d->Handle;
        call.Release();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        call.Retake();
        d = DeviceOf(call, reinterpret_cast<FT_HANDLE>(handle), &info);
        if (!d)
            return FT_INVALID_HANDLE; // closed meanwhile
    }
}

FT_STATUS Write(FT_HANDLE Handle, void* Buffer, DWORD Count, DWORD* Written)
{
    TCall call("FT_Write");
    TDevice* d = DeviceOf(call, Handle);
    if (!d)
        return FT_INVALID_HANDLE;
    if (!Written || (!Buffer && Count))
        return FT_INVALID_PARAMETER;
    *Written = 0;
    // "short_writes": the driver takes all but the last byte of every write
    // of two or more and still reports success, as a driver returning early.
    const DWORD take = Count > 1 && d->Info.Config.value("short_writes", false) ? Count - 1 : Count;
    // "trace_writes": every write's bytes as the host gave them.
    if (d->Info.Config.value("trace_writes", false)) {
        std::string bytes;
        for (DWORD i = 0; i < take; ++i)
            bytes += " " + sim::HexByte(static_cast<const uint8_t*>(Buffer)[i]);
        Trace("write " + d->Info.Serial + bytes);
    }
    if (!d->Proto->Present() || !d->Proto->HostWrite(static_cast<const uint8_t*>(Buffer), take))
        return FT_IO_ERROR;
    *Written = take;
    // A paced device: the write returns once the bytes fit into the chip's
    // buffer.
    const auto busyUntil = d->Proto->WriteReturnsAt();
    if (busyUntil > std::chrono::steady_clock::now()) {
        call.Release();
        std::this_thread::sleep_until(busyUntil);
        call.Retake();
    }
    return FT_OK;
}

FT_STATUS ResetDevice(FT_HANDLE Handle)
{
    TCall call("FT_ResetDevice");
    TDevice* d = nullptr;
    if (const FT_STATUS status = LiveDevice(call, Handle, d); status != FT_OK)
        return status;
    d->Proto->ResetDevice();
    return FT_OK;
}

FT_STATUS Purge(FT_HANDLE Handle, DWORD Mask)
{
    TCall call("FT_Purge");
    TDevice* d = nullptr;
    if (const FT_STATUS status = LiveDevice(call, Handle, d); status != FT_OK)
        return status;
    if (Mask & FT_PURGE_RX)
        d->Proto->Purge();
    return FT_OK;
}

FT_STATUS GetQueueStatus(FT_HANDLE Handle, DWORD* Queued)
{
    TCall call("FT_GetQueueStatus");
    TDevice* d = nullptr;
    if (const FT_STATUS status = LiveDevice(call, Handle, d); status != FT_OK)
        return status;
    if (!Queued)
        return FT_INVALID_PARAMETER;
    if (d->Proto->ReadFails())
        return FT_IO_ERROR;
    *Queued = static_cast<DWORD>(d->Proto->Available());
    return FT_OK;
}

FT_STATUS SetLatencyTimer(FT_HANDLE Handle, UCHAR Timer)
{
    TCall call("FT_SetLatencyTimer");
    TDevice* d = nullptr;
    if (const FT_STATUS status = LiveDevice(call, Handle, d); status != FT_OK)
        return status;
    d->Proto->SetLatencyTimer(Timer);
    return FT_OK;
}

FT_STATUS SetBitMode(FT_HANDLE Handle, UCHAR Mask, UCHAR Mode)
{
    TCall call("FT_SetBitMode");
    TDevice* d = nullptr;
    if (const FT_STATUS status = LiveDevice(call, Handle, d); status != FT_OK)
        return status;
    Trace("bitmode " + d->Info.Serial + " mask=" + sim::HexByte(Mask) + " mode=" + sim::HexByte(Mode));
    if (!d->Proto->SetBitMode(Mask, Mode))
        return FT_IO_ERROR;
    return FT_OK;
}

FT_STATUS GetBitMode(FT_HANDLE Handle, UCHAR* Mode)
{
    TCall call("FT_GetBitMode");
    TDevice* d = nullptr;
    if (const FT_STATUS status = LiveDevice(call, Handle, d); status != FT_OK)
        return status;
    if (!Mode)
        return FT_INVALID_PARAMETER;
    *Mode = d->Proto->GetBitMode();
    return FT_OK;
}

FT_STATUS GetDeviceInfo(FT_HANDLE Handle, void* Type, DWORD* Id, char* Serial, char* Description, void*)
{
    TCall call("FT_GetDeviceInfo");
    TDevice* d = nullptr;
    if (const FT_STATUS status = LiveDevice(call, Handle, d); status != FT_OK)
        return status;
    if (d->Info.InfoFails)
        return FT_IO_ERROR;
    if (Type)
        std::memcpy(Type, &d->Info.Type, sizeof(DWORD));
    if (Id)
        *Id = (DWORD(d->Info.Vid) << 16) | d->Info.Pid;
    CopyText(Serial, d->Info.Serial);
    CopyText(Description, d->Info.Description);
    return FT_OK;
}

FT_STATUS SetTimeouts(FT_HANDLE Handle, DWORD ReadTimeout, DWORD)
{
    TCall call("FT_SetTimeouts");
    THandle* info = nullptr;
    if (!DeviceOf(call, Handle, &info))
        return FT_INVALID_HANDLE;
    info->ReadTimeoutMs = ReadTimeout;
    return FT_OK;
}

FT_STATUS CreateDeviceInfoList(DWORD* Count)
{
    TCall call("FT_CreateDeviceInfoList");
    if (Count)
        *Count = static_cast<DWORD>(ListedDevices().size());
    return FT_OK;
}

FT_STATUS GetDriverVersion(FT_HANDLE, DWORD* Version)
{
    TCall call("FT_GetDriverVersion");
    if (Version)
        *Version = 0x00010000;
    return FT_OK;
}

FT_STATUS Unused(const char* Name)
{
    TCall call(Name);
    return FT_OK;
}

bool LoadScenario(const std::string& PathOrJson, std::string& Error)
{
    std::lock_guard<std::mutex> guard(Lock);
    ScenarioOfAProgram = false;
    return InstallFrom(PathOrJson, Error);
}

bool ResetFromEnvironment(std::string& Error)
{
    std::lock_guard<std::mutex> guard(Lock);
    const bool installed = InstallFromEnvironment(Error);
    sim::TraceFlush();
    return installed;
}

sim::Protocol* DeviceProtocol(size_t Index)
{
    std::lock_guard<std::mutex> guard(Lock);
    return Index < Devices.size() ? Devices[Index].Proto.get() : nullptr;
}

unsigned long long Counter(const std::string& Name)
{
    std::lock_guard<std::mutex> guard(Lock);
    const auto it = Counters.find(Name);
    return it == Counters.end() ? 0 : it->second;
}

} // namespace simd2xx
