// What a file may ask of memory: a scan longer than the memory available
// ends the run with a line error before its buffers exist, an allocation
// that fails all the same does too, and a statement's text costs no more
// than a small multiple of itself.
#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <optional>

#include "meminfo.h"
#include "svf/svf.h"
#include "support/svf_testutil.h"

namespace {

using svftest::TFakeCable;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool Sanitized = true;
#else
constexpr bool Sanitized = false;
#endif

class SvfMemory : public testing::Test {
protected:
    void TearDown() override { platform::SetAvailableMemoryForTest(std::nullopt); }

    // Plays the file as the write-ahead side does; the error that ended it,
    // if any.
    std::optional<ELineException> Play(const std::string& Content)
    {
        TSVFFile f(dir.Write("f.svf", Content));
        cable.Attach(f);
        TSVFCommand st;
        try {
            for (int guard = 0; guard < 100; ++guard) {
                FreeStatement(st);
                f.NextStatement(st);
                if (!f.TakeStatement(st) || !f.ExecuteStatement(st))
                    ADD_FAILURE() << "cable failure";
                if (st.Command == SvfCommand::Eof)
                    return std::nullopt;
            }
        } catch (const ELineException& e) {
            return e;
        }
        ADD_FAILURE() << "no end";
        return std::nullopt;
    }

    TFakeCable cable;
    svftest::TTempDir dir;
};

TEST_F(SvfMemory, AScanThatCannotFitIsALineErrorNamingItsBitsAndTheMemoryItNeeds)
{
    struct {
        const char* content;
        uint64_t available;
        const char* message; // empty: the file plays
        int line;
    } cases[] = {
        {"SDR 2147483647 TDI (0);\n", 1ull << 30,
         "Scan of 2147483647 bits would need 10240 MB of memory, 1024 MB are available", 1},
        // The header counts: the scan is the SDR's bits and the HDR's.
        {"HDR 1000000 TDI (0);\nSDR 1000000 TDI (0);\n", 8ull << 20,
         "Scan of 2000000 bits would need 10 MB of memory, 8 MB are available", 2},
        {"SIR 4000000 TDI (0);\n", 1ull << 20, "Scan of 4000000 bits would need 20 MB of memory, 1 MB are available",
         1},
        {"SDR 1000000 TDI (0);\nSDR 1000000 TDI (1);\n", 1ull << 30, "", 0},
        // Short scans are not weighed at all.
        {"SDR 32 TDI (0);\n", 0, "", 0},
    };
    for (const auto& c : cases) {
        platform::SetAvailableMemoryForTest(c.available);
        const std::optional<ELineException> e = Play(c.content);
        if (!*c.message) {
            EXPECT_FALSE(e) << c.content << (e ? e->Message() : "");
            continue;
        }
        ASSERT_TRUE(e) << c.content;
        EXPECT_EQ(e->Message(), c.message);
        EXPECT_EQ(e->LineNumber, c.line) << c.content;
        EXPECT_TRUE(cable.ShiftTdi.empty()) << "nothing shifted: " << c.content;
    }
}

TEST_F(SvfMemory, AnAllocationThatFailsAnywayIsTheSameLineErrorNotACrash)
{
    if (Sanitized)
        GTEST_SKIP() << "an address-space limit and a sanitizer's shadow memory do not mix";
    // The figure says plenty; the address space says otherwise once the
    // vectors (250 MB each) exist and the byte per bit (2 GB) is asked for.
    platform::SetAvailableMemoryForTest(uint64_t{1} << 40);
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_AS, &old), 0);
    long pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    rlimit tight = old;
    tight.rlim_cur = static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + (rlim_t{1} << 30);
    ASSERT_EQ(setrlimit(RLIMIT_AS, &tight), 0);
    const std::optional<ELineException> e = Play("STATE IDLE;\nSDR 2000000000;\n");
    setrlimit(RLIMIT_AS, &old);
    ASSERT_TRUE(e);
    EXPECT_EQ(e->Message().rfind("Scan of 2000000000 bits would need 9537 MB of memory, ", 0), 0u) << e->Message();
    EXPECT_EQ(e->LineNumber, 2);
}

TEST_F(SvfMemory, ALongStatementIsRefusedWithoutCopyingItIntoItsMessage)
{
    const std::string words(4000000, 'A');
    struct {
        std::string content;
        std::string message;
    } cases[] = {
        // Refused at its first word, before the rest is cut into tokens.
        {"XYZ" + std::string(2000000, ' ') + "A A A;\n", "Unknown SVF command XYZ"},
        {"SDR 8 TDI (00) " + words + ";\n", "Unknown keyword " + std::string(80, 'A') + "..."},
        {words + ";\n", "Unknown SVF command " + std::string(80, 'A') + "..."},
    };
    for (const auto& c : cases) {
        const std::optional<ELineException> e = Play(c.content);
        ASSERT_TRUE(e);
        EXPECT_EQ(e->Message(), c.message);
        EXPECT_EQ(e->LineNumber, 1);
        // The line as the message shows it: its start, cut.
        EXPECT_EQ(e->LineText.size(), TSVFFile::ShownLineText + 3);
        EXPECT_EQ(e->LineText.substr(0, 3), c.content.substr(0, 3));
    }
}

} // namespace
