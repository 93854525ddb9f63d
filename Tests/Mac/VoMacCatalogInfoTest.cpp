// Tests of the bridge's codes, flags and dates of one object, with and without extended attributes.
#include <sched.h>
#include <sys/mount.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <string>

#include "VoMacToolsFixture.h"

namespace vo_mac_test {
namespace {

TEST_F(MacToolsXattrTest, AttributeLayout) {
  WriteFile(P("f"), "");
  StoreFinderInfo(P("f"), Code("ABCD"), Code("wxyz"), 0x4001);
  EXPECT_EQ(RawAttribute(P("f")), std::string("ABCDwxyz\x40\x01", 10));
  StoreFinderInfo(P("f"), 0, 0, 0);
  EXPECT_EQ(RawAttribute(P("f")), "<none>");

  // Short or long attributes: short ones read as zero, extra bytes are ignored.
  ASSERT_EQ(lsetxattr(P("f").c_str(), kVoFinderInfoAttribute, "ABCD", 4, 0), 0);
  FSCatalogInfo info;
  ASSERT_EQ(FSGetCatalogInfo(Ref(P("f")), kFSCatInfoFinderInfo, &info), 0);
  EXPECT_EQ(info.fileType, 0u);
  ASSERT_EQ(lsetxattr(P("f").c_str(), kVoFinderInfoAttribute, "TEXTttxt\x40\x00xyz", 13, 0), 0);
  ASSERT_EQ(FSGetCatalogInfo(Ref(P("f")), kFSCatInfoFinderInfo, &info), 0);
  EXPECT_EQ(info.fileType, Code("TEXT"));
  EXPECT_EQ(info.fileCreator, Code("ttxt"));
  EXPECT_EQ(info.finderFlags, kIsInvisible);
}

TEST_F(MacToolsXattrTest, RefToSpecReadsTheCodes) {
  const struct {
    const char* name;
    bool folder;
    const char* storedType;  // null: nothing stored
    const char* storedCreator;
    uint32_t type;
    uint32_t creator;
  } cases[] = {
      {"a.icc", false, nullptr, nullptr, Code("prof"), Code("sync")},
      {"data.xyz", false, "ABCD", "WXYZ", Code("ABCD"), Code("WXYZ")},
      {"pic.jpg", false, "GIFf", "ogle", Code("JPEG"), Code("ogle")},  // known type: creator only
      {"list.ref", false, "TEXT", "VoTl", Code("TEXT"), Code("VoTl")},
      {"README", false, nullptr, nullptr, 0, 0},
      {"README2", false, "BINA", "****", Code("BINA"), Code("****")},
      {"data.xyz2", false, nullptr, nullptr, 0, 0},
      {"folder", true, nullptr, nullptr, 0, 0},
      {"folder.txt", true, nullptr, nullptr, Code("TEXT"), Code("ttxt")},  // from the name only
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string path = P(c.name);
    if (c.folder) {
      ASSERT_EQ(mkdir(path.c_str(), 0755), 0);
    } else {
      WriteFile(path, "");
    }
    if (c.storedType) StoreFinderInfo(path, Code(c.storedType), Code(c.storedCreator), 0);
    VoFileSpec spec(VoString("/old/thing.pdf"));
    FSRefToVoFileSpec(spec, Ref(path));
    EXPECT_EQ(Str(spec.GetFullName()), path);
    EXPECT_EQ(spec.GetTypeID(), c.type);
    EXPECT_EQ(spec.GetCreatorID(), c.creator);
    VoFileSpec again(Vo(path));
    EXPECT_EQ(VoMacReadCreatorType(again), 0);
    EXPECT_EQ(again.GetCreatorID(), c.creator);
  }
}

TEST_F(MacToolsXattrTest, ReadCreatorTypeOfAMissingFileLeavesTheSpec) {
  VoFileSpec spec(Vo(P("missing.icc")));
  EXPECT_EQ(VoMacReadCreatorType(spec), -43);
  EXPECT_EQ(spec.GetTypeID(), Code("prof"));
  EXPECT_EQ(spec.GetCreatorID(), Code("sync"));
}

TEST_F(MacToolsXattrTest, FolderCodesReadAsZeroButFlagsStay) {
  Dir("d");
  StoreFinderInfo(P("d"), Code("ABCD"), Code("WXYZ"), kIsInvisible);
  FSCatalogInfo info;
  ASSERT_EQ(FSGetCatalogInfo(Ref(P("d")), kFSCatInfoFinderInfo, &info), 0);
  EXPECT_EQ(info.fileType, 0u);
  EXPECT_EQ(info.fileCreator, 0u);
  EXPECT_EQ(info.finderFlags, kIsInvisible);
  EXPECT_EQ(info.nodeFlags & kFSNodeIsDirectoryMask, kFSNodeIsDirectoryMask);
}

TEST_F(MacToolsXattrTest, InvisibleFlag) {
  Dir("p");
  WriteFile(P("p/f.txt"), "abc");
  StoreFinderInfo(P("p/f.txt"), Code("TEXT"), Code("VoTl"), 0x0100);
  struct timespec old[2] = {{946684800, 0}, {946684800, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, P("p").c_str(), old, 0), 0);

  VoFileSpec spec(Vo(P("p/f.txt")));
  ASSERT_EQ(VoMacSetVisible(spec, false), 0);
  FSCatalogInfo info;
  ASSERT_EQ(FSGetCatalogInfo(Ref(P("p/f.txt")), kFSCatInfoFinderInfo | kFSCatInfoContentMod, &info), 0);
  EXPECT_EQ(info.finderFlags, 0x4100) << "the other flags stay";
  EXPECT_EQ(info.fileType, Code("TEXT"));
  EXPECT_EQ(info.fileCreator, Code("VoTl"));
  struct stat st;
  ASSERT_EQ(stat(P("p").c_str(), &st), 0);
  EXPECT_GT(st.st_mtime, 946684800) << "the parent folder's date was bumped";

  ASSERT_EQ(VoMacSetVisible(spec, true), 0);
  ASSERT_EQ(FSGetCatalogInfo(Ref(P("p/f.txt")), kFSCatInfoFinderInfo, &info), 0);
  EXPECT_EQ(info.finderFlags, 0x0100);
  EXPECT_EQ(ReadFile(P("p/f.txt")), "abc");

  EXPECT_EQ(FSSetInvisible(Ref(P("p"))), 0);
  ASSERT_EQ(FSGetCatalogInfo(Ref(P("p")), kFSCatInfoFinderInfo, &info), 0);
  EXPECT_EQ(info.finderFlags, kIsInvisible);
  EXPECT_EQ(FSClearInvisible(Ref(P("p"))), 0);
  EXPECT_EQ(RawAttribute(P("p")), "<none>");

  EXPECT_EQ(VoMacSetVisible(VoFileSpec(Vo(P("p/none"))), false), -43);
  EXPECT_EQ(FSSetInvisible(Ref(P("p/none"))), -43);
}

TEST_F(MacToolsTest, LockedFlag) {
  const struct {
    mode_t start;
    bool lock;
    mode_t expected;
  } cases[] = {
      {0666, true, 0444},  {0444, false, 0644}, {0640, true, 0440}, {0600, false, 0600},
      {0400, false, 0600}, {0444, true, 0444},  {0755, true, 0555}, {0000, false, 0200},
  };
  WriteFile(P("f"), "");
  for (const auto& c : cases) {
    ASSERT_EQ(chmod(P("f").c_str(), c.start), 0);
    FSCatalogInfo info;
    ASSERT_EQ(FSGetCatalogInfo(Ref(P("f")), kFSCatInfoNodeFlags, &info), 0);
    EXPECT_EQ((info.nodeFlags & kFSNodeLockedMask) != 0, (c.start & 0222) == 0) << std::oct << c.start;
    info.nodeFlags = c.lock ? kFSNodeLockedMask : 0;
    ASSERT_EQ(FSSetCatalogInfo(Ref(P("f")), kFSCatInfoNodeFlags, info), 0);
    struct stat st;
    ASSERT_EQ(stat(P("f").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, c.expected) << std::oct << c.start << " lock " << c.lock;
  }
  FSCatalogInfo info;
  EXPECT_EQ(FSGetCatalogInfo(Ref(P("f")), kFSCatInfoNodeFlags, nullptr), -50);
  EXPECT_EQ(FSGetCatalogInfo(Ref(P("none")), kFSCatInfoNodeFlags, &info), -43);
  EXPECT_EQ(FSSetCatalogInfo(Ref(P("none")), kFSCatInfoNodeFlags, info), -43);
}

TEST_F(MacToolsTest, CatalogInfoOfFilesFoldersAndLinks) {
  WriteFile(P("f"), std::string(12345, 'x'));
  Dir("d");
  ASSERT_EQ(symlink(P("d").c_str(), P("l").c_str()), 0);
  struct timespec when[2] = {{0, UTIME_OMIT}, {1000000000, 5}};
  ASSERT_EQ(utimensat(AT_FDCWD, P("f").c_str(), when, 0), 0);
  FSCatalogInfo info;
  ASSERT_EQ(FSGetCatalogInfo(Ref(P("f")), kFSCatInfoGettableInfo, &info), 0);
  EXPECT_EQ(info.dataLogicalSize, 12345u);
  EXPECT_EQ(info.nodeFlags & kFSNodeIsDirectoryMask, 0);
  EXPECT_EQ(info.contentModDate.seconds, 1000000000);
  EXPECT_EQ(info.contentModDate.nanoseconds, 5u);
  EXPECT_EQ(Str(info.parentPath), mRoot + "/");
  // Creation: the birth time where the file system keeps one (it is not the
  // modification time set above), else the modification time.
  struct statx sx;
  ASSERT_EQ(statx(AT_FDCWD, P("f").c_str(), 0, STATX_BTIME, &sx), 0);
  if (sx.stx_mask & STATX_BTIME) {
    EXPECT_EQ(info.createDate.seconds, sx.stx_btime.tv_sec);
    EXPECT_NE(info.createDate.seconds, 1000000000);
  } else {
    EXPECT_EQ(info.createDate.seconds, 1000000000);
  }
  // Only the fields asked for are filled.
  ASSERT_EQ(FSGetCatalogInfo(Ref(P("f")), kFSCatInfoNone, &info), 0);
  EXPECT_EQ(info.dataLogicalSize, 0u);
  EXPECT_EQ(info.contentModDate.seconds, 0);

  ASSERT_EQ(FSGetCatalogInfo(Ref(P("d")), kFSCatInfoGettableInfo, &info), 0);
  EXPECT_EQ(info.nodeFlags & kFSNodeIsDirectoryMask, kFSNodeIsDirectoryMask);
  EXPECT_EQ(info.dataLogicalSize, 0u);
  ASSERT_EQ(FSGetCatalogInfo(Ref(P("l")), kFSCatInfoGettableInfo, &info), 0);
  EXPECT_EQ(info.nodeFlags, 0) << "a link reference names the link";
}

TEST_F(MacToolsTest, BumpDate) {
  WriteFile(P("f"), "");
  Dir("d");
  for (const char* name : {"f", "d"}) {
    FSCatalogInfo info;
    info.contentModDate.seconds = 946684800;  // 2000-01-01
    ASSERT_EQ(FSSetCatalogInfo(Ref(P(name)), kFSCatInfoContentMod, info), 0);
    time_t before = time(nullptr);
    ASSERT_EQ(FSBumpDate(Ref(P(name))), 0);
    ASSERT_EQ(FSGetCatalogInfo(Ref(P(name)), kFSCatInfoContentMod, &info), 0);
    EXPECT_GE(info.contentModDate.seconds, before) << name;
    EXPECT_LE(info.contentModDate.seconds, time(nullptr) + 1) << name;
  }
  // A date in the future is still replaced by now.
  FSCatalogInfo future;
  future.contentModDate.seconds = time(nullptr) + 100000;
  ASSERT_EQ(FSSetCatalogInfo(Ref(P("f")), kFSCatInfoContentMod, future), 0);
  ASSERT_EQ(FSBumpDate(Ref(P("f"))), 0);
  FSCatalogInfo info;
  ASSERT_EQ(FSGetCatalogInfo(Ref(P("f")), kFSCatInfoContentMod, &info), 0);
  EXPECT_LT(info.contentModDate.seconds, future.contentModDate.seconds);
  EXPECT_EQ(FSBumpDate(Ref(P("none"))), -43);
}

// ==================================================================== dates

TEST(MacToolsDates, UtcDates) {
  const struct {
    int64_t seconds;
    int y, mo, d, h, mi, s;
  } cases[] = {
      {0, 1970, 1, 1, 0, 0, 0},
      {-1, 1969, 12, 31, 23, 59, 59},
      {951782400, 2000, 2, 29, 0, 0, 0},
      {1700000000, 2023, 11, 14, 22, 13, 20},
      {4102444799, 2099, 12, 31, 23, 59, 59},
      {-2208988800, 1900, 1, 1, 0, 0, 0},
      {253402300799, 3000, 12, 31, 23, 59, 59},    // year 9999 clamped to 3000
      {-62167219200 - 86400, 0, 12, 31, 0, 0, 0},  // year -1 clamped to 0
      {INT64_MAX / 2, 3000, 0, 0, 0, 0, 0},
  };
  for (const auto& c : cases) {
    VoDate d = VoMacTimeToDate(VoMacTime{c.seconds, 999999999});
    EXPECT_EQ(d.Year(), c.y) << c.seconds;
    if (c.mo == 0) continue;  // only the year is fixed
    EXPECT_EQ(d.Month(), c.mo) << c.seconds;
    EXPECT_EQ(d.Day(), c.d) << c.seconds;
    EXPECT_EQ(d.Hour(), c.h) << c.seconds;
    EXPECT_EQ(d.Minute(), c.mi) << c.seconds;
    EXPECT_EQ(d.Second(), c.s) << c.seconds;
  }
}

// ==================================================================== a file system without xattrs

TEST_F(MacToolsTest, FileSystemWithoutExtendedAttributes) {
  if (geteuid() != 0) GTEST_SKIP() << "mounting a ramfs needs root";
  // A private mount namespace keeps the mount away from the rest of the machine.
  if (unshare(CLONE_NEWNS) != 0) GTEST_SKIP() << "no mount namespace: " << strerror(errno);
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
    GTEST_SKIP() << "cannot make mounts private: " << strerror(errno);
  Dir("ram");
  if (mount("none", P("ram").c_str(), "ramfs", 0, nullptr) != 0)
    GTEST_SKIP() << "cannot mount ramfs: " << strerror(errno);
  struct Unmount {
    std::string path;
    ~Unmount() { umount2(path.c_str(), MNT_DETACH); }
  } unmount{P("ram")};
  if (XattrsWork(P("ram"))) GTEST_SKIP() << "ramfs keeps user xattrs here";
  VoFileSpec spec(Vo(P("ram/x.icc")));
  FILE* f = VoMacOpenFile(spec, eVoFileWrite);
  ASSERT_NE(f, nullptr);
  fclose(f);
  EXPECT_EQ(VoMacSetVisible(spec, false), 0) << "storing is skipped without failure";
  FSCatalogInfo info;
  ASSERT_EQ(FSGetCatalogInfo(Ref(P("ram/x.icc")), kFSCatInfoFinderInfo, &info), 0);
  EXPECT_EQ(info.fileType, 0u);
  EXPECT_EQ(info.fileCreator, 0u);
  EXPECT_EQ(info.finderFlags, 0u);
  VoFileSpec back;
  FSRefToVoFileSpec(back, Ref(P("ram/x.icc")));
  EXPECT_EQ(back.GetTypeID(), Code("prof")) << "from the name alone";
  Collector col;
  col.base = P("ram") + "/";
  EXPECT_EQ(FSIterateContainer(Ref(P("ram")), 0, kFSCatInfoFinderInfo, false, false, Collect, &col), 0);
  EXPECT_EQ(col.seen.size(), 1u);
}

// ==================================================================== regressions

// An attribute value longer than the buffer of a first read still gives its
// first ten bytes (written by another program).
TEST_F(MacToolsXattrTest, LongAttributeValuesKeepTheirCodes) {
  WriteFile(P("long"), "");
  for (size_t size : {64u, 65u, 200u}) {
    std::string value("ABCDWXYZ\x40\x00", 10);
    value.resize(size, 'z');
    ASSERT_EQ(lsetxattr(P("long").c_str(), kVoFinderInfoAttribute, value.data(), value.size(), 0), 0);
    FSCatalogInfo info;
    ASSERT_EQ(FSGetCatalogInfo(Ref(P("long")), kFSCatInfoFinderInfo, &info), 0);
    EXPECT_EQ(info.fileType, Code("ABCD")) << size;
    EXPECT_EQ(info.fileCreator, Code("WXYZ")) << size;
    EXPECT_EQ(info.finderFlags, kIsInvisible) << size;
  }
}

}  // namespace
}  // namespace vo_mac_test
