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

#include <pthread.h>

#include <exception>
#include <functional>
#include <string>

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

// Runs f on a thread with a stack of the size given, its exception passed on.
void onStack(std::size_t bytes, const std::function<void()>& f) {
    struct Job {
        const std::function<void()>* f;
        std::exception_ptr error;
    } job{&f, nullptr};
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, bytes);
    pthread_t thread;
    const int rc = pthread_create(&thread, &attr, [](void* p) -> void* {
        auto* j = static_cast<Job*>(p);
        try {
            (*j->f)();
        } catch (...) {
            j->error = std::current_exception();
        }
        return nullptr;
    }, &job);
    pthread_attr_destroy(&attr);
    ASSERT_EQ(rc, 0);
    pthread_join(thread, nullptr);
    if (job.error) std::rethrow_exception(job.error);
}

// A walk that recursed once per term of a 10,000-term chain would need
// megabytes; these run on a 512 KB stack (a few times what a flat
// statement takes in the sanitizer build).
constexpr std::size_t kSmallStack = 512u << 10;
constexpr int kLong = 10000;

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

TEST_P(DepthLimits, ASumOf200000TermsIsComputed) {
    EXPECT_EQ(value("SELECT " + chain("1", "+", 200000) + " FROM x"), "200000");
}

TEST_P(DepthLimits, LongChainsOfOperatorsGiveTheirResult) {
    onStack(kSmallStack, [&] {
        EXPECT_EQ(value("SELECT " + chain("a", " * ", kLong) + " FROM x WHERE a = 1"), "1");
        EXPECT_EQ(value("SELECT 300000 " + repeat("- 1 ", kLong) + "FROM x"), std::to_string(300000 - kLong));
        EXPECT_EQ(rowCount("SELECT * FROM x WHERE " + chain("a > 0", " AND ", kLong)), 2);
        EXPECT_EQ(rowCount("SELECT * FROM x WHERE " + chain("a = 0", " OR ", kLong) + " OR a = 2"), 1);
        // Three-valued logic stays: Null AND ... AND False is False, Null OR ... is Null.
        EXPECT_EQ(rowCount("SELECT * FROM x WHERE NOT (NULL AND " + chain("a = 1", " AND ", kLong) + " AND a = 0)"), 2);
        EXPECT_EQ(rowCount("SELECT * FROM x WHERE (NULL OR " + chain("a = 0", " OR ", kLong) + ") IS NULL"), 2);
        // A long concatenation grows one text ('&' in Access, '+' in FoxPro).
        const std::string cat = chain("'ab'", fox() ? " + " : " & ", kLong);
        EXPECT_EQ(value("SELECT LEN(" + cat + ") FROM x"), std::to_string(2 * kLong));
        // Aggregates along a chain keep their order and meaning.
        EXPECT_EQ(value("SELECT " + chain("SUM(a)", " + ", kLong) + " FROM x"), std::to_string(3 * kLong));
        EXPECT_EQ(value("SELECT MIN(a) " + repeat("- MAX(a) ", kLong) + "FROM x"), std::to_string(1 - 2 * kLong));
        // A huge expression as an inserted value, and in UPDATE.
        ex->runScript("INSERT INTO x (a) VALUES (" + chain("1", "+", kLong) + ")");
        EXPECT_EQ(value("SELECT MAX(a) FROM x"), std::to_string(kLong));
        ex->runScript("UPDATE x SET a = " + chain("a", " - 1 + ", kLong) + " WHERE a = 1");
        EXPECT_EQ(value("SELECT MIN(a) FROM x"), "1");
        // A view holding a long chain is stored and opened again from its text.
        ex->runScript("CREATE VIEW w AS SELECT " + chain("a", " + ", kLong) + " AS s FROM x WHERE a = 1");
        EXPECT_EQ(value("SELECT s FROM w"), std::to_string(kLong));
        // Long lists that are no nesting at all.
        std::string in = "SELECT COUNT(*) FROM x WHERE a IN (0";
        for (int i = 1; i < kLong; ++i) in += "," + std::to_string(i);
        EXPECT_EQ(value(in + ")"), "2"); // 1 and 2, not 20000
    });
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

TEST_P(DepthLimits, DeepIndexExpressionsAreRefused) {
    if (!fox()) GTEST_SKIP() << "INDEX ON is FoxPro's";
    // A tag holds 510 bytes of expressions: longer texts are refused before they are parsed.
    std::string e = error("USE x\nINDEX ON " + repeat("(", 100000) + "a" + repeat(")", 100000) + " TAG deep");
    EXPECT_NE(e.find("longer than the 510 bytes a tag header holds"), std::string::npos) << e;
    e = error("USE x\nINDEX ON " + chain("a", "+", 100000) + " TAG long");
    EXPECT_NE(e.find("longer than the 510 bytes a tag header holds"), std::string::npos) << e;
    // The deepest that fits still makes a working tag.
    ex->runScript("USE x\nINDEX ON " + repeat("(", 250) + "a" + repeat(")", 250) + " TAG deep");
    EXPECT_EQ(rowCount("SELECT * FROM x WHERE a = 2"), 1);
}

INSTANTIATE_TEST_SUITE_P(BothDialects, DepthLimits, ::testing::Values(Dialect::Access, Dialect::FoxPro),
                         [](const auto& info) { return info.param == Dialect::Access ? "Access" : "FoxPro"; });

// The deepest texts that are accepted run on a 4 MB stack, half the main
// thread's: the figures beside kMaxNesting are measured in the sanitizer
// build, where frames are largest.
TEST(DepthLimitsThread, TheDeepestAcceptedTextsRunOnHalfTheMainStack) {
    TempDir dir;
    const std::string dbc = (dir / "t.dbc").string();
    xbase::Container::create(dbc);
    auto db = storage::openDatabase(dbc);
    Executor ex(*db, Dialect::FoxPro);
    ex.runScript("CREATE TABLE x (a INT)\nINSERT INTO x (a) VALUES (1)");
    const int n = kMaxNesting - 1;
    auto first = [&](const std::string& sql) {
        auto cur = ex.query(sql);
        return cur->next() ? cur->value(0).toString() : std::string("(no row)");
    };
    onStack(4u << 20, [&] {
        EXPECT_EQ(first("SELECT * FROM " + repeat("(SELECT a FROM ", n) + "x" + repeat(") AS q", n)), "1");
        EXPECT_EQ(first("SELECT " + repeat("(", n) + "a" + repeat(")", n) + " FROM x"), "1");
        EXPECT_EQ(first("SELECT " + repeat("IIF(a = 1, ", n) + "7" + repeat(", 0)", n) + " FROM x"), "7");
        const auto t = translateQuery("SELECT " + repeat("IIF(a = 1, ", n) + "7" + repeat(", 0)", n) + " FROM x",
                                      Dialect::FoxPro, Dialect::Access, nullptr);
        EXPECT_TRUE(t.issues.empty()) << t.report();
    });
}

// Walkers that only refuse: writing a tree back as SQL, translating it.
TEST(DepthLimitsWalkers, WritingAndTranslatingRefuseOverDeepTrees) {
    Parser p(Dialect::Access);
    auto sel = p.parseSelect("SELECT " + chain("a", " + ", kLong) + " FROM x");
    onStack(kSmallStack, [&] {
        try {
            toSql(*sel, Dialect::Access);
            ADD_FAILURE() << "no error";
        } catch (const Error& e) {
            EXPECT_NE(std::string(e.what()).find("nested too deeply to be written out"), std::string::npos) << e.what();
        }
    });
    // Within the limit the text reads back as the same tree.
    const std::string written = toSql(*p.parseSelect("SELECT " + chain("a", " + ", 200) + " FROM x"), Dialect::Access);
    EXPECT_EQ(toSql(*p.parseSelect(written), Dialect::Access), written);

    // The translator takes most stack per level (see kMaxWalkDepth): it
    // stops where a 10,000-level recursion would have needed tens of MB.
    auto t = translateQuery("SELECT " + chain("a", " AND ", kLong) + " FROM x", Dialect::Access, Dialect::FoxPro, nullptr);
    ASSERT_FALSE(t.issues.empty());
    EXPECT_NE(t.report().find("levels deep"), std::string::npos) << t.report();
    t = translateQuery("SELECT " + chain("a", " + ", 50) + " FROM x", Dialect::Access, Dialect::FoxPro, nullptr);
    EXPECT_TRUE(t.issues.empty()) << t.report();
}

} // namespace
} // namespace qm::sql
