// Every Access fixture read by the engine and by mdbtools side by side:
// the same user tables, columns, row counts and values.  Where mdbtools
// cannot show a value (types it does not know, dates before 1900, the
// calculated-column wrapper, complex columns) the comparison says so by name
// and skips just that value.
#include "jet_test_util.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <set>
#include <sstream>

using namespace qm;
using qm::jet::test::accessFixtures;
using qm::jet::test::truthString;
using qm::jet::test::truthText;

namespace {

// Separators no fixture's text contains (one holds every byte value).
const std::string kFieldSep = "<\x1f|\x1f>";
const std::string kRowSep = "<\x1e#\x1e>";
const std::string kNull = "<\x01NULL>";

std::vector<std::string> split(const std::string& s, const std::string& sep) {
    std::vector<std::string> out;
    std::size_t from = 0;
    for (;;) {
        const auto at = s.find(sep, from);
        if (at == std::string::npos) {
            out.push_back(s.substr(from));
            return out;
        }
        out.push_back(s.substr(from, at - from));
        from = at + sep.size();
    }
}

// mdbtools writes each UTF-16 code unit of a character outside the Basic
// Multilingual Plane as '?'.
std::string asMdbtoolsShowsIt(const std::string& utf8) {
    std::string out;
    for (std::size_t k = 0; k < utf8.size(); ++k) {
        if ((static_cast<unsigned char>(utf8[k]) & 0xF8) == 0xF0) {
            out += "??";
            k += 3;
        } else {
            out.push_back(utf8[k]);
        }
    }
    return out;
}

std::string upper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    return s;
}

std::string trimDecimal(std::string s) {
    if (s.find('.') != std::string::npos) {
        while (!s.empty() && s.back() == '0') s.pop_back();
        if (!s.empty() && s.back() == '.') s.pop_back();
    }
    if (s == "-0") s = "0";
    return s;
}

__extension__ typedef __int128 I128;

std::string scaledToText(I128 v, int scale) {
    bool neg = v < 0;
    if (neg) v = -v;
    std::string digits;
    do {
        digits.insert(digits.begin(), char('0' + int(v % 10)));
        v /= 10;
    } while (v != 0);
    while (int(digits.size()) <= scale) digits.insert(digits.begin(), '0');
    std::string out = digits.substr(0, digits.size() - std::size_t(scale));
    if (scale > 0) out += "." + digits.substr(digits.size() - std::size_t(scale));
    return (neg ? "-" : "") + trimDecimal(out);
}

// Why mdbtools' text for this column cannot be compared, or "" when it can.
std::string mdbtoolsBlindSpot(const storage::ColumnDef& c) {
    using storage::ColumnType;
    if (c.nativeType.rfind("Calculated", 0) == 0) return "mdbtools does not unwrap calculated columns";
    if (c.complex != storage::ComplexKind::None)
        return "mdbtools prints the hidden key of complex columns; the engine gives the entries (complex_test)";
    switch (c.type) {
    case ColumnType::Complex: return "mdbtools prints the hidden key of complex columns; the engine gives Null";
    case ColumnType::BigInt: return "mdbtools 1.0 does not know Large Number columns";
    case ColumnType::DateTimeExt: return "mdbtools 1.0 does not know Date/Time Extended columns";
    case ColumnType::Unknown: return "the column's type code is unknown to both readers";
    default: return {};
    }
}

// Compares one value with mdbtools' text; returns "" when they agree.
std::string compareValue(const storage::ColumnDef& c, const Value& v, const std::string& theirs) {
    if (v.isNull()) return theirs == kNull ? "" : "engine Null, mdbtools '" + theirs + "'";
    if (theirs == kNull) {
        // mdbtools prints a zero-length text or binary value like Null.
        if ((v.type() == VarType::String || v.type() == VarType::Binary) && v.rawString().empty()) return "";
        return "mdbtools Null, engine has a value";
    }
    std::string ours;
    switch (v.type()) {
    case VarType::Boolean: ours = v.rawInt() ? "1" : "0"; break;
    case VarType::Byte:
    case VarType::Integer:
    case VarType::Long:
    case VarType::BigInt: ours = std::to_string(v.rawInt()); break;
    case VarType::Currency: ours = scaledToText(v.rawInt(), 4); return ours == trimDecimal(theirs) ? "" : "engine " + ours;
    case VarType::Decimal:
        ours = scaledToText(v.rawDecimal().mantissa, v.rawDecimal().scale);
        return ours == trimDecimal(theirs) ? "" : "engine " + ours;
    case VarType::Single:
    case VarType::Double: {
        const double a = v.rawDouble();
        const double b = std::strtod(theirs.c_str(), nullptr);
        const double tol = (v.type() == VarType::Single ? 1e-6 : 1e-12) * std::max(1.0, std::fabs(a));
        if (std::isnan(a) && std::isnan(b)) return "";
        return std::fabs(a - b) <= tol ? "" : "engine " + std::to_string(a);
    }
    case VarType::Date: {
        if (v.rawDouble() < 2.0) return ""; // mdbtools cannot print dates before 1900-01-01
        ours = qm::jet::test::isoDate(v.rawDouble());
        if (ours == theirs) return "";
        // Both round to the second, possibly in different directions.
        return std::fabs(v.rawDouble() - 0) >= 0 && ours.substr(0, 17) == theirs.substr(0, 17) ? ""
                                                                                                 : "engine " + ours;
    }
    case VarType::String: ours = asMdbtoolsShowsIt(v.rawString()); break;
    case VarType::Binary: return upper(theirs) == qm::test::hex(v.rawString()) ? "" : "engine " + qm::test::hex(v.rawString()).substr(0, 80);
    case VarType::Guid: ours = v.rawGuid().toString(); return upper(theirs) == ours ? "" : "engine " + ours;
    default: ours = "?"; break;
    }
    (void)c;
    return ours == theirs ? "" : "engine '" + ours + "'";
}

