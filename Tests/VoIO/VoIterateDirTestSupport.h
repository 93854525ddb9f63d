// VoIterateDirTestSupport.h - what the walk tests share: a scratch folder, a
// walker that records what it is shown, and looks at order and open descriptors.
#ifndef VOFOUNDATION_TESTS_VOIO_VOITERATEDIRTESTSUPPORT_H
#define VOFOUNDATION_TESTS_VOIO_VOITERATEDIRTESTSUPPORT_H

#include <gtest/gtest.h>

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "VoCore/VoString.h"
#include "VoIO/VoIterateDir.h"

namespace vo_walk_test {

/// A four-character code as a number ('TEXT' -> 0x54455854).
constexpr unsigned long Code(const char (&c)[5]) {
  return (static_cast<unsigned long>(static_cast<unsigned char>(c[0])) << 24) |
         (static_cast<unsigned long>(static_cast<unsigned char>(c[1])) << 16) |
         (static_cast<unsigned long>(static_cast<unsigned char>(c[2])) << 8) |
         static_cast<unsigned long>(static_cast<unsigned char>(c[3]));
}

inline std::string Str(const VoString& s) { return std::string(s.c_str(), static_cast<size_t>(s.length())); }
inline VoString Vo(const std::string& s) { return VoString(s.data(), static_cast<long>(s.size())); }

/// A fresh folder (resolved path, no trailing '/'), removed with everything
/// in it at the end. Under /tmp; trees of thousands of entries go to
/// /dev/shm where there is one (\p bulk), since making files there is quick.
class Scratch {
 public:
  explicit Scratch(bool bulk = false);
  ~Scratch();
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;

  const std::string& Root() const { return mRoot; }
  std::string operator/(const std::string& rel) const { return mRoot + "/" + rel; }

  void Dir(const std::string& rel) const;
  void File(const std::string& rel, const std::string& content = std::string()) const;
  void Link(const std::string& target, const std::string& rel) const;

 private:
  std::string mRoot;
};

/// a, b, s/ { c, t/ { d } }
void MakeSmallTree(const Scratch& t);

/// Keeps a copy of every entry reported; an optional hook runs after each.
class Recorder : public VoIterateDir {
 public:
  int ProcessFile(const VoFileInfo& info) override {
    seen.push_back(info);
    if (hook) hook(info, *this);
    return 0;
  }
  std::vector<VoFileInfo> seen;
  std::function<void(const VoFileInfo&, Recorder&)> hook;

  /// Full names of the entries reported, relative to \p root ("s/c").
  std::vector<std::string> Relative(const std::string& root) const;
};

/// True when the entries, in the order reported, are a depth-first pre-order
/// walk below \p root: every entry lies directly in \p root or in a folder
/// reported earlier whose contents have not been left yet.
::testing::AssertionResult IsPreOrder(const std::vector<VoFileInfo>& seen, const std::string& root);

/// The entries of one folder in the order the file system lists them.
std::vector<std::string> ListingOrder(const std::string& folder);

/// Entries of \p folder: open descriptors, or with "/proc/self/task" threads
/// (two more each: "." and ".."). -1 when it cannot be read.
int OpenDescriptors(const char* folder = "/proc/self/fd");

}  // namespace vo_walk_test

#endif  // VOFOUNDATION_TESTS_VOIO_VOITERATEDIRTESTSUPPORT_H
