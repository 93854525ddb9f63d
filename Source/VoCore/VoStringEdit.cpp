// VoStringEdit.cpp - text editing, wildcard matching and the tokenizer of VoString. What each
// member gives is documented with its declaration in VoString.h.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <unordered_set>
#include <vector>

#include "VoCore/VoByteScan.h"
#include "VoCore/VoError.h"
#include "VoCore/VoQuotedToken.h"
#include "VoCore/VoString.h"
#include "VoCore/VoStringPrivate.h"
#include "VoData/VoArray.h"

namespace {

// ------------------------------------------------------------------ character sets

/// The default whitespace set: 0, tab, line feed, carriage return, blank.
struct DefaultWhiteTable {
  bool in[256] = {};
  constexpr DefaultWhiteTable() { in[0] = in[9] = in[10] = in[13] = in[32] = true; }
};
constexpr DefaultWhiteTable kDefaultWhite;

/// Membership table of a character set given as a string (all of its length()
/// bytes, zero bytes included). With \p emptyIsDefault an empty set stands for
/// the default whitespace set, otherwise for no character at all.
class CharTable {
 public:
  CharTable(const VoString& set, bool emptyIsDefault) {
    long n = set.length();
    if (n <= 0) {
      if (emptyIsDefault) {
        mTable = kDefaultWhite.in;
        mBelow = 33;  // 0, 9, 10, 13, 32
        return;
      }
      n = 0;
    }
    std::memset(mOwn, 0, sizeof mOwn);
    const unsigned char* s = reinterpret_cast<const unsigned char*>(set.c_str());
    unsigned highest = 0;
    for (long i = 0; i < n; ++i) {
      mOwn[s[i]] = true;
      if (s[i] > highest) highest = s[i];
    }
    mTable = mOwn;
    mBelow = highest < 128 ? highest + 1 : 0;
  }
  CharTable(const CharTable&) = delete;
  CharTable& operator=(const CharTable&) = delete;

  bool operator()(unsigned char c) const { return mTable[c]; }
  const bool* Table() const { return mTable; }
  /// Every member is below this value (at most 128); 0 when some member is not.
  unsigned Below() const { return mBelow; }

