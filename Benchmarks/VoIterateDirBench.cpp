// Benchmarks of folder walks: VoIterateDirGetFiles against nftw(FTW_PHYS), fts(3) and find -printf.
#include <benchmark/benchmark.h>

#include <dirent.h>
#include <fcntl.h>
#include <fts.h>
#include <ftw.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "Mac/VoMacToolsOSX.h"
#include "VoIO/VoIterateDir.h"

extern char** environ;

namespace {

// The tree: 10 folders, each with 10 folders, each with 10 folders (1,110
// folders), and 90 files (a third of them 10 bytes long, the rest empty) in
// each of these and in the root: 99,990 files, 101,100 entries.
constexpr int kFanOut = 10;
constexpr int kLevels = 3;
constexpr int kFilesPerFolder = 90;

int RemoveEntry(const char* path, const struct stat*, int type, struct FTW*) {
  if (type == FTW_DP) {
    rmdir(path);
  } else {
    unlink(path);
  }
  return 0;
}

void Fill(int dirfd, int level, long& entries) {
  for (int f = 0; f < kFilesPerFolder; ++f) {
    char name[32];
    std::snprintf(name, sizeof name, "file%02d.dat", f);
    int fd = openat(dirfd, name, O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
    if (fd >= 0) {
      if (f % 3 == 0 && write(fd, name, std::strlen(name)) < 0) std::perror("write");
      close(fd);
      ++entries;
    }
  }
  if (level == kLevels) return;
  for (int d = 0; d < kFanOut; ++d) {
    char name[32];
    std::snprintf(name, sizeof name, "dir%d", d);
    if (mkdirat(dirfd, name, 0755) != 0) continue;
    ++entries;
    int fd = openat(dirfd, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) continue;
    Fill(fd, level + 1, entries);
    close(fd);
  }
}

/// The tree, built under /tmp on first use and removed when the program ends.
class Tree {
 public:
  static const Tree& Get() {
    static Tree tree;
    return tree;
  }
  const std::string& Root() const { return mRoot; }
  long Entries() const { return mEntries; }

 private:
  Tree() {
    char tmpl[] = "/tmp/vo-walk-bench-XXXXXX";
    if (mkdtemp(tmpl) == nullptr) return;
    char resolved[PATH_MAX];
    mRoot = realpath(tmpl, resolved) ? resolved : tmpl;
    int fd = open(mRoot.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    Fill(fd, 0, mEntries);
    // Written back before any walk is timed: otherwise the write-back of the
    // new inodes runs beside the first benchmarks and slows them.
    syncfs(fd);
    close(fd);
  }
  ~Tree() {
    if (!mRoot.empty()) nftw(mRoot.c_str(), RemoveEntry, 64, FTW_DEPTH | FTW_PHYS);
  }
  std::string mRoot;
  long mEntries = 0;
};

bool Ready(benchmark::State& state) {
  if (Tree::Get().Root().empty() || Tree::Get().Entries() == 0) {
    state.SkipWithError("cannot build the tree under /tmp");
    return false;
  }
  return true;
}

void Count(benchmark::State& state, long entries) {
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * entries);
  state.counters["entries"] = static_cast<double>(entries);
}

// ---------------------------------------------------------------- ours

void BM_Walk_VoIterateDirGetFiles(benchmark::State& state) {
  if (!Ready(state)) return;
  const VoFileSpec root(VoString(Tree::Get().Root().c_str()));
  long entries = 0;
  for (auto _ : state) {
    VoIterateDirGetFiles walk;
    if (walk.Start(root, 0) != 0) state.SkipWithError("walk failed");
    entries = walk.GetCount() + walk.GetFolderCount();
    benchmark::DoNotOptimize(entries);
  }
  if (entries != Tree::Get().Entries()) state.SkipWithError("walk missed entries");
  Count(state, entries);
}
BENCHMARK(BM_Walk_VoIterateDirGetFiles)->Unit(benchmark::kMillisecond)->UseRealTime();

/// The walk and the per-entry step, without collecting.
class Counter : public VoIterateDir {
 public:
  int ProcessFile(const VoFileInfo& info) override {
    ++count;
    bytes += info.GetSize();
    return 0;
  }
  long count = 0;
  unsigned long bytes = 0;
};

void BM_Walk_VoIterateDirCount(benchmark::State& state) {
  if (!Ready(state)) return;
  const VoFileSpec root(VoString(Tree::Get().Root().c_str()));
  long entries = 0;
  for (auto _ : state) {
    Counter walk;
    walk.Start(root, 0);
    entries = walk.count;
    benchmark::DoNotOptimize(walk.bytes);
  }
  Count(state, entries);
}
BENCHMARK(BM_Walk_VoIterateDirCount)->Unit(benchmark::kMillisecond)->UseRealTime();

// ---------------------------------------------------------------- the bridge's walk alone

bool CountEntry(bool, unsigned long, const FSCatalogInfo* info, const FSRef*, const FSSpec*, const VoString*,
                void* data) {
  benchmark::DoNotOptimize(info->dataLogicalSize);
  ++*static_cast<long*>(data);
  return false;
}

// The bridge's walk with the facts VoIterateDir asks for when its walker reads
// sizes and dates, state.range(0) = 1 with the stored type and creator codes,
// 0 without them.
void BM_Walk_BridgeOnly(benchmark::State& state) {
  if (!Ready(state)) return;
  FSRef ref;
  ref.path = VoString(Tree::Get().Root().c_str());
  uint32_t which = kFSCatInfoCreateDate | kFSCatInfoContentMod | kFSCatInfoDataSizes;
  if (state.range(0)) which |= kFSCatInfoFinderInfo;
  long entries = 0;
  for (auto _ : state) {
    entries = 0;
    FSIterateContainer(ref, 0, which, false, false, CountEntry, &entries);
  }
  Count(state, entries);
}
BENCHMARK(BM_Walk_BridgeOnly)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();

// ---------------------------------------------------------------- peers

/// What a walk delivers per entry, as the nftw peer collects it.
struct Facts {
  std::string path;
  int type;
  off_t size;
  time_t modified;
  time_t changed;
};

std::vector<Facts>* gFacts = nullptr;

int CollectEntry(const char* path, const struct stat* st, int type, struct FTW* ftw) {
  if (ftw->level == 0) return 0;  // the folder itself is not an entry
  gFacts->push_back(
      Facts{path, type, type == FTW_D ? 0 : st->st_size, st->st_mtim.tv_sec, st->st_ctim.tv_sec});
  return 0;
}

void BM_Walk_NftwPhys(benchmark::State& state) {
  if (!Ready(state)) return;
  long entries = 0;
  for (auto _ : state) {
    std::vector<Facts> facts;
    gFacts = &facts;
    nftw(Tree::Get().Root().c_str(), CollectEntry, 64, FTW_PHYS);
    entries = static_cast<long>(facts.size());
    benchmark::DoNotOptimize(facts.data());
  }
  gFacts = nullptr;
  Count(state, entries);
}
BENCHMARK(BM_Walk_NftwPhys)->Unit(benchmark::kMillisecond)->UseRealTime();

/// Two walks one right after the other in each iteration, the order
/// alternating, so that both meet the same load: the time is ours; the
/// counters give each one's mean, the ratio of the sums ours / peer and the
/// median of the per-iteration ratios (which one slow outlier does not move).
template <typename Ours, typename Peer>
void Paired(benchmark::State& state, Ours&& ours, Peer&& peer) {
  if (!Ready(state)) return;
  const auto now = [] {
    struct timespec t {};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
  };
  double wall[2] = {0, 0};
  long entries[2] = {0, 0};
  bool missed = false;  // in any iteration, by either walk
  const auto timed = [&](int which, auto&& walk) {
    const double start = now();
    entries[which] = walk();
    const double took = now() - start;
    wall[which] += took;
    missed |= entries[which] != Tree::Get().Entries();
    return took;
  };
  std::vector<double> pairs;  // ours / peer, per iteration
  bool oursFirst = true;
  for (auto _ : state) {
    double mine;
    double theirs;
    if (oursFirst) {
      mine = timed(0, ours);
      theirs = timed(1, peer);
    } else {
      theirs = timed(1, peer);
      mine = timed(0, ours);
    }
    oursFirst = !oursFirst;
    state.SetIterationTime(mine);
    pairs.push_back(mine / theirs);
  }
  if (missed) state.SkipWithError("walk missed entries");
  std::sort(pairs.begin(), pairs.end());
  if (!pairs.empty()) state.counters["median_pair_ours/peer"] = pairs[pairs.size() / 2];
  const double n = static_cast<double>(state.iterations());
  state.counters["ours_ms"] = wall[0] / n * 1e3;
  state.counters["peer_ms"] = wall[1] / n * 1e3;
  state.counters["ours/peer"] = wall[0] / wall[1];
  Count(state, entries[0]);
}

long WalkNftw() {
  std::vector<Facts> facts;
  gFacts = &facts;
  nftw(Tree::Get().Root().c_str(), CollectEntry, 64, FTW_PHYS);
  gFacts = nullptr;
  return static_cast<long>(facts.size());
}

/// What the collecting walk keeps per entry, as fts collects it without
/// examining entries (FTS_NOSTAT: the kind from the listing).
struct Named {
  std::string path;
  bool folder;
};

long WalkFtsNoStat() {
  std::vector<Named> found;
  char* roots[] = {const_cast<char*>(Tree::Get().Root().c_str()), nullptr};
  FTS* fts = fts_open(roots, FTS_PHYSICAL | FTS_NOCHDIR | FTS_NOSTAT, nullptr);
  if (fts == nullptr) return 0;
  while (FTSENT* e = fts_read(fts)) {
    if (e->fts_level == 0 || e->fts_info == FTS_DP) continue;
    found.push_back(Named{std::string(e->fts_path, e->fts_pathlen), e->fts_info == FTS_D});
  }
  fts_close(fts);
  return static_cast<long>(found.size());
}

long WalkGetFiles() {
  VoIterateDirGetFiles walk;
  if (walk.Start(VoFileSpec(VoString(Tree::Get().Root().c_str())), 0) != 0) return -1;  // counts as missed
  return static_cast<long>(walk.GetCount() + walk.GetFolderCount());
}

/// Collecting walk (VoIterateDirGetFiles) against nftw(FTW_PHYS) collecting
/// path, type, size and dates. Target: a median pair of at most 0.95. Ours
/// reads no size or date (a spec holds none), so it examines only each
/// folder's first entry, where nftw stats every one: see the two benchmarks
/// below for like against like.
void BM_Walk_PairedWithNftw(benchmark::State& state) { Paired(state, WalkGetFiles, WalkNftw); }
BENCHMARK(BM_Walk_PairedWithNftw)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(20);

/// The collecting walk against fts(3) that does not examine entries either
/// (FTS_NOSTAT), collecting path and kind.
void BM_Walk_PairedWithFtsNoStat(benchmark::State& state) { Paired(state, WalkGetFiles, WalkFtsNoStat); }
BENCHMARK(BM_Walk_PairedWithFtsNoStat)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(20);

/// A walk that reads every file's size (and so examines every entry, as nftw
/// does) against nftw(FTW_PHYS).
void BM_Walk_SizesPairedWithNftw(benchmark::State& state) {
  const auto sizes = [] {
    Counter walk;
    walk.Start(VoFileSpec(VoString(Tree::Get().Root().c_str())), 0);
    benchmark::DoNotOptimize(walk.bytes);
    return walk.count;
  };
  Paired(state, sizes, WalkNftw);
}
BENCHMARK(BM_Walk_SizesPairedWithNftw)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(20);

// find DIR -printf '%y %s %T@\n' > /dev/null, started with posix_spawn.
void BM_Walk_FindPrintf(benchmark::State& state) {
  if (!Ready(state)) return;
  std::string root = Tree::Get().Root();
  for (auto _ : state) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    char find[] = "find";
    char format[] = "%y %s %T@\n";
    char printf[] = "-printf";
    char* argv[] = {find, root.data(), printf, format, nullptr};
    pid_t pid;
    if (posix_spawnp(&pid, "find", &actions, nullptr, argv, environ) != 0) {
      posix_spawn_file_actions_destroy(&actions);
      state.SkipWithError("cannot start find");
      return;
    }
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) state.SkipWithError("find failed");
  }
  Count(state, Tree::Get().Entries());
}
BENCHMARK(BM_Walk_FindPrintf)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
