// The executor's cable choice, OpenAndStart with its failure paths and the
// wiring of the cable routines, and CloseCable.
#include <gmock/gmock.h>

#include <filesystem>
#include <stdexcept>

#include "executor_fixture.h"
#include "svf/svf_error.h"

namespace {

using namespace exectest;
using testing::ElementsAre;
using testing::ElementsAreArray;

// ---- players that stand in for the real ones

struct TProbeRecord {
    int32_t StartHz = -99;
    bool StartResult = true;
    int Alive = 0;
    TJtagFile* Last = nullptr;
};
TProbeRecord Probe;

class TProbePlayer : public TJtagFile {
public:
    explicit TProbePlayer(const std::string& FileName) : TJtagFile(FileName)
    {
        ++Probe.Alive;
        Probe.Last = this;
    }
    ~TProbePlayer() override
    {
        --Probe.Alive;
        if (Probe.Last == this)
            Probe.Last = nullptr;
    }
    static std::string FileTypeName() { return "PROBE"; }
    bool Start(int32_t FrequencyHz) override
    {
        Probe.StartHz = FrequencyHz;
        return Probe.StartResult;
    }
    FileStatus GetStatus() override { return FileStatus::Running; }
    int32_t GetPosition() override { return 0; }
    int32_t GetSize() override { return 0; }
    void Stop() override {}
};

// Players whose creation fails the three ways a real one can.
struct TBadLinePlayer : TProbePlayer {
    explicit TBadLinePlayer(const std::string& F) : TProbePlayer(F)
    {
        throw ELineException("Unknown command FOO", 4, "FOO 1;");
    }
    static std::string FileTypeName() { return "BADLINE"; }
};
struct TBadFilePlayer : TProbePlayer {
    explicit TBadFilePlayer(const std::string& F) : TProbePlayer(F)
    {
        throw Exception("Cannot open file " + F + " for read.");
    }
    static std::string FileTypeName() { return "BADFILE"; }
};
// A file its player opens, and whose check then finds a bad line.
struct TBadCheckPlayer : TProbePlayer {
    using TProbePlayer::TProbePlayer;
    void CheckFile(const platform::TStopToken&) override
    {
        throw ELineException("Unknown keyword XYZ", 6, "SDR 8 XYZ;");
    }
    static std::string FileTypeName() { return "BADCHECK"; }
};
// A check that meets a statement larger than the memory left.
struct TOutOfMemoryCheckPlayer : TProbePlayer {
    using TProbePlayer::TProbePlayer;
    void CheckFile(const platform::TStopToken&) override { throw std::bad_alloc(); }
    static std::string FileTypeName() { return "HUGE"; }
};
// A long check that looks at the stop between its steps, and would fail at
// its end; OnStep is told of each step.
struct TLongCheckPlayer : TProbePlayer {
    using TProbePlayer::TProbePlayer;
    static inline std::function<void(int Step)> OnStep;
    void CheckFile(const platform::TStopToken& Stop) override
    {
        for (int step = 0; step < 1000; ++step) {
            if (OnStep)
                OnStep(step);
            if (Stop.Asked())
                return;
        }
        throw ELineException("Unknown keyword XYZ", 6, "SDR 8 XYZ;");
    }
    static std::string FileTypeName() { return "LONGCHECK"; }
};
struct TOddPlayer : TProbePlayer {
    explicit TOddPlayer(const std::string& F) : TProbePlayer(F) { throw std::runtime_error("not ours"); }
    static std::string FileTypeName() { return "ODD"; }
};

class TRegisterPlayers : public testing::Environment {
public:
    void SetUp() override
    {
        RegisterJtagFileClass(JtagFileClassOf<TProbePlayer>());
        RegisterJtagFileClass(JtagFileClassOf<TBadLinePlayer>());
        RegisterJtagFileClass(JtagFileClassOf<TBadFilePlayer>());
        RegisterJtagFileClass(JtagFileClassOf<TOddPlayer>());
        RegisterJtagFileClass(JtagFileClassOf<TBadCheckPlayer>());
        RegisterJtagFileClass(JtagFileClassOf<TOutOfMemoryCheckPlayer>());
        RegisterJtagFileClass(JtagFileClassOf<TLongCheckPlayer>());
    }
};
testing::Environment* const Players = testing::AddGlobalTestEnvironment(new TRegisterPlayers);

std::string FullPath(const std::string& Relative)
{
    return (std::filesystem::current_path() / Relative).lexically_normal().string();
}

class Executor : public TExecutorTest {
protected:
    void SetUp() override
    {
        TExecutorTest::SetUp();
        Probe = TProbeRecord();
    }
    void TearDown() override
    {
        if (Exec)
            Exec->CurrentFile.reset();
        TExecutorTest::TearDown();
    }
    std::vector<std::string> Writes() { return TraceWith("d2xx write "); }
};

// ---- choice

TEST_F(Executor, AutoSelectTakesTheFirstUsableCableInKindOrder)
{
    struct TCase {
        const char* Why;
        std::vector<std::string> Devices;
        int32_t Preferred;
        bool Found;
        int32_t Selected;
    };
    const TCase cases[] = {
        {"nothing connected", {}, 0, false, -1},
        {"Varnel before Mirrow", {Mirrow("A6040002"), Varnel("A6010001")}, 0, true, 0x00010001},
        {"Mirrow preferred", {Varnel("A6010001"), Mirrow("A6040002")}, PreferMirrow, true, 0x02040002},
        {"Mirrow preferred but only a Varnel", {Varnel("A6010001")}, PreferMirrow, false, -1},
        {"Mirrow preferred, Druvel next", {Varnel("A6010001"), Druvel("A6123456")}, PreferMirrow, true, 0x7B123456},
        {"a Druvel preferred takes a Druvel", {Varnel("A6010001"), Mirrow("A6040002"), Druvel("A6123456")},
         PreferDruvel, true, 0x7B123456},
        {"a Druvel preferred but none attached", {Varnel("A6010001"), Mirrow("A6040002")}, PreferDruvel, false, -1},
        {"only a Druvel", {Druvel("A6ABCDEF")}, 0, true, 0x7BABCDEF},
        {"first Varnel of several, in device order", {Varnel("A6010009"), Varnel("A6010003")}, 0, true, 0x00010009},
        {"a serial that is not hex is skipped", {Varnel("A601ZZZZ"), Varnel("A6010005")}, 0, true, 0x00010005},
        {"no usable Varnel: the next kind", {Varnel("A601ZZZZ"), Druvel("A6000042")}, 0, true, 0x7B000042},
        {"devices of other makers do not count", {Device({0x0403, 0x6001, ""}, "A6010001", "other")}, 0, false, -1},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Why);
        Load(c.Devices);
        Exec->SelectedCable = -1;
        Exec->PreferredKind = c.Preferred;
        EXPECT_EQ(Exec->AutoSelectCable(), c.Found);
        EXPECT_EQ(Exec->SelectedCable, c.Selected);
        EXPECT_EQ(Sim->Counter("open_handles"), 0u);
    }
}

