#include "properties.h"

#include <vector>

namespace qm::jet {

PropertyMap parseProperties(const std::string& blob, bool jet3, const CodePage& codePage) {
    PropertyMap out;
    const auto* b = reinterpret_cast<const std::uint8_t*>(blob.data());
    const std::size_t n = blob.size();
    if (n < 4 || (blob.compare(0, 4, std::string("KKD\0", 4)) != 0 && blob.compare(0, 4, std::string("MR2\0", 4)) != 0))
        return out;
    auto text = [&](const std::uint8_t* p, std::size_t len) {
        std::string s;
        if (jet3)
            codePage.append(p, len, s);
        else
            appendUtf16(p, len, s);
        return s;
    };
    std::vector<std::string> names;
    std::size_t at = 4;
    while (at + 6 <= n) {
        const std::uint32_t len = u32(b + at);
        const std::uint16_t kind = u16(b + at + 4);
        if (len < 6 || len > n - at) break;
        const std::size_t end = at + len;
        std::size_t p = at + 6;
        if (kind == 0x80) {
            while (p + 2 <= end) {
                const std::uint16_t l = u16(b + p);
                if (l > end - p - 2) break;
                names.push_back(text(b + p + 2, l));
                p += 2 + std::size_t(l);
            }
        } else if (kind == 0x00 || kind == 0x01) {
            if (p + 6 > end) break;
            const std::uint32_t block = u32(b + p);
            const std::uint16_t nameLen = u16(b + p + 4);
            if (block < 6 || block > end - p || std::size_t(nameLen) + 6 > block) break;
            auto& values = out[text(b + p + 6, nameLen)];
            p += block;
            while (p + 8 <= end) {
                const std::uint16_t entryLen = u16(b + p);
                const std::uint16_t valueLen = u16(b + p + 6);
                if (entryLen < 8 || entryLen > end - p || std::size_t(valueLen) + 8 > entryLen) break;
                const std::uint16_t nameIndex = u16(b + p + 4);
                if (nameIndex < names.size()) {
                    PropertyValue v;
                    v.type = b[p + 3];
                    v.bytes.assign(reinterpret_cast<const char*>(b + p + 8), valueLen);
                    values[names[nameIndex]] = std::move(v);
                }
                p += entryLen;
            }
        }
        at = end;
    }
    return out;
}

} // namespace qm::jet
