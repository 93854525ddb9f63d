// VoByteScan.h - the byte-scanning primitives of the string and database code (not installed).
//
// Each primitive exists twice: VoByteScan::Plain works on 64-bit words (eight
// bytes a round) or byte by byte, VoByteScan::Vector uses SSE2 (sixteen bytes
// a round) where the build has it. Both give the same result for every input;
// the unqualified VoByteScan:: names are the best version the build has.
// Every primitive reads only the \p n bytes it is given.
//
// The word helpers at the top are for loops that test their own conditions
// eight bytes at a time (the string search, the database writer): a flag is
// 0x80 in a byte, and the lowest flagged byte of a test is exact, since no
// borrow reaches it from below (bytes above it may be flagged wrongly).
#ifndef VOFOUNDATION_VOCORE_VOBYTESCAN_H
#define VOFOUNDATION_VOCORE_VOBYTESCAN_H

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace VoByteScan {

using u8 = unsigned char;

// ---------------------------------------------------------------- words

constexpr std::uint64_t kOnes = 0x0101010101010101u;
constexpr std::uint64_t kHighs = 0x8080808080808080u;
/// The word tests and their first-byte rule hold on little-endian processors;
/// elsewhere the Plain versions go byte by byte.
constexpr bool kWords = std::endian::native == std::endian::little;

inline std::uint64_t Load8(const void* p) {
  std::uint64_t w;
  std::memcpy(&w, p, 8);
  return w;
}
/// Byte \p b in all eight bytes.
constexpr std::uint64_t Repeat(unsigned b) { return kOnes * (b & 0xFF); }
/// Flags the zero bytes of \p w.
constexpr std::uint64_t ZeroBytes(std::uint64_t w) { return (w - kOnes) & ~w & kHighs; }
/// Flags the bytes of \p w equal to \p b.
constexpr std::uint64_t BytesEqual(std::uint64_t w, unsigned b) { return ZeroBytes(w ^ Repeat(b)); }
/// Flags the bytes of \p w below \p limit (1..128).
constexpr std::uint64_t BytesBelow(std::uint64_t w, unsigned limit) {
  return (w - Repeat(limit)) & ~w & kHighs;
}
/// Flags the bytes of \p w that are zero or above 127 (not plain ASCII).
constexpr std::uint64_t NotPlainAscii(std::uint64_t w) { return (w | ((w - kOnes) & ~w)) & kHighs; }
/// The index (0..7) of the lowest flagged byte of a non-zero flag word.
inline std::size_t FirstFlagged(std::uint64_t flags) {
  return static_cast<std::size_t>(std::countr_zero(flags)) >> 3;
}

// ---------------------------------------------------------------- plain versions

namespace Plain {

/// Position of the first byte \p b among the \p n bytes at \p s, or \p n.
inline std::size_t FindByte(const u8* s, std::size_t n, u8 b) {
  std::size_t i = 0;
  if constexpr (kWords) {
    for (; i + 8 <= n; i += 8)
      if (const std::uint64_t f = BytesEqual(Load8(s + i), b)) return i + FirstFlagged(f);
  }
  while (i < n && s[i] != b) ++i;
  return i;
}

/// Position of the first byte that is \p a, \p b or \p c, or \p n.
inline std::size_t FindAny(const u8* s, std::size_t n, u8 a, u8 b, u8 c) {
  std::size_t i = 0;
  if constexpr (kWords) {
    for (; i + 8 <= n; i += 8) {
      const std::uint64_t w = Load8(s + i);
      if (const std::uint64_t f = BytesEqual(w, a) | BytesEqual(w, b) | BytesEqual(w, c))
        return i + FirstFlagged(f);
    }
  }
  while (i < n && s[i] != a && s[i] != b && s[i] != c) ++i;
  return i;
}

/// Position of the first byte below \p limit (1..128), or \p n.
inline std::size_t FindBelow(const u8* s, std::size_t n, unsigned limit) {
  std::size_t i = 0;
  if constexpr (kWords) {
    // Two words a round: most runs end within them.
    for (; i + 16 <= n; i += 16) {
      const std::uint64_t f0 = BytesBelow(Load8(s + i), limit);
      const std::uint64_t f1 = BytesBelow(Load8(s + i + 8), limit);
      if (f0 | f1) return i + (f0 ? FirstFlagged(f0) : 8 + FirstFlagged(f1));
    }
    for (; i + 8 <= n; i += 8)
      if (const std::uint64_t f = BytesBelow(Load8(s + i), limit)) return i + FirstFlagged(f);
  }
  while (i < n && s[i] >= limit) ++i;
  return i;
}

/// Position of the first byte that is zero or above 127, or \p n.
inline std::size_t FindNotPlainAscii(const u8* s, std::size_t n) {
  std::size_t i = 0;
  if constexpr (kWords) {
    for (; i + 8 <= n; i += 8)
      if (const std::uint64_t f = NotPlainAscii(Load8(s + i))) return i + FirstFlagged(f);
  }
  while (i < n && static_cast<u8>(s[i] - 1) < 0x7F) ++i;
  return i;
}

/// Copies the bytes of \p src before the first one that is zero or above 127
/// (at most \p n) to \p dst and returns their count. Bytes of \p dst behind
/// the count may be written too, up to \p n.
inline std::size_t CopyPlainAscii(u8* dst, const u8* src, std::size_t n) {
  std::size_t i = 0;
  if constexpr (kWords) {
    for (; i + 8 <= n; i += 8) {
      const std::uint64_t w = Load8(src + i);
      if (NotPlainAscii(w)) break;
      std::memcpy(dst + i, &w, 8);
    }
  }
  for (; i < n && static_cast<u8>(src[i] - 1) < 0x7F; ++i) dst[i] = src[i];
  return i;
}

}  // namespace Plain

// ---------------------------------------------------------------- vector versions

#ifdef __SSE2__
namespace Vector {

inline __m128i Load16(const u8* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
inline void Store16(u8* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }
inline unsigned Mask(__m128i v) { return static_cast<unsigned>(_mm_movemask_epi8(v)); }
/// Marks the bytes of \p v that are zero or above 127.
inline __m128i NotPlainAscii16(__m128i v) { return _mm_or_si128(v, _mm_cmpeq_epi8(v, _mm_setzero_si128())); }

inline std::size_t FindByte(const u8* s, std::size_t n, u8 b) {
  const __m128i x = _mm_set1_epi8(static_cast<char>(b));
  std::size_t i = 0;
  for (; i + 16 <= n; i += 16)
    if (const unsigned m = Mask(_mm_cmpeq_epi8(Load16(s + i), x))) return i + std::countr_zero(m);
  return i + Plain::FindByte(s + i, n - i, b);
}

inline std::size_t FindAny(const u8* s, std::size_t n, u8 a, u8 b, u8 c) {
  const __m128i xa = _mm_set1_epi8(static_cast<char>(a));
  const __m128i xb = _mm_set1_epi8(static_cast<char>(b));
  const __m128i xc = _mm_set1_epi8(static_cast<char>(c));
  std::size_t i = 0;
  for (; i + 16 <= n; i += 16) {
    const __m128i v = Load16(s + i);
    const __m128i hit =
        _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, xa), _mm_cmpeq_epi8(v, xb)), _mm_cmpeq_epi8(v, xc));
    if (const unsigned m = Mask(hit)) return i + std::countr_zero(m);
  }
  return i + Plain::FindAny(s + i, n - i, a, b, c);
}

