// The XSVF player's worker: pipelined play (a write-ahead instance that
// drives the cable and a read-back instance behind it) or the XC9500 method
// (one instance that verifies each command before the next).
#pragma once

#include <memory>
#include <string>

#include "base/playerthread.h"
#include "xsvf/xsvf.h"

class TXSVFReadWriteThread : public TPlayerThread {
public:
    // Created suspended: no thread runs until Resume; Stop is the run's.
    explicit TXSVFReadWriteThread(const platform::TStopToken& Stop) : TPlayerThread(Stop) {}
    // Waits for a started thread, then frees ReadParser and WriteParser.
    ~TXSVFReadWriteThread() override;

    // None in the XC9500 method.
    std::unique_ptr<TXSVFFile> ReadParser;
    std::unique_ptr<TXSVFFile> WriteParser;

protected:
    void Play() override;
    void Report(const std::string& Text) override;

private:
    void PlayPipelined();
    void PlayXc9500();
};
