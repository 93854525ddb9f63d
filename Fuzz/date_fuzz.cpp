// Fuzz target for the date text readers: SetString, SetDayString and SetShortString.
//
// Every reader gets the input as a plain text and as a string of explicit
// length; a VoError is an accepted outcome, anything else must not happen. A
// date that was read is written in each text form and read back, which must
// give the same fields.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "VoCore/VoError.h"
#include "VoCore/VoString.h"
#include "VoSystem/VoDate.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

bool SameDay(const VoDate& a, const VoDate& b) {
  return a.Year() == b.Year() && a.Month() == b.Month() && a.Day() == b.Day();
}

bool Same(const VoDate& a, const VoDate& b) {
  return SameDay(a, b) && a.Hour() == b.Hour() && a.Minute() == b.Minute() && a.Second() == b.Second();
}

bool InRange(const VoDate& d) {
  return d.Year() >= 0 && d.Year() <= 3000 && d.Month() >= 1 && d.Month() <= 12 && d.Day() >= 1 &&
         d.Day() <= 31 && d.Hour() >= 0 && d.Hour() <= 23 && d.Minute() >= 0 && d.Minute() <= 59 &&
         d.Second() >= 0 && d.Second() <= 59;
}

/// Writes \p d (a clamped date) in every form and reads each one back.
void RoundTrip(const VoDate& d) {
  Check(InRange(d));
  VoDate a(1, 1, 1, 1, 1, 1);
  a.SetString(d.GetString());
  Check(Same(a, d));

  VoDate b(1, 1, 1, 1, 1, 1);
  b.SetDayString(d.GetDayString());
  Check(SameDay(b, d) && b.SecondOfDay() == 0);

  VoDate c(1, 1, 1, 1, 1, 1);
  c.SetShortString(d.GetShortString());
  if (d.Year() >= 1807 && d.Year() <= 2062) {
    Check(Same(c, d));
  } else {
    Check((c.Year() - d.Year()) % 256 == 0 && c.Month() == d.Month() && c.Day() == d.Day() &&
          c.SecondOfDay() == d.SecondOfDay());
  }

  VoDate k(d);
  k.Long2Date(d.Day2Long());
  Check(Same(k, d));

  // The file-name forms are only written; they must not fail.
  Check(d.GetFileNameString().length() >= 11);
  Check(d.GetFileNameString(VoString("_")).length() >= 11);
}

void ReadAll(const VoString& text) {
  const VoDate start(1999, 9, 9, 9, 9, 9);
  typedef void (VoDate::*Reader)(const VoString&);
  const Reader readers[] = {&VoDate::SetString, &VoDate::SetDayString, &VoDate::SetShortString};
  for (Reader reader : readers) {
    VoDate d(start);
    try {
      (d.*reader)(text);
    } catch (const VoError& e) {
      Check(e.GetErr() == eVoFormatErr && Same(d, start));  // unchanged on failure
      continue;
    }
    RoundTrip(d);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return 0;
  ReadAll(VoString(data, static_cast<long>(size), false));
  ReadAll(VoString(data, static_cast<long>(size), true));

  // Six numbers straight from the bytes: clamping, then the same round trips.
  if (size >= 24) {
    int32_t v[6];
    std::memcpy(v, data, sizeof v);
    VoDate d(v[0], v[1], v[2], v[3], v[4], v[5]);
    RoundTrip(d);
  }
  return 0;
}
