// Tests of the Lehmer generator and its variates.
#include "VoMath/VoRandom.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <ctime>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr long kM = 2147483647;

// The seed whose next value is `next`: next times the inverse of 48271 mod M,
// found by the extended Euclid algorithm in 64-bit arithmetic.
long PredecessorOf(long next) {
  long long r0 = kM, r1 = 48271, t0 = 0, t1 = 1;
  while (r1 != 0) {
    const long long q = r0 / r1, r2 = r0 - q * r1, t2 = t0 - q * t1;
    r0 = r1, r1 = r2, t0 = t1, t1 = t2;
  }
  const long long inverse = t0 < 0 ? t0 + kM : t0;
  return static_cast<long>(next * inverse % kM);
}

// The step as Schrage wrote it, in signed 32-bit arithmetic.
long SchrageStep(int32_t x) {
  const int32_t t = 48271 * (x % 44488) - 3399 * (x / 44488);
  return t > 0 ? t : t + 2147483647;
}

// Standard normal distribution function and density, independent of the generator.
double Phi(double z) { return 0.5 * std::erfc(-z / std::sqrt(2.0)); }
double Density(double z) { return std::exp(-0.5 * z * z) / std::sqrt(2.0 * M_PI); }

// ---------------------------------------------------------------- generator

TEST(VoRandomTest, KnownSequenceFromSeedOne) {
  VoRandom r(1);
  EXPECT_EQ(r.NextSeed(), 48271);
  EXPECT_EQ(r.NextSeed(), 182605794);
  EXPECT_EQ(r.NextSeed(), 1291394886);
  for (int i = 3; i < 10000; ++i) r.NextSeed();
  EXPECT_EQ(r.GetSeed(), 399268537);
  EXPECT_EQ(VoRandom::Random(48271L), 182605794);  // static: touches no object
  EXPECT_EQ(r.GetSeed(), 399268537);
}

// From every seed of the normal range the generator is the minimal standard
// one: compare with the C++ library's engine from many seeds, some for long.
TEST(VoRandomTest, MatchesMinstdRand) {
  std::vector<long> seeds = {1,
                             2,
                             48271,
                             44487,
                             44488,
                             44489,
                             3399,
                             1L << 30,
                             kM - 1,
                             kM - 2,
                             kM - 44488,
                             kM / 2,
                             PredecessorOf(1),
                             PredecessorOf(kM - 1)};
  std::mt19937 pick(12345);
  std::uniform_int_distribution<long> any(1, kM - 1);
  for (int i = 0; i < 500; ++i) seeds.push_back(any(pick));
  for (size_t i = 0; i < seeds.size(); ++i) {
    const long seed = seeds[i];
    VoRandom ours(seed);
    std::minstd_rand peer(static_cast<std::minstd_rand::result_type>(seed));
    const int steps = i < 3 ? 5000000 : 2000;
    for (int step = 0; step < steps; ++step) {
      const long expected = static_cast<long>(peer());
      if (ours.NextSeed() != expected) FAIL() << "seed " << seed << " diverges at step " << step;
    }
  }
}

// Every 32-bit value, negative ones included, steps as Schrage's method says.
TEST(VoRandomTest, StepEqualsSchragesMethod) {
  std::vector<int32_t> xs = {INT32_MIN, INT32_MIN + 1, -1, 0, 1, INT32_MAX, INT32_MAX - 1};
  for (int64_t x = INT32_MIN; x <= INT32_MAX; x += 65521) xs.push_back(static_cast<int32_t>(x));
  for (int64_t k = -48272; k <= 48272; k += 97)  // around multiples of Q
    for (int64_t x = k * 44488 - 2; x <= k * 44488 + 2; ++x)
      if (x >= INT32_MIN && x <= INT32_MAX) xs.push_back(static_cast<int32_t>(x));
  for (int32_t x : xs) ASSERT_EQ(VoRandom::Random(long{x}), SchrageStep(x)) << "x = " << x;
  VoRandom negative(-5);
  EXPECT_EQ(negative.NextSeed(), 2147242292);
}

struct StoreCase {
  long given;
  long stored;
};

