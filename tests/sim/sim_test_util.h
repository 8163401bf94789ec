// Helpers for the hardware-model tests: a pin-level JTAG driver for the
// chain, and Varnel command bytes spelt out from the cable's protocol.
#pragma once

#include <cstdint>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "chain/chain.h"
#include "cables/protocol.h"
#include "scenario/trace.h"

namespace simtest {

using Bytes = std::vector<uint8_t>;

inline nlohmann::json ChainFile(const std::string& Name)
{
    std::ifstream in(std::string(ORBESK_SIM_CHAINS) + "/" + Name);
    EXPECT_TRUE(in.good()) << Name;
    return nlohmann::json::parse(in);
}

// Bits of an SVF hex value, bit 0 = last digit's bit 0.
inline sim::Bits Hex(const std::string& Text, size_t Length)
{
    return sim::ConfigBits(nlohmann::json(Text), Length, "test");
}

// Drives a chain pin by pin, as a cable would, one microsecond a cycle.
class Jtag {
public:
    explicit Jtag(sim::Chain& Chain) : C(Chain) {}

    bool Clock(bool Tms, bool Tdi = false) { return C.Cycle(Tms, Tdi, 1500, 1500); }
    void Tms(std::initializer_list<int> Levels)
    {
        for (int t : Levels)
            Clock(t != 0);
    }
    void Reset() { Tms({1, 1, 1, 1, 1}); }
    // From Run-Test/Idle through a scan and back to Run-Test/Idle; returns
    // the TDO bits read.
    sim::Bits Scan(bool Ir, const sim::Bits& In)
    {
        Tms({1});
        if (Ir)
            Tms({1});
        Tms({0, 0}); // capture, shift
        sim::Bits out;
        for (size_t i = 0; i < In.size(); ++i)
            out.push_back(Clock(i + 1 == In.size(), In[i]));
        Tms({1, 0}); // update, idle
        return out;
    }
    sim::Bits Ir(const sim::Bits& In) { return Scan(true, In); }
    sim::Bits Dr(const sim::Bits& In) { return Scan(false, In); }

    sim::Chain& C;
};

// Varnel command bytes, from the cable's protocol: pin byte with TMS and the
// auxiliary pin, TCK low / high with TDI, high-and-sample.
inline uint8_t P(bool Tms, uint8_t Aux = 0) { return static_cast<uint8_t>(0xE8 | (Tms ? 4 : 0) | Aux); }
inline uint8_t L(bool Tdi) { return static_cast<uint8_t>(0xCA | (Tdi ? 1 : 0)); }
inline uint8_t H(bool Tdi, bool Sample = false) { return static_cast<uint8_t>((Sample ? 0xDE : 0xCE) | (Tdi ? 1 : 0)); }

// One TMS clock: P(Tms), TCK low, high, low.
inline Bytes TmsClocks(std::initializer_list<int> Levels, uint8_t Aux = 0)
{
    Bytes b;
    for (int t : Levels) {
        b.push_back(P(t != 0, Aux));
        b.push_back(0xCA);
        b.push_back(0xCE);
        b.push_back(0xCA);
    }
    return b;
}

inline Bytes Cat(std::initializer_list<Bytes> Parts)
{
    Bytes out;
    for (const Bytes& p : Parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

inline Bytes ReadAll(sim::Protocol& P)
{
    Bytes out(P.Available());
    out.resize(P.Read(out.data(), out.size()));
    return out;
}

// Trace lines that contain Needle.
inline std::vector<std::string> TraceWith(const std::string& Needle)
{
    std::vector<std::string> out;
    for (const std::string& l : sim::TraceLines())
        if (l.find(Needle) != std::string::npos)
            out.push_back(l);
    return out;
}

} // namespace simtest
