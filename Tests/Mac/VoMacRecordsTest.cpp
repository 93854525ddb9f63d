// Tests of the bridge's statuses, references and legacy records.
#include <cerrno>
#include <string>

#include "VoCore/VoError.h"

#include "VoMacToolsFixture.h"

namespace vo_mac_test {
namespace {

// ==================================================================== statuses

TEST(MacToolsStatus, ErrnoMapping) {
  const struct {
    int errnum;
    OSErr status;
  } cases[] = {
      {0, 0},           {ENOENT, -43},   {ELOOP, -43},          {ENOTDIR, -120},
      {EEXIST, -48},    {EACCES, -5000}, {EPERM, -5000},        {EINVAL, -50},
      {EBADF, -50},     {EIO, -36},      {ENAMETOOLONG, -1410}, {ENOSPC, -34},
      {EROFS, -44},     {EMFILE, -42},   {ENOTEMPTY, -47},      {ENOMEM, -108},
      {ENOTSUP, -1424}, {99999, -36},
  };
  for (const auto& c : cases) EXPECT_EQ(VoMacErrnoToStatus(c.errnum), c.status) << c.errnum;
}

// ==================================================================== references and records

TEST_F(MacToolsTest, SpecToRef) {
  Dir("d");
  WriteFile(P("d/f.txt"), "hello");
  ASSERT_EQ(symlink("d/f.txt", P("rel-link").c_str()), 0);
  ASSERT_EQ(symlink(P("missing").c_str(), P("dangling").c_str()), 0);
  ASSERT_EQ(symlink(P("loop").c_str(), P("loop").c_str()), 0);
  const struct {
    std::string path;
    OSErr status;
    std::string resolved;
  } cases[] = {
      {P("d/f.txt"), 0, P("d/f.txt")},
      {P("d"), 0, P("d")},
      {P("d/"), 0, P("d")},
      {P("d/./../d/f.txt"), 0, P("d/f.txt")},
      {P("rel-link"), 0, P("d/f.txt")},
      {P("d/missing.txt"), -43, ""},
      {P("nodir/missing.txt"), -43, ""},
      {P("d/f.txt/x"), -120, ""},
      {P("dangling"), -43, ""},
      {P("loop"), -43, ""},
      {"", -43, ""},
  };
  for (const auto& c : cases) {
    FSRef ref;
    EXPECT_EQ(VoFileSpecToFSRef(ref, VoFileSpec(Vo(c.path))), c.status) << c.path;
    if (c.status == 0) {
      EXPECT_EQ(Str(ref.path), c.resolved) << c.path;
    }
  }
  ASSERT_EQ(chdir(P("d").c_str()), 0);
  FSRef ref;
  EXPECT_EQ(VoFileSpecToFSRef(ref, VoFileSpec(VoString("f.txt"))), 0);
  EXPECT_EQ(Str(ref.path), P("d/f.txt"));
}

TEST_F(MacToolsTest, LongPathsWorkOrFailButAreNeverCut) {
  const std::string component(200, 'n');
  std::string mid = MakeDeepFolders(mRoot, component, 1500);
  ASSERT_GT(mid.size(), 1000u);
  WriteFile(mid + "/deep.icc", "icc");
  VoFileSpec spec(Vo(mid + "/deep.icc"));
  FSRef ref;
  ASSERT_EQ(VoFileSpecToFSRef(ref, spec), 0);
  EXPECT_EQ(Str(ref.path), mid + "/deep.icc");
  FILE* f = VoMacOpenFile(spec, eVoFileRead);
  ASSERT_NE(f, nullptr);
  fclose(f);

  // Beyond PATH_MAX: a failure status, and the spec keeps its full name.
  std::string deep = MakeDeepFolders(mid, component, 4300);
  ASSERT_GT(deep.size(), 4096u);
  VoFileSpec far(Vo(deep + "/x.txt"));
  EXPECT_EQ(VoFileSpecToFSRef(ref, far), kVoStatusNameTooLong);
  EXPECT_EQ(VoMacCreateDir(VoFileSpec(Vo(deep + "/sub"))), kVoStatusNameTooLong);
  EXPECT_EQ(VoMacReadCreatorType(far), kVoStatusNameTooLong);
  EXPECT_EQ(Str(far.GetFullName()), deep + "/x.txt");
  try {
    VoMacOpenFile(far, eVoFileWrite);
    ADD_FAILURE() << "opened a path beyond the system's limit";
  } catch (const VoError& e) {
    EXPECT_EQ(e.GetErr(), 12u);
    EXPECT_EQ(std::string(e.GetErrName()), "FileNotOpen: (for writing)" + deep + "/x.txt");
  }
}

TEST_F(MacToolsTest, SpecToRecordAndBack) {
  Dir("d");
  WriteFile(P("d/f.txt"), "x");
  ASSERT_EQ(symlink(P("d/f.txt").c_str(), P("d/link.txt").c_str()), 0);
  const struct {
    std::string path;
    std::string folder;
    std::string name;
  } cases[] = {
      {P("d/f.txt"), P("d/"), "f.txt"},         // existing
      {P("d/link.txt"), P("d/"), "f.txt"},      // a link resolves to its target
      {P("d/new.icc"), P("d/"), "new.icc"},     // missing in an existing folder
      {P("d/"), mRoot + "/", "d"},              // a folder
      {"/", "/", ""},                           // the root folder
      {P("gone/new.txt"), P("d/"), "new.txt"},  // no folder: the current folder
  };
  ASSERT_EQ(chdir(P("d").c_str()), 0);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    FSSpec record;
    VoFileSpecToFSSpec(record, VoFileSpec(Vo(c.path)));
    EXPECT_EQ(Str(record.folder), c.folder);
    EXPECT_EQ(Str(record.name), c.name);
    EXPECT_LT(record.vRefNum, 0);
    EXPECT_EQ(Str(VoMacGetPosixPath(record.vRefNum, record.parID)), c.folder);
    VoFileSpec back;
    FSSpecToVoFileSpec(back, record);
    EXPECT_EQ(Str(back.GetFullName()), c.folder + c.name);
  }
  FSSpec empty;
  empty.vRefNum = 7;
  VoFileSpecToFSSpec(empty, VoFileSpec(Vo(P("nothing/"))));
  EXPECT_EQ(empty.vRefNum, 0);
  EXPECT_EQ(Str(empty.folder), "");
  EXPECT_EQ(Str(empty.name), "");
}

TEST_F(MacToolsTest, MissingRecordGivesIdsZero) {
  FSSpec record;
  VoFileSpecToFSSpec(record, VoFileSpec(Vo(P("new.icc"))));
  VoFileSpec spec(VoString("/elsewhere/old.txt"));
  FSSpecToVoFileSpec(spec, record);
  EXPECT_EQ(Str(spec.GetFullName()), P("new.icc"));
  EXPECT_EQ(spec.GetTypeID(), 0u);
  EXPECT_EQ(spec.GetCreatorID(), 0u);
}

TEST_F(MacToolsTest, PosixPathOfFolderNumbers) {
  Dir("a");
  bool isFolder = false;
  FSSpec record;
  ASSERT_EQ(FSPathMakeFSSpec(P("a").c_str(), &record, &isFolder), 0);
  EXPECT_TRUE(isFolder);
  FSSpec inside;
  WriteFile(P("a/f"), "");
  ASSERT_EQ(FSPathMakeFSSpec(P("a/f").c_str(), &inside, &isFolder), 0);
  EXPECT_FALSE(isFolder);
  EXPECT_EQ(Str(VoMacGetPosixPath(inside.vRefNum, inside.parID)), P("a/"));
  EXPECT_EQ(Str(VoMacGetPosixPath(0, 0)), "");
  EXPECT_EQ(Str(VoMacGetPosixPath(inside.vRefNum, -12345)), "");
  EXPECT_EQ(Str(VoMacGetPosixPath(5, inside.parID)), "");
  EXPECT_EQ(Str(VoMacGetPosixPath(-32000, inside.parID)), "");

  // A record of a name in those numbers, existing or not.
  FSSpec made;
  EXPECT_EQ(FSMakeFSSpec(inside.vRefNum, inside.parID, VoString("f"), &made), 0);
  EXPECT_EQ(FSMakeFSSpec(inside.vRefNum, inside.parID, VoString("g"), &made), -43);
  EXPECT_EQ(Str(made.folder), P("a/"));
  EXPECT_EQ(Str(made.name), "g");
  EXPECT_EQ(FSMakeFSSpec(0, 0, VoString("g"), &made), kVoStatusDirNotFound);
  EXPECT_EQ(FSMakeFSSpec(inside.vRefNum, inside.parID, VoString("g"), nullptr), -50);

  // A moved folder is no longer found under its old path.
  ASSERT_EQ(rename(P("a").c_str(), P("b").c_str()), 0);
  EXPECT_EQ(Str(VoMacGetPosixPath(inside.vRefNum, inside.parID)), "");
}

TEST_F(MacToolsTest, PathMakeRecordArguments) {
  FSSpec record;
  EXPECT_EQ(FSPathMakeFSSpec(nullptr, &record, nullptr), -50);
  EXPECT_EQ(FSPathMakeFSSpec(P("x").c_str(), nullptr, nullptr), -50);
  EXPECT_EQ(FSPathMakeFSSpec(P("x").c_str(), &record, nullptr), -43);
  EXPECT_EQ(FSPathMakeFSSpec(mRoot.c_str(), &record, nullptr), 0);
}

TEST_F(MacToolsTest, RecordToRefKeepsALinkAndRefMakesPath) {
  WriteFile(P("target"), "");
  ASSERT_EQ(symlink(P("target").c_str(), P("link").c_str()), 0);
  FSSpec record;
  record.folder = Vo(mRoot + "/");
  record.name = "link";
  FSRef ref;
  ASSERT_EQ(FSpMakeFSRef(record, &ref), 0);
  EXPECT_EQ(Str(ref.path), P("link"));
  record.name = "nothing";
  EXPECT_EQ(FSpMakeFSRef(record, &ref), -43);
  EXPECT_EQ(FSpMakeFSRef(record, nullptr), -50);
  VoString path;
  EXPECT_EQ(FSRefMakePath(Ref(P("link")), &path), 0);
  EXPECT_EQ(Str(path), P("link"));
  EXPECT_EQ(FSRefMakePath(FSRef(), &path), -50);
  EXPECT_EQ(FSRefMakePath(Ref(P("link")), nullptr), -50);
}

}  // namespace
}  // namespace vo_mac_test
