// database_fuzz.cpp - the database text reader on arbitrary bytes: no crash, no hang, stable round trip.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "VoCore/VoError.h"
#include "VoCore/VoString.h"
#include "VoData/VoDataBase.h"

namespace {

// Same keys and values (VoString equality), same order, same nesting.
bool Same(const VoDataBase& a, const VoDataBase& b) {
  std::vector<std::pair<const VoDataBase*, const VoDataBase*>> work{{&a, &b}};
  while (!work.empty()) {
    auto [x, y] = work.back();
    work.pop_back();
    if (x->GetCount() != y->GetCount()) return false;
    for (int i = 0; i < x->GetCount(); ++i) {
      if (x->GetIndexedName(i) != y->GetIndexedName(i)) return false;
      if (x->GetIndexedValue(i) != y->GetIndexedValue(i)) return false;
      const VoDataBase* nx = x->GetIndexedDB(i);
      const VoDataBase* ny = y->GetIndexedDB(i);
      if ((nx == nullptr) != (ny == nullptr)) return false;
      if (nx) work.emplace_back(nx, ny);
    }
  }
  return true;
}

// Whether every level has distinct keys without "/": then a copy is exact.
bool PlainKeys(const VoDataBase& db) {
  std::vector<const VoDataBase*> work{&db};
  while (!work.empty()) {
    const VoDataBase* level = work.back();
    work.pop_back();
    std::set<std::string> keys;
    for (int i = 0; i < level->GetCount(); ++i) {
      const VoString key = level->GetIndexedName(i);
      if (std::strchr(key.c_str(), '/') != nullptr || !keys.insert(key.c_str()).second) return false;
      if (const VoDataBase* nested = level->GetIndexedDB(i)) work.push_back(nested);
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const VoString text(data, static_cast<long>(size));
  VoDataBase db;
  try {
    db.ReadFromString(text);
  } catch (const VoError& e) {
    // Only the reader's own errors may come out.
    if (e.GetErr() != eVoFormatErr && e.GetErr() != eVoIndexError) std::abort();
    return 0;
  }
  for (bool bracketed : {false, true}) {
    const bool previous = VoDataBase::SaveControlChars(bracketed);
    const VoString written = db.WriteToString();
    VoDataBase::SaveControlChars(previous);
    VoDataBase back;
    back.ReadFromString(written);  // must not throw: the writer's text is always valid
    if (!Same(db, back)) std::abort();
  }
  if (PlainKeys(db)) {
    VoDataBase copy(db);
    if (!Same(db, copy)) std::abort();
  }
  return 0;
}
