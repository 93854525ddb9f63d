// VoSystemClockTest.cpp - Tests of VoSystem's clock: ticks, delays and the time measurement line.
#include "VoSystem/VoSystem.h"

#include <regex.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "VoSystem/VoSystemTestSupport.h"

namespace {

using namespace vo_test;

TEST(VoSystemClock, TickCountMovesInTicksWithTheMonotonicClock) {
  // Values are whole ticks: steps of 16 or 17 ms.
  unsigned long last = VoSystem::TickCount();
  int steps = 0;
  const double end = Seconds() + 0.2;
  while (Seconds() < end) {
    const unsigned long now = VoSystem::TickCount();
    if (now != last) {
      // k ticks are floor or ceil of k * 50 / 3 milliseconds.
      const long step = static_cast<long>(static_cast<uint32_t>(now - last));
      const long k = (step * 3 + 25) / 50;
      EXPECT_GE(k, 1) << step;
      EXPECT_LT(std::labs(step * 3 - 50 * k), 3) << step;
      ++steps;
      last = now;
    }
  }
  EXPECT_GE(steps, 3);  // 12 ticks passed; a busy machine may let us see only some
  EXPECT_LE(VoSystem::TickCount(), 0xFFFFFFFFul);

  // Against steady_clock over a Delay.
  const unsigned long t0 = VoSystem::TickCount();
  const auto c0 = std::chrono::steady_clock::now();
  VoSystem::Delay(300);
  const unsigned long t1 = VoSystem::TickCount();
  const double real =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - c0).count();
  EXPECT_NEAR(static_cast<double>(static_cast<uint32_t>(t1 - t0)), real, 50.0);
}

TEST(VoSystemClock, CpuTimeAndTimeMarksAreTheTickCount) {
  for (int i = 0; i < 3; ++i) {
    const unsigned long a = VoSystem::TickCount();
    const unsigned long b = VoSystem::CPUTime();
    const unsigned long c = VoSystem::StartTimeMeasurement();
    const unsigned long d = VoSystem::TickCount();
    EXPECT_LE(a, b);
    EXPECT_LE(b, c);
    EXPECT_LE(c, d);
    EXPECT_LE(d - a, 34u);
  }
}

TEST(VoSystemClock, DelayOfNothingReturnsZeroAtOnce) {
  for (long ms : {0L, -5L, -1000000L, LONG_MIN}) {
    const double t0 = Seconds();
    EXPECT_EQ(VoSystem::Delay(ms), 0u) << ms;
    EXPECT_LT(Seconds() - t0, 0.05) << ms;
  }
}

TEST(VoSystemClock, DelayWaitsWholeTicksAndReturnsTheTickCount) {
  const struct {
    long ms;
    int ticks;
  } cases[] = {{1, 1}, {16, 1}, {17, 2}, {50, 3}, {100, 6}};
  for (const auto& c : cases) {
    // Start right after a tick begins, so that the ticks counted are whole.
    const unsigned long base = VoSystem::TickCount();
    while (VoSystem::TickCount() == base) {
    }
    const unsigned long before = VoSystem::TickCount();
    const unsigned long returned = VoSystem::Delay(c.ms);
    const unsigned long after = VoSystem::TickCount();
    const uint32_t waited = static_cast<uint32_t>(returned - before);
    // n ticks are 16.67 * n ms, shown in whole milliseconds.
    EXPECT_GE(waited, static_cast<uint32_t>(c.ticks * 1000 / 60)) << c.ms;
    // Generous above: a busy machine may wake the waiter late.
    EXPECT_LE(waited, static_cast<uint32_t>((c.ticks + 30) * 1000 / 60 + 1)) << c.ms;
    EXPECT_LE(static_cast<uint32_t>(after - returned), 500u);
  }
}

/// True when all of \p text matches the extended regular expression \p pattern.
bool FullMatch(const std::string& text, const char* pattern) {
  regex_t re;
  const std::string anchored = std::string("^(") + pattern + ")$";
  if (regcomp(&re, anchored.c_str(), REG_EXTENDED | REG_NOSUB) != 0) return false;
  const bool match = regexec(&re, text.c_str(), 0, nullptr, 0) == 0;
  regfree(&re);
  return match;
}

TEST(VoSystemClock, EndTimeMeasurementWritesItsLineAtLevelOne) {
  {
    DebugCapture log(1);
    const unsigned long now = VoSystem::TickCount();
    VoSystem::EndTimeMeasurement(static_cast<long>(now) - 1500, Vo("copy job"));
    EXPECT_TRUE(FullMatch(log.text(), ("'copy job' duration:  1\\.5[0-4][0-9]s\n"))) << log.text();
  }
  {
    // Only the low 32 bits of the mark count: a mark made before the counter
    // wrapped still gives the right time.
    DebugCapture log(1);
    const long mark = static_cast<long>(VoSystem::TickCount()) - 2000 + 0x100000000L;
    VoSystem::EndTimeMeasurement(mark, Vo("wrapped"));
    EXPECT_TRUE(FullMatch(log.text(), ("'wrapped' duration:  2\\.0[0-4][0-9]s\n"))) << log.text();
  }
  {
    // A mark in the future gives a negative time (signed difference).
    DebugCapture log(1);
    VoSystem::EndTimeMeasurement(static_cast<long>(VoSystem::TickCount()) + 60000, Vo("x"));
    EXPECT_TRUE(FullMatch(log.text(), ("'x' duration: -59\\.9[5-9][0-9]s\n|'x' duration: -60\\.000s\n")))
        << log.text();
  }
  {
    DebugCapture log(0);
    VoSystem::EndTimeMeasurement(static_cast<long>(VoSystem::TickCount()), Vo("quiet"));
    EXPECT_EQ(log.text(), "");
  }
}

}  // namespace
