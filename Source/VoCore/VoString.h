/// \file
/// The library's byte string: value semantics over a shared, counted buffer.
#ifndef VOFOUNDATION_VOCORE_VOSTRING_H
#define VOFOUNDATION_VOCORE_VOSTRING_H

#include <bit>
#include <cstddef>
#include <cstdint>

template <class T>
class VoArray;

/// The shared buffer of a VoString: one heap block (global operator new) made of
/// this 16-byte header followed by mCapacity characters and a terminating zero;
/// or such a block carved from a larger one shared with other strings made at
/// the same time (mSlabOffset), which is freed when its last block is.
///
/// Blocks are made by NewStringData() and grown by CatStringData() (declared in
/// "VoCore/VoStringPrivate.h", for the library's own string code) and freed by
/// the last VoString that lets go of them.
struct VoStringData {
  /// Number of VoString objects sharing this block; freed when it drops to 0.
  int32_t mCount;
  /// Characters the block can hold, not counting the terminating zero.
  int32_t mCapacity;
  /// Characters in use. In text mode -1 means "unset": the next length query
  /// counts up to the first zero byte and stores the result.
  int32_t mLength;
  /// false: text mode (content ends at the first zero byte);
  /// true: fixed-length mode (explicit length, zero bytes allowed).
  bool mFixedLength;
  /// Appending may use mLength as it stands: in text mode mLength is known to
  /// equal the count of characters before the first zero byte, in fixed-length
  /// mode mLength is not negative. Kept by VoString.cpp only; code that writes
  /// characters or lengths of a block directly must leave it false (blocks from
  /// NewStringData() start with it false), which is always safe.
  bool mAppendReady;
  /// 0 for a block of its own; otherwise the block was carved, with others,
  /// from a larger slab by a VoStringBlockRun (VoStringPrivate.h) and lies this
  /// many 8-byte units behind the slab's start. Kept by VoString.cpp only.
  uint16_t mSlabOffset;

  /// The characters, which follow the header in the same block.
  char* Chars() noexcept { return reinterpret_cast<char*>(this + 1); }
  /// The characters, read-only.
  const char* Chars() const noexcept { return reinterpret_cast<const char*>(this + 1); }
};
static_assert(sizeof(VoStringData) == 16, "the string block header is 16 bytes");

/// A byte string with value semantics. Copies share one VoStringData; the first
/// write through a sharer copies it (copy on write). A string without a buffer
/// reads as the empty text "".
///
/// Text mode: the content ends at the first zero byte; operations that hand out
/// write access (operator[], Get, WriteAccess and the editing members) unset the
/// cached length, which is counted again when next needed. Fixed-length mode:
/// the length is explicit and the content may hold zero bytes.
///
/// Positions are 0-based; -1 means "not found". Sizes are `long`, but a buffer
/// holds at most 2^31-1 characters: any operation that would make a larger
/// string throws "VoMemFullErr" (code 4); a negative size given to a constructor
/// or to Set throws "VoArgErr" (code 3).
///
/// A pointer from Get() or a reference from operator[] is good for writing until
/// the next call of a modifying member of the string; after that, ask again.
///
/// The conversions (character sets, quoting, hexadecimal text) read at most
/// length() bytes of the source, and stop earlier at the first zero byte where
/// their text rules say so; a source whose length is negative (a fixed-length
/// string made -1 by SetLength) reads as empty. An empty result of the ISO
/// 8859-1 and UTF conversions, of quoting and of hexadecimal decoding is a
/// string without a buffer.
///
/// Not thread-safe: a string and every string sharing its buffer belong to one
/// thread at a time.
class VoString {
 public:
  // ---------------------------------------------------------------- construction
  /// The empty string without a buffer.
  VoString() noexcept : mData(nullptr) {}
  /// size 0: no buffer. Otherwise an empty text string with room for \p size
  /// characters, or (fixedLength) a buffer of \p size zero bytes of length size.
  VoString(long size, bool fixedLength);
  /// size 0: no buffer. Otherwise a copy of \p size bytes in the given mode; the
  /// length is \p size (a text-mode copy may hold zeros until the next write
  /// access). A null \p bytes gives what VoString(size, fixedLength) gives.
  VoString(const void* bytes, long size, bool fixedLength = false);
  /// A one-character text string (length 1, even for the zero character).
  VoString(char c);
  /// A copy of a C string (capacity = its length); null gives no buffer, ""
  /// gives an empty buffer of capacity 0.
  VoString(const char* text);
  /// A length-prefixed string (first byte = length 0..255) copied in text mode;
  /// null gives no buffer, a zero length byte an empty buffer.
  VoString(const unsigned char* pascal);
  /// Shares the buffer.
  VoString(const VoString& other) noexcept : mData(other.mData) {
    if (mData) ++mData->mCount;
  }
  /// Takes the buffer over; \p other is left without one.
  VoString(VoString&& other) noexcept : mData(other.mData) { other.mData = nullptr; }
  /// Adopts \p data (may be null) without adding a reference.
  explicit VoString(VoStringData* data) noexcept : mData(data) {}
  ~VoString() { Release(mData); }

