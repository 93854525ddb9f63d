// VoStringTest.cpp - tests of the string core: buffers, copy on write, append, compare, search, format.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "VoCore/VoError.h"
#include "VoCore/VoString.h"
#include "VoCore/VoStringPrivate.h"

namespace {

// The block header sits right in front of the characters.
const VoStringData* DataOf(const VoString& s) { return reinterpret_cast<const VoStringData*>(s.c_str()) - 1; }

bool HasBuffer(const VoString& s) {
  VoString copy(s);
  return copy.Get() != nullptr;
}

long Capacity(const VoString& s) { return DataOf(s)->mCapacity; }
int Count(const VoString& s) { return DataOf(s)->mCount; }
bool IsFixed(const VoString& s) { return DataOf(s)->mFixedLength; }

// The bytes in use, zero bytes included.
std::string Bytes(const VoString& s) {
  const long n = s.length();
  return std::string(s.c_str(), static_cast<std::size_t>(n < 0 ? 0 : n));
}

#define EXPECT_VO_ERROR(statement, code, name)                               \
  do {                                                                       \
    try {                                                                    \
      statement;                                                             \
      ADD_FAILURE() << "no VoError from: " #statement;                       \
    } catch (const VoError& e) {                                             \
      EXPECT_EQ(e.GetErr(), static_cast<unsigned long>(code)) << #statement; \
      EXPECT_STREQ(e.GetErrName(), name) << #statement;                      \
      EXPECT_STREQ(e.GetFileName(), "VoString.cpp");                         \
    }                                                                        \
  } while (0)

// ---------------------------------------------------------------- construction

TEST(VoStringConstruct, SizeConstructor) {
  VoString none(0L, false);
  EXPECT_FALSE(HasBuffer(none));
  EXPECT_EQ(none.length(), 0);
  EXPECT_STREQ(none.c_str(), "");
  EXPECT_EQ(none.find("a"), -1);

  VoString room(10L, false);
  EXPECT_EQ(room.length(), 0);
  EXPECT_EQ(Capacity(room), 10);
  EXPECT_FALSE(IsFixed(room));

  VoString fixed(5L, true);
  EXPECT_EQ(fixed.length(), 5);
  EXPECT_TRUE(IsFixed(fixed));
  EXPECT_EQ(Bytes(fixed), std::string(5, '\0'));
}

TEST(VoStringConstruct, FromBytesCharAndCStrings) {
  VoString fixed("a\0b", 3, true);
  EXPECT_EQ(Bytes(fixed), std::string("a\0b", 3));
  EXPECT_TRUE(IsFixed(fixed));

  VoString text("a\0b", 3);
  EXPECT_EQ(text.length(), 3);  // explicit until the next write access
  EXPECT_FALSE(IsFixed(text));
  EXPECT_FALSE(HasBuffer(VoString("xyz", 0)));

  VoString zero('\0');
  EXPECT_EQ(zero.length(), 1);
  VoString c('q');
  EXPECT_STREQ(c.c_str(), "q");

  EXPECT_FALSE(HasBuffer(VoString(static_cast<const char*>(nullptr))));
  VoString empty("");
  EXPECT_TRUE(HasBuffer(empty));
  EXPECT_EQ(Capacity(empty), 0);
  VoString hello("hello");
  EXPECT_EQ(Capacity(hello), 5);
  EXPECT_EQ(hello.length(), 5);
}

TEST(VoStringConstruct, LengthPrefixed) {
  const unsigned char abc[] =
      "\x03"
      "abcdef";
  EXPECT_EQ(Bytes(VoString(abc)), "abc");
  const unsigned char none[] =
      "\x00"
      "abc";
  VoString empty(none);
  EXPECT_TRUE(HasBuffer(empty));
  EXPECT_EQ(empty.length(), 0);
  EXPECT_FALSE(HasBuffer(VoString(static_cast<const unsigned char*>(nullptr))));

  VoString s("x");
  s = abc;
  EXPECT_EQ(Bytes(s), "abc");
  s += abc;
  EXPECT_EQ(Bytes(s), "abcabc");
}

TEST(VoStringConstruct, BadSizes) {
  EXPECT_VO_ERROR(VoString(-1L, false), eVoArgErr, "VoArgErr");
  EXPECT_VO_ERROR(VoString("abc", -2), eVoArgErr, "VoArgErr");
  EXPECT_VO_ERROR(VoString(2147483648L, false), eVoMemFullErr, "VoMemFullErr");
  VoString s("keep");
  EXPECT_VO_ERROR(s.Set("abc", -1), eVoArgErr, "VoArgErr");
  EXPECT_EQ(Bytes(s), "keep");
}

TEST(VoStringConstruct, MoveLeavesNoBuffer) {
  VoString a("text");
  VoString b(std::move(a));
  EXPECT_STREQ(b.c_str(), "text");
  EXPECT_FALSE(HasBuffer(a));  // NOLINT(bugprone-use-after-move)
  VoString c;
  c = std::move(b);
  EXPECT_STREQ(c.c_str(), "text");
  EXPECT_EQ(Count(c), 1);
}

// ---------------------------------------------------------------- sharing

TEST(VoStringShare, CopyOnWriteIsolation) {
  VoString a("hello");
  VoString b;
  b = a;
  EXPECT_EQ(a.c_str(), b.c_str());
  EXPECT_EQ(Count(a), 2);
  b += "!";
  EXPECT_STREQ(a.c_str(), "hello");
  EXPECT_STREQ(b.c_str(), "hello!");
  EXPECT_EQ(Count(a), 1);
  EXPECT_EQ(Count(b), 1);

  VoString c(a);
  c[0] = 'j';
  EXPECT_STREQ(a.c_str(), "hello");
  EXPECT_STREQ(c.c_str(), "jello");

  VoString d(a);
  d.Replace('l', 'L');
  EXPECT_STREQ(a.c_str(), "hello");
  EXPECT_STREQ(d.c_str(), "heLLo");

  VoString e(a);
  char* p = e.Get();
  p[0] = 'y';
  EXPECT_STREQ(a.c_str(), "hello");
  EXPECT_STREQ(e.c_str(), "yello");
}

TEST(VoStringShare, SelfAssignmentKeepsBuffer) {
  VoString a("same");
  const char* before = a.c_str();
  VoString& ref = a;
  a = ref;
  EXPECT_EQ(a.c_str(), before);
  EXPECT_EQ(Count(a), 1);
}

TEST(VoStringShare, UnsharingCopyHasCapacityOfLength) {
  VoString a(20L, false);
  a += "abc";
  VoString b(a);
  b.WriteAccess();
  EXPECT_EQ(Capacity(b), 3);
  EXPECT_EQ(Capacity(a), 20);
  EXPECT_EQ(b.length(), 3);
}

TEST(VoStringShare, WriteAccessCreatesEmptyBuffer) {
  VoString s;
  s.WriteAccess();
  EXPECT_TRUE(HasBuffer(s));
  EXPECT_EQ(Capacity(s), 0);
  EXPECT_EQ(s.length(), 0);
}

// ---------------------------------------------------------------- append and growth

TEST(VoStringAppend, GrowthSequence) {
  VoString s;
  s += "abc";
  EXPECT_EQ(Capacity(s), 10);
  EXPECT_EQ(s.length(), 3);
  s += "defghijk";  // 11 needed
  EXPECT_EQ(Capacity(s), 15);
  s += std::string(29, 'x').c_str();  // 40 needed from capacity 15
  EXPECT_EQ(Capacity(s), 40);
  EXPECT_EQ(s.length(), 40);

  // Character by character: 10, then half the capacity at a time.
  VoString t;
  std::vector<long> seen;
  for (int i = 0; i < 200; ++i) {
    t += static_cast<char>('a' + i % 26);
    if (seen.empty() || seen.back() != Capacity(t)) seen.push_back(Capacity(t));
  }
  EXPECT_EQ(seen, (std::vector<long>{10, 15, 22, 33, 49, 73, 109, 163, 244}));
  EXPECT_EQ(t.length(), 200);
  for (int i = 0; i < 200; ++i) ASSERT_EQ(t[i], static_cast<char>('a' + i % 26));
}

TEST(VoStringAppend, SelfAppend) {
  VoString full("abcdefghij");  // capacity 10, must grow
  full += full;
  EXPECT_STREQ(full.c_str(), "abcdefghijabcdefghij");
  EXPECT_EQ(full.length(), 20);

  VoString roomy(20L, false);
  roomy += "abc";
  roomy += roomy;  // fits
  EXPECT_STREQ(roomy.c_str(), "abcabc");

  VoString shared("xyz");
  VoString other(shared);
  shared += shared;
  EXPECT_STREQ(shared.c_str(), "xyzxyz");
  EXPECT_STREQ(other.c_str(), "xyz");

  VoString tail("0123456789");
  tail += tail.c_str() + 4;  // grows; the source lies in the old block
  EXPECT_STREQ(tail.c_str(), "0123456789456789");

  VoString fixed("a\0b", 3, true);
  fixed += fixed;
  EXPECT_EQ(Bytes(fixed), std::string("a\0ba\0b", 6));
}

TEST(VoStringAppend, AppendToEmptyAndShared) {
  VoString none;
  none += VoString();
  EXPECT_TRUE(HasBuffer(none));
  EXPECT_EQ(Capacity(none), 0);

  VoString a("ab");
  VoString b(a);
  b += "";
  EXPECT_NE(a.c_str(), b.c_str());  // unshared even for an empty append
  EXPECT_STREQ(b.c_str(), "ab");
}

// Appends that must see the length exactly as the counted text gives it.
struct AppendCase {
  const char* name;
  std::function<VoString()> build;
  std::string expected;
};

TEST(VoStringAppend, LengthRulesAfterWrites) {
  const std::vector<AppendCase> cases = {
      {"Set with zeros, then append",
       [] {
         VoString s;
         s.Set("ab\0cd", 5);
         s += "X";
         return s;
       },
       "abX"},
      {"Set with zeros, copy, append to the copy",
       [] {
         VoString s;
         s.Set("ab\0cd", 5);
         VoString t(s);
         t += 'X';
         return t;
       },
       "abX"},
      {"zero written by operator[], then append a char",
       [] {
         VoString s;
         for (char c : std::string("abcdef")) s += c;
         s[2] = '\0';
         s += 'X';
         return s;
       },
       "abX"},
      {"zero written through Get, then append text",
       [] {
         VoString s("abcdef");
         s += 'g';
         char* p = s.Get();
         p[1] = '\0';
         s += "Z";
         return s;
       },
       "aZ"},
      {"appending a zero byte, then a char",
       [] {
         VoString s("ab");
         s += '\0';
         s += 'c';
         return s;
       },
       "abc"},
      {"appending a zero byte inside a text, then a char",
       [] {
         VoString s("ab");
         s += VoString("x\0y", 3);
         s += 'c';
         return s;
       },
       "abxc"},
      {"SetLength shorter, then append counts again",
       [] {
         VoString s("abcdef");
         s.SetLength(3);
         s += 'x';
         return s;
       },
       "abcdefx"},
      {"Printf with a zero byte, then append",
       [] {
         VoString s;
         s.Printf("a%cb", 0);
         s += "X";
         return s;
       },
       "aX"},
      {"zero written into a shared copy, then append",
       [] {
         VoString s("abcd");
         VoString t(s);
         t[1] = '\0';
         t += 'Y';
         return t;
       },
       "aY"},
      {"fixed length keeps zeros on append",
       [] {
         VoString s("a\0b", 3, true);
         s += 'c';
         s[0] = '\0';
         s += '\0';
         s += VoString("\0z", 2, true);
         return s;
       },
       std::string("\0\0bc\0\0z", 7)},
  };
  for (const AppendCase& c : cases) {
    VoString s = c.build();
    EXPECT_EQ(Bytes(s), c.expected) << c.name;
    EXPECT_EQ(s.length(), static_cast<long>(c.expected.size())) << c.name;
  }
}

TEST(VoStringAppend, ZeroByteCountsOnceAppended) {
  VoString s("ab");
  s += '\0';
  EXPECT_EQ(s.length(), 3);  // appended explicitly
  s[0] = 'A';                // write access unsets the length
  EXPECT_EQ(s.length(), 2);
}

TEST(VoStringAppend, Errors) {
  VoString fixed("abc", 3, true);
  fixed.SetLength(-1);
  EXPECT_VO_ERROR(fixed += 'x', eVoGeneralErr, "VoGeneralErr");
  EXPECT_VO_ERROR(fixed += "xy", eVoGeneralErr, "VoGeneralErr");
  EXPECT_EQ(fixed.length(), -1);
  EXPECT_VO_ERROR(fixed += VoString("q"), eVoGeneralErr, "VoGeneralErr");

  VoString s("abc");
  EXPECT_VO_ERROR(s += static_cast<const char*>(nullptr), eVoArgErr, "VoArgErr");
  EXPECT_STREQ(s.c_str(), "abc");

  VoString shared(s);
  VoStringData* block = NewStringData("abc", 3, false);
  ++block->mCount;
  EXPECT_VO_ERROR(CatStringData(block, "d", 1), eVoUnexpectedErr, "VoUnexpectedErr");
  --block->mCount;
  VoString owner(block);
  EXPECT_STREQ(owner.c_str(), "abc");

  // A length beyond the 32-bit field is refused before any byte moves.
  VoStringData* big = NewStringData(nullptr, 4, true);
  big->mLength = INT32_MAX - 1;
  EXPECT_VO_ERROR(CatStringData(big, "abc", 3), eVoMemFullErr, "VoMemFullErr");
  big->mLength = 4;
  VoString bigOwner(big);
}

TEST(VoStringAppend, CatStringDataBuildingBlocks) {
  VoStringData* d = CatStringData(nullptr, "abc", 3);
  VoString s(d);
  EXPECT_STREQ(s.c_str(), "abc");
  EXPECT_FALSE(IsFixed(s));
  EXPECT_EQ(Capacity(s), 3);

  VoStringData* text = NewStringData(nullptr, 4, false);
  EXPECT_EQ(text->mLength, 0);
  EXPECT_EQ(text->Chars()[0], '\0');
  EXPECT_EQ(text->Chars()[4], '\0');
  // Filled directly, as conversion code does, then appended to.
  std::memcpy(text->Chars(), "a\0cd", 4);
  text->mLength = 4;
  VoString filled(text);
  filled += 'e';
  EXPECT_STREQ(filled.c_str(), "ae");
}

// Blocks carved from shared slabs are ordinary strings, and each slab goes
// when its last block does, on whichever thread (the sanitizer build reports a
// slab left behind or freed twice).
TEST(VoStringBlockRun, CarvedBlocksAreOrdinaryStringsFreedFromAnyThread) {
  std::vector<VoString> mine, theirs;
  std::vector<std::string> expected;
  const std::string large(VoStringBlockRun::kMostCarved + 1, 'L');
  {
    VoStringBlockRun run;
    for (int i = 0; i < 4000; ++i) {  // several slabs
      expected.push_back("value " + std::to_string(i) + std::string(static_cast<std::size_t>(i % 50), 'x'));
      VoString s(run.New(expected.back().data(), static_cast<long>(expected.back().size())));
      (i % 2 ? mine : theirs).push_back(s);
    }
    VoString room(run.New(nullptr, 12));
    EXPECT_EQ(room.length(), 0);
    EXPECT_EQ(Capacity(room), 12);
    mine.push_back(VoString(run.New(large.data(), static_cast<long>(large.size()))));
    expected.push_back(large);
  }
  for (std::size_t i = 0; i + 1 < mine.size(); ++i) ASSERT_EQ(Bytes(mine[i]), expected[2 * i + 1]);
  EXPECT_EQ(Bytes(mine.back()), large);
  VoString shared(mine[0]);
  shared[0] = 'V';  // copy on write
  shared += " and more";
  EXPECT_EQ(Bytes(mine[0]), expected[1]);
  EXPECT_EQ(Bytes(shared), "Value 1x and more");
  mine[1] += "!";  // grows into a block of its own
  EXPECT_EQ(Bytes(mine[1]), expected[3] + "!");
  std::thread other([&theirs] { theirs.clear(); });
  mine.clear();
  other.join();
}

#if defined(__SANITIZE_ADDRESS__)
// The sanitizer sees a write past a carved block, or into a released one, as
// it would for a block of its own.
TEST(VoStringBlockRunDeathTest, OverrunsAndUseAfterReleaseAreCaught) {
  const auto overrun = [](long past) {
    VoStringBlockRun run;
    VoString first(run.New("abc", 3));
    VoString second(run.New("def", 3));
    volatile char* chars = const_cast<VoStringData*>(DataOf(first))->Chars();
    if (past == 0) {
      first = VoString();  // released: its bytes now belong to nobody
      chars[0] = 'x';
    } else {
      chars[3 + past] = 'x';  // into the padding behind "abc"
    }
  };
  EXPECT_DEATH(overrun(1), "AddressSanitizer");
  EXPECT_DEATH(overrun(0), "AddressSanitizer");
}
#endif

TEST(VoStringAppend, Plus) {
  VoString a("ab");
  EXPECT_STREQ((a + VoString("cd")).c_str(), "abcd");
  EXPECT_STREQ((a + 'c').c_str(), "abc");
  EXPECT_STREQ(('z' + a).c_str(), "zab");
  EXPECT_STREQ((a + "xy").c_str(), "abxy");
  EXPECT_STREQ(a.c_str(), "ab");
  EXPECT_EQ(Count(a), 1);
}

// ---------------------------------------------------------------- access

TEST(VoStringAccess, IndexChecksCapacity) {
  VoString s(10L, false);
  s += "abc";
  const VoString& cs = s;
  EXPECT_EQ(cs[1], 'b');
  EXPECT_EQ(cs[3], '\0');  // between length and capacity: what the buffer holds
  EXPECT_EQ(cs[9L], cs[9]);
  EXPECT_VO_ERROR(cs[10], eVoIndexError, "VoIndexError");
  EXPECT_VO_ERROR(cs[-1], eVoIndexError, "VoIndexError");
  EXPECT_VO_ERROR(cs[10L], eVoIndexError, "VoIndexError");
  const VoString none;
  EXPECT_VO_ERROR(none[0], eVoIndexError, "VoIndexError");
  VoString mutableNone;
  EXPECT_VO_ERROR(mutableNone[0] = 'x', eVoIndexError, "VoIndexError");
  EXPECT_VO_ERROR(s[10] = 'x', eVoIndexError, "VoIndexError");

  s[5] = 'z';  // private buffer: any index below the capacity
  EXPECT_EQ(cs[5], 'z');
}

TEST(VoStringAccess, WritableIndexOnSharedBuffer) {
  VoString a(10L, false);
  a += "abc";
  VoString b(a);
  EXPECT_VO_ERROR(b[5] = 'x', eVoIndexError, "VoIndexError");
  EXPECT_VO_ERROR(b[3] = 'x', eVoIndexError, "VoIndexError");
  EXPECT_EQ(a.c_str(), b.c_str());  // nothing changed, still shared
  b[2] = 'C';
  EXPECT_STREQ(a.c_str(), "abc");
  EXPECT_STREQ(b.c_str(), "abC");
}

TEST(VoStringAccess, WritingZeroShortensText) {
  VoString s("abcdef");
  s[3] = '\0';
  EXPECT_EQ(s.length(), 3);
  VoString f("abcdef", 6, true);
  f[3] = '\0';
  EXPECT_EQ(f.length(), 6);
}

TEST(VoStringAccess, Get) {
  VoString none;
  long length = 42;
  EXPECT_EQ(none.Get(&length), nullptr);
  EXPECT_EQ(length, 42);
  VoString s("abc");
  char* p = s.Get(&length);
  EXPECT_EQ(length, 3);
  EXPECT_EQ(p, s.c_str());
  EXPECT_NE(s.Get(nullptr), nullptr);
}

TEST(VoStringAccess, PascalCopy) {
  unsigned char buffer[256];
  std::string text(300, 'a');
  for (std::size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char>('a' + i % 26);
  VoString s(text.c_str());
  std::memset(buffer, 0xEE, sizeof buffer);
  EXPECT_EQ(s.p_str(buffer), buffer);
  EXPECT_EQ(buffer[0], 255);
  EXPECT_EQ(std::memcmp(buffer + 1, text.data(), 255), 0);

  VoString("hey").p_str(buffer);
  EXPECT_EQ(buffer[0], 3);
  EXPECT_EQ(std::memcmp(buffer + 1, "hey", 3), 0);
  EXPECT_EQ(buffer[4], 'd');  // no terminator written
  VoString().p_str(buffer);
  EXPECT_EQ(buffer[0], 0);
  EXPECT_EQ(s.p_str(nullptr), nullptr);
}

TEST(VoStringAccess, SetLength) {
  VoString a("abcdef");
  VoString b(a);
  b.SetLength(3);
  EXPECT_EQ(a.length(), 3);
  EXPECT_EQ(b.length(), 3);
  EXPECT_STREQ(a.c_str(), "abcdef");
  b.SetLength(-1);
  EXPECT_EQ(a.length(), 6);  // counted again
  EXPECT_VO_ERROR(a.SetLength(7), eVoIndexError, "VoIndexError");
  VoString none;
  EXPECT_VO_ERROR(none.SetLength(0), eVoIndexError, "VoIndexError");

  VoString f("abcdef", 6, true);
  f.SetLength(2);
  EXPECT_EQ(f.length(), 2);
  f += 'Z';
  EXPECT_EQ(Bytes(f), "abZ");
}

// ---------------------------------------------------------------- comparison

struct CmpCase {
  const char* a;
  const char* b;
  int cmpSign;     // sign of cmp (strcmp, unsigned bytes)
  int ignoreCase;  // exact Vostricmp value
};

int Sign(int v) { return (v > 0) - (v < 0); }

TEST(VoStringCompare, Table) {
  const CmpCase cases[] = {
      {"abc", "abc", 0, 0},      {"abc", "ABD", 1, -1}, {"a", "\xE9", -1, 120},  // signed: 0xE9 is -23
      {"\x80", "\x7F", 1, -255}, {"", "", 0, 0},        {"", "a", -1, -97},     {"ab", "a", 1, 98},
      {"Hello", "hELLO", -1, 0}, {"[", "a", -1, -6},  // '[' is not folded
      {"Z", "[", -1, 31},                             // 'Z' folds to 'z', after '['
  };
  for (const CmpCase& c : cases) {
    const VoString a(c.a);
    const VoString b(c.b);
    EXPECT_EQ(Sign(a.cmp(b)), c.cmpSign) << c.a << " / " << c.b;
    EXPECT_EQ(Sign(a.cmp(c.b)), c.cmpSign) << c.a << " / " << c.b;
    EXPECT_EQ(Vostricmp(c.a, c.b), c.ignoreCase) << c.a << " / " << c.b;
    EXPECT_EQ(a.cmpIgnoreCase(b), c.ignoreCase) << c.a << " / " << c.b;
    EXPECT_EQ(a.cmpIgnoreCase(c.b), c.ignoreCase) << c.a << " / " << c.b;
    EXPECT_EQ(a == b, c.cmpSign == 0);
    EXPECT_EQ(a == c.b, c.cmpSign == 0);
    EXPECT_EQ(c.a == b, c.cmpSign == 0);
    EXPECT_EQ(a != b, c.cmpSign != 0);
    EXPECT_EQ(a != c.b, c.cmpSign != 0);
    EXPECT_EQ(c.a != b, c.cmpSign != 0);
    EXPECT_EQ(a < b, c.cmpSign < 0);
    EXPECT_EQ(a > b, c.cmpSign > 0);
    EXPECT_EQ(a <= b, c.cmpSign <= 0);
    EXPECT_EQ(a >= b, c.cmpSign >= 0);
  }
}

TEST(VoStringCompare, NoBufferIsEmptyAndZeroEndsText) {
  VoString none;
  EXPECT_EQ(none.cmp(""), 0);
  EXPECT_TRUE(none == VoString(""));
  VoString withZero("ab\0cd", 5, true);
  EXPECT_TRUE(withZero == "ab");
  EXPECT_EQ(withZero.cmpIgnoreCase("AB"), 0);
}

int ReferenceStricmp(const char* a, const char* b) {
  for (;; ++a, ++b) {
    int ca = static_cast<signed char>(*a);
    int cb = static_cast<signed char>(*b);
    if (ca >= 'A' && ca <= 'Z') ca += 32;
    if (cb >= 'A' && cb <= 'Z') cb += 32;
    if (ca != cb || ca == 0) return ca - cb;
  }
}

TEST(VoStringCompare, CaseBlindMatchesReferenceOnLongTexts) {
  // Exact-size heap copies, so that reading past a terminator is caught.
  std::mt19937 rng(11);
  const char pool[] =
      "aAzZ@[`{ \xC1\xE1\x80\x7F"
      "09";
  for (int round = 0; round < 600; ++round) {
    const std::size_t length = rng() % 700;
    std::string a(length, 'a');
    for (char& c : a) c = pool[rng() % (sizeof pool - 1)];
    std::string b = a;
    for (char& c : b) {
      if (rng() % 3 == 0 && ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))) c ^= 0x20;
    }
    switch (rng() % 4) {
      case 0:
        break;  // equal under the rule
      case 1:
        if (!b.empty()) b[rng() % b.size()] ^= static_cast<char>(1 + rng() % 0x7F);
        break;
      case 2:
        b.resize(rng() % (length + 1));
        break;
      case 3:
        b += pool[rng() % (sizeof pool - 1)];
        break;
    }
    std::unique_ptr<char[]> ha(new char[a.size() + 1]);
    std::unique_ptr<char[]> hb(new char[b.size() + 1]);
    std::memcpy(ha.get(), a.c_str(), a.size() + 1);
    std::memcpy(hb.get(), b.c_str(), b.size() + 1);
    ASSERT_EQ(Vostricmp(ha.get(), hb.get()), ReferenceStricmp(ha.get(), hb.get())) << round;
    ASSERT_EQ(Vostricmp(hb.get(), ha.get()), ReferenceStricmp(hb.get(), ha.get())) << round;
  }
}

