#include "base/checked_file.h"

#include "base/sysutils.h"

void TCheckedFile::Require(const platform::TFileReader& File, const std::string& Name) const
{
    if (FIdentity && File.Identity() != *FIdentity)
        throw Exception("The file " + Name + " changed after it was checked; start it again.");
}