  // ---------------------------------------------------------------- assignment
  /// Shares the other buffer; self-assignment does nothing.
  VoString& operator=(const VoString& other) noexcept {
    VoStringData* d = other.mData;
    if (d != mData) {
      if (d) ++d->mCount;
      Release(mData);
      mData = d;
    }
    return *this;
  }
  /// Takes over \p other's buffer (releasing this string's own); \p other is
  /// left without a buffer.
  VoString& operator=(VoString&& other) noexcept {
    if (this != &other) {
      Release(mData);
      mData = other.mData;
      other.mData = nullptr;
    }
    return *this;
  }
  /// As VoString(const char*).
  VoString& operator=(const char* text);
  /// As VoString(const unsigned char*).
  VoString& operator=(const unsigned char* pascal);
  /// A one-character text string.
  VoString& operator=(char c);
  /// size 0: no buffer. Otherwise a text-mode copy of \p size bytes whose length
  /// is \p size, zero bytes included, until the next write access. Null \p bytes:
  /// an empty text buffer with room for \p size characters.
  VoString& Set(const void* bytes, long size);

  // ---------------------------------------------------------------- access
  /// 0 without a buffer; the length field in fixed-length mode or when known
  /// (a fixed-length string made -1 by SetLength reports -1); otherwise counts
  /// the characters up to the first zero byte and stores the count.
  long length() const {
    if (!mData) return 0;
    if (mData->mLength >= 0 || mData->mFixedLength) return mData->mLength;
    return CountLength();
  }
  /// The characters, or a static "" without a buffer.
  const char* c_str() const noexcept { return mData ? mData->Chars() : ""; }

  /// The character at \p index. Checks against the capacity, not the length:
  /// throws "VoIndexError" (7) without a buffer or unless 0 <= index < capacity.
  /// @{
  char operator[](int index) const { return At(index); }
  char operator[](long index) const { return At(index); }
  /// @}
  /// A writable reference: the same check, then WriteAccess(). When the buffer
  /// is shared the private copy has capacity = length, so the index must also
  /// be below the length; otherwise "VoIndexError" (7), thrown before anything
  /// changes. Writing a zero byte into a text string shortens it.
  /// @{
  char& operator[](int index) { return WritableAt(index); }
  char& operator[](long index) { return WritableAt(index); }
  /// @}

  /// Without a buffer: null, and \p length is not touched. Otherwise
  /// WriteAccess(), stores length() into \p length (when not null) and returns
  /// the writable characters.
  char* Get(long* length = nullptr);
  /// Writes a length-prefixed copy into \p buffer (which must hold 256 bytes):
  /// one byte min(length, 255) (a negative length counts as 0), then that many
  /// characters, no terminator. Returns \p buffer; null writes nothing.
  unsigned char* p_str(unsigned char* buffer) const;
  /// Stores \p length as the length of the shared buffer: every sharer sees it,
  /// no zero is written. A negative value unsets a text-mode length and makes a
  /// fixed-length one -1 (appending to it then throws "VoGeneralErr", 42).
  /// Throws "VoIndexError" (7) without a buffer or when length > capacity.
  void SetLength(int length);
  /// Makes the buffer private and writable: creates an empty one when there is
  /// none, copies a shared one (capacity = length, same mode), and in text mode
  /// unsets the length.
  void WriteAccess();

  // ---------------------------------------------------------------- comparison
  // All comparisons look at the text up to its first zero byte; no buffer is "".
  /// strcmp of the two texts (bytes compare unsigned).
  int cmp(const VoString& other) const;
  /// strcmp against a C string; null throws "VoArgErr" (3).
  int cmp(const char* other) const;
  /// Vostricmp of the two texts: only 'A'..'Z' fold, bytes compare signed.
  int cmpIgnoreCase(const VoString& other) const;
  /// As above against a C string; null throws "VoArgErr" (3).
  int cmpIgnoreCase(const char* other) const;

