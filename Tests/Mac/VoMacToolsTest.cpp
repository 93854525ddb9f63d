// Tests of the file-system bridge: folders, identities, codes and flags, opening, walks, the preference.
#include "Mac/VoMacToolsOSX.h"

#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "Mac/VoMacToolsPrivate.h"
#include "VoCore/VoError.h"

namespace {

std::string Str(const VoString& s) { return std::string(s.c_str(), static_cast<size_t>(s.length())); }
VoString Vo(const std::string& s) { return VoString(s.data(), static_cast<long>(s.size())); }

/// Four-character code of the first four characters of \p c.
constexpr uint32_t Code(const char* c) {
  return (uint32_t{static_cast<unsigned char>(c[0])} << 24) |
         (uint32_t{static_cast<unsigned char>(c[1])} << 16) |
         (uint32_t{static_cast<unsigned char>(c[2])} << 8) | uint32_t{static_cast<unsigned char>(c[3])};
}
static_assert(Code("TEXT") == 0x54455854u, "first character in the most significant byte");

void WriteFile(const std::string& path, const std::string& text) {
  FILE* f = fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr) << path;
  fwrite(text.data(), 1, text.size(), f);
  fclose(f);
}

std::string ReadFile(const std::string& path) {
  std::string text;
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) return "<missing>";
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
  fclose(f);
  return text;
}

bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

bool IsDir(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

/// Removes everything below and including \p name relative to \p dirfd,
/// working through descriptors so that deep trees go too.
void RemoveAt(int dirfd, const char* name) {
  struct stat st;
  if (fstatat(dirfd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return;
  if (S_ISDIR(st.st_mode)) {
    fchmodat(dirfd, name, 0700, 0);
    int fd = openat(dirfd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) {
      DIR* dir = fdopendir(fd);
      std::vector<std::string> names;
      while (struct dirent* e = readdir(dir)) {
        if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0) names.push_back(e->d_name);
      }
      for (const std::string& n : names) RemoveAt(fd, n.c_str());
      closedir(dir);
    }
    unlinkat(dirfd, name, AT_REMOVEDIR);
  } else {
    unlinkat(dirfd, name, 0);
  }
}

/// Raw value of the finder attribute; "<none>" when missing.
std::string RawAttribute(const std::string& path) {
  char buf[64];
  ssize_t n = lgetxattr(path.c_str(), kVoFinderInfoAttribute, buf, sizeof buf);
  return n < 0 ? std::string("<none>") : std::string(buf, static_cast<size_t>(n));
}

bool XattrsWork(const std::string& folder) {
  std::string probe = folder + "/.xattr-probe";
  WriteFile(probe, "");
  bool ok = lsetxattr(probe.c_str(), "user.probe", "1", 1, 0) == 0;
  unlink(probe.c_str());
  return ok;
}

FSRef Ref(const std::string& path) {
  FSRef ref;
  ref.path = Vo(path);
  return ref;
}

// The environment variables a test may change; all restored afterwards.
const char* const kEnvNames[] = {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "TMPDIR", "XDG_DOCUMENTS_DIR"};

/// A private folder tree per test, with HOME, the XDG folders and TMPDIR
/// pointing into it; the machine-wide profile folder redirected there too.
class MacToolsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : kEnvNames) {
      const char* v = getenv(name);
      mSavedEnv.emplace_back(name, v ? std::string(v) : std::string("\x01unset"));
    }
    char cwd[PATH_MAX];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    mSavedCwd = cwd;
    const char* base = getenv("TMPDIR");
    std::string tmpl = std::string(base && base[0] == '/' ? base : "/tmp") + "/vo-bridge-XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back(0);
    ASSERT_NE(mkdtemp(buf.data()), nullptr);
    char* real = realpath(buf.data(), nullptr);
    ASSERT_NE(real, nullptr);
    mRoot = real;
    free(real);
    mHome = mRoot + "/home";
    ASSERT_EQ(mkdir(mHome.c_str(), 0700), 0);
    setenv("HOME", mHome.c_str(), 1);
    for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "TMPDIR", "XDG_DOCUMENTS_DIR"})
      unsetenv(name);
    mShared = mRoot + "/shared/color/icc";
    VoMacSetSharedProfilesFolder(mShared.c_str());
  }

  void TearDown() override {
    VoMacSetSharedProfilesFolder(nullptr);
    ASSERT_EQ(chdir(mSavedCwd.c_str()), 0);
    for (const auto& [name, value] : mSavedEnv) {
      if (value == "\x01unset")
        unsetenv(name.c_str());
      else
        setenv(name.c_str(), value.c_str(), 1);
    }
    RemoveAt(AT_FDCWD, mRoot.c_str());
  }

  std::string P(const std::string& rel) const { return mRoot + "/" + rel; }

  void Dir(const std::string& rel) { ASSERT_EQ(mkdir(P(rel).c_str(), 0755), 0) << rel; }

  std::vector<std::pair<std::string, std::string>> mSavedEnv;
  std::string mSavedCwd;
  std::string mRoot;
  std::string mHome;
  std::string mShared;
};

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

// ==================================================================== well-known folders

struct FolderCase {
  const char* label;
  VoFolderType folder;
  std::map<std::string, std::string> env;  // "@" stands for the test's root
  const char* userDirs;                    // contents of user-dirs.dirs, or null
  const char* expected;                    // "@" root, "~" home; "" = empty result
};

std::string Expand(const std::string& text, const std::string& root, const std::string& home) {
  std::string out;
  for (char c : text) {
    if (c == '@')
      out += root;
    else if (c == '~')
      out += home;
    else
      out += c;
  }
  return out;
}

