// strmatch_fuzz.cpp - wildcard matching of arbitrary patterns and texts.
//
// The input is "pattern\0text" (no zero byte: the first half is the pattern).
// StrMatch must agree with a plain table-driven matcher, and StrMatchMax must
// agree with it too when given the budget StrMatch computes; neither may hang.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "VoCore/VoString.h"

namespace {

/// Table-driven wildcard matching: '*' any run, '?' one character, no escape.
int ReferenceMatch(const std::string& p, const std::string& t) {
  const std::size_t m = p.size();
  const std::size_t n = t.size();
  // row[j]: the pattern so far matches the first j text characters.
  std::vector<char> row(n + 1, 0);
  std::vector<char> next(n + 1, 0);
  row[0] = 1;
  for (std::size_t i = 0; i < m; ++i) {
    const char c = p[i];
    if (c == '*') {
      next[0] = row[0];
      for (std::size_t j = 1; j <= n; ++j) next[j] = static_cast<char>(row[j] || next[j - 1]);
    } else {
      next[0] = 0;
      for (std::size_t j = 1; j <= n; ++j)
        next[j] = static_cast<char>(row[j - 1] && (c == '?' || c == t[j - 1]));
    }
    row.swap(next);
  }
  return row[n];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return 0;  // keeps the reference table small
  const char* bytes = reinterpret_cast<const char*>(data);
  const char* zero = static_cast<const char*>(std::memchr(bytes, 0, size));
  std::string pattern;
  std::string text;
  if (zero) {
    pattern.assign(bytes, zero);
    const char* rest = zero + 1;
    const char* end = bytes + size;
    const char* stop = static_cast<const char*>(std::memchr(rest, 0, static_cast<std::size_t>(end - rest)));
    text.assign(rest, stop ? stop : end);
  } else {
    pattern.assign(bytes, size / 2);
    text.assign(bytes + size / 2, size - size / 2);
  }
  const int expected = ReferenceMatch(pattern, text);
  if (StrMatch(pattern.c_str(), text.c_str()) != expected) std::abort();
  const long stars = static_cast<long>(std::count(pattern.begin(), pattern.end(), '*'));
  const long budget = static_cast<long>(text.size()) - (static_cast<long>(pattern.size()) - stars);
  if (StrMatchMax(pattern.c_str(), text.c_str(), budget) != expected) std::abort();
  // A tighter budget takes the pair search; it can only lose matches.
  if (StrMatchMax(pattern.c_str(), text.c_str(), budget - 1) > expected) std::abort();
  return 0;
}