class MdbtoolsAgreement : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        QM_REQUIRE_SHARED();
        QM_REQUIRE_PROGRAM("mdb-export");
        rel_ = GetParam();
        path_ = qm::test::fixture(rel_).string();
        truth_ = truthText(rel_);
        if (truth_.find("\"reader_failed\"") != std::string::npos)
            GTEST_SKIP() << rel_ << ": the truth file marks it unreadable by mdbtools (encrypted .accdb)";
        storage::OpenOptions o;
        o.password = truthString(truth_, "password");
        db_ = qm::jet::openDatabase(path_, o);
    }

    std::vector<std::string> ourTables() {
        std::vector<std::string> out;
        for (const auto& e : db_->catalog())
            if (e.kind == storage::ObjectKind::Table) out.push_back(e.name);
        return out;
    }

    std::string rel_, path_, truth_;
    std::unique_ptr<storage::Database> db_;
};

TEST_P(MdbtoolsAgreement, SameUserTables) {
    auto r = qm::test::run({"mdb-tables", "-1", path_});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::set<std::string> theirs;
    std::istringstream in(r.out);
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) theirs.insert(line);
    auto mine = ourTables();
    EXPECT_EQ(std::set<std::string>(mine.begin(), mine.end()), theirs);
}

TEST_P(MdbtoolsAgreement, SameColumnsRowsAndValues) {
    for (const std::string& table : ourTables()) {
        SCOPED_TRACE(rel_ + " table " + table);
        auto r = qm::test::run({"mdb-export", "-d", kFieldSep, "-R", kRowSep, "-Q",
                                "-0", kNull, "-b", "hex", "-T", "%Y-%m-%d %H:%M:%S", path_, table});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        std::vector<std::string> rows = split(r.out, kRowSep);
        ASSERT_FALSE(rows.empty());
        if (rows.back().empty()) rows.pop_back();
        const std::vector<std::string> header = split(rows.front(), kFieldSep);

        auto cursor = db_->scan(table);
        const auto& cols = cursor->columns();
        ASSERT_EQ(cols.size(), header.size());
        for (std::size_t i = 0; i < cols.size(); ++i) EXPECT_EQ(cols[i].name, header[i]) << "column " << i;

        // Rows are compared in stored order; mdbtools walks moved (overflow)
        // rows in another order, so a row that differs from its positional
        // partner is matched against any mdbtools row not yet used.
        std::vector<std::vector<std::string>> theirRows;
        for (std::size_t k = 1; k < rows.size(); ++k) theirRows.push_back(split(rows[k], kFieldSep));
        std::vector<bool> used(theirRows.size(), false);
        auto differences = [&](const std::vector<std::string>& fields) {
            std::vector<std::string> out;
            if (fields.size() != cols.size()) {
                out.push_back("mdbtools row has " + std::to_string(fields.size()) + " fields");
                return out;
            }
            for (std::size_t i = 0; i < cols.size(); ++i) {
                if (!mdbtoolsBlindSpot(cols[i]).empty()) continue;
                const std::string diff = compareValue(cols[i], cursor->value(i), fields[i]);
                if (!diff.empty()) out.push_back("column " + cols[i].name + ": " + diff + ", mdbtools '" + fields[i] + "'");
            }
            return out;
        };
        std::size_t n = 0;
        while (cursor->next()) {
            const std::size_t pos = n++;
            std::vector<std::string> diffs;
            if (pos < theirRows.size() && !used[pos]) {
                diffs = differences(theirRows[pos]);
                if (diffs.empty()) {
                    used[pos] = true;
                    continue;
                }
            }
            bool matched = false;
            for (std::size_t k = 0; k < theirRows.size() && !matched; ++k)
                if (!used[k] && differences(theirRows[k]).empty()) used[k] = matched = true;
            if (!matched) ADD_FAILURE() << "engine row " << pos << " has no equal mdbtools row; "
                                        << (diffs.empty() ? std::string("(positional row already used)") : diffs.front());
        }
        EXPECT_EQ(n, rows.size() - 1) << "row count";
        EXPECT_EQ(db_->rowCount(table), n);
    }
}

