// VoSystemInterfaceTest.cpp - Tests of VoSystem's user-interface calls without a display: menu bar, keys,
// beeps, the screen saver over D-Bus.
#include "VoSystem/VoSystem.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

#include "Linux/VoLinuxDBusPrivate.h"
#include "Linux/VoLinuxProcessPrivate.h"
#include "VoSystem/VoSystemTestSupport.h"

namespace {

using namespace vo_test;

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

/// A listening unix socket at \p path that nobody answers; with \p auth a
/// child accepts one connection, agrees to its authentication, sends
/// \p answer and then falls silent (it ends with the socket).
struct SilentBus {
  SilentBus(const std::string& path, bool auth, const std::string& answer = "")
      : fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_un at{};
    at.sun_family = AF_UNIX;
    path.copy(at.sun_path, sizeof at.sun_path - 1);
    if (bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 || listen(fd, 1) != 0) return;
    if (auth && (server = fork()) == 0) {
      alarm(30);  // ends with the test program at the latest
      const int peer = accept(fd, nullptr, nullptr);
      const std::string reply = "OK 0123456789abcdef\r\n" + answer;
      char line[512];
      if (peer >= 0 && read(peer, line, sizeof line) > 0 && write(peer, reply.data(), reply.size()) > 0)
        pause();
      _exit(0);
    }
  }
  ~SilentBus() {
    if (server > 0) kill(server, SIGKILL), waitpid(server, nullptr, 0);
    close(fd);
  }
  int fd;
  pid_t server = -1;
};

// A %-escape is two hex digits, or the address entry is not taken; replies
// are read whatever header fields the client does not know they carry.
TEST(VoSystemInterface, BusAddressEscapesAndUnknownHeaderFields) {
  TempDir dir;
  std::string answer;  // the returns of Hello and of the call: field 200, a uint64, then an "ay"; the serial
  for (char serial : {1, 2})
    answer += std::string(
                  "l\2\0\1\0\0\0\0\1\0\0\0\x28\0\0\0\xc8\1t\0\0\0\0\0"
                  "12345678\xc9\2ay\0\0\0\0\3\0\0\0xyz\0\5\1u\0",
                  52) +
              serial + std::string(3, '\0');
  const SilentBus b(dir.Path("b"), true, answer), b1(dir.Path("b\1"), false);
  fcntl(b1.fd, F_SETFL, O_NONBLOCK);
  const std::pair<const char*, bool> cases[] = {{"b%zz", false}, {"b%+1", false}, {"b% 1", false},
                                                {"b%0", false},  {"b%00", false}, {"b%01", false},
                                                {"%62", true}};
  for (const auto& [escaped, answered] : cases) {
    ScopedEnv env("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + dir.Path(escaped));
    EXPECT_EQ(VoLinuxSimulateUserActivity(answered ? 2000 : 50), answered) << escaped;
  }
  const int peer = accept(b1.fd, nullptr, nullptr);  // b%01 only
  EXPECT_TRUE(peer >= 0 && accept(b1.fd, nullptr, nullptr) < 0);
  close(peer);
}

// Connecting, authentication, Hello and the call share one deadline: a bus
// that never answers at any of these steps costs the caller 250 ms.
TEST(VoSystemInterface, SystemActiveEndsInTimeWhateverTheBusDoes) {
  TempDir dir;
  SilentBus mute(dir.Path("mute"), false), agreeing(dir.Path("agreeing"), true),
      full(dir.Path("full"), false);
  for (int i = 0; i < 8; ++i) {  // fills the listen queue: a connect then fails at once
    const int c = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_un at{AF_UNIX, {}};
    dir.Path("full").copy(at.sun_path, sizeof at.sun_path - 1);
    if (connect(c, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0) close(c);
  }
  Child stopped;
  const std::string config =
      dir.Write("bus.conf", "<busconfig><type>session</type><listen>unix:path=" + dir.Path("stopped") +
                                "</listen><auth>EXTERNAL</auth></busconfig>");
  const bool daemon =
      stopped.Start({"dbus-daemon", "--config-file=" + config, "--nofork", "--print-address=1"}) &&
      stopped.ReadUntil([](const std::string& t) { return !t.empty(); }, 5.0);
  if (daemon) kill(stopped.pid(), SIGSTOP);
  for (const char* bus : {"mute", "agreeing", "full", "stopped"}) {
    if (std::string(bus) == "stopped" && !daemon) continue;  // dbus-daemon is not installed
    ScopedEnv env("DBUS_SESSION_BUS_ADDRESS", "tcp:host=localhost;unix:path=" + dir.Path(bus));
    alarm(20);  // a caller held for ever ends the test program
    const double t0 = Seconds();
    EXPECT_FALSE(VoLinuxSimulateUserActivity(250)) << bus;
    EXPECT_LT(Seconds() - t0, 2.0) << bus;
    alarm(0);
  }
  if (daemon) kill(stopped.pid(), SIGCONT);
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
  // A screen saver that answers is a success; one that never answers costs the deadline.
  if (VoLinuxFindProgram("dbus-test-tool").empty()) GTEST_SKIP() << "dbus-test-tool is not installed";
  for (const std::string mode : {"echo", "black-hole"}) {
    Child saver;
    ASSERT_TRUE(saver.Start({"dbus-test-tool", mode, "--name=org.freedesktop.ScreenSaver"}));
    ASSERT_TRUE(Eventually([] {
      return VoLinuxRun({"dbus-send", "--print-reply", "--dest=org.freedesktop.DBus", "/org/freedesktop/DBus",
                         "org.freedesktop.DBus.GetNameOwner", "string:org.freedesktop.ScreenSaver"},
                        nullptr, nullptr, 5000)
                 .exitCode == 0;
    }));
    const double start = Seconds();
    EXPECT_EQ(VoLinuxSimulateUserActivity(250), mode == "echo") << mode;
    EXPECT_LT(Seconds() - start, 2.0) << mode;
  }
}

}  // namespace
