// VoDataBase.cpp - the database model: entries, path lookup, typed values, merge and teardown.
#include "VoData/VoDataBase.h"

#include <climits>
#include <cstring>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "VoCore/VoError.h"
#include "VoData/VoDecimalPrivate.h"

namespace {

// Whether the text of \p s up to its first zero byte equals the \p n bytes
// at \p t, which hold no zero byte. Equality in the sense of strcmp, made
// cheap for the usual case of a string whose length is known.
inline bool TextEquals(const VoString& s, const char* t, long n) {
  const char* p = s.c_str();
  const long len = s.length();
  if (len >= n) {
    // p holds at least n + 1 readable bytes (length <= capacity).
    if (n == 0) return p[0] == 0;
    if (p[0] != t[0] || p[n - 1] != t[n - 1] || p[n] != 0) return false;
    return std::memcmp(p, t, static_cast<size_t>(n)) == 0;
  }
  // A length below the text's (possible after SetLength) or unknown: the
  // careful way, never reading behind p's terminating zero.
  return std::strncmp(p, t, static_cast<size_t>(n)) == 0 && p[n] == 0;
}

// The length of a string's text as the comparisons see it: up to its first zero byte.
inline long CompareLength(const VoString& s) { return static_cast<long>(std::strlen(s.c_str())); }

// A key's text as the comparisons see it.
inline std::string_view KeyText(const VoString& s) {
  return std::string_view(s.c_str(), static_cast<size_t>(CompareLength(s)));
}

bool ReadsAsTrue(const VoString& value) { return value.cmpIgnoreCase("true") == 0 || value == "1"; }

}  // namespace

// ================================================================ VoDBData

VoDBData::VoDBData() = default;

VoDBData::VoDBData(const VoString& key, const VoString& value) : mKey(key), mValue(value) {}

VoDBData::VoDBData(const VoString& key, const VoString& value, VoDataBase* db, bool owned)
    : mKey(key), mValue(value), mDB(db) {
  // The smart pointer took over one reference; a borrowed database gets one of its own.
  if (db != nullptr && !owned) db->NewRef();
}

VoDBData::VoDBData(const VoDBData& other) = default;

VoDBData& VoDBData::operator=(const VoDBData& other) = default;

VoDBData::~VoDBData() = default;

void VoDBData::SetDB(VoDataBase* db, bool owned) {
  mDB = db;
  if (db != nullptr && owned) db->Delete();
}

// ================================================================ VoDataBase

bool VoDataBase::mSaveControlChars = false;

VoDataBase::VoDataBase() = default;

VoDataBase::VoDataBase(const VoDataBase& other) : VoObject() { MergeDB(&other, true); }

VoDataBase& VoDataBase::operator=(const VoDataBase& other) {
  if (this == &other) return *this;
  // Copy first, then take the copy's entries: \p other may live inside this
  // database (or contain it), and a failed copy leaves this one unchanged.
  VoDataBase copy(other);
  mEntries.storage.Swap(copy.mEntries.storage);
  std::swap(mEntries.count, copy.mEntries.count);
  std::swap(mEntries.head, copy.mEntries.head);
  std::swap(mEntries.tail, copy.mEntries.tail);
  return *this;
}

VoDataBase::~VoDataBase() {
  // Releasing the entries would destroy nested databases recursively, one
  // stack frame per level. Instead every nested database that is about to
  // die is detached onto a chain (the chain holding the entry's reference),
  // stripped of its own nested databases the same way, and only then
  // released, so each destruction finds nothing left to recurse into.
  // Databases that other holders keep alive are released untouched. The
  // chain runs through the databases themselves: nothing is allocated, and
  // nothing here can fail.
  VoDataBase* chain = nullptr;
  auto detach = [&chain](VoList<VoDBData>& entries) noexcept {
    VoDBData* slot = entries.storage.elements;
    for (int i = 0, n = entries.storage.size; i < n; ++i) {
      VoDataBase* db = slot[i].mDB.Get();
      if (db == nullptr || db->RefCount() != 1) continue;
      db->NewRef();                                     // the chain's reference...
      slot[i].mDB = static_cast<VoDataBase*>(nullptr);  // ...replaces the entry's
      db->mNextReleased = chain;
      chain = db;
    }
  };
  detach(mEntries);
  while (chain != nullptr) {
    VoDataBase* db = chain;
    chain = db->mNextReleased;
    db->mNextReleased = nullptr;
    if (db->RefCount() == 1) detach(db->mEntries);
    db->Delete();
  }
}

