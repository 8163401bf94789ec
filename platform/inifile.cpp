#include "inifile.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "filereader.h"
#include "hexdigit.h"

namespace platform {

namespace {

// A settings file this large is not one; reading it would only eat memory.
constexpr int64_t MaxIniFileSize = 16 * 1024 * 1024;

std::atomic<int64_t> WriteLimit{-1};

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

std::string Trim(const std::string& Text)
{
    size_t first = 0;
    size_t last = Text.size();
    while (first < last && IsBlank(Text[first]))
        ++first;
    while (last > first && IsBlank(Text[last - 1]))
        --last;
    return Text.substr(first, last - first);
}

bool SameText(const std::string& A, const std::string& B)
{
    if (A.size() != B.size())
        return false;
    for (size_t i = 0; i < A.size(); ++i) {
        char a = A[i];
        char b = B[i];
        if (a >= 'a' && a <= 'z')
            a = static_cast<char>(a - 0x20);
        if (b >= 'a' && b <= 'z')
            b = static_cast<char>(b - 0x20);
        if (a != b)
            return false;
    }
    return true;
}

enum class TLineKind { Other, Section, Key };

struct TLine {
    TLineKind Kind = TLineKind::Other;
    std::string Name;  // section or key name, trimmed
    std::string Value; // key value, trimmed and unquoted
};

TLine Classify(const std::string& Text)
{
    TLine line;
    const std::string t = Trim(Text);
    if (t.empty() || t[0] == ';')
        return line;
    if (t[0] == '[') {
        const size_t close = t.find(']');
        line.Kind = TLineKind::Section;
        line.Name = Trim(t.substr(1, close == std::string::npos ? std::string::npos : close - 1));
        return line;
    }
    line.Kind = TLineKind::Key;
    const size_t eq = t.find('=');
    if (eq == std::string::npos) {
        line.Name = t;
        return line;
    }
    line.Name = Trim(t.substr(0, eq));
    std::string value = Trim(t.substr(eq + 1));
    if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0])
        value = value.substr(1, value.size() - 2);
    line.Value = value;
    return line;
}

bool HexToInt(const std::string& Digits, int32_t& Value)
{
    uint64_t v = 0;
    if (!HexDigitsToUInt(Digits, 0xFFFFFFFFull, v))
        return false;
    Value = static_cast<int32_t>(static_cast<uint32_t>(v));
    return true;
}

// Writes all of Data, or fails; the seam cuts the file short.
bool WriteAll(int Fd, const std::string& Data)
{
    const int64_t limit = WriteLimit.load();
    size_t done = 0;
    while (done < Data.size()) {
        size_t chunk = Data.size() - done;
        if (limit >= 0) {
            if (static_cast<int64_t>(done) >= limit) {
                errno = ENOSPC;
                return false;
            }
            chunk = std::min(chunk, static_cast<size_t>(limit - static_cast<int64_t>(done)));
        }
        const ssize_t n = ::write(Fd, Data.data() + done, chunk);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

// The file that a rename must replace: the target of a symbolic link, so
// that the link stays.
std::string ResolveTarget(const std::string& FileName)
{
    struct stat st {};
    if (::lstat(FileName.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
        return FileName;
    char* real = ::realpath(FileName.c_str(), nullptr);
    if (!real)
        return FileName;
    std::string result(real);
    std::free(real);
    return result;
}

void SyncFolderOf(const std::string& FileName)
{
    const size_t slash = FileName.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : FileName.substr(0, slash);
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        (void)::fsync(fd);
        ::close(fd);
    }
}

} // namespace

bool IniStrToInt(const std::string& Text, int32_t& Value)
{
    if (Text.size() > 2 && Text[0] == '0' && (Text[1] == 'x' || Text[1] == 'X'))
        return HexToInt(Text.substr(2), Value);
    if (!Text.empty() && Text[0] == '$')
        return HexToInt(Text.substr(1), Value);
    size_t i = 0;
    bool negative = false;
    if (i < Text.size() && (Text[i] == '+' || Text[i] == '-')) {
        negative = Text[i] == '-';
        ++i;
    }
    if (i >= Text.size())
        return false;
    const uint64_t limit = negative ? 0x80000000ull : 0x7FFFFFFFull;
    uint64_t v = 0;
    for (; i < Text.size(); ++i) {
        if (Text[i] < '0' || Text[i] > '9')
            return false;
        v = v * 10 + static_cast<uint64_t>(Text[i] - '0');
        if (v > limit)
            return false;
    }
    Value = static_cast<int32_t>(negative ? 0u - static_cast<uint32_t>(v) : static_cast<uint32_t>(v));
    return true;
}

void SetIniWriteLimitForTest(int64_t Bytes)
{
    WriteLimit.store(Bytes);
}

TIniFile::TIniFile(std::string FileName) : FFileName(std::move(FileName))
{
    TFileReader reader;
    if (!reader.Open(FFileName)) {
        // Something that is there but cannot be read must not be replaced
        // by a file holding only what a writer adds.
        struct stat st {};
        FUnreadable = ::stat(FFileName.c_str(), &st) == 0;
        return;
    }
    const int64_t size = reader.Size();
    if (size < 0 || size > MaxIniFileSize) {
        FUnreadable = true;
        return;
    }
    std::string text(static_cast<size_t>(size), '\0');
    int64_t got = 0;
    while (got < size) {
        const int64_t n = reader.Read(text.data() + got, size - got);
        if (n < 0) {
            FUnreadable = true;
            return;
        }
        if (n == 0)
            break;
        got += n;
    }
    text.resize(static_cast<size_t>(got));

    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        FBom = text.substr(0, 3);
        text.erase(0, 3);
    }
    size_t start = 0;
    bool firstBreak = true;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        const bool broken = end != std::string::npos;
        if (!broken)
            end = text.size();
        std::string line = text.substr(start, end - start);
        const bool cr = !line.empty() && line.back() == '\r';
        if (cr)
            line.pop_back();
        if (broken && firstBreak) {
            FCrLf = cr;
            firstBreak = false;
        }
        FLines.push_back(std::move(line));
        start = end + 1;
    }
}

