// The providers through the data-access facade: connection strings as the
// program builds them, type codes against the fixtures, the catalog's
// Tables.Append mapping with a round trip per destination, and the
// free-table copy statement run on the Access connection.
#include "ado/ado.h"
#include "providers/providers.h"
#include "storage/open.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace qm::providers {
namespace {

namespace fs = std::filesystem;
using namespace qm::ado;
using test::TempDir;

class Providers : public ::testing::Test {
protected:
    static void SetUpTestSuite() { registerBuiltInProviders(); }
};

struct FieldShape {
    std::string name;
    int type;
    std::int32_t size;
};

std::vector<FieldShape> shapeOf(Recordset& rs) {
    std::vector<FieldShape> out;
    for (std::size_t i = 0; i < rs.FieldCount(); ++i) {
        Field f = rs.Fields(i);
        out.push_back({f.Name(), f.Type(), f.DefinedSize()});
    }
    return out;
}

fs::path copyOf(const fs::path& from, const TempDir& dir) {
    const fs::path to = dir / from.filename().string();
    if (fs::is_directory(from)) fs::copy(from, to, fs::copy_options::recursive);
    else fs::copy_file(from, to);
    return to;
}

TEST_F(Providers, AccessFieldTypesAsTheProviderReportsThem) {
    QM_REQUIRE_SHARED();
    TempDir dir;
    const fs::path db = copyOf(test::fixture("access/jackcess/V2007/testV2007.accdb"), dir);
    Connection cn;
    cn.CursorLocation = adUseClient;
    cn.Mode = adModeReadWrite;
    cn.Open("Provider=Microsoft.ACE.OLEDB.12.0;Data Source=" + db.string() + ";JET OLEDB:Database Password=");

    std::vector<std::string> tables;
    auto schema = cn.OpenSchema(adSchemaTables);
    for (; !schema->Eof(); schema->MoveNext())
        if (schema->Fields("TABLE_TYPE").GetValue().toString() == "TABLE")
            tables.push_back(schema->Fields("TABLE_NAME").GetValue().toString());
    EXPECT_EQ(tables, (std::vector<std::string>{"Table1", "Table2", "Table3", "Table4"}));

    Recordset rs;
    rs.Open("SELECT * FROM [Table1]", cn, adOpenStatic, adLockOptimistic);
    const auto shape = shapeOf(rs);
    const std::vector<std::pair<int, int>> expected = {{202, 50}, {202, 100}, {17, 1}, {2, 2}, {3, 4}, {5, 8}, {7, 8}, {6, 8}, {11, 2}};
    ASSERT_EQ(shape.size(), expected.size());
    for (std::size_t i = 0; i < shape.size(); ++i) {
        EXPECT_EQ(shape[i].type, expected[i].first) << shape[i].name;
        EXPECT_EQ(shape[i].size, expected[i].second) << shape[i].name;
    }
    EXPECT_EQ(rs.RecordCount(), 2);
    EXPECT_EQ(rs.Fields("A").GetValue().toString(), "a");
    rs.MoveNext();
    EXPECT_EQ(rs.Fields("E").GetValue().toInt32(), 333333333);
    EXPECT_EQ(rs.Fields("H").GetValue().toCurrency(), 35000);
    EXPECT_EQ(rs.RecordCount(), 2); // counting does not move the position
    EXPECT_EQ(rs.Fields("B").GetValue().toString(), "hijklmnop");
    rs.Close();

    Recordset guid;
    guid.Open("SELECT top 1 * FROM [Table4]", cn, adOpenStatic, adLockOptimistic);
    EXPECT_EQ(guid.Fields("data").Type(), adGUID);
    EXPECT_EQ(guid.Fields("data").DefinedSize(), 16);
}

TEST_F(Providers, FoxProContainerTypesAndCatalog) {
    QM_REQUIRE_SHARED();
    TempDir dir;
    const fs::path folder = copyOf(test::fixture("xbase/vfpx-samples/Northwind"), dir);
    Connection cn;
    cn.CursorLocation = adUseServer;
    cn.Open("Provider=vfpoledb.1;Data Source=" + (folder / "northwind.dbc").string() + ";Collating Sequence=machine;");

    int tables = 0, views = 0;
    auto schema = cn.OpenSchema(adSchemaTables);
    for (; !schema->Eof(); schema->MoveNext()) {
        const std::string type = schema->Fields("TABLE_TYPE").GetValue().toString();
        tables += type == "TABLE";
        views += type == "VIEW";
    }
    EXPECT_EQ(tables, 13);
    EXPECT_EQ(views, 17);

    Recordset rs;
    rs.Open("SELECT * FROM [Categories]", cn, adOpenStatic, adLockOptimistic);
    const auto shape = shapeOf(rs);
    ASSERT_EQ(shape.size(), 4u);
    EXPECT_EQ(shape[0].type, adInteger);
    EXPECT_EQ(shape[1].type, adChar);
    EXPECT_EQ(shape[1].size, 15);
    EXPECT_EQ(shape[2].type, adLongVarChar);
    EXPECT_EQ(shape[3].type, adLongVarBinary);
    EXPECT_EQ(rs.RecordCount(), 8);

    Recordset emp;
    emp.Open("SELECT birthdate FROM \"employees\" WHERE employeeid = 1", cn);
    EXPECT_EQ(emp.Fields(std::size_t{0}).Type(), adDBDate);
    EXPECT_EQ(emp.RecordCount(), 1);
}

TEST_F(Providers, ConnectionFailuresAreProviderErrors) {
    TempDir dir;
    Connection a;
    EXPECT_THROW(a.Open("Provider=vfpoledb.1;Data Source=" + (dir / "missing.dbc").string() + ";Collating Sequence=machine;"), AdoError);
    Connection b;
    EXPECT_THROW(b.Open("PROVIDER=Microsoft.Jet.OLEDB.4.0;Data Source=" + (dir / "none.mdb").string() + ";JET OLEDB:Database Password="),
                 AdoError);
    Connection c;
    EXPECT_THROW(c.Open("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + (dir / "nofolder").string() + ";Extended Properties=dBase III;"),
                 AdoError);
    Connection d;
    d.Open("Provider=vfpoledb.1;Data Source=" + dir.path().string() + ";Collating Sequence=general;");
    try {
        d.Execute("");
        FAIL() << "an empty command ran";
    } catch (const AdoError& e) {
        EXPECT_STREQ(e.what(), "Command text was not set for the command object.");
    }
}

TEST_F(Providers, ConnectionStringsForPaths) {
    TempDir dir;
    EXPECT_EQ(connectionStringFor("/d/Shop.ACCDB", "pw"), "Provider=Microsoft.ACE.OLEDB.12.0;Data Source=/d/Shop.ACCDB;JET OLEDB:Database Password=pw");
    EXPECT_EQ(connectionStringFor("/d/shop.mdb"), "PROVIDER=Microsoft.Jet.OLEDB.4.0;Data Source=/d/shop.mdb;JET OLEDB:Database Password=");
    EXPECT_EQ(connectionStringFor("/d/shop.dbc"), "Provider=vfpoledb.1;Data Source=/d/shop.dbc;Collating Sequence=machine;");
    EXPECT_EQ(connectionStringFor(dir.path().string()),
              "Provider=vfpoledb.1;Data Source=" + dir.path().string() + ";Collating Sequence=general;");
    EXPECT_THROW(connectionStringFor("/d/readme.txt"), Error);
}

// One column per ADO type code the transfers hand to the catalog.
std::vector<CatalogColumn> everyType() {
    return {
        {"txt", adVarWChar, 50},  {"fixed", adWChar, 10},     {"wide", adVarWChar, 300}, {"memo", adLongVarWChar, 0},
        {"flag", adBoolean, 2},   {"tiny", adUnsignedTinyInt, 1}, {"small", adSmallInt, 2}, {"lng", adInteger, 4},
        {"big", adBigInt, 8},     {"sng", adSingle, 4},       {"dbl", adDouble, 8},      {"cur", adCurrency, 8},
        {"dec", adNumeric, 19, 12, 3}, {"stamp", adDate, 8},  {"day", adDBDate, 6},      {"id", adGUID, 16},
        {"bin", adVarBinary, 8},  {"ole", adLongVarBinary, 0},
    };
}

struct Expected {
    int type;
    std::int32_t size;
};

void appendAndCheck(const std::string& cs, const std::vector<CatalogColumn>& cols, const std::vector<Expected>& expected,
                    const std::vector<Value>& values, const std::vector<std::string>& readBack) {
    Connection cn;
    cn.Open(cs);
    Catalog cat;
    cat.ActiveConnection(&cn);
    cat.AppendTable("mapped", cols);
    EXPECT_THROW(cat.AppendTable("mapped", cols), AdoError);

    Recordset rs;
    rs.Open("SELECT * FROM [mapped]", cn, adOpenDynamic, adLockOptimistic);
    ASSERT_EQ(rs.FieldCount(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(rs.Fields(i).Type(), expected[i].type) << cols[i].name;
        if (expected[i].size >= 0) EXPECT_EQ(rs.Fields(i).DefinedSize(), expected[i].size) << cols[i].name;
    }
    rs.AddNew();
    for (std::size_t i = 0; i < values.size(); ++i) rs.Fields(i).SetValue(values[i]);
    rs.Update();
    rs.Close();

    Recordset back;
    back.Open("SELECT * FROM [mapped]", cn);
    ASSERT_FALSE(back.Eof());
    for (std::size_t i = 0; i < readBack.size(); ++i) {
        if (readBack[i] == "*") continue; // not checked for this destination
        const Value& v = back.Fields(i).GetValue();
        std::string s = v.isNull() ? "NULL" : v.type() == VarType::Binary ? "(" + std::to_string(v.rawString().size()) + " bytes)" : v.toString();
        while (!s.empty() && s.back() == ' ') s.pop_back();
        EXPECT_EQ(s, readBack[i]) << cols[i].name;
    }
}

std::vector<Value> sampleRow() {
    Guid g{};
    for (int i = 0; i < 16; ++i) g.bytes[i] = static_cast<std::uint8_t>(i + 1);
    return {
        Value::string(std::string(50, 'x')), Value::string("fix"), Value::string(std::string(300, 'w')),
        Value::string("line one\r\nline two"), Value::boolean(true), Value::byte(200), Value::integer(-32768),
        Value::longInt(2147483647), Value::bigInt(-9223372036854775807LL), Value::single(1.5f), Value::dbl(0.1),
        Value::currency(-9223372036854775807LL), Value::decimal(*Decimal::parse("123456789.125")),
        Value::date(date::fromParts(2016, 11, 3, 10, 30)), Value::date(date::fromParts(2016, 11, 3)), Value::guid(g),
        Value::binary(std::string("\x00\x01\x02\xff", 4)), Value::binary(std::string(1000, '\x7f')),
    };
}

TEST_F(Providers, CatalogAppendMapsEveryTypeForFoxPro) {
    TempDir dir;
    appendAndCheck("Provider=vfpoledb.1;Data Source=" + dir.path().string() + ";Collating Sequence=general;", everyType(),
                   {{adChar, 50}, {adChar, 10}, {adLongVarChar, -1}, {adLongVarChar, -1}, {adBoolean, 2}, {adInteger, 4},
                    {adInteger, 4}, {adInteger, 4}, {adNumeric, -1}, {adDouble, 8}, {adDouble, 8}, {adCurrency, 8},
                    {adNumeric, -1}, {adDBTimeStamp, 16}, {adDBDate, 6}, {adChar, 38}, {adBinary, 8}, {adLongVarBinary, -1}},
                   sampleRow(),
                   {std::string(50, 'x'), "fix", std::string(300, 'w'), "line one\r\nline two", "True", "200", "-32768",
                    "2147483647", "-9223372036854775807", "1.5", "0.1", "-922337203685477.5807", "123456789.125",
                    "2016-11-03 10:30:00", "2016-11-03", "{04030201-0605-0807-090A-0B0C0D0E0F10}", "(4 bytes)", "(1000 bytes)"});
}

TEST_F(Providers, CatalogAppendMapsEveryTypeForDBase) {
    TempDir dir;
    std::vector<Value> row = sampleRow();
    row[13] = Value::date(date::fromParts(2016, 11, 3)); // dBase keeps no time of day
    row[11] = Value::currency(-922337203685477580LL);    // N(20,4) holds 14 whole digits and the sign
    appendAndCheck("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + dir.path().string() + ";Extended Properties=dBase III;",
                   everyType(),
                   {{adChar, 50}, {adChar, 10}, {adLongVarChar, -1}, {adLongVarChar, -1}, {adBoolean, 2}, {adNumeric, -1},
                    {adNumeric, -1}, {adNumeric, -1}, {adNumeric, -1}, {adNumeric, -1}, {adNumeric, -1}, {adNumeric, -1},
                    {adNumeric, -1}, {adDBDate, 6}, {adDBDate, 6}, {adChar, 38}, {adLongVarChar, -1}, {adLongVarChar, -1}},
                   row,
                   {std::string(50, 'x'), "fix", std::string(300, 'w'), "line one\r\nline two", "True", "200", "-32768",
                    "2147483647", "-9223372036854775807", "1.5", "0.1", "-92233720368547.758", "123456789.125",
                    "2016-11-03", "2016-11-03", "{04030201-0605-0807-090A-0B0C0D0E0F10}", "*", "*"});
    // What the dBase driver wrote is a dBase file other tools read.
    QM_REQUIRE_PROGRAM(test::kDebianPython);
    const auto check = test::run({test::kDebianPython, "-c",
                                  "import dbfread,sys\nt=dbfread.DBF(sys.argv[1])\nprint(hex(t.header.dbversion), len(list(t)))",
                                  (dir / "mapped.dbf").string()});
    ASSERT_EQ(check.exitCode, 0) << check.err;
    EXPECT_EQ(check.out, "0x83 1\n");
}

TEST_F(Providers, FreeTableCopyRunsOnTheAccessConnection) {
    QM_REQUIRE_SHARED();
    TempDir dir;
    const fs::path db = copyOf(test::fixture("access/jackcess/V2007/testV2007.accdb"), dir);
    const fs::path out = dir / "free";
    fs::create_directory(out);
    Connection cn;
    cn.Open("Provider=Microsoft.ACE.OLEDB.12.0;Data Source=" + db.string() + ";JET OLEDB:Database Password=");
    const std::string line = "SELECT * INTO [dBase IV;DATABASE=" + out.string() + "/;].[Table1] FROM `Table1`";
    cn.Execute(line + "\r\n");
    ASSERT_TRUE(fs::exists(out / "Table1.dbf") || fs::exists(out / "TABLE1.DBF") || fs::exists(out / "table1.dbf"));

    Connection fox;
    fox.Open("Provider=vfpoledb.1;Data Source=" + out.string() + ";Collating Sequence=general;");
    Recordset rs;
    rs.Open("SELECT a, b, c, d, e, f, g, h, i FROM [Table1] ORDER BY e", fox);
    ASSERT_FALSE(rs.Eof());
    rs.MoveNext();
    EXPECT_EQ(rs.Fields("A").GetValue().toString().substr(0, 7), "abcdefg");
    EXPECT_EQ(rs.Fields("E").GetValue().toInt64(), 333333333);
    EXPECT_EQ(rs.Fields("F").GetValue().toDouble(), 444.555);
    EXPECT_EQ(rs.Fields("H").GetValue().toDouble(), 3.5);
    EXPECT_TRUE(rs.Fields("I").GetValue().toBool());
    EXPECT_EQ(date::toIso(rs.Fields("G").GetValue().toDate(), true), "1974-09-21");

    // The copy meets an existing file: the statement fails and says so.
    EXPECT_THROW(cn.Execute(line), AdoError);
}

// Complex columns through a recordset, as a transfer reads them: a memo's
// type, the text a datasheet shows, and the entries on request.
TEST_F(Providers, ComplexFieldsGiveTheirTextAndTheirEntries) {
    QM_REQUIRE_SHARED();
    Connection cn;
    cn.Open("Provider=Microsoft.ACE.OLEDB.12.0;Data Source=" +
            test::fixture("access/jackcess/V2007/complexDataTestV2007.accdb").string() + ";JET OLEDB:Database Password=");
    Recordset rs;
    rs.Open("SELECT * FROM [Table1]", cn);
    Field multi = rs.Fields("multi-value-data"), files = rs.Fields("attach-data");
    EXPECT_EQ(multi.Type(), adLongVarWChar);
    EXPECT_EQ(files.Type(), adLongVarWChar);
    EXPECT_EQ(files.info().complex, storage::ComplexKind::Attachment);
    rs.MoveNext(); // row2
    EXPECT_EQ(multi.GetValue().toString(), "value1; value4");
    EXPECT_EQ(files.GetValue().toString(), "test_data.txt; test_data2.txt");
    std::vector<storage::ComplexItem> items;
    ASSERT_TRUE(rs.ComplexItems(5, items));
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[1].value.toString(), "test_data2.txt");
    EXPECT_EQ(items[1].fileType, "txt");
    EXPECT_EQ(items[1].fileData, "this is some more test data for attachment.");
    EXPECT_FALSE(rs.ComplexItems(0, items)); // the text field id

    // Sorted rows keep the text; the entries are not at hand there.
    Recordset sorted;
    sorted.Open("SELECT * FROM [Table1] ORDER BY id DESC", cn);
    EXPECT_TRUE(sorted.Fields("multi-value-data").GetValue().isNull()); // row4: none
    sorted.MoveNext();
    EXPECT_EQ(sorted.Fields("multi-value-data").GetValue().toString(), "value1; value2; value3; value4");
}

} // namespace
} // namespace qm::providers

