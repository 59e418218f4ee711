#include "settings/ZonedDateTime.h"

#include <cmath>
#include <ctime>

namespace {
constexpr double MinutesPerDay = 1440.0;
constexpr std::int64_t MSecsPerDayInt = 86400000;
// Days from 1601-01-01, where file times start, to 1899-12-30, where date-times start.
constexpr std::int64_t FileTimeEpochToDateTimeEpochDays = 109205;

// UTC minus local time now, in minutes; localtime_r is much cheaper than a QDateTime round trip
// and this runs for every item of every data change.
int CurrentBiasMinutes()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (!localtime_r(&now, &local))
        return 0;
    return -static_cast<int>(local.tm_gmtoff / 60);
}
} // namespace

std::int8_t BiasToQuarters(int biasMinutes)
{
    return static_cast<std::int8_t>(std::lround(biasMinutes / 15.0));
}

TZonedDateTime NowWithTimeZone()
{
    const QDateTime now = QDateTime::currentDateTime();
    return {DateTimeFromQDateTime(now), BiasToQuarters(LocalTimeZoneBiasMinutes(now))};
}

TZonedDateTime FileTimeToLocalWithTimeZone(const FILETIME &fileTime)
{
    // Like a local file time: shifted by the bias in force now, not the one at that moment,
    // so that LocalToUTC gives back exactly the time stamp the server sent.
    const int biasMinutes = CurrentBiasMinutes();
    const std::int64_t localMSecs =
        static_cast<std::int64_t>(FileTimeToUInt64(fileTime) / 10000) - biasMinutes * 60000LL;
    const std::int64_t days = localMSecs / MSecsPerDayInt - FileTimeEpochToDateTimeEpochDays;
    if (localMSecs < 0 || days < 0) {
        // Before 1899-12-30 the day-based form counts the time of day backwards.
        const QDateTime local = FileTimeToQDateTime(fileTime).addSecs(-biasMinutes * 60);
        return {DateTimeFromQDateTime(local), BiasToQuarters(biasMinutes)};
    }
    const auto msecsOfDay = static_cast<double>(localMSecs % MSecsPerDayInt);
    return {static_cast<double>(days) + msecsOfDay / MSecsPerDay, BiasToQuarters(biasMinutes)};
}

TDateTime LocalToUTC(const TZonedDateTime &value)
{
    return value.Local + value.BiasQuarters * 15 / MinutesPerDay;
}
