// VoFileTest.cpp - VoFile and VoFlushFileStream on real files, large sparse files and concurrent appends.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "VoCore/VoError.h"
#include "VoIO/VoFile.h"

namespace {

class VoFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/vo_file_test_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    mDir = tmpl;
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(mDir, ec);
  }

  std::string Path(const std::string& name) const { return mDir + "/" + name; }
  VoFileSpec Spec(const std::string& name) const { return VoFileSpec(VoString(Path(name).c_str())); }

  static void Put(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  static std::string Get(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }
  static bool Exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
  }
  static std::string Hundred() {
    std::string s;
    for (int i = 0; i < 100; ++i) s += static_cast<char>('A' + i % 26);
    return s;
  }

  std::string mDir;
};

/// Runs \p op and returns the code of the VoError it throws (0 when none).
unsigned long CodeOf(const std::function<void()>& op, std::string* name = nullptr) {
  try {
    op();
  } catch (const VoError& e) {
    if (name) *name = e.GetErrName();
    return e.GetErr();
  }
  return 0;
}

// ---------------------------------------------------------------- opening

TEST_F(VoFileTest, MissingFileForReadingFailsOnFirstUseNotOnConstruction) {
  const std::string path = Path("missing.txt");
  const std::vector<std::pair<const char*, std::function<void(VoFile&)>>> ops = {
      {"Read", [](VoFile& f) { char b[4]; f.Read(b, 4, nullptr); }},
      {"Length", [](VoFile& f) { f.Length(); }},
      {"SetPosition", [](VoFile& f) { f.SetPosition(0, eVoFileSeekBegin); }},
      {"GetPosition", [](VoFile& f) { f.GetPosition(); }},
      {"ReadString", [](VoFile& f) { f.ReadString(); }},
  };
  for (const auto& [what, op] : ops) {
    SCOPED_TRACE(what);
    VoFile file(Spec("missing.txt"), eVoFileRead);  // raises nothing
    try {
      op(file);
      ADD_FAILURE() << "no error";
    } catch (const VoError& e) {
      EXPECT_EQ(e.GetErr(), 12u);
      EXPECT_EQ(std::string(e.GetErrName()), "FileNotOpen (for reading): " + path);
      EXPECT_STREQ(e.GetFileName(), "");
      EXPECT_EQ(e.GetLine(), 0);
    }
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(file.GetAccess(), eVoFileRead);  // the access keeps its value
  }
  EXPECT_FALSE(Exists(path));
}

TEST_F(VoFileTest, OpenWithNoneOrAnUnknownModeNamesTheFile) {
  for (int mode : {0, 4, -1}) {
    SCOPED_TRACE(mode);
    VoFile file(Spec("x.txt"), eVoFileNone);
    std::string name;
    EXPECT_EQ(CodeOf([&] { file.Open(static_cast<eVoFileAccess>(mode)); }, &name), 12u);
    EXPECT_EQ(name, "FileNotOpen: " + Path("x.txt"));
    EXPECT_FALSE(file.IsOpen());
  }
  EXPECT_FALSE(Exists(Path("x.txt")));
}

TEST_F(VoFileTest, OpenOnAnOpenFileKeepsHandleAndMode) {
  Put(Path("a.txt"), "hello");
  VoFile file;
  file.SetSpec(Spec("a.txt"));
  file.Open(eVoFileRead);
  file.Open(eVoFileWrite);  // ignored: the file is not emptied
  EXPECT_EQ(file.GetAccess(), eVoFileRead);
  EXPECT_EQ(Get(Path("a.txt")), "hello");
  EXPECT_EQ(std::string(file.ReadString().c_str()), "hello");
  // Close resets the access; Open(None) on the closed file fails again.
  file.Close();
  EXPECT_EQ(file.GetAccess(), eVoFileNone);
  EXPECT_EQ(CodeOf([&] { file.Open(eVoFileNone); }), 12u);
}

