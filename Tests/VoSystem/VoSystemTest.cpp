// Tests of VoSystem: clock, keyboard and clipboard on a private X server, launching, file chores.
#include "VoSystem/VoSystem.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>

#include "Support/VoScopedEnv.h"
#include <limits.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <algorithm>
#include <random>
#include <regex.h>
#include <sstream>
#include <string>
#include <vector>

#include "Linux/VoLinuxProcessPrivate.h"
#include "Linux/VoLinuxX11Private.h"
#include "VoCore/VoDebug.h"
#include "VoCore/VoError.h"
#include "VoIO/VoFileSpec.h"
#include "VoIO/VoStream.h"

extern char** environ;

namespace {

// ====================================================================== helpers

double Seconds() {
  struct timespec t {};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + t.tv_nsec / 1e9;
}

/// Polls \p condition for up to \p seconds; true once it held.
bool Eventually(const std::function<bool()>& condition, double seconds = 3.0) {
  const double end = Seconds() + seconds;
  for (;;) {
    if (condition()) return true;
    if (Seconds() > end) return false;
    usleep(5000);
  }
}

using vo_test::ScopedEnv;

/// A private folder, removed with everything in it afterwards.
class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/vo-system-test-XXXXXX";
    const char* made = mkdtemp(pattern);
    path_ = made ? made : "";
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  ~TempDir() {
    if (!path_.empty()) {
      VoLinuxRun({"chmod", "-R", "u+rwx", path_}, nullptr, nullptr, 5000);
      VoLinuxRun({"rm", "-rf", path_}, nullptr, nullptr, 5000);
    }
  }
  const std::string& path() const { return path_; }
  std::string Path(const std::string& name) const { return path_ + "/" + name; }
  std::string Write(const std::string& name, const std::string& bytes) const {
    const std::string p = Path(name);
    std::ofstream(p, std::ios::binary) << bytes;
    return p;
  }

 private:
  std::string path_;
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

bool Exists(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0;
}

VoFileSpec Spec(const std::string& path) {
  return VoFileSpec(VoString(path.data(), static_cast<long>(path.size()), false));
}

std::string Bytes(const VoString& s) { return std::string(s.c_str(), static_cast<size_t>(s.length())); }

VoString Vo(const std::string& s) { return VoString(s.data(), static_cast<long>(s.size()), false); }

/// Runs \p body and returns the VoError it throws (code 0 when none).
VoError Caught(const std::function<void()>& body) {
  try {
    body();
  } catch (const VoError& e) {
    return e;
  }
  return VoError();
}

/// The children of this process that are zombies.
int ZombieChildren() {
  int zombies = 0;
  DIR* proc = opendir("/proc");
  if (!proc) return 0;
  const long self = getpid();
  while (dirent* e = readdir(proc)) {
    if (e->d_name[0] < '0' || e->d_name[0] > '9') continue;
    std::ifstream stat(std::string("/proc/") + e->d_name + "/stat");
    std::string line;
    std::getline(stat, line);
    const auto close = line.rfind(')');
    if (close == std::string::npos) continue;
    char state = 0;
    long ppid = 0;
    if (std::sscanf(line.c_str() + close + 1, " %c %ld", &state, &ppid) == 2 && ppid == self && state == 'Z')
      ++zombies;
  }
  closedir(proc);
  return zombies;
}

/// The threads of this process (the entries of /proc/self/task). This test
/// program starts none, so the library's calls must leave exactly one.
int Threads() {
  int threads = 0;
  DIR* task = opendir("/proc/self/task");
  if (!task) return -1;
  while (dirent* e = readdir(task)) threads += e->d_name[0] != '.';
  closedir(task);
  return threads;
}

/// Process ids of the programs named \p name whose environment holds \p entry.
std::vector<long> ProcessesWith(const std::string& name, const std::string& entry) {
  std::vector<long> found;
  DIR* proc = opendir("/proc");
  if (!proc) return found;
  while (dirent* e = readdir(proc)) {
    if (e->d_name[0] < '0' || e->d_name[0] > '9') continue;
    const std::string dir = std::string("/proc/") + e->d_name;
    std::string comm;
    std::getline(std::ifstream(dir + "/comm"), comm);
    if (comm != name) continue;
    const std::string env = ReadFile(dir + "/environ");
    if (("\0" + env).find(std::string(1, '\0') + entry + std::string(1, '\0')) != std::string::npos ||
        env.find(entry) == 0)
      found.push_back(std::atol(e->d_name));
  }
  closedir(proc);
  return found;
}

/// A long-running helper started by the test, with its standard output in a
/// pipe; stopped by its process id.
class Child {
 public:
  Child() = default;
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  ~Child() { Stop(); }

  bool Start(const std::vector<std::string>& argv, const std::vector<int>& keepOpen = {}) {
    int p[2];
    if (pipe2(p, O_CLOEXEC) != 0) return false;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&fa, p[1], 1);
    posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
    for (int fd : keepOpen) posix_spawn_file_actions_adddup2(&fa, fd, fd);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const int rc = posix_spawnp(&pid_, args[0], &fa, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    close(p[1]);
    if (rc != 0) {
      close(p[0]);
      pid_ = -1;
      return false;
    }
    out_ = p[0];
    return true;
  }

