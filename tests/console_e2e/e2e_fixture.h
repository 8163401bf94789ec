// Shared by the orbeskcon process tests: a folder of the test's own for data
// and settings files, scenarios for the emulated driver, and runs of the
// program beside it with the scenario and a trace file in its environment.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "process_runner.h"

namespace e2e {

// Generous: a guard against a hang, not a time limit of a run.
constexpr int RunLimitMs = 60000;

const std::string VersionLine = "orbeskcon version 3.12, 2024-02-07";
const std::vector<std::string> UsageLines = {
    "usage: orbeskcon  [-mirrow | -druvel | -varnel] [-s serial] [-i inifile] [-w] file.svf | file.xsvf",
    "       orbeskcon  -version | -h | -help",
    "  -mirrow, -druvel, -varnel  the kind of cable -s names (else a Varnel); -mirrow alone: a Mirrow first",
    "  -s serial   the cable's serial number, hexadecimal; - for the first cable found",
    "  -i inifile  the settings file (else orbeskcon.ini, or orbesk.ini, beside the program)",
    "  -w          wait for Enter after a failed run",
    "  -f file     the data file, when it is not named on its own",
    "  -v          accepted, and does nothing",
    "  -version    the version; -h, -help and --help this text",
};
const std::string ObsoleteLine =
    "Fatal: ini files includes obsolete options. Please create new ini file using orbesk.";
const std::string SuccessLine = "File processing completed successfully";
const std::string FailureLine = "!! ERROR !! File processing failed";

inline std::string ReadText(const std::string& Path)
{
    std::ifstream in(Path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// ---- scenario text

inline std::string Device(const std::string& Vid, const std::string& Pid, const std::string& Serial,
                          const std::string& Kind, const std::string& Extra = "")
{
    return "{\"vid\":\"" + Vid + "\",\"pid\":\"" + Pid + "\",\"serial\":\"" + Serial + "\",\"kind\":\"" + Kind +
           "\"" + (Extra.empty() ? "" : "," + Extra) + "}";
}
inline std::string Varnel(const std::string& Serial, const std::string& Extra = "")
{
    return Device("0x0403", "0xF1A0", Serial, "varnel", Extra);
}
inline std::string Mirrow(const std::string& Serial, const std::string& Extra = "")
{
    return Device("0xA600", "0xA003", Serial, "mirrow", Extra);
}
inline std::string Druvel(const std::string& Serial, const std::string& Extra = "")
{
    return Device("0xA600", "0xDBCA", Serial, "druvel", Extra);
}
// An FTDI device that is no cable of ours.
inline std::string OtherFtdi(const std::string& Serial)
{
    return Device("0x0403", "0x6001", Serial, "other");
}
inline std::string Scenario(const std::vector<std::string>& Devices)
{
    std::string list;
    for (const std::string& d : Devices)
        list += (list.empty() ? "" : ",") + d;
    return "{\"devices\":[" + list + "]}";
}

// A chain file of tests/sim/chains as members of a device object.
inline std::string ChainMembers(const std::string& ChainFile)
{
    std::string chain = ReadText(std::string(ORBESK_SIM_CHAINS_DIR) + "/" + ChainFile);
    chain = chain.substr(chain.find('{') + 1);
    return chain.substr(0, chain.rfind('}'));
}

// Two devices from TDI to TDO, IDCODE at opcode 1 in each.
const std::string TwoDevices = R"("chain":[
    {"name":"first","ir_length":4,"idcode":{"opcode":1,"value":"0x12345093"}},
    {"name":"second","ir_length":8,"idcode":{"opcode":1,"value":"0x0ABC1DEF"}}])";

// Reads and checks both IDCODEs; the second with a wrong expected value
// when Good is false.
inline std::string IdcodeSvf(bool Good)
{
    return std::string("! read both IDCODEs\nSTATE RESET;\nSTATE IDLE;\n") +
           "SIR 12 TDI (101) TDO (101) MASK (FFF);\n! then the data registers\n" + "SDR 64 TDI (0000000000000000) TDO (" +
           (Good ? "123450930ABC1DEF" : "123450930ABC1DEE") + ");\nSTATE RESET;\n";
}

// An empty folder of the running test's own below the temporary folder:
// Prefix, the process id, the suite and the test's name.
inline std::string FreshTestFolder(const std::string& Prefix)
{
    const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "_" + info->name();
    for (char& c : name)
        if (c == '/')
            c = '_';
    const std::string folder =
        (std::filesystem::temp_directory_path() / (Prefix + std::to_string(getpid()) + "_" + name)).string();
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    return folder;
}

class TOrbeskconTest : public testing::Test {
protected:
    void SetUp() override
    {
        Folder = FreshTestFolder("orbeskcon_e2e_");
        TracePath = Folder + "/trace.txt";
    }
    void TearDown() override { std::filesystem::remove_all(Folder); }

