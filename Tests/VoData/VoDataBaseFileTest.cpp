// VoDataBaseFileTest.cpp - databases read from and saved to files, and saves made to fail from outside.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <string>

#include "Mac/VoMacToolsOSX.h"
#include "VoData/VoDataBase.h"
#include "VoDataBaseTestUtil.h"
#include "VoIO/VoFileSpec.h"

namespace {

using vodbtest::LayoutScope;
using vodbtest::SameDataBase;

class VoDataBaseFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/vo_dbfile_test_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    mDir = tmpl;
  }
  void TearDown() override {
    if (!mMount.empty()) umount2(mMount.c_str(), MNT_DETACH);
    std::error_code ec;
    std::filesystem::remove_all(mDir, ec);
  }

  std::string Path(const std::string& name) const { return mDir + "/" + name; }
  static VoFileSpec Spec(const std::string& path) { return VoFileSpec(VoString(path.c_str())); }

  static void Put(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  static std::string Get(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }
  /// The names in a folder (a temporary file left behind shows up here).
  static std::set<std::string> Names(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
      names.insert(entry.path().filename().string());
    return names;
  }
  /// The finder attribute's bytes, "" when there is none.
  static std::string FinderInfo(const std::string& path) {
    char buffer[64];
    const ssize_t n = lgetxattr(path.c_str(), kVoFinderInfoAttribute, buffer, sizeof buffer);
    return n < 0 ? std::string() : std::string(buffer, static_cast<std::size_t>(n));
  }

  /// The worked example: plain values, an empty one, a nested level, quotes
  /// and a backslash.
  static void Example(VoDataBase& db) {
    db.SetString("Name", "Big Box");
    db.SetString("Count", "3");
    db.SetString("Note", "");
    db.SetString("Window", "");
    db.SetString("Window/Left", "10");
    db.SetString("Window/Title", "say \"hi\"");
    db.SetString("Path", "C:\\tmp");
  }
  /// A database whose text is about \p bytes long.
  static void Large(VoDataBase& db, std::size_t bytes) {
    char key[32];
    for (std::size_t i = 0; i * 40 < bytes; ++i) {
      std::snprintf(key, sizeof key, "key%06zu", i);
      db.SetString(key, "value with some blanks in it 1234567");
    }
  }

  /// Runs \p body in a child process and returns its exit code (or 1000 +
  /// the signal that ended it).
  static int InChild(const std::function<int()>& body) {
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid < 0) return -1;
    if (pid == 0) {
      int code = 99;
      try {
        code = body();
      } catch (...) {
        code = 98;
      }
      std::_Exit(code);
    }
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
  }

  /// Saves \p db and returns the code of the error (0 when none); \p name
  /// and \p saved errno get the error's name and errno.
  static unsigned long Save(const VoDataBase& db, const std::string& path, std::string* name = nullptr,
                            int* savedErrno = nullptr) {
    try {
      db.WriteToFile(Spec(path));
    } catch (const VoError& e) {
      if (name) *name = e.GetErrName();
      if (savedErrno) *savedErrno = errno;
      return e.GetErr();
    }
    return 0;
  }

  /// Mounts a small tmpfs at Path(name); false (and a reason) where mounting
  /// is not allowed.
  bool MountTmpfs(const std::string& name, const std::string& options, std::string* reason) {
    const std::string at = Path(name);
    mkdir(at.c_str(), 0755);
    if (mount("tmpfs", at.c_str(), "tmpfs", 0, options.c_str()) != 0) {
      *reason = std::string("cannot mount a tmpfs here: ") + std::strerror(errno);
      return false;
    }
    mMount = at;
    return true;
  }

  std::string mDir;
  std::string mMount;
};

// ---------------------------------------------------------------- reading and writing

TEST_F(VoDataBaseFileTest, BothLayoutsRoundTripThroughFiles) {
  for (bool bracketed : {false, true}) {
    SCOPED_TRACE(bracketed ? "bracketed" : "plain");
    LayoutScope layout(bracketed);
    VoDataBase db;
    Example(db);
    const std::string path = Path(bracketed ? "b.txt" : "p.txt");
    db.WriteToFile(Spec(path));
    EXPECT_EQ(Get(path), std::string(db.WriteToString().c_str()));
    VoDataBase back;
    back.SetString("stale", "entry");  // replaced by the file's content
    back.ReadFromFile(Spec(path));
    std::string why;
    EXPECT_TRUE(SameDataBase(db, back, &why)) << why;
  }
  EXPECT_EQ(
      Get(Path("p.txt")),
      "Name = \"Big Box\"\nCount = 3\nNote = \nWindow = \n{\n\tLeft = 10\n\tTitle = \"say \\\"hi\\\"\"\n}\n"
      "Path = C:\\tmp\n");
}