  /// Reads what the child wrote until \p done says so or \p seconds pass.
  bool ReadUntil(const std::function<bool(const std::string&)>& done, double seconds) {
    const double end = Seconds() + seconds;
    while (!done(text_)) {
      const double left = end - Seconds();
      if (left <= 0 || out_ < 0) return false;
      struct pollfd fd = {out_, POLLIN, 0};
      if (poll(&fd, 1, static_cast<int>(left * 1000) + 1) <= 0) continue;
      char buf[4096];
      const ssize_t n = read(out_, buf, sizeof buf);
      if (n <= 0) {
        close(out_);
        out_ = -1;
        return done(text_);
      }
      text_.append(buf, static_cast<size_t>(n));
    }
    return true;
  }

  const std::string& text() const { return text_; }
  pid_t pid() const { return pid_; }

  void Stop() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      int status = 0;
      // Give it a second, then insist.
      for (int i = 0; i < 100 && waitpid(pid_, &status, WNOHANG) == 0; ++i) usleep(10000);
      if (waitpid(pid_, &status, WNOHANG) == 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
      }
      pid_ = -1;
    }
    if (out_ >= 0) close(out_);
    out_ = -1;
  }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  std::string text_;
};

/// A stream that keeps what the debug log writes.
class CaptureStream : public VoStreamImplemented {
 public:
  void Write(const void* buffer, unsigned long size, unsigned long* count) override {
    text.append(static_cast<const char*>(buffer), size);
    if (count) *count = size;
  }
  std::string text;
};

/// Routes the debug log into a CaptureStream at \p level for one scope.
class DebugCapture {
 public:
  explicit DebugCapture(int level) : oldStream_(VoGetDebugOutputImpl()), oldLevel_(VoGetDebugLevelImpl()) {
    VoSetDebugOutputImpl(&stream_);
    VoSetDebugLevelImpl(level);
  }
  DebugCapture(const DebugCapture&) = delete;
  DebugCapture& operator=(const DebugCapture&) = delete;
  ~DebugCapture() {
    VoSetDebugOutputImpl(oldStream_);
    VoSetDebugLevelImpl(oldLevel_);
  }
  const std::string& text() const { return stream_.text; }

 private:
  CaptureStream stream_;
  VoStream* oldStream_;
  int oldLevel_;
};

// ====================================================================== clock

TEST(VoSystemClock, TickCountMovesInTicksWithTheMonotonicClock) {
  // Values are whole ticks: steps of 16 or 17 ms.
  unsigned long last = VoSystem::TickCount();
  int steps = 0;
  const double end = Seconds() + 0.2;
  while (Seconds() < end) {
    const unsigned long now = VoSystem::TickCount();
    if (now != last) {
      // k ticks are floor or ceil of k * 50 / 3 milliseconds.
      const long step = static_cast<long>(static_cast<uint32_t>(now - last));
      const long k = (step * 3 + 25) / 50;
      EXPECT_GE(k, 1) << step;
      EXPECT_LT(std::labs(step * 3 - 50 * k), 3) << step;
      ++steps;
      last = now;
    }
  }
  EXPECT_GE(steps, 3);  // 12 ticks passed; a busy machine may let us see only some
  EXPECT_LE(VoSystem::TickCount(), 0xFFFFFFFFul);

  // Against steady_clock over a Delay.
  const unsigned long t0 = VoSystem::TickCount();
  const auto c0 = std::chrono::steady_clock::now();
  VoSystem::Delay(300);
  const unsigned long t1 = VoSystem::TickCount();
  const double real =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - c0).count();
  EXPECT_NEAR(static_cast<double>(static_cast<uint32_t>(t1 - t0)), real, 50.0);
}

TEST(VoSystemClock, CpuTimeAndTimeMarksAreTheTickCount) {
  for (int i = 0; i < 3; ++i) {
    const unsigned long a = VoSystem::TickCount();
    const unsigned long b = VoSystem::CPUTime();
    const unsigned long c = VoSystem::StartTimeMeasurement();
    const unsigned long d = VoSystem::TickCount();
    EXPECT_LE(a, b);
    EXPECT_LE(b, c);
    EXPECT_LE(c, d);
    EXPECT_LE(d - a, 34u);
  }
}

TEST(VoSystemClock, DelayOfNothingReturnsZeroAtOnce) {
  for (long ms : {0L, -5L, -1000000L, LONG_MIN}) {
    const double t0 = Seconds();
    EXPECT_EQ(VoSystem::Delay(ms), 0u) << ms;
    EXPECT_LT(Seconds() - t0, 0.05) << ms;
  }
}

TEST(VoSystemClock, DelayWaitsWholeTicksAndReturnsTheTickCount) {
  const struct {
    long ms;
    int ticks;
  } cases[] = {{1, 1}, {16, 1}, {17, 2}, {50, 3}, {100, 6}};
  for (const auto& c : cases) {
    // Start right after a tick begins, so that the ticks counted are whole.
    const unsigned long base = VoSystem::TickCount();
    while (VoSystem::TickCount() == base) {
    }
    const unsigned long before = VoSystem::TickCount();
    const unsigned long returned = VoSystem::Delay(c.ms);
    const unsigned long after = VoSystem::TickCount();
    const uint32_t waited = static_cast<uint32_t>(returned - before);
    // n ticks are 16.67 * n ms, shown in whole milliseconds.
    EXPECT_GE(waited, static_cast<uint32_t>(c.ticks * 1000 / 60)) << c.ms;
    // Generous above: a busy machine may wake the waiter late.
    EXPECT_LE(waited, static_cast<uint32_t>((c.ticks + 30) * 1000 / 60 + 1)) << c.ms;
    EXPECT_LE(static_cast<uint32_t>(after - returned), 500u);
  }
}

