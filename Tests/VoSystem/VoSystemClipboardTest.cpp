// VoSystemClipboardTest.cpp - Tests of VoSystem's clipboard through the Wayland tools and misbehaving
// clipboard tools.
#include "VoSystem/VoSystem.h"

#include <signal.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

#include "VoSystem/VoSystemTestSupport.h"

namespace {

using namespace vo_test;

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

}  // namespace
