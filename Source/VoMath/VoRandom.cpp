// VoRandom.cpp - seeding and the random variates of VoRandom.
#include "VoMath/VoRandom.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <ctime>
#include <limits>

std::atomic<int32_t> VoRandom::m_seedoffset{0};

namespace {

// |value| mod M for any 64-bit value, without overflow at the minimum.
int32_t AbsMod(long long value) {
  const unsigned long long magnitude =
      value < 0 ? 0ULL - static_cast<unsigned long long>(value) : static_cast<unsigned long long>(value);
  return static_cast<int32_t>(magnitude % static_cast<unsigned long long>(VoRandom::kModulus));
}

// A real result truncated toward zero into a long; NaN gives 0, values beyond
// the range of long give its limit.
long SaturatingTruncate(double value) {
  if (std::isnan(value)) return 0;
  // 2^63 is exactly representable; every double below it fits in a long.
  constexpr double kLimit = 9223372036854775808.0;
  if (value >= kLimit) return LONG_MAX;
  if (value < -kLimit) return LONG_MIN;
  return static_cast<long>(value);
}

// Sum of two non-negative counts, stopping at LONG_MAX.
long SaturatingAdd(long a, long b) { return b > LONG_MAX - a ? LONG_MAX : a + b; }

// Coefficients of the Odeh-Evans approximation of the standard normal
// inverse distribution function.
constexpr double kP0 = 0.322232431088;
constexpr double kP1 = 1.0;
constexpr double kP2 = 0.342242088547;
constexpr double kP3 = 0.0204231210245;
constexpr double kP4 = 4.53642210148e-05;
constexpr double kQ0 = 0.099348462606;
constexpr double kQ1 = 0.588581570495;
constexpr double kQ2 = 0.531103462366;
constexpr double kQ3 = 0.10353775285;
constexpr double kQ4 = 0.0038560700634;

}  // namespace

void VoRandom::SetSeed(long seed) { mSeed = AbsMod(seed); }

long VoRandom::ClockSeed(long offset, long long seconds) {
  const int32_t x = AbsMod(static_cast<int32_t>(offset));
  const int32_t first = Step(x);
  // Signed 32-bit addition with wrap-around, done in unsigned arithmetic.
  const int32_t v = static_cast<int32_t>(static_cast<uint32_t>(first) + static_cast<uint32_t>(seconds));
  const int32_t seed = AbsMod(v);
  return seed == 0 ? 1 : seed;
}

void VoRandom::RandomSeed() {
  // fetch_add on an atomic signed integer wraps; no overflow is possible.
  const int32_t offset = m_seedoffset.fetch_add(1, std::memory_order_relaxed) + 1;
  const long long now = static_cast<long long>(std::time(nullptr));
  mSeed = static_cast<int32_t>(ClockSeed(offset, now));
}

double VoRandom::Uniform(double a, double b) { return a + (b - a) * Random(); }

long VoRandom::Equilikely(long a, long b) {
  const int32_t span = static_cast<int32_t>(static_cast<uint32_t>(b) - static_cast<uint32_t>(a) + 1u);
  const long offset = static_cast<long>(static_cast<double>(span) * Random());
  // The offset is below 2^31 in magnitude; the sum wraps rather than overflow
  // for an a near the limits of long.
  return static_cast<long>(static_cast<unsigned long>(a) + static_cast<unsigned long>(offset));
}

long VoRandom::Bernoulli(double p) { return Random() < 1.0 - p ? 0 : 1; }

long VoRandom::Binomial(long n, double p) {
  long count = 0;
  for (long i = 0; i < n; ++i) count += Bernoulli(p);
  return count;
}

long VoRandom::Geometric(double p) {
  const double u = Random();
  if (!(p > 0.0)) return 0;
  if (!(p < 1.0)) return LONG_MAX;
  return SaturatingTruncate(std::log(1.0 - u) / std::log(p));
}

long VoRandom::Pascal(long n, double p) {
  long sum = 0;
  // Geometric results are never negative.
  for (long i = 0; i < n; ++i) sum = SaturatingAdd(sum, Geometric(p));
  return sum;
}

long VoRandom::Poisson(double m) {
  double t = 0.0;
  long x = 0;
  while (t < m) {
    ++x;
    t += Exponential(1.0);
  }
  return x - 1;
}

double VoRandom::Exponential(double m) { return -m * std::log(1.0 - Random()); }

double VoRandom::Erlang(long n, double b) {
  double x = 0.0;
  for (long i = 0; i < n; ++i) x += Exponential(b);
  return x;
}

double VoRandom::Normal(double m, double s) {
  // Written without branches on u (the two tails are equally likely, so a
  // branch would be mispredicted half the time); the values are exactly those
  // of the textbook form: min(u, 1 - u) is u below 0.5 and 1 - u from 0.5 on,
  // and t - p / q is exactly -(p / q - t).
  static constexpr double kSign[2] = {-1.0, 1.0};
  const double u = Random();
  const double lower = kSign[u < 0.5];
  const double t = std::sqrt(-2.0 * std::log(std::min(u, 1.0 - u)));
  const double p = kP0 + t * (kP1 + t * (kP2 + t * (kP3 + t * kP4)));
  const double q = kQ0 + t * (kQ1 + t * (kQ2 + t * (kQ3 + t * kQ4)));
  const double z = lower * (p / q - t);
  return m + s * z;
}

double VoRandom::Lognormal(double a, double b) { return std::exp(a + b * Normal(0.0, 1.0)); }

double VoRandom::Chisquare(long n) {
  double x = 0.0;
  for (long i = 0; i < n; ++i) {
    const double z = Normal(0.0, 1.0);
    x += z * z;
  }
  return x;
}

double VoRandom::Student(long n) {
  const double z = Normal(0.0, 1.0);
  if (n <= 0) return std::numeric_limits<double>::quiet_NaN();
  return z / std::sqrt(Chisquare(n) / static_cast<double>(n));
}
