// The SVF statement parser and the LOOP ... ENDLOOP recording and replay.
#include <algorithm>
#include <limits>
#include <vector>

#include "hexdigit.h"
#include "base/checked_file.h"
#include "svf/svf.h"
#include "svf/svf_lexer.h"
#include "base/sysconv.h"

namespace {

// A number that is well formed but may be too long for 64 bits: an
// optional sign and decimal digits, or '$' and hexadecimal digits.
bool IsIntegerLiteral(const std::string& Text)
{
    const bool hex = !Text.empty() && Text[0] == '$';
    size_t i = hex ? 1 : ((!Text.empty() && (Text[0] == '+' || Text[0] == '-')) ? 1 : 0);
    if (i == Text.size())
        return false;
    for (; i < Text.size(); ++i) {
        const char c = Text[i];
        const bool digit = hex ? HexDigitValue(c) >= 0 : c >= '0' && c <= '9';
        if (!digit)
            return false;
    }
    return true;
}

bool SameBytes(std::string_view A, std::string_view B)
{
    for (size_t i = 0; i < A.size(); ++i)
        if (A[i] != B[i])
            return false;
    return true;
}

// A number of at most nine decimal digits, the common case, read without a
// copy; anything else goes through the conversions with their errors.
bool ShortDecimal(std::string_view Text, int32_t& Value)
{
    if (Text.empty() || Text.size() > 9)
        return false;
    int32_t v = 0;
    for (const char c : Text) {
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + (c - '0');
    }
    Value = v;
    return true;
}

constexpr int CommandWordCount = static_cast<int>(SvfCommand::Eof) + 1;
constexpr int KeywordCount = static_cast<int>(SvfItemKind::SCK) + 1;

// The words of a table by their first byte: a token is compared with the
// few words that begin as it does, and a vector or a number with none.
template <typename Code, int Count>
struct TWordTable {
    struct TWord {
        std::string_view Text;
        Code Value;
    };
    std::vector<TWord> ByFirst[256];
    explicit TWordTable(const char* (*Name)(Code))
    {
        for (int k = 0; k < Count; ++k) {
            const std::string_view word = Name(static_cast<Code>(k));
            if (!word.empty())
                ByFirst[static_cast<uint8_t>(word[0])].push_back({word, static_cast<Code>(k)});
        }
    }
    bool Find(std::string_view Token, Code& Found) const
    {
        if (Token.empty())
            return false;
        // Words are short: compared byte by byte, no call into the library.
        for (const TWord& w : ByFirst[static_cast<uint8_t>(Token[0])])
            if (w.Text.size() == Token.size() && SameBytes(w.Text, Token)) {
                Found = w.Value;
                return true;
            }
        return false;
    }
};
const TWordTable<SvfItemKind, KeywordCount> Keywords(SvfItemKindName);
const TWordTable<SvfCommand, CommandWordCount> CommandWords(SvfCommandName);

bool FindKeyword(std::string_view Token, SvfItemKind& Kind)
{
    return Keywords.Find(Token, Kind);
}

// The text is upper case by now. Bad is 1 for a byte that is no digit:
// such a vector is refused before its digits are stored.
struct THexTable {
    uint8_t Value[256];
    uint8_t Bad[256];
    THexTable()
    {
        for (int c = 0; c < 256; ++c) {
            const int digit = HexDigitValue(static_cast<char>(c));
            Value[c] = static_cast<uint8_t>(std::max(digit, 0));
            Bad[c] = digit < 0 ? 1 : 0;
        }
    }
};
const THexTable Hex;

// The first byte of Digits that is no hexadecimal digit; -1 when all are.
// Summed over the whole text first, which the compiler does many bytes at
// a time: a vector of millions of digits is checked at memory speed.
int FirstNonHex(std::string_view Digits)
{
    const auto* d = reinterpret_cast<const uint8_t*>(Digits.data());
    uint8_t bad = 0;
    for (size_t i = 0; i < Digits.size(); ++i)
        bad |= Hex.Bad[d[i]];
    if (bad == 0)
        return -1;
    for (size_t i = 0;; ++i)
        if (Hex.Bad[d[i]])
            return d[i];
}

// A byte as a message names it: the character itself when printable.
std::string ShownByte(int Byte)
{
    if (Byte > 32 && Byte < 127)
        return std::string("'") + static_cast<char>(Byte) + "'";
    static const char digits[] = "0123456789ABCDEF";
    return std::string("byte 0x") + digits[Byte >> 4] + digits[Byte & 15];
}

// Digits, rightmost first, into the bytes of Vector: the last two digits give
// byte 0 (the last digit its low four bits); surplus digits on the left fall
// beyond the vector and are dropped, missing ones leave zeros.
void StoreHexDigits(std::string_view Digits, TVarLen& Vector)
{
    uint8_t* out = Vector.Data();
    const size_t bytes = static_cast<size_t>(Vector.ByteLength());
    const auto* d = reinterpret_cast<const uint8_t*>(Digits.data());
    size_t end = Digits.size();
    size_t i = 0;
    for (; i < bytes && end >= 2; ++i, end -= 2)
        out[i] = static_cast<uint8_t>(Hex.Value[d[end - 2]] << 4 | Hex.Value[d[end - 1]]);
    if (i < bytes && end == 1)
        out[i] = Hex.Value[d[0]];
}

// A token as an error message shows it: a word of millions of characters
// is cut.
std::string ShownToken(std::string_view Token)
{
    constexpr size_t Shown = 80;
    if (Token.size() <= Shown)
        return std::string(Token);
    return std::string(Token.substr(0, Shown)) + "...";
}

bool IsScan(SvfCommand Command)
{
    return Command >= SvfCommand::HDR && Command <= SvfCommand::TIR;
}

SvfItem& AddItem(TSVFCommand& Statement, SvfItemKind Kind)
{
    Statement.Items.emplace_back();
    Statement.Items.back().Kind = Kind;
    return Statement.Items.back();
}

int32_t ParseIntToken(TSvfTokens& Tokens, int32_t Index)
{
    int32_t value = 0;
    if (!ShortDecimal(Tokens.View(Index), value))
        value = StrToInt(Tokens.Get(Index));
    Tokens.Consume(Index);
    return value;
}

long double ParseFloatToken(TSvfTokens& Tokens, int32_t Index)
{
    const long double value = StrToFloat(Tokens.Get(Index));
    Tokens.Consume(Index);
    return value;
}

// Bits from the lowest up to the highest set one, of hexadecimal digits
// written most significant first.
uint64_t SignificantBits(std::string_view Digits)
{
    const size_t first = Digits.find_first_not_of('0');
    if (first == std::string_view::npos)
        return 0;
    const char c = Digits[first];
    const int value = c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
    const uint64_t top = value >= 8 ? 4 : value >= 4 ? 3 : value >= 2 ? 2 : 1;
    return (Digits.size() - first - 1) * uint64_t{4} + top;
}

} // namespace