TIniFile::TLocation TIniFile::FindSection(const std::string& Section) const
{
    for (size_t i = 0; i < FLines.size(); ++i) {
        const TLine line = Classify(FLines[i]);
        if (line.Kind == TLineKind::Section && SameText(line.Name, Section))
            return {i, true};
    }
    return {FLines.size(), false};
}

TIniFile::TLocation TIniFile::FindKey(size_t Header, const std::string& Key) const
{
    size_t insertAt = Header + 1;
    for (size_t i = Header + 1; i < FLines.size(); ++i) {
        const TLine line = Classify(FLines[i]);
        if (line.Kind == TLineKind::Section)
            break;
        if (line.Kind == TLineKind::Key && SameText(line.Name, Key))
            return {i, true};
        if (!Trim(FLines[i]).empty())
            insertAt = i + 1;
    }
    return {insertAt, false};
}

const std::string* TIniFile::FindValueLine(const std::string& Section, const std::string& Key) const
{
    const TLocation section = FindSection(Section);
    if (!section.Found)
        return nullptr;
    const TLocation key = FindKey(section.Line, Key);
    return key.Found ? &FLines[key.Line] : nullptr;
}

std::vector<TIniFile::TStrayKey> TIniFile::KeysOutside(const std::string& Section) const
{
    const TLocation read = FindSection(Section);
    std::vector<TStrayKey> keys;
    std::string current;
    bool inRead = false;
    for (size_t i = 0; i < FLines.size(); ++i) {
        const TLine line = Classify(FLines[i]);
        if (line.Kind == TLineKind::Section) {
            current = line.Name;
            inRead = read.Found && i == read.Line;
        } else if (line.Kind == TLineKind::Key && !inRead) {
            keys.push_back({line.Name, line.Value, current});
        }
    }
    return keys;
}

bool TIniFile::ValueExists(const std::string& Section, const std::string& Key) const
{
    return FindValueLine(Section, Key) != nullptr;
}

std::string TIniFile::ReadString(const std::string& Section, const std::string& Key,
                                 const std::string& Default) const
{
    const std::string* line = FindValueLine(Section, Key);
    return line ? Classify(*line).Value : Default;
}

int32_t TIniFile::ReadInteger(const std::string& Section, const std::string& Key, int32_t Default) const
{
    const std::string* line = FindValueLine(Section, Key);
    if (!line)
        return Default;
    int32_t value = Default;
    return IniStrToInt(Classify(*line).Value, value) ? value : Default;
}

void TIniFile::WriteString(const std::string& Section, const std::string& Key, const std::string& Value)
{
    const TLocation section = FindSection(Section);
    if (!section.Found) {
        if (!FLines.empty() && !Trim(FLines.back()).empty())
            FLines.emplace_back();
        FLines.push_back("[" + Section + "]");
        FLines.push_back(Key + "=" + Value);
        return;
    }
    const TLocation key = FindKey(section.Line, Key);
    if (key.Found)
        // The key keeps its spelling as the file had it.
        FLines[key.Line] = Classify(FLines[key.Line]).Name + "=" + Value;
    else
        FLines.insert(FLines.begin() + static_cast<ptrdiff_t>(key.Line), Key + "=" + Value);
}

void TIniFile::WriteInteger(const std::string& Section, const std::string& Key, int32_t Value)
{
    WriteString(Section, Key, std::to_string(Value));
}

void TIniFile::DeleteKey(const std::string& Section, const std::string& Key)
{
    const TLocation section = FindSection(Section);
    if (!section.Found)
        return;
    for (;;) {
        const TLocation key = FindKey(section.Line, Key);
        if (!key.Found)
            return;
        FLines.erase(FLines.begin() + static_cast<ptrdiff_t>(key.Line));
    }
}

bool TIniFile::UpdateFile()
{
    if (FUnreadable)
        return false;
    const std::string target = ResolveTarget(FFileName);

    std::string text = FBom;
    const char* eol = FCrLf ? "\r\n" : "\n";
    for (const std::string& line : FLines) {
        text += line;
        text += eol;
    }

    struct stat old {};
    const bool hadOld = ::stat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode);

    static std::atomic<unsigned> counter{0};
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = target + "." + std::to_string(::getpid()) + "-" + std::to_string(counter.fetch_add(1)) + ".tmp";
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            return false;
    }
    if (fd < 0)
        return false;

    bool ok = true;
    if (hadOld) {
        // The new file takes the place of the old one with its permissions.
        (void)::fchown(fd, old.st_uid, old.st_gid);
        ok = ::fchmod(fd, old.st_mode & 07777) == 0;
    }
    ok = ok && WriteAll(fd, text) && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::rename(temp.c_str(), target.c_str()) == 0;
    if (!ok) {
        ::unlink(temp.c_str());
        return false;
    }
    SyncFolderOf(target);
    return true;
}

} // namespace platform
