#include "db/ScaledNumber.h"

#include "db/Error.h"

namespace db {

namespace {

// The tolerance the server adds to the half before it truncates a scaled
// double; without it, amounts whose double falls a hair below the half of
// the last decimal would be kept one unit short.
constexpr double kDoubleTolerance = 1e-14;

double powerOfTen(int exponent) {
    double result = 1;
    for (int i = 0; i < exponent; ++i) result *= 10;
    return result;
}

}  // namespace

std::int64_t scaledUnitsOfDouble(double value, int decimals) {
    double scaled = decimals >= 0 ? value * powerOfTen(decimals) : value / powerOfTen(-decimals);
    scaled += scaled > 0 ? 0.5 + kDoubleTolerance : -(0.5 + kDoubleTolerance);
    if (!(scaled > -9.2e18 && scaled < 9.2e18)) throw Error("numeric value is out of range");
    return static_cast<std::int64_t>(scaled);
}

}  // namespace db
