// One parsed SVF statement: its command, the in-loop flag and its keyword
// items, with the lookups the player reads them through.
#pragma once

#include <cstdint>
#include <vector>

#include "base/jtagfile.h"
#include "base/varlenu.h"

enum class SvfCommand : uint8_t {
    ENDDR = 0, ENDIR, FREQUENCY, HDR, HIR, SDR, SIR, TDR, TIR, TRST, RUNTEST, STATE, LOOP, ENDLOOP,
    Eof,  // "__EOF", the statement the reader supplies after the file's end
    None  // no statement in hand (worker marker; never parsed)
};

// Codes 0..15 are the TAP states, equal to the TapState codes.
enum class SvfItemKind : uint8_t {
    RESET = 0, IDLE, DRSELECT, DRCAPTURE, DRSHIFT, DREXIT1, DRPAUSE, DREXIT2, DRUPDATE,
    IRSELECT, IRCAPTURE, IRSHIFT, IREXIT1, IRPAUSE, IREXIT2, IRUPDATE,
    TDI, TDO, MASK, SMASK, SEC, MAXIMUM, ENDSTATE, ON, OFF, Z, ABSENT, HZ, TCK, SCK,
    Number  // a bare integer: a scan length, a LOOP count, a RUNTEST count
};

struct SvfItem {
    SvfItemKind Kind = SvfItemKind::Number;
    int32_t Value = 0;        // Number items
    TVarLen Vector;           // TDI, TDO, MASK and SMASK items
    long double FloatValue = 0; // SEC, MAXIMUM and HZ items
};

struct TSVFCommand {
    SvfCommand Command = SvfCommand::None;
    // Replayed in a LOOP pass that is not the last one.
    bool InLoop = false;
    std::vector<SvfItem> Items;
};

inline bool IsStateKind(SvfItemKind Kind)
{
    return static_cast<uint8_t>(Kind) <= static_cast<uint8_t>(SvfItemKind::IRUPDATE);
}

inline TapState StateOfKind(SvfItemKind Kind)
{
    return static_cast<TapState>(Kind);
}

// The command word and keyword of a code, as written in SVF.
const char* SvfCommandName(SvfCommand Command);
const char* SvfItemKindName(SvfItemKind Kind);

// Lookups see the first item of a kind only.
bool HasItem(const TSVFCommand& Statement, SvfItemKind Kind);
long double ItemFloat(const TSVFCommand& Statement, SvfItemKind Kind);
int32_t ItemInt(const TSVFCommand& Statement, SvfItemKind Kind);
const TVarLen* ItemVector(const TSVFCommand& Statement, SvfItemKind Kind);

// Deep copy, vectors included.
void CopyStatement(const TSVFCommand& Source, TSVFCommand& Target);
// Releases the statement's vectors once it has been handled.
void FreeStatement(TSVFCommand& Statement);
// What the read-back side needs of a statement the write side parsed: its
// TDO moved out of Source (which keeps the length), the other vectors'
// lengths only (the write side copies its MASK in once it has shifted),
// every other item as it is.
void SplitReadBack(TSVFCommand& Source, TSVFCommand& Target);
