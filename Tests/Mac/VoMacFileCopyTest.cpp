// VoMacFileCopyTest.cpp - copying between two open stdio streams inside the system.
#include "Mac/VoMacFileCopy.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "Support/VoTempFolder.h"
#include "VoSystem/VoSystem.h"

namespace {

class VoMacFileCopyTest : public vo_test::TempFolderTest {};

std::string Digits(std::size_t size) {
  std::string s(size, '0');
  for (std::size_t i = 0; i < size; ++i) s[i] = static_cast<char>('0' + i % 10);
  return s;
}

TEST_F(VoMacFileCopyTest, CopiesBetweenTheStreamPositionsAndMovesThem) {
  const struct {
    const char* name;
    long length;
    long copied;
    bool complete;
  } cases[] = {
      {"part", 1000, 1000, true},
      {"more than there is", 100000, 19990, false},  // the end is left to stdio
      {"to the end", 0, 19990, false},
      {"to the end, negative", -3, 19990, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Put("from", Digits(20000));
    Put("to", "");
    std::FILE* from = std::fopen(Path("from").c_str(), "rb");
    std::FILE* to = std::fopen(Path("to").c_str(), "wb");
    ASSERT_TRUE(from != nullptr && to != nullptr);
    char head[10];
    ASSERT_EQ(std::fread(head, 1, 10, from), 10u);  // stdio holds read-ahead of the source
    std::fputs("abc", to);                          // and unwritten bytes of the target
    bool complete = true;
    EXPECT_EQ(VoMacCopyFileData(from, to, c.length, &complete), c.copied);
    EXPECT_EQ(complete, c.complete);
    EXPECT_EQ(std::ftell(from), 10 + c.copied);
    EXPECT_EQ(std::ftell(to), 3 + c.copied);
    // The streams go on from there.
    EXPECT_EQ(std::fgetc(from), c.copied == 19990 ? EOF : '0');
    std::fputs("!", to);
    std::fclose(from);
    std::fclose(to);
    EXPECT_EQ(Get("to"), "abc" + Digits(20000).substr(10, static_cast<std::size_t>(c.copied)) + "!");
  }
}

TEST_F(VoMacFileCopyTest, StreamsItCannotCopyBetweenAreLeftAlone) {
  Put("from", Digits(5000));
  Put("to", "kept");
  const struct {
    const char* name;
    const char* source;
    const char* sourceMode;
    const char* targetMode;
  } cases[] = {
      {"appending target", "from", "rb", "ab"},
      {"source not open for reading", "from", "ab", "r+b"},
      {"target not open for writing", "from", "rb", "rb"},
      {"source not a regular file", "/dev/zero", "rb", "r+b"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string source = c.source[0] == '/' ? c.source : Path(c.source);
    std::FILE* from = std::fopen(source.c_str(), c.sourceMode);
    std::FILE* to = std::fopen(Path("to").c_str(), c.targetMode);
    ASSERT_TRUE(from != nullptr && to != nullptr);
    bool complete = true;
    EXPECT_EQ(VoMacCopyFileData(from, to, 100, &complete), 0);
    EXPECT_FALSE(complete);
    EXPECT_EQ(std::ftell(from), c.sourceMode[0] == 'a' ? 5000 : 0);
    std::fclose(from);
    std::fclose(to);
    EXPECT_EQ(Get("to"), "kept");
  }
  bool complete = true;
  EXPECT_EQ(VoMacCopyFileData(nullptr, nullptr, 1, &complete), 0);
  EXPECT_FALSE(complete);
}

TEST_F(VoMacFileCopyTest, HolesStayHolesWhereTheTargetIsNew) {
  constexpr long kMiB = 1L << 20;
  constexpr long kEvery = 4 * kMiB;
  constexpr long kSize = 4 * kEvery;
  const struct {
    const char* name;
    long first;    // 1 MiB of data every 4 MiB of 16 MiB from here on
    long length;   // asked for (0: all, through VoSystem::CopyFile)
    long oldSize;  // bytes the target has before
    const char* source;
  } cases[] = {
      {"CopyFile", 0, 0, 0, nullptr},
      {"holes first and last", 2 * kMiB, -1, 0, nullptr},
      {"ending inside a hole", 0, 10 * kMiB, 0, nullptr},
      {"over bytes the target has", kMiB, -1, 5 * kMiB, nullptr},
      {"from another file system (tmpfs)", kMiB, -1, 0, "/dev/shm"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string bytes(kSize, '\0');
    const std::string source =
        c.source ? std::string(c.source) + "/vo-copy-test-" + std::to_string(getpid()) : Path("from");
    struct stat st, here;
    if (c.source && (stat(c.source, &st) != 0 || stat(mDir.c_str(), &here) != 0 || st.st_dev == here.st_dev))
      continue;  // no other file system to copy from
    const int fd = open(source.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_EQ(ftruncate(fd, static_cast<off_t>(bytes.size())), 0);
    for (long at = c.first; at < kSize; at += kEvery) {
      for (long i = at; i < at + kMiB; ++i)
        bytes[static_cast<std::size_t>(i)] = static_cast<char>(i % 251 + 1);
      ASSERT_EQ(pwrite(fd, bytes.data() + at, kMiB, at), kMiB);
    }
    close(fd);
    ASSERT_EQ(stat(source.c_str(), &st), 0);
    if (st.st_blocks * 512 > kSize / 2) GTEST_SKIP() << "the file system under /tmp keeps no holes";
    Put("to", std::string(static_cast<std::size_t>(c.oldSize), 'z'));
    std::string expected = c.length > 0 ? bytes.substr(0, static_cast<std::size_t>(c.length)) : bytes;
    if (c.length == 0) {
      VoSystem::CopyFile(Spec("from"), Spec("to"));
    } else {
      std::FILE* from = std::fopen(source.c_str(), "rb");
      std::FILE* to = std::fopen(Path("to").c_str(), "r+b");
      bool complete = false;
      EXPECT_EQ(VoMacCopyFileData(from, to, c.length, &complete), static_cast<long>(expected.size()));
      EXPECT_EQ(complete, c.length > 0);
      std::fclose(from);
      std::fclose(to);
    }
    std::string copy(expected.size() + 1, '\0');
    std::FILE* in = std::fopen(Path("to").c_str(), "rb");
    copy.resize(std::fread(copy.data(), 1, copy.size(), in));
    std::fclose(in);
    EXPECT_TRUE(copy == expected);
    if (c.source) unlink(source.c_str());
    // The data runs and what was written over old bytes; a little more for
    // the file system's own blocks.
    ASSERT_EQ(stat(Path("to").c_str(), &st), 0);
    const long runs = (static_cast<long>(expected.size()) - c.first + kEvery - 1) / kEvery;
    EXPECT_LE(st.st_blocks * 512, runs * kMiB + c.oldSize + kMiB) << st.st_blocks;
  }
}

}  // namespace
