// The XSVF worker thread in its two modes, and Start, Stop and GetStatus.
#include "xsvf/xsvf_thread.h"

TXSVFReadWriteThread::~TXSVFReadWriteThread()
{
    WaitFor();
    ReadParser.reset();
    WriteParser.reset();
}

void TXSVFReadWriteThread::Report(const std::string& Text)
{
    if (WriteParser && WriteParser->OnMessage)
        WriteParser->OnMessage(Text, MessageKind::Error);
}

void TXSVFReadWriteThread::Play()
{
    if (!WriteParser || (!WriteParser->Xc9500Mode && !ReadParser)) {
        SetError();
        return;
    }
    TXSVFFile& writer = *WriteParser;
    if (!writer.GotoState(TapState::RESET) || (writer.OnFlush && !writer.OnFlush())) {
        Fatal("USB communication error ");
        return;
    }
    if (writer.Xc9500Mode)
        PlayXc9500();
    else
        PlayPipelined();
}

void TXSVFReadWriteThread::PlayXc9500()
{
    TXSVFFile& writer = *WriteParser;
    TXSVFCommand command;
    for (;;) {
        if (StopAsked())
            SetError();
        if (ErrorFlag() || writer.IsComplete(command)) {
            if (writer.CompleteFlushFailed())
                SetError();
            return;
        }
        TXSVFFile::ClearCommand(command);
        writer.ReadCommand(command);
        writer.ApplyCommand(command);
        if (!writer.DoCommandReadWrite(command))
            SetError();
        writer.CountCommandDone();
        if (writer.IsComplete(command) && writer.CompleteFlushFailed()) {
            SetError();
            return;
        }
    }
}

void TXSVFReadWriteThread::PlayPipelined()
{
    TXSVFFile& writer = *WriteParser;
    TXSVFFile& reader = *ReadParser;
    TXSVFCommand w;
    TXSVFCommand r;
    TIdleWait idle;
    for (;;) {
        if (StopAsked())
            SetError();
        if (ErrorFlag())
            return;
        // The write side flushed once, when it reached XCOMPLETE; asking
        // again on every pass while the read side catches up would only
        // write the cable's flush command again and again.
        const bool writeDone = !w.empty() && w[0] == XCOMPLETE;
        const bool readDone = reader.IsComplete(r);
        if (writeDone && readDone)
            return;

        bool advanced = false;
        if (!writeDone) {
            TXSVFFile::ClearCommand(w);
            writer.ReadCommand(w);
            writer.ApplyCommand(w);
            if (!writer.DoCommandWrite(w)) {
                SetError();
                return;
            }
            writer.CountCommandDone();
            if (writer.IsComplete(w) && writer.CompleteFlushFailed()) {
                SetError();
                return;
            }
            advanced = true;
        }

        if (!readDone) {
            if (r.empty()) {
                reader.ReadCommand(r);
                reader.ApplyCommand(r);
            }
            if (ReadBackReady(reader.DoCommandRead(r))) {
                reader.CountCommandDone();
                if (r[0] != XCOMPLETE)
                    TXSVFFile::ClearCommand(r);
                advanced = true;
            }
        }

        // Waiting for the cable's data must not hold a core at full load.
        idle.EndTurn(advanced);
    }
}

bool TXSVFFile::Start(int32_t FrequencyHz)
{
    if (FThread)
        return false;
    // The play mode and the count come from the scan.
    if (!Checked.Recorded()) {
        const auto checkedRuntest = std::move(OnCheckedRuntest);
        OnCheckedRuntest = nullptr;
        // A stop of the run must not leave the scan it depends on unfinished.
        const platform::TStopToken never;
        CheckFile(never);
        OnCheckedRuntest = checkedRuntest;
    }
    // The instances first: a file that cannot be opened any more raises
    // here, and no worker is left to wait for.
    std::unique_ptr<TXSVFFile> reader = Xc9500Mode ? nullptr : CreateReader(FFileName);
    std::unique_ptr<TXSVFFile> writer = CreateReader(FFileName);
    Checked.Require(writer->FFile, FFileName);
    writer->Checked = Checked;
    if (reader) {
        Checked.Require(reader->FFile, FFileName);
        reader->Checked = Checked;
    }
    WireWorkerEvents(*this, *writer, reader.get());
    writer->Xc9500Mode = Xc9500Mode;

    FThread = std::make_unique<TXSVFReadWriteThread>(StopToken());
    FThread->ReadParser = std::move(reader);
    FThread->WriteParser = std::move(writer);
    return SetFrequencyAndResume(*FThread, OnSetFrequency, FrequencyHz);
}

void TXSVFFile::Stop()
{
    if (FThread && FThread->Status() == FileStatus::Running)
        StopToken().Ask();
}

FileStatus TXSVFFile::GetStatus()
{
    if (!FThread)
        return FileStatus::Running;
    return FThread->Status();
}
