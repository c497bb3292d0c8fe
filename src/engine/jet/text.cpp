#include "text.h"

#include <cerrno>
#include <iconv.h>
#include <vector>

namespace qm::jet {

void appendCodePoint(std::uint32_t cp, std::string& out) {
    if (cp < 0x80) {
        out.push_back(char(cp));
    } else if (cp < 0x800) {
        out.push_back(char(0xC0 | (cp >> 6)));
        out.push_back(char(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(char(0xE0 | (cp >> 12)));
        out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(char(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(char(0xF0 | (cp >> 18)));
        out.push_back(char(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(char(0x80 | (cp & 0x3F)));
    }
}

void appendUtf16(const std::uint8_t* p, std::size_t bytes, std::string& out) {
    const std::size_t n = bytes / 2;
    for (std::size_t k = 0; k < n; ++k) {
        std::uint32_t c = std::uint32_t(p[2 * k]) | (std::uint32_t(p[2 * k + 1]) << 8);
        if (c < 0x80) {
            out.push_back(char(c));
            continue;
        }
        if (c >= 0xD800 && c <= 0xDBFF && k + 1 < n) {
            std::uint32_t d = std::uint32_t(p[2 * k + 2]) | (std::uint32_t(p[2 * k + 3]) << 8);
            if (d >= 0xDC00 && d <= 0xDFFF) {
                appendCodePoint(0x10000 + ((c - 0xD800) << 10) + (d - 0xDC00), out);
                ++k;
                continue;
            }
        }
        if (c >= 0xD800 && c <= 0xDFFF) c = 0xFFFD;
        appendCodePoint(c, out);
    }
}

void appendJet4Text(const std::uint8_t* p, std::size_t bytes, std::string& out) {
    if (bytes < 2 || p[0] != 0xFF || p[1] != 0xFE) {
        appendUtf16(p, bytes, out);
        return;
    }
    bool compressed = true;
    std::size_t k = 2;
    while (k < bytes) {
        if (p[k] == 0) {
            compressed = !compressed;
            ++k;
            continue;
        }
        if (compressed) {
            appendCodePoint(p[k], out);
            ++k;
            continue;
        }
        // An uncompressed run: collect pairs until a 00 switch byte on a
        // character boundary or the end.
        std::size_t start = k;
        while (k + 1 < bytes && p[k] != 0) k += 2;
        appendUtf16(p + start, k - start, out);
        if (k + 1 == bytes && p[k] != 0) ++k; // lone trailing byte
    }
}

struct CodePage::Iconv {
    iconv_t cd = iconv_t(-1);
    ~Iconv() {
        if (cd != iconv_t(-1)) iconv_close(cd);
    }
};

namespace {
iconv_t openConverter(int codePage) {
    std::string name = "CP" + std::to_string(codePage);
    iconv_t cd = iconv_open("UTF-8", name.c_str());
    if (cd == iconv_t(-1) && codePage == 936) cd = iconv_open("UTF-8", "GBK");
    if (cd == iconv_t(-1)) cd = iconv_open("UTF-8", "CP1252");
    return cd;
}
bool isDoubleByte(int cp) { return cp == 932 || cp == 936 || cp == 949 || cp == 950 || cp == 1361; }
} // namespace

CodePage::CodePage(int codePage) : number_(codePage <= 0 ? 1252 : codePage), iconv_(std::make_unique<Iconv>()) {
    iconv_->cd = openConverter(number_);
    singleByte_ = !isDoubleByte(number_);
    if (!singleByte_) return;
    for (int b = 0; b < 256; ++b) {
        if (b < 0x80) {
            table_[b] = std::string(1, char(b));
            continue;
        }
        char in[1] = {char(b)};
        char outBuf[8];
        char* ip = in;
        char* op = outBuf;
        size_t il = 1, ol = sizeof outBuf;
        if (iconv_->cd != iconv_t(-1)) {
            iconv(iconv_->cd, nullptr, nullptr, nullptr, nullptr);
            // Flushed at once: the Hebrew converter holds letters back for
            // the points that may follow them.
            if (iconv(iconv_->cd, &ip, &il, &op, &ol) != size_t(-1) &&
                iconv(iconv_->cd, nullptr, nullptr, &op, &ol) != size_t(-1) && op != outBuf) {
                table_[b].assign(outBuf, std::size_t(op - outBuf));
                continue;
            }
        }
        // A byte this code page leaves undefined (0x81, 0x8D, 0x8F, 0x90 and
        // 0x9D in 1252; others in 1250, 1253, 1255...) keeps its own value as
        // the code point, as Windows reads it, so no later step loses it.
        table_[b].clear();
        appendCodePoint(std::uint32_t(b), table_[b]);
    }
}

CodePage::~CodePage() = default;

void CodePage::append(const std::uint8_t* p, std::size_t bytes, std::string& out) const {
    if (singleByte_ || iconv_->cd == iconv_t(-1)) {
        for (std::size_t k = 0; k < bytes; ++k) {
            if (p[k] < 0x80)
                out.push_back(char(p[k]));
            else
                out += table_[p[k]];
        }
        return;
    }
    iconv(iconv_->cd, nullptr, nullptr, nullptr, nullptr);
    std::vector<char> buf(bytes * 4 + 8);
    char* ip = const_cast<char*>(reinterpret_cast<const char*>(p));
    size_t il = bytes;
    while (il > 0) {
        char* op = buf.data();
        size_t ol = buf.size();
        size_t r = iconv(iconv_->cd, &ip, &il, &op, &ol);
        out.append(buf.data(), std::size_t(op - buf.data()));
        if (r == size_t(-1)) {
            if (errno == E2BIG) continue;
            out += "\xEF\xBF\xBD"; // invalid or truncated sequence: skip one byte
            ++ip;
            --il;
            iconv(iconv_->cd, nullptr, nullptr, nullptr, nullptr);
        }
    }
}

} // namespace qm::jet
