// VoSystemInterfaceTest.cpp - Tests of VoSystem's user-interface calls without a display: menu bar, keys,
// beeps, the screen saver over D-Bus.
#include "VoSystem/VoSystem.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

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

}  // namespace
