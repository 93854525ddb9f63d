// VoLinuxClockTest.cpp - tick arithmetic, tick boundaries and waiting for ticks.
#include <gtest/gtest.h>
#include <time.h>

#include <climits>
#include <cstdint>

#include "Linux/VoLinuxClockPrivate.h"

namespace {

uint64_t MonotonicNanoseconds() {
  struct timespec now {};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000000000u + static_cast<uint64_t>(now.tv_nsec);
}

TEST(VoLinuxClock, TicksToMillisecondsWrapsLikeUnsigned32BitArithmetic) {
  const struct {
    uint64_t ticks;
    uint32_t ms;
  } cases[] = {
      {0, 0},
      {1, 16},
      {2, 33},
      {3, 50},
      {59, 983},
      {60, 1000},
      {3600 * 60, 3600000},
      {4294967, 71582783},  // the last count before the product wraps
      {4294968, 11},        // 4294968000 mod 2^32 = 704; 704 / 60 = 11
      {4294969, 28},        // 1704 / 60
      {0x100000000ull, 0},  // only the low 32 bits of the count take part
      {0x100000000ull + 60, 1000},
  };
  for (const auto& c : cases) EXPECT_EQ(VoLinuxTicksToMilliseconds(c.ticks), c.ms) << c.ticks;
}

TEST(VoLinuxClock, MillisecondsRoundUpToWholeTicks) {
  const struct {
    long ms;
    uint64_t ticks;
  } cases[] = {
      {LONG_MIN, 0},
      {-5, 0},
      {0, 0},
      {1, 1},
      {16, 1},
      {17, 2},
      {33, 2},
      {34, 3},
      {1000, 60},
      {1001, 61},
      {60000, 3600},
      {35791395, 2147484},  // ms * 60 no longer fits 32 bits here; no overflow
      {100000000000L, 6000000000ull},
  };
  for (const auto& c : cases) EXPECT_EQ(VoLinuxMillisecondsToTicks(c.ms), c.ticks) << c.ms;
  // The largest wait still gives a count in the right range (no wrap).
  EXPECT_GE(VoLinuxMillisecondsToTicks(LONG_MAX), static_cast<uint64_t>(LONG_MAX / 1000) * 60);
}

TEST(VoLinuxClock, TickStartIsTheFirstNanosecondOfTheTick) {
  EXPECT_EQ(VoLinuxTickStartNanoseconds(0), 0u);
  EXPECT_EQ(VoLinuxTickStartNanoseconds(1), 16666667u);
  EXPECT_EQ(VoLinuxTickStartNanoseconds(60), 1000000000u);
  EXPECT_EQ(VoLinuxTickStartNanoseconds(61), 1016666667u);
  for (uint64_t tick : {1ull, 2ull, 59ull, 61ull, 12345ull, 5184000ull, 987654321ull}) {
    const uint64_t ns = VoLinuxTickStartNanoseconds(tick);
    // floor(ns * 60 / 10^9) is the tick, one nanosecond earlier the tick before.
    EXPECT_EQ((ns / 1000000000u) * 60 + (ns % 1000000000u) * 60 / 1000000000u, tick);
    const uint64_t before = ns - 1;
    EXPECT_EQ((before / 1000000000u) * 60 + (before % 1000000000u) * 60 / 1000000000u, tick - 1);
  }
}

TEST(VoLinuxClock, TicksFollowTheMonotonicClock) {
  const uint64_t ns = MonotonicNanoseconds();
  const uint64_t ticks = VoLinuxTicks();
  const uint64_t expected = ns / 1000000000u * 60 + ns % 1000000000u * 60 / 1000000000u;
  EXPECT_GE(ticks, expected);
  EXPECT_LE(ticks, expected + 2);
  uint64_t last = ticks;
  for (int i = 0; i < 1000; ++i) {
    const uint64_t now = VoLinuxTicks();
    ASSERT_GE(now, last);
    last = now;
  }
}

TEST(VoLinuxClock, WaitingForAPastTickReturnsAtOnce) {
  const uint64_t now = VoLinuxTicks();
  const uint64_t t0 = MonotonicNanoseconds();
  EXPECT_GE(VoLinuxWaitUntilTick(now > 5 ? now - 5 : 0), now);
  EXPECT_GE(VoLinuxWaitUntilTick(now), now);
  EXPECT_LT(MonotonicNanoseconds() - t0, 5000000u);
}

TEST(VoLinuxClock, WaitingEndsAtTheStartOfTheTick) {
  const uint64_t target = VoLinuxTicks() + 3;
  const uint64_t reached = VoLinuxWaitUntilTick(target);
  const uint64_t ns = MonotonicNanoseconds();
  EXPECT_GE(reached, target);
  EXPECT_GE(ns, VoLinuxTickStartNanoseconds(target));
  // Not much later than asked (generous: the machine may be busy).
  EXPECT_LE(reached, target + 30);
}

}  // namespace