 private:
  bool mOwn[256];
  const bool* mTable;
  unsigned mBelow = 0;
};

/// The first position from \p pos on whose byte is in \p set, or \p length.
long FindMember(const unsigned char* s, long pos, long length, const CharTable& set) {
  const bool* in = set.Table();
  if (const unsigned below = set.Below()) {
    // Only bytes below the highest member can be members: skip to each.
    while (pos < length) {
      pos += static_cast<long>(VoByteScan::FindBelow(s + pos, static_cast<std::size_t>(length - pos), below));
      if (pos >= length || in[s[pos]]) return pos;
      ++pos;  // a low byte that is not a member
    }
    return pos;
  }
  while (pos < length && !in[s[pos]]) ++pos;
  return pos;
}

long SafeLength(const VoString& s) {
  const long n = s.length();
  return n < 0 ? 0 : n;
}

// ------------------------------------------------------------------ tokens

/// Where a token lies in the text: characters [begin, end) are the token as
/// returned, \p next is the position behind the last character consumed.
struct TokenSpan {
  long begin;
  long end;
  long next;
};

/// Scans the next token from \p pos. Returns false when only whitespace is
/// left; \p span.next is then the position where the scan stopped.
inline bool ScanToken(const char* text, long length, long pos, bool quoted, const CharTable& white,
                      TokenSpan& span) {
  const unsigned char* s = reinterpret_cast<const unsigned char*>(text);
  const bool* ws = white.Table();
  while (pos < length && ws[s[pos]]) ++pos;
  if (pos >= length) {
    span.next = pos;
    return false;
  }
  span.begin = pos++;
  if (quoted && s[span.begin] == '"') {
    const VoQuoted::End e = VoQuoted::Scan(text, span.begin, length);
    span.end = e.end;
    span.next = (e.closed || e.end >= length) ? e.end : e.end + 1;  // a zero byte that ends it is consumed
    return true;
  }
  pos = FindMember(s, pos, length, white);
  span.end = pos;
  span.next = pos < length ? pos + 1 : pos;  // the ending whitespace is consumed
  return true;
}

/// The capacity a string reaches when \p length characters are appended one by
/// one to a new buffer of capacity 10 (growth by half the capacity).
long GrownCapacity(long length) {
  constexpr long kMax = INT32_MAX;
  long capacity = 10;
  if (length <= capacity) return capacity;
  while (capacity < length) {
    const long needed = capacity + 1;
    capacity = (2 * needed < 3 * capacity) ? 3 * capacity / 2 : needed;
    if (capacity > kMax) capacity = kMax;
  }
  return capacity;
}

/// A token string: the characters in a buffer of the capacity that appending
/// them one by one to a new buffer of capacity 10 would give. \p readable is
/// how many bytes may be read from \p chars (at least \p count).
/// \p mayHoldZero is false when the zero byte is whitespace, so that it never
/// stands inside a token.
VoString MakeToken(const char* chars, long count, long readable, bool mayHoldZero) {
  if (mayHoldZero && std::memchr(chars, 0, static_cast<std::size_t>(count)) != nullptr) {
    // A zero byte inside a token (a fixed-length source whose whitespace set
    // lacks the zero): appending one character at a time recounts the text
    // length before each append, so characters behind a zero move up over it.
    // Build such rare tokens that way to keep exactly that result.
    VoString token(10L, false);
    for (long i = 0; i < count; ++i) token += chars[i];
    return token;
  }
  VoStringData* d = NewStringData(nullptr, GrownCapacity(count), false);
  char* out = d->Chars();
  // Most tokens are short: copy them with fixed-size moves, not a library
  // call. The buffer has room for at least 10 characters and the zero; bytes
  // behind the token's end are spare room and are overwritten by the zero.
  if (count <= 8 && readable >= 8) {
    std::memcpy(out, chars, 8);
  } else if (count >= 8 && count <= 16) {
    std::memcpy(out, chars, 8);
    std::memcpy(out + count - 8, chars + count - 8, 8);
  } else {
    std::memcpy(out, chars, static_cast<std::size_t>(count));
  }
  out[count] = 0;
  d->mLength = static_cast<int32_t>(count);
  return VoString(d);
}

/// Stores \p gathered as the list's content (as if re-sized to 0 and grown by
/// one element per item).
void StoreItems(VoArray<VoString>& items, const std::vector<VoString>& gathered) {
  if (gathered.size() > static_cast<std::size_t>(INT32_MAX)) VO_THROW(eVoMemFullErr);
  const int n = static_cast<int>(gathered.size());
  items.ReSize(n);
  for (int i = 0; i < n; ++i) items[i] = gathered[static_cast<std::size_t>(i)];
}

// ------------------------------------------------------------------ matching

/// Remembers which (star, text position) pairs the budgeted search has tried.
class VisitedStates {
 public:
  VisitedStates(std::size_t stars, std::size_t textPositions) : mWidth(textPositions) {
    const std::size_t bits = stars * textPositions;
    if (stars != 0 && bits / stars == textPositions && bits <= (std::size_t{1} << 26)) {
      mBits.assign((bits + 63) / 64, 0);
      mUseBits = true;
    }
  }
  /// Marks the pair; false when it was marked already.
  bool Mark(std::size_t star, std::size_t textPos) {
    const std::uint64_t key = static_cast<std::uint64_t>(star) * mWidth + textPos;
    if (mUseBits) {
      std::uint64_t& word = mBits[key / 64];
      const std::uint64_t bit = std::uint64_t{1} << (key % 64);
      if (word & bit) return false;
      word |= bit;
      return true;
    }
    return mSet.insert(key).second;
  }

 private:
  std::size_t mWidth;
  bool mUseBits = false;
  std::vector<std::uint64_t> mBits;
  std::unordered_set<std::uint64_t> mSet;
};

}  // namespace

// ------------------------------------------------------------------ wildcard matching

namespace {

/// True when \p rest, which holds no star, matches the end of \p text ('?'
/// matching any one character).
bool MatchesEnd(const char* rest, const char* text) {
  const std::size_t restLength = std::strlen(rest);
  const std::size_t textLength = std::strlen(text);
  if (textLength < restLength) return false;
  const char* end = text + (textLength - restLength);
  for (std::size_t i = 0; i < restLength; ++i)
    if (rest[i] != '?' && rest[i] != end[i]) return false;
  return true;
}

}  // namespace