TEST_F(MacToolsTest, FolderTable) {
  const FolderCase cases[] = {
      {"config set", VoFolderTypePreferences, {{"XDG_CONFIG_HOME", "@/cfg"}}, nullptr, "@/cfg/"},
      {"config unset", VoFolderTypePreferences, {}, nullptr, "~/.config/"},
      {"config relative", VoFolderTypePreferences, {{"XDG_CONFIG_HOME", "rel/cfg"}}, nullptr, "~/.config/"},
      {"config empty", VoFolderTypePreferences, {{"XDG_CONFIG_HOME", ""}}, nullptr, "~/.config/"},
      {"config trailing slash", VoFolderTypePreferences, {{"XDG_CONFIG_HOME", "@/c2/"}}, nullptr, "@/c2/"},
      {"docs env", VoFolderTypeDocuments, {{"XDG_DOCUMENTS_DIR", "@/my docs"}}, nullptr, "@/my docs/"},
      {"docs env $HOME",
       VoFolderTypeDocuments,
       {{"XDG_DOCUMENTS_DIR", "$HOME/Papers"}},
       nullptr,
       "~/Papers/"},
      {"docs user-dirs",
       VoFolderTypeDocuments,
       {},
       "# comment\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\n  XDG_DOCUMENTS_DIR=\"$HOME/Docs \\\"q\\\"\"\n",
       "~/Docs \"q\"/"},
      {"docs user-dirs absolute",
       VoFolderTypeDocuments,
       {{"XDG_CONFIG_HOME", "@/cfg"}},
       "XDG_DOCUMENTS_DIR=\"@/abs docs\"\n",
       "@/abs docs/"},
      {"docs user-dirs relative ignored",
       VoFolderTypeDocuments,
       {},
       "XDG_DOCUMENTS_DIR=\"Docs\"\n",
       "~/Documents/"},
      {"docs user-dirs unterminated",
       VoFolderTypeDocuments,
       {},
       "XDG_DOCUMENTS_DIR=\"$HOME/x\n",
       "~/Documents/"},
      {"docs default", VoFolderTypeDocuments, {}, nullptr, "~/Documents/"},
      {"temp set", VoFolderTypeTemporary, {{"TMPDIR", "@/t"}}, nullptr, "@/t/"},
      {"temp unset", VoFolderTypeTemporary, {}, nullptr, "/tmp/"},
      {"temp relative", VoFolderTypeTemporary, {{"TMPDIR", "t"}}, nullptr, "/tmp/"},
      {"app support", VoFolderTypeAppSupport, {{"XDG_DATA_HOME", "@/data"}}, nullptr, "@/data/"},
      {"app support 2", VoFolderTypeAppSupport2, {{"XDG_DATA_HOME", "@/data"}}, nullptr, "@/data/"},
      {"app support 3", VoFolderTypeAppSupport3, {}, nullptr, "~/.local/share/"},
      {"user profiles", VoFolderTypeProfilesUser, {{"XDG_DATA_HOME", "@/data"}}, nullptr, "@/data/icc/"},
      {"user profiles default", VoFolderTypeProfilesUser, {}, nullptr, "~/.local/share/icc/"},
      {"local profiles", VoFolderTypeProfilesLocal, {}, nullptr, "@/shared/color/icc/"},
      {"profiles", VoFolderTypeProfiles, {}, nullptr, "@/shared/color/icc/"},
      {"none", VoFolderTypeNone, {}, nullptr, ""},
      {"unchanged", VoFolderTypeUnchanged, {}, nullptr, ""},
      {"out of range", static_cast<VoFolderType>(11), {}, nullptr, ""},
  };
  for (const FolderCase& c : cases) {
    SCOPED_TRACE(c.label);
    for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "TMPDIR", "XDG_DOCUMENTS_DIR"})
      unsetenv(name);
    for (const auto& [name, value] : c.env) setenv(name.c_str(), Expand(value, mRoot, mHome).c_str(), 1);
    std::string config = getenv("XDG_CONFIG_HOME") && getenv("XDG_CONFIG_HOME")[0] == '/'
                             ? getenv("XDG_CONFIG_HOME")
                             : mHome + "/.config";
    std::string userDirs = config + "/user-dirs.dirs";
    unlink(userDirs.c_str());
    if (c.userDirs) {
      mkdir(config.c_str(), 0700);
      WriteFile(userDirs, Expand(c.userDirs, mRoot, mHome));
    }
    std::string expected = Expand(c.expected, mRoot, mHome);
    std::string got = Str(VoMacFindFolder(c.folder));
    EXPECT_EQ(got, expected);
    if (!expected.empty()) {
      EXPECT_TRUE(IsDir(expected)) << "folder made: " << expected;
    }
    unlink(userDirs.c_str());
  }
}

TEST_F(MacToolsTest, SharedProfilesFallBackToTheUsersFolder) {
  // A regular file where the shared folder's parent should be: it cannot be made.
  WriteFile(P("blocker"), "x");
  VoMacSetSharedProfilesFolder(P("blocker/icc").c_str());
  setenv("XDG_DATA_HOME", P("data").c_str(), 1);
  EXPECT_EQ(Str(VoMacFindFolder(VoFolderTypeProfiles)), P("data/icc/"));
  EXPECT_EQ(Str(VoMacFindFolder(VoFolderTypeProfilesLocal)), "");
  EXPECT_EQ(Str(VoMacFindFolder(VoFolderTypeProfilesUser)), P("data/icc/"));
}

TEST_F(MacToolsTest, FolderPathsAreResolved) {
  Dir("real");
  ASSERT_EQ(symlink(P("real").c_str(), P("link").c_str()), 0);
  setenv("TMPDIR", P("link").c_str(), 1);
  EXPECT_EQ(Str(VoMacFindFolder(VoFolderTypeTemporary)), P("real/"));
}

// ==================================================================== SetPath and the native name

TEST_F(MacToolsTest, SetPathPlacesTheName) {
  setenv("XDG_DOCUMENTS_DIR", P("docs").c_str(), 1);
  const struct {
    const char* start;
    VoFolderType folder;
    std::string expected;
  } cases[] = {
      {"/a/b/report.txt", VoFolderTypeDocuments, P("docs/report.txt")},
      {"report.txt", VoFolderTypeDocuments, P("docs/report.txt")},
      {"/a/b/report.txt", VoFolderTypeNone, "report.txt"},
      {"/a/b/report.txt", VoFolderTypeUnchanged, "/a/b/report.txt"},
      {"/a/b/", VoFolderTypeDocuments, P("docs/")},
      {"", VoFolderTypeDocuments, P("docs/")},
  };
  for (const auto& c : cases) {
    VoFileSpec spec{VoString(c.start)};
    spec.SetPath(c.folder);
    EXPECT_EQ(Str(spec.GetFullName()), c.expected) << c.start << " " << c.folder;
  }
}