TEST(VoStringCompare, Counted) {
  EXPECT_EQ(Vostrincmp("abcX", "ABCy", 3), 0);
  EXPECT_EQ(Vostrincmp("abcX", "ABCy", 4), 'X' + 32 - 'y');
  EXPECT_EQ(Vostrincmp("abc", "xyz", 0), 0);
  EXPECT_EQ(Vostrincmp("abc", "xyz", -4), 0);
  EXPECT_EQ(Vostrincmp("ab", "AB", 10), 0);  // both end
  EXPECT_EQ(Vostrincmp("ab", "ABC", 10), -99);
}

TEST(VoStringCompare, NullCStrings) {
  const char* null = nullptr;
  VoString s("a");
  EXPECT_VO_ERROR(s.cmp(null), eVoArgErr, "VoArgErr");
  EXPECT_VO_ERROR(s.cmpIgnoreCase(null), eVoArgErr, "VoArgErr");
  EXPECT_VO_ERROR((void)(s == null), eVoArgErr, "VoArgErr");
  EXPECT_VO_ERROR((void)(s != null), eVoArgErr, "VoArgErr");
  EXPECT_VO_ERROR((void)(null == s), eVoArgErr, "VoArgErr");
  EXPECT_VO_ERROR(Vostricmp(null, "a"), eVoArgErr, "VoArgErr");
  EXPECT_VO_ERROR(Vostricmp("a", null), eVoArgErr, "VoArgErr");
  EXPECT_VO_ERROR(Vostrincmp("a", null, 2), eVoArgErr, "VoArgErr");
}

