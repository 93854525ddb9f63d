// Benchmarks of the ring-buffer list against the standard sequence containers.
#include <benchmark/benchmark.h>

#include <deque>
#include <vector>

#include "VoData/VoList.h"

namespace {

constexpr int kElements = 1000000;

// glibc's malloc serves large blocks with fresh mappings until a freed mapping
// raises its threshold to that block's size. Left alone, whichever container
// runs first decides which of them pays fresh page faults in every iteration
// (a block exactly the threshold's size is mapped again each time). One large
// block taken and given back up front puts every container on the same warm
// heap, as in a long-running program.
void WarmAllocator() {
  static const bool warmed = [] {
    void* block = ::operator new(24u << 20);
    benchmark::DoNotOptimize(block);
    ::operator delete(block);
    return true;
  }();
  (void)warmed;
}

void SetCounters(benchmark::State& state) {
  WarmAllocator();
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kElements);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kElements *
                          static_cast<int64_t>(sizeof(int)));
}

void BM_VoList_AddBack(benchmark::State& state) {
  WarmAllocator();
  for (auto _ : state) {
    VoList<int> list;
    for (int i = 0; i < kElements; ++i) list.AddBack(i);
    benchmark::DoNotOptimize(list.storage.elements);
    benchmark::ClobberMemory();
  }
  SetCounters(state);
}
BENCHMARK(BM_VoList_AddBack)->Unit(benchmark::kMillisecond);

void BM_StdVector_PushBack(benchmark::State& state) {
  WarmAllocator();
  for (auto _ : state) {
    std::vector<int> v;
    for (int i = 0; i < kElements; ++i) v.push_back(i);
    benchmark::DoNotOptimize(v.data());
    benchmark::ClobberMemory();
  }
  SetCounters(state);
}
BENCHMARK(BM_StdVector_PushBack)->Unit(benchmark::kMillisecond);

void BM_VoList_AddFront(benchmark::State& state) {
  WarmAllocator();
  for (auto _ : state) {
    VoList<int> list;
    for (int i = 0; i < kElements; ++i) list.AddFront(i);
    benchmark::DoNotOptimize(list.storage.elements);
    benchmark::ClobberMemory();
  }
  SetCounters(state);
}
BENCHMARK(BM_VoList_AddFront)->Unit(benchmark::kMillisecond);

void BM_StdDeque_PushFront(benchmark::State& state) {
  WarmAllocator();
  for (auto _ : state) {
    std::deque<int> d;
    for (int i = 0; i < kElements; ++i) d.push_front(i);
    benchmark::DoNotOptimize(&d.front());
    benchmark::ClobberMemory();
  }
  SetCounters(state);
}
BENCHMARK(BM_StdDeque_PushFront)->Unit(benchmark::kMillisecond);

// Indexed read over a wrapped ring (half the elements added at the front),
// every access checked.
void BM_VoList_IndexedRead(benchmark::State& state) {
  WarmAllocator();
  VoList<int> list;
  for (int i = 0; i < kElements / 2; ++i) {
    list.AddBack(i);
    list.AddFront(i);
  }
  for (auto _ : state) {
    long sum = 0;
    for (int i = 0; i < list.count; ++i) sum += list[i];
    benchmark::DoNotOptimize(sum);
  }
  SetCounters(state);
}
BENCHMARK(BM_VoList_IndexedRead)->Unit(benchmark::kMillisecond);

void BM_StdDeque_IndexedRead(benchmark::State& state) {
  WarmAllocator();
  std::deque<int> d;
  for (int i = 0; i < kElements / 2; ++i) {
    d.push_back(i);
    d.push_front(i);
  }
  for (auto _ : state) {
    long sum = 0;
    const size_t n = d.size();
    for (size_t i = 0; i < n; ++i) sum += d[i];
    benchmark::DoNotOptimize(sum);
  }
  SetCounters(state);
}
BENCHMARK(BM_StdDeque_IndexedRead)->Unit(benchmark::kMillisecond);

void BM_StdVector_IndexedRead(benchmark::State& state) {
  WarmAllocator();
  std::vector<int> v;
  for (int i = 0; i < kElements; ++i) v.push_back(i);
  for (auto _ : state) {
    long sum = 0;
    const size_t n = v.size();
    for (size_t i = 0; i < n; ++i) sum += v.at(i);  // checked, as the list is
    benchmark::DoNotOptimize(sum);
  }
  SetCounters(state);
}
BENCHMARK(BM_StdVector_IndexedRead)->Unit(benchmark::kMillisecond);

}  // namespace
