// The console program's body: start-up, driver, start of the run, the poll
// loop and the two endings.
#include "console_exec.h"
#include "console_signals.h"
#include "paramutils.h"
#include "ticks.h"
#include "usb/usbplow.h"

namespace {

constexpr uint32_t PollIntervalMs = 50;
constexpr uint32_t ProgressIntervalMs = 1000;

} // namespace

const char* const StoppedBySignalText = "Run stopped by a signal.";
const char* const StoppingText = "Stopping: closing the cable. Press Ctrl-C again to quit at once.";
const char* const StoppingNoCableText = "Stopping. Press Ctrl-C again to quit at once.";

int64_t ProgressPercent(int32_t Position, int32_t Total)
{
    return Total > 0 ? int64_t{Position} * 100 / Total : 0;
}

int PollRun(TConsoleState& State, bool WaitForEnter)
{
    TConsoleExecuter& executer = *State.Executer;
    TJtagFile& player = *executer.CurrentFile;
    State.Mark = platform::GetTickCount();
    bool stopped = false;
    for (;;) {
        // Looked at before the stop: a run that ended on it is known as
        // stopped.
        const FileStatus status = player.GetStatus();
        // A stop signal: the run ends as a failed one does, through the
        // cable's close.
        if (!stopped && StopRequested()) {
            player.Stop();
            stopped = true;
            WriteOutLine(StoppingText);
        }
        State.Total = player.GetSize();
        State.Position = player.GetPosition();
        // Unsigned difference: the tick counter's wrap does no harm.
        if (platform::GetTickCount() - State.Mark > ProgressIntervalMs) {
            State.Mark = platform::GetTickCount();
            if (State.Total > 0 && executer.ShowComments != 0)
                WriteOutLine("done yet " + std::to_string(ProgressPercent(State.Position, State.Total)) + "%");
        }
        if (status == FileStatus::Failed || status == FileStatus::Succeeded) {
            // The console never passes the error flag: a Mirrow gets the
            // same closing packet after both outcomes. Closed before the
            // outcome is said: closing bytes that did not go (a target
            // still powered) fail the run.
            const bool parked = executer.CloseCable(false);
            const bool failed = status == FileStatus::Failed || !parked;
            if (status == FileStatus::Failed && stopped)
                WriteOutLine(StoppedBySignalText);
            if (failed)
                executer.Message("!! ERROR !! File processing failed", MessageKind::Error);
            else
                executer.Message("File processing completed successfully", MessageKind::Info);
            executer.CurrentFile.reset();
            State.Executer.reset();
            // The cable is closed: a signal may end the program again.
            ReleaseStopSignals();
            if (!failed)
                return ExitSucceeded;
            // Whoever sent the signal wants the program ended, not waiting.
            if (WaitForEnter && !stopped)
                ReadInLine();
            return ExitRunFailed;
        }
        platform::Sleep(PollIntervalMs);
    }
}

int ConsoleMain()
{
    IgnoreBrokenPipe();
    MicroSign = 'u';
    FormatSettings.DecimalSeparator = '.';
    FormatSettings.ThousandSeparator = ' ';
    DeclareConsoleOptions();

    TConsoleState state;
    state.Executer = std::make_unique<TConsoleExecuter>();
    try {
        if (!ConsoleOptions(state))
            return ExitCannotStart;
    } catch (const EConsoleExit& e) {
        return e.Status;
    }

    if (!FtLoad()) {
        WriteOutLine("USB drivers not found or bad version.");
        return ExitCannotStart;
    }

    // Nothing has touched a cable so far; from here a signal must not end
    // the program before the cable is closed.
    CatchStopSignals();
    // A stop also ends the file's check and a wait for another program's
    // cable search.
    state.Executer->UseStop(StopToken());
    if (!state.Executer->OpenAndStart(state.DataFileName)) {
        const bool stopped = state.Executer->StartStopped;
        const bool cableOpen = state.Executer->FtHandle != nullptr;
        // The cable may be open when the file could not be started; no
        // cable stays open and no Mirrow keeps powering the target.
        state.Executer->CloseCable(false);
        state.Executer.reset();
        ReleaseStopSignals();
        if (stopped) {
            WriteOutLine(cableOpen ? StoppingText : StoppingNoCableText);
            WriteOutLine(StoppedBySignalText);
            return ExitRunFailed;
        }
        return ExitCannotStart;
    }
    return PollRun(state, ParameterSingleton().GetParameter("W").Found);
}
