// A worker thread object in the manner of the players: created suspended
// (no operating-system thread yet), resumed once and waited for. A body
// learns of a stop from the stop token it was given, not from its thread.
#pragma once

#include <atomic>
#include <functional>
#include <thread>

namespace platform {

class TThread {
public:
    // The body runs on the new thread once Resume is called.
    explicit TThread(std::function<void(TThread& Self)> Execute);
    // Waits for a thread that was started; a never started one is not
    // waited for.
    ~TThread();
    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;

    // Starts the thread; false when it was started before or the system
    // cannot create it.
    bool Resume();
    bool Started() const { return FStarted; }
    // True once the body has returned; everything the body wrote before is
    // visible to the thread that sees it true.
    bool Finished() const { return FFinished.load(std::memory_order_acquire); }
    // Blocks until the body has returned; returns at once when the thread
    // never started or was waited for already.
    void WaitFor();

private:
    void Run();

    std::function<void(TThread&)> FExecute;
    std::thread FThread;
    bool FStarted = false;
    std::atomic<bool> FFinished{false};
};

// Gives up the rest of the time slice, for loops that wait on another party.
void YieldThread();

} // namespace platform
