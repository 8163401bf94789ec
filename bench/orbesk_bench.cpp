// Speed and memory figures: SVF parsing, a whole SVF played on the emulated
// Varnel in-process, and the receive ring. Run by hand; nothing here is a
// pass or fail.
#include <benchmark/benchmark.h>

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "executor/jtag_execute.h"
#include "namedlock.h"
#include "sim_control.h"
#include "svf/svf.h"
#include "usb/usbplow.h"

namespace {

// ---- generated SVF files

// Deterministic pseudo-random hex digits, so every run measures the same text.
class THexSource {
public:
    std::string Digits(size_t Count, size_t WrapEvery = 0)
    {
        static const char hex[] = "0123456789ABCDEF";
        std::string out;
        out.reserve(Count + (WrapEvery ? Count / WrapEvery : 0));
        for (size_t i = 0; i < Count; ++i) {
            if (WrapEvery && i && i % WrapEvery == 0)
                out += '\n';
            FState = FState * 6364136223846793005ull + 1442695040888963407ull;
            out += hex[(FState >> 60) & 0xF];
        }
        return out;
    }

private:
    uint64_t FState = 0x0123456789ABCDEFull;
};

class TBenchFolder {
public:
    TBenchFolder()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "orbesk-bench-XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr)
            FPath = pattern;
    }
    ~TBenchFolder()
    {
        std::error_code ec;
        std::filesystem::remove_all(FPath, ec);
    }
    TBenchFolder(const TBenchFolder&) = delete;
    TBenchFolder& operator=(const TBenchFolder&) = delete;

    std::string Write(const std::string& Name, const std::string& Text) const
    {
        const std::string path = (FPath / Name).string();
        std::ofstream(path, std::ios::binary) << Text;
        return path;
    }

private:
    std::filesystem::path FPath;
};

TBenchFolder& Folder()
{
    static TBenchFolder folder;
    return folder;
}

struct TSvfText {
    std::string Path;
    int64_t Bytes = 0;
    int64_t Statements = 0; // without the reader's "__EOF"
    int64_t ScanBits = 0;   // SIR and SDR lengths added up
};

// About 16 MB as tools write it: long SDRs with TDI, TDO and MASK, the TDI
// broken into lines, between short SIRs and RUNTESTs.
const TSvfText& ParseText()
{
    static const TSvfText text = [] {
        constexpr int Scans = 320;
        constexpr int Bits = 65536;
        THexSource hex;
        std::string svf = "! generated for the parser's throughput\nENDIR IDLE;\nENDDR IDLE;\nSTATE RESET;\n"
                          "STATE IDLE;\nFREQUENCY 1E6 HZ;\n";
        int64_t statements = 5;
        for (int i = 0; i < Scans; ++i) {
            svf += "SIR 8 TDI (02);\nSDR " + std::to_string(Bits) + " TDI (\n" + hex.Digits(Bits / 4, 128) +
                   ")\n TDO (" + hex.Digits(Bits / 4) + ")\n MASK (" + hex.Digits(Bits / 4) + ");\n" +
                   "RUNTEST 100 TCK;\n";
            statements += 3;
        }
        svf += "STATE RESET;\n";
        ++statements;
        TSvfText t;
        t.Path = Folder().Write("parse.svf", svf);
        t.Bytes = static_cast<int64_t>(svf.size());
        t.Statements = statements;
        return t;
    }();
    return text;
}

// A 16,384-bit register that hands back on the next capture what the last
// update left in it: each SDR writes a new vector and checks the one before,
// so every bit goes out and every bit comes back compared.
constexpr int PlayScanBits = 16384;
constexpr int PlayScans = 200;
const char* const PlayChain =
    R"("trace":false,"chain":[{"name":"dut","ir_length":8,)"
    R"("instructions":[{"name":"DATA","opcode":2,"length":16384,"readback":true}]}])";

// Frequency 0: the start frequency (3 MHz, native mode); else a FREQUENCY
// statement first (1 MHz is repeated mode, one pin byte per half clock).
TSvfText PlayText(int64_t FrequencyHz)
{
    THexSource hex;
    std::string svf = "ENDIR IDLE;\nENDDR IDLE;\nSTATE RESET;\nSTATE IDLE;\n";
    if (FrequencyHz)
        svf += "FREQUENCY " + std::to_string(FrequencyHz) + " HZ;\n";
    svf += "SIR 8 TDI (02);\n";
    TSvfText t;
    t.ScanBits = 8;
    std::string previous(PlayScanBits / 4, '0');
    for (int i = 0; i < PlayScans; ++i) {
        std::string next = hex.Digits(PlayScanBits / 4);
        svf += "SDR " + std::to_string(PlayScanBits) + " TDI (" + next + ") TDO (" + previous + ");\n";
        previous = std::move(next);
        t.ScanBits += PlayScanBits;
    }
    svf += "STATE RESET;\n";
    t.Path = Folder().Write("play_" + std::to_string(FrequencyHz) + ".svf", svf);
    t.Bytes = static_cast<int64_t>(svf.size());
    return t;
}

