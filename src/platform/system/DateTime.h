// Day-based date-times: days since 1899-12-30 as a double, the fraction being the time of day.
#pragma once

#include <QDateTime>
#include <QString>

using TDateTime = double;

inline constexpr double SecsPerDay = 86400.0;
inline constexpr double MSecsPerDay = 86400000.0;

// The current local date-time.
TDateTime Now();

// Calendar fields of a date-time (local or UTC; the value carries no zone) and back. Values that
// are not finite or lie beyond a billion days give an invalid date and time.
TDateTime EncodeDateTime(const QDate &date, const QTime &time);
QDate DateOf(TDateTime value);
QTime TimeOf(TDateTime value);

// The wall-clock fields of dateTime as a day-based value; the zone of dateTime is not applied.
TDateTime DateTimeFromQDateTime(const QDateTime &dateTime);
// The value as a QDateTime of the given kind of time (local time by default).
QDateTime DateTimeToQDateTime(TDateTime value, Qt::TimeSpec timeSpec = Qt::LocalTime);

// UTC minus local time in minutes at the given moment, daylight saving included.
int LocalTimeZoneBiasMinutes(const QDateTime &moment);

// Formats with a QDateTime pattern ("yyyy-MM-dd hh:mm:ss,zzz").
QString FormatDateTime(const QString &pattern, TDateTime value);
