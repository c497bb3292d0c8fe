// Which column a destination gets for a field of a given ADO type code, so
// that no value of the source type is lost.  One table per destination;
// docs/type-mapping.md lists them.  Used by the catalog's Tables.Append and
// by SELECT ... INTO an external dBase target.
#pragma once

#include "storage/storage.h"

#include <cstdint>
#include <string>

namespace qm::sql {

enum class Destination : std::uint8_t {
    FoxPro,   // Visual FoxPro container or free-table folder
    DBase,    // dBase III / IV files written through the Access engine's dBase driver
    Access,   // .mdb / .accdb
};

// precision and scale matter for adNumeric / adDecimal (0 when unknown).
storage::ColumnSpec columnForAdoType(std::string name, int adoType, std::int32_t definedSize, int precision, int scale,
                                     Destination destination);

} // namespace qm::sql
