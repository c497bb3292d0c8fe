#include "translate_command.h"

#include "sql/translate.h"
#include "storage/open.h"

#include <istream>
#include <stdexcept>
#include <iterator>
#include <memory>

namespace qm::cli {

namespace {

constexpr const char* kUsage =
    "usage: quillmere-cli translate --to foxpro|access [--db DB [--password PW]] (SQL | --query NAME)\n";

int usage(std::ostream& err, const std::string& why)
{
    err << "quillmere-cli: " << why << "\n" << kUsage;
    return 2;
}

} // namespace

int runTranslate(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err)
{
    std::string to, dbPath, password, queryName, sql;
    bool haveSql = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](const char* option) -> const std::string& {
            if (i + 1 >= args.size())
                throw std::invalid_argument(std::string(option) + " needs a value");
            return args[++i];
        };
        try {
            if (a == "--to")
                to = value("--to");
            else if (a == "--db")
                dbPath = value("--db");
            else if (a == "--password")
                password = value("--password");
            else if (a == "--query")
                queryName = value("--query");
            else if (!haveSql) {
                sql = a;
                haveSql = true;
            } else
                return usage(err, "'translate' takes one SQL text");
        } catch (const std::invalid_argument& e) {
            return usage(err, e.what());
        }
    }
    sql::Dialect target;
    if (to == "foxpro")
        target = sql::Dialect::FoxPro;
    else if (to == "access")
        target = sql::Dialect::Access;
    else
        return usage(err, to.empty() ? "--to foxpro or --to access is needed" : "--to takes foxpro or access, not '" + to + "'");
    if (haveSql && !queryName.empty())
        return usage(err, "give either an SQL text or --query, not both");
    if (!queryName.empty() && dbPath.empty())
        return usage(err, "--query needs --db");
    const sql::Dialect source = target == sql::Dialect::FoxPro ? sql::Dialect::Access : sql::Dialect::FoxPro;

    std::unique_ptr<storage::Database> db;
    try {
        if (!dbPath.empty()) {
            storage::OpenOptions options;
            options.password = password;
            options.readOnly = true;
            db = storage::openDatabase(dbPath, options);
            const bool isAccess = storage::classifyPath(dbPath) == storage::SourceKind::Access;
            if (isAccess != (source == sql::Dialect::Access))
                return usage(err, dbPath + " is not " + (source == sql::Dialect::Access ? "an Access" : "a FoxPro") +
                                      " database, the side the query comes from");
        }
        if (!queryName.empty()) {
            auto entry = db->find(queryName);
            if (!entry || (entry->kind != storage::ObjectKind::View && entry->kind != storage::ObjectKind::Query))
                throw std::runtime_error(dbPath + ": no saved query or view named '" + queryName + "'");
            sql = db->querySql(entry->name);
        } else if (!haveSql) {
            sql.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
    } catch (const std::exception& e) {
        std::string text = e.what();
        if (!dbPath.empty() && text.find(dbPath) == std::string::npos)
            text = dbPath + ": " + text;
        err << "quillmere-cli: " << text << "\n";
        return 1;
    }

    const auto result = sql::translateQuery(sql, source, target, db.get());
    for (const auto& note : result.notes)
        err << "note: " << note << "\n";
    if (!result.ok()) {
        out << result.report();
        return 1;
    }
    out << result.sql << "\n";
    return 0;
}

} // namespace qm::cli
