// Benchmarks of VoSystem::TickCount against the system clocks, and VoSystem::CopyFile against cp
// (a plain 1 GiB file, and a sparse 3 GiB one against cp --sparse=auto).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "VoIO/VoFileSpec.h"
#include "VoSystem/VoSystem.h"

extern char** environ;

namespace {

// ---------------------------------------------------------------- clock

void BM_VoSystem_TickCount(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(VoSystem::TickCount());
}
BENCHMARK(BM_VoSystem_TickCount);

void BM_Peer_ClockGettimeMonotonic(benchmark::State& state) {
  for (auto _ : state) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    benchmark::DoNotOptimize(now);
  }
}
BENCHMARK(BM_Peer_ClockGettimeMonotonic);

void BM_Peer_SteadyClockNow(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(std::chrono::steady_clock::now());
}
BENCHMARK(BM_Peer_SteadyClockNow);

// ---------------------------------------------------------------- file copy

constexpr long kCopyBytes = 1L << 30;  // 1 GiB

/// The 1 GiB source file and the two targets under /tmp, made on first use and
/// deleted when the program ends.
class CopyFiles {
 public:
  static CopyFiles& Get() {
    static CopyFiles files;
    return files;
  }
  bool ok() const { return ok_; }
  const std::string& source() const { return source_; }
  const std::string& oursTarget() const { return oursTarget_; }
  const std::string& cpTarget() const { return cpTarget_; }

  ~CopyFiles() {
    for (const std::string* p : {&source_, &oursTarget_, &cpTarget_}) unlink(p->c_str());
    rmdir(dir_.c_str());
  }

 private:
  CopyFiles() {
    char pattern[] = "/tmp/vo-copy-bench-XXXXXX";
    if (!mkdtemp(pattern)) return;
    dir_ = pattern;
    source_ = dir_ + "/source.bin";
    oursTarget_ = dir_ + "/ours.bin";
    cpTarget_ = dir_ + "/cp.bin";
    std::FILE* f = std::fopen(source_.c_str(), "wb");
    if (!f) return;
    std::vector<unsigned char> block(1 << 20);
    uint32_t x = 12345;
    for (long done = 0; done < kCopyBytes; done += static_cast<long>(block.size())) {
      for (unsigned char& b : block) {
        x = x * 1664525u + 1013904223u;
        b = static_cast<unsigned char>(x >> 24);
      }
      if (std::fwrite(block.data(), 1, block.size(), f) != block.size()) {
        std::fclose(f);
        return;
      }
    }
    ok_ = std::fclose(f) == 0;
  }

  bool ok_ = false;
  std::string dir_, source_, oursTarget_, cpTarget_;
};

/// Outside the timing: removes the last copy and writes every dirty page back,
/// so that each copy starts from the same state of the page cache and neither
/// pays for the other's write-back.
void Settle(benchmark::State& state, const std::string& target) {
  state.PauseTiming();
  unlink(target.c_str());
  sync();
  state.ResumeTiming();
}

VoFileSpec Spec(const std::string& path) { return VoFileSpec(VoString(path.c_str())); }

void BM_VoSystem_CopyFile_1GiB(benchmark::State& state) {
  CopyFiles& files = CopyFiles::Get();
  if (!files.ok()) {
    state.SkipWithError("cannot make the 1 GiB source file under /tmp");
    return;
  }
  const VoFileSpec from = Spec(files.source());
  const VoFileSpec to = Spec(files.oursTarget());
  for (auto _ : state) {
    Settle(state, files.oursTarget());
    VoSystem::CopyFile(from, to);
  }
  state.SetBytesProcessed(state.iterations() * kCopyBytes);
}
BENCHMARK(BM_VoSystem_CopyFile_1GiB)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();

/// Runs the cp command line \p argv and waits for it; true when it succeeded.
bool Cp(std::vector<std::string> argv) {
  std::vector<char*> args;
  for (std::string& a : argv) args.push_back(a.data());
  args.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawnp(&pid, "cp", nullptr, nullptr, args.data(), environ) != 0) return false;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

/// Runs the cp command line \p argv (the target last) once per iteration.
void RunCp(benchmark::State& state, const std::vector<std::string>& argv) {
  for (auto _ : state) {
    Settle(state, argv.back());
    if (!Cp(argv)) {
      state.SkipWithError("cp failed");
      return;
    }
  }
}

