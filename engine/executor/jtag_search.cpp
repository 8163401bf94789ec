// The executor's cable search: the automatic choice, the search and open of
// the cable chosen, both under the search lock, and the line that says why
// no cable could be used.
#include <algorithm>
#include <string>
#include <vector>

#include "executor/jtag_execute.h"

const char* const SearchBusyText = "The JTAG cable search is busy in another program; try again.";
const char* const SearchWaitingText = "Waiting for another program that is searching for JTAG cables...";

namespace {

constexpr int32_t SerialMask24 = 0xFFFFFF;

const TCableIdentity* IdentityOf(int32_t Kind)
{
    switch (Kind) {
    case CableKindVarnel:
        return &VarnelIdentity;
    case CableKindMirrow:
        return &MirrowIdentity;
    case CableKindDruvel:
        return &DruvelIdentity;
    default:
        return nullptr;
    }
}

// How a user asks for a cable of this kind by its serial.
std::string HowToSelect(int32_t Kind)
{
    switch (Kind) {
    case CableKindMirrow:
        return "-mirrow selects it";
    case CableKindDruvel:
        return "-druvel selects it";
    default:
        return "without -mirrow and -druvel a serial names a VARNEL";
    }
}

// The kind whose serial mask the serial fits, the narrowest first (every
// serial fits the Druvel's).
int32_t KindBySerial(int32_t ProgrammerId)
{
    const std::string serial = SerialText(ProgrammerId);
    for (int32_t kind : {CableKindVarnel, CableKindMirrow})
        if (SerialMatchesMask(IdentityOf(kind)->SerialMask, serial))
            return kind;
    return CableKindDruvel;
}

std::string AttachedText(const std::vector<int32_t>& Ids)
{
    if (Ids.empty())
        return "none";
    std::string text;
    for (int32_t id : Ids)
        text += (text.empty() ? "" : ", ") + ProgrammerText(id);
    return text;
}

std::string UnopenedText(int32_t Count)
{
    return Count == 1 ? "1 FTDI device is in use by another program"
                      : std::to_string(Count) + " FTDI devices are in use by another program";
}

} // namespace

std::string NoAutoCableText(const TAttachedCables& Attached, int32_t PreferredKind)
{
    const std::string wanted = PreferredKind == PreferMirrow   ? "MIRROW or DRUVEL"
                               : PreferredKind == PreferDruvel ? "DRUVEL"
                                                               : "JTAG cable";
    std::string text = Attached.Unopened > 0 ? "No free " + wanted + ": " + UnopenedText(Attached.Unopened)
                                             : "No " + wanted + " is attached";
    // Only what the preference left out can be attached here.
    if (!Attached.Ids.empty())
        text += "; attached: " + AttachedText(Attached.Ids);
    return text + ".";
}

std::string NoSelectedCableText(int32_t ProgrammerId, size_t Matches, const TAttachedCables& Attached,
                                bool FromSettings)
{
    const int32_t kind = TJtagExecuter::KindOf(ProgrammerId);
    const std::string name = ProgrammerText(ProgrammerId);
    int32_t otherKind = CableKindNone;
    for (int32_t id : Attached.Ids)
        if ((id & SerialMask24) == (ProgrammerId & SerialMask24) && TJtagExecuter::KindOf(id) != kind)
            otherKind = TJtagExecuter::KindOf(id);

    std::string text;
    if (Matches > 1)
        text = std::to_string(Matches) + " cables answer to " + name + ".";
    else if (otherKind != CableKindNone)
        // A kind option does not change the settings' serial: the front
        // end's advice says what does.
        text = "The cable " + SerialText(ProgrammerId) + " is a " + CableName(otherKind) + ", not a " +
               CableName(kind) + (FromSettings ? "." : ": " + HowToSelect(otherKind) + ".");
    else if (const int32_t serialKind = KindBySerial(ProgrammerId);
             !SerialMatchesMask(IdentityOf(kind)->SerialMask, SerialText(ProgrammerId)))
        text = "No " + name + " is attached: " + SerialText(ProgrammerId) + " is a " + CableName(serialKind) +
               " serial, " + HowToSelect(serialKind) + "; attached: " + AttachedText(Attached.Ids) + ".";
    else if (Attached.Unopened > 0)
        // The cable may well be attached: it is the one held.
        text = "No free " + name + ": " + UnopenedText(Attached.Unopened) +
               (Attached.Ids.empty() ? "" : "; attached: " + AttachedText(Attached.Ids)) +
               "; when it is that cable, try again once the other program has let it go.";
    else
        text = "No " + name + " is attached; attached: " + AttachedText(Attached.Ids) + ".";
    return text;
}

