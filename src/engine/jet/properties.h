// Property blobs (MSysObjects.LvProp): table, column and query properties.
//
//   magic  "KKD\0" (Jet 3) or "MR2\0" (Jet 4 / ACE)
//   chunks u32 length (with these 6 bytes), u16 kind, body
//     kind 0x80  names: u16 length + name, repeated (names are referred to by index)
//     kind 0x00  the object's values; kind 0x01 one column's values.  Body:
//                u32 block length + u16 name length + name (empty for the object),
//                then entries: u16 entry length, u8 DDL flag, u8 type code,
//                u16 name index, u16 value length, value
// Values are encoded like column values of their type code.
#pragma once

#include "page_source.h"

#include <map>
#include <string>

namespace qm::jet {

struct PropertyValue {
    std::uint8_t type = 0;
    std::string bytes; // raw value
};

// child name ("" = the object itself) -> property name -> value.
using PropertyMap = std::map<std::string, std::map<std::string, PropertyValue>>;

// Parses a blob; damaged or unknown blobs give what could be read (they only
// refine how columns are described, so they never stop a table from opening).
PropertyMap parseProperties(const std::string& blob, bool jet3, const CodePage& codePage);

} // namespace qm::jet
