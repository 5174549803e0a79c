#pragma once

#include <cstdint>
#include <string>

namespace reconcile {

// A sum of one money column over the values each row stores, shown to the
// column's last decimal as SUM gives it: exactly, in units of that decimal,
// for a column of scaled integers; as the sum of the doubles, rounded only
// when shown, for a column kept as a double (dialect 1 NUMERIC), whose rows
// may carry fractions of a cent.
class Amount {
public:
    Amount() = default;
    Amount(int decimals, bool inUnits) : decimals_(decimals), inUnits_(inUnits) {}

    // `units` for a column of scaled integers, `value` for the others.
    void add(std::int64_t units, double value);
    std::string text() const;
    Amount minus(const Amount& other) const;

private:
    int decimals_ = 0;
    bool inUnits_ = true;
    std::int64_t units_ = 0;
    long double value_ = 0;
};

}  // namespace reconcile
