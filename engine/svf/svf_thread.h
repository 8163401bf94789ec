// The SVF player's worker: a write-ahead parser that drives the cable and a
// read-back parser behind it that compares what the cable captured.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "svf/svf.h"
#include "thread.h"

class TReadWriteThread {
public:
    // Created suspended: no thread runs until Resume.
    TReadWriteThread();
    // Waits for a started thread, then frees ReadParser and WriteParser.
    ~TReadWriteThread();
    TReadWriteThread(const TReadWriteThread&) = delete;
    TReadWriteThread& operator=(const TReadWriteThread&) = delete;

    std::unique_ptr<TSVFFile> ReadParser;
    std::unique_ptr<TSVFFile> WriteParser;

    bool Resume() { return FThread.Resume(); }
    // A stop request: the run ends at its next turn with status Failed.
    void Terminate() { FThread.Terminate(); }
    bool Started() const { return FThread.Started(); }
    // Running until the play loop has ended; then Failed or Succeeded.
    FileStatus Status() const;
    bool ErrorFlag() const { return FErrorFlag.load(); }

private:
    void Execute(platform::TThread& Self);
    void Play(platform::TThread& Self);
    void Fatal(const std::string& Text);
    void UsbFailure();

    // Set before the finished mark, so a finished status is final.
    std::atomic<bool> FErrorFlag{false};
    platform::TThread FThread;
};
