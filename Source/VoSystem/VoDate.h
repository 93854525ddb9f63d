/// \file
/// Calendar dates with a time of day (VoDate).
#ifndef VOFOUNDATION_VOSYSTEM_VODATE_H
#define VOFOUNDATION_VOSYSTEM_VODATE_H

#include "VoCore/VoString.h"

/// A calendar date with a time of day: six plain signed 32-bit fields, no time
/// zone, no fraction of a second. Copying copies the six fields.
///
/// `SetDate` / `SetTime` (and so the constructor) clamp every field into its
/// range: year 0..3000, month 1..12, day 1..31, hour 0..23, minute 0..59,
/// second 0..59. A value below the range becomes the lower bound, one above it
/// the upper bound; out-of-range values are never an error. The day is not
/// checked against the length of its month (February 31 is a valid date).
///
/// The accessors `Year()` ... `Second()` hand out modifiable references; a
/// value written through them is stored as it is, without clamping, and every
/// other member copes with such values (nothing overflows or reads out of bounds).
class VoDate {
 public:
  /// Calls SetDate with the six values (clamped). Every argument defaults to
  /// 0, so `VoDate()` is the zero date 0-1-1 0:00:00 (the value of a file date
  /// not yet set) and containers of dates can default-construct them.
  VoDate(int year = 0, int month = 0, int day = 0, int hour = 0, int minute = 0, int second = 0);

  /// Clamps and stores year, month and day, then SetTime(hour, minute, second).
  void SetDate(int year, int month, int day, int hour, int minute, int second);
  /// Clamps and stores the three time fields; the date fields stay.
  void SetTime(int hour, int minute, int second);

  /// Field access: written values are stored unchanged (no clamping).
  /// @{
  int& Year() { return mYear; }
  int& Month() { return mMonth; }
  int& Day() { return mDay; }
  int& Hour() { return mHour; }
  int& Minute() { return mMinute; }
  int& Second() { return mSecond; }
  /// @}
  /// A field's value.
  /// @{
  int Year() const { return mYear; }
  int Month() const { return mMonth; }
  int Day() const { return mDay; }
  int Hour() const { return mHour; }
  int Minute() const { return mMinute; }
  int Second() const { return mSecond; }
  /// @}

  /// hour * 3600 + minute * 60 + second.
  long SecondOfDay() const;

  /// The day key (12 * year + month) * 31 + day - 32: every month counts 31
  /// days, so keys order dates like their (year, month, day) and equal keys
  /// mean equal dates. 0-1-1 is 0, 3000-12-31 is 1116371. A difference of keys
  /// is a day count only within one month.
  long Day2Long() const;
  /// Sets year = key / 372, month = (key / 31) % 12 + 1, day = key % 31 + 1
  /// (division truncating toward zero); no clamping, the time stays. Gives back
  /// the date of every key that Day2Long made from a date within the ranges.
  /// A year beyond the 32-bit range is stored as the nearest 32-bit value.
  void Long2Date(long key);

  // ---------------------------------------------------------------- text forms
  /// "%d-%d-%d %d:%02d:%02d": 2006-5-4 9:05:07.
  VoString GetString() const;
  /// "%d-%d-%d": 2006-5-4.
  VoString GetDayString() const;
  /// "%d%02d%02d %02d-%02d" (no seconds): 20060504 09-05.
  VoString GetFileNameString() const;
  /// "%d%02d%02d%s%02d-%02d" with \p separator between day and hour:
  /// 20060504_09-05 for "_". A separator of any length appears in full (its
  /// text up to its first zero byte); like every text form, the result is
  /// never cut.
  VoString GetFileNameString(VoString separator) const;
  /// Six characters, codes (year + 113) mod 256, month + 65, day + 65,
  /// hour + 65, minute + 65, second + 65 (each mod 256): 2006-5-4 9:05:07 is
  /// "GFEJFH". The year reads back unchanged for 1807 to 2062. The result is a
  /// fixed-length string of six characters, so that a zero character survives
  /// (the year 1935, whose code is (1935 + 113) mod 256 = 0).
  VoString GetShortString() const;

  /// Reads the GetString / GetDayString forms and any text of at least three
  /// integers: '-' and ':' count as blanks, then up to six "%d" integers
  /// (year, month, day, hour, minute, second) are read from the start; reading
  /// stops at the first character that cannot continue the next integer and
  /// missing fields are 0. An integer too large for 32 bits is read as the
  /// nearest 32-bit value. The values go through SetDate (clamped). Fewer than
  /// three integers throw "VoFormatErr" (19) and leave the date unchanged.
  void SetString(const VoString& text);
  /// Reads year, month and day as SetString does, with only '-' counting as a
  /// blank; the time becomes 0:00:00. Fewer than three integers throw
  /// "VoFormatErr" (19) and leave the date unchanged.
  void SetDayString(const VoString& text);
  /// Reads the GetShortString form: exactly six characters of the string's
  /// length, zero bytes included (else "VoFormatErr", 19, date unchanged).
  /// Year = first code as a signed 8-bit value + 1935, the others their
  /// unsigned code (0..255) - 65; the six values go through SetDate (clamped).
  void SetShortString(const VoString& text);

 private:
  int mYear;
  int mMonth;
  int mDay;
  int mHour;
  int mMinute;
  int mSecond;
};

#endif  // VOFOUNDATION_VOSYSTEM_VODATE_H
