// A worker thread object in the manner of the players: created suspended
// (no operating-system thread yet), resumed once, asked to stop through a
// flag that its body polls, and waited for. The stop request and the
// finished mark are separate flags: asking a thread to stop does not make
// it look finished.
#pragma once

#include <atomic>
#include <functional>
#include <thread>

namespace platform {

class TThread {
public:
    // The body runs on the new thread once Resume is called; it reads
    // Terminated() to learn of a stop request.
    explicit TThread(std::function<void(TThread& Self)> Execute);
    // Waits for a thread that was started; a never started one is not
    // waited for.
    ~TThread();
    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;

    // Starts the thread; false when it was started before or the system
    // cannot create it.
    bool Resume();
    // Asks the body to stop; it ends at its next look at Terminated().
    void Terminate() { FTerminated.store(true); }
    bool Terminated() const { return FTerminated.load(); }
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
    std::atomic<bool> FTerminated{false};
    std::atomic<bool> FFinished{false};
};

// The TThread whose body the calling thread runs, null on any other
// thread: code deep in a run (a cable's long wait) looks here for a stop
// request without being handed the thread.
const TThread* CurrentThread();
// CurrentThread() is there and has been asked to stop.
bool CurrentThreadTerminated();

// Gives up the rest of the time slice, for loops that wait on another party.
void YieldThread();

} // namespace platform
