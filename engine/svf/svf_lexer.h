// The blank-separated tokens of one SVF statement text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class TSvfTokens {
public:
    TSvfTokens() = default;
    // Holds the text; tokens are cut from it by SplitNext or SplitAll.
    explicit TSvfTokens(std::string Text);

    int32_t Count() const { return static_cast<int32_t>(FTokens.size()); }
    // Raises Exception "List index out of bounds (<Index>)" outside the list,
    // as the class library's string list does.
    std::string Get(int32_t Index) const { return std::string(View(Index)); }
    // The same token without a copy; valid while the tokens live.
    std::string_view View(int32_t Index) const
    {
        if (Index < 0 || Index >= Count())
            RaiseOutOfBounds(Index);
        const TToken& t = FTokens[static_cast<size_t>(Index)];
        if (t.Own >= 0)
            return FOwn[static_cast<size_t>(t.Own)];
        return std::string_view(FText).substr(t.Begin, t.Length);
    }
    // A used token becomes the empty text and matches nothing any more.
    void Consume(int32_t Index);

    // The text, to be refilled in place and cut again after Restart: a
    // parser reuses one for every statement.
    std::string& Text() { return FText; }
    // Forgets the tokens and starts cutting the text from its beginning.
    void Restart();
    // Gives back the memory of a long text.
    void Shrink();

    // Cuts the next token; false when the text has none left.
    bool SplitNext();
    void SplitAll();

private:
    // A token is a piece of the text, or (a quoted one with doubled quotes)
    // a text of its own.
    [[noreturn]] static void RaiseOutOfBounds(int32_t Index);

    struct TToken {
        size_t Begin = 0;
        size_t Length = 0;
        int32_t Own = -1;
    };
    std::string FText;
    size_t FEnd = 0; // where the text ends: its size, or its first NUL
    size_t FPos = 0; // next byte to cut from
    std::vector<TToken> FTokens;
    std::vector<std::string> FOwn;
};

// Cuts a statement text at runs of bytes 1..32. A token that begins with a
// double quote runs to the closing quote (two quotes stand for one), so it
// may hold blanks; without a closing quote it is the rest of the text less
// its last character.
TSvfTokens SplitTokens(std::string Text);
