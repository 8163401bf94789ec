// The resources built into the program: found by name, read as a stream.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "resource.h"

namespace {

TEST(PlatformResource, TheMirrowImageIsCarriedWhole)
{
    const platform::TResource* image = platform::FindResource("VN2ZBIN");
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->Size, 131704u);
    EXPECT_EQ(platform::FindResource("vn2zbin"), nullptr) << "names are exact";
    EXPECT_EQ(platform::FindResource("NO_SUCH"), nullptr);
}

TEST(PlatformResource, AStreamReadsFromTheStartInPiecesToTheEnd)
{
    platform::TResourceStream stream;
    EXPECT_FALSE(stream.Open("NO_SUCH"));
    uint8_t byte = 0;
    EXPECT_EQ(stream.Read(&byte, 1), 0u) << "nothing open, nothing read";

    ASSERT_TRUE(stream.Open("VN2ZBIN"));
    const platform::TResource* image = platform::FindResource("VN2ZBIN");
    std::vector<uint8_t> all;
    std::vector<uint8_t> piece(50000);
    for (size_t n; (n = stream.Read(piece.data(), piece.size())) > 0;)
        all.insert(all.end(), piece.begin(), piece.begin() + static_cast<long>(n));
    ASSERT_EQ(all.size(), stream.Size());
    EXPECT_EQ(all, std::vector<uint8_t>(image->Data, image->Data + image->Size));
    EXPECT_EQ(stream.Read(piece.data(), piece.size()), 0u) << "at the end";
    ASSERT_TRUE(stream.Open("VN2ZBIN"));
    EXPECT_EQ(stream.Read(&byte, 1), 1u);
    EXPECT_EQ(byte, image->Data[0]) << "opening again starts again";
}

} // namespace
