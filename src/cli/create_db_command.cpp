#include "create_db_command.h"

#include "storage/open.h"
#include "value/value.h"

#include <algorithm>
#include <filesystem>

namespace qm::cli {

namespace {

std::string lowered(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return s;
}

constexpr const char* kUsage = "usage: quillmere-cli create-db PATH [--format mdb|accdb] [--password PW]\n";

} // namespace

int runCreateDb(const std::vector<std::string>& argsIn, std::ostream& out, std::ostream& err) {
    std::vector<std::string> args = argsIn;
    if (!args.empty() && args.front() == "create-db") args.erase(args.begin());
    std::string path, format, password;
    bool passwordGiven = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--format") {
            if (i + 1 >= args.size()) {
                err << "create-db: --format needs mdb or accdb\n" << kUsage;
                return 2;
            }
            format = lowered(args[++i]);
        } else if (a == "--password") {
            if (i + 1 >= args.size()) {
                err << "create-db: --password needs the password\n" << kUsage;
                return 2;
            }
            password = args[++i];
            passwordGiven = true;
        } else if (a.rfind("--password=", 0) == 0) {
            password = a.substr(11);
            passwordGiven = true;
        } else if (a.rfind("--format=", 0) == 0) {
            format = lowered(a.substr(9));
        } else if (!a.empty() && a[0] == '-' && a != "-") {
            err << "create-db: unknown option " << a << "\n" << kUsage;
            return 2;
        } else if (path.empty()) {
            path = a;
        } else {
            err << "create-db: more than one path given\n" << kUsage;
            return 2;
        }
    }
    if (path.empty()) {
        err << "create-db: no path given\n" << kUsage;
        return 2;
    }
    if (format.empty()) {
        const std::string ext = lowered(std::filesystem::path(path).extension().string());
        if (ext == ".mdb") format = "mdb";
        else if (ext == ".accdb") format = "accdb";
        else {
            err << "create-db: " << path << ": say --format mdb or --format accdb (the extension does not tell)\n";
            return 2;
        }
    }
    if (format != "mdb" && format != "accdb") {
        err << "create-db: unknown format '" << format << "' (mdb or accdb)\n";
        return 2;
    }
    if (passwordGiven && password.empty()) {
        err << "create-db: the password is empty (leave out --password for a database without one)\n";
        return 2;
    }
    try {
        qm::jet::createDatabase(path,
                                format == "accdb" ? qm::jet::NewFileFormat::Ace12Accdb : qm::jet::NewFileFormat::Jet4Mdb,
                                password);
    } catch (const qm::Error& e) {
        err << e.what() << "\n";
        return 1;
    } catch (const std::exception& e) {
        err << path << ": " << e.what() << "\n";
        return 1;
    }
    out << "created " << path << " (" << (format == "accdb" ? "Access 2007 .accdb" : "Access 2002-2003 .mdb")
        << (password.empty() ? "" : format == "accdb" ? ", encrypted with its password" : ", with a database password")
        << ")\n";
    return 0;
}

} // namespace qm::cli
