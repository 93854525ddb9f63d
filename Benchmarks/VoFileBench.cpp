// VoFileBench.cpp - files, database files and the debug log against QFile, stdio, read() loops, cat and
// GKeyFile.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <glib.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

#include <QtCore/QByteArray>
#include <QtCore/QFile>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "VoCore/VoDebug.h"
#include "VoCore/VoString.h"
#include "VoData/VoDataBase.h"
#include "VoIO/VoFile.h"

namespace {

// ---------------------------------------------------------------- files under /tmp

constexpr long kBigSize = 200L << 20;  // 200 MiB

/// A file removed when the program ends.
struct TempFile {
  explicit TempFile(std::string p) : path(std::move(p)) {}
  ~TempFile() { std::remove(path.c_str()); }
  std::string path;
};

/// The 200 MiB file, written once and read once so that it is cached.
const std::string& BigFile() {
  static const TempFile file = [] {
    TempFile f("/tmp/vo_file_bench_" + std::to_string(getpid()) + ".bin");
    FILE* out = std::fopen(f.path.c_str(), "wb");
    std::vector<unsigned char> block(1 << 20);
    uint64_t x = 0x9E3779B97F4A7C15ULL;
    for (long done = 0; done < kBigSize; done += static_cast<long>(block.size())) {
      for (auto& b : block) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        b = static_cast<unsigned char>(x);
      }
      std::fwrite(block.data(), 1, block.size(), out);
    }
    std::fclose(out);
    FILE* in = std::fopen(f.path.c_str(), "rb");
    while (std::fread(block.data(), 1, block.size(), in) > 0) {
    }
    std::fclose(in);
    return f;
  }();
  return file.path;
}

// ---------------------------------------------------------------- reading a whole file

void BM_VoFileReadString(benchmark::State& state) {
  const std::string& path = BigFile();
  for (auto _ : state) {
    VoFile file(VoFileSpec(VoString(path.c_str())), eVoFileRead);
    VoString text = file.ReadString();
    benchmark::DoNotOptimize(text.c_str());
  }
  state.SetBytesProcessed(state.iterations() * kBigSize);
}
BENCHMARK(BM_VoFileReadString)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_QFileReadAll(benchmark::State& state) {
  const std::string& path = BigFile();
  for (auto _ : state) {
    QFile file(QString::fromStdString(path));
    file.open(QIODevice::ReadOnly);
    QByteArray bytes = file.readAll();
    benchmark::DoNotOptimize(bytes.data());
  }
  state.SetBytesProcessed(state.iterations() * kBigSize);
}
BENCHMARK(BM_QFileReadAll)->Unit(benchmark::kMillisecond)->UseRealTime();

/// What cat does: read() into one reused 128 KiB buffer.
void BM_CatEquivalentReadLoop(benchmark::State& state) {
  const std::string& path = BigFile();
  std::vector<char> buffer(128 << 10);
  for (auto _ : state) {
    const int fd = open(path.c_str(), O_RDONLY);
    ssize_t n;
    while ((n = read(fd, buffer.data(), buffer.size())) > 0) benchmark::DoNotOptimize(buffer.data());
    close(fd);
  }
  state.SetBytesProcessed(state.iterations() * kBigSize);
}
BENCHMARK(BM_CatEquivalentReadLoop)->Unit(benchmark::kMillisecond)->UseRealTime();

/// The big file read into \p buffer by one read() loop.
void ReadLoop(const std::string& path, char* buffer) {
  const int fd = open(path.c_str(), O_RDONLY);
  long got = 0;
  ssize_t n;
  while (got < kBigSize && (n = read(fd, buffer + got, static_cast<std::size_t>(kBigSize - got))) > 0)
    got += n;
  close(fd);
}

/// The floor of any reader that returns a fresh buffer: malloc of the file's
/// size, one read() loop straight into it, free (no huge-page hint).
void BM_FreshBufferReadLoop(benchmark::State& state) {
  const std::string& path = BigFile();
  for (auto _ : state) {
    char* buffer = static_cast<char*>(std::malloc(kBigSize + 1));
    ReadLoop(path, buffer);
    benchmark::DoNotOptimize(buffer);
    std::free(buffer);
  }
  state.SetBytesProcessed(state.iterations() * kBigSize);
}
BENCHMARK(BM_FreshBufferReadLoop)->Unit(benchmark::kMillisecond)->UseRealTime();