/// True when all of \p text matches the extended regular expression \p pattern.
bool FullMatch(const std::string& text, const char* pattern) {
  regex_t re;
  const std::string anchored = std::string("^(") + pattern + ")$";
  if (regcomp(&re, anchored.c_str(), REG_EXTENDED | REG_NOSUB) != 0) return false;
  const bool match = regexec(&re, text.c_str(), 0, nullptr, 0) == 0;
  regfree(&re);
  return match;
}

TEST(VoSystemClock, EndTimeMeasurementWritesItsLineAtLevelOne) {
  {
    DebugCapture log(1);
    const unsigned long now = VoSystem::TickCount();
    VoSystem::EndTimeMeasurement(static_cast<long>(now) - 1500, Vo("copy job"));
    EXPECT_TRUE(FullMatch(log.text(), ("'copy job' duration:  1\\.5[0-4][0-9]s\n"))) << log.text();
  }
  {
    // Only the low 32 bits of the mark count: a mark made before the counter
    // wrapped still gives the right time.
    DebugCapture log(1);
    const long mark = static_cast<long>(VoSystem::TickCount()) - 2000 + 0x100000000L;
    VoSystem::EndTimeMeasurement(mark, Vo("wrapped"));
    EXPECT_TRUE(FullMatch(log.text(), ("'wrapped' duration:  2\\.0[0-4][0-9]s\n"))) << log.text();
  }
  {
    // A mark in the future gives a negative time (signed difference).
    DebugCapture log(1);
    VoSystem::EndTimeMeasurement(static_cast<long>(VoSystem::TickCount()) + 60000, Vo("x"));
    EXPECT_TRUE(FullMatch(log.text(), ("'x' duration: -59\\.9[5-9][0-9]s\n|'x' duration: -60\\.000s\n")))
        << log.text();
  }
  {
    DebugCapture log(0);
    VoSystem::EndTimeMeasurement(static_cast<long>(VoSystem::TickCount()), Vo("quiet"));
    EXPECT_EQ(log.text(), "");
  }
}

// ====================================================================== user interface

TEST(VoSystemInterface, ShowMenuBarReportsWhetherTheModeWasNormal) {
  const struct {
    bool show;
    bool wasNormal;
  } steps[] = {{true, true}, {false, true}, {false, false}, {true, false}, {true, true}};
  for (const auto& s : steps) EXPECT_EQ(VoSystem::ShowMenuBar(s.show), s.wasNormal);
}

TEST(VoSystemInterface, WithoutDisplayNoKeyIsHeldAndNothingFails) {
  ScopedEnv display("DISPLAY", nullptr);
  ScopedEnv wayland("WAYLAND_DISPLAY", nullptr);
  ScopedEnv bus("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/vo-test-bus");
  EXPECT_EQ(VoSystem::GetNativeKey(), -1);
  EXPECT_TRUE(VoSystem::TestKey(0, 0));
  EXPECT_FALSE(VoSystem::TestKey(0, 47));
  EXPECT_FALSE(VoSystem::TestKey(2, 0));
  EXPECT_FALSE(VoSystem::KeyBreak());
  EXPECT_FALSE(VoSystem::ClipboardHasData());
  EXPECT_EQ(VoSystem::CopyFromClipboard().length(), 0);
  VoSystem::CopyToClipboard(Vo("nowhere to go"));
  EXPECT_EQ(VoSystem::CopyFromClipboard().length(), 0);
  const double t0 = Seconds();
  VoSystem::SystemActive(true);
  VoSystem::SystemActive(false);
  VoSystem::Beep(0);
  EXPECT_LT(Seconds() - t0, 0.5);
  const int listener = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  sockaddr_in at{};
  socklen_t size = sizeof at;
  ASSERT_TRUE(listen(listener, 4) == 0 &&
              getsockname(listener, reinterpret_cast<sockaddr*>(&at), &size) == 0);
  ScopedEnv tcp("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/vo-test-bus;tcp:host=127.0.0.1,port=" +
                                                std::to_string(ntohs(at.sin_port)));
  VoSystem::SystemActive(true);
  EXPECT_LT(accept(listener, nullptr, nullptr), 0) << "a tcp: bus was connected to";
  close(listener);
}

TEST(VoSystemInterface, TripleBeepPausesFortyTicksAfterEachBeep) {
  ScopedEnv display("DISPLAY", nullptr);
  double t0 = Seconds();
  VoSystem::Beep(7);  // one beep, no pause
  EXPECT_LT(Seconds() - t0, 0.1);
  t0 = Seconds();
  VoSystem::Beep(1);
  const double took = Seconds() - t0;
  EXPECT_GE(took, 3 * 39 / 60.0);
  EXPECT_LT(took, 3 * 41 / 60.0 + 1.0);
}

