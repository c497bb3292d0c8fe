// Password-protected Access files: .accdb files encrypted with Office
// document encryption (agile AES, RC4 CryptoAPI) and .mdb database
// passwords.  The shared fixtures read with their passwords (compared with
// mdb-reader, or with what the truth files record where mdb-reader cannot
// read the scheme), writing keeps a file encrypted, crashes leave it as it
// was, and damaged encryption headers give clear errors.
#include "create_db_command.h"
#include "exec_command.h"
#include "jet/journal.h"
#include "jet/office_crypto.h"
#include "jet/page_source.h"
#include "mdbreader_check.h"

#include <algorithm>
#include <random>
#include <regex>
#include <sstream>

using namespace qm;
using namespace qm::jetw::test;
using CT = storage::ColumnType;
namespace fs = std::filesystem;
using qm::test::errorOf;

namespace {

struct Encrypted {
    const char* fixture;
    const char* scheme;
    bool mdbReaderReads; // mdb-reader has no RC4 CryptoAPI
};
const Encrypted kFixtures[] = {
    {"access/mdb-reader/password/data/V2010_with-password.accdb", "Office agile (AES)", true},
    {"access/jackcessencrypt/db2013-enc.accdb", "Office agile (AES)", true},
    {"access/jackcessencrypt/db2007-oldenc.accdb", "Office RC4 CryptoAPI", false},
};

std::string truthOf(const std::string& fixture) {
    const fs::path p = qm::test::sharedDir() / "fixtures" / "truth" / (fixture + ".json");
    return fs::exists(p) ? qm::test::readFile(p) : std::string();
}

// The password the truth file records for a fixture.
std::string passwordOf(const std::string& fixture) {
    std::smatch m;
    const std::string truth = truthOf(fixture);
    if (std::regex_search(truth, m, std::regex("\"password\": \"([^\"]*)\""))) return m[1];
    ADD_FAILURE() << "no password in the truth file of " << fixture;
    return {};
}

std::unique_ptr<storage::Database> openReading(const fs::path& p, const std::string& password) {
    storage::OpenOptions o;
    o.password = password;
    o.readOnly = true;
    return jet::openDatabase(p.string(), o);
}

std::vector<std::string> userTables(storage::Database& db) {
    std::vector<std::string> names;
    for (const auto& e : db.catalog())
        if (e.kind == storage::ObjectKind::Table) names.push_back(e.name);
    std::sort(names.begin(), names.end());
    return names;
}

// Every user table of `p` through our reader equals what mdb-reader reads
// with the password; mdb-reader refuses a wrong one.
void expectSameAsMdbReader(const fs::path& p, const std::string& password) {
    MdbReaderDump dump = mdbReaderDump(p, {}, password);
    auto db = openReading(p, password);
    std::vector<std::string> theirs = dump.tables;
    std::sort(theirs.begin(), theirs.end());
    EXPECT_EQ(userTables(*db), theirs);
    for (auto& [name, table] : dump.data) {
        SCOPED_TRACE(name);
        normalizeMdbReaderRows(table);
        EXPECT_EQ(readerRowsAsMdbReader(p, name, password), table.rows);
    }
    const auto refused = qm::test::run({"node", QM_MDBREADER_SCRIPT, QM_NODE_CHECKERS, p.string(), "--password",
                                        password + "x"});
    EXPECT_NE(refused.exitCode, 0);
    EXPECT_NE(refused.err.find("Wrong password"), std::string::npos) << refused.err;
}

// The rows the truth file records from the origin's own tests, as JSON
// arrays without spaces: [[1,"foo"],...].
std::string truthRows(const std::string& fixture) {
    std::string t = truthOf(fixture);
    const std::size_t at = t.find("\"row_values\"");
    if (at == std::string::npos) return {};
    std::string out;
    int depth = 0;
    bool inString = false;
    for (std::size_t i = t.find('[', at); i < t.size(); ++i) {
        const char c = t[i];
        if (c == '"' && t[i - 1] != '\\') inString = !inString;
        if (!inString && (c == ' ' || c == '\n')) continue;
        out.push_back(c);
        if (!inString && c == '[') ++depth;
        if (!inString && c == ']' && --depth == 0) break;
    }
    return out;
}

std::string rowsAsJson(storage::Database& db, const std::string& table) {
    auto cur = db.scan(table);
    std::string out = "[";
    while (cur->next()) {
        out += out.size() > 1 ? ",[" : "[";
        for (std::size_t i = 0; i < cur->columns().size(); ++i) {
            const Value& v = cur->value(i);
            if (i) out += ",";
            if (v.isNull()) out += "null";
            else if (v.type() == VarType::String) out += "\"" + v.toString() + "\"";
            else out += v.toString();
        }
        out += "]";
    }
    return out + "]";
}

bool contains(const std::string& hay, const std::string& needle) { return hay.find(needle) != std::string::npos; }
std::string utf16(const std::string& ascii) {
    std::string s;
    for (char c : ascii) s += std::string{c, '\0'};
    return s;
}
// Whether the text appears in the file in clear, as Access stores text
// (compressed: one byte a character; or UTF-16LE).
bool inClear(const fs::path& p, const std::string& text) {
    const std::string bytes = qm::test::readFile(p);
    return contains(bytes, text) || contains(bytes, utf16(text));
}

TEST(EncryptedFixtures, AgileFilesReadAsMdbReaderReadsThem) {
    QM_REQUIRE_SHARED();
    QM_REQUIRE_MDB_READER();
    for (const Encrypted& f : kFixtures) {
        if (!f.mdbReaderReads) continue;
        SCOPED_TRACE(f.fixture);
        expectSameAsMdbReader(qm::test::fixture(f.fixture), passwordOf(f.fixture));
    }
}

TEST(EncryptedFixtures, RowsAreThoseTheOriginsTestsRecord) {
    QM_REQUIRE_SHARED();
    for (const auto& [fixture, table] : {std::pair{"access/jackcessencrypt/db2007-oldenc.accdb", "Table1"},
                                         std::pair{"access/jackcessencrypt/db2013-enc.accdb", "Customers"}}) {
        SCOPED_TRACE(fixture);
        const std::string expected = truthRows(fixture);
        ASSERT_FALSE(expected.empty());
        auto db = openReading(qm::test::fixture(fixture), passwordOf(fixture));
        EXPECT_EQ(rowsAsJson(*db, table), expected);
        // The system tables read too (MSysQueries is named by the origin's tests).
        const auto entries = db->catalog();
        EXPECT_TRUE(std::any_of(entries.begin(), entries.end(), [](const auto& e) { return e.name == "MSysQueries"; }));
        for (const auto& e : entries)
            if (e.kind == storage::ObjectKind::SystemTable) EXPECT_NO_THROW(readerRows(*db, e.name)) << e.name;
    }
}

TEST(EncryptedFixtures, AWrongOrMissingPasswordIsRefusedAsTheProviderDoes) {
    QM_REQUIRE_SHARED();
    qm::test::TempDir dir;
    for (const Encrypted& f : kFixtures) {
        SCOPED_TRACE(f.fixture);
        const fs::path p = qm::test::fixture(f.fixture);
        const std::string right = passwordOf(f.fixture);
        std::string upper = right;
        std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char c) { return char(std::toupper(c)); });
        for (const std::string& wrong : {std::string(), right + " ", upper == right ? "x" + right : upper}) {
            EXPECT_EQ(errorOf([&] { openReading(p, wrong); }), "Not a valid password.") << "'" << wrong << "'";
        }
        // The writer says the same about its file.
        const fs::path copy = writableCopy(dir, p);
        EXPECT_EQ(errorOf([&] { openWritable(copy, "nope"); }), copy.string() + ": Not a valid password.");
        EXPECT_EQ(qm::test::readFile(copy), qm::test::readFile(p));
    }
}

