// Text sort orders of index keys: "General - Legacy" (Jet 4, ACE 2007 and
// later files that keep it) and "General" (the Access 2010 order).
//
// Every UTF-16 code unit has a handler read from the tables in data/:
//   S  inline bytes                     I  inline bytes + extra bytes
//   U  bytes of the "unprintable" part  P  modifier added to the last extra byte
//   Z  inline + extra + a 2-bit code    X  ignored
// Surrogates are computed.  The encoding of one value (after the flag byte):
// inline bytes, 01, then when any part exists: extra bytes (trailing 00-02
// trimmed), 01 01, packed 2-bit codes + FF 02 80 FF 80 [+ FF], 01 + unprintable
// bytes; 00 at the end.  Descending keys invert all of it and add a final 00.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qm::jet {

class Collation {
public:
    enum class Kind { GeneralLegacy, General };
    static const Collation& get(Kind kind);

    // Appends the key bytes of `text` (UTF-16 code units, already cut to 255
    // units and stripped of trailing spaces) after the flag byte.
    void encode(std::u16string_view text, bool ascending, std::string& out) const;

private:
    struct Code {
        char type = 'X';
        std::uint8_t flag = 0; // Z: 1 -> code 02, else 03
        std::string inlineBytes, extraBytes, unprintable;
    };
    Collation(const char* base, const char* ext, const char* name);
    const Code& code(char16_t ch) const;
    std::vector<Code> codes_; // 65,536 slots; surrogates unused
};

} // namespace qm::jet
