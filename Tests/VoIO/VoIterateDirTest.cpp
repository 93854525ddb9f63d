// VoIterateDirTest.cpp - Tests of VoIterateDir on real folder trees: order and depth, what an entry carries,
// links.
#include "VoIO/VoIterateDir.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <climits>
#include <ctime>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "Mac/VoMacToolsOSX.h"
#include "VoIO/VoIterateDirTestSupport.h"

namespace {

using namespace vo_walk_test;

VoDate UtcDate(time_t t) {
  struct tm tm;
  gmtime_r(&t, &tm);
  return VoDate(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
}

void ExpectDate(const VoDate& got, const VoDate& want, const std::string& what) {
  EXPECT_EQ(Str(got.GetString()), Str(want.GetString())) << what;
}

// ------------------------------------------------------------------ order and depth

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

}  // namespace
