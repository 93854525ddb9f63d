// Tests of VoDate (clamping, text forms, day key) and VoSystem::GetDate.
#include "VoSystem/VoSystem.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <ctime>
#include <time.h>  // tzset
#include <functional>
#include <string>

#include "VoCore/VoError.h"

namespace {

struct Fields {
  int year, month, day, hour, minute, second;
};

Fields FieldsOf(const VoDate& d) { return {d.Year(), d.Month(), d.Day(), d.Hour(), d.Minute(), d.Second()}; }

std::string Show(const Fields& f) {
  return std::to_string(f.year) + "-" + std::to_string(f.month) + "-" + std::to_string(f.day) + " " +
         std::to_string(f.hour) + ":" + std::to_string(f.minute) + ":" + std::to_string(f.second);
}

::testing::AssertionResult SameFields(const VoDate& d, const Fields& want) {
  Fields got = FieldsOf(d);
  if (got.year == want.year && got.month == want.month && got.day == want.day && got.hour == want.hour &&
      got.minute == want.minute && got.second == want.second)
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "got " << Show(got) << ", want " << Show(want);
}

/// Runs \p action and checks that it throws VoError with \p code and \p name.
::testing::AssertionResult ThrowsVoError(const std::function<void()>& action, unsigned long code,
                                         const char* name) {
  try {
    action();
  } catch (const VoError& e) {
    if (e.GetErr() == code && std::string(e.GetErrName()) == name) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "threw " << e.GetErr() << " " << e.GetErrName();
  } catch (...) {
    return ::testing::AssertionFailure() << "threw something else";
  }
  return ::testing::AssertionFailure() << "did not throw";
}

std::string Str(const VoString& s) { return std::string(s.c_str(), static_cast<size_t>(s.length())); }

// ------------------------------------------------------------------ construction

struct ClampCase {
  Fields in;
  Fields out;
};

TEST(VoDateTest, ConstructorClampsEveryField) {
  const ClampCase cases[] = {
      {{2006, 13, 0, 24, -1, 60}, {2006, 12, 1, 23, 0, 59}},
      {{-5, 2, 31, 0, 0, 0}, {0, 2, 31, 0, 0, 0}},  // no month-length check
      {{0, 0, 0, 0, 0, 0}, {0, 1, 1, 0, 0, 0}},     // the zero date
      {{3000, 12, 31, 23, 59, 59}, {3000, 12, 31, 23, 59, 59}},
      {{3001, 1, 1, 0, 0, 0}, {3000, 1, 1, 0, 0, 0}},
      {{2999, 1, 32, 0, 0, 0}, {2999, 1, 31, 0, 0, 0}},
      {{INT_MIN, INT_MIN, INT_MIN, INT_MIN, INT_MIN, INT_MIN}, {0, 1, 1, 0, 0, 0}},
      {{INT_MAX, INT_MAX, INT_MAX, INT_MAX, INT_MAX, INT_MAX}, {3000, 12, 31, 23, 59, 59}},
      {{1, 12, 1, 23, 59, 0}, {1, 12, 1, 23, 59, 0}},
      {{-1, -1, -1, -1, -1, -1}, {0, 1, 1, 0, 0, 0}},
  };
  for (const ClampCase& c : cases) {
    VoDate d(c.in.year, c.in.month, c.in.day, c.in.hour, c.in.minute, c.in.second);
    EXPECT_TRUE(SameFields(d, c.out)) << "from " << Show(c.in);
    VoDate e(1999, 9, 9, 9, 9, 9);
    e.SetDate(c.in.year, c.in.month, c.in.day, c.in.hour, c.in.minute, c.in.second);
    EXPECT_TRUE(SameFields(e, c.out)) << "SetDate from " << Show(c.in);
  }
}

TEST(VoDateTest, DefaultIsTheZeroDate) { EXPECT_TRUE(SameFields(VoDate(), {0, 1, 1, 0, 0, 0})); }

TEST(VoDateTest, SetTimeClampsAndKeepsTheDate) {
  VoDate d(2006, 5, 4, 9, 5, 7);
  d.SetTime(-3, 75, 30);
  EXPECT_TRUE(SameFields(d, {2006, 5, 4, 0, 59, 30}));
  d.Month() = 40;  // unclamped value must survive SetTime
  d.SetTime(12, 0, 99);
  EXPECT_TRUE(SameFields(d, {2006, 40, 4, 12, 0, 59}));
}

TEST(VoDateTest, AccessorsStoreUnclampedValuesUntilSetDate) {
  VoDate d(2006, 5, 4, 9, 5, 7);
  d.Month() = 0;
  d.Year() = -7;
  d.Second() = 600;
  EXPECT_TRUE(SameFields(d, {-7, 0, 4, 9, 5, 600}));
  VoDate copy = d;  // copying copies the fields as they are
  EXPECT_TRUE(SameFields(copy, {-7, 0, 4, 9, 5, 600}));
  d.SetDate(d.Year(), d.Month(), d.Day(), d.Hour(), d.Minute(), d.Second());
  EXPECT_TRUE(SameFields(d, {0, 1, 4, 9, 5, 59}));
}

TEST(VoDateTest, SecondOfDay) {
  struct Case {
    int h, m, s;
    long want;
  } cases[] = {{0, 0, 0, 0}, {23, 59, 59, 86399}, {9, 5, 7, 32707}, {12, 0, 0, 43200}};
  for (const Case& c : cases) EXPECT_EQ(VoDate(2006, 1, 1, c.h, c.m, c.s).SecondOfDay(), c.want);
  VoDate big;
  big.Hour() = INT_MAX;  // computed in long: no overflow
  EXPECT_EQ(big.SecondOfDay(), static_cast<long>(INT_MAX) * 3600);
}

// ------------------------------------------------------------------ day key

TEST(VoDateTest, DayKeyValues) {
  struct Case {
    Fields date;
    long key;
  } cases[] = {
      {{0, 1, 1, 0, 0, 0}, 0},         {{3000, 12, 31, 0, 0, 0}, 1116371}, {{2006, 1, 31, 0, 0, 0}, 746262},
      {{2006, 2, 1, 0, 0, 0}, 746263}, {{2006, 5, 4, 0, 0, 0}, 746359},    {{0, 12, 31, 0, 0, 0}, 371},
      {{1, 1, 1, 0, 0, 0}, 372},
  };
  for (const auto& c : cases) {
    VoDate d(c.date.year, c.date.month, c.date.day, 5, 6, 7);
    EXPECT_EQ(d.Day2Long(), c.key) << Show(c.date);
    VoDate back(1999, 9, 9, 11, 22, 33);
    back.Long2Date(c.key);
    EXPECT_TRUE(SameFields(back, {c.date.year, c.date.month, c.date.day, 11, 22, 33}));
  }
}

// Walks every date of the ranges in (year, month, day) order: each key must be
// the previous one plus 1 (so keys order dates as the tuples do and never
// collide), and Long2Date must give the date back.
TEST(VoDateTest, DayKeyOrdersAndRoundTripsOverTheWholeRange) {
  long previous = -1;
  long failures = 0;
  VoDate back;
  for (int y = 0; y <= 3000 && failures < 10; ++y)
    for (int m = 1; m <= 12; ++m)
      for (int d = 1; d <= 31; ++d) {
        long key = VoDate(y, m, d, 0, 0, 0).Day2Long();
        back.Long2Date(key);
        if (key != previous + 1 || back.Year() != y || back.Month() != m || back.Day() != d) {
          ADD_FAILURE() << y << "-" << m << "-" << d << " key " << key << " after " << previous;
          ++failures;
        }
        previous = key;
      }
  EXPECT_EQ(previous, 1116371);
}

TEST(VoDateTest, Long2DateTruncatesTowardZeroAndDoesNotClamp) {
  struct Case {
    long key;
    int year, month, day;
  } cases[] = {
      {-1, 0, 1, 0},          // -1/372 = 0, (-1/31)%12+1 = 1, -1%31+1 = 0
      {-31, 0, 0, 1},         // (-31/31)%12 = -1
      {-400, -1, 1, -27},     // -400/31 = -12, -12%12 = 0; -400%31 = -28
      {1116372, 3001, 1, 1},  // one past the range: year 3001, not clamped
      {372 * 5000 + 40, 5000, 2, 10},
  };
  for (const Case& c : cases) {
    VoDate d(2000, 6, 6, 1, 2, 3);
    d.Long2Date(c.key);
    EXPECT_TRUE(SameFields(d, {c.year, c.month, c.day, 1, 2, 3})) << "key " << c.key;
  }
  VoDate far;
  far.Long2Date(LONG_MAX);
  EXPECT_EQ(far.Year(), INT_MAX);
  far.Long2Date(LONG_MIN);
  EXPECT_EQ(far.Year(), INT_MIN);
}

// ------------------------------------------------------------------ text forms written

struct WriteCase {
  Fields date;
  const char* text;
  const char* day;
  const char* fileName;
  const char* fileNameUnderscore;
};

TEST(VoDateTest, TextFormsWritten) {
  const WriteCase cases[] = {
      {{2006, 5, 4, 9, 5, 7}, "2006-5-4 9:05:07", "2006-5-4", "20060504 09-05", "20060504_09-05"},
      {{2006, 12, 25, 7, 3, 9}, "2006-12-25 7:03:09", "2006-12-25", "20061225 07-03", "20061225_07-03"},
      {{2006, 1, 2, 3, 4, 5}, "2006-1-2 3:04:05", "2006-1-2", "20060102 03-04", "20060102_03-04"},
      {{0, 1, 1, 0, 0, 0}, "0-1-1 0:00:00", "0-1-1", "00101 00-00", "00101_00-00"},
      {{3000, 12, 31, 23, 59, 59}, "3000-12-31 23:59:59", "3000-12-31", "30001231 23-59", "30001231_23-59"},
      {{45, 10, 10, 10, 10, 10}, "45-10-10 10:10:10", "45-10-10", "451010 10-10", "451010_10-10"},
  };
  for (const WriteCase& c : cases) {
    VoDate d(c.date.year, c.date.month, c.date.day, c.date.hour, c.date.minute, c.date.second);
    EXPECT_EQ(Str(d.GetString()), c.text);
    EXPECT_EQ(Str(d.GetDayString()), c.day);
    EXPECT_EQ(Str(d.GetFileNameString()), c.fileName);
    EXPECT_EQ(Str(d.GetFileNameString(VoString("_"))), c.fileNameUnderscore);
  }
}

TEST(VoDateTest, FileNameStringSeparators) {
  VoDate d(2006, 1, 2, 3, 4, 5);
  EXPECT_EQ(Str(d.GetFileNameString(VoString("T"))), "20060102T03-04");
  EXPECT_EQ(Str(d.GetFileNameString(VoString())), "2006010203-04");
  EXPECT_EQ(Str(d.GetFileNameString(VoString(" at "))), "20060102 at 03-04");
  // A separator making the text longer than 255 characters is kept whole.
  std::string longSep(400, 'x');
  EXPECT_EQ(Str(d.GetFileNameString(VoString(longSep.c_str()))), "20060102" + longSep + "03-04");
}

TEST(VoDateTest, TextFormsOfUnclampedFields) {
  VoDate d(2006, 5, 4, 9, 5, 7);
  d.Minute() = -1;
  d.Year() = INT_MIN;
  EXPECT_EQ(Str(d.GetString()), "-2147483648-5-4 9:-1:07");
  EXPECT_EQ(Str(d.GetFileNameString()), "-21474836480504 09--1");
}

TEST(VoDateTest, ShortStringCharacters) {
  struct Case {
    Fields date;
    const char* text;
  } cases[] = {
      {{2006, 5, 4, 9, 5, 7}, "GFEJFH"},
      {{2000, 1, 1, 0, 59, 0}, "ABBA|A"},
      {{2062, 12, 31, 23, 59, 59}, "\x7fM`X||"},
      {{1807, 1, 1, 0, 0, 0},
       "\x80"
       "BBAAA"},
      {{0, 1, 1, 0, 0, 0}, "qBBAAA"},     // 113
      {{3000, 1, 1, 0, 0, 0}, ")BBAAA"},  // (3000 + 113) mod 256 = 41
  };
  for (const auto& c : cases) {
    VoDate d(c.date.year, c.date.month, c.date.day, c.date.hour, c.date.minute, c.date.second);
    VoString s = d.GetShortString();
    ASSERT_EQ(s.length(), 6) << Show(c.date);
    EXPECT_EQ(std::string(s.c_str(), 6), std::string(c.text, 6)) << Show(c.date);
  }
}

TEST(VoDateTest, ShortStringOfYear1935HoldsAZeroCharacterAndReadsBack) {
  VoDate d(1935, 6, 7, 8, 9, 10);
  VoString s = d.GetShortString();
  ASSERT_EQ(s.length(), 6);
  EXPECT_EQ(s.c_str()[0], '\0');
  VoDate back(2000, 1, 1, 0, 0, 0);
  back.SetShortString(s);
  EXPECT_TRUE(SameFields(back, {1935, 6, 7, 8, 9, 10}));
  // The six characters are of explicit length: making the text writable
  // (which recounts a plain text up to its zero byte) keeps all six.
  VoString writable = s;
  ASSERT_NE(writable.Get(), nullptr);
  ASSERT_EQ(writable.length(), 6);
  VoDate again(2000, 1, 1, 0, 0, 0);
  again.SetShortString(writable);
  EXPECT_TRUE(SameFields(again, {1935, 6, 7, 8, 9, 10}));
}

TEST(VoDateTest, ShortStringYearReadsBackModulo256) {
  for (int y = 0; y <= 3000; ++y) {
    VoDate d(y, 12, 31, 23, 59, 59);
    VoDate back;
    back.SetShortString(d.GetShortString());
    if (y >= 1807 && y <= 2062) {
      ASSERT_TRUE(SameFields(back, {y, 12, 31, 23, 59, 59}));
    } else {
      // Read back is 1807..2062 (then clamped to 0..3000): same year modulo 256.
      ASSERT_GE(back.Year(), 1807) << y;
      ASSERT_LE(back.Year(), 2062) << y;
      ASSERT_EQ((back.Year() - y) % 256, 0) << y;
    }
  }
}

// ------------------------------------------------------------------ text forms read

struct ReadCase {
  const char* text;
  Fields want;
};

TEST(VoDateTest, SetStringAccepts) {
  const ReadCase cases[] = {
      {"2006-05-04", {2006, 5, 4, 0, 0, 0}},
      {"2006-05-04 12", {2006, 5, 4, 12, 0, 0}},
      {"2006-05-04 10:20:30", {2006, 5, 4, 10, 20, 30}},
      {"2006-5-4 10:20", {2006, 5, 4, 10, 20, 0}},
      {"2006 5 4", {2006, 5, 4, 0, 0, 0}},
      {"2006-05-04T10:20:30", {2006, 5, 4, 0, 0, 0}},  // stops at the letter
      {"99999-1-1", {3000, 1, 1, 0, 0, 0}},
      {"2006-5-4 9:05:07", {2006, 5, 4, 9, 5, 7}},
      {"  \t2006\n5\r4\v1\f2", {2006, 5, 4, 1, 2, 0}},
      {"+2006 +5 +4", {2006, 5, 4, 0, 0, 0}},
      {"-5-3-2", {5, 3, 2, 0, 0, 0}},  // '-' is a blank, never a sign
      {"2006--5::4", {2006, 5, 4, 0, 0, 0}},
      {"2006-5-4 1:2:3:4:5", {2006, 5, 4, 1, 2, 3}},  // at most six integers
      {"2006 13 32 25 61 61", {2006, 12, 31, 23, 59, 59}},
      {"2006 5 4 x 10", {2006, 5, 4, 0, 0, 0}},
      {"2006 5 4 +", {2006, 5, 4, 0, 0, 0}},
      {"99999999999999999999 5 4 99999999999999999999", {3000, 5, 4, 23, 0, 0}},
      {"0 0 0", {0, 1, 1, 0, 0, 0}},
      {"2006 5 4 +-7", {2006, 5, 4, 0, 0, 0}},  // '-' is a blank, so '+' stands alone
  };
  for (const ReadCase& c : cases) {
    VoDate d(1999, 9, 9, 9, 9, 9);
    d.SetString(VoString(c.text));
    EXPECT_TRUE(SameFields(d, c.want)) << '"' << c.text << '"';
  }
}

const char* const kBadDateTexts[] = {
    "",        "2006-05",  "2006",     "   ",        "2006/5/4",   "0x10 5 4",
    "1e3 5 4", "2006 5 x", "2006 5 +", "a 2006 5 4", "2006 . 5 4", "--::",
};

TEST(VoDateTest, SetStringRejectsAndKeepsTheDate) {
  for (const char* text : kBadDateTexts) {
    VoDate d(1999, 9, 9, 9, 9, 9);
    EXPECT_TRUE(ThrowsVoError([&] { d.SetString(VoString(text)); }, 19, "VoFormatErr")) << '"' << text << '"';
    EXPECT_TRUE(SameFields(d, {1999, 9, 9, 9, 9, 9})) << '"' << text << '"';
  }
}

TEST(VoDateTest, ReadersStopAtAZeroByte) {
  VoString withZero("2006\0 5 4 10", 12, true);
  VoDate d(1999, 9, 9, 9, 9, 9);
  EXPECT_TRUE(ThrowsVoError([&] { d.SetString(withZero); }, 19, "VoFormatErr"));
  EXPECT_TRUE(ThrowsVoError([&] { d.SetDayString(withZero); }, 19, "VoFormatErr"));
  VoString tail("2006 5 4\0 10", 12, true);
  d.SetString(tail);
  EXPECT_TRUE(SameFields(d, {2006, 5, 4, 0, 0, 0}));
}

TEST(VoDateTest, SetDayString) {
  const ReadCase cases[] = {
      {"2006-05-04 10:20:30", {2006, 5, 4, 0, 0, 0}}, {"2006-05-04", {2006, 5, 4, 0, 0, 0}},
      {"2006-5-4 9:05:07", {2006, 5, 4, 0, 0, 0}},    {"2006 5 4", {2006, 5, 4, 0, 0, 0}},
      {"99999-0-77", {3000, 1, 31, 0, 0, 0}},         {"2006-5-4:12", {2006, 5, 4, 0, 0, 0}},
  };
  for (const ReadCase& c : cases) {
    VoDate d(1999, 9, 9, 9, 9, 9);
    d.SetDayString(VoString(c.text));
    EXPECT_TRUE(SameFields(d, c.want)) << '"' << c.text << '"';
  }
  // ':' is not a blank here.
  const char* const bad[] = {"2006-05", "", "2006:05:04", "2006-05:04", "x"};
  for (const char* text : bad) {
    VoDate d(1999, 9, 9, 9, 9, 9);
    EXPECT_TRUE(ThrowsVoError([&] { d.SetDayString(VoString(text)); }, 19, "VoFormatErr"))
        << '"' << text << '"';
    EXPECT_TRUE(SameFields(d, {1999, 9, 9, 9, 9, 9}));
  }
}

TEST(VoDateTest, SetShortString) {
  const ReadCase cases[] = {
      {"GFEJFH", {2006, 5, 4, 9, 5, 7}},
      {"ABBA|A", {2000, 1, 1, 0, 59, 0}},
      {"A~~~~~", {2000, 12, 31, 23, 59, 59}},  // '~' - 65 = 61: clamped
      {"A!!!!!", {2000, 1, 1, 0, 0, 0}},       // '!' - 65 = -32: clamped
      {"\x7f"
       "BBAAA",
       {2062, 1, 1, 0, 0, 0}},
      {"\x80"
       "BBAAA",
       {1807, 1, 1, 0, 0, 0}},  // first code read signed
      {"\xff"
       "BBAAA",
       {1934, 1, 1, 0, 0, 0}},
      {"A\xc8\xc8\xc8\xc8\xc8", {2000, 12, 31, 23, 59, 59}},  // other codes unsigned
  };
  for (const ReadCase& c : cases) {
    VoDate d(1999, 9, 9, 9, 9, 9);
    d.SetShortString(VoString(c.text));
    EXPECT_TRUE(SameFields(d, c.want)) << '"' << c.text << '"';
  }
  const char* const bad[] = {"GFEJF", "GFEJFHX", "", "G"};
  for (const char* text : bad) {
    VoDate d(1999, 9, 9, 9, 9, 9);
    EXPECT_TRUE(ThrowsVoError([&] { d.SetShortString(VoString(text)); }, 19, "VoFormatErr"))
        << '"' << text << '"';
    EXPECT_TRUE(SameFields(d, {1999, 9, 9, 9, 9, 9}));
  }
  // A text-mode string ends at its zero byte: "GF" then zero is two characters.
  VoDate d(1999, 9, 9, 9, 9, 9);
  EXPECT_TRUE(ThrowsVoError([&] { d.SetShortString(VoString("GF\0JFH")); }, 19, "VoFormatErr"));
}

// Every date of a sample written in each form reads back to the same fields.
TEST(VoDateTest, WrittenFormsReadBack) {
  for (int y = 0; y <= 3000; y += 7)
    for (int m = 1; m <= 12; m += 5)
      for (int d = 1; d <= 31; d += 6) {
        VoDate date(y, m, d, (y + d) % 24, (y * 7) % 60, (m * 13 + d) % 60);
        Fields f = FieldsOf(date);
        VoDate a(1, 1, 1, 1, 1, 1);
        a.SetString(date.GetString());
        ASSERT_TRUE(SameFields(a, f));
        VoDate b(1, 1, 1, 1, 1, 1);
        b.SetDayString(date.GetDayString());
        ASSERT_TRUE(SameFields(b, {y, m, d, 0, 0, 0}));
        VoDate c(1, 1, 1, 1, 1, 1);
        c.SetString(date.GetDayString());
        ASSERT_TRUE(SameFields(c, {y, m, d, 0, 0, 0}));
        if (y >= 1807 && y <= 2062) {
          VoDate s(1, 1, 1, 1, 1, 1);
          s.SetShortString(date.GetShortString());
          ASSERT_TRUE(SameFields(s, f));
        }
      }
}

// ------------------------------------------------------------------ the clock

::testing::AssertionResult GetDateMatchesLocaltime() {
  std::time_t before = std::time(nullptr);
  VoDate now = VoSystem::GetDate();
  std::time_t after = std::time(nullptr);
  if (before == static_cast<std::time_t>(-1)) return ::testing::AssertionFailure() << "no clock";
  bool matched = false;
  std::string seen;
  for (std::time_t t = before; t <= after && !matched; ++t) {
    std::tm tm = *std::localtime(&t);
    VoDate want(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    matched = SameFields(now, FieldsOf(want));
    seen += Str(want.GetString()) + " ";
  }
  if (matched) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "GetDate " << Str(now.GetString()) << ", localtime " << seen;
}

TEST(VoSystemTest, GetDateAgreesWithLocaltime) { EXPECT_TRUE(GetDateMatchesLocaltime()); }

// Under a zone 5:45 away from UTC a clock read in UTC (or without the minutes
// of the offset) cannot pass for local time.
TEST(VoSystemTest, GetDateFollowsTheTimeZone) {
  const char* old = std::getenv("TZ");
  std::string saved = old ? old : "";
  ASSERT_EQ(setenv("TZ", "XXX-05:45", 1), 0);
  tzset();
  EXPECT_TRUE(GetDateMatchesLocaltime());
  std::time_t t = std::time(nullptr);
  std::tm utc = *std::gmtime(&t);
  VoDate now = VoSystem::GetDate();
  EXPECT_NE((now.Minute() - utc.tm_min + 60) % 60, 0);  // 45 (or 46 across a tick)
  if (old)
    setenv("TZ", saved.c_str(), 1);
  else
    unsetenv("TZ");
  tzset();
}

}  // namespace
