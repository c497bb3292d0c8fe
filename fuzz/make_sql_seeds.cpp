// Writes the seeds of the SQL harness into a folder, one file each: the
// first byte names the dialect ('A' Access, 'F' FoxPro), the rest is a
// script.
//
//   make_sql_seeds OUT_FOLDER [SHARED_FOLDER]
//
// The seeds are what our code writes and reads: row statements with every
// literal form the transfer to FoxPro writes (made by its own literal
// writer from the rows of the scratch database), the key, view and
// external-target statements of the transfers, the saved queries of the
// Access sample files and the views of the FoxPro sample containers (read
// by our engines), each also translated to the other dialect, and a few
// statements of each kind against the scratch tables.
#include "ado/ado.h"
#include "scratch_db.h"
#include "sql/translate.h"
#include "tofoxpro/literals.h"

#include <cstdio>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using namespace qm;

namespace {

fs::path g_out;
int g_count = 0;

void seed(char dialect, const std::string& script)
{
    char name[32];
    std::snprintf(name, sizeof name, "%c-%04d", dialect, g_count++);
    std::ofstream f(g_out / name, std::ios::binary);
    f << dialect << script;
}

// Row statements as the transfer writes them: the Access scratch rows as
// FoxPro literals of each column's type.
void rowStatements(storage::Database& access)
{
    const char* const columns[] = {"ID", "Name", "Since", "Credit", "Active", "Score", "Share", "Notes"};
    const auto defs = access.columns("Customers");
    std::string script;
    auto cur = access.scan("Customers");
    while (cur->next()) {
        std::string s = tofoxpro::InsertHead("customers");
        std::string values;
        bool first = true;
        for (const char* c : columns) {
            for (std::size_t i = 0; i < defs.size(); ++i) {
                if (!storage::namesEqual(defs[i].name, c)) continue;
                s += (first ? "" : ", ") + std::string(c);
                if (!first) values += ", ";
                tofoxpro::AppendLiteral(values, cur->value(i), static_cast<std::int16_t>(defs[i].adoType));
                first = false;
            }
        }
        s += ") values (" + values + ")";
        script += s + "\n";
        seed('F', s);
    }
    seed('F', script);
    // Values of the other literal forms: binary, fractions, control characters.
    struct Lit {
        Value v;
        std::int16_t type;
    } const lits[] = {
        {Value::binary(std::string("\x00\x01\xfe\xff", 4)), ado::adVarBinary},
        {Value::dbl(1e-300), ado::adDouble},
        {Value::dbl(-0.1), ado::adDouble},
        {Value::single(3.4e38f), ado::adSingle},
        {Value::string("it's\ta \"quote\"\r\n"), ado::adVarWChar},
        {Value::string("Ωmega ünïcode"), ado::adLongVarWChar},
        {Value::date(date::fromParts(1899, 12, 30) - 0.5), ado::adDate},
        {Value::date(date::fromParts(9999, 12, 31) + 0.999), ado::adDBTimeStamp},
        {Value::currency(-922337203685477LL * 10000), ado::adCurrency},
        {Value::decimal(*Decimal::parse("-12345678901234567.8901")), ado::adNumeric},
        {Value::boolean(false), ado::adBoolean},
        {Value::longInt(-2147483647 - 1), ado::adInteger},
        {Value::null(), ado::adInteger},
    };
    for (const Lit& l : lits) {
        std::string s = "SELECT ";
        tofoxpro::AppendLiteral(s, l.v, l.type);
        s += " AS x FROM customers";
        seed('F', s);
    }
}

// The saved queries of every Access sample and the views of every FoxPro
// container under the shared fixtures, and their translations.
void storedQueries(const fs::path& shared)
{
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(shared / "fixtures", ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        if (!it->is_regular_file()) continue;
        std::string ext = it->path().extension().string();
        for (char& c : ext) c = char(std::tolower(static_cast<unsigned char>(c)));
        const bool access = ext == ".mdb" || ext == ".accdb";
        if (!access && ext != ".dbc") continue;
        if (it->file_size() > (1u << 20)) continue;
        try {
            auto db = storage::openDatabase(it->path().string());
            for (const auto& e : db->catalog()) {
                if (e.kind != storage::ObjectKind::Query && e.kind != storage::ObjectKind::View) continue;
                try {
                    const std::string text = db->querySql(e.name);
                    if (text.empty() || text.size() > 4000) continue;
                    const sql::Dialect from = access ? sql::Dialect::Access : sql::Dialect::FoxPro;
                    const sql::Dialect to = access ? sql::Dialect::FoxPro : sql::Dialect::Access;
                    seed(access ? 'A' : 'F', text);
                    const auto t = sql::translateQuery(text, from, to, db.get());
                    if (t.ok()) {
                        seed(access ? 'F' : 'A', t.sql);
                        // The transfer's form of a carried query.
                        if (!access) seed('A', "CREATE VIEW [" + e.name + "] AS " + t.sql);
                        else seed('F', "CREATE VIEW [" + e.name + "] AS " + t.sql);
                    }
                } catch (const Error&) {
                }
            }
        } catch (const Error&) {
        }
    }
}

// Statements of each kind against the scratch tables, in the forms the
// transfers and the SQL window use.
void statementForms()
{
    // The column types the transfer to Access writes.
    seed('A', "CREATE TABLE `All Types`(`a` VARCHAR(50),`b` MEMO,`c` BIT,`d` SMALLINT,`e` BYTE,`f` LONG,"
              "`g` DECIMAL(18,4),`h` FLOAT,`i` REAL,`j` CURRENCY,`k` DATETIME,`l` BINARY(16),`m` LONGBINARY);\n"
              "INSERT INTO `All Types` VALUES ('x', 'memo', True, -32768, 255, 2147483647, 12.3456, 1.5E+300, 0.25, "
              "922337203685477.5807, #11/3/2016 13:45:00#, Null, Null);\n"
              "SELECT * FROM `All Types`;\nDROP TABLE `All Types`");
    seed('A', "SELECT * INTO [FoxPro 3.0;DATABASE=ext/;].[customers] FROM `Customers`");
    seed('A', "SELECT * INTO [dBase IV;DATABASE=ext;].[lines] FROM [Order Lines];\n"
              "SELECT * FROM [dBase IV;DATABASE=ext;].[lines]");
    seed('A', "SELECT Customers.Name, Sum([Order Lines].Qty) AS Total FROM Customers LEFT JOIN [Order Lines] "
              "ON Customers.ID = [Order Lines].CustomerID GROUP BY Customers.Name HAVING Sum([Order Lines].Qty) > 3 "
              "ORDER BY 2 DESC");
    seed('A', "SELECT TOP 2 DISTINCT City, IIf(IsNull(City), 'none', UCase(City)) AS C FROM Customers "
              "WHERE Name LIKE '*a*' OR Since BETWEEN #1/1/2002# AND #12/31/2004# ORDER BY City");
    seed('A', "SELECT Name FROM Customers WHERE ID IN (1, 3) UNION SELECT Code FROM [Order Lines] UNION ALL "
              "SELECT Name FROM [Big Customers]");
    seed('A', "SELECT * FROM Totals, (SELECT Count(*) AS N FROM [Order Lines]) AS q");
    seed('A', "INSERT INTO Customers (Name, City, Since, Credit, Active) VALUES ('New', 'Oslo', #2/29/2016#, 12.5, Yes);\n"
              "UPDATE Customers SET Credit = Credit * 2, Notes = Notes & ' more' WHERE Active;\n"
              "DELETE FROM [Order Lines] WHERE Qty > 10;\nSELECT * FROM Customers");
    seed('A', "INSERT INTO [Order Lines] SELECT OrderID + 10, CustomerID, Qty, Price, Placed, Code FROM [Order Lines]");
    seed('A', "ALTER TABLE Customers ADD COLUMN Extra TEXT(20);\nALTER TABLE Customers DROP COLUMN Extra;\n"
              "CREATE UNIQUE INDEX ByCity ON Customers (City, Name DESC);\nDROP INDEX ByCity ON Customers;\n"
              "CREATE VIEW v AS SELECT Name FROM Customers;\nDROP VIEW v");
    seed('A', "SELECT Mid(Name, 2, 3), Left(City, 1), InStr(Name, 'e'), Len(Notes), DateSerial(2016, 11, 3), "
              "Format(Since, 'yyyy-mm-dd'), Nz(City, '-'), CStr(Score), CLng(Share), Int(Score), Round(Credit, 1), "
              "Year(Since), Space(3) & Trim(Name), Val('12ab') FROM Customers");

    seed('F', "ALTER TABLE customers ADD UNIQUE name TAG name\nUSE orders\nINDEX ON code TAG code\n"
              "ALTER TABLE orders ADD PRIMARY KEY id TAG id");
    seed('F', "CREATE TABLE newtab (a C(10), b N(8,2), c D, d T, e L, f M, g I, h Y, i B, j F(10,3), k V(20), l Q(8))\n"
              "insert into [newtab] (a, b, c, d, e) values ('x', 1.5, {^2016-11-03}, {^2016-11-03 13:45:00}, .T.)\n"
              "SELECT * FROM newtab\nDROP TABLE newtab");
    seed('F', "SELECT c.name, o.qty, o.price FROM customers c INNER JOIN orders o ON c.id = o.custid "
              "WHERE o.qty > 3 AND NOT EMPTY(c.name) ORDER BY c.name DESC");
    seed('F', "SELECT city, COUNT(*), SUM(credit), MAX(since), MIN(stamp), AVG(score) FROM customers GROUP BY city "
              "HAVING COUNT(*) > 1");
    seed('F', "SELECT ALLTRIM(name) + '!' AS n, PADL(ALLTRIM(STR(id)), 5, '0'), SUBSTR(name, 2, 3), AT('e', name), "
              "IIF(active, 'y', 'n'), NVL(notes, ''), DTOC(since), TTOC(stamp), YEAR(since), UPPER(city), "
              "LEN(notes), REPLICATE('ab', 3), SPACE(2), VAL('3.5'), ROUND(credit, 1), INT(score) FROM customers");
    seed('F', "SELECT * FROM customers WHERE name == 'Elm' OR city $ 'Lyon' OR since BETWEEN {^2002-01-01} AND DATE()");
    seed('F', "UPDATE customers SET credit = credit + 1, notes = notes + 'x' WHERE active = .T.\n"
              "DELETE FROM orders WHERE qty < 5\nSELECT * FROM bigcust\nSELECT * FROM totals");
    seed('F', "ALTER TABLE customers ADD COLUMN extra C(5)\nALTER TABLE customers ALTER COLUMN extra C(9)\n"
              "ALTER TABLE customers DROP COLUMN extra\nCREATE VIEW v2 AS SELECT name FROM customers\nDROP VIEW v2");
    seed('F', "SELECT * FROM customers INTO TABLE ext/copy\nSELECT * FROM [FoxPro 3.0;DATABASE=ext;].[copy]");
    seed('F', "insert into orders select id + 10, custid, qty, price, code from orders");

    // Around the nesting limit (256 levels) and long operator chains.
    auto repeat = [](const std::string& s, int n) {
        std::string out;
        for (int i = 0; i < n; ++i) out += s;
        return out;
    };
    for (int n : {250, 260}) {
        seed('A', "SELECT " + repeat("(", n) + "1" + repeat(")", n) + " FROM Customers");
        seed('F', "SELECT * FROM customers WHERE " + repeat("NOT ", n) + "active");
        seed('A', "SELECT * FROM " + repeat("(SELECT * FROM ", n / 8) + "Customers" + repeat(") AS q", n / 8));
        seed('F', "SELECT " + repeat("IIF(.T., ", n / 4) + "1" + repeat(", 0)", n / 4) + " FROM customers");
    }
    seed('A', "SELECT 1" + repeat(" + 1", 400) + " FROM Customers WHERE ID > 0" + repeat(" AND ID > 0", 150));
    seed('F', "SELECT name" + repeat(" + name", 450) + " FROM customers");
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: make_sql_seeds OUT_FOLDER [SHARED_FOLDER]\n");
        return 2;
    }
    g_out = fs::absolute(argv[1]);
    const fs::path scratch = g_out.string() + ".scratch" + std::to_string(::getpid());
    try {
        fs::create_directories(g_out);
        fs::remove_all(scratch);
        fuzz::makeScratchDatabases(scratch);
        {
            auto access = storage::openDatabase((scratch / "access" / "scratch.mdb").string());
            rowStatements(*access);
        }
        statementForms();
        if (argc == 3) storedQueries(argv[2]);
        fs::remove_all(scratch);
    } catch (const std::exception& e) {
        std::error_code ec;
        fs::remove_all(scratch, ec);
        std::fprintf(stderr, "make_sql_seeds: %s\n", e.what());
        return 1;
    }
    std::printf("%d seeds\n", g_count);
    return 0;
}