// ---------------------------------------------------------------- paths

int VoDataBase::FindKey(const char* text, long length) const {
  const VoDBData* e = mEntries.storage.elements;
  const int cap = mEntries.storage.size;
  int slot = mEntries.head;
  for (int i = 0; i < mEntries.count; ++i) {
    if (TextEquals(e[slot].mKey, text, length)) return i;
    if (++slot == cap) slot = 0;
  }
  return -1;
}

VoDataBase* VoDataBase::GetEntry(const VoString& path, bool create, int& index) {
  index = -1;
  const char* p = path.c_str();
  long len = path.length();
  if (len < 0) len = 0;
  long pos = (len > 0 && p[0] == '/') ? 1 : 0;
  VoDataBase* level = this;
  for (;;) {
    // The next component runs from pos up to the next '/' or the end.
    const char* comp = p + pos;
    const void* slash = pos < len ? std::memchr(comp, '/', static_cast<size_t>(len - pos)) : nullptr;
    const long compLen = slash ? static_cast<const char*>(slash) - comp : (pos < len ? len - pos : 0);
    const long next = slash ? pos + compLen + 1 : len;
    // Keys compare as text up to a zero byte, so a component does too.
    const void* zero = compLen > 0 ? std::memchr(comp, 0, static_cast<size_t>(compLen)) : nullptr;
    const long textLen = zero ? static_cast<const char*>(zero) - comp : compLen;
    const int found = level->FindKey(comp, textLen);
    VoList<VoDBData>& entries = level->mEntries;

    if (next >= len) {  // last component
      if (found >= 0) {
        index = found;
        return level;
      }
      if (!create) return nullptr;
      entries.AddBack(VoDBData(path.substr(pos, compLen), VoString()));
      index = entries.count - 1;
      return level;
    }

    if (found >= 0) {
      VoDBData& entry = entries[found];
      if (entry.mDB.Get() == nullptr) {
        if (!create) return nullptr;
        entry.SetDB(new VoDataBase, true);
      }
      level = entry.mDB.Get();
    } else {
      if (!create) return nullptr;
      entries.AddBack(VoDBData(path.substr(pos, compLen), VoString()));
      VoDBData& entry = entries[entries.count - 1];
      entry.SetDB(new VoDataBase, true);
      level = entry.mDB.Get();
    }
    pos = next;
  }
}

bool VoDataBase::Exists(const VoString& path) const {
  int index;
  // Without create the lookup changes nothing.
  return const_cast<VoDataBase*>(this)->GetEntry(path, false, index) != nullptr;
}

VoDataBase* VoDataBase::GetDB(const VoString& path, bool create) {
  int index;
  VoDataBase* level = GetEntry(path, create, index);
  if (level == nullptr) return nullptr;
  VoDBData& entry = level->mEntries[index];
  if (entry.mDB.Get() == nullptr) {
    if (!create) return nullptr;
    entry.SetDB(new VoDataBase, true);
  }
  return entry.mDB.Get();
}

void VoDataBase::SetDB(const VoString& path, VoDataBase* db, bool owned) {
  int index;
  VoDataBase* level;
  try {
    level = GetEntry(path, true, index);
  } catch (...) {
    // An owned reference was given away with the call: it is released when
    // the entry cannot be made, so that `SetDB(path, new VoDataBase, true)`
    // loses nothing when it fails.
    if (db != nullptr && owned) db->Delete();
    throw;
  }
  level->mEntries[index].SetDB(db, owned);
}

// ---------------------------------------------------------------- typed values

void VoDataBase::SetString(const VoString& path, const VoString& value) {
  int index;
  VoString keep(value);  // \p value may belong to an entry that the lookup moves
  VoDataBase* level = GetEntry(path, true, index);
  level->mEntries[index].mValue = keep;
}

void VoDataBase::SetInt(const VoString& path, int value) {
  VoString text;
  text.Printf("%d", value);
  SetString(path, text);
}