// The greedy star-backtracking matcher: O(pattern x text) time in the worst
// case and no memory of its own. Behind the last star the rest of the pattern
// can only match the end of the text, which is checked once.
int StrMatch(const char* pattern, const char* text) {
  if (pattern == text) return 1;
  if (!pattern || !text) return 0;
  const char* const lastStar = std::strrchr(pattern, '*');
  // Greedy matching that backs up only to the latest star: a later star can
  // absorb whatever an earlier one could, so earlier choices never need
  // revisiting. Equal strings match ('*' and '?' match themselves).
  const char* p = pattern;
  const char* t = text;
  const char* afterStar = nullptr;  // pattern position behind the latest star
  const char* starText = nullptr;   // text position where that star's run ends
  while (*t) {
    if (*p == '*') {
      while (*p == '*') ++p;
      if (*p == 0) return 1;                              // a final star absorbs the rest
      if (p > lastStar) return MatchesEnd(p, t) ? 1 : 0;  // and the last one all but the end
      afterStar = p;
      // What follows the star starts where its first character occurs.
      if (*p != '?' && !(t = std::strchr(t, *p))) return 0;
      starText = t;
    } else if (*p != 0 && (*p == '?' || *p == *t)) {
      ++p;
      ++t;
    } else if (afterStar) {
      // The star absorbs more: up to the next place where what follows it
      // can start; where there is none, nothing can match.
      p = afterStar;
      ++starText;
      if (*p != '?' && !(starText = std::strchr(starText, *p))) return 0;
      t = starText;
    } else {
      return 0;
    }
  }
  while (*p == '*') ++p;
  return *p == 0 ? 1 : 0;
}

// The budgeted search answers what a budgeted recursion over the stars would,
// for any budget. A budget too small for plain matching is searched as a
// graph: the budget at a point of the search is fixed by the pattern and text
// positions, so a position pair reached twice gives the same answer twice and
// is explored once (VisitedStates). The pending branches live on the heap.
int StrMatchMax(const char* pattern, const char* text, long budget) {
  if (pattern == text) return 1;
  if (!pattern || !text) return 0;
  const std::size_t m = std::strlen(pattern);
  const std::size_t n = std::strlen(text);
  const std::size_t stars = static_cast<std::size_t>(std::count(pattern, pattern + m, '*'));
  // At every point of the search, budget - (text left - pattern characters
  // left that are not stars) is the same number. When it is not negative the
  // budget never cuts off a match (along a match the text left never drops
  // below the pattern characters left), and the shortcuts answer 1 only where
  // plain matching does too: the answer is plain wildcard matching.
  const long plainBudget = static_cast<long>(n) - static_cast<long>(m - stars);
  if (budget >= plainBudget) return StrMatch(pattern, text);

  // A tighter budget cuts off some matches: search the position pairs.
  // The rest of the pattern equals the rest of the text exactly when both
  // rests have the same length and lie within the common tail of the strings.
  std::size_t commonTail = 0;
  while (commonTail < m && commonTail < n && pattern[m - 1 - commonTail] == text[n - 1 - commonTail]) {
    ++commonTail;
  }
  std::vector<std::size_t> starOrdinal(m, 0);
  for (std::size_t i = 0, star = 0; i < m; ++i) {
    if (pattern[i] == '*') starOrdinal[i] = star++;
  }
  VisitedStates visited(stars, n + 1);

  struct Branch {
    std::size_t p;
    std::size_t t;
    long budget;
  };
  std::vector<Branch> pending{{0, 0, budget}};
  while (!pending.empty()) {
    const Branch b = pending.back();
    pending.pop_back();
    std::size_t p = b.p;
    std::size_t t = b.t;
    const long k = b.budget;  // changes only when a star absorbs, i.e. in a new branch
    for (;;) {
      if (pattern + p == text + t) return 1;
      if (p == m) {
        if (t == n) return 1;
        break;
      }
      if (t == n) {
        if (pattern[p] != '*') break;
        ++p;
        continue;
      }
      if (k < 0) break;
      if (m - p == n - t && m - p <= commonTail) return 1;
      const char c = pattern[p];
      if (c == '*') {
        // The budget is a function of (p, t): a pair seen before gives the
        // same answer again.
        if (!visited.Mark(starOrdinal[p], t)) break;
        pending.push_back({p, t + 1, k - 1});  // the star absorbs one character
        ++p;                                   // first: the star absorbs nothing more
        continue;
      }
      if (c != '?' && c != text[t]) break;
      ++p;
      ++t;
    }
  }
  return 0;
}

