// A test device for the driver layer itself (kind "loopback"): every byte
// written comes back to be read. "fail_writes": true makes every write
// fail, "fail_reads": true every read; "unplug_after_writes": n unplugs it
// after n good writes.
#pragma once

#include <cstdint>

#include "cables/protocol.h"

namespace simd2xx {

class LoopbackProtocol : public sim::Protocol {
public:
    explicit LoopbackProtocol(const nlohmann::json& Device)
        : FailWrites(Device.value("fail_writes", false)), FailReads(Device.value("fail_reads", false)),
          WritesLeft(Device.value("unplug_after_writes", -1))
    {
    }
    bool HostWrite(const uint8_t* Data, size_t Count) override
    {
        if (FailWrites || !Present())
            return false;
        Rx.insert(Rx.end(), Data, Data + Count);
        if (WritesLeft > 0)
            --WritesLeft;
        return true;
    }
    uint8_t GetBitMode() override { return BitMode; }
    bool Present() const override { return WritesLeft != 0; }
    bool ReadFails() const override { return FailReads; }

private:
    bool FailWrites;
    bool FailReads;
    int64_t WritesLeft; // -1: never unplugged
};

} // namespace simd2xx
