// A request to stop, the one way a run learns of it: asked from any thread
// (a signal handler too, the ask being one lock-free store) and read by
// whatever waits or works on the run's behalf.
#pragma once

#include <atomic>

namespace platform {

class TStopToken {
public:
    void Ask() { FAsked.store(true); }
    bool Asked() const { return FAsked.load(); }
    // Takes the request back, for a program that catches its signals anew.
    void Clear() { FAsked.store(false); }

private:
    std::atomic<bool> FAsked{false};
    static_assert(std::atomic<bool>::is_always_lock_free);
};

} // namespace platform
