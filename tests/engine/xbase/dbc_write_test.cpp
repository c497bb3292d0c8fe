// Writing database containers: new containers, member tables and views
// added and dropped.  Each result is read back three ways: by this
// program, by dbfread reading the .dbc as a plain table (Debian's python),
// and by comparing the .dcx with the records it must index.
#include "xbase/cdx_maintain.h"
#include "xbase/dbc.h"
#include "xbase/dbf_table.h"
#include "value/value.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

namespace fs = std::filesystem;
using namespace qm::xbase;

namespace {

// Live records of a .dbc as dbfread sees them: "id parent type name path"
// (path = the Path property, walked out of the property memo by python).
std::vector<std::string> dbfreadObjects(const fs::path& dbc) {
    const char* script = R"(
import sys, struct, os, tempfile
from dbfread import DBF
def prop(b, want):
    i = 0
    while i + 7 <= len(b):
        n = struct.unpack('<I', b[i:i+4])[0]
        if n < 7: break
        if struct.unpack('>H', b[i+5:i+7])[0] == want:
            return b[i+7:i+n].split(b'\0')[0].decode('latin-1')
        i += n
    return ''
# dbfread looks for the memo as .fpt: show it the .dct under that name.
d = tempfile.mkdtemp()
stem = os.path.splitext(sys.argv[1])[0]
os.symlink(sys.argv[1], os.path.join(d, 'c.dbf'))
os.symlink(stem + '.dct', os.path.join(d, 'c.fpt'))
for r in DBF(os.path.join(d, 'c.dbf'), encoding='latin-1'):
    p = r['PROPERTY'] or b''
    if isinstance(p, str): p = p.encode('latin-1')
    print(r['OBJECTID'], r['PARENTID'], r['OBJECTTYPE'].strip(), r['OBJECTNAME'].strip() + '|' + prop(p, 1) + '|' + prop(p, 0x2A))
)";
    const auto r = qm::test::run({qm::test::kDebianPython, "-c", script, dbc.string()});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    std::vector<std::string> lines;
    std::istringstream in(r.out);
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
}

bool contains(const std::vector<std::string>& v, const std::string& s) {
    return std::find(v.begin(), v.end(), s) != v.end();
}

std::vector<std::string> indexProblems(const fs::path& dbc) {
    auto t = DbfTable::open(dbc.string());
    return StructuralIndex::verify(*t, StructuralIndex::indexPathFor(dbc.string()));
}

void copyContainer(const fs::path& dbc, const fs::path& to) {
    for (const auto& e : fs::directory_iterator(dbc.parent_path()))
        if (e.path().stem() == dbc.stem()) fs::copy_file(e.path(), to / e.path().filename());
}

std::string firstProblem(const std::vector<std::string>& p) { return p.empty() ? std::string() : p.front(); }

} // namespace

TEST(DbcWrite, NewContainerHasTheFixedRecordsAndASoundIndex) {
    QM_REQUIRE_PROGRAM(qm::test::kDebianPython);
    qm::test::TempDir tmp;
    const fs::path dbc = tmp / "sales.dbc";
    {
        auto c = Container::create(dbc.string());
        EXPECT_TRUE(c->tables().empty());
        EXPECT_TRUE(c->views().empty());
    }
    EXPECT_TRUE(fs::exists(tmp / "sales.dct"));
    EXPECT_TRUE(fs::exists(tmp / "sales.dcx"));
    const auto objects = dbfreadObjects(dbc);
    ASSERT_EQ(objects.size(), 5u);
    EXPECT_EQ(objects[0], "1 1 Database Database||");
    EXPECT_EQ(objects[4], "5 1 Database StoredProceduresDependencies||");
    const auto p = indexProblems(dbc);
    EXPECT_TRUE(p.empty()) << firstProblem(p);
    // Header as FoxPro makes a container: VFP table, flags CDX + memo + container.
    const std::string head = qm::test::readFile(dbc);
    EXPECT_EQ(static_cast<unsigned char>(head[0]), 0x30);
    EXPECT_EQ(static_cast<unsigned char>(head[28]), 0x07);
    EXPECT_THROW(Container::create(dbc.string()), qm::Error);
}

