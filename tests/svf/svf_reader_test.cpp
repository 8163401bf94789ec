#include <gtest/gtest.h>

#include <limits>
#include <sys/stat.h>
#include <unistd.h>

#include "filereader.h"
#include "svf/svf.h"
#include "support/svf_testutil.h"

namespace {

const std::string EofText = "\r\n__EOF;";

class SvfReader : public testing::Test {
protected:
    void TearDown() override { platform::SetReadFaultForTest(nullptr); }

    std::string OpenRefusal(const std::string& path)
    {
        try {
            TSVFFile file(path);
        } catch (const Exception& e) {
            return e.Message();
        }
        return "(opened)";
    }

    svftest::TTempDir dir;
};

TEST_F(SvfReader, RefusesWhatCannotBeReadAsAFile)
{
    const std::string folder = dir.PathOf("folder");
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    const std::string fifo = dir.PathOf("pipe.svf");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& path : {dir.PathOf("missing.svf"), folder, fifo})
        EXPECT_EQ(OpenRefusal(path), "Cannot open file " + path + " for read.");
}

TEST_F(SvfReader, HandsOutTheFileThenTheEndTextForEver)
{
    // Sizes around the read block: a refill at the wrong moment loses or
    // repeats bytes.
    constexpr size_t block = TSVFFile::ReadBlock;
    for (const size_t size : {size_t{0}, size_t{1}, block - 1, block, block + 1, 2 * block, 2 * block + 3616}) {
        std::string content;
        for (size_t i = 0; i < size; ++i)
            content.push_back(static_cast<char>('a' + i % 26));
        TSVFFile file(dir.Write("f.svf", content));
        EXPECT_EQ(file.GetSize(), static_cast<int32_t>(size));
        std::string got;
        for (size_t i = 0; i < size; ++i) {
            EXPECT_FALSE(file.EofReached()) << size << " at " << i;
            got.push_back(static_cast<char>(file.ReadChar()));
        }
        EXPECT_EQ(got, content) << size;
        EXPECT_EQ(file.EofReached(), size > 0) << "noticed as the last byte goes: " << size;
        std::string tail;
        for (int i = 0; i < 24; ++i)
            tail.push_back(static_cast<char>(file.ReadChar()));
        EXPECT_EQ(tail, EofText + EofText + EofText) << size;
        EXPECT_EQ(file.GetPosition(), static_cast<int32_t>(size) + 24);
    }
}

TEST_F(SvfReader, PeekDoesNotConsume)
{
    TSVFFile file(dir.Write("f.svf", "ab"));
    EXPECT_EQ(file.PeekChar(), 'a');
    EXPECT_EQ(file.PeekChar(), 'a');
    EXPECT_EQ(file.ReadChar(), 'a');
    EXPECT_EQ(file.PeekChar(), 'b');
    EXPECT_EQ(file.ReadChar(), 'b');
    EXPECT_EQ(file.PeekChar(), '\r');
    EXPECT_EQ(file.BytesRead(), 2);
}

TEST_F(SvfReader, LineEndsAtCRAtLFAndAtCRLFCountedOnce)
{
    const std::vector<std::string> lines = {"STATE RESET;", "", "SDR 8 TDI (00);", "last line"};
    const struct {
        const char* name;
        const char* end;
    } styles[] = {{"CR", "\r"}, {"LF", "\n"}, {"CR LF", "\r\n"}};
    for (const auto& style : styles) {
        std::string content;
        for (size_t i = 0; i < lines.size(); ++i)
            content += lines[i] + (i + 1 < lines.size() ? style.end : "");
        TSVFFile file(dir.Write("f.svf", content));
        for (size_t i = 0; i < content.size(); ++i)
            file.ReadChar();
        EXPECT_EQ(file.LineCount, 3) << style.name;
        file.ReadChar(); // the end text's CR
        file.ReadChar(); // and its LF: one line end
        EXPECT_EQ(file.LineCount, 4) << style.name;
        for (size_t k = 0; k < lines.size(); ++k)
            EXPECT_EQ(file.GetLineText(static_cast<int64_t>(k)), lines[k]) << style.name << " line " << k;
        EXPECT_EQ(file.GetLineText(4), "") << style.name;
        EXPECT_EQ(file.GetLineText(99), "") << style.name;
    }
}

TEST_F(SvfReader, CRLFSplitByTheBufferCountsOnce)
{
    std::string content(8191, 'x');
    content += "\r\nnext\n";
    TSVFFile file(dir.Write("f.svf", content));
    for (size_t i = 0; i < content.size(); ++i)
        file.ReadChar();
    EXPECT_EQ(file.LineCount, 2);
    EXPECT_EQ(file.GetLineText(1), "next");
}

TEST_F(SvfReader, ReadErrorIsAnErrorNotTheEnd)
{
    constexpr int64_t block = TSVFFile::ReadBlock;
    for (const int64_t failAt : {int64_t{0}, block}) {
        const std::string path = dir.Write("f.svf", std::string(block + 1808, ' '));
        TSVFFile file(path);
        platform::SetReadFaultForTest([failAt](int64_t offset) { return offset >= failAt; });
        std::string message;
        int64_t consumed = 0;
        try {
            for (; consumed < 2 * block; ++consumed)
                file.ReadChar();
        } catch (const Exception& e) {
            message = e.Message();
        }
        platform::SetReadFaultForTest(nullptr);
        EXPECT_EQ(message, "Cannot read file " + path + ".") << failAt;
        EXPECT_FALSE(file.EofReached()) << failAt;
        EXPECT_LE(consumed, failAt) << "no stale bytes handed out";
    }
}

TEST_F(SvfReader, SizeClampsToTheThirtyTwoBitInterface)
{
    const std::string path = dir.Write("big.svf", "");
    ASSERT_EQ(truncate(path.c_str(), (int64_t{3} << 30) + 5), 0); // sparse
    TSVFFile file(path);
    EXPECT_EQ(file.FileSize(), (int64_t{3} << 30) + 5);
    EXPECT_EQ(file.GetSize(), std::numeric_limits<int32_t>::max());
    EXPECT_EQ(file.GetPosition(), 0);
}

} // namespace
