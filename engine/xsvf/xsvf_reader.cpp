// The XSVF file object: construction and pre-scan, the block reader, the
// command decoder and the progress queries.
#include <algorithm>
#include <limits>
#include <new>

#include "xsvf/xsvf.h"
#include "xsvf/xsvf_thread.h"

namespace {

std::string HexByte(uint8_t Value)
{
    static const char digits[] = "0123456789ABCDEF";
    return {digits[Value >> 4], digits[Value & 15]};
}

// Operand bytes after the opcode, with L the mask's byte length; -1 for the
// two commands whose length is read from the file and for refused opcodes.
int64_t OperandBytes(uint8_t Opcode, int64_t L)
{
    switch (Opcode) {
    case XCOMPLETE:
        return 0;
    case XTDOMASK:
    case XSDR:
    case XSDRB:
    case XSDRC:
    case XSDRE:
        return L;
    case XRUNTEST:
    case XSDRSIZE:
        return 4;
    case XREPEAT:
    case XSTATE:
    case XENDIR:
    case XENDDR:
        return 1;
    case XSDRTDO:
    case XSDRTDOB:
    case XSDRTDOC:
    case XSDRTDOE:
        return 2 * L;
    default:
        return -1;
    }
}

} // namespace

TXSVFFile::TXSVFFile(const std::string& FileName, TNoScan) : TJtagFile(FileName), FFileName(FileName)
{
    if (!FFile.Open(FFileName))
        throw Exception("Cannot open file " + FFileName + " for read.");
}

TXSVFFile::TXSVFFile(const std::string& FileName) : TXSVFFile(FileName, TNoScan{}) {}

std::unique_ptr<TXSVFFile> TXSVFFile::CreateReader(const std::string& FileName)
{
    return std::unique_ptr<TXSVFFile>(new TXSVFFile(FileName, TNoScan{}));
}

std::unique_ptr<TXSVFFile> TXSVFFile::CreateScanner(const std::string& FileName)
{
    std::unique_ptr<TXSVFFile> scanner = CreateReader(FileName);
    scanner->FScanOnly = true;
    return scanner;
}

TXSVFFile::~TXSVFFile()
{
    FFile.Close();
    // The worker is waited for, not stopped.
    FThread.reset();
}

void TXSVFFile::CheckFile(const platform::TStopToken& Stop)
{
    // Every command is decoded and applied as in play, so the mask length
    // that sizes later operands is followed, and every refusal comes before
    // the first cable call.
    const std::unique_ptr<TXSVFFile> scanner = CreateScanner(FFileName);
    Checked.Record(scanner->FFile);
    scanner->Checked = Checked;
    FCommandsDone.store(0);
    int32_t count = 1;
    TXSVFCommand command;
    try {
        for (;;) {
            // A file of millions of commands takes seconds to scan.
            if (Stop.Asked())
                return;
            ClearCommand(command);
            scanner->ReadCommand(command);
            scanner->ApplyCommand(command);
            const uint8_t opcode = command[0];
            // The commands that wait in Run-Test/Idle after their shift.
            if (OnCheckedRuntest && scanner->RunTestTime != 0 &&
                (opcode == XSIR || opcode == XSDR || opcode == XSDRTDO))
                OnCheckedRuntest(true, 0);
            if (scanner->IsComplete(command))
                break;
            if (count < std::numeric_limits<int32_t>::max())
                ++count;
        }
    } catch (const std::bad_alloc&) {
        throw Exception("Out of memory reading file " + FFileName + ".");
    }
    CommandCount = count;
    Xc9500Mode = scanner->Xc9500Mode;
}

void TXSVFFile::FillBuffer()
{
    if (FBufferPos < FBufferFill)
        return;
    FBufferPos = 0;
    const int64_t n = FFile.Read(FReadBuffer.data(), static_cast<int64_t>(FReadBuffer.size()));
    if (n < 0) {
        FBufferFill = 0;
        throw Exception("Cannot read file " + FFileName + ".");
    }
    Checked.AfterRead(FFile, FFileName, FScanOnly);
    FBufferFill = static_cast<int32_t>(n);
}

uint8_t TXSVFFile::ReadByte()
{
    FillBuffer();
    if (FBufferPos >= FBufferFill)
        throw Exception("Unexpected end of file " + FFileName + " before XCOMPLETE.");
    return FReadBuffer[static_cast<size_t>(FBufferPos++)];
}

void TXSVFFile::ReadCommand(TXSVFCommand& Command)
{
    Command.assign(1, ReadByte());
    const uint8_t opcode = Command[0];
    int64_t count = OperandBytes(opcode, BytesForBits(FSdrSize));
    if (opcode == XSIR) {
        Command.push_back(ReadByte());
        count = BytesForBits(Command[1]);
    } else if (opcode == XCOMMENT) {
        // Text up to and including its 0 byte; it goes nowhere.
        do
            Command.push_back(ReadByte());
        while (Command.back() != 0);
        return;
    } else if (count < 0) {
        throw Exception("Unknown command " + HexByte(opcode));
    }
    // A length from the file is not trusted for the allocation: a short file
    // that claims a huge vector ends at its last byte, having taken little.
    Command.reserve(Command.size() + static_cast<size_t>(std::min<int64_t>(count, 1 << 20)));
    for (int64_t i = 0; i < count; ++i)
        Command.push_back(ReadByte());
}

uint32_t TXSVFFile::GetBE32(const TXSVFCommand& Command, size_t Index)
{
    uint32_t value = 0;
    for (size_t k = Index; k < Index + 4; ++k)
        value = value << 8 | (k < Command.size() ? Command[k] : 0u);
    return value;
}

void TXSVFFile::LoadVector(const TXSVFCommand& Command, size_t Index, int32_t Bits, TVarLen& Vector)
{
    Vector.SetBitLength(Bits);
    const size_t n = static_cast<size_t>(Vector.ByteLength());
    for (size_t i = 0; i < n; ++i) {
        const size_t at = Index + n - 1 - i;
        Vector.SetByte(static_cast<int32_t>(i), at < Command.size() ? Command[at] : 0);
    }
}

void TXSVFFile::SendNote(const std::string& Text, MessageKind Kind)
{
    if (OnMessage)
        OnMessage(Text, Kind);
}

int32_t TXSVFFile::GetPosition()
{
    if (!FThread)
        return CommandsDone();
    if (!FThread->ReadParser)
        return FThread->WriteParser ? FThread->WriteParser->CommandsDone() : 0;
    return std::min(FThread->WriteParser->CommandsDone(), FThread->ReadParser->CommandsDone());
}

int32_t TXSVFFile::GetSize()
{
    return CommandCount;
}

void RegisterXsvfPlayer()
{
    RegisterJtagFileClass(JtagFileClassOf<TXSVFFile>());
}
