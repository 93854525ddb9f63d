// VoDataBaseText.cpp - the database text format: scanner, reader and writer.
//
// The reader works on the text's bytes directly: its tokens are exactly
// those of VoString::ReadString (blank-separated, or double-quoted with
// backslash escapes) and its quoted tokens are found and unquoted by the
// scanner that ReadString and UnQuoteString use (VoQuotedToken.h), but no
// token is built character by character. Reader and writer keep their levels on explicit stacks.
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "VoCore/VoByteScan.h"
#include "VoCore/VoError.h"
#include "VoCore/VoQuotedToken.h"
#include "VoCore/VoStringPrivate.h"
#include "VoData/VoDataBase.h"

namespace {

// Character classes of the format.
enum : unsigned char {
  kBlank = 1,     // NUL, TAB, LF, CR, SPACE: separate tokens, skipped by the scanner
  kQuoteSet = 2,  // TAB, LF, CR, SPACE, '"': a key or value holding one is written quoted
  kEnd = 4,       // NUL: the end of a key's or value's text for the writer
  kEscape = 8,    // '"', '\\': escaped by a backslash inside quotes
};

struct CharClasses {
  unsigned char c[256] = {};
  constexpr CharClasses() {
    c[0] = kBlank | kEnd;
    c[0x09] = c[0x0A] = c[0x0D] = c[0x20] = kBlank | kQuoteSet;  // TAB, LF, CR, SPACE
    c[0x22] = kQuoteSet | kEscape;                               // '"'
    c[0x5C] = kEscape;                                           // '\\'
  }
};
constexpr CharClasses kClass;

inline unsigned char ClassOf(char ch) { return kClass.c[static_cast<unsigned char>(ch)]; }
inline bool IsBlank(char ch) { return (ClassOf(ch) & kBlank) != 0; }
inline bool IsLineEnd(char ch) { return ch == '\n' || ch == '\r'; }

// A string holding the \p n bytes at \p p (zero bytes included); no buffer for
// n = 0. Its block comes from \p run when one is given.
inline VoString MakeString(const char* p, long n, VoStringBlockRun* run = nullptr) {
  if (n <= 0) return VoString();
  return VoString(run ? run->New(p, n) : NewStringData(p, n, false));
}

// The usable length of a text: a negative length (possible for fixed-length
// strings) counts as empty.
inline long TextLength(const VoString& text) {
  const long n = text.length();
  return n > 0 ? n : 0;
}

inline void CheckPosition(long pos) {
  if (pos < 0) VO_THROW(eVoIndexError);
}

void SkipLineAt(const char* s, long len, long& pos) {
  while (pos < len) {
    const char c = s[pos++];
    if (IsLineEnd(c)) {
      // CR LF and LF CR are one line end.
      if (pos < len && IsLineEnd(s[pos]) && s[pos] != c) ++pos;
      return;
    }
  }
}

char NextCharAt(const char* s, long len, long& pos) {
  bool inBlock = false;
  while (pos < len) {
    const char c = s[pos++];
    if (c == '#') {
      if (pos >= len) return 0;
      const char c2 = s[pos++];
      if (!inBlock) {
        if (c2 == '{') inBlock = true;
      } else if (c2 == '}') {
        inBlock = false;  // scanning goes on directly behind "#}"
        continue;
      }
      if (IsLineEnd(c2)) --pos;  // a lone "#": consume only its own line end
      SkipLineAt(s, len, pos);
      continue;
    }
    if (inBlock) {
      // Every line of a block is skipped whole; an empty line counts as one
      // line, so that a "#}" right behind it is seen.
      if (IsLineEnd(c)) --pos;
      SkipLineAt(s, len, pos);
      continue;
    }
    if (!IsBlank(c)) return c;
  }
  return 0;
}

// A quoted token starting at the '"' at \p pos, unquoted. The token runs up
// to and including the next double quote that no backslash escapes, or up to
// a zero byte or the end of the text; \p pos ends behind it. A token that
// does not end in a double quote throws "VoFormatErr".
VoString ReadQuoted(const char* s, long len, long& pos, VoStringBlockRun* run) {
  const long start = pos;
  const VoQuoted::End e = VoQuoted::Scan(s, start, len);
  pos = e.end;
  const long tokenLen = pos - start;
  // Unterminated tokens pass only when they happen to end in a double quote:
  // the lone opening quote, or an escaped quote at the very end.
  if (!e.closed && !(tokenLen == 1 || s[pos - 1] == '"')) {
    // The token is no proper quoted string: unquoting it raises the error,
    // so that it names the unquoting code as the place of the failure.
    VoString(s + start, tokenLen).UnQuoteString();
    VO_THROW(eVoFormatErr);  // not reached: UnQuoteString has thrown
  }
  const char* in = s + start + 1;
  const long inLen = tokenLen >= 2 ? tokenLen - 2 : 0;
  if (!e.escapes) return MakeString(in, inLen, run);
  VoStringData* d = run ? run->New(nullptr, inLen) : NewStringData(nullptr, inLen, false);
  const long n = VoQuoted::Unescape(in, inLen, d->Chars());
  d->Chars()[n] = 0;
  d->mLength = static_cast<int32_t>(n);
  return VoString(d);
}

// One entry's key, "=" and value from \p pos (VoDBData::SetString). A bare
// key that equals \p keyHint (when given) shares the hint's buffer. New
// blocks come from \p run when one is given.
void ReadEntryAt(const char* s, long len, long& pos, VoString& key, VoString& value,
                 const VoString* keyHint = nullptr, VoStringBlockRun* run = nullptr) {
  // Key: a quoted token, or a bare one up to the first blank (consumed).
  while (pos < len && IsBlank(s[pos])) ++pos;
  if (pos >= len) VO_THROW(eVoFormatErr);  // no key, hence no "="
  if (s[pos] == '"') {
    key = ReadQuoted(s, len, pos, run);
  } else {
    const long start = pos;
    while (pos < len && !IsBlank(s[pos])) ++pos;
    const long n = pos - start;
    if (keyHint != nullptr && keyHint->length() == n &&
        std::memcmp(keyHint->c_str(), s + start, static_cast<size_t>(n)) == 0)
      key = *keyHint;
    else
      key = MakeString(s + start, n, run);
    if (pos < len) ++pos;
  }
  // Separator: the next bare token must be exactly "=".
  while (pos < len && IsBlank(s[pos])) ++pos;
  if (pos >= len || s[pos] != '=') VO_THROW(eVoFormatErr);
  ++pos;
  if (pos >= len) {  // the text ends directly behind the "="
    value = VoString();
    return;
  }
  if (!IsBlank(s[pos])) VO_THROW(eVoFormatErr);
  // Value: from the blank behind "=", skip SPACE and TAB.
  while (pos < len && (s[pos] == ' ' || s[pos] == '\t')) ++pos;
  if (pos >= len || IsLineEnd(s[pos])) {
    value = VoString();  // a line end is left for the scanner
  } else if (s[pos] == '"') {
    value = ReadQuoted(s, len, pos, run);
  } else {
    // A bare value: everything up to the next CR or LF, which is consumed.
    const unsigned char* from = reinterpret_cast<const unsigned char*>(s + pos);
    const size_t rest = static_cast<size_t>(len - pos);
    const size_t stop = VoByteScan::FindAny(from, rest, '\n', '\r', 0);
    long n = static_cast<long>(stop);
    if (stop == rest || from[stop] != 0) {
      value = MakeString(s + pos, n, run);
    } else {
      // Zero bytes inside a bare value: the value is what appending its
      // characters one by one gives (as the tokenizer builds it), where each
      // append counts the text up to its first zero byte again.
      n = static_cast<long>(VoByteScan::FindAny(from, rest, '\n', '\r', '\n'));
      VoString built(10L, false);
      for (long i = 0; i < n; ++i) built += static_cast<char>(from[i]);
      value = built;
    }
    pos += n;
    if (pos < len) ++pos;
  }
}

// What the writer needs to know of a key or value.
struct TextInfo {
  const char* text;
  size_t length;  // up to the first zero byte
  bool quote;     // holds a character of the quote set
  bool escape;    // holds '"' or '\\'
};

// Scans \p str's text up to its first zero byte, eight bytes at a time: a
// word is tested for '"' and '\\' exactly and for bytes below 0x21 (the
// blanks among them); only a word with such a byte is looked at closer.
inline TextInfo ScanText(const VoString& str) {
  using namespace VoByteScan;
  TextInfo info{str.c_str(), 0, false, false};
  const char* p = info.text;
  const size_t len = std::strlen(p);
  info.length = len;
  auto bytes = [&info, p](size_t from, size_t to) {
    for (size_t k = from; k < to; ++k) {
      const unsigned char cls = ClassOf(p[k]);
      if (cls & kQuoteSet) info.quote = true;
      if (cls & kEscape) info.escape = true;
    }
  };
  if (len < 8) {
    bytes(0, len);
    return info;
  }
  for (size_t i = 0; i < len;) {
    const size_t at = i + 8 <= len ? i : len - 8;  // the last word may overlap the one before
    const uint64_t v = Load8(p + at);
    if (BytesEqual(v, '"') | BytesEqual(v, '\\')) {
      bytes(at, at + 8);
    } else if (!info.quote && BytesBelow(v, 0x21)) {
      bytes(at, at + 8);
    }
    if (info.quote && info.escape) break;
    i = at + 8;
  }
  return info;
}

constexpr size_t kMaxText = 0x7FFFFFFF;  // the longest VoString

}  // namespace

