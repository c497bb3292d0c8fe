// Property blobs as the writer stores them in MSysObjects.LvProp (Jet 4 /
// ACE, "MR2\0"; the layout is in properties.h):
//   magic, the names block (kind 0x0080: u16 length + UTF-16 name each),
//   then one value block per object: kind 0x0000 for the object itself,
//   0x0001 for one of its columns; each starts with u32 6 + name bytes and
//   u16 name bytes + the UTF-16 name (empty for the object itself) and holds
//   entries of u16 length, u8 engine flag, u8 type, u16 name index,
//   u16 value length and the value.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qm::jet {

class PropertyBlobWriter {
public:
    // Starts the value block of the object itself (empty name) or of a column.
    void beginBlock(std::string_view name, std::uint16_t kind);
    // Adds a property to the current block; `value` holds its stored bytes.
    void add(std::string_view property, std::uint8_t type, bool engine, std::string_view value);
    // The whole blob.
    std::string blob() const;

private:
    std::uint16_t nameIndex(std::string_view property);
    void closeBlock();

    std::vector<std::string> names_;
    std::string blocks_;
    std::string current_;
    std::uint16_t currentKind_ = 0;
    bool open_ = false;
};

// UTF-8 text as the UTF-16LE bytes a property value or name takes.
std::string utf16Bytes(std::string_view utf8);

} // namespace qm::jet