TEST(VoSystemInterface, SystemActiveCallsTheScreenSaverOnTheSessionBus) {
  if (VoLinuxFindProgram("dbus-daemon").empty() || VoLinuxFindProgram("dbus-monitor").empty())
    GTEST_SKIP() << "dbus-daemon or dbus-monitor is not installed";
  TempDir dir;
  const std::string config =
      dir.Write("bus.conf",
                "<busconfig><type>session</type><listen>unix:dir=" + dir.path() +
                    "</listen><auth>EXTERNAL</auth><policy context=\"default\"><allow send_destination=\"*\" "
                    "eavesdrop=\"true\"/><allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>");
  Child bus;
  ASSERT_TRUE(
      bus.Start({"dbus-daemon", "--config-file=" + config, "--nofork", "--nopidfile", "--print-address=1"}));
  ASSERT_TRUE(bus.ReadUntil([](const std::string& t) { return t.find('\n') != std::string::npos; }, 5.0))
      << "the private bus did not start";
  const std::string address = bus.text().substr(0, bus.text().find('\n'));
  Child monitor;
  ASSERT_TRUE(monitor.Start({"dbus-monitor", "--address", address}));
  // The monitor reports its own name first; from then on it sees every call.
  ASSERT_TRUE(monitor.ReadUntil(
      [](const std::string& t) {
        return t.find("NameLost") != std::string::npos || t.find("NameAcquired") != std::string::npos;
      },
      5.0))
      << monitor.text();
  ScopedEnv env("DBUS_SESSION_BUS_ADDRESS", address.c_str());
  ScopedEnv display("DISPLAY", nullptr);
  const double t0 = Seconds();
  VoSystem::SystemActive(false);
  VoSystem::SystemActive(true);
  EXPECT_LT(Seconds() - t0, 1.0);
  EXPECT_TRUE(monitor.ReadUntil(
      [](const std::string& t) { return t.find("member=SimulateUserActivity") != std::string::npos; }, 3.0))
      << monitor.text();
  EXPECT_NE(monitor.text().find("interface=org.freedesktop.ScreenSaver"), std::string::npos);
  EXPECT_NE(monitor.text().find("path=/org/freedesktop/ScreenSaver"), std::string::npos);
  // Exactly one call: false does nothing.
  const std::string& t = monitor.text();
  const auto first = t.find("member=SimulateUserActivity");
  EXPECT_EQ(t.find("member=SimulateUserActivity", first + 1), std::string::npos);
  // All of it, and the other chores, on this thread alone.
  VoSystem::Beep(0);
  VoSystem::Delay(1);
  VoSystem::CopyFile(VoFileSpec(VoString(config.c_str())), VoFileSpec(VoString((config + ".copy").c_str())));
  EXPECT_TRUE(VoSystem::FileExists(VoFileSpec(VoString((config + ".copy").c_str()))));
  EXPECT_EQ(Threads(), 1);
  monitor.Stop();
  bus.Stop();
}

// ====================================================================== X11: keyboard and clipboard

/// Starts Xvfb on display :\p n when that number is free; true once the
/// server accepts clients (it says so through -displayfd).
bool StartXvfb(int n, Child& server) {
  if (Exists("/tmp/.X" + std::to_string(n) + "-lock") || Exists("/tmp/.X11-unix/X" + std::to_string(n)))
    return false;
  int ready[2];
  if (pipe(ready) != 0) return false;
  const bool started = server.Start({"Xvfb", ":" + std::to_string(n), "-noreset", "-nolisten", "tcp",
                                     "-screen", "0", "320x240x24", "-displayfd", std::to_string(ready[1])},
                                    {ready[1]});
  close(ready[1]);
  std::string got;
  if (started) {
    struct pollfd fd = {ready[0], POLLIN, 0};
    const double end = Seconds() + 10;
    while (got.find('\n') == std::string::npos && Seconds() < end) {
      if (poll(&fd, 1, 100) <= 0) continue;
      char buf[16];
      const ssize_t r = read(ready[0], buf, sizeof buf);
      if (r <= 0) break;
      got.append(buf, static_cast<size_t>(r));
    }
  }
  close(ready[0]);
  if (got.find('\n') == std::string::npos) {
    server.Stop();
    return false;
  }
  return true;
}