TFtWaitHooks TJtagExecuter::SearchWaitHooks()
{
    TFtWaitHooks hooks;
    hooks.Stop = FStop;
    hooks.Waiting = [this] { Message(SearchWaitingText, MessageKind::Warning); };
    return hooks;
}

bool TJtagExecuter::SearchLockTaken(const TFtSearchLock& Lock)
{
    SearchLock = Lock.Outcome();
    switch (SearchLock) {
    case TFtLockOutcome::Taken:
        return true;
    case TFtLockOutcome::Busy:
        Message(SearchBusyText, MessageKind::Error);
        break;
    case TFtLockOutcome::NoLock:
        Message("The JTAG cable search lock " + FtSearchLockPath() + " cannot be made.", MessageKind::Error);
        break;
    case TFtLockOutcome::Stopped:
        break; // the front end says why
    }
    return false;
}

TAttachedCables TJtagExecuter::AttachedCables()
{
    TAttachedCables attached;
    for (int32_t kind : {CableKindVarnel, CableKindMirrow, CableKindDruvel}) {
        const TCableIdentity& id = *IdentityOf(kind);
        std::vector<int32_t> serials;
        const TFtSearchResult found = FindDevices(id.Vid, id.Pid, id.SerialMask, -1, nullptr, serials);
        // Every search opens every device: each sees the same ones in use.
        attached.Unopened = std::max(attached.Unopened, found.Unopened);
        // -1 is a serial that is not hexadecimal: no cable to name.
        for (int32_t serial : serials)
            if (serial != -1)
                attached.Ids.push_back(serial | (kind << 24));
    }
    return attached;
}

bool TJtagExecuter::AutoSelectCable()
{
    // One taking for the three searches: another program's search is
    // waited for once, and a busy lock is no absent cable.
    const TFtSearchLock lock(SearchWaitHooks());
    if (!SearchLockTaken(lock))
        return false;
    const TAttachedCables attached = AttachedCables();
    for (int32_t kind : {CableKindVarnel, CableKindMirrow, CableKindDruvel}) {
        if (kind == CableKindVarnel && PreferredKind == PreferMirrow)
            continue;
        // A Druvel asked for: no other kind would do.
        if (kind != CableKindDruvel && PreferredKind == PreferDruvel)
            continue;
        for (int32_t id : attached.Ids)
            if (KindOf(id) == kind) {
                SelectedCable = id;
                CableFromSettings = false;
                return true;
            }
    }
    Message(NoAutoCableText(attached, PreferredKind), MessageKind::Error);
    return false;
}

TJtagExecuter::TFindOpen TJtagExecuter::FindAndOpenSelected(const TCableIdentity& Id)
{
    const TFtSearchLock lock(SearchWaitHooks());
    if (!SearchLockTaken(lock))
        return TFindOpen::NoSearch;
    // The wait may have been long: the file to play is compared again
    // before the cable is opened and set up (a Mirrow powers its target).
    if (!Admission.Unchanged())
        return TFindOpen::NoSearch;
    int32_t index = -1;
    std::vector<int32_t> serials;
    FindDevices(Id.Vid, Id.Pid, Id.SerialMask, SelectedCable & SerialMask24, &index, serials);
    if (index == -1) {
        std::string text = NoSelectedCableText(SelectedCable, serials.size(), AttachedCables(), CableFromSettings);
        if (const std::string advice = CableFromSettings ? Advice(TAdvice::SettingsCable) : ""; !advice.empty())
            text += " " + advice;
        Message(text, MessageKind::Error);
        return TFindOpen::NotFound;
    }
    FtHandle = nullptr;
    if (FtOpen(index, FtHandle) != FT_OK) {
        FtHandle = nullptr;
        return TFindOpen::OpenFailed;
    }
    return TFindOpen::Opened;
}

bool TJtagExecuter::FindAndOpen(const TCableIdentity& Id, const char* Name)
{
    CloseCable(false);
    switch (FindAndOpenSelected(Id)) {
    case TFindOpen::Opened:
        return true;
    case TFindOpen::NotFound:
        Message(std::string("Fatal error: Cannot find ") + Name, MessageKind::Error);
        return false;
    case TFindOpen::OpenFailed:
        Message("Fatal error: FT_Open failed", MessageKind::Error);
        return false;
    case TFindOpen::NoSearch:
        break;
    }
    return false;
}
