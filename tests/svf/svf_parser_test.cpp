#include <gtest/gtest.h>

#include <cstdio>

#include "svf/svf.h"
#include "support/svf_testutil.h"
#include "base/sysconv.h"

namespace {

// A statement record as one line: command, then each item; "*" marks a
// statement replayed in a loop pass that is not the last.
std::string Describe(const TSVFCommand& st)
{
    std::string out = SvfCommandName(st.Command);
    if (st.InLoop)
        out += "*";
    for (const SvfItem& item : st.Items) {
        out += ' ';
        switch (item.Kind) {
        case SvfItemKind::Number:
            out += "#" + std::to_string(item.Value);
            break;
        case SvfItemKind::TDI:
        case SvfItemKind::TDO:
        case SvfItemKind::MASK:
        case SvfItemKind::SMASK: {
            out += std::string(SvfItemKindName(item.Kind)) + "[" + std::to_string(item.Vector.BitLength()) + "]=";
            char hex[3];
            for (int32_t b = item.Vector.ByteLength() - 1; b >= 0; --b) {
                std::snprintf(hex, sizeof hex, "%02X", item.Vector.GetByte(b));
                out += hex;
            }
            break;
        }
        case SvfItemKind::SEC:
        case SvfItemKind::MAXIMUM:
        case SvfItemKind::HZ: {
            char number[64];
            std::snprintf(number, sizeof number, "%Lg", item.FloatValue);
            out += std::string(SvfItemKindName(item.Kind)) + "=" + number;
            break;
        }
        default:
            out += SvfItemKindName(item.Kind);
            break;
        }
    }
    return out;
}

struct TRefusal {
    std::string Message;
    bool Line = false; // an ELineException
    int64_t LineNumber = 0;
    std::string LineText;
};

class SvfParser : public testing::Test {
protected:
    std::string ParseOne(const std::string& text)
    {
        TSVFFile file(dir.Write("f.svf", text));
        TSVFCommand st;
        file.ParseStatement(st);
        return Describe(st);
    }

    // Parses every statement of the file with NextStatement up to "__EOF",
    // or up to the first refusal.
    std::vector<std::string> Sequence(const std::string& content, TRefusal* refusal = nullptr)
    {
        TSVFFile file(dir.Write("f.svf", content));
        std::vector<std::string> out;
        TSVFCommand st;
        try {
            for (int guard = 0; guard < 1000; ++guard) {
                FreeStatement(st);
                file.NextStatement(st);
                out.push_back(Describe(st));
                if (st.Command == SvfCommand::Eof)
                    break;
            }
        } catch (const ELineException& e) {
            if (refusal)
                *refusal = {e.Message(), true, e.LineNumber, e.LineText};
            else
                ADD_FAILURE() << e.Message();
        } catch (const Exception& e) {
            if (refusal)
                *refusal = {e.Message(), false, 0, ""};
            else
                ADD_FAILURE() << e.Message();
        }
        return out;
    }

    TRefusal Refusal(const std::string& content)
    {
        TRefusal r;
        r.Message = "(accepted)";
        Sequence(content, &r);
        return r;
    }

