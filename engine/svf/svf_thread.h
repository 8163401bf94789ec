// The SVF player's worker: a write-ahead parser that drives the cable and a
// read-back parser behind it that compares what the cable captured.
#pragma once

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "svf/svf.h"
#include "base/playerthread.h"

class TReadWriteThread : public TPlayerThread {
public:
    // Created suspended: no thread runs until Resume; Stop is the run's.
    explicit TReadWriteThread(const platform::TStopToken& Stop) : TPlayerThread(Stop) {}
    // Waits for a started thread, then frees ReadParser and WriteParser.
    ~TReadWriteThread() override;

    std::unique_ptr<TSVFFile> ReadParser;
    std::unique_ptr<TSVFFile> WriteParser;
    // The read side's part of the statements the write side has played and
    // the read side not yet taken: the read side parses nothing itself.
    std::deque<TSVFCommand> ReadBack;
    std::vector<TSVFCommand> SpareParts;

protected:
    void Play() override;
    std::string FatalText(std::exception_ptr Error) const override;
    void Report(const std::string& Text) override;

private:
    void UsbFailure();
};
