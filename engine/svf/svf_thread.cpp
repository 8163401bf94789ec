// The SVF worker thread: write-ahead and read-back turns, LOOP
// synchronisation, the outcome; and Start, GetStatus and the registration.
#include "svf/svf_thread.h"

#include <mutex>

namespace {

std::mutex CommentSwitchLock;
TSvfCommentSwitch CommentSwitch;

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

TReadWriteThread::~TReadWriteThread()
{
    WaitFor();
    ReadParser.reset();
    WriteParser.reset();
}

void TReadWriteThread::Report(const std::string& Text)
{
    if (WriteParser && WriteParser->OnMessage)
        WriteParser->OnMessage(Text, MessageKind::Error);
}

void TReadWriteThread::UsbFailure()
{
    if (WriteParser->OnMessage)
        WriteParser->OnMessage("USB communication error", MessageKind::Error);
    SetError();
}

std::string TReadWriteThread::FatalText(std::exception_ptr Error) const
{
    try {
        std::rethrow_exception(Error);
    } catch (const ELineException& e) {
        return "Fatal error " + e.Message() + " near line " + std::to_string(e.LineNumber) + "\r\n\"" + e.LineText +
               "\"";
    } catch (...) {
        return TPlayerThread::FatalText(std::current_exception());
    }
}

void TReadWriteThread::Play()
{
    if (!WriteParser || !ReadParser) {
        SetError();
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
    TIdleWait idle;
    for (;;) {
        if (StopAsked())
            SetError();
        if (ErrorFlag())
            return;
        if (w.Command == SvfCommand::Eof && r.Command == SvfCommand::Eof)
            return;

        if (reader.LoopControl == TLoopControl::Break) {
            writer.PassesLeft = 0;
            if (writer.ReplayIndex != static_cast<int32_t>(writer.LoopRecording.size()))
                throw Exception("Internal LOOP-ENDLOOP synchronization error (1)");
            // The write side waited at the pass's ENDLOOP: nothing after it
            // may be queued for the read side yet.
            if (!ReadBack.empty())
                throw Exception("Internal LOOP-ENDLOOP synchronization error (2)");
            reader.LoopControl = TLoopControl::GoOn;
        }

        bool advanced = false;
        if (w.Command != SvfCommand::Eof && reader.LoopControl != TLoopControl::Wait) {
            advanced = true;
            FreeStatement(w);
            writer.NextStatement(w);
            // The file is parsed once in a run: the read side takes its part
            // of each statement from here, in the order they are played.
            // A handled statement's storage is used again: short statements
            // then cost no allocation on their way.
            if (SpareParts.empty()) {
                ReadBack.emplace_back();
            } else {
                ReadBack.push_back(std::move(SpareParts.back()));
                SpareParts.pop_back();
            }
            TSVFCommand& part = ReadBack.back();
            SplitReadBack(w, part);
            // The statement's vectors move into the kept ones: nothing else
            // reads them, and a long scan's are not held twice.
            if (!writer.TakeStatement(w)) {
                UsbFailure();
                return;
            }
            if (!writer.ExecuteStatement(w)) {
                SetError();
                return;
            }
            // Copied once the shift's buffers are given back: a long scan's
            // mask is not held twice beside them.
            writer.CopyMaskInto(part);
            // The write side waits here until the read side has judged the
            // pass; ExecuteStatement has flushed the cable.
            if (w.Command == SvfCommand::ENDLOOP && w.InLoop)
                reader.LoopControl = TLoopControl::Wait;
            if (w.Command == SvfCommand::Eof && writer.OnFlush && !writer.OnFlush()) {
                UsbFailure();
                return;
            }
        }

        if (r.Command == SvfCommand::None && !ReadBack.empty()) {
            std::swap(r, ReadBack.front());
            SpareParts.push_back(std::move(ReadBack.front()));
            ReadBack.pop_front();
            if (!reader.TakeStatement(r)) {
                UsbFailure();
                return;
            }
        }
        if (r.Command != SvfCommand::Eof && r.Command != SvfCommand::None) {
            if (ReadBackReady(reader.CheckStatement(r))) {
                advanced = true;
                if (r.Command != SvfCommand::Eof) {
                    FreeStatement(r);
                    r.Command = SvfCommand::None;
                }
            }
        }

        // Waiting for the cable's data must not hold a core at full load.
        idle.EndTurn(advanced);
    }
}

bool TSVFFile::Start(int32_t FrequencyHz)
{
    if (FThread)
        return false;
    // The instances first: a file that cannot be opened any more, or is no
    // longer the one checked, raises here with no worker left behind.
    std::unique_ptr<TSVFFile> readParser = std::make_unique<TSVFFile>(FFileName);
    std::unique_ptr<TSVFFile> writeParser = std::make_unique<TSVFFile>(FFileName);
    Checked.Require(readParser->FFile, FFileName);
    Checked.Require(writeParser->FFile, FFileName);
    readParser->Checked = Checked;
    writeParser->Checked = Checked;
    FThread = std::make_unique<TReadWriteThread>(StopToken());
    FThread->ReadParser = std::move(readParser);
    FThread->WriteParser = std::move(writeParser);
    TSVFFile& writer = *FThread->WriteParser;
    TSVFFile& reader = *FThread->ReadParser;

    const TSvfCommentSwitch commentSwitch = GetSvfCommentSwitch();
    if (commentSwitch && !commentSwitch())
        writer.CopyComments = false;

    WireWorkerEvents(*this, writer, &reader);
    writer.Side = TSVFFile::TSide::Write;
    reader.Side = TSVFFile::TSide::Read;
    reader.CopyComments = false;

    DefaultFrequency = FrequencyHz;
    writer.DefaultFrequency = FrequencyHz;
    reader.DefaultFrequency = FrequencyHz;

    return SetFrequencyAndResume(*FThread, OnSetFrequency, FrequencyHz);
}

void TSVFFile::Stop()
{
    if (FThread && FThread->Status() == FileStatus::Running)
        StopToken().Ask();
}

FileStatus TSVFFile::GetStatus()
{
    if (!FThread)
        return FileStatus::Running;
    return FThread->Status();
}
