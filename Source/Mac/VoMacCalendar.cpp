// VoMacCalendar.cpp - file-system times as calendar dates in UTC.
#include <cstdint>

#include "Mac/VoMacToolsOSX.h"

namespace {

/// Days since 1970-01-01 to the civil date (proleptic Gregorian calendar).
void CivilFromDays(int64_t days, int64_t& year, int& month, int& day) {
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const int64_t doe = days - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  year = yoe + era * 400;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  if (month <= 2) ++year;
}

}  // namespace

VoDate VoMacTimeToDate(const VoMacTime& time) {
  int64_t days = time.seconds / 86400;
  int64_t rest = time.seconds % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  int64_t year;
  int month;
  int day;
  CivilFromDays(days, year, month, day);
  int y = year < 0 ? -1 : year > 3001 ? 3001 : static_cast<int>(year);  // clamped by VoDate
  return VoDate(y, month, day, static_cast<int>(rest / 3600), static_cast<int>(rest / 60 % 60),
                static_cast<int>(rest % 60));
}