// ------------------------------------------------------------------ replace

int Replace(const VoString& search, const VoString& replacement, VoString& target) {
  // Copies share the buffers, so any of the three may be the same string.
  const VoString pattern = search;
  const VoString insert = replacement;
  const VoString source = target;
  const long n = SafeLength(pattern);
  if (n == 0) return 0;

  long hit = source.find(pattern, 0, false);
  if (hit < 0) return 0;
  // The text behind an occurrence is searched as it was: inserted text never is.
  VoString result = source.substr(0, hit);
  int count = 0;
  for (;;) {
    result += insert;
    ++count;
    const long pos = hit + n;
    hit = source.find(pattern, pos, false);
    if (hit < 0) {
      result += source.substr(pos);
      break;
    }
    if (hit > pos) result += source.substr(pos, hit - pos);
  }
  target = result;
  return count;
}

// ------------------------------------------------------------------ case, order, line ends

void VoString::LoCase() {
  WriteAccess();
  long n = 0;
  char* s = Get(&n);
  for (long i = 0; i < n; ++i) {
    if (s[i] >= 'A' && s[i] <= 'Z') s[i] = static_cast<char>(s[i] + ('a' - 'A'));
  }
}

void VoString::HiCase() {
  WriteAccess();
  long n = 0;
  char* s = Get(&n);
  for (long i = 0; i < n; ++i) {
    if (s[i] >= 'a' && s[i] <= 'z') s[i] = static_cast<char>(s[i] - ('a' - 'A'));
  }
}

void VoString::Reverse() {
  WriteAccess();
  long n = 0;
  char* s = Get(&n);
  if (n > 1) std::reverse(s, s + n);
}

void VoString::AdjustLineFeed(const VoString& lineEnd) {
  if (!mData) return;
  const VoString end = lineEnd;  // may be this very string
  const long endLength = SafeLength(end);
  const long length = SafeLength(*this);
  const char* s = c_str();

  // First pass: how many line ends, and how many characters they replace.
  long lineEnds = 0;
  long dropped = 0;
  for (long i = 0; i < length; ++i) {
    if (s[i] == '\r') {
      ++lineEnds;
      ++dropped;
    } else if (s[i] == '\n') {
      ++dropped;
      if (i == 0 || s[i - 1] != '\r') ++lineEnds;
    }
  }
  const long size = length - dropped + lineEnds * endLength;
  VoStringData* d = NewStringData(nullptr, size, false);
  char* out = d->Chars();
  const char* e = end.c_str();
  for (long i = 0; i < length; ++i) {
    const char c = s[i];
    if (c == '\r' || (c == '\n' && (i == 0 || s[i - 1] != '\r'))) {
      if (endLength > 0) std::memcpy(out, e, static_cast<std::size_t>(endLength));
      out += endLength;
    } else if (c != '\n') {
      *out++ = c;
    }
  }
  *out = 0;
  d->mLength = static_cast<int32_t>(size);
  *this = VoString(d);
}

void VoString::StripTrailingZeros() {
  const long length = SafeLength(*this);
  const char* s = c_str();
  const void* dot = std::memchr(s, '.', static_cast<std::size_t>(length));
  if (!dot) return;
  const long point = static_cast<const char*>(dot) - s;
  long end = length;
  while (end - 1 > point && s[end - 1] == '0') --end;
  const bool bare = (end == point + 1);  // nothing but zeros behind the point
  VoStringData* d;
  if (bare && point == 0) {
    d = NewStringData("0", 1, false);
  } else {
    if (bare) end = point;
    // Rebuilt as text: it ends at its first zero byte.
    const void* zero = std::memchr(s, 0, static_cast<std::size_t>(end));
    if (zero) end = static_cast<const char*>(zero) - s;
    d = NewStringData(s, end, false);
  }
  *this = VoString(d);
}

