// A run must play the file its check read: a file replaced or written
// between the check and the start of the run (during a long cable search,
// say) is refused before anything of it reaches the chain.
#pragma once

#include <optional>
#include <string>

#include "filereader.h"

class TCheckedFile {
public:
    // The state of File as the check is about to read it.
    void Record(const platform::TFileReader& File) { FIdentity = File.Identity(); }
    // Raises when File is not the one recorded; nothing when none was
    // (a player used without a check).
    void Require(const platform::TFileReader& File, const std::string& Name) const;

private:
    std::optional<platform::TFileIdentity> FIdentity;
};
