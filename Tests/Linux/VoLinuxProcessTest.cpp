// VoLinuxProcessTest.cpp - finding programs, running them with pipes and time limits, our own path.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>

#include "Support/VoScopedEnv.h"
#include "Support/VoZombieChildren.h"
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <algorithm>
#include <string>

#include "Linux/VoLinuxClipboardPrivate.h"
#include "Linux/VoLinuxProcessPrivate.h"
#include "Linux/VoLinuxSys.h"

namespace {

/// A private folder, removed with its files afterwards.
class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/vo-process-test-XXXXXX";
    const char* made = mkdtemp(pattern);
    path_ = made ? made : "";
  }
  ~TempDir() {
    if (!path_.empty()) VoLinuxRun({"rm", "-rf", path_}, nullptr, nullptr, 5000);
  }
  const std::string& path() const { return path_; }
  std::string File(const std::string& name, const std::string& text, mode_t mode) const {
    const std::string p = path_ + "/" + name;
    std::ofstream(p, std::ios::binary) << text;
    chmod(p.c_str(), mode);
    return p;
  }

 private:
  std::string path_;
};

using vo_test::ScopedEnv;
using vo_test::ZombieChildren;

double Seconds() {
  struct timespec t {};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + t.tv_nsec / 1e9;
}

TEST(VoLinuxProcess, FindsProgramsOnThePath) {
  const std::string sh = VoLinuxFindProgram("sh");
  ASSERT_FALSE(sh.empty());
  EXPECT_EQ(sh[0], '/');
  EXPECT_EQ(sh.substr(sh.size() - 3), "/sh");
  EXPECT_EQ(VoLinuxFindProgram("vo-no-such-program-here"), "");
  EXPECT_EQ(VoLinuxFindProgram(""), "");

  TempDir dir;
  const std::string tool = dir.File("vo-tool", "#!/bin/sh\n", 0755);
  dir.File("vo-plain", "not executable", 0644);
  {
    ScopedEnv path("PATH", "/nonexistent:" + dir.path());
    EXPECT_EQ(VoLinuxFindProgram("vo-tool"), tool);
    EXPECT_EQ(VoLinuxFindProgram("vo-plain"), "");
  }
  // A name with '/' is taken as it is.
  EXPECT_EQ(VoLinuxFindProgram(tool), tool);
  EXPECT_EQ(VoLinuxFindProgram(dir.path() + "/vo-plain"), "");
  EXPECT_EQ(VoLinuxFindProgram(dir.path()), "");  // a folder is no program
  // An empty PATH entry is the current folder; the result is still absolute.
  char cwd[PATH_MAX];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(chdir(dir.path().c_str()), 0);
  {
    ScopedEnv path("PATH", "/nonexistent::/also-not");
    EXPECT_EQ(VoLinuxFindProgram("vo-tool"), dir.path() + "/./vo-tool");
  }
  ASSERT_EQ(chdir(cwd), 0);
}

TEST(VoLinuxProcess, PassesEveryByteThroughInputAndOutput) {
  std::string input;
  for (int i = 0; i < 3 * 1024 * 1024; ++i) input.push_back(static_cast<char>((i * 7 + i / 256) & 0xFF));
  std::string output;
  const VoLinuxRunResult r = VoLinuxRun({"cat"}, &input, &output, 5000);
  EXPECT_TRUE(r.started);
  EXPECT_FALSE(r.timedOut);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_TRUE(output == input) << "sizes " << output.size() << " / " << input.size();
}

TEST(VoLinuxProcess, ReportsExitCodesAndArgumentsArriveWhole) {
  std::string out;
  VoLinuxRunResult r = VoLinuxRun({"sh", "-c", "exit 3"}, nullptr, &out, 5000);
  EXPECT_TRUE(r.started);
  EXPECT_EQ(r.exitCode, 3);
  // Arguments are never split or expanded.
  const std::string tricky = "a b 'c' \"d\" $(echo no) `echo no` ; | * \\ $HOME";
  out.clear();
  r = VoLinuxRun({"printf", "%s|", tricky, "x"}, nullptr, &out, 5000);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(out, tricky + "|x|");
  // Standard input is /dev/null when no input is given.
  out.clear();
  r = VoLinuxRun({"wc", "-c"}, nullptr, &out, 5000);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(std::stoi(out), 0);
  // Nothing inherits our standard error: what the program writes there is lost.
  out.clear();
  r = VoLinuxRun({"sh", "-c", "echo oops >&2; echo fine"}, nullptr, &out, 5000);
  EXPECT_EQ(out, "fine\n");
}

