// Reading database containers: the member tables, their long field names
// and the views' SQL must be what the independent survey of each sample
// container reports (the truth files), and damaged or missing companion
// files must give errors that name them.
#include "xbase/dbc.h"
#include "value/value.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <sstream>

namespace fs = std::filesystem;
using namespace qm::xbase;

namespace {

// The truth file's tables and views as lines "T<TAB>name<TAB>path<TAB>f1,f2"
// and "V<TAB>name<TAB>sql", read by Debian's python.
std::vector<std::string> truthLines(const fs::path& truth) {
    const char* script = R"(
import json, sys
d = json.load(open(sys.argv[1]))
for t in d.get('tables', []):
    print('T\t' + t['name'] + '\t' + t.get('path_property', '') + '\t' + ','.join(t.get('long_field_names_in_dbc', [])))
for q in d.get('queries', []):
    print('V\t' + q['name'] + '\t' + q.get('sql', '').replace('\r', '\\r').replace('\n', '\\n'))
)";
    const auto r = qm::test::run({qm::test::kDebianPython, "-c", script, truth.string()});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    std::vector<std::string> lines;
    std::istringstream in(r.out);
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
}

std::string escaped(std::string s) {
    std::string out;
    for (char c : s) {
        if (c == '\r') out += "\\r";
        else if (c == '\n') out += "\\n";
        else out += c;
    }
    return out;
}

std::vector<fs::path> containers() {
    std::vector<fs::path> out;
    for (const auto& e : fs::recursive_directory_iterator(qm::test::fixture("xbase"))) {
        std::string ext = e.path().extension().string();
        for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (ext == ".dbc") out.push_back(e.path());
    }
    std::sort(out.begin(), out.end());
    return out;
}

void copyContainer(const fs::path& dbc, const fs::path& to) {
    for (const auto& e : fs::directory_iterator(dbc.parent_path()))
        if (e.path().stem() == dbc.stem()) fs::copy_file(e.path(), to / e.path().filename());
}

} // namespace

TEST(DbcRead, TablesAndViewsAsTheTruthFilesReportThem) {
    QM_REQUIRE_SHARED();
    QM_REQUIRE_PROGRAM(qm::test::kDebianPython);
    int checked = 0;
    for (const fs::path& dbc : containers()) {
        const fs::path truth =
            qm::test::fixture("truth/" + fs::relative(dbc, qm::test::fixture("")).string() + ".json");
        if (!fs::exists(truth)) continue;
        SCOPED_TRACE(dbc.string());
        const auto c = Container::open(dbc.string());
        std::vector<std::string> mine;
        for (const auto& t : c->tables()) {
            std::string fields;
            for (const auto& f : t.fields) fields += (fields.empty() ? "" : ",") + f.name;
            mine.push_back("T\t" + t.name + "\t" + t.path + "\t" + fields);
            EXPECT_TRUE(fs::exists(t.file)) << t.file;
        }
        for (const auto& v : c->views()) mine.push_back("V\t" + v.name + "\t" + escaped(v.sql));
        EXPECT_EQ(mine, truthLines(truth));
        ++checked;
    }
    EXPECT_GE(checked, 8);
}

TEST(DbcRead, ViewSqlFindsViewsIgnoringCaseAndRefusesUnknownNames) {
    QM_REQUIRE_SHARED();
    const auto c = Container::open(qm::test::fixture("xbase/vfpx-samples/Data/testdata.dbc").string());
    const std::string sql = c->viewSql("CUSTOMERS IN SPECIFIC COUNTRY");
    EXPECT_EQ(sql.rfind("SELECT Customer.cust_id", 0), 0u) << sql;
    EXPECT_NE(sql.find("?whichcountry"), std::string::npos);
    try {
        c->viewSql("customer"); // a table, not a view
        FAIL() << "a table was taken for a view";
    } catch (const qm::Error& e) {
        EXPECT_NE(std::string(e.what()).find("no view named 'customer'"), std::string::npos) << e.what();
    }
}

