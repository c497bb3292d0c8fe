// The small databases the SQL harness and its seed maker work on: an Access
// .mdb and a FoxPro container, each with two tables of the common column
// types (text, numbers, dates, memo, a key), a few rows and saved queries,
// so that every kind of statement has something to act on.
#pragma once

#include "sql/executor.h"
#include "storage/open.h"
#include "xbase/dbc.h"

#include <filesystem>
#include <string>

namespace qm::fuzz {

// Makes folder/access/scratch.mdb, folder/fox/scratch.dbc (with its tables)
// and the empty folder folder/ext for external targets.  Throws qm::Error.
inline void makeScratchDatabases(const std::filesystem::path& folder)
{
    using CT = storage::ColumnType;
    namespace fs = std::filesystem;
    fs::create_directories(folder / "access");
    fs::create_directories(folder / "fox");
    fs::create_directories(folder / "ext");
    auto d = [](int y, int m, int day) { return Value::date(date::fromParts(y, m, day)); };
    {
        auto db = jet::createDatabase((folder / "access" / "scratch.mdb").string(), jet::NewFileFormat::Jet4Mdb);
        db->createTable({"Customers",
                         {storage::autoNumberColumn("ID"), storage::column("Name", CT::VarChar, 40),
                          storage::column("City", CT::VarChar, 30), storage::column("Since", CT::DateTime),
                          storage::column("Credit", CT::Currency), storage::column("Active", CT::Boolean),
                          storage::column("Rating", CT::Byte), storage::column("Score", CT::Double),
                          storage::column("Share", CT::Decimal, 0, 10, 2), storage::column("Notes", CT::Memo)},
                         {{"PrimaryKey", {"ID"}, true, false}, {"Name", {"Name"}, false, false}}});
        db->createTable({"Order Lines",
                         {storage::column("OrderID", CT::Long), storage::column("CustomerID", CT::Long),
                          storage::column("Qty", CT::Integer), storage::column("Price", CT::Single),
                          storage::column("Placed", CT::DateTime), storage::column("Code", CT::VarChar, 10)},
                         {{"PrimaryKey", {"OrderID", "CustomerID"}, true, false}}});
        db->beginBatch();
        const char* names[] = {"Alder & Sons", "Birch Ltd", "Cedar's Café", "", "Elm"};
        const char* cities[] = {"Bergen", "Lyon", "Dijon", "Lyon", "Köln"};
        for (int i = 0; i < 5; ++i)
            db->append("Customers",
                       std::vector<Value>{Value(), Value::string(names[i]), i == 3 ? Value::null() : Value::string(cities[i]),
                                          d(2001 + i, 1 + i, 3 + i), Value::currency(std::int64_t(1000 + 250 * i) * 10000),
                                          Value::boolean(i % 2 == 0), Value::byte(std::uint8_t(i * 50)),
                                          Value::dbl(0.5 * i - 1), Value::decimal(*Decimal::parse(i ? "12.50" : "-3.25")),
                                          i % 2 ? Value::null() : Value::string("line one\r\nline two")});
        for (int o = 1; o <= 6; ++o)
            db->append("Order Lines",
                       std::vector<Value>{Value::longInt(o), Value::longInt(1 + o % 5), Value::integer(std::int16_t(o * 3)),
                                          Value::single(1.25f * float(o)), d(2016, 11, o),
                                          Value::string(o % 3 ? "A-" + std::to_string(o) : "B")});
        db->endBatch();
        db->createView("Big Customers",
                       "SELECT Customers.Name, [Order Lines].Qty, [Order Lines].Placed FROM Customers INNER JOIN "
                       "[Order Lines] ON Customers.ID = [Order Lines].CustomerID WHERE [Order Lines].Qty > 5 "
                       "ORDER BY Customers.Name");
        db->createView("Totals", "SELECT City, Count(*) AS N, Sum(Credit) AS Total FROM Customers GROUP BY City");
    }
    {
        const std::string dbc = (folder / "fox" / "scratch.dbc").string();
        xbase::Container::create(dbc);
        auto db = storage::openDatabase(dbc);
        db->beginBatch();
        db->createTable({"customers",
                         {storage::column("id", CT::Long), storage::column("name", CT::Char, 30),
                          storage::column("city", CT::VarChar, 20), storage::column("since", CT::Date),
                          storage::column("stamp", CT::DateTime), storage::column("credit", CT::Currency),
                          storage::column("active", CT::Boolean), storage::column("score", CT::Double),
                          storage::column("share", CT::Decimal, 0, 8, 2), storage::column("notes", CT::Memo)},
                         {}});
        db->createTable({"orders",
                         {storage::column("id", CT::Long), storage::column("custid", CT::Long),
                          storage::column("qty", CT::Long), storage::column("price", CT::Float, 0, 10, 3),
                          storage::column("code", CT::Char, 6)},
                         {}});
        const char* names[] = {"Alder & Sons", "Birch Ltd", "Cedar's", "", "Elm"};
        for (int i = 0; i < 5; ++i)
            db->append("customers",
                       std::vector<Value>{Value::longInt(i + 1), Value::string(names[i]), Value::string(i == 3 ? "" : "Lyon"),
                                          d(2001 + i, 1 + i, 3 + i), Value::date(date::fromParts(2016, 11, 3) + 0.25 * i),
                                          Value::currency(std::int64_t(1000 + 250 * i) * 10000), Value::boolean(i % 2 == 0),
                                          Value::dbl(0.5 * i - 1), Value::decimal(*Decimal::parse(i ? "12.50" : "-3.25")),
                                          Value::string(i % 2 ? "" : "line one\r\nline two")});
        for (int o = 1; o <= 6; ++o)
            db->append("orders", std::vector<Value>{Value::longInt(o), Value::longInt(1 + o % 5), Value::longInt(o * 3),
                                                    Value::dbl(1.25 * o), Value::string(o % 3 ? "A" : "B")});
        db->endBatch();
        db->createView("bigcust", "SELECT customers.name, orders.qty FROM scratch!customers INNER JOIN scratch!orders "
                                  "ON customers.id = orders.custid WHERE orders.qty > 5 ORDER BY customers.name");
        // Keys as the transfer writes them.
        sql::Executor keys(*db, sql::Dialect::FoxPro);
        keys.runScript("ALTER TABLE customers ADD PRIMARY KEY id TAG id\nUSE orders\nINDEX ON custid TAG custid");
        db->createView("totals", "SELECT city, COUNT(*) AS n, SUM(credit) AS total FROM customers GROUP BY city");
    }
}

} // namespace qm::fuzz