void ReapEveryChild(int) {
  while (waitpid(-1, nullptr, WNOHANG) > 0) {
  }
}

// A host that ignores SIGCHLD, or reaps every child in its handler, neither
// loses a tool's exit status nor turns a failed tool into a success.
TEST(VoLinuxProcess, ExitCodesSurviveHostsThatReapTheirChildren) {
  TempDir dir;
  dir.File("xclip", "#!/bin/sh\nexit 1\n", 0755);  // a clipboard tool that fails
  ScopedEnv path("PATH", dir.path() + ":" + getenv("PATH"));
  ScopedEnv display("DISPLAY", ":9999");
  ScopedEnv wayland("WAYLAND_DISPLAY", nullptr);
  for (auto handler : {SIG_IGN, &ReapEveryChild}) {
    struct sigaction host {
    }, old{};
    host.sa_handler = handler;
    ASSERT_EQ(sigaction(SIGCHLD, &host, &old), 0);
    std::string out;
    const VoLinuxRunResult read = VoLinuxRun({"printf", "still read"}, nullptr, &out, 5000);
    const VoLinuxRunResult failed = VoLinuxRun({"sh", "-c", "sleep 0.05; exit 3"}, nullptr, nullptr, 5000);
    const bool put = VoLinuxClipboardPut("text");
    sigaction(SIGCHLD, &old, nullptr);
    EXPECT_TRUE(read.started && !read.timedOut);
    EXPECT_EQ(read.exitCode, 0);
    EXPECT_EQ(out, "still read");
    EXPECT_EQ(failed.exitCode, 3);
    EXPECT_FALSE(put) << "a failed tool is no success";
  }
}

pid_t gTester = getpid();
int gFailAt = 0, gMade = 0, gSignalled = 0;

// Without close_range (before Linux 5.9) input still ends, output beyond a
// pipe's size still comes and our descriptors stay out of the program.
TEST(VoLinuxProcess, RunsWithoutCloseRangeOrDescriptorsOrTheirStatus) {
  gVoSys.close_range = [](unsigned, unsigned, int) { return errno = ENOSYS, -1; };
  const int ours = fcntl(0, F_DUPFD, 40);
  const std::string input(200000, 'z'), test = "test -e /proc/self/fd/" + std::to_string(ours);
  for (auto handler : {SIG_DFL, SIG_IGN}) {
    std::string out;
    const auto old = signal(SIGCHLD, handler);
    const VoLinuxRunResult r = VoLinuxRun({"cat"}, &input, &out, 3000);
    const int seen = VoLinuxRun({"sh", "-c", test}, nullptr, nullptr, 3000).exitCode;
    signal(SIGCHLD, old);
    EXPECT_TRUE(r.exitCode == 0 && out == input && seen == 1) << r.exitCode << " " << seen;
  }
  close(ours);
  // A program without its descriptors (none left) is not started; one reaped
  // by somebody else before it is followed is no success and is not killed.
  static const auto fails = [] { return getpid() != gTester && ++gMade == gFailAt; };
  gVoSys.fcntl = [](int fd, int command, int argument) {
    return command == F_DUPFD_CLOEXEC && fails() ? (errno = EMFILE, -1)
                                                 : kVoSysDefault.fcntl(fd, command, argument);
  };
  gVoSys.open = [](const char* path, int flags, mode_t mode) {
    return fails() ? (errno = EMFILE, -1) : kVoSysDefault.open(path, flags, mode);
  };
  const auto old = signal(SIGCHLD, SIG_IGN);    // started by a keeper: its children call through the table
  for (gFailAt = 1; gFailAt <= 7; ++gFailAt) {  // the report, input, output, error moved or opened
    const VoLinuxRunResult r = VoLinuxRun({"true"}, nullptr, nullptr, 3000);
    EXPECT_TRUE(!r.started && r.exitCode == -1) << gFailAt;
  }
  signal(SIGCHLD, old);
  gVoSys.pidfd_open = [](pid_t pid, unsigned) {
    return kVoSysDefault.waitpid(pid, nullptr, 0), errno = ESRCH, -1;
  };
  gVoSys.kill = [](pid_t pid, int signal) { return ++gSignalled, kVoSysDefault.kill(pid, signal); };
  EXPECT_EQ(VoLinuxRun({"true"}, nullptr, nullptr, 3000).exitCode, -1);
  EXPECT_EQ(gSignalled, 0);
  gVoSys = kVoSysDefault;
}

