// The error by which every SVF parse or play error names its line.
#pragma once

#include <cstdint>
#include <string>

#include "base/StrUtilsEx.h"
#include "base/sysutils.h"

class ELineException : public Exception {
public:
    // LineIndex is 0-based; LineNumber is reported 1-based. LineText comes
    // without its CR and LF. Both texts hold the file's bytes, shown with
    // their control characters escaped.
    ELineException(const std::string& Message, int64_t LineIndex, const std::string& LineText)
        : Exception(VisibleText(Message)), LineNumber(LineIndex + 1), LineText(VisibleText(LineText))
    {
    }

    int64_t LineNumber;
    std::string LineText;
};