TEST(EncryptedFixtures, ASchemeWeCannotReadIsNamed) {
    QM_REQUIRE_SHARED();
    const fs::path p = qm::test::fixture("access/jackcessencrypt/db-nonstandard.accdb");
    for (const char* pw : {"password", "", "wrong"}) {
        const std::string msg = errorOf([&] { openReading(p, pw); });
        EXPECT_TRUE(contains(msg, p.string())) << msg;
        EXPECT_TRUE(contains(msg, "Office standard (AES)")) << msg;
        EXPECT_TRUE(contains(msg, "cannot read")) << msg;
    }
}

// Through the ACE provider, as the program opens a database from its
// connection string (the password in "JET OLEDB:Database Password=").
TEST(EncryptedFixtures, SqlThroughTheProviderWithTheConnectionPassword) {
    QM_REQUIRE_SHARED();
    qm::test::TempDir dir;
    const fs::path p = writableCopy(dir, qm::test::fixture("access/jackcessencrypt/db2007-oldenc.accdb"));
    auto exec = [&](const std::vector<std::string>& args) {
        std::ostringstream out, err;
        const int rc = cli::runExec(args, out, err);
        return std::pair{rc, out.str() + err.str()};
    };
    auto [rc, text] = exec({p.string(), "--password", "Test123", "INSERT INTO Table1 (Field1) VALUES ('barquux9')"});
    EXPECT_EQ(rc, 0) << text;
    std::tie(rc, text) = exec({p.string(), "--password", "Test123", "SELECT Field1 FROM Table1 ORDER BY ID"});
    EXPECT_EQ(rc, 0) << text;
    EXPECT_TRUE(contains(text, "Field1\nfoo\nbarquux9\n")) << text;
    std::tie(rc, text) = exec({p.string(), "--password", "test123", "SELECT * FROM Table1"});
    EXPECT_EQ(rc, 1);
    EXPECT_TRUE(contains(text, "Not a valid password.")) << text;
    EXPECT_FALSE(inClear(p, "barquux9"));
}

