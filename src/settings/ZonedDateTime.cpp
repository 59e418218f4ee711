#include "settings/ZonedDateTime.h"

#include <cmath>

namespace {
constexpr double MinutesPerDay = 1440.0;
}

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
    const int biasMinutes = LocalTimeZoneBiasMinutes(QDateTime::currentDateTime());
    const QDateTime local = FileTimeToQDateTime(fileTime).addSecs(-biasMinutes * 60);
    return {DateTimeFromQDateTime(local), BiasToQuarters(biasMinutes)};
}

TDateTime LocalToUTC(const TZonedDateTime &value)
{
    return value.Local + value.BiasQuarters * 15 / MinutesPerDay;
}
