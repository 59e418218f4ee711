// Zone-tagged date-times: a local date-time that remembers the time zone bias in force when it
// was taken, so it can be turned into UTC later without guessing.
#pragma once

#include "platform/com/FileTime.h"
#include "platform/system/DateTime.h"

#include <compare>
#include <cstdint>

struct TZonedDateTime
{
    TDateTime Local = 0;          // local wall-clock date-time, days since 1899-12-30
    std::int8_t BiasQuarters = 0; // UTC minus local time in quarter hours

    bool IsZero() const { return Local == 0; }
    friend bool operator==(const TZonedDateTime &, const TZonedDateTime &) = default;
    // Ordered by the local value, as the tagged date-time is used as an ordinary one.
    friend auto operator<=>(const TZonedDateTime &a, const TZonedDateTime &b)
    {
        return a.Local <=> b.Local;
    }
};

// The bias in minutes (UTC minus local) as quarter hours, rounded.
std::int8_t BiasToQuarters(int biasMinutes);

// The current local time, tagged with the bias in force now.
TZonedDateTime NowWithTimeZone();
// A UTC file time shifted to local time by the bias in force now, and tagged with it.
TZonedDateTime FileTimeToLocalWithTimeZone(const FILETIME &fileTime);
// The UTC date-time of a tagged local one.
TDateTime LocalToUTC(const TZonedDateTime &value);
