// Benchmarks of VoCopyStream and VoNullStream against plain memcpy of the same blocks.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "VoIO/VoStream.h"

namespace {

constexpr unsigned long kBytes = 16ul << 20;  // 16 MiB copied per iteration

/// Reads from a block in memory; only Read and SetPosition are used.
class MemorySource : public VoStreamImplemented {
 public:
  explicit MemorySource(const std::vector<char>& data) : mData(data) {}
  void Read(void* buffer, unsigned long size, unsigned long* count) override {
    const unsigned long left = mData.size() - mPos;
    const unsigned long n = size < left ? size : left;
    std::memcpy(buffer, mData.data() + mPos, n);
    mPos += n;
    if (count) *count = n;
  }
  void SetPosition(long offset, eVoFileSeekMode) override { mPos = static_cast<unsigned long>(offset); }

 private:
  const std::vector<char>& mData;
  unsigned long mPos = 0;
};

/// Writes into a block in memory, so that the copy really moves every byte twice.
class MemoryTarget : public VoStreamImplemented {
 public:
  explicit MemoryTarget(std::vector<char>& data) : mData(data) {}
  void Write(const void* buffer, unsigned long size, unsigned long* count) override {
    std::memcpy(mData.data() + mPos, buffer, size);
    mPos += size;
    if (count) *count = size;
  }
  void SetPosition(long offset, eVoFileSeekMode) override { mPos = static_cast<unsigned long>(offset); }

 private:
  std::vector<char>& mData;
  unsigned long mPos = 0;
};

const std::vector<char>& SourceData() {
  static const std::vector<char> data = [] {
    std::vector<char> d(kBytes);
    for (unsigned long i = 0; i < kBytes; ++i) d[i] = static_cast<char>(i * 31 + 7);
    return d;
  }();
  return data;
}

// VoCopyStream from memory into memory, blocks of state.range(0) bytes.
void BM_VoCopyStream_MemoryToMemory(benchmark::State& state) {
  const unsigned long block = static_cast<unsigned long>(state.range(0));
  std::vector<char> out(kBytes);
  MemorySource source(SourceData());
  MemoryTarget target(out);
  for (auto _ : state) {
    source.SetPosition(0, eVoFileSeekBegin);
    target.SetPosition(0, eVoFileSeekBegin);
    VoCopyStream(source, target, static_cast<long>(kBytes), block);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kBytes));
}
BENCHMARK(BM_VoCopyStream_MemoryToMemory)->Arg(4096)->Arg(100000)->Unit(benchmark::kMillisecond);

// The peer: the same two memcpy per block through one staging buffer, no streams.
void BM_Memcpy_Staged(benchmark::State& state) {
  const unsigned long block = static_cast<unsigned long>(state.range(0));
  std::vector<char> out(kBytes);
  std::vector<char> staging(block);
  const std::vector<char>& in = SourceData();
  for (auto _ : state) {
    for (unsigned long pos = 0; pos < kBytes; pos += block) {
      const unsigned long n = kBytes - pos < block ? kBytes - pos : block;
      std::memcpy(staging.data(), in.data() + pos, n);
      std::memcpy(out.data() + pos, staging.data(), n);
    }
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kBytes));
}
BENCHMARK(BM_Memcpy_Staged)->Arg(4096)->Arg(100000)->Unit(benchmark::kMillisecond);

// VoCopyStream from memory into VoNullStream: the cost of the copy loop alone.
void BM_VoCopyStream_ToNullStream(benchmark::State& state) {
  const unsigned long block = static_cast<unsigned long>(state.range(0));
  MemorySource source(SourceData());
  VoNullStream sink;
  for (auto _ : state) {
    source.SetPosition(0, eVoFileSeekBegin);
    VoCopyStream(source, sink, static_cast<long>(kBytes), block);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kBytes));
}
BENCHMARK(BM_VoCopyStream_ToNullStream)->Arg(4096)->Arg(100000)->Unit(benchmark::kMillisecond);

// The peer of the row above: one memcpy per block into a staging buffer.
void BM_Memcpy_ToStaging(benchmark::State& state) {
  const unsigned long block = static_cast<unsigned long>(state.range(0));
  std::vector<char> staging(block);
  const std::vector<char>& in = SourceData();
  for (auto _ : state) {
    for (unsigned long pos = 0; pos < kBytes; pos += block) {
      const unsigned long n = kBytes - pos < block ? kBytes - pos : block;
      std::memcpy(staging.data(), in.data() + pos, n);
      benchmark::DoNotOptimize(staging.data());
      benchmark::ClobberMemory();
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kBytes));
}
BENCHMARK(BM_Memcpy_ToStaging)->Arg(4096)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace
