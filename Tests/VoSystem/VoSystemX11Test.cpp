// VoSystemX11Test.cpp - Tests of VoSystem's keyboard, clipboard and bell on a private X server (Xvfb).
#include "VoSystem/VoSystem.h"

#include <poll.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "Linux/VoLinuxProcessPrivate.h"
#include "Linux/VoLinuxX11Private.h"
#include "VoSystem/VoSystemTestSupport.h"

namespace {

using namespace vo_test;

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

}  // namespace
