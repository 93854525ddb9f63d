// VoSystemFilesTest.cpp - Tests of VoSystem's file chores and process queries.
#include "VoSystem/VoSystem.h"

#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "VoSystem/VoSystemTestSupport.h"

namespace {

using namespace vo_test;

class VoSystemFiles : public ::testing::Test {
 protected:
  TempDir dir_;
};

TEST_F(VoSystemFiles, FileExists) {
  const std::string file = dir_.Write("present.txt", "x");
  EXPECT_TRUE(VoSystem::FileExists(Spec(file)));
  EXPECT_FALSE(VoSystem::FileExists(Spec(dir_.Path("absent.txt"))));
  EXPECT_FALSE(VoSystem::FileExists(Spec(dir_.Path("no/such/folder/a.txt"))));
  EXPECT_FALSE(VoSystem::FileExists(VoFileSpec()));
  if (geteuid() != 0) {  // root reads everything
    chmod(file.c_str(), 0);
    EXPECT_FALSE(VoSystem::FileExists(Spec(file)));
  }
}

TEST_F(VoSystemFiles, FileIsWritable) {
  const std::string fresh = dir_.Path("new name.txt");
  EXPECT_TRUE(VoSystem::FileIsWritable(Spec(fresh)));
  EXPECT_FALSE(Exists(fresh));  // the test file is removed again

  const std::string kept = dir_.Write("kept.txt", "keep me");
  EXPECT_TRUE(VoSystem::FileIsWritable(Spec(kept)));
  EXPECT_EQ(ReadFile(kept), "keep me");

  EXPECT_FALSE(VoSystem::FileIsWritable(Spec(dir_.Path("missing/folder/x.txt"))));
  EXPECT_FALSE(Exists(dir_.Path("missing")));
  if (geteuid() != 0) {
    ASSERT_EQ(mkdir(dir_.Path("ro").c_str(), 0555), 0);
    EXPECT_FALSE(VoSystem::FileIsWritable(Spec(dir_.Path("ro/x.txt"))));
  }
}

TEST_F(VoSystemFiles, RemoveFile) {
  const std::string file = dir_.Write("gone.txt", "x");
  VoSystem::RemoveFile(Spec(file));
  EXPECT_FALSE(Exists(file));
  const VoError e = Caught([&] { VoSystem::RemoveFile(Spec(file)); });
  EXPECT_STREQ(e.GetErrName(), "err");
  EXPECT_EQ(e.GetErr(), static_cast<unsigned long>(-1L));
  EXPECT_EQ(e.GetErr(), ~0ul);
  EXPECT_STREQ(e.GetFileName(), "VoSystem.cpp");
  EXPECT_GT(e.GetLine(), 0);
}

TEST_F(VoSystemFiles, CopyFileCopiesEveryByte) {
  const struct {
    const char* name;
    size_t size;
  } cases[] = {{"empty", 0},        {"one", 1},          {"block-1", 99999},      {"block", 100000},
               {"block+1", 100001}, {"several", 250003}, {"MiBs", (5u << 20) + 3}};
  for (const auto& c : cases) {
    std::string bytes(c.size, '\0');
    for (size_t i = 0; i < c.size; ++i) bytes[i] = static_cast<char>((i * 31 + i / 977) & 0xFF);
    const std::string from = dir_.Write(std::string("from-") + c.name, bytes);
    const std::string to =
        dir_.Write(std::string("to-") + c.name, std::string(400000, 'z'));  // emptied first
    VoSystem::CopyFile(Spec(from), Spec(to));
    EXPECT_TRUE(ReadFile(to) == bytes) << c.name;
    EXPECT_TRUE(ReadFile(from) == bytes) << c.name;
  }
}

TEST_F(VoSystemFiles, CopyFileErrorsAreThoseOfTheFiles) {
  const std::string target = dir_.Path("target.txt");
  const VoError missing = Caught([&] { VoSystem::CopyFile(Spec(dir_.Path("missing.txt")), Spec(target)); });
  EXPECT_EQ(missing.GetErr(), 12u);
  EXPECT_FALSE(Exists(target));  // the source is opened first
  const std::string source = dir_.Write("source.txt", "abc");
  const VoError badTarget =
      Caught([&] { VoSystem::CopyFile(Spec(source), Spec(dir_.Path("no/folder/t.txt"))); });
  EXPECT_EQ(badTarget.GetErr(), 12u);
}

TEST_F(VoSystemFiles, MoveFile) {
  const std::string from = dir_.Write("a.txt", "moved");
  const std::string to = dir_.Path("b.txt");
  VoSystem::MoveFile(Spec(from), Spec(to));
  EXPECT_FALSE(Exists(from));
  EXPECT_EQ(ReadFile(to), "moved");
  const VoError e = Caught([&] { VoSystem::MoveFile(Spec(from), Spec(to)); });
  EXPECT_STREQ(e.GetErrName(), "err");
  EXPECT_EQ(e.GetErr(), ~0ul);
}

TEST_F(VoSystemFiles, CreateDirAndVisibility) {
  const std::string folder = dir_.Path("made");
  EXPECT_EQ(VoSystem::CreateDir(Spec(folder)), 0);
  struct stat st {};
  ASSERT_EQ(stat(folder.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_NE(VoSystem::CreateDir(Spec(folder)), 0);  // exists already
  EXPECT_NE(VoSystem::CreateDir(Spec(dir_.Path("no/parent"))), 0);
  EXPECT_FALSE(Exists(dir_.Path("no")));

  const std::string file = dir_.Write("shown.txt", "x");
  EXPECT_EQ(VoSystem::SetFileVisible(Spec(file), false), 0);
  EXPECT_EQ(VoSystem::SetFileVisible(Spec(file), true), 0);
  EXPECT_NE(VoSystem::SetFileVisible(Spec(dir_.Path("absent")), true), 0);
}

TEST_F(VoSystemFiles, LockedFlag) {
  const std::string file = dir_.Write("locked.txt", "x");
  EXPECT_FALSE(VoSystem::IsFileLocked(Spec(file)));
  EXPECT_EQ(VoSystem::UnLockFile(Spec(file)), 0);  // not locked: nothing to do
  ASSERT_EQ(chmod(file.c_str(), 0444), 0);         // locked: no write permission
  EXPECT_TRUE(VoSystem::IsFileLocked(Spec(file)));
  EXPECT_EQ(VoSystem::UnLockFile(Spec(file)), 0);
  EXPECT_FALSE(VoSystem::IsFileLocked(Spec(file)));
  struct stat st {};
  ASSERT_EQ(stat(file.c_str(), &st), 0);
  EXPECT_TRUE(st.st_mode & S_IWUSR);

  EXPECT_FALSE(VoSystem::IsFileLocked(Spec(dir_.Path("absent"))));
  EXPECT_NE(VoSystem::UnLockFile(Spec(dir_.Path("absent"))), 0);
}

TEST_F(VoSystemFiles, UnavailableOperationsThrowUndefProc) {
  const VoFileSpec spec = Spec(dir_.Path("x"));
  int version = 1234;
  VoNullStream out;
  const std::function<void()> calls[] = {
      [&] { VoSystem::GetFileVersion(spec, &version); },
      [&] { VoSystem::SetWorkingDir(spec); },
      [&] { VoSystem::ExecuteCommandLine(Vo("ls"), spec, &out); },
  };
  for (const auto& call : calls) {
    const VoError e = Caught(call);
    EXPECT_EQ(e.GetErr(), 1u);
    EXPECT_STREQ(e.GetErrName(), "VoUndefProc");
  }
  EXPECT_EQ(version, 1234);
  const std::string file = dir_.Write("profile.icc", "icc");
  VoSystem::InstallICCProfile(Spec(file));
  EXPECT_EQ(ReadFile(file), "icc");
}

TEST(VoSystemProcess, ProcessFileAndWorkingDir) {
  const VoFileSpec self = VoSystem::GetProcessFile();
  char resolved[PATH_MAX];
  ASSERT_NE(realpath("/proc/self/exe", resolved), nullptr);
  EXPECT_EQ(Bytes(self.GetFullName()), resolved);
  EXPECT_EQ(Bytes(self.GetName()), "VoSystemTests");
  EXPECT_EQ(VoSystem::GetWorkingDir().GetFullName().length(), 0);
}

}  // namespace
