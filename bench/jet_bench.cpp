// Reads every row of an Access table and prints rows/s and MB/s.
//
//   jet_bench FILE [TABLE] [REPEAT]   timed in-process reads (default: the
//                                     user table with the most rows, 20 reads)
//   jet_bench --export FILE TABLE     one read, each row written to stdout as
//                                     comma-separated text, the way mdb-export
//                                     does; for side-by-side timing
//   jet_bench --start-only            exits at once: the cost of starting
//                                     the program, to subtract
#include "jet/database.h"

#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <string>

using namespace qm;

namespace {

void appendScaled(Int128 v, int scale, std::string& out) {
    char buf[64];
    int n = 0;
    const bool neg = v < 0;
    if (neg) v = -v;
    do {
        buf[n++] = char('0' + int(v % 10));
        v /= 10;
        if (n == scale) buf[n++] = '.';
    } while (v != 0 || n <= scale);
    if (neg) out.push_back('-');
    while (n > 0) out.push_back(buf[--n]);
}

void appendNumber(double d, std::string& out) {
    char buf[32];
    auto r = std::to_chars(buf, buf + sizeof buf, d);
    out.append(buf, r.ptr);
}

// "YYYY-MM-DD HH:MM:SS" of a date serial.
void appendDate(double serial, std::string& out) {
    const double whole = std::trunc(serial);
    long long secs = std::llround(std::fabs(serial - whole) * 86400.0);
    long long days = (long long)whole + secs / 86400;
    secs %= 86400;
    const long long z = days + 719468 - 25569;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const long long doe = z - era * 146097;
    const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const long long mp = (5 * doy + 2) / 153;
    const int d = int(doy - (153 * mp + 2) / 5 + 1);
    const int m = int(mp < 10 ? mp + 3 : mp - 9);
    char buf[40];
    std::snprintf(buf, sizeof buf, "%04lld-%02d-%02d %02lld:%02lld:%02lld", yoe + era * 400 + (m <= 2), m, d,
                  secs / 3600, secs / 60 % 60, secs % 60);
    out += buf;
}

// Text of one value, close to what an exporter writes.
void appendText(const Value& v, std::string& out) {
    static const char* hex = "0123456789ABCDEF";
    switch (v.type()) {
    case VarType::Null: break;
    case VarType::String:
        out.push_back('"');
        out += v.rawString();
        out.push_back('"');
        break;
    case VarType::Binary:
        for (unsigned char b : v.rawString()) {
            out.push_back(hex[b >> 4]);
            out.push_back(hex[b & 15]);
        }
        break;
    case VarType::Boolean: out.push_back(v.rawInt() ? '1' : '0'); break;
    case VarType::Byte: case VarType::Integer: case VarType::Long: case VarType::BigInt: {
        char buf[24];
        auto r = std::to_chars(buf, buf + sizeof buf, v.rawInt());
        out.append(buf, r.ptr);
        break;
    }
    case VarType::Currency: appendScaled(v.rawInt(), 4, out); break;
    case VarType::Decimal: appendScaled(v.rawDecimal().mantissa, v.rawDecimal().scale, out); break;
    case VarType::Single: case VarType::Double: appendNumber(v.rawDouble(), out); break;
    case VarType::Date: appendDate(v.rawDouble(), out); break;
    default: out += v.toString(); break;
    }
}

struct Result {
    std::uint64_t rows = 0;
    std::uint64_t bytes = 0; // text produced
};

Result readTable(const std::string& file, const std::string& table, FILE* sink) {
    jet::JetDatabase db(file, {});
    auto cur = db.scan(table);
    const std::size_t n = cur->columns().size();
    std::string line;
    Result r;
    while (cur->next()) {
        line.clear();
        for (std::size_t i = 0; i < n; ++i) {
            if (i) line.push_back(',');
            appendText(cur->value(i), line);
        }
        line.push_back('\n');
        r.bytes += line.size();
        ++r.rows;
        if (sink) std::fwrite(line.data(), 1, line.size(), sink);
    }
    return r;
}

} // namespace

int main(int argc, char** argv) {
    try {
        if (argc >= 2 && std::string(argv[1]) == "--start-only") return 0;
        if (argc >= 4 && std::string(argv[1]) == "--export") {
            readTable(argv[2], argv[3], stdout);
            return 0;
        }
        if (argc < 2) {
            std::cerr << "usage: jet_bench FILE [TABLE] [REPEAT] | jet_bench --export FILE TABLE\n";
            return 2;
        }
        const std::string file = argv[1];
        std::string table = argc > 2 ? argv[2] : "";
        const int repeat = argc > 3 ? std::max(1, std::atoi(argv[3])) : 20;
        if (table.empty()) {
            jet::JetDatabase db(file, {});
            std::uint64_t most = 0;
            for (const auto& e : db.catalog())
                if (e.kind == storage::ObjectKind::Table) {
                    const auto rows = db.rowCount(e.name);
                    if (rows >= most) most = rows, table = e.name;
                }
        }
        using clock = std::chrono::steady_clock;
        Result total;
        const auto t0 = clock::now();
        for (int k = 0; k < repeat; ++k) {
            Result r = readTable(file, table, nullptr);
            total.rows += r.rows;
            total.bytes += r.bytes;
        }
        const double secs = std::chrono::duration<double>(clock::now() - t0).count();
        std::printf("table %s: %llu rows x %d reads in %.3f s (open + scan + text each time)\n", table.c_str(),
                    static_cast<unsigned long long>(total.rows / std::uint64_t(repeat)), repeat, secs);
        std::printf("  %.0f rows/s, %.1f MB/s of exported text\n", double(total.rows) / secs,
                    double(total.bytes) / secs / 1e6);
        return 0;
    } catch (const std::exception& e) {
        std::cerr << e.what() << "\n";
        return 1;
    }
}
