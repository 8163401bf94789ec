#include "thread.h"

#include <system_error>

namespace platform {

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
    try {
        if (FExecute)
            FExecute(*this);
    } catch (...) {
    }
    FFinished.store(true, std::memory_order_release);
}

void YieldThread()
{
    std::this_thread::yield();
}

} // namespace platform