TEST_F(Executor, KindTestsReadTheTopByte)
{
    struct TCase {
        int32_t Id;
        bool Varnel, Mirrow, Druvel;
    };
    const TCase cases[] = {
        {0x00010001, true, false, false}, {0x02040001, false, true, false}, {0x7B000001, false, false, true},
        {-1, false, false, false},        {0x05000000, false, false, false}, {-2, false, false, false},
    };
    for (const TCase& c : cases) {
        Exec->SelectedCable = c.Id;
        EXPECT_EQ(Exec->IsVarnel(), c.Varnel) << std::hex << c.Id;
        EXPECT_EQ(Exec->IsMirrow(), c.Mirrow) << std::hex << c.Id;
        EXPECT_EQ(Exec->IsDruvel(), c.Druvel) << std::hex << c.Id;
    }
}

// ---- OpenAndStart

TEST_F(Executor, NothingConnectedNothingOpened)
{
    Load({});
    Exec->SelectedCable = -1;
    EXPECT_FALSE(Exec->OpenAndStart("run.probe"));
    EXPECT_THAT(Exec->Log(), ElementsAre(TLogLine{"No JTAG cable is attached.", MessageKind::Error},
                                         TLogLine{"Fatal error: No JTAG cable is selected.", MessageKind::Error},
                                         TLogLine{"Fatal error: Cannot open any JTAG cable.", MessageKind::Error}));
    EXPECT_EQ(Exec->SelectedCable, -1);
    EXPECT_EQ(Sim->Counter("FT_Open"), 0u);
    EXPECT_EQ(Exec->FtHandle, nullptr);
    EXPECT_EQ(Probe.Alive, 0);
}