TEST(DbcWrite, MemberTableAndViewAreAddedAndDroppedWithTheIndexInStep) {
    QM_REQUIRE_SHARED();
    QM_REQUIRE_PROGRAM(qm::test::kDebianPython);
    qm::test::TempDir tmp;
    copyContainer(qm::test::fixture("xbase/vfpx-samples/Northwind/northwind.dbc"), tmp.path());
    const fs::path dbc = tmp / "northwind.dbc";
    const std::size_t before = dbfreadObjects(dbc).size();

    fs::create_directory(tmp / "data");
    const fs::path member = tmp / "data" / "orderlines.dbf";
    {
        auto c = Container::open(dbc.string(), Container::Mode::ReadWrite);
        EXPECT_EQ(c->backlinkFor(member.string()), "..\\northwind.dbc");
        EXPECT_EQ(c->pathPropertyFor(member.string()), "data\\orderlines.dbf");
        CreateOptions opt;
        opt.backlink = c->backlinkFor(member.string());
        DbfTable::create(member.string(), {{"ORDERID", 'I', 4}, {"PRODUCTNA", 'C', 40}}, opt);
        c->addTable({"Order Lines", member.string(), {"OrderID", "ProductName"}, {}, "", "lines of an order"});
        // Names are unique among tables and views, ignoring case.
        EXPECT_THROW(c->addTable({"order lines", member.string(), {"a"}, {}, "", ""}), qm::Error);
        EXPECT_THROW(c->createView({"ORDER LINES", "SELECT 1 FROM x", "", {}}), qm::Error);
        c->createView({"big_orders", "SELECT * FROM northwind!orderlines WHERE orderid > 10 ", "", {{"orderid", "I", ""}}});
    }
    {
        const auto c = Container::open(dbc.string());
        const auto t = c->findTable("ORDER LINES");
        ASSERT_TRUE(t);
        EXPECT_EQ(t->path, "data\\orderlines.dbf");
        EXPECT_EQ(fs::path(t->file), member);
        ASSERT_EQ(t->fields.size(), 2u);
        EXPECT_EQ(t->fields[1].name, "productname");
        EXPECT_EQ(t->comment, "lines of an order");
        EXPECT_EQ(c->viewSql("Big_Orders"), "SELECT * FROM northwind!orderlines WHERE orderid > 10 ");
        EXPECT_EQ(c->views().size(), 18u);
        EXPECT_EQ(c->findView("big_orders")->fields.size(), 1u);
    }
    auto objects = dbfreadObjects(dbc);
    EXPECT_EQ(objects.size(), before + 5);
    // Object ids follow the record numbers, as FoxPro numbers them.
    EXPECT_TRUE(contains(objects, "275 1 Table Order Lines|data\\orderlines.dbf|")) << objects[before];
    EXPECT_TRUE(contains(objects, "276 275 Field orderid||"));
    EXPECT_TRUE(contains(objects, "277 275 Field productname||"));
    EXPECT_TRUE(contains(objects, "278 1 View big_orders||SELECT * FROM northwind!orderlines WHERE orderid > 10 "));
    auto problems = indexProblems(dbc);
    EXPECT_TRUE(problems.empty()) << firstProblem(problems);
    // The member table points back at the container.
    EXPECT_EQ(DbfTable::open(member.string())->header().backlink, "..\\northwind.dbc");

    {
        auto c = Container::open(dbc.string(), Container::Mode::ReadWrite);
        c->dropView("BIG_ORDERS");
        EXPECT_FALSE(c->findView("big_orders"));
        c->dropTable("order lines");
        EXPECT_FALSE(c->findTable("order lines"));
        EXPECT_THROW(c->dropTable("order lines"), qm::Error);
        EXPECT_THROW(c->dropView("nothing"), qm::Error);
    }
    EXPECT_FALSE(fs::exists(member));
    objects = dbfreadObjects(dbc);
    EXPECT_EQ(objects.size(), before);
    problems = indexProblems(dbc);
    EXPECT_TRUE(problems.empty()) << firstProblem(problems);
}

