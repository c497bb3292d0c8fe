#include "storage/open.h"

#include <filesystem>

namespace qm::storage {

namespace fs = std::filesystem;

namespace {

std::string lowerExtension(const fs::path& p)
{
    std::string ext = p.extension().string();
    for (char& c : ext)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return ext;
}

} // namespace

SourceKind classifyPath(const std::string& path)
{
    std::error_code ec;
    if (fs::is_directory(path, ec))
        return SourceKind::FreeTableFolder;
    std::string ext = lowerExtension(path);
    if (ext == ".mdb" || ext == ".accdb")
        return SourceKind::Access;
    if (ext == ".dbc")
        return SourceKind::FoxProContainer;
    if (ext == ".dbf")
        return SourceKind::SingleFreeTable;
    return SourceKind::Unknown;
}

std::unique_ptr<Database> openDatabase(const std::string& path, const OpenOptions& options)
{
    switch (classifyPath(path)) {
    case SourceKind::Access:
        return jet::openDatabase(path, options);
    case SourceKind::FoxProContainer:
        return xbase::openContainer(path, options);
    case SourceKind::FreeTableFolder:
        return xbase::openFolder(path, options);
    case SourceKind::SingleFreeTable:
        return xbase::openSingleTable(path, options);
    default:
        break;
    }
    std::error_code ec;
    if (!fs::exists(path, ec))
        throw Error("'" + path + "' does not exist.");
    throw Error("'" + path + "' is not an Access database (.mdb, .accdb), a FoxPro database container (.dbc), "
                "a free table (.dbf) or a folder of free tables.");
}

} // namespace qm::storage
