// The blank-separated tokens of one SVF statement text.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class TSvfTokens {
public:
    TSvfTokens() = default;
    explicit TSvfTokens(std::vector<std::string> Tokens) : FTokens(std::move(Tokens)) {}

    int32_t Count() const { return static_cast<int32_t>(FTokens.size()); }
    // Raises Exception "List index out of bounds (<Index>)" outside the list,
    // as the class library's string list does.
    const std::string& Get(int32_t Index) const;
    // A used token becomes the empty text and matches nothing any more.
    void Consume(int32_t Index);

private:
    std::vector<std::string> FTokens;
};

// Cuts a statement text at runs of bytes 1..32. A token that begins with a
// double quote runs to the closing quote (two quotes stand for one), so it
// may hold blanks; without a closing quote it is the rest of the text less
// its last character.
TSvfTokens SplitTokens(const std::string& Text);
