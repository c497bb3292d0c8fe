#include "codepage.h"

#include "dbf_table.h"

#include <cerrno>
#include <iconv.h>
#include <map>
#include <sstream>

namespace qm::xbase {

namespace codepage_data {
const char* tableFor(int codePage); // built from data/cp*.txt
}

namespace {

struct MarkEntry {
    std::uint8_t mark;
    int codePage;
};

// Marks written by Visual FoxPro come first: markForCodePage() returns the
// first mark found for a code page.  Then the dBase language drivers.
constexpr MarkEntry kMarks[] = {
    {0x01, 437},   {0x02, 850},   {0x03, 1252},  {0x04, 10000}, {0x64, 852},   {0x65, 866},
    {0x66, 865},   {0x67, 861},   {0x68, 895},   {0x69, 620},   {0x6A, 737},   {0x6B, 857},
    {0x78, 950},   {0x79, 949},   {0x7A, 936},   {0x7B, 932},   {0x7C, 874},   {0x7D, 1255},
    {0x7E, 1256},  {0x96, 10007}, {0x97, 10029}, {0x98, 10006}, {0xC8, 1250},  {0xC9, 1251},
    {0xCA, 1254},  {0xCB, 1253},  {0xCC, 1257},
    {0x08, 865},   {0x09, 437},   {0x0A, 850},   {0x0B, 437},   {0x0D, 437},   {0x0E, 850},
    {0x0F, 437},   {0x10, 850},   {0x11, 437},   {0x12, 850},   {0x13, 932},   {0x14, 850},
    {0x15, 437},   {0x16, 850},   {0x17, 865},   {0x18, 437},   {0x19, 437},   {0x1A, 850},
    {0x1B, 437},   {0x1C, 863},   {0x1D, 850},   {0x1F, 852},   {0x22, 852},   {0x23, 852},
    {0x24, 860},   {0x25, 850},   {0x26, 866},   {0x37, 850},   {0x40, 852},   {0x4D, 936},
    {0x4E, 949},   {0x4F, 950},   {0x50, 874},   {0x57, 1252},  {0x58, 1252},  {0x59, 1252},
    {0x87, 852},   {0xF0, 65001},
};

const char* iconvName(int cp)
{
    switch (cp) {
    case 65001: return "UTF-8";
    case 10000: return "MACINTOSH";
    case 10007: return "MAC-CYRILLIC";
    case 10029: return "MAC-CENTRALEUROPE";
    case 932: return "CP932";
    case 936: return "CP936";
    case 949: return "CP949";
    case 950: return "CP950";
    case 874: return "CP874";
    default: return nullptr;
    }
}

// The built-in mapping of a code page ("0xBB<tab>0xUUUU" lines), into
// table[byte] = code point; false when there is none.
bool readBuiltInTable(int codePage, std::array<std::uint32_t, 256>& table)
{
    const char* text = codepage_data::tableFor(codePage);
    if (!text)
        return false;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#')
            continue;
        unsigned long b = std::stoul(line, nullptr, 16);
        auto tab = line.find('\t');
        if (tab == std::string::npos || b > 0xFF)
            continue;
        table[b] = static_cast<std::uint32_t>(std::stoul(line.substr(tab + 1), nullptr, 16));
    }
    return true;
}

bool isMultiByte(int cp) { return cp == 932 || cp == 936 || cp == 949 || cp == 950 || cp == 65001; }

} // namespace

int codePageForMark(std::uint8_t mark)
{
    if (mark == 0)
        return 1252;
    for (const auto& e : kMarks)
        if (e.mark == mark)
            return e.codePage;
    return 0;
}

std::uint8_t markForCodePage(int codePage)
{
    for (const auto& e : kMarks)
        if (e.codePage == codePage)
            return e.mark;
    return 0;
}

std::uint32_t nextCodePoint(std::string_view s, std::size_t& i)
{
    auto c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
        ++i;
        return c;
    }
    int extra = 0;
    std::uint32_t cp = 0;
    if ((c & 0xE0) == 0xC0) {
        extra = 1;
        cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
        extra = 2;
        cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
        extra = 3;
        cp = c & 0x07;
    } else {
        ++i;
        return 0xFFFD;
    }
    if (i + extra >= s.size()) {
        ++i;
        return 0xFFFD;
    }
    for (int k = 1; k <= extra; ++k) {
        auto d = static_cast<unsigned char>(s[i + k]);
        if ((d & 0xC0) != 0x80) {
            ++i;
            return 0xFFFD;
        }
        cp = (cp << 6) | (d & 0x3F);
    }
    i += extra + 1;
    return cp;
}