  // ---------------------------------------------------------------- concatenation
  /// Appends the other string's full length (zero bytes too in fixed-length
  /// mode). The other string may be this one or share its buffer.
  VoString& operator+=(const VoString& other);
  /// Appends strlen(text) bytes; the text may lie inside this string. Null
  /// throws "VoArgErr" (3).
  VoString& operator+=(const char* text);
  /// Appends a length-prefixed string (its length byte, then the bytes). Null
  /// throws "VoArgErr" (3).
  VoString& operator+=(const unsigned char* pascal);
  /// Appends one character (a zero byte too). Amortised constant time.
  VoString& operator+=(char c) {
    VoStringData* d = mData;
    if (d && d->mCount == 1 && d->mAppendReady && d->mLength < d->mCapacity && c != 0) {
      // The character and the terminating zero in one 16-bit store: unlike a
      // char store it cannot alias the header, so a loop of appends keeps the
      // length in a register instead of reading it back from memory each time.
      typedef uint16_t UnalignedPair __attribute__((aligned(1)));
      const uint16_t byte = static_cast<unsigned char>(c);
      *reinterpret_cast<UnalignedPair*>(d->Chars() + d->mLength) =
          std::endian::native == std::endian::little ? byte : static_cast<uint16_t>(byte << 8);
      ++d->mLength;
      return *this;
    }
    return Append(&c, 1);
  }

  // ---------------------------------------------------------------- searching
  /// Empty string when start >= length or count == 0; a negative start counts
  /// as 0 (count unchanged); count -1 (or any negative count), or one reaching
  /// past the end, takes the rest. The result keeps this string's mode.
  VoString substr(long start, long count = -1) const;
  /// First position >= start where \p pattern occurs (strncmp over the pattern
  /// length, or the case-insensitive rule when \p ignoreCase); -1 when none. An
  /// empty pattern is found at start when start <= length. A negative start
  /// counts as 0.
  long find(const VoString& pattern, long start = 0, bool ignoreCase = false) const;
  /// Last position where \p pattern occurs; -1 when none or when it is longer
  /// than this string; an empty pattern gives the length.
  long findreverse(const VoString& pattern, bool ignoreCase = false) const;
  /// First position in start .. length-1 holding \p c; -1 when none. A
  /// negative start counts as 0.
  long find(char c, long start = 0) const;
  /// Last position holding \p c; -1 when none.
  long findreverse(char c) const;
  /// First position whose character occurs in \p set; -1 when none or the set
  /// is empty.
  long containsChar(const VoString& set) const;
  /// WriteAccess(), then every \p from up to the first zero byte becomes \p to.
  void Replace(char from, char to);

  // ---------------------------------------------------------------- numbers
  /// Formats with the vsprintf rules and replaces the content with the result
  /// (text mode, Set with the result's length; an empty result leaves no
  /// buffer). Returns a copy. The result is never cut: output longer than the
  /// 4096-byte stack buffer is formatted again into a buffer of the right size.
  /// A null format throws "VoArgErr" (3); an output error of the C library
  /// (an unencodable wide character) throws "VoFormatErr" (19), string unchanged.
  VoString Printf(const char* format, ...)
#if defined(__GNUC__)
      __attribute__((format(printf, 2, 3)))
#endif
      ;
  /// Replaces the content with "%ld" of \p value; returns a copy.
  VoString ltoa(long value);
  /// Replaces the content with \p value formatted by \p format (one double
  /// conversion), or "%f" when null; returns a copy. Never cut or overflowed:
  /// long output is formatted again into a buffer of the right size. An empty
  /// result leaves no buffer.
  VoString ftoa(double value, const char* format = nullptr);
  /// atol of the text (0 without a buffer).
  long atol() const;
  /// atof of the text (0 without a buffer).
  double atof() const;

