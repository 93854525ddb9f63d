// VoMacToolsFixture.h - the bridge tests' private folder tree, file helpers and walk collector.
#ifndef VOFOUNDATION_TESTS_MAC_VOMACTOOLSFIXTURE_H
#define VOFOUNDATION_TESTS_MAC_VOMACTOOLSFIXTURE_H

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "Linux/VoLinuxSys.h"
#include "Mac/VoMacToolsOSX.h"
#include "Mac/VoMacToolsPrivate.h"

namespace vo_mac_test {

inline std::string Str(const VoString& s) { return std::string(s.c_str(), static_cast<size_t>(s.length())); }
inline VoString Vo(const std::string& s) { return VoString(s.data(), static_cast<long>(s.size())); }

/// Four-character code of the first four characters of \p c.
constexpr uint32_t Code(const char* c) {
  return (uint32_t{static_cast<unsigned char>(c[0])} << 24) |
         (uint32_t{static_cast<unsigned char>(c[1])} << 16) |
         (uint32_t{static_cast<unsigned char>(c[2])} << 8) | uint32_t{static_cast<unsigned char>(c[3])};
}
static_assert(Code("TEXT") == 0x54455854u, "first character in the most significant byte");

inline void WriteFile(const std::string& path, const std::string& text) {
  FILE* f = fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr) << path;
  fwrite(text.data(), 1, text.size(), f);
  fclose(f);
}

inline std::string ReadFile(const std::string& path) {
  std::string text;
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) return "<missing>";
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
  fclose(f);
  return text;
}

inline bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

inline bool IsDir(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

/// Removes everything below and including \p name relative to \p dirfd,
/// working through descriptors so that deep trees go too.
inline void RemoveAt(int dirfd, const char* name) {
  struct stat st;
  if (fstatat(dirfd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return;
  if (S_ISDIR(st.st_mode)) {
    fchmodat(dirfd, name, 0700, 0);
    int fd = openat(dirfd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) {
      DIR* dir = fdopendir(fd);
      std::vector<std::string> names;
      while (struct dirent* e = readdir(dir)) {
        if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0) names.push_back(e->d_name);
      }
      for (const std::string& n : names) RemoveAt(fd, n.c_str());
      closedir(dir);
    }
    unlinkat(dirfd, name, AT_REMOVEDIR);
  } else {
    unlinkat(dirfd, name, 0);
  }
}

/// Raw value of the finder attribute; "<none>" when missing.
inline std::string RawAttribute(const std::string& path) {
  char buf[64];
  ssize_t n = lgetxattr(path.c_str(), kVoFinderInfoAttribute, buf, sizeof buf);
  return n < 0 ? std::string("<none>") : std::string(buf, static_cast<size_t>(n));
}

inline bool XattrsWork(const std::string& folder) {
  std::string probe = folder + "/.xattr-probe";
  WriteFile(probe, "");
  bool ok = lsetxattr(probe.c_str(), "user.probe", "1", 1, 0) == 0;
  unlink(probe.c_str());
  return ok;
}

inline FSRef Ref(const std::string& path) {
  FSRef ref;
  ref.path = Vo(path);
  return ref;
}

// The environment variables a test may change; all restored afterwards.
inline const char* const kEnvNames[] = {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "TMPDIR",
                                        "XDG_DOCUMENTS_DIR"};

/// A private folder tree per test, with HOME, the XDG folders and TMPDIR
/// pointing into it; the machine-wide profile folder redirected there too.
class MacToolsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : kEnvNames) {
      const char* v = getenv(name);
      mSavedEnv.emplace_back(name, v ? std::string(v) : std::string("\x01unset"));
    }
    char cwd[PATH_MAX];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    mSavedCwd = cwd;
    const char* base = getenv("TMPDIR");
    std::string tmpl = std::string(base && base[0] == '/' ? base : "/tmp") + "/vo-bridge-XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back(0);
    ASSERT_NE(mkdtemp(buf.data()), nullptr);
    char* real = realpath(buf.data(), nullptr);
    ASSERT_NE(real, nullptr);
    mRoot = real;
    free(real);
    mHome = mRoot + "/home";
    ASSERT_EQ(mkdir(mHome.c_str(), 0700), 0);
    setenv("HOME", mHome.c_str(), 1);
    for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "TMPDIR", "XDG_DOCUMENTS_DIR"})
      unsetenv(name);
    mShared = mRoot + "/shared/color/icc";
    VoMacSetSharedProfilesFolder(mShared.c_str());
  }

  void TearDown() override {
    gVoSys = kVoSysDefault;  // whatever a test hooked
    VoMacSetSharedProfilesFolder(nullptr);
    ASSERT_EQ(chdir(mSavedCwd.c_str()), 0);
    for (const auto& [name, value] : mSavedEnv) {
      if (value == "\x01unset")
        unsetenv(name.c_str());
      else
        setenv(name.c_str(), value.c_str(), 1);
    }
    RemoveAt(AT_FDCWD, mRoot.c_str());
  }

  std::string P(const std::string& rel) const { return mRoot + "/" + rel; }

  void Dir(const std::string& rel) { ASSERT_EQ(mkdir(P(rel).c_str(), 0755), 0) << rel; }

  std::vector<std::pair<std::string, std::string>> mSavedEnv;
  std::string mSavedCwd;
  std::string mRoot;
  std::string mHome;
  std::string mShared;
};

