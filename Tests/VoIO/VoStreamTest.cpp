// Tests of the stream classes, the text output operators and VoCopyStream.
#include "VoIO/VoStream.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <cfloat>
#include <climits>
#include <cstdio>
#include <cstring>
#include <exception>
#include <functional>
#include <string>
#include <vector>

#include "VoCore/VoError.h"
#include "VoIO/VoStdStream.h"
#include "VoIO/VoTestStream.h"
#include "VoSystem/VoPlatform.h"

namespace {

using Bytes = std::vector<unsigned long>;

std::string Printed(const char* format, double value) {
  char text[512];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

/// Runs \p call and checks that it throws the given library error, raised in \p file.
void ExpectVoError(const std::function<void()>& call, unsigned long code, const char* name,
                   const char* file) {
  try {
    call();
    ADD_FAILURE() << "no error thrown, expected " << name;
  } catch (const VoError& e) {
    EXPECT_EQ(e.GetErr(), code);
    EXPECT_STREQ(e.GetErrName(), name);
    EXPECT_STREQ(e.GetFileName(), file);
    EXPECT_GT(e.GetLine(), 0);
  }
}

/// What ran with standard output redirected into a file.
struct Captured {
  std::string text;          // everything printed
  long flushedBeforeReturn;  // bytes in the file before the test itself flushed
};

/// Runs \p call with file descriptor 1 redirected to a temporary file.
Captured CaptureStdout(const std::function<void()>& call) {
  std::fflush(stdout);
  std::string path = testing::TempDir() + "vo_stream_stdout_XXXXXX";
  const int fd = mkstemp(path.data());
  const int saved = dup(1);
  dup2(fd, 1);
  std::exception_ptr error;
  try {
    call();
  } catch (...) {
    error = std::current_exception();
  }
  Captured result{std::string(), lseek(fd, 0, SEEK_END)};
  std::fflush(stdout);
  dup2(saved, 1);
  close(saved);
  const off_t size = lseek(fd, 0, SEEK_END);
  result.text.resize(static_cast<std::size_t>(size));
  if (size > 0) {
    EXPECT_EQ(pread(fd, result.text.data(), static_cast<std::size_t>(size), 0), size);
  }
  close(fd);
  unlink(path.c_str());
  if (error) std::rethrow_exception(error);
  return result;
}

/// Makes \p bytes the process's standard input.
void FeedStdin(const std::string& bytes) {
  const std::string path = testing::TempDir() + "vo_stream_stdin";
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
  ASSERT_NE(std::freopen(path.c_str(), "rb", stdin), nullptr);
  unlink(path.c_str());
}

// ------------------------------------------------------------------ text output

struct FormatCase {
  const char* name;
  std::function<void(VoStream&)> put;
  std::string expected;
};

TEST(VoStreamOutput, FormatsEachValueInOneWrite) {
  const std::vector<FormatCase> cases = {
      {"double", [](VoStream& s) { s << 3.14159; }, "   3.14"},
      {"negative double", [](VoStream& s) { s << -3.14159; }, "  -3.14"},
      {"double rounds", [](VoStream& s) { s << 2.999; }, "   3.00"},
      {"wide double not cut", [](VoStream& s) { s << 12345678.9; }, "12345678.90"},
      {"huge double", [](VoStream& s) { s << 1e300; }, Printed("%7.2f", 1e300)},
      {"lowest double", [](VoStream& s) { s << -DBL_MAX; }, Printed("%7.2f", -DBL_MAX)},
      {"int", [](VoStream& s) { s << -12; }, "-12"},
      {"int min", [](VoStream& s) { s << INT_MIN; }, "-2147483648"},
      {"long min", [](VoStream& s) { s << LONG_MIN; }, std::to_string(LONG_MIN)},
      {"unsigned int max", [](VoStream& s) { s << UINT_MAX; }, "4294967295"},
      {"unsigned long", [](VoStream& s) { s << 4000000000UL; }, "4000000000"},
      {"unsigned long max", [](VoStream& s) { s << ULONG_MAX; }, std::to_string(ULONG_MAX)},
      {"C text", [](VoStream& s) { s << "a\r\nb"; }, "a\r\nb"},
      {"empty C text", [](VoStream& s) { s << ""; }, ""},
      {"string", [](VoStream& s) { s << VoString("xyz"); }, "xyz"},
      {"string without buffer", [](VoStream& s) { s << VoString(); }, ""},
      {"fixed-length string with zeros", [](VoStream& s) { s << VoString("a\0b", 3, true); },
       std::string("a\0b", 3)},
  };
  for (const FormatCase& c : cases) {
    SCOPED_TRACE(c.name);
    VoTestStream s;
    c.put(s);
    EXPECT_EQ(s.mWritten, c.expected);
    EXPECT_EQ(s.mWriteSizes, Bytes{c.expected.size()});
    EXPECT_EQ(s.mWriteCountGiven, std::vector<bool>{false});
  }
  EXPECT_EQ(Printed("%7.2f", -DBL_MAX).size(), 313u);  // the widest number is written whole
}

TEST(VoStreamOutput, ChainsAndAddsNothing) {
  VoTestStream s;
  VoStream& result = s << "a" << 1 << 2.5 << VoString("z") << 7UL << -3L << 4u;
  EXPECT_EQ(&result, &s);
  EXPECT_EQ(s.mWritten, "a1   2.50z7-34");
  EXPECT_EQ(s.mWriteSizes, (Bytes{1, 1, 7, 1, 1, 2, 1}));
}

TEST(VoStreamOutput, NullTextThrowsBeforeWriting) {
  VoTestStream s;
  const char* text = nullptr;
  ExpectVoError([&] { s << text; }, eVoArgErr, "VoArgErr", "VoStream.cpp");
  EXPECT_TRUE(s.mWriteSizes.empty());
}

// ------------------------------------------------------------------ not-implemented and null streams

TEST(VoStreamImplemented, EveryByteOperationThrowsUndefProc) {
  VoStreamImplemented plain;
  VoNullStream null;
  char buffer[4];
  unsigned long count = 0;
  const std::vector<std::pair<const char*, std::function<void()>>> calls = {
      {"Read", [&] { plain.Read(buffer, 4, &count); }},
      {"Write", [&] { plain.Write(buffer, 4, &count); }},
      {"SetPosition", [&] { plain.SetPosition(0, eVoFileSeekBegin); }},
      {"GetPosition", [&] { plain.GetPosition(); }},
      {"null Read", [&] { null.Read(buffer, 4, &count); }},
      {"null SetPosition", [&] { null.SetPosition(1, eVoFileSeekEnd); }},
      {"null GetPosition", [&] { null.GetPosition(); }},
      {"text to plain", [&] { plain << "x"; }},
  };
  for (const auto& [name, call] : calls) {
    SCOPED_TRACE(name);
    ExpectVoError(call, eVoUndefProc, "VoUndefProc", "VoStream.cpp");
  }
  EXPECT_EQ(count, 0u);
}

TEST(VoNullStream, WriteSwallowsAndStoresSize) {
  VoNullStream s;
  unsigned long count = 99;
  s.Write("0123456789", 10, &count);
  EXPECT_EQ(count, 10u);
  s.Write(nullptr, 0, &count);
  EXPECT_EQ(count, 0u);
  s.Write("abc", 3, nullptr);
  EXPECT_NO_THROW(s << "text" << 1 << 2.0 << VoString("x"));
}

TEST(VoStream, EveryStreamIsNamedVoStreamAndKeepsTheObjectCast) {
  VoStream* streams[] = {new VoStreamImplemented, new VoNullStream, new VoStdInStream, new VoStdOutStream,
                         new VoTestStream};
  for (VoStream* s : streams) {
    EXPECT_STREQ(s->GetName().c_str(), "VoStream");
    EXPECT_STREQ(s->GetTypeName(), "VoObject");
    EXPECT_EQ(s->Cast("VoObject"), static_cast<void*>(s));
    EXPECT_EQ(s->Cast("VoStream"), nullptr);
    EXPECT_EQ(s->RefCount(), 1);
    s->Delete();  // destroyed through the virtual destructor; leak-checked under ASan
  }
}

// ------------------------------------------------------------------ standard streams

TEST(VoStdStream, WrongDirectionAndPositioningThrowFileAccessErr) {
  VoStdInStream in;
  VoStdOutStream out;
  char buffer[4] = {};
  unsigned long count = 0;
  const std::vector<std::pair<const char*, std::function<void()>>> calls = {
      {"in SetPosition begin", [&] { in.SetPosition(0, eVoFileSeekBegin); }},
      {"in SetPosition end", [&] { in.SetPosition(5, eVoFileSeekEnd); }},
      {"out SetPosition current", [&] { out.SetPosition(0, eVoFileSeekCurrent); }},
      {"in Write", [&] { in.Write("ab", 2, &count); }},
      {"out Read", [&] { out.Read(buffer, 4, &count); }},
      {"in Open none", [&] { in.Open(eVoFileNone); }},
      {"in Open write", [&] { in.Open(eVoFileWrite); }},
      {"in Open read-write", [&] { in.Open(eVoFileReadWrite); }},
      {"in Open bad value", [&] { in.Open(static_cast<eVoFileAccess>(7)); }},
      {"out Open none", [&] { out.Open(eVoFileNone); }},
      {"out Open read", [&] { out.Open(eVoFileRead); }},
      {"out Open read-write", [&] { out.Open(eVoFileReadWrite); }},
  };
  for (const auto& [name, call] : calls) {
    SCOPED_TRACE(name);
    ExpectVoError(call, eVoFileAccessErr, "VoFileAccessErr", "VoStdStream.cpp");
  }
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(in.GetPosition(), 0);
  EXPECT_EQ(out.GetPosition(), 0);
  for (int i = 0; i < 2; ++i) {  // Open with the right mode and Close may be repeated
    EXPECT_NO_THROW(in.Open(eVoFileRead));
    EXPECT_NO_THROW(out.Open(eVoFileWrite));
    in.Close();
    out.Close();
  }
}

TEST(VoStdStream, LineEndFollowsThePlatform) {
  EXPECT_STREQ(VoStdOutLineEnd(0x00040002L), "\n");
  EXPECT_STREQ(VoStdOutLineEnd(0x00040001L), "\r");
  EXPECT_STREQ(VoStdOutLineEnd(0x00040000L), "\r");
  EXPECT_STREQ(VoStdOutLineEnd(0), "\r");
  EXPECT_EQ(VoGetPlatform(), 0x00040002L);  // so the output below uses "\n"
}

struct OutCase {
  std::string bytes;
  std::string printed;
  long advance;
};

TEST(VoStdOutStream, WriteConvertsLineEndsCountsAndFlushes) {
  const std::vector<OutCase> cases = {
      {"a\r\nb", "a\nb", 3},
      {"a\rb", "a\nb", 3},
      {"a\nb", "a\nb", 3},
      {"\n\r", "\n\n", 2},
      {"\r\n\r\n", "\n\n", 2},
      {"x\r", "x\n", 2},
      {"", "", 0},
      {std::string("ab\0cd", 5), "ab", 5},  // a zero ends the output, not the count
      {std::string("\r\0\n", 3), "\n", 3},
  };
  for (const OutCase& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.bytes));
    VoStdOutStream out;
    unsigned long count = 5;
    const Captured cap = CaptureStdout([&] { out.Write(c.bytes.data(), c.bytes.size(), &count); });
    EXPECT_EQ(cap.text, c.printed);
    EXPECT_EQ(cap.flushedBeforeReturn, static_cast<long>(c.printed.size()));
    EXPECT_EQ(out.GetPosition(), c.advance);
    EXPECT_EQ(count, 5u + static_cast<unsigned long>(c.advance));  // added, not stored
  }
}

