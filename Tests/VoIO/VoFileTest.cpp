// VoFileTest.cpp - VoFile and VoFlushFileStream on real files, large sparse files and concurrent appends.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "Mac/VoMacToolsOSX.h"
#include "VoCore/VoError.h"
#include "VoIO/VoFile.h"
#include "VoSystem/VoSystem.h"
#include "Support/VoTempFolder.h"
namespace {

/// Runs \p op; the code of the VoError it throws (0 when none), its name in \p name.
unsigned long CodeOf(const std::function<void()>& op, std::string* name = nullptr) {
  try {
    op();
  } catch (const VoError& e) {
    if (name) *name = e.GetErrName();
    return e.GetErr();
  }
  return 0;
}

class VoFileTest : public vo_test::TempFolderTest {
 protected:
  bool Exists(const std::string& name) const { return std::filesystem::exists(Path(name)); }
  static std::string Hundred() {
    std::string s;
    for (int i = 0; i < 100; ++i) s += static_cast<char>('A' + i % 26);
    return s;
  }
};

// ---------------------------------------------------------------- opening and closing

TEST_F(VoFileTest, MissingFileForReadingFailsOnFirstUseNotOnConstruction) {
  const std::vector<std::function<void(VoFile&)>> ops = {
      [](VoFile& f) {
        char b[4];
        f.Read(b, 4, nullptr);
      },
      [](VoFile& f) { f.Length(); },
      [](VoFile& f) { f.SetPosition(0, eVoFileSeekBegin); },
      [](VoFile& f) { f.GetPosition(); },
      [](VoFile& f) { f.ReadString(); },
  };
  for (std::size_t i = 0; i < ops.size(); ++i) {
    SCOPED_TRACE(i);
    VoFile file(Spec("missing.txt"), eVoFileRead);  // raises nothing
    try {
      ops[i](file);
      ADD_FAILURE() << "no error";
    } catch (const VoError& e) {
      EXPECT_EQ(e.GetErr(), 12u);
      EXPECT_EQ(std::string(e.GetErrName()), "FileNotOpen (for reading): " + Path("missing.txt"));
      EXPECT_STREQ(e.GetFileName(), "");
      EXPECT_EQ(e.GetLine(), 0);
    }
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(file.GetAccess(), eVoFileRead);  // the access keeps its value
  }
  EXPECT_FALSE(Exists("missing.txt"));
}

TEST_F(VoFileTest, OpenWithNoneOrAnUnknownModeNamesTheFile) {
  for (int mode : {0, 4, -1}) {
    VoFile file(Spec("x.txt"), eVoFileNone);
    std::string name;
    EXPECT_EQ(CodeOf([&] { file.Open(static_cast<eVoFileAccess>(mode)); }, &name), 12u) << mode;
    EXPECT_EQ(name, "FileNotOpen: " + Path("x.txt"));
    EXPECT_FALSE(file.IsOpen());
  }
  EXPECT_FALSE(Exists("x.txt"));
}

// A fixed-length name whose length was made negative names no file: an
// argument error in every mode, and in the bridge below.
TEST_F(VoFileTest, ANameOfNegativeLengthIsAnArgumentError) {
  VoString name(Path("x.txt").c_str(), static_cast<long>(Path("x.txt").size()), true);
  name.SetLength(-1);
  const VoFileSpec spec(name);
  for (eVoFileAccess mode : {eVoFileRead, eVoFileWrite, eVoFileReadWrite}) {
    VoFile file(spec, eVoFileNone);
    EXPECT_EQ(CodeOf([&] { file.Open(mode); }), 3u) << mode;
  }
  FSRef ref;
  EXPECT_EQ(CodeOf([&] { VoFileSpecToFSRef(ref, spec); }), 3u);
  EXPECT_FALSE(Exists("x.txt"));
}

TEST_F(VoFileTest, OpenOnAnOpenFileChangesNothingAndCloseResetsTheAccess) {
  Put("a.txt", "hello");
  VoFile file;
  file.SetSpec(Spec("a.txt"));
  file.Open(eVoFileRead);
  file.Open(eVoFileWrite);  // ignored: the file is not emptied
  EXPECT_EQ(file.GetAccess(), eVoFileRead);
  EXPECT_STREQ(file.ReadString().c_str(), "hello");
  file.Close();
  EXPECT_NO_THROW(file.Close());
  EXPECT_EQ(file.GetAccess(), eVoFileNone);
  EXPECT_EQ(Get("a.txt"), "hello");
}

TEST_F(VoFileTest, AccessModesOnExistingAndMissingFiles) {
  Put("w.txt", "old");
  Put("rw.txt", "old");
  {
    VoFile w(Spec("w.txt"), eVoFileNone);
    w.Open(eVoFileWrite);  // empties
    EXPECT_EQ(w.Length(), 0u);
    VoFile rw(Spec("rw.txt"), eVoFileNone);
    rw.Open(eVoFileReadWrite);  // keeps, starts at 0
    EXPECT_EQ(rw.GetPosition(), 0);
    EXPECT_EQ(rw.Length(), 3u);
    VoFile made(Spec("new.txt"), eVoFileNone);
    made.Open(eVoFileReadWrite);  // creates
  }
  EXPECT_EQ(Get("w.txt"), "");
  EXPECT_EQ(Get("rw.txt"), "old");
  EXPECT_TRUE(Exists("new.txt"));
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
  EXPECT_EQ(Get("lazy.txt"), "abc");
  // Without a handle, an operation that does not open for its direction
  // raises "VoFileNotOpen" like the others.
  char b[4];
  VoFile wrongWay(Spec("lazy.txt"), eVoFileWrite);
  VoFile none(Spec("lazy.txt"), eVoFileNone);
  VoFile closed(Spec("lazy.txt"), eVoFileRead);
  closed.Length();
  closed.Close();
  const std::vector<std::function<void()>> ops = {
      [&] { wrongWay.Read(b, 3, nullptr); },
      [&] { none.Write("x", 1, nullptr); },
      [&] { none.Read(b, 1, nullptr); },
      [&] { none.Length(); },
      [&] { closed.Length(); },
      [&] { closed.GetPosition(); },
      [&] { closed.SetPosition(1, eVoFileSeekBegin); },
      [&] { closed.Read(b, 1, nullptr); },
  };
  for (std::size_t i = 0; i < ops.size(); ++i) {
    std::string name;
    EXPECT_EQ(CodeOf(ops[i], &name), 12u) << i;
    EXPECT_EQ(name, "VoFileNotOpen") << i;
  }
  EXPECT_FALSE(wrongWay.IsOpen());
  EXPECT_EQ(Get("lazy.txt"), "abc");
}

TEST_F(VoFileTest, NameAndSpec) {
  Put("one.txt", "one");
  VoFile file(Spec("one.txt"), eVoFileRead);
  EXPECT_EQ(file.Length(), 3u);            // opens one.txt
  file.SetSpec(VoFileSpec("/tmp/a.txt"));  // the handle stays on one.txt
  EXPECT_STREQ(file.GetName().c_str(), "VoFile\t/tmp/a.txt");
  VoFileSpec out;
  file.GetSpec(out);
  EXPECT_STREQ(out.GetFullName().c_str(), "/tmp/a.txt");
  EXPECT_EQ(out.GetTypeID(), 0x54455854u);  // "TEXT"
  EXPECT_STREQ(file.ReadString().c_str(), "one");
  EXPECT_STREQ(VoFile().GetName().c_str(), "VoFile\t");
}

// ---------------------------------------------------------------- reading and writing

TEST_F(VoFileTest, ArgumentsCountsAndShortTransfers) {
  Put("n.txt", "abc");
  VoFile in(Spec("n.txt"), eVoFileRead);
  std::string name;
  EXPECT_EQ(CodeOf([&] { in.Read(nullptr, 1, nullptr); }, &name), 3u);
  EXPECT_EQ(name, "VoArgErr");
  EXPECT_FALSE(in.IsOpen());  // checked before opening
  char b[8];
  unsigned long count = 0;
  in.Read(b, 8, &count);
  EXPECT_EQ(count, 3u);
  count = 5;
  in.Read(b, 8, &count);  // at the end: 0, no error
  EXPECT_EQ(count, 0u);
  count = 42;
  EXPECT_EQ(CodeOf([&] { in.Write("xyz", 3, &count); }, &name), 17u);  // a read-only handle
  EXPECT_EQ(name, "VoFileWriteFailed");
  EXPECT_EQ(count, 0u);  // stored before the error

  VoFile out(Spec("o.txt"), eVoFileWrite);
  EXPECT_EQ(CodeOf([&] { out.Write(nullptr, 1, nullptr); }), 3u);
  EXPECT_TRUE(out.IsOpen());  // checked after opening
  count = 7;
  out.Write("x", 0, &count);
  EXPECT_EQ(count, 0u);
  out.WriteString(VoString("a\r\nb"));
  out.WriteString(VoString("\0z", 2, true));  // zero bytes of a fixed-length string too
  out.WriteString(VoString());
  out.Close();
  EXPECT_EQ(Get("o.txt"), std::string("a\r\nb\0z", 6));
  EXPECT_EQ(Get("n.txt"), "abc");
}

TEST_F(VoFileTest, ReadsAndWritesMayFollowEachOtherOnAReadWriteFile) {
  Put("rw.txt", "0123456789");
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
  EXPECT_EQ(Get("rw.txt"), "012ab56789");
}

// ---------------------------------------------------------------- positions and lengths

TEST_F(VoFileTest, SetPositionModes) {
  Put("p.bin", Hundred());
  VoFile file(Spec("p.bin"), eVoFileRead);
  struct Step {
    long offset;
    int mode;
    long expected;  // -1: "VoFileSeekFailed", the position stays
  };
  const Step steps[] = {
      {0, eVoFileSeekEnd, 100},       {10, eVoFileSeekEnd, 90},   {5, eVoFileSeekCurrent, 95},
      {-95, eVoFileSeekCurrent, 0},   {42, eVoFileSeekBegin, 42}, {100, eVoFileSeekEnd, 0},
      {250, eVoFileSeekBegin, 250},   {-50, eVoFileSeekEnd, 150},  // beyond the end is allowed
      {-1, eVoFileSeekBegin, -1},     {101, eVoFileSeekEnd, -1},  {-151, eVoFileSeekCurrent, -1},
      {LONG_MIN, eVoFileSeekEnd, -1},  // length - offset overflows
  };
  long at = 0;
  for (const Step& s : steps) {
    SCOPED_TRACE(testing::Message() << s.offset << " mode " << s.mode);
    std::string name;
    const unsigned long code =
        CodeOf([&] { file.SetPosition(s.offset, static_cast<eVoFileSeekMode>(s.mode)); }, &name);
    if (s.expected < 0) {
      EXPECT_EQ(code, 14u);
      EXPECT_EQ(name, "VoFileSeekFailed");
    } else {
      EXPECT_EQ(code, 0u);
      at = s.expected;
    }
    EXPECT_EQ(file.GetPosition(), at);
  }
  std::string name;
  EXPECT_EQ(CodeOf([&] { file.SetPosition(0, static_cast<eVoFileSeekMode>(3)); }, &name), 3u);
  EXPECT_EQ(name, "VoArgErr");
}

TEST_F(VoFileTest, LengthKeepsThePositionAndCountsBufferedBytes) {
  Put("l.bin", Hundred());
  VoFile file(Spec("l.bin"), eVoFileRead);
  char b[10];
  file.Read(b, 10, nullptr);
  EXPECT_EQ(file.Length(), 100u);
  EXPECT_EQ(file.GetPosition(), 10);
  file.Read(b, 1, nullptr);
  EXPECT_EQ(b[0], 'K');  // the 11th byte

  VoFile out(Spec("buf.bin"), eVoFileWrite);
  out.Write("12345", 5, nullptr);
  EXPECT_EQ(out.Length(), 5u);
  out.SetPosition(2, eVoFileSeekBegin);
  out.Write("x", 1, nullptr);
  out.Close();
  EXPECT_EQ(Get("buf.bin"), "12x45");
}

TEST_F(VoFileTest, UnseekableStreamsReportTheirCodes) {
  ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0600), 0);
  VoFile file(Spec("fifo"), eVoFileReadWrite);  // read-write does not wait for a partner
  std::string name;
  EXPECT_EQ(CodeOf([&] { file.Length(); }, &name), 13u);
  EXPECT_EQ(name, "VoFileLengthFailed");
  EXPECT_EQ(CodeOf([&] { file.GetPosition(); }, &name), 15u);
  EXPECT_EQ(name, "VoFilePosFailed");
  EXPECT_EQ(CodeOf([&] { file.SetPosition(0, eVoFileSeekBegin); }, &name), 14u);
  EXPECT_TRUE(file.IsOpen());
}