VoString VoString::Strip(const VoString& set, bool /*front*/, bool /*back*/) {
  const CharTable strip(set, false);
  const long length = SafeLength(*this);
  const unsigned char* s = reinterpret_cast<const unsigned char*>(c_str());
  long begin = 0;
  while (begin < length && strip(s[begin])) ++begin;
  long end = length;
  while (end > begin && strip(s[end - 1])) --end;
  *this = substr(begin, end - begin);
  return *this;
}

bool VoString::IsWhiteSpace(char c, const VoString& set) const {
  const long n = set.length();
  if (n <= 0) return kDefaultWhite.in[static_cast<unsigned char>(c)];
  return std::memchr(set.c_str(), c, static_cast<std::size_t>(n)) != nullptr;
}

// ------------------------------------------------------------------ tokens

VoString VoString::ReadString(long& position, bool quoted, const VoString& whiteSpace) const {
  if (position < 0) VO_THROW(eVoIndexError);
  const long length = SafeLength(*this);
  if (position >= length) return VoString();
  const CharTable white(whiteSpace, true);
  TokenSpan span;
  const bool found = ScanToken(c_str(), length, position, quoted, white, span);
  position = span.next;
  if (!found) return VoString();
  return MakeToken(c_str() + span.begin, span.end - span.begin, length - span.begin, !white(0));
}

VoString VoString::ReadWord(int index, bool quoted, const VoString& whiteSpace) const {
  if (index < 0) return VoString();
  const long length = SafeLength(*this);
  const CharTable white(whiteSpace, true);
  const char* s = c_str();
  TokenSpan span;
  long pos = 0;
  for (int i = 0; ScanToken(s, length, pos, quoted, white, span); ++i) {
    if (i == index) return MakeToken(s + span.begin, span.end - span.begin, length - span.begin, !white(0));
    pos = span.next;
  }
  return VoString();
}

long VoString::CountWords(bool quoted, const VoString& whiteSpace) const {
  const long length = SafeLength(*this);
  const CharTable white(whiteSpace, true);
  const char* s = c_str();
  TokenSpan span;
  long pos = 0;
  long count = 0;
  while (ScanToken(s, length, pos, quoted, white, span)) {
    ++count;
    pos = span.next;
  }
  return count;
}

// ------------------------------------------------------------------ lists

void VoString::MergeStrings(const VoArray<VoString>& items, const VoString& separator) {
  const VoString sep = separator;  // may be this very string
  const bool canQuote = SafeLength(sep) > 0;
  VoString result("");
  for (int i = 0; i < items.size; ++i) {
    const VoString& item = items[i];
    if (canQuote && item.containsChar(sep) >= 0) {
      result += item.QuoteString();
    } else {
      result += item;
    }
    if (i + 1 < items.size) result += sep;
  }
  *this = result;
}

void VoString::ReadStrings(VoArray<VoString>& items, const VoString& whiteSpace) const {
  // This string or the set may be an element of the list that is emptied below.
  const VoString self = *this;
  const CharTable white(whiteSpace, true);
  items.ReSize(0);
  const long length = SafeLength(self);
  const char* s = self.c_str();
  std::vector<VoString> gathered;
  TokenSpan span;
  long pos = 0;
  try {
    while (ScanToken(s, length, pos, true, white, span)) {
      pos = span.next;
      const VoString token = MakeToken(s + span.begin, span.end - span.begin, length - span.begin, !white(0));
      const long n = span.end - span.begin;
      if (s[span.begin] == '"' && s[span.end - 1] == '"' && n > 0) {
        gathered.push_back(token.UnQuoteString());
      } else {
        gathered.push_back(token);
      }
    }
  } catch (...) {
    StoreItems(items, gathered);
    throw;
  }
  StoreItems(items, gathered);
}

void VoString::Split(VoArray<VoString>& items, char separator) const {
  const VoString self = *this;  // may be an element of the list
  items.ReSize(0);
  const long length = SafeLength(self);
  std::vector<VoString> gathered;
  long pos = 0;
  while (pos < length) {
    long hit = self.find(separator, pos);
    if (hit < 0) hit = length;
    gathered.push_back(self.substr(pos, hit - pos));
    pos = hit + 1;
  }
  StoreItems(items, gathered);
}
