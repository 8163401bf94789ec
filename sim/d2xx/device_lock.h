// An emulated device is open in at most one process, as a real one: each
// open takes an advisory lock on a file named after the device, which the
// system drops when the holding process ends, however it ends.
#pragma once

#include <string>

namespace simd2xx {

// Folder of the device lock files: $ORBESK_SIM_LOCK_DIR, else /tmp. Set
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
    bool Take(const std::string& Key);
    void Release();

private:
    int Fd = -1;
};

} // namespace simd2xx
