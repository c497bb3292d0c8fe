#include "collation.h"

#include "value/value.h"

#include <cstring>
#include <mutex>

namespace qm::jet {

namespace collation_data {
extern const char* const genleg;
extern const char* const ext_genleg;
extern const char* const gen;
extern const char* const ext_gen;
} // namespace collation_data

namespace {

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// "7" -> 07, "CFA" -> 0C FA: hexadecimal with the leading zero dropped.
std::string hexBytes(std::string_view f, const char* table, std::size_t line) {
    std::string digits(f);
    if (digits.size() % 2) digits.insert(digits.begin(), '0');
    std::string out;
    for (std::size_t i = 0; i < digits.size(); i += 2) {
        const int a = hexDigit(digits[i]), b = hexDigit(digits[i + 1]);
        if (a < 0 || b < 0)
            throw Error(std::string("sort-order table ") + table + " line " + std::to_string(line) + ": bad hex");
        out.push_back(char(a * 16 + b));
    }
    return out;
}

std::vector<std::string_view> splitFields(std::string_view s) {
    std::vector<std::string_view> v;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= s.size(); ++i)
        if (i == s.size() || s[i] == ',') {
            v.push_back(s.substr(start, i - start));
            start = i + 1;
        }
    return v;
}

} // namespace

Collation::Collation(const char* base, const char* ext, const char* name) : codes_(65536) {
    auto parse = [&](const char* text, auto&& slotOf, std::size_t expectLines) {
        std::string_view all(text);
        std::size_t line = 0, pos = 0;
        while (pos < all.size()) {
            std::size_t nl = all.find('\n', pos);
            if (nl == std::string_view::npos) nl = all.size();
            std::string_view l = all.substr(pos, nl - pos);
            pos = nl + 1;
            if (l.empty()) continue;
            Code c;
            c.type = l[0];
            const auto f = splitFields(l.substr(1));
            auto bad = [&] {
                return Error(std::string("sort-order table ") + name + " line " + std::to_string(line + 1) +
                             ": unexpected entry '" + std::string(l) + "'");
            };
            switch (c.type) {
            case 'X': break;
            case 'S':
                if (f.size() != 1) throw bad();
                c.inlineBytes = hexBytes(f[0], name, line);
                break;
            case 'I':
                if (f.size() != 2) throw bad();
                c.inlineBytes = hexBytes(f[0], name, line);
                c.extraBytes = hexBytes(f[1], name, line);
                break;
            case 'U':
                if (f.size() != 1) throw bad();
                c.unprintable = hexBytes(f[0], name, line);
                break;
            case 'P':
                if (f.size() != 1) throw bad();
                c.extraBytes = hexBytes(f[0], name, line);
                if (c.extraBytes.size() != 1) throw bad();
                break;
            case 'Z':
                if (f.size() != 3) throw bad();
                c.inlineBytes = hexBytes(f[0], name, line);
                if (!f[1].empty()) c.extraBytes = hexBytes(f[1], name, line);
                c.flag = f[2] == "1" ? 1 : 0;
                break;
            default: throw bad();
            }
            codes_[slotOf(line)] = std::move(c);
            ++line;
        }
        if (line != expectLines)
            throw Error(std::string("sort-order table ") + name + ": " + std::to_string(line) + " lines instead of " +
                        std::to_string(expectLines));
    };
    parse(base, [](std::size_t l) { return l; }, 256);
    parse(ext, [](std::size_t l) { return l + 0x100 < 0xD800 ? l + 0x100 : l + 0x100 + 0x800; }, 63232);
}

const Collation& Collation::get(Kind kind) {
    static std::once_flag legacyOnce, generalOnce;
    static const Collation* legacy = nullptr;
    static const Collation* general = nullptr;
    if (kind == Kind::GeneralLegacy) {
        std::call_once(legacyOnce, [] {
            legacy = new Collation(collation_data::genleg, collation_data::ext_genleg, "General Legacy");
        });
        return *legacy;
    }
    std::call_once(generalOnce,
                   [] { general = new Collation(collation_data::gen, collation_data::ext_gen, "General"); });
    return *general;
}

