// VoDecimal.cpp - numbers in files, read and written the same whatever the process's locale.
#include "VoData/VoDecimalPrivate.h"

#include <charconv>
#include <clocale>
#include <cmath>
#include <cstring>
#include <string>

namespace {

bool IsDigit(char c, bool hex) {
  return (c >= '0' && c <= '9') || (hex && ((c | 0x20) >= 'a' && (c | 0x20) <= 'f'));
}

/// Whether the number text [s, end), too large or too small for a double,
/// is too large: the place of its first significant digit and its exponent
/// (hexadecimal digits count four binary places) say on which side it lies.
bool AboveRange(const char* s, const char* end, bool hex) {
  long place = 0;
  bool significant = false, point = false;
  for (; s < end && (IsDigit(*s, hex) || *s == '.'); ++s) {
    if (*s == '.') {
      point = true;
    } else if (significant || *s != '0') {
      significant = true;
      if (!point) ++place;
    } else if (point) {
      --place;
    }
  }
  place *= hex ? 4 : 1;
  long exponent = 0;
  const bool negative = s + 1 < end && s[1] == '-';
  for (s += 1 + (s + 1 < end && (s[1] == '-' || s[1] == '+')); s < end && exponent < 100000000; ++s)
    exponent = exponent * 10 + (*s - '0');
  return place + (negative ? -exponent : exponent) > 0;
}

}  // namespace

double VoDecimalRead(const char* text, const char** end) {
  if (end) *end = text;
  const char* s = text;
  while (*s == ' ' || (*s >= '\t' && *s <= '\r')) ++s;
  const bool negative = *s == '-';
  if (*s == '-' || *s == '+') ++s;
  if (*s == '-' || *s == '+') return 0.0;  // a second sign: no number
  bool hex = false;
  if (s[0] == '0' && (s[1] | 0x20) == 'x' && (IsDigit(s[2], true) || (s[2] == '.' && IsDigit(s[3], true)))) {
    hex = true;
    s += 2;
  }
  const char* last = s + std::strlen(s);
  double value = 0.0;
  const std::from_chars_result r =
      std::from_chars(s, last, value, hex ? std::chars_format::hex : std::chars_format::general);
  if (r.ec == std::errc::invalid_argument) return 0.0;
  if (r.ec == std::errc::result_out_of_range) value = AboveRange(s, r.ptr, hex) ? HUGE_VAL : 0.0;
  if (end) *end = r.ptr;
  return negative ? -value : value;
}

VoString VoDecimalFormat(double value, const char* format) {
  VoString text;
  if (!format) {  // "%f": six digits behind the point
    char buffer[400];
    const std::to_chars_result r =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 6);
    return VoString(buffer, static_cast<long>(r.ptr - buffer));
  }
  const char* point = std::localeconv()->decimal_point;
  if (!point || std::strcmp(point, ".") == 0) return text.ftoa(value, format);
  // Another decimal point: the conversion is formatted alone (without a
  // grouping flag) and its point replaced; the text around it is copied,
  // "%%" as "%".
  const char* spec = format;
  while (*spec && !(spec[0] == '%' && spec[1] != '%')) spec += spec[0] == '%' ? 2 : 1;
  const char* after = spec;
  if (*after) ++after;
  while (*after && !std::strchr("aAeEfFgG", *after)) ++after;
  if (*after) ++after;
  std::string literal, conversion;
  for (const char* p = format; p < spec; ++p) {
    literal.push_back(*p);
    if (*p == '%') ++p;
  }
  for (const char* p = spec; p < after; ++p)
    if (*p != '\'') conversion.push_back(*p);
  std::string number = VoString().ftoa(value, conversion.c_str()).c_str();
  const std::string::size_type at = number.find(point);
  if (at == std::string::npos) {
    literal += number;
  } else {
    literal.append(number, 0, at).append(1, '.').append(number, at + std::strlen(point));
  }
  for (const char* p = after; *p; ++p) {
    literal.push_back(*p);
    if (p[0] == '%' && p[1] == '%') ++p;
  }
  return VoString(literal.c_str(), static_cast<long>(literal.size()));
}

VoString VoDecimalShortest(double value) {
  char buffer[64];
  std::to_chars_result r{};
  for (int precision = 1; precision <= 17; ++precision) {
    r = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, precision);
    *r.ptr = 0;
    if (VoDecimalRead(buffer) == value) break;
  }
  return VoString(buffer, static_cast<long>(r.ptr - buffer));
}