TEST(DbcRead, RemoteViewsAndIndexesAreReported) {
    QM_REQUIRE_SHARED();
    const auto remote = Container::open(qm::test::fixture("xbase/vfpx-samples/Com+/Transactions/testdata.dbc").string());
    const auto views = remote->views();
    ASSERT_EQ(views.size(), 5u);
    for (const auto& v : views) {
        EXPECT_TRUE(v.remote) << v.name;
        EXPECT_EQ(v.connection, "mtxpubs") << v.name;
    }
    const auto nw = Container::open(qm::test::fixture("xbase/vfpx-samples/Northwind/northwind.dbc").string());
    const auto cat = nw->findTable("categories");
    ASSERT_TRUE(cat);
    EXPECT_EQ(cat->name, "Categories");
    EXPECT_EQ(cat->primaryKey, "categoryid");
    ASSERT_EQ(cat->indexes.size(), 2u);
    EXPECT_EQ(cat->indexes[0].name, "categorynm");
    EXPECT_FALSE(cat->indexes[0].unique);
    EXPECT_TRUE(cat->indexes[1].unique);
}

TEST(DbcRead, MissingOrDamagedFilesAreNamed) {
    QM_REQUIRE_SHARED();
    const fs::path src = qm::test::fixture("xbase/vfpclient/Resources/Blank.dbc");
    auto expectError = [](const std::function<void()>& f, const std::string& part) {
        try {
            f();
            ADD_FAILURE() << "no error; expected one mentioning " << part;
        } catch (const qm::Error& e) {
            EXPECT_NE(std::string(e.what()).find(part), std::string::npos) << e.what();
        }
    };
    qm::test::TempDir tmp;
    expectError([&] { Container::open((tmp / "nothing.dbc").string()); }, "nothing.dbc");

    // No memo file beside the container.
    fs::copy_file(src, tmp / "alone.dbc");
    expectError([&] { Container::open((tmp / "alone.dbc").string()); }, "alone.d");

    // A property list whose entry length runs past its end.
    {
        qm::test::TempDir d;
        copyContainer(src, d.path());
        std::string dct = qm::test::readFile(d / "Blank.dct");
        ASSERT_GT(dct.size(), 8u * 64 + 12);
        dct[8 * 64 + 8] = '\x7F'; // first entry of the Database record's list
        qm::test::writeFile(d / "Blank.dct", dct);
        const auto c = Container::open((d / "Blank.dbc").string());
        expectError([&] { c->properties(c->objects().front()); }, "property list is damaged");
        expectError([&] { c->properties(c->objects().front()); }, "Blank.dct");
    }
    // Index missing: readable, but refused for writing.
    {
        qm::test::TempDir d;
        copyContainer(src, d.path());
        fs::remove(d / "Blank.dcx");
        EXPECT_NO_THROW(Container::open((d / "Blank.dbc").string()));
        expectError([&] { Container::open((d / "Blank.dbc").string(), Container::Mode::ReadWrite); }, "Blank.dcx");
    }
    // A table that is not a container.
    {
        qm::test::TempDir d;
        fs::copy_file(qm::test::fixture("xbase/vfpx-samples/Data/country.dbf"), d / "country.dbc");
        expectError([&] { Container::open((d / "country.dbc").string()); }, "country.dbc");
    }
}

TEST(DbcProperties, EncodeDecodeRoundTripAndDamage) {
    const std::vector<DbcProperty> ps = {DbcProperty::byte(dbc_prop::kObjectClass, 6),
                                         DbcProperty::number(dbc_prop::kMaxRecords, -1),
                                         DbcProperty::text(dbc_prop::kSql, "SELECT * FROM t"),
                                         DbcProperty::logical(dbc_prop::kFetchMemo, true)};
    const std::string memo = encodeDbcProperties(ps);
    // Same bytes as FoxPro writes: LE length, 0x01, BE id, value (+ NUL for text).
    EXPECT_EQ(memo.substr(0, 8), std::string("\x08\x00\x00\x00\x01\x00\x02\x06", 8));
    EXPECT_EQ(memo.substr(8, 11), std::string("\x0B\x00\x00\x00\x01\x00\x27\xFF\xFF\xFF\xFF", 11));
    const auto back = decodeDbcProperties(memo, "test");
    ASSERT_EQ(back.size(), 4u);
    EXPECT_EQ(back[1].asNumber(), -1);
    EXPECT_EQ(back[2].asText(), "SELECT * FROM t");
    EXPECT_EQ(back[3].asNumber(), 1);
    EXPECT_THROW(decodeDbcProperties(memo.substr(0, memo.size() - 1), "x"), qm::Error);
    EXPECT_THROW(decodeDbcProperties(std::string("\x03\x00\x00\x00\x01\x00\x02", 7), "x"), qm::Error); // length < header
    EXPECT_TRUE(decodeDbcProperties("", "x").empty());
}
