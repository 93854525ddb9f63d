// VoIterateDirGetFilesTest.cpp - Tests of VoIterateDirGetFiles, the walker that sorts entries into files and
// folders.
#include "VoIO/VoIterateDir.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>

#include "Linux/VoLinuxSys.h"
#include "VoCore/VoError.h"
#include "VoIO/VoIterateDirTestSupport.h"

namespace {

using namespace vo_walk_test;

// Its specs hold no size or date, so the walker itself examines only each
// folder's first entry; a walker derived from it may read them, and examines
// every entry.
TEST(VoIterateDirGetFilesTest, SortsEntriesIntoFilesAndFoldersAndKeepsThemAcrossWalks) {
  Scratch t;
  MakeSmallTree(t);
  VoIterateDirGetFiles g;
  EXPECT_EQ(g.GetCount(), 0);
  EXPECT_EQ(g.GetFolderCount(), 0);
  static int sExamined;
  gVoSys.statx = [](int dirfd, const char* path, int flags, unsigned mask, struct statx* out) {
    return ++sExamined, kVoSysDefault.statx(dirfd, path, flags, mask, out);
  };
  struct Derived : VoIterateDirGetFiles {
  } derived;
  sExamined = 0;
  const int status = g.Start(VoFileSpec(Vo(t.Root())), 0);
  const int plainExamined = sExamined;
  const int derivedStatus = derived.Start(VoFileSpec(Vo(t.Root())), 0);
  gVoSys = kVoSysDefault;
  EXPECT_EQ(plainExamined, 3);  // the first entry of the root, s and s/t
  EXPECT_EQ(sExamined, 3 + 6);  // and every entry for the derived walker
  ASSERT_EQ(status | derivedStatus, 0);
  EXPECT_EQ(derived.GetCount() + derived.GetFolderCount(), 6);
  ASSERT_EQ(g.GetCount(), 4);
  ASSERT_EQ(g.GetFolderCount(), 2);
  std::set<std::string> files, folders;
  for (int i = 0; i < g.GetCount(); ++i) files.insert(Str(g.GetFileSpec(i).GetFullName()));
  for (int i = 0; i < g.GetFolderCount(); ++i) folders.insert(Str(g.GetFolder(i).GetFullName()));
  EXPECT_EQ(files, (std::set<std::string>{t / "a", t / "b", t / "s/c", t / "s/t/d"}));
  EXPECT_EQ(folders, (std::set<std::string>{t / "s", t / "s/t"}));

  // A failing walk adds nothing; a second walk appends everything again, in
  // the same order.
  EXPECT_NE(g.Start(VoFileSpec(Vo(t / "missing")), 0), 0);
  EXPECT_EQ(g.GetCount(), 4);
  ASSERT_EQ(g.Start(VoFileSpec(Vo(t.Root())), 0), 0);
  ASSERT_EQ(g.GetCount(), 8);
  ASSERT_EQ(g.GetFolderCount(), 4);
  for (int i = 0; i < 4; ++i) EXPECT_TRUE(g.GetFileSpec(i) == g.GetFileSpec(i + 4)) << i;
  for (int i = 0; i < 2; ++i) EXPECT_TRUE(g.GetFolder(i) == g.GetFolder(i + 2)) << i;

  VoList<VoFileSpec> list = g.GetFileList();
  VoList<VoFileSpec> folderList = g.GetFolderList();
  ASSERT_EQ(list.count, 8);
  ASSERT_EQ(folderList.count, 4);
  for (int i = 0; i < 8; ++i) EXPECT_TRUE(list[i] == g.GetFileSpec(i));
  EXPECT_TRUE(folderList[3] == g.GetFolder(3));
}

TEST(VoIterateDirGetFilesTest, IndexOutsideTheListsRaisesIndexError) {
  Scratch t;
  MakeSmallTree(t);
  VoIterateDirGetFiles g;
  ASSERT_EQ(g.Start(VoFileSpec(Vo(t.Root())), 1), 0);
  ASSERT_EQ(g.GetCount(), 2);
  ASSERT_EQ(g.GetFolderCount(), 1);
  const std::function<void()> calls[] = {
      [&] { g.GetFileSpec(g.GetCount()); },
      [&] { g.GetFileSpec(-1); },
      [&] { g.GetFolder(1); },
      [&] { g.GetFolder(-1); },
  };
  for (const auto& call : calls) {
    try {
      call();
      ADD_FAILURE() << "no VoIndexError";
    } catch (const VoError& e) {
      EXPECT_EQ(e.GetErr(), static_cast<unsigned long>(eVoIndexError));
      EXPECT_STREQ(e.GetErrName(), "VoIndexError");
    }
  }
}

}  // namespace
