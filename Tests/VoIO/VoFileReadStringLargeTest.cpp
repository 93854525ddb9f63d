// VoFileReadStringLargeTest.cpp - VoFile::ReadString of large rests: every byte, the position after.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "VoCore/VoError.h"
#include "VoIO/VoFile.h"
#include "Support/VoTempFolder.h"
namespace {

constexpr long kMiB = 1L << 20;
constexpr long kLarge = 16 * kMiB;

/// A VoFile of another class reads through the same virtual Read.
class OneReadFile : public VoFile {
 public:
  using VoFile::VoFile;
};

std::string Pattern(std::size_t size) {
  std::string s(size, '\0');
  uint64_t x = 0x9E3779B97F4A7C15ULL;
  for (std::size_t i = 0; i < size; i += 8) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    for (std::size_t k = 0; k < 8 && i + k < size; ++k) s[i + k] = static_cast<char>(x >> (8 * k));
  }
  return s;
}

std::string Str(const VoString& s) { return std::string(s.c_str(), static_cast<std::size_t>(s.length())); }

class VoFileReadStringLargeTest : public vo_test::TempFolderTest {
 protected:
};

TEST_F(VoFileReadStringLargeTest, EveryByteFromThePositionAndThePositionAfter) {
  const struct {
    const char* name;
    long size;
    long position;
  } cases[] = {
      {"16 MiB less one", kLarge - 1, 0},
      {"16 MiB", kLarge, 0},
      {"16 MiB and one", kLarge + 1, 0},
      {"a rest of 16 MiB less one", kLarge + 10, 11},
      {"a rest of 16 MiB from an odd position", kLarge + 4097, 4097},
      {"not a multiple of a page", 24 * kMiB + 3, 1},
      {"several pieces from the middle", 41 * kMiB + 5000, 9 * kMiB + 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string bytes = Pattern(static_cast<std::size_t>(c.size));
    Put("file", bytes);
    const std::string expected = bytes.substr(static_cast<std::size_t>(c.position));

    VoFile file(Spec("file"), eVoFileRead);
    file.SetPosition(c.position, eVoFileSeekBegin);
    const VoString text = file.ReadString();
    ASSERT_EQ(text.length(), static_cast<long>(expected.size()));
    EXPECT_TRUE(Str(text) == expected);
    EXPECT_EQ(text.c_str()[text.length()], '\0');
    EXPECT_EQ(file.GetPosition(), c.size);
    EXPECT_EQ(file.ReadString().length(), 0);  // at the end

    OneReadFile reference(Spec("file"), eVoFileRead);
    reference.SetPosition(c.position, eVoFileSeekBegin);
    EXPECT_TRUE(Str(reference.ReadString()) == Str(text));
  }
}

TEST_F(VoFileReadStringLargeTest, AFileReadFromAfterItsOwnBufferedReadsAndWrites) {
  const std::string bytes = Pattern(20 * kMiB + 17);
  Put("file", bytes);
  VoFile file(Spec("file"), eVoFileReadWrite);
  char head[100];
  unsigned long got = 0;
  file.Read(head, sizeof head, &got);  // stdio holds more of the file than was read
  ASSERT_EQ(got, sizeof head);
  file.Write("written", 7, nullptr);  // held back by stdio until the next positioning
  const VoString rest = file.ReadString();
  std::string expected = bytes.substr(107);
  EXPECT_TRUE(Str(rest) == expected);
  EXPECT_EQ(file.GetPosition(), static_cast<long>(bytes.size()));
  file.Write("tail", 4, nullptr);  // the position after the read is where writing goes on
  file.Close();
  std::ifstream in(Path("file"), std::ios::binary);
  std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_TRUE(all == bytes.substr(0, 100) + "written" + bytes.substr(107) + "tail");
}

TEST_F(VoFileReadStringLargeTest, SourcesThatAreNotRegularFilesBehaveAsBefore) {
  // A device without a length reads as empty.
  VoFile zero(VoFileSpec(VoString("/dev/zero")), eVoFileRead);
  EXPECT_EQ(zero.ReadString().length(), 0);
  // A pipe has no length: the error of Length. The writer may find the
  // reader gone.
  const std::string fifo = Path("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  void (*oldHandler)(int) = signal(SIGPIPE, SIG_IGN);
  std::thread writer([&] {
    std::FILE* out = std::fopen(fifo.c_str(), "wb");
    if (out == nullptr) return;
    std::fputs("bytes that nobody reads", out);
    std::fclose(out);
  });
  {
    VoFile pipe(VoFileSpec(VoString(fifo.c_str())), eVoFileRead);
    try {
      pipe.ReadString();
      ADD_FAILURE() << "a pipe has a length";
    } catch (const VoError& e) {
      EXPECT_EQ(e.GetErr(), static_cast<unsigned long>(eVoFileLengthFailed));
    }
  }
  writer.join();
  signal(SIGPIPE, oldHandler);
}

}  // namespace