TEST_F(Executor, CablesNotYetSupportedFailCleanly)
{
    struct TCase {
        std::vector<std::string> Devices;
        int32_t Selected;
        const char* Text;
    };
    const TCase cases[] = {
        {{Varnel("A6010001")}, 0x05010001, "Fatal error: No JTAG cable is selected."},
        // Only -1 asks for a cable to be found; the front ends' -2 is theirs.
        {{Varnel("A6010001")}, -2, "Fatal error: No JTAG cable is selected."},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Text);
        Load(c.Devices);
        Exec->ClearLog();
        Exec->SelectedCable = c.Selected;
        EXPECT_FALSE(Exec->OpenAndStart("run.probe"));
        EXPECT_THAT(Exec->Log(), ElementsAre(TLogLine{c.Text, MessageKind::Error},
                                             TLogLine{"Fatal error: Cannot open any JTAG cable.", MessageKind::Error}));
        EXPECT_EQ(Exec->FtHandle, nullptr);
        EXPECT_EQ(Probe.Alive, 0);
    }
}

TEST_F(Executor, StartsThePlayerWithEveryEventWired)
{
    Load({Varnel("A601abcd", "\"trace_writes\":true")});
    Exec->SelectedCable = -1;
    ASSERT_TRUE(Exec->OpenAndStart("sub/../run.probe"));
    EXPECT_THAT(Exec->Log(), ElementsAre(TLogLine{"Using VARNEL S/N A601ABCD", MessageKind::Info},
                                         TLogLine{"Reading file " + FullPath("run.probe"), MessageKind::Info}));
    ASSERT_NE(Exec->CurrentFile, nullptr);
    EXPECT_EQ(Exec->CurrentFile.get(), Probe.Last);
    EXPECT_EQ(Probe.StartHz, 3000000);

    TJtagFile& p = *Exec->CurrentFile;
    ASSERT_TRUE(p.OnMessage && p.OnShift && p.OnRead && p.OnFlush && p.OnTmsClock && p.OnRuntestTime &&
                p.OnRuntestClocks && p.OnTrst && p.OnSetFrequency);
    Exec->ClearLog();
    p.OnMessage("from the player", MessageKind::Comment);
    EXPECT_THAT(Exec->Log(), ElementsAre(TLogLine{"from the player", MessageKind::Comment}));
    // The Varnel's routines behind the events.
    EXPECT_EQ(p.OnSetFrequency(400000, false), 333333);
    EXPECT_EQ(Exec->ClockRepeat, 3);
    const uint8_t bit[1] = {1};
    EXPECT_TRUE(p.OnShift(bit, bit, 1, true));
    EXPECT_TRUE(p.OnTmsClock(false, true));
    EXPECT_TRUE(p.OnTrst(true, true));
    EXPECT_TRUE(p.OnFlush());
    EXPECT_EQ(Exec->OutCount, 0u);
    uint8_t tdo[1] = {0};
    ReadResult r = ReadResult::NotYet;
    for (int i = 0; i < 100 && r == ReadResult::NotYet; ++i)
        r = p.OnRead(tdo, bit, 1);
    EXPECT_EQ(r, ReadResult::Ready);
    // The run-test waits queue their bytes: at least the TMS hold and the
    // clock in force again.
    EXPECT_TRUE(p.OnRuntestTime(false, 10, false, {}));
    EXPECT_GE(Exec->OutCount, 2u);
    EXPECT_TRUE(p.OnFlush());
    EXPECT_TRUE(p.OnRuntestClocks(false, 10, false, {}));
    EXPECT_GE(Exec->OutCount, 2u);
}

