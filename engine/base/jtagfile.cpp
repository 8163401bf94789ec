#include "base/jtagfile.h"

#include "base/StrUtilsEx.h"
#include "base/sysutils.h"

TJtagFilesList* JtagFilesList = nullptr;

TJtagFile::TJtagFile(const std::string&) {}

TJtagFile::~TJtagFile() = default;

namespace {

std::string UpperAscii(std::string Text)
{
    UpperCaseAscii(Text);
    return Text;
}

} // namespace

void TJtagFilesList::RegisterFileClass(const std::string& Extension, const TJtagFileClass& FileClass)
{
    FItems.push_back(std::make_unique<TJtagFileRecord>(TJtagFileRecord{Extension, FileClass}));
}

std::unique_ptr<TJtagFile> TJtagFilesList::CreateFileObject(const std::string& Extension,
                                                            const std::string& FileName) const
{
    std::string ext = UpperAscii(Extension);
    if (!ext.empty() && ext[0] == '.')
        ext.erase(0, 1);
    for (const auto& record : FItems)
        if (UpperAscii(record->Extension) == ext)
            return record->FileClass.Create(FileName);
    throw Exception("No registered class for file type \"" + ext + "\"");
}

const TJtagFileRecord& TJtagFilesList::Items(int32_t Index) const
{
    if (Index < 0 || Index >= Count())
        throw Exception("List index out of bounds (" + std::to_string(Index) + ")");
    return *FItems[static_cast<size_t>(Index)];
}

void RegisterJtagFileClass(const TJtagFileClass& FileClass)
{
    if (JtagFilesList == nullptr)
        JtagFilesList = new TJtagFilesList();
    JtagFilesList->RegisterFileClass(FileClass.FileTypeName(), FileClass);
}
