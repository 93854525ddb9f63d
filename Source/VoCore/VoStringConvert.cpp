// VoStringConvert.cpp - character-set conversions, quoting, hexadecimal text and four-character codes of
// VoString. What each conversion gives is documented with its declaration in VoString.h.
//
// The loops copy runs of plain ASCII with VoByteScan.h's CopyPlainAscii, convert
// mixed runs 16 bytes at a time with SSE2 where the build has it, and convert
// other bytes through tables without per-byte branches on the common paths;
// results are exactly those of the byte-by-byte rules.
#include <climits>
#include <cstdint>
#include <cstring>

#include "VoCore/VoByteScan.h"
#include "VoCore/VoError.h"
#include "VoCore/VoQuotedToken.h"
#include "VoCore/VoString.h"
#include "VoCore/VoStringPrivate.h"

namespace {

using u8 = unsigned char;

// ------------------------------------------------------------------ tables

/// Mac OS Roman byte 0x80 + i -> ISO 8859-1 byte. The 79 characters that both
/// sets have map to themselves; the 48 Mac characters that ISO 8859-1 lacks and
/// capital O with tilde (0xCD -> 0x90) take the remaining ISO bytes.
constexpr u8 kMacToIso[128] = {
    0xC4, 0xC5, 0xC7, 0xC9, 0xD1, 0xD6, 0xDC, 0xE1, 0xE0, 0xE2, 0xE4, 0xE3, 0xE5, 0xE7, 0xE9, 0xE8,  // 80
    0xEA, 0xEB, 0xED, 0xEC, 0xEE, 0xEF, 0xF1, 0xF3, 0xF2, 0xF4, 0xF6, 0xF5, 0xFA, 0xF9, 0xFB, 0xFC,  // 90
    0xBE, 0xB0, 0xA2, 0xA3, 0xA7, 0x82, 0xB6, 0xDF, 0xAE, 0xA9, 0x8E, 0xB4, 0xA8, 0xAD, 0xC6, 0xD8,  // A0
    0x8D, 0xB1, 0xB2, 0xB3, 0xA5, 0xB5, 0xA6, 0x87, 0x9F, 0xB9, 0xBC, 0xAA, 0xBA, 0xBD, 0xE6, 0xF8,  // B0
    0xBF, 0xA1, 0xAC, 0x92, 0x80, 0x81, 0x8C, 0xAB, 0xBB, 0x83, 0xA0, 0xC0, 0xC3, 0x90, 0x91, 0x93,  // C0
    0xD0, 0x84, 0x96, 0x94, 0x95, 0xD5, 0xF7, 0xD7, 0xFF, 0x99, 0x98, 0xA4, 0x86, 0xDD, 0xDE, 0x97,  // D0
    0x88, 0xB7, 0x89, 0x8B, 0x8A, 0xC2, 0xCA, 0xC1, 0xCB, 0xC8, 0xCD, 0xCE, 0xCF, 0xCC, 0xD3, 0xD4,  // E0
    0xF0, 0xD2, 0xDA, 0xDB, 0xD9, 0x9B, 0x9A, 0x85, 0xAF, 0x9D, 0x9C, 0x9E, 0xB8, 0xFD, 0xFE, 0x8F,  // F0
};

/// A full 256-entry byte map: identity below 0x80, \p high above.
struct ByteMap {
  u8 map[256];
};

constexpr ByteMap MakeMap(const u8 (&high)[128]) {
  ByteMap m{};
  for (int i = 0; i < 128; ++i) m.map[i] = static_cast<u8>(i);
  for (int i = 0; i < 128; ++i) m.map[128 + i] = high[i];
  return m;
}

constexpr ByteMap MakeInverse(const ByteMap& forward) {
  ByteMap m{};
  for (int i = 0; i < 256; ++i) m.map[forward.map[i]] = static_cast<u8>(i);
  return m;
}

constexpr bool IsPermutation(const ByteMap& m) {
  bool seen[256] = {};
  for (int i = 0; i < 256; ++i) {
    if (seen[m.map[i]]) return false;
    seen[m.map[i]] = true;
  }
  return true;
}

constexpr ByteMap kMacToIsoMap = MakeMap(kMacToIso);
constexpr ByteMap kIsoToMacMap = MakeInverse(kMacToIsoMap);
static_assert(IsPermutation(kMacToIsoMap), "Mac OS Roman <-> ISO 8859-1 must be a permutation");
static_assert(kMacToIsoMap.map[0xCD] == 0x90 && kIsoToMacMap.map[0xD5] == 0xD5, "O with tilde");

/// UTF-8 sequence length by lead byte >> 2 (0 for a continuation byte).
constexpr u8 kSeqLength[64] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
                               1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                               0, 0, 0, 0, 2, 2, 2, 2, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 5, 6};