// ---- (1) SVF parsing

void BM_SvfParse(benchmark::State& State)
{
    const TSvfText& text = ParseText();
    int64_t statements = 0;
    for (auto _ : State) {
        TSVFFile file(text.Path);
        TSVFCommand statement;
        statements = 0;
        do {
            FreeStatement(statement);
            file.NextStatement(statement);
            ++statements;
        } while (statement.Command != SvfCommand::Eof);
        benchmark::DoNotOptimize(statement.Items.data());
    }
    if (statements - 1 != text.Statements)
        State.SkipWithError("the parser did not see every statement");
    State.SetBytesProcessed(State.iterations() * text.Bytes);
    State.counters["file_bytes"] = static_cast<double>(text.Bytes);
    State.counters["statements"] = static_cast<double>(text.Statements);
}
BENCHMARK(BM_SvfParse)->Unit(benchmark::kMillisecond);

// ---- (2) playing on the emulated Varnel

class TBenchExecuter : public TJtagExecuter {
public:
    void Message(const std::string& Text, MessageKind Kind) override
    {
        std::lock_guard<std::mutex> guard(FLock);
        if (Kind == MessageKind::Error && FFirstError.empty())
            FFirstError = Text;
    }
    bool PrepareCable() override { return false; }
    std::string FirstError()
    {
        std::lock_guard<std::mutex> guard(FLock);
        return FFirstError;
    }

private:
    std::mutex FLock;
    std::string FFirstError;
};

// The emulated driver, bound by the executor and reachable for its
// counters, with a device search lock of this process alone.
class TEmulatedDriver {
public:
    TEmulatedDriver()
    {
        FtLockSettings().Name = "ORBESK_BENCH_" + std::to_string(getpid());
        FtUnload();
        FtSetLibraryFolder(Folder());
        if (FtLoad())
            Sim = std::make_unique<simctl::TSimLibrary>(Folder() + "/libftd2xx.so");
    }
    ~TEmulatedDriver()
    {
        Sim.reset();
        FtUnload();
        FtSetLibraryFolder("");
        unlink((platform::NamedLockFolder() + "/" + FtLockSettings().Name + ".lock").c_str());
        FtLockSettings() = TFtLockSettings();
    }
    TEmulatedDriver(const TEmulatedDriver&) = delete;
    TEmulatedDriver& operator=(const TEmulatedDriver&) = delete;

    // Bytes the device took since the scenario was loaded: the sum of its
    // sessions' close lines (the device search opens it once as well).
    uint64_t BytesWritten()
    {
        uint64_t total = 0;
        for (const std::string& line : Sim->Trace())
            if (const size_t at = line.find("close written="); at != std::string::npos)
                total += std::stoull(line.substr(at + 14));
        return total;
    }

    std::unique_ptr<simctl::TSimLibrary> Sim;

private:
    static std::string Folder() { return std::string(ORBESK_SIM_D2XX_DIR) + "/plain"; }
};

void BM_PlayOnVarnel(benchmark::State& State)
{
    const TSvfText text = PlayText(State.range(0));
    TEmulatedDriver driver;
    if (!driver.Sim) {
        State.SkipWithError("the emulated driver did not load");
        return;
    }
    const std::string scenario = "{\"devices\":[{\"vid\":\"0x0403\",\"pid\":\"0xF1A0\",\"serial\":\"A6010001\","
                                 "\"kind\":\"varnel\"," + std::string(PlayChain) + "}]}";
    double seconds = 0;
    uint64_t writes = 0, reads = 0, written = 0;
    size_t ring = 0;
    for (auto _ : State) {
        driver.Sim->Load(scenario);
        TBenchExecuter exec;
        exec.SelectedCable = 0x010001;
        exec.DefFreq = 0;
        // The open sleeps on purpose (250 ms for the cable to settle), so
        // the clock runs from the start of play, not from the open.
        if (!exec.OpenAndStart(text.Path)) {
            State.SkipWithError(("the run did not start: " + exec.FirstError()).c_str());
            break;
        }
        const auto start = std::chrono::steady_clock::now();
        FileStatus status;
        while ((status = exec.CurrentFile->GetStatus()) == FileStatus::Running)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        State.SetIterationTime(took);
        seconds += took;
        exec.CloseCable(status != FileStatus::Succeeded);
        exec.CurrentFile.reset();
        if (status != FileStatus::Succeeded) {
            State.SkipWithError(("the run failed: " + exec.FirstError()).c_str());
            break;
        }
        writes = driver.Sim->Counter("FT_Write");
        reads = driver.Sim->Counter("FT_Read");
        written = driver.BytesWritten();
        ring = exec.RxRing.size();
    }
    if (seconds <= 0 || writes == 0)
        return;
    const double bits = static_cast<double>(text.ScanBits);
    State.counters["scan_bits"] = bits;
    State.counters["scan_bits_per_s"] = bits * static_cast<double>(State.iterations()) / seconds;
    State.counters["FT_Write"] = static_cast<double>(writes);
    State.counters["bytes_written"] = static_cast<double>(written);
    State.counters["bytes_per_write"] = static_cast<double>(written) / static_cast<double>(writes);
    State.counters["cmd_bytes_per_bit"] = static_cast<double>(written) / bits;
    State.counters["FT_Read"] = static_cast<double>(reads);
    State.counters["rx_ring_bytes"] = static_cast<double>(ring);
}
// 0: the 3 MHz start frequency (native mode); 1 MHz: repeated mode.
BENCHMARK(BM_PlayOnVarnel)->Arg(0)->Arg(1000000)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

