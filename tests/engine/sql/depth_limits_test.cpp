// Texts nested far beyond what anyone writes, and very long chains of
// operators, against real scratch databases of both dialects: each gives a
// result or an error naming the line and column, never a crash.
#include "sql/ast.h"
#include "sql/depth.h"
#include "sql/executor.h"
#include "sql/parser.h"
#include "sql/translate.h"
#include "storage/open.h"
#include "test_support.h"
#include "xbase/dbc.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

namespace qm::sql {
namespace {

using test::TempDir;

std::string repeat(std::string_view s, int n) {
    std::string out;
    out.reserve(s.size() * static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) out += s;
    return out;
}

// n terms joined by op: "1+1+...+1".
std::string chain(std::string_view term, std::string_view op, int n) {
    std::string out(term);
    for (int i = 1; i < n; ++i) { out += op; out += term; }
    return out;
}

// A scratch database of the dialect with table x (a) holding 1 and 2.
class DepthLimits : public ::testing::TestWithParam<Dialect> {
protected:
    void SetUp() override {
        if (fox()) {
            const std::string dbc = (dir / "deep.dbc").string();
            xbase::Container::create(dbc);
            db = storage::openDatabase(dbc);
        } else {
            db = jet::createDatabase((dir / "deep.mdb").string(), jet::NewFileFormat::Jet4Mdb);
        }
        ex = std::make_unique<Executor>(*db, GetParam());
        ex->runScript("CREATE TABLE x (a INT)\nINSERT INTO x (a) VALUES (1)\nINSERT INTO x (a) VALUES (2)");
    }
    bool fox() const { return GetParam() == Dialect::FoxPro; }

    // The single value the query gives (its first row, first column).
    std::string value(std::string_view sql) {
        auto cur = ex->query(sql);
        EXPECT_TRUE(cur->next()) << "no row";
        const Value& v = cur->value(0);
        return v.isNull() ? "NULL" : v.toString();
    }
    int rowCount(std::string_view sql) {
        auto cur = ex->query(sql);
        int n = 0;
        while (cur->next()) ++n;
        return n;
    }
    std::string error(std::string_view script) {
        try {
            ex->runScript(script);
        } catch (const Error& e) {
            return e.what();
        }
        return "(no error)";
    }

