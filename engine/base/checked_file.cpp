#include "base/checked_file.h"

void TCheckedFile::AfterRead(const platform::TFileReader& File, const std::string& Name, bool Checking) const
{
    if (!FIdentity || File.Identity() == *FIdentity)
        return;
    if (Checking)
        throw Exception("The file " + Name + " changed while it was checked; start it again.");
    throw EFileChanged("The file " + Name + " changed while it was played; the rest was not played.");
}

void TCheckedFile::Require(const platform::TFileReader& File, const std::string& Name) const
{
    if (FIdentity && File.Identity() != *FIdentity)
        throw Exception(ChangedText(Name));
}

bool TCheckedFile::SameAt(const std::string& Path) const
{
    return !FIdentity || platform::IdentityOfPath(Path) == *FIdentity;
}

std::string TCheckedFile::ChangedText(const std::string& Name)
{
    return "The file " + Name + " changed after it was checked; start it again.";
}
