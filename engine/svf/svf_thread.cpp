// The SVF worker thread: write-ahead and read-back turns, LOOP
// synchronisation, the outcome; and Start, GetStatus and the registration.
#include "svf/svf_thread.h"

#include <mutex>
#include <new>

#include "ticks.h"

namespace {

std::mutex CommentSwitchLock;
TSvfCommentSwitch CommentSwitch;

// Idle turns (nothing advanced) spent yielding before the worker starts to
// sleep a millisecond per turn while the cable's data is still on its way.
constexpr int SpinTurns = 64;

} // namespace

void SetSvfCommentSwitch(TSvfCommentSwitch Switch)
{
    std::lock_guard<std::mutex> lock(CommentSwitchLock);
    CommentSwitch = std::move(Switch);
}

TSvfCommentSwitch GetSvfCommentSwitch()
{
    std::lock_guard<std::mutex> lock(CommentSwitchLock);
    return CommentSwitch;
}

void RegisterSvfPlayer()
{
    RegisterJtagFileClass(JtagFileClassOf<TSVFFile>());
}

TReadWriteThread::TReadWriteThread() : FThread([this](platform::TThread& Self) { Execute(Self); }) {}

TReadWriteThread::~TReadWriteThread()
{
    FThread.WaitFor();
    ReadParser.reset();
    WriteParser.reset();
}

FileStatus TReadWriteThread::Status() const
{
    if (!FThread.Finished())
        return FileStatus::Running;
    return FErrorFlag.load() ? FileStatus::Failed : FileStatus::Succeeded;
}

void TReadWriteThread::Fatal(const std::string& Text)
{
    FErrorFlag.store(true);
    try {
        if (WriteParser && WriteParser->OnMessage)
            WriteParser->OnMessage(Text, MessageKind::Error);
    } catch (...) {
        // The run has failed already; a message that cannot be delivered
        // changes nothing.
    }
}

void TReadWriteThread::UsbFailure()
{
    if (WriteParser->OnMessage)
        WriteParser->OnMessage("USB communication error", MessageKind::Error);
    FErrorFlag.store(true);
}

void TReadWriteThread::Execute(platform::TThread& Self)
{
    // The whole run, opening walk and flush included, stands in the guard:
    // whatever is raised ends it with one message and status Failed.
    try {
        Play(Self);
    } catch (const ELineException& e) {
        Fatal("Fatal error " + e.Message() + " near line " + std::to_string(e.LineNumber) + "\r\n\"" + e.LineText +
              "\"");
    } catch (const Exception& e) {
        Fatal("Fatal error " + e.Message());
    } catch (const std::bad_alloc&) {
        Fatal("Fatal error Out of memory");
    } catch (const std::exception& e) {
        Fatal(std::string("Fatal error ") + e.what());
    } catch (...) {
        Fatal("Fatal error Unknown exception");
    }
}