// ---------------------------------------------------------------- ReadString

TEST_F(VoFileTest, ReadStringReturnsTheRestOfTheFile) {
  std::string content = Hundred();
  content[50] = '\0';
  Put("s.bin", content);
  Put("empty.bin", "");
  VoFile file(Spec("s.bin"), eVoFileRead);
  char b[10];
  file.Read(b, 10, nullptr);
  VoString rest = file.ReadString();
  ASSERT_EQ(rest.length(), 90);  // the zero byte does not end it
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
  Put("short.bin", "abcdefgh");
  ShortReadFile file(Spec("short.bin"), 3);
  VoString text = file.ReadString();
  ASSERT_EQ(text.length(), 8);
  EXPECT_EQ(std::string(text.c_str(), 8), std::string("abc\0\0\0\0\0", 8));
}

TEST_F(VoFileTest, FilesBeyondFourGibibytesAreWrittenMeasuredPositionedAndRead) {
  const long kGiB = 1L << 30;
  // Marks straddling the 2 GiB and 4 GiB borders of a sparse file.
  const long marks[] = {(1L << 31) - 2, 3 * kGiB, (1L << 32) - 1, 5 * kGiB + 123};
  {
    VoFile file(Spec("big.bin"), eVoFileWrite);
    for (long at : marks) {
      file.SetPosition(at, eVoFileSeekBegin);
      file.Write("MARK", 4, nullptr);
    }
    EXPECT_EQ(file.GetPosition(), marks[3] + 4);
  }
  EXPECT_EQ(std::filesystem::file_size(Path("big.bin")), static_cast<std::uintmax_t>(marks[3] + 4));
  VoFile file(Spec("big.bin"), eVoFileRead);
  EXPECT_EQ(file.Length(), static_cast<unsigned long>(marks[3] + 4));
  for (long at : marks) {
    file.SetPosition(at - 2, eVoFileSeekBegin);
    char b[6] = {};
    file.Read(b, 6, nullptr);
    EXPECT_EQ(std::string(b, 6), std::string("\0\0MARK", 6)) << at;
  }
  file.SetPosition(4, eVoFileSeekEnd);
  EXPECT_EQ(file.GetPosition(), marks[3]);
  file.SetPosition(-(marks[3] - marks[2]), eVoFileSeekCurrent);
  EXPECT_EQ(file.GetPosition(), marks[2]);
  // A rest beyond what a VoString holds is refused before anything is read.
  file.SetPosition(0, eVoFileSeekBegin);
  std::string name;
  EXPECT_EQ(CodeOf([&] { file.ReadString(); }, &name), 4u);
  EXPECT_EQ(name, "VoMemFullErr");
  EXPECT_EQ(file.GetPosition(), 0);
  file.SetPosition(6, eVoFileSeekEnd);
  VoString tail = file.ReadString();
  EXPECT_EQ(std::string(tail.c_str(), static_cast<std::size_t>(tail.length())), std::string("\0\0MARK", 6));
}

