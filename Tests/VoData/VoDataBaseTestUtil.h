// VoDataBaseTestUtil.h - helpers shared by the database tests: comparing, dumping and generating databases.
#ifndef VOFOUNDATION_TESTS_VODATABASETESTUTIL_H
#define VOFOUNDATION_TESTS_VODATABASETESTUTIL_H

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "VoCore/VoError.h"
#include "VoCore/VoString.h"
#include "VoData/VoDataBase.h"

namespace vodbtest {

/// Whether two databases hold the same keys and values (compared as VoString
/// equality does), in the same order, with nested databases in the same
/// places, at every level. Walks without recursion, so deep chains are fine.
/// On a difference \p why (when given) names the first one found.
inline bool SameDataBase(const VoDataBase& a, const VoDataBase& b, std::string* why = nullptr) {
  std::vector<std::pair<const VoDataBase*, const VoDataBase*>> work{{&a, &b}};
  std::string path;
  while (!work.empty()) {
    auto [x, y] = work.back();
    work.pop_back();
    if (x->GetCount() != y->GetCount()) {
      if (why) *why = "count " + std::to_string(x->GetCount()) + " vs " + std::to_string(y->GetCount());
      return false;
    }
    for (int i = 0; i < x->GetCount(); ++i) {
      if (x->GetIndexedName(i) != y->GetIndexedName(i) || x->GetIndexedValue(i) != y->GetIndexedValue(i)) {
        if (why)
          *why = std::string("entry ") + std::to_string(i) + ": [" + x->GetIndexedName(i).c_str() + "=" +
                 x->GetIndexedValue(i).c_str() + "] vs [" + y->GetIndexedName(i).c_str() + "=" +
                 y->GetIndexedValue(i).c_str() + "]";
        return false;
      }
      const VoDataBase* nx = x->GetIndexedDB(i);
      const VoDataBase* ny = y->GetIndexedDB(i);
      if ((nx == nullptr) != (ny == nullptr)) {
        if (why) *why = std::string("nesting differs at key ") + x->GetIndexedName(i).c_str();
        return false;
      }
      if (nx) work.emplace_back(nx, ny);
    }
  }
  return true;
}

/// A compact, unambiguous picture of a (small) database: key=value pairs
/// separated by ';', nested levels in braces, bytes below 0x20 and '\\' ';' '='
/// '{' '}' escaped as \xHH.
inline std::string Dump(const VoDataBase& db) {
  auto text = [](const VoString& s) {
    std::string out;
    for (const char* p = s.c_str(); *p; ++p) {
      const unsigned char c = static_cast<unsigned char>(*p);
      if (c < 0x20 || c == '\\' || c == ';' || c == '=' || c == '{' || c == '}') {
        static const char hex[] = "0123456789ABCDEF";
        out += "\\x";
        out += hex[c >> 4];
        out += hex[c & 15];
      } else {
        out += static_cast<char>(c);
      }
    }
    return out;
  };
  std::string out;
  for (int i = 0; i < db.GetCount(); ++i) {
    if (i) out += ';';
    out += text(db.GetIndexedName(i)) + "=" + text(db.GetIndexedValue(i));
    if (const VoDataBase* nested = db.GetIndexedDB(i)) out += "{" + Dump(*nested) + "}";
  }
  return out;
}

/// A small deterministic generator (xorshift64*), so failures reproduce.
class Rng {
 public:
  explicit Rng(uint64_t seed) : mState(seed ? seed : 0x9E3779B97F4A7C15ULL) {}
  uint64_t Next() {
    mState ^= mState >> 12;
    mState ^= mState << 25;
    mState ^= mState >> 27;
    return mState * 0x2545F4914F6CDD1DULL;
  }
  /// Uniform in 0 .. n-1.
  int Below(int n) { return static_cast<int>(Next() % static_cast<uint64_t>(n)); }

