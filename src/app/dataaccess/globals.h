// The program-wide variables through which a transfer and the data type
// customization window hand field types back and forth.
#pragma once

#include <cstdint>
#include <vector>

namespace qm::dataaccess {

// One entry per field of the table being sent, in field order, from 0:
// the ADO type code and the declared size each field is to get.
extern std::vector<std::int16_t> FieldTypes;
extern std::vector<std::int32_t> FieldSizes;

// True (-1) from the moment a transfer shows the customization window until
// the user presses "OK"; still True when the window closed means cancelled.
inline constexpr std::int16_t kTrue = -1;
inline constexpr std::int16_t kFalse = 0;
extern std::int16_t CustomizeCancelled;

} // namespace qm::dataaccess
