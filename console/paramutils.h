// Command-line options: declared by name, found and validated over the
// arguments, with the free arguments that are neither options nor values.
// Nothing here prints or ends the program; the caller decides.
//
// An argument is an option when it has two characters or more and begins
// with a switch character, except that one beginning with '/' and holding a
// further '/' is a path: "/tmp/a.svf" is a free argument or a value, while
// "/HELP" and "/s" stay options.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "base/StrUtilsEx.h"

class TParameter {
public:
    explicit TParameter(std::string AName) : Name(std::move(AName)) {}

    std::string Name; // as declared; upper-cased unless case-sensitive
    bool Found = false;
    // The argument after the option's own, for a value-taking option in a
    // form that carries a value; else empty.
    std::string Value;
    // What follows the name in the option's own argument, separator
    // included, case as typed (":abc" for -s:abc).
    std::string Attached;
    bool TakesValue = false; // set by the declaring code
};

class TParameters {
public:
    TParameters();
    virtual ~TParameters();
    TParameters(const TParameters&) = delete;
    TParameters& operator=(const TParameters&) = delete;

    // Grouped letters (-abc) and long names after a doubled switch (--name).
    bool Combined = false;
    bool CaseSensitive = false;
    TCharSet SwitchChars;     // '-' and '/'
    TCharSet ValueSeparators; // '+', '-', ':' and '='
    std::vector<std::unique_ptr<TParameter>> ParameterList;

    // Argument Index counted from 1; empty beyond GetArgCount. The base
    // reads the process's arguments (SetProcessArguments).
    virtual std::string GetArg(int Index);
    virtual int GetArgCount();

    // Declares the name when new, refreshes the option from the arguments
    // and returns it; the parser keeps owning it.
    TParameter& GetParameter(const std::string& Name);
    void RefreshParameter(TParameter* P);
    // The first argument (from 1) that names the option; -1 when none.
    int FindArgument(const std::string& Name);
    // Found, in a form that can carry a value.
    bool HasValueForm(const std::string& Name);
    // The N-th free argument (from 0); empty when there are fewer.
    std::string FreeArgument(int N);
    int FreeArgumentCount();
    // Empty when every argument is acceptable, else the first error's text.
    std::string Validate();

private:
    // The argument introduces an option (the path rule included).
    bool IsOption(const std::string& Arg) const;
    std::string Cased(std::string Text) const;
    // The declared option of exactly that name, or null.
    TParameter* Declared(const std::string& Name) const;
    bool Names(const std::string& Arg, const std::string& Name) const;
    std::vector<std::string> FreeArguments();
};

// False for an empty set; else whether some character of Text is in it.
bool ContainsAnyChar(const std::string& Text, const TCharSet& Chars);

// The process-wide parser, created with the defaults on first use.
TParameters& ParameterSingleton();
// Frees it with its options (also done at exit); the next call creates anew.
void FreeParameterSingleton();

// The program's arguments as main received them; argv[0] is the program
// and is not an argument. Until this is called the base parser reads them
// from the system.
void SetProcessArguments(int Argc, const char* const* Argv);