TEST_F(VoFileTest, AccessModesOnExistingAndMissingFiles) {
  // Write empties an existing file, ReadWrite keeps it and starts at 0, both create.
  Put(Path("w.txt"), "old");
  Put(Path("rw.txt"), "old");
  {
    VoFile w(Spec("w.txt"), eVoFileNone);
    w.Open(eVoFileWrite);
    EXPECT_EQ(w.Length(), 0u);
    VoFile rw(Spec("rw.txt"), eVoFileNone);
    rw.Open(eVoFileReadWrite);
    EXPECT_EQ(rw.GetPosition(), 0);
    EXPECT_EQ(rw.Length(), 3u);
    VoFile made(Spec("new.txt"), eVoFileNone);
    made.Open(eVoFileReadWrite);
    EXPECT_EQ(made.Length(), 0u);
  }
  EXPECT_EQ(Get(Path("w.txt")), "");
  EXPECT_EQ(Get(Path("rw.txt")), "old");
  EXPECT_TRUE(Exists(Path("new.txt")));
}

TEST_F(VoFileTest, LazyOpeningFollowsTheConstructorsMode) {
  {
    VoFile out(Spec("lazy.txt"), eVoFileWrite);
    EXPECT_FALSE(out.IsOpen());
    unsigned long count = 99;
    out.Write("abc", 3, &count);
    EXPECT_TRUE(out.IsOpen());
    EXPECT_EQ(count, 3u);
  }
  EXPECT_EQ(Get(Path("lazy.txt")), "abc");
  // Reading first from a file constructed for writing does not open it.
  VoFile wrongWay(Spec("lazy.txt"), eVoFileWrite);
  char b[4];
  EXPECT_EQ(CodeOf([&] { wrongWay.Read(b, 3, nullptr); }), 12u);
  EXPECT_FALSE(wrongWay.IsOpen());
  EXPECT_EQ(Get(Path("lazy.txt")), "abc");
  // Neither direction opens a file constructed without access.
  VoFile none(Spec("lazy.txt"), eVoFileNone);
  EXPECT_EQ(CodeOf([&] { none.Write("x", 1, nullptr); }), 12u);
  EXPECT_EQ(CodeOf([&] { none.Read(b, 1, nullptr); }), 12u);
  EXPECT_EQ(CodeOf([&] { none.Length(); }), 12u);
}

TEST_F(VoFileTest, ClosedFileRaisesFileNotOpenForEveryOperation) {
  Put(Path("c.txt"), "content");
  VoFile file(Spec("c.txt"), eVoFileRead);
  EXPECT_EQ(file.Length(), 7u);
  file.Close();
  EXPECT_NO_THROW(file.Close());
  char b[4];
  const std::vector<std::pair<const char*, std::function<void()>>> ops = {
      {"Length", [&] { file.Length(); }},
      {"GetPosition", [&] { file.GetPosition(); }},
      {"SetPosition", [&] { file.SetPosition(1, eVoFileSeekBegin); }},
      {"Read", [&] { file.Read(b, 1, nullptr); }},
      {"Write", [&] { file.Write("x", 1, nullptr); }},
  };
  for (const auto& [what, op] : ops) {
    SCOPED_TRACE(what);
    std::string name;
    EXPECT_EQ(CodeOf(op, &name), 12u);
    EXPECT_EQ(name, "VoFileNotOpen");
  }
  EXPECT_EQ(Get(Path("c.txt")), "content");
}

TEST_F(VoFileTest, NameAndSpec) {
  VoFile file(VoFileSpec("/tmp/a.txt"), eVoFileNone);
  EXPECT_STREQ(file.GetName().c_str(), "VoFile\t/tmp/a.txt");
  VoFileSpec out;
  file.GetSpec(out);
  EXPECT_STREQ(out.GetFullName().c_str(), "/tmp/a.txt");
  EXPECT_EQ(out.GetTypeID(), 0x54455854u);  // "TEXT"
  VoFile empty;
  EXPECT_STREQ(empty.GetName().c_str(), "VoFile\t");
}