/// A private X server (Xvfb) on a free display :91 to :99 for the suite.
class VoSystemX11 : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (VoLinuxFindProgram("Xvfb").empty()) {
      skipReason_ = "Xvfb is not installed";
      return;
    }
    for (int n = 91; n <= 99 && display_ < 0; ++n) {
      server_ = new Child();
      if (StartXvfb(n, *server_)) {
        display_ = n;
      } else {
        delete server_;
        server_ = nullptr;
      }
    }
    if (display_ < 0) skipReason_ = "no private X server could be started on :91 to :99";
  }

  static void TearDownTestSuite() {
    if (server_) {
      delete server_;  // stops the server by its process id
      server_ = nullptr;
      // The clipboard tools serving our selections end with the server.
      const std::string entry = "DISPLAY=:" + std::to_string(display_);
      EXPECT_TRUE(Eventually([&] { return ProcessesWith("xclip", entry).empty(); }, 5.0))
          << "xclip processes left behind";
    }
    display_ = -1;
  }

  void SetUp() override {
    if (display_ < 0) GTEST_SKIP() << skipReason_;
    const std::string name = ":" + std::to_string(display_);
    display_env_ = std::make_unique<ScopedEnv>("DISPLAY", name.c_str());
    wayland_env_ = std::make_unique<ScopedEnv>("WAYLAND_DISPLAY", nullptr);
  }

  void TearDown() override {
    display_env_.reset();
    wayland_env_.reset();
  }

  /// Presses or releases keys with xdotool. Keys are given by the X key code
  /// whose first symbol they are (from xmodmap), so that xdotool presses that
  /// key alone: by name it would also press the modifiers it thinks needed
  /// (the left Shift with the right one, for example).
  static bool Xdo(const std::string& action, const std::vector<std::string>& keys) {
    std::vector<std::string> argv = {"xdotool", action, "--delay", "0"};
    for (const std::string& k : keys) argv.push_back(KeyArgument(k));
    const VoLinuxRunResult r = VoLinuxRun(argv, nullptr, nullptr, 5000);
    return r.started && r.exitCode == 0;
  }

  /// Puts \p bytes as the clipboard text with xclip, as another program would.
  static void XclipPut(const std::string& bytes, const char* target = "UTF8_STRING") {
    unsigned long before = 0;
    VoLinuxX11ClipboardOwner(&before);
    const VoLinuxRunResult r =
        VoLinuxRun({"xclip", "-selection", "clipboard", "-in", "-target", target}, &bytes, nullptr, 5000);
    ASSERT_EQ(r.exitCode, 0);
    ASSERT_TRUE(Eventually([&] {
      unsigned long owner = 0;
      return VoLinuxX11ClipboardOwner(&owner) && owner != 0 && owner != before;
    }));
  }

  static std::string KeyArgument(const std::string& keysym) {
    static std::map<std::string, int> codes;
    static int forDisplay = -1;
    if (forDisplay != display_) {
      codes.clear();
      forDisplay = display_;
      std::string table;
      VoLinuxRun({"xmodmap", "-pke"}, nullptr, &table, 5000);
      std::istringstream lines(table);
      std::string line;
      while (std::getline(lines, line)) {
        // "keycode  62 = Shift_R NoSymbol Shift_R"
        std::istringstream words(line);
        std::string keycode, equals, first;
        int code = 0;
        if (words >> keycode >> code >> equals >> first && keycode == "keycode" && !codes.count(first))
          codes[first] = code;
      }
    }
    const auto it = codes.find(keysym);
    // xdotool reads one digit as a key symbol, longer numbers as key codes.
    if (it == codes.end() || it->second < 10) return keysym;
    return std::to_string(it->second);
  }

  static std::string XclipGet() {
    std::string out;
    VoLinuxRun({"xclip", "-selection", "clipboard", "-out"}, nullptr, &out, 5000);
    return out;
  }

  static bool HaveXdotool() { return !VoLinuxFindProgram("xdotool").empty(); }
  static bool HaveXclip() { return !VoLinuxFindProgram("xclip").empty(); }

  static int display_;
  static Child* server_;
  static std::string skipReason_;
  std::unique_ptr<ScopedEnv> display_env_;
  std::unique_ptr<ScopedEnv> wayland_env_;
};

int VoSystemX11::display_ = -1;
Child* VoSystemX11::server_ = nullptr;
std::string VoSystemX11::skipReason_;

TEST_F(VoSystemX11, NoKeyHeldOnAFreshServer) {
  EXPECT_EQ(VoSystem::GetNativeKey(), -1);
  EXPECT_TRUE(VoSystem::TestKey(0, 0));
  EXPECT_FALSE(VoSystem::TestKey(0, 47));
  EXPECT_FALSE(VoSystem::KeyBreak());
  for (int selector = 1; selector <= 10; ++selector) EXPECT_FALSE(VoSystem::TestKey(selector, 0)) << selector;
}

TEST_F(VoSystemX11, EverySelectorFindsItsKey) {
  if (!HaveXdotool()) GTEST_SKIP() << "xdotool is not installed";
  const struct {
    int selector;
    const char* key;
    int code;
  } cases[] = {{1, "Escape", 53},    {2, "Super_L", 55},   {3, "Shift_L", 56}, {4, "Shift_R", 60},
               {5, "Caps_Lock", 57}, {6, "Alt_L", 58},     {7, "Alt_L", 58},   {8, "Alt_R", 61},
               {9, "Control_L", 59}, {10, "Control_R", 62}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.key);
    ASSERT_TRUE(Xdo("keydown", {c.key}));
    EXPECT_TRUE(Eventually([&] { return VoSystem::TestKey(c.selector, 0); }));
    EXPECT_TRUE(VoSystem::TestKey(0, c.selector));
    EXPECT_TRUE(VoSystem::TestKey(c.code, 0));
    EXPECT_EQ(VoSystem::GetNativeKey(), c.code);
    // The other selectors' keys are not held (6 and 7 are the same key).
    for (int other = 1; other <= 10; ++other) {
      const bool same =
          other == c.selector || (c.selector >= 6 && c.selector <= 7 && other >= 6 && other <= 7);
      EXPECT_EQ(VoSystem::TestKey(other, 0), same) << "selector " << other;
      EXPECT_EQ(VoSystem::TestKey(c.selector, other), same) << "selector " << other;
    }
    ASSERT_TRUE(Xdo("keyup", {c.key}));
    EXPECT_TRUE(Eventually([&] { return !VoSystem::TestKey(c.selector, 0); }));
    EXPECT_EQ(VoSystem::GetNativeKey(), -1);
  }
  // Caps Lock was switched on by the press above; switch it off again.
  Xdo("key", {"Caps_Lock"});
}