inline std::size_t FindBelow(const u8* s, std::size_t n, unsigned limit) {
  // Unsigned v < limit  <=>  max(v, limit - 1) == limit - 1.
  const __m128i top = _mm_set1_epi8(static_cast<char>(limit - 1));
  std::size_t i = 0;
  for (; i + 16 <= n; i += 16) {
    const __m128i v = Load16(s + i);
    if (const unsigned m = Mask(_mm_cmpeq_epi8(_mm_max_epu8(v, top), top))) return i + std::countr_zero(m);
  }
  return i + Plain::FindBelow(s + i, n - i, limit);
}

inline std::size_t FindNotPlainAscii(const u8* s, std::size_t n) {
  std::size_t i = 0;
  for (; i + 16 <= n; i += 16)
    if (const unsigned m = Mask(NotPlainAscii16(Load16(s + i)))) return i + std::countr_zero(m);
  return i + Plain::FindNotPlainAscii(s + i, n - i);
}

inline std::size_t CopyPlainAscii(u8* dst, const u8* src, std::size_t n) {
  std::size_t i = 0;
  // 64 bytes a round for long runs, then 16.
  for (; i + 64 <= n; i += 64) {
    const __m128i a = Load16(src + i);
    const __m128i b = Load16(src + i + 16);
    const __m128i c = Load16(src + i + 32);
    const __m128i d = Load16(src + i + 48);
    const __m128i any = _mm_or_si128(_mm_or_si128(NotPlainAscii16(a), NotPlainAscii16(b)),
                                     _mm_or_si128(NotPlainAscii16(c), NotPlainAscii16(d)));
    if (Mask(any)) break;
    Store16(dst + i, a);
    Store16(dst + i + 16, b);
    Store16(dst + i + 32, c);
    Store16(dst + i + 48, d);
  }
  for (; i + 16 <= n; i += 16) {
    const __m128i v = Load16(src + i);
    if (Mask(NotPlainAscii16(v))) break;
    Store16(dst + i, v);
  }
  return i + Plain::CopyPlainAscii(dst + i, src + i, n - i);
}

}  // namespace Vector
using namespace Vector;
#else
using namespace Plain;
#endif

}  // namespace VoByteScan

#endif  // VOFOUNDATION_VOCORE_VOBYTESCAN_H
