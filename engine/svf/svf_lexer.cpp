// The SVF lexer (comments, parentheses, blanks, letter case) and the
// tokenizer.
#include "svf/svf_lexer.h"

#include <algorithm>
#include <cstring>

#include "base/StrUtilsEx.h"
#include "svf/svf.h"
#include "base/sysutils.h"

namespace {

bool IsWhite(uint8_t c)
{
    return c <= 32 || c == 255;
}

bool IsSeparator(char c)
{
    const auto u = static_cast<uint8_t>(c);
    return u >= 1 && u <= 32;
}

// Byte classes of the statement text, by table: a run of plain bytes (hex
// digits, words) is taken in one go; every other byte goes through the
// rules one at a time.
// Plain: taken as it is (upper-cased); White: a blank outside parentheses,
// nothing inside; Open, Close: parentheses; End: ';'; Other: line ends and
// comment starts, which go through the rules one at a time.
enum class TLexClass : uint8_t { Plain, White, Open, Close, End, Other };

struct TLexTables {
    TLexClass Class[256];
    bool LineEnd[256];
    char Upper[256];
    TLexTables()
    {
        for (int c = 0; c < 256; ++c) {
            const auto u = static_cast<uint8_t>(c);
            Class[c] = c == 13 || c == 10 || c == '/' || c == '!' ? TLexClass::Other
                       : IsWhite(u)                               ? TLexClass::White
                       : c == '('                                 ? TLexClass::Open
                       : c == ')'                                 ? TLexClass::Close
                       : c == ';'                                 ? TLexClass::End
                                                                  : TLexClass::Plain;
            LineEnd[c] = c == 13 || c == 10;
            Upper[c] = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
        }
    }
};
const TLexTables Lex;

// From this size on a statement's text is taken to be a long vector.
constexpr size_t LongStatement = size_t{1} << 20;
// Bytes of the read buffer the lexer takes at a time, at least and at most.
constexpr ptrdiff_t LexChunk = 64;
constexpr ptrdiff_t MaxLexChunk = 8192;

constexpr uint64_t Ones = 0x0101010101010101ull;
constexpr uint64_t Highs = 0x8080808080808080ull;

uint64_t Load8(const uint8_t* P)
{
    uint64_t v;
    std::memcpy(&v, P, 8);
    return v;
}

// Whether any of the eight bytes is below N (N at most 128).
bool AnyBelow(uint64_t V, uint8_t N)
{
    return ((V - Ones * N) & ~V & Highs) != 0;
}

// Eight bytes that are all plain and ASCII: '0' (0x30) to '~', no ';'. The
// hex digits of a vector are; the rest goes through the table.
bool PlainEight(uint64_t V)
{
    return !AnyBelow(V, 0x30) && ((V | (V + Ones)) & Highs) == 0 && !AnyBelow(V ^ (Ones * ';'), 1);
}

// 'a' to 'z' of eight ASCII bytes made upper case.
uint64_t UpperEight(uint64_t V)
{
    const uint64_t fromA = V + Ones * (0x80 - 'a');
    const uint64_t pastZ = V + Ones * (0x80 - 'z' - 1);
    return V ^ ((fromA & ~pastZ & Highs) >> 2);
}

} // namespace

TSvfTokens::TSvfTokens(std::string Text) : FText(std::move(Text))
{
    Restart();
}

void TSvfTokens::Restart()
{
    FTokens.clear();
    FOwn.clear();
    // A NUL ends the text, as it ends the class library's character strings.
    FEnd = std::min(FText.size(), FText.find('\0'));
    FPos = 0;
    while (FPos < FEnd && IsSeparator(FText[FPos]))
        ++FPos;
}

void TSvfTokens::Shrink()
{
    if (FText.capacity() > LongStatement)
        std::string().swap(FText);
    if (FTokens.capacity() > LongStatement / sizeof(TToken))
        std::vector<TToken>().swap(FTokens);
}

void TSvfTokens::RaiseOutOfBounds(int32_t Index)
{
    throw Exception("List index out of bounds (" + std::to_string(Index) + ")");
}

void TSvfTokens::Consume(int32_t Index)
{
    if (Index >= 0 && Index < Count())
        FTokens[static_cast<size_t>(Index)] = TToken{};
}

