// Parsing both dialects: the statement forms the program writes, typed SQL,
// round trips through the printer, and positioned syntax errors.
#include "sql/executor.h"
#include "sql/parser.h"

#include <gtest/gtest.h>

namespace qm::sql {
namespace {

Statement parse(std::string_view text, Dialect d) {
    Parser p(d);
    Statement s;
    EXPECT_TRUE(p.parse(text, s)) << text;
    return s;
}

ParseError parseFailure(std::string_view text, Dialect d) {
    Parser p(d);
    Statement s;
    try {
        p.parse(text, s);
    } catch (const ParseError& e) {
        return e;
    }
    ADD_FAILURE() << "parsed without error: " << text;
    return {};
}

// parse -> print -> parse -> print gives the same text.
void expectRoundTrip(std::string_view text, Dialect d) {
    const std::string once = toSql(parse(text, d), d);
    const std::string twice = toSql(parse(once, d), d);
    EXPECT_EQ(once, twice) << "from: " << text;
}

TEST(SqlParser, StatementsTheTransfersWrite) {
    struct Case { const char* sql; Dialect d; StatementKind kind; };
    const Case cases[] = {
        {"insert into [Orders] (ID,Label,Born,Active,Note) values (1,'it''s here',Date(2016,11,3),1,NULL)", Dialect::FoxPro, StatementKind::Insert},
        {"DROP TABLE [orders]", Dialect::FoxPro, StatementKind::DropTable},
        {"DROP VIEW [Current Orders]", Dialect::FoxPro, StatementKind::DropView},
        {"CREATE VIEW [Big] AS SELECT * FROM Orders WHERE Qty > 10;", Dialect::FoxPro, StatementKind::CreateView},
        {"SELECT * INTO [dBase IV;DATABASE=C:\\Data\\;].[Customers] FROM `Customers`", Dialect::Access, StatementKind::Select},
        {"CREATE TABLE `t`(`id` INT,`name` MEMO,`price` INT,`born` DATETIME,`active` VARCHAR);", Dialect::Access, StatementKind::CreateTable},
        {"CREATE TABLE `T`([a] VARCHAR(50),[b] INT)", Dialect::Access, StatementKind::CreateTable},
        {"SELECT a1.* INTO `New` FROM `Old` AS a1;", Dialect::Access, StatementKind::Select},
        {"DROP TABLE `Orders`;", Dialect::Access, StatementKind::DropTable},
        {"DROP TABLE `Orders`", Dialect::FoxPro, StatementKind::DropTable},
        {"SELECT * FROM \"orders\"", Dialect::FoxPro, StatementKind::Select},
        {"SELECT top 1 * FROM [Orders]", Dialect::Access, StatementKind::Select},
        {"DROP TABLE [Sales Query]", Dialect::Access, StatementKind::DropTable},
    };
    for (const auto& c : cases) {
        const Statement s = parse(c.sql, c.d);
        EXPECT_EQ(s.kind, c.kind) << c.sql;
        expectRoundTrip(c.sql, c.d);
    }
}

TEST(SqlParser, InsertKeepsNamesValuesAndTheRawColumnList) {
    const Statement s = parse("insert into [Orders] (ID,Label,Born,Active,Note) values (1,'it''s here',Date(2016,11,3),1,NULL)", Dialect::FoxPro);
    const Insert& in = *s.insert;
    EXPECT_EQ(in.table.name, "Orders");
    EXPECT_EQ(in.columns, (std::vector<std::string>{"ID", "Label", "Born", "Active", "Note"}));
    EXPECT_EQ(in.columnListText, "(ID,Label,Born,Active,Note)");
    ASSERT_EQ(in.rows.size(), 1u);
    ASSERT_EQ(in.rows[0].size(), 5u);
    EXPECT_EQ(in.rows[0][1].value.rawString(), "it's here");
    EXPECT_EQ(in.rows[0][2].value.rawDouble(), date::fromParts(2016, 11, 3)); // Date(2016,11,3) taken as a value
    EXPECT_TRUE(in.rows[0][4].value.isNull());
    // Anything else stays an expression, evaluated when the row is stored.
    const Statement e = parse("insert into [T] (a,b,c) values (1+2, Date(2016,2,30), Date(y,1,1))", Dialect::FoxPro);
    EXPECT_TRUE(e.insert->rows[0][0].expr);
    EXPECT_TRUE(e.insert->rows[0][1].expr); // not a date: the error comes with the row
    EXPECT_TRUE(e.insert->rows[0][2].expr);
}

TEST(SqlParser, OneStatementObjectServesAScriptOfInserts) {
    // The runner hands the same Statement back for every line; nothing of
    // the previous statement may show through.
    Parser p(Dialect::FoxPro);
    Statement s;
    ASSERT_TRUE(p.parse("insert into [a] (x,y) values (1,'one'),(2,'two')", s));
    ASSERT_EQ(s.insert->rows.size(), 2u);
    ASSERT_TRUE(p.parse("insert into [b] (z) values ('three')", s));
    EXPECT_EQ(s.insert->table.name, "b");
    EXPECT_EQ(s.insert->columns, (std::vector<std::string>{"z"}));
    EXPECT_EQ(s.insert->columnListText, "(z)");
    ASSERT_EQ(s.insert->rows.size(), 1u);
    ASSERT_EQ(s.insert->rows[0].size(), 1u);
    EXPECT_EQ(s.insert->rows[0][0].value.rawString(), "three");
    ASSERT_TRUE(p.parse("insert into [c] select * from d", s));
    EXPECT_TRUE(s.insert->rows.empty());
    EXPECT_TRUE(s.insert->select);
    EXPECT_TRUE(s.insert->columns.empty());
    ASSERT_TRUE(p.parse("delete from c", s));
    EXPECT_FALSE(s.insert);
    ASSERT_TRUE(p.parse("insert into [a] values (4)", s));
    EXPECT_FALSE(s.insert->select);
    ASSERT_EQ(s.insert->rows.size(), 1u);
    EXPECT_EQ(s.insert->rows[0][0].value.toInt64(), 4);
    EXPECT_FALSE(s.insert->rows[0][0].expr);
}

TEST(SqlParser, SignedNumbersInValuesMatchTheFoldedExpression) {
    // A signed number is taken as a value; it must be the same value (and
    // kind) the expression parser folds from the same text.
    for (Dialect d : {Dialect::FoxPro, Dialect::Access}) {
        for (const char* num : {"-5", "+7", "-0", "- 3", "-2147483647", "-2147483648", "-2147483649", "-1.5", "+2.25",
                                "-1e3", "-9223372036854775807", "-123456789012345678901234567890"}) {
            const std::string plain = std::string("insert into [t] (a) values (") + num + ")";
            const std::string wrapped = std::string("insert into [t] (a) values (0+") + num + ")";
            const Statement s = parse(plain, d);
            ASSERT_EQ(s.insert->rows[0].size(), 1u);
            EXPECT_FALSE(s.insert->rows[0][0].expr) << num;
            const Value& v = s.insert->rows[0][0].value;
            // "0+x" keeps x as the right-hand literal of the sum.
            const Statement e = parse(wrapped, d);
            ASSERT_TRUE(e.insert->rows[0][0].expr) << num;
            const Expr& sum = *e.insert->rows[0][0].expr;
            ASSERT_EQ(sum.args.size(), 2u) << num;
            const Expr& lit = *sum.args[1];
            ASSERT_EQ(lit.kind, Expr::Kind::Literal) << num;
            EXPECT_EQ(v.type(), lit.value.type()) << num;
            EXPECT_EQ(v.toString(), lit.value.toString()) << num;
        }
    }
    // A sign before something that is not a lone number still makes a tree.
    const Statement t = parse("insert into [t] (a,b) values (-a, -2*3)", Dialect::FoxPro);
    EXPECT_TRUE(t.insert->rows[0][0].expr);
    EXPECT_TRUE(t.insert->rows[0][1].expr);
}

TEST(SqlParser, DoubledQuotesInsideTextCollapse) {
    const struct { const char* literal; const char* text; } cases[] = {
        {"'it''s'", "it's"}, {"''''", "'"}, {"'a''''b'", "a''b"}, {"'x'''", "x'"}, {"'''x'", "'x"},
        {"\"say \"\"hi\"\"\"", "say \"hi\""}, {"\"it's\"", "it's"}, {"'say \"\"hi'", "say \"\"hi"}, {"''", ""},
    };
    for (const auto& c : cases) {
        for (Dialect d : {Dialect::FoxPro, Dialect::Access}) {
            const Statement s = parse(std::string("insert into [t] (a) values (") + c.literal + ")", d);
            EXPECT_EQ(s.insert->rows[0][0].value.rawString(), c.text) << c.literal;
        }
    }
}

TEST(SqlParser, DecimalLiteralsKeepDigitsAndScale) {
    for (const char* num : {"12.50", "0.05", ".5", "5.", "00.10", "0.0", "12345678901234567.8", "999999999999999999.",
                            "1234567890123456789.5", "0.1234567890123456789012345678", "1.5e3", "2E-2"}) {
        const Statement s = parse(std::string("insert into [t] (a) values (") + num + ")", Dialect::FoxPro);
        const Value& v = s.insert->rows[0][0].value;
        const auto expected = Decimal::parse(num);
        ASSERT_TRUE(expected) << num;
        ASSERT_EQ(v.type(), VarType::Decimal) << num;
        EXPECT_TRUE(v.rawDecimal().mantissa == expected->mantissa) << num;
        EXPECT_EQ(v.rawDecimal().scale, expected->scale) << num;
        EXPECT_EQ(v.toString(), Value::decimal(*expected).toString()) << num;
    }
}

TEST(SqlParser, ExternalDBaseTargetIsSplitIntoTypeAndFolder) {
    const Statement s = parse("SELECT * INTO [dBase IV;DATABASE=C:\\Data\\;].[Customers] FROM `Customers`", Dialect::Access);
    ASSERT_TRUE(s.select->into);
    EXPECT_EQ(s.select->into->externalType, "dBase IV");
    EXPECT_EQ(s.select->into->externalPath, "C:\\Data\\");
    EXPECT_EQ(s.select->into->name, "Customers");
    EXPECT_EQ(s.select->from->table.name, "Customers");
    // A table whose bracketed name holds ';' is a table, not a target.
    const Statement t = parse("SELECT x.ID FROM [Tab>\"e@ll/a'2;*,] AS x", Dialect::Access);
    EXPECT_EQ(t.select->from->table.name, "Tab>\"e@ll/a'2;*,");
    EXPECT_TRUE(t.select->from->table.externalType.empty());
}

TEST(SqlParser, AccessTypeWordsMapToColumnTypes) {
    const Statement s = parse(
        "CREATE TABLE t (a TEXT(50) NOT NULL, b MEMO, c BYTE, d SHORT, e LONG, f BIGINT, g SINGLE, h DOUBLE, "
        "i CURRENCY, j DECIMAL(12,3), k NUMERIC(18, 0), l DATETIME, m YESNO, n OLEOBJECT, o BINARY(16), p GUID, "
        "q COUNTER PRIMARY KEY, r VarChar (50), s Character(30), u Logical, v TINYINT)",
        Dialect::Access);
    const auto& c = s.createTable->columns;
    ASSERT_EQ(c.size(), 21u);
    using T = storage::ColumnType;
    EXPECT_EQ(c[0].spec.type, T::VarChar);
    EXPECT_EQ(c[0].spec.size, 50);
    EXPECT_FALSE(c[0].spec.nullable);
    EXPECT_EQ(c[1].spec.type, T::Memo);
    EXPECT_EQ(c[2].spec.type, T::Byte);
    EXPECT_EQ(c[3].spec.type, T::Integer);
    EXPECT_EQ(c[4].spec.type, T::Long);
    EXPECT_EQ(c[5].spec.type, T::BigInt);
    EXPECT_EQ(c[6].spec.type, T::Single);
    EXPECT_EQ(c[7].spec.type, T::Double);
    EXPECT_EQ(c[8].spec.type, T::Currency);
    EXPECT_EQ(c[9].spec.type, T::Decimal);
    EXPECT_EQ(c[9].spec.precision, 12);
    EXPECT_EQ(c[9].spec.scale, 3);
    EXPECT_EQ(c[10].spec.precision, 18);
    EXPECT_EQ(c[11].spec.type, T::DateTime);
    EXPECT_EQ(c[12].spec.type, T::Boolean);
    EXPECT_EQ(c[13].spec.type, T::LongBinary);
    EXPECT_EQ(c[14].spec.type, T::Binary);
    EXPECT_EQ(c[14].spec.size, 16);
    EXPECT_EQ(c[15].spec.type, T::Guid);
    EXPECT_TRUE(c[16].spec.autoIncrement);
    EXPECT_EQ(c[17].spec.type, T::VarChar);
    EXPECT_EQ(c[17].spec.size, 50);
    EXPECT_EQ(c[18].spec.type, T::Char);
    EXPECT_EQ(c[19].spec.type, T::Boolean);
    EXPECT_EQ(c[20].spec.type, T::Byte);
    ASSERT_EQ(s.createTable->indexes.size(), 1u);
    EXPECT_TRUE(s.createTable->indexes[0].primaryKey);
    EXPECT_EQ(s.createTable->indexes[0].columns, std::vector<std::string>{"q"});
}

TEST(SqlParser, FoxProTypeLettersAndTheDateDifference) {
    const Statement fox = parse(
        "CREATE TABLE t (a C(10), b V(20) NULL, c N(10,2), d I, e B, f Y, g D, h T, i L, j M, k G, l W, m Q(8), "
        "n F(12,4), o C(5) NOCPTRANS, p I AUTOINC, q Date)",
        Dialect::FoxPro);
    using T = storage::ColumnType;
    const auto& c = fox.createTable->columns;
    ASSERT_EQ(c.size(), 17u);
    EXPECT_EQ(c[0].spec.type, T::Char);
    EXPECT_EQ(c[0].spec.size, 10);
    EXPECT_EQ(c[1].spec.type, T::VarChar);
    EXPECT_EQ(c[2].spec.type, T::Decimal);
    EXPECT_EQ(c[2].spec.size, 10);
    EXPECT_EQ(c[2].spec.scale, 2);
    EXPECT_EQ(c[3].spec.type, T::Long);
    EXPECT_EQ(c[4].spec.type, T::Double);
    EXPECT_EQ(c[5].spec.type, T::Currency);
    EXPECT_EQ(c[6].spec.type, T::Date);
    EXPECT_EQ(c[7].spec.type, T::DateTime);
    EXPECT_EQ(c[8].spec.type, T::Boolean);
    EXPECT_EQ(c[9].spec.type, T::Memo);
    EXPECT_EQ(c[10].spec.type, T::LongBinary);
    EXPECT_EQ(c[11].spec.type, T::Blob);
    EXPECT_EQ(c[12].spec.type, T::Binary);
    EXPECT_EQ(c[13].spec.type, T::Float);
    EXPECT_TRUE(c[14].spec.binary);
    EXPECT_TRUE(c[15].spec.autoIncrement);
    EXPECT_EQ(c[16].spec.type, T::Date);
    // Access has no date-only type: DATE there is a date with time.
    EXPECT_EQ(parse("CREATE TABLE t (q DATE)", Dialect::Access).createTable->columns[0].spec.type, T::DateTime);
    // Letters are FoxPro's only.
    EXPECT_EQ(parseFailure("CREATE TABLE t (a C(10))", Dialect::Access).near, "C");
}

TEST(SqlParser, TypeArgumentsOutsideTheirRangeAreRefused) {
    EXPECT_NE(parseFailure("CREATE TABLE t (a TEXT(300))", Dialect::Access).detail.find("1..255"), std::string::npos);
    EXPECT_NE(parseFailure("CREATE TABLE t (a C(255))", Dialect::FoxPro).detail.find("1..254"), std::string::npos);
    EXPECT_NE(parseFailure("CREATE TABLE t (a N(25,2))", Dialect::FoxPro).detail.find("1..20"), std::string::npos);
    EXPECT_NE(parseFailure("CREATE TABLE t (a DECIMAL(10,12))", Dialect::Access).detail.find("scale"), std::string::npos);
    EXPECT_NE(parseFailure("CREATE TABLE t (a C)", Dialect::FoxPro).detail.find("width"), std::string::npos);
}

TEST(SqlParser, LiteralsOfEachDialect) {
    auto item = [](std::string_view sql, Dialect d) {
        Parser p(d);
        auto s = p.parseSelect(sql);
        return s->items[0].expr->value;
    };
    EXPECT_EQ(item("SELECT #2016-11-03#", Dialect::Access).type(), VarType::Date);
    EXPECT_EQ(item("SELECT #2016-11-03#", Dialect::Access).rawDouble(), date::fromParts(2016, 11, 3));
    EXPECT_EQ(item("SELECT {^2016-11-03 10:30}", Dialect::FoxPro).rawDouble(), date::fromParts(2016, 11, 3, 10, 30));
    EXPECT_TRUE(item("SELECT {}", Dialect::FoxPro).isNull());
    EXPECT_TRUE(item("SELECT .T.", Dialect::FoxPro).toBool());
    EXPECT_FALSE(item("SELECT .F.", Dialect::FoxPro).toBool());
    EXPECT_TRUE(item("SELECT .NULL.", Dialect::FoxPro).isNull());
    EXPECT_TRUE(item("SELECT True", Dialect::Access).toBool());
    EXPECT_EQ(item("SELECT \"say \"\"hi\"\"\"", Dialect::Access).rawString(), "say \"hi\"");
    EXPECT_EQ(item("SELECT [text in brackets]", Dialect::FoxPro).rawString(), "text in brackets");
    EXPECT_EQ(item("SELECT $12.5", Dialect::FoxPro).type(), VarType::Currency);
    EXPECT_EQ(item("SELECT $12.5", Dialect::FoxPro).rawInt(), 125000);
    // Numbers stay exact: a decimal literal is not squeezed through a double.
    const Value d = item("SELECT 0.1", Dialect::Access);
    ASSERT_EQ(d.type(), VarType::Decimal);
    EXPECT_EQ(d.rawDecimal().toString(), "0.1");
    EXPECT_EQ(item("SELECT -2147483648", Dialect::Access).type(), VarType::Long);
    EXPECT_EQ(item("SELECT 3000000000", Dialect::Access).type(), VarType::BigInt);
    // Access reads [..] as a name, FoxPro as text.
    Parser access(Dialect::Access);
    EXPECT_EQ(access.parseSelect("SELECT [x] FROM t")->items[0].expr->kind, Expr::Kind::Column);
}

TEST(SqlParser, TypedQueriesRoundTrip) {
    const char* access[] = {
        "SELECT DISTINCT TOP 10 PERCENT a, b AS [Total Sum] FROM t WHERE a BETWEEN 1 AND 5 AND NOT b IS NULL ORDER BY a DESC, 2",
        "SELECT o.ID, c.Name FROM (Orders AS o INNER JOIN Customers AS c ON o.CustID = c.ID) LEFT JOIN Notes n ON n.OID = o.ID",
        "SELECT Count(*), Sum(Qty * Price) FROM Items GROUP BY Kind HAVING Count(*) > 1",
        "SELECT a FROM t WHERE Name LIKE 'A*' OR Code IN ('x', 'y', 'z') OR d = #2001-02-03 04:05:06#",
        "SELECT a & ' ' & b, a MOD 3, a \\ 2, 2 ^ 3, -a FROM t",
        "UPDATE t SET a = a + 1, b = 'x' WHERE c <> 0",
        "DELETE * FROM t WHERE a = 1",
        "DELETE FROM t",
        "ALTER TABLE t ADD COLUMN c TEXT(10)",
        "ALTER TABLE t DROP COLUMN c",
        "INSERT INTO t (a, b) SELECT x, y FROM u WHERE z = 1",
        "INSERT INTO t VALUES (1, 'a'), (2, 'b')",
        "SELECT a FROM t UNION ALL SELECT b FROM u ORDER BY 1",
        "CREATE TABLE [My Table] ([Id] COUNTER, [Name] TEXT(40) NOT NULL, CONSTRAINT pk PRIMARY KEY ([Id]))",
    };
    for (const char* sql : access) expectRoundTrip(sql, Dialect::Access);
    const char* fox[] = {
        "SELECT a, b FROM t WHERE a == 'x' AND b # 2 AND .NOT. c AND 'ab' $ d ORDER BY a INTO TABLE r",
        "SELECT * FROM t WHERE d = {^2016-11-03} AND ok = .T.",
        "CREATE TABLE t (a C(10) NULL, b N(12,2), c T, d M NOCPTRANS)",
        "INSERT INTO t (a) VALUES ([bracketed text])",
    };
    for (const char* sql : fox) expectRoundTrip(sql, Dialect::FoxPro);
}

TEST(SqlParser, FoxProLineContinuationIsBlank) {
    const Statement s = parse("SELECT a, b ;\r\n  FROM t ;\r\n  WHERE a > 1", Dialect::FoxPro);
    EXPECT_EQ(s.select->items.size(), 2u);
    EXPECT_TRUE(s.select->where);
}

TEST(SqlParser, CommentsOfEachDialect) {
    EXPECT_EQ(parse("SELECT a -- the key\nFROM t", Dialect::Access).select->items.size(), 1u);
    EXPECT_EQ(parse("SELECT a /* the key */ FROM t", Dialect::Access).select->items.size(), 1u);
    EXPECT_EQ(parse("SELECT a && the key\nFROM t", Dialect::FoxPro).select->items.size(), 1u);
    Parser p(Dialect::FoxPro);
    Statement s;
    EXPECT_FALSE(p.parse("* only a comment", s));
    EXPECT_FALSE(p.parse("   ", s));
}

TEST(SqlParser, SyntaxErrorsNameStatementLineColumnAndToken) {
    Parser p(Dialect::FoxPro);
    const std::string script = "insert into [T] (a) values (1)\r\ninsert into [T] (a) values (1 x)";
    ScriptSplitter split(script, Dialect::FoxPro);
    ScriptStatement st;
    ASSERT_TRUE(split.next(st));
    ASSERT_TRUE(split.next(st));
    Statement s;
    try {
        p.parse(st.text, s);
        FAIL() << "no error";
    } catch (const ParseError& e) {
        EXPECT_EQ(Executor::syntaxMessage(e, st),
                  "Syntax error in INSERT INTO statement at line 2, column 31 near 'x': expected ')'.");
    }
}

TEST(SqlParser, BadInputFailsCleanly) {
    const char* bad[] = {
        "SELECT 'unterminated", "SELECT [unterminated", "SELECT #2016-13-45#", "SELECT {^not a date}",
        "INSERT INTO", "CREATE TABLE t (", "SELECT * FROM", "SELECT a FROM t WHERE", "SELECT (((1", "DROP",
        "SELECT 1 2", "SELECT 12abc", "UPDATE t SET", "SELECT a FROM t ORDER", "\x01\x02\x03", "SELECT ]",
        "SELECT TOP x * FROM t", "CREATE VIEW v AS",
        // Parameters: Access declarations, FoxPro ?name.
        "PARAMETERS", "PARAMETERS;", "PARAMETERS x; SELECT 1", "PARAMETERS [a] Text SELECT 1",
        "PARAMETERS a Text (99999999999999999999); SELECT 1", "PARAMETERS a Text (2.5); SELECT 1",
        "SELECT * FROM t WHERE a = ?", "SELECT * FROM t WHERE a = ? 1",
    };
    for (const char* sql : bad) {
        for (Dialect d : {Dialect::Access, Dialect::FoxPro}) {
            Parser p(d);
            Statement s;
            EXPECT_THROW(p.parse(sql, s), ParseError) << sql;
        }
    }
}

} // namespace
} // namespace qm::sql

