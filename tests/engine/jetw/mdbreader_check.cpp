#include "mdbreader_check.h"

#include "jet/text.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace fs = std::filesystem;

namespace qm::jetw::test {

namespace {

// Just enough JSON for the script's answer: objects, arrays, strings (with
// \u escapes and surrogate pairs), numbers and literals kept as text.
struct Json {
    enum class Kind { Null, Literal, String, Array, Object } kind = Kind::Null;
    std::string text; // strings, numbers, true/false
    std::vector<Json> items;
    std::vector<std::pair<std::string, Json>> members;

    const Json& operator[](const std::string& key) const {
        for (const auto& [k, v] : members)
            if (k == key) return v;
        static const Json none;
        return none;
    }
};

class JsonParser {
public:
    explicit JsonParser(const std::string& s) : s_(s) {}

    Json document() {
        Json j = value();
        skipSpace();
        if (at_ != s_.size()) fail("text after the value");
        return j;
    }

private:
    [[noreturn]] void fail(const std::string& why) const {
        throw std::runtime_error("bad JSON at offset " + std::to_string(at_) + ": " + why);
    }
    void skipSpace() {
        while (at_ < s_.size() && (s_[at_] == ' ' || s_[at_] == '\n' || s_[at_] == '\r' || s_[at_] == '\t')) ++at_;
    }
    char peek() {
        skipSpace();
        if (at_ >= s_.size()) fail("unexpected end");
        return s_[at_];
    }
    void expect(char c) {
        if (peek() != c) fail(std::string("expected '") + c + "'");
        ++at_;
    }

    Json value() {
        Json j;
        const char c = peek();
        if (c == '{') {
            j.kind = Json::Kind::Object;
            ++at_;
            if (peek() == '}') return ++at_, j;
            for (;;) {
                std::string key = string();
                expect(':');
                j.members.emplace_back(std::move(key), value());
                if (peek() == ',') { ++at_; continue; }
                expect('}');
                return j;
            }
        }
        if (c == '[') {
            j.kind = Json::Kind::Array;
            ++at_;
            if (peek() == ']') return ++at_, j;
            for (;;) {
                j.items.push_back(value());
                if (peek() == ',') { ++at_; continue; }
                expect(']');
                return j;
            }
        }
        if (c == '"') {
            j.kind = Json::Kind::String;
            j.text = string();
            return j;
        }
        const std::size_t start = at_;
        while (at_ < s_.size() && std::string_view("{}[],: \t\r\n\"").find(s_[at_]) == std::string_view::npos) ++at_;
        j.text = s_.substr(start, at_ - start);
        if (j.text.empty()) fail("expected a value");
        if (j.text != "null") j.kind = Json::Kind::Literal;
        return j;
    }

    unsigned hex4() {
        if (at_ + 4 > s_.size()) fail("short \\u escape");
        unsigned u = 0;
        for (int i = 0; i < 4; ++i) {
            const char h = s_[at_++];
            u <<= 4;
            if (h >= '0' && h <= '9') u |= unsigned(h - '0');
            else if (h >= 'a' && h <= 'f') u |= unsigned(h - 'a' + 10);
            else if (h >= 'A' && h <= 'F') u |= unsigned(h - 'A' + 10);
            else fail("bad \\u escape");
        }
        return u;
    }

    std::string string() {
        expect('"');
        std::string out;
        for (;;) {
            if (at_ >= s_.size()) fail("unterminated string");
            const char c = s_[at_++];
            if (c == '"') return out;
            if (c != '\\') {
                out.push_back(c);
                continue;
            }
            if (at_ >= s_.size()) fail("unterminated escape");
            switch (const char e = s_[at_++]) {
            case '"': case '\\': case '/': out.push_back(e); break;
            case 'b': out.push_back('\b'); break;
            case 'f': out.push_back('\f'); break;
            case 'n': out.push_back('\n'); break;
            case 'r': out.push_back('\r'); break;
            case 't': out.push_back('\t'); break;
            case 'u': {
                unsigned cp = hex4();
                // A pair of surrogates is one character; a lone one is kept
                // as its own code point so that a comparison shows it.
                if (cp >= 0xD800 && cp < 0xDC00 && s_.compare(at_, 2, "\\u") == 0) {
                    const std::size_t back = at_;
                    at_ += 2;
                    const unsigned lo = hex4();
                    if (lo >= 0xDC00 && lo < 0xE000) cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
                    else at_ = back;
                }
                jet::appendCodePoint(cp, out);
                break;
            }
            default: fail("unknown escape");
            }
        }
    }

