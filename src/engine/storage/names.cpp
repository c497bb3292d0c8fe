#include "storage/storage.h"

namespace qm::storage {

namespace {

// Folds one code point the way the engines compare object names: ASCII and
// the Latin-1 / Latin Extended-A letters, Greek and Cyrillic basic ranges.
char32_t fold(char32_t c)
{
    if (c >= 'a' && c <= 'z')
        return c - 32;
    if (c < 0x80)
        return c;
    if ((c >= 0xE0 && c <= 0xFE && c != 0xF7))
        return c - 32;
    if (c >= 0x100 && c <= 0x17F && (c & 1) && c != 0x131 && c != 0x138 && c != 0x149 && c != 0x17F)
        return c - 1;
    if (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2)
        return c - 32;
    if (c >= 0x430 && c <= 0x44F)
        return c - 32;
    if (c >= 0x450 && c <= 0x45F)
        return c - 80;
    return c;
}

// Decodes one UTF-8 sequence; malformed bytes are taken one by one.
char32_t next(std::string_view s, size_t& i)
{
    unsigned char c = (unsigned char)s[i];
    int len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 1;
    if (i + size_t(len) > s.size())
        len = 1;
    char32_t cp = len == 1 ? c : len == 2 ? (c & 0x1F) : len == 3 ? (c & 0x0F) : (c & 0x07);
    for (int k = 1; k < len; ++k)
        cp = (cp << 6) | ((unsigned char)s[i + size_t(k)] & 0x3F);
    i += size_t(len);
    return cp;
}

} // namespace

bool namesEqual(std::string_view a, std::string_view b)
{
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size())
        if (fold(next(a, i)) != fold(next(b, j)))
            return false;
    return i == a.size() && j == b.size();
}

std::string foxProName(std::string_view name)
{
    std::string out;
    out.reserve(name.size() + 1);
    for (const char ch : name) {
        const auto c = static_cast<unsigned char>(ch);
        const bool keep = c >= 0x80 || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
        out.push_back(keep ? ch : '_');
    }
    if (out.empty() || (out[0] >= '0' && out[0] <= '9'))
        out.insert(out.begin(), '_');
    if (out.size() > 128) {
        std::size_t cut = 128;
        while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80)
            --cut; // not inside a UTF-8 sequence
        out.resize(cut);
    }
    return out;
}

std::vector<std::string> foxProNames(const std::vector<std::string>& names)
{
    std::vector<std::string> out;
    out.reserve(names.size());
    auto taken = [&](const std::string& n) {
        for (const std::string& t : out)
            if (namesEqual(t, n))
                return true;
        return false;
    };
    for (const std::string& n : names) {
        const std::string base = foxProName(n);
        std::string candidate = base;
        for (int k = 2; taken(candidate); ++k) {
            const std::string suffix = "_" + std::to_string(k);
            candidate = base.substr(0, std::min(base.size(), 128 - suffix.size())) + suffix;
        }
        out.push_back(std::move(candidate));
    }
    return out;
}

std::optional<CatalogEntry> findFoxProName(Database& db, std::string_view name)
{
    if (auto e = db.find(name))
        return e;
    for (CatalogEntry& e : db.catalog())
        if ((e.kind == ObjectKind::Table || e.kind == ObjectKind::View) && namesEqual(foxProName(e.name), name))
            return std::move(e);
    return std::nullopt;
}

std::string remoteViewMessage(const CatalogEntry& entry)
{
    return "The view '" + entry.name + "' reads a remote database through the connection '" + entry.connection +
           "', which this program does not have; only local views can be opened.";
}

} // namespace qm::storage
