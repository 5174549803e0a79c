#pragma once

// Keys of the compared rows and the one order both sides are merged in.

#include <string>
#include <string_view>
#include <vector>

#include "reconcile/ColumnRule.h"

namespace reconcile {

// A key is one byte string per key column: text without its trailing blanks,
// numbers and dates in an encoding whose byte order is their numeric order.
using Key = std::vector<std::string>;

// Key parts compare as the engine compares text: byte by byte, unsigned, the
// shorter as if padded with blanks. So "D2\t" comes before "D2" (a tab is
// below the blank that pads "D2"), and "D2 " is "D2". The encoded numbers
// and dates are all of one length, and compare by their bytes.
int comparePart(std::string_view left, std::string_view right);
bool keyLess(const Key& left, const Key& right);

void encodeKeyPart(const Rule& rule, const Value& value, std::string& out);

}  // namespace reconcile