/// Payload bits of the lead byte by sequence length.
constexpr u8 kLeadMask[7] = {0x3F, 0x7F, 0x1F, 0x0F, 0x07, 0x03, 0x01};

constexpr uint32_t kMaxUnicode = 0x10FFFF;
constexpr uint32_t kReplacementUnit = 0xFFFD;

/// Hex digit value by character; 0x80 for every non-digit (zero byte included).
struct HexTable {
  u8 value[256];
};
constexpr HexTable MakeHexTable() {
  HexTable t{};
  for (int i = 0; i < 256; ++i) t.value[i] = 0x80;
  for (int i = 0; i < 10; ++i) t.value['0' + i] = static_cast<u8>(i);
  for (int i = 0; i < 6; ++i) {
    t.value['A' + i] = static_cast<u8>(10 + i);
    t.value['a' + i] = static_cast<u8>(10 + i);
  }
  return t;
}
constexpr HexTable kHexValue = MakeHexTable();
constexpr char kHexDigits[] = "0123456789ABCDEF";

// ------------------------------------------------------------------ helpers

/// The bytes of a string as the conversions read them: at most length() bytes
/// (a negative length, as SetLength(-1) leaves a fixed-length string, counts
/// as 0).
struct Source {
  const u8* p;
  std::size_t n;
};

Source SourceOf(const VoString& s) {
  const long length = s.length();
  return {reinterpret_cast<const u8*>(s.c_str()), length > 0 ? static_cast<std::size_t>(length) : 0};
}

/// A new block of \p capacity characters whose bytes the caller writes.
VoStringData* NewBlock(std::size_t capacity) {
  if (capacity > static_cast<std::size_t>(INT32_MAX)) VO_THROW(eVoMemFullErr);
  return NewStringData(nullptr, static_cast<long>(capacity), false);
}

/// Wraps a block whose first \p length bytes were written: terminates it, sets
/// the length and the mode. An empty result frees the block and has no buffer.
VoString Finish(VoStringData* d, std::size_t length, bool fixedLength = false) {
  if (length == 0) {
    FreeStringData(d);
    return VoString();
  }
  d->Chars()[length] = 0;
  d->mLength = static_cast<int32_t>(length);
  d->mFixedLength = fixedLength;
  return VoString(d);
}

/// Frees a block that a failing conversion did not hand out.
struct BlockGuard {
  VoStringData* d;
  ~BlockGuard() {
    if (d) FreeStringData(d);
  }
  VoStringData* Release() {
    VoStringData* r = d;
    d = nullptr;
    return r;
  }
};

#ifdef __SSE2__
using VoByteScan::Vector::Load16;
using VoByteScan::Vector::Store16;

inline __m128i Bytes16(int b) { return _mm_set1_epi8(static_cast<char>(b)); }
/// Per byte: \p mask ? a : b.
inline __m128i Select(__m128i mask, __m128i a, __m128i b) {
  return _mm_or_si128(_mm_and_si128(mask, a), _mm_andnot_si128(mask, b));
}

/// True when the 16 UTF-8 bytes of \p v are only characters 0x01..0x7F and
/// complete 2-byte sequences (lead 0xC0..0xDF, then a continuation byte); a
/// lead in the last position belongs to the next chunk. Gives the lead bytes
/// as a byte mask, the continuation bytes as a bit mask and the number of
/// bytes that this chunk consumes (15 or 16).
inline bool ClassifyTwoByteChunk(__m128i v, __m128i* leads, unsigned* continuations, std::size_t* count) {
  const __m128i lead = _mm_cmpeq_epi8(_mm_and_si128(v, Bytes16(0xE0)), Bytes16(0xC0));
  const __m128i cont = _mm_cmpeq_epi8(_mm_and_si128(v, Bytes16(0xC0)), Bytes16(0x80));
  const __m128i ascii = _mm_cmpgt_epi8(v, _mm_setzero_si128());
  const unsigned known =
      static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(lead, cont), ascii)));
  const unsigned leadBits = static_cast<unsigned>(_mm_movemask_epi8(lead));
  const unsigned contBits = static_cast<unsigned>(_mm_movemask_epi8(cont));
  if (known != 0xFFFF || ((leadBits << 1) & 0xFFFF) != contBits) return false;
  *leads = lead;
  *continuations = contBits;
  *count = (leadBits & 0x8000) ? 15 : 16;
  return true;
}