TEST_F(VoDataBaseFileTest, SavingOverAFileReplacesAllOfIt) {
  Put(Path("over.txt"), std::string(10000, 'x'));
  VoDataBase db;
  db.SetString("a", "1");
  db.WriteToFile(Spec(Path("over.txt")));
  EXPECT_EQ(Get(Path("over.txt")), "a = 1\n");
  VoDataBase empty;
  empty.WriteToFile(Spec(Path("over.txt")));
  EXPECT_EQ(Get(Path("over.txt")), "");
  EXPECT_EQ(Names(mDir), (std::set<std::string>{"over.txt"}));
}

TEST_F(VoDataBaseFileTest, ReadingAMissingFileLeavesTheDatabaseAlone) {
  VoDataBase db;
  db.SetString("keep", "me");
  try {
    db.ReadFromFile(Spec(Path("missing.txt")));
    ADD_FAILURE() << "no error";
  } catch (const VoError& e) {
    EXPECT_EQ(e.GetErr(), 12u);
    EXPECT_EQ(std::string(e.GetErrName()), "FileNotOpen (for reading): " + Path("missing.txt"));
    EXPECT_EQ(e.GetLine(), 0);
  }
  EXPECT_EQ(vodbtest::Dump(db), "keep=me");
  // A folder cannot be read as a file either.
  EXPECT_NE(vodbtest::ErrorCode([&] { db.ReadFromFile(Spec(mDir)); }), 0u);
  EXPECT_EQ(vodbtest::Dump(db), "keep=me");
}

TEST_F(VoDataBaseFileTest, MalformedFilesKeepWhatWasReadBeforeTheError) {
  Put(Path("bad.txt"), "a = 1\nb = 2\nc=3\nd = 4\n");
  VoDataBase db;
  db.SetString("old", "x");
  EXPECT_EQ(vodbtest::ErrorCode([&] { db.ReadFromFile(Spec(Path("bad.txt"))); }), 19u);
  EXPECT_EQ(vodbtest::Dump(db), "a=1;b=2");
}

// ---------------------------------------------------------------- what a save keeps

