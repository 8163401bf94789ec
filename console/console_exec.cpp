// The console executor and the one writer of the program's lines.
#include "console_exec.h"

#include <mutex>

namespace {

std::mutex LineLock;

void WriteLine(std::FILE* Stream, const std::string& Text)
{
    std::string line;
    line.reserve(Text.size() + 1);
    for (size_t i = 0; i < Text.size(); ++i)
        if (!(Text[i] == '\r' && i + 1 < Text.size() && Text[i + 1] == '\n'))
            line += Text[i];
    line += '\n';
    std::lock_guard<std::mutex> guard(LineLock);
    std::fwrite(line.data(), 1, line.size(), Stream);
    std::fflush(Stream);
}

} // namespace

TConsoleStreams& ConsoleStreams()
{
    static TConsoleStreams streams;
    return streams;
}

void WriteOutLine(const std::string& Text)
{
    WriteLine(ConsoleStreams().Out, Text);
}

void WriteErrLine(const std::string& Text)
{
    WriteLine(ConsoleStreams().Err, Text);
}

void ReadInLine()
{
    std::FILE* in = ConsoleStreams().In;
    for (int c = std::fgetc(in); c != EOF && c != '\n'; c = std::fgetc(in)) {
    }
}

TConsoleExecuter::~TConsoleExecuter()
{
    CurrentFile.reset();
}

void TConsoleExecuter::Message(const std::string& Text, MessageKind Kind)
{
    if (ShowComments != 0 || Kind == MessageKind::Error || Kind == MessageKind::Warning)
        WriteOutLine(Text);
}

bool TConsoleExecuter::PrepareCable()
{
    LastPinState = {-1, -1, -1};
    OutCount = 0;
    return SelectedCable != -1;
}

std::string TConsoleExecuter::Advice(TAdvice What) const
{
    switch (What) {
    case TAdvice::VoltageLimits:
        return "Limits are the settings MirrowVddMin and MirrowVddMax, in tenths of a volt.";
    case TAdvice::SettingsCable:
        return "That cable is the settings' LastSerial, not one named on the command line: -s - chooses a cable "
               "automatically.";
    case TAdvice::SettingsNoCable:
        return "-s - chooses a cable automatically.";
    }
    return {};
}