    const std::string& s_;
    std::size_t at_ = 0;
};

std::vector<std::string> names(const Json& array) {
    std::vector<std::string> out;
    for (const Json& j : array.items) out.push_back(j.text);
    return out;
}

std::optional<int> optionalInt(const Json& j) {
    if (j.kind == Json::Kind::Null) return std::nullopt;
    return std::stoi(j.text);
}

std::string canonicalDouble(double d) {
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, d);
    return std::string(buf, r.ptr);
}

std::string two(int n) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02d", n);
    return buf;
}

// The text the script prints for mdb-reader's reading of a stored date.
// mdb-reader takes the stored double as one signed count of days since
// 1899-12-30, while the format keeps the fraction a positive time of day
// also before that date (-1.25 is 1899-12-29 06:00, which mdb-reader shows
// as 1899-12-28 18:00).  So the expected text is what that reading of the
// right bytes gives: the same date from 1899-12-30 on, and for earlier
// dates with a time the moment that many days before the epoch.
std::string mdbReaderDate(double stored) {
    double serial = stored;
    if (stored < 0) {
        const double day = std::floor(stored), time = stored - day;
        if (time != 0) serial = day - time;
    }
    const DateParts p = date::toParts(serial);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%s-%s %s:%s:%s", p.year, two(p.month).c_str(), two(p.day).c_str(),
                  two(p.hour).c_str(), two(p.minute).c_str(), two(p.second).c_str());
    std::string s = buf;
    if (p.millisecond) {
        std::snprintf(buf, sizeof buf, ".%03d", p.millisecond);
        s += buf;
    }
    return s;
}

std::string lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return s;
}

} // namespace

std::string mdbReaderMissing() {
    if (!qm::test::programAvailable("node")) return "node is not installed here, so mdb-reader cannot run";
    if (!fs::exists(fs::path(QM_NODE_CHECKERS) / "node_modules" / "mdb-reader" / "package.json"))
        return "mdb-reader is not installed; run tools/install-deps.sh";
    return {};
}

MdbReaderDump mdbReaderDump(const fs::path& db, const std::vector<std::string>& tables, const std::string& password) {
    std::vector<std::string> argv = {"node", QM_MDBREADER_SCRIPT, QM_NODE_CHECKERS, db.string()};
    if (!password.empty()) {
        argv.push_back("--password");
        argv.push_back(password);
    }
    argv.insert(argv.end(), tables.begin(), tables.end());
    const auto r = qm::test::run(argv);
    MdbReaderDump dump;
    if (r.exitCode != 0) {
        ADD_FAILURE() << "mdb-reader could not read " << db.filename().string() << ":\n" << r.err;
        return dump;
    }
    Json doc;
    try {
        doc = JsonParser(r.out).document();
    } catch (const std::exception& e) {
        ADD_FAILURE() << e.what();
        return dump;
    }
    dump.tables = names(doc["tables"]);
    dump.systemTables = names(doc["systemTables"]);
    dump.queries = names(doc["queries"]);
    for (const auto& [name, t] : doc["data"].members) {
        MdbReaderTable& table = dump.data[name];
        table.rowCount = std::stoull(t["rowCount"].text);
        for (const Json& c : t["columns"].items) {
            MdbReaderColumn col;
            col.name = c["name"].text;
            col.type = c["type"].text;
            col.size = std::stoi(c["size"].text);
            col.precision = optionalInt(c["precision"]);
            col.scale = optionalInt(c["scale"]);
            col.nullable = c["nullable"].text == "true";
            col.autoLong = c["autoLong"].text == "true";
            col.autoUUID = c["autoUUID"].text == "true";
            table.columns.push_back(std::move(col));
        }
        for (const Json& row : t["rows"].items) {
            std::vector<std::string> cells;
            for (const Json& cell : row.items)
                cells.push_back(cell.kind == Json::Kind::Null ? "<null>" : cell.text);
            table.rows.push_back(std::move(cells));
        }
    }
    return dump;
}

