// The settings file both programs share: one section [Params] of integer
// keys that fill the executor's settings fields. The desktop program reads
// it at start and writes it at every close, migrating the keys of earlier
// versions; the console program only reads it and refuses a file that
// still holds the old RUNTEST keys.
//
// Values reach the fields by field width: byte fields take the low 8 bits,
// Boolean fields are true when the value is not 0, integer fields take the
// whole value. Missing keys, values that do not convert, and a missing or
// unreadable file give the defaults, silently.
#pragma once

#include <cstdint>
#include <string>

class TJtagExecuter;

// The one section of the file.
extern const char* const SettingsSection;

// SelectedCable from the command line: choose automatically and leave the
// remembered cable alone.
constexpr int32_t AutoIgnoringLastSerial = -2;

// A serial given on a command line as hexadecimal digits (as after "$"),
// at most 64 bits; false for an empty text or any other character.
bool SerialTextToInt64(const std::string& Text, int64_t& Value);

// SelectedCable and PreferredKind from a command line's serial text and
// cable kind (0, or the kind byte in bits 24-31): a hexadecimal serial
// names a cable of that kind by its low 24 bits (a short serial gets the
// usual 01 in bits 16-23); "-" asks for the automatic choice without the
// remembered cable (-2); anything else leaves the choice automatic, with a
// Mirrow preferred when the kind is the Mirrow's.
void ChooseCableFromSerial(TJtagExecuter& Executer, const std::string& SerialText, int32_t CableKind);

// The console's refusal of a file with obsolete keys, for standard error.
extern const char* const ObsoleteSettingsText;

// The program's own path with its extension replaced by ".ini" (added when
// it has none): /usr/bin/orbeskcon gives /usr/bin/orbeskcon.ini.
std::string SettingsPathBeside(const std::string& ProgramFile);

// The desktop's default: its program path with ".ini".
std::string DesktopSettingsPath(const std::string& ProgramFile);

// The console's default: its own "<program>.ini" when that file exists;
// else the desktop's orbesk.ini in the same folder when that one exists;
// else the first (which then reads as empty).
std::string ConsoleSettingsPath(const std::string& ProgramFile);

// The same two for the running program's file.
std::string DesktopSettingsPath();
std::string ConsoleSettingsPath();

// There is a file of that name (anything but a folder): the console's test
// of its data file and of a path given by -I, the same one
// ConsoleSettingsPath uses.
bool SettingsFileExists(const std::string& Path);

// Console reader. Run after the command line has set SelectedCable and
// PreferredKind: SelectedCable -2 becomes -1 without reading LastSerial,
// -1 takes LastSerial, any other value stays. ShowComments receives the low
// 8 bits of WriteComments. False when RTwTime or RTwCount is present
// (whatever their values): nothing was read then, and the caller writes
// ObsoleteSettingsText to standard error and ends.
bool LoadConsoleSettings(const std::string& Path, TJtagExecuter& Executer, uint8_t& ShowComments);

// Desktop reader, with the desktop's defaults and the migration of the
// obsolete keys; the same rule for SelectedCable as the console's.
// WriteComments receives the comment switch (low 8 bits of the key not 0).
void LoadSettings(const std::string& Path, TJtagExecuter& Executer, bool& WriteComments);

// Desktop writer: all nineteen keys in plain decimal (LastSerial from
// SelectedCable, WriteComments 1 or 0), the obsolete keys deleted, every
// other key and section kept. The file is replaced as a whole, so a failure
// leaves the old file as it was; Reason, when given, then receives why.
bool SaveSettings(const std::string& Path, const TJtagExecuter& Executer, bool WriteComments,
                  std::string* Reason = nullptr);

// Whether SaveSettings could write the file at Path, judged without writing
// anything; Reason says why not.
bool SettingsCanBeSaved(const std::string& Path, std::string& Reason);