bool TSvfTokens::SplitNext()
{
    if (FPos >= FEnd)
        return false;
    size_t i = FPos;
    TToken token;
    if (FText[i] == '"') {
        std::string own;
        ++i;
        bool closed = false;
        while (i < FEnd) {
            if (FText[i] == '"') {
                if (i + 1 < FEnd && FText[i + 1] == '"') {
                    own.push_back('"');
                    i += 2;
                    continue;
                }
                ++i;
                closed = true;
                break;
            }
            own.push_back(FText[i]);
            ++i;
        }
        if (!closed && !own.empty())
            own.pop_back();
        token.Own = static_cast<int32_t>(FOwn.size());
        FOwn.push_back(std::move(own));
    } else {
        token.Begin = i;
        const auto* text = reinterpret_cast<const uint8_t*>(FText.data());
        while (FEnd - i >= 8 && !AnyBelow(Load8(text + i), 33))
            i += 8;
        while (i < FEnd && text[i] > 32)
            ++i;
        token.Length = i - token.Begin;
    }
    FTokens.push_back(token);
    while (i < FEnd && IsSeparator(FText[i]))
        ++i;
    FPos = i;
    return true;
}

void TSvfTokens::SplitAll()
{
    // Plain tokens in one loop; a quoted one goes through SplitNext. Within
    // FEnd there is no NUL, so every byte up to 32 is a separator.
    const auto* text = reinterpret_cast<const uint8_t*>(FText.data());
    size_t i = FPos;
    while (i < FEnd) {
        if (text[i] == '"') {
            FPos = i;
            SplitNext();
            i = FPos;
            continue;
        }
        const size_t begin = i;
        while (FEnd - i >= 8 && !AnyBelow(Load8(text + i), 33))
            i += 8;
        while (i < FEnd && text[i] > 32)
            ++i;
        FTokens.push_back(TToken{begin, i - begin, -1});
        while (i < FEnd && text[i] <= 32)
            ++i;
    }
    FPos = i;
}

TSvfTokens SplitTokens(std::string Text)
{
    TSvfTokens tokens(std::move(Text));
    tokens.SplitAll();
    return tokens;
}

std::string TSVFFile::ReadStatementText()
{
    std::string text;
    ReadStatementInto(text);
    return text;
}

