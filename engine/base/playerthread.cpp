#include "base/playerthread.h"

#include <new>

#include "base/checked_file.h"
#include "base/sysutils.h"
#include "ticks.h"

namespace {

// Idle turns spent yielding before a millisecond's sleep a turn.
constexpr int SpinTurns = 64;

} // namespace

TPlayerThread::TPlayerThread(const platform::TStopToken& Stop)
    : FStop(Stop), FThread([this](platform::TThread&) { Execute(); })
{
}

TPlayerThread::~TPlayerThread()
{
    FThread.WaitFor();
}

FileStatus TPlayerThread::Status() const
{
    if (!FThread.Finished())
        return FileStatus::Running;
    return FErrorFlag.load() ? FileStatus::Failed : FileStatus::Succeeded;
}

std::string TPlayerThread::FatalText(std::exception_ptr Error) const
{
    try {
        std::rethrow_exception(Error);
    } catch (const EFileChanged& e) {
        return e.Message();
    } catch (const Exception& e) {
        return "Fatal error " + e.Message();
    } catch (const std::bad_alloc&) {
        return "Fatal error Out of memory";
    } catch (const std::exception& e) {
        return std::string("Fatal error ") + e.what();
    } catch (...) {
        return "Fatal error Unknown exception";
    }
}

void TPlayerThread::Fatal(const std::string& Text)
{
    FErrorFlag.store(true);
    try {
        Report(Text);
    } catch (...) {
        // The run has failed already; a message that cannot be delivered
        // changes nothing.
    }
}

void TPlayerThread::Execute()
{
    // A cancelled run, or one stopped before it began, touches nothing.
    if (ErrorFlag() || StopAsked()) {
        SetError();
        return;
    }
    // The whole run, opening walk and flush included, stands in the guard:
    // whatever is raised ends it with one message and status Failed.
    try {
        Play();
    } catch (...) {
        std::string text;
        try {
            text = FatalText(std::current_exception());
        } catch (...) {
            text = "Fatal error";
        }
        Fatal(text);
    }
}

void WireWorkerEvents(const TJtagFile& Master, TJtagFile& Writer, TJtagFile* Reader)
{
    Writer.UseStop(Master.StopToken());
    Writer.OnMessage = Master.OnMessage;
    Writer.OnShift = Master.OnShift;
    Writer.OnFlush = Master.OnFlush;
    Writer.OnTmsClock = Master.OnTmsClock;
    Writer.OnRuntestTime = Master.OnRuntestTime;
    Writer.OnRuntestClocks = Master.OnRuntestClocks;
    Writer.OnTrst = Master.OnTrst;
    Writer.OnSetFrequency = Master.OnSetFrequency;
    if (Reader) {
        Reader->UseStop(Master.StopToken());
        Reader->OnMessage = Master.OnMessage;
        Reader->OnRead = Master.OnRead;
    } else {
        Writer.OnRead = Master.OnRead;
    }
}

bool SetFrequencyAndResume(TPlayerThread& Thread, const TJtagSetFrequencyEvent& SetFrequency, int32_t Hz)
{
    bool result = true;
    if (SetFrequency)
        result = SetFrequency(Hz, true) != -1;
    if (!result)
        Thread.Cancel();
    if (!Thread.Resume())
        return false;
    return result;
}

void TIdleWait::Idle()
{
    if (++FIdleTurns <= SpinTurns)
        platform::YieldThread();
    else
        platform::Sleep(1);
}