// ================================================================ the writer's buffer

struct VoDataBase::TextBuffer {
  char* data = nullptr;
  size_t size = 0;
  size_t capacity = 0;

  TextBuffer() = default;
  TextBuffer(const TextBuffer&) = delete;
  TextBuffer& operator=(const TextBuffer&) = delete;
  ~TextBuffer() { std::free(data); }

  // Room for \p n more bytes; returns where they go.
  char* Reserve(size_t n) {
    if (n > capacity - size) Grow(n);
    return data + size;
  }
  void Grow(size_t n) {
    if (n > kMaxText - size) VO_THROW(eVoMemFullErr);
    size_t want = capacity < 4096 ? 4096 : capacity * 2;
    while (want - size < n) want *= 2;
    void* block = std::realloc(data, want);
    if (block == nullptr) VO_THROW(eVoMemFullErr);
    data = static_cast<char*>(block);
    capacity = want;
  }
  void Put(char c) {
    *Reserve(1) = c;
    ++size;
  }
  void Put(const char* p, size_t n) {
    std::memcpy(Reserve(n), p, n);
    size += n;
  }
  void Tabs(int n) {
    if (n <= 0) return;
    std::memset(Reserve(static_cast<size_t>(n)), '\t', static_cast<size_t>(n));
    size += static_cast<size_t>(n);
  }
  // The text, in double quotes with '"' and '\\' escaped when \p quoted.
  void PutText(const TextInfo& t, bool quoted) {
    const char* p = t.text;
    const size_t n = t.length;
    if (!quoted) {
      Put(p, n);
      return;
    }
    if (!t.escape) {
      char* out = Reserve(n + 2);
      out[0] = '"';
      std::memcpy(out + 1, p, n);
      out[n + 1] = '"';
      size += n + 2;
      return;
    }
    if (n > kMaxText / 2) VO_THROW(eVoMemFullErr);
    char* out = Reserve(2 * n + 2);
    char* const begin = out;
    *out++ = '"';
    for (size_t i = 0; i < n; ++i) {
      const char c = p[i];
      if (c == '"' || c == '\\') *out++ = '\\';
      *out++ = c;
    }
    *out++ = '"';
    size += static_cast<size_t>(out - begin);
  }
  VoString Take() const {
    if (size > kMaxText) VO_THROW(eVoMemFullErr);
    return MakeString(data, static_cast<long>(size));
  }
};

