// VoMacFileCopyTest.cpp - copying between two open stdio streams inside the system.
#include "Mac/VoMacFileCopy.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "Support/VoTempFolder.h"

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

}  // namespace