// ---------------------------------------------------------------- search

TEST(VoStringSearch, Substr) {
  struct Case {
    long start, count;
    const char* expected;
  };
  const Case cases[] = {
      {2, -1, "cdef"}, {-3, 2, "ab"},    {6, 1, ""},  {0, 0, ""},         {1, 100, "bcdef"},
      {10, 1, ""},     {0, 6, "abcdef"}, {5, 1, "f"}, {-1, -1, "abcdef"}, {3, -7, "def"},
  };
  const VoString s("abcdef");
  for (const Case& c : cases) {
    VoString part = s.substr(c.start, c.count);
    EXPECT_STREQ(part.c_str(), c.expected) << c.start << "," << c.count;
    EXPECT_TRUE(HasBuffer(part));
    EXPECT_FALSE(IsFixed(part));
  }
  VoString fixed("a\0b\0c", 5, true);
  VoString part = fixed.substr(1, 3);
  EXPECT_TRUE(IsFixed(part));
  EXPECT_EQ(Bytes(part), std::string("\0b\0", 3));
  EXPECT_STREQ(VoString().substr(-2, 3).c_str(), "");
}

TEST(VoStringSearch, FindPattern) {
  struct Case {
    const char* text;
    const char* pattern;
    long start;
    bool ignoreCase;
    long expected;
  };
  const Case cases[] = {
      {"abcb", "B", 0, true, 1},
      {"abcb", "B", 0, false, -1},
      {"abcb", "b", 2, false, 3},
      {"abcb", "", 0, false, 0},
      {"abcb", "", 4, false, 4},
      {"abcb", "", 5, false, -1},
      {"abc", "abcd", 0, false, -1},
      {"abc", "c", 3, false, -1},
      {"abc", "c", 99, false, -1},
      {"abc", "ab", -5, false, 0},
      {"aaab", "aab", 0, false, 1},
      {"xyXYxy", "XY", 1, false, 2},
      {"xyXYxy", "xy", 1, true, 2},
      {"\xC9t\xE9", "\xE9", 0, true, 2},
      {"", "a", 0, false, -1},
      {"abab", "abab", 0, false, 0},
      {"mississippi", "issip", 0, false, 4},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(VoString(c.text).find(VoString(c.pattern), c.start, c.ignoreCase), c.expected)
        << c.text << " / " << c.pattern << " from " << c.start;
  }
  EXPECT_EQ(VoString().find(VoString(), 0), 0);
}

