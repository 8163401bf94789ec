// Stop signals: the handler only counts and asks the stop token; the run
// and the poll loop act on the token.
#include "console_signals.h"

#include <signal.h>

#include <atomic>
#include <iterator>

namespace {

// Any thread may run the handler; lock-free atomics are safe there.
std::atomic<int> StopSignals{0};
static_assert(std::atomic<int>::is_always_lock_free);
platform::TStopToken Stop;

constexpr int CaughtSignals[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction SavedActions[std::size(CaughtSignals)];
bool Caught = false;

void OnStopSignal(int Signal)
{
    if (StopSignals.fetch_add(1) == 0) {
        Stop.Ask();
        return;
    }
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
    Stop.Clear();
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

platform::TStopToken& StopToken()
{
    return Stop;
}

bool StopRequested()
{
    return Stop.Asked();
}
