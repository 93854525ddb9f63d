// VoDebugTest.cpp - the debug log: filtering, line ends, formatting, streams, log files and error tracing.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <new>
#include <sstream>
#include <string>
#include <vector>

#include "VoCore/VoDebug.h"
#include "VoCore/VoError.h"
#include "VoCore/VoString.h"
#include "VoIO/VoStream.h"

namespace {

/// Records every Write; throws on chosen writes.
class RecordingStream : public VoStream {
 public:
  enum Failure { kNone, kVoError, kBadAlloc, kInt };

  void Write(const void* buffer, unsigned long size, unsigned long* count) override {
    const int index = static_cast<int>(mCalls++);
    if (index >= mFailFrom) {
      switch (mFailure) {
        case kVoError:
          VO_THROW(eVoFileWriteFailed);
        case kBadAlloc:
          throw std::bad_alloc();
        case kInt:
          throw 42;
        case kNone:
          break;
      }
    }
    mWrites.emplace_back(static_cast<const char*>(buffer), size);
    mCountGiven.push_back(count != nullptr);
    if (count) *count = size;
  }
  void Read(void*, unsigned long, unsigned long*) override { VO_THROW(eVoUndefProc); }
  void SetPosition(long, eVoFileSeekMode) override { VO_THROW(eVoUndefProc); }
  long GetPosition() override { return 0; }

  std::string All() const {
    std::string s;
    for (const auto& w : mWrites) s += w;
    return s;
  }

  std::vector<std::string> mWrites;
  std::vector<bool> mCountGiven;
  unsigned long mCalls = 0;
  Failure mFailure = kNone;
  int mFailFrom = 0;
};

class VoDebugTest : public ::testing::Test {
 protected:
  void SetUp() override {
    VoSetDebugLevelImpl(0);
    VoSetDebugOutputImpl(&mStream);
  }
  void TearDown() override {
    VoSetDebugOutputFileImpl(VoString(""));
    VoSetDebugOutputImpl(VoGetDefaultOutputStream());
    VoSetDebugLevelImpl(0);
    std::error_code ec;
    if (!mDir.empty()) std::filesystem::remove_all(mDir, ec);
  }
  std::string TempDir() {
    if (mDir.empty()) {
      char tmpl[] = "/tmp/vo_debug_test_XXXXXX";
      if (mkdtemp(tmpl) != nullptr) mDir = tmpl;
    }
    return mDir;
  }
  static std::string Get(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }

  RecordingStream mStream;
  std::string mDir;
};

// ---------------------------------------------------------------- a fresh process

// The state at start can only be seen in a process that has not used the log:
// the test runs this binary again with only itself selected and the variable
// VO_DEBUG_FRESH set, and reads what that process prints between two markers.
TEST(VoDebugFreshProcess, StartsAtLevelZeroWritingToStandardOutput) {
  if (std::getenv("VO_DEBUG_FRESH") != nullptr) {
    std::fputs("<<", stdout);
    std::fflush(stdout);
    std::printf("%d:", gDebugLevel);
    std::fflush(stdout);
    VoDebugWriteImpl(0, "x");                                    // written, with its line end
    VoDebugWriteImpl(1, "hidden");                               // above the level
    VoError traced(7, "VoIndexError", "/a/b/VoString.cpp", 12);  // level 1: not written
    VoDebugPrintfImpl(0, "n=%d", 5);
    std::fputs(">>", stdout);
    std::fflush(stdout);
    std::_Exit(0);
  }
  char self[4096];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  ASSERT_GT(n, 0);
  self[n] = '\0';
  const std::string command = std::string("VO_DEBUG_FRESH=1 '") + self +
                              "' --gtest_filter=VoDebugFreshProcess.StartsAtLevelZeroWritingToStandardOutput";
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string out;
  char buffer[4096];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, got);
  EXPECT_EQ(pclose(pipe), 0);
  const std::size_t begin = out.find("<<");
  const std::size_t end = out.find(">>");
  ASSERT_NE(begin, std::string::npos) << out;
  ASSERT_NE(end, std::string::npos) << out;
  EXPECT_EQ(out.substr(begin + 2, end - begin - 2), "0:x\nn=5\n");
}

// ---------------------------------------------------------------- filtering and line ends