TEST(VoStdOutStream, TextWriteCountsItsZeroAndPositionOnlyGrows) {
  VoStdOutStream out;
  const Captured cap = CaptureStdout([&] {
    out.Write("abc");
    out.Write(static_cast<const char*>(nullptr));
    out.Write("x\r\ny");
    out << VoString("a\r\nb") << 42;
  });
  EXPECT_EQ(cap.text, "abcx\nya\nb42");
  EXPECT_EQ(out.GetPosition(), 4 + 4 + 3 + 2);
  VoStdOutStream other;
  EXPECT_EQ(other.GetPosition(), 0);  // each object counts its own bytes
}

TEST(VoStdOutStream, NullBuffer) {
  VoStdOutStream out;
  ExpectVoError([&] { out.Write(nullptr, 3, nullptr); }, eVoArgErr, "VoArgErr", "VoStdStream.cpp");
  const Captured cap = CaptureStdout([&] { out.Write(nullptr, 0, nullptr); });
  EXPECT_EQ(cap.text, "");
  EXPECT_EQ(out.GetPosition(), 0);
}

TEST(VoStdInStream, ReadTakesSizeMinusOneCharactersThenAZero) {
  FeedStdin(std::string("ab\ncd\xff\0z", 8));
  VoStdInStream in;
  char buffer[8];
  unsigned long count = 77;

  std::memset(buffer, 'X', sizeof buffer);
  in.Read(buffer, 4, &count);
  EXPECT_EQ(std::string(buffer, 5), std::string("ab\n\0X", 5));  // the line end does not stop it
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(in.GetPosition(), 3);

  std::memset(buffer, 'X', sizeof buffer);
  in.Read(buffer, 1, &count);  // reads nothing
  EXPECT_EQ(std::string(buffer, 2), std::string("\0X", 2));
  EXPECT_EQ(count, 0u);

  std::memset(buffer, 'X', sizeof buffer);
  count = 77;
  in.Read(buffer, 0, &count);  // writes nothing at all
  EXPECT_EQ(buffer[0], 'X');
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(in.GetPosition(), 3);

  ExpectVoError([&] { in.Read(nullptr, 2, &count); }, eVoArgErr, "VoArgErr", "VoStdStream.cpp");

  in.Read(buffer, 6, nullptr);  // bytes pass unchanged, zero included
  EXPECT_EQ(std::string(buffer, 6), std::string("cd\xff\0z\0", 6));
  EXPECT_EQ(in.GetPosition(), 8);

  std::memset(buffer, 'X', sizeof buffer);
  in.Read(buffer, 4, &count);  // past the end: zeros, the count stays size - 1
  EXPECT_EQ(std::string(buffer, 5), std::string("\0\0\0\0X", 5));
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(in.GetPosition(), 11);
}