TEST(VoStringSearch, FindWithZeroBytesFollowsStrncmp) {
  // A pattern with a zero byte matches up to and including that zero.
  const VoString text("ab\0yzz", 6, true);
  EXPECT_EQ(text.find(VoString("b\0x", 3, true)), 1);
  EXPECT_EQ(text.findreverse(VoString("b\0x", 3, true)), 1);
  EXPECT_EQ(text.find(VoString("yz")), 3);  // the whole length is searched
  EXPECT_EQ(text.find(VoString("\0", 1, true)), 2);
  EXPECT_EQ(text.find(VoString("b\0x", 3, true), 0, true), 1);
  // The match must still fit: positions run up to length - pattern length.
  const VoString shortText("xab\0", 4, true);
  EXPECT_EQ(shortText.find(VoString("b\0qq", 4, true)), -1);
}

TEST(VoStringSearch, FindMatchesReference) {
  // Cross-check against a direct reading of the rule on random small-alphabet texts.
  std::mt19937 rng(7);
  const char alphabet[] = "aAbB";
  for (int round = 0; round < 400; ++round) {
    std::string text(rng() % 40, 'a');
    std::string pattern(1 + rng() % 4, 'a');
    for (char& c : text) c = alphabet[rng() % 4];
    for (char& c : pattern) c = alphabet[rng() % 4];
    const VoString t(text.c_str());
    const VoString p(pattern.c_str());
    const long n = static_cast<long>(pattern.size());
    const long length = static_cast<long>(text.size());
    for (int ic = 0; ic < 2; ++ic) {
      auto matches = [&](long pos) {
        return ic ? Vostrincmp(text.c_str() + pos, pattern.c_str(), static_cast<int>(n)) == 0
                  : std::strncmp(text.c_str() + pos, pattern.c_str(), static_cast<std::size_t>(n)) == 0;
      };
      for (long start = 0; start <= length + 1; ++start) {
        long expected = -1;
        for (long pos = start; pos <= length - n; ++pos) {
          if (matches(pos)) {
            expected = pos;
            break;
          }
        }
        ASSERT_EQ(t.find(p, start, ic != 0), expected) << text << " / " << pattern << " " << start;
      }
      long expectedLast = -1;
      for (long pos = length - n; pos >= 0; --pos) {
        if (matches(pos)) {
          expectedLast = pos;
          break;
        }
      }
      ASSERT_EQ(t.findreverse(p, ic != 0), expectedLast) << text << " / " << pattern;
    }
  }
}

