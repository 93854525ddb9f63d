// VoCopyStreamFileTest.cpp - VoCopyStream between two files: the system's copy and the block loop give the
// same bytes, positions and errors.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "VoCore/VoError.h"
#include "VoIO/VoFile.h"
#include "Support/VoTempFolder.h"
namespace {

constexpr unsigned long kBlock = 100000;  // the block size of VoSystem::CopyFile

/// A VoFile of another class: VoCopyStream copies it with Read and Write
/// alone, which makes it the reference for the plain VoFile.
class BlockLoopFile : public VoFile {
 public:
  using VoFile::VoFile;
};

std::string Pattern(std::size_t size, unsigned seed) {
  std::string s(size, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (char& c : s) {
    x = x * 1664525u + 1013904223u;
    c = static_cast<char>(x >> 24);
  }
  return s;
}

/// The system calls this process made that read and wrote (-1 each when
/// the system does not count them).
struct SysCalls {
  long reads = -1;
  long writes = -1;
};
SysCalls CountSysCalls() {
  SysCalls n;
  std::ifstream io("/proc/self/io");
  std::string key;
  long value = 0;
  while (io >> key >> value) {
    if (key == "syscr:") n.reads = value;
    if (key == "syscw:") n.writes = value;
  }
  return n;
}

class VoCopyStreamFileTest : public vo_test::TempFolderTest {
 protected:
  /// What a copy leaves behind.
  struct Outcome {
    std::string target;
    long sourcePosition = -1;
    long targetPosition = -1;
    unsigned long error = 0;
  };

  /// One copy between files of the type \p File: \p sourceBytes and
  /// \p targetBytes are the files before; the source is read \p sourceRead
  /// bytes into (with Read, so stdio has more of it buffered), the target
  /// positioned at \p targetAt and then written \p header (held back in
  /// stdio's buffer); then VoCopyStream with \p length.
  template <class File>
  Outcome Copy(const std::string& sourceBytes, long sourceRead, const std::string& targetBytes, long targetAt,
               const std::string& header, long length, const std::string& tag) {
    Put(tag + ".from", sourceBytes);
    Put(tag + ".to", targetBytes);
    Outcome out;
    {
      File from(Spec(tag + ".from"), eVoFileRead);
      File to(Spec(tag + ".to"), eVoFileReadWrite);
      std::vector<char> skipped(static_cast<std::size_t>(sourceRead) + 1);
      unsigned long got = 0;
      if (sourceRead > 0) from.Read(skipped.data(), static_cast<unsigned long>(sourceRead), &got);
      to.SetPosition(targetAt, eVoFileSeekBegin);
      if (!header.empty()) to.Write(header.data(), header.size(), nullptr);
      from.GetPosition();  // both handles open, as the copy meets them
      if (mBeforeCopy) mBeforeCopy();
      try {
        VoCopyStream(from, to, length, kBlock);
      } catch (const VoError& e) {
        out.error = e.GetErr();
      }
      if (mAfterCopy) mAfterCopy();
      out.sourcePosition = from.GetPosition();
      out.targetPosition = to.GetPosition();
    }
    out.target = Get(tag + ".to");
    return out;
  }

  std::function<void()> mBeforeCopy;  // run right before and after the copy itself
  std::function<void()> mAfterCopy;
};

TEST_F(VoCopyStreamFileTest, SameBytesAndPositionsAsTheBlockLoop) {
  const long kMiB = 1L << 20;
  const struct {
    const char* name;
    long size;        // of the source
    long sourceRead;  // bytes read from the source before the copy
    long targetSize;  // of the target before the copy
    long targetAt;    // where the target is positioned
    const char* header;
    long length;
  } cases[] = {
      {"empty", 0, 0, 0, 0, "", 0},
      {"empty with a length", 0, 0, 0, 0, "", 10},
      {"one byte", 1, 0, 0, 0, "", 1},
      {"block-1", 99999, 0, 0, 0, "", 99999},
      {"block", 100000, 0, 0, 0, "", 100000},
      {"block+1", 100001, 0, 0, 0, "", 100001},
      {"several MiB", 5 * kMiB + 7, 0, 0, 0, "", 5 * kMiB + 7},
      {"to the end, length 0", 300001, 0, 0, 0, "", 0},
      {"to the end, length -1", 300001, 0, 0, 0, "", -1},
      {"part of the source", 300000, 0, 0, 0, "", 150001},
      {"source shorter than the length", 1000, 0, 0, 0, "", 250000},
      {"source read into first", 400000, 12345, 0, 0, "", 200000},
      {"source read into, copy to the end", 400000, 777, 0, 0, "", 0},
      {"source read to its end", 5000, 5000, 0, 0, "", 100},
      {"target in the middle of a longer file", 300000, 0, 500000, 4321, "", 100003},
      {"target beyond its end", 3000, 0, 100, 70000, "", 3000},
      {"target with buffered bytes", 300000, 0, 1000, 10, "HEADER", 250000},
      {"both moved, to the end", 777777, 333, 800000, 99, "head", -5},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string source = Pattern(static_cast<std::size_t>(c.size), 1);
    const std::string target = Pattern(static_cast<std::size_t>(c.targetSize), 2);
    const Outcome ours = Copy<VoFile>(source, c.sourceRead, target, c.targetAt, c.header, c.length, "ours");
    const Outcome loop =
        Copy<BlockLoopFile>(source, c.sourceRead, target, c.targetAt, c.header, c.length, "loop");

    // What the copy must give, worked out from the files.
    const std::size_t start = static_cast<std::size_t>(c.sourceRead);
    const std::size_t available = source.size() - start;
    const std::size_t copied =
        c.length > 0 && static_cast<std::size_t>(c.length) < available ? c.length : available;
    std::string expected = target;
    const std::size_t at = static_cast<std::size_t>(c.targetAt);
    const std::string written = c.header + source.substr(start, copied);
    if (expected.size() < at + written.size()) expected.resize(at + written.size(), '\0');
    expected.replace(at, written.size(), written);

    EXPECT_EQ(ours.error, 0u);
    EXPECT_TRUE(ours.target == expected)
        << "target of " << ours.target.size() << " bytes, expected " << expected.size();
    EXPECT_EQ(ours.sourcePosition, static_cast<long>(start + copied));
    EXPECT_EQ(ours.targetPosition, static_cast<long>(at + written.size()));
    EXPECT_TRUE(loop.target == ours.target);
    EXPECT_EQ(loop.sourcePosition, ours.sourcePosition);
    EXPECT_EQ(loop.targetPosition, ours.targetPosition);
  }
}

TEST_F(VoCopyStreamFileTest, FilesAreCopiedInsideTheSystem) {
  const std::string source = Pattern(8L << 20, 3);
  Put("from", source);
  VoFile from(Spec("from"), eVoFileRead);
  VoFile to(Spec("to"), eVoFileWrite);
  from.GetPosition();
  to.GetPosition();
  const SysCalls before = CountSysCalls();
  if (before.writes < 0) GTEST_SKIP() << "the system does not count the calls of a process (/proc/self/io)";
  VoCopyStream(from, to, static_cast<long>(source.size()), kBlock);
  const SysCalls after = CountSysCalls();
  // The block loop takes 84 reads and 84 writes for these 8 MiB.
  EXPECT_LT(after.reads - before.reads, 10);
  EXPECT_LT(after.writes - before.writes, 10);
  to.Close();
  EXPECT_TRUE(Get("to") == source);
}

TEST_F(VoCopyStreamFileTest, SourcesThatAreNotRegularFilesAreRead) {
  // /dev/zero never ends: the length ends the copy.
  {
    VoFile from(VoFileSpec(VoString("/dev/zero")), eVoFileRead);
    VoFile to(Spec("zeros"), eVoFileWrite);
    from.GetPosition();
    to.GetPosition();
    VoCopyStream(from, to, 250001, kBlock);
    EXPECT_EQ(to.GetPosition(), 250001);
    to.Close();
    EXPECT_TRUE(Get("zeros") == std::string(250001, '\0'));
  }
  // A pipe delivers what its writer wrote, to its end.
  const std::string fifo = Path("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string bytes = Pattern(300007, 4);
  std::thread writer([&] {
    std::FILE* out = std::fopen(fifo.c_str(), "wb");
    if (out == nullptr) return;
    std::fwrite(bytes.data(), 1, bytes.size(), out);
    std::fclose(out);
  });
  {
    VoFile from(VoFileSpec(VoString(fifo.c_str())), eVoFileRead);
    VoFile to(Spec("piped"), eVoFileWrite);
    char first = 0;
    from.Read(&first, 1, nullptr);  // opens the pipe
    to.Write(&first, 1, nullptr);
    VoCopyStream(from, to, 0, kBlock);
    to.Close();
  }
  writer.join();
  EXPECT_TRUE(Get("piped") == bytes);
}

TEST_F(VoCopyStreamFileTest, TargetsThatAreNotRegularFilesAreWritten) {
  Put("from", Pattern(300000, 5));
  {
    VoFile from(Spec("from"), eVoFileRead);
    VoFile to(VoFileSpec(VoString("/dev/null")), eVoFileWrite);
    from.GetPosition();
    to.GetPosition();
    EXPECT_NO_THROW(VoCopyStream(from, to, 0, kBlock));
    EXPECT_EQ(from.GetPosition(), 300000);
  }
  VoFile from(Spec("from"), eVoFileRead);
  VoFile to(VoFileSpec(VoString("/dev/full")), eVoFileWrite);
  from.GetPosition();
  to.GetPosition();
  try {
    VoCopyStream(from, to, 0, kBlock);
    ADD_FAILURE() << "no error from a full device";
  } catch (const VoError& e) {
    EXPECT_EQ(e.GetErr(), static_cast<unsigned long>(eVoFileWriteFailed));
  }
}

TEST_F(VoCopyStreamFileTest, AWriteCutShortRaisesWhatTheBlockLoopRaises) {
  // A file-size limit stops the system's copy and the block loop at the same
  // byte; the write that meets it raises VoFileWriteFailed.
  const std::string source = Pattern(1000000, 6);
  struct rlimit saved;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  if (saved.rlim_max != RLIM_INFINITY && saved.rlim_max < 1000000) GTEST_SKIP() << "a file-size limit is set";
  void (*oldHandler)(int) = signal(SIGXFSZ, SIG_IGN);
  mBeforeCopy = [&] {
    struct rlimit limit = saved;
    limit.rlim_cur = 350000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
  };
  mAfterCopy = [&] { setrlimit(RLIMIT_FSIZE, &saved); };
  const Outcome ours = Copy<VoFile>(source, 0, "", 0, "", 0, "ours");
  const Outcome loop = Copy<BlockLoopFile>(source, 0, "", 0, "", 0, "loop");
  signal(SIGXFSZ, oldHandler);

  EXPECT_EQ(ours.error, static_cast<unsigned long>(eVoFileWriteFailed));
  EXPECT_EQ(loop.error, ours.error);
  EXPECT_EQ(ours.target.size(), 350000u);
  EXPECT_TRUE(ours.target == source.substr(0, 350000));
  EXPECT_TRUE(loop.target == ours.target);
}

TEST_F(VoCopyStreamFileTest, SparseFileOfThreeGibibytesWithA64BitLength) {
  const long kGiB = 1L << 30;
  const long size = 3 * kGiB;
  std::error_code ec;
  const std::filesystem::space_info space = std::filesystem::space(mDir, ec);
  if (ec || space.available < static_cast<std::uintmax_t>(size) + kGiB)
    GTEST_SKIP() << "less than 4 GiB free under /tmp for the copy";
  const long marks[] = {0, (1L << 31) - 2, 2 * kGiB + 4099, size - 4};
  {
    VoFile file(Spec("sparse"), eVoFileWrite);
    for (long at : marks) {
      file.SetPosition(at, eVoFileSeekBegin);
      file.Write("MARK", 4, nullptr);
    }
  }
  struct stat st;
  ASSERT_EQ(stat(Path("sparse").c_str(), &st), 0);
  if (st.st_blocks * 512L > kGiB) GTEST_SKIP() << "the file system keeps no holes";
  {
    VoFile from(Spec("sparse"), eVoFileRead);
    VoFile to(Spec("copy"), eVoFileWrite);
    const long length = static_cast<long>(from.Length());
    ASSERT_EQ(length, size);
    to.GetPosition();
    VoCopyStream(from, to, length, kBlock);
    EXPECT_EQ(from.GetPosition(), size);
    EXPECT_EQ(to.GetPosition(), size);
  }
  EXPECT_EQ(std::filesystem::file_size(Path("copy")), static_cast<std::uintmax_t>(size));
  std::ifstream copy(Path("copy"), std::ios::binary);
  for (long at : marks) {
    char got[6] = {};
    copy.seekg(at - (at > 0 ? 1 : 0));
    copy.read(got, at > 0 ? 5 : 4);
    EXPECT_EQ(std::string(got, at > 0 ? 5 : 4), at > 0 ? std::string("\0MARK", 5) : "MARK") << at;
  }
}

}  // namespace
