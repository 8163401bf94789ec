// The device side of one emulated FTDI cable: what it does with the bytes
// the host writes and what it has for the host to read.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

namespace sim {

class Chain;

class Protocol {
public:
    virtual ~Protocol() = default;

    // FT_Open succeeded on this device (stale bytes may appear here).
    virtual void Opened() {}
    // FT_Close.
    virtual void Closed() {}

    // Bytes from FT_Write. False when the device fails the write (an
    // injected fault, an unplugged cable).
    virtual bool HostWrite(const uint8_t* Data, size_t Count) = 0;

    // What FT_GetQueueStatus reports and FT_Read takes. A protocol may hold
    // replies back (delays, trickling) by answering less than it has.
    virtual size_t Available() { return Rx.size(); }
    virtual size_t Read(uint8_t* Buffer, size_t Count);

    virtual bool SetBitMode(uint8_t Mask, uint8_t Mode)
    {
        BitMask = Mask;
        BitMode = Mode;
        return true;
    }
    virtual uint8_t GetBitMode() { return 0; }
    virtual void ResetDevice() {}
    virtual void Purge() { Rx.clear(); }
    virtual void SetLatencyTimer(uint8_t Ms) { LatencyMs = Ms; }

    // False once the device is gone: every later call fails.
    virtual bool Present() const { return true; }
    // True while reads fail (an injected fault): FT_GetQueueStatus and
    // FT_Read then report an I/O error although the device is present.
    virtual bool ReadFails() const { return false; }

    // A device that takes bytes at its own pace is busy until then with what
    // was written. The epoch: never busy.
    virtual std::chrono::steady_clock::time_point BusyUntil() const { return {}; }
    // FT_Write returns no earlier: once what the device has not yet done
    // fits into its input buffer.
    virtual std::chrono::steady_clock::time_point WriteReturnsAt() { return {}; }

    // The simulated JTAG chain behind the cable, for tests to inspect; none
    // for a device without one.
    virtual Chain* JtagChain() { return nullptr; }

protected:
    std::deque<uint8_t> Rx;
    uint8_t BitMask = 0;
    uint8_t BitMode = 0;
    uint8_t LatencyMs = 16;
};

// A device that answers nothing: any FTDI device that is not one of the
// three cables.
class SilentProtocol : public Protocol {
public:
    bool HostWrite(const uint8_t*, size_t) override { return true; }
};

// The protocol for a scenario device of the given kind ("varnel",
// "mirrow", "druvel"; anything else answers nothing).
std::unique_ptr<Protocol> CreateProtocol(const std::string& Kind, const nlohmann::json& Device);

} // namespace sim