void TSVFFile::ParseStatement(TSVFCommand& Statement)
{
    try {
        ParseStatementText(Statement);
    } catch (const ELineException&) {
        throw;
    } catch (const EFileChanged&) {
        throw;
    } catch (const Exception& e) {
        // The number conversions' own errors name no line.
        RaiseLineError(e.Message());
    }
}

void TSVFFile::ParseStatementText(TSVFCommand& Statement)
{
    TSvfTokens& tokens = FTokens;
    ReadStatementInto(tokens.Text());
    tokens.Restart();
    Statement.Items.clear();
    Statement.InLoop = false;
    Statement.Command = SvfCommand::None;

    // The command word is looked at before the rest is cut: a statement
    // that no command starts costs no more than its text.
    if (!tokens.SplitNext())
        RaiseLineError("Empty statement: a ';' with no command before it");
    const std::string_view word = tokens.View(0);
    CommandWords.Find(word, Statement.Command);
    // "__EOF" is the reader's own end marker; written in the file it would
    // end the run early as if the file were done.
    if (Statement.Command == SvfCommand::None || (Statement.Command == SvfCommand::Eof && !FEofReached))
        RaiseLineError("Unknown SVF command " + ShownToken(word));
    tokens.Consume(0);
    tokens.SplitAll();

    int32_t length = 0;
    if (IsScan(Statement.Command)) {
        // Range-checked before any vector is sized from it.
        const std::string_view token = tokens.View(1);
        int64_t value = 0;
        int32_t shortValue = 0;
        if (ShortDecimal(token, shortValue)) {
            value = shortValue;
        } else if (const std::string text(token); !TryStrToInt64(text, value)) {
            // A number too long for 64 bits is out of range, not malformed.
            if (!IsIntegerLiteral(text))
                value = StrToInt64(text); // raises the conversion error
            else
                value = -1;
        }
        if (value < 0 || value > std::numeric_limits<int32_t>::max())
            RaiseLineError("Scan length " + ShownToken(token) + " is out of range (0 to 2147483647)");
        tokens.Consume(1);
        length = static_cast<int32_t>(value);
        CheckScanMemory(Statement.Command, length);
        AddItem(Statement, SvfItemKind::Number).Value = length;
    } else if (Statement.Command == SvfCommand::LOOP) {
        const int32_t count = ParseIntToken(tokens, 1);
        // A loop that runs no pass would skip its body, checks included.
        if (count < 1)
            RaiseLineError("LOOP count " + std::to_string(count) + " is below 1");
        AddItem(Statement, SvfItemKind::Number).Value = count;
    }

    for (int32_t b = 1; b < tokens.Count(); ++b) {
        SvfItemKind kind{};
        if (!FindKeyword(tokens.View(b), kind))
            continue;
        tokens.Consume(b);
        switch (kind) {
        case SvfItemKind::TDI:
        case SvfItemKind::TDO:
        case SvfItemKind::MASK:
        case SvfItemKind::SMASK: {
            const std::string_view hex = tokens.View(b + 1);
            if (hex.size() < 2 || hex.front() != '(' || hex.back() != ')')
                RaiseLineError("Hexadecimal number is not enclosed in parentheses.");
            const std::string_view digits = hex.substr(1, hex.size() - 2);
            if (const int bad = FirstNonHex(digits); bad >= 0)
                RaiseLineError("Hexadecimal number holds " + ShownByte(bad) + ", which is not a hexadecimal digit.");
            // Zero digits beyond the length are common in vendor files; a
            // set bit there would be dropped.
            if (IsScan(Statement.Command) && SignificantBits(digits) > static_cast<uint64_t>(length))
                RaiseLineError(std::string(SvfItemKindName(kind)) + " value has a set bit beyond the scan length of " +
                               std::to_string(length) + " bits");
            // The check keeps lengths only: a long vector is neither
            // stored nor allocated.
            const bool bitsRead = Side != TSide::Check;
            TVarLen vector;
            if (!bitsRead) {
                vector = TVarLen::LengthOnly(length);
            } else {
                vector = NewScanVector(length);
                StoreHexDigits(digits, vector);
            }
            tokens.Consume(b + 1);
            AddItem(Statement, kind).Vector = std::move(vector);
            break;
        }
        case SvfItemKind::SEC:
        case SvfItemKind::HZ: {
            const long double value = ParseFloatToken(tokens, b - 1);
            AddItem(Statement, kind).FloatValue = value;
            break;
        }
        case SvfItemKind::MAXIMUM: {
            const long double value = ParseFloatToken(tokens, b + 1);
            if (tokens.Get(b + 2) != "SEC")
                RaiseLineError("Keyword MAXIMUM without keyword SEC");
            tokens.Consume(b + 2);
            AddItem(Statement, kind).FloatValue = value;
            break;
        }
        default:
            AddItem(Statement, kind);
            break;
        }
    }

    if (Statement.Command == SvfCommand::RUNTEST)
        for (int32_t p = 0; p < tokens.Count(); ++p)
            if (!tokens.View(p).empty()) {
                const int32_t count = ParseIntToken(tokens, p);
                AddItem(Statement, SvfItemKind::Number).Value = count;
                break;
            }

    for (int32_t p = 0; p < tokens.Count(); ++p)
        if (!tokens.View(p).empty())
            RaiseLineError("Unknown keyword " + ShownToken(tokens.View(p)));
    tokens.Shrink();
}

