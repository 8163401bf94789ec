// The desktop program's command line and the open dialog's filter: plain
// functions, so that the window's creation only applies their results.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class TJtagFilesList;

// What the options ask for. An option is the whole argument, any case; its
// value is the next argument verbatim (empty past the end), which is looked
// at as an option too. The last occurrence of an option wins.
struct TDesktopCommandLine {
    bool CloseOnSuccess = false;           // -C
    bool CloseOnFailure = false;           // -CC
    bool ProcessAtStart = false;           // -P
    std::optional<std::string> SettingsPath; // -I
    std::optional<std::string> DataFile;   // -F
    std::string SerialText;                // -S
    int32_t CableKind = 0;                 // -MIRROW or -DRUVEL, the later one
    // The lines echoed into the log: every argument verbatim, between a
    // header and a footer when there is more than one.
    std::vector<std::string> Echo;
};

// Args without the program's own name.
TDesktopCommandLine ParseDesktopCommandLine(const std::vector<std::string>& Args);

// The filter in "text|patterns|text|patterns" form, one entry a registered
// player type in registration order, then one of them all when there are
// several; and the entry chosen at first (1-based): the combined one.
struct TOpenFilter {
    std::string Filter;
    int FilterIndex = 1;
};
TOpenFilter BuildOpenFilter(const TJtagFilesList* Registry);

// One entry of such a filter: the text shown and its ';'-separated patterns.
struct TFilterEntry {
    std::string Text;
    std::string Patterns;
};
std::vector<TFilterEntry> SplitOpenFilter(const std::string& Filter);
