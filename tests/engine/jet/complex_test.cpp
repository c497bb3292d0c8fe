// Attachment, multi-value and version-history columns, read through their
// hidden tables and compared with mdb-reader (attachments) and with mdbtools'
// export of the hidden tables themselves (multi-values, histories).
#include "jet/complex_column.h"
#include "jet/create_database.h"
#include "jet/database.h"
#include "jet_test_util.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <map>
#include <sstream>

using namespace qm;
using namespace qm::jet;

namespace {

struct ComplexFixture {
    const char* file;
    const char* table;
};

const ComplexFixture kFixtures[] = {
    {"access/jackcess/V2007/complexDataTestV2007.accdb", "Table1"},
    {"access/ucanaccess/complex.accdb", "t_complex"},
    {"access/mdb-reader/data/V2016/attachments.accdb", "Table1"},
};

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

std::vector<std::string> split(const std::string& s, char sep) {
    std::vector<std::string> out(1);
    for (char c : s) {
        if (c == sep)
            out.emplace_back();
        else
            out.back().push_back(c);
    }
    return out;
}

std::string jsonText(const std::string& s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

// Whether bytes are what a file of that type starts with.
bool looksLike(const std::string& type, const std::string& bytes) {
    if (type == "txt")
        return std::all_of(bytes.begin(), bytes.end(),
                           [](char c) { return (c >= 0x20 && c < 0x7f) || c == '\n' || c == '\r' || c == '\t'; });
    if (type == "png") return bytes.rfind("\x89PNG\r\n\x1a\n", 0) == 0;
    if (type == "thmx" || type == "docx" || type == "xlsx" || type == "zip") return bytes.rfind("PK\x03\x04", 0) == 0;
    return false; // a type this test does not know: add it
}

} // namespace

// Every attachment's name, type and bytes as mdb-reader reads them, and the
// bytes are what their type says (text is text, a theme is a zip archive).
TEST(ComplexColumns, AttachmentsMatchMdbReader) {
    QM_REQUIRE_SHARED();
    QM_REQUIRE_PROGRAM("node");
    if (!std::filesystem::exists(std::filesystem::path(QM_NODE_CHECKERS) / "node_modules/mdb-reader"))
        GTEST_SKIP() << "mdb-reader is not installed in " << QM_NODE_CHECKERS << " (tools/install-deps.sh)";
    struct Case {
        const char* file;
        const char* table;
        const char* column;
        std::size_t attachments;
    } cases[] = {
        {"access/jackcess/V2007/complexDataTestV2007.accdb", "Table1", "attach-data", 3},
        {"access/ucanaccess/complex.accdb", "t_complex", "attach-data", 3},
        {"access/mdb-reader/data/V2016/attachments.accdb", "Table1", "Attachments", 4},
        {"access/jackcess/V2007/complexDataTestV2007.accdb", "MSysResources", "Data", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.file) + " " + c.table);
        const auto path = qm::test::fixture(c.file);
        auto theirs = qm::test::run({"node", QM_ATTACHMENTS_SCRIPT, QM_NODE_CHECKERS, path.string(), c.table, c.column});
        ASSERT_EQ(theirs.exitCode, 0) << theirs.err;

        JetDatabase db(path.string(), storage::OpenOptions{});
        auto cursor = db.scan(c.table);
        std::size_t column = 0;
        while (cursor->columns()[column].name != c.column) ++column;
        EXPECT_EQ(cursor->columns()[column].complex, storage::ComplexKind::Attachment);
        std::vector<std::string> ours;
        std::vector<storage::ComplexItem> items;
        std::size_t count = 0;
        while (cursor->next()) {
            ASSERT_TRUE(cursor->complexItems(column, items));
            std::string line = "[", names;
            for (const auto& item : items) {
                if (line.size() > 1) line += ',', names += "; ";
                line += "{\"name\":" + jsonText(item.value.rawString()) + ",\"type\":" + jsonText(item.fileType) +
                        ",\"data\":\"" + qm::test::hex(item.fileData, true) + "\"}";
                names += item.value.rawString();
                EXPECT_TRUE(looksLike(item.fileType, item.fileData)) << item.value.rawString();
                ++count;
            }
            ours.push_back(line + "]");
            // The field's value is the file names, as a datasheet shows them.
            const Value& v = cursor->value(column);
            EXPECT_EQ(v.isNull() ? std::string() : std::string(v.rawString()), names);
        }
        EXPECT_EQ(ours, lines(theirs.out));
        EXPECT_EQ(count, c.attachments);
    }
}

