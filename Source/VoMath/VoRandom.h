/// \file
/// A reproducible Lehmer random-number generator and its variates.
#ifndef VOFOUNDATION_VOMATH_VORANDOM_H
#define VOFOUNDATION_VOMATH_VORANDOM_H

#include <atomic>
#include <cstdint>

/// A fully reproducible stream of random numbers defined by one 32-bit seed.
///
/// The generator is the multiplicative linear congruential (Lehmer) generator
/// with modulus M = 2^31 - 1 and multiplier 48271, evaluated with Schrage's
/// method so that every intermediate value stays in signed 32-bit arithmetic.
/// From any seed in 1 .. 2147483646 the sequence of seeds is the one of the
/// "minimal standard" generator of the C++ library (std::minstd_rand), and the
/// same seed gives the same sequence on every platform.
///
/// Uniform numbers come from Random(); every variate draws fresh uniform numbers
/// u = Random() in a fixed order and count (only Poisson draws a variable count):
///
/// | Variate           | uniforms drawn | method                                       |
/// |-------------------|----------------|----------------------------------------------|
/// | Uniform(a, b)     | 1              | a + (b - a) * u                              |
/// | Equilikely(a, b)  | 1              | a + (long)((b - a + 1) * u)                  |
/// | Bernoulli(p)      | 1              | 0 when u < 1 - p, else 1                     |
/// | Binomial(n, p)    | n              | count of u_i >= 1 - p                        |
/// | Geometric(p)      | 1              | (long)(log(1 - u) / log(p))                  |
/// | Pascal(n, p)      | n              | sum of n Geometric(p)                        |
/// | Poisson(m)        | result + 1     | count of Exponential(1) sums below m         |
/// | Exponential(m)    | 1              | -m * log(1 - u)                              |
/// | Erlang(n, b)      | n              | sum of n Exponential(b)                      |
/// | Normal(m, s)      | 1              | inversion, Odeh-Evans rational approximation |
/// | Lognormal(a, b)   | 1              | exp(a + b * Normal(0, 1))                    |
/// | Chisquare(n)      | n              | sum of n squared Normal(0, 1)                |
/// | Student(n)        | n + 1          | z / sqrt(chi-square(n) / n)                  |
///
/// Parameter ranges are not checked (see each operation for what out-of-range
/// values give); no input leads to undefined behaviour.
///
/// A seed of 0 (or a multiple of M) is a fixed point: every step then yields
/// 2147483647 and Random() returns 1.0 from then on. Only SetSeed(0), a
/// multiple of M, or the constructor can put an object there; RandomSeed()
/// never does.
///
/// Values of type long wider than 32 bits: the constructor and Random(long)
/// use the low 32 bits of their argument (as a signed 32-bit value), while
/// SetSeed reduces the whole value.
///
/// An object must not be used by several threads at once. Copying an object
/// copies the seed, so the copy continues the same sequence.
class VoRandom {
 public:
  static constexpr int32_t kModulus = 2147483647;  ///< M = 2^31 - 1
  static constexpr int32_t kMultiplier = 48271;    ///< A
  static constexpr int32_t kQuotient = 44488;      ///< Q = M div A
  static constexpr int32_t kRemainder = 3399;      ///< R = M mod A

  /// Stores \p seed as it is, without reduction (only its low 32 bits when
  /// the value is wider). A seed outside 1 .. M - 1 is allowed: negative seeds
  /// step into the normal range, 0 is the fixed point described above.
  explicit VoRandom(long seed) : mSeed(static_cast<int32_t>(seed)) {}

  /// Stores |seed| mod 2147483647 (0 for multiples of the modulus). The whole
  /// long is reduced, so SetSeed(LONG_MIN) stores 2.
  void SetSeed(long seed);

  /// The current seed: the last value produced, or the value set.
  long GetSeed() const { return mSeed; }

  /// Sets a seed from the clock (whole seconds since the epoch) and the
  /// process-wide count of RandomSeed calls, so that generators seeded in the
  /// same second differ. The result always lies in 1 .. 2147483646.
  void RandomSeed();

  /// Advances the generator one step and returns the new seed, which lies in
  /// 1 .. 2147483646 (2147483647 from the fixed point 0).
  long NextSeed() {
    mSeed = Step(mSeed);
    return mSeed;
  }

  /// One generator step applied to the low 32 bits of \p x; touches no object.
  static long Random(long x) { return Step(static_cast<int32_t>(x)); }