// Rows of every kind, long values included, written into a copy of each
// encrypted fixture: the file stays encrypted under the same password and
// scheme, the values read back (with mdb-reader too where it reads the
// scheme), and nothing written appears in clear in the file.
TEST(EncryptedWrite, WritingKeepsTheFileEncryptedAndEveryValueReadsBack) {
    QM_REQUIRE_SHARED();
    qm::test::TempDir dir;
    const std::string longText = [] {
        std::string s;
        for (int i = 0; i < 900; ++i) s += "Sesquipedalian" + std::to_string(i) + " ";
        return s;
    }();
    for (const Encrypted& f : kFixtures) {
        SCOPED_TRACE(f.fixture);
        const fs::path p = writableCopy(dir, qm::test::fixture(f.fixture));
        const std::string password = passwordOf(f.fixture);
        const std::string before = qm::test::readFile(p);
        {
            auto db = openWritable(p, password);
            storage::TableSpec t{"Ledger",
                                 {col("ID", CT::Long, 0, true), col("Label", CT::VarChar, 80), col("Amount", CT::Currency),
                                  col("When", CT::DateTime), col("Note", CT::Memo), col("Ratio", CT::Double)},
                                 {}};
            t.indexes = {{"PrimaryKey", {"ID"}, true, false}, {"Label", {"Label"}, false, false}};
            db->createTable(t);
            db->beginBatch();
            for (int i = 0; i < 400; ++i)
                db->append("Ledger", std::vector<Value>{Value(), Value::string("Quuxwidget " + std::to_string(i)),
                                                        Value::currency(std::int64_t(i) * 12345),
                                                        Value::date(45000.5 + i),
                                                        i % 50 == 0 ? Value::string(longText) : Value(),
                                                        Value::dbl(i / 7.0)});
            db->endBatch();
        }
        const std::string after = qm::test::readFile(p);
        // Page 0 (with the EncryptionInfo) is as it was; the rest is cipher text.
        EXPECT_EQ(after.substr(0, 4096), before.substr(0, 4096));
        EXPECT_FALSE(inClear(p, "Quuxwidget")) << "written text is readable without the password";
        EXPECT_FALSE(inClear(p, "Sesquipedalian"));
        EXPECT_FALSE(inClear(p, "Ledger"));
        EXPECT_FALSE(fs::exists(p.string() + "-journal"));

        auto db = openReading(p, password);
        const Rows rows = readerRows(*db, "Ledger");
        ASSERT_EQ(rows.size(), 400u);
        EXPECT_EQ(rows[7][1], "Quuxwidget 7");
        EXPECT_EQ(rows[50][4], longText);
        EXPECT_EQ(errorOf([&] { openReading(p, password + "!"); }), "Not a valid password.");
        if (f.mdbReaderReads && mdbReaderMissing().empty()) expectSameAsMdbReader(p, password);
    }
}