// ---- (3) the receive ring

class TRingOnly : public TBenchExecuter {
public:
    TRingOnly() { RxReset(); }
};

// A reader that keeps pace: each put of Chunk bytes is taken at once, so the
// ring wraps but never grows.
void BM_RxRingStream(benchmark::State& State)
{
    const int32_t chunk = static_cast<int32_t>(State.range(0));
    TRingOnly ring;
    std::vector<uint8_t> in(static_cast<size_t>(chunk), 0x5A), out(static_cast<size_t>(chunk));
    for (auto _ : State) {
        ring.RxPut(in.data(), chunk);
        if (!ring.RxGet(out.data(), chunk))
            State.SkipWithError("bytes were lost");
        benchmark::DoNotOptimize(out.data());
    }
    State.SetBytesProcessed(State.iterations() * chunk);
    State.counters["ring_bytes"] = static_cast<double>(ring.RxRing.size());
}
BENCHMARK(BM_RxRingStream)->Arg(16)->Arg(512)->Arg(16384);

// A reader that lags: Held bytes go in (4 KB puts, as the driver hands them
// over) before any comes out. With Wrapped the reader had already moved
// 65,000 bytes on, so the ring grows while its contents wrap.
void BM_RxRingGrowth(benchmark::State& State)
{
    const int64_t held = State.range(0);
    const bool wrapped = State.range(1) != 0;
    constexpr int64_t Piece = 4096;
    std::vector<uint8_t> in(static_cast<size_t>(held)), out(static_cast<size_t>(held));
    for (int64_t i = 0; i < held; ++i)
        in[static_cast<size_t>(i)] = static_cast<uint8_t>(i ^ (i >> 8) ^ (i >> 16));
    std::vector<uint8_t> skip(65000);
    size_t peak = 0;
    for (auto _ : State) {
        State.PauseTiming();
        TRingOnly ring;
        if (wrapped) {
            ring.RxPut(skip.data(), static_cast<int32_t>(skip.size()));
            ring.RxGet(skip.data(), static_cast<int32_t>(skip.size()));
        }
        State.ResumeTiming();
        for (int64_t at = 0; at < held; at += Piece)
            ring.RxPut(in.data() + at, static_cast<int32_t>(std::min(Piece, held - at)));
        peak = ring.RxRing.size();
        for (int64_t at = 0; at < held; at += Piece)
            if (!ring.RxGet(out.data() + at, static_cast<int32_t>(std::min(Piece, held - at))))
                State.SkipWithError("bytes were lost");
        State.PauseTiming();
        if (std::memcmp(in.data(), out.data(), in.size()) != 0)
            State.SkipWithError("bytes came back changed or out of order");
        State.ResumeTiming();
    }
    State.SetBytesProcessed(State.iterations() * held);
    State.counters["held_bytes"] = static_cast<double>(held);
    State.counters["ring_bytes"] = static_cast<double>(peak);
    State.counters["ring_per_held_byte"] = static_cast<double>(peak) / static_cast<double>(held);
}
BENCHMARK(BM_RxRingGrowth)
    ->ArgNames({"held", "wrapped"})
    ->Args({65536, 0})
    ->Args({1 << 20, 0})
    ->Args({1 << 20, 1})
    ->Args({3 << 19, 0})
    ->Args({16 << 20, 0})
    ->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    RegisterSvfPlayer();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
