// One start of a run (the file's check, the cable's search and open, the
// player's start) on a thread of its own: the window goes on drawing and
// taking events while the start waits, for another program's cable search
// among others. The window's tick takes the outcome once it is there.
#pragma once

#include <functional>
#include <memory>

#include "thread.h"

class TStartWorker {
public:
    TStartWorker() = default;
    // Waits for a start still going.
    ~TStartWorker();
    TStartWorker(const TStartWorker&) = delete;
    TStartWorker& operator=(const TStartWorker&) = delete;

    // Runs Start on the worker; false, and nothing runs, while an earlier
    // start's outcome has not been taken.
    bool Begin(std::function<bool()> Start);
    // From Begin until Take: the start's objects belong to the worker.
    bool Busy() const { return FBusy; }
    // The start has returned; Take gives its result at once.
    bool Done() const;
    // Waits for the start and gives its result; the worker is free again.
    bool Take();

private:
    bool FBusy = false;
    std::unique_ptr<platform::TThread> FThread; // none when the start ran here
    bool FResult = false; // written by the worker before it finishes
};
