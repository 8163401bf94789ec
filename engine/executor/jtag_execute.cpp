// The executor's cable-independent part: cable choice, open, start, close
// and the wiring of the cable routines into a player.
#include "executor/jtag_execute.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <new>

#include "base/StrUtilsEx.h"
#include "base/sysutils.h"
#include "executor/varnel2low.h"

char MicroSign = '\xB5';

TJtagExecuter::TJtagExecuter() = default;

TJtagExecuter::~TJtagExecuter()
{
    // A run still going is asked to stop first: freeing the player waits
    // for its worker, which must not play on while the cable is closed.
    if (CurrentFile)
        CurrentFile->Stop();
    CurrentFile.reset();
    // Message is the front end's, gone by now: nothing can be said.
    ReleaseCable(false);
}

namespace {

// FT_Purge's mask for the buffer from the host to the device.
constexpr DWORD PurgeTransmit = 2;

std::string FullPath(const std::string& FileName)
{
    std::error_code error;
    const std::filesystem::path full = std::filesystem::absolute(FileName, error);
    if (error)
        return FileName;
    return full.lexically_normal().string();
}

// A start frequency that is no frequency at all would reach the cable's
// division by it.
constexpr int32_t FallbackStartHz = 3000000;

} // namespace

int32_t DefFreqHz(uint8_t DefFreq)
{
    switch (DefFreq) {
    case 0:
        return 3000000;
    case 1:
        return 1000000;
    case 2:
        return 500000;
    case 5:
        return 5000000;
    case 10:
        return 10000000;
    case 15:
        return 15000000;
    default:
        return 0;
    }
}

std::string TJtagExecuter::CableInUseText() const
{
    if (!IsVarnel() && !IsMirrow() && !IsDruvel())
        return "";
    return "Using " + ProgrammerText(SelectedCable);
}

int TJtagExecuter::PinBitsForActive(uint8_t Code)
{
    static constexpr int map[] = {2, 3, 0, 0, 2};
    return Code < 5 ? map[Code] : -1;
}

int TJtagExecuter::PinBitsForInactive(uint8_t Code)
{
    static constexpr int map[] = {2, 3, 0};
    return Code < 3 ? map[Code] : -1;
}

const char* CableName(int32_t Kind)
{
    switch (Kind) {
    case CableKindVarnel:
        return "VARNEL";
    case CableKindMirrow:
        return "MIRROW";
    case CableKindDruvel:
        return "DRUVEL";
    default:
        return "";
    }
}

std::string SerialText(int32_t ProgrammerId)
{
    char text[16];
    std::snprintf(text, sizeof text, "A6%06X", static_cast<unsigned>(ProgrammerId) & 0xFFFFFF);
    return text;
}

std::string ProgrammerText(int32_t ProgrammerId)
{
    return std::string(CableName(TJtagExecuter::KindOf(ProgrammerId))) + " S/N " + SerialText(ProgrammerId);
}

bool TJtagExecuter::OpenCable()
{
    if (IsVarnel())
        return OpenVarnel();
    if (IsMirrow())
        return OpenMirrow();
    if (IsDruvel())
        return OpenDruvel();
    // A search that found none has said why; a settings value that names
    // no cable has not.
    if (SelectedCable != -1 && CableFromSettings) {
        std::string text = "The settings' LastSerial=" + std::to_string(SelectedCable) + " names no cable.";
        if (const std::string advice = Advice(TAdvice::SettingsNoCable); !advice.empty())
            text += " " + advice;
        Message(text, MessageKind::Error);
    }
    Message("Fatal error: No JTAG cable is selected.", MessageKind::Error);
    return false;
}