// Stopped at any write, a change to an encrypted file leaves it as it was
// once the journal is rolled back; the journal itself only ever holds pages
// as the file holds them (encrypted).
TEST(EncryptedWrite, StoppedAtAnyWriteTheFileIsAsBeforeAndTheJournalHoldsNoClearPage) {
    QM_REQUIRE_SHARED();
    for (const char* fixture : {"access/jackcessencrypt/db2013-enc.accdb", "access/jackcessencrypt/db2007-oldenc.accdb"}) {
        SCOPED_TRACE(fixture);
        qm::test::TempDir dir;
        const fs::path source = qm::test::fixture(fixture);
        const std::string password = passwordOf(fixture);
        const std::string original = qm::test::readFile(source);
        const std::string table = contains(fixture, "2013") ? "Customers" : "Table1";
        const std::string known = contains(fixture, "2013") ? "Test2" : "foo";
        ASSERT_FALSE(contains(original, known));
        const fs::path p = dir / source.filename();
        bool finished = false;
        long tried = 0;
        for (long n = 0; !finished && n < 10000; n += (n < 12 ? 1 : 1 + n / 3), ++tried) {
            qm::test::writeFile(p, original);
            finished = runStoppingAtWrite(n, [&] {
                auto db = openWritable(p, password);
                db->beginBatch();
                auto cur = db->scan(table);
                std::vector<std::pair<std::uint64_t, Value>> rows;
                while (cur->next()) rows.emplace_back(cur->rowId(), cur->value(0));
                cur.reset();
                for (const auto& [rowId, id] : rows)
                    db->update(table, rowId, std::vector<Value>{id, Value::string("changed")});
                for (int i = 0; i < 200; ++i)
                    db->append(table, std::vector<Value>{Value(), Value::string("row " + std::to_string(i))});
                db->endBatch();
            });
            if (finished) break;
            const fs::path journal = jet::Journal::pathFor(p.string());
            if (fs::exists(journal)) {
                const std::string j = qm::test::readFile(journal);
                EXPECT_FALSE(contains(j, known) || contains(j, utf16(known))) << "journal at write " << n;
            }
            openWritable(p, password).reset(); // rolls back
            ASSERT_EQ(qm::test::readFile(p), original) << "stopped at write " << n;
        }
        EXPECT_TRUE(finished);
        EXPECT_GT(tried, 3);
        auto db = openReading(p, password);
        const Rows rows = readerRows(*db, table);
        const Rows originalRows = readerRows(*openReading(source, password), table);
        EXPECT_EQ(rows.size(), originalRows.size() + 200);
        EXPECT_EQ(std::count_if(rows.begin(), rows.end(), [](const auto& r) { return r[1] == "changed"; }),
                  std::ptrdiff_t(originalRows.size()));
        EXPECT_EQ(std::count_if(rows.begin(), rows.end(), [](const auto& r) { return r[1] == "row 199"; }), 1);
    }
}

int createDb(const std::vector<std::string>& args, std::string* err = nullptr) {
    std::ostringstream out, errs;
    const int rc = cli::runCreateDb(args, out, errs);
    if (err) *err = errs.str();
    return rc;
}

// New files with a password: an .accdb encrypted with the agile scheme that
// mdb-reader opens with the password (and only with it), an .mdb with a
// Jet 4 database password.
TEST(NewEncryptedFiles, CreateDbWithAPasswordMakesFilesTheOtherReadersOpen) {
    qm::test::TempDir dir;
    const std::string password = "Grüße 2026!";
    for (const std::string name : {"new.accdb", "new.mdb"}) {
        SCOPED_TRACE(name);
        const fs::path p = dir / name;
        ASSERT_EQ(createDb({p.string(), "--password", password}), 0);
        {
            auto db = openWritable(p, password);
            db->createTable({"People", {col("ID", CT::Long, 0, true), col("Name", CT::VarChar, 40), col("Born", CT::DateTime),
                                        col("Bio", CT::Memo)}, {{"PrimaryKey", {"ID"}, true, false}}});
            for (int i = 0; i < 30; ++i)
                db->append("People", std::vector<Value>{Value(), Value::string("Zoë " + std::to_string(i)),
                                                        Value::date(20000 + i * 365.25),
                                                        Value::string(std::string(3000 + i, char('a' + i % 26)))});
        }
        EXPECT_EQ(errorOf([&] { openReading(p, "grüße 2026!"); }), "Not a valid password.");
        EXPECT_EQ(errorOf([&] { openReading(p, ""); }), "Not a valid password.");
        EXPECT_EQ(readerRows(*openReading(p, password), "People").size(), 30u);
        const std::string bytes = qm::test::readFile(p);
        if (name == "new.accdb") {
            const auto header = jet::parseHeader(p.string(), reinterpret_cast<const std::uint8_t*>(bytes.data()), 4096);
            EXPECT_TRUE(header.officeEncrypted);
            EXPECT_EQ(header.officeScheme, "Office agile (AES)");
            EXPECT_FALSE(inClear(p, "People"));
            EXPECT_FALSE(inClear(p, "MSysObjects"));
            if (mdbReaderMissing().empty()) expectSameAsMdbReader(p, password);
        } else {
            // mdbtools does not ask for .mdb passwords; it reads our pages.
            if (qm::test::programAvailable("mdb-export")) EXPECT_EQ(mdbExport(p, "People").size(), 30u);
        }
    }
    // An empty password is a mistake, not "no password".
    std::string err;
    EXPECT_EQ(createDb({(dir / "empty.accdb").string(), "--password", ""}, &err), 2);
    EXPECT_TRUE(contains(err, "empty")) << err;
    EXPECT_EQ(createDb({(dir / "long.mdb").string(), "--password", std::string(21, 'x')}, &err), 1);
    EXPECT_TRUE(contains(err, "20 characters")) << err;
    EXPECT_FALSE(fs::exists(dir / "long.mdb"));
}