// ------------------------------------------------------------------ VoCopyStream

struct CopyCase {
  const char* name;
  std::size_t sourceSize;
  unsigned long maxPerRead;  // 0: the source delivers all it is asked for
  bool addsToCount;          // the source adds to *count instead of storing it
  long length;
  unsigned long blockSize;
  Bytes reads;
  Bytes writes;
};

TEST(VoCopyStream, ReadsAndWritesBlocks) {
  const std::vector<CopyCase> cases = {
      {"block size 1", 5, 0, false, 3, 1, {1, 1, 1}, {1, 1, 1}},
      {"odd block size", 30, 0, false, 20, 7, {7, 7, 6}, {7, 7, 6}},
      {"block larger than length", 50, 0, false, 30, 100, {30}, {30}},
      {"250 in blocks of 100", 300, 0, false, 250, 100, {100, 100, 50}, {100, 100, 50}},
      {"exact source length", 16, 0, false, 16, 8, {8, 8}, {8, 8}},
      {"length beyond the source", 50, 0, false, 100, 40, {40, 40, 40}, {40, 10}},
      {"empty source, length given", 0, 0, false, 10, 4, {4}, {}},
      {"short reads, length given", 12, 3, false, 10, 4, {4, 4, 4, 1}, {3, 3, 3, 1}},
      {"count preset to 0", 12, 0, true, 10, 4, {4, 4, 2}, {4, 4, 2}},
      {"to the end, two full blocks", 16, 0, false, 0, 8, {8, 8, 8}, {8, 8, 0}},
      {"to the end, short last block", 20, 0, false, 0, 8, {8, 8, 8}, {8, 8, 4}},
      {"to the end, negative length", 0, 0, false, -1, 8, {8}, {0}},
      {"to the end, block larger than source", 5, 0, false, 0, 64, {64}, {5}},
      {"to the end, a short read stops", 12, 3, false, 0, 4, {4}, {3}},
      {"to the end, count preset to 0", 10, 0, true, 0, 4, {4, 4, 4}, {4, 4, 2}},
  };
  for (const CopyCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::string data(c.sourceSize, '\0');
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>('a' + i % 26);
    VoTestStream source(data);
    source.mMaxPerRead = c.maxPerRead;
    source.mAddToCount = c.addsToCount;
    VoTestStream target;
    VoCopyStream(source, target, c.length, c.blockSize);
    EXPECT_EQ(source.mReadRequests, c.reads);
    EXPECT_EQ(target.mWriteSizes, c.writes);
    std::size_t total = 0;
    for (unsigned long n : c.writes) total += n;
    EXPECT_EQ(target.mWritten, data.substr(0, total));
    EXPECT_EQ(target.mWriteCountGiven, std::vector<bool>(c.writes.size(), false));
  }
}