    svftest::TTempDir dir;
};

TEST_F(SvfParser, EveryCommandAndKeyword)
{
    const struct {
        const char* text;
        const char* record;
    } cases[] = {
        {"ENDDR DRPAUSE;", "ENDDR DRPAUSE"},
        {"enddr idle;", "ENDDR IDLE"},
        {"ENDIR IRPAUSE;", "ENDIR IRPAUSE"},
        {"FREQUENCY 1E6 HZ;", "FREQUENCY HZ=1e+06"},
        {"FREQUENCY 1.00e+006 HZ;", "FREQUENCY HZ=1e+06"},
        {"FREQUENCY;", "FREQUENCY"},
        {"HDR 2 TDI (3);", "HDR #2 TDI[2]=03"},
        {"HIR 0;", "HIR #0"},
        {"sdr 8 tdi (a5);", "SDR #8 TDI[8]=A5"},
        {"SIR 8 TDI (01) SMASK (ff);", "SIR #8 TDI[8]=01 SMASK[8]=FF"},
        {"TDR 1 TDI (1) TDO (0) MASK (1);", "TDR #1 TDI[1]=01 TDO[1]=00 MASK[1]=01"},
        {"TIR 3 TDO (7) MASK (5);", "TIR #3 TDO[3]=07 MASK[3]=05"},
        {"SDR 8 MASK (0F) TDO (5A) TDI (A5);", "SDR #8 MASK[8]=0F TDO[8]=5A TDI[8]=A5"},
        {"SDR $10 TDI (1);", "SDR #16 TDI[16]=0001"},
        {"TRST ON;", "TRST ON"},
        {"TRST OFF;", "TRST OFF"},
        {"TRST Z;", "TRST Z"},
        {"TRST ABSENT;", "TRST ABSENT"},
        {"RUNTEST 1000 TCK ENDSTATE IDLE;", "RUNTEST TCK ENDSTATE IDLE #1000"},
        {"RUNTEST IDLE 1E-3 SEC;", "RUNTEST IDLE SEC=0.001"},
        {"RUNTEST 1E-3 SEC MAXIMUM 1 SEC;", "RUNTEST SEC=0.001 MAXIMUM=1"},
        {"RUNTEST DRPAUSE 10 SCK;", "RUNTEST DRPAUSE SCK #10"},
        {"RUNTEST IDLE\t32 TCK\t2.00E-002 SEC;", "RUNTEST IDLE TCK SEC=0.02 #32"},
        {"RUNTEST 5 TCK 1 SEC;", "RUNTEST TCK SEC=1 #5"},
        {"STATE RESET IDLE DRSELECT DRCAPTURE DRSHIFT DREXIT1 DRPAUSE DREXIT2 DRUPDATE;",
         "STATE RESET IDLE DRSELECT DRCAPTURE DRSHIFT DREXIT1 DRPAUSE DREXIT2 DRUPDATE"},
        {"STATE IRSELECT IRCAPTURE IRSHIFT IREXIT1 IRPAUSE IREXIT2 IRUPDATE;",
         "STATE IRSELECT IRCAPTURE IRSHIFT IREXIT1 IRPAUSE IREXIT2 IRUPDATE"},
        {"LOOP 3;", "LOOP #3"},
        {"ENDLOOP;", "ENDLOOP"},
        {"", "__EOF"},
        // Vectors: the rightmost digit holds bits 0-3; odd digit counts,
        // surplus and missing digits.
        {"SDR 12 TDI (FFF);", "SDR #12 TDI[12]=0FFF"},
        {"SDR 5 TDI (1F);", "SDR #5 TDI[5]=1F"},
        {"SDR 16 TDI (F);", "SDR #16 TDI[16]=000F"},
        {"SDR 20 TDI (ABCDE);", "SDR #20 TDI[20]=0ABCDE"},
        {"SDR 9 TDI (1FF);", "SDR #9 TDI[9]=01FF"},
        {"SDR 8 TDI (00045);", "SDR #8 TDI[8]=45"},
        {"SDR 0 TDI ();", "SDR #0 TDI[0]="},
        {"SDR 24 TDI (12\n34 56);", "SDR #24 TDI[24]=123456"},
        {"SDR 8 TDI (00) TDI (FF);", "SDR #8 TDI[8]=00 TDI[8]=FF"},
        {"STATE IDLE TDI (FF);", "STATE IDLE TDI[0]="}, // no length outside HDR..TIR
    };
    for (const auto& c : cases)
        EXPECT_EQ(ParseOne(c.text), c.record) << c.text;
}

TEST_F(SvfParser, LookupsSeeTheFirstItemOfAKind)
{
    TSVFFile file(dir.Write("f.svf", "SDR 8 TDI (0F) TDI (F0) TDO (55);"));
    TSVFCommand st;
    file.ParseStatement(st);
    ASSERT_NE(ItemVector(st, SvfItemKind::TDI), nullptr);
    EXPECT_EQ(ItemVector(st, SvfItemKind::TDI)->GetByte(0), 0x0F);
    EXPECT_EQ(ItemVector(st, SvfItemKind::MASK), nullptr);
    EXPECT_EQ(ItemInt(st, SvfItemKind::Number), 8);
    EXPECT_TRUE(HasItem(st, SvfItemKind::TDO));
    EXPECT_FALSE(HasItem(st, SvfItemKind::SEC));
    EXPECT_EQ(ItemFloat(st, SvfItemKind::SEC), 0.0L);
}

TEST_F(SvfParser, RefusalsAndTheirTexts)
{
    const struct {
        const char* text;
        const char* message;
        bool line; // an ELineException; else a class-library error without a line
    } cases[] = {
        {"PIOMAP (IN A);", "Unknown SVF command PIOMAP", true},
        {"SDR 8 TDI FF;", "Hexadecimal number is not enclosed in parentheses.", true},
        {"SDR 8 TDI (FF;", "Hexadecimal number is not enclosed in parentheses.", true},
        {"SDR 8 TDI TDO (00);", "Hexadecimal number is not enclosed in parentheses.", true},
        {"RUNTEST 1E-3 SEC MAXIMUM 1 TCK;", "Keyword MAXIMUM without keyword SEC", true},
        {"SDR 8 TDI (00) XYZ;", "Unknown keyword XYZ", true},
        // A vector's digits are all looked at, those beyond its length too.
        {"SDR 8 TDI (G1);", "Hexadecimal number holds 'G', which is not a hexadecimal digit.", true},
        {"sdr 8 tdi (zz);", "Hexadecimal number holds 'Z', which is not a hexadecimal digit.", true},
        {"SDR 8 TDI (0) TDO (1.0);", "Hexadecimal number holds '.', which is not a hexadecimal digit.", true},
        {"SDR 4 TDI (x00000);", "Hexadecimal number holds 'X', which is not a hexadecimal digit.", true},
        {"SDR 8 MASK (F\x80);", "Hexadecimal number holds byte 0x80, which is not a hexadecimal digit.", true},
        {"FREQUENCY 1E6;", "Unknown keyword 1E6", true},
        {"RUNTEST 10 20 TCK;", "Unknown keyword 20", true},
        {"SDR -1 TDI (0);", "Scan length -1 is out of range (0 to 2147483647)", true},
        {"SDR 2147483648;", "Scan length 2147483648 is out of range (0 to 2147483647)", true},
        {"HDR $FFFFFFFF;", "Scan length $FFFFFFFF is out of range (0 to 2147483647)", true},
        {"SDR TDI (00);", "'TDI' is not a valid integer value", true},
        {"SDR 99999999999999999999;", "Scan length 99999999999999999999 is out of range (0 to 2147483647)", true},
        {"SIR -99999999999999999999;", "Scan length -99999999999999999999 is out of range (0 to 2147483647)", true},
        {"HIR $1FFFFFFFFFFFFFFFF;", "Scan length $1FFFFFFFFFFFFFFFF is out of range (0 to 2147483647)", true},
        {"SDR 8X;", "'8X' is not a valid integer value", true},
        {"RUNTEST ABC;", "'ABC' is not a valid integer value", true},
        {"LOOP X;", "'X' is not a valid integer value", true},
        {"FREQUENCY X HZ;", "'X' is not a valid floating point value", true},
        {"RUNTEST SEC;", "'' is not a valid floating point value", true},
        {"RUNTEST 1 SEC MAXIMUM inf SEC;", "'INF' is not a valid floating point value", true},
        {";", "Empty statement: a ';' with no command before it", true},
        {"SDR;", "List index out of bounds (1)", true},
        {"SDR 8 TDI;", "List index out of bounds (3)", true},
        {"RUNTEST 1 SEC MAXIMUM;", "List index out of bounds (4)", true},
        {"RUNTEST 1 SEC MAXIMUM 2;", "List index out of bounds (5)", true},
        // A set bit beyond the length would be dropped; zero digits there
        // are taken.
        {"SDR 4 TDI (1F);", "TDI value has a set bit beyond the scan length of 4 bits", true},
        {"SIR 0 TDI (1);", "TDI value has a set bit beyond the scan length of 0 bits", true},
    };
    for (const auto& c : cases) {
        const TRefusal r = Refusal(c.text);
        EXPECT_EQ(r.Message, c.message) << c.text;
        EXPECT_EQ(r.Line, c.line) << c.text;
    }
}

TEST_F(SvfParser, ErrorNamesItsLineInCRLFAndCRLFFiles)
{
    const std::vector<std::string> lines = {"STATE RESET;", "! a comment", "", "SDR 8",
                                            "  TDI (00) XYZ;", "STATE IDLE;"};
    for (const char* end : {"\r", "\n", "\r\n"}) {
        std::string content;
        for (const auto& l : lines)
            content += l + end;
        const TRefusal r = Refusal(content);
        EXPECT_EQ(r.Message, "Unknown keyword XYZ");
        EXPECT_EQ(r.LineNumber, 5) << "the line of the statement's ';'";
        EXPECT_EQ(r.LineText, "  TDI (00) XYZ;");
    }
}

TEST_F(SvfParser, LoopsAndEndMarkersThatWouldPlayWronglyAreRefused)
{
    const struct {
        const char* content;
        const char* message;
        int64_t line;
    } cases[] = {
        // The body would be skipped, checks included.
        {"STATE IDLE;\nLOOP 0;\nSDR 8 TDI (00) TDO (FF);\nENDLOOP;\n", "LOOP count 0 is below 1", 2},
        {"STATE IDLE;\nLOOP -2;\nSDR 8 TDI (00);\nENDLOOP;\n", "LOOP count -2 is below 1", 2},
        {"STATE IDLE;\nENDLOOP;\nSTATE RESET;\n", "ENDLOOP without LOOP", 2},
        {"LOOP 2;\nSTATE IDLE;\nENDLOOP;\nENDLOOP;\n", "ENDLOOP without LOOP", 4},
        // Replayed, an inner LOOP would repeat nothing.
        {"LOOP 2;\nLOOP 5;\nSTATE IDLE;\nENDLOOP;\n", "LOOP inside a LOOP body", 2},
        // The reader's end marker written in the file would end the run early.
        {"STATE IDLE;\n__EOF;\nSDR 8 TDI (00);\n", "Unknown SVF command __EOF", 2},
    };
    for (const auto& c : cases) {
        const TRefusal r = Refusal(c.content);
        EXPECT_EQ(r.Message, c.message) << c.content;
        EXPECT_TRUE(r.Line) << c.content;
        EXPECT_EQ(r.LineNumber, c.line) << c.content;
    }
}

TEST_F(SvfParser, LoopBodyIsReplayedPassByPass)
{
    const std::string body = "SDR 8 TDI (A5);\nSTATE IDLE;\nENDLOOP;\nSTATE RESET;\n";
    const std::vector<std::string> pass = {"SDR #8 TDI[8]=A5", "STATE IDLE", "ENDLOOP"};
    const struct {
        const char* loop;
        int passes;
    } cases[] = {{"LOOP 3;", 3}, {"LOOP 1;", 1}};
    for (const auto& c : cases) {
        std::vector<std::string> expected = {std::string("LOOP #") + (c.loop + 5)};
        expected.back().pop_back();
        for (int p = 1; p <= c.passes; ++p)
            for (const auto& st : pass) {
                std::string s = st;
                if (p < c.passes)
                    s.insert(s.find(' ') == std::string::npos ? s.size() : s.find(' '), "*");
                expected.push_back(s);
            }
        expected.push_back("STATE RESET");
        expected.push_back("__EOF");
        EXPECT_EQ(Sequence(std::string(c.loop) + "\n" + body), expected) << c.loop;
    }
}

TEST_F(SvfParser, BreakingOutContinuesAfterEndloop)
{
    TSVFFile file(dir.Write("f.svf", "LOOP 4; SDR 8 TDI (01); ENDLOOP; STATE RESET;"));
    TSVFCommand st;
    std::vector<std::string> seen;
    for (int i = 0; i < 3; ++i) {
        file.NextStatement(st);
        seen.push_back(Describe(st));
    }
    // As the worker does after a matching pass.
    ASSERT_EQ(file.ReplayIndex, static_cast<int32_t>(file.LoopRecording.size()));
    file.PassesLeft = 0;
    file.NextStatement(st);
    seen.push_back(Describe(st));
    EXPECT_EQ(seen, (std::vector<std::string>{"LOOP #4", "SDR* #8 TDI[8]=01", "ENDLOOP*", "STATE RESET"}));
    EXPECT_TRUE(file.LoopRecording.empty());
}

TEST_F(SvfParser, ReplayedStatementsAreCopiesOfTheirOwn)
{
    TSVFFile file(dir.Write("f.svf", "LOOP 2; SDR 8 TDI (5A); ENDLOOP;"));
    TSVFCommand st;
    file.NextStatement(st); // LOOP
    file.NextStatement(st); // SDR, pass 1
    FreeStatement(st);      // released after use, as the worker does
    file.NextStatement(st); // ENDLOOP
    file.NextStatement(st); // SDR, pass 2
    EXPECT_EQ(Describe(st), "SDR #8 TDI[8]=5A");
}

TEST_F(SvfParser, BodyErrorsAreRaisedWhenTheLoopIsRead)
{
    const TRefusal r = Refusal("STATE IDLE;\nLOOP 2;\nSTATE IDLE;\nSDR 8 TDI (00) BAD;\nENDLOOP;\n");
    EXPECT_EQ(r.Message, "Unknown keyword BAD");
    EXPECT_EQ(r.LineNumber, 4);
}

TEST_F(SvfParser, LoopWithoutEndloopNamesTheLoopLine)
{
    // The reader's "__EOF" would otherwise be recorded for ever.
    const TRefusal r = Refusal("STATE IDLE;\nLOOP 3;\nSDR 8 TDI (00);\nSTATE IDLE;\n");
    EXPECT_EQ(r.Message, "LOOP without ENDLOOP");
    EXPECT_TRUE(r.Line);
    EXPECT_EQ(r.LineNumber, 2);
    EXPECT_EQ(r.LineText, "LOOP 3;");
}

} // namespace
