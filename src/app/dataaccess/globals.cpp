#include "dataaccess/globals.h"

namespace qm::dataaccess {

std::vector<std::int16_t> FieldTypes;
std::vector<std::int32_t> FieldSizes;
std::int16_t CustomizeCancelled = kFalse;

} // namespace qm::dataaccess