TEST_F(VoSystemX11, PlainCodesFindTheirKeys) {
  if (!HaveXdotool()) GTEST_SKIP() << "xdotool is not installed";
  const struct {
    int code;
    const char* key;
  } cases[] = {
      {0, "a"},
      {1, "s"},
      {11, "b"},
      {45, "n"},
      {18, "1"},
      {29, "0"},
      {24, "equal"},
      {27, "minus"},
      {30, "bracketright"},
      {33, "bracketleft"},
      {39, "apostrophe"},
      {41, "semicolon"},
      {42, "backslash"},
      {43, "comma"},
      {44, "slash"},
      {47, "period"},
      {50, "grave"},
      {36, "Return"},
      {48, "Tab"},
      {49, "space"},
      {51, "BackSpace"},
      {122, "F1"},
      {96, "F5"},
      {111, "F12"},
      {83, "KP_End"},
      {65, "KP_Delete"},
      {67, "KP_Multiply"},
      {69, "KP_Add"},
      {78, "KP_Subtract"},
      {75, "KP_Divide"},
      {76, "KP_Enter"},
      {81, "KP_Equal"},
      {123, "Left"},
      {124, "Right"},
      {125, "Down"},
      {126, "Up"},
      {115, "Home"},
      {119, "End"},
      {116, "Prior"},
      {121, "Next"},
      {117, "Delete"},
      {114, "Insert"},
      {110, "Menu"},
      {54, "Super_R"},
      {74, "XF86AudioMute"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.key);
    ASSERT_TRUE(Xdo("keydown", {c.key}));
    EXPECT_TRUE(Eventually([&] { return VoSystem::GetNativeKey() == c.code; }))
        << "got " << VoSystem::GetNativeKey();
    // Codes 0 to 10 can be tested only through the keys they select: 1 is Escape.
    if (c.code > 10) {
      EXPECT_TRUE(VoSystem::TestKey(c.code, 0));
      EXPECT_TRUE(VoSystem::TestKey(0, c.code));
    } else if (c.code == 1) {
      EXPECT_FALSE(VoSystem::TestKey(1, 0));
    }
    ASSERT_TRUE(Xdo("keyup", {c.key}));
    EXPECT_TRUE(Eventually([&] { return VoSystem::GetNativeKey() == -1; }));
  }
}

TEST_F(VoSystemX11, TwoKeysAtOnceAndKeyBreak) {
  if (!HaveXdotool()) GTEST_SKIP() << "xdotool is not installed";
  ASSERT_TRUE(Xdo("keydown", {"Super_L", "period"}));
  EXPECT_TRUE(Eventually([] { return VoSystem::KeyBreak(); }));
  EXPECT_TRUE(VoSystem::TestKey(2, 47));
  EXPECT_TRUE(VoSystem::TestKey(47, 2));
  EXPECT_EQ(VoSystem::GetNativeKey(), 47);  // the lower of 47 and 55
  ASSERT_TRUE(Xdo("keyup", {"period"}));
  EXPECT_TRUE(Eventually([] { return !VoSystem::KeyBreak(); }));
  EXPECT_TRUE(VoSystem::TestKey(2, 0));
  EXPECT_FALSE(VoSystem::TestKey(2, 47));
  EXPECT_EQ(VoSystem::GetNativeKey(), 55);
  // Period without Command is no break either.
  ASSERT_TRUE(Xdo("keyup", {"Super_L"}));
  ASSERT_TRUE(Xdo("keydown", {"period"}));
  EXPECT_TRUE(Eventually([] { return VoSystem::TestKey(0, 47); }));
  EXPECT_FALSE(VoSystem::KeyBreak());
  EXPECT_FALSE(VoSystem::TestKey(2, 47));
  ASSERT_TRUE(Xdo("keyup", {"period"}));
  EXPECT_TRUE(Eventually([] { return VoSystem::GetNativeKey() == -1; }));
}

TEST_F(VoSystemX11, AChangedKeymapIsFollowed) {
  if (!HaveXdotool() || VoLinuxFindProgram("xmodmap").empty()) GTEST_SKIP() << "xdotool or xmodmap missing";
  // Key code 93 has no symbol in the server's keymap; the connection is open
  // already when it becomes F13 (virtual key code 105).
  EXPECT_EQ(VoSystem::GetNativeKey(), -1);
  ASSERT_EQ(VoLinuxRun({"xmodmap", "-e", "keycode 93 = F13"}, nullptr, nullptr, 5000).exitCode, 0);
  ASSERT_TRUE(Xdo("keydown", {"93"}));
  EXPECT_TRUE(Eventually([] { return VoSystem::TestKey(105, 0); })) << VoSystem::GetNativeKey();
  EXPECT_EQ(VoSystem::GetNativeKey(), 105);
  ASSERT_TRUE(Xdo("keyup", {"93"}));
  EXPECT_TRUE(Eventually([] { return VoSystem::GetNativeKey() == -1; }));
  ASSERT_EQ(VoLinuxRun({"xmodmap", "-e", "keycode 93 ="}, nullptr, nullptr, 5000).exitCode, 0);
  // Without its symbol the key stands for no code any more.
  ASSERT_TRUE(Xdo("keydown", {"93"}));
  usleep(50000);
  EXPECT_EQ(VoSystem::GetNativeKey(), -1);
  ASSERT_TRUE(Xdo("keyup", {"93"}));
}

