#include "executor/jtag_admission.h"

#include <new>

#include "base/checked_file.h"
#include "base/sysutils.h"
#include "executor/jtag_execute.h"
#include "executor/jtag_runtest.h"
#include "filereader.h"
#include "svf/svf_error.h"

namespace {

constexpr int32_t Kinds[] = {CableKindVarnel, CableKindMirrow, CableKindDruvel};

// From the last '.' of the file-name part, dot included.
std::string ExtensionOf(const std::string& Path)
{
    const size_t slash = Path.find_last_of('/');
    const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const size_t dot = Path.find_last_of('.');
    if (dot == std::string::npos || dot < nameStart)
        return "";
    return Path.substr(dot);
}

} // namespace

bool TAdmission::Admit(const std::string& Path)
{
    Release();
    // "Cannot open file" alone would leave the user looking for a file
    // that is there.
    if (!Path.empty() && platform::IsDirectoryPath(Path))
        E.Message("The data file " + Path + " is a directory.", MessageKind::Error);
    FRuntestRefusals = {};
    FTimeNoted = false;
    std::unique_ptr<TJtagFile> player;
    const bool checked = Guarded([&] {
        // Before any registration an empty registry refuses every type.
        static const TJtagFilesList noPlayers;
        player = (JtagFilesList ? *JtagFilesList : noPlayers).CreateFileObject(ExtensionOf(Path), Path);
        player->OnCheckedRuntest = [this](bool ByTime, uint32_t Count) { NoteRuntest(ByTime, Count); };
        player->CheckFile(E.StopToken());
        player->OnCheckedRuntest = nullptr;
        return true;
    });
    // Stopped during the check: nothing is said, the front end says why.
    if (!checked || E.Stopping())
        return false;
    FPlayer = std::move(player);
    FPath = Path;
    return true;
}

void TAdmission::NoteRuntest(bool ByTime, uint32_t Count)
{
    // A time wait is refused or not whatever its length.
    if (ByTime && FTimeNoted)
        return;
    FTimeNoted = FTimeNoted || ByTime;
    for (size_t k = 0; k < FRuntestRefusals.size(); ++k)
        if (FRuntestRefusals[k].empty())
            FRuntestRefusals[k] = RuntestRefusal(E, Kinds[k], ByTime, Count);
}

bool TAdmission::Unchanged()
{
    if (!FPlayer || FPlayer->Checked.SameAt(FPath))
        return true;
    E.Message("Fatal error \"" + TCheckedFile::ChangedText(FPath) + "\"", MessageKind::Error);
    Release();
    return false;
}

bool TAdmission::FitsCable(int32_t Kind)
{
    for (size_t k = 0; k < FRuntestRefusals.size(); ++k)
        if (FPlayer && Kinds[k] == Kind && !FRuntestRefusals[k].empty()) {
            E.Message("Fatal error " + FRuntestRefusals[k], MessageKind::Error);
            Release();
            return false;
        }
    return true;
}

std::unique_ptr<TJtagFile> TAdmission::Take()
{
    FPath.clear();
    return std::move(FPlayer);
}

void TAdmission::Release()
{
    FPlayer.reset();
    FPath.clear();
}

bool TAdmission::Guarded(const std::function<bool()>& Step)
{
    try {
        return Step();
    } catch (const Exception&) {
        Refuse(std::current_exception());
    } catch (const std::bad_alloc&) {
        Refuse(std::current_exception());
    }
    return false;
}

void TAdmission::Refuse(std::exception_ptr Error)
{
    try {
        std::rethrow_exception(Error);
    } catch (const ELineException& e) {
        E.Message("Fatal error \"" + e.Message() + "\" near line " + std::to_string(e.LineNumber) + "\r\n\"" +
                      e.LineText + "\"",
                  MessageKind::Error);
    } catch (const Exception& e) {
        E.Message("Fatal error \"" + e.Message() + "\"", MessageKind::Error);
    } catch (const std::bad_alloc&) {
        // A file's check can meet a statement larger than the memory left.
        E.Message("Fatal error \"Out of memory\"", MessageKind::Error);
    }
}
