#include "jetw_checks.h"

#include "jet/create_database.h"
#include "jet/journal.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <sstream>

namespace qm::jetw::test {

namespace {
std::vector<std::string> split(const std::string& s, char sep) {
    std::vector<std::string> out;
    std::string cur;
    for (char c : s) {
        if (c == sep) {
            out.push_back(cur);
            cur.clear();
        } else {
            cur.push_back(c);
        }
    }
    out.push_back(cur);
    return out;
}
} // namespace

Rows mdbExport(const std::filesystem::path& db, const std::string& table) {
    const auto r = qm::test::run({"mdb-export", "-b", "hex", "-Q", "-d", "\x1f", "-R", "\x1e", "-T",
                                  "%Y-%m-%d %H:%M:%S", db.string(), table});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    Rows rows;
    auto lines = split(r.out, '\x1e');
    for (std::size_t i = 1; i < lines.size(); ++i) {
        if (lines[i].empty() && i + 1 == lines.size()) break;
        rows.push_back(split(lines[i], '\x1f'));
    }
    return rows;
}

std::vector<std::string> mdbTables(const std::filesystem::path& db, bool system) {
    std::vector<std::string> args = {"mdb-tables", "-1"};
    if (system) args.push_back("-S");
    args.push_back(db.string());
    const auto r = qm::test::run(args);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    std::vector<std::string> names;
    for (auto& n : split(r.out, '\n'))
        if (!n.empty()) names.push_back(n);
    return names;
}

Rows readerRows(storage::Database& db, const std::string& table) {
    Rows rows;
    auto c = db.scan(table);
    while (c->next()) {
        std::vector<std::string> row;
        for (std::size_t i = 0; i < c->columns().size(); ++i) {
            const Value& v = c->value(i);
            if (v.isNull()) row.push_back("<null>");
            else if (v.type() == VarType::Binary) row.push_back(hex(v.rawString()));
            else if (v.type() == VarType::Date) row.push_back(date::toIso(v.rawDouble()));
            else row.push_back(v.toString());
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

Rows readerRows(const std::filesystem::path& db, const std::string& table) {
    storage::OpenOptions o;
    o.readOnly = true;
    auto d = qm::jet::openDatabase(db.string(), o);
    return readerRows(*d, table);
}

std::filesystem::path newDatabase(const qm::test::TempDir& dir, const std::string& name) {
    const auto p = dir / name;
    qm::jet::createDatabase(p.string(), p.extension() == ".accdb" ? qm::jet::NewFileFormat::Ace12Accdb
                                                                  : qm::jet::NewFileFormat::Jet4Mdb);
    return p;
}

std::unique_ptr<storage::Database> openWritable(const std::filesystem::path& db, const std::string& password) {
    storage::OpenOptions o;
    o.password = password;
    return qm::jet::openForWriting(db.string(), o);
}

storage::ColumnSpec col(const std::string& name, storage::ColumnType type, int size, bool autoNumber) {
    storage::ColumnSpec c;
    c.name = name;
    c.type = type;
    c.size = size;
    c.autoIncrement = autoNumber;
    return c;
}

std::string testNameOf(const std::filesystem::path& fixture) {
    std::string n = fixture.stem().string();
    for (char& c : n)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return n;
}

std::filesystem::path writableCopy(const qm::test::TempDir& dir, const std::filesystem::path& source) {
    namespace fs = std::filesystem;
    const fs::path p = dir / source.filename();
    fs::copy_file(source, p);
    fs::permissions(p, fs::perms::owner_read | fs::perms::owner_write);
    return p;
}

bool runStoppingAtWrite(long n, const std::function<void()>& op) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        jet::writeFaults().exitAfter = n;
        try {
            op();
        } catch (...) {
            ::_exit(3);
        }
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status));
    const int code = WEXITSTATUS(status);
    EXPECT_TRUE(code == 0 || code == 86) << "the operation failed in the child (status " << code << ")";
    return code == 0;
}


} // namespace qm::jetw::test
