// Views and saved queries that name each other or themselves, and remote
// container views: each gives a clear error (or the base table it means),
// never a recursion without end.
#include "sql/executor.h"
#include "storage/open.h"
#include "test_support.h"
#include "xbase/dbc.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace qm::sql {
namespace {

using test::TempDir;

ExecutorOptions withFolders() {
    ExecutorOptions o;
    o.openFolder = [](const std::string& folder, const storage::OpenOptions& opts) { return xbase::openFolder(folder, opts); };
    return o;
}

std::string queryError(Executor& ex, std::string_view sql) {
    try {
        auto cur = ex.query(sql);
        while (cur->next()) {
        }
    } catch (const Error& e) {
        return e.what();
    }
    return "(no error)";
}

std::int64_t countOf(Executor& ex, std::string_view sql) {
    auto cur = ex.query(sql);
    EXPECT_TRUE(cur->next());
    return cur->value(0).toInt64();
}

TEST(ViewResolution, AccessQueriesThatReadEachOtherAreACircularReference) {
    TempDir dir;
    const std::string path = (dir / "loop.mdb").string();
    jet::createDatabase(path, jet::NewFileFormat::Jet4Mdb);
    auto db = storage::openDatabase(path);
    Executor ex(*db, Dialect::Access);
    ex.runScript("CREATE TABLE t (a INTEGER);\nINSERT INTO t (a) VALUES (7);\n"
                 "CREATE VIEW q1 AS SELECT * FROM t;\nCREATE VIEW q2 AS SELECT * FROM q1;\n"
                 "DROP VIEW q1;\nCREATE VIEW q1 AS SELECT * FROM q2;\n"
                 "CREATE VIEW self AS SELECT a FROM self;\nCREATE VIEW outer1 AS SELECT * FROM q2;");

    EXPECT_EQ(queryError(ex, "SELECT * FROM q1"), "Circular reference caused by view 'q1' (q1 -> q2 -> q1) (line 1, column 15).");
    EXPECT_EQ(queryError(ex, "SELECT * FROM self"), "Circular reference caused by view 'self' (self -> self) (line 1, column 15).");
    // Reached through a view outside the loop, the chain starts at the loop.
    EXPECT_EQ(queryError(ex, "SELECT * FROM outer1"), "Circular reference caused by view 'q2' (q2 -> q1 -> q2) (line 1, column 15).");

    // The error points at the name in the statement that was run, and the
    // executor is fine afterwards.
    std::string placedMessage;
    try {
        ex.runScript("SELECT t.a FROM t, q1", [&](const StatementOutcome& o) { placedMessage = o.error; });
    } catch (const Error&) {
    }
    EXPECT_NE(placedMessage.find("(line 1, column 20)."), std::string::npos) << placedMessage;
    EXPECT_EQ(countOf(ex, "SELECT COUNT(*) FROM t"), 1);
}

struct Container {
    TempDir dir;
    std::string path;
    std::unique_ptr<storage::Database> db;
    Container() : path((dir / "loop.dbc").string()) {
        xbase::Container::create(path);
        db = storage::openDatabase(path);
    }
};

TEST(ViewResolution, ContainerViewsThatReadEachOtherAreACircularReference) {
    Container c;
    Executor ex(*c.db, Dialect::FoxPro, withFolders());
    ex.runScript("CREATE TABLE t (a I)\nINSERT INTO t (a) VALUES (1)\n"
                 "CREATE VIEW v1 AS SELECT * FROM v2\nCREATE VIEW v2 AS SELECT * FROM v1");
    EXPECT_EQ(queryError(ex, "SELECT * FROM v2"), "Circular reference caused by view 'v2' (v2 -> v1 -> v2) (line 1, column 15).");
    EXPECT_EQ(queryError(ex, "SELECT COUNT(*) FROM t JOIN v1 ON .T."),
              "Circular reference caused by view 'v1' (v1 -> v2 -> v1) (line 1, column 29).");
    EXPECT_EQ(countOf(ex, "SELECT COUNT(*) FROM t"), 1);
}

TEST(ViewResolution, AViewNamingItselfReadsTheFreeTableOfThatName) {
    Container c;
    {
        // A free table beside the container, not a member of it.
        auto folder = xbase::openFolder(c.dir.path().string(), {});
        Executor free(*folder, Dialect::FoxPro);
        free.runScript("CREATE TABLE items (n I)\nINSERT INTO items (n) VALUES (1)\nINSERT INTO items (n) VALUES (2)");
    }
    Executor ex(*c.db, Dialect::FoxPro, withFolders());
    ex.runScript("CREATE VIEW items AS SELECT * FROM items WHERE n > 1\nCREATE VIEW lonely AS SELECT * FROM lonely");
    EXPECT_EQ(countOf(ex, "SELECT COUNT(*) FROM items"), 1);
    EXPECT_EQ(queryError(ex, "SELECT * FROM lonely"), "Circular reference caused by view 'lonely' (lonely -> lonely) (line 1, column 15).");
}

TEST(ViewResolution, LongChainsOfViewsStopWithAClearError) {
    // v1 reads t, v2 reads v1, ... : each view runs inside the one that
    // reads it, so a long enough chain must stop before the stack does.
    auto chain = [](Executor& ex, int length) {
        std::string script = "CREATE VIEW v1 AS SELECT a FROM t\n";
        for (int i = 2; i <= length; ++i)
            script += "CREATE VIEW v" + std::to_string(i) + " AS SELECT a FROM v" + std::to_string(i - 1) + "\n";
        ex.runScript(script);
    };
    TempDir dir;
    const std::string path = (dir / "chain.mdb").string();
    jet::createDatabase(path, jet::NewFileFormat::Jet4Mdb);
    auto access = storage::openDatabase(path);
    Executor a(*access, Dialect::Access);
    a.runScript("CREATE TABLE t (a INTEGER);\nINSERT INTO t (a) VALUES (5);");
    Container c;
    Executor f(*c.db, Dialect::FoxPro, withFolders());
    f.runScript("CREATE TABLE t (a I)\nINSERT INTO t (a) VALUES (5)");
    for (Executor* ex : {&a, &f}) {
        chain(*ex, 70);
        EXPECT_EQ(countOf(*ex, "SELECT COUNT(*) FROM v40"), 1);
        const std::string e = queryError(*ex, "SELECT * FROM v70");
        EXPECT_EQ(e.rfind("Views are opened inside each other too deeply to open 'v6", 0), 0u) << e;
        EXPECT_NE(e.find("(v70 -> v69 -> "), std::string::npos) << e;
    }
}

TEST(ViewResolution, RemoteContainerViewsAreListedReadableAndRefusedWhenOpened) {
    const auto source = test::fixture("xbase/vfpx-samples/Com+/Transactions");
    if (!std::filesystem::exists(source)) GTEST_SKIP() << "the shared fixtures are not present here";
    TempDir dir;
    for (const auto& f : std::filesystem::directory_iterator(source))
        std::filesystem::copy_file(f.path(), dir / f.path().filename().string());
    auto db = storage::openDatabase((dir / "testdata.dbc").string());

    std::size_t views = 0;
    for (const auto& e : db->catalog())
        if (e.kind == storage::ObjectKind::View) {
            ++views;
            EXPECT_EQ(e.connection, "mtxpubs") << e.name;
        }
    EXPECT_EQ(views, 5u);
    EXPECT_EQ(db->querySql("products").substr(0, 22), "SELECT * FROM products");

    Executor ex(*db, Dialect::FoxPro, withFolders());
    EXPECT_EQ(queryError(ex, "SELECT COUNT(*) FROM [products]"),
              "The view 'products' reads a remote database through the connection 'mtxpubs', which this "
              "program does not have; only local views can be opened (line 1, column 22).");
}

} // namespace
} // namespace qm::sql