TEST(VoStringSearch, FindOnLongTextsWithFrequentFirstByte) {
  // Long texts of few letters make the first pattern byte frequent, which
  // takes the word-at-a-time scan; the reference is a direct strncmp walk.
  std::mt19937 rng(5);
  for (int round = 0; round < 300; ++round) {
    std::string text(50 + rng() % 3000, 'a');
    for (char& c : text) c = "aab\xE1"[rng() % 4];
    std::string pattern(1 + rng() % 12, 'a');
    for (char& c : pattern) c = "aab\xE1"[rng() % 4];
    if (round % 3 == 0) {  // plant it near the end
      const std::size_t at = text.size() - pattern.size() - rng() % 5;
      text.replace(at, pattern.size(), pattern);
    }
    const VoString t(text.c_str());
    const VoString p(pattern.c_str());
    const long start = static_cast<long>(rng() % 40);
    const std::size_t expected = text.find(pattern, static_cast<std::size_t>(start));
    ASSERT_EQ(t.find(p, start), expected == std::string::npos ? -1 : static_cast<long>(expected)) << round;
    const std::size_t last = text.rfind(pattern);
    ASSERT_EQ(t.findreverse(p), last == std::string::npos ? -1 : static_cast<long>(last)) << round;
  }
}

TEST(VoStringSearch, FindReverseAndChars) {
  const VoString s("abcb");
  EXPECT_EQ(s.findreverse(VoString("b")), 3);
  EXPECT_EQ(s.findreverse(VoString("B"), true), 3);
  EXPECT_EQ(s.findreverse(VoString("B")), -1);
  EXPECT_EQ(s.findreverse(VoString("abcbx")), -1);
  EXPECT_EQ(s.findreverse(VoString("")), 4);
  EXPECT_EQ(VoString().findreverse(VoString("a")), -1);

  EXPECT_EQ(s.find('b'), 1);
  EXPECT_EQ(s.find('b', 2), 3);
  EXPECT_EQ(s.find('b', 4), -1);
  EXPECT_EQ(s.find('b', -3), 1);
  EXPECT_EQ(s.find('\0'), -1);  // scanning stops at length - 1
  EXPECT_EQ(s.find('z'), -1);
  EXPECT_EQ(s.findreverse('b'), 3);
  EXPECT_EQ(s.findreverse('a'), 0);
  EXPECT_EQ(s.findreverse('z'), -1);
  EXPECT_EQ(VoString().find('a'), -1);
  EXPECT_EQ(VoString("a\0b", 3, true).find('\0'), 1);
}