namespace qm::sql {
namespace {

// Mangled statements (cut, doubled, bytes replaced) must give a ParseError
// or a tree, never a crash or a hang.
TEST(SqlParser, MangledInputNeverCrashes) {
    const std::string seeds[] = {
        "insert into [Orders] (ID,Label,Born) values (1,'it''s here',Date(2016,11,3))",
        "SELECT a.*, Count(*) FROM (t AS a INNER JOIN u ON a.x = u.y) WHERE a.d > #2016-11-03# GROUP BY a.k ORDER BY 2 DESC",
        "CREATE TABLE t (a C(10) NULL, b N(12,2), c T) ;\r\n SELECT * FROM t WHERE x $ 'abc' AND d = {^2016-11-03}",
        "SELECT * INTO [dBase IV;DATABASE=C:\\D\\;].[T] FROM `T`",
    };
    std::uint32_t state = 12345;
    auto rnd = [&] { state = state * 1103515245u + 12345u; return state >> 8; };
    for (int round = 0; round < 4000; ++round) {
        std::string s = seeds[round % 4];
        const int edits = 1 + static_cast<int>(rnd() % 4);
        for (int e = 0; e < edits && !s.empty(); ++e) {
            const std::size_t at = rnd() % s.size();
            switch (rnd() % 3) {
            case 0: s[at] = static_cast<char>(rnd() % 256); break;
            case 1: s.erase(at, 1 + rnd() % 8); break;
            default: s.insert(at, s.substr(rnd() % s.size(), 1 + rnd() % 6)); break;
            }
        }
        for (Dialect d : {Dialect::Access, Dialect::FoxPro}) {
            ScriptSplitter split(s, d);
            ScriptStatement st;
            Parser p(d);
            int pieces = 0;
            while (split.next(st)) {
                ASSERT_LT(++pieces, 1000);
                Statement out;
                try {
                    if (p.parse(st.text, out)) toSql(out, d);
                } catch (const ParseError& e) {
                    EXPECT_LE(e.offset, st.text.size());
                } catch (const Error&) {
                }
            }
        }
    }
}

} // namespace
} // namespace qm::sql

