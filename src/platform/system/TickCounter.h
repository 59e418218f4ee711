// Millisecond tick counter and high-resolution counter from the monotonic clock.
#pragma once

#include <cstdint>

// Milliseconds since an arbitrary start, wrapping at 2^32; take differences as unsigned 32-bit.
std::uint32_t GetTickCount();

// A high-resolution counter and its ticks per second.
std::int64_t QueryPerformanceCounter();
std::int64_t QueryPerformanceFrequency();
