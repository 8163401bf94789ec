// Builds XSVF files as bytes for the tests, written from the format: each
// command an opcode and its operands, integers big-endian, a vector of n
// bits in ceil(n/8) bytes whose last byte holds bits 0 to 7.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace xsvftest {

class TXsvf {
public:
    // The file's bytes so far.
    const std::string& Bytes() const { return FBytes; }

    TXsvf& Raw(std::initializer_list<uint8_t> Values)
    {
        for (uint8_t v : Values)
            FBytes.push_back(static_cast<char>(v));
        return *this;
    }
    // Another file's commands after these; its data length goes on.
    TXsvf& Then(const TXsvf& More)
    {
        FBytes += More.FBytes;
        FSize = More.FSize;
        return *this;
    }
    // A vector of Bits bits from a value (bits above 64 are 0).
    TXsvf& Vector(uint64_t Value, int64_t Bits)
    {
        const int64_t n = (Bits + 7) / 8;
        for (int64_t i = n - 1; i >= 0; --i)
            FBytes.push_back(static_cast<char>(i < 8 ? (Value >> (8 * i)) & 0xFF : 0));
        return *this;
    }
    TXsvf& U32(uint32_t Value)
    {
        return Raw({static_cast<uint8_t>(Value >> 24), static_cast<uint8_t>(Value >> 16),
                    static_cast<uint8_t>(Value >> 8), static_cast<uint8_t>(Value)});
    }

    // The commands; vectors are sized by the last SdrSize (8 before any).
    TXsvf& Complete() { return Raw({0x00}); }
    TXsvf& TdoMask(uint64_t Mask) { return Raw({0x01}).Vector(Mask, FSize); }
    TXsvf& Sir(uint8_t Bits, uint64_t Tdi) { return Raw({0x02, Bits}).Vector(Tdi, Bits); }
    TXsvf& Sdr(uint64_t Tdi) { return Raw({0x03}).Vector(Tdi, FSize); }
    TXsvf& RunTest(uint32_t Microseconds) { return Raw({0x04}).U32(Microseconds); }
    TXsvf& Repeat(uint8_t Count) { return Raw({0x07, Count}); }
    TXsvf& SdrSize(uint32_t Bits)
    {
        FSize = Bits;
        return Raw({0x08}).U32(Bits);
    }
    TXsvf& SdrTdo(uint64_t Tdi, uint64_t Tdo) { return Raw({0x09}).Vector(Tdi, FSize).Vector(Tdo, FSize); }
    // XSDRB 0x0C, XSDRC 0x0D, XSDRE 0x0E: TDI only.
    TXsvf& SdrTdiOnly(uint8_t Opcode, uint64_t Tdi) { return Raw({Opcode}).Vector(Tdi, FSize); }
    // XSDRTDOB 0x0F, XSDRTDOC 0x10, XSDRTDOE 0x11: TDI and TDO.
    TXsvf& SdrTdiTdo(uint8_t Opcode, uint64_t Tdi, uint64_t Tdo)
    {
        return Raw({Opcode}).Vector(Tdi, FSize).Vector(Tdo, FSize);
    }
    TXsvf& State(uint8_t Code) { return Raw({0x12, Code}); }
    TXsvf& EndIr(uint8_t Code) { return Raw({0x13, Code}); }
    TXsvf& EndDr(uint8_t Code) { return Raw({0x14, Code}); }
    TXsvf& Comment(const std::string& Text)
    {
        Raw({0x16});
        FBytes += Text;
        return Raw({0x00});
    }

private:
    std::string FBytes;
    int64_t FSize = 8;
};

} // namespace xsvftest
