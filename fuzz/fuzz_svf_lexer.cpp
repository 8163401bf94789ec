// The SVF lexer and tokenizer over a whole file: every statement text is
// normalised (no blanks at its ends, upper case, no ';'), every unquoted
// token is free of blanks, and the reader ends.
#include <algorithm>
#include <cstdint>
#include <string>

#include "fuzz_common.h"
#include "svf/svf.h"
#include "svf/svf_lexer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size)
{
    const std::string path = fuzz::InputFile(Data, Size);
    const std::string input(reinterpret_cast<const char*>(Data), Size);
    TSVFFile file(path);
    file.OnMessage = [](const std::string& Text, MessageKind Kind) {
        if (Kind != MessageKind::Comment || Text.empty())
            fuzz::Finding("comment message of the wrong kind or empty");
        if (Text.find_first_of("\r\n") != std::string::npos)
            fuzz::Finding("comment with a line end");
    };
    // Every statement but the end marker consumes a ';' of the file.
    const size_t most = static_cast<size_t>(std::count(input.begin(), input.end(), ';')) + 1;
    try {
        for (size_t n = 0;; ++n) {
            if (n > most)
                fuzz::Finding("more statements than the file has ';'");
            const std::string text = file.ReadStatementText();
            if (!text.empty() && (static_cast<uint8_t>(text.front()) <= 32 || static_cast<uint8_t>(text.back()) <= 32))
                fuzz::Finding("statement text with blanks at an end");
            for (const char c : text)
                if ((c >= 'a' && c <= 'z') || c == ';')
                    fuzz::Finding("statement text not normalised");
            const TSvfTokens tokens = SplitTokens(text);
            for (int32_t i = 0; i < tokens.Count(); ++i) {
                const std::string& token = tokens.Get(i);
                if (token.find('"') == std::string::npos && text.find('"') == std::string::npos)
                    for (const char c : token)
                        if (static_cast<uint8_t>(c) <= 32)
                            fuzz::Finding("unquoted token with a blank");
            }
            if (text == "__EOF" && file.EofReached())
                break;
        }
    } catch (const ELineException& e) {
        if (e.Message() != "Missing ';' at the end of the statement")
            fuzz::Finding("the lexer refused with: " + e.Message());
    }
    return 0;
}
