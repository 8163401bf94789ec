// The console program's code in-process: what its executor prints, the
// cable choice from the command line, and the poll loop over a stand-in
// player on a clock the test drives, so that seconds of progress take none.
#include <gmock/gmock.h>

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "console_exec.h"
#include "console_signals.h"
#include "paramutils.h"
#include "ticks.h"

namespace {

using testing::ElementsAre;
using testing::ElementsAreArray;
using testing::IsEmpty;

// The program's output streams pointed at temporary files.
class TCapturedStreams {
public:
    TCapturedStreams() : FSaved(ConsoleStreams())
    {
        ConsoleStreams() = {std::tmpfile(), std::tmpfile(), std::tmpfile()};
    }
    ~TCapturedStreams()
    {
        for (std::FILE* f : {ConsoleStreams().Out, ConsoleStreams().Err, ConsoleStreams().In})
            std::fclose(f);
        ConsoleStreams() = FSaved;
    }
    TCapturedStreams(const TCapturedStreams&) = delete;
    TCapturedStreams& operator=(const TCapturedStreams&) = delete;

    static std::string Text(std::FILE* File)
    {
        std::fflush(File);
        std::rewind(File);
        std::string text;
        for (int c; (c = std::fgetc(File)) != EOF;)
            text += static_cast<char>(c);
        return text;
    }
    static std::vector<std::string> Lines(std::FILE* File)
    {
        std::vector<std::string> lines;
        std::istringstream in(Text(File));
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }
    std::vector<std::string> Out() const { return Lines(ConsoleStreams().Out); }
    std::vector<std::string> Err() const { return Lines(ConsoleStreams().Err); }
    void Input(const std::string& Text)
    {
        std::fputs(Text.c_str(), ConsoleStreams().In);
        std::rewind(ConsoleStreams().In);
    }
    long InputConsumed() const { return std::ftell(ConsoleStreams().In); }

private:
    TConsoleStreams FSaved;
};

TEST(ConsoleExecuter, ErrorsAndWarningsAlwaysShowTheRestOnlyWithShowComments)
{
    struct TCase {
        uint8_t ShowComments;
        MessageKind Kind;
        bool Shown;
    };
    const TCase cases[] = {
        {0, MessageKind::Info, false},   {0, MessageKind::Comment, false}, {0, MessageKind::Error, true},
        {0, MessageKind::Warning, true}, {1, MessageKind::Info, true},     {1, MessageKind::Comment, true},
        {1, MessageKind::Error, true},   {1, MessageKind::Warning, true},  {0x80, MessageKind::Info, true},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(testing::Message() << int{c.ShowComments} << " kind " << static_cast<int>(c.Kind));
        TCapturedStreams streams;
        TConsoleExecuter executer;
        executer.ShowComments = c.ShowComments;
        executer.Message("a line", c.Kind);
        EXPECT_EQ(streams.Out(), c.Shown ? std::vector<std::string>{"a line"} : std::vector<std::string>{});
        EXPECT_THAT(streams.Err(), IsEmpty());
    }
}

TEST(ConsoleExecuter, AParseErrorsTwoLinesEndInPlainLineEnds)
{
    TCapturedStreams streams;
    TConsoleExecuter executer;
    executer.Message("Fatal error \"bad\" near line 3\r\n\"SDR 8 TDI (1G);\"", MessageKind::Error);
    executer.Message("a lone\rCR stays", MessageKind::Error);
    EXPECT_EQ(TCapturedStreams::Text(ConsoleStreams().Out),
              "Fatal error \"bad\" near line 3\n\"SDR 8 TDI (1G);\"\na lone\rCR stays\n");
}

TEST(ConsoleExecuter, LinesFromSeveralThreadsComeOutWhole)
{
    TCapturedStreams streams;
    TConsoleExecuter executer;
    executer.ShowComments = 1;
    constexpr int Threads = 4;
    constexpr int LinesEach = 500;
    std::vector<std::thread> writers;
    for (int t = 0; t < Threads; ++t)
        writers.emplace_back([&executer, t] {
            const std::string line(300, static_cast<char>('a' + t));
            for (int i = 0; i < LinesEach; ++i)
                if (t % 2)
                    executer.Message(line, MessageKind::Info);
                else
                    WriteOutLine(line);
        });
    for (std::thread& w : writers)
        w.join();
    std::vector<int> counts(Threads, 0);
    for (const std::string& line : streams.Out()) {
        ASSERT_EQ(line.size(), 300u);
        ASSERT_EQ(line.find_first_not_of(line[0]), std::string::npos) << "mixed: " << line.substr(0, 40);
        ++counts[line[0] - 'a'];
    }
    EXPECT_THAT(counts, testing::Each(LinesEach));
}

TEST(ConsoleExecuter, PrepareCableForgetsThePinLevelsAndTellsWhetherACableIsChosen)
{
    TConsoleExecuter executer;
    executer.LastPinState = {1, 0, 1};
    executer.OutCount = 12;
    executer.SelectedCable = -1;
    EXPECT_FALSE(executer.PrepareCable());
    EXPECT_THAT(executer.LastPinState, ElementsAre(-1, -1, -1));
    EXPECT_EQ(executer.OutCount, 0u);
    executer.SelectedCable = 0x010001;
    EXPECT_TRUE(executer.PrepareCable());
}

TEST(ConsoleCableChoice, TheSerialTextAndTheKindOptionsGiveTheCable)
{
    struct TCase {
        const char* Serial;
        bool Mirrow;
        bool Druvel;
        int32_t Selected;
        int32_t Preferred;
    };
    const TCase cases[] = {
        {"1234", false, false, 0x00011234, 0},
        {"A6011234", false, false, 0x00011234, 0},
        {"a6011234", false, false, 0x00011234, 0},
        {"A6041234", true, false, 0x02041234, 0},
        {"A6041234", false, true, 0x7B041234, 0},
        {"A6041234", true, true, 0x02041234, 0},
        {"0", false, false, 0x00010000, 0},
        // Five digits or more are the serial as typed: a full one never
        // names the cable beside it.
        {"A6000005", false, true, 0x7B000005, 0},
        {"A6000001", false, false, 0x00000001, 0},
        {"00001", false, false, 0x00000001, 0},
        {"FF0000", false, false, 0x00FF0000, 0},
        {"abcdef", false, false, 0x00ABCDEF, 0},
        {"FFFFFFFFFFFFFFFF", false, false, 0x00FFFFFF, 0},
        {"1FFFFFFFFFFFFFFFF", false, false, -1, 0}, // more than 64 bits
        {"00000000000000000000A6041234", true, false, 0x02041234, 0}, // 64 bits after the zeros
        {"", false, false, -1, 0},
        {"", true, false, -1, PreferMirrow},
        {"", false, true, -1, PreferDruvel},
        {"-", false, false, -2, 0},
        {"-", true, false, -2, PreferMirrow},
        {"0x12", false, false, -1, 0},
        {"$12", false, false, -1, 0},
        {" 12", false, false, -1, 0},
        {"12g", false, false, -1, 0},
        {"-12", true, false, -1, PreferMirrow},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(testing::Message() << '"' << c.Serial << "\" mirrow " << c.Mirrow << " druvel " << c.Druvel);
        TConsoleExecuter executer;
        executer.SelectedCable = 77;
        ChooseConsoleCable(executer, c.Serial, c.Mirrow, c.Druvel);
        EXPECT_EQ(executer.SelectedCable, c.Selected);
        EXPECT_EQ(executer.PreferredKind, c.Preferred);
    }
}

// The option handling in-process, for what a process run cannot show
// without the Mirrow's and the Druvel's own cable routines.
class ConsoleOptionsTest : public testing::Test {
protected:
    void SetUp() override
    {
        Folder = std::filesystem::temp_directory_path() / ("orbesk_console_options_" + std::to_string(getpid()));
        std::filesystem::create_directories(Folder);
        std::ofstream(Folder / "x.svf") << "STATE RESET;\n";
    }
    void TearDown() override
    {
        FreeParameterSingleton();
        std::filesystem::remove_all(Folder);
    }