TEST_F(VoFileTest, SetSpecOnAnOpenFileStaysOnTheOldFile) {
  Put(Path("one.txt"), "one");
  Put(Path("two.txt"), "two");
  VoFile file(Spec("one.txt"), eVoFileRead);
  EXPECT_EQ(file.Length(), 3u);  // opens one.txt
  file.SetSpec(Spec("two.txt"));
  EXPECT_STREQ(file.ReadString().c_str(), "one");
  EXPECT_STREQ(file.GetName().c_str(), ("VoFile\t" + Path("two.txt")).c_str());
}

// ---------------------------------------------------------------- reading and writing

TEST_F(VoFileTest, NullBuffersAndEmptyTransfers) {
  Put(Path("n.txt"), "abc");
  VoFile in(Spec("n.txt"), eVoFileRead);
  std::string name;
  EXPECT_EQ(CodeOf([&] { in.Read(nullptr, 1, nullptr); }, &name), 3u);
  EXPECT_EQ(name, "VoArgErr");
  EXPECT_FALSE(in.IsOpen());  // the buffer is checked before opening

  VoFile out(Spec("o.txt"), eVoFileWrite);
  EXPECT_EQ(CodeOf([&] { out.Write(nullptr, 1, nullptr); }), 3u);
  EXPECT_TRUE(out.IsOpen());  // the buffer is checked after opening
  unsigned long count = 7;
  out.Write("x", 0, &count);
  EXPECT_EQ(count, 0u);
  out.Close();
  EXPECT_EQ(Get(Path("o.txt")), "");
}

TEST_F(VoFileTest, ReadAtTheEndStoresZero) {
  Put(Path("r.txt"), "abc");
  VoFile file(Spec("r.txt"), eVoFileRead);
  char b[8];
  unsigned long count = 0;
  file.Read(b, 8, &count);
  EXPECT_EQ(count, 3u);
  count = 5;
  file.Read(b, 8, &count);
  EXPECT_EQ(count, 0u);
}

TEST_F(VoFileTest, WriteToAReadOnlyHandleFailsAfterStoringTheCount) {
  Put(Path("ro.txt"), "abc");
  VoFile file(Spec("ro.txt"), eVoFileRead);
  EXPECT_EQ(file.Length(), 3u);
  unsigned long count = 42;
  std::string name;
  EXPECT_EQ(CodeOf([&] { file.Write("xyz", 3, &count); }, &name), 17u);
  EXPECT_EQ(name, "VoFileWriteFailed");
  EXPECT_EQ(count, 0u);
  file.Close();
  EXPECT_EQ(Get(Path("ro.txt")), "abc");
}

TEST_F(VoFileTest, WriteStringKeepsEveryByte) {
  {
    VoFile file(Spec("crlf.txt"), eVoFileWrite);
    file.WriteString(VoString("a\r\nb"));
    file.WriteString(VoString("\0z", 2, true));  // a fixed-length string with a zero byte
    file.WriteString(VoString());
  }
  EXPECT_EQ(Get(Path("crlf.txt")), std::string("a\r\nb\0z", 6));
}

TEST_F(VoFileTest, ReadsAndWritesMayFollowEachOtherOnAReadWriteFile) {
  Put(Path("rw.txt"), "0123456789");
  VoFile file(Spec("rw.txt"), eVoFileReadWrite);
  char b[4] = {};
  unsigned long n = 0;
  file.Read(b, 3, &n);
  EXPECT_EQ(std::string(b, n), "012");
  file.Write("ab", 2, nullptr);  // overwrites 3 and 4 without an explicit seek
  file.Read(b, 2, &n);
  EXPECT_EQ(std::string(b, n), "56");
  EXPECT_EQ(file.GetPosition(), 7);
  file.Close();
  EXPECT_EQ(Get(Path("rw.txt")), "012ab56789");
}

// ---------------------------------------------------------------- positions and lengths

