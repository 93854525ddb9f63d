// Tests of the bridge's display contrast preference.
#include <sys/wait.h>

#include <cmath>
#include <string>

#include "VoMacToolsFixture.h"

namespace vo_mac_test {
namespace {

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
  // A folder without write permission, tried as nobody when run as root.
  ASSERT_EQ(chmod(mRoot.c_str(), 0755), 0);
  ASSERT_EQ(mkdir(P("cfg").c_str(), 0555), 0);
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
  EXPECT_FALSE(Exists(mFile));
}

}  // namespace
}  // namespace vo_mac_test
