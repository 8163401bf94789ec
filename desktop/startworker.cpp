#include "startworker.h"

TStartWorker::~TStartWorker()
{
    Take();
}

bool TStartWorker::Begin(std::function<bool()> Start)
{
    if (FBusy)
        return false;
    FBusy = true;
    FResult = false;
    FThread = std::make_unique<platform::TThread>([this, Start](platform::TThread&) { FResult = Start(); });
    if (!FThread->Resume()) {
        // No thread to be had: the start runs here, the window held up as
        // it waits, rather than not at all.
        FThread.reset();
        FResult = Start();
    }
    return true;
}

bool TStartWorker::Done() const
{
    return FBusy && (!FThread || FThread->Finished());
}

bool TStartWorker::Take()
{
    if (!FBusy)
        return false;
    if (FThread)
        FThread->WaitFor();
    FThread.reset();
    FBusy = false;
    return FResult;
}