TEST_F(VoFileTest, SetPositionModes) {
  Put(Path("p.bin"), Hundred());
  VoFile file(Spec("p.bin"), eVoFileRead);
  struct Step {
    long offset;
    int mode;
    long expected;
  };
  const Step steps[] = {
      {0, eVoFileSeekEnd, 100},   {10, eVoFileSeekEnd, 90},  {5, eVoFileSeekCurrent, 95},
      {-95, eVoFileSeekCurrent, 0}, {42, eVoFileSeekBegin, 42}, {100, eVoFileSeekEnd, 0},
      {250, eVoFileSeekBegin, 250},  // beyond the end is allowed
      {-50, eVoFileSeekEnd, 150},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(testing::Message() << s.offset << " mode " << s.mode);
    file.SetPosition(s.offset, static_cast<eVoFileSeekMode>(s.mode));
    EXPECT_EQ(file.GetPosition(), s.expected);
  }
  std::string name;
  EXPECT_EQ(CodeOf([&] { file.SetPosition(0, static_cast<eVoFileSeekMode>(3)); }, &name), 3u);
  EXPECT_EQ(name, "VoArgErr");
  EXPECT_EQ(file.GetPosition(), 150);
}

TEST_F(VoFileTest, SeeksToNegativePositionsFail) {
  Put(Path("p.bin"), Hundred());
  VoFile file(Spec("p.bin"), eVoFileRead);
  file.SetPosition(20, eVoFileSeekBegin);
  const std::pair<long, int> bad[] = {
      {-1, eVoFileSeekBegin}, {101, eVoFileSeekEnd}, {-21, eVoFileSeekCurrent},
      {LONG_MIN, eVoFileSeekEnd},  // length - offset overflows
  };
  for (const auto& step : bad) {
    SCOPED_TRACE(step.first);
    std::string name;
    EXPECT_EQ(CodeOf([&] { file.SetPosition(step.first, static_cast<eVoFileSeekMode>(step.second)); }, &name), 14u);
    EXPECT_EQ(name, "VoFileSeekFailed");
    EXPECT_EQ(file.GetPosition(), 20);
  }
}

TEST_F(VoFileTest, LengthKeepsThePosition) {
  Put(Path("l.bin"), Hundred());
  VoFile file(Spec("l.bin"), eVoFileRead);
  char b[10];
  file.Read(b, 10, nullptr);
  EXPECT_EQ(file.Length(), 100u);
  EXPECT_EQ(file.GetPosition(), 10);
  unsigned long n = 0;
  file.Read(b, 1, &n);
  EXPECT_EQ(b[0], 'K');  // the 11th byte
}

TEST_F(VoFileTest, LengthCountsBytesStillInTheWriteBuffer) {
  VoFile file(Spec("buf.bin"), eVoFileWrite);
  file.Write("12345", 5, nullptr);
  EXPECT_EQ(file.Length(), 5u);
  EXPECT_EQ(file.GetPosition(), 5);
  file.SetPosition(2, eVoFileSeekBegin);
  file.Write("x", 1, nullptr);
  file.Close();
  EXPECT_EQ(Get(Path("buf.bin")), "12x45");
}

TEST_F(VoFileTest, UnseekableStreamsReportTheirCodes) {
  const std::string path = Path("fifo");
  ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
  VoFile file(Spec("fifo"), eVoFileReadWrite);  // read-write does not wait for a partner
  std::string name;
  EXPECT_EQ(CodeOf([&] { file.Length(); }, &name), 13u);
  EXPECT_EQ(name, "VoFileLengthFailed");
  EXPECT_EQ(CodeOf([&] { file.GetPosition(); }, &name), 15u);
  EXPECT_EQ(name, "VoFilePosFailed");
  EXPECT_EQ(CodeOf([&] { file.SetPosition(0, eVoFileSeekBegin); }, &name), 14u);
  EXPECT_EQ(name, "VoFileSeekFailed");
  EXPECT_TRUE(file.IsOpen());
}

// ---------------------------------------------------------------- ReadString

