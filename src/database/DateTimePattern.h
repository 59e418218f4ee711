// Formats date-times with the classic pattern letters that configurations use for time-stamp
// columns ("YYYY-MM-DD hh:mm:ss").
#pragma once

#include "platform/system/DateTime.h"

#include <QLocale>
#include <QString>

// Letters are case-insensitive: yyyy/yy year; m/mm month (mmm/mmmm its short/long name);
// d/dd day (ddd/dddd the weekday's short/long name); h/hh hour; n/nn minute, and m/mm directly
// after an hour also minute; s/ss second; z/zzz milliseconds; am/pm prints "am" or "pm" in the
// pattern's case and makes the hours 12-hour. Text in single or double quotes is copied, "/" and
// ":" become the locale's date and time separators, every other character is copied.
QString FormatDateTimePattern(const QString &pattern, TDateTime value,
                              const QLocale &locale = QLocale());

// The separators the locale's short formats use ("." and ":" in German).
QChar LocaleDateSeparator(const QLocale &locale);
QChar LocaleTimeSeparator(const QLocale &locale);
