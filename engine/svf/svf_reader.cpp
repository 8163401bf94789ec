// The SVF file object: construction, progress queries and the buffered
// character reader the lexer stands on.
#include <algorithm>
#include <limits>

#include "svf/svf.h"
#include "svf/svf_thread.h"

namespace {

const uint8_t EofText[] = {13, 10, '_', '_', 'E', 'O', 'F', ';'};

int32_t ClampTo32(int64_t Value)
{
    return static_cast<int32_t>(std::clamp<int64_t>(Value, 0, std::numeric_limits<int32_t>::max()));
}

} // namespace

TSVFFile::TSVFFile(const std::string& FileName) : TJtagFile(FileName), FFileName(FileName)
{
    if (!FFile.Open(FFileName))
        throw Exception("Cannot open file " + FFileName + " for read.");
    FFileSize = FFile.Size();
}

TSVFFile::~TSVFFile()
{
    FFile.Close();
    // The worker is waited for, not stopped; a worker never started is
    // not waited for at all.
    FThread.reset();
}

int32_t TSVFFile::GetPosition()
{
    if (!FThread)
        return ClampTo32(BytesRead());
    // The read-back side reads no file: it is handed what this parser read.
    return ClampTo32(FThread->WriteParser ? FThread->WriteParser->BytesRead() : 0);
}

int32_t TSVFFile::GetSize()
{
    return ClampTo32(FFileSize);
}

void TSVFFile::FillBuffer()
{
    if (FBufferPos < FBufferFill)
        return;
    FBufferPos = 0;
    const int64_t n = FFile.Read(FReadBuffer.data(), static_cast<int64_t>(FReadBuffer.size()));
    if (n < 0) {
        FBufferFill = 0;
        throw Exception("Cannot read file " + FFileName + ".");
    }
    Checked.AfterRead(FFile, FFileName, Side == TSide::Check);
    if (n == 0) {
        std::copy(std::begin(EofText), std::end(EofText), FReadBuffer.begin());
        FBufferFill = static_cast<int32_t>(std::size(EofText));
        FEofReached = true;
        return;
    }
    FBufferFill = static_cast<int32_t>(n);
    if (FAtFileStart) {
        FAtFileStart = false;
        static const uint8_t Bom[] = {0xEF, 0xBB, 0xBF};
        if (n >= 3 && std::equal(std::begin(Bom), std::end(Bom), FReadBuffer.begin())) {
            // Counted as read, so that the progress reaches the size.
            FBufferPos = 3;
            FBytesRead.store(FBytesRead.load(std::memory_order_relaxed) + 3, std::memory_order_relaxed);
            FillBuffer();
        }
    }
}

uint8_t TSVFFile::ReadChar()
{
    if (FBufferPos >= FBufferFill)
        FillBuffer();
    const uint8_t c = FReadBuffer[static_cast<size_t>(FBufferPos)];
    ++FBufferPos;
    FBytesRead.store(FBytesRead.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    if (c == 13 || (c == 10 && !FAfterCR))
        ++LineCount;
    FAfterCR = c == 13;
    // Refilling at once notices the end of the file as soon as its last
    // byte is consumed.
    if (FBufferPos >= FBufferFill)
        FillBuffer();
    return c;
}

void TSVFFile::ConsumeRun(int32_t Count, bool EndsWithCR)
{
    FBufferPos += Count;
    FBytesRead.store(FBytesRead.load(std::memory_order_relaxed) + Count, std::memory_order_relaxed);
    FAfterCR = EndsWithCR;
    if (FBufferPos >= FBufferFill)
        FillBuffer();
}

uint8_t TSVFFile::PeekChar()
{
    // FillBuffer leaves at least one byte (the end text at the end) or raises.
    if (FBufferPos >= FBufferFill)
        FillBuffer();
    return FReadBuffer[static_cast<size_t>(FBufferPos)];
}

std::string TSVFFile::GetLineText(int64_t LineIndex, size_t MaxLength)
{
    std::string result;
    if (!FFile.Seek(0))
        return result;
    FBufferFill = 0;
    FBufferPos = 0;
    FEofReached = false;
    FAfterCR = false;
    FAtFileStart = true;
    LineCount = 0;
    while (!FEofReached && LineIndex >= LineCount) {
        const uint8_t c = ReadChar();
        if (LineCount == LineIndex && c != 13 && c != 10 && result.size() <= MaxLength)
            result.push_back(static_cast<char>(c));
    }
    if (result.size() > MaxLength) {
        result.resize(MaxLength);
        result += "...";
    }
    return result;
}

void TSVFFile::RaiseLineError(const std::string& Message)
{
    RaiseLineErrorAt(Message, LineCount);
}

void TSVFFile::RaiseLineErrorAt(const std::string& Message, int64_t LineIndex)
{
    // A read error while fetching the text must not hide the error itself.
    std::string text;
    try {
        text = GetLineText(LineIndex, ShownLineText);
    } catch (const Exception&) {
    }
    throw ELineException(Message, LineIndex, std::move(text));
}

void TSVFFile::SendNote(const std::string& Text, MessageKind Kind)
{
    if (OnMessage)
        OnMessage(Text, Kind);
}