TEST_F(VoFileTest, ReadStringReturnsTheRestOfTheFile) {
  std::string content = Hundred();
  content[50] = '\0';
  Put(Path("s.bin"), content);
  Put(Path("empty.bin"), "");
  VoFile file(Spec("s.bin"), eVoFileRead);
  char b[10];
  file.Read(b, 10, nullptr);
  VoString rest = file.ReadString();
  ASSERT_EQ(rest.length(), 90);
  EXPECT_EQ(std::string(rest.c_str(), 90), content.substr(10));
  EXPECT_EQ(file.GetPosition(), 100);
  EXPECT_EQ(file.ReadString().length(), 0);  // at the end
  file.SetPosition(500, eVoFileSeekBegin);
  EXPECT_EQ(file.ReadString().length(), 0);  // beyond the end

  VoFile empty(Spec("empty.bin"), eVoFileRead);
  EXPECT_EQ(empty.ReadString().length(), 0);
}

/// A file whose reads deliver at most \p limit bytes per call.
class ShortReadFile : public VoFile {
 public:
  ShortReadFile(const VoFileSpec& spec, unsigned long limit) : VoFile(spec, eVoFileRead), mLimit(limit) {}
  void Read(void* buffer, unsigned long size, unsigned long* count) override {
    VoFile::Read(buffer, size < mLimit ? size : mLimit, count);
  }
  unsigned long mLimit;
};

TEST_F(VoFileTest, ReadStringUsesTheVirtualReadAndZeroesWhatItDidNotDeliver) {
  Put(Path("short.bin"), "abcdefgh");
  ShortReadFile file(Spec("short.bin"), 3);
  VoString text = file.ReadString();
  ASSERT_EQ(text.length(), 8);
  EXPECT_EQ(std::string(text.c_str(), 8), std::string("abc\0\0\0\0\0", 8));
}

// ---------------------------------------------------------------- large files

TEST_F(VoFileTest, FilesBeyondFourGibibytesAreWrittenMeasuredPositionedAndRead) {
  const long kGiB = 1L << 30;
  const long marks[] = {(1L << 31) - 2, 3 * kGiB, (1L << 32) - 1, 5 * kGiB + 123};
  {
    VoFile file(Spec("big.bin"), eVoFileWrite);
    for (long at : marks) {
      file.SetPosition(at, eVoFileSeekBegin);
      file.Write("MARK", 4, nullptr);  // straddles the 2 GiB and 4 GiB borders
    }
    EXPECT_EQ(file.GetPosition(), marks[3] + 4);
  }
  struct stat st;
  ASSERT_EQ(stat(Path("big.bin").c_str(), &st), 0);
  EXPECT_EQ(st.st_size, marks[3] + 4);

  VoFile file(Spec("big.bin"), eVoFileRead);
  EXPECT_EQ(file.Length(), static_cast<unsigned long>(marks[3] + 4));
  for (long at : marks) {
    SCOPED_TRACE(at);
    file.SetPosition(at - 2, eVoFileSeekBegin);
    char b[8] = {};
    unsigned long n = 0;
    file.Read(b, 8, &n);
    EXPECT_EQ(std::string(b, n).substr(0, 6), std::string("\0\0MARK", 6));
    EXPECT_EQ(file.GetPosition(), at - 2 + static_cast<long>(n));
  }
  file.SetPosition(4, eVoFileSeekEnd);
  EXPECT_EQ(file.GetPosition(), marks[3]);
  file.SetPosition(-(marks[3] - marks[2]), eVoFileSeekCurrent);
  EXPECT_EQ(file.GetPosition(), marks[2]);
  // The rest is no VoString: refused before anything is allocated or read.
  file.SetPosition(0, eVoFileSeekBegin);
  std::string name;
  EXPECT_EQ(CodeOf([&] { file.ReadString(); }, &name), 4u);
  EXPECT_EQ(name, "VoMemFullErr");
  EXPECT_EQ(file.GetPosition(), 0);
  // A rest that fits is read whole.
  file.SetPosition(6, eVoFileSeekEnd);
  VoString tail = file.ReadString();
  EXPECT_EQ(std::string(tail.c_str(), static_cast<std::size_t>(tail.length())), std::string("\0\0MARK", 6));
}

// ---------------------------------------------------------------- VoFlushFileStream