TEST_F(VoSystemX11, BellAndUserActivityOnTheDisplay) {
  ScopedEnv bus("DBUS_SESSION_BUS_ADDRESS", nullptr);
  ScopedEnv runtime("XDG_RUNTIME_DIR", nullptr);
  const double t0 = Seconds();
  VoSystem::Beep(0);
  VoSystem::SystemActive(true);
  EXPECT_LT(Seconds() - t0, 0.5);
  // The connection is still usable afterwards.
  EXPECT_EQ(VoSystem::GetNativeKey(), -1);
  VoSystem::CopyToClipboard(Vo("on this thread"));
  VoSystem::CopyFromClipboard();
  EXPECT_EQ(Threads(), 1);  // libX11 and the clipboard tools start none here
}

TEST_F(VoSystemX11, ClipboardStartsWithoutText) {
  if (!HaveXclip()) GTEST_SKIP() << "xclip is not installed";
  unsigned long owner = 1;
  ASSERT_TRUE(VoLinuxX11ClipboardOwner(&owner));
  if (owner != 0) GTEST_SKIP() << "an earlier test owns the clipboard";
  EXPECT_FALSE(VoSystem::ClipboardHasData());
  EXPECT_EQ(VoSystem::CopyFromClipboard().length(), 0);
}

TEST_F(VoSystemX11, ClipboardCarriesEveryNonZeroByteBothWays) {
  if (!HaveXclip()) GTEST_SKIP() << "xclip is not installed";
  std::string all;
  for (int b = 1; b <= 255; ++b) all.push_back(static_cast<char>(b));
  VoSystem::CopyToClipboard(Vo(all));
  EXPECT_TRUE(VoSystem::ClipboardHasData());
  EXPECT_EQ(XclipGet(), all);  // what another program reads
  EXPECT_EQ(Bytes(VoSystem::CopyFromClipboard()), all);

  std::string reversed(all.rbegin(), all.rend());
  XclipPut(reversed);
  EXPECT_TRUE(VoSystem::ClipboardHasData());
  EXPECT_EQ(Bytes(VoSystem::CopyFromClipboard()), reversed);
}

TEST_F(VoSystemX11, ClipboardCarriesLongTexts) {
  if (!HaveXclip()) GTEST_SKIP() << "xclip is not installed";
  std::mt19937 random(42);
  std::string big(5 * 1024 * 1024, '\0');
  for (char& c : big) c = static_cast<char>(random() % 255 + 1);
  VoSystem::CopyToClipboard(Vo(big));
  const std::string read = XclipGet();
  EXPECT_EQ(read.size(), big.size());
  EXPECT_TRUE(read == big);

  big[0] = 'X';
  big[big.size() - 1] = 'Y';
  XclipPut(big);
  const VoString mine = VoSystem::CopyFromClipboard();
  EXPECT_EQ(mine.length(), static_cast<long>(big.size()));
  EXPECT_TRUE(Bytes(mine) == big);
}

TEST_F(VoSystemX11, CopiesFollowEachOtherWithoutRaces) {
  if (!HaveXclip()) GTEST_SKIP() << "xclip is not installed";
  for (int i = 0; i < 5; ++i) {
    const std::string text = "value " + std::to_string(i);
    VoSystem::CopyToClipboard(Vo(text));
    EXPECT_EQ(Bytes(VoSystem::CopyFromClipboard()), text);
  }
}

TEST_F(VoSystemX11, EmptyTextIsTextButReadsAsEmpty) {
  if (!HaveXclip()) GTEST_SKIP() << "xclip is not installed";
  VoSystem::CopyToClipboard(VoString());
  EXPECT_TRUE(VoSystem::ClipboardHasData());
  EXPECT_EQ(VoSystem::CopyFromClipboard().length(), 0);
}

TEST_F(VoSystemX11, OtherTextTargetsAreReadAndNonTextIsNone) {
  if (!HaveXclip()) GTEST_SKIP() << "xclip is not installed";
  XclipPut("latin \xE9t\xE9", "STRING");
  EXPECT_TRUE(VoSystem::ClipboardHasData());
  EXPECT_EQ(Bytes(VoSystem::CopyFromClipboard()), "latin \xE9t\xE9");

  XclipPut("\x89PNG not really", "image/png");
  EXPECT_FALSE(VoSystem::ClipboardHasData());
  EXPECT_EQ(VoSystem::CopyFromClipboard().length(), 0);
}

TEST_F(VoSystemX11, WithoutClipboardToolsNothingIsCopied) {
  TempDir empty;
  ScopedEnv path("PATH", empty.path().c_str());
  VoSystem::CopyToClipboard(Vo("lost"));
  EXPECT_FALSE(VoSystem::ClipboardHasData());
  EXPECT_EQ(VoSystem::CopyFromClipboard().length(), 0);
}

TEST_F(VoSystemX11, AVanishedServerIsSurvived) {
  // A second server, stopped while this thread still holds a connection to it.
  Child other;
  int n = -1;
  for (int candidate = 99; candidate >= 91 && n < 0; --candidate)
    if (candidate != display_ && StartXvfb(candidate, other)) n = candidate;
  if (n < 0) GTEST_SKIP() << "no second display could be started";
  const std::string name = ":" + std::to_string(n);
  ScopedEnv display("DISPLAY", name.c_str());
  ASSERT_TRUE(VoLinuxX11Bell());  // connected
  EXPECT_EQ(VoSystem::GetNativeKey(), -1);
  other.Stop();
  // Every call now finds no server and reports no key; the process lives on.
  EXPECT_EQ(VoSystem::GetNativeKey(), -1);
  VoSystem::Beep(0);
  VoSystem::SystemActive(true);
  EXPECT_FALSE(VoSystem::TestKey(0, 47));
}