TEST(VoCopyStream, OverReportedCountIsCappedAtTheBlock) {
  VoTestStream source("abcdef");
  source.mExtraCount = 1000;
  VoTestStream target;
  VoCopyStream(source, target, 4, 3);
  EXPECT_EQ(source.mReadRequests, (Bytes{3, 1}));
  EXPECT_EQ(target.mWriteSizes, (Bytes{3, 1}));
  EXPECT_EQ(target.mWritten, "abcd");
}

TEST(VoCopyStream, ZeroBlockSizeThrowsArgErr) {
  VoTestStream source("abc");
  VoTestStream target;
  ExpectVoError([&] { VoCopyStream(source, target, 0, 0); }, eVoArgErr, "VoArgErr", "VoStream.cpp");
  ExpectVoError([&] { VoCopyStream(source, target, 3, 0); }, eVoArgErr, "VoArgErr", "VoStream.cpp");
  EXPECT_TRUE(source.mReadRequests.empty());
}

/// Counts the blocks that pass through it.
struct CountingManager : VoMemoryManager {
  void* Alloc(unsigned long size) override {
    ++allocs;
    lastSize = size;
    return ::operator new(size);
  }
  void Free(void* block) override {
    if (block) ++frees;
    ::operator delete(block);
  }
  int allocs = 0;
  int frees = 0;
  unsigned long lastSize = 0;
};

