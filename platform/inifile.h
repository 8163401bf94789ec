// An INI file read whole into memory and written back whole, keeping what
// it does not touch: other sections, other keys, comments, blank lines and
// the order of everything. Section and key names match without regard to
// ASCII letter case; the first section of a name and the first key of a
// name within it are the ones read and written.
//
// Line forms: "[Name]" starts a section; "Key=Value" is a key, blanks
// around the key and the value dropped, and a value enclosed in matching
// double or single quotes loses them; a line without '=' names a key with
// an empty value; lines beginning with ';' are comments; lines before the
// first section belong to none. LF and CR LF line ends are both read; a
// file written back keeps CR LF when it had them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

class TIniFile {
public:
    // Reads the file; a missing file reads as one without keys, and so
    // does one that cannot be read, which UpdateFile then refuses to replace.
    explicit TIniFile(std::string FileName);

    const std::string& FileName() const { return FFileName; }

    // The section lists the key, whatever its value (an empty one counts).
    bool ValueExists(const std::string& Section, const std::string& Key) const;
    std::string ReadString(const std::string& Section, const std::string& Key, const std::string& Default) const;
    // The value by IniStrToInt; Default when the key is missing or its
    // value does not convert.
    int32_t ReadInteger(const std::string& Section, const std::string& Key, int32_t Default) const;

    // The keys no reader of Section sees: those before the first section,
    // in other sections and in later sections of the same name; each with
    // its value and the name of the section it stands in (empty for none).
    struct TStrayKey {
        std::string Key;
        std::string Value;
        std::string Section;
    };
    std::vector<TStrayKey> KeysOutside(const std::string& Section) const;

    // Replace the value of the key, else add the key at the end of its
    // section, else add the section at the end of the file. In memory
    // only, until UpdateFile.
    void WriteString(const std::string& Section, const std::string& Key, const std::string& Value);
    // Plain decimal.
    void WriteInteger(const std::string& Section, const std::string& Key, int32_t Value);
    // Removes every line of the key in the section; nothing when absent.
    void DeleteKey(const std::string& Section, const std::string& Key);

    // Writes the whole text to a temporary file in the same folder and
    // renames it over the file, so that a failure at any point leaves the
    // old file as it was and no temporary file behind. False on failure,
    // and when the file existed but could not be read.
    bool UpdateFile();

private:
    struct TLocation {
        size_t Line;
        bool Found;
    };
    // The header line of the section, or Found false.
    TLocation FindSection(const std::string& Section) const;
    // The first key line within the section starting at Header, or the
    // line after the last non-blank line of that section (Found false).
    TLocation FindKey(size_t Header, const std::string& Key) const;
    const std::string* FindValueLine(const std::string& Section, const std::string& Key) const;

    std::string FFileName;
    std::string FBom; // a UTF-8 byte order mark that the file began with
    std::vector<std::string> FLines;
    bool FCrLf = false;
    bool FUnreadable = false;
};

// The value forms of INI integers: "0x" or "0X" and hexadecimal digits
// (the whole text longer than two characters); "$" and hexadecimal digits;
// else an optional sign and decimal digits. Hexadecimal values use up to 32
// bits and wrap into the signed result ("$FFFFFFFF" is -1); decimal values
// must lie in its range. False, Value untouched, for anything else.
bool IniStrToInt(const std::string& Text, int32_t& Value);

// Test seam: while Bytes is 0 or more, the temporary file written by
// UpdateFile takes at most that many bytes and the write after them fails
// as on a full disk. -1 restores normal writing.
void SetIniWriteLimitForTest(int64_t Bytes);

} // namespace platform
