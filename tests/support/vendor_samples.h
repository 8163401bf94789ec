// The vendor-written SVF files of the samples folder (ORBESK_SAMPLES_DIR,
// a build setting; the files are not part of the repository), each with
// the simulated chain (tests/sim/chains) that answers it.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
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

#ifdef ORBESK_SAMPLES_DIR
inline std::string VendorSamplePath(const char* Sample)
{
    return std::string(ORBESK_SAMPLES_DIR) + "/" + Sample;
}

// Empty when every sample file is there; else why a test must skip.
inline std::string VendorSamplesMissing()
{
    for (const TVendorSample& s : VendorSamples)
        if (!std::filesystem::is_regular_file(VendorSamplePath(s.Sample)))
            return std::string("the vendor SVF samples folder ") + ORBESK_SAMPLES_DIR + " lacks " + s.Sample +
                   " (set the CMake variable ORBESK_SAMPLES_DIR to the folder that holds them)";
    return {};
}

// Skips the calling test where the samples folder is absent or incomplete.
#define ORBESK_SKIP_WITHOUT_VENDOR_SAMPLES()                                                                           \
    if (const std::string missing = VendorSamplesMissing(); !missing.empty())                                          \
    GTEST_SKIP() << missing
#endif
