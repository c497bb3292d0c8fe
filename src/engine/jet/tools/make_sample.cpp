// Builds the sample database the program offers ("Load Sample/Example
// Database"): a small trading company's customers, products, orders and
// order lines, with every common column type and a saved query.
//
//   qm_make_sample OUTPUT.mdb
//
// The file is made under a temporary name and moved over OUTPUT at the end.
#include "storage/open.h"

#include <cstdio>
#include <unistd.h>
#include <filesystem>
#include <string>
#include <vector>

using namespace qm;
using CT = storage::ColumnType;
namespace fs = std::filesystem;

namespace {


// A small deterministic generator: the same file on every build.
struct Dice {
    std::uint32_t s = 20161103;
    std::uint32_t next() {
        s ^= s << 13;
        s ^= s >> 17;
        s ^= s << 5;
        return s;
    }
    int upTo(int n) { return int(next() % std::uint32_t(n)); }
};

const char* kCompanies[] = {"Alfreds Handelshaus", "Bergström Trading", "Café Lumière", "Dunmore Hardware",
                            "Esperanza Importaciones", "Fjordline Fisk AS", "Grüner Markt", "Harbour Lights Ltd",
                            "Istanbul Baharat", "Jade Garden Foods", "Kowalski i Syn", "La Maison du Fromage",
                            "Mercado Central", "Nordic Timber Oy", "Olive Grove Co-op", "Papyrus Stationers",
                            "Quayside Chandlery", "Rheinblick Weine", "Sakura Tea House", "Tavernier & Fils",
                            "Umbria Oli", "Vanderbilt Supplies", "Wellington Wool", "Xanadu Spices",
                            "Yorkshire Preserves", "Zürcher Backwaren"};
const char* kCities[][2] = {{"Berlin", "Germany"}, {"Göteborg", "Sweden"}, {"Lyon", "France"},
                            {"Dublin", "Ireland"}, {"Sevilla", "Spain"},   {"Bergen", "Norway"},
                            {"München", "Germany"}, {"Bristol", "UK"},     {"Århus", "Denmark"},
                            {"Singapore", "Singapore"}, {"Kraków", "Poland"}, {"Dijon", "France"}};
const char* kContacts[] = {"Maria Anders", "Ana Trujillo", "Thomas Hardy", "Christina Berglund", "Hanna Moos",
                           "Frédérique Citeaux", "Martín Sommer", "Laurence Lebihan", "Elizabeth Lincoln",
                           "Victoria Ashworth", "Patricio Simpson", "Yoshi Tannamuri", "Zbyszek Piestrzeniewicz"};
struct Product {
    const char* name;
    const char* category;
    std::int64_t price; // in ten-thousandths
};
const Product kProducts[] = {
    {"Darjeeling Tea, 500 g", "Beverages", 189000},  {"Espresso Beans, 1 kg", "Beverages", 245000},
    {"Aged Gouda", "Dairy", 321000},                 {"Brie de Meaux", "Dairy", 198500},
    {"Olive Oil, extra virgin 1 l", "Condiments", 149900}, {"Smoked Paprika", "Condiments", 45000},
    {"Rye Bread", "Bakery", 38000},                  {"Butter Croissants (6)", "Bakery", 52500},
    {"Wild Salmon Fillet", "Seafood", 429000},       {"Pickled Herring", "Seafood", 87500},
    {"Basmati Rice, 5 kg", "Grains", 199000},        {"Durum Pasta", "Grains", 27500},
    {"Dark Chocolate 70 %", "Confections", 34900},   {"Marzipan Loaf", "Confections", 61000},
    {"Maple Syrup", "Condiments", 129000},           {"Riesling Kabinett", "Beverages", 159000}};

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: qm_make_sample OUTPUT.mdb\n");
        return 2;
    }
    const fs::path out = argv[1];
    const fs::path temp = out.parent_path() / (".sample-" + std::to_string(::getpid()) + ".mdb");
    try {
        fs::create_directories(out.parent_path());
        fs::remove(temp);
        Dice dice;
        {
            auto db = qm::jet::createDatabase(temp.string(), qm::jet::NewFileFormat::Jet4Mdb);
            db->createTable({"Customers",
                             {storage::autoNumberColumn("CustomerID"), storage::column("Company", CT::VarChar, 60),
                              storage::column("Contact", CT::VarChar, 40), storage::column("City", CT::VarChar, 30),
                              storage::column("Country", CT::VarChar, 30), storage::column("Phone", CT::VarChar, 24),
                              storage::column("CustomerSince", CT::DateTime), storage::column("CreditLimit", CT::Currency),
                              storage::column("Active", CT::Boolean), storage::column("Notes", CT::Memo)},
                             {{"PrimaryKey", {"CustomerID"}, true, false}, {"Company", {"Company"}, false, false}}});
            db->createTable({"Products",
                             {storage::autoNumberColumn("ProductID"), storage::column("ProductName", CT::VarChar, 50),
                              storage::column("Category", CT::VarChar, 30), storage::column("UnitPrice", CT::Currency),
                              storage::column("UnitsInStock", CT::Integer), storage::column("WeightKg", CT::Double),
                              storage::column("Discontinued", CT::Boolean), storage::column("VatRate", CT::Decimal, 0, 5, 2),
                              storage::column("SKU", CT::Guid)},
                             {{"PrimaryKey", {"ProductID"}, true, false},
                              {"ProductName", {"ProductName"}, false, true}}});
            db->createTable({"Orders",
                             {storage::autoNumberColumn("OrderID"), storage::column("CustomerID", CT::Long),
                              storage::column("OrderDate", CT::DateTime), storage::column("ShippedDate", CT::DateTime),
                              storage::column("Freight", CT::Currency), storage::column("ShipCity", CT::VarChar, 30),
                              storage::column("Priority", CT::Byte), storage::column("Comment", CT::Memo)},
                             {{"PrimaryKey", {"OrderID"}, true, false}, {"CustomerID", {"CustomerID"}, false, false}}});
            db->createTable({"Order Details",
                             {storage::column("OrderID", CT::Long), storage::column("ProductID", CT::Long), storage::column("Quantity", CT::Integer),
                              storage::column("UnitPrice", CT::Currency), storage::column("Discount", CT::Single)},
                             {{"PrimaryKey", {"OrderID", "ProductID"}, true, false}}});
            db->beginBatch();
            const int customers = int(sizeof kCompanies / sizeof *kCompanies);
            for (int i = 0; i < customers; ++i) {
                const auto& city = kCities[i % 12];
                db->append("Customers",
                           std::vector<Value>{Value(), Value::string(kCompanies[i]),
                                              Value::string(kContacts[i % 13]), Value::string(city[0]),
                                              Value::string(city[1]),
                                              Value::string("+" + std::to_string(30 + i) + " " +
                                                            std::to_string(100000 + dice.upTo(899999))),
                                              Value::date(date::fromParts(2005 + i % 15, 1 + i % 12, 1 + i % 28)),
                                              Value::currency(std::int64_t(1000 + dice.upTo(20) * 500) * 10000),
                                              Value::boolean(i % 7 != 3),
                                              i % 4 == 0 ? Value::string("Prefers delivery before noon. Invoices "
                                                                         "by e-mail; payment within 30 days.")
                                                         : Value::null()});
            }
            int n = 0;
            for (const Product& p : kProducts) {
                Guid g;
                for (int k = 0; k < 16; ++k) g.bytes[k] = std::uint8_t(dice.next());
                db->append("Products",
                           std::vector<Value>{Value(), Value::string(p.name), Value::string(p.category),
                                              Value::currency(p.price), Value::integer(std::int16_t(dice.upTo(400))),
                                              Value::dbl(0.25 * (1 + dice.upTo(20))), Value::boolean(++n % 9 == 0),
                                              Value::decimal(*Decimal::parse(n % 3 ? "7.00" : "19.00")),
                                              Value::guid(g)});
            }
            const int products = int(sizeof kProducts / sizeof *kProducts);
            for (int o = 1; o <= 120; ++o) {
                const int customer = 1 + dice.upTo(customers);
                const double ordered = date::fromParts(2023, 1, 2) + o * 2.7 + 0.375;
                db->append("Orders",
                           std::vector<Value>{Value(), Value::longInt(customer), Value::date(ordered),
                                              o > 110 ? Value::null() : Value::date(ordered + 1 + dice.upTo(6)),
                                              Value::currency(std::int64_t(dice.upTo(9000)) * 100),
                                              Value::string(kCities[customer % 12][0]),
                                              Value::byte(std::uint8_t(1 + dice.upTo(3))),
                                              o % 10 == 0 ? Value::string("Call before delivery.") : Value::null()});
                const int lines = 1 + dice.upTo(4);
                const int first = dice.upTo(products);
                for (int l = 0; l < lines; ++l) {
                    const int product = 1 + (first + l * 5) % products;
                    db->append("Order Details",
                               std::vector<Value>{Value::longInt(o), Value::longInt(product),
                                                  Value::integer(std::int16_t(1 + dice.upTo(40))),
                                                  Value::currency(kProducts[product - 1].price),
                                                  Value::single(l == 0 ? 0.0f : 0.05f * float(dice.upTo(3)))});
                }
            }
            db->endBatch();
            db->createView("Orders by Customer",
                           "SELECT Customers.Company, Orders.OrderID, Orders.OrderDate, Orders.Freight "
                           "FROM Customers INNER JOIN Orders ON Customers.CustomerID = Orders.CustomerID "
                           "ORDER BY Customers.Company, Orders.OrderDate");
            db->createView("Products to Reorder",
                           "SELECT ProductName, UnitsInStock FROM Products WHERE UnitsInStock < 50 AND "
                           "Discontinued = False ORDER BY UnitsInStock");
        }
        fs::rename(temp, out);
    } catch (const std::exception& e) {
        std::error_code ec;
        fs::remove(temp, ec);
        std::fprintf(stderr, "qm_make_sample: %s\n", e.what());
        return 1;
    }
    return 0;
}
