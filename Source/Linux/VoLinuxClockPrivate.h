// VoLinuxClockPrivate.h - the tick clock (60 ticks a second) on the monotonic clock.
#ifndef VOFOUNDATION_LINUX_VOLINUXCLOCKPRIVATE_H
#define VOFOUNDATION_LINUX_VOLINUXCLOCKPRIVATE_H

#include <cstdint>

/// Whole ticks of 1/60 s since the monotonic clock's start (system start,
/// without the time spent suspended): floor(nanoseconds * 60 / 10^9).
uint64_t VoLinuxTicks();

/// Sleeps until the tick counter reaches \p tick (at once when it already has)
/// and returns the counter at the end, which is at least \p tick. A signal
/// does not cut the wait short.
uint64_t VoLinuxWaitUntilTick(uint64_t tick);

/// Milliseconds of a tick count as the library reports them: the low 32 bits
/// of the count times 1000, wrapping modulo 2^32, divided by 60 - all in
/// unsigned 32-bit arithmetic, so the value restarts after 4,294,967 ticks.
uint32_t VoLinuxTicksToMilliseconds(uint64_t ticks);

/// Whole ticks for a wait of \p milliseconds, rounded up: (ms * 60 + 999) / 1000
/// (1 ms gives 1 tick, 17 ms 2, 1000 ms 60); 0 for ms <= 0. Computed in 64 bits,
/// so no wait length overflows.
uint64_t VoLinuxMillisecondsToTicks(long milliseconds);

/// The monotonic time, in nanoseconds, at which tick \p tick begins.
uint64_t VoLinuxTickStartNanoseconds(uint64_t tick);

#endif  // VOFOUNDATION_LINUX_VOLINUXCLOCKPRIVATE_H