// The database saves through ReplaceContents; its tests cover links, modes and
// attributes. Here: every byte replaces the old text, and a file that cannot
// be made throws code 12 with the name and errno set.
TEST_F(VoFileTest, ReplaceContentsPutsEveryByteInPlaceOrThrowsCode12) {
  Put("r.txt", "a much longer old text");
  VoFile::ReplaceContents(Spec("r.txt"), VoString("new\0text", 8, true));
  EXPECT_EQ(Get("r.txt"), std::string("new\0text", 8));
  std::string name;
  EXPECT_EQ(CodeOf([&] { VoFile::ReplaceContents(Spec("no/r.txt"), VoString("x")); }, &name), 12u);
  EXPECT_EQ(name, "FileNotOpen: (for writing)" + Path("no/r.txt"));
  EXPECT_EQ(errno, ENOENT);
}

// ---------------------------------------------------------------- VoFlushFileStream

// The last buffered bytes reach the file only when it is closed: a written
// file whose close cannot write them (a file-size limit) fails, and so does a copy.
TEST_F(VoFileTest, AWrittenFileWhoseCloseFailsReportsIt) {
  Put("source", std::string(100, 's'));
  struct rlimit saved, low;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  low = {50, saved.rlim_max};
  const auto previous = signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &low), 0);
  const auto code = [](const std::function<void()>& op) {
    try {
      op();
    } catch (const VoError& e) {
      return e.GetErr();
    }
    return 0ul;
  };
  VoFile file(Spec("written"), eVoFileWrite);
  file.WriteString(VoString(std::string(100, 'w').c_str()));
  EXPECT_EQ(code([&] { file.Close(); }), 17u);
  EXPECT_EQ(code([&] { VoSystem::CopyFile(Spec("source"), Spec("copy")); }), 17u);
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, previous);
}

