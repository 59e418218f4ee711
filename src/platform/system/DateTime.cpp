#include "platform/system/DateTime.h"

#include <cmath>

namespace {
const QDate &Epoch()
{
    static const QDate epoch(1899, 12, 30);
    return epoch;
}

// Splits a value into whole days and milliseconds of the day, as day-based date-times do:
// the integral part is the date and the magnitude of the fraction is the time, also below zero.
// Far beyond any calendar; also keeps the casts below defined.
constexpr double MaxDays = 1e9;

bool InRange(TDateTime value)
{
    return std::isfinite(value) && std::fabs(value) <= MaxDays;
}

void Split(TDateTime value, qint64 &days, qint64 &msecs)
{
    if (!InRange(value)) {
        days = 0;
        msecs = 0;
        return;
    }
    const double whole = std::trunc(value);
    days = static_cast<qint64>(whole);
    msecs = std::llround(std::fabs(value - whole) * MSecsPerDay);
    if (msecs >= static_cast<qint64>(MSecsPerDay)) {
        msecs -= static_cast<qint64>(MSecsPerDay);
        days += value < 0 ? -1 : 1;
    }
}
} // namespace

TDateTime EncodeDateTime(const QDate &date, const QTime &time)
{
    const double days = static_cast<double>(Epoch().daysTo(date));
    const double fraction = time.isValid() ? time.msecsSinceStartOfDay() / MSecsPerDay : 0.0;
    return days >= 0 ? days + fraction : days - fraction;
}

QDate DateOf(TDateTime value)
{
    if (!InRange(value))
        return {};
    qint64 days = 0, msecs = 0;
    Split(value, days, msecs);
    return Epoch().addDays(days);
}

QTime TimeOf(TDateTime value)
{
    if (!InRange(value))
        return {};
    qint64 days = 0, msecs = 0;
    Split(value, days, msecs);
    return QTime::fromMSecsSinceStartOfDay(static_cast<int>(msecs));
}

TDateTime DateTimeFromQDateTime(const QDateTime &dateTime)
{
    return EncodeDateTime(dateTime.date(), dateTime.time());
}

QDateTime DateTimeToQDateTime(TDateTime value, Qt::TimeSpec timeSpec)
{
    return QDateTime(DateOf(value), TimeOf(value), timeSpec);
}

TDateTime Now()
{
    return DateTimeFromQDateTime(QDateTime::currentDateTime());
}

int LocalTimeZoneBiasMinutes(const QDateTime &moment)
{
    return -moment.toLocalTime().offsetFromUtc() / 60;
}

QString FormatDateTime(const QString &pattern, TDateTime value)
{
    return DateTimeToQDateTime(value).toString(pattern);
}
