#include "svf/svf_lexer.h"

#include <gtest/gtest.h>

#include "svf/svf.h"
#include "support/svf_testutil.h"

namespace {

std::vector<std::string> Tokens(const std::string& text)
{
    const TSvfTokens tokens = SplitTokens(text);
    std::vector<std::string> out;
    for (int32_t i = 0; i < tokens.Count(); ++i)
        out.push_back(tokens.Get(i));
    return out;
}

using Strings = std::vector<std::string>;

// Reads a file's statements up to the reader's own "__EOF" and collects the
// comments the lexer passes on.
struct TLexed {
    Strings Statements;
    Strings Comments;
};

class SvfLexer : public testing::Test {
protected:
    TLexed Lex(const std::string& content, bool copyComments = true)
    {
        TSVFFile file(dir.Write("f.svf", content));
        file.CopyComments = copyComments;
        TLexed out;
        file.OnMessage = [&](const std::string& text, MessageKind kind) {
            EXPECT_EQ(kind, MessageKind::Comment);
            out.Comments.push_back(text);
        };
        for (int guard = 0; guard < 1000; ++guard) {
            const std::string text = file.ReadStatementText();
            if (text == "__EOF")
                break;
            out.Statements.push_back(text);
        }
        return out;
    }

    svftest::TTempDir dir;
};

TEST_F(SvfLexer, NormalisesStatementsAndPassesCommentsOn)
{
    const struct {
        const char* name;
        std::string content;
        Strings statements;
        Strings comments;
    } cases[] = {
        {"upper-cases keywords and hex digits", "sir 8 tdi (aa);", {"SIR 8 TDI (AA)"}, {}},
        {"one blank outside each parenthesis", "SDR 8 TDI(0A)TDO(FF);", {"SDR 8 TDI (0A) TDO (FF)"}, {}},
        {"blanks and line ends vanish inside parentheses", "SDR 24 TDI (12 34\n56);", {"SDR 24 TDI (123456)"}, {}},
        {"tab, NUL and 255 separate words", std::string("SDR\t8\xff\0TDI\t(0\0\t\xff""0);", 19), {"SDR 8  TDI (00)"}, {}},
        {"a ';' inside a comment ends nothing", "STATE RESET; // a; b\nSTATE IDLE;",
         {"STATE RESET", "STATE IDLE"}, {"// a; b"}},
        {"'!' inside parentheses starts a comment", "SDR 16 TDI (12 ! half\n34);", {"SDR 16 TDI (1234)"}, {"! half"}},
        {"a lone '/' is a character", "STATE / IDLE;", {"STATE / IDLE"}, {}},
        {"stray ';' gives empty statements", ";;\n;", {"", "", ""}, {}},
        {"comment on the last line without a line end", "STATE IDLE; ! last", {"STATE IDLE"}, {"! last"}},
        {"CR LF ends a comment once", "! one\r\n! two\r\nSTATE IDLE;", {"STATE IDLE"}, {"! one", "! two"}},
        {"CR alone ends a comment", "! one\rSTATE IDLE;\r", {"STATE IDLE"}, {"! one"}},
        {"comment text is kept as written", "//  MiXed ; case  \n", {}, {"//  MiXed ; case  "}},
        {"a bare '!' is a comment of its own", "!\nSTATE IDLE;", {"STATE IDLE"}, {"!"}},
    };
    for (const auto& c : cases) {
        const TLexed got = Lex(c.content);
        EXPECT_EQ(got.Statements, c.statements) << c.name;
        EXPECT_EQ(got.Comments, c.comments) << c.name;
    }
}

TEST_F(SvfLexer, StatementOverTwoLinesGivesItsTokens)
{
    const TLexed got = Lex("sdr 16 tdi (de ad)\r\n  tdo (00 00) mask(ffff) ; ! end");
    ASSERT_EQ(got.Statements.size(), 1u);
    EXPECT_EQ(Tokens(got.Statements[0]), (Strings{"SDR", "16", "TDI", "(DEAD)", "TDO", "(0000)", "MASK", "(FFFF)"}));
    EXPECT_EQ(got.Comments, Strings{"! end"});
}

TEST_F(SvfLexer, StatementCutOffByTheEndOfTheFileIsRefusedAtItsLine)
{
    const struct {
        const char* content;
        int64_t line;
        const char* text;
    } cases[] = {
        {"RUNTEST 100 TCK", 1, "RUNTEST 100 TCK"},
        {"STATE RESET;\r\nSTATE IDLE\r\n", 2, "STATE IDLE"},
        {"STATE RESET;\nSDR 16 TDI (00\n00) ! no end\n! trailing comment\n", 2, "SDR 16 TDI (00"},
        {"STATE RESET;\n  SIR 8 TDI (00", 2, "  SIR 8 TDI (00"},
    };
    for (const auto& c : cases) {
        TSVFFile file(dir.Write("f.svf", c.content));
        try {
            for (int guard = 0; guard < 10; ++guard)
                file.ReadStatementText();
            ADD_FAILURE() << "accepted: " << c.content;
        } catch (const ELineException& e) {
            EXPECT_EQ(e.Message(), "Missing ';' at the end of the statement") << c.content;
            EXPECT_EQ(e.LineNumber, c.line) << c.content;
            EXPECT_EQ(e.LineText, c.text) << c.content;
        }
    }
    // A comment or blanks after the last ';' are no statement.
    EXPECT_EQ(Lex("STATE IDLE; ! done").Statements, Strings{"STATE IDLE"});
    EXPECT_EQ(Lex("STATE IDLE;\n  \t\n").Statements, Strings{"STATE IDLE"});
}

TEST_F(SvfLexer, CommentsOnlyWhenAskedForAndSomeoneListens)
{
    EXPECT_TRUE(Lex("! c\nSTATE IDLE;", false).Comments.empty());
    TSVFFile file(dir.Write("f.svf", "! c\nSTATE IDLE;"));
    file.OnMessage = nullptr;
    EXPECT_EQ(file.ReadStatementText(), "STATE IDLE");
}

TEST_F(SvfLexer, BufferBoundaryInsideAStatementOrAComment)
{
    // Every offset around the refill, for the statement and for the
    // comment before it.
    constexpr int block = static_cast<int>(TSVFFile::ReadBlock);
    for (int offset = block - 12; offset <= block + 8; ++offset) {
        const std::string comment = "! " + std::string(static_cast<size_t>(offset - 2), 'c');
        const std::string content = comment + "\nSDR 32 TDI (DEADBEEF); // tail\n";
        const TLexed got = Lex(content);
        EXPECT_EQ(got.Statements, Strings{"SDR 32 TDI (DEADBEEF)"}) << offset;
        EXPECT_EQ(got.Comments, (Strings{comment, "// tail"})) << offset;
    }
    for (int offset = block - 12; offset <= block + 8; ++offset) {
        const std::string content = std::string(static_cast<size_t>(offset), ' ') + "sdr 32 tdi (de ad be ef);";
        EXPECT_EQ(Lex(content).Statements, Strings{"SDR 32 TDI (DEADBEEF)"}) << offset;
    }
}

TEST_F(SvfLexer, LongVectorIsCollectedWhole)
{
    const std::string digits(100000, 'f');
    EXPECT_EQ(Lex("SDR 400000 TDI (" + digits + ");").Statements, Strings{"SDR 400000 TDI (" +
                                                                          std::string(100000, 'F') + ")"});
}

TEST(SvfTokenizer, CutsAtBlanksAndKeepsQuotedText)
{
    const struct {
        const char* text;
        Strings tokens;
    } cases[] = {
        {"", {}},
        {"   ", {}},
        {"A", {"A"}},
        {"  A   B  ", {"A", "B"}},
        {"A\tB", {"A", "B"}},
        {"\"A B\" C", {"A B", "C"}},
        {"\"AB\"CD", {"AB", "CD"}},
        {"\"\"", {""}},
        {"A \"\" B", {"A", "", "B"}},
        {"\"A\"\"B\"", {"A\"B"}},
        {"\"ABC", {"AB"}}, // no closing quote: the rest less its last character
        {"A\"B", {"A\"B"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Tokens(c.text), c.tokens) << '[' << c.text << ']';
}

TEST(SvfTokenizer, MissingTokenIsAListIndexError)
{
    const TSvfTokens tokens = SplitTokens("SDR 8");
    try {
        tokens.Get(2);
        FAIL() << "no error";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "List index out of bounds (2)");
    }
    EXPECT_THROW(tokens.Get(-1), Exception);
}

} // namespace
