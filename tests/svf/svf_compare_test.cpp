#include <gtest/gtest.h>

#include "svf/svf.h"
#include "support/svf_testutil.h"

namespace {

using Strings = std::vector<std::string>;

// Drives one parser as the read-back side does: every statement is applied
// and checked; each SDR or SIR reads the next entry of Reads ('1'/'0' per
// bit, first shifted bit first) through a stub cable.
class SvfCompare : public testing::Test {
protected:
    struct TChecked {
        std::vector<ReadResult> Results; // of the SDR and SIR statements
        Strings Errors;
        TLoopControl LoopControlAtFirstEndloop = TLoopControl::Wait;
    };

    TChecked Check(const std::string& content, const Strings& reads)
    {
        TSVFFile file(dir.Write("f.svf", content));
        TChecked out;
        size_t next = 0;
        file.OnMessage = [&](const std::string& text, MessageKind kind) {
            EXPECT_EQ(kind, MessageKind::Error);
            out.Errors.push_back(text);
        };
        file.OnRead = [&](uint8_t* tdo, const uint8_t* capture, int32_t count) {
            captures.emplace_back(capture, capture + count);
            if (answer != ReadResult::Ready)
                return answer;
            std::string bits(static_cast<size_t>(count), '0');
            if (next < reads.size()) {
                bits = reads[next++];
                EXPECT_EQ(bits.size(), static_cast<size_t>(count)) << "read " << next;
            }
            for (int32_t i = 0; i < count; ++i)
                tdo[i] = i < static_cast<int32_t>(bits.size()) && bits[static_cast<size_t>(i)] == '1' ? highValue : 0;
            return ReadResult::Ready;
        };
        file.LoopControl = TLoopControl::GoOn;
        bool sawEndloop = false;
        TSVFCommand st;
        for (int guard = 0; guard < 1000; ++guard) {
            FreeStatement(st);
            file.NextStatement(st);
            EXPECT_TRUE(file.ApplyStatement(st));
            const ReadResult r = file.CheckStatement(st);
            if (st.Command == SvfCommand::SDR || st.Command == SvfCommand::SIR)
                out.Results.push_back(r);
            else
                EXPECT_EQ(r, ReadResult::Ready);
            if (st.Command == SvfCommand::ENDLOOP && !sawEndloop) {
                sawEndloop = true;
                out.LoopControlAtFirstEndloop = file.LoopControl;
            }
            if (st.Command == SvfCommand::Eof)
                break;
        }
        return out;
    }

