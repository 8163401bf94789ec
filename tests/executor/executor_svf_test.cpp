// Whole SVF files played through OpenAndStart on the emulated Varnel: the
// executor, the Varnel routines and the SVF player against a simulated chain.
#include <gmock/gmock.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "chain/chain.h"
#include "support/vendor_samples.h"
#include "cables/protocol.h"
#include "svf_play_fixture.h"

namespace {

using namespace exectest;
using testing::Contains;
using testing::HasSubstr;

testing::Environment* const Svf = testing::AddGlobalTestEnvironment(new TRegisterSvf);

std::string ReadFile(const std::string& Path)
{
    std::ifstream in(Path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Two devices from TDI to TDO: a 4-bit IR one and an 8-bit IR one, each
// with IDCODE at opcode 1 and the usual IR capture ...01.
const char* const TwoDevices = R"("chain":[
    {"name":"first","ir_length":4,"idcode":{"opcode":1,"value":"0x12345093"}},
    {"name":"second","ir_length":8,"idcode":{"opcode":1,"value":"0x0ABC1DEF"}}])";

// A small memory: ADDRESS 2, WRITE 3, READ 4 on a 4-bit IR, 8-bit words.
const char* const Memory = R"("chain":[{"name":"mem","kind":"memory","ir_length":4}])";

const char* const ReadIdcodes = R"(! both IDCODEs, the second device's nearest TDO
ENDIR IDLE;
ENDDR IDLE;
STATE RESET;
STATE IDLE;
FREQUENCY 1E6 HZ;
SIR 12 TDI (101) TDO (101) MASK (FFF);
SDR 64 TDI (0000000000000000) TDO (%IDCODES%);
STATE RESET;
)";

std::string WithIdcodes(const std::string& Idcodes)
{
    std::string text = ReadIdcodes;
    text.replace(text.find("%IDCODES%"), 9, Idcodes);
    return text;
}

class SvfOnVarnel : public TSvfPlayTest {
protected:
    void SetUp() override
    {
        TSvfPlayTest::SetUp();
        Exec->SelectedCable = 0x010001;
        Exec->DefFreq = 0;
    }

    void LoadCable(const std::string& Members) override
    {
        Load({Varnel("A6010001", Members)});
        Exec->ClearLog();
    }
    std::vector<std::string> Errors() { return LogOf(MessageKind::Error); }
    sim::Chain& ChainOf(size_t Device)
    {
        auto* protocol = static_cast<sim::Protocol*>(Sim->Protocol(Device));
        if (!protocol || !protocol->JtagChain())
            throw std::runtime_error("no chain");
        return *protocol->JtagChain();
    }
};

TEST_F(SvfOnVarnel, ReadsAndComparesTheIdcodesOfATwoDeviceChain)
{
    LoadCable(TwoDevices);
    EXPECT_EQ(Play(WithIdcodes("123450930ABC1DEF")), FileStatus::Succeeded);
    EXPECT_TRUE(Errors().empty()) << testing::PrintToString(Errors());
    EXPECT_THAT(TraceWith(" scan dr "), Contains(HasSubstr("bits=64 in=0000000000000000 out=123450930ABC1DEF")));
}

TEST_F(SvfOnVarnel, AWrongExpectedIdcodeIsReportedAndFailsTheRun)
{
    LoadCable(TwoDevices);
    EXPECT_EQ(Play(WithIdcodes("123450930ABC1DEE")), FileStatus::Failed);
    const std::vector<std::string> errors = Errors();
    ASSERT_GE(errors.size(), 3u);
    EXPECT_EQ(errors[0], "Error on SDR instruction: ");
    // Bit 0 first: the expected ...EE ends in 0, what was read in 1.
    EXPECT_THAT(errors[1], testing::StartsWith("Expected: 0111 "));
    EXPECT_THAT(errors[2], testing::StartsWith("Read:     1111 "));
}

