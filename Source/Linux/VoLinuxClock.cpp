// VoLinuxClock.cpp - the tick clock on CLOCK_MONOTONIC, and waiting for ticks.
#include "Linux/VoLinuxClockPrivate.h"

#include <cerrno>
#include <ctime>

#include "Linux/VoLinuxSys.h"

namespace {

constexpr uint64_t kNanosPerSecond = 1000000000u;
constexpr uint64_t kTicksPerSecond = 60u;

}  // namespace

uint64_t VoLinuxTicks() {
  struct timespec now {};
  gVoSys.clock_gettime(CLOCK_MONOTONIC, &now);
  // tv_nsec * 60 stays below 6 * 10^10, far inside 64 bits.
  return static_cast<uint64_t>(now.tv_sec) * kTicksPerSecond +
         static_cast<uint64_t>(now.tv_nsec) * kTicksPerSecond / kNanosPerSecond;
}

uint64_t VoLinuxTickStartNanoseconds(uint64_t tick) {
  const uint64_t seconds = tick / kTicksPerSecond;
  const uint64_t rest = tick % kTicksPerSecond;
  // Rounded up, so that the tick has begun at this instant.
  return seconds * kNanosPerSecond + (rest * kNanosPerSecond + kTicksPerSecond - 1) / kTicksPerSecond;
}

uint64_t VoLinuxWaitUntilTick(uint64_t tick) {
  uint64_t now = VoLinuxTicks();
  while (now < tick) {
    const uint64_t ns = VoLinuxTickStartNanoseconds(tick);
    struct timespec until {};
    until.tv_sec = static_cast<time_t>(ns / kNanosPerSecond);
    until.tv_nsec = static_cast<long>(ns % kNanosPerSecond);
    // An absolute wake-up time: an interrupted sleep simply starts again.
    int rc = gVoSys.clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr);
    if (rc != 0 && rc != EINTR) break;
    now = VoLinuxTicks();
  }
  return now;
}

uint32_t VoLinuxTicksToMilliseconds(uint64_t ticks) {
  const uint32_t low = static_cast<uint32_t>(ticks);
  return static_cast<uint32_t>(low * 1000u) / 60u;
}

uint64_t VoLinuxMillisecondsToTicks(long milliseconds) {
  if (milliseconds <= 0) return 0;
  const uint64_t ms = static_cast<uint64_t>(milliseconds);
  // ms * 60 fits: a long holds at most 2^63 - 1, and the quotient is taken
  // before any overflow by splitting off whole seconds.
  return (ms / 1000u) * kTicksPerSecond + ((ms % 1000u) * kTicksPerSecond + 999u) / 1000u;
}
