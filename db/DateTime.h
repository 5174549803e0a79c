#pragma once

#include <cstdint>
#include <string>

namespace db {

// A calendar date with a time of day, as the branch rows hold it. The
// default value is the zero date-time, 30 December 1899 at midnight, which is
// what a NULL reads as.
struct DateTime {
    int year = 1899;
    int month = 12;
    int day = 30;
    int hours = 0;
    int minutes = 0;
    int seconds = 0;
    int tenThousandths = 0;  // Firebird keeps time in 1/10000 s

    bool operator==(const DateTime&) const = default;

    DateTime dateOnly() const { return DateTime{year, month, day, 0, 0, 0, 0}; }

    // Firebird's on-the-wire forms: days since 17 November 1858 and the time
    // of day in units of 1/10000 second.
    static DateTime fromFirebird(std::int32_t date, std::uint32_t time);
    std::int32_t firebirdDate() const;
    std::uint32_t firebirdTime() const;

    // "YYYY-MM-DD HH:MM:SS.ffff": fixed, locale-free, and parsed back by the
    // server into a timestamp column.
    std::string toText() const;
};

}  // namespace db