TEST_F(Executor, StartFrequencyComesFromDefFreq)
{
    struct TCase {
        uint8_t DefFreq;
        int32_t Held;
        int32_t Start;
    };
    const TCase cases[] = {
        {0, 0, 3000000},       {1, 0, 1000000},        {2, 0, 500000},
        {5, 0, 5000000},       {10, 0, 10000000},      {15, 0, 15000000},
        {7, 123456, 123456},   // other values keep the frequency held
        {7, 0, 3000000},       // none held: no run starts at 0 Hz
        {200, -5, 3000000},
    };
    Load({Varnel("A6010001")});
    for (const TCase& c : cases) {
        SCOPED_TRACE("DefFreq " + std::to_string(c.DefFreq) + ", held " + std::to_string(c.Held));
        Exec->SelectedCable = 0x010001;
        Exec->DefFreq = c.DefFreq;
        Exec->CurrentFrequency = c.Held;
        ASSERT_TRUE(Exec->OpenAndStart("run.probe"));
        EXPECT_EQ(Probe.StartHz, c.Start);
        EXPECT_EQ(Exec->CurrentFrequency, c.Start);
        Exec->CurrentFile.reset();
        Exec->CloseCable(false);
    }
}

TEST_F(Executor, FailedStartFreesThePlayerAndKeepsTheCable)
{
    Load({Varnel("A6010001")});
    Exec->SelectedCable = 0x010001;
    Probe.StartResult = false;
    EXPECT_FALSE(Exec->OpenAndStart("run.probe"));
    EXPECT_EQ(Exec->Log().back(), (TLogLine{"USB communication error", MessageKind::Error}));
    EXPECT_EQ(Exec->CurrentFile, nullptr);
    EXPECT_EQ(Probe.Alive, 0);
    EXPECT_NE(Exec->FtHandle, nullptr);
}

TEST_F(Executor, AFileThatCannotBePlayedIsRefusedBeforeAnyCableIsLookedFor)
{
    struct TCase {
        const char* File;
        std::vector<std::string> Texts;
    };
    const std::string badFile = FullPath("x.badfile");
    std::filesystem::create_directories("folder.badfile");
    const TCase cases[] = {
        {"notes.txt", {"Fatal error \"No registered class for file type \"TXT\"\""}},
        {"noext", {"Fatal error \"No registered class for file type \"\"\""}},
        {"dir.probe/noext", {"Fatal error \"No registered class for file type \"\"\""}},
        {"run.BadLine", {"Fatal error \"Unknown command FOO\" near line 5\r\n\"FOO 1;\""}},
        {"x.badfile", {"Fatal error \"Cannot open file " + badFile + " for read.\""}},
        {"run.badcheck", {"Fatal error \"Unknown keyword XYZ\" near line 7\r\n\"SDR 8 XYZ;\""}},
        {"run.huge", {"Fatal error \"Out of memory\""}},
        // Said as what it is, before the player's own refusal.
        {"folder.badfile",
         {"The data file " + FullPath("folder.badfile") + " is a directory.",
          "Fatal error \"Cannot open file " + FullPath("folder.badfile") + " for read.\""}},
    };
    Load({Varnel("A6010001")});
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.File);
        for (const int32_t selected : {0x010001, -1}) {
            Exec->SelectedCable = selected;
            Exec->ClearLog();
            EXPECT_FALSE(Exec->OpenAndStart(c.File));
            std::vector<TLogLine> expected;
            for (const std::string& text : c.Texts)
                expected.push_back({text, MessageKind::Error});
            EXPECT_EQ(Exec->Log(), expected);
            EXPECT_EQ(Exec->CurrentFile, nullptr);
            EXPECT_EQ(Probe.Alive, 0);
            EXPECT_EQ(Exec->FtHandle, nullptr);
            EXPECT_EQ(Exec->SelectedCable, selected);
        }
    }
    std::filesystem::remove("folder.badfile");
    EXPECT_EQ(Sim->Counter("FT_Open"), 0u) << "no cable was even looked at";
}

TEST_F(Executor, AStopDuringTheFilesCheckEndsTheStartWithNothingSaidAndNoCable)
{
    Load({Varnel("A6010001")});
    Exec->SelectedCable = -1;
    // Asked at the tenth step, as a signal would be.
    int steps = 0;
    TLongCheckPlayer::OnStep = [&](int Step) {
        steps = Step + 1;
        if (Step == 10)
            Exec->StopToken().Ask();
    };
    EXPECT_FALSE(Exec->OpenAndStart("run.longcheck"));
    TLongCheckPlayer::OnStep = nullptr;
    EXPECT_TRUE(Exec->StartStopped);
    EXPECT_EQ(steps, 11) << "the check went on after the stop";
    EXPECT_THAT(Exec->Log(), testing::IsEmpty());
    EXPECT_EQ(Probe.Alive, 0);
    EXPECT_EQ(Sim->Counter("FT_Open"), 0u);
}

