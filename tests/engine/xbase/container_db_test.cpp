// The database container as a storage::Database: member tables under their
// long names with long field names, views, and writing member tables.
#include "dbc.h"
#include "dbf_checkers.h"
#include "dbf_table.h"
#include "storage/open.h"
#include "test_support.h"

#include <filesystem>

namespace fs = std::filesystem;
using qm::Value;

TEST(XbaseContainer, NorthwindCatalogColumnsRowsAndViews)
{
    QM_REQUIRE_SHARED();
    qm::storage::OpenOptions ro;
    ro.readOnly = true;
    auto db = qm::xbase::openContainer(qm::test::fixture("xbase/vfpx-samples/Northwind/northwind.dbc").string(), ro);
    auto cat = db->catalog();
    int tables = 0, views = 0;
    bool viewsStarted = false;
    for (const auto& e : cat) {
        if (e.tableType == "TABLE") {
            ++tables;
            EXPECT_FALSE(viewsStarted) << "tables are listed before views";
        } else {
            EXPECT_EQ(e.tableType, "VIEW");
            viewsStarted = true;
            ++views;
        }
    }
    EXPECT_EQ(tables, 13);
    EXPECT_EQ(views, 17);
    ASSERT_TRUE(db->find("CATEGORIES").has_value());
    auto cols = db->columns("categories");
    ASSERT_EQ(cols.size(), 4u);
    EXPECT_EQ(cols[1].name, "categoryname"); // the long name; the .dbf holds CATEGORYNA
    EXPECT_EQ(db->rowCount("categories"), 8u);
    auto cur = db->scan("Categories");
    ASSERT_TRUE(cur->next());
    EXPECT_EQ(cur->value(0).type(), qm::VarType::Long);
    EXPECT_NE(db->querySql("current_product_list").find("SELECT"), std::string::npos);
    EXPECT_THROW(db->scan("current_product_list"), qm::Error);
    EXPECT_THROW(db->append("categories", std::vector<Value>{}), qm::Error); // read-only
}

TEST(XbaseContainer, MemberTablesAreCreatedFilledAndDropped)
{
    qm::test::TempDir dir;
    const std::string dbc = (dir.path() / "shop.dbc").string();
    qm::xbase::Container::create(dbc);
    auto db = qm::xbase::openContainer(dbc, {});
    using CT = qm::storage::ColumnType;
    qm::storage::TableSpec spec;
    spec.name = "OrderDetails";
    spec.columns = {{.name = "OrderIdentifier", .type = CT::Long},
                    {.name = "OrderIdentifierText", .type = CT::VarChar, .size = 40},
                    {.name = "Notes", .type = CT::Memo}};
    db->createTable(spec);
    db->beginBatch();
    for (int i = 0; i < 100; ++i)
        db->append("orderdetails", std::vector<Value>{Value::longInt(i), Value::string("text " + std::to_string(i)),
                                                      Value::string(std::string(static_cast<std::size_t>(i), 'n'))});
    db->endBatch();
    db->remove("orderdetails", 1);
    db->createView("big_orders", "SELECT * FROM shop!orderdetails WHERE orderidentifier > 50");

    auto again = qm::xbase::openContainer(dbc, {});
    auto cols = again->columns("OrderDetails");
    ASSERT_EQ(cols.size(), 3u);
    EXPECT_EQ(cols[0].name, "orderidentifier");
    EXPECT_EQ(cols[1].name, "orderidentifiertext");
    EXPECT_EQ(again->rowCount("orderdetails"), 99u);
    EXPECT_EQ(again->querySql("BIG_ORDERS"), "SELECT * FROM shop!orderdetails WHERE orderidentifier > 50");
    auto member = qm::xbase::DbfTable::open((dir.path() / "orderdetails.dbf").string());
    EXPECT_EQ(member->header().backlink, "shop.dbc");
    // Short names in the table file stay unique.
    EXPECT_EQ(member->fields()[0].name, "ORDERIDENT");
    EXPECT_EQ(member->fields()[1].name, "ORDERIDEN1");
    auto theirs = qm::xbase::test::readWithDbfread({(dir.path() / "orderdetails.dbf").string()});
    EXPECT_EQ(theirs.at(0).rows.size(), 99u);

    again->dropTable("orderdetails");
    EXPECT_FALSE(again->find("orderdetails").has_value());
    EXPECT_FALSE(fs::exists(dir.path() / "orderdetails.dbf"));
    EXPECT_FALSE(fs::exists(dir.path() / "orderdetails.fpt"));
    again->dropView("big_orders");
    EXPECT_TRUE(again->catalog().empty());
}

TEST(XbaseContainer, MemberDroppedAndMadeAgainInOneBatch)
{
    // Appends of a batch go to the member the name stands for now, not to
    // the table it named before.
    qm::test::TempDir dir;
    const std::string dbc = (dir.path() / "shop.dbc").string();
    qm::xbase::Container::create(dbc);
    auto db = qm::xbase::openContainer(dbc, {});
    const qm::storage::ColumnSpec id{.name = "Identifier", .type = qm::storage::ColumnType::Long};
    const qm::storage::ColumnSpec label{.name = "Label", .type = qm::storage::ColumnType::VarChar, .size = 10};
    qm::storage::TableSpec first;
    first.name = "Items";
    first.columns = {id};
    qm::storage::TableSpec second;
    second.name = "Items";
    second.columns = {label, id};

    db->beginBatch();
    db->createTable(first);
    for (int i = 0; i < 5; ++i)
        db->append("Items", std::vector<Value>{Value::longInt(i)});
    db->dropTable("Items");
    db->createTable(second);
    db->append("Items", std::vector<Value>{Value::string("one"), Value::longInt(1)});
    db->append("Items", std::vector<Value>{Value::string("two"), Value::longInt(2)});
    db->endBatch();

    auto again = qm::xbase::openContainer(dbc, {});
    ASSERT_EQ(again->columns("items").size(), 2u);
    EXPECT_EQ(again->rowCount("items"), 2u);
    auto cur = again->scan("items");
    ASSERT_TRUE(cur->next());
    EXPECT_EQ(cur->value(0).toString(), "one");
    EXPECT_EQ(cur->value(1).toInt64(), 1);
}
