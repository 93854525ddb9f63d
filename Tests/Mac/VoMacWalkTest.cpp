// Tests of the bridge's folder walk, FSIterateContainer.
#include <sys/wait.h>

#include <algorithm>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "Linux/VoLinuxSys.h"
#include "VoCore/VoError.h"

#include "VoMacToolsFixture.h"

namespace vo_mac_test {
namespace {

/// Every folder's entries follow it directly, as one block (pre-order).
void ExpectPreOrder(const std::vector<Seen>& seen) {
  for (size_t i = 0; i < seen.size(); ++i) {
    if (!(seen[i].nodeFlags & kFSNodeIsDirectoryMask)) continue;
    std::string prefix = seen[i].path + "/";
    size_t j = i + 1;
    while (j < seen.size() && seen[j].path.compare(0, prefix.size(), prefix) == 0) ++j;
    for (size_t k = j; k < seen.size(); ++k)
      EXPECT_NE(seen[k].path.compare(0, prefix.size(), prefix), 0)
          << seen[k].path << " is not in the block after " << seen[i].path;
  }
}

unsigned long Depth(const std::string& rel) {
  unsigned long n = 1;
  for (char c : rel) n += c == '/';
  return n;
}

class MacToolsWalkTest : public MacToolsTest {
 protected:
  void SetUp() override {
    MacToolsTest::SetUp();
    // w/{a, b, s/{c, t/{d}}, e, link -> s, empty/}
    Dir("w");
    WriteFile(P("w/a"), "aa");
    WriteFile(P("w/b"), "bbbb");
    Dir("w/s");
    WriteFile(P("w/s/c"), "c");
    Dir("w/s/t");
    WriteFile(P("w/s/t/d"), "");
    WriteFile(P("w/e"), "");
    Dir("w/empty");
    ASSERT_EQ(symlink("s", P("w/link").c_str()), 0);
  }
  OSErr Walk(Collector& c, unsigned long levels, bool record = false, bool name = false,
             const std::string& rel = "w") {
    c.base = P(rel) + "/";
    return FSIterateContainer(Ref(P(rel)), levels, kFSCatInfoDataSizes, record, name, Collect, &c);
  }
};

TEST_F(MacToolsWalkTest, LevelsAndPreOrder) {
  const struct {
    unsigned long levels;
    std::vector<std::string> expected;  // sorted
  } cases[] = {
      {1, {"a", "b", "e", "empty", "link", "s"}},
      {2, {"a", "b", "e", "empty", "link", "s", "s/c", "s/t"}},
      {3, {"a", "b", "e", "empty", "link", "s", "s/c", "s/t", "s/t/d"}},
      {0, {"a", "b", "e", "empty", "link", "s", "s/c", "s/t", "s/t/d"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.levels);
    Collector col;
    EXPECT_EQ(Walk(col, c.levels), 0);
    std::vector<std::string> paths;
    for (const Seen& s : col.seen) {
      paths.push_back(s.path);
      EXPECT_EQ(s.level, Depth(s.path)) << s.path;
      EXPECT_FALSE(s.hadRecord);
      EXPECT_FALSE(s.hadName);
    }
    std::sort(paths.begin(), paths.end());
    EXPECT_EQ(paths, c.expected);
    ExpectPreOrder(col.seen);
  }
}

TEST_F(MacToolsWalkTest, EntryFacts) {
  Collector col;
  ASSERT_EQ(Walk(col, 0, true, true), 0);
  std::map<std::string, Seen> by;
  for (const Seen& s : col.seen) by[s.path] = s;
  EXPECT_EQ(by["a"].size, 2u);
  EXPECT_EQ(by["b"].size, 4u);
  EXPECT_EQ(by["s"].nodeFlags & kFSNodeIsDirectoryMask, kFSNodeIsDirectoryMask);
  EXPECT_EQ(by["s"].size, 0u);
  EXPECT_EQ(by["link"].nodeFlags & kFSNodeIsDirectoryMask, 0) << "a link is no folder";
  EXPECT_EQ(by["s/t/d"].recordFolder, P("w/s/t/"));
  EXPECT_EQ(by["s/t/d"].recordName, "d");
  EXPECT_EQ(by["s/t/d"].name, "d");
  EXPECT_TRUE(by["a"].hadRecord && by["a"].hadName);
}

// Asked for the kind alone, the walk takes it from the listing and examines each folder's first
// entry only, unless the listing has no kind (DT_UNKNOWN) or more is asked for.
TEST_F(MacToolsWalkTest, KindFromTheListingSparesExaminingEntries) {
  ASSERT_EQ(chmod(P("w/a").c_str(), 0444), 0);  // locked when examined
  Collector full;
  ASSERT_EQ(Walk(full, 0), 0);
  static int sExamined;
  static bool sHideKinds;
  gVoSys.statx = [](int dirfd, const char* path, int flags, unsigned mask, struct statx* out) {
    return ++sExamined, kVoSysDefault.statx(dirfd, path, flags, mask, out);
  };
  gVoSys.getdents64 = [](int fd, void* buf, size_t size) {
    const ssize_t n = kVoSysDefault.getdents64(fd, buf, size);
    for (ssize_t at = 0; sHideKinds && at < n;
         at += reinterpret_cast<dirent64*>(static_cast<char*>(buf) + at)->d_reclen)
      reinterpret_cast<dirent64*>(static_cast<char*>(buf) + at)->d_type = DT_UNKNOWN;
    return n;
  };
  const int all = static_cast<int>(full.seen.size());
  const struct {
    uint32_t which;
    bool hideKinds;
    int examined;  // w, s and s/t have entries
  } cases[] = {{kVoCatInfoKindFromListing, false, 3},
               {kVoCatInfoKindFromListing | kFSCatInfoParentDirID, false, 3},
               {kVoCatInfoKindFromListing, true, all},
               {kVoCatInfoKindFromListing | kFSCatInfoDataSizes, false, all}};
  for (const auto& c : cases) {
    sExamined = 0;
    sHideKinds = c.hideKinds;
    Collector col;
    col.base = P("w") + "/";
    ASSERT_EQ(FSIterateContainer(Ref(P("w")), 0, c.which, false, false, Collect, &col), 0);
    EXPECT_EQ(sExamined, c.examined) << c.which << c.hideKinds;
    std::vector<std::tuple<std::string, uint16_t, uint64_t>> want, got;
    for (const Seen& w : full.seen)
      want.emplace_back(w.path,
                        (c.which & kFSCatInfoDataSizes) ? w.nodeFlags : w.nodeFlags & kFSNodeIsDirectoryMask,
                        (c.which & kFSCatInfoDataSizes) ? w.size : 0);
    for (const Seen& g : col.seen) got.emplace_back(g.path, g.nodeFlags, g.size);
    EXPECT_EQ(got, want) << c.which << c.hideKinds;
  }
}

TEST_F(MacToolsWalkTest, QuitAfterThree) {
  Collector col;
  col.quitAt = 3;
  EXPECT_EQ(Walk(col, 0), 0);
  EXPECT_EQ(col.seen.size(), 3u);
}

TEST_F(MacToolsWalkTest, QuitOnAFolderDoesNotEnterIt) {
  // Find the listing position of "s", then stop there.
  Collector all;
  ASSERT_EQ(Walk(all, 1), 0);
  size_t at = 0;
  while (all.seen[at].path != "s") ++at;
  Collector col;
  col.quitAt = at + 1;
  EXPECT_EQ(Walk(col, 0), 0);
  ASSERT_EQ(col.seen.size(), at + 1);
  EXPECT_EQ(col.seen.back().path, "s");
}

TEST_F(MacToolsWalkTest, EmptyFolderAndBadArguments) {
  Collector col;
  EXPECT_EQ(Walk(col, 0, false, false, "w/empty"), 0);
  EXPECT_TRUE(col.seen.empty());
  EXPECT_EQ(FSIterateContainer(Ref(P("w")), 0, 0, false, false, nullptr, nullptr), -50);
  EXPECT_EQ(Walk(col, 0, false, false, "w/none"), -43);
  EXPECT_EQ(Walk(col, 0, false, false, "w/a"), kVoStatusDirNotFound);
  EXPECT_EQ(FSIterateContainer(FSRef(), 0, 0, false, false, Collect, &col), -43);
  EXPECT_TRUE(col.seen.empty());
}

size_t OpenDescriptors() {
  size_t n = 0;
  DIR* d = opendir("/proc/self/fd");
  while (d && readdir(d)) ++n;
  if (d) closedir(d);
  return n;
}

bool Throw(bool, unsigned long level, const FSCatalogInfo*, const FSRef*, const FSSpec*, const VoString*,
           void*) {
  if (level == 3) VO_THROW(eVoIndexError);
  return false;
}

TEST_F(MacToolsWalkTest, AnErrorOfTheCallbackLeavesTheWalkAndClosesEveryFolder) {
  size_t before = OpenDescriptors();
  try {
    FSIterateContainer(Ref(P("w")), 0, 0, false, false, Throw, nullptr);
    ADD_FAILURE() << "the error was swallowed";
  } catch (const VoError& e) {
    EXPECT_EQ(e.GetErr(), 7u);
  }
  EXPECT_EQ(OpenDescriptors(), before);
}

TEST_F(MacToolsWalkTest, LinkedContainerIsWalked) {
  Collector col;
  EXPECT_EQ(Walk(col, 0, false, false, "w/link"), 0);
  EXPECT_EQ(col.seen.size(), 3u);  // c, t, t/d
}

TEST_F(MacToolsTest, WalkReportsEveryByteOfNames) {
  Dir("n");
  std::string all;
  for (int c = 1; c < 256; ++c)
    if (c != '/') all += static_cast<char>(c);
  const std::vector<std::string> names = {all, "\n", " ", "-", "...", "a\\b", "\xff\xfe", "*?"};
  for (const std::string& name : names) WriteFile(P("n/") + name, "");
  Collector col;
  col.base = P("n") + "/";
  ASSERT_EQ(FSIterateContainer(Ref(P("n")), 0, 0, true, true, Collect, &col), 0);
  std::vector<std::string> got;
  for (const Seen& s : col.seen) {
    got.push_back(s.name);
    EXPECT_EQ(s.path, s.name);
    EXPECT_EQ(s.recordName, s.name);
  }
  std::vector<std::string> want = names;
  std::sort(got.begin(), got.end());
  std::sort(want.begin(), want.end());
  EXPECT_EQ(got, want);
  // The spec made of an entry names it byte for byte.
  VoFileSpec spec;
  FSRefToVoFileSpec(spec, Ref(P("n/") + all));
  EXPECT_EQ(Str(spec.GetFullName()), P("n/") + all);
}

TEST_F(MacToolsTest, WalkBeyondPathMax) {
  const std::string component(250, 'q');
  Dir("deep");
  int fd = -1;
  std::string deep = MakeDeepFolders(P("deep"), component, 5000, &fd);
  ASSERT_GT(deep.size(), 5000u);
  ASSERT_GE(fd, 0);
  int file = openat(fd, "leaf.txt", O_CREAT | O_WRONLY, 0644);
  ASSERT_GE(file, 0);
  ASSERT_EQ(write(file, "xyz", 3), 3);
  close(file);
  close(fd);
  Collector col;
  col.base = P("deep") + "/";
  ASSERT_EQ(FSIterateContainer(Ref(P("deep")), 0, kFSCatInfoDataSizes | kFSCatInfoFinderInfo, true, false,
                               Collect, &col),
            0);
  ASSERT_FALSE(col.seen.empty());
  const Seen* leaf = nullptr;
  for (const Seen& s : col.seen)
    if (s.path.size() >= 8 && s.path.compare(s.path.size() - 8, 8, "leaf.txt") == 0) leaf = &s;
  ASSERT_NE(leaf, nullptr);
  EXPECT_EQ(col.base + leaf->path, deep + "/leaf.txt") << "never cut";
  ExpectPreOrder(col.seen);
  EXPECT_EQ(leaf->size, 3u);
  EXPECT_EQ(leaf->level, Depth(leaf->path));
  EXPECT_EQ(leaf->recordFolder, deep + "/");
}

/// In a process that may not read \p locked: walks \p container and checks
/// the access-denied rules. Returns a bit set of failed checks.
int WalkWithoutAccess(const std::string& container, const std::string& lockedName,
                      const std::vector<std::string>& order) {
  int failed = 0;
  Collector col;
  col.base = container + "/";
  // Finder information asked for: the locked folder's attributes cannot be read either.
  OSErr err = FSIterateContainer(Ref(container), 0, kFSCatInfoFinderInfo, false, false, Collect, &col);
  if (err != 0) failed |= 1;
  // Reported: the entries up to the locked folder, then nothing of this folder.
  std::vector<std::string> want;
  for (const std::string& name : order) {
    want.push_back(name);
    if (name == lockedName) break;
  }
  std::vector<std::string> got;
  for (const Seen& s : col.seen) got.push_back(s.path);
  if (got != want) failed |= 2;
  Collector none;
  if (FSIterateContainer(Ref(container + "/" + lockedName), 0, 0, false, false, Collect, &none) !=
      kVoStatusAccessDenied)
    failed |= 4;
  if (!none.seen.empty()) failed |= 8;
  // From one level higher the walk goes on after the container.
  // The same entries when the kinds come from the listing: nothing in a
  // folder that may be read but not searched.
  Collector up, kinds;
  up.base = kinds.base = VoMacFolderOf(container);
  if (FSIterateContainer(Ref(up.base), 0, 0, false, false, Collect, &up) != 0) failed |= 16;
  if (std::none_of(up.seen.begin(), up.seen.end(), [](const Seen& s) { return s.path == "after"; }))
    failed |= 32;
  const auto samePath = [](const Seen& a, const Seen& b) { return a.path == b.path; };
  if (FSIterateContainer(Ref(up.base), 0, kVoCatInfoKindFromListing, false, false, Collect, &kinds) != 0 ||
      !std::equal(up.seen.begin(), up.seen.end(), kinds.seen.begin(), kinds.seen.end(), samePath))
    failed |= 64;
  return failed;
}

// Finder information is read relative to the open folder: a folder renamed
// while the walk is inside it is still walked whole.
TEST_F(MacToolsWalkTest, FinderInformationFollowsTheOpenFolderWhenItIsRenamed) {
  for (const char* name : {"w/s/c2", "w/s/c3"}) WriteFile(P(name), "");
  const bool codes = XattrsWork(mRoot);
  if (codes) StoreFinderInfo(P("w/s/c"), Code("ABCD"), Code("wxyz"), 0);
  struct Change {
    std::string root;
    int reported = 0;
    bool renamed = false;
    uint32_t type = 0;  // of s/c
  } change{P("w")};
  const auto rename2 = [](bool, unsigned long level, const FSCatalogInfo* info, const FSRef* ref,
                          const FSSpec*, const VoString*, void* data) {
    auto* c = static_cast<Change*>(data);
    ++c->reported;
    if (Str(ref->path).ends_with("/c")) c->type = info->fileType;
    if (level == 2 && !c->renamed)
      c->renamed = rename((c->root + "/s").c_str(), (c->root + "/moved").c_str()) == 0;
    return false;
  };
  // With getxattrat, under a filter that refuses it (EPERM: each entry
  // opened until that reads), then as on kernels without it (ENOSYS).
  static int sRefused, sAsked;
  for (int refused : {0, EPERM, ENOSYS}) {
    sRefused = refused;
    if (refused)
      gVoSys.getxattrat = [](int, const char*, int, const char*, void*, size_t) -> ssize_t {
        return ++sAsked, errno = sRefused, -1;
      };
    change.reported = 0;
    change.renamed = false;
    EXPECT_EQ(FSIterateContainer(Ref(P("w")), 0, kFSCatInfoFinderInfo, false, false, rename2, &change), 0);
    EXPECT_TRUE(change.renamed);
    EXPECT_EQ(change.reported, 11);  // a, b, e, empty, link, s, s/{c, c2, c3, t}, s/t/d
    EXPECT_EQ(change.type, codes ? Code("ABCD") : 0) << refused;
    std::rename(P("w/moved").c_str(), P("w/s").c_str());
  }
  EXPECT_LE(sAsked, 1) << "refused once, not asked again";
  gVoSys = kVoSysDefault;
}

TEST_F(MacToolsTest, WalkSkipsTheRestOfAFolderWithoutAccess) {
  Dir("w");
  Dir("w/outer");
  for (const char* name : {"w/outer/f1", "w/outer/f2", "w/outer/f3", "w/after"}) WriteFile(P(name), "");
  Dir("w/outer/locked");
  WriteFile(P("w/outer/locked/secret"), "");
  Dir("w/outer/z");
  // The listing order of outer, as the file system gives it.
  std::vector<std::string> order;
  DIR* d = opendir(P("w/outer").c_str());
  ASSERT_NE(d, nullptr);
  while (struct dirent* e = readdir(d))
    if (e->d_name[0] != '.') order.push_back(e->d_name);
  closedir(d);
  Dir("w/unsearchable");
  for (const char* name : {"w/unsearchable/f1", "w/unsearchable/f2"}) WriteFile(P(name), "");
  ASSERT_EQ(chmod(P("w/unsearchable").c_str(), 0444), 0);
  ASSERT_EQ(chmod(P("w/outer/locked").c_str(), 0), 0);
  ASSERT_EQ(chmod(mRoot.c_str(), 0755), 0);

  if (geteuid() != 0) {
    EXPECT_EQ(WalkWithoutAccess(P("w/outer"), "locked", order), 0);
  } else {
    // Root passes every permission check: walk as nobody in a child.
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      if (setresgid(65534, 65534, 65534) != 0 || setresuid(65534, 65534, 65534) != 0) _exit(77);
      _exit(WalkWithoutAccess(P("w/outer"), "locked", order));
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "cannot drop privileges to test access denial";
    EXPECT_EQ(WEXITSTATUS(status), 0) << "failed checks (bits): " << WEXITSTATUS(status);
  }
}

}  // namespace
}  // namespace vo_mac_test
