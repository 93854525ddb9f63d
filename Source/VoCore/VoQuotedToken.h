// VoQuotedToken.h - the one rule for a double-quoted token and its escapes (not installed).
//
// A quoted token starts at a '"' and runs up to and including the next '"'
// that no backslash escapes. A zero byte ends it early (even right behind a
// backslash) and is not part of it; so does the end of the text. Inside the
// quotes a backslash takes the next character literally; unquoting drops the
// backslash only in front of '"' and '\\'.
//
// Used by VoString::ReadString and its relatives (the token as it stands),
// VoString::UnQuoteString, and the database reader (both unquote).
#ifndef VOFOUNDATION_VOCORE_VOQUOTEDTOKEN_H
#define VOFOUNDATION_VOCORE_VOQUOTEDTOKEN_H

#include <bit>
#include <cstdint>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace VoQuoted {

/// Where a quoted token ends.
struct End {
  /// One behind the token's last byte: behind the closing quote, or the
  /// position of the zero byte that ended it, or the text's length.
  long end;
  /// The token ends with its closing quote.
  bool closed;
  /// The token holds a backslash (unquoting it may drop some).
  bool escapes;
};

/// The first position from \p pos on holding '"', '\\' or a zero byte, or \p length.
inline long FindSpecial(const unsigned char* s, long pos, long length) {
#ifdef __SSE2__
  // Sixteen bytes at a time: most tokens end within a few rounds.
  const __m128i quote = _mm_set1_epi8('"');
  const __m128i backslash = _mm_set1_epi8('\\');
  const __m128i zero = _mm_setzero_si128();
  while (pos + 16 <= length) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + pos));
    const __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(x, quote), _mm_cmpeq_epi8(x, backslash)),
                                     _mm_cmpeq_epi8(x, zero));
    const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(hit));
    if (mask != 0) return pos + std::countr_zero(mask);
    pos += 16;
  }
#endif
  if constexpr (std::endian::native == std::endian::little) {
    // Eight bytes at a time. The lowest flagged byte of each test is exact
    // (no borrow reaches it from below), so the lowest of all three is too.
    constexpr std::uint64_t kOnes = 0x0101010101010101u;
    constexpr std::uint64_t kHighs = 0x8080808080808080u;
    while (pos + 8 <= length) {
      std::uint64_t x;
      std::memcpy(&x, s + pos, 8);
      const std::uint64_t q = x ^ (kOnes * '"');
      const std::uint64_t b = x ^ (kOnes * '\\');
      const std::uint64_t hit = (((x - kOnes) & ~x) | ((q - kOnes) & ~q) | ((b - kOnes) & ~b)) & kHighs;
      if (hit != 0) return pos + (std::countr_zero(hit) >> 3);
      pos += 8;
    }
  }
  while (pos < length && s[pos] != '"' && s[pos] != '\\' && s[pos] != 0) ++pos;
  return pos;
}

/// Scans the quoted token whose opening quote is at \p open (\p open < \p length).
inline End Scan(const char* text, long open, long length) {
  const unsigned char* s = reinterpret_cast<const unsigned char*>(text);
  End e{length, false, false};
  long pos = open + 1;
  for (;;) {
    pos = FindSpecial(s, pos, length);
    if (pos >= length) return e;  // unterminated: the text ends the token
    const unsigned char c = s[pos];
    if (c == '"') {
      e.end = pos + 1;
      e.closed = true;
      return e;
    }
    if (c == 0) {
      e.end = pos;
      return e;
    }
    e.escapes = true;  // a backslash: the next character is literal, unless it is a zero
    ++pos;
    if (pos < length && s[pos] != 0) ++pos;
  }
}

/// Writes the unquoted form of the \p count characters between a token's
/// quotes to \p out (room for \p count bytes) and returns how many it wrote.
/// A backslash is dropped in front of '"' and '\\'; a last lone backslash stays.
inline long Unescape(const char* in, long count, char* out) {
  long n = 0;
  long i = 0;
  while (i < count) {
    const void* hit = std::memchr(in + i, '\\', static_cast<std::size_t>(count - i));
    const long at = hit ? static_cast<long>(static_cast<const char*>(hit) - in) : count;
    std::memcpy(out + n, in + i, static_cast<std::size_t>(at - i));  // a run without escapes
    n += at - i;
    if (at >= count) break;
    if (at + 1 >= count) {  // a lone backslash at the end stays
      out[n++] = '\\';
      break;
    }
    const char next = in[at + 1];
    if (next != '"' && next != '\\') out[n++] = '\\';
    out[n++] = next;
    i = at + 2;
  }
  return n;
}

}  // namespace VoQuoted

#endif  // VOFOUNDATION_VOCORE_VOQUOTEDTOKEN_H