// ================================================================ VoDBData text

VoString VoDBData::GetString(bool quoteAll) const {
  VoDataBase::TextBuffer out;
  VoDataBase::WriteEntryText(out, *this, quoteAll);
  return out.Take();
}

void VoDBData::SetString(const VoString& text, long& pos) {
  CheckPosition(pos);
  VoString key, value;
  ReadEntryAt(text.c_str(), TextLength(text), pos, key, value);
  mKey = key;
  mValue = value;
}

// ================================================================ writing

void VoDataBase::WriteEntryText(TextBuffer& out, const VoDBData& entry, bool quoteAll) {
  const TextInfo key = ScanText(entry.mKey);
  // Bare, a key starting with one of these would read back as a comment, a
  // brace or a bracketed entry.
  const char first = key.text[0];
  const bool quoteKey = quoteAll || key.quote || key.length == 0 || first == '#' || first == '{' ||
                        first == '}' || first == '<';
  out.PutText(key, quoteKey);
  out.Put(" = ", 3);
  const TextInfo value = ScanText(entry.mValue);
  if (value.length > 0 || quoteAll) out.PutText(value, quoteAll || value.quote);
}

void VoDataBase::WriteLevels(TextBuffer& out, int level) const {
  if (level < 0) level = 0;
  const bool bracketed = mSaveControlChars;
  struct Frame {
    const VoDataBase* db;
    int slot;  // ring slot of the next entry
    int left;  // entries still to write
    int level;
  };
  std::vector<Frame> frames;
  frames.push_back({this, mEntries.head, mEntries.count, level});
  while (!frames.empty()) {
    Frame& top = frames.back();
    if (top.left == 0) {
      const int done = top.level;
      frames.pop_back();
      if (!frames.empty()) {
        out.Tabs(done - 1);
        out.Put("}\n", 2);
      }
      continue;
    }
    const VoList<VoDBData>& entries = top.db->mEntries;
    const VoDBData& entry = entries.storage.elements[top.slot];
    if (++top.slot == entries.storage.size) top.slot = 0;
    --top.left;
    const int at = top.level;
    out.Tabs(at);
    if (bracketed) out.Put('<');
    WriteEntryText(out, entry, bracketed);
    if (bracketed) out.Put('>');
    out.Put('\n');
    if (const VoDataBase* nested = entry.mDB.Get()) {
      if (frames.size() > static_cast<size_t>(mMaxNesting)) VO_THROW(eVoFormatErr);
      out.Tabs(at);
      out.Put("{\n", 2);
      frames.push_back({nested, nested->mEntries.head, nested->mEntries.count, at + 1});
    }
  }
}