/// The low 8 bits of each 2-byte sequence's value, at the lead's position.
inline __m128i TwoByteLow(__m128i v) {
  return _mm_or_si128(_mm_slli_epi16(_mm_and_si128(v, Bytes16(0x03)), 6),
                      _mm_and_si128(_mm_srli_si128(v, 1), Bytes16(0x3F)));
}
#endif

/// Decodes one UTF-8 sequence at \p p (\p avail >= 1 bytes, p[0] != 0) by the
/// library's lenient rules: the lead byte gives the length (a continuation byte
/// in lead position counts as a 5-byte lead with payload mask 0x3F); following
/// bytes are taken while they are continuation bytes, up to that length. No
/// check for overlong forms or surrogates. Returns the bytes consumed (>= 1).
inline std::size_t DecodeUtf8(const u8* p, std::size_t avail, uint32_t* value) {
  const u8 lead = p[0];
  std::size_t length = kSeqLength[lead >> 2];
  uint32_t v = lead & kLeadMask[length];
  if (length == 0) length = 5;
  if (length > avail) length = avail;
  std::size_t i = 1;
  for (; i < length; ++i) {
    const u8 c = p[i];
    if ((c & 0xC0) != 0x80) break;  // also ends at a zero byte
    v = (v << 6) | (c & 0x3F);
  }
  *value = v;
  return i;
}

/// Value of a 1- or 2-byte sequence at \p p without branching, or the flag
/// \p other set when the lead byte starts anything else (or is zero).
/// \p next is the byte after the lead, 0 at the end of the source.
struct Short {
  uint32_t value;
  std::size_t size;
  bool other;
};
inline Short DecodeShort(u8 lead, u8 next) {
  const bool two = ((lead & 0xE0) == 0xC0) & ((next & 0xC0) == 0x80);
  const bool one = static_cast<u8>(lead - 1) < 0x7F;
  const uint32_t twoValue = (static_cast<uint32_t>(lead & 0x1F) << 6) | (next & 0x3F);
  return {two ? twoValue : lead, std::size_t{1} + two, !(one | two)};
}

inline u8* PutUnit(u8* out, uint32_t u) {
  out[0] = static_cast<u8>(u >> 8);
  out[1] = static_cast<u8>(u);
  return out + 2;
}

/// Writes a decoded value as UTF-16BE: one unit up to 0xFFFF, a surrogate pair
/// up to 0x10FFFF, else U+FFFD.
inline u8* PutUtf16(u8* out, uint32_t v) {
  if (v <= 0xFFFF) return PutUnit(out, v);
  if (v > kMaxUnicode) return PutUnit(out, kReplacementUnit);
  v -= 0x10000;
  out = PutUnit(out, 0xD800 | (v >> 10));
  return PutUnit(out, 0xDC00 | (v & 0x3FF));
}

/// Maps the bytes of \p src through \p map into \p dst up to the first zero
/// byte or \p n; returns the count mapped (the position of the zero, or n).
std::size_t MapBytes(u8* dst, const u8* src, std::size_t n, const ByteMap& map) {
  std::size_t i = VoByteScan::CopyPlainAscii(dst, src, n);  // plain ASCII maps to itself
#ifdef __SSE2__
  const __m128i zero = _mm_setzero_si128();
  while (i + 16 <= n) {
    const __m128i v = Load16(src + i);
    const int zeros = _mm_movemask_epi8(_mm_cmpeq_epi8(v, zero));
    if (zeros) break;
    if (_mm_movemask_epi8(v) == 0) {
      Store16(dst + i, v);
    } else {
      for (std::size_t k = 0; k < 16; ++k) dst[i + k] = map.map[src[i + k]];
    }
    i += 16;
  }
#endif
  for (; i < n && src[i] != 0; ++i) dst[i] = map.map[src[i]];
  return i;
}

