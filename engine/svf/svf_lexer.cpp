// The SVF lexer (comments, parentheses, blanks, letter case) and the
// tokenizer.
#include "svf/svf_lexer.h"

#include <algorithm>

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
struct TLexTables {
    bool Plain[256];
    bool LineEnd[256];
    char Upper[256];
    TLexTables()
    {
        for (int c = 0; c < 256; ++c) {
            const auto u = static_cast<uint8_t>(c);
            Plain[c] = !IsWhite(u) && c != '/' && c != '!' && c != '(' && c != ')' && c != ';';
            LineEnd[c] = c == 13 || c == 10;
            Upper[c] = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
        }
    }
};
const TLexTables Lex;

} // namespace

TSvfTokens::TSvfTokens(std::string Text) : FText(std::move(Text))
{
    // A NUL ends the text, as it ends the class library's character strings.
    FEnd = std::min(FText.size(), FText.find('\0'));
    while (FPos < FEnd && IsSeparator(FText[FPos]))
        ++FPos;
}

std::string_view TSvfTokens::View(int32_t Index) const
{
    if (Index < 0 || Index >= Count())
        throw Exception("List index out of bounds (" + std::to_string(Index) + ")");
    const TToken& t = FTokens[static_cast<size_t>(Index)];
    if (t.Own >= 0)
        return FOwn[static_cast<size_t>(t.Own)];
    return std::string_view(FText).substr(t.Begin, t.Length);
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
        while (i < FEnd && static_cast<uint8_t>(FText[i]) > 32)
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
    while (SplitNext()) {
    }
}

TSvfTokens SplitTokens(std::string Text)
{
    TSvfTokens tokens(std::move(Text));
    tokens.SplitAll();
    return tokens;
}

std::string TSVFFile::ReadStatementText()
{
    std::string buffer;
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
                while (to < end && Lex.Plain[*to])
                    ++to;
                if (to > from) {
                    if (firstLine < 0)
                        firstLine = LineCount;
                    emit(*from);
                    const size_t at = buffer.size();
                    buffer.resize(at + static_cast<size_t>(to - from - 1));
                    char* out = buffer.data() + at;
                    for (const uint8_t* p = from + 1; p < to; ++p)
                        *out++ = Lex.Upper[*p];
                }
            }
            if (to > from) {
                ConsumeRun(static_cast<int32_t>(to - from));
                continue;
            }
        }

        uint8_t c = ReadChar();
        if ((c == '/' && PeekChar() == '/') || c == '!')
            inComment = true;
        if (c == 13 || c == 10) {
            if (inComment && !comment.empty() && wantComments)
                OnMessage(comment, MessageKind::Comment);
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
    return buffer;
}