void TSVFFile::NextStatement(TSVFCommand& Statement)
{
    if (!LoopRecording.empty()) {
        if (ReplayIndex >= static_cast<int32_t>(LoopRecording.size())) {
            ReplayIndex = 0;
            --PassesLeft;
        }
        if (PassesLeft > 0) {
            CopyStatement(LoopRecording[static_cast<size_t>(ReplayIndex)], Statement);
            ++ReplayIndex;
            Statement.InLoop = PassesLeft > 1;
            return;
        }
        for (TSVFCommand& recorded : LoopRecording)
            FreeStatement(recorded);
        LoopRecording.clear();
    }

    ParseStatement(Statement);
    if (Statement.Command == SvfCommand::ENDLOOP)
        RaiseLineError("ENDLOOP without LOOP");
    if (Statement.Command != SvfCommand::LOOP)
        return;

    const int64_t loopLine = LineCount;
    ReplayIndex = 0;
    PassesLeft = ItemInt(Statement, SvfItemKind::Number);
    // Two passes show what a pass meets and what a pass leaves to the next.
    if (Side == TSide::Check)
        PassesLeft = std::min(PassesLeft, 2);
    LoopRecording.reserve(16);
    for (;;) {
        LoopRecording.emplace_back();
        ParseStatement(LoopRecording.back());
        const SvfCommand recorded = LoopRecording.back().Command;
        if (recorded == SvfCommand::ENDLOOP)
            break;
        // Loops do not nest: replayed, an inner LOOP would repeat nothing.
        if (recorded == SvfCommand::LOOP) {
            LoopRecording.clear();
            RaiseLineError("LOOP inside a LOOP body");
        }
        // The reader supplies "__EOF" for ever: a body that reaches it has
        // no ENDLOOP and would never end.
        if (recorded == SvfCommand::Eof) {
            LoopRecording.clear();
            RaiseLineErrorAt("LOOP without ENDLOOP", loopLine);
        }
    }
    LoopRecording.shrink_to_fit();
}
