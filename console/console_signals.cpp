// Stop signals: the handler only counts; everything else happens in the
// poll loop, on the main thread.
#include "console_signals.h"

#include <signal.h>

#include <atomic>
#include <iterator>

namespace {

// Any thread may run the handler; a lock-free atomic is safe there.
std::atomic<int> StopSignals{0};
static_assert(std::atomic<int>::is_always_lock_free);

constexpr int CaughtSignals[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction SavedActions[std::size(CaughtSignals)];
bool Caught = false;

void OnStopSignal(int Signal)
{
    if (StopSignals.fetch_add(1) == 0)
        return;
    // The second one: what the signal would have done without us. It is
    // blocked while this handler runs and ends the process on return.
    signal(Signal, SIG_DFL);
    raise(Signal);
}

} // namespace

void IgnoreBrokenPipe()
{
    signal(SIGPIPE, SIG_IGN);
}

void CatchStopSignals()
{
    StopSignals.store(0);
    struct sigaction action = {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    // Restarted calls: a signal must not turn a driver call or a line
    // write of either thread into a failure.
    action.sa_flags = SA_RESTART;
    for (size_t i = 0; i < std::size(CaughtSignals); ++i) {
        if (!Caught)
            sigaction(CaughtSignals[i], nullptr, &SavedActions[i]);
        // A signal ignored from the start (nohup, a background job) stays
        // ignored.
        if (SavedActions[i].sa_handler != SIG_IGN)
            sigaction(CaughtSignals[i], &action, nullptr);
    }
    Caught = true;
}

void ReleaseStopSignals()
{
    if (!Caught)
        return;
    for (size_t i = 0; i < std::size(CaughtSignals); ++i)
        sigaction(CaughtSignals[i], &SavedActions[i], nullptr);
    Caught = false;
}

bool StopRequested()
{
    return StopSignals.load() > 0;
}