class MacToolsXattrTest : public MacToolsTest {
 protected:
  void SetUp() override {
    MacToolsTest::SetUp();
    if (!XattrsWork(mRoot)) GTEST_SKIP() << "the temporary folder's file system keeps no user xattrs";
  }
};

/// Stores codes and flags through the bridge.
inline void StoreFinderInfo(const std::string& path, uint32_t type, uint32_t creator, uint16_t flags) {
  FSCatalogInfo info;
  info.fileType = type;
  info.fileCreator = creator;
  info.finderFlags = flags;
  ASSERT_EQ(FSSetCatalogInfo(Ref(path), kFSCatInfoFinderInfo, info), 0) << path;
}

/// Makes folders of \p component below \p root until the path is longer
/// than \p length; returns the deepest folder's path. With \p deepest, the
/// deepest folder stays open there (else -1).
inline std::string MakeDeepFolders(const std::string& root, const std::string& component, size_t length,
                                   int* deepest = nullptr) {
  std::string path = root;
  int fd = open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  while (fd >= 0 && path.size() <= length) {
    if (mkdirat(fd, component.c_str(), 0755) != 0) break;
    int next = openat(fd, component.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    close(fd);
    fd = next;
    path += "/" + component;
  }
  if (deepest) {
    *deepest = fd;
  } else if (fd >= 0) {
    close(fd);
  }
  return path;
}

// ==================================================================== the walk

struct Seen {
  unsigned long level;
  std::string path;  // relative to the container
  uint16_t nodeFlags;
  uint64_t size;
  bool hadRecord;
  std::string recordFolder;
  std::string recordName;
  bool hadName;
  std::string name;
};

struct Collector {
  std::string base;  // container path + "/"
  std::vector<Seen> seen;
  size_t quitAt = 0;  // answer true on this call (1-based); 0 never
};

inline bool Collect(bool, unsigned long level, const FSCatalogInfo* info, const FSRef* ref,
                    const FSSpec* record, const VoString* name, void* data) {
  Collector* c = static_cast<Collector*>(data);
  Seen s;
  s.level = level;
  std::string path = Str(ref->path);
  s.path = path.compare(0, c->base.size(), c->base) == 0 ? path.substr(c->base.size()) : "!" + path;
  s.nodeFlags = info->nodeFlags;
  s.size = info->dataLogicalSize;
  s.hadRecord = record != nullptr;
  if (record) {
    s.recordFolder = Str(record->folder);
    s.recordName = Str(record->name);
  }
  s.hadName = name != nullptr;
  if (name) s.name = Str(*name);
  c->seen.push_back(s);
  return c->quitAt != 0 && c->seen.size() >= c->quitAt;
}

}  // namespace vo_mac_test

#endif  // VOFOUNDATION_TESTS_MAC_VOMACTOOLSFIXTURE_H
