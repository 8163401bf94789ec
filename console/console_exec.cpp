// The console executor and the one writer of the program's lines.
#include "console_exec.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <mutex>

#include "console_signals.h"

namespace {

std::mutex LineLock;

constexpr int OutputPollMs = 50;

// Writes Data to Fd as the reader takes it; once a stop is asked, what the
// reader does not take at once is dropped: a reader that does not read (a
// pager left waiting) must not hold the stop, nor the cable's close behind
// it. False when the line did not go whole.
bool WriteUnlessStopped(int Fd, const char* Data, size_t Size)
{
    while (Size > 0) {
        pollfd ready{Fd, POLLOUT, 0};
        const int n = poll(&ready, 1, StopRequested() ? 0 : OutputPollMs);
        if (n < 0 && errno != EINTR)
            return false;
        if (n <= 0) {
            if (StopRequested())
                return false;
            continue;
        }
        // Ready for output, a pipe takes PIPE_BUF bytes without blocking.
        const ssize_t written = write(Fd, Data, std::min<size_t>(Size, PIPE_BUF));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        Data += written;
        Size -= static_cast<size_t>(written);
    }
    return true;
}

void WriteLine(std::FILE* Stream, const std::string& Text)
{
    std::string line;
    line.reserve(Text.size() + 1);
    for (size_t i = 0; i < Text.size(); ++i)
        if (!(Text[i] == '\r' && i + 1 < Text.size() && Text[i + 1] == '\n'))
            line += Text[i];
    line += '\n';
    std::lock_guard<std::mutex> guard(LineLock);
    // Every line is flushed: the stream's own buffer is empty here.
    const int fd = fileno(Stream);
    if (fd >= 0) {
        WriteUnlessStopped(fd, line.data(), line.size());
        return;
    }
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