  // ---------------------------------------------------------------- conversions
  // (VoStringConvert.cpp)
  /// A copy with every byte >= 0x80 (up to the first zero) mapped Mac OS Roman -> ISO 8859-1.
  VoString MacRomanToISO8859_1() const;
  /// A copy with every byte >= 0x80 (up to the first zero) mapped ISO 8859-1 -> Mac OS Roman.
  VoString ISO8859_1ToMacRoman() const;
  /// UTF-8 text of an ISO 8859-1 text.
  VoString ISO8859_1ToUTF8() const;
  /// ISO 8859-1 text of a UTF-8 text; characters above 0xFF become '?'.
  VoString UTF8ToISO8859_1() const;
  /// MacRomanToISO8859_1() then ISO8859_1ToUTF8().
  VoString MacRomanToUTF8() const;
  /// UTF8ToISO8859_1() then ISO8859_1ToMacRoman().
  VoString UTF8ToMacRoman() const;
  /// Fixed-length string of 16-bit units, most significant byte first; no BOM,
  /// no terminating unit. A value from 0x10000 to 0x10FFFF becomes a surrogate
  /// pair (high unit first); a value above 0x10FFFF, which the 5- and 6-byte
  /// lead bytes can produce, becomes the one unit U+FFFD.
  VoString UTF8ToUTF16() const;
  /// UTF-8 text of a string of 16-bit units (high byte first); a trailing odd
  /// byte is ignored. A high surrogate directly followed by a low surrogate
  /// becomes one 4-byte sequence; every other unit, a lone surrogate too, is
  /// written alone (as 1 to 3 bytes).
  VoString UTF16ToUTF8() const;
  /// The text in double quotes, with '"' and '\\' escaped by a backslash.
  VoString QuoteString() const;
  /// The inverse of QuoteString(); throws "VoFormatErr" (19) unless the text
  /// starts and ends with a double quote.
  VoString UnQuoteString() const;
  /// Makes this string the upper-case hexadecimal text of \p count bytes (two
  /// digits a byte); null bytes or a count <= 0 give the empty string. The
  /// text goes into this string's own buffer when that buffer is unshared, in
  /// text mode, holds 2 x count to 4 x count characters and does not hold the
  /// bytes; otherwise into a new buffer of capacity 2 x count.
  void Bin2Str(const void* bytes, long count);
  /// The hexadecimal text of this string's own characters and length.
  VoString BinStr2Str() const;
  /// length / 2; "VoFormatErr" (19) when the length is odd or negative.
  long BinSize() const;
  /// Decodes this hexadecimal text into \p buffer (BinSize() bytes); null
  /// buffer: only stores BinSize() into \p size. Stores BinSize() into \p size
  /// (when not null) at the end. A non-hex digit throws "VoFormatErr" (19).
  /// Decoding never reads past length(): in a text of odd length the pair
  /// that starts at the last position fails as a non-digit.
  void Str2Bin(void* buffer, long* size = nullptr) const;
  /// The decoded bytes as a text-mode string of explicit length BinSize().
  /// Where a zero byte in the text (possible in fixed-length mode) ends the
  /// decoding early, the rest of the BinSize() bytes are zero bytes.
  VoString Str2BinStr() const;
  /// Makes this string the four characters of \p sig (most significant byte
  /// first, zero bytes as blanks); returns a copy.
  VoString FromSig(unsigned long sig);
  /// The first four characters (blank-padded) packed most significant first; 0
  /// for an empty string.
  unsigned long ToSig() const;

  // ---------------------------------------------------------------- editing
  // (VoStringEdit.cpp)
  /// Write access, then 'A'..'Z' become 'a'..'z' over the whole length.
  void LoCase();
  /// Write access, then 'a'..'z' become 'A'..'Z' over the whole length.
  void HiCase();
  /// Write access, then the characters in reverse order.
  void Reverse();
  /// Replaces each CR, LF and CR-LF pair by \p lineEnd. A string without a
  /// buffer stays as it is; otherwise the result is a new text-mode buffer of
  /// exactly the new length.
  void AdjustLineFeed(const VoString& lineEnd);
  /// Removes zeros behind the decimal point (and a point left bare).
  void StripTrailingZeros();
  /// Removes from both ends every character of \p set and returns a copy of
  /// the result; the two flags are accepted but both ends are always stripped.
  /// An empty \p set strips nothing (no character occurs in it).
  VoString Strip(const VoString& set, bool front = true, bool back = true);
  /// true when \p c is in \p set; an empty set means 0, tab, LF, CR and blank.
  bool IsWhiteSpace(char c, const VoString& set) const;
  /// The next token from \p position (advanced behind it): whitespace-separated,
  /// or, with \p quoted, a double-quoted token returned with quotes and
  /// backslashes as written. Empty (no buffer) at the end of the text. A
  /// negative \p position throws "VoIndexError" (7), as reading the character
  /// there would. A zero byte ends a quoted token, even right behind a
  /// backslash.
  VoString ReadString(long& position, bool quoted, const VoString& whiteSpace) const;
  /// The token numbered \p index (0-based), numbered as CountWords counts;
  /// empty when there is none.
  VoString ReadWord(int index, bool quoted, const VoString& whiteSpace) const;
  /// The number of tokens. A token is never empty: it counts when it has at
  /// least one character, even when that character is a zero byte read with
  /// a whitespace set that lacks it.
  long CountWords(bool quoted, const VoString& whiteSpace) const;
  /// Makes this string the items joined by \p separator (items containing a
  /// separator character are quoted). An empty list leaves the empty text in
  /// a buffer (""), not a string without a buffer.
  void MergeStrings(const VoArray<VoString>& items, const VoString& separator);
  /// Fills \p items with the tokens as CountWords counts them (quoted ones
  /// unquoted). The list ends as if re-sized to 0 and grown one element per
  /// token; the tokens are gathered first and stored with one re-size, so
  /// long lists take linear time. When unquoting a token throws, the
  /// exception passes on and the list holds the items read before that token.
  void ReadStrings(VoArray<VoString>& items, const VoString& whiteSpace) const;
  /// Fills \p items with the fields between occurrences of \p separator. The
  /// list is filled as ReadStrings fills it, in linear time.
  void Split(VoArray<VoString>& items, char separator) const;