TEST(VoRandomTest, SetSeedAndConstructorStore) {
  const StoreCase set_cases[] = {{-5, 5},
                                 {5, 5},
                                 {0, 0},
                                 {kM, 0},
                                 {-kM, 0},
                                 {kM + 1, 1},
                                 {2 * kM + 3, 3},
                                 {-(2 * kM + 3), 3},
                                 // 2^31 = M + 1; 2^63 = 2 * (2^31)^2 is 2 mod M, and 2^63 - 1 is 1 mod M.
                                 {1L << 31, 1},
                                 {-(1L << 31), 1},
                                 {LONG_MIN, 2},
                                 {LONG_MAX, 1}};
  for (const StoreCase& c : set_cases) {
    VoRandom r(77);
    r.SetSeed(c.given);
    EXPECT_EQ(r.GetSeed(), c.stored) << "SetSeed(" << c.given << ")";
  }
  // The constructor does not reduce; only the low 32 bits of a wider long stay.
  const StoreCase ctor_cases[] = {
      {-5, -5}, {0, 0}, {kM, kM}, {INT32_MIN, INT32_MIN}, {0x100000005L, 5}, {0x1FFFFFFFFL, -1}};
  for (const StoreCase& c : ctor_cases)
    EXPECT_EQ(VoRandom(c.given).GetSeed(), c.stored) << "VoRandom(" << c.given << ")";
}

TEST(VoRandomTest, ZeroSeedIsAFixedPoint) {
  VoRandom from_ctor(0), from_set(99), from_multiple(99);
  from_set.SetSeed(0);
  from_multiple.SetSeed(3 * kM);
  for (VoRandom* r : {&from_ctor, &from_set, &from_multiple}) {
    EXPECT_EQ(r->NextSeed(), kM);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(r->Random(), 1.0);
  }
}

TEST(VoRandomTest, RandomIsStrictlyInsideTheUnitInterval) {
  EXPECT_EQ(VoRandom(1).Random(), 48271.0 / 2147483647.0);
  EXPECT_EQ(VoRandom(PredecessorOf(1)).Random(), 1.0 / 2147483647.0);
  EXPECT_EQ(VoRandom(PredecessorOf(kM - 1)).Random(), 2147483646.0 / 2147483647.0);
}

TEST(VoRandomTest, SameSeedSameSequenceAndCopiesContinue) {
  VoRandom a(424242), b(424242);
  for (int i = 0; i < 100; ++i) {
    ASSERT_EQ(a.Normal(1.0, 2.0), b.Normal(1.0, 2.0));
    ASSERT_EQ(a.Poisson(4.5), b.Poisson(4.5));
    ASSERT_EQ(a.Student(3), b.Student(3));
  }
  VoRandom c = a;
  for (int i = 0; i < 100; ++i) ASSERT_EQ(a.Random(), c.Random());
}

// ---------------------------------------------------------------- RandomSeed

struct ClockCase {
  long offset;
  long long seconds;
  long seed;
};

TEST(VoRandomTest, ClockSeedArithmetic) {
  const ClockCase cases[] = {
      {1, 0, 48271},
      {1, 1700000000, 1700048271},
      {2, 0, 96542},
      {1, (1LL << 32) + 10, 48281},  // only the low 32 bits of the clock count
      {1, kM - 48271 + 5, kM - 3},   // M + 5 wraps to -(M - 3) in 32 bits
      {1, -1048271, 1000000},        // a negative sum counts by its absolute value
      {INT32_MIN, 0, 48271},         // |INT32_MIN| mod M is 1
      {0, 7, kM - 5},                // step(0) = M; M + 7 wraps to -(M - 5)
      // Sums of 0 or M would leave the generator at its fixed point: 1 instead.
      {1, kM - 48271, 1},
      {1, -48271, 1},
      {2, -96542, 1},
      {0, 0, 1},
      {1, 2 * kM - 48271, 2},  // 2^32 - 2 wraps to -2
  };
  for (const ClockCase& c : cases)
    EXPECT_EQ(VoRandom::ClockSeed(c.offset, c.seconds), c.seed)
        << "offset " << c.offset << " seconds " << c.seconds;
}