 private:
  uint64_t mState;
};

/// A random text of 0 .. maxLen bytes, each from 1 to 255; often built from
/// the characters the format treats specially.
inline VoString RandomText(Rng& rng, int maxLen) {
  static const char special[] = " \t\r\n\"\\#{}<>=/";
  const int n = rng.Below(maxLen + 1);
  std::string s;
  for (int i = 0; i < n; ++i) {
    const int kind = rng.Below(4);
    char c;
    if (kind == 0)
      c = special[rng.Below(static_cast<int>(sizeof special) - 1)];
    else if (kind == 1)
      c = static_cast<char>(1 + rng.Below(255));
    else
      c = static_cast<char>('a' + rng.Below(26));
    s += c;
  }
  return VoString(s.c_str());
}

/// A test-side picture of a database: the tree the generated texts describe.
struct Node {
  std::string key;
  std::string value;
  bool nested = false;     ///< whether the entry has a nested database
  std::vector<Node> kids;  ///< its entries, when nested
};

/// A random tree: up to \p width entries per level, levels down to \p depth,
/// keys and values over all bytes but zero.
inline std::vector<Node> RandomTree(Rng& rng, int width, int depth) {
  std::vector<Node> level(static_cast<size_t>(rng.Below(width + 1)));
  for (Node& n : level) {
    n.key = RandomText(rng, 12).c_str();
    n.value = RandomText(rng, 24).c_str();
    if (depth > 0 && rng.Below(3) == 0) {
      n.nested = true;
      n.kids = RandomTree(rng, width, depth - 1);
    }
  }
  return level;
}

/// The tree as bracketed text, quoted by hand (a double quote and a backslash
/// get a backslash), independent of the library's writer.
inline std::string TreeText(const std::vector<Node>& level) {
  auto quote = [](const std::string& s) {
    std::string out = "\"";
    for (char c : s) {
      if (c == '"' || c == '\\') out += '\\';
      out += c;
    }
    return out + "\"";
  };
  std::string out;
  for (const Node& n : level) {
    out += "<" + quote(n.key) + " = " + quote(n.value) + ">\n";
    if (n.nested) out += "{\n" + TreeText(n.kids) + "}\n";
  }
  return out;
}

/// Whether \p db holds exactly the tree \p level (recursive: small trees only).
inline bool Matches(const VoDataBase& db, const std::vector<Node>& level, std::string* why = nullptr) {
  if (db.GetCount() != static_cast<int>(level.size())) {
    if (why) *why = "count " + std::to_string(db.GetCount()) + " vs " + std::to_string(level.size());
    return false;
  }
  for (int i = 0; i < db.GetCount(); ++i) {
    const Node& n = level[static_cast<size_t>(i)];
    if (n.key != db.GetIndexedName(i).c_str() || n.value != db.GetIndexedValue(i).c_str()) {
      if (why) *why = "entry " + std::to_string(i) + " key/value differ (key " + n.key + ")";
      return false;
    }
    const VoDataBase* nested = db.GetIndexedDB(i);
    if (n.nested != (nested != nullptr)) {
      if (why) *why = "nesting differs at " + n.key;
      return false;
    }
    if (nested && !Matches(*nested, n.kids, why)) return false;
  }
  return true;
}

/// Sets the writer's layout for one scope and restores the previous one.
class LayoutScope {
 public:
  explicit LayoutScope(bool bracketed) : mPrevious(VoDataBase::SaveControlChars(bracketed)) {}
  ~LayoutScope() { VoDataBase::SaveControlChars(mPrevious); }
  LayoutScope(const LayoutScope&) = delete;
  LayoutScope& operator=(const LayoutScope&) = delete;

 private:
  bool mPrevious;
};

/// Runs \p f and returns the code of the VoError it throws, 0 when none.
template <class F>
unsigned long ErrorCode(F&& f) {
  try {
    f();
  } catch (const VoError& e) {
    return e.GetErr();
  }
  return 0;
}

}  // namespace vodbtest

#endif  // VOFOUNDATION_TESTS_VODATABASETESTUTIL_H
