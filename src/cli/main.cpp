// quillmere-cli: inspect Access and FoxPro data from a shell.
//
//   quillmere-cli tables  DB [--password PW]
//   quillmere-cli columns DB TABLE [--password PW]
//   quillmere-cli export  DB TABLE [--password PW]
//   quillmere-cli sql     DB NAME [--password PW]
//   quillmere-cli exec    DB [--password PW] (--file SCRIPT | SQL)
//   quillmere-cli create-db PATH [--format mdb|accdb] [--password PW]
//   quillmere-cli copy    SRC DST [NAME...] [--password PW] [--overwrite]
//   quillmere-cli translate --to foxpro|access [--db DB] (SQL | --query NAME)
//
// Output goes to standard output; on failure one line naming the file and
// the problem goes to standard error and the exit status is non-zero.  Rows
// are written whole, so a failure never leaves a partial line behind.
#include "copy_command.h"
#include "create_db_command.h"
#include "exec_command.h"
#include "json_export.h"
#include "translate_command.h"
#include "storage/open.h"

#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

namespace {

using namespace qm;

constexpr const char* kUsage =
    "usage: quillmere-cli tables  DB [--password PW]\n"
    "       quillmere-cli columns DB TABLE [--password PW]\n"
    "       quillmere-cli export  DB TABLE [--password PW]\n"
    "       quillmere-cli sql     DB NAME [--password PW]\n"
    "       quillmere-cli exec    DB [--password PW] (--file SCRIPT | SQL)\n"
    "       quillmere-cli create-db PATH [--format mdb|accdb] [--password PW]\n"
    "       quillmere-cli copy    SRC DST [NAME...] [--password PW] [--overwrite]\n"
    "       quillmere-cli translate --to foxpro|access [--db DB [--password PW]] (SQL | --query NAME)\n";

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct Arguments {
    std::string command;
    std::vector<std::string> positional;
    std::string password;
};

Arguments parseArguments(int argc, char** argv)
{
    Arguments a;
    if (argc < 2)
        throw UsageError("no command given");
    a.command = argv[1];
    for (int i = 2; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--password") {
            if (i + 1 >= argc)
                throw UsageError("--password needs a value");
            a.password = argv[++i];
        } else if (arg.rfind("--password=", 0) == 0) {
            a.password = arg.substr(11);
        } else {
            a.positional.push_back(std::move(arg));
        }
    }
    return a;
}

// Collects output and writes only whole rows: rowDone() marks everything
// buffered so far as complete.  When a command fails partway through a row,
// the part of that row already buffered is dropped, never written.
class Output {
public:
    ~Output()
    {
        // Rows completed before a failure still go out; errors here cannot
        // be reported any more.
        if (complete_ > 0)
            std::fwrite(buf_.data(), 1, complete_, stdout);
        std::fflush(stdout);
    }
    std::string& buffer() { return buf_; }
    void rowDone()
    {
        complete_ = buf_.size();
        if (complete_ >= (1u << 20))
            flush();
    }
    // Writes every complete row; call at the end of a command that succeeded.
    void finish()
    {
        complete_ = buf_.size();
        flush();
    }

private:
    void flush()
    {
        const size_t n = complete_;
        complete_ = 0;
        bool ok = n == 0 || std::fwrite(buf_.data(), 1, n, stdout) == n;
        buf_.erase(0, n);
        if (std::fflush(stdout) != 0 || !ok)
            throw Error("cannot write to standard output");
    }

    std::string buf_;
    size_t complete_ = 0;
};

void requireCount(const Arguments& a, size_t n)
{
    if (a.positional.size() != n)
        throw UsageError("'" + a.command + "' takes " + std::to_string(n) + " argument" + (n == 1 ? "" : "s"));
}

std::unique_ptr<storage::Database> open(const Arguments& a)
{
    storage::OpenOptions options;
    options.password = a.password;
    options.readOnly = true;
    return storage::openDatabase(a.positional.at(0), options);
}

storage::CatalogEntry findListed(storage::Database& db, const std::string& name, bool viewsToo)
{
    auto entry = db.find(name);
    bool ok = entry && (entry->tableType == "TABLE" || (viewsToo && entry->tableType == "VIEW") ||
                        (viewsToo && entry->kind == storage::ObjectKind::Query));
    if (!ok)
        throw Error(db.path() + ": no " + (viewsToo ? "saved query or view" : "table") + " named '" + name + "'");
    return *entry;
}

