// VoSystemLaunchTest.cpp - Tests of VoSystem's launching of URLs and files with xdg-open.
#include "VoSystem/VoSystem.h"

#include <dirent.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "VoSystem/VoSystemTestSupport.h"

namespace {

using namespace vo_test;

/// A stand-in for xdg-open on PATH that records its arguments, one call per file.
class VoSystemLaunch : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.path().empty());
    ASSERT_EQ(mkdir(dir_.Path("bin").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(dir_.Path("calls").c_str(), 0755), 0);
    const std::string script =
        dir_.Write("bin/xdg-open", "#!/bin/sh\nf='" + dir_.Path("calls") + "/call'.$$\n" +
                                       "printf '%s\\0' \"$#\" \"$@\" > \"$f.tmp\" && mv \"$f.tmp\" \"$f\"\n");
    chmod(script.c_str(), 0755);
    const char* old = getenv("PATH");
    path_ =
        std::make_unique<ScopedEnv>("PATH", (dir_.Path("bin") + ":" + (old ? old : "/usr/bin:/bin")).c_str());
  }
  void TearDown() override { path_.reset(); }

  /// The arguments of the next recorded call (waits up to 5 s).
  std::vector<std::string> NextCall() {
    std::vector<std::string> args;
    Eventually(
        [&] {
          DIR* d = opendir(dir_.Path("calls").c_str());
          if (!d) return false;
          std::string found;
          while (dirent* e = readdir(d)) {
            const std::string name = e->d_name;
            if (name.rfind("call.", 0) == 0 && name.find(".tmp") == std::string::npos) found = name;
          }
          closedir(d);
          if (found.empty()) return false;
          const std::string bytes = ReadFile(dir_.Path("calls/" + found));
          unlink(dir_.Path("calls/" + found).c_str());
          std::string::size_type start = 0;
          while (start < bytes.size()) {
            const auto end = bytes.find('\0', start);
            args.push_back(bytes.substr(start, end - start));
            start = end + 1;
          }
          return true;
        },
        5.0);
    return args;
  }

  TempDir dir_;
  std::unique_ptr<ScopedEnv> path_;
};

TEST_F(VoSystemLaunch, UrlArrivesWholeAsOneArgumentAndIsNeverRunByAShell) {
  const std::string mark = dir_.path() + "/pwned";
  const std::string url = "https://example.invalid/a b?q='1'&r=\"2\";touch " + mark + "1 $(touch " + mark +
                          "2) `touch " + mark + "3` | touch " + mark + "4 \\ * ~";
  VoSystem::LaunchURL(Vo(url));
  EXPECT_EQ(ZombieChildren(), 0);
  const std::vector<std::string> args = NextCall();
  ASSERT_EQ(args.size(), 2u);
  EXPECT_EQ(args[0], "1");
  EXPECT_EQ(args[1], url);
  usleep(50000);
  for (int i = 1; i <= 4; ++i) EXPECT_FALSE(Exists(mark + std::to_string(i))) << i;
}

TEST_F(VoSystemLaunch, FileGoesAsAFileUrlWithThePathUnchanged) {
  // Marks a shell would make in the current folder or in the file's folder.
  const std::string name = "my file 'single' \"double\" $(touch vo-pwned1) `touch vo-pwned2`; x.txt";
  const std::string path = dir_.Write(name, "contents");
  char resolved[PATH_MAX];
  ASSERT_NE(realpath(path.c_str(), resolved), nullptr);
  VoSystem::LaunchFile(Spec(path));
  EXPECT_EQ(ZombieChildren(), 0);
  const std::vector<std::string> args = NextCall();
  ASSERT_EQ(args.size(), 2u);
  EXPECT_EQ(args[1], std::string("file://") + resolved);
  EXPECT_NE(args[1].find("my file 'single'"), std::string::npos);  // blanks not encoded
  usleep(50000);
  for (const char* mark : {"vo-pwned1", "vo-pwned2"}) {
    EXPECT_FALSE(Exists(mark));
    EXPECT_FALSE(Exists(dir_.Path(mark)));
  }
}

TEST_F(VoSystemLaunch, ManyLaunchesLeaveNoZombie) {
  for (int i = 0; i < 5; ++i) VoSystem::LaunchURL(Vo("https://example.invalid/" + std::to_string(i)));
  EXPECT_EQ(ZombieChildren(), 0);
  std::vector<std::string> seen;
  for (int i = 0; i < 5; ++i) {
    const auto args = NextCall();
    ASSERT_EQ(args.size(), 2u);
    seen.push_back(args[1]);
  }
  std::sort(seen.begin(), seen.end());
  for (int i = 0; i < 5; ++i) EXPECT_EQ(seen[i], "https://example.invalid/" + std::to_string(i));
  EXPECT_EQ(ZombieChildren(), 0);
}

TEST_F(VoSystemLaunch, ALauncherThatCannotRunIsTracedNotReported) {
  const std::string launcher = dir_.Write("bin/xdg-open", "no program\n");  // no #! line: ENOEXEC
  chmod(launcher.c_str(), 0755);
  const std::string log = dir_.Path("log.txt");
  VoSetDebugOutputFileImpl(Vo(log));
  VoSetDebugLevelImpl(1);
  VoSystem::LaunchURL(Vo("https://example.invalid/"));  // reports nothing: no throw
  VoSetDebugLevelImpl(0);
  VoSetDebugOutputImpl(VoGetDefaultOutputStream());
  EXPECT_EQ(ReadFile(log), "cannot run " + launcher + ": " + strerror(ENOEXEC) + "\n");
  EXPECT_EQ(ZombieChildren(), 0);
}

TEST_F(VoSystemLaunch, MissingFileThrowsErrWithTheBridgeStatus) {
  const VoError e = Caught([&] { VoSystem::LaunchFile(Spec(dir_.Path("no such file.txt"))); });
  EXPECT_STREQ(e.GetErrName(), "err");
  EXPECT_EQ(e.GetErr(), static_cast<unsigned long>(-43L));
  EXPECT_STREQ(e.GetFileName(), "VoSystem.cpp");
}

TEST(VoSystemLaunchNoTool, WithoutXdgOpenNothingHappens) {
  TempDir empty;
  ScopedEnv path("PATH", empty.path().c_str());
  VoSystem::LaunchURL(Vo("https://example.invalid/"));
  EXPECT_EQ(ZombieChildren(), 0);
}

}  // namespace