// Column types against mdb-schema's names.
TEST_P(MdbtoolsAgreement, SameColumnTypes) {
    auto r = qm::test::run({"mdb-schema", path_});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    // Collect "[table]" -> list of (column, type text) from the DDL.
    std::map<std::string, std::vector<std::pair<std::string, std::string>>> schema;
    std::istringstream in(r.out);
    std::string current;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("CREATE TABLE [", 0) == 0) {
            current = line.substr(14, line.rfind(']') - 14);
            continue;
        }
        if (current.empty() || line.size() < 2 || line[0] != '\t' || line[1] != '[') continue;
        const auto close = line.find(']');
        std::string type = line.substr(close + 1);
        type.erase(0, type.find_first_not_of('\t'));
        while (!type.empty() && (type.back() == ',' || type.back() == ' ')) type.pop_back();
        if (auto at = type.find(" NOT NULL"); at != std::string::npos) type.erase(at);
        // mdb-schema adds a size to memo and OLE columns; only Text's is real.
        if (type.rfind("Text", 0) != 0 && type.rfind("Numeric", 0) != 0)
            if (auto at = type.find(" ("); at != std::string::npos) type.erase(at);
        schema[current].emplace_back(line.substr(2, close - 2), type);
    }
    const std::map<std::string, std::string> expected = {
        {"Boolean", "Yes/No"},   {"Byte", "Byte"},          {"Integer", "Integer"},
        {"Long Integer", "Long Integer"}, {"Currency", "Currency"}, {"Single", "Single"},
        {"Double", "Double"},    {"DateTime", "Date/Time"}, {"Memo/Hyperlink", "Memo"},
        {"OLE", "OLE Object"},   {"Replication ID", "Replication ID"},
    };
    for (const std::string& table : ourTables()) {
        SCOPED_TRACE(rel_ + " table " + table);
        const auto cols = db_->columns(table);
        const auto& theirs = schema[table];
        ASSERT_EQ(theirs.size(), cols.size());
        for (std::size_t i = 0; i < cols.size(); ++i) {
            const auto& c = cols[i];
            const std::string& t = theirs[i].second;
            EXPECT_EQ(c.name, theirs[i].first);
            if (!mdbtoolsBlindSpot(c).empty()) continue;
            if (t.rfind("Text (", 0) == 0) {
                EXPECT_EQ(c.nativeType, "Text(" + t.substr(6, t.size() - 7) + ")") << c.name;
                EXPECT_EQ(c.adoType, c.type == storage::ColumnType::Char ? 130 : 202);
                EXPECT_EQ(c.definedSize, std::stoi(t.substr(6)));
            } else if (t.rfind("Numeric (", 0) == 0) {
                // mdb-schema prints "Numeric (p, s)".
                const int p = std::stoi(t.substr(9));
                const int s = std::stoi(t.substr(t.find(',') + 1));
                EXPECT_EQ(c.nativeType, "Decimal(" + std::to_string(p) + "," + std::to_string(s) + ")") << c.name;
                EXPECT_EQ(c.adoType, 131);
            } else if (t.rfind("Binary", 0) == 0) {
                EXPECT_EQ(c.type, storage::ColumnType::Binary) << c.name;
            } else if (c.autoIncrement && c.type == storage::ColumnType::Long) {
                EXPECT_EQ(t, "Long Integer") << c.name;
                EXPECT_EQ(c.nativeType, "AutoNumber");
            } else if (t.rfind("Memo/Hyperlink", 0) == 0) {
                EXPECT_TRUE(c.nativeType == "Memo" || c.nativeType == "Hyperlink") << c.name;
                EXPECT_EQ(c.adoType, 203);
            } else {
                auto it = expected.find(t);
                ASSERT_NE(it, expected.end()) << "mdb-schema type '" << t << "' for " << c.name;
                EXPECT_EQ(c.nativeType.rfind(it->second, 0), 0u)
                    << c.name << ": engine " << c.nativeType << ", mdb-schema " << t;
            }
        }
    }
}

std::string paramName(const ::testing::TestParamInfo<std::string>& info) {
    std::string s;
    for (char c : info.param.substr(7))
        s.push_back(std::isalnum(static_cast<unsigned char>(c)) ? c : '_');
    return s;
}

} // namespace

INSTANTIATE_TEST_SUITE_P(Fixtures, MdbtoolsAgreement, ::testing::ValuesIn(accessFixtures()), paramName);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(MdbtoolsAgreement);