TEST_F(VoDebugTest, MessagesAreWrittenUpToTheCurrentLevel) {
  struct Case {
    int debugLevel;
    int messageLevel;
    bool written;
  };
  const Case cases[] = {
      {0, 0, true}, {0, 1, false}, {1, 1, true},  {0, -1, true},  {-1, 0, false},
      {7, 5, true}, {7, 7, true},  {7, 8, false}, {-3, -3, true}, {-3, -2, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "level " << c.debugLevel << " message " << c.messageLevel);
    mStream.mWrites.clear();
    VoSetDebugLevelImpl(c.debugLevel);
    EXPECT_EQ(VoGetDebugLevelImpl(), c.debugLevel);
    EXPECT_EQ(gDebugLevel, c.debugLevel);
    VoDebugWriteImpl(c.messageLevel, "m");
    VoDebugPrintfImpl(c.messageLevel, "p%d", 1);
    EXPECT_EQ(mStream.All(), c.written ? "m\np1\n" : "");
  }
}

TEST_F(VoDebugTest, EveryMessageEndsInExactlyOneLineEnd) {
  struct Case {
    const char* text;
    std::vector<std::string> writes;
  };
  const Case cases[] = {
      {"abc", {"abc", "\n"}}, {"abc\n", {"abc\n"}},   {"", {}},      {"\n", {"\n"}},
      {"a\n\n", {"a\n\n"}},   {"a\r", {"a\r", "\n"}}, {nullptr, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text ? c.text : "(null)");
    mStream.mWrites.clear();
    mStream.mCountGiven.clear();
    VoDebugWriteImpl(0, c.text);
    EXPECT_EQ(mStream.mWrites, c.writes);
    for (bool given : mStream.mCountGiven) EXPECT_FALSE(given);  // no count asked for
  }
}

TEST_F(VoDebugTest, StringMessagesWriteTheirTextUpToTheFirstZero) {
  VoDebugWriteImpl(0, VoString("from a string"));
  VoDebugWriteImpl(0, VoString("ab\0cd", 5, true));
  VoDebugWriteImpl(1, VoString("dropped"));
  EXPECT_EQ(mStream.mWrites, (std::vector<std::string>{"from a string", "\n", "ab", "\n"}));
}

// ---------------------------------------------------------------- formatting

TEST_F(VoDebugTest, PrintfFormatsAndAddsTheLineEndInItsBuffer) {
  VoDebugPrintfImpl(0, "%s=%d %5.2f", "x", -12, 3.14159);
  VoDebugPrintfImpl(0, "ends\n");
  VoDebugPrintfImpl(0, "%s", "");
  EXPECT_EQ(mStream.mWrites, (std::vector<std::string>{"x=-12  3.14\n", "ends\n"}));
}

