// The console program orbeskcon: its executor, which prints the log on
// standard output; the option handling; and the program body with its poll
// loop and exit statuses.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "executor/jtag_execute.h"
#include "base/sysutils.h"

// Exit statuses of the program.
constexpr int ExitSucceeded = 0;
constexpr int ExitRunFailed = 1;
// The -I settings file is missing, the driver library cannot be loaded, or
// the file could not be started on a cable.
constexpr int ExitCannotStart = 2;
// Version, usage, a command-line error, or no usable data file.
constexpr int ExitUsage = 3;
// The settings file holds the RUNTEST keys of earlier versions.
constexpr int ExitObsoleteSettings = 4;

extern const char* const ConsoleVersionText;
// A stop signal ended the run, or the start before anything was played.
extern const char* const StoppedBySignalText;
// Said as soon as the first stop signal is seen: with a cable open, and
// before one is (the file's check, the wait for the cable search).
extern const char* const StoppingText;
extern const char* const StoppingNoCableText;
extern const char* const ConsoleUsageText;

class TConsoleExecuter : public TJtagExecuter {
public:
    // Frees a player still held while this object is whole: its worker may
    // still call Message.
    ~TConsoleExecuter() override;

    // From WriteComments: not 0 prints information and comment lines and
    // the progress line. Set before a run; read by the worker too.
    uint8_t ShowComments = 0;

    // Errors and warnings always, information and comments with
    // ShowComments; one whole line on standard output, without a prefix.
    void Message(const std::string& Text, MessageKind Kind) override;
    // Unknown pin levels, nothing queued; true when a cable is chosen.
    bool PrepareCable() override;
    // In the console's terms: its options and the settings file's keys.
    std::string Advice(TAdvice What) const override;
};

// ---- output: every line comes out whole, although the main thread and a
// player's worker thread both write.

struct TConsoleStreams {
    std::FILE* Out = stdout;
    std::FILE* Err = stderr;
    std::FILE* In = stdin;
};
// The streams the program uses; tests point them elsewhere.
TConsoleStreams& ConsoleStreams();
// Text and its line end under one lock, flushed at once so that a waiting
// program has shown everything. A CR LF inside the text (the second line
// of a parse error) becomes a plain line end.
void WriteOutLine(const std::string& Text);
void WriteErrLine(const std::string& Text);
// Waits for Enter: one line from the input stream (at once at its end).
void ReadInLine();

// ---- the program

// Ends the program with Status from wherever it is met; ConsoleMain turns it
// into the exit status.
class EConsoleExit : public Exception {
public:
    explicit EConsoleExit(int AStatus) : Exception("exit " + std::to_string(AStatus)), Status(AStatus) {}
    int Status;
};

// What the program holds for its life.
struct TConsoleState {
    std::unique_ptr<TConsoleExecuter> Executer;
    std::string DataFileName;
    std::string SettingsPath;
    std::string SerialText;
    uint32_t Mark = 0; // tick count of the last progress mark
    int32_t Total = 0;
    int32_t Position = 0;
};

// The options on the process's parser: case-insensitive, not combined,
// S, F and I taking a value.
void DeclareConsoleOptions();

// The command line and the settings file into State and its executer.
// False only when the -I settings file does not exist (its two lines are
// printed); every other refusal prints its text and raises EConsoleExit.
bool ConsoleOptions(TConsoleState& State);

// SelectedCable and PreferredKind from the -S text and the kind options:
// a hexadecimal serial names a cable (kind Varnel unless Mirrow or Druvel);
// "-" asks for the automatic choice without the remembered cable (-2);
// no serial leaves the choice automatic, Mirrow then preferred (any other
// text is refused by ConsoleOptions before it gets here).
void ChooseConsoleCable(TJtagExecuter& Executer, const std::string& SerialText, bool Mirrow, bool Druvel);

// The line that refuses an -S text that names no cable.
std::string SerialRefusalText(const std::string& SerialText);

// Position * 100 div Total in 64 bits, so large files give no overflow.
int64_t ProgressPercent(int32_t Position, int32_t Total);

// Polls the running player every 50 ms, with a progress line about once a
// second while ShowComments is on, until it ends; a stop signal asks the
// player to stop, with StoppingText, and a run it ended says so by
// StoppedBySignalText before its failure line. Then logs the outcome,
// closes the cable, frees the player and the executer, gives the stop
// signals back and, after a failed run when WaitForEnter and no signal
// stopped it, waits for Enter. The exit status.
int PollRun(TConsoleState& State, bool WaitForEnter);

// The program body: number format, options, settings, driver, start and
// poll. The players are registered before it runs. Returns the exit status.
int ConsoleMain();