TEST(DbcWrite, DroppingATableRemovesItsRelations) {
    QM_REQUIRE_SHARED();
    qm::test::TempDir tmp;
    copyContainer(qm::test::fixture("xbase/vfpx-samples/Northwind/northwind.dbc"), tmp.path());
    const fs::path dbc = tmp / "northwind.dbc";
    auto c = Container::open(dbc.string(), Container::Mode::ReadWrite);
    auto liveRelations = [&] {
        int n = 0;
        for (const auto& o : c->objects()) n += !o.deleted && o.type == "Relation";
        return n;
    };
    const int relations = liveRelations();
    // Categories is the parent of one relation (Products -> Categories).
    c->dropTable("Categories", /*deleteFiles=*/false);
    EXPECT_EQ(liveRelations(), relations - 1);
    for (const auto& o : c->objects()) {
        if (!o.deleted) {
            EXPECT_NE(o.parentId, 6) << o.name;
        }
    }
    const auto problems = indexProblems(dbc);
    EXPECT_TRUE(problems.empty()) << firstProblem(problems);
}

TEST(DbcWrite, ReadOnlyContainerRefusesChanges) {
    QM_REQUIRE_SHARED();
    qm::test::TempDir tmp;
    copyContainer(qm::test::fixture("xbase/vfpclient/Resources/Blank.dbc"), tmp.path());
    auto c = Container::open((tmp / "Blank.dbc").string());
    EXPECT_THROW(c->createView({"v", "SELECT 1", "", {}}), qm::Error);
}

TEST(DbcWrite, MemberTableMustMatchItsRecords) {
    QM_REQUIRE_SHARED();
    qm::test::TempDir tmp;
    copyContainer(qm::test::fixture("xbase/vfpclient/Resources/Blank.dbc"), tmp.path());
    auto c = Container::open((tmp / "Blank.dbc").string(), Container::Mode::ReadWrite);
    const std::string good = (tmp / "good.dbf").string(), free = (tmp / "free.dbf").string();
    CreateOptions opt;
    opt.backlink = c->backlinkFor(good);
    EXPECT_EQ(opt.backlink, "Blank.dbc");
    DbfTable::create(good, {{"A", 'C', 4}, {"B", 'I', 4}}, opt);
    DbfTable::create(free, {{"A", 'C', 4}});
    auto err = [&](const NewDbcTable& t) {
        try {
            c->addTable(t);
        } catch (const qm::Error& e) {
            return std::string(e.what());
        }
        return std::string();
    };
    EXPECT_NE(err({"t", good, {"a"}, {}, "", ""}).find("1 field names were given for the 2 fields"), std::string::npos);
    EXPECT_NE(err({"t", free, {"a"}, {}, "", ""}).find("instead of 'Blank.dbc'"), std::string::npos);
    EXPECT_NE(err({"t", (tmp / "none.dbf").string(), {"a"}, {}, "", ""}).find("does not exist"), std::string::npos);
    EXPECT_NE(err({"t", good, {"a", "A"}, {}, "", ""}).find("given twice"), std::string::npos);
    EXPECT_NE(err({"t", good, {"a", "b"}, {{"a", true}}, "pk", ""}).find("primary key tag 'pk'"), std::string::npos);
    EXPECT_EQ(c->objects().size(), 5u); // nothing was written
    c->addTable({"t", "good.dbf", {"a", "b"}, {{"A", true}}, "A", ""});
    const auto t = c->findTable("T");
    ASSERT_TRUE(t);
    EXPECT_EQ(t->primaryKey, "a");
    ASSERT_EQ(t->indexes.size(), 1u);
    EXPECT_TRUE(t->indexes[0].unique);
    const auto problems = indexProblems(tmp / "Blank.dbc");
    EXPECT_TRUE(problems.empty()) << firstProblem(problems);
}
