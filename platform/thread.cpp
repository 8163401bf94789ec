#include "thread.h"

#include <system_error>

namespace platform {

namespace {

// The TThread whose body runs on this thread; none on any other thread.
thread_local const TThread* RunningThread = nullptr;

} // namespace

TThread::TThread(std::function<void(TThread& Self)> Execute) : FExecute(std::move(Execute)) {}

TThread::~TThread()
{
    WaitFor();
}

bool TThread::Resume()
{
    if (FStarted)
        return false;
    try {
        FThread = std::thread(&TThread::Run, this);
    } catch (const std::system_error&) {
        return false;
    }
    FStarted = true;
    return true;
}

void TThread::WaitFor()
{
    if (FThread.joinable())
        FThread.join();
}

void TThread::Run()
{
    // The body is expected to guard itself; an exception that still gets
    // here must not take the process down with it.
    RunningThread = this;
    try {
        if (FExecute)
            FExecute(*this);
    } catch (...) {
    }
    RunningThread = nullptr;
    FFinished.store(true, std::memory_order_release);
}

const TThread* CurrentThread()
{
    return RunningThread;
}

bool CurrentThreadTerminated()
{
    return RunningThread && RunningThread->Terminated();
}

void YieldThread()
{
    std::this_thread::yield();
}

} // namespace platform
