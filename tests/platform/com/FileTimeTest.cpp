#include "platform/com/FileTime.h"

#include <gtest/gtest.h>

// Readable failures instead of the object's bytes.
void PrintTo(const QDateTime &value, std::ostream *out)
{
    *out << value.toString(Qt::ISODateWithMs).toStdString();
}

namespace {

constexpr std::uint64_t TicksAt1970 = 116444736000000000ULL;

TEST(FileTimeTest, SplitsIntoHighAndLowWords)
{
    const FILETIME fileTime = UInt64ToFileTime(0x0123456789ABCDEFULL);
    EXPECT_EQ(fileTime.dwHighDateTime, 0x01234567u);
    EXPECT_EQ(fileTime.dwLowDateTime, 0x89ABCDEFu);
    EXPECT_EQ(FileTimeToUInt64(fileTime), 0x0123456789ABCDEFULL);
    EXPECT_EQ(FileTimeToUInt64(FILETIME{0xFFFFFFFFu, 0xFFFFFFFFu}), ~0ULL);
}

TEST(FileTimeTest, KnownMomentsConvertBothWays)
{
    struct Case
    {
        std::uint64_t ticks;
        QDateTime utc;
    };
    const Case cases[] = {
        {0, QDateTime(QDate(1601, 1, 1), QTime(0, 0), Qt::UTC)},
        {TicksAt1970, QDateTime(QDate(1970, 1, 1), QTime(0, 0), Qt::UTC)},
        {TicksAt1970 - 10000, QDateTime(QDate(1969, 12, 31), QTime(23, 59, 59, 999), Qt::UTC)},
        // 2024-02-29 12:34:56.789 UTC
        {TicksAt1970 + 1709210096789ULL * 10000,
         QDateTime(QDate(2024, 2, 29), QTime(12, 34, 56, 789), Qt::UTC)},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.ticks);
        EXPECT_EQ(FileTimeToQDateTime(UInt64ToFileTime(c.ticks)), c.utc);
        EXPECT_EQ(FileTimeToUInt64(QDateTimeToFileTime(c.utc)), c.ticks);
    }
}

TEST(FileTimeTest, TicksFinerThanAMillisecondAreDropped)
{
    // Dropping sub-millisecond ticks must never move a moment to the next millisecond, on
    // either side of 1970.
    for (const std::uint64_t wholeMSec :
         {TicksAt1970 + 12340000, TicksAt1970 - 12340000, std::uint64_t{10000}, std::uint64_t{0}}) {
        const QDateTime expected = FileTimeToQDateTime(UInt64ToFileTime(wholeMSec));
        for (const std::uint64_t extra : {1, 5000, 9999}) {
            const QDateTime converted = FileTimeToQDateTime(UInt64ToFileTime(wholeMSec + extra));
            EXPECT_EQ(converted, expected) << wholeMSec << " + " << extra;
            EXPECT_EQ(FileTimeToUInt64(QDateTimeToFileTime(converted)), wholeMSec);
        }
    }
}

TEST(FileTimeTest, MomentsBefore1601BecomeZero)
{
    const QDateTime early(QDate(1600, 12, 31), QTime(23, 59), Qt::UTC);
    EXPECT_EQ(FileTimeToUInt64(QDateTimeToFileTime(early)), 0u);
}

TEST(FileTimeTest, CurrentFileTimeIsNow)
{
    const QDateTime before = QDateTime::currentDateTimeUtc();
    const QDateTime now = FileTimeToQDateTime(CurrentFileTime());
    const QDateTime after = QDateTime::currentDateTimeUtc();
    EXPECT_LE(before, now);
    EXPECT_LE(now, after);
}

} // namespace
