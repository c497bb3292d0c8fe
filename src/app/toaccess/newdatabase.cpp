#include "toaccess/newdatabase.h"

#include "storage/open.h"

#include <filesystem>

namespace qm::toaccess {

bool MakeAccessDatabaseIfMissing(const std::string& path)
{
    std::error_code ec;
    if (std::filesystem::exists(path, ec))
        return false;
    std::string ext = std::filesystem::path(path).extension().string();
    for (char& c : ext)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    jet::createDatabase(path, ext == ".accdb" ? jet::NewFileFormat::Ace12Accdb : jet::NewFileFormat::Jet4Mdb);
    return true;
}

} // namespace qm::toaccess