// Multi-values and version histories: each row's entries are the rows of
// the hidden table with the row's key, in the order of their AutoNumber, as
// mdb-export reads that table.
TEST(ComplexColumns, MultiValuesAndHistoriesMatchTheHiddenTablesAsMdbtoolsReadsThem) {
    QM_REQUIRE_SHARED();
    QM_REQUIRE_PROGRAM("mdb-export");
    for (const auto& f : kFixtures) {
        SCOPED_TRACE(f.file);
        const auto path = qm::test::fixture(f.file);
        JetDatabase db(path.string(), storage::OpenOptions{});
        auto def = db.tableDef(f.table);
        const auto columns = db.columns(f.table);
        for (std::size_t i = 0; i < columns.size(); ++i) {
            const auto kind = columns[i].complex;
            if (kind != storage::ComplexKind::MultiValue && kind != storage::ComplexKind::VersionHistory) continue;
            SCOPED_TRACE(columns[i].name);
            EXPECT_EQ(columns[i].adoType, 203); // a memo's type: what a transfer carries as text
            const std::string& flat = def->columns[i].complexFlatName;
            auto exported = qm::test::run({"mdb-export", "-d", "\t", "-Q", "-e", path.string(), flat});
            ASSERT_EQ(exported.exitCode, 0) << exported.err;
            auto rows = lines(exported.out);
            ASSERT_FALSE(rows.empty());
            const auto header = split(rows[0], '\t');
            int key = -1, order = -1, text = -1;
            for (std::size_t k = 0; k < header.size(); ++k) {
                if (header[k] == "_" + columns[i].name) key = int(k);
                else if (header[k].ends_with("_" + columns[i].name)) order = int(k); // <table>_<column>
                else if (header[k] == "Value" || header[k] == "append-memo-data") text = int(k);
            }
            ASSERT_TRUE(key >= 0 && order >= 0 && text >= 0) << rows[0];
            std::map<long, std::map<long, std::string>> expected; // key -> AutoNumber -> text
            for (std::size_t r = 1; r < rows.size(); ++r) {
                auto cells = split(rows[r], '\t');
                expected[std::stol(cells[key])][std::stol(cells[order])] = cells[text];
            }

            auto cursor = db.scan(f.table);
            std::size_t keyColumn = i;
            std::vector<bool> wanted(columns.size(), true);
            std::size_t seen = 0;
            // The keys come from the user rows: read them as mdbtools does.
            auto user = qm::test::run({"mdb-export", "-d", "\t", "-Q", path.string(), f.table});
            auto userRows = lines(user.out);
            std::vector<storage::ComplexItem> items;
            for (std::size_t r = 1; cursor->next(); ++r) {
                ASSERT_LT(r, userRows.size());
                const long rowKey = std::stol(split(userRows[r], '\t')[keyColumn]);
                std::vector<std::string> want;
                for (const auto& [n, t] : expected[rowKey]) want.push_back(t);
                ASSERT_TRUE(cursor->complexItems(i, items));
                std::vector<std::string> got;
                for (const auto& item : items) got.push_back(item.value.toString());
                EXPECT_EQ(got, want) << "row " << r;
                seen += got.size();

                std::string shown;
                if (kind == storage::ComplexKind::MultiValue) {
                    for (std::size_t k = 0; k < want.size(); ++k) shown += (k ? "; " : "") + want[k];
                } else if (!want.empty()) {
                    shown = want.back(); // the current text
                    EXPECT_EQ(items.back().modified.type(), VarType::Date);
                }
                const Value& v = cursor->value(i);
                EXPECT_EQ(v.isNull() ? std::string() : v.toString(), shown) << "row " << r;
            }
            EXPECT_EQ(seen, rows.size() - 1) << "every entry of the hidden table belongs to a row";
        }
    }
}

// The history's current text is what the append-only memo itself holds.
TEST(ComplexColumns, VersionHistoryEndsWithTheMemosText) {
    QM_REQUIRE_SHARED();
    JetDatabase db(qm::test::fixture("access/ucanaccess/complex.accdb").string(), storage::OpenOptions{});
    auto cursor = db.scan("t_complex");
    std::size_t history = 1, memo = 3;
    ASSERT_EQ(cursor->columns()[history].complex, storage::ComplexKind::VersionHistory);
    ASSERT_EQ(cursor->columns()[memo].name, "append-memo-data");
    std::size_t rows = 0;
    while (cursor->next()) {
        ++rows;
        EXPECT_EQ(cursor->value(history).isNull() ? "" : cursor->value(history).toString(),
                  cursor->value(memo).isNull() ? "" : cursor->value(memo).toString());
    }
    EXPECT_EQ(rows, 6u);
}