VoString VoDataBase::DB2String(int level) const {
  TextBuffer out;
  WriteLevels(out, level);
  return out.Take();
}

VoString VoDataBase::WriteToString() const {
  TextBuffer out;
  if (!mSaveControlChars) {
    WriteLevels(out, 0);
  } else {
    out.Put("{\n", 2);
    WriteLevels(out, 1);
    out.Put("}\n", 2);
  }
  return out.Take();
}

bool VoDataBase::SaveControlChars(bool save) {
  const bool previous = mSaveControlChars;
  mSaveControlChars = save;
  return previous;
}

// ================================================================ reading

void VoDataBase::TakeEntries(VoDBData* entries, int n) {
  // The level's list gets exactly the room it needs: levels that are read
  // whole keep no spare slots.
  VoList<VoDBData>& list = mEntries;
  if (n == 0) {
    if (list.count == 0) list.storage.Clear();
    return;
  }
  if (n > INT_MAX - list.count) VO_THROW(eVoMemFullErr);
  const int total = list.count + n;
  VoArray<VoDBData> ring(total);
  for (int i = 0; i < list.count; ++i) ring.elements[i] = list[i];
  for (int i = 0; i < n; ++i) {
    VoDBData& to = ring.elements[list.count + i];
    VoDBData& from = entries[i];
    to.mKey = static_cast<VoString&&>(from.mKey);
    to.mValue = static_cast<VoString&&>(from.mValue);
    if (from.mDB.Get() != nullptr) {
      to.mDB = from.mDB;
      from.mDB = static_cast<VoDataBase*>(nullptr);
    }
  }
  list.storage.Swap(ring);
  list.count = total;
  list.head = 0;
  list.tail = total - 1;
}