void appendUtf8(std::string& out, std::uint32_t cp)
{
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

const CodePage& CodePage::get(int number)
{
    static std::mutex mutex;
    static std::map<int, std::unique_ptr<CodePage>> pages;
    std::lock_guard lock(mutex);
    auto& slot = pages[number];
    if (!slot)
        slot.reset(new CodePage(number));
    return *slot;
}

CodePage::CodePage(int number) : number_(number)
{
    std::string name;
    if (const char* n = iconvName(number))
        name = n;
    else
        name = "CP" + std::to_string(number);

    if (number == 65001) {
        supported_ = true;
        utf8_ = true;
        return;
    }
    if (isMultiByte(number)) {
        iconv_t dec = iconv_open("UTF-8", name.c_str());
        iconv_t enc = iconv_open(name.c_str(), "UTF-8");
        if (dec != reinterpret_cast<iconv_t>(-1) && enc != reinterpret_cast<iconv_t>(-1)) {
            decoder_ = dec;
            encoder_ = enc;
            supported_ = true;
        } else {
            if (dec != reinterpret_cast<iconv_t>(-1))
                iconv_close(dec);
            if (enc != reinterpret_cast<iconv_t>(-1))
                iconv_close(enc);
        }
        return;
    }

    // Single byte: build both tables once, through iconv or from a built-in
    // mapping where iconv has none.
    iconv_t cd = iconv_open("UTF-8", name.c_str());
    std::array<std::uint32_t, 256> builtIn{};
    const bool haveBuiltIn = cd == reinterpret_cast<iconv_t>(-1) && readBuiltInTable(number, builtIn);
    if (cd == reinterpret_cast<iconv_t>(-1) && !haveBuiltIn)
        return;
    supported_ = true;
    singleByte_ = true;
    fromUnicode_.assign(65536, 0);
    std::vector<int> undefined;
    for (int b = 0; b < 256; ++b) {
        std::string utf8;
        if (haveBuiltIn) {
            if (b >= 0x80 && builtIn[b] == 0) {
                undefined.push_back(b);
                continue;
            }
            appendUtf8(utf8, b < 0x80 ? static_cast<std::uint32_t>(b) : builtIn[b]);
        } else {
            char in = static_cast<char>(b);
            char outBuf[8];
            char* inPtr = &in;
            std::size_t inLeft = 1;
            char* outPtr = outBuf;
            std::size_t outLeft = sizeof outBuf;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
            std::size_t r = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
            // Hebrew and Vietnamese converters hold a letter back for marks
            // that may follow: flush it out.
            if (r != static_cast<std::size_t>(-1))
                r = iconv(cd, nullptr, nullptr, &outPtr, &outLeft);
            if (b < 0x80) {
                appendUtf8(utf8, static_cast<std::uint32_t>(b));
            } else if (r == static_cast<std::size_t>(-1) || inLeft != 0 || outPtr == outBuf) {
                undefined.push_back(b); // placed below, once every defined byte is known
                continue;
            } else {
                utf8.assign(outBuf, static_cast<std::size_t>(outPtr - outBuf));
            }
        }
        if (utf8.size() > 3)
            utf8 = "\xEF\xBF\xBD";
        toUtf8_[b][0] = static_cast<char>(utf8.size());
        for (std::size_t k = 0; k < utf8.size(); ++k)
            toUtf8_[b][k + 1] = utf8[k];
        std::size_t pos = 0;
        std::uint32_t cp = nextCodePoint(utf8, pos);
        if (cp < 65536 && fromUnicode_[cp] == 0)
            fromUnicode_[cp] = static_cast<std::uint8_t>(b);
    }
    // A byte the code page leaves undefined reads as the code point of its
    // own value; where a defined byte already reads as that character (ç is
    // 0x87 in 857, so 0xE7 cannot be U+00E7), it reads as U+F700 + byte
    // instead (private use), so that every byte comes back as itself.
    for (int b : undefined) {
        std::uint32_t cp = fromUnicode_[static_cast<std::uint32_t>(b)] == 0 ? static_cast<std::uint32_t>(b)
                                                                              : 0xF700u + static_cast<std::uint32_t>(b);
        std::string utf8;
        appendUtf8(utf8, cp);
        toUtf8_[b][0] = static_cast<char>(utf8.size());
        for (std::size_t k = 0; k < utf8.size(); ++k)
            toUtf8_[b][k + 1] = utf8[k];
        fromUnicode_[cp] = static_cast<std::uint8_t>(b);
    }
    if (cd != reinterpret_cast<iconv_t>(-1))
        iconv_close(cd);
}

CodePage::~CodePage()
{
    if (decoder_)
        iconv_close(static_cast<iconv_t>(decoder_));
    if (encoder_)
        iconv_close(static_cast<iconv_t>(encoder_));
}

bool CodePage::decode(std::string_view bytes, std::string& out) const
{
    out.clear();
    // Plain ASCII is the same in every supported code page.
    std::size_t i = 0;
    while (i < bytes.size() && static_cast<unsigned char>(bytes[i]) < 0x80)
        ++i;
    if (i == bytes.size()) {
        out.assign(bytes);
        return true;
    }
    if (singleByte_) {
        out.reserve(bytes.size() + 16);
        out.append(bytes.substr(0, i));
        for (; i < bytes.size(); ++i) {
            const auto& e = toUtf8_[static_cast<unsigned char>(bytes[i])];
            out.append(e.data() + 1, static_cast<std::size_t>(e[0]));
        }
        return true;
    }
    if (utf8_) {
        out.reserve(bytes.size());
        std::size_t pos = 0;
        while (pos < bytes.size())
            appendUtf8(out, nextCodePoint(bytes, pos));
        return true;
    }
    if (supported_) {
        std::lock_guard lock(mutex_);
        return iconvConvert(decoder_, bytes, out, true, nullptr);
    }
    for (char c : bytes) {
        if (static_cast<unsigned char>(c) < 0x80)
            out.push_back(c);
        else
            out.append("\xEF\xBF\xBD");
    }
    return false;
}

bool CodePage::encode(std::string_view utf8, std::string& out, std::string* bad) const
{
    out.clear();
    std::size_t i = 0;
    while (i < utf8.size() && static_cast<unsigned char>(utf8[i]) < 0x80)
        ++i;
    if (i == utf8.size()) {
        out.assign(utf8);
        return true;
    }
    if (utf8_) {
        out.assign(utf8);
        return true;
    }
    if (singleByte_) {
        out.reserve(utf8.size());
        out.append(utf8.substr(0, i));
        while (i < utf8.size()) {
            std::size_t start = i;
            std::uint32_t cp = nextCodePoint(utf8, i);
            std::uint8_t b = cp < 65536 ? fromUnicode_[cp] : 0;
            if (b == 0 && cp != 0) {
                if (bad)
                    bad->assign(utf8.substr(start, i - start));
                return false;
            }
            out.push_back(static_cast<char>(b));
        }
        return true;
    }
    if (supported_) {
        std::lock_guard lock(mutex_);
        return iconvConvert(encoder_, utf8, out, false, bad);
    }
    if (bad) {
        std::size_t pos = i;
        nextCodePoint(utf8, pos);
        bad->assign(utf8.substr(i, pos - i));
    }
    return false;
}

bool CodePage::iconvConvert(void* handle, std::string_view in, std::string& out, bool decoding,
                            std::string* bad) const
{
    auto cd = static_cast<iconv_t>(handle);
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    out.clear();
    char* inPtr = const_cast<char*>(in.data());
    std::size_t inLeft = in.size();
    char buf[1024];
    bool ok = true;
    while (inLeft > 0) {
        char* outPtr = buf;
        std::size_t outLeft = sizeof buf;
        std::size_t r = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
        out.append(buf, static_cast<std::size_t>(outPtr - buf));
        if (r == static_cast<std::size_t>(-1)) {
            if (errno == E2BIG)
                continue;
            // Invalid or incomplete input.
            if (!decoding) {
                if (bad) {
                    std::string_view rest(inPtr, inLeft);
                    std::size_t pos = 0;
                    nextCodePoint(rest, pos);
                    bad->assign(rest.substr(0, pos));
                }
                return false;
            }
            out.append("\xEF\xBF\xBD");
            ++inPtr;
            --inLeft;
            ok = false;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
        }
    }
    char* outPtr = buf;
    std::size_t outLeft = sizeof buf;
    iconv(cd, nullptr, nullptr, &outPtr, &outLeft);
    out.append(buf, static_cast<std::size_t>(outPtr - buf));
    return ok || decoding;
}

} // namespace qm::xbase