namespace {

std::string wrap(std::uint32_t flag, std::uint32_t length, const std::string& body) {
    std::string w(8, '\0');
    for (int k = 0; k < 4; ++k) w[k] = char(flag >> (8 * k)), w[4 + k] = char(length >> (8 * k));
    return w + body;
}

std::string deflated(const std::string& plain) {
    uLongf n = compressBound(uLong(plain.size()));
    std::string out(n, '\0');
    EXPECT_EQ(compress(reinterpret_cast<Bytef*>(out.data()), &n, reinterpret_cast<const Bytef*>(plain.data()),
                       uLong(plain.size())),
              Z_OK);
    out.resize(n);
    return out;
}

void expectRefused(const std::string& wrapped, const std::string& mentions) {
    std::string out;
    try {
        unwrapAttachment(wrapped, out, "db.accdb: table T, row 3 of page 9, column Files");
        ADD_FAILURE() << "accepted; expected an error mentioning " << mentions;
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("table T, row 3 of page 9, column Files"), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find(mentions), std::string::npos) << e.what();
    }
}

} // namespace

TEST(AttachmentData, PlainAndDeflatedUnwrapAndDamageIsNamed) {
    // Content: header length 12, 8 more header bytes, then the file.
    const std::string content = std::string("\x0c\0\0\0\x01\0\0\0txt\0", 12) + "the file";
    std::string out;
    unwrapAttachment(wrap(0, std::uint32_t(content.size()), content), out, "x");
    EXPECT_EQ(out, "the file");
    unwrapAttachment(wrap(1, std::uint32_t(content.size()), deflated(content)), out, "x");
    EXPECT_EQ(out, "the file");
    unwrapAttachment("", out, "x");
    EXPECT_EQ(out, "");

    expectRefused(std::string("\x01\0\0", 3), "cut short (3 bytes: 01 00 00)");
    expectRefused(wrap(7, 4, "abcd"), "unknown mark 07 00 00 00");
    expectRefused(wrap(1, std::uint32_t(content.size()), "not deflate at all"), "not a valid deflate stream");
    expectRefused(wrap(1, 5, deflated(content)), "more than the 5 bytes");
    expectRefused(wrap(1, 100, deflated(content)), "unpacks to 20 bytes instead of 100");
    expectRefused(wrap(1, 4000000000u, deflated(content)), "claims 4000000000 bytes");
    expectRefused(wrap(0, 30, content), "claims 30 bytes but holds 20");
    expectRefused(wrap(0, 4, std::string("\x09\0\0\0", 4)), "header does not fit");
}

// Changing another field of a row keeps its link to its entries.
TEST(ComplexColumns, UpdatingARowKeepsItsEntries) {
    QM_REQUIRE_SHARED();
    qm::test::TempDir dir;
    const auto copy = dir / "complex.accdb";
    std::filesystem::copy_file(qm::test::fixture("access/ucanaccess/complex.accdb"), copy);
    {
        auto db = jet::openReadWrite(copy.string(), storage::OpenOptions{});
        std::vector<std::pair<std::uint64_t, std::vector<Value>>> rows;
        {
            auto cursor = db->scan("t_complex");
            while (cursor->next()) {
                std::vector<Value> row;
                for (std::size_t i = 0; i < cursor->columns().size(); ++i) row.push_back(cursor->value(i));
                row[2] = Value::string("changed");
                rows.emplace_back(cursor->rowId(), std::move(row));
            }
        }
        for (auto& [id, row] : rows) db->update("t_complex", id, row);
    }
    JetDatabase db(copy.string(), storage::OpenOptions{});
    auto cursor = db.scan("t_complex");
    std::vector<std::string> multi;
    while (cursor->next()) {
        EXPECT_EQ(cursor->value(2).toString(), "changed");
        multi.push_back(cursor->value(4).isNull() ? "" : cursor->value(4).toString());
    }
    EXPECT_EQ(multi, (std::vector<std::string>{"", "value1; value4", "value1; value2; value3; value4", "",
                                               "value2; value3; value1", ""}));
}
