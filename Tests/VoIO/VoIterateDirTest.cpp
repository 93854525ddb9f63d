// Tests of VoIterateDir and VoIterateDirGetFiles on real folder trees.
#include "VoIO/VoIterateDir.h"

#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <grp.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "Mac/VoMacToolsOSX.h"
#include "VoCore/VoError.h"

namespace {

constexpr unsigned long Code(const char (&c)[5]) {
  return (static_cast<unsigned long>(static_cast<unsigned char>(c[0])) << 24) |
         (static_cast<unsigned long>(static_cast<unsigned char>(c[1])) << 16) |
         (static_cast<unsigned long>(static_cast<unsigned char>(c[2])) << 8) |
         static_cast<unsigned long>(static_cast<unsigned char>(c[3]));
}

std::string Str(const VoString& s) { return std::string(s.c_str(), static_cast<size_t>(s.length())); }
VoString Vo(const std::string& s) { return VoString(s.data(), static_cast<long>(s.size())); }

// ------------------------------------------------------------------ a scratch folder

int RemoveOne(const char* path, const struct stat* st, int type, struct FTW*) {
  if (type == FTW_DP || type == FTW_D || type == FTW_DNR) {
    rmdir(path);
  } else {
    (void)st;
    unlink(path);
  }
  return 0;
}

int OpenUp(const char* path, const struct stat*, int type, struct FTW*) {
  if (type == FTW_D || type == FTW_DNR) chmod(path, 0755);
  return 0;
}

/// A fresh folder (resolved path, no trailing '/'), removed with everything
/// in it at the end. Under /tmp; trees of thousands of entries go to
/// /dev/shm where there is one (\p bulk), since making files there is quick.
class Scratch {
 public:
  explicit Scratch(bool bulk = false) {
    std::string tmpl = "/tmp/vo-walk-XXXXXX";
    if (bulk && access("/dev/shm", W_OK | X_OK) == 0) tmpl = "/dev/shm/vo-walk-XXXXXX";
    const char* made = mkdtemp(tmpl.data());
    if (made == nullptr) {
      ADD_FAILURE() << "mkdtemp failed";
      return;
    }
    char resolved[PATH_MAX];
    mRoot = realpath(made, resolved) ? resolved : made;
  }
  ~Scratch() {
    if (mRoot.empty()) return;
    nftw(mRoot.c_str(), OpenUp, 16, FTW_PHYS);  // locked folders first
    nftw(mRoot.c_str(), RemoveOne, 16, FTW_DEPTH | FTW_PHYS);
    // nftw stops at paths beyond PATH_MAX; rm walks them relative to open folders.
    if (access(mRoot.c_str(), F_OK) == 0) {
      const int status = std::system(("rm -rf '" + mRoot + "'").c_str());
      EXPECT_EQ(status, 0) << "could not remove " << mRoot;
    }
  }
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;

  const std::string& Root() const { return mRoot; }
  std::string operator/(const std::string& rel) const { return mRoot + "/" + rel; }

  void Dir(const std::string& rel) const { ASSERT_EQ(mkdir((*this / rel).c_str(), 0755), 0) << rel; }
  void File(const std::string& rel, const std::string& content = std::string()) const {
    FILE* f = std::fopen((*this / rel).c_str(), "wb");
    ASSERT_NE(f, nullptr) << rel;
    if (!content.empty()) std::fwrite(content.data(), 1, content.size(), f);
    std::fclose(f);
  }
  void Link(const std::string& target, const std::string& rel) const {
    ASSERT_EQ(symlink(target.c_str(), (*this / rel).c_str()), 0) << rel;
  }

 private:
  std::string mRoot;
};

// ------------------------------------------------------------------ a walker that records

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
  std::vector<std::string> Relative(const std::string& root) const {
    std::vector<std::string> out;
    for (const VoFileInfo& info : seen) {
      std::string full = Str(info.GetFullName());
      if (full.compare(0, root.size() + 1, root + "/") == 0) {
        out.push_back(full.substr(root.size() + 1));
      } else {
        out.push_back("OUTSIDE:" + full);
      }
    }
    return out;
  }
};

/// True when the entries, in the order reported, are a depth-first pre-order
/// walk below \p root: every entry lies directly in \p root or in a folder
/// reported earlier whose contents have not been left yet.
::testing::AssertionResult IsPreOrder(const std::vector<VoFileInfo>& seen, const std::string& root) {
  std::vector<std::string> open{root};
  for (const VoFileInfo& info : seen) {
    const std::string full = Str(info.GetFullName());
    const std::string parent = full.substr(0, full.rfind('/'));
    while (!open.empty() && open.back() != parent) open.pop_back();
    if (open.empty()) return ::testing::AssertionFailure() << full << " is not inside an open folder";
    if (!info.IsFile()) open.push_back(full);
  }
  return ::testing::AssertionSuccess();
}

/// The entries of one folder in the order the file system lists them.
std::vector<std::string> ListingOrder(const std::string& folder) {
  std::vector<std::string> names;
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return names;
  while (struct dirent* e = readdir(dir)) {
    if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) names.push_back(e->d_name);
  }
  closedir(dir);
  return names;
}

/// Entries of \p folder: open descriptors, or with "/proc/self/task" threads
/// (two more each: "." and ".."). -1 when it cannot be read.
int OpenDescriptors(const char* folder = "/proc/self/fd") {
  int n = 0;
  DIR* dir = opendir(folder);
  if (dir == nullptr) return -1;
  while (readdir(dir) != nullptr) ++n;
  closedir(dir);
  return n;
}

