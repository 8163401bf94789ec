// The console's look at its settings file beyond reading it: a file named
// by -i that cannot be used is refused, and what would be read as if it
// were fine gets a warning line naming the key, its value and what is used
// instead.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class TJtagExecuter;

// Empty when Path is a file that can be read; else the line that says why
// not (missing, a directory, or the system's reason).
std::string SettingsFileRefusal(const std::string& Path);

// LoadConsoleSettings (false on obsolete keys, as there), and one warning
// line each into Warnings for: a file that is not text (read as empty:
// the defaults), keys of the settings that stand outside [Params] (not
// read), and values outside their key's range (the key's default instead).
bool LoadCheckedConsoleSettings(const std::string& Path, TJtagExecuter& Executer, uint8_t& ShowComments,
                                std::vector<std::string>& Warnings);
