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

// One blank on the outer side of every parenthesis, never two; a group
// such as "(0A)" stays one token.
std::string SpaceParentheses(const std::string& Text)
{
    std::string out;
    out.reserve(Text.size() + 8);
    for (size_t i = 0; i < Text.size(); ++i) {
        const char c = Text[i];
        if (c == '(' && (out.empty() || out.back() != ' '))
            out.push_back(' ');
        out.push_back(c);
        if (c == ')' && (i + 1 == Text.size() || Text[i + 1] != ' '))
            out.push_back(' ');
    }
    return out;
}

} // namespace

const std::string& TSvfTokens::Get(int32_t Index) const
{
    if (Index < 0 || Index >= Count())
        throw Exception("List index out of bounds (" + std::to_string(Index) + ")");
    return FTokens[static_cast<size_t>(Index)];
}

void TSvfTokens::Consume(int32_t Index)
{
    if (Index >= 0 && Index < Count())
        FTokens[static_cast<size_t>(Index)].clear();
}

TSvfTokens SplitTokens(const std::string& Text)
{
    std::vector<std::string> tokens;
    // A NUL ends the text, as it ends the class library's character strings.
    const size_t n = std::min(Text.size(), Text.find('\0'));
    size_t i = 0;
    while (i < n && IsSeparator(Text[i]))
        ++i;
    while (i < n) {
        std::string token;
        if (Text[i] == '"') {
            ++i;
            bool closed = false;
            while (i < n) {
                if (Text[i] == '"') {
                    if (i + 1 < n && Text[i + 1] == '"') {
                        token.push_back('"');
                        i += 2;
                        continue;
                    }
                    ++i;
                    closed = true;
                    break;
                }
                token.push_back(Text[i]);
                ++i;
            }
            if (!closed && !token.empty())
                token.pop_back();
        } else {
            while (i < n && static_cast<uint8_t>(Text[i]) > 32) {
                token.push_back(Text[i]);
                ++i;
            }
        }
        tokens.push_back(std::move(token));
        while (i < n && IsSeparator(Text[i]))
            ++i;
    }
    return TSvfTokens(std::move(tokens));
}

std::string TSVFFile::ReadStatementText()
{
    std::string buffer;
    buffer.reserve(256);
    std::string comment;
    bool inComment = false;
    bool inParentheses = false;
    // Line of the statement's first character, for a statement that the
    // end of the file cuts off before its ';'.
    int64_t firstLine = -1;
    for (;;) {
        // The reader's end text is about to be handed out: whatever the
        // statement holds by now was never ended. Left to run on, the end
        // text would join it and be refused past the end of the file.
        if (FEofReached && FBufferPos == 0 && firstLine >= 0)
            RaiseLineErrorAt("Missing ';' at the end of the statement", firstLine);
        uint8_t c = ReadChar();
        if ((c == '/' && PeekChar() == '/') || c == '!')
            inComment = true;
        if (c == 13 || c == 10) {
            if (inComment && !comment.empty() && CopyComments && OnMessage)
                OnMessage(comment, MessageKind::Comment);
            inComment = false;
            comment.clear();
        }
        if (inComment) {
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
        buffer.push_back(static_cast<char>(c));
        if (c == ';')
            break;
    }
    buffer.pop_back();

    std::string text = SpaceParentheses(buffer);
    UpperCaseAscii(text);
    size_t first = 0;
    while (first < text.size() && static_cast<uint8_t>(text[first]) <= 32)
        ++first;
    size_t last = text.size();
    while (last > first && static_cast<uint8_t>(text[last - 1]) <= 32)
        --last;
    return text.substr(first, last - first);
}