namespace qm::providers {
namespace {

// The transfer to Access and the rename of an Access table, as the program
// sends them: CREATE TABLE, rows through a recordset, SELECT a1.* INTO, DROP.
TEST_F(Providers, AccessTableCreatedFilledCopiedAndDropped) {
    TempDir dir;
    const fs::path db = dir / "target.mdb";
    jet::createDatabase(db.string(), jet::NewFileFormat::Jet4Mdb);
    Connection cn;
    cn.CursorLocation = adUseServer;
    cn.Mode = adModeReadWrite;
    cn.Open(connectionStringFor(db.string()));
    cn.Execute("CREATE TABLE `t`(`id` INT,`name` MEMO,`price` DECIMAL(10,2),`born` DATETIME,`active` VARCHAR);");
    {
        Recordset target;
        target.Open("SELECT * FROM `t`", cn, adOpenDynamic, adLockOptimistic);
        EXPECT_EQ(target.Fields("name").Type(), adLongVarWChar);
        EXPECT_EQ(target.Fields("active").Type(), adVarWChar);
        EXPECT_EQ(target.Fields("active").DefinedSize(), 255);
        for (int r = 1; r <= 3; ++r) {
            target.AddNew();
            target.Fields(std::size_t{0}).SetValue(Value::longInt(r));
            target.Fields(std::size_t{1}).SetValue(Value::string("row " + std::to_string(r) + "\r\nsecond line"));
            target.Fields(std::size_t{2}).SetValue(Value::string("12.5"));
            target.Fields(std::size_t{3}).SetValue(Value::date(date::fromParts(2016, 11, r)));
            target.Fields(std::size_t{4}).SetValue(Value::boolean(r == 2));
            target.Update();
        }
        EXPECT_EQ(target.RecordCount(), 3);
    }
    cn.Execute("SELECT a1.* INTO `t2` FROM `t` AS a1;");
    cn.Execute("DROP TABLE `t`;");
    std::vector<std::string> tables;
    auto schema = cn.OpenSchema(adSchemaTables);
    for (; !schema->Eof(); schema->MoveNext())
        if (schema->Fields("TABLE_TYPE").GetValue().toString() == "TABLE") tables.push_back(schema->Fields("TABLE_NAME").GetValue().toString());
    EXPECT_EQ(tables, std::vector<std::string>{"t2"});
    Recordset back;
    back.Open("SELECT * FROM [t2] WHERE id = 2", cn);
    ASSERT_FALSE(back.Eof());
    EXPECT_EQ(back.Fields("name").GetValue().toString(), "row 2\r\nsecond line");
    EXPECT_EQ(back.Fields("price").GetValue().toString(), "12.5");
    EXPECT_EQ(back.Fields("active").GetValue().toString(), "True");
    cn.Close();

    QM_REQUIRE_PROGRAM("mdb-export");
    const auto check = test::run({"mdb-export", db.string(), "t2"});
    ASSERT_EQ(check.exitCode, 0) << check.err;
    EXPECT_NE(check.out.find("2,\"row 2\r\nsecond line\",12.50,\"11/02/16 00:00:00\",\"True\""), std::string::npos) << check.out;
}

} // namespace
} // namespace qm::providers
