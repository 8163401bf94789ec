#include "filereader.h"

#include <gtest/gtest.h>

#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "support/svf_testutil.h"

namespace {

std::string ReadAll(platform::TFileReader& reader, int64_t chunk)
{
    std::string out;
    std::string buffer(static_cast<size_t>(chunk), '\0');
    for (;;) {
        const int64_t n = reader.Read(buffer.data(), chunk);
        if (n <= 0) {
            EXPECT_EQ(n, 0) << "read error";
            return out;
        }
        out.append(buffer, 0, static_cast<size_t>(n));
    }
}

class FileReader : public testing::Test {
protected:
    void TearDown() override { platform::SetReadFaultForTest(nullptr); }
    svftest::TTempDir dir;
};

TEST_F(FileReader, ReadsSizesAndSeeksARegularFile)
{
    std::string content;
    for (int i = 0; i < 20000; ++i)
        content.push_back(static_cast<char>(i * 7));
    const std::string path = dir.Write("data.bin", content);
    platform::TFileReader reader;
    ASSERT_TRUE(reader.Open(path));
    EXPECT_EQ(reader.Size(), 20000);
    EXPECT_EQ(ReadAll(reader, 8192), content);
    EXPECT_EQ(reader.Read(content.data(), 10), 0) << "end of file stays the end";
    ASSERT_TRUE(reader.Seek(0));
    EXPECT_EQ(ReadAll(reader, 333), content);
    reader.Close();
    EXPECT_FALSE(reader.IsOpen());
    EXPECT_EQ(reader.Size(), -1);
}

TEST_F(FileReader, RefusesWhatIsNotARegularFile)
{
    const std::string fifo = dir.PathOf("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string folder = dir.PathOf("folder");
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    // A FIFO without a writer would block a plain open for ever.
    for (const std::string& path : {dir.PathOf("missing"), folder, fifo, std::string("/dev/null")}) {
        platform::TFileReader reader;
        EXPECT_FALSE(reader.Open(path)) << path;
        EXPECT_FALSE(reader.IsOpen()) << path;
    }
}

TEST_F(FileReader, FaultSeamFailsTheReadAtItsOffset)
{
    const std::string path = dir.Write("data.bin", std::string(10000, 'a'));
    platform::SetReadFaultForTest([](int64_t offset) { return offset >= 8192; });
    platform::TFileReader reader;
    ASSERT_TRUE(reader.Open(path));
    std::string buffer(8192, '\0');
    EXPECT_EQ(reader.Read(buffer.data(), 8192), 8192);
    EXPECT_EQ(reader.Read(buffer.data(), 8192), -1);
    platform::SetReadFaultForTest(nullptr);
    EXPECT_EQ(reader.Read(buffer.data(), 8192), 10000 - 8192);
}

TEST_F(FileReader, SizeIsSixtyFourBits)
{
    // Sparse: takes no disk space.
    const std::string path = dir.Write("big.bin", "");
    const int64_t size = (int64_t{5} << 30) + 3;
    ASSERT_EQ(truncate(path.c_str(), size), 0);
    platform::TFileReader reader;
    ASSERT_TRUE(reader.Open(path));
    EXPECT_EQ(reader.Size(), size);
    ASSERT_TRUE(reader.Seek(size - 1));
    char c = 'x';
    EXPECT_EQ(reader.Read(&c, 1), 1);
    EXPECT_EQ(c, '\0');
}

} // namespace
