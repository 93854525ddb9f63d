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

#include <cstddef>
#include <cstring>

#include "VoCore/VoByteScan.h"

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
  if (pos >= length) return pos;
  return pos + static_cast<long>(
                   VoByteScan::FindAny(s + pos, static_cast<std::size_t>(length - pos), '"', '\\', 0));
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
    const long at = i + static_cast<long>(VoByteScan::FindByte(reinterpret_cast<const unsigned char*>(in + i),
                                                               static_cast<std::size_t>(count - i), '\\'));
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
