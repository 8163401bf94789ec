// A run must play the bytes its check read. The check records the file's
// identity as it opens it; every reader of the check and of the run then
// compares it after each block it reads, before anything of the block is
// used, and the start compares it again before any cable is touched. The
// change time in the identity moves with every write, whatever is done to
// the modification time.
#pragma once

#include <optional>
#include <string>

#include "base/sysutils.h"
#include "filereader.h"

// A run's reader found the file changed: what it had read before the
// change is all that was played. The worker says the message as it stands.
class EFileChanged : public Exception {
public:
    using Exception::Exception;
};

class TCheckedFile {
public:
    // The state of File as the check is about to read it.
    void Record(const platform::TFileReader& File) { FIdentity = File.Identity(); }
    bool Recorded() const { return FIdentity.has_value(); }
    // After a block was read from File: raises when the file is no longer
    // the one recorded, as a refusal of the start while Checking, else
    // EFileChanged. Nothing when none was recorded (a player used without
    // a check).
    void AfterRead(const platform::TFileReader& File, const std::string& Name, bool Checking) const;
    // Raises the refusal of the start when File is not the one recorded.
    void Require(const platform::TFileReader& File, const std::string& Name) const;
    // Before a cable is touched: the file the path names now is the one
    // recorded (true when none was).
    bool SameAt(const std::string& Path) const;
    // The refusal when it is not.
    static std::string ChangedText(const std::string& Name);

private:
    std::optional<platform::TFileIdentity> FIdentity;
};