 private:
  static void Release(VoStringData* d) noexcept {
    if (d && --d->mCount == 0) FreeBlock(d);
  }
  /// Frees a block no string uses any more (see FreeStringData).
  static void FreeBlock(VoStringData* d) noexcept;
  char At(long index) const;
  char& WritableAt(long index);
  long CountLength() const;
  /// Write access for appending: like WriteAccess() but keeps a length that
  /// is known to be right.
  void PrepareAppend();
  /// PrepareAppend(), then CatStringData with the bytes.
  VoString& Append(const char* bytes, long count);

  VoStringData* mData;
};

/// @{
/// Equality by strcmp. A null C string on either side throws "VoArgErr" (3).
bool operator==(const VoString& a, const VoString& b);
bool operator==(const VoString& a, const char* b);
bool operator==(const char* a, const VoString& b);
bool operator!=(const VoString& a, const VoString& b);
bool operator!=(const VoString& a, const char* b);
bool operator!=(const char* a, const VoString& b);
/// @}
/// @{
/// Ordering by strcmp (unsigned bytes).
bool operator<(const VoString& a, const VoString& b);
bool operator>(const VoString& a, const VoString& b);
bool operator<=(const VoString& a, const VoString& b);
bool operator>=(const VoString& a, const VoString& b);
/// @}

/// @{
/// A copy of \p a with \p b appended.
VoString operator+(const VoString& a, const VoString& b);
VoString operator+(const VoString& a, char b);
VoString operator+(char a, const VoString& b);
/// @}

/// Case-insensitive comparison of C strings: bytes are signed 8-bit values and
/// only 'A'..'Z' fold (to 'a'..'z'). Returns the folded difference at the first
/// position where they differ, 0 when both end together. Null throws "VoArgErr" (3).
int Vostricmp(const char* a, const char* b);
/// The same over at most \p count characters; a count <= 0 gives 0.
int Vostrincmp(const char* a, const char* b, int count);

/// 1 when \p text matches the wildcard \p pattern ('*' any run, '?' one
/// character, no escape), else 0. Null pointers give 0 unless both are the same.
/// The answer is that of StrMatchMax with a budget of the text's length less
/// the pattern's characters that are not stars. O(pattern x text) time in the
/// worst case, and no memory beyond the call's own.
int StrMatch(const char* pattern, const char* text);
/// The matching step of StrMatch with \p budget characters for the stars to
/// absorb, answered exactly for any budget. A budget of at least the one
/// StrMatch uses never cuts off a match, so the answer is then StrMatch's.
/// A smaller budget costs O(pattern x text) time in the worst case and
/// (stars x text) bits of memory; there is no recursion, so no stack depth limit.
int StrMatchMax(const char* pattern, const char* text, long budget);
/// Replaces every occurrence of \p search in \p target by \p replacement,
/// never searching inserted text again; returns the number of replacements.
/// An empty \p search changes nothing and returns 0.
int Replace(const VoString& search, const VoString& replacement, VoString& target);

#endif  // VOFOUNDATION_VOCORE_VOSTRING_H