TEST_F(MacToolsTest, SetPathKeepsTheDerivedType) {
  setenv("TMPDIR", P("t").c_str(), 1);
  VoFileSpec spec(VoString("/x/grey.icc"));
  spec.SetPath(VoFolderTypeTemporary);
  EXPECT_EQ(Str(spec.GetFullName()), P("t/grey.icc"));
  EXPECT_EQ(spec.GetTypeID(), Code("prof"));
  EXPECT_EQ(spec.GetCreatorID(), Code("sync"));
}

TEST_F(MacToolsTest, SetPathOutOfRangeThrowsArgErr) {
  for (int value : {11, -1, 1000, INT_MIN}) {
    VoFileSpec spec(VoString("/a/b/report.txt"));
    try {
      spec.SetPath(static_cast<VoFolderType>(value));
      ADD_FAILURE() << "no error for " << value;
    } catch (const VoError& e) {
      EXPECT_EQ(e.GetErr(), 3u);
      EXPECT_STREQ(e.GetErrName(), "VoArgErr");
      EXPECT_STREQ(e.GetFileName(), "VoMacFolders.cpp");
      EXPECT_GT(e.GetLine(), 0);
    }
    EXPECT_EQ(Str(spec.GetFullName()), "/a/b/report.txt");
  }
}

TEST_F(MacToolsTest, SetPathWithAFailingLookupLeavesTheBareName) {
  WriteFile(P("file"), "x");
  setenv("XDG_CONFIG_HOME", P("file/cfg").c_str(), 1);
  VoFileSpec spec(VoString("/a/b/report.txt"));
  spec.SetPath(VoFolderTypePreferences);
  EXPECT_EQ(Str(spec.GetFullName()), "report.txt");
}

