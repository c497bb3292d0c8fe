#include "exec_command.h"

#include "ado/ado.h"
#include "providers/providers.h"

#include <fstream>
#include <sstream>

namespace qm::cli {

namespace {

constexpr const char* kUsage = "usage: quillmere-cli exec DB [--password PW] (--file SCRIPT | SQL...)\n";

std::string shown(const Value& v) {
    if (v.isNull()) return "NULL";
    if (v.type() == VarType::Binary) return "(" + std::to_string(v.rawString().size()) + " bytes)";
    std::string s = v.toString();
    // One row per line: line breaks and tabs inside values are written escaped.
    std::string out;
    out.reserve(s.size());
    for (char c : s) {
        if (c == '\n') out += "\\n";
        else if (c == '\r') out += "\\r";
        else if (c == '\t') out += "\\t";
        else if (c == '\\') out += "\\\\";
        else out += c;
    }
    return out;
}

void printRows(providers::SqlSession& session, std::string_view select, std::ostream& out) {
    auto cursor = session.executor().query(select);
    const auto& cols = cursor->columns();
    for (std::size_t i = 0; i < cols.size(); ++i) out << (i ? "\t" : "") << cols[i].name;
    out << '\n';
    std::int64_t n = 0;
    while (cursor->next()) {
        std::string line;
        for (std::size_t i = 0; i < cols.size(); ++i) {
            if (i) line += '\t';
            line += shown(cursor->value(i));
        }
        line += '\n';
        out << line;
        ++n;
    }
    out << n << (n == 1 ? " row\n" : " rows\n");
}

} // namespace

int runExec(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    std::vector<std::string> a = args;
    if (!a.empty() && a.front() == "exec") a.erase(a.begin());
    std::string db, password, file, sql;
    bool haveFile = false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const std::string& w = a[i];
        if (w == "--password" || w == "--file") {
            if (i + 1 >= a.size()) {
                err << "quillmere-cli exec: " << w << " needs a value\n" << kUsage;
                return 2;
            }
            (w == "--password" ? password : file) = a[++i];
            if (w == "--file") haveFile = true;
        } else if (w.rfind("--password=", 0) == 0) {
            password = w.substr(11);
        } else if (w.rfind("--file=", 0) == 0) {
            file = w.substr(7);
            haveFile = true;
        } else if (db.empty()) {
            db = w;
        } else {
            if (!sql.empty()) sql += ' ';
            sql += w;
        }
    }
    if (db.empty() || (haveFile == !sql.empty())) {
        err << "quillmere-cli exec: give a database and either --file SCRIPT or the SQL text\n" << kUsage;
        return 2;
    }
    if (haveFile) {
        std::ifstream in(file, std::ios::binary);
        if (!in) {
            err << "quillmere-cli exec: cannot read the script '" << file << "'\n";
            return 1;
        }
        std::ostringstream text;
        text << in.rdbuf();
        sql = text.str();
    }

    try {
        providers::registerBuiltInProviders();
        ado::Connection connection;
        connection.Open(providers::connectionStringFor(db, password));
        auto* session = dynamic_cast<providers::SqlSession*>(&connection.session());
        if (!session) {
            err << "quillmere-cli exec: the connection to '" << db << "' cannot run scripts\n";
            return 1;
        }
        std::size_t failed = 0;
        session->executeScript(sql, [&](const sql::StatementOutcome& o) {
            if (o.failed) {
                ++failed;
                out << "line " << o.line << ": error: " << o.error << '\n';
                return;
            }
            if (o.kind == sql::StatementKind::Select && o.rowsAffected == 0) {
                std::string_view t = o.text;
                bool into = false;
                // SELECT ... INTO reports rows; a plain SELECT shows them.
                try {
                    sql::Parser p(session->executor().dialect());
                    into = p.parseSelect(t)->into.has_value();
                } catch (const sql::ParseError&) {
                }
                if (!into) {
                    out << "line " << o.line << ":\n";
                    try {
                        printRows(*session, t, out);
                    } catch (const std::exception& e) {
                        ++failed;
                        out << "line " << o.line << ": error: " << e.what() << '\n';
                    }
                    return;
                }
            }
            out << "line " << o.line << ": " << sql::statementName(o.kind) << ": ";
            switch (o.kind) {
            case sql::StatementKind::Insert:
            case sql::StatementKind::Update:
            case sql::StatementKind::Delete:
            case sql::StatementKind::Select:
                out << o.rowsAffected << (o.rowsAffected == 1 ? " row affected\n" : " rows affected\n");
                break;
            default:
                out << "done\n";
                break;
            }
        });
        return failed ? 1 : 0;
    } catch (const std::exception& e) {
        err << "quillmere-cli exec: " << e.what() << '\n';
        return 1;
    }
}

} // namespace qm::cli