TEST(VoLinuxProcess, MissingProgramIsNotStarted) {
  std::string out;
  const VoLinuxRunResult r = VoLinuxRun({"vo-no-such-program-here"}, nullptr, &out, 1000);
  EXPECT_FALSE(r.started);
  EXPECT_FALSE(VoLinuxRun({}, nullptr, nullptr, 1000).started);
}

TEST(VoLinuxProcess, AProgramThatStopsReadingRaisesNoSigpipe) {
  const std::string input(8 * 1024 * 1024, 'x');
  const VoLinuxRunResult r = VoLinuxRun({"true"}, &input, nullptr, 5000);
  EXPECT_TRUE(r.started);
  EXPECT_EQ(r.exitCode, 0);
  std::string out;
  const VoLinuxRunResult h = VoLinuxRun({"head", "-c", "10"}, &input, &out, 5000);
  EXPECT_EQ(h.exitCode, 0);
  EXPECT_EQ(out, "xxxxxxxxxx");
}

TEST(VoLinuxProcess, AProgramMakingNoProgressIsKilledAndReaped) {
  const double t0 = Seconds();
  std::string out;
  const VoLinuxRunResult r = VoLinuxRun({"sleep", "30"}, nullptr, &out, 200);
  EXPECT_TRUE(r.started);
  EXPECT_TRUE(r.timedOut);
  EXPECT_EQ(r.exitCode, -1);
  EXPECT_LT(Seconds() - t0, 5.0);
  // With an input it never reads, too.
  const std::string input(16 * 1024 * 1024, 'y');
  const VoLinuxRunResult s = VoLinuxRun({"sleep", "30"}, &input, nullptr, 200);
  EXPECT_TRUE(s.timedOut);
  EXPECT_EQ(ZombieChildren(), 0);
}

// A tool that ends while a child it left holds its output is done with at
// once; one that writes for ever or never ends is stopped by the limits.
TEST(VoLinuxProcess, RunsAreBoundedByTheToolsEndAndTheLimits) {
  TempDir dir;
  const std::string pidFile = dir.path() + "/child";
  dir.File("vo-forks", "#!/bin/sh\nprintf served\nsleep 30 &\necho $! > " + pidFile + "\n", 0755);
  dir.File("vo-trickles", "#!/bin/sh\nwhile :; do echo x; sleep 0.05; done\n", 0755);
  ScopedEnv path("PATH", dir.path() + ":" + getenv("PATH"));
  const struct {
    const char* tool;
    VoLinuxRunLimits limits;
    bool timedOut, tooMuch;
    const char* output;   // null: any
    size_t handedIn = 0;  // bytes already in the output string
  } cases[] = {
      {"vo-forks", {}, false, false, "served"},
      {"yes", {10000, 1u << 20}, false, true, nullptr},
      {"vo-trickles", {300, 1u << 20}, true, false, nullptr},
      {"yes", {10000, 16}, false, true, nullptr, 32},  // more than the limit handed in
  };
  for (const auto& c : cases) {
    const double t0 = Seconds();
    std::string out(c.handedIn, 'h');
    const VoLinuxRunResult r = VoLinuxRun({c.tool}, nullptr, &out, 5000, c.limits);
    EXPECT_LT(Seconds() - t0, 2.0) << c.tool;
    EXPECT_EQ(r.timedOut, c.timedOut) << c.tool;
    EXPECT_EQ(r.tooMuchOutput, c.tooMuch) << c.tool;
    EXPECT_EQ(r.exitCode, c.output ? 0 : -1) << c.tool;
    EXPECT_LE(out.size(), std::max(c.limits.maxOutput, c.handedIn)) << c.tool;
    EXPECT_EQ(out, c.output ? c.output : out) << c.tool;
    EXPECT_EQ(ZombieChildren(), 0) << c.tool;
  }
  std::ifstream child(pidFile);
  pid_t sleeper = 0;
  if (child >> sleeper && sleeper > 0) kill(sleeper, SIGKILL);
}