TEST(MacToolsNames, NativeFullNameIsTheFullName) {
  for (const char* name : {"/tmp/x.txt", "rel/x", "", "/a//b/../c/"}) {
    VoFileSpec spec{VoString(name)};
    EXPECT_EQ(Str(spec.GetNativeFullName()), name);
    EXPECT_EQ(Str(VoMacGetFullPathName(spec)), name);
  }
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

/// Makes folders of \p component below \p root until the path is longer
/// than \p length; returns the deepest folder's path. With \p deepest, the
/// deepest folder stays open there (else -1).
std::string MakeDeepFolders(const std::string& root, const std::string& component, size_t length,
                            int* deepest = nullptr) {
  std::string path = root;
  int fd = open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  while (fd >= 0 && path.size() <= length) {
    if (mkdirat(fd, component.c_str(), 0755) != 0) break;
    int next = openat(fd, component.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    close(fd);
    fd = next;
    path += "/" + component;
  }
  if (deepest) {
    *deepest = fd;
  } else if (fd >= 0) {
    close(fd);
  }
  return path;
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

// ==================================================================== codes and flags

class MacToolsXattrTest : public MacToolsTest {
 protected:
  void SetUp() override {
    MacToolsTest::SetUp();
    if (!XattrsWork(mRoot)) GTEST_SKIP() << "the temporary folder's file system keeps no user xattrs";
  }
};

/// Stores codes and flags through the bridge.
void StoreFinderInfo(const std::string& path, uint32_t type, uint32_t creator, uint16_t flags) {
  FSCatalogInfo info;
  info.fileType = type;
  info.fileCreator = creator;
  info.finderFlags = flags;
  ASSERT_EQ(FSSetCatalogInfo(Ref(path), kFSCatInfoFinderInfo, info), 0) << path;
}

TEST_F(MacToolsXattrTest, AttributeLayout) {
  WriteFile(P("f"), "");
  StoreFinderInfo(P("f"), Code("ABCD"), Code("wxyz"), 0x4001);
  EXPECT_EQ(RawAttribute(P("f")), std::string("ABCDwxyz\x40\x01", 10));
  StoreFinderInfo(P("f"), 0, 0, 0);
  EXPECT_EQ(RawAttribute(P("f")), "<none>");

  // Short or long attributes: short ones read as zero, extra bytes are ignored.
  ASSERT_EQ(lsetxattr(P("f").c_str(), kVoFinderInfoAttribute, "ABCD", 4, 0), 0);
  FSCatalogInfo info;
  ASSERT_EQ(FSGetCatalogInfo(Ref(P("f")), kFSCatInfoFinderInfo, &info), 0);
  EXPECT_EQ(info.fileType, 0u);
  ASSERT_EQ(lsetxattr(P("f").c_str(), kVoFinderInfoAttribute, "TEXTttxt\x40\x00xyz", 13, 0), 0);
  ASSERT_EQ(FSGetCatalogInfo(Ref(P("f")), kFSCatInfoFinderInfo, &info), 0);
  EXPECT_EQ(info.fileType, Code("TEXT"));
  EXPECT_EQ(info.fileCreator, Code("ttxt"));
  EXPECT_EQ(info.finderFlags, kIsInvisible);
}

TEST_F(MacToolsXattrTest, RefToSpecReadsTheCodes) {
  const struct {
    const char* name;
    bool folder;
    const char* storedType;  // null: nothing stored
    const char* storedCreator;
    uint32_t type;
    uint32_t creator;
  } cases[] = {
      {"a.icc", false, nullptr, nullptr, Code("prof"), Code("sync")},
      {"data.xyz", false, "ABCD", "WXYZ", Code("ABCD"), Code("WXYZ")},
      {"pic.jpg", false, "GIFf", "ogle", Code("JPEG"), Code("ogle")},  // known type: creator only
      {"list.ref", false, "TEXT", "VoTl", Code("TEXT"), Code("VoTl")},
      {"README", false, nullptr, nullptr, 0, 0},
      {"README2", false, "BINA", "****", Code("BINA"), Code("****")},
      {"data.xyz2", false, nullptr, nullptr, 0, 0},
      {"folder", true, nullptr, nullptr, 0, 0},
      {"folder.txt", true, nullptr, nullptr, Code("TEXT"), Code("ttxt")},  // from the name only
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string path = P(c.name);
    if (c.folder) {
      ASSERT_EQ(mkdir(path.c_str(), 0755), 0);
    } else {
      WriteFile(path, "");
    }
    if (c.storedType) StoreFinderInfo(path, Code(c.storedType), Code(c.storedCreator), 0);
    VoFileSpec spec(VoString("/old/thing.pdf"));
    FSRefToVoFileSpec(spec, Ref(path));
    EXPECT_EQ(Str(spec.GetFullName()), path);
    EXPECT_EQ(spec.GetTypeID(), c.type);
    EXPECT_EQ(spec.GetCreatorID(), c.creator);
    VoFileSpec again(Vo(path));
    EXPECT_EQ(VoMacReadCreatorType(again), 0);
    EXPECT_EQ(again.GetCreatorID(), c.creator);
  }
}

TEST_F(MacToolsXattrTest, ReadCreatorTypeOfAMissingFileLeavesTheSpec) {
  VoFileSpec spec(Vo(P("missing.icc")));
  EXPECT_EQ(VoMacReadCreatorType(spec), -43);
  EXPECT_EQ(spec.GetTypeID(), Code("prof"));
  EXPECT_EQ(spec.GetCreatorID(), Code("sync"));
}

TEST_F(MacToolsXattrTest, FolderCodesReadAsZeroButFlagsStay) {
  Dir("d");
  StoreFinderInfo(P("d"), Code("ABCD"), Code("WXYZ"), kIsInvisible);
  FSCatalogInfo info;
  ASSERT_EQ(FSGetCatalogInfo(Ref(P("d")), kFSCatInfoFinderInfo, &info), 0);
  EXPECT_EQ(info.fileType, 0u);
  EXPECT_EQ(info.fileCreator, 0u);
  EXPECT_EQ(info.finderFlags, kIsInvisible);
  EXPECT_EQ(info.nodeFlags & kFSNodeIsDirectoryMask, kFSNodeIsDirectoryMask);
}

TEST_F(MacToolsXattrTest, InvisibleFlag) {
  Dir("p");
  WriteFile(P("p/f.txt"), "abc");
  StoreFinderInfo(P("p/f.txt"), Code("TEXT"), Code("VoTl"), 0x0100);
  struct timespec old[2] = {{946684800, 0}, {946684800, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, P("p").c_str(), old, 0), 0);

  VoFileSpec spec(Vo(P("p/f.txt")));
  ASSERT_EQ(VoMacSetVisible(spec, false), 0);
  FSCatalogInfo info;
  ASSERT_EQ(FSGetCatalogInfo(Ref(P("p/f.txt")), kFSCatInfoFinderInfo | kFSCatInfoContentMod, &info), 0);
  EXPECT_EQ(info.finderFlags, 0x4100) << "the other flags stay";
  EXPECT_EQ(info.fileType, Code("TEXT"));
  EXPECT_EQ(info.fileCreator, Code("VoTl"));
  struct stat st;
  ASSERT_EQ(stat(P("p").c_str(), &st), 0);
  EXPECT_GT(st.st_mtime, 946684800) << "the parent folder's date was bumped";

  ASSERT_EQ(VoMacSetVisible(spec, true), 0);
  ASSERT_EQ(FSGetCatalogInfo(Ref(P("p/f.txt")), kFSCatInfoFinderInfo, &info), 0);
  EXPECT_EQ(info.finderFlags, 0x0100);
  EXPECT_EQ(ReadFile(P("p/f.txt")), "abc");

  EXPECT_EQ(FSSetInvisible(Ref(P("p"))), 0);
  ASSERT_EQ(FSGetCatalogInfo(Ref(P("p")), kFSCatInfoFinderInfo, &info), 0);
  EXPECT_EQ(info.finderFlags, kIsInvisible);
  EXPECT_EQ(FSClearInvisible(Ref(P("p"))), 0);
  EXPECT_EQ(RawAttribute(P("p")), "<none>");

  EXPECT_EQ(VoMacSetVisible(VoFileSpec(Vo(P("p/none"))), false), -43);
  EXPECT_EQ(FSSetInvisible(Ref(P("p/none"))), -43);
}

TEST_F(MacToolsTest, LockedFlag) {
  const struct {
    mode_t start;
    bool lock;
    mode_t expected;
  } cases[] = {
      {0666, true, 0444},  {0444, false, 0644}, {0640, true, 0440}, {0600, false, 0600},
      {0400, false, 0600}, {0444, true, 0444},  {0755, true, 0555}, {0000, false, 0200},
  };
  WriteFile(P("f"), "");
  for (const auto& c : cases) {
    ASSERT_EQ(chmod(P("f").c_str(), c.start), 0);
    FSCatalogInfo info;
    ASSERT_EQ(FSGetCatalogInfo(Ref(P("f")), kFSCatInfoNodeFlags, &info), 0);
    EXPECT_EQ((info.nodeFlags & kFSNodeLockedMask) != 0, (c.start & 0222) == 0) << std::oct << c.start;
    info.nodeFlags = c.lock ? kFSNodeLockedMask : 0;
    ASSERT_EQ(FSSetCatalogInfo(Ref(P("f")), kFSCatInfoNodeFlags, info), 0);
    struct stat st;
    ASSERT_EQ(stat(P("f").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, c.expected) << std::oct << c.start << " lock " << c.lock;
  }
  FSCatalogInfo info;
  EXPECT_EQ(FSGetCatalogInfo(Ref(P("f")), kFSCatInfoNodeFlags, nullptr), -50);
  EXPECT_EQ(FSGetCatalogInfo(Ref(P("none")), kFSCatInfoNodeFlags, &info), -43);
  EXPECT_EQ(FSSetCatalogInfo(Ref(P("none")), kFSCatInfoNodeFlags, info), -43);
}

TEST_F(MacToolsTest, CatalogInfoOfFilesFoldersAndLinks) {
  WriteFile(P("f"), std::string(12345, 'x'));
  Dir("d");
  ASSERT_EQ(symlink(P("d").c_str(), P("l").c_str()), 0);
  struct timespec when[2] = {{0, UTIME_OMIT}, {1000000000, 5}};
  ASSERT_EQ(utimensat(AT_FDCWD, P("f").c_str(), when, 0), 0);
  FSCatalogInfo info;
  ASSERT_EQ(FSGetCatalogInfo(Ref(P("f")), kFSCatInfoGettableInfo, &info), 0);
  EXPECT_EQ(info.dataLogicalSize, 12345u);
  EXPECT_EQ(info.nodeFlags & kFSNodeIsDirectoryMask, 0);
  EXPECT_EQ(info.contentModDate.seconds, 1000000000);
  EXPECT_EQ(info.contentModDate.nanoseconds, 5u);
  EXPECT_EQ(Str(info.parentPath), mRoot + "/");
  // Creation: the birth time where the file system keeps one (it is not the
  // modification time set above), else the modification time.
  struct statx sx;
  ASSERT_EQ(statx(AT_FDCWD, P("f").c_str(), 0, STATX_BTIME, &sx), 0);
  if (sx.stx_mask & STATX_BTIME) {
    EXPECT_EQ(info.createDate.seconds, sx.stx_btime.tv_sec);
    EXPECT_NE(info.createDate.seconds, 1000000000);
  } else {
    EXPECT_EQ(info.createDate.seconds, 1000000000);
  }
  // Only the fields asked for are filled.
  ASSERT_EQ(FSGetCatalogInfo(Ref(P("f")), kFSCatInfoNone, &info), 0);
  EXPECT_EQ(info.dataLogicalSize, 0u);
  EXPECT_EQ(info.contentModDate.seconds, 0);

  ASSERT_EQ(FSGetCatalogInfo(Ref(P("d")), kFSCatInfoGettableInfo, &info), 0);
  EXPECT_EQ(info.nodeFlags & kFSNodeIsDirectoryMask, kFSNodeIsDirectoryMask);
  EXPECT_EQ(info.dataLogicalSize, 0u);
  ASSERT_EQ(FSGetCatalogInfo(Ref(P("l")), kFSCatInfoGettableInfo, &info), 0);
  EXPECT_EQ(info.nodeFlags, 0) << "a link reference names the link";
}

TEST_F(MacToolsTest, BumpDate) {
  WriteFile(P("f"), "");
  Dir("d");
  for (const char* name : {"f", "d"}) {
    FSCatalogInfo info;
    info.contentModDate.seconds = 946684800;  // 2000-01-01
    ASSERT_EQ(FSSetCatalogInfo(Ref(P(name)), kFSCatInfoContentMod, info), 0);
    time_t before = time(nullptr);
    ASSERT_EQ(FSBumpDate(Ref(P(name))), 0);
    ASSERT_EQ(FSGetCatalogInfo(Ref(P(name)), kFSCatInfoContentMod, &info), 0);
    EXPECT_GE(info.contentModDate.seconds, before) << name;
    EXPECT_LE(info.contentModDate.seconds, time(nullptr) + 1) << name;
  }
  // A date in the future is still replaced by now.
  FSCatalogInfo future;
  future.contentModDate.seconds = time(nullptr) + 100000;
  ASSERT_EQ(FSSetCatalogInfo(Ref(P("f")), kFSCatInfoContentMod, future), 0);
  ASSERT_EQ(FSBumpDate(Ref(P("f"))), 0);
  FSCatalogInfo info;
  ASSERT_EQ(FSGetCatalogInfo(Ref(P("f")), kFSCatInfoContentMod, &info), 0);
  EXPECT_LT(info.contentModDate.seconds, future.contentModDate.seconds);
  EXPECT_EQ(FSBumpDate(Ref(P("none"))), -43);
}

// ==================================================================== opening files

TEST_F(MacToolsTest, OpenForReadingAMissingFileThrows) {
  VoFileSpec spec(Vo(P("missing.txt")));
  try {
    VoMacOpenFile(spec, eVoFileRead);
    ADD_FAILURE() << "no error";
  } catch (const VoError& e) {
    EXPECT_EQ(e.GetErr(), 12u);
    EXPECT_EQ(std::string(e.GetErrName()), "FileNotOpen (for reading): " + P("missing.txt"));
    EXPECT_STREQ(e.GetFileName(), "");
    EXPECT_EQ(e.GetLine(), 0);
  }
  EXPECT_FALSE(Exists(P("missing.txt")));
}

TEST_F(MacToolsTest, OpenModes) {
  WriteFile(P("full.txt"), "contents");
  const struct {
    const char* name;
    eVoFileAccess access;
    bool existed;
    std::string startText;  // what reading from position 0 gives
  } cases[] = {
      {"full.txt", eVoFileRead, true, "contents"},
      {"full.txt", eVoFileReadWrite, true, "contents"},
      {"new-rw.txt", eVoFileReadWrite, false, ""},
      {"full.txt", eVoFileWrite, true, ""},  // emptied (last: it destroys the text)
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    VoFileSpec spec(Vo(P(c.name)));
    FILE* f = VoMacOpenFile(spec, c.access);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(ftell(f), 0);
    fclose(f);
    EXPECT_EQ(ReadFile(P(c.name)), c.startText);
  }
  // The read-write stream reads and writes.
  VoFileSpec spec(Vo(P("new-rw.txt")));
  FILE* f = VoMacOpenFile(spec, eVoFileReadWrite);
  ASSERT_NE(f, nullptr);
  fputs("abc", f);
  fseek(f, 0, SEEK_SET);
  char buf[4] = {};
  EXPECT_EQ(fread(buf, 1, 3, f), 3u);
  EXPECT_STREQ(buf, "abc");
  // Descriptors are not handed to launched programs.
  EXPECT_NE(fcntl(fileno(f), F_GETFD) & FD_CLOEXEC, 0);
  fclose(f);
}

TEST_F(MacToolsTest, OpenNoneReturnsNull) {
  VoFileSpec spec(Vo(P("x.txt")));
  EXPECT_EQ(VoMacOpenFile(spec, eVoFileNone), nullptr);
  EXPECT_FALSE(Exists(P("x.txt")));
  EXPECT_EQ(Str(spec.GetFullName()), P("x.txt"));
}

TEST_F(MacToolsTest, OpenForWritingInAMissingFolderThrows) {
  for (eVoFileAccess access : {eVoFileWrite, eVoFileReadWrite}) {
    VoFileSpec spec(Vo(P("nodir/x.txt")));
    try {
      VoMacOpenFile(spec, access);
      ADD_FAILURE() << "no error";
    } catch (const VoError& e) {
      EXPECT_EQ(e.GetErr(), 12u);
      EXPECT_EQ(std::string(e.GetErrName()), "FileNotOpen: (for writing)" + P("nodir/x.txt"));
      EXPECT_EQ(e.GetLine(), 0);
    }
  }
}

TEST_F(MacToolsXattrTest, OpenForWritingStoresTheCodes) {
  for (eVoFileAccess access : {eVoFileWrite, eVoFileReadWrite}) {
    SCOPED_TRACE(access);
    std::string path = P(access == eVoFileWrite ? "w.icc" : "rw.icc");
    VoFileSpec spec(Vo(path));
    spec.SetTypeID(0);
    spec.SetCreatorID(Code("abcd"));
    FILE* f = VoMacOpenFile(spec, access);
    ASSERT_NE(f, nullptr);
    fclose(f);
    EXPECT_EQ(spec.GetTypeID(), Code("prof")) << "derived from the extension";
    EXPECT_EQ(spec.GetCreatorID(), Code("sync"));
    EXPECT_EQ(RawAttribute(path), std::string("profsync\0\0", 10));
  }
  // Storing keeps the other finder information.
  WriteFile(P("keep.txt"), "");
  StoreFinderInfo(P("keep.txt"), Code("ABCD"), Code("VoTl"), kIsInvisible);
  VoFileSpec spec(Vo(P("keep.txt")));
  FILE* f = VoMacOpenFile(spec, eVoFileWrite);
  ASSERT_NE(f, nullptr);
  fclose(f);
  EXPECT_EQ(RawAttribute(P("keep.txt")), std::string("TEXTttxt\x40\x00", 10));
  // A name without extension and IDs 0 stores nothing.
  VoFileSpec plain(Vo(P("plain")));
  f = VoMacOpenFile(plain, eVoFileWrite);
  ASSERT_NE(f, nullptr);
  fclose(f);
  EXPECT_EQ(RawAttribute(P("plain")), "<none>");
}

// ==================================================================== folders, moving, working folder

TEST_F(MacToolsTest, CreateDir) {
  Dir("p");
  WriteFile(P("file"), "");
  const struct {
    std::string path;
    OSErr status;
    bool made;
  } cases[] = {
      {P("p/new"), 0, true},
      {P("p/new"), kVoStatusDuplicate, true},
      {P("file"), kVoStatusDuplicate, false},
      {P("nodir/new"), -43, false},
      {P("file/new"), kVoStatusDirNotFound, false},
      {P("p/"), kVoStatusBadName, true},  // the parent itself
      {P("p/") + std::string(255, 'x'), 0, true},
      {P("p/") + std::string(256, 'y'), kVoStatusNameTooLong, false},
      {P("p/name with \x01\xff bytes"), 0, true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(VoMacCreateDir(VoFileSpec(Vo(c.path))), c.status) << c.path;
    EXPECT_EQ(IsDir(c.path), c.made) << c.path;
  }
  EXPECT_FALSE(Exists(P("nodir")));
  ASSERT_EQ(chdir(P("p").c_str()), 0);
  EXPECT_EQ(VoMacCreateDir(VoFileSpec(VoString("bare"))), 0);
  EXPECT_TRUE(IsDir(P("p/bare")));
}

TEST_F(MacToolsTest, MoveFile) {
  WriteFile(P("a"), "1");
  Dir("d");
  EXPECT_EQ(VoMacMoveFile(VoFileSpec(Vo(P("a"))), VoFileSpec(Vo(P("d/b")))), 0);
  EXPECT_EQ(ReadFile(P("d/b")), "1");
  EXPECT_FALSE(Exists(P("a")));
  EXPECT_EQ(VoMacMoveFile(VoFileSpec(Vo(P("a"))), VoFileSpec(Vo(P("c")))), -1);
  EXPECT_EQ(VoMacMoveFile(VoFileSpec(Vo(P("d/b"))), VoFileSpec(Vo(P("nodir/c")))), -1);
}

TEST_F(MacToolsTest, WorkingDirIsTheExecutablesFolder) {
  char exe[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  ASSERT_GT(n, 0);
  std::string folder(exe, static_cast<size_t>(n));
  folder.erase(folder.rfind('/'));
  char* real = realpath(folder.c_str(), nullptr);
  ASSERT_NE(real, nullptr);
  folder = real;
  free(real);
  for (int which : {0, 1, 7}) {
    ASSERT_EQ(chdir(mRoot.c_str()), 0);
    EXPECT_EQ(VoMacSetWorkingDir(which), 0);
    char cwd[PATH_MAX];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    EXPECT_EQ(std::string(cwd), folder) << which;
  }
}

// ==================================================================== the contrast preference

class MacToolsPrefTest : public MacToolsTest {
 protected:
  void SetUp() override {
    MacToolsTest::SetUp();
    setenv("XDG_CONFIG_HOME", P("cfg").c_str(), 1);
    mFile = P("cfg/com.apple.universalaccess.txt");
  }
  ino_t Inode() const {
    struct stat st;
    return stat(mFile.c_str(), &st) == 0 ? st.st_ino : 0;
  }
  size_t FilesInConfig() const {
    size_t n = 0;
    DIR* d = opendir(P("cfg").c_str());
    if (!d) return 0;
    while (struct dirent* e = readdir(d)) n += e->d_name[0] != '.';
    closedir(d);
    return n;
  }
  std::string mFile;
};

TEST_F(MacToolsPrefTest, MissingFileReadsZero) {
  EXPECT_EQ(GetMacContrastEnhancement(), 0.0);
  EXPECT_FALSE(Exists(P("cfg"))) << "reading makes no folder";
  EXPECT_FALSE(SetMacContrastEnhancement(0.0)) << "0.0 is the value already";
  EXPECT_FALSE(Exists(mFile));
}

TEST_F(MacToolsPrefTest, WriteOnlyOnChange) {
  EXPECT_TRUE(SetMacContrastEnhancement(0.5));
  EXPECT_EQ(ReadFile(mFile), "contrast = 0.5\n");
  EXPECT_EQ(GetMacContrastEnhancement(), 0.5);
  ino_t before = Inode();
  EXPECT_FALSE(SetMacContrastEnhancement(0.5));
  EXPECT_EQ(Inode(), before) << "the same value is not written";
  EXPECT_TRUE(SetMacContrastEnhancement(0.1));
  EXPECT_NE(Inode(), before) << "the file is replaced, not rewritten in place";
  EXPECT_EQ(GetMacContrastEnhancement(), 0.1) << "the value reads back exactly";
  for (double v : {1.0 / 3.0, -2.5e-300, 1e300, 0.30000000000000004}) {
    EXPECT_TRUE(SetMacContrastEnhancement(v)) << v;
    EXPECT_EQ(GetMacContrastEnhancement(), v);
  }
  EXPECT_EQ(FilesInConfig(), 1u) << "no temporary file is left behind";
}

TEST_F(MacToolsPrefTest, NonFiniteValuesAreNotWritten) {
  for (double v : {NAN, INFINITY, -INFINITY}) EXPECT_FALSE(SetMacContrastEnhancement(v));
  EXPECT_FALSE(Exists(mFile));
}

TEST_F(MacToolsPrefTest, StoredValues) {
  const struct {
    const char* text;
    double value;
  } cases[] = {
      {"contrast = 0.25\n", 0.25},
      {"# comment\nother = x\ncontrast = \"0.75\"\n", 0.75},
      {"contrast = abc\n", 0.0},
      {"contrast = 12abc\n", 0.0},
      {"contrast = nan\n", 0.0},
      {"contrast = inf\n", 0.0},
      {"contrast =\n", 0.0},
      {"other = 0.5\n", 0.0},
      {"a = 1\ncontrast = 0.5\n\"broken", 0.5},  // damage after the entry
      {"", 0.0},
  };
  ASSERT_EQ(mkdir(P("cfg").c_str(), 0700), 0);
  for (const auto& c : cases) {
    WriteFile(mFile, c.text);
    EXPECT_EQ(GetMacContrastEnhancement(), c.value) << c.text;
  }
}

TEST_F(MacToolsPrefTest, OtherEntriesAreKept) {
  ASSERT_EQ(mkdir(P("cfg").c_str(), 0700), 0);
  WriteFile(mFile, "zoom = 2\ncontrast = 0.5\nnested = 1\n{\n\tkey = v\n}\n");
  EXPECT_TRUE(SetMacContrastEnhancement(0.75));
  EXPECT_EQ(ReadFile(mFile), "zoom = 2\ncontrast = 0.75\nnested = 1\n{\n\tkey = v\n}\n");
  WriteFile(mFile, "# saved\n{\n# zoom\n\tzoom = 2\n}\n# end\n");  // the bracketed layout
  EXPECT_TRUE(SetMacContrastEnhancement(0.25));
  EXPECT_EQ(ReadFile(mFile), "zoom = 2\ncontrast = 0.25\n");
}

TEST_F(MacToolsPrefTest, LinkModeAndOtherEntriesAreKept) {
  ASSERT_EQ(mkdir(P("cfg").c_str(), 0700), 0);
  WriteFile(P("real.txt"), "zoom = 2\n");
  ASSERT_EQ(chmod(P("real.txt").c_str(), 0644), 0);
  ASSERT_EQ(symlink("../real.txt", mFile.c_str()), 0);
  EXPECT_TRUE(SetMacContrastEnhancement(0.5));
  struct stat st;
  ASSERT_EQ(lstat(mFile.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode)) << "the link stays a link";
  EXPECT_EQ(ReadFile(P("real.txt")), "zoom = 2\ncontrast = 0.5\n");
  ASSERT_EQ(stat(P("real.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0644u);
}

// A file that cannot be read or parsed whole is never written back in part.
TEST_F(MacToolsPrefTest, DamagedFilesAreLeftAsTheyAre) {
  ASSERT_EQ(mkdir(P("cfg").c_str(), 0700), 0);
  for (const char* text : {"zoom = 2\nname = \"open\nlater = 1\n", "contrast = 0.1\nzoom 2\nlater = 1\n",
                           "a = 1\n}\nb = 2\n", "{\na = 1\n}\nb = 2\n", "a = 1\nb = 2\n}}}\nc = 3\n"}) {
    WriteFile(mFile, text);
    EXPECT_FALSE(SetMacContrastEnhancement(0.5)) << text;
    EXPECT_EQ(ReadFile(mFile), text);
  }
  // Larger than any preference file: not read, so not rewritten.
  WriteFile(mFile, "zoom = 2\n");
  ASSERT_EQ(truncate(mFile.c_str(), 17 << 20), 0);
  const ino_t inode = Inode();
  EXPECT_FALSE(SetMacContrastEnhancement(0.5));
  EXPECT_EQ(Inode(), inode);
  // No read permission: tried as nobody when run as root.
  ASSERT_EQ(chmod(mRoot.c_str(), 0777), 0);
  ASSERT_EQ(chmod(P("cfg").c_str(), 0777), 0);
  WriteFile(mFile, "zoom = 2\n");
  ASSERT_EQ(chmod(mFile.c_str(), 0222), 0);
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    if (geteuid() == 0 && (setresgid(65534, 65534, 65534) != 0 || setresuid(65534, 65534, 65534) != 0))
      _exit(77);
    _exit(SetMacContrastEnhancement(0.5) ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "cannot drop privileges";
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(ReadFile(mFile), "zoom = 2\n");
}

TEST_F(MacToolsPrefTest, UnwritableFolderReportsFalse) {
  WriteFile(P("file"), "");
  setenv("XDG_CONFIG_HOME", P("file/cfg").c_str(), 1);
  EXPECT_FALSE(SetMacContrastEnhancement(0.5));
}

// ==================================================================== dates

TEST(MacToolsDates, UtcDates) {
  const struct {
    int64_t seconds;
    int y, mo, d, h, mi, s;
  } cases[] = {
      {0, 1970, 1, 1, 0, 0, 0},
      {-1, 1969, 12, 31, 23, 59, 59},
      {951782400, 2000, 2, 29, 0, 0, 0},
      {1700000000, 2023, 11, 14, 22, 13, 20},
      {4102444799, 2099, 12, 31, 23, 59, 59},
      {-2208988800, 1900, 1, 1, 0, 0, 0},
      {253402300799, 3000, 12, 31, 23, 59, 59},    // year 9999 clamped to 3000
      {-62167219200 - 86400, 0, 12, 31, 0, 0, 0},  // year -1 clamped to 0
      {INT64_MAX / 2, 3000, 0, 0, 0, 0, 0},
  };
  for (const auto& c : cases) {
    VoDate d = VoMacTimeToDate(VoMacTime{c.seconds, 999999999});
    EXPECT_EQ(d.Year(), c.y) << c.seconds;
    if (c.mo == 0) continue;  // only the year is fixed
    EXPECT_EQ(d.Month(), c.mo) << c.seconds;
    EXPECT_EQ(d.Day(), c.d) << c.seconds;
    EXPECT_EQ(d.Hour(), c.h) << c.seconds;
    EXPECT_EQ(d.Minute(), c.mi) << c.seconds;
    EXPECT_EQ(d.Second(), c.s) << c.seconds;
  }
}

// ==================================================================== the walk

struct Seen {
  unsigned long level;
  std::string path;  // relative to the container
  uint16_t nodeFlags;
  uint64_t size;
  bool hadRecord;
  std::string recordFolder;
  std::string recordName;
  bool hadName;
  std::string name;
};

struct Collector {
  std::string base;  // container path + "/"
  std::vector<Seen> seen;
  size_t quitAt = 0;  // answer true on this call (1-based); 0 never
};

bool Collect(bool, unsigned long level, const FSCatalogInfo* info, const FSRef* ref, const FSSpec* record,
             const VoString* name, void* data) {
  Collector* c = static_cast<Collector*>(data);
  Seen s;
  s.level = level;
  std::string path = Str(ref->path);
  s.path = path.compare(0, c->base.size(), c->base) == 0 ? path.substr(c->base.size()) : "!" + path;
  s.nodeFlags = info->nodeFlags;
  s.size = info->dataLogicalSize;
  s.hadRecord = record != nullptr;
  if (record) {
    s.recordFolder = Str(record->folder);
    s.recordName = Str(record->name);
  }
  s.hadName = name != nullptr;
  if (name) s.name = Str(*name);
  c->seen.push_back(s);
  return c->quitAt != 0 && c->seen.size() >= c->quitAt;
}

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
  return failed;
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
  // From one level higher the walk goes on after "outer".
  Collector col;
  col.base = P("w") + "/";
  ASSERT_EQ(FSIterateContainer(Ref(P("w")), 0, 0, false, false, Collect, &col), 0);
  bool sawAfter = false;
  for (const Seen& s : col.seen) sawAfter |= s.path == "after";
  EXPECT_TRUE(sawAfter);
}

// ==================================================================== a file system without xattrs

TEST_F(MacToolsTest, FileSystemWithoutExtendedAttributes) {
  if (geteuid() != 0) GTEST_SKIP() << "mounting a ramfs needs root";
  // A private mount namespace keeps the mount away from the rest of the machine.
  if (unshare(CLONE_NEWNS) != 0) GTEST_SKIP() << "no mount namespace: " << strerror(errno);
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
    GTEST_SKIP() << "cannot make mounts private: " << strerror(errno);
  Dir("ram");
  if (mount("none", P("ram").c_str(), "ramfs", 0, nullptr) != 0)
    GTEST_SKIP() << "cannot mount ramfs: " << strerror(errno);
  struct Unmount {
    std::string path;
    ~Unmount() { umount2(path.c_str(), MNT_DETACH); }
  } unmount{P("ram")};
  if (XattrsWork(P("ram"))) GTEST_SKIP() << "ramfs keeps user xattrs here";
  VoFileSpec spec(Vo(P("ram/x.icc")));
  FILE* f = VoMacOpenFile(spec, eVoFileWrite);
  ASSERT_NE(f, nullptr);
  fclose(f);
  EXPECT_EQ(VoMacSetVisible(spec, false), 0) << "storing is skipped without failure";
  FSCatalogInfo info;
  ASSERT_EQ(FSGetCatalogInfo(Ref(P("ram/x.icc")), kFSCatInfoFinderInfo, &info), 0);
  EXPECT_EQ(info.fileType, 0u);
  EXPECT_EQ(info.fileCreator, 0u);
  EXPECT_EQ(info.finderFlags, 0u);
  VoFileSpec back;
  FSRefToVoFileSpec(back, Ref(P("ram/x.icc")));
  EXPECT_EQ(back.GetTypeID(), Code("prof")) << "from the name alone";
  Collector col;
  col.base = P("ram") + "/";
  EXPECT_EQ(FSIterateContainer(Ref(P("ram")), 0, kFSCatInfoFinderInfo, false, false, Collect, &col), 0);
  EXPECT_EQ(col.seen.size(), 1u);
}

}  // namespace

namespace {

// ==================================================================== regressions

// An attribute value longer than the buffer of a first read still gives its
// first ten bytes (written by another program).
TEST_F(MacToolsXattrTest, LongAttributeValuesKeepTheirCodes) {
  WriteFile(P("long"), "");
  for (size_t size : {64u, 65u, 200u}) {
    std::string value("ABCDWXYZ\x40\x00", 10);
    value.resize(size, 'z');
    ASSERT_EQ(lsetxattr(P("long").c_str(), kVoFinderInfoAttribute, value.data(), value.size(), 0), 0);
    FSCatalogInfo info;
    ASSERT_EQ(FSGetCatalogInfo(Ref(P("long")), kFSCatInfoFinderInfo, &info), 0);
    EXPECT_EQ(info.fileType, Code("ABCD")) << size;
    EXPECT_EQ(info.fileCreator, Code("WXYZ")) << size;
    EXPECT_EQ(info.finderFlags, kIsInvisible) << size;
  }
}

// Opening for reading and writing a file that exists but may not be read
// fails without emptying it (the create step is exclusive).
TEST_F(MacToolsTest, OpenReadWriteNeverEmptiesAnUnreadableFile) {
  ASSERT_EQ(chmod(mRoot.c_str(), 0777), 0);
  WriteFile(P("wonly.txt"), "fourteen bytes");
  ASSERT_EQ(chmod(P("wonly.txt").c_str(), 0222), 0);
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    if (geteuid() == 0 && (setresgid(65534, 65534, 65534) != 0 || setresuid(65534, 65534, 65534) != 0))
      _exit(77);
    VoFileSpec spec(VoString(P("wonly.txt").c_str()));
    int result = 1;
    try {
      FILE* f = VoMacOpenFile(spec, eVoFileReadWrite);
      if (f) fclose(f);
    } catch (const VoError& e) {
      result = e.GetErr() == 12 ? 0 : 2;
    }
    _exit(result);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "cannot drop privileges";
  EXPECT_EQ(WEXITSTATUS(status), 0);
  struct stat st;
  ASSERT_EQ(stat(P("wonly.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_size, 14);
}

}  // namespace
