#include "paramutils.h"

#include <fstream>
#include <iterator>
#include <mutex>

namespace {

std::mutex ArgumentsLock;
bool ArgumentsSet = false;
std::vector<std::string> Arguments; // without the program

// What the system recorded of the command line, when main did not say.
std::vector<std::string> SystemArguments()
{
    std::ifstream in("/proc/self/cmdline", std::ios::binary);
    const std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::string> args;
    size_t start = 0;
    while (start < all.size()) {
        size_t end = all.find('\0', start);
        if (end == std::string::npos)
            end = all.size();
        args.push_back(all.substr(start, end - start));
        start = end + 1;
    }
    if (!args.empty())
        args.erase(args.begin());
    return args;
}

const std::vector<std::string>& ProcessArguments()
{
    std::lock_guard<std::mutex> guard(ArgumentsLock);
    if (!ArgumentsSet) {
        Arguments = SystemArguments();
        ArgumentsSet = true;
    }
    return Arguments;
}

std::unique_ptr<TParameters> Singleton;

} // namespace

void SetProcessArguments(int Argc, const char* const* Argv)
{
    std::lock_guard<std::mutex> guard(ArgumentsLock);
    Arguments.clear();
    for (int i = 1; i < Argc; ++i)
        Arguments.emplace_back(Argv[i] ? Argv[i] : "");
    ArgumentsSet = true;
}

bool ContainsAnyChar(const std::string& Text, const TCharSet& Chars)
{
    if (Chars.none())
        return false;
    for (const char c : Text)
        if (InCharSet(c, Chars))
            return true;
    return false;
}

TParameters& ParameterSingleton()
{
    if (!Singleton)
        Singleton = std::make_unique<TParameters>();
    return *Singleton;
}

void FreeParameterSingleton()
{
    Singleton.reset();
}

TParameters::TParameters() : SwitchChars(CharSetOf("-/")), ValueSeparators(CharSetOf("+-:=")) {}

TParameters::~TParameters() = default;

std::string TParameters::GetArg(int Index)
{
    const std::vector<std::string>& args = ProcessArguments();
    if (Index < 1 || static_cast<size_t>(Index) > args.size())
        return {};
    return args[static_cast<size_t>(Index) - 1];
}

int TParameters::GetArgCount()
{
    return static_cast<int>(ProcessArguments().size());
}

bool TParameters::IsOption(const std::string& Arg) const
{
    if (Arg.size() < 2 || !InCharSet(Arg[0], SwitchChars))
        return false;
    // Absolute paths begin with '/', which is a switch character too.
    return !(Arg[0] == '/' && Arg.find('/', 1) != std::string::npos);
}

std::string TParameters::Cased(std::string Text) const
{
    if (!CaseSensitive)
        UpperCaseAscii(Text);
    return Text;
}

TParameter* TParameters::Declared(const std::string& Name) const
{
    for (const auto& p : ParameterList)
        if (p->Name == Name)
            return p.get();
    return nullptr;
}

bool TParameters::Names(const std::string& Arg, const std::string& Name) const
{
    if (!IsOption(Arg))
        return false;
    if (Name.size() == 1) {
        const std::string rest = Cased(Arg.substr(1));
        if (ContainsAnyChar(rest, ValueSeparators))
            return rest[0] == Name[0];
        if (Combined)
            return rest.find(Name[0]) != std::string::npos;
        return rest == Name;
    }
    std::string rest;
    if (Combined) {
        if (Arg.size() < 3 || Arg[1] != Arg[0])
            return false;
        rest = Cased(Arg.substr(2));
    } else {
        rest = Cased(Arg.substr(1));
    }
    if (rest == Name)
        return true;
    return rest.size() > Name.size() && InCharSet(rest[Name.size()], ValueSeparators) &&
           rest.compare(0, Name.size(), Name) == 0;
}

int TParameters::FindArgument(const std::string& Name)
{
    const std::string name = Cased(Name);
    if (name.empty())
        return -1;
    const int count = GetArgCount();
    for (int i = 1; i <= count; ++i)
        if (Names(GetArg(i), name))
            return i;
    return -1;
}

