// The XSVF reader, decoder and pre-scan: operand lengths of every command
// under every mask length, vector byte order, comments, refused opcodes,
// the block boundary, and the refusal of files that cannot be played.
#include <gmock/gmock.h>

#include "base/jtagfile.h"
#include "filereader.h"
#include "meminfo.h"
#include "svf/svf.h"
#include "xsvf_test_util.h"

namespace {

using xsvftest::RaisedBy;
using xsvftest::TXsvf;
using xsvftest::WithinLimit;

class XsvfDecoder : public testing::Test {
protected:
    std::string Write(const std::string& Bytes) { return dir.Write("run.xsvf", Bytes); }
    // A reader on Bytes, no pre-scan.
    std::unique_ptr<TXSVFFile> Reader(const std::string& Bytes) { return TXSVFFile::CreateReader(Write(Bytes)); }
    // The registry's player on Path, its file checked.
    static std::unique_ptr<TXSVFFile> Checked(const std::string& Path)
    {
        auto player = std::make_unique<TXSVFFile>(Path);
        player->CheckFile({});
        return player;
    }

    svftest::TTempDir dir;
};

// Bytes read after the opcode, for each command, before any XSDRSIZE (the
// mask starts with 8 bits), after XSDRSIZE 0, 9 and 64.
TEST_F(XsvfDecoder, OperandLengthsFollowTheMaskLength)
{
    struct TCase {
        const char* Name;
        std::vector<uint8_t> Head; // opcode and any length byte
        int Fixed;                 // bytes that do not depend on the mask
        int PerMaskByte;           // times the mask's byte length
    };
    const TCase cases[] = {
        {"XCOMPLETE", {0x00}, 0, 0}, {"XTDOMASK", {0x01}, 0, 1}, {"XSIR 0", {0x02, 0}, 0, 0},
        {"XSIR 9", {0x02, 9}, 2, 0}, {"XSIR 255", {0x02, 255}, 32, 0}, {"XSDR", {0x03}, 0, 1},
        {"XRUNTEST", {0x04}, 4, 0},  {"XREPEAT", {0x07}, 1, 0},      {"XSDRSIZE", {0x08}, 4, 0},
        {"XSDRTDO", {0x09}, 0, 2},   {"XSDRB", {0x0C}, 0, 1},        {"XSDRC", {0x0D}, 0, 1},
        {"XSDRE", {0x0E}, 0, 1},     {"XSDRTDOB", {0x0F}, 0, 2},     {"XSDRTDOC", {0x10}, 0, 2},
        {"XSDRTDOE", {0x11}, 0, 2},  {"XSTATE", {0x12}, 1, 0},       {"XENDIR", {0x13}, 1, 0},
        {"XENDDR", {0x14}, 1, 0},
    };
    struct TSize {
        const char* Name;
        std::vector<uint8_t> Prefix;
        int MaskBytes;
    };
    const TSize sizes[] = {
        {"no XSDRSIZE", {}, 1},
        {"XSDRSIZE 0", {0x08, 0, 0, 0, 0}, 0},
        {"XSDRSIZE 9", {0x08, 0, 0, 0, 9}, 2},
        {"XSDRSIZE 64", {0x08, 0, 0, 0, 64}, 8},
    };
    for (const TSize& size : sizes) {
        for (const TCase& c : cases) {
            SCOPED_TRACE(std::string(c.Name) + " after " + size.Name);
            const size_t operands = static_cast<size_t>(c.Fixed + c.PerMaskByte * size.MaskBytes);
            std::string bytes(size.Prefix.begin(), size.Prefix.end());
            bytes.append(c.Head.begin(), c.Head.end());
            for (size_t k = 0; k < operands; ++k)
                bytes.push_back(static_cast<char>(0x40 + k % 16));
            bytes.push_back(static_cast<char>(0x00)); // the next opcode: XCOMPLETE
            const auto reader = Reader(bytes);
            TXSVFCommand command;
            if (!size.Prefix.empty()) {
                reader->ReadCommand(command);
                reader->ApplyCommand(command);
            }
            reader->ReadCommand(command);
            EXPECT_EQ(command.size(), c.Head.size() + operands);
            reader->ReadCommand(command);
            EXPECT_EQ(command, TXSVFCommand{0x00}) << "the next command starts right after the operands";
        }
    }
}

TEST_F(XsvfDecoder, VectorsAreBigEndianWithBitZeroInTheLastByte)
{
    // XSDRSIZE 9: in each pair of an XSDRTDO the second byte holds bits 0 to
    // 7 and the low bit of the first byte bit 8.
    const auto reader = Reader(TXsvf().SdrSize(9).Raw({0x09, 0x01, 0x23, 0x00, 0xA5}).Complete().Bytes());
    TXSVFCommand command;
    reader->ReadCommand(command);
    reader->ApplyCommand(command);
    reader->ReadCommand(command);
    ASSERT_EQ(command, (TXSVFCommand{0x09, 0x01, 0x23, 0x00, 0xA5}));
    TVarLen tdi, tdo;
    TXSVFFile::LoadVector(command, 1, 9, tdi);
    TXSVFFile::LoadVector(command, 3, 9, tdo);
    EXPECT_EQ(tdi.BitLength(), 9);
    EXPECT_EQ(tdi.GetByte(0), 0x23);
    EXPECT_EQ(tdi.GetByte(1), 0x01);
    EXPECT_EQ(tdo.GetByte(0), 0xA5);
    EXPECT_EQ(tdo.GetByte(1), 0x00);
    EXPECT_EQ(TXSVFFile::GetBE32({0x04, 0x12, 0x34, 0x56, 0x78}, 1), 0x12345678u);
    EXPECT_EQ(TXSVFFile::GetBE32({0x04, 0xFF, 0xFF, 0xFF, 0xFF}, 1), 0xFFFFFFFFu);
}

TEST_F(XsvfDecoder, ACommentRunsToItsZeroByteAndTheNextByteIsAnOpcode)
{
    const auto reader = Reader(TXsvf().Comment("ab").RunTest(7).Complete().Bytes());
    TXSVFCommand command;
    reader->ReadCommand(command);
    EXPECT_EQ(command, (TXSVFCommand{0x16, 'a', 'b', 0}));
    reader->ReadCommand(command);
    EXPECT_EQ(command, (TXSVFCommand{0x04, 0, 0, 0, 7}));
}

TEST_F(XsvfDecoder, OpcodesOutsideTheFormatAreRefusedByName)
{
    for (const uint8_t opcode : {0x05, 0x06, 0x0A, 0x0B, 0x15, 0x17, 0x80, 0xFF}) {
        SCOPED_TRACE(static_cast<int>(opcode));
        static const char hex[] = "0123456789ABCDEF";
        const std::string expected = std::string("Unknown command ") + hex[opcode >> 4] + hex[opcode & 15];
        const auto reader = Reader(TXsvf().Raw({opcode, 0, 0, 0, 0}).Complete().Bytes());
        TXSVFCommand command;
        EXPECT_EQ(RaisedBy([&] { reader->ReadCommand(command); }), expected);
        EXPECT_EQ(command, TXSVFCommand{opcode});
        // The check refuses the whole file.
        const std::string path = Write(TXsvf().Sir(8, 1).Raw({opcode}).Complete().Bytes());
        EXPECT_EQ(RaisedBy([&] { Checked(path); }), expected);
    }
}

TEST_F(XsvfDecoder, CommandsAcrossTheBlockBoundaryDecodeWhole)
{
    // Comments fill the first block up to a few bytes before 8192, so that
    // the XSDRTDO that follows straddles the boundary at each offset.
    for (int before = 1; before <= 6; ++before) {
        SCOPED_TRACE(before);
        TXsvf file;
        file.SdrSize(32); // 5 bytes
        const int text = 8192 - 5 - before - 2;
        file.Comment(std::string(static_cast<size_t>(text), 'c'));
        file.SdrTdo(0x11223344, 0x55667788).Complete();
        const std::string path = Write(file.Bytes());
        const auto reader = TXSVFFile::CreateReader(path);
        TXSVFCommand command;
        for (int k = 0; k < 3; ++k) {
            reader->ReadCommand(command);
            reader->ApplyCommand(command);
        }
        EXPECT_EQ(command, (TXSVFCommand{0x09, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}));
        reader->ReadCommand(command);
        EXPECT_EQ(command, TXSVFCommand{0x00});
        EXPECT_EQ(Checked(path)->GetSize(), 4);
    }
}

TEST_F(XsvfDecoder, ThePreScanCountsCommandsAndFindsTheXc9500Method)
{
    struct TCase {
        const char* Name;
        std::string Bytes;
        int32_t Size;
        bool Xc9500;
    };
    const TCase cases[] = {
        {"XCOMPLETE alone", TXsvf().Complete().Bytes(), 1, false},
        {"a short file", TXsvf().Sir(8, 1).SdrSize(32).TdoMask(0xFFFFFFFF).SdrTdo(0, 1).Complete().Bytes(), 5, false},
        {"XREPEAT 1", TXsvf().Repeat(1).Sdr(0).Complete().Bytes(), 3, false},
        {"XREPEAT 2 after every shift", TXsvf().Sdr(0).SdrTdo(0, 0).Repeat(2).Complete().Bytes(), 4, true},
        {"XREPEAT 32 then 0", TXsvf().Repeat(32).Sdr(0).Repeat(0).Complete().Bytes(), 4, true},
        {"bytes after XCOMPLETE are never read", TXsvf().Complete().Raw({0xFF, 0x05}).Bytes(), 1, false},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        const auto player = Checked(Write(c.Bytes));
        EXPECT_EQ(player->GetSize(), c.Size);
        EXPECT_EQ(player->GetPosition(), 0);
        EXPECT_EQ(player->Xc9500Mode, c.Xc9500);
        EXPECT_EQ(player->GetStatus(), FileStatus::Running) << "not started";
    }
}

// Each file the pre-scan must refuse, within a time limit: never a hang, a
// loop, or a byte that is not in the file.
TEST_F(XsvfDecoder, FilesThatCannotBePlayedAreRefusedBeforePlay)
{
    struct TCase {
        const char* Name;
        std::string Bytes;
        std::string Message; // with the file's path where it says {}
    };
    const std::string end = "Unexpected end of file {} before XCOMPLETE.";
    const TCase cases[] = {
        {"empty", "", end},
        {"no XCOMPLETE", TXsvf().Sir(8, 1).Bytes(), end},
        {"cut in an operand", TXsvf().RunTest(1000).Bytes().substr(0, 3), end},
        {"cut in a vector", TXsvf().SdrSize(32).SdrTdo(0, 0).Bytes().substr(0, 9), end},
        {"a comment without its 0", TXsvf().Raw({0x16, 'a', 'b'}).Bytes(), end},
        {"an XSIR without its length", TXsvf().Raw({0x02}).Bytes(), end},
        {"XSDRSIZE 2^31", TXsvf().SdrSize(0x80000000u).Complete().Bytes(),
         "XSDRSIZE 2147483648 is out of range (0 to 2147483647)"},
        {"XSDRSIZE 2^32-1", TXsvf().Raw({0x08}).U32(0xFFFFFFFFu).Complete().Bytes(),
         "XSDRSIZE 4294967295 is out of range (0 to 2147483647)"},
        {"an unknown opcode late", TXsvf().Sir(8, 1).Raw({0x0B}).Complete().Bytes(), "Unknown command 0B"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::string path = Write(c.Bytes);
        std::string expected = c.Message;
        if (const size_t at = expected.find("{}"); at != std::string::npos)
            expected.replace(at, 2, path);
        WithinLimit([&] { EXPECT_EQ(RaisedBy([&] { Checked(path); }), expected); });
    }
}

// Arbitrary bytes: the pre-scan accepts or refuses each file with a
// message, in bounded time, and never reads past the end.
TEST_F(XsvfDecoder, ArbitraryBytesAreAcceptedOrRefusedNeverMore)
{
    uint32_t seed = 12345;
    const auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return static_cast<uint8_t>(seed >> 16);
    };
    int refused = 0;
    WithinLimit([&] {
        for (int n = 0; n < 500; ++n) {
            std::string bytes;
            const int length = next() % 48;
            for (int k = 0; k < length; ++k) {
                // Mostly opcodes of the format and small operands.
                const uint8_t b = next();
                bytes.push_back(static_cast<char>(k % 3 == 0 ? b % 0x18 : b % 20));
            }
            const std::string path = Write(bytes);
            try {
                EXPECT_GE(Checked(path)->GetSize(), 1);
            } catch (const Exception& e) {
                ++refused;
                EXPECT_FALSE(e.Message().empty());
            }
        }
    });
    EXPECT_GT(refused, 0);
}

TEST_F(XsvfDecoder, AReadErrorIsRefusedNamingTheFile)
{
    TXsvf file;
    file.Comment(std::string(9000, 'c')).Complete();
    const std::string path = Write(file.Bytes());
    platform::SetReadFaultForTest([](int64_t Offset) { return Offset >= 8192; });
    WithinLimit([&] { EXPECT_EQ(RaisedBy([&] { Checked(path); }), "Cannot read file " + path + "."); });
    platform::SetReadFaultForTest({});
}

TEST_F(XsvfDecoder, AFileThatCannotBeOpenedIsRefused)
{
    const std::string missing = dir.PathOf("none.xsvf");
    EXPECT_EQ(RaisedBy([&] { TXSVFFile player(missing); }), "Cannot open file " + missing + " for read.");
    EXPECT_EQ(RaisedBy([&] { TXSVFFile::CreateReader(missing); }), "Cannot open file " + missing + " for read.");
}

TEST(XsvfRegistration, RegisteredAsXsvfAfterSvf)
{
    RegisterSvfPlayer();
    RegisterXsvfPlayer();
    ASSERT_NE(JtagFilesList, nullptr);
    ASSERT_EQ(JtagFilesList->Count(), 2);
    EXPECT_EQ(JtagFilesList->Items(0).Extension, "SVF");
    EXPECT_EQ(JtagFilesList->Items(1).Extension, "XSVF");
    EXPECT_EQ(TXSVFFile::FileTypeName(), "XSVF");
    svftest::TTempDir dir;
    const std::string path = dir.Write("a.XSVF", TXsvf().Sdr(0).Complete().Bytes());
    const std::unique_ptr<TJtagFile> player = JtagFilesList->CreateFileObject(".xsvf", path);
    ASSERT_NE(dynamic_cast<TXSVFFile*>(player.get()), nullptr);
    player->CheckFile({});
    EXPECT_EQ(player->GetSize(), 2);
}

} // namespace

namespace {

TEST_F(XsvfDecoder, ADataSizeTheMemoryCannotHoldIsRefusedByTheCheck)
{
    const std::string path = Write(TXsvf().SdrSize(1u << 24).Complete().Bytes());
    platform::SetAvailableMemoryForTest(uint64_t{1} << 20);
    EXPECT_EQ(RaisedBy([&] { Checked(path); }),
              "Scan of 16777216 bits would need 80 MB of memory, 1 MB are available");
    platform::SetAvailableMemoryForTest(uint64_t{1} << 30);
    EXPECT_EQ(RaisedBy([&] { Checked(path); }), "") << "the same size with room for it";
    platform::SetAvailableMemoryForTest(std::nullopt);
}

} // namespace
