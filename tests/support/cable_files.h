// Shared by the tests that play one table of files on every cable kind:
// the example files and, where the samples folder has them, the vendor
// samples, each with the chain that answers it, and the chain history a run leaves in the emulator's trace.
// Needs ORBESK_EXAMPLES_DIR, ORBESK_SAMPLES_DIR and ORBESK_SIM_CHAINS_DIR.
#pragma once

#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/vendor_samples.h"

struct TCableFile {
    std::string Svf;   // full path
    std::string Chain; // JSON members for a cable device: "chain" and the like
};

// The members of a chain file (tests/sim/chains), or of the one device of
// an example's scenario without its USB identity.
inline std::string CableFileChain(const std::string& JsonPath)
{
    std::ifstream in(JsonPath);
    if (!in)
        throw std::runtime_error("cannot read " + JsonPath);
    nlohmann::json object = nlohmann::json::parse(in);
    if (object.contains("devices"))
        object = object.at("devices").at(0);
    for (const char* key : {"vid", "pid", "serial", "description", "kind"})
        object.erase(key);
    const std::string text = object.dump();
    return text.substr(1, text.size() - 2);
}

inline std::vector<TCableFile> CableFiles()
{
    std::vector<TCableFile> files;
    for (const char* example : {"read_idcodes", "program_memory"}) {
        const std::string base = std::string(ORBESK_EXAMPLES_DIR) + "/" + example;
        files.push_back({base + ".svf", CableFileChain(base + ".json")});
    }
    if (!VendorSamplesMissing().empty())
        return files;
    for (const TVendorSample& s : VendorSamples)
        files.push_back({VendorSamplePath(s.Sample),
                         CableFileChain(std::string(ORBESK_SIM_CHAINS_DIR) + "/" + s.Chain)});
    return files;
}

// The chain's own trace lines (scans, stable states, register updates)
// without the cable's name and the scans' TCK periods: what must not
// depend on the cable.
inline std::vector<std::string> ChainHistory(const std::vector<std::string>& Trace)
{
    std::vector<std::string> history;
    for (std::string line : Trace) {
        const size_t space = line.find(' ');
        if (space == std::string::npos)
            continue;
        line = line.substr(space + 1);
        if (!line.starts_with("scan ") && !line.starts_with("state ") && !line.starts_with("dev="))
            continue;
        if (const size_t tck = line.find(" tck_min_ns="); tck != std::string::npos) {
            const size_t end = line.find(' ', line.find(" tck_max_ns=") + 1);
            line.erase(tck, end == std::string::npos ? std::string::npos : end - tck);
        }
        history.push_back(line);
    }
    return history;
}