TEST_F(Executor, APreparedFileIsTheOneStartedAndOnlyForItsOwnPath)
{
    Load({Varnel("A6010001")});
    Exec->SelectedCable = 0x010001;
    ASSERT_TRUE(Exec->PrepareFile("run.probe"));
    TJtagFile* const prepared = Probe.Last;
    EXPECT_EQ(Sim->Counter("FT_Open"), 0u);
    ASSERT_TRUE(Exec->OpenAndStart("./run.probe"));
    EXPECT_EQ(Exec->CurrentFile.get(), prepared);
    EXPECT_EQ(Probe.Alive, 1);
    Exec->CurrentFile.reset();
    Exec->CloseCable(false);

    // Prepared for another file: that player goes, this one is made.
    ASSERT_TRUE(Exec->PrepareFile("other.probe"));
    ASSERT_TRUE(Exec->OpenAndStart("run.probe"));
    EXPECT_EQ(Probe.Alive, 1);
    EXPECT_EQ(Exec->Log().back(), (TLogLine{"Reading file " + FullPath("run.probe"), MessageKind::Info}));
}

TEST_F(Executor, ExceptionsOfOtherKindsPassToTheCaller)
{
    Load({Varnel("A6010001")});
    Exec->SelectedCable = 0x010001;
    EXPECT_THROW(Exec->OpenAndStart("x.odd"), std::runtime_error);
    EXPECT_EQ(Probe.Alive, 0);
}

TEST_F(Executor, NextOpenParksAndClosesTheCableLeftOpen)
{
    Load({Varnel("A6010001", "\"trace_writes\":true")});
    Exec->SelectedCable = 0x010001;
    // A start that fails after the open leaves the cable open.
    Probe.StartResult = false;
    ASSERT_FALSE(Exec->OpenAndStart("run.probe"));
    Probe.StartResult = true;
    ASSERT_TRUE(Exec->OpenAndStart("run.probe"));
    EXPECT_EQ(Sim->Counter("open_handles"), 1u);
    EXPECT_THAT(Writes(), ElementsAre("d2xx write A6010001 C1 C1 D1 C0 D0", "d2xx write A6010001 A3 A8 EE C8",
                                      "d2xx write A6010001 C1 C1 D1 C0 D0"));
}

// ---- CloseCable

TEST_F(Executor, VarnelCloseParksThePinAsConfigured)
{
    struct TCase {
        uint8_t Inactive;
        uint8_t PinsBefore;
        const char* Park;
    };
    const TCase cases[] = {
        {0, 3, "A3 A8 EE C8"}, // low
        {1, 0, "A3 A8 EF C8"}, // high
        {2, 3, "A3 A8 EC C8"}, // released
        {3, 3, "A3 A8 EF C8"}, // kept as the run left it
        {3, 0, "A3 A8 EC C8"},
        {9, 1, "A3 A8 ED C8"},
    };
    Load({Varnel("A6010001", "\"trace_writes\":true")});
    for (const TCase& c : cases) {
        SCOPED_TRACE("VarnelVPPInactive " + std::to_string(c.Inactive));
        Exec->SelectedCable = 0x010001;
        ASSERT_TRUE(Exec->OpenVarnel());
        Exec->VarnelVPPInactive = c.Inactive;
        Exec->PinBits = c.PinsBefore;
        Exec->OutCount = 3; // queued bytes are not sent first
        Sim->ClearTrace();
        Exec->CloseCable(true);
        EXPECT_THAT(Writes(), ElementsAre(std::string("d2xx write A6010001 ") + c.Park));
        EXPECT_EQ(Exec->FtHandle, nullptr);
        EXPECT_EQ(Exec->OutCount, 3u);
        EXPECT_EQ(Sim->Counter("open_handles"), 0u);
    }
}

