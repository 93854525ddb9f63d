// utf_fuzz.cpp - UTF-8 and UTF-16 decoding of arbitrary bytes, and UTF-8 round trips.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "VoCore/VoString.h"

namespace {

/// True for well-formed UTF-8 (shortest forms, no surrogates, at most U+10FFFF).
bool IsValidUtf8(const uint8_t* p, size_t n) {
  size_t i = 0;
  while (i < n) {
    const uint8_t c = p[i];
    size_t len;
    uint32_t v;
    if (c < 0x80) {
      ++i;
      continue;
    }
    if (c >= 0xC2 && c <= 0xDF) {
      len = 2;
      v = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      len = 3;
      v = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      len = 4;
      v = c & 0x07;
    } else
      return false;
    if (i + len > n) return false;
    for (size_t k = 1; k < len; ++k) {
      if ((p[i + k] & 0xC0) != 0x80) return false;
      v = (v << 6) | (p[i + k] & 0x3F);
    }
    if ((len == 3 && (v < 0x800 || (v >= 0xD800 && v <= 0xDFFF))) ||
        (len == 4 && (v < 0x10000 || v > 0x10FFFF)))
      return false;
    i += len;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const VoString text(data, static_cast<long>(size), false);
  const VoString fixed(data, static_cast<long>(size), true);

  // Output sizes stay within the documented capacities.
  const VoString iso = fixed.UTF8ToISO8859_1();
  if (iso.length() > static_cast<long>(size)) std::abort();
  const VoString utf16 = fixed.UTF8ToUTF16();
  if (utf16.length() > 2 * static_cast<long>(size) || (utf16.length() & 1)) std::abort();
  const VoString fromUtf16 = fixed.UTF16ToUTF8();
  if (fromUtf16.length() > 3 * static_cast<long>(size / 2)) std::abort();  // 3 bytes per unit at most
  (void)text.UTF8ToMacRoman();
  (void)utf16.UTF16ToUTF8();

  // Valid UTF-8 without NUL comes back unchanged through UTF-16.
  if (std::memchr(data, 0, size) == nullptr && IsValidUtf8(data, size)) {
    const VoString back = text.UTF8ToUTF16().UTF16ToUTF8();
    if (back.length() != static_cast<long>(size) || (size && std::memcmp(back.c_str(), data, size) != 0))
      std::abort();
  }
  return 0;
}