/// A copy of \p s (same mode and capacity = its length) whose text up to the
/// first zero byte is mapped through \p map; the bytes behind that zero are
/// copied unchanged. A text-mode copy's length is that of its text, as after
/// write access.
VoString MapCopy(const VoString& s, bool fixedLength, const ByteMap& map) {
  const Source src = SourceOf(s);
  if (src.n == 0) return s;
  VoStringData* d = NewBlock(src.n);
  u8* dst = reinterpret_cast<u8*>(d->Chars());
  const std::size_t mapped = MapBytes(dst, src.p, src.n, map);
  std::memcpy(dst + mapped, src.p + mapped, src.n - mapped);
  d->Chars()[src.n] = 0;
  d->mFixedLength = fixedLength;
  d->mLength = static_cast<int32_t>(fixedLength ? src.n : mapped);
  return VoString(d);
}

/// Hex digits of \p n bytes into \p out (2n characters).
void HexEncode(char* out, const u8* in, std::size_t n) {
  std::size_t i = 0;
#ifdef __SSE2__
  const __m128i mask = _mm_set1_epi8(0x0F);
  const __m128i nine = _mm_set1_epi8(9);
  const __m128i digit0 = _mm_set1_epi8('0');
  const __m128i letterGap = _mm_set1_epi8('A' - '0' - 10);
  for (; i + 16 <= n; i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
    const __m128i hi = _mm_and_si128(_mm_srli_epi16(v, 4), mask);
    const __m128i lo = _mm_and_si128(v, mask);
    const __m128i hiChars =
        _mm_add_epi8(_mm_add_epi8(hi, digit0), _mm_and_si128(_mm_cmpgt_epi8(hi, nine), letterGap));
    const __m128i loChars =
        _mm_add_epi8(_mm_add_epi8(lo, digit0), _mm_and_si128(_mm_cmpgt_epi8(lo, nine), letterGap));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * i), _mm_unpacklo_epi8(hiChars, loChars));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * i + 16), _mm_unpackhi_epi8(hiChars, loChars));
  }
#endif
  for (; i < n; ++i) {
    out[2 * i] = kHexDigits[in[i] >> 4];
    out[2 * i + 1] = kHexDigits[in[i] & 0x0F];
  }
}

#ifdef __SSE2__
/// The value 0..15 of each hex digit of \p v; \p valid marks the digits.
inline __m128i HexNibbles(__m128i v, __m128i* valid) {
  const __m128i digit = _mm_sub_epi8(v, Bytes16('0'));
  const __m128i isDigit = _mm_cmpeq_epi8(_mm_min_epu8(digit, Bytes16(9)), digit);
  const __m128i letter = _mm_sub_epi8(_mm_or_si128(v, Bytes16(0x20)), Bytes16('a'));
  const __m128i isLetter = _mm_cmpeq_epi8(_mm_min_epu8(letter, Bytes16(5)), letter);
  *valid = _mm_or_si128(isDigit, isLetter);
  return _mm_or_si128(_mm_and_si128(isDigit, digit),
                      _mm_and_si128(isLetter, _mm_add_epi8(letter, Bytes16(10))));
}

/// Joins each pair of nibbles (first = high) into the low byte of a 16-bit lane.
inline __m128i HexPairs(__m128i nibbles) {
  return _mm_or_si128(_mm_and_si128(_mm_slli_epi16(nibbles, 4), _mm_set1_epi16(0xF0)),
                      _mm_srli_epi16(nibbles, 8));
}
#endif