TEST(VoCopyStream, OneBufferPerCallReleasedAlsoOnErrors) {
  CountingManager manager;
  VoSetMemoryManager(&manager);
  VoTestStream source(std::string(1000, 'q'));
  VoTestStream target;
  VoCopyStream(source, target, 0, 64);
  EXPECT_EQ(manager.allocs, 1);
  EXPECT_EQ(manager.lastSize, 64u);
  EXPECT_EQ(manager.frees, 1);

  VoTestStream failing;
  failing.mFailWrite = 1;
  source.SetPosition(0, eVoFileSeekBegin);
  ExpectVoError([&] { VoCopyStream(source, failing, 300, 100); }, eVoFileWriteFailed, "VoFileWriteFailed",
                "VoTestStreamSupport.cpp");
  EXPECT_EQ(failing.mWritten, std::string(100, 'q'));  // written before the failure stays
  VoNullStream undefinedSource;
  ExpectVoError([&] { VoCopyStream(undefinedSource, target, 10, 4); }, eVoUndefProc, "VoUndefProc",
                "VoStream.cpp");
  VoSetMemoryManager(nullptr);
  EXPECT_EQ(manager.allocs, 3);
  EXPECT_EQ(manager.frees, 3);
}

TEST(VoCopyStream, ToStandardOutputConvertsEachBlockOnItsOwn) {
  VoTestStream whole("one\r\ntwo");
  VoStdOutStream out;
  Captured cap = CaptureStdout([&] { VoCopyStream(whole, out, 0, 3); });  // "one", "\r\nt", "wo"
  EXPECT_EQ(cap.text, "one\ntwo");
  EXPECT_EQ(out.GetPosition(), 7);

  VoTestStream split("one\r\ntwo");
  VoStdOutStream out2;
  cap = CaptureStdout([&] { VoCopyStream(split, out2, 0, 4); });  // "one\r", "\ntwo"
  EXPECT_EQ(cap.text, "one\n\ntwo");
  EXPECT_EQ(out2.GetPosition(), 8);

  VoTestStream again("0123456789");
  VoNullStream sink;
  EXPECT_NO_THROW(VoCopyStream(again, sink, 10, 4));
  EXPECT_EQ(again.GetPosition(), 10);
}

}  // namespace
