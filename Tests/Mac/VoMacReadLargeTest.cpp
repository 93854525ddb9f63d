// VoMacReadLargeTest.cpp - reading a large rest of a file on two threads.
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "Mac/VoMacFileOps.h"

namespace {

constexpr long kMiB = 1L << 20;

class VoMacReadLargeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/vo_mac_read_large_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    mDir = tmpl;
    mPath = mDir + "/file";
  }
  void TearDown() override {
    std::remove(mPath.c_str());
    rmdir(mDir.c_str());
  }
  /// A file of \p size bytes numbered by their offset.
  std::string Put(long size) const {
    std::string bytes(static_cast<std::size_t>(size), '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 + i / 4093);
    std::FILE* f = std::fopen(mPath.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    return bytes;
  }

  std::string mDir;
  std::string mPath;
};

TEST_F(VoMacReadLargeTest, AFileShorterThanAskedForGivesWhatItHas) {
  // As when the file shrinks between measuring and reading: the bytes there
  // are, without a gap, and the stream at the end.
  const struct {
    const char* name;
    long fileSize;
    long position;
    long asked;
  } cases[] = {
      {"ends in the first piece", 20 * kMiB + 5, 3 * kMiB, 40 * kMiB},
      {"ends in a later piece", 37 * kMiB + 1, 1, 40 * kMiB},
      {"ends on a piece border", 24 * kMiB + 5, 5, 30 * kMiB},
      {"nothing left", 17 * kMiB, 17 * kMiB, 20 * kMiB},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string bytes = Put(c.fileSize);
    std::FILE* f = std::fopen(mPath.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(std::fseek(f, c.position, SEEK_SET), 0);
    std::vector<char> buffer(static_cast<std::size_t>(c.asked));
    const long got = VoMacReadLarge(f, buffer.data(), static_cast<unsigned long>(c.asked));
    EXPECT_EQ(got, c.fileSize - c.position);
    EXPECT_TRUE(std::string(buffer.data(), static_cast<std::size_t>(got)) ==
                bytes.substr(static_cast<std::size_t>(c.position)));
    EXPECT_EQ(std::ftell(f), c.fileSize);
    EXPECT_EQ(std::fgetc(f), EOF);
    std::fclose(f);
  }
}

TEST_F(VoMacReadLargeTest, StreamsItDoesNotReadAreLeftToTheCaller) {
  Put(17 * kMiB);
  std::vector<char> buffer(17 * kMiB);
  const struct {
    const char* name;
    const char* path;
    const char* mode;
    unsigned long size;
    bool atEnd;
  } cases[] = {
      {"below the minimum", nullptr, "rb", kVoMacLargeReadMinimum - 1, false},
      {"not a regular file", "/dev/zero", "rb", kVoMacLargeReadMinimum, false},
      {"not open for reading", nullptr, "ab", kVoMacLargeReadMinimum, false},
      {"its end noted", nullptr, "rb", kVoMacLargeReadMinimum, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::FILE* f = std::fopen(c.path != nullptr ? c.path : mPath.c_str(), c.mode);
    ASSERT_NE(f, nullptr);
    if (c.atEnd) {
      std::fseek(f, 0, SEEK_END);
      std::fgetc(f);
    }
    const long before = std::ftell(f);
    EXPECT_EQ(VoMacReadLarge(f, buffer.data(), c.size), -1);
    EXPECT_EQ(std::ftell(f), before);
    std::fclose(f);
  }
  EXPECT_EQ(VoMacReadLarge(nullptr, buffer.data(), kVoMacLargeReadMinimum), -1);
}

}  // namespace
