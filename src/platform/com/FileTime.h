// FILETIME: 100-nanosecond intervals since 1601-01-01 UTC, as OPC time stamps carry them.
#pragma once

#include <QDateTime>
#include <cstdint>

struct FILETIME
{
    std::uint32_t dwLowDateTime = 0;
    std::uint32_t dwHighDateTime = 0;
    friend bool operator==(const FILETIME &, const FILETIME &) = default;
};

std::uint64_t FileTimeToUInt64(const FILETIME &fileTime);
FILETIME UInt64ToFileTime(std::uint64_t ticks);

// The UTC moment of a file time (milliseconds kept, finer units dropped) and back.
QDateTime FileTimeToQDateTime(const FILETIME &fileTime);
FILETIME QDateTimeToFileTime(const QDateTime &moment);
// The current time as a file time.
FILETIME CurrentFileTime();