/// Decodes hex pairs of \p s (\p length characters) into \p out until a zero
/// byte at an even position or the end. Returns the bytes decoded; sets
/// \p bad when a pair holds a non-digit (or the text ends inside a pair).
std::size_t HexDecode(u8* out, const u8* s, std::size_t length, bool* bad) {
  std::size_t i = 0;
  std::size_t o = 0;
#ifdef __SSE2__
  // 32 characters at a time; any non-digit (a zero byte too) leaves the rest
  // to the careful loop below, which finds the exact spot.
  while (i + 32 <= length) {
    __m128i valid0, valid1;
    const __m128i n0 = HexNibbles(Load16(s + i), &valid0);
    const __m128i n1 = HexNibbles(Load16(s + i + 16), &valid1);
    if (_mm_movemask_epi8(_mm_and_si128(valid0, valid1)) != 0xFFFF) break;
    Store16(out + o, _mm_packus_epi16(HexPairs(n0), HexPairs(n1)));
    i += 32;
    o += 16;
  }
#else
  // Blocks of 16 pairs are decoded together and checked once.
  while (i + 32 <= length) {
    u8 block[16];
    unsigned flags = 0;
    for (int k = 0; k < 16; ++k) {
      const u8 a = kHexValue.value[s[i + 2 * k]];
      const u8 b = kHexValue.value[s[i + 2 * k + 1]];
      flags |= a | b;
      block[k] = static_cast<u8>((a << 4) | b);
    }
    if (flags & 0x80) break;  // the careful loop below finds the exact spot
    std::memcpy(out + o, block, 16);
    i += 32;
    o += 16;
  }
#endif
  *bad = false;
  for (; i < length && s[i] != 0; i += 2) {
    const u8 a = kHexValue.value[s[i]];
    const u8 b = i + 1 < length ? kHexValue.value[s[i + 1]] : u8{0x80};
    if ((a | b) & 0x80) {
      *bad = true;
      break;
    }
    out[o++] = static_cast<u8>((a << 4) | b);
  }
  return o;
}

}  // namespace

// ------------------------------------------------------------------ Mac OS Roman and ISO 8859-1

VoString VoString::MacRomanToISO8859_1() const {
  return MapCopy(*this, mData && mData->mFixedLength, kMacToIsoMap);
}

VoString VoString::ISO8859_1ToMacRoman() const {
  return MapCopy(*this, mData && mData->mFixedLength, kIsoToMacMap);
}

// ------------------------------------------------------------------ ISO 8859-1 and UTF-8

VoString VoString::ISO8859_1ToUTF8() const {
  const Source src = SourceOf(*this);
  if (src.n == 0 || src.p[0] == 0) return VoString();
  VoStringData* d = NewBlock(2 * src.n);
  u8* const out = reinterpret_cast<u8*>(d->Chars());
  const std::size_t n = src.n;
  std::size_t i = 0;
  std::size_t o = 0;
  for (;;) {
    const std::size_t run = VoByteScan::CopyPlainAscii(out + o, src.p + i, n - i);
    i += run;
    o += run;
#ifdef __SSE2__
    // Sixteen bytes a round, plain ASCII or not, until a zero byte.
    const __m128i zero = _mm_setzero_si128();
    while (i + 16 <= n) {
      const __m128i v = Load16(src.p + i);
      if (_mm_movemask_epi8(_mm_cmpeq_epi8(v, zero))) break;  // the scalar loop ends the text
      const unsigned high = static_cast<unsigned>(_mm_movemask_epi8(v));
      if (high == 0) {
        Store16(out + o, v);
      } else {
        // Both bytes of every character side by side, then packed together.
        const __m128i isHigh = _mm_cmpgt_epi8(zero, v);
        const __m128i first = Select(
            isHigh, _mm_or_si128(_mm_and_si128(_mm_srli_epi16(v, 6), Bytes16(0x03)), Bytes16(0xC0)), v);
        const __m128i second = _mm_or_si128(_mm_and_si128(v, Bytes16(0x3F)), Bytes16(0x80));
        alignas(16) u8 pairs[32];
        Store16(pairs, _mm_unpacklo_epi8(first, second));
        Store16(pairs + 16, _mm_unpackhi_epi8(first, second));
        for (unsigned k = 0; k < 16; ++k) {
          std::memcpy(out + o, pairs + 2 * k, 2);
          o += 1 + ((high >> k) & 1);
        }
        i += 16;
        continue;
      }
      i += 16;
      o += 16;
    }
#endif
    if (i >= n) break;
    const std::size_t stop = i + 16 < n ? i + 16 : n;
    for (; i < stop; ++i) {
      const u8 c = src.p[i];
      if (c == 0) return Finish(d, o);
      const u8 high = c >> 7;
      out[o] = high ? static_cast<u8>(0xC0 | (c >> 6)) : c;
      out[o + 1] = static_cast<u8>(0x80 | (c & 0x3F));
      o += 1u + high;
    }
  }
  return Finish(d, o);
}