  /// Uniform on the open interval (0, 1): the next seed divided by M.
  double Random() {
    mSeed = Step(mSeed);
    return static_cast<double>(mSeed) / 2147483647.0;
  }

  /// Uniform on (a, b) for a < b.
  double Uniform(double a, double b);
  /// Integer uniform on a .. b for a <= b. The span b - a + 1 is computed in
  /// 32-bit wrapping arithmetic from the low 32 bits of a and b, like the
  /// generator itself, so a and b are meant to lie in the signed 32-bit range
  /// with a span of at most 2147483647; a wider span wraps (and so does the
  /// final sum for an a near the limits of long).
  long Equilikely(long a, long b);
  /// 1 with probability p, else 0. Bernoulli(0.0) is always 0 and
  /// Bernoulli(1.0) always 1 (for seeds in the normal range).
  long Bernoulli(double p);
  /// Number of ones among n Bernoulli(p) draws; 0 without drawing when n <= 0.
  long Binomial(long n, double p);
  /// Geometric on 0, 1, 2, ...: probability (1 - p) * p^k for k, 0 < p < 1.
  /// Outside that range one uniform is still drawn and the result is 0 for
  /// p <= 0 (or NaN) and LONG_MAX for p >= 1; results too large for a long
  /// (only from the fixed point 0) are LONG_MAX.
  long Geometric(double p);
  /// Negative binomial: the sum of n Geometric(p) draws, saturating at
  /// LONG_MAX; 0 without drawing when n <= 0.
  long Pascal(long n, double p);
  /// Poisson with mean m > 0. Returns -1 without drawing when m <= 0 (or NaN).
  /// The number of draws is the result plus one, so the time grows with m;
  /// m must be finite.
  long Poisson(double m);
  /// Exponential with mean m > 0.
  double Exponential(double m);
  /// Sum of n Exponential(b) draws; 0.0 without drawing when n <= 0.
  double Erlang(long n, double b);
  /// Normal with mean m and standard deviation s > 0, by inversion with the
  /// Odeh-Evans rational approximation (absolute error below 1.5e-8 in the
  /// standard normal value). Draws exactly one uniform.
  double Normal(double m, double s);
  /// e raised to a normal variate of mean a and deviation b > 0.
  double Lognormal(double a, double b);
  /// Chi-square with n degrees of freedom; 0.0 without drawing when n <= 0.
  double Chisquare(long n);
  /// Student's t with n degrees of freedom. For n <= 0 one uniform is drawn
  /// (the numerator) and the result is a quiet NaN.
  double Student(long n);

  /// The seed RandomSeed() sets for a given value of the call counter and a
  /// given clock reading: step(|offset| mod M) plus the low 32 bits of
  /// \p seconds, added with signed 32-bit wrap-around, then taken as
  /// |v| mod M; a result of 0 becomes 1 so that the generator never starts at
  /// its fixed point. \p offset is taken as a signed 32-bit value.
  static long ClockSeed(long offset, long long seconds);

  /// The process-wide count of RandomSeed calls so far (signed 32-bit,
  /// wrapping after 2^31 - 1 calls).
  static long GetSeedOffset() { return m_seedoffset.load(std::memory_order_relaxed); }

 private:
  /// One Schrage step: t = A * (x mod Q) - R * (x div Q) with C++ truncating
  /// division; the next value is t when t > 0, else t + M. For every 32-bit x,
  /// t lies in the signed 32-bit range. Since A * Q + R = M, t also equals
  /// A * x - M * (x div Q); that form is evaluated modulo 2^32 in uint32_t,
  /// which gives t exactly (it fits in 32 bits) with one multiplication less
  /// on the chain from one seed to the next.
  static int32_t Step(int32_t x) {
    const int32_t hi = x / kQuotient;
    const uint32_t t32 = static_cast<uint32_t>(kMultiplier) * static_cast<uint32_t>(x) -
                         static_cast<uint32_t>(kModulus) * static_cast<uint32_t>(hi);
    const int32_t t = static_cast<int32_t>(t32);
    return t > 0 ? t : t + kModulus;
  }

  int32_t mSeed;
  /// Count of RandomSeed calls. Atomic (relaxed, lock-free) so that concurrent
  /// RandomSeed calls on different objects are well defined and still differ.
  static std::atomic<int32_t> m_seedoffset;
};

#endif  // VOFOUNDATION_VOMATH_VORANDOM_H
