#include "cmdline.h"

#include "base/StrUtilsEx.h"
#include "base/jtagfile.h"
#include "executor/jtag_execute.h"

namespace {

const char* const EchoRule = "--------------";

} // namespace

TDesktopCommandLine ParseDesktopCommandLine(const std::vector<std::string>& Args)
{
    TDesktopCommandLine line;
    const bool framed = Args.size() > 1;
    if (framed)
        line.Echo = {EchoRule, "Parameters:", EchoRule};
    for (size_t i = 0; i < Args.size(); ++i) {
        std::string option = Args[i];
        UpperCaseAscii(option);
        const std::string value = i + 1 < Args.size() ? Args[i + 1] : std::string();
        if (option == "-C")
            line.CloseOnSuccess = true;
        else if (option == "-CC")
            line.CloseOnFailure = true;
        else if (option == "-I")
            line.SettingsPath = value;
        else if (option == "-F")
            line.DataFile = value;
        else if (option == "-P")
            line.ProcessAtStart = true;
        else if (option == "-S")
            line.SerialText = value;
        if (option == "-MIRROW")
            line.CableKind = int32_t{CableKindMirrow} << 24;
        else if (option == "-DRUVEL")
            line.CableKind = int32_t{CableKindDruvel} << 24;
        line.Echo.push_back(Args[i]);
    }
    if (framed)
        line.Echo.push_back(EchoRule);
    return line;
}

TOpenFilter BuildOpenFilter(const TJtagFilesList* Registry)
{
    TOpenFilter result;
    const int32_t count = Registry ? Registry->Count() : 0;
    std::string patterns;
    for (int32_t k = 0; k < count; ++k) {
        const std::string& type = Registry->Items(k).Extension;
        std::string lower = type;
        for (char& c : lower)
            if (c >= 'A' && c <= 'Z')
                c = static_cast<char>(c - 'A' + 'a');
        if (k > 0)
            result.Filter += "|";
        result.Filter += type + " files (*." + lower + ")|*." + type;
        patterns += (k > 0 ? ";*." : "*.") + type;
    }
    if (count > 1) {
        result.Filter += "|All supported files|" + patterns;
        result.FilterIndex = count + 1;
    }
    return result;
}

std::vector<TFilterEntry> SplitOpenFilter(const std::string& Filter)
{
    std::vector<std::string> parts;
    size_t from = 0;
    while (!Filter.empty()) {
        const size_t bar = Filter.find('|', from);
        parts.push_back(Filter.substr(from, bar == std::string::npos ? std::string::npos : bar - from));
        if (bar == std::string::npos)
            break;
        from = bar + 1;
    }
    std::vector<TFilterEntry> entries;
    for (size_t i = 0; i + 1 < parts.size(); i += 2)
        entries.push_back({parts[i], parts[i + 1]});
    return entries;
}