TEST(VoStringSearch, ContainsChar) {
  const VoString s("hello, world");
  EXPECT_EQ(s.containsChar(VoString("xwl")), 2);
  EXPECT_EQ(s.containsChar(VoString(",")), 5);
  EXPECT_EQ(s.containsChar(VoString("xyz")), -1);
  EXPECT_EQ(s.containsChar(VoString("")), -1);
  EXPECT_EQ(s.containsChar(VoString()), -1);
  EXPECT_EQ(VoString().containsChar(VoString("a")), -1);
  EXPECT_EQ(VoString("ab\xF0", 3).containsChar(VoString("\xF0")), 2);
}

TEST(VoStringSearch, ReplaceChar) {
  VoString s("banana");
  s.Replace('a', 'o');
  EXPECT_STREQ(s.c_str(), "bonono");
  s.Replace('n', '\0');
  EXPECT_STREQ(s.c_str(), "bo");
  EXPECT_EQ(s.length(), 2);
  VoString none;
  none.Replace('a', 'b');
  EXPECT_STREQ(none.c_str(), "");
}

// ---------------------------------------------------------------- numbers

TEST(VoStringNumbers, PrintfAndConversions) {
  VoString s;
  VoString copy = s.Printf("%d-%s", 42, "x");
  EXPECT_STREQ(s.c_str(), "42-x");
  EXPECT_STREQ(copy.c_str(), "42-x");
  EXPECT_EQ(s.length(), 4);

  s.Printf("%s", "");
  EXPECT_FALSE(HasBuffer(s));

  EXPECT_STREQ(s.ltoa(-5).c_str(), "-5");
  EXPECT_STREQ(s.ltoa(LONG_MIN).c_str(), std::to_string(LONG_MIN).c_str());
  EXPECT_STREQ(s.ftoa(0.5, nullptr).c_str(), "0.500000");
  EXPECT_STREQ(s.ftoa(2.25, "%.1f").c_str(), "2.2");
  EXPECT_EQ(VoString("123abc").atol(), 123);
  EXPECT_EQ(VoString().atol(), 0);
  EXPECT_DOUBLE_EQ(VoString("-2.5e1x").atof(), -25.0);
  EXPECT_DOUBLE_EQ(VoString().atof(), 0.0);
  EXPECT_VO_ERROR(s.Printf(static_cast<const char*>(nullptr)), eVoArgErr, "VoArgErr");
}