VoString VoString::UTF8ToISO8859_1() const {
  const Source src = SourceOf(*this);
  if (src.n == 0 || src.p[0] == 0) return VoString();
  VoStringData* d = NewBlock(src.n);
  u8* const out = reinterpret_cast<u8*>(d->Chars());
  std::size_t i = 0;
  std::size_t o = 0;
  const std::size_t n = src.n;
  for (;;) {
    const std::size_t ascii = VoByteScan::CopyPlainAscii(out + o, src.p + i, n - i);
    i += ascii;
    o += ascii;
#ifdef __SSE2__
    // Sixteen bytes a round while they are plain ASCII and 2-byte sequences.
    const __m128i zero = _mm_setzero_si128();
    while (i + 16 <= n) {
      const __m128i v = Load16(src.p + i);
      if (_mm_movemask_epi8(_mm_or_si128(v, _mm_cmpeq_epi8(v, zero))) == 0) {
        Store16(out + o, v);
        i += 16;
        o += 16;
        continue;
      }
      __m128i leads;
      unsigned continuations;
      std::size_t count;
      if (!ClassifyTwoByteChunk(v, &leads, &continuations, &count)) break;
      const __m128i fits = _mm_cmpeq_epi8(_mm_and_si128(v, Bytes16(0x1C)), zero);  // value <= 0xFF
      const __m128i iso = Select(leads, Select(fits, TwoByteLow(v), Bytes16('?')), v);
      alignas(16) u8 chars[16];
      Store16(chars, iso);
      // Every byte is written; only those that start a character advance.
      for (std::size_t k = 0; k < count; ++k) {
        out[o] = chars[k];
        o += 1 - ((continuations >> k) & 1);
      }
      i += count;
    }
#endif
    if (i >= n) break;
    const std::size_t stop = i + 16 < n ? i + 16 : n;
    while (i < stop) {
      const u8 lead = src.p[i];
      const Short s = DecodeShort(lead, i + 1 < n ? src.p[i + 1] : u8{0});
      uint32_t v = s.value;
      std::size_t size = s.size;
      if (s.other) {
        if (lead == 0) return Finish(d, o);
        size = DecodeUtf8(src.p + i, n - i, &v);
      }
      out[o++] = v <= 0xFF ? static_cast<u8>(v) : u8{'?'};
      i += size;
    }
  }
  return Finish(d, o);
}

VoString VoString::MacRomanToUTF8() const { return MacRomanToISO8859_1().ISO8859_1ToUTF8(); }

VoString VoString::UTF8ToMacRoman() const { return UTF8ToISO8859_1().ISO8859_1ToMacRoman(); }

// ------------------------------------------------------------------ UTF-8 and UTF-16

VoString VoString::UTF8ToUTF16() const {
  const Source src = SourceOf(*this);
  if (src.n == 0 || src.p[0] == 0) return VoString();
  // Two bytes of output per byte of input always suffice: a surrogate pair
  // (4 bytes) needs a value of at least 17 bits, so at least 3 input bytes.
  VoStringData* d = NewBlock(2 * src.n);
  u8* const base = reinterpret_cast<u8*>(d->Chars());
  u8* out = base;
  std::size_t i = 0;
  const std::size_t n = src.n;
  for (;;) {
#ifdef __SSE2__
    const __m128i zero = _mm_setzero_si128();
    while (i + 16 <= n) {
      const __m128i v = Load16(src.p + i);
      if (_mm_movemask_epi8(_mm_or_si128(v, _mm_cmpeq_epi8(v, zero))) == 0) {
        Store16(out, _mm_unpacklo_epi8(zero, v));
        Store16(out + 16, _mm_unpackhi_epi8(zero, v));
        i += 16;
        out += 32;
        continue;
      }
      __m128i leads;
      unsigned continuations;
      std::size_t count;
      if (!ClassifyTwoByteChunk(v, &leads, &continuations, &count)) break;
      const __m128i high = _mm_and_si128(leads, _mm_srli_epi16(_mm_and_si128(v, Bytes16(0x1C)), 2));
      const __m128i low = Select(leads, TwoByteLow(v), v);
      alignas(16) u8 units[32];
      Store16(units, _mm_unpacklo_epi8(high, low));
      Store16(units + 16, _mm_unpackhi_epi8(high, low));
      for (std::size_t k = 0; k < count; ++k) {
        std::memcpy(out, units + 2 * k, 2);
        out += 2 - 2 * ((continuations >> k) & 1);
      }
      i += count;
    }
#else
    // Plain ASCII becomes one 16-bit unit a byte.
    const std::size_t run = VoByteScan::FindNotPlainAscii(src.p + i, n - i);
    for (std::size_t k = 0; k < run; ++k) out = PutUnit(out, src.p[i + k]);
    i += run;
#endif
    if (i >= n) break;
    const std::size_t stop = i + 16 < n ? i + 16 : n;
    while (i < stop) {
      const u8 lead = src.p[i];
      const Short s = DecodeShort(lead, i + 1 < n ? src.p[i + 1] : u8{0});
      if (!s.other) {
        out = PutUnit(out, s.value);
        i += s.size;
        continue;
      }
      if (lead == 0) return Finish(d, static_cast<std::size_t>(out - base), true);
      uint32_t v;
      i += DecodeUtf8(src.p + i, n - i, &v);
      out = PutUtf16(out, v);
    }
  }
  return Finish(d, static_cast<std::size_t>(out - base), true);
}