    // The options of Args over a settings file holding Settings.
    std::unique_ptr<TConsoleExecuter> Options(std::vector<std::string> Args, const std::string& Settings)
    {
        std::ofstream(Folder / "s.ini") << Settings;
        Args.insert(Args.begin(), {"-i", (Folder / "s.ini").string()});
        Args.push_back((Folder / "x.svf").string());
        std::vector<const char*> argv{"orbeskcon"};
        for (const std::string& a : Args)
            argv.push_back(a.c_str());
        SetProcessArguments(static_cast<int>(argv.size()), argv.data());
        FreeParameterSingleton();
        DeclareConsoleOptions();
        TConsoleState state;
        state.Executer = std::make_unique<TConsoleExecuter>();
        EXPECT_TRUE(ConsoleOptions(state));
        EXPECT_EQ(state.DataFileName, (Folder / "x.svf").string());
        EXPECT_EQ(state.SettingsPath, (Folder / "s.ini").string());
        return std::move(state.Executer);
    }

    std::filesystem::path Folder;
};

TEST_F(ConsoleOptionsTest, KindOptionsSerialAndSettingsMeetAsTheProgramReadsThem)
{
    struct TCase {
        std::vector<std::string> Args;
        std::string Settings;
        int32_t Selected;
        int32_t Preferred;
        uint8_t ShowComments;
    };
    const TCase cases[] = {
        {{"-s", "A6041234", "-mirrow"}, "", 0x02041234, 0, 1},
        {{"-s", "A6041234", "-druvel", "-mirrow"}, "", 0x02041234, 0, 1},
        {{"-DRUVEL", "/s", "A6041234"}, "", 0x7B041234, 0, 1},
        {{"-mirrow"}, "[Params]\nLastSerial=33624628\n", 0x02011234, PreferMirrow, 1},
        {{"-mirrow", "-s", "-"}, "[Params]\nLastSerial=33624628\n", -1, PreferMirrow, 1},
        {{"-druvel"}, "[Params]\nLastSerial=-1\nWriteComments=0\n", -1, PreferDruvel, 0},
        // A Druvel asked for takes the remembered cable only when it is one.
        {{"-druvel"}, "[Params]\nLastSerial=33624628\n", -1, PreferDruvel, 1},
        {{"-druvel"}, "[Params]\nLastSerial=2064790614\n", 0x7B123456, PreferDruvel, 1},
        {{"-s", "1234"}, "[Params]\nLastSerial=33624628\nWriteComments=513\n", 0x00011234, 0, 1},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.Args) + " " + c.Settings);
        TCapturedStreams streams;
        const std::unique_ptr<TConsoleExecuter> executer = Options(c.Args, c.Settings);
        EXPECT_EQ(executer->SelectedCable, c.Selected);
        EXPECT_EQ(executer->PreferredKind, c.Preferred);
        EXPECT_EQ(executer->ShowComments, c.ShowComments);
        EXPECT_THAT(streams.Out(), IsEmpty());
    }
}

