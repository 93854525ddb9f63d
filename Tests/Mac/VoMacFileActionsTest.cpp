// Tests of the bridge's opening, creating and moving of files and of the working folder.
#include <sys/wait.h>

#include <string>

#include "VoCore/VoError.h"

#include "VoMacToolsFixture.h"

namespace vo_mac_test {
namespace {

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
}  // namespace vo_mac_test