/// CopyFile from \p source to \p target and the cp command line \p argv (its
/// target last) one right after the other in each iteration, the order
/// turning, each from a settled page cache, so that both meet the same load.
/// The time is CopyFile's; the counters give cp's mean, ours / cp and the
/// median of the per-iteration ratios (which one slow write-back does not
/// move).
void PairedWithCp(benchmark::State& state, const std::string& source, const std::string& target,
                  const std::vector<std::string>& argv) {
  double ours = 0;
  double cp = 0;
  std::vector<double> pairs;  // ours / cp, per iteration
  bool oursFirst = true;
  for (auto _ : state) {
    double t[2];
    for (int k = 0; k < 2; ++k) {
      const bool mine = (k == 0) == oursFirst;
      unlink((mine ? target : argv.back()).c_str());
      sync();
      const auto start = std::chrono::steady_clock::now();
      if (mine) {
        VoSystem::CopyFile(Spec(source), Spec(target));
      } else if (!Cp(argv)) {
        state.SkipWithError("cp failed");
        return;
      }
      t[mine ? 0 : 1] = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    oursFirst = !oursFirst;
    state.SetIterationTime(t[0]);
    ours += t[0];
    cp += t[1];
    pairs.push_back(t[0] / t[1]);
  }
  std::sort(pairs.begin(), pairs.end());
  if (!pairs.empty()) state.counters["median_pair_ours/cp"] = pairs[pairs.size() / 2];
  state.counters["cp_ms"] = cp / static_cast<double>(state.iterations()) * 1e3;
  state.counters["ours/cp"] = ours / cp;
}

void BM_Peer_Cp_1GiB(benchmark::State& state) {
  CopyFiles& files = CopyFiles::Get();
  if (!files.ok()) {
    state.SkipWithError("cannot make the 1 GiB source file under /tmp");
    return;
  }
  RunCp(state, {"cp", files.source(), files.cpTarget()});
  state.SetBytesProcessed(state.iterations() * kCopyBytes);
}
BENCHMARK(BM_Peer_Cp_1GiB)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();

void BM_VoSystem_CopyFilePairedWithCp_1GiB(benchmark::State& state) {
  CopyFiles& files = CopyFiles::Get();
  if (!files.ok()) {
    state.SkipWithError("cannot make the 1 GiB source file under /tmp");
    return;
  }
  PairedWithCp(state, files.source(), files.oursTarget(), {"cp", files.source(), files.cpTarget()});
}
BENCHMARK(BM_VoSystem_CopyFilePairedWithCp_1GiB)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(6)
    ->UseManualTime();

// ---------------------------------------------------------------- sparse file copy

constexpr long kSparseBytes = 3L << 30;        // 3 GiB long
constexpr long kSparseEvery = 256L << 20;      // one data run every 256 MiB
constexpr std::size_t kSparseData = 1u << 20;  // of 1 MiB

/// A 3 GiB file holding 1 MiB of data every 256 MiB, holes between.
class SparseFiles {
 public:
  static SparseFiles& Get() {
    static SparseFiles files;
    return files;
  }
  bool ok() const { return ok_; }
  std::string source, ours, cp;

  ~SparseFiles() {
    for (const std::string* p : {&source, &ours, &cp}) unlink(p->c_str());
    rmdir(dir_.c_str());
  }

 private:
  SparseFiles() {
    char pattern[] = "/tmp/vo-sparse-bench-XXXXXX";
    if (!mkdtemp(pattern)) return;
    dir_ = pattern;
    source = dir_ + "/source.bin";
    ours = dir_ + "/ours.bin";
    cp = dir_ + "/cp.bin";
    const int fd = open(source.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0) return;
    std::vector<unsigned char> block(kSparseData);
    uint32_t x = 777;
    bool written = ftruncate(fd, kSparseBytes) == 0;
    for (long at = 0; written && at < kSparseBytes; at += kSparseEvery) {
      for (unsigned char& b : block) {
        x = x * 1664525u + 1013904223u;
        b = static_cast<unsigned char>(x >> 24);
      }
      written = pwrite(fd, block.data(), block.size(), at) == static_cast<ssize_t>(block.size());
    }
    ok_ = close(fd) == 0 && written;
  }

  bool ok_ = false;
  std::string dir_;
};

void BM_VoSystem_CopyFile_Sparse3GiB(benchmark::State& state) {
  SparseFiles& files = SparseFiles::Get();
  if (!files.ok()) {
    state.SkipWithError("cannot make the sparse source file under /tmp");
    return;
  }
  const VoFileSpec from = Spec(files.source);
  const VoFileSpec to = Spec(files.ours);
  for (auto _ : state) {
    Settle(state, files.ours);
    VoSystem::CopyFile(from, to);
  }
  struct stat st {};
  stat(files.ours.c_str(), &st);
  state.counters["blocks_KiB"] = static_cast<double>(st.st_blocks) / 2;
  state.SetBytesProcessed(state.iterations() * kSparseBytes);
}
BENCHMARK(BM_VoSystem_CopyFile_Sparse3GiB)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

void BM_Peer_CpSparseAuto_Sparse3GiB(benchmark::State& state) {
  SparseFiles& files = SparseFiles::Get();
  if (!files.ok()) {
    state.SkipWithError("cannot make the sparse source file under /tmp");
    return;
  }
  RunCp(state, {"cp", "--sparse=auto", files.source, files.cp});
  struct stat st {};
  stat(files.cp.c_str(), &st);
  state.counters["blocks_KiB"] = static_cast<double>(st.st_blocks) / 2;
  state.SetBytesProcessed(state.iterations() * kSparseBytes);
}
BENCHMARK(BM_Peer_CpSparseAuto_Sparse3GiB)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

void BM_VoSystem_CopyFilePairedWithCpSparse_Sparse3GiB(benchmark::State& state) {
  SparseFiles& files = SparseFiles::Get();
  if (!files.ok()) {
    state.SkipWithError("cannot make the sparse source file under /tmp");
    return;
  }
  PairedWithCp(state, files.source, files.ours, {"cp", "--sparse=auto", files.source, files.cp});
  struct stat st {};
  stat(files.ours.c_str(), &st);
  state.counters["blocks_KiB"] = static_cast<double>(st.st_blocks) / 2;
}
BENCHMARK(BM_VoSystem_CopyFilePairedWithCpSparse_Sparse3GiB)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(20)
    ->UseManualTime();

}  // namespace