    ReadResult answer = ReadResult::Ready;
    uint8_t highValue = 1;
    std::vector<std::vector<uint8_t>> captures;
    svftest::TTempDir dir;
};

TEST_F(SvfCompare, MismatchReportLines)
{
    const struct {
        const char* content;
        Strings reads;
        ReadResult result;
        Strings errors;
    } cases[] = {
        {"SDR 8 TDI (00) TDO (01) MASK (FF);", {"00000000"}, ReadResult::Mismatch,
         {"Error on SDR instruction: ", "Expected: 1000 0000 ", "Read:     0000 0000 "}},
        {"SDR 8 TDI (00) TDO (01) MASK (FF);", {"10000000"}, ReadResult::Ready, {}},
        {"SDR 8 TDI (00) TDO (01) MASK (0F);", {"00000000"}, ReadResult::Mismatch,
         {"Error on SDR instruction: ", "Expected: 1000 xxxx ", "Read:     0000 xxxx "}},
        // Bits outside the mask may differ.
        {"SDR 8 TDI (00) TDO (01) MASK (0F);", {"10001111"}, ReadResult::Ready, {}},
        {"SDR 6 TDI (00) TDO (15);", {"101011"}, ReadResult::Mismatch,
         {"Error on SDR instruction: ", "Expected: 1010 10", "Read:     1010 11"}},
        {"SIR 4 TDI (0) TDO (5);", {"0000"}, ReadResult::Mismatch,
         {"Error on SIR instruction: ", "Expected: 1010 ", "Read:     0000 "}},
        // The header's bits come first, the body continues their groups.
        {"HDR 2 TDI (0) TDO (3); SDR 4 TDI (0) TDO (F);", {"110000"}, ReadResult::Mismatch,
         {"Error on SDR instruction: ", "Expected: 1111 11", "Read:     1100 00"}},
        {"HDR 2 TDI (0) TDO (3); TDR 3 TDI (0) TDO (5) MASK (5); SDR 3 TDI (0) TDO (7);", {"11111100"},
         ReadResult::Mismatch, {"Error on SDR instruction: ", "Expected: 1111 11x1 ", "Read:     1111 11x0 "}},
        // A header without TDO is shown as "x" and not compared.
        {"HDR 2 TDI (0); SDR 2 TDI (0) TDO (1);", {"1100"}, ReadResult::Mismatch,
         {"Error on SDR instruction: ", "Expected: xx10 ", "Read:     xx00 "}},
        {"SDR 8 TDI (00);", {"11111111"}, ReadResult::Ready, {}},
    };
    for (const auto& c : cases) {
        const TChecked got = Check(c.content, c.reads);
        ASSERT_FALSE(got.Results.empty()) << c.content;
        EXPECT_EQ(got.Results.back(), c.result) << c.content;
        EXPECT_EQ(got.Errors, c.errors) << c.content;
    }
}

TEST_F(SvfCompare, AnyNonzeroByteReadsAsOne)
{
    highValue = 0x80;
    EXPECT_EQ(Check("SDR 8 TDI (00) TDO (A5);", {"10100101"}).Results, std::vector<ReadResult>{ReadResult::Ready});
}

TEST_F(SvfCompare, CaptureFlagsFollowMaskAndTdo)
{
    Check("HDR 2 TDI (0); TDR 2 TDI (0) TDO (0) MASK (2); SDR 4 TDI (0) TDO (0) MASK (9);", {"00000000"});
    ASSERT_EQ(captures.size(), 1u);
    EXPECT_EQ(captures[0], (std::vector<uint8_t>{0, 0, 1, 0, 0, 1, 0, 1}));
}

TEST_F(SvfCompare, ScanWithoutTdoAnswersWhatTheCableAnswers)
{
    const struct {
        ReadResult cable;
        Strings errors;
    } cases[] = {
        {ReadResult::Ready, {}},
        {ReadResult::NotYet, {}},
        {ReadResult::CommError, {"USB communication error"}},
    };
    for (const auto& c : cases) {
        answer = c.cable;
        captures.clear();
        const TChecked got = Check("SDR 8 TDI (00);", {});
        EXPECT_EQ(got.Results, std::vector<ReadResult>{c.cable});
        EXPECT_EQ(got.Errors, c.errors);
        ASSERT_EQ(captures.size(), 1u);
        EXPECT_EQ(captures[0], std::vector<uint8_t>(8, 0));
    }
}

TEST_F(SvfCompare, DumpOnlyForScansBelowTenThousandBits)
{
    const struct {
        std::string content;
        size_t bits;
        size_t lines;
    } cases[] = {
        {"SDR 9999 TDI (0) TDO (1);", 9999, 3},
        {"SDR 10000 TDI (0) TDO (1);", 10000, 1},
        // Few TDO bits, but the whole scan is long: the dump lines would be.
        {"HDR 20000 TDI (0); SDR 8 TDI (0) TDO (1);", 20008, 1},
        {"TDR 1 TDI (0); SDR 9999 TDI (0) TDO (1);", 10000, 1},
    };
    for (const auto& c : cases) {
        const TChecked got = Check(c.content, {std::string(c.bits, '0')});
        EXPECT_EQ(got.Results.back(), ReadResult::Mismatch) << c.content;
        EXPECT_EQ(got.Errors.size(), c.lines) << c.content;
        EXPECT_EQ(got.Errors.front(), "Error on SDR instruction: ");
    }
}

TEST_F(SvfCompare, LoopPassesForgiveBodyMismatches)
{
    const struct {
        const char* name;
        const char* content;
        Strings reads;
        std::vector<ReadResult> results;
        TLoopControl decision; // at the first ENDLOOP
        size_t errors;
    } cases[] = {
        {"mismatch in a pass goes on", "LOOP 2; SDR 4 TDI (0) TDO (1); ENDLOOP;", {"0000", "1000"},
         {ReadResult::Ready, ReadResult::Ready}, TLoopControl::GoOn, 0},
        {"match in a pass breaks", "LOOP 2; SDR 4 TDI (0) TDO (1); ENDLOOP;", {"1000", "1000"},
         {ReadResult::Ready, ReadResult::Ready}, TLoopControl::Break, 0},
        {"the last pass fails as plain", "LOOP 2; SDR 4 TDI (0) TDO (1); ENDLOOP;", {"0000", "0000"},
         {ReadResult::Ready, ReadResult::Mismatch}, TLoopControl::GoOn, 3},
        {"the last SDR of the pass decides", "LOOP 2; SDR 4 TDI (0) TDO (1); SDR 4 TDI (0) TDO (2); ENDLOOP;",
         {"0000", "0100", "1000", "0100"}, std::vector<ReadResult>(4, ReadResult::Ready), TLoopControl::Break, 0},
        {"an earlier match does not break", "LOOP 2; SDR 4 TDI (0) TDO (1); SDR 4 TDI (0) TDO (2); ENDLOOP;",
         {"1000", "0000", "1000", "0100"}, std::vector<ReadResult>(4, ReadResult::Ready), TLoopControl::GoOn, 0},
        {"header mismatch is reported but forgiven", "HDR 1 TDI (0) TDO (1); LOOP 2; SDR 4 TDI (0) TDO (1); ENDLOOP;",
         {"01000", "11000"}, {ReadResult::Ready, ReadResult::Ready}, TLoopControl::GoOn, 3},
        {"SIR mismatch fails in a pass too", "LOOP 2; SIR 4 TDI (0) TDO (1); ENDLOOP;", {"0000", "1000"},
         {ReadResult::Mismatch, ReadResult::Ready}, TLoopControl::GoOn, 3},
    };
    for (const auto& c : cases) {
        const TChecked got = Check(c.content, c.reads);
        std::vector<ReadResult> results(got.Results.begin(),
                                        got.Results.begin() + static_cast<long>(std::min(got.Results.size(), c.results.size())));
        EXPECT_EQ(results, c.results) << c.name;
        EXPECT_EQ(got.LoopControlAtFirstEndloop, c.decision) << c.name;
        EXPECT_EQ(got.Errors.size(), c.errors) << c.name;
    }
}

TEST_F(SvfCompare, LoopStatementsKeepTheMatchFlag)
{
    TSVFFile file(dir.Write("f.svf", ""));
    TSVFCommand st;
    st.Command = SvfCommand::LOOP;
    file.LoopMatched = true;
    EXPECT_EQ(file.CheckStatement(st), ReadResult::Ready);
    EXPECT_FALSE(file.LoopMatched);

    // An ENDLOOP outside a pass decides nothing but clears the flag.
    st.Command = SvfCommand::ENDLOOP;
    file.LoopControl = TLoopControl::GoOn;
    file.LoopMatched = true;
    EXPECT_EQ(file.CheckStatement(st), ReadResult::Ready);
    EXPECT_EQ(file.LoopControl, TLoopControl::GoOn);
    EXPECT_FALSE(file.LoopMatched);

    st.InLoop = true;
    file.LoopMatched = true;
    file.CheckStatement(st);
    EXPECT_EQ(file.LoopControl, TLoopControl::Break);
}

TEST_F(SvfCompare, CommunicationErrorInAPassFails)
{
    answer = ReadResult::CommError;
    const TChecked got = Check("LOOP 2; SDR 4 TDI (0) TDO (1); ENDLOOP;", {});
    EXPECT_EQ(got.Results.front(), ReadResult::CommError);
    EXPECT_EQ(got.Errors.front(), "USB communication error");
}

} // namespace