void VoDataBase::SetBoolean(const VoString& path, bool value) {
  SetString(path, VoString(value ? "true" : "false"));
}

void VoDataBase::SetDouble(const VoString& path, double value, const char* format) {
  int index;
  VoDataBase* level = GetEntry(path, false, index);
  if (level != nullptr && VoDecimalRead(level->mEntries[index].mValue.c_str()) == value) return;
  VoString text = VoDecimalFormat(value, format);
  if (format == nullptr) text.StripTrailingZeros();
  SetString(path, text);
}

VoString VoDataBase::GetString(const VoString& path, const VoString& def, bool store) {
  int index;
  VoDataBase* level = GetEntry(path, false, index);
  if (level != nullptr) return level->mEntries[index].mValue;
  VoString result(def);
  if (store) SetString(path, result);
  return result;
}

int VoDataBase::GetInt(const VoString& path, int def, bool store) {
  int index;
  VoDataBase* level = GetEntry(path, false, index);
  if (level != nullptr) return static_cast<int>(level->mEntries[index].mValue.atol());
  if (store) SetInt(path, def);
  return def;
}

double VoDataBase::GetDouble(const VoString& path, double def, bool store) {
  int index;
  VoDataBase* level = GetEntry(path, false, index);
  if (level != nullptr) return VoDecimalRead(level->mEntries[index].mValue.c_str());
  if (store) SetDouble(path, def, nullptr);
  return def;
}

bool VoDataBase::GetBoolean(const VoString& path, bool def, bool store) {
  int index;
  VoDataBase* level = GetEntry(path, false, index);
  if (level != nullptr) return ReadsAsTrue(level->mEntries[index].mValue);
  if (store) SetBoolean(path, def);
  return def;
}

// ---------------------------------------------------------------- this level

VoString VoDataBase::GetIndexedName(int i) const { return mEntries[i].mKey; }

VoString VoDataBase::GetIndexedValue(int i) const { return mEntries[i].mValue; }

VoDataBase* VoDataBase::GetIndexedDB(int i) const { return mEntries[i].mDB.Get(); }

int VoDataBase::GetIndex(const VoString& key) const { return FindKey(key.c_str(), CompareLength(key)); }

int VoDataBase::GetIndexByValue(const VoString& value) const {
  const char* t = value.c_str();
  const long n = CompareLength(value);
  const VoDBData* e = mEntries.storage.elements;
  const int cap = mEntries.storage.size;
  int slot = mEntries.head;
  for (int i = 0; i < mEntries.count; ++i) {
    if (TextEquals(e[slot].mValue, t, n)) return i;
    if (++slot == cap) slot = 0;
  }
  return -1;
}

void VoDataBase::Remove(const VoString& key) {
  const int i = GetIndex(key);
  if (i != -1) RemoveIndex(i);
}

void VoDataBase::RemoveIndex(int i) {
  mEntries.Remove(i);
  // The slot behind the new last element keeps a copy of a moved entry;
  // clearing it releases the removed entry's nested database now.
  const int toEnd = mEntries.storage.size - mEntries.head;  // no overflow for any capacity
  const int slot = mEntries.count < toEnd ? mEntries.head + mEntries.count : mEntries.count - toEnd;
  mEntries.storage.elements[slot] = VoDBData();
}

void VoDataBase::Clear() {
  mEntries.count = 0;
  mEntries.head = 0;
  mEntries.tail = -1;
  mEntries.storage.Clear();
}

