// quillmere-cli exec: statements run through the provider the path selects,
// one report line per statement, exit status by outcome.
#include "exec_command.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <sstream>

namespace qm::cli {
namespace {

struct ExecRun {
    int status;
    std::string out, err;
};

ExecRun exec(const std::vector<std::string>& args) {
    std::ostringstream out, err;
    const int status = runExec(args, out, err);
    return {status, out.str(), err.str()};
}

TEST(CliExec, ScriptOnAFolderOfFreeTables) {
    test::TempDir dir;
    const auto script = dir / "load.sql";
    test::writeFile(script,
                    "CREATE TABLE pets (name C(10), born D)\r\n"
                    "insert into [pets] (name,born) values ('Rex',Date(2016,11,3))\r\n"
                    "insert into [pets] (name,born) values ('Tom\r\nCat',NULL)\r\n"
                    "SELECT ALLTRIM(name) AS name, born FROM pets\r\n");
    const ExecRun r = exec({dir.path().string(), "--file", script.string()});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "line 1: CREATE TABLE: done\n"
              "line 2: INSERT INTO: 1 row affected\n"
              "line 3: INSERT INTO: 1 row affected\n"
              "line 5:\n"
              "name\tborn\n"
              "Rex\t2016-11-03\n"
              "Tom\\r\\nCat\tNULL\n"
              "2 rows\n");
}

TEST(CliExec, FailuresAreReportedAndSetTheStatus) {
    test::TempDir dir;
    exec({dir.path().string(), "CREATE TABLE t (a I)"});
    const ExecRun r = exec({dir.path().string(), "CREATE TABLE t (a I)"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "line 1: error: Table 't' already exists (line 1, column 14).\n");
    EXPECT_NE(r.err.find("already exists"), std::string::npos);

    const ExecRun missing = exec({(dir / "none.dbc").string(), "SELECT 1"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("none.dbc"), std::string::npos) << missing.err;
}

TEST(CliExec, BadUsage) {
    EXPECT_EQ(exec({}).status, 2);
    EXPECT_EQ(exec({"x.dbc"}).status, 2);
    EXPECT_EQ(exec({"x.dbc", "--file"}).status, 2);
    EXPECT_EQ(exec({"x.dbc", "--file", "a.sql", "SELECT 1"}).status, 2);
    EXPECT_EQ(exec({"x.dbc", "--file", "/nonexistent/a.sql"}).status, 1);
}

} // namespace
} // namespace qm::cli
