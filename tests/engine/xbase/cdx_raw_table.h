// Test helper: reads a .dbf straight from its bytes (header, field
// descriptors, records) without the table layer, so that the index tests
// check the index code against the files themselves.
#pragma once

#include "xbase/dbf_table.h"

#include "test_support.h"

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

namespace qm::test {

struct RawTable {
    std::string bytes;
    std::vector<xbase::DbfField> fields;
    xbase::DbfField nullFlags;
    bool hasNullFlags = false;
    std::uint32_t count = 0;
    std::uint16_t headerLength = 0, recordLength = 0;
    std::uint8_t codePageMark = 0;

    static RawTable load(const std::filesystem::path& p) {
        RawTable t;
        t.bytes = readFile(p);
        const auto u16 = [&](std::size_t at) {
            return static_cast<std::uint16_t>(static_cast<unsigned char>(t.bytes[at]) |
                                              (static_cast<unsigned char>(t.bytes[at + 1]) << 8));
        };
        std::memcpy(&t.count, t.bytes.data() + 4, 4);
        t.headerLength = u16(8);
        t.recordLength = u16(10);
        t.codePageMark = static_cast<std::uint8_t>(t.bytes[29]);
        int bit = 0;
        for (std::size_t at = 32; at + 32 <= t.headerLength && t.bytes[at] != 0x0D; at += 32) {
            xbase::DbfField f;
            f.name = std::string(t.bytes.data() + at, strnlen(t.bytes.data() + at, 11));
            f.type = t.bytes[at + 11];
            std::memcpy(&f.offset, t.bytes.data() + at + 12, 4);
            f.length = static_cast<unsigned char>(t.bytes[at + 16]);
            f.decimals = static_cast<unsigned char>(t.bytes[at + 17]);
            f.flags = static_cast<unsigned char>(t.bytes[at + 18]);
            if (f.type == '0') {
                t.nullFlags = f;
                t.hasNullFlags = true;
                continue;
            }
            if (f.type == 'V' || f.type == 'Q') f.varLengthBit = bit++;
            if (f.flags & xbase::field_flag::kNullable) f.nullBit = bit++;
            t.fields.push_back(f);
        }
        return t;
    }

    std::span<const std::uint8_t> record(std::uint32_t recno) const {
        return {reinterpret_cast<const std::uint8_t*>(bytes.data()) + headerLength +
                    static_cast<std::size_t>(recno - 1) * recordLength,
                recordLength};
    }
    const xbase::DbfField* nulls() const { return hasNullFlags ? &nullFlags : nullptr; }
    int codePage() const { return codePageMark == 0xC9 ? 1251 : 1252; }
};

} // namespace qm::test
