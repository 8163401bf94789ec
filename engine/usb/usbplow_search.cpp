// Device search by USB ids and serial mask, and opening a device, both
// under the lock shared with other programs that search FTDI devices.
#include "usb/usbplow.h"

#include <cstdlib>
#include <cstring>

#include "base/StrUtilsEx.h"
#include "hexdigit.h"
#include "namedlock.h"

namespace {

TFtLockSettings LockSettings;

} // namespace

std::string FtSearchLockFolder()
{
    if (!LockSettings.Folder.empty())
        return LockSettings.Folder;
    const char* folder = std::getenv(SearchLockDirEnvVar);
    return folder && *folder ? folder : platform::NamedLockFolder();
}

namespace {

platform::TNamedLock MakeLock()
{
    return platform::TNamedLock(LockSettings.Name, FtSearchLockFolder());
}

TFtLockOutcome OutcomeOf(platform::TLockWait Wait)
{
    switch (Wait) {
    case platform::TLockWait::Acquired:
        return TFtLockOutcome::Taken;
    case platform::TLockWait::TimedOut:
        return TFtLockOutcome::Busy;
    case platform::TLockWait::Stopped:
        return TFtLockOutcome::Stopped;
    case platform::TLockWait::Failed:
        break;
    }
    return TFtLockOutcome::NoLock;
}

TFtLockOutcome Take(platform::TNamedLock& Lock, uint32_t WaitMs, const TFtWaitHooks& Hooks)
{
    return Lock.Valid() ? OutcomeOf(Lock.Wait(WaitMs, Hooks)) : TFtLockOutcome::NoLock;
}

// Releases on every way out of a search that took the lock.
class TLockHold {
public:
    explicit TLockHold(platform::TNamedLock& L) : Lock(L) {}
    ~TLockHold() { Lock.Release(); }
    TLockHold(const TLockHold&) = delete;
    TLockHold& operator=(const TLockHold&) = delete;

private:
    platform::TNamedLock& Lock;
};

// Eight hex digits, read unsigned: serials such as A6FFFFFF do not fit a
// signed 32-bit number.
int32_t SerialValue(const std::string& Serial)
{
    if (Serial.size() != 8)
        return -1;
    uint32_t value = 0;
    for (char c : Serial) {
        const int digit = HexDigitValue(c);
        if (digit < 0)
            return -1;
        value = (value << 4) | static_cast<uint32_t>(digit);
    }
    return static_cast<int32_t>(value & 0xFFFFFF);
}

// The serial as the device reports it, up to its NUL but never past the
// buffer, without the 'A' that the first channel of a dual chip adds.
std::string SerialOf(const char (&Buffer)[FtInfoTextSize])
{
    std::string serial(Buffer, strnlen(Buffer, FtInfoTextSize));
    if (serial.size() == 9 && serial[8] == 'A')
        serial.resize(8);
    return serial;
}

} // namespace

TFtLockSettings& FtLockSettings()
{
    return LockSettings;
}

std::string FtSearchLockPath()
{
    return FtSearchLockFolder() + "/" + LockSettings.Name + ".lock";
}

TFtSearchLock::TFtSearchLock(const TFtWaitHooks& Hooks) : TFtSearchLock(Hooks, LockSettings.WaitMs) {}

TFtSearchLock::TFtSearchLock(const TFtWaitHooks& Hooks, uint32_t WaitMs)
    : FLock(LockSettings.Name, FtSearchLockFolder()), FOutcome(Take(FLock, WaitMs, Hooks))
{
}

TFtSearchLock::~TFtSearchLock()
{
    if (Taken())
        FLock.Release();
}

bool SerialMatchesMask(const std::string& Mask, const std::string& Serial)
{
    std::string mask = Mask;
    std::string serial = Serial;
    UpperCaseAscii(mask);
    UpperCaseAscii(serial);
    if (mask.size() != serial.size())
        return false;
    for (size_t i = 0; i < mask.size(); ++i)
        if (mask[i] != serial[i] && mask[i] != '?' && serial[i] != '?')
            return false;
    return true;
}

FT_STATUS FtOpen(int32_t Index, FT_HANDLE& Handle)
{
    platform::TNamedLock lock = MakeLock();
    if (!lock.Valid())
        return FT_DEVICE_NOT_OPENED;
    // The open goes ahead when the wait ends, whatever its outcome; only
    // a taken lock is given back.
    const bool taken = lock.Wait(LockSettings.WaitMs) == platform::TLockWait::Acquired;
    FtTrace("FT_Open");
    const FT_STATUS status = FtEntries().FT_Open ? FtEntries().FT_Open(Index, &Handle) : FT_DEVICE_NOT_OPENED;
    if (taken)
        lock.Release();
    return status;
}

TFtSearchResult FindDevices(uint16_t Vid, uint16_t Pid, const std::string& SerialMask, int32_t WantedSerial,
                            int32_t* Index, std::vector<int32_t>& Serials, const TFtWaitHooks& Hooks)
{
    TFtSearchResult result;
    platform::TNamedLock lock = MakeLock();
    result.Lock = Take(lock, LockSettings.WaitMs, Hooks);
    if (result.Lock != TFtLockOutcome::Taken)
        return result;
    std::vector<int32_t> found;
    int32_t foundIndex = -1;
    {
        TLockHold hold(lock);
        if (FtEntries().FT_SetVIDPID)
            FtEntries().FT_SetVIDPID(Vid, Pid);
        const int32_t count = FtDeviceCount();
        const DWORD wantedId = (DWORD(Vid) << 16) | Pid;

        for (int32_t i = 0; i < count; ++i) {
            FT_HANDLE handle = nullptr;
            if (FtOpen(i, handle) != FT_OK) {
                ++result.Unopened; // in use by another program
                continue;
            }
            FT_DEVICE type = 0;
            DWORD id = 0;
            char serialText[FtInfoTextSize] = {};
            char description[FtInfoTextSize] = {};
            if (FtGetDeviceInfo(handle, type, id, serialText, description, nullptr) == FT_OK) {
                const std::string serial = SerialOf(serialText);
                const int32_t value = SerialValue(serial);
                if (id == wantedId && SerialMatchesMask(SerialMask, serial) &&
                    (WantedSerial == -1 || (value != -1 && value == (WantedSerial & 0xFFFFFF)))) {
                    found.push_back(value);
                    foundIndex = i;
                }
            }
            FtClose(handle);
        }
    }
    Serials = std::move(found);
    if (Index)
        *Index = Serials.size() > 1 ? -1 : foundIndex;
    return result;
}