bool TJtagExecuter::CloseCable(bool Failed)
{
    const int32_t kind = OpenedKind;
    if (ReleaseCable(Failed))
        return true;
    std::string left;
    switch (kind) {
    case CableKindVarnel:
        left = "the VPP pin and the JTAG lines may be left as the run set them.";
        break;
    case CableKindMirrow:
        left = MirrowVddOut ? "the target may still be powered by the cable, and the P pin and the JTAG lines left as "
                              "the run set them."
                            : "the P pin and the JTAG lines may be left as the run set them.";
        break;
    default:
        left = "the JTAG lines may be left driven as the run set them.";
        break;
    }
    Message("Error: the cable's closing bytes could not be written: " + left, MessageKind::Error);
    return false;
}

bool TJtagExecuter::ReleaseCable(bool Failed)
{
    bool parked = true;
    if (FtHandle) {
        DWORD written = 0;
        switch (OpenedKind) {
        case CableKindVarnel: {
            if (const int bits = PinBitsForInactive(VarnelVPPInactive); bits >= 0)
                PinBits = static_cast<uint8_t>(bits);
            const uint8_t park[] = {0xA3, 0xA8, static_cast<uint8_t>(0xEC | PinBits), 0xC8};
            parked = FtWrite(FtHandle, park, sizeof park, written) == FT_OK && written == sizeof park;
            break;
        }
        case CableKindMirrow: {
            if (const int bits = PinBitsForInactive(MirrowPInactive); bits >= 0)
                PinBits = static_cast<uint8_t>(bits);
            std::array<uint8_t, 15> park{0x20, 0x80, 0x90, static_cast<uint8_t>(0xA0 | PinBits), 0xF0};
            TRegisterPacket packet;
            EncodeRegisterPacket(0x94, 1, packet);
            std::copy(packet.begin(), packet.end(), park.begin() + 5);
            EncodeRegisterPacket(0x91, Failed ? 0x8200 : 0x8000, packet);
            std::copy(packet.begin(), packet.end(), park.begin() + 10);
            parked = FtWrite(FtHandle, park.data(), park.size(), written) == FT_OK && written == park.size();
            break;
        }
        case CableKindDruvel:
            // A data block a stop cut short: what of it the chip still holds
            // is dropped, so that none of it is clocked (or sent out once the
            // engine is off); the reset then drops the block itself, whose
            // remaining bytes never come.
            if (CutByStop)
                FtPurge(FtHandle, PurgeTransmit);
            parked = FtSetBitMode(FtHandle, 0, 0) == FT_OK;
            break;
        default:
            break;
        }
        FtClose(FtHandle);
    }
    FtHandle = nullptr;
    OpenedKind = CableKindNone;
    CableFailed = false;
    CutByStop = false;
    Playing = false;
    return parked;
}

const TJtagExecuter::TCableEvents* TJtagExecuter::CableEventsOf(int32_t Kind)
{
    static const TCableEvents varnel{
        &TJtagExecuter::VarnelShift,       &TJtagExecuter::VarnelReadTdo,      &TJtagExecuter::VarnelSync,
        &TJtagExecuter::VarnelTmsClock,    &TJtagExecuter::VarnelRuntestTime,  &TJtagExecuter::VarnelRuntestClocks,
        &TJtagExecuter::VarnelTrst,        &TJtagExecuter::VarnelSetFrequency,
    };
    static const TCableEvents mirrow{
        &TJtagExecuter::MirrowShift,       &TJtagExecuter::MirrowReadTdo,      &TJtagExecuter::MirrowSync,
        &TJtagExecuter::MirrowTmsClock,    &TJtagExecuter::MirrowRuntestTime,  &TJtagExecuter::MirrowRuntestClocks,
        &TJtagExecuter::MirrowTrst,        &TJtagExecuter::MirrowSetFrequency,
    };
    static const TCableEvents druvel{
        &TJtagExecuter::DruvelShift,       &TJtagExecuter::DruvelReadTdo,      &TJtagExecuter::DruvelSync,
        &TJtagExecuter::DruvelTmsClock,    &TJtagExecuter::DruvelRuntestTime,  &TJtagExecuter::DruvelRuntestClocks,
        &TJtagExecuter::DruvelTrst,        &TJtagExecuter::DruvelSetFrequency,
    };
    switch (Kind) {
    case CableKindVarnel:
        return &varnel;
    case CableKindMirrow:
        return &mirrow;
    case CableKindDruvel:
        return &druvel;
    default:
        return nullptr;
    }
}