/// The floor for ReadString: a fresh block of the file's size with the hint
/// the string's large blocks get (huge pages for the 2 MiB-aligned interior),
/// one read() loop straight into it on this thread, free.
void FreshHugeHintBlockRead(const std::string& path) {
  constexpr uintptr_t kHuge = uintptr_t{2} << 20;
  char* buffer = static_cast<char*>(std::malloc(kBigSize + 1));
  const uintptr_t begin = (reinterpret_cast<uintptr_t>(buffer) + kHuge - 1) & ~(kHuge - 1);
  const uintptr_t end = (reinterpret_cast<uintptr_t>(buffer) + kBigSize + 1) & ~(kHuge - 1);
  madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
  ReadLoop(path, buffer);
  benchmark::DoNotOptimize(buffer);
  std::free(buffer);
}

void BM_FreshHugeHintBlockReadLoop(benchmark::State& state) {
  const std::string& path = BigFile();
  for (auto _ : state) FreshHugeHintBlockRead(path);
  state.SetBytesProcessed(state.iterations() * kBigSize);
}
BENCHMARK(BM_FreshHugeHintBlockReadLoop)->Unit(benchmark::kMillisecond)->UseRealTime();

/// QFile::readAll, ReadString and the fresh-block read() loop one right after
/// the other in each iteration, so that all three meet the same load: the
/// time is ReadString's; the counters give each one's mean and the ratios
/// ours / fresh block (target: at most 1.1) and QFile / ours (target: at least
/// 3), in wall time and in this process's CPU time (user and system: the
/// copying and the zeroing of fresh pages, which waiting for a busy core does
/// not inflate), and the median of the per-iteration wall-time ratios ours /
/// fresh block (which one slow outlier does not move).
void BM_VoFileReadStringPaired(benchmark::State& state) {
  const std::string& path = BigFile();
  const auto now = [](clockid_t clock) {
    struct timespec t {};
    clock_gettime(clock, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
  };
  double wall[3] = {0, 0, 0};
  double cpu[3] = {0, 0, 0};
  const auto timed = [&](int which, auto&& read) {
    const double wall0 = now(CLOCK_MONOTONIC);
    const double cpu0 = now(CLOCK_PROCESS_CPUTIME_ID);
    read();
    cpu[which] += now(CLOCK_PROCESS_CPUTIME_ID) - cpu0;
    const double took = now(CLOCK_MONOTONIC) - wall0;
    wall[which] += took;
    return took;
  };
  const auto ours = [&path] {
    VoFile file(VoFileSpec(VoString(path.c_str())), eVoFileRead);
    VoString text = file.ReadString();
    benchmark::DoNotOptimize(text.c_str());
  };
  const auto fresh = [&path] { FreshHugeHintBlockRead(path); };
  const auto qfile = [&path] {
    QFile file(QString::fromStdString(path));
    file.open(QIODevice::ReadOnly);
    QByteArray bytes = file.readAll();
    benchmark::DoNotOptimize(bytes.data());
  };
  std::vector<double> pairs;  // ours / fresh block, per iteration
  bool oursFirst = true;
  for (auto _ : state) {
    const double freshBefore = wall[1];
    // QFile first; then ReadString and the fresh block take turns at
    // following it (fresh memory costs differ after QFile's small pages).
    timed(2, qfile);
    double mine;
    if (oursFirst) {
      mine = timed(0, ours);
      timed(1, fresh);
    } else {
      timed(1, fresh);
      mine = timed(0, ours);
    }
    oursFirst = !oursFirst;
    state.SetIterationTime(mine);
    pairs.push_back(mine / (wall[1] - freshBefore));
  }
  std::sort(pairs.begin(), pairs.end());
  if (!pairs.empty()) state.counters["median_pair_ours/fresh"] = pairs[pairs.size() / 2];
  const double n = static_cast<double>(state.iterations());
  state.counters["ours_ms"] = wall[0] / n * 1e3;
  state.counters["fresh_ms"] = wall[1] / n * 1e3;
  state.counters["qfile_ms"] = wall[2] / n * 1e3;
  state.counters["ours/fresh"] = wall[0] / wall[1];
  state.counters["qfile/ours"] = wall[2] / wall[0];
  state.counters["cpu_ours/fresh"] = cpu[0] / cpu[1];
  state.counters["cpu_qfile/ours"] = cpu[2] / cpu[0];
  state.SetBytesProcessed(state.iterations() * kBigSize);
}
BENCHMARK(BM_VoFileReadStringPaired)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(24);

/// cat itself, started through the shell (includes starting the process).
void BM_CatCommand(benchmark::State& state) {
  const std::string command = "cat '" + BigFile() + "' > /dev/null";
  for (auto _ : state) benchmark::DoNotOptimize(std::system(command.c_str()));
  state.SetBytesProcessed(state.iterations() * kBigSize);
}
BENCHMARK(BM_CatCommand)->Unit(benchmark::kMillisecond)->UseRealTime();

// ---------------------------------------------------------------- writing 64 KiB blocks

constexpr long kWriteTotal = 64L << 20;
constexpr unsigned long kBlock = 64 << 10;

const std::string& WritePath() {
  static const TempFile file("/tmp/vo_file_bench_write_" + std::to_string(getpid()) + ".bin");
  return file.path;
}

void BM_VoFileWrite64K(benchmark::State& state) {
  std::vector<char> block(kBlock, 'v');
  for (auto _ : state) {
    VoFile file(VoFileSpec(VoString(WritePath().c_str())), eVoFileWrite);
    for (long done = 0; done < kWriteTotal; done += kBlock) file.Write(block.data(), kBlock, nullptr);
    file.Close();
  }
  state.SetBytesProcessed(state.iterations() * kWriteTotal);
}
BENCHMARK(BM_VoFileWrite64K)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Fwrite64K(benchmark::State& state) {
  std::vector<char> block(kBlock, 'v');
  for (auto _ : state) {
    FILE* file = std::fopen(WritePath().c_str(), "wb");
    for (long done = 0; done < kWriteTotal; done += kBlock) std::fwrite(block.data(), 1, kBlock, file);
    std::fclose(file);
  }
  state.SetBytesProcessed(state.iterations() * kWriteTotal);
}
BENCHMARK(BM_Fwrite64K)->Unit(benchmark::kMillisecond)->UseRealTime();

// ---------------------------------------------------------------- database files

// 2000 groups of 100 entries (about 10 MB of text); a third of the values
// hold blanks (quoted in the database text), the others are numbers and
// paths. The same data as an INI file for GKeyFile.
constexpr int kGroups = 2000;
constexpr int kEntries = 100;

struct DataSet {
  VoDataBase db;
  GKeyFile* keyFile = nullptr;
  long textBytes = 0;
  std::string dbPath;
  std::string iniPath;
};

std::string Value(uint64_t& x, int kind) {
  static const char* const words[] = {"colour", "profile", "display", "gamma", "white", "point",
                                      "matrix", "curve",   "device",  "media", "black", "render"};
  auto next = [&x] {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    return x;
  };
  char buffer[96];
  if (kind == 0) {
    std::string s;
    const int n = 5 + static_cast<int>(next() % 3);
    for (int i = 0; i < n; ++i) {
      if (i) s += ' ';
      s += words[next() % 12];
    }
    return s;
  }
  if (kind == 1) {
    std::snprintf(buffer, sizeof buffer, "%llu.%04llu", static_cast<unsigned long long>(next() % 1000000),
                  static_cast<unsigned long long>(next() % 10000));
    return buffer;
  }
  std::snprintf(buffer, sizeof buffer, "/usr/share/color/icc/devices/%s_%s_%03llu.icc", words[next() % 12],
                words[next() % 12], static_cast<unsigned long long>(next() % 1000));
  return buffer;
}

DataSet& Data() {
  static DataSet* data = [] {
    auto* d = new DataSet;
    d->keyFile = g_key_file_new();
    uint64_t x = 0x1234567887654321ULL;
    char group[32];
    char key[32];
    for (int g = 0; g < kGroups; ++g) {
      std::snprintf(group, sizeof group, "group%04d", g);
      VoDataBase* level = d->db.GetDB(group, true);
      for (int e = 0; e < kEntries; ++e) {
        std::snprintf(key, sizeof key, "key%03d", e);
        const std::string value = Value(x, e % 3);
        level->SetString(key, value.c_str());
        g_key_file_set_value(d->keyFile, group, key, value.c_str());
      }
    }
    d->textBytes = d->db.WriteToString().length();
    d->dbPath = "/tmp/vo_file_bench_db_" + std::to_string(getpid()) + ".txt";
    d->iniPath = "/tmp/vo_file_bench_ini_" + std::to_string(getpid()) + ".ini";
    d->db.WriteToFile(VoFileSpec(VoString(d->dbPath.c_str())));
    g_key_file_save_to_file(d->keyFile, d->iniPath.c_str(), nullptr);
    std::atexit([] {
      std::remove(Data().dbPath.c_str());
      std::remove(Data().iniPath.c_str());
    });
    return d;
  }();
  return *data;
}

void BM_DataBaseWriteToFile(benchmark::State& state) {
  DataSet& d = Data();
  const VoFileSpec spec(VoString(d.dbPath.c_str()));
  for (auto _ : state) d.db.WriteToFile(spec);
  state.SetBytesProcessed(state.iterations() * d.textBytes);
}
BENCHMARK(BM_DataBaseWriteToFile)->Unit(benchmark::kMillisecond)->UseRealTime();

/// The baseline: WriteToString and a plain overwrite with stdio (no flush to the disk).
void BM_DataBaseWriteToStringPlusFwrite(benchmark::State& state) {
  DataSet& d = Data();
  for (auto _ : state) {
    VoString text = d.db.WriteToString();
    FILE* out = std::fopen(d.dbPath.c_str(), "wb");
    std::fwrite(text.c_str(), 1, static_cast<std::size_t>(text.length()), out);
    std::fclose(out);
  }
  state.SetBytesProcessed(state.iterations() * d.textBytes);
}
BENCHMARK(BM_DataBaseWriteToStringPlusFwrite)->Unit(benchmark::kMillisecond)->UseRealTime();

/// The same baseline with the fsync a safe save needs.
void BM_DataBaseWriteToStringPlusFwriteFsync(benchmark::State& state) {
  DataSet& d = Data();
  for (auto _ : state) {
    VoString text = d.db.WriteToString();
    FILE* out = std::fopen(d.dbPath.c_str(), "wb");
    std::fwrite(text.c_str(), 1, static_cast<std::size_t>(text.length()), out);
    std::fflush(out);
    fsync(fileno(out));
    std::fclose(out);
  }
  state.SetBytesProcessed(state.iterations() * d.textBytes);
}
BENCHMARK(BM_DataBaseWriteToStringPlusFwriteFsync)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_GKeyFileSaveToFile(benchmark::State& state) {
  DataSet& d = Data();
  for (auto _ : state) g_key_file_save_to_file(d.keyFile, d.iniPath.c_str(), nullptr);
  state.SetBytesProcessed(state.iterations() * d.textBytes);
}
BENCHMARK(BM_GKeyFileSaveToFile)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_DataBaseReadFromFile(benchmark::State& state) {
  DataSet& d = Data();
  const VoFileSpec spec(VoString(d.dbPath.c_str()));
  VoDataBase db;
  for (auto _ : state) db.ReadFromFile(spec);
  state.SetBytesProcessed(state.iterations() * d.textBytes);
}
BENCHMARK(BM_DataBaseReadFromFile)->Unit(benchmark::kMillisecond)->UseRealTime();

/// The baseline: a plain stdio read into a string and ReadFromString.
void BM_DataBaseFreadPlusReadFromString(benchmark::State& state) {
  DataSet& d = Data();
  VoDataBase db;
  for (auto _ : state) {
    FILE* in = std::fopen(d.dbPath.c_str(), "rb");
    std::fseek(in, 0, SEEK_END);
    const long size = std::ftell(in);
    std::fseek(in, 0, SEEK_SET);
    VoString text(size, false);
    char* chars = text.Get();
    const std::size_t got = std::fread(chars, 1, static_cast<std::size_t>(size), in);
    chars[got] = 0;
    std::fclose(in);
    db.ReadFromString(text);
  }
  state.SetBytesProcessed(state.iterations() * d.textBytes);
}
BENCHMARK(BM_DataBaseFreadPlusReadFromString)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_GKeyFileLoadFromFile(benchmark::State& state) {
  DataSet& d = Data();
  for (auto _ : state) {
    GKeyFile* kf = g_key_file_new();
    g_key_file_load_from_file(kf, d.iniPath.c_str(), G_KEY_FILE_NONE, nullptr);
    g_key_file_free(kf);
  }
  state.SetBytesProcessed(state.iterations() * d.textBytes);
}
BENCHMARK(BM_GKeyFileLoadFromFile)->Unit(benchmark::kMillisecond)->UseRealTime();

// ---------------------------------------------------------------- the debug log

void BM_DebugWriteFiltered(benchmark::State& state) {
  VoSetDebugLevelImpl(0);
  VoGetDebugOutputImpl();  // the stream exists, as in a running program
  for (auto _ : state) VoDebugWriteImpl(5, "a message nobody wants");
}
BENCHMARK(BM_DebugWriteFiltered);

void BM_DebugPrintfFiltered(benchmark::State& state) {
  VoSetDebugLevelImpl(0);
  int i = 0;
  for (auto _ : state) VoDebugPrintfImpl(5, "value %d of %s", ++i, "something");
}
BENCHMARK(BM_DebugPrintfFiltered);

}  // namespace
