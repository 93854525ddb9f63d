// VoRandomBench.cpp - VoRandom against the C++ library's minimal standard engine.
#include <benchmark/benchmark.h>

#include <random>

#include "VoMath/VoRandom.h"

namespace {

constexpr long kSeed = 20240601;

void BM_VoRandom_NextSeed(benchmark::State& state) {
  VoRandom r(kSeed);
  for (auto _ : state) benchmark::DoNotOptimize(r.NextSeed());
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_VoRandom_NextSeed);

void BM_Peer_MinstdRand(benchmark::State& state) {
  std::minstd_rand r(kSeed);
  for (auto _ : state) benchmark::DoNotOptimize(r());
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Peer_MinstdRand);

void BM_VoRandom_Random(benchmark::State& state) {
  VoRandom r(kSeed);
  for (auto _ : state) benchmark::DoNotOptimize(r.Random());
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_VoRandom_Random);

void BM_Peer_UniformRealOnMinstd(benchmark::State& state) {
  std::minstd_rand r(kSeed);
  std::uniform_real_distribution<double> uniform(0.0, 1.0);
  for (auto _ : state) benchmark::DoNotOptimize(uniform(r));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Peer_UniformRealOnMinstd);

void BM_VoRandom_Normal(benchmark::State& state) {
  VoRandom r(kSeed);
  for (auto _ : state) benchmark::DoNotOptimize(r.Normal(0.0, 1.0));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_VoRandom_Normal);

void BM_Peer_NormalOnMinstd(benchmark::State& state) {
  std::minstd_rand r(kSeed);
  std::normal_distribution<double> normal(0.0, 1.0);
  for (auto _ : state) benchmark::DoNotOptimize(normal(r));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Peer_NormalOnMinstd);

}  // namespace
