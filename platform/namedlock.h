// A lock shared by every process that uses the same name: at most one
// thread of one process holds it at a time. The thread that holds it may
// take it again (each taking matched by one release), and the system
// drops it when the holding process ends, however it ends.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "stoptoken.h"

namespace platform {

// Where the lock files live: /tmp, which every session of the machine
// shares (a per-session runtime folder would let two sessions race for the
// same USB devices).
std::string NamedLockFolder();

enum class TLockWait { Acquired, TimedOut, Failed, Stopped };

// What a wait does besides waiting, on the waiting thread: Stop is looked
// at every few milliseconds and ends the wait (Stopped) once asked;
// Waiting is called once when the wait has lasted WaitingAfterMs.
struct TLockWaitHooks {
    const TStopToken* Stop = nullptr;
    std::function<void()> Waiting;
    uint32_t WaitingAfterMs = 1000;
};

class TNamedLock {
public:
    // Creates or opens the lock; Valid() tells whether that worked.
    explicit TNamedLock(const std::string& Name, const std::string& Folder = NamedLockFolder());
    ~TNamedLock();
    TNamedLock(const TNamedLock&) = delete;
    TNamedLock& operator=(const TNamedLock&) = delete;

    bool Valid() const { return Fd >= 0; }

    // Waits at most TimeoutMs for the lock. The holding thread gets it at
    // once. Failed: the handle is not valid or the system refused.
    TLockWait Wait(uint32_t TimeoutMs, const TLockWaitHooks& Hooks = {});
    // Gives back one taking. False, and nothing changes, when the calling
    // thread does not hold the lock.
    bool Release();

private:
    std::string Path;
    int Fd = -1;
};

} // namespace platform
