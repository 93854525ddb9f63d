// VoDate.cpp - calendar dates with a time of day: clamping, day keys and text forms.
#include "VoSystem/VoDate.h"

#include <climits>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <string>

#include "VoCore/VoError.h"

namespace {

int Clamp(int value, int low, int high) {
  if (value < low) return low;
  if (value > high) return high;
  return value;
}

int SaturateToInt(long long value) {
  if (value < INT_MIN) return INT_MIN;
  if (value > INT_MAX) return INT_MAX;
  return static_cast<int>(value);
}

bool IsCSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

/// Reads up to \p wanted integers the way "%d" conversions in a row do, from
/// the text of \p text (up to its first zero byte or its length), with every
/// character of \p blanks taken as a blank. Returns the number read.
int ReadIntegers(const VoString& text, const char* blanks, int* values, int wanted) {
  long end = text.length();
  if (end < 0) end = 0;
  const char* chars = text.c_str();
  auto at = [&](long i) -> char {
    char c = chars[i];
    for (const char* b = blanks; *b; ++b)
      if (c == *b) return ' ';
    return c;
  };
  // Stop at the first zero byte as well as at the length.
  long limit = 0;
  while (limit < end && chars[limit] != 0) ++limit;

  long pos = 0;
  int count = 0;
  while (count < wanted) {
    while (pos < limit && IsCSpace(at(pos))) ++pos;
    long p = pos;
    bool negative = false;
    if (p < limit && (at(p) == '+' || at(p) == '-')) {
      negative = at(p) == '-';
      ++p;
    }
    if (p >= limit || at(p) < '0' || at(p) > '9') break;
    long long magnitude = 0;
    while (p < limit && at(p) >= '0' && at(p) <= '9') {
      // Past the 32-bit range the value only saturates; stop growing it.
      if (magnitude <= static_cast<long long>(INT_MAX) + 1) magnitude = magnitude * 10 + (at(p) - '0');
      ++p;
    }
    values[count++] = SaturateToInt(negative ? -magnitude : magnitude);
    pos = p;
  }
  return count;
}

#if defined(__GNUC__)
VoString Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
#endif

/// Formats into a new text string; long output is formatted again into a
/// buffer of the right size, never cut.
VoString Format(const char* format, ...) {
  char small[256];
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(small, sizeof small, format, args);
  va_end(args);
  if (n <= 0) return VoString();
  if (static_cast<size_t>(n) < sizeof small) return VoString(small, n);
  std::string large(static_cast<size_t>(n) + 1, '\0');
  va_start(args, format);
  std::vsnprintf(large.data(), large.size(), format, args);
  va_end(args);
  return VoString(large.data(), n);
}

}  // namespace

VoDate::VoDate(int year, int month, int day, int hour, int minute, int second) {
  SetDate(year, month, day, hour, minute, second);
}

void VoDate::SetDate(int year, int month, int day, int hour, int minute, int second) {
  mYear = Clamp(year, 0, 3000);
  mMonth = Clamp(month, 1, 12);
  mDay = Clamp(day, 1, 31);
  SetTime(hour, minute, second);
}

void VoDate::SetTime(int hour, int minute, int second) {
  mHour = Clamp(hour, 0, 23);
  mMinute = Clamp(minute, 0, 59);
  mSecond = Clamp(second, 0, 59);
}

long VoDate::SecondOfDay() const {
  return static_cast<long>(mHour) * 3600 + static_cast<long>(mMinute) * 60 + mSecond;
}

long VoDate::Day2Long() const { return (12 * static_cast<long>(mYear) + mMonth) * 31 + mDay - 32; }

void VoDate::Long2Date(long key) {
  mYear = SaturateToInt(key / 372);
  mMonth = static_cast<int>((key / 31) % 12 + 1);
  mDay = static_cast<int>(key % 31 + 1);
}

VoString VoDate::GetString() const {
  return Format("%d-%d-%d %d:%02d:%02d", mYear, mMonth, mDay, mHour, mMinute, mSecond);
}

VoString VoDate::GetDayString() const { return Format("%d-%d-%d", mYear, mMonth, mDay); }

VoString VoDate::GetFileNameString() const {
  return Format("%d%02d%02d %02d-%02d", mYear, mMonth, mDay, mHour, mMinute);
}

VoString VoDate::GetFileNameString(VoString separator) const {
  return Format("%d%02d%02d%s%02d-%02d", mYear, mMonth, mDay, separator.c_str(), mHour, mMinute);
}

VoString VoDate::GetShortString() const {
  // Unsigned 32-bit arithmetic: fields written through the accessors may hold
  // any value, and only the low byte is kept.
  const int fields[6] = {mYear, mMonth, mDay, mHour, mMinute, mSecond};
  char codes[6];
  for (int i = 0; i < 6; ++i) {
    uint32_t offset = i == 0 ? 113u : 65u;
    codes[i] = static_cast<char>(static_cast<unsigned char>(static_cast<uint32_t>(fields[i]) + offset));
  }
  return VoString(codes, 6, true);
}

void VoDate::SetString(const VoString& text) {
  int v[6] = {0, 0, 0, 0, 0, 0};
  if (ReadIntegers(text, "-:", v, 6) < 3) VO_THROW(eVoFormatErr);
  SetDate(v[0], v[1], v[2], v[3], v[4], v[5]);
}

void VoDate::SetDayString(const VoString& text) {
  int v[3] = {0, 0, 0};
  if (ReadIntegers(text, "-", v, 3) < 3) VO_THROW(eVoFormatErr);
  SetDate(v[0], v[1], v[2], 0, 0, 0);
}

void VoDate::SetShortString(const VoString& text) {
  if (text.length() != 6) VO_THROW(eVoFormatErr);
  const unsigned char* c = reinterpret_cast<const unsigned char*>(text.c_str());
  int year = static_cast<int8_t>(c[0]) + 1935;
  SetDate(year, c[1] - 65, c[2] - 65, c[3] - 65, c[4] - 65, c[5] - 65);
}
