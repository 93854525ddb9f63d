// VoIterateDirDeepTest.cpp - Tests of walks down chains of folders far deeper than the descriptor limit.
#include "VoIO/VoIterateDir.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "Linux/VoLinuxSys.h"
#include "VoIO/VoIterateDirTestSupport.h"

namespace {

/// The descriptors a walk holds (it opens folders only), counted at every
/// open and close through the system-call table.
int gHeld = 0, gMostHeld = 0;

struct CountFolders {
  CountFolders() {
    gHeld = gMostHeld = 0;
    gVoSys.openat = [](int dirfd, const char* path, int flags, mode_t mode) {
      const int fd = kVoSysDefault.openat(dirfd, path, flags, mode);
      gMostHeld = std::max(gMostHeld, gHeld += fd >= 0);
      return fd;
    };
    gVoSys.close = [](int fd) { return --gHeld, kVoSysDefault.close(fd); };
  }
  ~CountFolders() { gVoSys = kVoSysDefault; }
};

using namespace vo_walk_test;

/// Below \p root, \p levels folders "d", each in the one before; \p root and
/// every one but the last down to level \p filesTo hold the files "a" and "z" besides (made before and
/// after "d", so one of them is listed after it whatever the file system's order).
void MakeChain(const std::string& root, int levels, int filesTo) {
  int fd = open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  for (int i = 0; i < levels && fd >= 0; ++i) {
    if (i <= filesTo) close(openat(fd, "a", O_CREAT | O_WRONLY | O_CLOEXEC, 0644));
    const bool made = mkdirat(fd, "d", 0755) == 0;
    if (i <= filesTo) close(openat(fd, "z", O_CREAT | O_WRONLY | O_CLOEXEC, 0644));
    const int next = made ? openat(fd, "d", O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1;
    close(fd);
    fd = next;
  }
  ASSERT_GE(fd, 0) << "cannot make the chain";
  close(fd);
}

/// Removes what MakeChain made bottom up, without recursing as nftw would.
void RemoveChain(const std::string& root) {
  int fd = open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  int depth = 0;
  for (int next; fd >= 0 && (next = openat(fd, "d", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)) >= 0;) {
    close(fd);
    fd = next;
    ++depth;
  }
  for (; fd >= 0; --depth) {
    unlinkat(fd, "a", 0);
    unlinkat(fd, "z", 0);
    unlinkat(fd, "d", AT_REMOVEDIR);
    const int up = depth > 0 ? openat(fd, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1;
    close(fd);
    fd = up;
  }
}

/// Checks a walk of a chain made by MakeChain entry by entry (a Recorder
/// would keep some 300 MB of names): every entry comes once, at most one
/// level below the last folder reported (pre-order), and the walk holds few
/// descriptors and no other thread.
class ChainWalker : public VoIterateDir {
 public:
  ChainWalker(const std::string& root, int levels) : mRoot(root), mLevels(levels), mSeen(3 * levels + 3) {
    for (int i = 0; i < levels; ++i) mChain += "/d";
  }
  int ProcessFile(const VoFileInfo& info) override {
    const VoString fullName = info.GetFullName();  // not copied: the deepest are 20,000 bytes long
    const std::string_view full(fullName.c_str(), static_cast<size_t>(fullName.length()));
    const size_t rel = full.size() - mRoot.size();  // "/d" per folder above the entry, "/" and its name
    const int level = static_cast<int>(rel / 2);
    const char* names = "adz";
    const char* which = full.empty() || full.back() == 0 ? nullptr : std::strchr(names, full.back());
    if (full.size() <= mRoot.size() || rel % 2 != 0 || level > mLevels || level > mOpen + 1 || !which ||
        full.compare(0, mRoot.size(), mRoot) != 0 ||
        full.compare(mRoot.size(), rel - 1, mChain, 0, rel - 1) != 0 || info.IsFile() != (*which != 'd')) {
      if (++misplaced < 5)
        ADD_FAILURE() << "misplaced entry at level " << level << ": ..." << full.substr(full.size() - 9);
      return 0;
    }
    ++mSeen[static_cast<size_t>(3 * level + (which - names))];
    mOpen = *which == 'd' ? level : level - 1;
    if (level == mLevels && moveLevel > 0) {
      // Deepest now: a level far above, whose descriptor the walk has given up, moves away.
      moved = rename((mRoot + mChain.substr(0, 2 * moveLevel)).c_str(), (mRoot + "/moved").c_str()) == 0;
      moveLevel = 0;
    }
    if (++mCount % 64 == 0 || level == mLevels) {  // counting them all would take longer than the walk
      mostThreads = std::max(mostThreads, OpenDescriptors("/proc/self/task"));
    }
    return 0;
  }
  /// Every entry of the chain reported exactly once.
  bool Whole(int entries) const {
    return misplaced == 0 && std::count(mSeen.begin() + 3, mSeen.end(), 1) == entries;
  }
  int misplaced = 0;
  int moveLevel = 0;
  bool moved = false;
  int mostThreads = -1;

 private:
  std::string mRoot;
  int mLevels;
  std::string mChain;
  std::vector<int> mSeen;  // [3 * level + (a, d, z)]
  int mOpen = 0;           // level of the last folder reported
  long mCount = 0;
};

struct DeepCase {
  const char* what;
  int levels;
  int freeDescriptors;  // 0: the limit as it is
  int moveLevel;        // 0: nothing moves
  int filesTo = 0;      // folders below this level hold "d" alone; 0: none
};

// The depth of a walk is limited by memory alone: its levels are not on the
// stack (10,000 overflowed it under AddressSanitizer) and it holds at most 16
// folders open (the limit of 1,024 descriptors ended walks at 1,000 levels).
TEST(VoIterateDirTest, DeepChainsAreWalkedWholeWithFewDescriptorsAndNoThread) {
  const DeepCase cases[] = {
      {"10,000 levels", 10000, 0, 0},
      {"3,000 levels, 64 descriptors free", 3000, 64, 0},
      {"3,000 levels, 8 descriptors free", 3000, 8, 0},
      {"a level moved away while the walk is below it", 100, 0, 20},
      {"a level moved away, with entries left and none below it", 100, 0, 20, 20},
  };
  for (const DeepCase& c : cases) {
    SCOPED_TRACE(c.what);
    Scratch t(true);
    const int full = c.filesTo > 0 ? c.filesTo + 1 : c.levels;  // levels with "a" and "z"
    MakeChain(t.Root(), c.levels, full - 1);
    ChainWalker walk(t.Root(), c.levels);
    walk.moveLevel = c.moveLevel;
    const int descriptors = OpenDescriptors();
    const int threads = OpenDescriptors("/proc/self/task");
    struct rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    struct rlimit low = saved;  // about that many free: numbers in use are about as many as those open
    low.rlim_cur = static_cast<rlim_t>(descriptors + c.freeDescriptors);
    if (c.freeDescriptors > 0) {
      ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
    }
    int status;
    {
      CountFolders count;
      status = walk.Start(VoFileSpec(Vo(t.Root())), 0);
    }
    setrlimit(RLIMIT_NOFILE, &saved);
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(walk.Whole(3 * full + c.levels - full));
    EXPECT_EQ(walk.moved, c.moveLevel > 0);
    EXPECT_LE(gMostHeld, 16) << "folder descriptors held at once";
    if (c.freeDescriptors == 0) {  // else the counting itself may find no descriptor left
      EXPECT_EQ(walk.mostThreads, threads);
    }
    RemoveChain(t.Root());
  }
}

}  // namespace