TEST_F(VoFileTest, FlushStreamAppendsAndKeepsEarlierContent) {
  Put(Path("log.txt"), "abc");
  VoFlushFileStream stream(Spec("log.txt"));
  unsigned long count = 0;
  stream.Write("d", 1, &count);
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(Get(Path("log.txt")), "abcd");  // in the file at once
  stream.Write("e", 1, nullptr);
  EXPECT_EQ(Get(Path("log.txt")), "abcde");
  // Another writer may replace the file between writes.
  Put(Path("log.txt"), "X");
  stream.Write("f", 1, nullptr);
  EXPECT_EQ(Get(Path("log.txt")), "Xf");
}

TEST_F(VoFileTest, FlushStreamCreatesAMissingFileWithTheUsualMode) {
  const mode_t saved = umask(027);
  VoFlushFileStream stream(Spec("new.log"));
  stream.Write("line\n", 5, nullptr);
  umask(saved);
  struct stat st;
  ASSERT_EQ(stat(Path("new.log").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(Get(Path("new.log")), "line\n");
}

TEST_F(VoFileTest, FlushStreamLosesWritesItCannotMakeSilently) {
  VoFlushFileStream stream(Spec("no/such/folder/log.txt"));
  unsigned long count = 77;
  EXPECT_NO_THROW(stream.Write("abc", 3, &count));
  EXPECT_EQ(count, 77u);
  EXPECT_NO_THROW(stream.Write(nullptr, 3, &count));
  EXPECT_FALSE(Exists(Path("no")));
  // A folder as the file.
  VoFlushFileStream onFolder(VoFileSpec(VoString(mDir.c_str())));
  EXPECT_NO_THROW(onFolder.Write("abc", 3, &count));
  EXPECT_EQ(count, 77u);
}

TEST_F(VoFileTest, FlushStreamImplementsOnlyWrite) {
  VoFlushFileStream stream(Spec("w.txt"));
  char b[2];
  const std::vector<std::function<void()>> ops = {
      [&] { stream.Read(b, 1, nullptr); },
      [&] { stream.SetPosition(0, eVoFileSeekBegin); },
      [&] { stream.GetPosition(); },
  };
  for (const auto& op : ops) {
    std::string name;
    EXPECT_EQ(CodeOf(op, &name), 1u);
    EXPECT_EQ(name, "VoUndefProc");
  }
  EXPECT_STREQ(stream.GetName().c_str(), "VoStream");
  EXPECT_FALSE(Exists(Path("w.txt")));  // construction touches nothing
}

TEST_F(VoFileTest, ConcurrentAppendsFromSeveralProcessesLoseAndSplitNothing) {
  constexpr int kProcesses = 4;
  constexpr int kLines = 2500;
  const std::string path = Path("shared.log");
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      VoFlushFileStream stream(VoFileSpec(VoString(path.c_str())));
      for (int i = 0; i < kLines; ++i) {
        // Mostly short lines, every 100th longer than a C library buffer.
        std::string line = "p" + std::to_string(p) + " " + std::to_string(i) + " ";
        line += std::string(i % 100 == 0 ? 9000 : i % 37, static_cast<char>('a' + p));
        line += '\n';
        unsigned long count = 0;
        stream.Write(line.data(), line.size(), &count);
        if (count != line.size()) _exit(2);
      }
      _exit(0);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  std::istringstream in(Get(path));
  std::map<int, int> next;  // each process's lines arrive in its own order
  std::string line;
  int total = 0;
  while (std::getline(in, line)) {
    int p = -1, i = -1;
    char tail[2] = {};
    ASSERT_EQ(std::sscanf(line.c_str(), "p%d %d%1c", &p, &i, tail), 3) << line.substr(0, 40);
    ASSERT_TRUE(p >= 0 && p < kProcesses);
    const std::string expected = "p" + std::to_string(p) + " " + std::to_string(i) + " " +
                                 std::string(i % 100 == 0 ? 9000 : i % 37, static_cast<char>('a' + p));
    ASSERT_EQ(line, expected);
    ASSERT_EQ(i, next[p]);
    ++next[p];
    ++total;
  }
  EXPECT_EQ(total, kProcesses * kLines);
}

}  // namespace
