// Builds the FoxPro sample data shipped beside the program: a database
// container with a supplier list, a price list and a view, so that both
// sides of the connection window can be tried on a fresh install.
//
//   qm_make_fox_sample OUTPUT_FOLDER
//
// The folder is made under a temporary name and moved into place at the end.
#include "storage/open.h"
#include "xbase/dbc.h"

#include <cstdio>
#include <filesystem>
#include <string>
#include <unistd.h>

using namespace qm;
using CT = storage::ColumnType;
namespace fs = std::filesystem;

namespace {


struct Supplier {
    const char* code;
    const char* name;
    const char* city;
    const char* since;
    bool preferred;
    const char* notes;
};

const Supplier kSuppliers[] = {
    {"EXO", "Exotic Liquids", "London", "1998-04-12", true, "Delivers Tuesdays and Fridays."},
    {"NOR", "Nord-Ost-Fisch Handelsgesellschaft", "Cuxhaven", "2001-09-30", false, ""},
    {"PAV", "Pavlova, Ltd.", "Melbourne", "1999-01-05", true, "Pays within 14 days.\r\nPrefers e-mail."},
    {"GRA", "Grandma Kelly's Homestead", "Ann Arbor", "2003-06-17", false, "Seasonal range only."},
    {"TOK", "Tokyo Traders", "Tokyo", "2005-11-02", true, ""},
    {"COO", "Cooperativa de Quesos 'Las Cabras'", "Oviedo", "2002-03-21", false, "Cheese from goat's milk."},
};

struct Price {
    const char* supplier;
    const char* item;
    const char* price;
    int stock;
    const char* updated;
};

const Price kPrices[] = {
    {"EXO", "Chai", "18.0000", 39, "2016-11-03 09:15:00"},
    {"EXO", "Chang", "19.0000", 17, "2016-11-03 09:15:00"},
    {"NOR", "Nord-Ost Matjeshering", "25.8900", 10, "2016-10-28 14:02:31"},
    {"PAV", "Pavlova", "17.4500", 29, "2016-11-01 08:00:00"},
    {"PAV", "Vegie-spread", "43.9000", 24, "2016-11-01 08:00:00"},
    {"GRA", "Northwoods Cranberry Sauce", "40.0000", 6, "2016-09-14 16:45:10"},
    {"TOK", "Ikura", "31.0000", 31, "2016-11-02 11:30:00"},
    {"COO", "Queso Manchego La Pastora", "38.0000", 86, "2016-10-30 10:10:10"},
};

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: qm_make_fox_sample OUTPUT_FOLDER\n");
        return 2;
    }
    fs::path out = argv[1];
    fs::path work = out;
    work += ".tmp" + std::to_string(::getpid());
    try {
        fs::remove_all(work);
        fs::create_directories(work);
        std::string dbc = (work / "sample.dbc").string();
        xbase::Container::create(dbc);
        auto db = storage::openDatabase(dbc);
        db->beginBatch();
        db->createTable({"suppliers",
                         {storage::column("code", CT::Char, 3), storage::column("company", CT::Char, 40), storage::column("city", CT::Char, 20),
                          storage::column("since", CT::Date), storage::column("preferred", CT::Boolean), storage::column("notes", CT::Memo)},
                         {}});
        for (const auto& s : kSuppliers) {
            Value row[] = {Value::string(s.code), Value::string(s.name), Value::string(s.city),
                           Value::date(*date::parse(s.since)), Value::boolean(s.preferred), Value::string(s.notes)};
            db->append("suppliers", row);
        }
        db->createTable({"pricelist",
                         {storage::column("supplier", CT::Char, 3), storage::column("item", CT::Char, 40), storage::column("price", CT::Currency),
                          storage::column("instock", CT::Long), storage::column("updated", CT::DateTime)},
                         {}});
        for (const auto& p : kPrices) {
            Value row[] = {Value::string(p.supplier), Value::string(p.item),
                           Value::currency(Value::string(p.price).toCurrency()), Value::longInt(p.stock),
                           Value::date(*date::parse(p.updated))};
            db->append("pricelist", row);
        }
        db->endBatch();
        db->createView("preferred_prices",
                       "SELECT Suppliers.company, Pricelist.item, Pricelist.price FROM sample!suppliers INNER JOIN "
                       "sample!pricelist ON Suppliers.code = Pricelist.supplier WHERE Suppliers.preferred = .T.");
        db.reset();
        fs::remove_all(out);
        fs::rename(work, out);
    } catch (const std::exception& e) {
        std::error_code ec;
        fs::remove_all(work, ec);
        std::fprintf(stderr, "qm_make_fox_sample: %s\n", e.what());
        return 1;
    }
    return 0;
}
