// VoIterateDirChangesTest.cpp - Tests of walks over large trees and trees that change while they are walked.
#include "VoIO/VoIterateDir.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "VoIO/VoIterateDirTestSupport.h"

namespace {

using namespace vo_walk_test;

TEST(VoIterateDirTest, ThousandsOfEntriesComeEachExactlyOnceInPreOrder) {
  Scratch t(true);
  std::set<std::string> made;
  for (int d = 0; d < 30; ++d) {
    const std::string dir = "d" + std::to_string(d);
    t.Dir(dir);
    made.insert(dir);
    for (int s = 0; s < 3; ++s) {
      const std::string sub = dir + "/s" + std::to_string(s);
      t.Dir(sub);
      made.insert(sub);
      for (int f = 0; f < 40; ++f) {
        const std::string file = sub + "/f" + std::to_string(f) + ".txt";
        t.File(file);
        made.insert(file);
      }
    }
  }
  ASSERT_GT(made.size(), 3000u);
  VoIterateDirGetFiles all;
  Recorder r;
  const int threads = OpenDescriptors("/proc/self/task");
  int moreThreads = 0;  // the walk starts none, however long the folders
  r.hook = [&](const VoFileInfo&, Recorder&) {
    moreThreads += OpenDescriptors("/proc/self/task") != threads;
  };
  ASSERT_EQ(r.Start(VoFileSpec(Vo(t.Root())), 0), 0);
  EXPECT_EQ(moreThreads, 0);
  ASSERT_EQ(all.Start(VoFileSpec(Vo(t.Root())), 0), 0);
  std::vector<std::string> names = r.Relative(t.Root());
  EXPECT_EQ(names.size(), made.size());
  EXPECT_TRUE(std::set<std::string>(names.begin(), names.end()) == made);
  EXPECT_TRUE(IsPreOrder(r.seen, t.Root()));
  EXPECT_EQ(all.GetCount(), 30 * 3 * 40);
  EXPECT_EQ(all.GetFolderCount(), 30 + 30 * 3);
  EXPECT_EQ(all.GetFileSpec(0).GetTypeID(), Code("TEXT"));
}

TEST(VoIterateDirTest, EntriesRemovedDuringTheWalkAreNotReportedTheRestOnce) {
  Scratch t(true);
  const int kFiles = 400;
  for (int i = 0; i < kFiles; ++i) t.File("f" + std::to_string(i));
  t.Dir("gone");
  t.File("gone/x");
  std::set<std::string> removed;
  Recorder r;
  r.hook = [&](const VoFileInfo&, Recorder& self) {
    if (self.seen.size() != 1) return;
    // From the first entry: remove every other file and the folder "gone"
    // (unless they were already reported).
    std::set<std::string> reported;
    for (const std::string& n : self.Relative(t.Root())) reported.insert(n);
    for (int i = 0; i < kFiles; i += 2) {
      const std::string name = "f" + std::to_string(i);
      if (reported.count(name) == 0 && unlink((t / name).c_str()) == 0) removed.insert(name);
    }
    if (reported.count("gone") == 0) {
      unlink((t / "gone/x").c_str());
      if (rmdir((t / "gone").c_str()) == 0) removed.insert("gone");
    }
  };
  ASSERT_EQ(r.Start(VoFileSpec(Vo(t.Root())), 0), 0);
  std::vector<std::string> names = r.Relative(t.Root());
  std::set<std::string> got(names.begin(), names.end());
  EXPECT_EQ(got.size(), names.size()) << "an entry came twice";
  EXPECT_FALSE(removed.empty());
  // The entries of a folder are listed and examined when the walk enters it:
  // an entry of the folder being walked that goes after that may still be
  // reported (once); what was inside a folder not yet entered never is.
  if (removed.count("gone")) {
    EXPECT_EQ(got.count("gone/x"), 0u);
  }
  for (const std::string& name : removed) EXPECT_LE(got.count(name), 1u) << name;
  for (int i = 0; i < kFiles; ++i) {
    const std::string name = "f" + std::to_string(i);
    if (removed.count(name) == 0) {
      EXPECT_EQ(got.count(name), 1u) << name;
    }
  }
}

// A folder removed right after it was reported (before the walk enters it)
// has vanished: the walk goes on with the rest instead of ending with a status.
TEST(VoIterateDirTest, AFolderRemovedAfterItWasReportedIsSkipped) {
  Scratch t(true);
  t.Dir("doomed");
  t.File("doomed/inside");
  for (int i = 0; i < 50; ++i) t.File("f" + std::to_string(i));
  Recorder r;
  bool removed = false;
  r.hook = [&](const VoFileInfo& info, Recorder&) {
    if (!info.IsFile() && !removed) {
      unlink((t / "doomed/inside").c_str());
      removed = rmdir((t / "doomed").c_str()) == 0;
    }
  };
  ASSERT_EQ(r.Start(VoFileSpec(Vo(t.Root())), 0), 0);
  ASSERT_TRUE(removed);
  std::vector<std::string> names = r.Relative(t.Root());
  std::set<std::string> got(names.begin(), names.end());
  EXPECT_EQ(got.count("doomed/inside"), 0u);
  for (int i = 0; i < 50; ++i) EXPECT_EQ(got.count("f" + std::to_string(i)), 1u) << i;
}

TEST(VoIterateDirTest, EntriesAddedDuringTheWalkNeitherHangNorRepeat) {
  Scratch t(true);
  const int kFiles = 300;
  for (int i = 0; i < kFiles; ++i) t.File("f" + std::to_string(i));
  int added = 0;
  Recorder r;
  // Every entry reported adds a file and, now and then, a folder with a
  // file, up to a bound, in the folder being walked and in the root.
  r.hook = [&](const VoFileInfo& info, Recorder&) {
    if (added >= 2000) return;
    const std::string full = Str(info.GetFullName());
    const std::string folder = full.substr(0, full.rfind('/'));
    const std::string name = folder + "/new" + std::to_string(added++);
    FILE* f = std::fopen(name.c_str(), "wb");
    if (f) std::fclose(f);
    if (added % 50 == 0 && mkdir((name + "d").c_str(), 0755) == 0) {
      f = std::fopen((name + "d/inner").c_str(), "wb");
      if (f) std::fclose(f);
    }
  };
  ASSERT_EQ(r.Start(VoFileSpec(Vo(t.Root())), 0), 0);
  std::vector<std::string> names = r.Relative(t.Root());
  std::set<std::string> got(names.begin(), names.end());
  EXPECT_EQ(got.size(), names.size()) << "an entry came twice";
  EXPECT_LE(names.size(), static_cast<size_t>(kFiles + 2 * 2000 + 100));
  for (int i = 0; i < kFiles; ++i) EXPECT_EQ(got.count("f" + std::to_string(i)), 1u) << i;
  EXPECT_TRUE(IsPreOrder(r.seen, t.Root()));
}

}  // namespace
