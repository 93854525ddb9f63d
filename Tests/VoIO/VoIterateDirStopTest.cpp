// VoIterateDirStopTest.cpp - Tests of how a walk ends: stopping, statuses, exceptions and folders that cannot
// be listed.
#include "VoIO/VoIterateDir.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "VoCore/VoError.h"
#include "VoIO/VoIterateDirTestSupport.h"

namespace {

using namespace vo_walk_test;

TEST(VoIterateDirTest, StopEndsTheWalkAfterTheEntryThatCalledIt) {
  Scratch t;
  MakeSmallTree(t);
  for (int stopAt : {1, 3, 6}) {
    Recorder r;
    r.hook = [stopAt](const VoFileInfo&, Recorder& self) {
      if (static_cast<int>(self.seen.size()) == stopAt) self.Stop();
    };
    EXPECT_EQ(r.Start(VoFileSpec(Vo(t.Root())), 0), 0);
    EXPECT_EQ(r.seen.size(), static_cast<size_t>(stopAt));
    EXPECT_TRUE(r.GetStop()) << "the flag stays set after a stopped walk";
    // The next Start clears it.
    r.hook = nullptr;
    r.seen.clear();
    EXPECT_EQ(r.Start(VoFileSpec(Vo(t.Root())), 0), 0);
    EXPECT_EQ(r.seen.size(), 6u);
    EXPECT_FALSE(r.GetStop());
  }
}

TEST(VoIterateDirTest, StopOnAFolderDoesNotEnterIt) {
  Scratch t;
  t.Dir("only");
  t.File("only/inside");
  Recorder r;
  r.hook = [](const VoFileInfo& info, Recorder& self) {
    if (!info.IsFile()) self.Stop();
  };
  EXPECT_EQ(r.Start(VoFileSpec(Vo(t.Root())), 0), 0);
  ASSERT_EQ(r.seen.size(), 1u);
  EXPECT_EQ(Str(r.seen[0].GetName()), "only");
}

TEST(VoIterateDirTest, WhatCannotBeWalkedGivesANonZeroStatusAndNoEntry) {
  Scratch t;
  t.File("plain.txt");
  t.Dir("empty");
  const std::string cases[] = {t / "missing", t / "missing/deeper", t / "plain.txt", std::string()};
  for (const std::string& path : cases) {
    Recorder r;
    EXPECT_NE(r.Start(VoFileSpec(Vo(path)), 0), 0) << "'" << path << "'";
    EXPECT_TRUE(r.seen.empty()) << path;
  }
  Recorder r;
  EXPECT_EQ(r.Start(VoFileSpec(Vo(t / "empty")), 0), 0);
  EXPECT_TRUE(r.seen.empty());
}

TEST(VoIterateDirTest, AnExceptionFromProcessFileLeavesStartAndClosesEveryFolder) {
  Scratch t;
  t.Dir("a");
  t.Dir("a/b");
  t.Dir("a/b/c");
  t.File("a/b/c/deep");
  const int before = OpenDescriptors();
  ASSERT_GT(before, 0);
  for (int round = 0; round < 3; ++round) {
    Recorder r;
    r.hook = [](const VoFileInfo& info, Recorder&) {
      if (Str(info.GetName()) == "deep") VO_THROW(eVoFormatErr);
    };
    try {
      r.Start(VoFileSpec(Vo(t.Root())), 0);
      ADD_FAILURE() << "no exception";
    } catch (const VoError& e) {
      EXPECT_EQ(e.GetErr(), static_cast<unsigned long>(eVoFormatErr));
      EXPECT_STREQ(e.GetErrName(), "VoFormatErr");
    }
    EXPECT_EQ(r.seen.size(), 4u);
    EXPECT_EQ(OpenDescriptors(), before) << "folders left open by the walk";
  }
}

// ------------------------------------------------------------------ access denied

/// Runs \p body in a child process that has dropped root to "nobody" (when
/// run as root). The child writes lines to the pipe; returns them, or sets
/// \p skip with a reason.
std::vector<std::string> RunAsNobody(const std::function<std::vector<std::string>()>& body,
                                     std::string& skip) {
  int fds[2];
  if (pipe(fds) != 0) {
    skip = "no pipe";
    return {};
  }
  fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    if (geteuid() == 0) {
      struct passwd* pw = getpwnam("nobody");
      if (pw == nullptr || setgroups(0, nullptr) != 0 || setresgid(pw->pw_gid, pw->pw_gid, pw->pw_gid) != 0 ||
          setresuid(pw->pw_uid, pw->pw_uid, pw->pw_uid) != 0)
        _exit(77);
    }
    std::string out;
    for (const std::string& line : body()) out += line + '\n';
    size_t done = 0;
    while (done < out.size()) {
      ssize_t n = write(fds[1], out.data() + done, out.size() - done);
      if (n <= 0) _exit(1);
      done += static_cast<size_t>(n);
    }
    _exit(0);
  }
  close(fds[1]);
  std::string text;
  char buf[4096];
  for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;) text.append(buf, static_cast<size_t>(n));
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFEXITED(status) && WEXITSTATUS(status) == 77) {
    skip = "cannot drop root privileges to the user nobody";
    return {};
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    ADD_FAILURE() << "the unprivileged child failed";
    return {};
  }
  std::vector<std::string> lines;
  for (size_t pos = 0, end; (end = text.find('\n', pos)) != std::string::npos; pos = end + 1)
    lines.push_back(text.substr(pos, end - pos));
  return lines;
}

TEST(VoIterateDirTest, AFolderThatCannotBeListedEndsItsFolderButNotTheWalk) {
  Scratch t;
  ASSERT_EQ(chmod(t.Root().c_str(), 0755), 0);
  t.Dir("p");
  t.Dir("p/locked");
  t.File("p/locked/secret");
  for (int i = 0; i < 8; ++i) t.File("p/f" + std::to_string(i));
  t.Dir("q");
  t.File("q/g");
  ASSERT_EQ(chmod((t / "p/locked").c_str(), 0), 0);

  const std::string root = t.Root();
  std::string skip;
  std::vector<std::string> lines = RunAsNobody(
      [&root]() {
        std::vector<std::string> out;
        Recorder whole;
        out.push_back(std::to_string(whole.Start(VoFileSpec(Vo(root)), 0)));
        Recorder locked;
        out.push_back(std::to_string(locked.Start(VoFileSpec(Vo(root + "/p/locked")), 0)));
        out.push_back(std::to_string(locked.seen.size()));
        for (const std::string& name : whole.Relative(root)) out.push_back(name);
        return out;
      },
      skip);
  if (!skip.empty()) GTEST_SKIP() << skip;
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[0], "0") << "denied access below the folder given is no failure";
  EXPECT_NE(lines[1], "0") << "the folder given cannot be listed";
  EXPECT_EQ(lines[2], "0");
  std::vector<std::string> names(lines.begin() + 3, lines.end());

  // Expected: q and q/g; in p, the entries listed before "locked", then
  // "locked" itself; nothing after it in p, nothing inside it.
  std::set<std::string> expected{"p", "q", "q/g"};
  for (const std::string& name : ListingOrder(t / "p")) {
    expected.insert("p/" + name);
    if (name == "locked") break;
  }
  EXPECT_EQ(std::set<std::string>(names.begin(), names.end()), expected);
  EXPECT_EQ(names.size(), expected.size());
}

}  // namespace
