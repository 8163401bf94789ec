// An emulated device is open in at most one process, as a real one: each
// open takes an advisory lock on a file named after the device, which the
// system drops when the holding process ends, however it ends.
#pragma once

#include <string>

namespace simd2xx {

// Folder of the device lock files: $ORBESK_SIM_LOCK_DIR; unset, /tmp for
// a program's scenario and none for one that a test loads in-process. Set
// but empty: no lock files, every process sees its devices free (test
// programs that run side by side on the same serials).
inline constexpr const char* LockDirEnvVar = "ORBESK_SIM_LOCK_DIR";

class TDeviceLock {
public:
    TDeviceLock() = default;
    ~TDeviceLock() { Release(); }
    TDeviceLock(const TDeviceLock&) = delete;
    TDeviceLock& operator=(const TDeviceLock&) = delete;
    TDeviceLock(TDeviceLock&& Other) noexcept : Fd(Other.Fd) { Other.Fd = -1; }
    TDeviceLock& operator=(TDeviceLock&& Other) noexcept;

    // False when another process holds the device named Key. Without a
    // lock folder, or when its file cannot be made, the device counts as
    // free: the emulator then keeps its open state per process only.
    // DefaultFolder: /tmp serves when no folder is named.
    bool Take(const std::string& Key, bool DefaultFolder);
    void Release();

private:
    int Fd = -1;
};

} // namespace simd2xx
