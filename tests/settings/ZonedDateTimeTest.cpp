#include "settings/ZonedDateTime.h"

#include <QFile>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <cmath>
#include <ctime>
#include <memory>

namespace {

// Switches the process's local time zone and puts the previous one back.
class ScopedTimeZone
{
public:
    explicit ScopedTimeZone(const QByteArray &zone)
        : m_HadPrevious(qEnvironmentVariableIsSet("TZ")), m_Previous(qgetenv("TZ"))
    {
        qputenv("TZ", zone);
        tzset();
    }
    ~ScopedTimeZone()
    {
        if (m_HadPrevious)
            qputenv("TZ", m_Previous);
        else
            qunsetenv("TZ");
        tzset();
    }
    ScopedTimeZone(const ScopedTimeZone &) = delete;
    ScopedTimeZone &operator=(const ScopedTimeZone &) = delete;

private:
    bool m_HadPrevious;
    QByteArray m_Previous;
};

bool ZoneInstalled(const QByteArray &zone)
{
    const QByteArray dir =
        qEnvironmentVariableIsSet("TZDIR") ? qgetenv("TZDIR") : QByteArray("/usr/share/zoneinfo");
    return QFile::exists(QString::fromLatin1(dir + '/' + zone)) && QTimeZone(zone).isValid();
}

// UTC minus local time in quarter hours, from the zone database rather than the local clock.
int ExpectedBiasQuarters(const QByteArray &zone)
{
    return -QTimeZone(zone).offsetFromUtc(QDateTime::currentDateTimeUtc()) / (15 * 60);
}

qint64 ToMSecs(TDateTime value)
{
    return std::llround(value * MSecsPerDay);
}

TEST(ZonedDateTimeTest, BiasIsRoundedToQuarterHours)
{
    struct Case
    {
        int minutes;
        int quarters;
    };
    const Case cases[] = {{0, 0},    {60, 4},     {-60, -4},   {-120, -8}, {-330, -22},
                          {210, 14}, {-345, -23}, {-840, -56}, {7, 0},     {8, 1},
                          {-8, -1},  {22, 1},     {23, 2},     {-23, -2}};
    for (const Case &c : cases)
        EXPECT_EQ(BiasToQuarters(c.minutes), c.quarters) << c.minutes;
}

// Zones with whole-hour, half-hour, negative and daylight-saving offsets.
class ZonedDateTimeInZoneTest : public ::testing::TestWithParam<const char *>
{
protected:
    void SetUp() override
    {
        if (!ZoneInstalled(GetParam()))
            GTEST_SKIP() << "time zone " << GetParam() << " is not installed";
        m_Zone = std::make_unique<ScopedTimeZone>(GetParam());
    }
    void TearDown() override { m_Zone.reset(); }

    std::unique_ptr<ScopedTimeZone> m_Zone;
};

TEST_P(ZonedDateTimeInZoneTest, NowCarriesTheCurrentBiasAndGivesBackTheUtcMoment)
{
    const TDateTime before = DateTimeFromQDateTime(QDateTime::currentDateTimeUtc());
    const TZonedDateTime now = NowWithTimeZone();
    const TDateTime after = DateTimeFromQDateTime(QDateTime::currentDateTimeUtc());

    EXPECT_EQ(now.BiasQuarters, ExpectedBiasQuarters(GetParam()));
    EXPECT_LE(ToMSecs(before), ToMSecs(LocalToUTC(now)));
    EXPECT_LE(ToMSecs(LocalToUTC(now)), ToMSecs(after));
}

TEST_P(ZonedDateTimeInZoneTest, FileTimeBecomesLocalTimeOfTheSameMoment)
{
    const int bias = ExpectedBiasQuarters(GetParam());
    for (const QDateTime &utc : {QDateTime(QDate(2026, 1, 15), QTime(12, 0), Qt::UTC),
                                 QDateTime(QDate(2026, 7, 15), QTime(23, 59, 59, 999), Qt::UTC),
                                 QDateTime(QDate(2025, 3, 30), QTime(0, 30, 0, 125), Qt::UTC),
                                 QDateTime(QDate(1999, 12, 31), QTime(22, 0), Qt::UTC)}) {
        SCOPED_TRACE(utc.toString(Qt::ISODateWithMs).toStdString());
        // Ticks finer than a millisecond are dropped, not rounded.
        const FILETIME fileTime =
            UInt64ToFileTime(FileTimeToUInt64(QDateTimeToFileTime(utc)) + 9999);

        const TZonedDateTime local = FileTimeToLocalWithTimeZone(fileTime);

        // Shifted by the bias in force now, whatever the season of the time stamp.
        EXPECT_EQ(local.BiasQuarters, bias);
        const QDateTime wallClock = utc.addSecs(-bias * 15 * 60);
        EXPECT_EQ(ToMSecs(local.Local), ToMSecs(DateTimeFromQDateTime(wallClock)));
        EXPECT_EQ(DateTimeToQDateTime(local.Local, Qt::UTC), wallClock);
        EXPECT_EQ(ToMSecs(LocalToUTC(local)), ToMSecs(DateTimeFromQDateTime(utc)));
    }
}

INSTANTIATE_TEST_SUITE_P(Zones, ZonedDateTimeInZoneTest,
                         ::testing::Values("UTC", "Asia/Kolkata", "Europe/Berlin",
                                           "America/St_Johns"),
                         [](const auto &info) {
                             QByteArray name(info.param);
                             return name.replace('/', '_').toStdString();
                         });

TEST(ZonedDateTimeTest, TaggedTimesConvertWithTheirOwnBiasAfterTheZoneChanged)
{
    if (!ZoneInstalled("Asia/Kolkata") || !ZoneInstalled("America/St_Johns"))
        GTEST_SKIP() << "time zones are not installed";
    const QDateTime utc(QDate(2026, 12, 11), QTime(8, 0, 0, 5), Qt::UTC);
    TZonedDateTime taken;
    {
        ScopedTimeZone kolkata("Asia/Kolkata");
        taken = FileTimeToLocalWithTimeZone(QDateTimeToFileTime(utc));
    }
    ScopedTimeZone stJohns("America/St_Johns");
    EXPECT_EQ(taken.BiasQuarters, -22);
    EXPECT_EQ(ToMSecs(LocalToUTC(taken)), ToMSecs(DateTimeFromQDateTime(utc)));
}

} // namespace