class CloseByKind : public Executor {
protected:
    // The emulator's loopback device, opened as a cable of Kind.
    void OpenAs(int32_t Kind, const TCableIdentity& Id)
    {
        Load({Device(Id, "A6040007", "loopback", "\"trace_writes\":true")});
        ASSERT_EQ(FtOpen(0, Exec->FtHandle), FT_OK);
        Exec->OpenedKind = Kind;
        Exec->SelectedCable = Kind << 24 | 0x040007;
    }
};

TEST_F(CloseByKind, MirrowSendsItsPinsAndTheRunsOutcome)
{
    struct TCase {
        bool Failed;
        uint8_t Inactive;
        const char* Bytes;
    };
    const TCase cases[] = {
        {false, 0, "20 80 90 A2 F0 21 80 80 83 94 21 84 80 81 91"},
        {true, 0, "20 80 90 A2 F0 21 80 80 83 94 21 84 88 81 91"},
        {false, 1, "20 80 90 A3 F0 21 80 80 83 94 21 84 80 81 91"},
        {true, 2, "20 80 90 A0 F0 21 80 80 83 94 21 84 88 81 91"},
    };
    for (const TCase& c : cases) {
        OpenAs(CableKindMirrow, MirrowIdentity);
        Exec->MirrowPInactive = c.Inactive;
        Exec->CloseCable(c.Failed);
        EXPECT_THAT(Writes(), ElementsAre(std::string("d2xx write A6040007 ") + c.Bytes));
        EXPECT_EQ(Exec->FtHandle, nullptr);
        EXPECT_EQ(Sim->Counter("FT_Close"), 1u);
    }
}

TEST_F(CloseByKind, DruvelLeavesMpsseMode)
{
    OpenAs(CableKindDruvel, DruvelIdentity);
    Exec->CloseCable(false);
    EXPECT_EQ(Sim->Counter("FT_SetBitMode"), 1u);
    EXPECT_EQ(Sim->Counter("FT_Write"), 0u);
    EXPECT_EQ(Sim->Counter("FT_Close"), 1u);
    EXPECT_EQ(Exec->FtHandle, nullptr);
}

TEST_F(CloseByKind, GoesByTheKindOpenedNotBySelectedCable)
{
    OpenAs(CableKindVarnel, VarnelIdentity);
    Exec->SelectedCable = 0x02040007; // a front end changed the choice meanwhile
    Exec->PinBits = 2;
    Exec->CloseCable(false);
    EXPECT_THAT(Writes(), ElementsAre("d2xx write A6040007 A3 A8 EE C8"));
}

TEST_F(CloseByKind, AHandleOfNoKnownKindIsStillClosed)
{
    OpenAs(CableKindVarnel, VarnelIdentity);
    Exec->OpenedKind = CableKindNone;
    Exec->CloseCable(false);
    EXPECT_EQ(Sim->Counter("FT_Write"), 0u);
    EXPECT_EQ(Sim->Counter("FT_Close"), 1u);
    EXPECT_EQ(Sim->Counter("open_handles"), 0u);
    EXPECT_EQ(Exec->FtHandle, nullptr);
}

TEST_F(Executor, CloseWithNothingOpenDoesNothing)
{
    Load({Varnel("A6010001")});
    Exec->PinBits = 3;
    Exec->CloseCable(true);
    EXPECT_EQ(Exec->FtHandle, nullptr);
    EXPECT_EQ(Exec->PinBits, 3);
    EXPECT_EQ(Sim->Counter("FT_Write") + Sim->Counter("FT_Close"), 0u);
}

TEST_F(Executor, DestructorClosesACableStillOpen)
{
    Load({Varnel("A6010001", "\"trace_writes\":true")});
    Exec->SelectedCable = 0x010001;
    ASSERT_TRUE(Exec->OpenVarnel());
    Sim->ClearTrace();
    Exec.reset();
    EXPECT_THAT(Writes(), ElementsAre("d2xx write A6010001 A3 A8 EE C8"));
    EXPECT_EQ(Sim->Counter("open_handles"), 0u);
}

TEST(MicroSign, IsTheWindowsMicroSignUnlessSet)
{
    EXPECT_EQ(MicroSign, '\xB5');
}

} // namespace