void TJtagExecuter::WireEvents(TJtagFile& Player, int32_t Kind)
{
    const TCableEvents* events = CableEventsOf(Kind);
    if (!events)
        throw Exception("This operation is not implemented.");
    Player.OnMessage = [this](const std::string& Text, MessageKind MsgKind) { Message(Text, MsgKind); };
    Player.OnShift = std::bind_front(events->Shift, this);
    Player.OnRead = std::bind_front(events->ReadTdo, this);
    Player.OnFlush = std::bind_front(events->Sync, this);
    Player.OnTmsClock = std::bind_front(events->TmsClock, this);
    Player.OnRuntestTime = std::bind_front(events->RuntestTime, this);
    Player.OnRuntestClocks = std::bind_front(events->RuntestClocks, this);
    Player.OnTrst = std::bind_front(events->Trst, this);
    Player.OnSetFrequency = std::bind_front(events->SetFrequency, this);
}

bool TJtagExecuter::PrepareFile(const std::string& FileName)
{
    return Admission.Admit(FullPath(FileName));
}

bool TJtagExecuter::OpenAndStart(const std::string& FileName)
{
    const std::string path = FullPath(FileName);
    StartStopped = false;
    SearchLock = TFtLockOutcome::Taken;
    if (!Admission.Holds(path) && !Admission.Admit(path)) {
        StartStopped = Stopping();
        return false;
    }
    // A file changed since its check touches no cable; the open compares
    // again once it holds the search lock.
    if (!Admission.Unchanged())
        return false;
    if (SelectedCable == -1)
        AutoSelectCable();
    const bool fits = Stopping() || Admission.FitsCable(KindOf(SelectedCable));
    const bool opened = fits && !Stopping() && OpenCable();
    // A stop while the cable was looked for or opened: nothing is played,
    // and the front end says why and closes what was opened.
    if (Stopping()) {
        Admission.Release();
        StartStopped = true;
        return false;
    }
    if (!opened) {
        // Refused by the admission, which has said why.
        if (Admission.Holds())
            Message("Fatal error: Cannot open any JTAG cable.", MessageKind::Error);
        Admission.Release();
        return false;
    }
    Message(CableInUseText(), MessageKind::Info);
    Message("Reading file " + path, MessageKind::Info);
    RxReset();

    std::unique_ptr<TJtagFile> player = Admission.Take();
    player->UseStop(StopToken());
    Playing = true;
    const bool started = Admission.Guarded([&] {
        WireEvents(*player, KindInUse());
        if (const int32_t hz = DefFreqHz(DefFreq); hz != 0)
            CurrentFrequency = hz;
        if (CurrentFrequency <= 0)
            CurrentFrequency = FallbackStartHz;
        // A player whose Start fails has asked its worker to stop, so
        // freeing it below does not wait for a run nobody watches.
        if (!player->Start(CurrentFrequency)) {
            Message("USB communication error", MessageKind::Error);
            return false;
        }
        CurrentFile = std::move(player);
        return true;
    });
    // Freed, a player that did not start has no worker left.
    player.reset();
    if (!started)
        Playing = false;
    return started;
}

int32_t TJtagExecuter::RequestedFrequency(int32_t Hz, bool Apply)
{
    if (!IgnoreFreqCmd)
        return Hz;
    if (Apply && Hz < CurrentFrequency)
        Message("Warning: Ignoring maximum frequency " + IntToStrGrouped(Hz) + " Hz", MessageKind::Warning);
    else if (Apply && Hz > CurrentFrequency)
        Message("Info: Current maximum frequency " + IntToStrGrouped(Hz) + " Hz, forced " +
                    IntToStrGrouped(CurrentFrequency) + " Hz",
                MessageKind::Info);
    const int32_t forced = DefFreqHz(DefFreq);
    return forced != 0 ? forced : Hz;
}