void TSVFFile::ReadStatementInto(std::string& buffer)
{
    buffer.clear();
    buffer.reserve(256);
    std::string comment;
    const bool wantComments = CopyComments && OnMessage;
    bool inComment = false;
    bool inParentheses = false;
    // A ')' was the last byte taken: the next one, unless a blank, gets a
    // blank before it, so each parenthesis has one on its outer side and a
    // group such as "(0A)" stays one token.
    bool afterClose = false;
    const auto emit = [&](uint8_t c) {
        if (afterClose) {
            afterClose = false;
            if (c != ' ')
                buffer.push_back(' ');
        }
        if (c == '(' && (buffer.empty() || buffer.back() != ' '))
            buffer.push_back(' ');
        buffer.push_back(Lex.Upper[c]);
        afterClose = c == ')';
    };
    // Line of the statement's first character, for a statement that the
    // end of the file cuts off before its ';'.
    int64_t firstLine = -1;
    bool ended = false;
    for (;;) {
        // The reader's end text is about to be handed out: whatever the
        // statement holds by now was never ended. Left to run on, the end
        // text would join it and be refused past the end of the file.
        if (FEofReached && FBufferPos == 0 && firstLine >= 0)
            RaiseLineErrorAt("Missing ';' at the end of the statement", firstLine);

        // A run of bytes that no rule changes, straight from the read buffer.
        if (FBufferPos < FBufferFill) {
            const uint8_t* from = FReadBuffer.data() + FBufferPos;
            const uint8_t* end = FReadBuffer.data() + FBufferFill;
            const uint8_t* to = from;
            if (inComment) {
                while (to < end && !Lex.LineEnd[*to])
                    ++to;
                if (wantComments)
                    comment.append(reinterpret_cast<const char*>(from), static_cast<size_t>(to - from));
            } else {
                // Everything but line ends and comment starts, written
                // straight into the text a chunk at a time: room for two
                // bytes each (a blank and the byte), cut back after. The
                // chunk grows with the text: a short statement is not
                // given the room of a long one.
                const size_t at = buffer.size();
                const ptrdiff_t chunk = std::clamp<ptrdiff_t>(static_cast<ptrdiff_t>(at), LexChunk, MaxLexChunk);
                const uint8_t* const chunkEnd = to + std::min<ptrdiff_t>(end - to, chunk);
                const size_t room = at + 2 * static_cast<size_t>(chunkEnd - to);
                // A long statement is given room for the rest of the file
                // at once, rather than copied at every doubling; pages it
                // does not fill are never touched.
                if (room > buffer.capacity() && at >= LongStatement)
                    buffer.reserve(at + static_cast<size_t>(std::max<int64_t>(FFileSize - BytesRead(), 0)) +
                                   2 * MaxLexChunk);
                buffer.resize(room);
                char* const text = buffer.data();
                char* out = text + at;
                // A ')' taken last gives the next byte that is no blank a
                // blank before it.
                const auto afterCloseBlank = [&] {
                    if (afterClose) {
                        afterClose = false;
                        *out++ = ' ';
                    }
                };
                while (to < chunkEnd) {
                    const uint8_t c = *to;
                    const TLexClass k = Lex.Class[c];
                    if (k == TLexClass::Other) {
                        // Comment starts one at a time; a line end outside
                        // a comment is counted as ReadChar counts it and is
                        // a blank: a statement per line is one run.
                        if (!Lex.LineEnd[c])
                            break;
                        const bool afterCR = to > from ? to[-1] == 13 : FAfterCR;
                        if (c == 13 || !afterCR)
                            ++LineCount;
                    }
                    ++to;
                    switch (k) {
                    case TLexClass::Other:
                    case TLexClass::White:
                        // Blanks before the first byte are trimmed in the end.
                        if (!inParentheses && out != text) {
                            afterClose = false;
                            *out++ = ' ';
                        }
                        continue;
                    case TLexClass::End:
                        afterCloseBlank();
                        *out++ = ';';
                        ended = true;
                        break;
                    case TLexClass::Open:
                        if (firstLine < 0)
                            firstLine = LineCount;
                        afterCloseBlank();
                        if (out == text || out[-1] != ' ')
                            *out++ = ' ';
                        *out++ = '(';
                        inParentheses = true;
                        continue;
                    case TLexClass::Close:
                        if (firstLine < 0)
                            firstLine = LineCount;
                        afterCloseBlank();
                        *out++ = ')';
                        afterClose = true;
                        inParentheses = false;
                        continue;
                    case TLexClass::Plain: {
                        if (firstLine < 0)
                            firstLine = LineCount;
                        afterCloseBlank();
                        *out++ = Lex.Upper[c];
                        // The rest of a run of plain bytes: a short word a
                        // byte at a time, a long one eight at a time where
                        // they are ASCII.
                        const uint8_t* const shortEnd = to + std::min<ptrdiff_t>(chunkEnd - to, 8);
                        for (; to < shortEnd && Lex.Class[*to] == TLexClass::Plain; ++to)
                            *out++ = Lex.Upper[*to];
                        if (to < shortEnd)
                            continue;
                        for (; chunkEnd - to >= 8 && PlainEight(Load8(to)); to += 8, out += 8) {
                            const uint64_t upper = UpperEight(Load8(to));
                            std::memcpy(out, &upper, 8);
                        }
                        for (; to < chunkEnd && Lex.Class[*to] == TLexClass::Plain; ++to)
                            *out++ = Lex.Upper[*to];
                        continue;
                    }
                    }
                    break;
                }
                buffer.resize(static_cast<size_t>(out - text));
            }
            if (to > from) {
                ConsumeRun(static_cast<int32_t>(to - from), to[-1] == 13);
                if (ended)
                    break;
                continue;
            }
        }

        uint8_t c = ReadChar();
        if ((c == '/' && PeekChar() == '/') || c == '!')
            inComment = true;
        if (c == 13 || c == 10) {
            if (inComment && !comment.empty() && wantComments)
                OnMessage(VisibleText(comment), MessageKind::Comment);
            inComment = false;
            comment.clear();
        }
        if (inComment) {
            if (wantComments)
                comment.push_back(static_cast<char>(c));
            continue;
        }
        if (c == '(')
            inParentheses = true;
        else if (c == ')')
            inParentheses = false;
        if (IsWhite(c)) {
            if (inParentheses)
                continue;
            c = ' ';
        } else if (firstLine < 0 && c != ';') {
            firstLine = LineCount;
        }
        emit(c);
        if (c == ';')
            break;
    }
    buffer.pop_back();

    size_t last = buffer.size();
    while (last > 0 && static_cast<uint8_t>(buffer[last - 1]) <= 32)
        --last;
    buffer.resize(last);
    size_t first = 0;
    while (first < buffer.size() && static_cast<uint8_t>(buffer[first]) <= 32)
        ++first;
    buffer.erase(0, first);
}