int runTables(const Arguments& a)
{
    requireCount(a, 1);
    auto db = open(a);
    Output out;
    for (const auto& e : db->catalog()) {
        if (e.tableType != "TABLE" && e.tableType != "VIEW")
            continue;
        out.buffer() += e.tableType + "\t" + e.name + "\n";
    }
    out.finish();
    return 0;
}

int runColumns(const Arguments& a)
{
    requireCount(a, 2);
    auto db = open(a);
    auto entry = findListed(*db, a.positional[1], false);
    Output out;
    for (const auto& c : db->columns(entry.name))
        out.buffer() += c.name + "\t" + std::to_string(c.adoType) + "\t" + std::to_string(c.definedSize) + "\t" +
                        c.nativeType + "\n";
    out.finish();
    return 0;
}

int runExport(const Arguments& a)
{
    requireCount(a, 2);
    auto db = open(a);
    auto entry = findListed(*db, a.positional[1], false);
    auto engine = storage::classifyPath(a.positional[0]) == storage::SourceKind::Access ? cli::Engine::Access
                                                                                         : cli::Engine::XBase;
    auto cursor = db->scan(entry.name);
    const auto& columns = cursor->columns();
    Output out;
    std::string& buf = out.buffer();
    std::vector<storage::ComplexItem> items;
    while (cursor->next()) {
        buf += '[';
        for (size_t i = 0; i < columns.size(); ++i) {
            if (i)
                buf += ',';
            const auto kind = columns[i].complex;
            if ((kind == storage::ComplexKind::MultiValue || kind == storage::ComplexKind::Attachment) &&
                cursor->complexItems(i, items))
                cli::appendJsonComplex(buf, columns[i], items, engine);
            else
                cli::appendJsonValue(buf, columns[i], cursor->value(i), engine);
        }
        buf += "]\n";
        out.rowDone();
    }
    out.finish();
    return 0;
}

int runSql(const Arguments& a)
{
    requireCount(a, 2);
    auto db = open(a);
    auto entry = findListed(*db, a.positional[1], true);
    std::string sql = db->querySql(entry.name);
    std::fwrite(sql.data(), 1, sql.size(), stdout);
    std::fputc('\n', stdout);
    return 0;
}

// Commands that parse their own words and write their own messages.
int runDelegated(int argc, char** argv, int (*command)(const std::vector<std::string>&, std::ostream&, std::ostream&))
{
    std::vector<std::string> args(argv + 2, argv + argc);
    int status = command(args, std::cout, std::cerr);
    std::cout.flush();
    return status;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc >= 2 && std::strcmp(argv[1], "create-db") == 0)
        return runDelegated(argc, argv, qm::cli::runCreateDb);
    if (argc >= 2 && std::strcmp(argv[1], "copy") == 0)
        return runDelegated(argc, argv, qm::cli::runCopy);
    if (argc >= 2 && std::strcmp(argv[1], "exec") == 0)
        return runDelegated(argc, argv, qm::cli::runExec);
    if (argc >= 2 && std::strcmp(argv[1], "translate") == 0) {
        std::vector<std::string> args(argv + 2, argv + argc);
        const int status = qm::cli::runTranslate(args, std::cin, std::cout, std::cerr);
        std::cout.flush();
        return status;
    }
    std::string dbPath = argc > 2 ? argv[2] : "";
    try {
        Arguments a = parseArguments(argc, argv);
        if (a.command == "-h" || a.command == "--help" || a.command == "help") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (a.command == "tables")
            return runTables(a);
        if (a.command == "columns")
            return runColumns(a);
        if (a.command == "export")
            return runExport(a);
        if (a.command == "sql")
            return runSql(a);
        throw UsageError("unknown command '" + a.command + "'");
    } catch (const UsageError& e) {
        std::fprintf(stderr, "quillmere-cli: %s\n%s", e.what(), kUsage);
        return 2;
    } catch (const std::exception& e) {
        // Error texts from the engines already name the file; keep it on one line.
        std::string text = e.what();
        if (!dbPath.empty() && text.find(dbPath) == std::string::npos)
            text = dbPath + ": " + text;
        for (char& c : text)
            if (c == '\n' || c == '\r')
                c = ' ';
        std::fprintf(stderr, "quillmere-cli: %s\n", text.c_str());
        return 1;
    }
}