// The EncryptionInfo of page 0 damaged in chosen and in random ways, and
// files cut short: always a qm::Error that names the file, never a crash.
TEST(EncryptionHeader, DamageGivesAClearErrorNeverACrash) {
    QM_REQUIRE_SHARED();
    qm::test::TempDir dir;
    const fs::path p = dir / "damaged.accdb";
    const std::string agile = qm::test::readFile(qm::test::fixture("access/jackcessencrypt/db2013-enc.accdb"));
    const std::string rc4 = qm::test::readFile(qm::test::fixture("access/jackcessencrypt/db2007-oldenc.accdb"));
    auto attempt = [&](const std::string& bytes, const std::string& password) {
        qm::test::writeFile(p, bytes);
        return errorOf([&] {
            auto db = openReading(p, password);
            for (const auto& e : db->catalog())
                if (e.kind == storage::ObjectKind::Table) readerRows(*db, e.name);
        });
    };
    auto replaced = [](std::string s, const std::string& from, const std::string& to) {
        const std::size_t at = s.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        if (at != std::string::npos) s.replace(at, from.size(), to);
        return s;
    };
    struct Case {
        std::string bytes, expect, password = "1234";
    };
    std::string shortBlock = agile;
    shortBlock[0x299] = 6, shortBlock[0x29A] = 0;
    std::string noBlock = agile;
    noBlock[0x299] = char(0xFF), noBlock[0x29A] = char(0x7F); // longer than the page
    std::string rc4Cut = rc4;
    rc4Cut[0x29B + 8] = char(0xF0); // header size past the block
    const std::vector<Case> cases = {
        {shortBlock, "damaged encryption header"},
        {noBlock, "missing or does not fit"},
        {replaced(agile, "saltValue=\"3MF5", "saltValue=\"3M!5"), "not valid base64"},
        {replaced(agile, "spinCount=\"100000\"", "spinCount=\"99999999\""), "spinCount"},
        {replaced(agile, "hashAlgorithm=\"SHA512\" saltValue=\"3M", "hashAlgorithm=\"SHA999\" saltValue=\"3M"), "SHA999"},
        {replaced(agile, "keyBits=\"256\"", "keyBits=\"200\""), "200 bits"},
        {replaced(agile, "<keyData", "<keyDota"), "no keyData"},
        {rc4Cut, "header size", "Test123"},
        {agile.substr(0, 4096 + 100), "truncated"},
        {rc4.substr(0, 2 * 4096), "truncated", "Test123"},
    };
    for (const Case& c : cases) {
        const std::string msg = attempt(c.bytes, c.password);
        EXPECT_TRUE(contains(msg, p.string())) << msg;
        EXPECT_TRUE(contains(msg, c.expect)) << msg;
    }
    // Random bytes of the block and of the encrypted pages changed.
    std::mt19937 rng(13);
    for (int round = 0; round < 60; ++round) {
        std::string bytes = round % 2 ? agile : rc4;
        const std::size_t infoLength = std::uint8_t(bytes[0x299]) | std::uint8_t(bytes[0x29A]) << 8;
        for (int k = 0; k < 3; ++k) {
            const bool inInfo = round % 3 != 0;
            const std::size_t at = inInfo ? 0x29B + rng() % infoLength : 4096 + rng() % (bytes.size() - 4096);
            bytes[at] = char(rng());
        }
        SCOPED_TRACE(round);
        attempt(bytes, round % 2 ? "1234" : "Test123"); // an error or a clean read
    }
}

} // namespace
