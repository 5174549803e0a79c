#include "db/DateTime.h"

#include <cstdio>
#include <string>

namespace db {

namespace {

// Days from 1970-01-01 for a proleptic Gregorian date (H. Hinnant's algorithm).
std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void civilFromDays(std::int64_t z, int& year, int& month, int& day) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(y + (month <= 2));
}

// 1858-11-17, day zero of Firebird dates, counted from 1970-01-01.
constexpr std::int64_t kFirebirdEpoch = -40587;
constexpr std::uint32_t kUnitsPerSecond = 10000;

}  // namespace

DateTime DateTime::fromFirebird(std::int32_t date, std::uint32_t time) {
    DateTime value;
    civilFromDays(date + kFirebirdEpoch, value.year, value.month, value.day);
    value.tenThousandths = static_cast<int>(time % kUnitsPerSecond);
    std::uint32_t seconds = time / kUnitsPerSecond;
    value.seconds = static_cast<int>(seconds % 60);
    value.minutes = static_cast<int>(seconds / 60 % 60);
    value.hours = static_cast<int>(seconds / 3600);
    return value;
}

std::int32_t DateTime::firebirdDate() const {
    return static_cast<std::int32_t>(
        daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) - kFirebirdEpoch);
}

std::uint32_t DateTime::firebirdTime() const {
    return static_cast<std::uint32_t>((hours * 3600 + minutes * 60 + seconds)) * kUnitsPerSecond +
           static_cast<std::uint32_t>(tenThousandths);
}

std::string DateTime::toText() const {
    // Read as text for every movement: the digits are put in place by hand.
    // A part wider than its field goes to snprintf, which prints it whole.
    if (year < 0 || year > 9999 || month < 0 || month > 99 || day < 0 || day > 99 || hours < 0 || hours > 99 ||
        minutes < 0 || minutes > 99 || seconds < 0 || seconds > 99 || tenThousandths < 0 || tenThousandths > 9999) {
        char buffer[80];
        std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d.%04d", year, month, day, hours,
                      minutes, seconds, tenThousandths);
        return buffer;
    }
    std::string text = "0000-00-00 00:00:00.0000";
    const auto put = [&](std::size_t end, int value) {
        for (; value > 0; value /= 10) text[--end] = static_cast<char>('0' + value % 10);
    };
    put(4, year);
    put(7, month);
    put(10, day);
    put(13, hours);
    put(16, minutes);
    put(19, seconds);
    put(24, tenThousandths);
    return text;
}

}  // namespace db
