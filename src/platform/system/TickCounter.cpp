#include "platform/system/TickCounter.h"

#include <chrono>

std::uint32_t GetTickCount()
{
    using namespace std::chrono;
    return static_cast<std::uint32_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

std::int64_t QueryPerformanceCounter()
{
    using namespace std::chrono;
    return duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count();
}

std::int64_t QueryPerformanceFrequency()
{
    return 1'000'000'000;
}
