// The error by which every SVF parse or play error names its line.
#pragma once

#include <cstdint>
#include <string>

#include "base/sysutils.h"

class ELineException : public Exception {
public:
    // LineIndex is 0-based; LineNumber is reported 1-based. LineText comes
    // without its CR and LF.
    ELineException(const std::string& Message, int64_t LineIndex, std::string LineText)
        : Exception(Message), LineNumber(LineIndex + 1), LineText(std::move(LineText))
    {
    }

    int64_t LineNumber;
    std::string LineText;
};