void VoDataBase::MergeDB(const VoDataBase* other, bool append) {
  if (other == nullptr) return;
  // One frame per level being merged, as a recursive merge would have on its
  // stack: target level, source level, the source's entry count when its
  // merge began, and the next entry. Nested source levels are kept alive by
  // a reference of the frame while they are merged.
  //
  // Each entry is found in its target level by GetEntry, which scans the
  // level: appending, for the nested level only (GetDB(key, true), the first
  // entry with that key); replacing, for every entry (SetString). Where that
  // means many scans of one level (a source level with many nested entries,
  // or many entries to replace), the frame keeps an index of the target
  // level's keys instead: each key's text, up to its first zero byte, with
  // its first position. Keys holding '/' are paths and still take GetEntry;
  // entries that adds to the level are added to the index.
  using KeyIndex = std::unordered_map<std::string_view, int>;
  struct Frame {
    VoDataBase* target;
    VoDataBase* source;
    int count;
    int next;
    std::unique_ptr<KeyIndex> index;
  };
  constexpr int kIndexFromNested = 8;    // appending: nested entries of a source level
  constexpr int kIndexFromEntries = 16;  // replacing: entries of a source level
  std::vector<Frame> frames;
  frames.push_back({this, const_cast<VoDataBase*>(other), other->GetCount(), 0, nullptr});
  try {
    while (!frames.empty()) {
      Frame& top = frames.back();
      if (top.next == 0 && top.count > 0) {
        VoList<VoDBData>& list = top.target->mEntries;
        bool indexed = top.count >= kIndexFromEntries;
        if (append) {
          // The level receives all of the source level's entries: its list
          // makes room for them once rather than growing step by step.
          if (top.count > list.storage.size - list.count && top.count <= INT_MAX - list.count)
            list.ReSize(list.count + top.count);
          int nested = 0;
          for (int i = 0; i < top.count; ++i) nested += top.source->mEntries[i].mDB.Get() != nullptr;
          indexed = nested >= kIndexFromNested;
        }
        if (indexed) {
          top.index = std::make_unique<KeyIndex>();
          for (int i = 0; i < list.count; ++i) top.index->emplace(KeyText(list[i].mKey), i);
        }
      }
      if (top.next >= top.count) {
        if (frames.size() > 1) top.source->Delete();
        frames.pop_back();
        continue;
      }
      const VoDBData& from = top.source->mEntries[top.next++];
      const VoString key(from.mKey);
      const VoString value(from.mValue);
      VoDataBase* nested = from.mDB.Get();
      VoDataBase* target = top.target;
      KeyIndex* index = top.index.get();
      VoList<VoDBData>& entries = target->mEntries;
      // Entries the path operations add to the level join the index.
      auto learn = [index, &entries](int from) {
        if (index != nullptr)
          for (int i = from; i < entries.count; ++i) index->emplace(KeyText(entries[i].mKey), i);
      };
      if (nested != nullptr) nested->NewRef();
      try {
        // The key as GetEntry reads a path of one component: no '/' in its
        // length() bytes, its text up to a zero byte among them.
        const char* p = key.c_str();
        const size_t n = static_cast<size_t>(key.length() > 0 ? key.length() : 0);
        const bool plain = index != nullptr && std::memchr(p, '/', n) == nullptr;
        const void* zero = plain ? std::memchr(p, 0, n) : nullptr;
        const std::string_view text(p, zero ? static_cast<size_t>(static_cast<const char*>(zero) - p) : n);
        auto find = [index, text] {
          const auto hit = index->find(text);
          return hit != index->end() ? hit->second : -1;
        };
        int at = -1;  // the entry's position in the level, when the index knows it
        if (append) {
          entries.AddBack(VoDBData(key, value));
          learn(entries.count - 1);
          if (plain && nested != nullptr) at = find();
        } else if (plain) {
          at = find();
          if (at < 0) {
            entries.AddBack(
                VoDBData(key.substr(0, static_cast<long>(n)), VoString()));  // as GetEntry makes it
            at = entries.count - 1;
            learn(at);
          }
          entries[at].mValue = value;
        } else {
          const int before = entries.count;
          target->SetString(key, value);
          learn(before);
        }
        if (nested != nullptr) {
          VoDataBase* into;
          if (at >= 0) {
            VoDBData& entry = entries[at];
            if (entry.mDB.Get() == nullptr) entry.SetDB(new VoDataBase, true);
            into = entry.mDB.Get();
          } else {
            const int before = entries.count;
            into = target->GetDB(key, true);
            learn(before);
          }
          frames.push_back({into, nested, nested->GetCount(), 0, nullptr});  // takes the reference
        }
      } catch (...) {
        if (nested != nullptr) nested->Delete();
        throw;
      }
    }
  } catch (...) {
    for (size_t i = 1; i < frames.size(); ++i) frames[i].source->Delete();
    throw;
  }
}