    TempDir dir;
    std::unique_ptr<storage::Database> db;
    std::unique_ptr<Executor> ex;
};

const std::string kTooDeep = "nests more than " + std::to_string(kMaxNesting) + " levels deep";

TEST_P(DepthLimits, DeepTextsAreRefusedWhereTheyGoTooDeep) {
    // The error names the line and the column of the first token past the limit.
    const std::string parens = "SELECT\r\n  " + repeat("(", 100000) + "1" + repeat(")", 100000) + " FROM x";
    const std::string col = std::to_string(3 + kMaxNesting); // "  " then the 257th '('
    std::string e = error(parens);
    EXPECT_NE(e.find("at line 2, column " + col + " near '('"), std::string::npos) << e;
    EXPECT_NE(e.find(kTooDeep), std::string::npos) << e;

    e = error("SELECT * FROM " + repeat("(SELECT * FROM ", 20000) + "x" + repeat(") AS q", 20000));
    EXPECT_NE(e.find("line 1, column"), std::string::npos) << e;
    EXPECT_NE(e.find(kTooDeep), std::string::npos) << e;

    for (const std::string& text : {
             "SELECT * FROM x WHERE " + repeat("NOT ", 100000) + "1=1",
             "SELECT " + repeat("- ", 100000) + "1 FROM x",
             "SELECT " + repeat("IIF(a=1, ", 20000) + "0" + repeat(", 2)", 20000) + " FROM x",
             "SELECT " + repeat("ABS(", 20000) + "1" + repeat(")", 20000) + " FROM x",
             "SELECT * FROM x WHERE a" + repeat(" IS NULL", 20000),
             "SELECT * FROM x WHERE a IN (" + repeat("a IN (", 20000) + "1" + repeat(")", 20001),
             chain("SELECT a FROM x", " UNION ALL ", 20000),
             "SELECT * FROM x" + repeat(", x", 20000),
             "SELECT * FROM x " + repeat("INNER JOIN x ON 1=1 ", 20000),
             "SELECT * FROM " + repeat("(", 20000) + "x" + repeat(")", 20000),
             "INSERT INTO x (a) VALUES (" + repeat("(", 20000) + "1" + repeat(")", 20000) + ")",
             "UPDATE x SET a = " + repeat("(", 20000) + "1" + repeat(")", 20000),
         }) {
        e = error(text);
        EXPECT_NE(e.find(kTooDeep), std::string::npos) << text.substr(0, 60) << ": " << e;
        EXPECT_NE(e.find("line 1, column"), std::string::npos) << e;
    }
    // Nothing was changed by the refused statements.
    EXPECT_EQ(value("SELECT SUM(a) FROM x"), "3");
}

TEST_P(DepthLimits, LongChainsOfOperatorsGiveTheirResult) {
    EXPECT_EQ(value("SELECT " + chain("1", "+", 200000) + " FROM x"), "200000");
    EXPECT_EQ(value("SELECT " + chain("a", " * ", 100000) + " FROM x WHERE a = 1"), "1");
    EXPECT_EQ(value("SELECT 300000 " + repeat("- 1 ", 100000) + "FROM x"), "200000");
    EXPECT_EQ(rowCount("SELECT * FROM x WHERE " + chain("a > 0", " AND ", 100000)), 2);
    EXPECT_EQ(rowCount("SELECT * FROM x WHERE " + chain("a = 0", " OR ", 100000) + " OR a = 2"), 1);
    // Three-valued logic stays: Null AND ... AND False is False, Null OR ... is Null.
    EXPECT_EQ(rowCount("SELECT * FROM x WHERE NOT (NULL AND " + chain("a = 1", " AND ", 50000) + " AND a = 0)"), 2);
    EXPECT_EQ(rowCount("SELECT * FROM x WHERE (NULL OR " + chain("a = 0", " OR ", 50000) + ") IS NULL"), 2);
    // A long concatenation grows one text ('&' in Access, '+' in FoxPro).
    const std::string cat = chain("'ab'", fox() ? " + " : " & ", 100000);
    EXPECT_EQ(value("SELECT LEN(" + cat + ") FROM x"), "200000");
    // Aggregates along a chain keep their order and meaning.
    EXPECT_EQ(value("SELECT " + chain("SUM(a)", " + ", 20000) + " FROM x"), "60000");
    // A huge expression as an inserted value.
    ex->runScript("INSERT INTO x (a) VALUES (" + chain("1", "+", 200000) + ")");
    EXPECT_EQ(value("SELECT MAX(a) FROM x"), "200000");
    ex->runScript("UPDATE x SET a = " + chain("a", " - 1 + ", 50000) + " WHERE a = 1");
    EXPECT_EQ(value("SELECT MIN(a) FROM x"), "1");
    // Long lists that are no nesting at all.
    std::string in = "SELECT COUNT(*) FROM x WHERE a IN (0";
    for (int i = 1; i < 100000; ++i) in += "," + std::to_string(i);
    EXPECT_EQ(value(in + ")"), "2");
}

TEST_P(DepthLimits, DeepButOrdinaryTextsStillRun) {
    const int deep = kMaxNesting - 8;
    EXPECT_EQ(value("SELECT " + repeat("(", deep) + "a + 1" + repeat(")", deep) + " FROM x WHERE a = 1"), "2");
    EXPECT_EQ(value("SELECT * FROM " + repeat("(SELECT a FROM ", 50) + "x" + repeat(") AS q", 50) + " WHERE a = 2"), "2");
    EXPECT_EQ(value("SELECT " + repeat("NOT ", 200) + "(a = 1) FROM x WHERE a = 1"), "True");
    EXPECT_EQ(value("SELECT " + repeat("IIF(a = 1, ", 100) + "7" + repeat(", 0)", 100) + " FROM x WHERE a = 1"), "7");
    EXPECT_EQ(rowCount(chain("SELECT a FROM x", " UNION ALL ", 100)), 200);
    // A join chain of 40 tables.
    std::string joins = "SELECT COUNT(*) FROM x AS t0";
    for (int i = 1; i < 40; ++i)
        joins += " INNER JOIN x AS t" + std::to_string(i) + " ON t" + std::to_string(i) + ".a = t0.a";
    EXPECT_EQ(value(joins), "2");
}

TEST_P(DepthLimits, ViewsTooDeepToOpenAreNotStored) {
    const std::string deep = "SELECT * FROM " + repeat("(SELECT * FROM ", 20000) + "x" + repeat(") AS q", 20000);
    const std::string e = error("CREATE VIEW v AS " + deep);
    EXPECT_NE(e.find("The view 'v' cannot be stored"), std::string::npos) << e;
    EXPECT_NE(e.find(kTooDeep), std::string::npos) << e;
    // "CREATE VIEW v AS SELECT * FROM " fills columns 1-31; each "(SELECT * FROM " is 15 more.
    EXPECT_NE(e.find("line 1, column " + std::to_string(32 + 15 * kMaxNesting) + ")"), std::string::npos) << e;
    EXPECT_FALSE(db->find("v"));
    // A long chain is no nesting: stored, and opened again from its text.
    ex->runScript("CREATE VIEW w AS SELECT " + chain("a", " + ", 20000) + " AS s FROM x WHERE a = 1");
    EXPECT_EQ(value("SELECT s FROM w"), "20000");
}

TEST_P(DepthLimits, AScriptGoesOnAfterATooDeepStatement) {
    std::vector<StatementOutcome> seen;
    const std::string script = "INSERT INTO x (a) VALUES (5)\n"
                               "SELECT " + repeat("(", 100000) + "1" + repeat(")", 100000) + " FROM x\n"
                               "INSERT INTO x (a) VALUES (6)\n";
    try {
        ex->runScript(script, [&](const StatementOutcome& o) { seen.push_back(o); });
        ADD_FAILURE() << "no error";
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("1 of 3 statements failed (line 2)"), std::string::npos) << e.what();
    }
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_TRUE(seen[1].failed);
    EXPECT_NE(seen[1].error.find("line 2, column " + std::to_string(8 + kMaxNesting)), std::string::npos) << seen[1].error;
    EXPECT_EQ(value("SELECT SUM(a) FROM x"), "14");
}

INSTANTIATE_TEST_SUITE_P(BothDialects, DepthLimits, ::testing::Values(Dialect::Access, Dialect::FoxPro),
                         [](const auto& info) { return info.param == Dialect::Access ? "Access" : "FoxPro"; });

// The deepest text that is accepted runs on a secondary thread's default
// stack too (the figures beside kMaxNesting are measured in the sanitizer
// build, where frames are largest).
TEST(DepthLimitsThread, TheDeepestAcceptedQueryRunsOnASecondaryThread) {
    TempDir dir;
    const std::string dbc = (dir / "t.dbc").string();
    xbase::Container::create(dbc);
    auto db = storage::openDatabase(dbc);
    Executor ex(*db, Dialect::FoxPro);
    ex.runScript("CREATE TABLE x (a INT)\nINSERT INTO x (a) VALUES (1)");
    const int n = kMaxNesting - 1;
    std::string result, parens;
    std::thread worker([&] {
        try {
            auto cur = ex.query("SELECT * FROM " + repeat("(SELECT a FROM ", n) + "x" + repeat(") AS q", n));
            if (cur->next()) result = cur->value(0).toString();
            auto p = ex.query("SELECT " + repeat("(", n) + "a" + repeat(")", n) + " FROM x");
            if (p->next()) parens = p->value(0).toString();
        } catch (const Error& e) {
            result = e.what();
        }
    });
    worker.join();
    EXPECT_EQ(result, "1");
    EXPECT_EQ(parens, "1");
}

// Walkers that only refuse: writing a tree back as SQL, translating it.
TEST(DepthLimitsWalkers, WritingAndTranslatingRefuseOverDeepTrees) {
    Parser p(Dialect::Access);
    auto sel = p.parseSelect("SELECT " + chain("a", " + ", 100000) + " FROM x");
    try {
        toSql(*sel, Dialect::Access);
        ADD_FAILURE() << "no error";
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("nested too deeply to be written out"), std::string::npos) << e.what();
    }
    // Within the limit the text reads back as the same tree.
    const std::string written = toSql(*p.parseSelect("SELECT " + chain("a", " + ", 200) + " FROM x"), Dialect::Access);
    EXPECT_EQ(toSql(*p.parseSelect(written), Dialect::Access), written);

    auto t = translateQuery("SELECT " + chain("a", " & ", 100000) + " FROM x", Dialect::Access, Dialect::FoxPro, nullptr);
    ASSERT_FALSE(t.issues.empty());
    EXPECT_NE(t.report().find("levels deep"), std::string::npos) << t.report();
    t = translateQuery("SELECT " + chain("a", " + ", 50) + " FROM x", Dialect::Access, Dialect::FoxPro, nullptr);
    EXPECT_TRUE(t.issues.empty()) << t.report();
}

} // namespace
} // namespace qm::sql
