// Whether a data file may start, asked before any cable is touched: its
// player made and the file checked whole before a cable is looked for, the
// checked file still the one on disk before a cable is searched or opened,
// and the settings able to play its waits on the cable chosen; with the
// line that says why not. A refusal lets the player and its file go.
#pragma once

#include <array>
#include <exception>
#include <functional>
#include <memory>
#include <string>

#include "base/jtagfile.h"

class TJtagExecuter;

class TAdmission {
public:
    // Speaks through Executer's Message, looks at its stop and reads its
    // settings. Every step may run on any one thread at a time.
    explicit TAdmission(TJtagExecuter& Executer) : E(Executer) {}

    // Makes the player of FileName (a full path) and checks the file; false
    // after the refusal line, or with nothing said when a stop ended the
    // check. Whatever was admitted before is let go first.
    bool Admit(const std::string& Path);
    // A player is held for Path.
    bool Holds(const std::string& Path) const { return FPlayer && FPath == Path; }
    bool Holds() const { return FPlayer != nullptr; }
    // The held file is still the one its check read (true when none is
    // held); false after the refusal line, the player let go.
    bool Unchanged();
    // The settings can play every wait of the held file on a cable of
    // Kind; false after the line the run would have ended with, the player
    // let go.
    bool FitsCable(int32_t Kind);
    // The held player, for the start; nothing is held after.
    std::unique_ptr<TJtagFile> Take();
    void Release();

    // Runs Step; what it raises is said as the start's refusal, and false.
    bool Guarded(const std::function<bool()>& Step);
    // The Fatal error line of an exception that ended a start: the line
    // form for an ELineException, the general one for other Exceptions.
    void Refuse(std::exception_ptr Error);

private:
    // Notes one wait the check met against each kind's settings.
    void NoteRuntest(bool ByTime, uint32_t Count);

    TJtagExecuter& E;
    std::unique_ptr<TJtagFile> FPlayer;
    std::string FPath;
    // The first wait the settings cannot play, per kind (Varnel, Mirrow,
    // Druvel); empty: every one can be played.
    std::array<std::string, 3> FRuntestRefusals;
    bool FTimeNoted = false;
};
