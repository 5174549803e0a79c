#include "reconcile/KeyOrder.h"

#include <algorithm>
#include <bit>
#include <cstdint>

namespace reconcile {

using transfer::StoredAs;

namespace {

void putOrdered(std::uint64_t bits, std::string& out) {
    out.resize(8);
    for (int i = 7; i >= 0; --i, bits >>= 8) out[static_cast<std::size_t>(i)] = static_cast<char>(bits & 0xff);
}

}  // namespace

int comparePart(std::string_view left, std::string_view right) {
    const std::size_t common = std::min(left.size(), right.size());
    for (std::size_t i = 0; i < common; ++i) {
        const auto l = static_cast<unsigned char>(left[i]), r = static_cast<unsigned char>(right[i]);
        if (l != r) return l < r ? -1 : 1;
    }
    const int sign = left.size() > right.size() ? 1 : -1;
    for (const char c : (left.size() > right.size() ? left : right).substr(common)) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte != ' ') return byte < ' ' ? -sign : sign;
    }
    return 0;
}

bool keyLess(const Key& left, const Key& right) {
    for (std::size_t k = 0; k < left.size() && k < right.size(); ++k)
        if (const int order = comparePart(left[k], right[k]); order != 0) return order < 0;
    return left.size() < right.size();
}

void encodeKeyPart(const Rule& rule, const Value& value, std::string& out) {
    switch (rule.stored) {
        case StoredAs::Text:
        case StoredAs::Bytes:
            out.assign(withoutTrailingBlanks(value.text));
            return;
        case StoredAs::Number:
            if (rule.inUnits) {
                putOrdered(static_cast<std::uint64_t>(value.units) ^ (1ull << 63), out);
            } else {
                const double number = value.number == 0 ? 0.0 : value.number;  // -0 is 0
                const auto bits = std::bit_cast<std::uint64_t>(number);
                putOrdered(bits >> 63 ? ~bits : bits | (1ull << 63), out);
            }
            return;
        case StoredAs::Date: {
            const std::int64_t stamp =
                static_cast<std::int64_t>(value.date.firebirdDate()) * 864000000 + value.date.firebirdTime();
            putOrdered(static_cast<std::uint64_t>(stamp) ^ (1ull << 63), out);
            return;
        }
    }
}

}  // namespace reconcile