TEST(VoRandomTest, RandomSeedUsesClockAndCounter) {
  for (int attempt = 0; attempt < 5; ++attempt) {
    const long offset = VoRandom::GetSeedOffset();
    const std::time_t before = std::time(nullptr);
    VoRandom a(0), b(0);
    a.RandomSeed();
    b.RandomSeed();
    const std::time_t after = std::time(nullptr);
    EXPECT_EQ(VoRandom::GetSeedOffset(), offset + 2);
    if (before != after) continue;  // the second changed in between; retry
    EXPECT_EQ(a.GetSeed(), VoRandom::ClockSeed(offset + 1, before));
    EXPECT_EQ(b.GetSeed(), VoRandom::ClockSeed(offset + 2, before));
    EXPECT_NE(a.GetSeed(), b.GetSeed());
    return;
  }
  FAIL() << "the clock changed second on every attempt";
}

// ---------------------------------------------------------------- draw counts

struct DrawCase {
  std::string name;
  std::function<void(VoRandom&)> call;
  int draws;
};

// Each variate consumes a fixed number of uniform numbers; reproducible
// streams depend on it.
TEST(VoRandomTest, VariatesConsumeTheirDocumentedDraws) {
  const std::vector<DrawCase> cases = {
      {"Uniform", [](VoRandom& r) { r.Uniform(-1.0, 3.0); }, 1},
      {"Equilikely", [](VoRandom& r) { r.Equilikely(1, 6); }, 1},
      {"Bernoulli", [](VoRandom& r) { r.Bernoulli(0.3); }, 1},
      {"Binomial", [](VoRandom& r) { r.Binomial(7, 0.3); }, 7},
      {"Geometric", [](VoRandom& r) { r.Geometric(0.4); }, 1},
      {"GeometricBadP", [](VoRandom& r) { r.Geometric(1.5); }, 1},
      {"Pascal", [](VoRandom& r) { r.Pascal(5, 0.4); }, 5},
      {"Exponential", [](VoRandom& r) { r.Exponential(2.0); }, 1},
      {"Erlang", [](VoRandom& r) { r.Erlang(4, 2.0); }, 4},
      {"Normal", [](VoRandom& r) { r.Normal(0.0, 1.0); }, 1},
      {"Lognormal", [](VoRandom& r) { r.Lognormal(0.0, 1.0); }, 1},
      {"Chisquare", [](VoRandom& r) { r.Chisquare(6); }, 6},
      {"Student", [](VoRandom& r) { r.Student(3); }, 4},
      {"Student0", [](VoRandom& r) { r.Student(0); }, 1},
  };
  for (const DrawCase& c : cases) {
    for (long seed : {1L, 123456789L, kM - 1}) {
      VoRandom r(seed);
      c.call(r);
      long expected = seed;
      for (int i = 0; i < c.draws; ++i) expected = VoRandom::Random(expected);
      EXPECT_EQ(r.GetSeed(), expected) << c.name << " from " << seed;
    }
  }
  // Poisson draws one uniform more than its result.
  VoRandom r(2024);
  for (double m : {0.1, 3.5, 20.0}) {
    for (int i = 0; i < 100; ++i) {
      long expected = r.GetSeed();
      const long x = r.Poisson(m);
      for (long k = 0; k <= x; ++k) expected = VoRandom::Random(expected);
      ASSERT_EQ(r.GetSeed(), expected) << "Poisson(" << m << ") = " << x;
    }
  }
}

TEST(VoRandomTest, EdgeParametersWithoutDrawing) {
  VoRandom r(31337);
  EXPECT_EQ(r.Poisson(0.0), -1);
  EXPECT_EQ(r.Poisson(-1.0), -1);
  EXPECT_EQ(r.Poisson(std::nan("")), -1);
  EXPECT_EQ(r.Chisquare(0), 0.0);
  EXPECT_EQ(r.Binomial(0, 0.5), 0);
  EXPECT_EQ(r.Binomial(-4, 0.5), 0);
  EXPECT_EQ(r.Pascal(0, 0.5), 0);
  EXPECT_EQ(r.Erlang(0, 3.0), 0.0);
  EXPECT_EQ(r.GetSeed(), 31337);
}

// ---------------------------------------------------------------- distributions