TEST_F(SvfOnVarnel, ProgramsAMemoryAndVerifiesIt)
{
    LoadCable(Memory);
    const char* const text = R"(STATE RESET;
STATE IDLE;
! program three words from address 10
SIR 4 TDI (2);
SDR 8 TDI (10);
SIR 4 TDI (3);
SDR 8 TDI (A5);
SDR 8 TDI (5A);
SDR 8 TDI (C3);
! verify them
SIR 4 TDI (2);
SDR 8 TDI (10);
SIR 4 TDI (4);
SDR 8 TDI (00) TDO (A5);
SDR 8 TDI (00) TDO (5A);
SDR 8 TDI (00) TDO (C3);
STATE RESET;
)";
    EXPECT_EQ(Play(text), FileStatus::Succeeded);
    EXPECT_TRUE(Errors().empty()) << testing::PrintToString(Errors());
    const sim::Device& memory = ChainOf(0).At(0);
    EXPECT_EQ(memory.Word(0x10), 0xA5u);
    EXPECT_EQ(memory.Word(0x11), 0x5Au);
    EXPECT_EQ(memory.Word(0x12), 0xC3u);
    EXPECT_EQ(memory.Word(0x13), 0xFFu) << "erased words stay erased";
}

TEST_F(SvfOnVarnel, AVerifyOfWhatWasNotWrittenFails)
{
    LoadCable(Memory);
    const char* const text = R"(STATE RESET;
SIR 4 TDI (2);
SDR 8 TDI (20);
SIR 4 TDI (3);
SDR 8 TDI (A5);
SIR 4 TDI (2);
SDR 8 TDI (20);
SIR 4 TDI (4);
SDR 8 TDI (00) TDO (A4);
)";
    EXPECT_EQ(Play(text), FileStatus::Failed);
    EXPECT_THAT(Errors(), Contains("Error on SDR instruction: "));
}

TEST_F(SvfOnVarnel, ADeviceUnpluggedMidRunEndsItWithACommunicationError)
{
    std::string text = "STATE RESET;\nSTATE IDLE;\n";
    for (int i = 0; i < 400; ++i)
        text += "SDR 32 TDI (00000000) TDO (0ABC1DEF);\n";
    // Gone after the probe and about half of the file's bytes.
    for (const char* fault : {"\"unplug_after\":8000", "\"write_fail_after\":8000"}) {
        SCOPED_TRACE(fault);
        LoadCable(std::string("\"faults\":{") + fault + "}");
        Exec->ClearLog();
        EXPECT_EQ(Play(text), FileStatus::Failed);
        EXPECT_THAT(Errors(), Contains("USB communication error"));
        EXPECT_THAT(TraceWith(" fault "), testing::SizeIs(1));
    }
}

TEST_F(SvfOnVarnel, AFrequencyChangeBetweenAScanAndItsReadBackReadsRight)
{
    // Replies come late, so the write side runs ahead of the read side
    // across each FREQUENCY, which switches between native and repeated
    // mode every time.
    LoadCable("\"faults\":{\"reply_delay\":40}");
    std::string text = "STATE RESET;\nSTATE IDLE;\n";
    for (const char* hz : {"3E6", "2E5", "3E6", "1E6", "3E6", "7.8125E3"})
        text += std::string("FREQUENCY ") + hz + " HZ;\nSDR 32 TDI (00000000) TDO (0ABC1DEF);\n" +
                "SDR 13 TDI (0000) TDO (1DEF) MASK (0000);\n";
    EXPECT_EQ(Play(text), FileStatus::Succeeded);
    EXPECT_TRUE(Errors().empty()) << testing::PrintToString(Errors());
    EXPECT_EQ(Exec->PendingReplies, 0);
}

TEST_F(SvfOnVarnel, RealVendorFilesPlayOnAChainThatAnswersThem)
{
    ORBESK_SKIP_WITHOUT_VENDOR_SAMPLES();
    for (const TVendorSample& c : VendorSamples) {
        SCOPED_TRACE(c.Sample);
        std::string chain = ReadFile(std::string(ORBESK_SIM_CHAINS_DIR) + "/" + c.Chain);
        // The chain file is one object; its members go into the device.
        chain = chain.substr(chain.find('{') + 1);
        chain = chain.substr(0, chain.rfind('}'));
        LoadCable(chain);
        Exec->ClearLog();
        EXPECT_EQ(PlayToEnd(VendorSamplePath(c.Sample)), FileStatus::Succeeded);
        EXPECT_TRUE(Errors().empty()) << testing::PrintToString(Errors());
    }
}

} // namespace
