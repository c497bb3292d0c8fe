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

} // namespace qm::storage
