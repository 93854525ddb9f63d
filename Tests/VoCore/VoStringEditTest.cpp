// Tests of text editing, wildcard matching and the tokenizer of VoString.
#include <fnmatch.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "VoCore/VoError.h"
#include "VoCore/VoString.h"
#include "VoData/VoArray.h"

namespace {

std::string Str(const VoString& s) {
  const long n = s.length();
  return std::string(s.c_str(), static_cast<std::size_t>(n < 0 ? 0 : n));
}

VoString Bytes(const std::string& s) { return VoString(s.data(), static_cast<long>(s.size()), false); }

std::vector<std::string> Items(const VoArray<VoString>& a) {
  std::vector<std::string> out;
  for (int i = 0; i < a.size; ++i) out.push_back(Str(a[i]));
  return out;
}

VoArray<VoString> MakeArray(const std::vector<std::string>& items) {
  VoArray<VoString> a(static_cast<int>(items.size()));
  for (std::size_t i = 0; i < items.size(); ++i) a[static_cast<int>(i)] = Bytes(items[i]);
  return a;
}

/// The capacity of a string, found through the checked index operator.
long Capacity(const VoString& s) {
  long cap = 0;
  for (;;) {
    try {
      (void)s[cap];
    } catch (const VoError& e) {
      EXPECT_EQ(e.GetErr(), static_cast<unsigned long>(eVoIndexError));
      return cap;
    }
    ++cap;
  }
}

// ------------------------------------------------------------------ wildcard matching

/// The budgeted matching step written out as the plain recursion.
int ReferenceMatchMax(const char* p, const char* t, long k) {
  for (;;) {
    if (p == t) return 1;
    if (!p || !t) return 0;
    if (*p == 0) return *t == 0 ? 1 : 0;
    if (*t == 0) {
      if (*p != '*') return 0;
      ++p;
      continue;
    }
    if (k < 0) return 0;
    if (std::strcmp(p, t) == 0) return 1;
    if (*p == '*') {
      if (ReferenceMatchMax(p + 1, t, k)) return 1;
      ++t;
      --k;
      continue;
    }
    if (*p != '?' && *p != *t) return 0;
    ++p;
    ++t;
  }
}

long Budget(const char* pattern, const char* text) {
  const long stars = static_cast<long>(std::count(pattern, pattern + std::strlen(pattern), '*'));
  return static_cast<long>(std::strlen(text)) - (static_cast<long>(std::strlen(pattern)) - stars);
}

std::string RandomText(std::mt19937& rng, const char* alphabet, int maxLength) {
  const std::size_t n = std::strlen(alphabet);
  std::string s(std::uniform_int_distribution<int>(0, maxLength)(rng), 'x');
  for (char& c : s) c = alphabet[std::uniform_int_distribution<std::size_t>(0, n - 1)(rng)];
  return s;
}

struct MatchCase {
  const char* pattern;
  const char* text;
  int expected;
};

TEST(StrMatchTest, Table) {
  const MatchCase cases[] = {
      {"*.txt", "a.txt", 1},
      {"*.txt", "a.txt.bak", 0},
      {"*.txt", ".txt", 1},
      {"a?c", "abc", 1},
      {"a?c", "ac", 0},
      {"a?c", "abbc", 0},
      {"*", "", 1},
      {"**", "", 1},
      {"**x", "x", 1},
      {"", "", 1},
      {"", "a", 0},
      {"a", "", 0},
      {"?", "", 0},
      {"*?", "", 0},
      {"*?", "z", 1},
      {"abc", "abc", 1},
      {"abc", "ABC", 0},  // case-sensitive
      {"a*b*c", "aXXbYYc", 1},
      {"a*b*c", "aXXcYYb", 0},
      {"*ab", "aab", 1},
      {"*ab", "aba", 0},
      {"a*", "a", 1},
      {"*a*", "bbb", 0},
      {"?*?", "ab", 1},
      {"?*?", "a", 0},
      {"*\\*", "x\\", 1},  // no escape character: the backslash is literal
      {"[a]", "a", 0},     // no bracket expressions either
      {"[a]", "[a]", 1},
      {"*x*", "*x*", 1},  // equal strings
      {"a*", "a*", 1},
      {"a\xE9*", "a\xE9z", 1},
      {"*a*a*a*a*a*a*a*a*b", "aaaaaaaaaaaaaaaaaaaaaaab", 1},
      {"*a*a*a*a*a*a*a*a*b", "aaaaaaaaaaaaaaaaaaaaaaaa", 0},
  };
  for (const MatchCase& c : cases) {
    EXPECT_EQ(StrMatch(c.pattern, c.text), c.expected) << c.pattern << " / " << c.text;
    EXPECT_EQ(StrMatchMax(c.pattern, c.text, Budget(c.pattern, c.text)), c.expected)
        << c.pattern << " / " << c.text;
  }
}

TEST(StrMatchTest, NullAndSamePointers) {
  const char* s = "a*";
  EXPECT_EQ(StrMatch(s, s), 1);
  EXPECT_EQ(StrMatch(nullptr, nullptr), 1);
  EXPECT_EQ(StrMatch(nullptr, "a"), 0);
  EXPECT_EQ(StrMatch("*", nullptr), 0);
  EXPECT_EQ(StrMatchMax(nullptr, nullptr, 0), 1);
  EXPECT_EQ(StrMatchMax(nullptr, "", 5), 0);
  EXPECT_EQ(StrMatchMax("", nullptr, 5), 0);
  // The same pointer matches whatever the budget.
  EXPECT_EQ(StrMatchMax(s, s, -100), 1);
}

TEST(StrMatchTest, PathologicalPatternsAnswer) {
  // A backtracking search that tries every way of spreading the text over the
  // stars would not finish on these.
  std::string text(10000, 'a');
  EXPECT_EQ(StrMatch("*a*a*a*a*a*a*a*a*b", text.c_str()), 0);
  EXPECT_EQ(StrMatchMax("*a*a*a*a*a*a*a*a*b", text.c_str(), Budget("*a*a*a*a*a*a*a*a*b", text.c_str())), 0);
  std::string pattern;
  for (int i = 0; i < 40; ++i) pattern += "*a";
  EXPECT_EQ(StrMatch((pattern + "*b").c_str(), text.c_str()), 0);
  EXPECT_EQ(StrMatch((pattern + "*").c_str(), text.c_str()), 1);
  text += 'b';
  EXPECT_EQ(StrMatch("*a*a*a*a*a*a*a*a*b", text.c_str()), 1);
  EXPECT_EQ(StrMatchMax("*a*a*a*a*a*a*a*a*b", text.c_str(), Budget("*a*a*a*a*a*a*a*a*b", text.c_str())), 1);
  EXPECT_EQ(StrMatch((pattern + "*b").c_str(), text.c_str()), 1);
}

TEST(StrMatchTest, LongPatternOfStarsNeedsNoDeepStack) {
  const std::string pattern(200000, '*');
  const std::string text(1000, 'q');
  EXPECT_EQ(StrMatch(pattern.c_str(), text.c_str()), 1);
  EXPECT_EQ(StrMatchMax(pattern.c_str(), text.c_str(), Budget(pattern.c_str(), text.c_str())), 1);
  EXPECT_EQ(StrMatchMax((pattern + "x").c_str(), text.c_str(), 999), 0);
  // A budget below the computed one takes the pair search; it too keeps no
  // call depth per star.
  const std::string shortStars(20000, '*');
  const std::string shortText(100, 'q');
  EXPECT_EQ(StrMatchMax(shortStars.c_str(), shortText.c_str(), 99), 1);
  EXPECT_EQ(StrMatchMax(shortStars.c_str(), shortText.c_str(), 98), 0);
  // With a literal last, the last character is not absorbed by a star, so one
  // below the computed budget already fails (as the recursion says on a small case).
  EXPECT_EQ(StrMatchMax((shortStars + "q").c_str(), shortText.c_str(), 99), 1);
  EXPECT_EQ(StrMatchMax((shortStars + "q").c_str(), shortText.c_str(), 98), 0);
  EXPECT_EQ(ReferenceMatchMax("****q", "qqq", 1), 0);
  EXPECT_EQ(ReferenceMatchMax("****", "qqq", 2), 1);
}

TEST(StrMatchTest, AgreesWithFnmatch) {
  std::mt19937 rng(12345);
  int matches = 0;
  for (int i = 0; i < 40000; ++i) {
    const std::string pattern = RandomText(rng, "ab*?", 8);
    const std::string text = RandomText(rng, "ab", 12);
    const int expected = fnmatch(pattern.c_str(), text.c_str(), 0) == 0 ? 1 : 0;
    matches += expected;
    ASSERT_EQ(StrMatch(pattern.c_str(), text.c_str()), expected) << pattern << " / " << text;
  }
  EXPECT_GT(matches, 1000);  // the generator produces both outcomes
  EXPECT_LT(matches, 39000);
}

TEST(StrMatchTest, AgreesWithBudgetedSearch) {
  std::mt19937 rng(777);
  for (int i = 0; i < 20000; ++i) {
    const std::string pattern = RandomText(rng, "ab*?", 9);
    const std::string text = RandomText(rng, "ab*?", 10);
    const long k = Budget(pattern.c_str(), text.c_str());
    const int reference = ReferenceMatchMax(pattern.c_str(), text.c_str(), k);
    ASSERT_EQ(StrMatch(pattern.c_str(), text.c_str()), reference) << pattern << " / " << text;
    ASSERT_EQ(StrMatchMax(pattern.c_str(), text.c_str(), k), reference) << pattern << " / " << text;
  }
}

TEST(StrMatchMaxTest, AnyBudgetAgreesWithRecursion) {
  // Budgets other than the computed one prune differently (a smaller one
  // stops matches, the equal-rest shortcut still answers 1).
  std::mt19937 rng(4242);
  int ones = 0;
  for (int i = 0; i < 20000; ++i) {
    const std::string pattern = RandomText(rng, "ab*?", 8);
    const std::string text = RandomText(rng, "ab*", 9);
    const long k = Budget(pattern.c_str(), text.c_str()) + std::uniform_int_distribution<long>(-4, 4)(rng);
    const int reference = ReferenceMatchMax(pattern.c_str(), text.c_str(), k);
    ones += reference;
    ASSERT_EQ(StrMatchMax(pattern.c_str(), text.c_str(), k), reference)
        << pattern << " / " << text << " budget " << k;
  }
  EXPECT_GT(ones, 500);
}

TEST(StrMatchMaxTest, OverlappingStringsAgreeWithRecursion) {
  // Pattern and text inside one buffer: meeting at the same address answers 1.
  std::mt19937 rng(99);
  for (int i = 0; i < 3000; ++i) {
    const std::string buffer = RandomText(rng, "a*?", 8);
    for (std::size_t p = 0; p <= buffer.size(); ++p) {
      for (std::size_t t = 0; t <= buffer.size(); ++t) {
        for (long k = -3; k <= 3; ++k) {
          const char* bp = buffer.c_str() + p;
          const char* bt = buffer.c_str() + t;
          ASSERT_EQ(StrMatchMax(bp, bt, k), ReferenceMatchMax(bp, bt, k))
              << buffer << " at " << p << "/" << t << " budget " << k;
        }
      }
    }
  }
}

TEST(StrMatchMaxTest, BudgetBoundaries) {
  // "a*" against "abc": the star must absorb exactly two characters.
  EXPECT_EQ(StrMatchMax("a*", "abc", 2), 1);
  // ... but the budget is not checked once the text is used up, so one less
  // still matches, two less does not.
  EXPECT_EQ(StrMatchMax("a*", "abc", 1), 1);
  EXPECT_EQ(StrMatchMax("a*", "abc", 0), 0);
  EXPECT_EQ(StrMatchMax("a*", "abc", -1), 0);
  EXPECT_EQ(StrMatchMax("a*", "abc", 1000), 1);
  // The budget is not consulted once the text is at its end.
  EXPECT_EQ(StrMatchMax("**", "", -5), 1);
  // Equal rests answer 1 before the budget is spent.
  EXPECT_EQ(StrMatchMax("*", "*", 0), 1);
  EXPECT_EQ(StrMatchMax("b*", "bxy", -1), 0);
  // Extreme budgets do not overflow.
  EXPECT_EQ(StrMatchMax("*", "abc", LONG_MIN), 0);
  EXPECT_EQ(StrMatchMax("*c", "abc", LONG_MAX), 1);
}

// ------------------------------------------------------------------ replace

struct ReplaceCase {
  const char* search;
  const char* replacement;
  const char* target;
  const char* result;
  int count;
};

TEST(ReplaceTest, Table) {
  const ReplaceCase cases[] = {
      {"a", "aa", "aXa", "aaXaa", 2},  // inserted text is not searched again
      {"", "zz", "abc", "abc", 0},        {"q", "z", "abc", "abc", 0},     {"aa", "X", "aaa", "Xa", 1},
      {"aa", "X", "aaaa", "XX", 2},       {"b", "", "abcb", "ac", 2},      {"abc", "xyz", "abc", "xyz", 1},
      {"abc", "", "abc", "", 1},          {"ab", "ba", "abab", "baba", 2}, {"x", "<x>", "x-x", "<x>-<x>", 2},
      {"A", "b", "aA", "ab", 1},  // case-sensitive
      {"long", "s", "short", "short", 0}, {"a", "b", "", "", 0},
  };
  for (const ReplaceCase& c : cases) {
    VoString target(c.target);
    EXPECT_EQ(Replace(VoString(c.search), VoString(c.replacement), target), c.count) << c.target;
    EXPECT_EQ(Str(target), c.result) << c.search << " in " << c.target;
  }
}

TEST(ReplaceTest, SharersAndAliasesAreSafe) {
  VoString target("one two one");
  const VoString sharer = target;
  EXPECT_EQ(Replace(VoString("one"), VoString("1"), target), 2);
  EXPECT_EQ(Str(target), "1 two 1");
  EXPECT_EQ(Str(sharer), "one two one");

  VoString self("abc");
  EXPECT_EQ(Replace(self, VoString("x"), self), 1);
  EXPECT_EQ(Str(self), "x");
  VoString twice("ab");
  EXPECT_EQ(Replace(VoString("b"), twice, twice), 1);
  EXPECT_EQ(Str(twice), "aab");
}

TEST(ReplaceTest, UnchangedTargetKeepsItsBuffer) {
  VoString target("abc");
  const char* before = target.c_str();
  EXPECT_EQ(Replace(VoString(""), VoString("x"), target), 0);
  EXPECT_EQ(Replace(VoString("z"), VoString("x"), target), 0);
  EXPECT_EQ(target.c_str(), before);
}

// ------------------------------------------------------------------ case, order, line ends

TEST(EditTest, CaseChangeTouchesOnlyAsciiLetters) {
  VoString s("Hello, World! \xC9\xE9 [@`{] 09");
  const VoString sharer = s;
  s.LoCase();
  EXPECT_EQ(Str(s), "hello, world! \xC9\xE9 [@`{] 09");
  EXPECT_EQ(Str(sharer), "Hello, World! \xC9\xE9 [@`{] 09");
  s.HiCase();
  EXPECT_EQ(Str(s), "HELLO, WORLD! \xC9\xE9 [@`{] 09");

  // A fixed-length string is changed over its whole length, past zero bytes.
  VoString fixed(std::string("Ab\0Cd", 5).data(), 5, true);
  fixed.LoCase();
  EXPECT_EQ(Str(fixed), std::string("ab\0cd", 5));
  fixed.HiCase();
  EXPECT_EQ(Str(fixed), std::string("AB\0CD", 5));

  VoString none;
  none.LoCase();
  none.HiCase();
  EXPECT_EQ(none.length(), 0);
}

TEST(EditTest, Reverse) {
  const struct {
    const char* in;
    const char* out;
  } cases[] = {{"", ""}, {"a", "a"}, {"ab", "ba"}, {"abc", "cba"}, {"a b\t", "\tb a"}};
  for (const auto& c : cases) {
    VoString s(c.in);
    const VoString sharer = s;
    s.Reverse();
    EXPECT_EQ(Str(s), c.out);
    EXPECT_EQ(Str(sharer), c.in);
  }
  VoString fixed(std::string("a\0b", 3).data(), 3, true);
  fixed.Reverse();
  EXPECT_EQ(Str(fixed), std::string("b\0a", 3));
}

TEST(EditTest, AdjustLineFeedTable) {
  const struct {
    const char* in;
    const char* lineEnd;
    const char* out;
  } cases[] = {
      {"a\r\nb\rc\nd", "\n", "a\nb\nc\nd"},
      {"a\n\rb", "\n", "a\n\nb"},  // LF then CR: two line ends
      {"\r\r\n", "\n", "\n\n"},
      {"\n", "\r\n", "\r\n"},
      {"\r\n\r\n", "\r", "\r\r"},
      {"a\nb", "\r\n", "a\r\nb"},
      {"x\r\ny", "", "xy"},
      {"x\r\ny", "<br>", "x<br>y"},
      {"no line ends", "\n", "no line ends"},
      {"", "\n", ""},
      {"\n\n\r\r", "|", "||||"},
  };
  for (const auto& c : cases) {
    VoString s(c.in);
    const VoString sharer = s;
    s.AdjustLineFeed(VoString(c.lineEnd));
    EXPECT_EQ(Str(s), c.out) << c.in;
    EXPECT_EQ(Str(sharer), c.in);
  }
}

TEST(EditTest, AdjustLineFeedWithItselfAsLineEnd) {
  VoString s("a\nb");
  s.AdjustLineFeed(s);
  EXPECT_EQ(Str(s), "aa\nbb");
}

TEST(EditTest, StripTrailingZerosTable) {
  const struct {
    const char* in;
    const char* out;
  } cases[] = {
      {"12.500", "12.5"},  {"12.000", "12"},   {"12.", "12"}, {".000", "0"},     {".", "0"},
      {"100", "100"},      {"1.0e5", "1.0e5"}, {"0.0", "0"},  {"-1.50", "-1.5"}, {"-0.000", "-0"},
      {"1.05", "1.05"},    {".5", ".5"},       {".50", ".5"}, {"", ""},          {"1.2.0", "1.2."},
      {"10.010", "10.01"}, {"1e.00", "1e"},
  };
  for (const auto& c : cases) {
    VoString s(c.in);
    const VoString sharer = s;
    s.StripTrailingZeros();
    EXPECT_EQ(Str(s), c.out) << c.in;
    EXPECT_EQ(Str(sharer), c.in);
  }
}

TEST(EditTest, StripTable) {
  const struct {
    const char* in;
    const char* set;
    const char* out;
  } cases[] = {
      {"  ab   ", " ", "ab"},   {"     ", " ", ""},         {"", " ", ""},        {"a b", " ", "a b"},
      {"xyaxbyx", "xy", "axb"}, {" \tab\n", " \t\n", "ab"}, {" ab ", "", " ab "},  // empty set strips nothing
      {"abc", "abc", ""},       {"-a-", "-", "a"},
  };
  for (const auto& c : cases) {
    VoString s(c.in);
    const VoString result = s.Strip(VoString(c.set), false, false);  // the flags change nothing
    EXPECT_EQ(Str(result), c.out) << "[" << c.in << "]";
    EXPECT_EQ(Str(s), c.out) << "[" << c.in << "]";
  }
  VoString self(" ab ");
  EXPECT_EQ(Str(self.Strip(self, true, true)), "");  // every character is in the set
}

TEST(EditTest, IsWhiteSpace) {
  const VoString s;
  const VoString empty;
  for (int c = 0; c < 256; ++c) {
    const bool expected = c == 0 || c == 9 || c == 10 || c == 13 || c == 32;
    EXPECT_EQ(s.IsWhiteSpace(static_cast<char>(c), empty), expected) << c;
  }
  EXPECT_FALSE(s.IsWhiteSpace('\t', VoString(",")));
  EXPECT_TRUE(s.IsWhiteSpace(',', VoString(",")));
  EXPECT_FALSE(s.IsWhiteSpace(' ', VoString(",;")));
  EXPECT_TRUE(s.IsWhiteSpace(';', VoString(",;")));
  EXPECT_FALSE(s.IsWhiteSpace('\0', VoString(",")));
  // A set of explicit length may hold the zero byte itself.
  EXPECT_TRUE(s.IsWhiteSpace('\0', VoString(std::string(",\0", 2).data(), 2, true)));
  EXPECT_TRUE(s.IsWhiteSpace('\xFF', VoString("\xFF")));
}

// ------------------------------------------------------------------ tokens

struct Step {
  const char* token;  // nullptr: the empty string without a buffer
  long position;      // the position after the call
};

struct ReadCase {
  std::string text;
  bool quoted;
  std::string white;
  long start;
  std::vector<Step> steps;
};

TEST(ReadStringTest, PositionTable) {
  const ReadCase cases[] = {
      {"  \"a b\" c", true, "", 0, {{"\"a b\"", 7}, {"c", 9}, {nullptr, 9}}},
      {"  \"a b\" c", false, "", 0, {{"\"a", 5}, {"b\"", 8}, {"c", 9}, {nullptr, 9}}},
      {"\"x\\\"y\" z", true, "", 0, {{"\"x\\\"y\"", 6}, {"z", 8}}},
      {"\"a\\\\\" b", true, "", 0, {{"\"a\\\\\"", 5}, {"b", 7}}},
      {"\"\"", true, "", 0, {{"\"\"", 2}, {nullptr, 2}}},
      {"\"abc", true, "", 0, {{"\"abc", 4}, {nullptr, 4}}},  // unterminated
      {"\"ab\\", true, "", 0, {{"\"ab\\", 4}}},
      {"\"a\"b", true, "", 0, {{"\"a\"", 3}, {"b", 4}}},
      {"ab\"c d\"", true, "", 0, {{"ab\"c", 5}, {"d\"", 7}}},  // a quote inside a plain token
      {"one two", false, "", 0, {{"one", 4}, {"two", 7}, {nullptr, 7}}},
      {"one two", false, "", 3, {{"two", 7}}},
      {"one two", false, "", 2, {{"e", 4}}},
      {"a\t\r\n b", false, "", 0, {{"a", 2}, {"b", 6}}},
      {"a,,b c", false, ",", 0, {{"a", 2}, {"b c", 6}}},
      {"   ", false, "", 0, {{nullptr, 3}}},
      {"", false, "", 0, {{nullptr, 0}}},
      {"abc", false, "", 3, {{nullptr, 3}}},
      {"abc", false, "", 7, {{nullptr, 7}}},  // past the end: not moved
      {std::string("ab\0cd", 5), false, "", 0, {{"ab", 3}, {"cd", 5}}},
      {std::string("\"a\0b\" c", 7), true, "", 0, {{"\"a", 3}, {"b\"", 6}, {"c", 7}}},
      {std::string("\"a\\\0b", 5), true, "", 0, {{"\"a\\", 4}, {"b", 5}}},
  };
  for (const ReadCase& c : cases) {
    const VoString text = Bytes(c.text);
    const VoString white = Bytes(c.white);
    long pos = c.start;
    for (const Step& step : c.steps) {
      const VoString token = text.ReadString(pos, c.quoted, white);
      VoString probe = token;
      if (step.token) {
        EXPECT_EQ(Str(token), step.token) << "in [" << c.text << "]";
      } else {
        EXPECT_EQ(probe.Get(), nullptr) << "in [" << c.text << "]";
      }
      EXPECT_EQ(pos, step.position) << "in [" << c.text << "] token " << (step.token ? step.token : "-");
    }
  }
}

TEST(ReadStringTest, ZeroByteIsATokenCharacterWhenNotWhite) {
  const VoString text = Bytes(std::string("a\0b,c", 5));
  long pos = 0;
  const VoString first = text.ReadString(pos, false, VoString(","));
  // Appending character by character recounts the text before each append,
  // so the 'b' lands where the zero was.
  EXPECT_EQ(first.length(), 2);
  EXPECT_EQ(Str(first), std::string("ab"));
  EXPECT_EQ(pos, 4);
  EXPECT_EQ(text.CountWords(false, VoString(",")), 2);
}

TEST(ReadStringTest, TokenCapacityFollowsAppendGrowth) {
  const struct {
    long length;
    long capacity;
  } cases[] = {{1, 10}, {10, 10}, {11, 15}, {15, 15}, {16, 22}, {23, 33}, {50, 73}, {200, 244}};
  for (const auto& c : cases) {
    const VoString text = Bytes(" " + std::string(static_cast<std::size_t>(c.length), 'w') + " ");
    long pos = 0;
    const VoString token = text.ReadString(pos, false, VoString());
    EXPECT_EQ(token.length(), c.length);
    EXPECT_EQ(Capacity(token), c.capacity) << c.length;
  }
}

TEST(ReadStringTest, NegativePositionThrows) {
  const VoString text("abc");
  long pos = -1;
  try {
    (void)text.ReadString(pos, false, VoString());
    FAIL() << "no error";
  } catch (const VoError& e) {
    EXPECT_EQ(e.GetErr(), static_cast<unsigned long>(eVoIndexError));
    EXPECT_STREQ(e.GetErrName(), "VoIndexError");
  }
  EXPECT_EQ(pos, -1);
}

TEST(ReadStringTest, WordsAndCounts) {
  const VoString text("  alpha \"be ta\"\t\"\" gamma  ");
  const VoString ws;
  EXPECT_EQ(text.CountWords(true, ws), 4);
  EXPECT_EQ(text.CountWords(false, ws), 5);  // "be / ta" / ""
  const char* quotedWords[] = {"alpha", "\"be ta\"", "\"\"", "gamma"};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(Str(text.ReadWord(i, true, ws)), quotedWords[i]) << i;
  EXPECT_EQ(Str(text.ReadWord(1, false, ws)), "\"be");
  EXPECT_EQ(Str(text.ReadWord(4, false, ws)), "gamma");

  VoString past = text.ReadWord(4, true, ws);
  EXPECT_EQ(past.Get(), nullptr);
  VoString negative = text.ReadWord(-1, true, ws);
  EXPECT_EQ(negative.Get(), nullptr);

  const struct {
    const char* text;
    bool quoted;
    const char* white;
    long count;
  } counts[] = {
      {"", true, "", 0},          {"   \t\n", true, "", 0}, {"\"\"", true, "", 1},
      {"\"\" \"\"", true, "", 2}, {"a", false, "", 1},      {"a,b,,c,", false, ",", 3},
      {"a b", false, ",", 1},     {"\"a b", true, "", 1},   {"x\"y z\"", true, "", 2},
  };
  for (const auto& c : counts) {
    EXPECT_EQ(VoString(c.text).CountWords(c.quoted, VoString(c.white)), c.count) << c.text;
  }
}

// ------------------------------------------------------------------ lists

TEST(ListTest, SplitTable) {
  const struct {
    std::string text;
    char separator;
    std::vector<std::string> fields;
  } cases[] = {
      {"a,,b,", ',', {"a", "", "b"}},
      {"", ',', {}},
      {",", ',', {""}},
      {",a", ',', {"", "a"}},
      {",,,", ',', {"", "", ""}},
      {"abc", ',', {"abc"}},
      {"a b c", ' ', {"a", "b", "c"}},
      {"a,b", ';', {"a,b"}},
      {std::string("a\0b\0", 4), '\0', {"a", "b"}},
  };
  for (const auto& c : cases) {
    VoArray<VoString> list = MakeArray({"stale", "items"});
    Bytes(c.text).Split(list, c.separator);
    EXPECT_EQ(Items(list), c.fields) << "[" << c.text << "]";
  }
}

TEST(ListTest, SplitIntoTheListHoldingTheString) {
  VoArray<VoString> list = MakeArray({"x:y:z"});
  list[0].Split(list, ':');
  EXPECT_EQ(Items(list), (std::vector<std::string>{"x", "y", "z"}));
}

TEST(ListTest, MergeStringsTable) {
  const struct {
    std::vector<std::string> items;
    const char* separator;
    const char* result;
  } cases[] = {
      {{"a b", "c"}, " ", "\"a b\" c"},
      {{}, " ", ""},
      {{"only"}, ", ", "only"},
      {{"a", "b", "c"}, ", ", "a, b, c"},
      {{"a,b", "c d", "e"}, ", ", "\"a,b\", \"c d\", e"},  // any separator character quotes
      {{"q\"x", "b\\s", "a b\"c"}, " ", "q\"x b\\s \"a b\\\"c\""},
      {{"a b", "c"}, "", "a bc"},  // no separator: nothing is quoted
      {{"", "", ""}, "-", "--"},
  };
  for (const auto& c : cases) {
    VoString s("previous");
    s.MergeStrings(MakeArray(c.items), VoString(c.separator));
    EXPECT_EQ(Str(s), c.result);
  }
  VoString sep(" ");
  sep.MergeStrings(MakeArray({"a", "b"}), sep);
  EXPECT_EQ(Str(sep), "a b");
}

TEST(ListTest, ReadStringsUnquotes) {
  VoArray<VoString> list = MakeArray({"stale"});
  VoString("\"a b\" c").ReadStrings(list, VoString());
  EXPECT_EQ(Items(list), (std::vector<std::string>{"a b", "c"}));

  VoString("  x \"y \\\"q\\\" \\\\\" \"\" \"open z").ReadStrings(list, VoString());
  EXPECT_EQ(Items(list), (std::vector<std::string>{"x", "y \"q\" \\", "", "\"open z"}));

  VoString("a;\"b;c\";;d").ReadStrings(list, VoString(";"));
  EXPECT_EQ(Items(list), (std::vector<std::string>{"a", "b;c", "d"}));

  VoString("   ").ReadStrings(list, VoString());
  EXPECT_EQ(list.size, 0);

  // A lone quote at the end is a token that starts and ends with a quote.
  VoString("a \"").ReadStrings(list, VoString());
  EXPECT_EQ(Items(list), (std::vector<std::string>{"a", ""}));

  VoArray<VoString> own = MakeArray({"p q", "r"});
  own[0].ReadStrings(own, VoString());
  EXPECT_EQ(Items(own), (std::vector<std::string>{"p", "q"}));
}

TEST(ListTest, MergeThenReadStringsRoundTrips) {
  const std::vector<std::vector<std::string>> lists = {
      {"a b", "c"},
      {"plain", "with blank", "quote\"inside", "back\\slash", "\"starts quoted\"", "ends\\"},
      {"\\", "\\\\", "\" \"", "a\"b c\\\"d"},
      {"single"},
  };
  for (const auto& items : lists) {
    VoString merged;
    merged.MergeStrings(MakeArray(items), VoString(" "));
    VoArray<VoString> back(0);
    merged.ReadStrings(back, VoString());
    EXPECT_EQ(Items(back), items) << Str(merged);
  }
}

TEST(ListTest, RandomMergeReadRoundTrips) {
  // Items without line-end characters that are not empty and do not open a
  // quote unless they hold a blank (then they are quoted) come back unchanged.
  std::mt19937 rng(2024);
  for (int i = 0; i < 3000; ++i) {
    std::vector<std::string> items;
    const int n = std::uniform_int_distribution<int>(1, 6)(rng);
    while (static_cast<int>(items.size()) < n) {
      std::string item = RandomText(rng, "ab \"\\", 6);
      if (item.empty() || (item[0] == '"' && item.find(' ') == std::string::npos)) continue;
      items.push_back(item);
    }
    VoString merged;
    merged.MergeStrings(MakeArray(items), VoString(" "));
    VoArray<VoString> back(0);
    merged.ReadStrings(back, VoString());
    ASSERT_EQ(Items(back), items) << Str(merged);
  }
}

}  // namespace
