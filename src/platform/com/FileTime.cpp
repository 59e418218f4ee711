#include "platform/com/FileTime.h"

namespace {
// File-time ticks from 1601-01-01 to 1970-01-01.
constexpr std::uint64_t UnixEpochTicks = 116444736000000000ULL;
constexpr std::uint64_t TicksPerMSec = 10000;
} // namespace

std::uint64_t FileTimeToUInt64(const FILETIME &fileTime)
{
    return (static_cast<std::uint64_t>(fileTime.dwHighDateTime) << 32) | fileTime.dwLowDateTime;
}

FILETIME UInt64ToFileTime(std::uint64_t ticks)
{
    return FILETIME{static_cast<std::uint32_t>(ticks & 0xFFFFFFFFu),
                    static_cast<std::uint32_t>(ticks >> 32)};
}

QDateTime FileTimeToQDateTime(const FILETIME &fileTime)
{
    // Divided while still unsigned, so sub-millisecond ticks are dropped downwards before 1970
    // too (a signed division would round those up to the next millisecond).
    const qint64 msecs = static_cast<qint64>(FileTimeToUInt64(fileTime) / TicksPerMSec) -
                         static_cast<qint64>(UnixEpochTicks / TicksPerMSec);
    return QDateTime::fromMSecsSinceEpoch(msecs, Qt::UTC);
}

FILETIME QDateTimeToFileTime(const QDateTime &moment)
{
    const qint64 ticks = moment.toMSecsSinceEpoch() * static_cast<qint64>(TicksPerMSec) +
                         static_cast<qint64>(UnixEpochTicks);
    return UInt64ToFileTime(ticks < 0 ? 0 : static_cast<std::uint64_t>(ticks));
}

FILETIME CurrentFileTime()
{
    return QDateTimeToFileTime(QDateTime::currentDateTimeUtc());
}