VoDate UtcDate(time_t t) {
  struct tm tm;
  gmtime_r(&t, &tm);
  return VoDate(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
}

void ExpectDate(const VoDate& got, const VoDate& want, const std::string& what) {
  EXPECT_EQ(Str(got.GetString()), Str(want.GetString())) << what;
}

// ------------------------------------------------------------------ order and depth

// a, b, s/ { c, t/ { d } }
void MakeSmallTree(const Scratch& t) {
  t.File("a");
  t.File("b");
  t.Dir("s");
  t.File("s/c");
  t.Dir("s/t");
  t.File("s/t/d");
}

struct DepthCase {
  int depth;
  std::set<std::string> expected;
};

TEST(VoIterateDirTest, DepthLimitsTheLevelsReportedAndWalksInPreOrder) {
  Scratch t;
  MakeSmallTree(t);
  const std::set<std::string> all{"a", "b", "s", "s/c", "s/t", "s/t/d"};
  const DepthCase cases[] = {
      {1, {"a", "b", "s"}},
      {2, {"a", "b", "s", "s/c", "s/t"}},
      {3, all},
      {0, all},
      {-1, all},  // negative: no limit
      {100, all},
  };
  for (const DepthCase& c : cases) {
    Recorder r;
    EXPECT_EQ(r.Start(VoFileSpec(Vo(t.Root())), c.depth), 0) << "depth " << c.depth;
    std::vector<std::string> names = r.Relative(t.Root());
    std::set<std::string> got(names.begin(), names.end());
    EXPECT_EQ(got, c.expected) << "depth " << c.depth;
    EXPECT_EQ(names.size(), got.size()) << "an entry came twice at depth " << c.depth;
    EXPECT_TRUE(IsPreOrder(r.seen, t.Root())) << "depth " << c.depth;
  }
}

TEST(VoIterateDirTest, FolderGivenWithTrailingSlashOrThroughALinkIsResolved) {
  Scratch t;
  MakeSmallTree(t);
  t.Link(t.Root(), "self");  // a link to the tree itself, met inside it too
  const std::string linkToTree = t / "self";
  for (const std::string& start : {t.Root() + "/", linkToTree}) {
    Recorder r;
    ASSERT_EQ(r.Start(VoFileSpec(Vo(start)), 1), 0) << start;
    std::vector<std::string> names = r.Relative(t.Root());
    std::set<std::string> got(names.begin(), names.end());
    EXPECT_EQ(got, (std::set<std::string>{"a", "b", "s", "self"})) << start;
  }
}

// ------------------------------------------------------------------ what an entry carries

TEST(VoIterateDirTest, FileEntriesCarryTrueSizeAndUtcDatesFoldersCarryNone) {
  Scratch t;
  t.File("data.txt", std::string(12345, 'x'));
  t.File("empty");
  t.Dir("sub.jpg");
  // Contents last changed 2001-02-03 04:05:06.9 UTC: the fraction is dropped.
  struct timespec times[2] = {{981173106, 900000000}, {981173106, 900000000}};
  ASSERT_EQ(utimensat(AT_FDCWD, (t / "data.txt").c_str(), times, 0), 0);

  // Dates are UTC whatever the local time zone: walk five hours east of it.
  const char* oldZone = std::getenv("TZ");
  const std::string savedZone = oldZone ? oldZone : "";
  setenv("TZ", "VOT-5", 1);
  tzset();
  Recorder r;
  const int status = r.Start(VoFileSpec(Vo(t.Root())), 0);
  if (oldZone) {
    setenv("TZ", savedZone.c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
  ASSERT_EQ(status, 0);
  ASSERT_EQ(r.seen.size(), 3u);
  std::map<std::string, VoFileInfo> by;
  for (const VoFileInfo& info : r.seen) by.emplace(Str(info.GetName()), info);

  const VoFileInfo& data = by.at("data.txt");
  EXPECT_TRUE(data.IsFile());
  EXPECT_EQ(data.GetSize(), 12345ul);
  ExpectDate(data.GetModificationDate(), VoDate(2001, 2, 3, 4, 5, 6), "modification");
  // The creation date is the birth time where the file system keeps one,
  // else the modification time.
  struct statx sx;
  ASSERT_EQ(statx(AT_FDCWD, (t / "data.txt").c_str(), AT_SYMLINK_NOFOLLOW, STATX_BTIME | STATX_MTIME, &sx),
            0);
  const time_t born = (sx.stx_mask & STATX_BTIME) ? sx.stx_btime.tv_sec : sx.stx_mtime.tv_sec;
  ExpectDate(data.GetCreationDate(), UtcDate(born), "creation");

  EXPECT_TRUE(by.at("empty").IsFile());
  EXPECT_EQ(by.at("empty").GetSize(), 0ul);

  const VoFileInfo& sub = by.at("sub.jpg");
  EXPECT_FALSE(sub.IsFile());
  EXPECT_EQ(sub.GetSize(), 0ul);
  ExpectDate(sub.GetCreationDate(), VoDate(), "folder creation");
  ExpectDate(sub.GetModificationDate(), VoDate(), "folder modification");
}

TEST(VoIterateDirTest, SparseFileOfFiveGibibytesReportsItsWholeSize) {
  Scratch t;
  const std::string path = t / "big.bin";
  int fd = open(path.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0);
  const off_t size = off_t{5} << 30;
  const bool made = ftruncate(fd, size) == 0;
  close(fd);
  if (!made) GTEST_SKIP() << "this file system cannot hold a sparse file of 5 GiB";
  Recorder r;
  ASSERT_EQ(r.Start(VoFileSpec(Vo(t.Root())), 0), 0);
  ASSERT_EQ(r.seen.size(), 1u);
  EXPECT_EQ(r.seen[0].GetSize(), 5ul << 30);
}

struct CodeCase {
  const char* name;
  bool folder;
  const char* storedType;     // written to the file system, "" for none
  const char* storedCreator;  // "" for none
  unsigned long typeID;       // reported
  unsigned long creatorID;
};

TEST(VoIterateDirTest, TypeAndCreatorComeFromTheExtensionThenTheStoredCodes) {
  const CodeCase cases[] = {
      {"photo.jpg", false, "", "", Code("JPEG"), Code("8BIM")},
      {"grey.icc", false, "", "", Code("prof"), Code("sync")},
      {"plain", false, "", "", 0, 0},
      {"data.xyz", false, "", "", 0, 0},  // no known type and no stored code
      // Stored codes: a known extension keeps its type, the creator is taken.
      {"shot.jpg", false, "ABCD", "EFGH", Code("JPEG"), Code("EFGH")},
      {"coded", false, "ABCD", "EFGH", Code("ABCD"), Code("EFGH")},
      {"coded.xyz", false, "TEXT", "", Code("TEXT"), Code("ttxt")},
      // Folders have no stored codes; their extension still counts.
      {"pics.jpg", true, "", "", Code("JPEG"), Code("8BIM")},
      {"box.xyz", true, "", "", 0, 0},
  };
  Scratch t;
  for (const CodeCase& c : cases) {
    if (c.folder) {
      t.Dir(c.name);
    } else {
      t.File(c.name);
    }
    if (*c.storedType || *c.storedCreator) {
      FSRef ref;
      ASSERT_EQ(VoFileSpecToFSRef(ref, VoFileSpec(Vo(t / c.name))), 0);
      FSCatalogInfo info;
      info.fileType = *c.storedType ? static_cast<uint32_t>(VoString(c.storedType).ToSig()) : 0;
      info.fileCreator = *c.storedCreator ? static_cast<uint32_t>(VoString(c.storedCreator).ToSig()) : 0;
      ASSERT_EQ(FSSetCatalogInfo(ref, kFSCatInfoFinderInfo, info), 0) << c.name;
    }
  }
  Recorder r;
  ASSERT_EQ(r.Start(VoFileSpec(Vo(t.Root())), 0), 0);
  std::map<std::string, VoFileInfo> by;
  for (const VoFileInfo& info : r.seen) by.emplace(Str(info.GetName()), info);
  ASSERT_EQ(by.size(), std::size(cases));
  for (const CodeCase& c : cases) {
    const VoFileInfo& info = by.at(c.name);
    EXPECT_EQ(info.IsFile(), !c.folder) << c.name;
    EXPECT_EQ(info.GetTypeID(), c.typeID) << c.name;
    EXPECT_EQ(info.GetCreatorID(), c.creatorID) << c.name;
  }
}

/// Stores type and creator codes with the file \p path names.
void StoreCodes(const std::string& path, const char* type, const char* creator) {
  FSRef ref;
  ASSERT_EQ(VoFileSpecToFSRef(ref, VoFileSpec(Vo(path))), 0) << path;
  FSCatalogInfo info;
  info.fileType = *type ? static_cast<uint32_t>(VoString(type).ToSig()) : 0;
  info.fileCreator = *creator ? static_cast<uint32_t>(VoString(creator).ToSig()) : 0;
  ASSERT_EQ(FSSetCatalogInfo(ref, kFSCatInfoFinderInfo, info), 0) << path;
}

/// The spec as the bridge fills one from the file, reading the codes at once.
VoFileSpec ReadAtOnce(const std::string& path) {
  VoFileSpec spec;
  FSRef ref;
  EXPECT_EQ(VoFileSpecToFSRef(ref, VoFileSpec(Vo(path))), 0) << path;
  FSRefToVoFileSpec(spec, ref);
  return spec;
}

struct LaterCase {
  const char* what;
  std::function<void(VoFileSpec&)> change;
};

// A walk leaves the stored codes of files to be read when first needed: a
// spec from a walk must then behave exactly like one filled at once, whatever
// is asked or changed first.
TEST(VoIterateDirTest, StoredCodesReadWhenFirstNeededEqualThoseReadAtOnce) {
  const LaterCase changes[] = {
      {"nothing", [](VoFileSpec&) {}},
      {"SetName", [](VoFileSpec& s) { s.SetName("renamed.xyz"); }},
      {"SetFullName", [](VoFileSpec& s) { s.SetFullName("/elsewhere/other"); }},
      {"SetPath", [](VoFileSpec& s) { s.SetPath(VoString("/elsewhere")); }},
      {"SetTypeID", [](VoFileSpec& s) { s.SetTypeID(0x41424344); }},
      {"SetCreatorID 0", [](VoFileSpec& s) { s.SetCreatorID(0); }},
      {"SetCreatorID", [](VoFileSpec& s) { s.SetCreatorID(0x7A7A7A7A); }},
      {"AdjustCreatorID", [](VoFileSpec& s) { s.AdjustCreatorID(); }},
      {"SetType JPEG", [](VoFileSpec& s) { s.SetType(VoFileTypeJPEG); }},
      {"SetType unknown", [](VoFileSpec& s) { s.SetType(VoFileTypeUnknown); }},
      {"AdjustExtension", [](VoFileSpec& s) { s.AdjustExtension(); }},
      {"CheckExtension", [](VoFileSpec& s) { s.CheckExtension(VoString()); }},
      {"copied", [](VoFileSpec& s) { s = VoFileSpec(s); }},
  };
  Scratch t;
  const char* files[][3] = {{"coded", "ABCD", "EFGH"}, {"shot.jpg", "ABCD", "EFGH"},
                            {"half.xyz", "TEXT", ""},  {"creator.tif", "", "8BIM"},
                            {"plain.txt", "", ""},     {"none", "", ""}};
  for (const auto& f : files) {
    t.File(f[0]);
    if (*f[1] || *f[2]) StoreCodes(t / f[0], f[1], f[2]);
  }
  Recorder r;
  ASSERT_EQ(r.Start(VoFileSpec(Vo(t.Root())), 0), 0);
  ASSERT_EQ(r.seen.size(), std::size(files));
  for (const VoFileInfo& walked : r.seen) {
    const std::string path = Str(walked.GetFullName());
    for (const LaterCase& c : changes) {
      VoFileSpec later = walked;
      VoFileSpec atOnce = ReadAtOnce(path);
      c.change(later);
      c.change(atOnce);
      EXPECT_EQ(Str(later.GetFullName()), Str(atOnce.GetFullName())) << path << ", " << c.what;
      EXPECT_EQ(later.GetCreatorID(), atOnce.GetCreatorID()) << path << ", " << c.what;
      EXPECT_EQ(later.GetTypeID(), atOnce.GetTypeID()) << path << ", " << c.what;
      EXPECT_EQ(later.GetType(), atOnce.GetType()) << path << ", " << c.what;
    }
  }
}

// The codes are those of the file when they are first asked for; a file gone
// by then has none (its extension still gives its type).
TEST(VoIterateDirTest, StoredCodesAreThoseOfTheMomentTheyAreFirstAskedFor) {
  Scratch t;
  t.File("changed.dat");
  t.File("gone.jpg");
  t.File("asked.dat");
  StoreCodes(t / "gone.jpg", "ABCD", "EFGH");
  StoreCodes(t / "asked.dat", "ABCD", "EFGH");
  VoIterateDirGetFiles walk;
  ASSERT_EQ(walk.Start(VoFileSpec(Vo(t.Root())), 0), 0);
  ASSERT_EQ(walk.GetCount(), 3);
  std::map<std::string, VoFileSpec> by;
  for (int i = 0; i < walk.GetCount(); ++i)
    by.emplace(Str(walk.GetFileSpec(i).GetName()), walk.GetFileSpec(i));
  const unsigned long asked = by.at("asked.dat").GetCreatorID();  // asked now: read now
  StoreCodes(t / "changed.dat", "WXYZ", "QRST");
  StoreCodes(t / "asked.dat", "WXYZ", "QRST");
  ASSERT_EQ(unlink((t / "gone.jpg").c_str()), 0);
  EXPECT_EQ(by.at("changed.dat").GetTypeID(), Code("WXYZ"));
  EXPECT_EQ(by.at("changed.dat").GetCreatorID(), Code("QRST"));
  EXPECT_EQ(by.at("gone.jpg").GetTypeID(), Code("JPEG"));
  EXPECT_EQ(by.at("gone.jpg").GetCreatorID(), Code("8BIM"));
  EXPECT_EQ(asked, Code("EFGH"));
  EXPECT_EQ(by.at("asked.dat").GetTypeID(), Code("ABCD")) << "read once, kept";
  EXPECT_EQ(by.at("asked.dat").GetCreatorID(), Code("EFGH"));
}

// Paths longer than the system's limit are walked; their codes are read too.
TEST(VoIterateDirTest, StoredCodesOfAFileBeyondThePathLimitAreRead) {
  Scratch t;
  const std::string part(200, 'd');
  int fd = open(t.Root().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  size_t length = t.Root().size();
  while (length < PATH_MAX + 300) {
    ASSERT_EQ(mkdirat(fd, part.c_str(), 0755), 0);
    const int next = openat(fd, part.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    close(fd);
    ASSERT_GE(next, 0);
    fd = next;
    length += part.size() + 1;
  }
  const int file = openat(fd, "deep.xyz", O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
  close(fd);
  ASSERT_GE(file, 0);
  const unsigned char codes[10] = {'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 0, 0};
  const bool stored = fsetxattr(file, kVoFinderInfoAttribute, codes, sizeof codes, 0) == 0;
  close(file);
  if (!stored) GTEST_SKIP() << "this file system keeps no user attributes";
  VoIterateDirGetFiles walk;
  ASSERT_EQ(walk.Start(VoFileSpec(Vo(t.Root())), 0), 0);
  ASSERT_EQ(walk.GetCount(), 1);
  const VoFileSpec deep = walk.GetFileSpec(0);
  ASSERT_GT(deep.GetFullName().length(), PATH_MAX);
  EXPECT_EQ(deep.GetTypeID(), Code("ABCD"));
  EXPECT_EQ(deep.GetCreatorID(), Code("EFGH"));
}

TEST(VoIterateDirTest, NamesWithEveryByteButSlashAndZeroComeBackExactly) {
  Scratch t;
  std::set<std::string> made;
  std::string all;
  for (int b = 1; b < 256; ++b) {
    if (b == '/') continue;
    all += static_cast<char>(b);
    const std::string name = std::string("n") + static_cast<char>(b) + "x";
    made.insert(name);
  }
  made.insert(all);  // 254 bytes: every value in one name
  made.insert(std::string("\xff\xfe.\x01"));
  for (const std::string& name : made) t.File(name);
  Recorder r;
  ASSERT_EQ(r.Start(VoFileSpec(Vo(t.Root())), 0), 0);
  std::vector<std::string> names = r.Relative(t.Root());
  std::set<std::string> got(names.begin(), names.end());
  EXPECT_EQ(names.size(), made.size());
  EXPECT_TRUE(got == made) << "the names reported differ from the names made";
  for (const VoFileInfo& info : r.seen)
    EXPECT_EQ(Str(info.GetName()).size() + t.Root().size() + 1,
              static_cast<size_t>(info.GetFullName().length()));
}

TEST(VoIterateDirTest, OnlyTheExactNameDotDSStoreIsWithheld) {
  Scratch t;
  t.Dir("only");
  t.File("only/.DS_Store");
  {
    Recorder r;
    EXPECT_EQ(r.Start(VoFileSpec(Vo(t / "only")), 0), 0);
    EXPECT_TRUE(r.seen.empty());
  }
  t.Dir("mixed");
  for (const char* name : {".DS_Store", ".ds_store", ".DS_STORE", "x.DS_Store", ".DS_Store.bak", ".hidden"})
    t.File(std::string("mixed/") + name);
  Recorder r;
  EXPECT_EQ(r.Start(VoFileSpec(Vo(t / "mixed")), 0), 0);
  std::vector<std::string> names = r.Relative(t / "mixed");
  EXPECT_EQ(std::set<std::string>(names.begin(), names.end()),
            (std::set<std::string>{".ds_store", ".DS_STORE", "x.DS_Store", ".DS_Store.bak", ".hidden"}));
}

// ------------------------------------------------------------------ links

TEST(VoIterateDirTest, LinksAreReportedAsTheLinkAndNeverEntered) {
  Scratch outside;
  outside.File("secret1");
  outside.Dir("deep");
  outside.File("deep/secret2");
  Scratch t;
  t.Dir("real");
  t.File("real/f");
  t.Link(outside.Root(), "toOutside");
  t.Link(t.Root(), "loop");  // would never end if followed
  t.Link("real", "toReal");  // relative, inside the tree
  t.Link("real/f", "toFile");
  t.Link("/nonexistent/x", "dangling");
  Recorder r;
  ASSERT_EQ(r.Start(VoFileSpec(Vo(t.Root())), 0), 0);
  std::vector<std::string> names = r.Relative(t.Root());
  EXPECT_EQ(std::set<std::string>(names.begin(), names.end()),
            (std::set<std::string>{"real", "real/f", "toOutside", "loop", "toReal", "toFile", "dangling"}));
  EXPECT_EQ(names.size(), 7u);
  for (const VoFileInfo& info : r.seen) {
    const std::string name = Str(info.GetName());
    if (name == "real") continue;
    EXPECT_TRUE(info.IsFile()) << name;
    if (name == "f") continue;
    struct stat st;
    ASSERT_EQ(lstat(Str(info.GetFullName()).c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode)) << name;
    EXPECT_EQ(info.GetSize(), static_cast<unsigned long>(st.st_size)) << "the link's own size: " << name;
  }
}

// ------------------------------------------------------------------ stopping, statuses, errors

TEST(VoIterateDirTest, StopEndsTheWalkAfterTheEntryThatCalledIt) {
  Scratch t;
  MakeSmallTree(t);
  for (int stopAt : {1, 3, 6}) {
    Recorder r;
    r.hook = [stopAt](const VoFileInfo&, Recorder& self) {
      if (static_cast<int>(self.seen.size()) == stopAt) self.Stop();
    };
    EXPECT_EQ(r.Start(VoFileSpec(Vo(t.Root())), 0), 0);
    EXPECT_EQ(r.seen.size(), static_cast<size_t>(stopAt));
    EXPECT_TRUE(r.GetStop()) << "the flag stays set after a stopped walk";
    // The next Start clears it.
    r.hook = nullptr;
    r.seen.clear();
    EXPECT_EQ(r.Start(VoFileSpec(Vo(t.Root())), 0), 0);
    EXPECT_EQ(r.seen.size(), 6u);
    EXPECT_FALSE(r.GetStop());
  }
}

TEST(VoIterateDirTest, StopOnAFolderDoesNotEnterIt) {
  Scratch t;
  t.Dir("only");
  t.File("only/inside");
  Recorder r;
  r.hook = [](const VoFileInfo& info, Recorder& self) {
    if (!info.IsFile()) self.Stop();
  };
  EXPECT_EQ(r.Start(VoFileSpec(Vo(t.Root())), 0), 0);
  ASSERT_EQ(r.seen.size(), 1u);
  EXPECT_EQ(Str(r.seen[0].GetName()), "only");
}

TEST(VoIterateDirTest, WhatCannotBeWalkedGivesANonZeroStatusAndNoEntry) {
  Scratch t;
  t.File("plain.txt");
  t.Dir("empty");
  const std::string cases[] = {t / "missing", t / "missing/deeper", t / "plain.txt", std::string()};
  for (const std::string& path : cases) {
    Recorder r;
    EXPECT_NE(r.Start(VoFileSpec(Vo(path)), 0), 0) << "'" << path << "'";
    EXPECT_TRUE(r.seen.empty()) << path;
  }
  Recorder r;
  EXPECT_EQ(r.Start(VoFileSpec(Vo(t / "empty")), 0), 0);
  EXPECT_TRUE(r.seen.empty());
}

TEST(VoIterateDirTest, AnExceptionFromProcessFileLeavesStartAndClosesEveryFolder) {
  Scratch t;
  t.Dir("a");
  t.Dir("a/b");
  t.Dir("a/b/c");
  t.File("a/b/c/deep");
  const int before = OpenDescriptors();
  ASSERT_GT(before, 0);
  for (int round = 0; round < 3; ++round) {
    Recorder r;
    r.hook = [](const VoFileInfo& info, Recorder&) {
      if (Str(info.GetName()) == "deep") VO_THROW(eVoFormatErr);
    };
    try {
      r.Start(VoFileSpec(Vo(t.Root())), 0);
      ADD_FAILURE() << "no exception";
    } catch (const VoError& e) {
      EXPECT_EQ(e.GetErr(), static_cast<unsigned long>(eVoFormatErr));
      EXPECT_STREQ(e.GetErrName(), "VoFormatErr");
    }
    EXPECT_EQ(r.seen.size(), 4u);
    EXPECT_EQ(OpenDescriptors(), before) << "folders left open by the walk";
  }
}

// ------------------------------------------------------------------ access denied

/// Runs \p body in a child process that has dropped root to "nobody" (when
/// run as root). The child writes lines to the pipe; returns them, or sets
/// \p skip with a reason.
std::vector<std::string> RunAsNobody(const std::function<std::vector<std::string>()>& body,
                                     std::string& skip) {
  int fds[2];
  if (pipe(fds) != 0) {
    skip = "no pipe";
    return {};
  }
  fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    if (geteuid() == 0) {
      struct passwd* pw = getpwnam("nobody");
      if (pw == nullptr || setgroups(0, nullptr) != 0 || setresgid(pw->pw_gid, pw->pw_gid, pw->pw_gid) != 0 ||
          setresuid(pw->pw_uid, pw->pw_uid, pw->pw_uid) != 0)
        _exit(77);
    }
    std::string out;
    for (const std::string& line : body()) out += line + '\n';
    size_t done = 0;
    while (done < out.size()) {
      ssize_t n = write(fds[1], out.data() + done, out.size() - done);
      if (n <= 0) _exit(1);
      done += static_cast<size_t>(n);
    }
    _exit(0);
  }
  close(fds[1]);
  std::string text;
  char buf[4096];
  for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;) text.append(buf, static_cast<size_t>(n));
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFEXITED(status) && WEXITSTATUS(status) == 77) {
    skip = "cannot drop root privileges to the user nobody";
    return {};
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    ADD_FAILURE() << "the unprivileged child failed";
    return {};
  }
  std::vector<std::string> lines;
  for (size_t pos = 0, end; (end = text.find('\n', pos)) != std::string::npos; pos = end + 1)
    lines.push_back(text.substr(pos, end - pos));
  return lines;
}

TEST(VoIterateDirTest, AFolderThatCannotBeListedEndsItsFolderButNotTheWalk) {
  Scratch t;
  ASSERT_EQ(chmod(t.Root().c_str(), 0755), 0);
  t.Dir("p");
  t.Dir("p/locked");
  t.File("p/locked/secret");
  for (int i = 0; i < 8; ++i) t.File("p/f" + std::to_string(i));
  t.Dir("q");
  t.File("q/g");
  ASSERT_EQ(chmod((t / "p/locked").c_str(), 0), 0);

  const std::string root = t.Root();
  std::string skip;
  std::vector<std::string> lines = RunAsNobody(
      [&root]() {
        std::vector<std::string> out;
        Recorder whole;
        out.push_back(std::to_string(whole.Start(VoFileSpec(Vo(root)), 0)));
        Recorder locked;
        out.push_back(std::to_string(locked.Start(VoFileSpec(Vo(root + "/p/locked")), 0)));
        out.push_back(std::to_string(locked.seen.size()));
        for (const std::string& name : whole.Relative(root)) out.push_back(name);
        return out;
      },
      skip);
  if (!skip.empty()) GTEST_SKIP() << skip;
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[0], "0") << "denied access below the folder given is no failure";
  EXPECT_NE(lines[1], "0") << "the folder given cannot be listed";
  EXPECT_EQ(lines[2], "0");
  std::vector<std::string> names(lines.begin() + 3, lines.end());

  // Expected: q and q/g; in p, the entries listed before "locked", then
  // "locked" itself; nothing after it in p, nothing inside it.
  std::set<std::string> expected{"p", "q", "q/g"};
  for (const std::string& name : ListingOrder(t / "p")) {
    expected.insert("p/" + name);
    if (name == "locked") break;
  }
  EXPECT_EQ(std::set<std::string>(names.begin(), names.end()), expected);
  EXPECT_EQ(names.size(), expected.size());
}

// ------------------------------------------------------------------ large trees and changes

TEST(VoIterateDirTest, ThousandsOfEntriesComeEachExactlyOnceInPreOrder) {
  Scratch t(true);
  std::set<std::string> made;
  for (int d = 0; d < 30; ++d) {
    const std::string dir = "d" + std::to_string(d);
    t.Dir(dir);
    made.insert(dir);
    for (int s = 0; s < 3; ++s) {
      const std::string sub = dir + "/s" + std::to_string(s);
      t.Dir(sub);
      made.insert(sub);
      for (int f = 0; f < 40; ++f) {
        const std::string file = sub + "/f" + std::to_string(f) + ".txt";
        t.File(file);
        made.insert(file);
      }
    }
  }
  ASSERT_GT(made.size(), 3000u);
  VoIterateDirGetFiles all;
  Recorder r;
  const int threads = OpenDescriptors("/proc/self/task");
  int moreThreads = 0;  // the walk starts none, however long the folders
  r.hook = [&](const VoFileInfo&, Recorder&) {
    moreThreads += OpenDescriptors("/proc/self/task") != threads;
  };
  ASSERT_EQ(r.Start(VoFileSpec(Vo(t.Root())), 0), 0);
  EXPECT_EQ(moreThreads, 0);
  ASSERT_EQ(all.Start(VoFileSpec(Vo(t.Root())), 0), 0);
  std::vector<std::string> names = r.Relative(t.Root());
  EXPECT_EQ(names.size(), made.size());
  EXPECT_TRUE(std::set<std::string>(names.begin(), names.end()) == made);
  EXPECT_TRUE(IsPreOrder(r.seen, t.Root()));
  EXPECT_EQ(all.GetCount(), 30 * 3 * 40);
  EXPECT_EQ(all.GetFolderCount(), 30 + 30 * 3);
  EXPECT_EQ(all.GetFileSpec(0).GetTypeID(), Code("TEXT"));
}

TEST(VoIterateDirTest, EntriesRemovedDuringTheWalkAreNotReportedTheRestOnce) {
  Scratch t(true);
  const int kFiles = 400;
  for (int i = 0; i < kFiles; ++i) t.File("f" + std::to_string(i));
  t.Dir("gone");
  t.File("gone/x");
  std::set<std::string> removed;
  Recorder r;
  r.hook = [&](const VoFileInfo&, Recorder& self) {
    if (self.seen.size() != 1) return;
    // From the first entry: remove every other file and the folder "gone"
    // (unless they were already reported).
    std::set<std::string> reported;
    for (const std::string& n : self.Relative(t.Root())) reported.insert(n);
    for (int i = 0; i < kFiles; i += 2) {
      const std::string name = "f" + std::to_string(i);
      if (reported.count(name) == 0 && unlink((t / name).c_str()) == 0) removed.insert(name);
    }
    if (reported.count("gone") == 0) {
      unlink((t / "gone/x").c_str());
      if (rmdir((t / "gone").c_str()) == 0) removed.insert("gone");
    }
  };
  ASSERT_EQ(r.Start(VoFileSpec(Vo(t.Root())), 0), 0);
  std::vector<std::string> names = r.Relative(t.Root());
  std::set<std::string> got(names.begin(), names.end());
  EXPECT_EQ(got.size(), names.size()) << "an entry came twice";
  EXPECT_FALSE(removed.empty());
  // The entries of a folder are listed and examined when the walk enters it:
  // an entry of the folder being walked that goes after that may still be
  // reported (once); what was inside a folder not yet entered never is.
  if (removed.count("gone")) {
    EXPECT_EQ(got.count("gone/x"), 0u);
  }
  for (const std::string& name : removed) EXPECT_LE(got.count(name), 1u) << name;
  for (int i = 0; i < kFiles; ++i) {
    const std::string name = "f" + std::to_string(i);
    if (removed.count(name) == 0) {
      EXPECT_EQ(got.count(name), 1u) << name;
    }
  }
}

// A folder removed right after it was reported (before the walk enters it)
// has vanished: the walk goes on with the rest instead of ending with a status.
TEST(VoIterateDirTest, AFolderRemovedAfterItWasReportedIsSkipped) {
  Scratch t(true);
  t.Dir("doomed");
  t.File("doomed/inside");
  for (int i = 0; i < 50; ++i) t.File("f" + std::to_string(i));
  Recorder r;
  bool removed = false;
  r.hook = [&](const VoFileInfo& info, Recorder&) {
    if (!info.IsFile() && !removed) {
      unlink((t / "doomed/inside").c_str());
      removed = rmdir((t / "doomed").c_str()) == 0;
    }
  };
  ASSERT_EQ(r.Start(VoFileSpec(Vo(t.Root())), 0), 0);
  ASSERT_TRUE(removed);
  std::vector<std::string> names = r.Relative(t.Root());
  std::set<std::string> got(names.begin(), names.end());
  EXPECT_EQ(got.count("doomed/inside"), 0u);
  for (int i = 0; i < 50; ++i) EXPECT_EQ(got.count("f" + std::to_string(i)), 1u) << i;
}

TEST(VoIterateDirTest, EntriesAddedDuringTheWalkNeitherHangNorRepeat) {
  Scratch t(true);
  const int kFiles = 300;
  for (int i = 0; i < kFiles; ++i) t.File("f" + std::to_string(i));
  int added = 0;
  Recorder r;
  // Every entry reported adds a file and, now and then, a folder with a
  // file, up to a bound, in the folder being walked and in the root.
  r.hook = [&](const VoFileInfo& info, Recorder&) {
    if (added >= 2000) return;
    const std::string full = Str(info.GetFullName());
    const std::string folder = full.substr(0, full.rfind('/'));
    const std::string name = folder + "/new" + std::to_string(added++);
    FILE* f = std::fopen(name.c_str(), "wb");
    if (f) std::fclose(f);
    if (added % 50 == 0 && mkdir((name + "d").c_str(), 0755) == 0) {
      f = std::fopen((name + "d/inner").c_str(), "wb");
      if (f) std::fclose(f);
    }
  };
  ASSERT_EQ(r.Start(VoFileSpec(Vo(t.Root())), 0), 0);
  std::vector<std::string> names = r.Relative(t.Root());
  std::set<std::string> got(names.begin(), names.end());
  EXPECT_EQ(got.size(), names.size()) << "an entry came twice";
  EXPECT_LE(names.size(), static_cast<size_t>(kFiles + 2 * 2000 + 100));
  for (int i = 0; i < kFiles; ++i) EXPECT_EQ(got.count("f" + std::to_string(i)), 1u) << i;
  EXPECT_TRUE(IsPreOrder(r.seen, t.Root()));
}

// ------------------------------------------------------------------ deep trees

/// Below \p root, \p levels folders "d", each in the one before; \p root and
/// every one but the last down to level \p filesTo hold the files "a" and "z" besides (made before and
/// after "d", so one of them is listed after it whatever the file system's order).
void MakeChain(const std::string& root, int levels, int filesTo) {
  int fd = open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  for (int i = 0; i < levels && fd >= 0; ++i) {
    if (i <= filesTo) close(openat(fd, "a", O_CREAT | O_WRONLY | O_CLOEXEC, 0644));
    const bool made = mkdirat(fd, "d", 0755) == 0;
    if (i <= filesTo) close(openat(fd, "z", O_CREAT | O_WRONLY | O_CLOEXEC, 0644));
    const int next = made ? openat(fd, "d", O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1;
    close(fd);
    fd = next;
  }
  ASSERT_GE(fd, 0) << "cannot make the chain";
  close(fd);
}

/// Removes what MakeChain made bottom up, without recursing as nftw would.
void RemoveChain(const std::string& root) {
  int fd = open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  int depth = 0;
  for (int next; fd >= 0 && (next = openat(fd, "d", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)) >= 0;) {
    close(fd);
    fd = next;
    ++depth;
  }
  for (; fd >= 0; --depth) {
    unlinkat(fd, "a", 0);
    unlinkat(fd, "z", 0);
    unlinkat(fd, "d", AT_REMOVEDIR);
    const int up = depth > 0 ? openat(fd, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1;
    close(fd);
    fd = up;
  }
}

/// Checks a walk of a chain made by MakeChain entry by entry (a Recorder
/// would keep some 300 MB of names): every entry comes once, at most one
/// level below the last folder reported (pre-order), and the walk holds few
/// descriptors and no other thread.
class ChainWalker : public VoIterateDir {
 public:
  ChainWalker(const std::string& root, int levels) : mRoot(root), mLevels(levels), mSeen(3 * levels + 3) {
    for (int i = 0; i < levels; ++i) mChain += "/d";
  }
  int ProcessFile(const VoFileInfo& info) override {
    const VoString fullName = info.GetFullName();  // not copied: the deepest are 20,000 bytes long
    const std::string_view full(fullName.c_str(), static_cast<size_t>(fullName.length()));
    const size_t rel = full.size() - mRoot.size();  // "/d" per folder above the entry, "/" and its name
    const int level = static_cast<int>(rel / 2);
    const char* names = "adz";
    const char* which = full.empty() || full.back() == 0 ? nullptr : std::strchr(names, full.back());
    if (full.size() <= mRoot.size() || rel % 2 != 0 || level > mLevels || level > mOpen + 1 || !which ||
        full.compare(0, mRoot.size(), mRoot) != 0 ||
        full.compare(mRoot.size(), rel - 1, mChain, 0, rel - 1) != 0 || info.IsFile() != (*which != 'd')) {
      if (++misplaced < 5)
        ADD_FAILURE() << "misplaced entry at level " << level << ": ..." << full.substr(full.size() - 9);
      return 0;
    }
    ++mSeen[static_cast<size_t>(3 * level + (which - names))];
    mOpen = *which == 'd' ? level : level - 1;
    if (level == mLevels && moveLevel > 0) {
      // Deepest now: a level far above, whose descriptor the walk has given up, moves away.
      moved = rename((mRoot + mChain.substr(0, 2 * moveLevel)).c_str(), (mRoot + "/moved").c_str()) == 0;
      moveLevel = 0;
    }
    if (++mCount % 64 == 0 || level == mLevels) {  // counting them all would take longer than the walk
      mostDescriptors = std::max(mostDescriptors, OpenDescriptors());
      mostThreads = std::max(mostThreads, OpenDescriptors("/proc/self/task"));
    }
    return 0;
  }
  /// Every entry of the chain reported exactly once.
  bool Whole(int entries) const {
    return misplaced == 0 && std::count(mSeen.begin() + 3, mSeen.end(), 1) == entries;
  }
  int misplaced = 0;
  int moveLevel = 0;
  bool moved = false;
  int mostDescriptors = -1;
  int mostThreads = -1;

 private:
  std::string mRoot;
  int mLevels;
  std::string mChain;
  std::vector<int> mSeen;  // [3 * level + (a, d, z)]
  int mOpen = 0;           // level of the last folder reported
  long mCount = 0;
};

struct DeepCase {
  const char* what;
  int levels;
  int freeDescriptors;  // 0: the limit as it is
  int moveLevel;        // 0: nothing moves
  int filesTo = 0;      // folders below this level hold "d" alone; 0: none
};

// The depth of a walk is limited by memory alone: its levels are not on the
// stack (10,000 overflowed it under AddressSanitizer) and it holds at most 16
// folders open (the limit of 1,024 descriptors ended walks at 1,000 levels).
TEST(VoIterateDirTest, DeepChainsAreWalkedWholeWithFewDescriptorsAndNoThread) {
  const DeepCase cases[] = {
      {"10,000 levels", 10000, 0, 0},
      {"3,000 levels, 64 descriptors free", 3000, 64, 0},
      {"3,000 levels, 8 descriptors free", 3000, 8, 0},
      {"a level moved away while the walk is below it", 100, 0, 20},
      {"a level moved away, with entries left and none below it", 100, 0, 20, 20},
  };
  for (const DeepCase& c : cases) {
    SCOPED_TRACE(c.what);
    Scratch t(true);
    const int full = c.filesTo > 0 ? c.filesTo + 1 : c.levels;  // levels with "a" and "z"
    MakeChain(t.Root(), c.levels, full - 1);
    ChainWalker walk(t.Root(), c.levels);
    walk.moveLevel = c.moveLevel;
    const int descriptors = OpenDescriptors();
    const int threads = OpenDescriptors("/proc/self/task");
    struct rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    struct rlimit low = saved;  // about that many free: numbers in use are about as many as those open
    low.rlim_cur = static_cast<rlim_t>(descriptors + c.freeDescriptors);
    if (c.freeDescriptors > 0) {
      ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
    }
    const int status = walk.Start(VoFileSpec(Vo(t.Root())), 0);
    setrlimit(RLIMIT_NOFILE, &saved);
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(walk.Whole(3 * full + c.levels - full));
    EXPECT_EQ(walk.moved, c.moveLevel > 0);
    if (c.freeDescriptors == 0) {  // else the counting itself may find no descriptor left
      EXPECT_LE(walk.mostDescriptors - descriptors, 16);
      EXPECT_EQ(walk.mostThreads, threads);
    }
    RemoveChain(t.Root());
  }
}

// ------------------------------------------------------------------ VoIterateDirGetFiles

TEST(VoIterateDirGetFilesTest, SortsEntriesIntoFilesAndFoldersAndKeepsThemAcrossWalks) {
  Scratch t;
  MakeSmallTree(t);
  VoIterateDirGetFiles g;
  EXPECT_EQ(g.GetCount(), 0);
  EXPECT_EQ(g.GetFolderCount(), 0);
  ASSERT_EQ(g.Start(VoFileSpec(Vo(t.Root())), 0), 0);
  ASSERT_EQ(g.GetCount(), 4);
  ASSERT_EQ(g.GetFolderCount(), 2);
  std::set<std::string> files, folders;
  for (int i = 0; i < g.GetCount(); ++i) files.insert(Str(g.GetFileSpec(i).GetFullName()));
  for (int i = 0; i < g.GetFolderCount(); ++i) folders.insert(Str(g.GetFolder(i).GetFullName()));
  EXPECT_EQ(files, (std::set<std::string>{t / "a", t / "b", t / "s/c", t / "s/t/d"}));
  EXPECT_EQ(folders, (std::set<std::string>{t / "s", t / "s/t"}));

  // A failing walk adds nothing; a second walk appends everything again, in
  // the same order.
  EXPECT_NE(g.Start(VoFileSpec(Vo(t / "missing")), 0), 0);
  EXPECT_EQ(g.GetCount(), 4);
  ASSERT_EQ(g.Start(VoFileSpec(Vo(t.Root())), 0), 0);
  ASSERT_EQ(g.GetCount(), 8);
  ASSERT_EQ(g.GetFolderCount(), 4);
  for (int i = 0; i < 4; ++i) EXPECT_TRUE(g.GetFileSpec(i) == g.GetFileSpec(i + 4)) << i;
  for (int i = 0; i < 2; ++i) EXPECT_TRUE(g.GetFolder(i) == g.GetFolder(i + 2)) << i;

  VoList<VoFileSpec> list = g.GetFileList();
  VoList<VoFileSpec> folderList = g.GetFolderList();
  ASSERT_EQ(list.count, 8);
  ASSERT_EQ(folderList.count, 4);
  for (int i = 0; i < 8; ++i) EXPECT_TRUE(list[i] == g.GetFileSpec(i));
  EXPECT_TRUE(folderList[3] == g.GetFolder(3));
}

TEST(VoIterateDirGetFilesTest, IndexOutsideTheListsRaisesIndexError) {
  Scratch t;
  MakeSmallTree(t);
  VoIterateDirGetFiles g;
  ASSERT_EQ(g.Start(VoFileSpec(Vo(t.Root())), 1), 0);
  ASSERT_EQ(g.GetCount(), 2);
  ASSERT_EQ(g.GetFolderCount(), 1);
  const std::function<void()> calls[] = {
      [&] { g.GetFileSpec(g.GetCount()); },
      [&] { g.GetFileSpec(-1); },
      [&] { g.GetFolder(1); },
      [&] { g.GetFolder(-1); },
  };
  for (const auto& call : calls) {
    try {
      call();
      ADD_FAILURE() << "no VoIndexError";
    } catch (const VoError& e) {
      EXPECT_EQ(e.GetErr(), static_cast<unsigned long>(eVoIndexError));
      EXPECT_STREQ(e.GetErrName(), "VoIndexError");
    }
  }
}

}  // namespace
