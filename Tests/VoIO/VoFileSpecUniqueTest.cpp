// Tests of VoFileSpec::SetUniqueName against files that really exist.
#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "VoIO/VoFileSpec.h"

namespace {

std::string Str(const VoString& s) { return std::string(s.c_str(), static_cast<size_t>(s.length())); }
VoString Vo(const std::string& s) { return VoString(s.data(), static_cast<long>(s.size())); }

int RemoveOne(const char* path, const struct stat*, int type, struct FTW*) {
  if (type == FTW_DP) {
    rmdir(path);
  } else {
    unlink(path);
  }
  return 0;
}

/// A fresh folder under /tmp, removed with its contents at the end; under
/// /dev/shm where there is one when many files are made (\p bulk).
class Scratch {
 public:
  explicit Scratch(bool bulk = false) {
    std::string tmpl = "/tmp/vo-unique-XXXXXX";
    if (bulk && access("/dev/shm", W_OK | X_OK) == 0) tmpl = "/dev/shm/vo-unique-XXXXXX";
    char* made = mkdtemp(tmpl.data());
    if (made == nullptr) {
      ADD_FAILURE() << "mkdtemp failed";
      return;
    }
    char resolved[PATH_MAX];
    mRoot = std::string(realpath(made, resolved) ? resolved : made) + "/";
  }
  ~Scratch() {
    if (!mRoot.empty()) nftw(mRoot.c_str(), RemoveOne, 16, FTW_DEPTH | FTW_PHYS);
  }
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;

  /// The folder's path, ending in '/'.
  const std::string& Root() const { return mRoot; }
  void Touch(const std::string& rel) const {
    int fd = open((mRoot + rel).c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0) << rel;
    close(fd);
  }

 private:
  std::string mRoot;
};

struct UniqueCase {
  const char* start;                  // relative to the scratch folder
  std::vector<std::string> existing;  // files made first
  const char* expected;               // relative to the scratch folder
};

TEST(VoFileSpecUniqueTest, NumbersTheNameUntilNoFileHasIt) {
  const UniqueCase cases[] = {
      {"report.txt", {}, "report.txt"},  // nothing there: unchanged
      {"report.txt", {"report.txt"}, "report-001.txt"},
      {"report.txt", {"report.txt", "report-001.txt"}, "report-002.txt"},
      {"report.txt", {"report.txt", "report-002.txt"}, "report-001.txt"},  // first free number
      {"report.txt", {"report-001.txt"}, "report.txt"},  // only the starting name is checked first
      // Only known extensions leave the base name; the extension is always the name's own.
      {"archive.xyz", {"archive.xyz"}, "archive.xyz-001.xyz"},
      {"photo.JPG", {"photo.JPG"}, "photo-001.JPG"},
      {"notes", {"notes"}, "notes-001."},
      {"notes.", {"notes."}, "notes-001."},
      {".profile", {".profile"}, ".profile-001."},
      {"a.d/readme", {"a.d/readme"}, "a.d/readme-001."},
      // The starting name is the base: numbers do not replace numbers.
      {"report-001.txt", {"report-001.txt"}, "report-001-001.txt"},
      // Bytes that a printf format would take for directives stay as they are.
      {"100%s%d.txt", {"100%s%d.txt"}, "100%s%d-001.txt"},
  };
  for (const UniqueCase& c : cases) {
    Scratch t;
    mkdir((t.Root() + "a.d").c_str(), 0755);
    for (const std::string& name : c.existing) t.Touch(name);
    VoFileSpec spec(Vo(t.Root() + c.start));
    spec.SetUniqueName();
    EXPECT_EQ(Str(spec.GetFullName()), t.Root() + c.expected) << "from " << c.start;
  }
}

TEST(VoFileSpecUniqueTest, CounterGrowsPastThreeDigits) {
  Scratch t(true);
  t.Touch("log.txt");
  char name[32];
  for (int n = 1; n <= 999; ++n) {
    std::snprintf(name, sizeof name, "log-%03d.txt", n);
    t.Touch(name);
  }
  VoFileSpec spec(Vo(t.Root() + "log.txt"));
  spec.SetUniqueName();
  EXPECT_EQ(Str(spec.GetFullName()), t.Root() + "log-1000.txt");
}

TEST(VoFileSpecUniqueTest, TheNewNameDerivesItsTypeAndABareNameStaysBare) {
  Scratch t;
  t.Touch("grey.icc");
  VoFileSpec spec(Vo(t.Root() + "grey.icc"));
  spec.SetUniqueName();
  EXPECT_EQ(Str(spec.GetName()), "grey-001.icc");
  EXPECT_EQ(spec.GetType(), VoFileTypeProfile);

  // A name without a path is looked up in the current folder and stays bare.
  char old[PATH_MAX];
  ASSERT_NE(getcwd(old, sizeof old), nullptr);
  ASSERT_EQ(chdir(t.Root().c_str()), 0);
  t.Touch("bare.txt");
  VoFileSpec bare(VoString("bare.txt"));
  bare.SetUniqueName();
  EXPECT_EQ(chdir(old), 0);
  EXPECT_EQ(Str(bare.GetFullName()), "bare-001.txt");
}

}  // namespace