TEST_F(VoDataBaseFileTest, NewFilesGetTheUsualModeAndTheCodesOfTheirExtension) {
  const mode_t saved = umask(027);
  VoDataBase db;
  Example(db);
  db.WriteToFile(Spec(Path("prefs.txt")));
  umask(saved);
  struct stat st;
  ASSERT_EQ(stat(Path("prefs.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(FinderInfo(Path("prefs.txt")), std::string("TEXTttxt\0\0", 10));
}

TEST_F(VoDataBaseFileTest, ExistingFilesKeepModeOwnerAndAttributes) {
  const std::string path = Path("data.cfg");
  Put(path, "old = 1\n");
  ASSERT_EQ(chmod(path.c_str(), 0604), 0);
  const bool root = geteuid() == 0;
  if (root) {
    ASSERT_EQ(chown(path.c_str(), 1234, 2345), 0);
  }
  ASSERT_EQ(lsetxattr(path.c_str(), "user.comment", "keep me", 7, 0), 0);
  // Type "XXXX", creator "YYYY", the invisible flag.
  ASSERT_EQ(lsetxattr(path.c_str(), kVoFinderInfoAttribute, "XXXXYYYY\x40\x00", 10, 0), 0);

  VoDataBase db;
  db.SetString("new", "2");
  db.WriteToFile(Spec(path));
  EXPECT_EQ(Get(path), "new = 2\n");
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0604u);
  if (root) {
    EXPECT_EQ(st.st_uid, 1234u);
    EXPECT_EQ(st.st_gid, 2345u);
  }
  char value[16] = {};
  EXPECT_EQ(lgetxattr(path.c_str(), "user.comment", value, sizeof value), 7);
  EXPECT_STREQ(value, "keep me");
  // The unknown extension gives the type 0x3F and no creator: the type is
  // stored, the creator and the flags stay, as opening for writing does.
  EXPECT_EQ(FinderInfo(path), std::string("\0\0\0?YYYY\x40\x00", 10));
  EXPECT_EQ(Names(mDir), (std::set<std::string>{"data.cfg"}));
}

TEST_F(VoDataBaseFileTest, SavingThroughLinksReplacesTheirTargetAndKeepsTheLinks) {
  ASSERT_EQ(mkdir(Path("sub").c_str(), 0755), 0);
  Put(Path("sub/real.txt"), "old\n");
  ASSERT_EQ(symlink("sub/real.txt", Path("link1").c_str()), 0);         // relative
  ASSERT_EQ(symlink(Path("link1").c_str(), Path("link2").c_str()), 0);  // absolute, a chain
  ASSERT_EQ(symlink("sub/later.txt", Path("dangling").c_str()), 0);

  VoDataBase db;
  db.SetString("via", "link");
  db.WriteToFile(Spec(Path("link2")));
  EXPECT_EQ(Get(Path("sub/real.txt")), "via = link\n");
  db.WriteToFile(Spec(Path("dangling")));
  EXPECT_EQ(Get(Path("sub/later.txt")), "via = link\n");
  for (const char* link : {"link1", "link2", "dangling"}) {
    struct stat st;
    ASSERT_EQ(lstat(Path(link).c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode)) << link;
  }
  EXPECT_EQ(Names(mDir), (std::set<std::string>{"sub", "link1", "link2", "dangling"}));
  EXPECT_EQ(Names(Path("sub")), (std::set<std::string>{"real.txt", "later.txt"}));

  // A loop of links is no file.
  ASSERT_EQ(symlink("loop2", Path("loop1").c_str()), 0);
  ASSERT_EQ(symlink("loop1", Path("loop2").c_str()), 0);
  EXPECT_EQ(Save(db, Path("loop1")), 12u);
}

TEST_F(VoDataBaseFileTest, DevicesAreWrittenInPlace) {
  VoDataBase db;
  Example(db);
  EXPECT_EQ(Save(db, "/dev/null"), 0u);
  struct stat st;
  ASSERT_EQ(stat("/dev/null", &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));
  // A FIFO nobody reads is not waited for (the child would end by the alarm).
  ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0600), 0);
  EXPECT_EQ(InChild([&] {
              alarm(10);
              return static_cast<int>(Save(db, Path("fifo")));
            }),
            12);
}

TEST_F(VoDataBaseFileTest, TargetsThatCannotBeMadeRaiseFileNotOpen) {
  VoDataBase db;
  db.SetString("a", "1");
  const std::string targets[] = {Path("no/such/folder/x.txt"), mDir, mDir + "/", ""};
  for (const std::string& target : targets) {
    SCOPED_TRACE(target);
    std::string name;
    EXPECT_EQ(Save(db, target, &name), 12u);
    EXPECT_EQ(name, "FileNotOpen: (for writing)" + target);
  }
  EXPECT_TRUE(Names(mDir).empty());
}

// ---------------------------------------------------------------- failing saves

TEST_F(VoDataBaseFileTest, AFileSizeLimitLeavesTheOldFileUntouched) {
  const std::string path = Path("limited.txt");
  const std::string old = "old = content\n";
  Put(path, old);
  const int code = InChild([&] {
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = {64 * 1024, 64 * 1024};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return 90;
    VoDataBase db;
    Large(db, 256 * 1024);
    int err = 0;
    const unsigned long result = Save(db, path, nullptr, &err);
    if (result == 17 && err != EFBIG) return 91;
    return static_cast<int>(result);
  });
  EXPECT_EQ(code, 17);  // "VoFileWriteFailed"
  EXPECT_EQ(Get(path), old);
  EXPECT_EQ(Names(mDir), (std::set<std::string>{"limited.txt"}));
}