VoString VoString::UTF16ToUTF8() const {
  const Source src = SourceOf(*this);
  if (src.n < 2) return VoString();
  VoStringData* d = NewBlock(4 * src.n);
  u8* const base = reinterpret_cast<u8*>(d->Chars());
  u8* out = base;
  const std::size_t end = src.n & ~std::size_t{1};  // a trailing odd byte is ignored
  std::size_t i = 0;
  while (i < end) {
#ifdef __SSE2__
    // Eight units below 0x80 at a time: their high bytes are zero and their
    // low bytes lack the top bit.
    const __m128i limit = _mm_set1_epi16(static_cast<short>(0x80FF));
    while (i + 16 <= end) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src.p + i));
      if (_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_and_si128(v, limit), _mm_setzero_si128())) != 0xFFFF) break;
      _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(_mm_srli_epi16(v, 8), v));
      i += 16;
      out += 8;
    }
    if (i >= end) break;
#endif
    const uint32_t u = (static_cast<uint32_t>(src.p[i]) << 8) | src.p[i + 1];
    i += 2;
    if (u < 0x80) {
      *out++ = static_cast<u8>(u);
    } else if (u < 0x800) {
      out[0] = static_cast<u8>(0xC0 | (u >> 6));
      out[1] = static_cast<u8>(0x80 | (u & 0x3F));
      out += 2;
    } else {
      if ((u & 0xFC00) == 0xD800 && i < end) {
        const uint32_t low = (static_cast<uint32_t>(src.p[i]) << 8) | src.p[i + 1];
        if ((low & 0xFC00) == 0xDC00) {
          const uint32_t c = 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00);
          out[0] = static_cast<u8>(0xF0 | (c >> 18));
          out[1] = static_cast<u8>(0x80 | ((c >> 12) & 0x3F));
          out[2] = static_cast<u8>(0x80 | ((c >> 6) & 0x3F));
          out[3] = static_cast<u8>(0x80 | (c & 0x3F));
          out += 4;
          i += 2;
          continue;
        }
      }
      out[0] = static_cast<u8>(0xE0 | (u >> 12));
      out[1] = static_cast<u8>(0x80 | ((u >> 6) & 0x3F));
      out[2] = static_cast<u8>(0x80 | (u & 0x3F));
      out += 3;
    }
  }
  return Finish(d, static_cast<std::size_t>(out - base));
}

// ------------------------------------------------------------------ quoting

VoString VoString::QuoteString() const {
  const Source src = SourceOf(*this);
  const void* zero = std::memchr(src.p, 0, src.n);
  const std::size_t n = zero ? static_cast<std::size_t>(static_cast<const u8*>(zero) - src.p) : src.n;
  VoStringData* d = NewBlock(2 * src.n + 2);
  char* out = d->Chars();
  std::size_t o = 0;
  out[o++] = '"';
  for (std::size_t i = 0; i < n; ++i) {
    const u8 c = src.p[i];
    if (c == '"' || c == '\\') out[o++] = '\\';
    out[o++] = static_cast<char>(c);
  }
  out[o++] = '"';
  return Finish(d, o);
}

