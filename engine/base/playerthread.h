// What the players' worker threads share: a thread created suspended, the
// stop it looks at, the error flag and the finished mark that make the
// run's status, the guard that turns whatever the play raises into one
// fatal message, the start that sets the first clock, and the wait of a
// worker whose cable has no data yet.
#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <string>

#include "base/jtagfile.h"
#include "thread.h"

class TPlayerThread {
public:
    // Created suspended: no thread runs until Resume. Stop is the run's
    // stop, which must outlive the thread.
    explicit TPlayerThread(const platform::TStopToken& Stop);
    // Subclasses call WaitFor() first, before their own members go.
    virtual ~TPlayerThread();
    TPlayerThread(const TPlayerThread&) = delete;
    TPlayerThread& operator=(const TPlayerThread&) = delete;

    bool Resume() { return FThread.Resume(); }
    // The run is not to be played: once resumed the worker ends at once
    // with status Failed.
    void Cancel() { FErrorFlag.store(true); }
    bool Started() const { return FThread.Started(); }
    void WaitFor() { FThread.WaitFor(); }
    // Running until the play has ended; then Failed or Succeeded.
    FileStatus Status() const;
    bool ErrorFlag() const { return FErrorFlag.load(); }

protected:
    // The run; it returns when it has ended, with the error flag set when
    // it failed. Whatever it raises is reported by FatalText.
    virtual void Play() = 0;
    // The message of a run ended by an exception ("Fatal error ...").
    virtual std::string FatalText(std::exception_ptr Error) const;
    // Sends one error line of the run (the write side's OnMessage).
    virtual void Report(const std::string& Text) = 0;

    void SetError() { FErrorFlag.store(true); }
    // The run has been asked to stop: looked at between statements.
    bool StopAsked() const { return FStop.Asked(); }
    // The read side's verdict on one statement: true when its data was
    // there and matched; a cable failure or a mismatch sets the error flag,
    // and data not there yet is asked for again on a later turn.
    bool ReadBackReady(ReadResult Result)
    {
        if (Result == ReadResult::CommError || Result == ReadResult::Mismatch)
            SetError();
        return Result == ReadResult::Ready;
    }
    // Sets the error flag, then sends Text; a receiver that raises changes
    // nothing more.
    void Fatal(const std::string& Text);

private:
    void Execute();

    const platform::TStopToken& FStop;
    // Set before the finished mark, so a finished status is final.
    std::atomic<bool> FErrorFlag{false};
    platform::TThread FThread;
};

// Hands the master's cable events and its stop to the worker's instances:
// the write side gets every event but OnRead, the read side OnRead and
// OnMessage; with no read side the write side gets OnRead too.
void WireWorkerEvents(const TJtagFile& Master, TJtagFile& Writer, TJtagFile* Reader);

// Start's last steps, the same for every player: the first
// OnSetFrequency(Hz, true) on the caller's thread (an empty event counts as
// success), then the worker resumed. A cable that failed that call is not
// played on: the worker is cancelled first and ends at once as Failed.
// False when the call failed or the worker could not be started.
bool SetFrequencyAndResume(TPlayerThread& Thread, const TJtagSetFrequencyEvent& SetFrequency, int32_t Hz);

// Paces a worker turn that moved nothing on: a few yields, then a
// millisecond's sleep a turn, so waiting for the cable never holds a core.
class TIdleWait {
public:
    // Ends one worker turn: Advanced when it moved a statement on.
    void EndTurn(bool Advanced)
    {
        if (Advanced)
            FIdleTurns = 0;
        else
            Idle();
    }

private:
    void Idle();

    int FIdleTurns = 0;
};