// ---- the poll loop

// A clock that moves only when the code under test sleeps.
class TSleepClock {
public:
    explicit TSleepClock(uint32_t Start) : Now(Start)
    {
        platform::SetClockForTest([this] { return Now.load(); }, [this](uint32_t Ms) { Now.fetch_add(Ms); });
    }
    ~TSleepClock() { platform::SetClockForTest({}, {}); }
    TSleepClock(const TSleepClock&) = delete;
    TSleepClock& operator=(const TSleepClock&) = delete;
    std::atomic<uint32_t> Now;
};

// A player that runs for Duration ms of that clock, its position moving
// evenly from 0 to Size, and then ends with Outcome.
class TTimedPlayer : public TJtagFile {
public:
    TTimedPlayer(const TSleepClock& Clock, uint32_t Duration, int32_t Size, FileStatus Outcome, bool& Freed)
        : TJtagFile("timed.svf"), FClock(Clock), FStart(Clock.Now.load()), FDuration(Duration), FSize(Size),
          FOutcome(Outcome), FFreed(Freed)
    {
    }
    ~TTimedPlayer() override { FFreed = true; }
    bool Start(int32_t) override { return true; }
    FileStatus GetStatus() override
    {
        // A stop request ends the run at the next look, as a failure.
        if (FStopped)
            return FileStatus::Failed;
        return Elapsed() >= FDuration ? FOutcome : FileStatus::Running;
    }
    int32_t GetPosition() override
    {
        return static_cast<int32_t>(int64_t{FSize} * std::min(Elapsed(), FDuration) / FDuration);
    }
    int32_t GetSize() override { return FSize; }
    void Stop() override { FStopped = true; }

private:
    uint32_t Elapsed() const { return FClock.Now.load() - FStart; }
    const TSleepClock& FClock;
    uint32_t FStart;
    uint32_t FDuration;
    int32_t FSize;
    FileStatus FOutcome;
    bool& FFreed;
    bool FStopped = false;
};

TEST(ConsolePollRun, ProgressAboutOnceASecondWhileCommentsAreShownThenTheOutcome)
{
    const std::string ok = "File processing completed successfully";
    const std::string failed = "!! ERROR !! File processing failed";
    struct TCase {
        const char* What;
        uint32_t StartTick;
        uint32_t Duration;
        int32_t Size;
        uint8_t ShowComments;
        FileStatus Outcome;
        int Status;
        std::vector<std::string> Out;
    };
    // Polls every 50 ms: a line at 1050, 2100 and 3150 ms.
    const TCase cases[] = {
        {"plain", 0, 3500, 1000, 1, FileStatus::Succeeded, 0,
         {"done yet 30%", "done yet 60%", "done yet 90%", ok}},
        {"tick counter wraps", 0xFFFFFC00u, 3500, 1000, 1, FileStatus::Succeeded, 0,
         {"done yet 30%", "done yet 60%", "done yet 90%", ok}},
        {"large file", 0, 3500, 2100000000, 1, FileStatus::Succeeded, 0,
         {"done yet 30%", "done yet 60%", "done yet 90%", ok}},
        {"short run", 0, 1000, 1000, 1, FileStatus::Succeeded, 0, {ok}},
        {"empty file", 0, 3500, 0, 1, FileStatus::Succeeded, 0, {ok}},
        {"comments off", 0, 3500, 1000, 0, FileStatus::Succeeded, 0, {}},
        {"failed", 0, 2500, 1000, 1, FileStatus::Failed, 1, {"done yet 42%", "done yet 84%", failed}},
        {"failed, comments off", 0, 2500, 1000, 0, FileStatus::Failed, 1, {failed}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.What);
        TCapturedStreams streams;
        TSleepClock clock(c.StartTick);
        bool freed = false;
        TConsoleState state;
        state.Executer = std::make_unique<TConsoleExecuter>();
        state.Executer->ShowComments = c.ShowComments;
        state.Executer->CurrentFile = std::make_unique<TTimedPlayer>(clock, c.Duration, c.Size, c.Outcome, freed);
        EXPECT_EQ(PollRun(state, false), c.Status);
        EXPECT_THAT(streams.Out(), ElementsAreArray(c.Out));
        EXPECT_TRUE(freed);
        EXPECT_EQ(state.Executer, nullptr);
    }
}