VoString VoString::UnQuoteString() const {
  const Source src = SourceOf(*this);
  const std::size_t length = src.n;
  if (length == 0 || src.p[0] != '"' || src.p[length - 1] != '"') VO_THROW(eVoFormatErr);
  if (length <= 2) return VoString();
  VoStringData* d = NewBlock(length);
  const long n =
      VoQuoted::Unescape(reinterpret_cast<const char*>(src.p) + 1, static_cast<long>(length) - 2, d->Chars());
  return Finish(d, static_cast<std::size_t>(n));
}

// ------------------------------------------------------------------ hexadecimal text

void VoString::Bin2Str(const void* bytes, long count) {
  if (!bytes || count <= 0) {
    *this = VoString();
    return;
  }
  if (count > INT32_MAX / 2) VO_THROW(eVoMemFullErr);
  const std::size_t n = static_cast<std::size_t>(count);
  // A private text buffer that fits (without being more than twice too big) is
  // used again, unless the bytes lie inside it.
  VoStringData* d = mData;
  if (d && d->mCount == 1 && !d->mFixedLength && static_cast<std::size_t>(d->mCapacity) >= 2 * n &&
      static_cast<std::size_t>(d->mCapacity) <= 4 * n) {
    const auto first = reinterpret_cast<std::uintptr_t>(d->Chars());
    const auto from = reinterpret_cast<std::uintptr_t>(bytes);
    if (from + n <= first || from > first + static_cast<std::size_t>(d->mCapacity)) {
      HexEncode(d->Chars(), static_cast<const u8*>(bytes), n);
      d->Chars()[2 * n] = 0;
      d->mLength = static_cast<int32_t>(2 * n);
      d->mAppendReady = false;
      return;
    }
  }
  d = NewBlock(2 * n);
  HexEncode(d->Chars(), static_cast<const u8*>(bytes), n);
  *this = Finish(d, 2 * n);  // built aside first: the bytes may lie in this string
}

VoString VoString::BinStr2Str() const {
  const Source src = SourceOf(*this);
  VoString result;
  result.Bin2Str(src.p, static_cast<long>(src.n));
  return result;
}

long VoString::BinSize() const {
  const long length = this->length();
  if (length < 0 || (length & 1) != 0) VO_THROW(eVoFormatErr);
  return length / 2;
}

void VoString::Str2Bin(void* buffer, long* size) const {
  if (buffer) {
    const Source src = SourceOf(*this);
    bool bad = false;
    HexDecode(static_cast<u8*>(buffer), src.p, src.n, &bad);
    if (bad) VO_THROW(eVoFormatErr);
  }
  if (size) *size = BinSize();
}

VoString VoString::Str2BinStr() const {
  const long size = BinSize();
  if (size == 0) return VoString();
  const Source src = SourceOf(*this);
  BlockGuard guard{NewBlock(static_cast<std::size_t>(size))};
  u8* out = reinterpret_cast<u8*>(guard.d->Chars());
  bool bad = false;
  const std::size_t decoded = HexDecode(out, src.p, src.n, &bad);
  if (bad) VO_THROW(eVoFormatErr);
  std::memset(out + decoded, 0, static_cast<std::size_t>(size) - decoded);
  VoStringData* d = guard.Release();
  d->Chars()[size] = 0;
  d->mLength = static_cast<int32_t>(size);
  return VoString(d);
}

// ------------------------------------------------------------------ four-character codes

VoString VoString::FromSig(unsigned long sig) {
  char code[4];
  for (int k = 0; k < 4; ++k) {
    const char c = static_cast<char>((sig >> (24 - 8 * k)) & 0xFF);
    code[k] = c ? c : ' ';
  }
  *this = VoString(code, 4, false);
  return *this;
}

unsigned long VoString::ToSig() const {
  const Source src = SourceOf(*this);
  if (src.n == 0) return 0;
  uint32_t sig = 0;
  for (std::size_t k = 0; k < 4; ++k) sig = (sig << 8) | (k < src.n ? src.p[k] : u8{' '});
  return sig;
}
