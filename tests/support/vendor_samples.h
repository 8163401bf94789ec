// The vendor-written SVF files in ../shared/samples, each with the
// simulated chain (tests/sim/chains) that answers it.
#pragma once

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