struct MomentCase {
  std::string name;
  std::function<double(VoRandom&)> draw;
  double mean;
  double variance;
};

// Sample moments over many draws: the mean within 6 standard errors, the
// variance within 5 %; both hold for any seed and catch a wrong scale or formula.
TEST(VoRandomTest, VariatesHaveTheirMeanAndVariance) {
  const std::vector<MomentCase> cases = {
      {"Random", [](VoRandom& r) { return r.Random(); }, 0.5, 1.0 / 12},
      {"Uniform", [](VoRandom& r) { return r.Uniform(-2.0, 6.0); }, 2.0, 64.0 / 12},
      {"Equilikely", [](VoRandom& r) { return double(r.Equilikely(-3, 3)); }, 0.0, 4.0},
      {"Bernoulli", [](VoRandom& r) { return double(r.Bernoulli(0.3)); }, 0.3, 0.21},
      {"Binomial", [](VoRandom& r) { return double(r.Binomial(10, 0.25)); }, 2.5, 1.875},
      {"Geometric", [](VoRandom& r) { return double(r.Geometric(0.5)); }, 1.0, 2.0},
      {"Geometric09", [](VoRandom& r) { return double(r.Geometric(0.9)); }, 9.0, 90.0},
      {"Pascal", [](VoRandom& r) { return double(r.Pascal(3, 0.4)); }, 2.0, 1.2 / 0.36},
      {"Poisson", [](VoRandom& r) { return double(r.Poisson(3.5)); }, 3.5, 3.5},
      {"PoissonSmall", [](VoRandom& r) { return double(r.Poisson(0.2)); }, 0.2, 0.2},
      {"Exponential", [](VoRandom& r) { return r.Exponential(2.0); }, 2.0, 4.0},
      {"Erlang", [](VoRandom& r) { return r.Erlang(3, 0.5); }, 1.5, 0.75},
      {"Normal", [](VoRandom& r) { return r.Normal(10.0, 3.0); }, 10.0, 9.0},
      {"Lognormal", [](VoRandom& r) { return r.Lognormal(0.0, 0.5); }, std::exp(0.125),
       (std::exp(0.25) - 1) * std::exp(0.25)},
      {"Chisquare", [](VoRandom& r) { return r.Chisquare(4); }, 4.0, 8.0},
      {"Student", [](VoRandom& r) { return r.Student(5); }, 0.0, 5.0 / 3},
  };
  const int n = 200000;
  for (const MomentCase& c : cases) {
    for (long seed : {1L, 987654321L}) {
      VoRandom r(seed);
      double sum = 0.0, sum2 = 0.0;
      for (int i = 0; i < n; ++i) {
        const double x = c.draw(r);
        sum += x;
        sum2 += x * x;
      }
      const double mean = sum / n, variance = sum2 / n - mean * mean;
      EXPECT_NEAR(mean, c.mean, 6.0 * std::sqrt(c.variance / n)) << c.name << " seed " << seed;
      EXPECT_NEAR(variance, c.variance, 0.05 * c.variance) << c.name << " seed " << seed;
    }
  }
}

TEST(VoRandomTest, EquilikelyIsFairAndInRange) {
  VoRandom r(2718281);
  const int n = 600000;
  long counts[6] = {};
  for (int i = 0; i < n; ++i) {
    const long face = r.Equilikely(1, 6);
    ASSERT_GE(face, 1);
    ASSERT_LE(face, 6);
    ++counts[face - 1];
    ASSERT_EQ(r.Equilikely(7, 7), 7);
  }
  double chi2 = 0.0;
  for (long c : counts) chi2 += (c - n / 6.0) * (c - n / 6.0) / (n / 6.0);
  EXPECT_LT(chi2, 25.7);  // 99.99 % quantile for 5 degrees of freedom
}

struct ExtremeCase {
  std::string name;
  std::function<double(VoRandom&)> draw;
  double at_lowest;   // value for u = 1/M
  double at_highest;  // value for u = (M - 1)/M
  double tolerance;
};