void TReadWriteThread::Play(platform::TThread& Self)
{
    if (Self.Terminated() || !WriteParser || !ReadParser) {
        FErrorFlag.store(true);
        return;
    }
    TSVFFile& writer = *WriteParser;
    TSVFFile& reader = *ReadParser;

    if (!writer.GotoState(TapState::RESET) || (writer.OnFlush && !writer.OnFlush())) {
        UsbFailure();
        return;
    }

    TSVFCommand w;
    TSVFCommand r;
    reader.LoopControl = TLoopControl::GoOn;
    int idleTurns = 0;
    for (;;) {
        if (Self.Terminated())
            FErrorFlag.store(true);
        if (FErrorFlag.load())
            return;
        if (w.Command == SvfCommand::Eof && r.Command == SvfCommand::Eof)
            return;

        if (reader.LoopControl == TLoopControl::Break) {
            writer.PassesLeft = 0;
            reader.PassesLeft = 0;
            if (writer.ReplayIndex != static_cast<int32_t>(writer.LoopRecording.size()))
                throw Exception("Internal LOOP-ENDLOOP synchronization error (1)");
            if (reader.ReplayIndex != static_cast<int32_t>(reader.LoopRecording.size()))
                throw Exception("Internal LOOP-ENDLOOP synchronization error (2)");
            if (writer.ReplayIndex != reader.ReplayIndex)
                throw Exception("Internal LOOP-ENDLOOP synchronization error (3)");
            reader.LoopControl = TLoopControl::GoOn;
        }

        bool advanced = false;
        if (w.Command != SvfCommand::Eof && reader.LoopControl != TLoopControl::Wait) {
            advanced = true;
            FreeStatement(w);
            writer.NextStatement(w);
            // The statement's vectors move into the kept ones: nothing else
            // reads them, and a long scan's are not held twice.
            if (!writer.TakeStatement(w)) {
                UsbFailure();
                return;
            }
            if (!writer.ExecuteStatement(w)) {
                FErrorFlag.store(true);
                return;
            }
            // The write side waits here until the read side has judged the
            // pass; ExecuteStatement has flushed the cable.
            if (w.Command == SvfCommand::ENDLOOP && w.InLoop)
                reader.LoopControl = TLoopControl::Wait;
            if (w.Command == SvfCommand::Eof && writer.OnFlush && !writer.OnFlush()) {
                UsbFailure();
                return;
            }
        }

        if (r.Command != SvfCommand::Eof) {
            if (r.Command == SvfCommand::None) {
                reader.NextStatement(r);
                if (!reader.TakeStatement(r)) {
                    UsbFailure();
                    return;
                }
            }
            switch (reader.CheckStatement(r)) {
            case ReadResult::Ready:
                advanced = true;
                if (r.Command != SvfCommand::Eof) {
                    FreeStatement(r);
                    r.Command = SvfCommand::None;
                }
                break;
            case ReadResult::CommError:
            case ReadResult::Mismatch:
                FErrorFlag.store(true);
                break;
            case ReadResult::NotYet:
                break;
            }
        }

        // Waiting for the cable's data must not hold a core at full load.
        if (advanced) {
            idleTurns = 0;
        } else if (++idleTurns <= SpinTurns) {
            platform::YieldThread();
        } else {
            platform::Sleep(1);
        }
    }
}

bool TSVFFile::Start(int32_t FrequencyHz)
{
    if (FThread)
        return false;
    FThread = std::make_unique<TReadWriteThread>();
    FThread->ReadParser = std::make_unique<TSVFFile>(FFileName);
    FThread->WriteParser = std::make_unique<TSVFFile>(FFileName);
    TSVFFile& writer = *FThread->WriteParser;
    TSVFFile& reader = *FThread->ReadParser;

    const TSvfCommentSwitch commentSwitch = GetSvfCommentSwitch();
    if (commentSwitch && !commentSwitch())
        writer.CopyComments = false;

    writer.OnMessage = OnMessage;
    writer.OnShift = OnShift;
    writer.OnFlush = OnFlush;
    writer.OnTmsClock = OnTmsClock;
    writer.OnRuntestTime = OnRuntestTime;
    writer.OnRuntestClocks = OnRuntestClocks;
    writer.OnTrst = OnTrst;
    writer.OnSetFrequency = OnSetFrequency;
    writer.Side = TSVFFile::TSide::Write;
    reader.Side = TSVFFile::TSide::Read;
    reader.OnMessage = OnMessage;
    reader.OnRead = OnRead;
    reader.CopyComments = false;

    DefaultFrequency = FrequencyHz;
    writer.DefaultFrequency = FrequencyHz;
    reader.DefaultFrequency = FrequencyHz;

    bool result = true;
    if (OnSetFrequency)
        result = OnSetFrequency(FrequencyHz, true) != -1;
    // A cable that failed its first call is not played on: the worker ends
    // at once with status Failed.
    if (!result)
        FThread->Terminate();
    if (!FThread->Resume())
        return false;
    return result;
}

void TSVFFile::Stop()
{
    if (FThread)
        FThread->Terminate();
}

FileStatus TSVFFile::GetStatus()
{
    if (!FThread)
        return FileStatus::Running;
    return FThread->Status();
}
