#include "platform/system/DateTime.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

struct Moment
{
    QDate date;
    QTime time;
};

// Day-based values on both sides of 1899-12-30: below zero the integral part is still the date
// and the fraction's magnitude the time of day.
TEST(DateTimeTest, EncodesAndDecodesAroundTheEpoch)
{
    struct Case
    {
        Moment moment;
        TDateTime value;
    };
    const Case cases[] = {
        {{QDate(1899, 12, 30), QTime(0, 0)}, 0.0},    {{QDate(1899, 12, 30), QTime(18, 0)}, 0.75},
        {{QDate(1899, 12, 31), QTime(0, 0)}, 1.0},    {{QDate(1900, 1, 1), QTime(12, 0)}, 2.5},
        {{QDate(1899, 12, 29), QTime(0, 0)}, -1.0},   {{QDate(1899, 12, 29), QTime(6, 0)}, -1.25},
        {{QDate(1899, 12, 28), QTime(18, 0)}, -2.75}, {{QDate(1800, 1, 1), QTime(0, 0)}, -36522.0},
        {{QDate(2000, 1, 1), QTime(0, 0)}, 36526.0},  {{QDate(2024, 2, 29), QTime(12, 0)}, 45351.5},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_EQ(EncodeDateTime(c.moment.date, c.moment.time), c.value);
        EXPECT_EQ(DateOf(c.value), c.moment.date);
        EXPECT_EQ(TimeOf(c.value), c.moment.time);
    }
}

TEST(DateTimeTest, MillisecondsSurviveTheRoundTrip)
{
    for (const Moment &m : {Moment{QDate(2024, 2, 29), QTime(23, 59, 59, 999)},
                            Moment{QDate(2026, 12, 11), QTime(0, 0, 0, 1)},
                            Moment{QDate(1899, 12, 29), QTime(13, 14, 15, 167)},
                            Moment{QDate(1601, 1, 1), QTime(7, 0, 0, 500)},
                            Moment{QDate(9999, 12, 31), QTime(23, 59, 59, 999)}}) {
        const TDateTime value = EncodeDateTime(m.date, m.time);
        EXPECT_EQ(DateOf(value), m.date) << value;
        EXPECT_EQ(TimeOf(value), m.time) << value;
    }
}

TEST(DateTimeTest, DecodingRoundsToTheNearestMillisecond)
{
    constexpr double ms = 1.0 / MSecsPerDay;
    struct Case
    {
        TDateTime value;
        Moment expected;
    };
    const Case cases[] = {
        {0.5 + 0.4 * ms, {QDate(1899, 12, 30), QTime(12, 0, 0, 0)}},
        {0.5 + 0.6 * ms, {QDate(1899, 12, 30), QTime(12, 0, 0, 1)}},
        {0.5 - 0.4 * ms, {QDate(1899, 12, 30), QTime(12, 0, 0, 0)}},
        // Rounding up past midnight carries into the next day, in both directions.
        {2.0 - 0.4 * ms, {QDate(1900, 1, 1), QTime(0, 0)}},
        {-2.0 + 0.4 * ms, {QDate(1899, 12, 28), QTime(0, 0)}},
        {-1.5 - 0.6 * ms, {QDate(1899, 12, 29), QTime(12, 0, 0, 1)}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_EQ(DateOf(c.value), c.expected.date);
        EXPECT_EQ(TimeOf(c.value), c.expected.time);
    }
}

TEST(DateTimeTest, QDateTimeConversionKeepsTheWallClock)
{
    const QDateTime utc(QDate(2026, 3, 29), QTime(1, 30, 15, 42), Qt::UTC);
    const TDateTime value = DateTimeFromQDateTime(utc);
    EXPECT_EQ(value, EncodeDateTime(QDate(2026, 3, 29), QTime(1, 30, 15, 42)));
    EXPECT_EQ(DateTimeToQDateTime(value, Qt::UTC), utc);
    EXPECT_EQ(FormatDateTime(QStringLiteral("yyyy-MM-dd hh:mm:ss,zzz"), value),
              QStringLiteral("2026-03-29 01:30:15,042"));
}

TEST(DateTimeTest, NowIsTheLocalWallClock)
{
    const TDateTime before = DateTimeFromQDateTime(QDateTime::currentDateTime());
    const TDateTime now = Now();
    const TDateTime after = DateTimeFromQDateTime(QDateTime::currentDateTime());
    EXPECT_LE(before, now);
    EXPECT_LE(now, after);
}

} // namespace

TEST(DateTimeTest, ValuesBeyondAnyCalendarDecodeAsInvalid)
{
    for (const double value : {1e300, -1e300, std::numeric_limits<double>::infinity(),
                               std::numeric_limits<double>::quiet_NaN()}) {
        SCOPED_TRACE(value);
        EXPECT_FALSE(DateOf(value).isValid());
        EXPECT_FALSE(TimeOf(value).isValid());
        EXPECT_TRUE(FormatDateTime("yyyy", value).isEmpty());
    }
}