const Collation::Code& Collation::code(char16_t ch) const { return codes_[ch]; }

void Collation::encode(std::u16string_view text, bool ascending, std::string& out) const {
    const std::size_t start = out.size();
    std::string extra, unprintable, crazy;
    bool haveExtra = false, haveUnprintable = false, haveCrazy = false;
    std::size_t extraPositions = 0, unprintablePrefix = 0, pos = 0;

    auto padExtra = [&] {
        haveExtra = true;
        while (extraPositions < pos) {
            extra.push_back(0x02);
            ++extraPositions;
        }
    };
    auto addExtra = [&](std::string_view bytes) {
        padExtra();
        extra.append(bytes);
        ++extraPositions;
    };

    for (char16_t ch : text) {
        if (ch >= 0xD800 && ch <= 0xDFFF) {
            std::uint32_t v;
            if (ch < 0xDC00) {
                v = std::uint32_t(ch) - 10238;
            } else {
                const std::uint32_t o = (std::uint32_t(ch) - 0xDC00) % 1024;
                const std::uint32_t d = o < 8 ? 9992 : o < 262 ? 9990 : o < 516 ? 9988 : o < 770 ? 9986 : 9984;
                v = std::uint32_t(ch) - d;
            }
            out.push_back(char(v >> 8));
            out.push_back(char(v & 0xFF));
            addExtra("\x3F");
            ++pos;
            continue;
        }
        const Code& c = code(ch);
        switch (c.type) {
        case 'X': break;
        case 'S':
            out += c.inlineBytes;
            ++pos;
            break;
        case 'I':
            out += c.inlineBytes;
            addExtra(c.extraBytes);
            ++pos;
            break;
        case 'U': {
            haveUnprintable = true;
            const std::size_t q =
                !haveExtra ? pos : extra.size() + (pos - extraPositions) - unprintablePrefix;
            const std::uint32_t v = 0x8000u | std::uint32_t(7 + 4 * q);
            unprintable.push_back(char((v >> 8) & 0xFF));
            unprintable.push_back(char(v & 0xFF));
            unprintable.push_back(0x06);
            unprintable += c.unprintable;
            break;
        }
        case 'P':
            padExtra();
            if (extra.empty()) {
                extra.push_back(c.extraBytes[0]);
                unprintablePrefix = 1;
            } else {
                extra.back() = char(std::uint8_t(extra.back()) + std::uint8_t(c.extraBytes[0]));
            }
            break;
        case 'Z':
            out += c.inlineBytes;
            if (!c.extraBytes.empty()) addExtra(c.extraBytes);
            haveCrazy = true;
            crazy.push_back(c.flag ? 0x02 : 0x03);
            ++pos;
            break;
        default: break;
        }
    }
    out.push_back(0x01);
    while (!extra.empty() && std::uint8_t(extra.back()) <= 0x02) extra.pop_back();
    if (!extra.empty() || haveUnprintable || haveCrazy) {
        out += extra;
        if (haveUnprintable || haveCrazy) {
            out.push_back(0x01);
            out.push_back(0x01);
            if (haveCrazy) {
                while (!crazy.empty() && crazy.back() == 0x03) crazy.pop_back();
                for (std::size_t i = 0; i < crazy.size(); i += 3) {
                    std::uint8_t b = 0x80;
                    for (std::size_t k = 0; k < 3 && i + k < crazy.size(); ++k)
                        b |= std::uint8_t(crazy[i + k] << (4 - 2 * k));
                    out.push_back(char(b));
                }
                out += std::string("\xFF\x02\x80\xFF\x80", 5);
                if (haveUnprintable) out.push_back(char(0xFF));
            }
            if (haveUnprintable) {
                out.push_back(0x01);
                out += unprintable;
            }
        }
    }
    out.push_back(0x00);
    if (!ascending) {
        for (std::size_t i = start; i < out.size(); ++i) out[i] = char(~std::uint8_t(out[i]));
        out.push_back(0x00);
    }
}

} // namespace qm::jet