bool TParameters::HasValueForm(const std::string& Name)
{
    const std::string name = Cased(Name);
    const int index = FindArgument(name);
    if (index == -1)
        return false;
    if (!Combined || name.size() > 1)
        return true;
    const std::string rest = Cased(GetArg(index).substr(1));
    return rest == name || (rest.size() >= 2 && InCharSet(rest[1], ValueSeparators));
}

void TParameters::RefreshParameter(TParameter* P)
{
    if (!P)
        return;
    const int index = FindArgument(P->Name);
    P->Found = index != -1;
    const bool valueForm = P->Found && HasValueForm(P->Name);
    P->Value = valueForm && P->TakesValue ? GetArg(index + 1) : std::string();
    P->Attached.clear();
    if (valueForm) {
        const std::string arg = GetArg(index);
        const std::string text = arg.substr(Combined && P->Name.size() > 1 ? 2 : 1);
        if (text.size() > P->Name.size())
            P->Attached = text.substr(P->Name.size());
    }
}

TParameter& TParameters::GetParameter(const std::string& Name)
{
    const std::string name = Cased(Name);
    TParameter* p = Declared(name);
    if (!p) {
        ParameterList.push_back(std::make_unique<TParameter>(name));
        p = ParameterList.back().get();
    }
    RefreshParameter(p);
    return *p;
}

std::vector<std::string> TParameters::FreeArguments()
{
    const int count = GetArgCount();
    std::vector<bool> marked(static_cast<size_t>(count) + 2, false);
    for (const auto& p : ParameterList) {
        const int index = FindArgument(p->Name);
        if (index >= 1) {
            marked[static_cast<size_t>(index)] = true;
            if (p->TakesValue && index + 1 <= count)
                marked[static_cast<size_t>(index) + 1] = true;
        }
    }
    std::vector<std::string> free;
    for (int i = 1; i <= count; ++i) {
        const std::string arg = GetArg(i);
        if (!marked[static_cast<size_t>(i)] && !IsOption(arg))
            free.push_back(arg);
    }
    return free;
}

std::string TParameters::FreeArgument(int N)
{
    const std::vector<std::string> free = FreeArguments();
    return N >= 0 && static_cast<size_t>(N) < free.size() ? free[static_cast<size_t>(N)] : std::string();
}

int TParameters::FreeArgumentCount()
{
    return static_cast<int>(FreeArguments().size());
}

std::string TParameters::Validate()
{
    const auto unknown = [](const std::string& Name, const std::string& Arg) {
        return "Unknown parameter \"" + Name + "\" in " + Arg;
    };
    const std::string illegal = "Illegal combination of parameter initialization characters in ";

    const int count = GetArgCount();
    bool expectValue = false;
    for (int i = 1; i <= count; ++i) {
        const std::string a = GetArg(i);
        if (expectValue) {
            if (IsOption(a))
                return "After " + GetArg(i - 1) + " expected string, but " + a + " found.";
            expectValue = false;
            continue;
        }
        if (!IsOption(a))
            continue;

        if (a[1] == a[0]) {
            if (!Combined)
                return illegal + a;
            const std::string name = Cased(CopyUpToChars(a.substr(2), ValueSeparators));
            if (name.size() < 2)
                return "Parameter initiated by -- must contain at least two characters in " + a;
            const TParameter* p = Declared(name);
            if (!p)
                return unknown(name, a);
            expectValue = p->TakesValue;
            continue;
        }
        if (InCharSet(a[1], SwitchChars))
            return illegal + a;

        if (Combined) {
            const std::string letters = Cased(CopyUpToChars(a.substr(1), ValueSeparators));
            for (const char letter : letters) {
                const TParameter* p = Declared(std::string(1, letter));
                if (!p)
                    return unknown(std::string(1, letter), a);
                if (p->TakesValue && letters.size() > 1)
                    return "Parameters with string value must be listed alone, in " + a;
                if (p->TakesValue)
                    expectValue = true;
            }
            continue;
        }

        const std::string name = Cased(CopyUpToChars(a.substr(1), ValueSeparators));
        const TParameter* p = Declared(name);
        if (!p)
            return unknown(name, a);
        expectValue = p->TakesValue;
    }
    if (expectValue)
        return "After " + GetArg(count) + " expected string, but this is last parameter.";
    return {};
}