TEST_F(VoDebugTest, PrintfBufferBoundaries) {
  struct Case {
    std::size_t length;
    std::vector<std::size_t> writeSizes;
  };
  // 4094 characters get their LF in the buffer (one write); from 4095 on the
  // text is cut to 4095 characters and the LF comes in a second write.
  const Case cases[] = {{1, {2}},          {4093, {4094}},    {4094, {4095}},
                        {4095, {4095, 1}}, {4096, {4095, 1}}, {10000, {4095, 1}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    mStream.mWrites.clear();
    const std::string text(c.length, 'q');
    VoDebugPrintfImpl(0, "%s", text.c_str());
    std::vector<std::size_t> sizes;
    for (const auto& w : mStream.mWrites) sizes.push_back(w.size());
    EXPECT_EQ(sizes, c.writeSizes);
    const std::string all = mStream.All();
    EXPECT_EQ(all.back(), '\n');
    EXPECT_EQ(all.substr(0, all.size() - 1), text.substr(0, 4095));
  }
  // A text of exactly 4095 characters ending in LF is written as it is.
  mStream.mWrites.clear();
  VoDebugPrintfImpl(0, "%s\n", std::string(4094, 'r').c_str());
  ASSERT_EQ(mStream.mWrites.size(), 1u);
  EXPECT_EQ(mStream.mWrites[0].size(), 4095u);
}

// ---------------------------------------------------------------- tracing errors

TEST_F(VoDebugTest, RaisedErrorsLeaveOneLineAtLevelOne) {
  VoSetDebugLevelImpl(1);
  { VoError e(7, "VoIndexError", "/a/b/VoString.cpp", 12); }
  EXPECT_EQ(mStream.mWrites,
            (std::vector<std::string>{"VoError: 7 \"VoIndexError\", file \"VoString.cpp\", line 12\n"}));

  struct Case {
    unsigned long code;
    const char* name;
    const char* file;
    int line;
    const char* expected;
  };
  const Case cases[] = {
      {3, nullptr, nullptr, 5, "VoError: 3 \"\", file \"\", line 5\n"},
      {19, "VoFormatErr", "C:\\src\\VoDataBase.cpp", -1,
       "VoError: 19 \"VoFormatErr\", file \"VoDataBase.cpp\", line -1\n"},
      {12, "FileNotOpen: /x y", nullptr, 0, "VoError: 12 \"FileNotOpen: /x y\", file \"\", line 0\n"},
      {0, "quiet", "f.cpp", 1, ""},  // code 0 is never traced
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    mStream.mWrites.clear();
    VoError e(c.code, c.name, c.file, c.line);
    EXPECT_EQ(mStream.All(), c.expected);
  }
}

TEST_F(VoDebugTest, OnlyTheRaisingConstructorTracesAndOnlyFromLevelOne) {
  VoSetDebugLevelImpl(5);
  VoError first(7, "VoIndexError", "a.cpp", 1);
  mStream.mWrites.clear();
  VoError copy(first);
  VoError other;
  other = first;
  VoSetDebugLevelImpl(0);
  VoError silent(7, "VoIndexError", "a.cpp", 1);
  EXPECT_TRUE(mStream.mWrites.empty());
}

TEST_F(VoDebugTest, ThrownErrorsAreTracedOnceWithTheirSource) {
  VoSetDebugLevelImpl(1);
  int line = 0;
  try {
    line = __LINE__ + 1;
    VO_THROW(eVoArgErr);
  } catch (const VoError&) {
  }
  EXPECT_EQ(mStream.All(),
            "VoError: 3 \"VoArgErr\", file \"VoDebugTest.cpp\", line " + std::to_string(line) + "\n");
}

// ---------------------------------------------------------------- failing streams

TEST_F(VoDebugTest, ErrorsOfTheStreamNeverReachTheCaller) {
  const RecordingStream::Failure failures[] = {RecordingStream::kVoError, RecordingStream::kBadAlloc,
                                               RecordingStream::kInt};
  for (RecordingStream::Failure failure : failures) {
    for (int level : {0, 1}) {  // at level 1 the stream's own error is traced too
      SCOPED_TRACE(testing::Message() << "failure " << failure << " level " << level);
      RecordingStream failing;
      failing.mFailure = failure;
      VoSetDebugOutputImpl(&failing);
      VoSetDebugLevelImpl(level);
      EXPECT_NO_THROW(VoDebugWriteImpl(0, "lost"));
      EXPECT_NO_THROW(VoDebugPrintfImpl(0, "lost %d", 2));
      // One attempt per message: the trace line of the stream's error is
      // dropped instead of being written to the failing stream again.
      EXPECT_EQ(failing.mCalls, 2u);
      EXPECT_TRUE(failing.mWrites.empty());
      VoSetDebugOutputImpl(&mStream);
    }
  }
}

TEST_F(VoDebugTest, AFailingLineEndLosesOnlyTheLineEnd) {
  RecordingStream failing;
  failing.mFailure = RecordingStream::kVoError;
  failing.mFailFrom = 1;  // the second Write of the message
  VoSetDebugOutputImpl(&failing);
  VoSetDebugLevelImpl(1);
  VoDebugWriteImpl(0, "text");
  EXPECT_EQ(failing.mWrites, (std::vector<std::string>{"text"}));
  // The log works again for the next message.
  failing.mFailure = RecordingStream::kNone;
  VoDebugWriteImpl(0, "next");
  EXPECT_EQ(failing.All(), "textnext\n");
}

// ---------------------------------------------------------------- choosing the stream

TEST_F(VoDebugTest, CurrentStreamSelection) {
  RecordingStream other;
  EXPECT_EQ(VoGetDebugOutputImpl(), &mStream);
  VoSetDebugOutputImpl(nullptr);  // keeps the installed stream
  EXPECT_EQ(VoGetDebugOutputImpl(), &mStream);
  EXPECT_EQ(VoOutputStream(nullptr), &mStream);
  EXPECT_EQ(VoOutputStream(&other), &other);
  VoDebugWriteImpl(0, "to other");
  EXPECT_EQ(other.All(), "to other\n");
  EXPECT_TRUE(mStream.mWrites.empty());
  EXPECT_EQ(mStream.RefCount(), 1);  // the log takes no reference of a caller's stream
  EXPECT_EQ(other.RefCount(), 1);
}

TEST_F(VoDebugTest, TheDefaultStreamIsOneStandardOutputStream) {
  VoStream* first = VoGetDefaultOutputStream();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(VoGetDefaultOutputStream(), first);
  EXPECT_STREQ(first->GetName().c_str(), "VoStream");
  // Writing to the default stream goes to standard output.
  VoSetDebugOutputImpl(first);
  std::fflush(stdout);
  const std::string path = TempDir() + "/stdout.txt";
  const int saved = dup(1);
  FILE* capture = std::fopen(path.c_str(), "w");
  ASSERT_NE(capture, nullptr);
  dup2(fileno(capture), 1);
  VoDebugWriteImpl(0, "on stdout");
  VoDebugPrintfImpl(0, "%d", 42);
  std::fflush(stdout);
  dup2(saved, 1);
  close(saved);
  std::fclose(capture);
  EXPECT_EQ(Get(path), "on stdout\n42\n");
}

// ---------------------------------------------------------------- log files

TEST_F(VoDebugTest, LogFileIsCreatedAndAppendedTo) {
  const std::string path = TempDir() + "/debug.log";
  { std::ofstream(path) << "earlier\n"; }
  VoSetDebugOutputFileImpl(VoString(path.c_str()));
  EXPECT_STREQ(VoGetDebugOutputFileImpl().c_str(), path.c_str());
  EXPECT_STREQ(VoOutputFile().c_str(), path.c_str());
  VoSetDebugLevelImpl(1);
  VoDebugWriteImpl(0, "one");
  EXPECT_EQ(Get(path), "earlier\none\n");  // in the file at once
  VoDebugPrintfImpl(1, "two %s", "2");
  { VoError e(12, "VoFileNotOpen", "VoFile.cpp", 9); }
  EXPECT_EQ(Get(path), "earlier\none\ntwo 2\nVoError: 12 \"VoFileNotOpen\", file \"VoFile.cpp\", line 9\n");
  EXPECT_TRUE(mStream.mWrites.empty());

  // A second file: a new stream; the first file is no longer written.
  const std::string second = TempDir() + "/second.log";
  VoSetDebugOutputFileImpl(VoString(second.c_str()));
  VoDebugWriteImpl(0, "three");
  EXPECT_EQ(Get(second), "three\n");
  EXPECT_EQ(Get(path), "earlier\none\ntwo 2\nVoError: 12 \"VoFileNotOpen\", file \"VoFile.cpp\", line 9\n");
}

TEST_F(VoDebugTest, EmptyLogFileNameKeepsTheFileStream) {
  const std::string path = TempDir() + "/keep.log";
  VoSetDebugOutputFileImpl(VoString(path.c_str()));
  VoStream* fileStream = VoGetDebugOutputImpl();
  VoSetDebugOutputFileImpl(VoString(""));
  EXPECT_STREQ(VoGetDebugOutputFileImpl().c_str(), "");
  EXPECT_EQ(VoGetDebugOutputImpl(), fileStream);
  VoDebugWriteImpl(0, "still to the file");
  EXPECT_EQ(Get(path), "still to the file\n");
  EXPECT_TRUE(mStream.mWrites.empty());
}

TEST_F(VoDebugTest, UnwritableLogFileLosesMessagesQuietly) {
  const std::string path = TempDir() + "/missing/folder/x.log";
  VoSetDebugOutputFileImpl(VoString(path.c_str()));
  VoSetDebugLevelImpl(3);
  EXPECT_NO_THROW(VoDebugWriteImpl(0, "lost"));
  EXPECT_NO_THROW({ VoError e(7, "VoIndexError", "x.cpp", 1); });
  struct stat st;
  EXPECT_NE(stat((TempDir() + "/missing").c_str(), &st), 0);
}

TEST_F(VoDebugTest, TheLogReleasesOnlyTheFileStreamsItMade) {
  const std::string path = TempDir() + "/owned.log";
  VoSetDebugOutputFileImpl(VoString(path.c_str()));
  VoStream* made = VoGetDebugOutputImpl();
  ASSERT_NE(made, &mStream);
  made->NewRef();  // keep it alive to watch its count
  EXPECT_EQ(made->RefCount(), 2);
  VoSetDebugOutputImpl(made);  // installing it again keeps the log's reference
  EXPECT_EQ(made->RefCount(), 2);
  VoSetDebugOutputImpl(&mStream);  // replaced: the log lets go of its reference
  EXPECT_EQ(made->RefCount(), 1);
  made->Write("x", 1, nullptr);  // still a working stream of the caller
  made->Delete();
  EXPECT_EQ(Get(path), "x");

  // A caller's stream replaced by a log file is not touched.
  VoSetDebugOutputFileImpl(VoString(path.c_str()));
  EXPECT_EQ(mStream.RefCount(), 1);
  VoSetDebugOutputImpl(&mStream);
  VoDebugWriteImpl(0, "back");
  EXPECT_EQ(mStream.All(), "back\n");
}

}  // namespace
