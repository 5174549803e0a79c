#include "reconcile/Amount.h"

#include <cmath>

#include "db/Query.h"

namespace reconcile {

void Amount::add(std::int64_t units, double value) {
    if (inUnits_)
        units_ += units;
    else
        value_ += value;
}

std::string Amount::text() const {
    if (inUnits_) return db::integerText(units_, -decimals_);
    // Rounded half away from zero to the column's decimals, as it is shown.
    const long double scaled = value_ * std::pow(10.0L, decimals_);
    if (decimals_ <= 0 || !(std::fabs(scaled) < 9.2e18L)) return db::doubleText(static_cast<double>(value_));
    return db::integerText(std::llroundl(scaled), -decimals_);
}

Amount Amount::minus(const Amount& other) const {
    Amount result(decimals_, inUnits_);
    result.units_ = units_ - other.units_;
    result.value_ = value_ - other.value_;
    return result;
}

}  // namespace reconcile