TEST(VoStringNumbers, LongOutputIsWhole) {
  for (std::size_t size : {4095u, 4096u, 4097u, 10000u}) {
    const std::string text(size, 'q');
    VoString s;
    s.Printf("<%s>", text.c_str());
    ASSERT_EQ(s.length(), static_cast<long>(size + 2));
    EXPECT_EQ(Bytes(s), "<" + text + ">");
  }

  VoString f;
  f.ftoa(1e300, nullptr);
  char expected[400];
  std::snprintf(expected, sizeof expected, "%f", 1e300);
  EXPECT_STREQ(f.c_str(), expected);
  EXPECT_EQ(f.length(), 308);

  f.ftoa(1.5, "%6000.2f");
  EXPECT_EQ(f.length(), 6000);
  EXPECT_EQ(Bytes(f), std::string(5996, ' ') + "1.50");
}

}  // namespace

namespace {

// A text filled through operator[] up to its capacity still ends at the
// capacity: every block, grown ones included, has a zero behind it.
TEST(VoStringRegressionTest, TextFilledToCapacityEndsThere) {
  VoString s;
  s += "abc";  // capacity 10
  for (int i = 3; i < 10; ++i) s[i] = 'x';
  EXPECT_EQ(s.length(), 10);
  EXPECT_STREQ(s.c_str(), "abcxxxxxxx");
  VoString grown("0123456789");
  grown += "ab";  // grows to 15
  for (int i = 12; i < 15; ++i) grown[i] = 'y';
  EXPECT_EQ(grown.length(), 15);
}

}  // namespace