// Each inversion maps small uniforms to the low end of its distribution, and
// the extreme uniforms give the documented extremes.
TEST(VoRandomTest, VariatesAtTheExtremesOfTheUniform) {
  const double ln_m = std::log(2147483647.0);
  const double z_m = 6.1207562859;  // standard normal quantile of 1 - 1/M
  const std::vector<ExtremeCase> cases = {
      {"Uniform", [](VoRandom& r) { return r.Uniform(2.0, 5.0); }, 2.0, 5.0, 1e-8},
      {"Equilikely", [](VoRandom& r) { return double(r.Equilikely(-1000000, 1000000)); }, -1000000, 1000000,
       0.0},
      {"EquilikelyWide", [](VoRandom& r) { return double(r.Equilikely(0, kM - 2)); }, 0, kM - 2, 0.0},
      {"Bernoulli", [](VoRandom& r) { return double(r.Bernoulli(0.5)); }, 0.0, 1.0, 0.0},
      {"Bernoulli0", [](VoRandom& r) { return double(r.Bernoulli(0.0)); }, 0.0, 0.0, 0.0},
      {"Bernoulli1", [](VoRandom& r) { return double(r.Bernoulli(1.0)); }, 1.0, 1.0, 0.0},
      // 1 - (M - 1)/M rounds to exactly 2^-31 in double arithmetic.
      {"Geometric", [](VoRandom& r) { return double(r.Geometric(0.5)); }, 0.0, 31.0, 0.0},
      {"Exponential", [](VoRandom& r) { return r.Exponential(2.0); }, 0.0, 2.0 * ln_m, 1e-6},
      {"Normal", [=](VoRandom& r) { return r.Normal(1.0, 2.0); }, 1 - 2 * z_m, 1 + 2 * z_m, 1e-6},
      {"Lognormal", [](VoRandom& r) { return std::log(r.Lognormal(0.0, 1.0)); }, -z_m, z_m, 1e-6},
  };
  for (const ExtremeCase& c : cases) {
    VoRandom lo(PredecessorOf(1));
    EXPECT_NEAR(c.draw(lo), c.at_lowest, c.tolerance) << c.name;
    VoRandom hi(PredecessorOf(kM - 1));
    EXPECT_NEAR(c.draw(hi), c.at_highest, c.tolerance) << c.name;
  }
}

// The Odeh-Evans approximation is accurate to 1.5e-8 in z; check each value
// against the uniform actually drawn (readable from the seed afterwards).
TEST(VoRandomTest, NormalInvertsTheDistributionFunction) {
  VoRandom r(7);
  for (int i = 0; i < 200000; ++i) {
    const double z = r.Normal(0.0, 1.0);
    const double u = r.GetSeed() / 2147483647.0;
    ASSERT_NEAR(Phi(z), u, Density(z) * 2e-8 + 1e-16) << "u = " << u << " z = " << z;
  }
}

TEST(VoRandomTest, ParametersOutsideTheirRange) {
  VoRandom r(8);
  EXPECT_EQ(r.Geometric(0.0), 0);
  EXPECT_EQ(r.Geometric(-0.5), 0);
  EXPECT_EQ(r.Geometric(std::nan("")), 0);
  EXPECT_EQ(r.Geometric(1.0), LONG_MAX);
  EXPECT_EQ(r.Geometric(2.0), LONG_MAX);
  EXPECT_EQ(r.Pascal(3, 1.0), LONG_MAX);
  EXPECT_TRUE(std::isnan(r.Student(0)));
  EXPECT_TRUE(std::isnan(r.Student(-2)));
}

// From the fixed point every uniform is 1.0; the variates stay well defined.
TEST(VoRandomTest, VariatesFromTheFixedPoint) {
  VoRandom r(0);
  EXPECT_EQ(r.Bernoulli(0.5), 1);
  EXPECT_EQ(r.Geometric(0.5), LONG_MAX);
  EXPECT_EQ(r.Pascal(2, 0.5), LONG_MAX);
  EXPECT_EQ(r.Exponential(1.0), INFINITY);
  EXPECT_EQ(r.Poisson(3.0), 0);
  EXPECT_EQ(r.Uniform(2.0, 5.0), 5.0);
  EXPECT_EQ(r.Equilikely(1, 6), 7);
  EXPECT_EQ(r.GetSeed(), kM);
}

}  // namespace