TEST(VoLinuxProcess, DetachedLaunchOfAMissingProgramFails) {
  // Arguments and zombies of real launches: see the VoSystem launch tests.
  EXPECT_FALSE(VoLinuxLaunchDetached({"vo-no-such-program-here"}));
  EXPECT_FALSE(VoLinuxLaunchDetached({}));
  // Found but not runnable: the exec error comes back from the child.
  TempDir dir;
  EXPECT_FALSE(VoLinuxLaunchDetached({dir.File("vo-text", "no program\n", 0755)}));
  EXPECT_FALSE(VoLinuxLaunchDetached({"true", std::string(200000, 'x')}));  // E2BIG
  EXPECT_EQ(ZombieChildren(), 0);
}

pid_t gLauncher = 0;
int* gHandlerRunsElsewhere = nullptr;  // shared with the children

void CountForeignRun(int) {
  if (getpid() != gLauncher) ++*gHandlerRunsElsewhere;
}

// Under a storm of signals, no handler of the caller runs in a launched
// program's processes between their fork and exec.
TEST(VoLinuxProcess, DetachedLaunchRunsNoHandlerOfTheCallerInItsChildren) {
  void* shared = mmap(nullptr, sizeof(int), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(shared, MAP_FAILED);
  gHandlerRunsElsewhere = static_cast<int*>(shared);
  const pid_t launcher = fork();  // in a process group of its own, which the storm fills
  if (launcher == 0) {
    setpgid(0, 0);
    gLauncher = getpid();
    struct sigaction count {};
    count.sa_handler = CountForeignRun;
    count.sa_flags = SA_RESTART;
    sigaction(SIGUSR1, &count, nullptr);
    const pid_t storm = fork();
    if (storm == 0) {
      signal(SIGUSR1, SIG_IGN);
      for (;;) kill(0, SIGUSR1);
    }
    for (int i = 0; i < 50; ++i) VoLinuxLaunchDetached({"true"});
    kill(storm, SIGKILL);
    waitpid(storm, nullptr, 0);
    _exit(0);
  }
  int status = -1;
  ASSERT_EQ(waitpid(launcher, &status, 0), launcher);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(*gHandlerRunsElsewhere, 0);
  munmap(shared, sizeof(int));
}

TEST(VoLinuxProcess, DetachedLaunchKeepsStandardErrorWhenInputAndOutputAreClosed) {
  TempDir dir;
  const std::string log = dir.File("err", "", 0600);
  const int saved[3] = {dup(0), dup(1), dup(2)};
  for (int fd : {0, 1}) close(fd);
  dup2(open(log.c_str(), O_WRONLY), 2);  // opened as 0, then closed again
  close(0);
  const bool launched = VoLinuxLaunchDetached({"sh", "-c", "echo alive >&2"});
  for (int fd = 0; fd < 3; ++fd) dup2(saved[fd], fd), close(saved[fd]);
  EXPECT_TRUE(launched);
  std::string text;
  for (int i = 0; i < 300 && text.empty(); ++i) usleep(10000), std::getline(std::ifstream(log), text);
  EXPECT_EQ(text, "alive");
}

TEST(VoLinuxProcess, ExecutablePathIsThisProgram) {
  const std::string path = VoLinuxExecutablePath();
  ASSERT_FALSE(path.empty());
  EXPECT_EQ(path[0], '/');
  char resolved[PATH_MAX];
  ASSERT_NE(realpath("/proc/self/exe", resolved), nullptr);
  EXPECT_EQ(path, resolved);
  EXPECT_EQ(path.substr(path.rfind('/') + 1), "LinuxTests");
}

}  // namespace