namespace qm::sql {
namespace {

TEST(SqlParser, KeyStatementsOfEachDialect) {
    Statement s = parse("CREATE UNIQUE INDEX ixName ON [Kinds] (Name DESC, ID) WITH IGNORE NULL", Dialect::Access);
    ASSERT_EQ(s.kind, StatementKind::CreateIndex);
    EXPECT_EQ(s.index->table.name, "Kinds");
    EXPECT_EQ(s.index->index.columns, (std::vector<std::string>{"Name", "ID"}));
    EXPECT_EQ(s.index->index.descending, (std::vector<bool>{true, false}));
    EXPECT_TRUE(s.index->index.unique);
    EXPECT_TRUE(s.index->index.ignoreNulls);
    s = parse("ALTER TABLE Kinds ADD CONSTRAINT pk PRIMARY KEY (ID), CONSTRAINT uq UNIQUE (Code)", Dialect::Access);
    ASSERT_EQ(s.alter->addKeys.size(), 2u);
    EXPECT_EQ(s.alter->addKeys[0].name, "pk");
    EXPECT_TRUE(s.alter->addKeys[0].primaryKey);
    EXPECT_EQ(s.alter->addKeys[1].columns, std::vector<std::string>{"Code"});
    // A constraint's name is the index's name, in CREATE TABLE too.
    s = parse("CREATE TABLE t (id LONG CONSTRAINT pkT PRIMARY KEY, code TEXT(5), CONSTRAINT uqCode UNIQUE (code))",
              Dialect::Access);
    ASSERT_EQ(s.createTable->indexes.size(), 2u);
    EXPECT_EQ(s.createTable->indexes[0].name, "uqCode");
    EXPECT_EQ(s.createTable->indexes[1].name, "pkT");
    s = parse("DROP INDEX ixName ON Kinds", Dialect::Access);
    EXPECT_EQ(s.kind, StatementKind::DropIndex);

    // FoxPro: expressions as written, a plain field as the key's column.
    s = parse("INDEX ON UPPER(name) + STR(id, 6) TAG nameid FOR NOT DELETED() CANDIDATE", Dialect::FoxPro);
    ASSERT_EQ(s.kind, StatementKind::CreateIndex);
    EXPECT_EQ(s.index->index.expression, "UPPER(name) + STR(id, 6)");
    EXPECT_EQ(s.index->index.filter, "NOT DELETED()");
    EXPECT_TRUE(s.index->index.unique);
    EXPECT_TRUE(s.index->table.name.empty());
    s = parse("ALTER TABLE kinds ADD PRIMARY KEY kindid TAG pk", Dialect::FoxPro);
    EXPECT_EQ(s.alter->addKeys.at(0).columns, std::vector<std::string>{"kindid"});
    EXPECT_EQ(s.alter->addKeys.at(0).name, "pk");
    s = parse("ALTER TABLE kinds DROP PRIMARY KEY DROP UNIQUE TAG code", Dialect::FoxPro);
    EXPECT_TRUE(s.alter->dropPrimaryKey);
    EXPECT_EQ(s.alter->dropKeys, std::vector<std::string>{"code"});
    s = parse("CREATE TABLE t (id I, name C(20), PRIMARY KEY id TAG id, UNIQUE UPPER(name) TAG uname)", Dialect::FoxPro);
    ASSERT_EQ(s.createTable->indexes.size(), 2u);
    EXPECT_EQ(s.createTable->indexes[1].expression, "UPPER(name)");

    for (const char* text : {"CREATE INDEX ix ON t (a DESC, b) WITH PRIMARY", "DROP INDEX ix ON t",
                             "ALTER TABLE t ADD CONSTRAINT c UNIQUE (a, b)", "ALTER TABLE t DROP CONSTRAINT c"})
        expectRoundTrip(text, Dialect::Access);
    for (const char* text : {"INDEX ON UPPER(a) TAG x FOR b > 1 CANDIDATE", "ALTER TABLE t ADD UNIQUE a TAG a",
                             "ALTER TABLE t DROP PRIMARY KEY", "USE t"})
        expectRoundTrip(text, Dialect::FoxPro);
    EXPECT_EQ(parseFailure("CREATE INDEX ix ON t (a) WITH", Dialect::Access).statement, "CREATE INDEX");
    EXPECT_NE(parseFailure("INDEX ON a TO file.idx", Dialect::FoxPro).detail.find("structural"), std::string::npos);
}

} // namespace
} // namespace qm::sql
