#pragma once

#include <cstdint>

namespace db {

// The integer a column of exact numbers with `decimals` decimals (NUMERIC or
// DECIMAL kept as a scaled SMALLINT, INTEGER or BIGINT) stores for a double
// it is sent: the server scales the double and rounds it half away from zero
// with a small tolerance, so 1.005, whose double lies just below it, is kept
// as 1.01. Throws db::Error when the value does not fit a 64-bit integer.
std::int64_t scaledUnitsOfDouble(double value, int decimals);

}  // namespace db
