// The sample database made at build time for the program folder.
#include "jetw_checks.h"

#include <algorithm>

using namespace qm;
using namespace qm::jetw::test;
namespace fs = std::filesystem;

TEST(SampleDatabase, HoldsTheShopTablesAndQueries) {
    QM_REQUIRE_PROGRAM("mdb-export");
    qm::test::TempDir dir;
    const fs::path p = dir / "Samples" / "sample.mdb";
    const auto r = qm::test::run({QM_MAKE_SAMPLE, p.string()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(qm::test::run({"mdb-ver", p.string()}).out, "JET4\n");
    EXPECT_EQ(mdbTables(p), (std::vector<std::string>{"Customers", "Products", "Orders", "Order Details"}));
    EXPECT_EQ(mdbExport(p, "Customers").size(), 26u);
    EXPECT_EQ(mdbExport(p, "Orders").size(), 120u);
    // Every order line names an order and a product that exist.
    const Rows orders = mdbExport(p, "Orders"), products = mdbExport(p, "Products");
    for (const auto& line : mdbExport(p, "Order Details")) {
        EXPECT_LE(std::stoi(line[0]), 120);
        EXPECT_LE(std::stoul(line[1]), products.size());
    }
    auto db = openWritable(p);
    EXPECT_NE(db->querySql("Orders by Customer").find("INNER JOIN Orders ON"), std::string::npos);
    EXPECT_NE(db->querySql("Products to Reorder").find("WHERE"), std::string::npos);
    // Made again, the file is the same apart from the creation times.
    const auto size = fs::file_size(p);
    db.reset();
    ASSERT_EQ(qm::test::run({QM_MAKE_SAMPLE, p.string()}).exitCode, 0);
    EXPECT_EQ(fs::file_size(p), size);
}