TEST_F(VoFileTest, FlushStreamAppendsCreatesAndKeepsEarlierContent) {
  Put("log.txt", "abc");
  VoFlushFileStream stream(Spec("log.txt"));
  unsigned long count = 0;
  stream.Write("d", 1, &count);
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(Get("log.txt"), "abcd");  // in the file at once
  stream.Write("e", 1, nullptr);
  EXPECT_EQ(Get("log.txt"), "abcde");
  Put("log.txt", "X");  // replaced by someone else between writes
  stream.Write("f", 1, nullptr);
  EXPECT_EQ(Get("log.txt"), "Xf");

  const mode_t saved = umask(027);
  VoFlushFileStream fresh(Spec("new.log"));
  EXPECT_FALSE(Exists("new.log"));  // construction touches nothing
  fresh.Write("line\n", 5, nullptr);
  umask(saved);
  struct stat st;
  ASSERT_EQ(stat(Path("new.log").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(Get("new.log"), "line\n");
}

// A log named through a symbolic link to a missing file creates that file.
TEST_F(VoFileTest, FlushStreamThroughADanglingLinkCreatesItsTarget) {
  ASSERT_EQ(symlink("real.log", Path("log.link").c_str()), 0);
  VoFlushFileStream stream(Spec("log.link"));
  unsigned long count = 0;
  stream.Write("hello\n", 6, &count);
  EXPECT_EQ(count, 6u);
  EXPECT_EQ(Get("real.log"), "hello\n");
  stream.Write("again\n", 6, &count);
  EXPECT_EQ(Get("real.log"), "hello\nagain\n");
}

TEST_F(VoFileTest, FlushStreamNeverRaisesFromWriteAndImplementsNothingElse) {
  unsigned long count = 77;
  VoFlushFileStream lost(Spec("no/such/folder/log.txt"));
  EXPECT_NO_THROW(lost.Write("abc", 3, &count));
  EXPECT_NO_THROW(lost.Write(nullptr, 3, &count));
  VoFlushFileStream onFolder(VoFileSpec(VoString(mDir.c_str())));
  EXPECT_NO_THROW(onFolder.Write("abc", 3, &count));
  EXPECT_EQ(count, 77u);  // nothing opened: the count is not touched
  EXPECT_FALSE(Exists("no"));

  char b[2];
  const std::vector<std::function<void()>> ops = {[&] { lost.Read(b, 1, nullptr); },
                                                  [&] { lost.SetPosition(0, eVoFileSeekBegin); },
                                                  [&] { lost.GetPosition(); }};
  for (const auto& op : ops) EXPECT_EQ(CodeOf(op), 1u);  // "VoUndefProc"
  EXPECT_STREQ(lost.GetName().c_str(), "VoStream");
}

TEST_F(VoFileTest, ConcurrentAppendsFromSeveralProcessesLoseAndSplitNothing) {
  constexpr int kProcesses = 4;
  constexpr int kLines = 2500;
  // Mostly short lines; every 100th is longer than a C library buffer.
  auto line = [](int p, int i) {
    return "p" + std::to_string(p) + " " + std::to_string(i) + " " +
           std::string(i % 100 == 0 ? 9000 : i % 37, static_cast<char>('a' + p));
  };
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      VoFlushFileStream stream(Spec("shared.log"));
      for (int i = 0; i < kLines; ++i) {
        const std::string text = line(p, i) + "\n";
        unsigned long count = 0;
        stream.Write(text.data(), text.size(), &count);
        if (count != text.size()) _exit(2);
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
  std::istringstream in(Get("shared.log"));
  std::map<int, int> next;  // each process's lines arrive in its own order
  std::string text;
  int total = 0;
  while (std::getline(in, text)) {
    int p = -1;
    ASSERT_EQ(std::sscanf(text.c_str(), "p%d", &p), 1) << text.substr(0, 40);
    ASSERT_TRUE(p >= 0 && p < kProcesses) << text.substr(0, 40);
    ASSERT_EQ(text, line(p, next[p]));
    ++next[p];
    ++total;
  }
  EXPECT_EQ(total, kProcesses * kLines);
}

}  // namespace
