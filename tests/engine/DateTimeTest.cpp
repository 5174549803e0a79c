#include <firebird/Interface.h>
#include <gtest/gtest.h>

#include "db/DateTime.h"

namespace {

using db::DateTime;

Firebird::IUtil* util() { return Firebird::fb_get_master_interface()->getUtilInterface(); }

TEST(DateTime, ZeroIsThirtiethOfDecember1899AtMidnight) {
    const DateTime zero;
    EXPECT_EQ(zero, (DateTime{1899, 12, 30, 0, 0, 0, 0}));
    EXPECT_EQ(zero.firebirdDate(), 15018);  // days after 17 November 1858
    EXPECT_EQ(zero.firebirdTime(), 0u);
    EXPECT_EQ(DateTime::fromFirebird(15018, 0), zero);
    EXPECT_EQ(zero.toText(), "1899-12-30 00:00:00.0000");
}

TEST(DateTime, KnownDays) {
    EXPECT_EQ(DateTime::fromFirebird(0, 0), (DateTime{1858, 11, 17}));
    EXPECT_EQ((DateTime{2000, 1, 1}).firebirdDate(), 51544);
    EXPECT_EQ((DateTime{1, 1, 1}).firebirdDate(), -678575);
    EXPECT_EQ(DateTime::fromFirebird(-678575, 0), (DateTime{1, 1, 1}));
    EXPECT_EQ(DateTime::fromFirebird(2973483, 0), (DateTime{9999, 12, 31}));
}

// Every day Firebird can store, against the client library's own decoding.
TEST(DateTime, DayNumbersAgreeWithTheClientLibraryOverTheWholeRange) {
    for (int day = -678575; day <= 2973483; day += 1) {
        unsigned year = 0, month = 0, dayOfMonth = 0;
        util()->decodeDate(day, &year, &month, &dayOfMonth);
        const DateTime value = DateTime::fromFirebird(day, 0);
        ASSERT_EQ(value.year, static_cast<int>(year)) << day;
        ASSERT_EQ(value.month, static_cast<int>(month)) << day;
        ASSERT_EQ(value.day, static_cast<int>(dayOfMonth)) << day;
        ASSERT_EQ(value.firebirdDate(), day);
    }
}

TEST(DateTime, TimeOfDayAgreesWithTheClientLibrary) {
    for (unsigned h : {0u, 1u, 12u, 23u})
        for (unsigned m : {0u, 30u, 59u})
            for (unsigned s : {0u, 1u, 59u})
                for (unsigned f : {0u, 1u, 5000u, 9999u}) {
                    const ISC_TIME encoded = util()->encodeTime(h, m, s, f);
                    const DateTime value = DateTime::fromFirebird(51544, encoded);
                    EXPECT_EQ(value, (DateTime{2000, 1, 1, static_cast<int>(h), static_cast<int>(m),
                                               static_cast<int>(s), static_cast<int>(f)}));
                    EXPECT_EQ(value.firebirdTime(), encoded);
                }
}

TEST(DateTime, LeapDays) {
    for (const DateTime& date : {DateTime{2024, 2, 29}, DateTime{2000, 2, 29}, DateTime{1904, 2, 29}}) {
        EXPECT_EQ(DateTime::fromFirebird(date.firebirdDate(), 0), date);
        EXPECT_EQ(date.firebirdDate() + 1, (DateTime{date.year, 3, 1}).firebirdDate());
    }
    // 1900 is not a leap year: 28 February is followed by 1 March.
    EXPECT_EQ((DateTime{1900, 2, 28}).firebirdDate() + 1, (DateTime{1900, 3, 1}).firebirdDate());
}

TEST(DateTime, TextFormIsFixedWidthAndLocaleFree) {
    EXPECT_EQ((DateTime{2024, 3, 5, 7, 8, 9, 12}).toText(), "2024-03-05 07:08:09.0012");
    EXPECT_EQ((DateTime{2024, 12, 31, 23, 59, 59, 9999}).toText(), "2024-12-31 23:59:59.9999");
    EXPECT_EQ((DateTime{33, 1, 2}).toText(), "0033-01-02 00:00:00.0000");
    EXPECT_EQ((DateTime{1, 1, 1}).toText(), "0001-01-01 00:00:00.0000");
    EXPECT_EQ((DateTime{9999, 12, 31, 0, 0, 0, 1000}).toText(), "9999-12-31 00:00:00.1000");
    // A part wider than its field is printed whole, as printf widths do.
    EXPECT_EQ((DateTime{10000, 1, 1}).toText(), "10000-01-01 00:00:00.0000");
}

TEST(DateTime, DateOnlyDropsTheTimeOfDay) {
    const DateTime value{2024, 3, 15, 14, 30, 5, 1234};
    EXPECT_EQ(value.dateOnly(), (DateTime{2024, 3, 15}));
    EXPECT_EQ(value.dateOnly().firebirdDate(), value.firebirdDate());
    EXPECT_EQ(value.dateOnly().firebirdTime(), 0u);
}

}  // namespace