storage::ColumnType mdbReaderType(const std::string& name) {
    using CT = storage::ColumnType;
    static const std::map<std::string, CT> types = {
        {"boolean", CT::Boolean},     {"byte", CT::Byte},       {"integer", CT::Integer},
        {"long", CT::Long},           {"bigint", CT::BigInt},   {"float", CT::Single},
        {"double", CT::Double},       {"currency", CT::Currency}, {"numeric", CT::Decimal},
        {"datetime", CT::DateTime},   {"text", CT::VarChar},    {"memo", CT::Memo},
        {"binary", CT::Binary},       {"ole", CT::LongBinary},  {"repid", CT::Guid},
        {"complex", CT::Complex},     {"datetimextended", CT::DateTimeExt},
    };
    const auto it = types.find(name);
    return it == types.end() ? CT::Unknown : it->second;
}

std::string mdbReaderText(const Value& v, storage::ColumnType type, int scale) {
    using CT = storage::ColumnType;
    if (v.isNull() || v.isEmpty()) return type == CT::Boolean ? "false" : "<null>";
    switch (type) {
    case CT::Boolean: return v.toBool() ? "true" : "false";
    case CT::Byte:
    case CT::Integer:
    case CT::Long:
    case CT::BigInt: return std::to_string(v.toInt64());
    case CT::Single: return canonicalDouble(double(float(v.toDouble())));
    case CT::Double: return canonicalDouble(v.toDouble());
    case CT::Currency: {
        // Every one of the four decimals, as mdb-reader prints them.
        const std::int64_t n = v.toCurrency();
        const std::uint64_t a = n < 0 ? std::uint64_t(-(n + 1)) + 1 : std::uint64_t(n);
        std::string frac = std::to_string(a % 10000);
        frac.insert(0, 4 - frac.size(), '0');
        return std::string(n < 0 ? "-" : "") + std::to_string(a / 10000) + "." + frac;
    }
    case CT::Decimal: return v.toDecimal().rescaled(scale).toString();
    case CT::DateTime: return mdbReaderDate(v.toDate());
    case CT::Binary:
    case CT::LongBinary: return hex(v.rawString());
    case CT::Guid: {
        std::string t = lower(v.rawGuid().toString());
        return t.substr(1, t.size() - 2); // without the braces
    }
    default: return v.toString();
    }
}

void normalizeMdbReaderRows(MdbReaderTable& table) {
    for (std::size_t c = 0; c < table.columns.size(); ++c) {
        const std::string& type = table.columns[c].type;
        if (type != "float" && type != "double") continue;
        for (auto& row : table.rows)
            if (c < row.size() && row[c] != "<null>") row[c] = canonicalDouble(std::strtod(row[c].c_str(), nullptr));
    }
}

Rows readerRowsAsMdbReader(const fs::path& db, const std::string& table, const std::string& password) {
    storage::OpenOptions o;
    o.readOnly = true;
    o.password = password;
    auto d = qm::jet::openDatabase(db.string(), o);
    auto cursor = d->scan(table);
    Rows rows;
    while (cursor->next()) {
        std::vector<std::string> row;
        for (std::size_t i = 0; i < cursor->columns().size(); ++i) {
            const storage::ColumnDef& c = cursor->columns()[i];
            row.push_back(mdbReaderText(cursor->value(i), c.type == storage::ColumnType::Char
                                                              ? storage::ColumnType::VarChar
                                                              : c.type,
                                        c.scale));
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

} // namespace qm::jetw::test