struct sigaction SignalAction(int Signal)
{
    struct sigaction action = {};
    sigaction(Signal, nullptr, &action);
    return action;
}

TEST(ConsolePollRun, OnlyAFailedRunWaitsForEnterOnlyWhenAskedToAndNotAfterAStopSignal)
{
    struct TCase {
        FileStatus Outcome;
        bool Wait;
        bool Signal; // a stop signal before the first look
        int Status;
        long Consumed; // of "first\nsecond\n"
    };
    const TCase cases[] = {
        {FileStatus::Failed, true, false, 1, 6},
        {FileStatus::Failed, false, false, 1, 0},
        {FileStatus::Succeeded, true, false, 0, 0},
        // Would run for an hour and then succeed.
        {FileStatus::Succeeded, true, true, 1, 0},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(testing::Message() << static_cast<int>(c.Outcome) << " wait " << c.Wait << " signal "
                                        << c.Signal);
        TCapturedStreams streams;
        streams.Input("first\nsecond\n");
        TSleepClock clock(0);
        bool freed = false;
        TConsoleState state;
        state.Executer = std::make_unique<TConsoleExecuter>();
        state.Executer->CurrentFile =
            std::make_unique<TTimedPlayer>(clock, c.Signal ? 3600000 : 100, 10, c.Outcome, freed);
        CatchStopSignals();
        EXPECT_FALSE(StopRequested());
        if (c.Signal) {
            raise(SIGTERM);
            EXPECT_TRUE(StopRequested());
        }
        EXPECT_EQ(PollRun(state, c.Wait), c.Status);
        EXPECT_EQ(streams.InputConsumed(), c.Consumed);
        EXPECT_TRUE(freed);
        EXPECT_LT(clock.Now.load(), 1000u);
        std::vector<std::string> out;
        if (c.Signal)
            out = {"Stopping: closing the cable. Press Ctrl-C again to quit at once.", "Run stopped by a signal."};
        if (c.Status == 1)
            out.push_back("!! ERROR !! File processing failed");
        EXPECT_EQ(streams.Out(), out);
        // The cable is closed: the signals have their old meaning again.
        for (int signal : {SIGINT, SIGTERM, SIGHUP})
            EXPECT_EQ(SignalAction(signal).sa_handler, SIG_DFL) << signal;
    }
}

TEST(ConsoleStopSignals, ASignalIgnoredFromTheStartStaysIgnored)
{
    // As under nohup.
    const struct sigaction saved = SignalAction(SIGHUP);
    signal(SIGHUP, SIG_IGN);
    CatchStopSignals();
    EXPECT_EQ(SignalAction(SIGHUP).sa_handler, SIG_IGN);
    EXPECT_NE(SignalAction(SIGINT).sa_handler, SIG_DFL);
    raise(SIGHUP);
    EXPECT_FALSE(StopRequested());
    ReleaseStopSignals();
    EXPECT_EQ(SignalAction(SIGHUP).sa_handler, SIG_IGN);
    EXPECT_EQ(SignalAction(SIGINT).sa_handler, SIG_DFL);
    sigaction(SIGHUP, &saved, nullptr);
}

TEST(ConsoleProgress, PercentIsTakenIn64BitsAndIsNeverNegative)
{
    struct TCase {
        int32_t Position;
        int32_t Total;
        int64_t Percent;
    };
    const TCase cases[] = {
        {0, 100, 0},
        {50, 100, 50},
        {100, 100, 100},
        {99, 100, 99},
        {2000000000, 2100000000, 95},
        {INT32_MAX, INT32_MAX, 100},
        {25000000, 100000000, 25},
        {5, 0, 0},
    };
    for (const TCase& c : cases)
        EXPECT_EQ(ProgressPercent(c.Position, c.Total), c.Percent) << c.Position << " of " << c.Total;
}

} // namespace