void VoDataBase::ReadLevels(const char* s, long len, long& pos) {
  // The levels being read, this one first. Entries read are gathered on one
  // stack shared by all open levels (each level owns the part from its
  // `first` on) and handed to the level's list when the level ends, so every
  // list is allocated once at its final size. A nested level is held only
  // here until its "}" (or the end of the text) attaches it to the last
  // entry of the level around it; after an error the entries gathered for
  // this level are still handed over, the open nested levels are discarded.
  //
  // Records often repeat their keys from one sibling level to the next, so
  // each entry's key is compared with the key at the same position in the
  // level last completed at the same depth and, when equal, shares its buffer.
  struct Level {
    VoDataBase* db;  // owned here, except for this database at depth 0
    size_t first;    // its first entry on the pending stack
  };
  struct State {
    std::vector<Level> open;
    std::vector<VoDBData> pending;
    std::vector<VoDataBase*> lastAtDepth;  // a reference each, or null
    ~State() {
      pending.clear();
      for (size_t i = 1; i < open.size(); ++i) open[i].db->Delete();
      for (VoDataBase* db : lastAtDepth)
        if (db != nullptr) db->Delete();
    }
  } st;
  // The keys and values read go together: their blocks are carved from
  // shared slabs rather than taken from the heap one by one.
  VoStringBlockRun run;
  st.open.push_back({this, 0});
  st.lastAtDepth.push_back(nullptr);

  try {
    for (;;) {
      const char c = NextCharAt(s, len, pos);
      if (c == 0 || c == '}') {
        Level& top = st.open.back();
        top.db->TakeEntries(st.pending.data() + top.first, static_cast<int>(st.pending.size() - top.first));
        st.pending.resize(top.first);
        if (st.open.size() == 1) return;
        VoDataBase* done = top.db;
        const size_t depth = st.open.size() - 1;
        st.open.pop_back();
        const Level& outer = st.open.back();
        VoDBData* last;
        if (st.pending.size() > outer.first) {
          last = &st.pending.back();
        } else {
          try {
            last = &outer.db->mEntries[outer.db->mEntries.count - 1];  // "VoIndexError" when empty
          } catch (...) {
            done->Delete();
            throw;
          }
        }
        done->NewRef();  // the sibling hint's reference
        if (st.lastAtDepth[depth] != nullptr) st.lastAtDepth[depth]->Delete();
        st.lastAtDepth[depth] = done;
        last->SetDB(done, true);
        continue;
      }
      if (c == '{') {
        if (st.open.size() > static_cast<size_t>(mMaxNesting)) VO_THROW(eVoFormatErr);
        st.open.reserve(st.open.size() + 1);
        if (st.lastAtDepth.size() <= st.open.size()) st.lastAtDepth.push_back(nullptr);
        st.open.push_back({new VoDataBase, st.pending.size()});
        continue;
      }
      const bool bracketed = c == '<';
      if (!bracketed) --pos;  // the character starts the key
      const Level& top = st.open.back();
      const size_t index = st.pending.size() - top.first;
      const VoDataBase* sibling = st.lastAtDepth[st.open.size() - 1];
      const VoString* hint = sibling != nullptr && index < static_cast<size_t>(sibling->mEntries.count)
                                 ? &sibling->mEntries.storage.elements[index].mKey
                                 : nullptr;
      st.pending.emplace_back();
      VoDBData& entry = st.pending.back();
      try {
        ReadEntryAt(s, len, pos, entry.mKey, entry.mValue, hint, &run);
      } catch (...) {
        st.pending.pop_back();
        throw;
      }
      if (bracketed && NextCharAt(s, len, pos) != '>') VO_THROW(eVoFormatErr);
    }
  } catch (...) {
    // The entries read for this database stay; nested levels are dropped.
    const size_t mine = st.open.size() > 1 ? st.open[1].first : st.pending.size();
    TakeEntries(st.pending.data(), static_cast<int>(mine));
    throw;
  }
}

void VoDataBase::String2DB(const VoString& text, long& pos) {
  CheckPosition(pos);
  ReadLevels(text.c_str(), TextLength(text), pos);
}

void VoDataBase::ReadFromString(const VoString& text) {
  const VoString keep(text);  // \p text may be owned by an entry that Clear() drops
  Clear();
  const char* s = keep.c_str();
  const long len = TextLength(keep);
  long pos = 0;
  if (NextCharAt(s, len, pos) != '{') pos = 0;
  ReadLevels(s, len, pos);
}

char VoDataBase::GetNextChar(const VoString& text, long& pos) {
  CheckPosition(pos);
  return NextCharAt(text.c_str(), TextLength(text), pos);
}

void VoDataBase::SkipLine(const VoString& text, long& pos) {
  CheckPosition(pos);
  SkipLineAt(text.c_str(), TextLength(text), pos);
}

// WriteToFile and ReadFromFile live with the file layer (VoFile).