    static std::string SharedProgram() { return std::string(ORBESKCON_E2E_BIN) + "/orbeskcon"; }

    // A file in the test's folder; its path.
    std::string Write(const std::string& Name, const std::string& Text)
    {
        const std::string path = Folder + "/" + Name;
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        std::ofstream(path, std::ios::binary) << Text;
        return path;
    }
    // The program and the driver copied into a folder of their own, for
    // settings files beside the program; With false leaves the driver out.
    std::string PrivateProgram(bool WithDriver = true)
    {
        const std::string folder = Folder + "/prog";
        std::filesystem::create_directories(folder);
        std::filesystem::copy_file(SharedProgram(), folder + "/orbeskcon");
        if (WithDriver)
            std::filesystem::copy_file(std::string(ORBESKCON_E2E_BIN) + "/libftd2xx.so", folder + "/libftd2xx.so");
        return folder + "/orbeskcon";
    }

    TEnvironment Environment() const
    {
        // The emulated cables are held across processes, as real ones, in
        // the test's own folder.
        TEnvironment env = {{"ORBESK_SIM_SCENARIO", ScenarioText},
                            {"ORBESK_SIM_TRACE", TracePath},
                            {"ORBESK_SIM_LOCK_DIR", Folder + "/locks"},
                            {"LD_LIBRARY_PATH", std::nullopt}};
        for (const auto& [name, value] : ExtraEnvironment)
            env[name] = value;
        return env;
    }
    // Set by a test: more changes to the program's environment.
    TEnvironment ExtraEnvironment;

    // In the test's folder; Program empty: the shared orbeskcon. Its input
    // stays open until the caller closes it.
    std::unique_ptr<TChild> Start(const std::vector<std::string>& Args, const std::string& Program = "")
    {
        return std::make_unique<TChild>(Program.empty() ? SharedProgram() : Program, Args, Environment(), Folder);
    }

    // A whole run, its input at its end from the start.
    TRunResult Run(const std::vector<std::string>& Args, const std::string& Program = "")
    {
        std::unique_ptr<TChild> child = Start(Args, Program);
        child->CloseIn();
        TRunResult result = child->Finish(RunLimitMs);
        EXPECT_FALSE(result.TimedOut) << "orbeskcon did not end; output so far:\n" << result.Out;
        return result;
    }

    std::vector<std::string> Trace() const { return SplitLines(ReadText(TracePath)); }
    std::vector<std::string> TraceWith(const std::string& Part) const
    {
        std::vector<std::string> lines;
        for (const std::string& line : Trace())
            if (line.find(Part) != std::string::npos)
                lines.push_back(line);
        return lines;
    }
    // The Varnels whose open routine set them up (not just looked at by a
    // search), in order.
    std::vector<std::string> VarnelsSetUp() const
    {
        std::vector<std::string> serials;
        for (const std::string& line : TraceWith(" setup byte=A7"))
            serials.push_back(line.substr(0, line.find(' ')));
        return serials;
    }

    std::string Folder;
    std::string TracePath;
    std::string ScenarioText = Scenario({});
};

} // namespace e2e
