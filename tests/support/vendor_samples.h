// The vendor-written SVF files in ../shared/samples, each with the
// simulated chain (tests/sim/chains) that answers it.
#pragma once

#include <fstream>
#include <sstream>
#include <string>

struct TVendorSample {
    const char* Sample;
    const char* Chain;
};

// The CPLD file's TRST OFF meets a VPP pin that is not TRST and is only
// warned about; the FPGA file waits 20 ms three times in Run-Test/Idle.
inline constexpr TVendorSample VendorSamples[] = {
    {"coolrunner2_idcode.svf", "coolrunner2_idcode.json"},
    {"ecp5_passthru_idcode.svf", "ecp5_passthru_idcode.json"},
};

// A chain file (one JSON object) as the members of a device object, to be
// put inside a scenario's device.
inline std::string ChainFileMembers(const std::string& Path)
{
    std::ifstream in(Path);
    std::stringstream text;
    text << in.rdbuf();
    std::string chain = text.str();
    chain = chain.substr(chain.find('{') + 1);
    return chain.substr(0, chain.rfind('}'));
}