// ====================================================================== Wayland tools

/// Stand-ins for wl-copy and wl-paste that keep the text in a file and record
/// their arguments: the library's side of the Wayland clipboard.
class VoSystemWaylandTools : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(mkdir(dir_.Path("bin").c_str(), 0755), 0);
    const std::string d = dir_.path();
    Script("wl-copy", "printf '%s\\n' \"$@\" > '" + d + "/copy-args'\ncat > '" + d +
                          "/clip'\n"
                          "printf 'text/plain;charset=utf-8\\ntext/plain\\n' > '" +
                          d + "/types'\n");
    Script("wl-paste", "printf '%s\\n' \"$@\" > '" + d +
                           "/paste-args'\n"
                           "[ -f '" +
                           d +
                           "/types' ] || { echo 'Nothing is copied' >&2; exit 1; }\n"
                           "if [ \"$1\" = --list-types ]; then cat '" +
                           d +
                           "/types'; exit 0; fi\n"
                           "grep -q '^text/' '" +
                           d +
                           "/types' || exit 1\n"
                           "cat '" +
                           d + "/clip'\n");
    path_ = std::make_unique<ScopedEnv>("PATH", (dir_.Path("bin") + ":/usr/bin:/bin").c_str());
    wayland_ = std::make_unique<ScopedEnv>("WAYLAND_DISPLAY", "wayland-vo-test");
    display_ = std::make_unique<ScopedEnv>("DISPLAY", nullptr);
  }
  void TearDown() override {
    display_.reset();
    wayland_.reset();
    path_.reset();
  }
  void Script(const std::string& name, const std::string& body) {
    const std::string p = dir_.Write("bin/" + name, "#!/bin/sh\n" + body);
    chmod(p.c_str(), 0755);
  }

  TempDir dir_;
  std::unique_ptr<ScopedEnv> path_, wayland_, display_;
};

TEST_F(VoSystemWaylandTools, TextGoesThroughWlCopyAndWlPaste) {
  EXPECT_FALSE(VoSystem::ClipboardHasData());
  EXPECT_EQ(VoSystem::CopyFromClipboard().length(), 0);

  std::string all;
  for (int b = 1; b <= 255; ++b) all.push_back(static_cast<char>(b));
  all += "\nends without a line end";
  VoSystem::CopyToClipboard(Vo(all));
  EXPECT_EQ(ReadFile(dir_.Path("clip")), all);
  EXPECT_EQ(ReadFile(dir_.Path("copy-args")), "--type\ntext/plain;charset=utf-8\n");
  EXPECT_TRUE(VoSystem::ClipboardHasData());
  EXPECT_EQ(ReadFile(dir_.Path("paste-args")), "--list-types\n");
  EXPECT_EQ(Bytes(VoSystem::CopyFromClipboard()), all);
  EXPECT_EQ(ReadFile(dir_.Path("paste-args")), "--no-newline\n--type\ntext\n");
}

TEST_F(VoSystemWaylandTools, NonTextIsNoText) {
  dir_.Write("types", "image/png\n");
  dir_.Write("clip", "\x89PNG");
  EXPECT_FALSE(VoSystem::ClipboardHasData());
  EXPECT_EQ(VoSystem::CopyFromClipboard().length(), 0);
}

// ====================================================================== launching

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

// An xclip stand-in that leaves a child holding its output, as many
// wrappers do, and one that never stops writing: both end the call soon.
TEST(VoSystemClipboardTools, ToolsThatLeaveChildrenOrNeverStopAreBounded) {
  TempDir dir;
  const std::string xclip =
      dir.Write("xclip",
                "#!/bin/sh\ncase \"$*\" in *TARGETS*) echo UTF8_STRING;; *) printf kept;; esac\n"
                "sleep 30 &\necho $! >> " +
                    dir.Path("held") + "\n");
  chmod(xclip.c_str(), 0755);
  ScopedEnv path("PATH", dir.path() + ":" + getenv("PATH"));
  ScopedEnv display("DISPLAY", ":vo-none");
  ScopedEnv wayland("WAYLAND_DISPLAY", nullptr);
  double t0 = Seconds();
  EXPECT_EQ(Bytes(VoSystem::CopyFromClipboard()), "kept");
  EXPECT_LT(Seconds() - t0, 3.0);
  dir.Write("xclip", "#!/bin/sh\nexec yes\n");
  t0 = Seconds();
  EXPECT_EQ(VoSystem::CopyFromClipboard().length(), 0);
  EXPECT_LT(Seconds() - t0, 12.0);
  EXPECT_EQ(ZombieChildren(), 0);
  std::ifstream held(dir.Path("held"));
  for (pid_t child; held >> child;) kill(child, SIGKILL);
}

TEST(VoSystemLaunchNoTool, WithoutXdgOpenNothingHappens) {
  TempDir empty;
  ScopedEnv path("PATH", empty.path().c_str());
  VoSystem::LaunchURL(Vo("https://example.invalid/"));
  EXPECT_EQ(ZombieChildren(), 0);
}

// ====================================================================== files

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