TEST_F(VoDataBaseFileTest, AFullDiskLeavesTheOldFileUntouched) {
  std::string reason;
  if (!MountTmpfs("small", "size=64k,mode=0755", &reason)) GTEST_SKIP() << reason;
  const std::string path = Path("small/settings.txt");
  VoDataBase first;
  Example(first);
  first.WriteToFile(Spec(path));
  const std::string old = Get(path);

  VoDataBase big;
  Large(big, 200 * 1024);
  std::string name;
  int err = 0;
  EXPECT_EQ(Save(big, path, &name, &err), 17u);
  EXPECT_EQ(name, "VoFileWriteFailed");
  EXPECT_EQ(err, ENOSPC);
  EXPECT_EQ(Get(path), old);
  EXPECT_EQ(Names(Path("small")), (std::set<std::string>{"settings.txt"}));

  // Filled to the last byte, even a small save fails and changes nothing.
  {
    std::ofstream filler(Path("small/filler"), std::ios::binary);
    const std::string block(4096, 'f');
    while (filler.write(block.data(), static_cast<std::streamsize>(block.size())) && filler.flush()) {
    }
  }
  VoDataBase small;
  Large(small, 8 * 1024);
  EXPECT_EQ(Save(small, path), 17u);
  EXPECT_EQ(Get(path), old);
  EXPECT_EQ(Names(Path("small")), (std::set<std::string>{"settings.txt", "filler"}));
  VoDataBase back;
  back.ReadFromFile(Spec(path));
  EXPECT_TRUE(SameDataBase(first, back));
}

TEST_F(VoDataBaseFileTest, NoFreeFileLeavesTheOldFileUntouched) {
  std::string reason;
  if (!MountTmpfs("few", "size=1m,nr_inodes=8,mode=0755", &reason)) GTEST_SKIP() << reason;
  const std::string path = Path("few/settings.txt");
  Put(path, "old = 1\n");
  for (int i = 0; i < 20; ++i) Put(Path("few/f" + std::to_string(i)), "x");  // uses up the inodes
  VoDataBase db;
  db.SetString("new", "1");
  std::string name;
  EXPECT_EQ(Save(db, path, &name), 12u);  // the new file cannot even be made
  EXPECT_EQ(name, "FileNotOpen: (for writing)" + path);
  EXPECT_EQ(Get(path), "old = 1\n");
}

TEST_F(VoDataBaseFileTest, MissingPermissionLeavesFilesUntouched) {
  // As root the permission bits bind nobody: the saves run in a child that
  // has become the unprivileged user "nobody".
  ASSERT_EQ(chmod(mDir.c_str(), 0755), 0);
  ASSERT_EQ(mkdir(Path("open").c_str(), 0777), 0);
  ASSERT_EQ(chmod(Path("open").c_str(), 0777), 0);
  ASSERT_EQ(mkdir(Path("closed").c_str(), 0755), 0);
  Put(Path("open/readonly.txt"), "ro = 1\n");
  ASSERT_EQ(chmod(Path("open/readonly.txt").c_str(), 0444), 0);
  Put(Path("closed/writable.txt"), "rw = 1\n");
  ASSERT_EQ(chmod(Path("closed/writable.txt").c_str(), 0666), 0);
  if (geteuid() != 0) {
    ASSERT_EQ(chmod(Path("closed").c_str(), 0555), 0);
  }

  const int code = InChild([&] {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) return 90;
    VoDataBase db;
    db.SetString("new", "2");
    int failures = 0;
    // A read-only file is not replaced even though its folder would allow it.
    if (Save(db, Path("open/readonly.txt")) == 12) failures |= 1;
    // A writable file in a folder where no new file can be made is written
    // in place, as opening it for writing would.
    if (Save(db, Path("closed/writable.txt")) == 0) failures |= 2;
    // A new file in a folder that is not writable.
    if (Save(db, Path("closed/new.txt")) == 12) failures |= 4;
    // In place, a text longer than a file-size limit allows leaves the file as it was.
    struct rlimit limit;
    getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = 16;
    signal(SIGXFSZ, SIG_IGN);
    db.SetString("longer", std::string(64, 'x').c_str());
    if (setrlimit(RLIMIT_FSIZE, &limit) == 0 && Save(db, Path("closed/writable.txt")) == 17) failures |= 8;
    return failures;
  });
  EXPECT_EQ(code, 15);
  EXPECT_EQ(Get(Path("open/readonly.txt")), "ro = 1\n");
  EXPECT_EQ(Get(Path("closed/writable.txt")), "new = 2\n");
  EXPECT_EQ(Names(Path("open")), (std::set<std::string>{"readonly.txt"}));
  EXPECT_EQ(Names(Path("closed")), (std::set<std::string>{"writable.txt"}));
  chmod(Path("closed").c_str(), 0755);
}

}  // namespace
