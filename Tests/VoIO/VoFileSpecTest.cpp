// Tests of VoFileSpec, VoFileInfo and the file-type table.
#include "VoIO/VoFileSpec.h"

#include <gtest/gtest.h>

#include <string>

#include "VoCore/VoError.h"

namespace {

/// Four-character code, first character in the most significant byte.
constexpr unsigned long Code(const char (&c)[5]) {
  return (static_cast<unsigned long>(static_cast<unsigned char>(c[0])) << 24) |
         (static_cast<unsigned long>(static_cast<unsigned char>(c[1])) << 16) |
         (static_cast<unsigned long>(static_cast<unsigned char>(c[2])) << 8) |
         static_cast<unsigned long>(static_cast<unsigned char>(c[3]));
}
static_assert(Code("TEXT") == 0x54455854UL, "first character in the most significant byte");

constexpr unsigned long kUnknownID = 0x3F;

std::string Str(const VoString& s) { return std::string(s.c_str()); }

// ------------------------------------------------------------------ the table

struct TableRow {
  VoFileType type;
  const char* typeID;
  const char* creatorID;
  const char* extension;
};

// The file-type table as documented for the library's users: the contract.
const TableRow kTable[34] = {
    {VoFileTypeText, "TEXT", "ttxt", "txt"},        {VoFileTypeText, "TEXT", "ttxt", "text"},
    {VoFileTypeText, "TEXT", "VoTl", "cie"},        {VoFileTypeText, "TEXT", "VoTl", "ref"},
    {VoFileTypeText, "TEXT", "VoTl", "it8"},        {VoFileTypeProfile, "prof", "sync", "icc"},
    {VoFileTypeProfile, "prof", "sync", "icm"},     {VoFileTypeColorSwatches, "8BCO", "8BIM", "aco"},
    {VoFileTypePICT, "PICT", "8BIM", "pct"},        {VoFileTypePICT, "PICT", "8BIM", "pict"},
    {VoFileTypeJPEG, "JPEG", "8BIM", "jpg"},        {VoFileTypeJPEG, "JPEG", "8BIM", "jpeg"},
    {VoFileTypeJPEG, "JFIF", "8BIM", "jpg"},        {VoFileTypeJPEG2000, "jp2 ", "8BIM", "jp2"},
    {VoFileTypeJPEG2000, "jpx ", "8BIM", "jpx"},    {VoFileTypeJPEG2000, "j2k ", "8BIM", "j2k"},
    {VoFileTypeJPEG2000, "j2c ", "8BIM", "j2c"},    {VoFileTypeJPEG2000, "pnm ", "8BIM", "pnm"},
    {VoFileTypeTIFF, "TIFF", "8BIM", "tif"},        {VoFileTypeTIFF, "TIFF", "8BIM", "tiff"},
    {VoFileTypePNG, "PNGf", "8BIM", "png"},         {VoFileTypeTarga, "TPIC", "8BIM", "tga"},
    {VoFileTypeScitexCT, "..CT", "8BIM", "sct"},    {VoFileTypeGIF, "GIFf", "8BIM", "gif"},
    {VoFileTypePDF, "PDF ", "****", "pdf"},         {VoFileTypeBinary, "BINA", "****", ""},
    {VoFileTypeApplication, "APPL", "****", "exe"}, {VoFileTypeHTML, "HTML", "****", "html"},
    {VoFileTypeHTML, "HTML", "****", "htm"},        {VoFileTypeAFM, "AFM ", "****", "afm"},
    {VoFileTypePPM, "PPM ", "****", "ppm"},         {VoFileTypeLink, "LINK", "****", "link"},
    {VoFileTypeLibrary, "DLL ", "****", "dll"},     {VoFileTypeLibrary, "DYLB", "****", "dylib"},
};

unsigned long CodeOf(const char* c) {
  return (static_cast<unsigned long>(static_cast<unsigned char>(c[0])) << 24) |
         (static_cast<unsigned long>(static_cast<unsigned char>(c[1])) << 16) |
         (static_cast<unsigned long>(static_cast<unsigned char>(c[2])) << 8) |
         static_cast<unsigned long>(static_cast<unsigned char>(c[3]));
}

TEST(VoFileSpecTableTest, EveryEntryAsPublished) {
  ASSERT_EQ(VoFileSpec::kFileTypeCount, 35);
  for (int i = 0; i < 34; ++i) {
    const VoFileTypeEntry& e = VoFileSpec::FileTypeEntry(i);
    EXPECT_EQ(e.type, kTable[i].type) << "entry " << i;
    EXPECT_EQ(e.typeID, CodeOf(kTable[i].typeID)) << "entry " << i;
    EXPECT_EQ(e.creatorID, CodeOf(kTable[i].creatorID)) << "entry " << i;
    EXPECT_STREQ(e.extension, kTable[i].extension) << "entry " << i;
  }
  const VoFileTypeEntry& last = VoFileSpec::FileTypeEntry(34);
  EXPECT_EQ(last.type, VoFileTypeUnknown);
  EXPECT_EQ(last.typeID, 0x0000003FUL);  // one '?' in the lowest byte, not "????"
  EXPECT_EQ(last.creatorID, 0x0000003FUL);
  EXPECT_STREQ(last.extension, "");
}

TEST(VoFileSpecTableTest, EntryIndexIsChecked) {
  for (int bad : {-1, 35, 1000}) {
    try {
      VoFileSpec::FileTypeEntry(bad);
      ADD_FAILURE() << "no error for " << bad;
    } catch (const VoError& e) {
      EXPECT_EQ(e.GetErr(), 7u);
      EXPECT_STREQ(e.GetErrName(), "VoIndexError");
    }
  }
}

TEST(VoFileSpecTableTest, TypeLookups) {
  struct Case {
    VoFileType type;
    int index;
    unsigned long typeID;
    const char* extension;
  } cases[] = {
      {VoFileTypeText, 0, Code("TEXT"), "txt"},
      {VoFileTypeProfile, 5, Code("prof"), "icc"},
      {VoFileTypeColorSwatches, 7, Code("8BCO"), "aco"},
      {VoFileTypePICT, 8, Code("PICT"), "pct"},
      {VoFileTypeJPEG, 10, Code("JPEG"), "jpg"},
      {VoFileTypeTIFF, 18, Code("TIFF"), "tif"},
      {VoFileTypePNG, 20, Code("PNGf"), "png"},
      {VoFileTypeTarga, 21, Code("TPIC"), "tga"},
      {VoFileTypeScitexCT, 22, Code("..CT"), "sct"},
      {VoFileTypeGIF, 23, Code("GIFf"), "gif"},
      {VoFileTypePDF, 24, Code("PDF "), "pdf"},
      {VoFileTypeBinary, 25, Code("BINA"), ""},
      {VoFileTypeApplication, 26, Code("APPL"), "exe"},
      {VoFileTypeHTML, 27, Code("HTML"), "html"},
      {VoFileTypeAFM, 29, Code("AFM "), "afm"},
      {VoFileTypePPM, 30, Code("PPM "), "ppm"},
      {VoFileTypeLink, 31, Code("LINK"), "link"},
      {VoFileTypeLibrary, 32, Code("DLL "), "dll"},
      {VoFileTypeJPEG2000, 13, Code("jp2 "), "jp2"},
      {VoFileTypeUnknown, 34, kUnknownID, ""},  // never matched among the searchable entries
      {static_cast<VoFileType>(20), 34, kUnknownID, ""},
      {static_cast<VoFileType>(-1), 34, kUnknownID, ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(VoFileSpec::Type2Index(c.type), c.index) << c.type;
    EXPECT_EQ(VoFileSpec::Type2TypeID(c.type), c.typeID) << c.type;
    EXPECT_EQ(Str(VoFileSpec::Type2Extension(c.type)), c.extension) << c.type;
  }
}

TEST(VoFileSpecTableTest, TypeIDLookups) {
  struct Case {
    unsigned long id;
    int index;
    VoFileType type;
  } cases[] = {
      {Code("TEXT"), 0, VoFileTypeText},      {Code("prof"), 5, VoFileTypeProfile},
      {Code("JPEG"), 10, VoFileTypeJPEG},     {Code("JFIF"), 12, VoFileTypeJPEG},
      {Code("pnm "), 17, VoFileTypeJPEG2000}, {Code("DYLB"), 33, VoFileTypeLibrary},
      {Code("HTML"), 27, VoFileTypeHTML},     {Code("BINA"), 25, VoFileTypeBinary},
      {kUnknownID, 34, VoFileTypeUnknown},    {0, 34, VoFileTypeUnknown},
      {Code("????"), 34, VoFileTypeUnknown},  {Code("text"), 34, VoFileTypeUnknown},
      {Code("jp2\0"), 34, VoFileTypeUnknown},  // the fourth character is a blank
  };
  for (const auto& c : cases) {
    EXPECT_EQ(VoFileSpec::TypeID2Index(c.id), c.index) << std::hex << c.id;
    EXPECT_EQ(VoFileSpec::TypeID2Type(c.id), c.type) << std::hex << c.id;
  }
}

TEST(VoFileSpecTableTest, ExtensionLookupsIgnoreCase) {
  struct Case {
    const char* extension;
    int index;
    VoFileType type;
  } cases[] = {
      {"txt", 0, VoFileTypeText},      {"TXT", 0, VoFileTypeText},        {"TeXt", 1, VoFileTypeText},
      {"it8", 4, VoFileTypeText},      {"IT8", 4, VoFileTypeText},        {"ICM", 6, VoFileTypeProfile},
      {"jpg", 10, VoFileTypeJPEG},     {"JPG", 10, VoFileTypeJPEG},       {"jpeg", 11, VoFileTypeJPEG},
      {"tiff", 19, VoFileTypeTIFF},    {"", 25, VoFileTypeBinary},        {"dylib", 33, VoFileTypeLibrary},
      {"xyz", 34, VoFileTypeUnknown},  {"tx", 34, VoFileTypeUnknown},     {"txtx", 34, VoFileTypeUnknown},
      {".txt", 34, VoFileTypeUnknown}, {"d/file", 34, VoFileTypeUnknown}, {"t\xd8t", 34, VoFileTypeUnknown},
  };
  for (const auto& c : cases) {
    VoString ext(c.extension);
    EXPECT_EQ(VoFileSpec::Extension2Index(ext), c.index) << c.extension;
    EXPECT_EQ(VoFileSpec::Extension2Type(ext), c.type) << c.extension;
  }
}

// ------------------------------------------------------------------ name parts

struct PartsCase {
  const char* full;
  const char* path;
  const char* name;
  const char* extension;
  const char* base;
};

TEST(VoFileSpecTest, NamePartsAreCutFromTheFullName) {
  const PartsCase cases[] = {
      {"/Users/me/Pictures/photo.JPG", "/Users/me/Pictures/", "photo.JPG", "JPG", "photo"},
      {"", "", "", "", ""},
      {"README", "", "README", "", "README"},
      {"/tmp/", "/tmp/", "", "", ""},
      {"/", "/", "", "", ""},
      {".profile", "", ".profile", "", ".profile"},
      {"/a/.txt", "/a/", ".txt", "", ".txt"},
      {"archive.tar.gz", "", "archive.tar.gz", "gz", "archive.tar.gz"},
      {"report.old.txt", "", "report.old.txt", "txt", "report.old"},
      {"report.txt", "", "report.txt", "txt", "report"},
      {"archive.xyz", "", "archive.xyz", "xyz", "archive.xyz"},
      {"notes.", "", "notes.", "", "notes"},
      {"/a.d/file", "/a.d/", "file", "", "file"},
      {"a//b.txt", "a//", "b.txt", "txt", "b"},
      {"./x.icc", "./", "x.icc", "icc", "x"},
      {"../up/x.TIFF", "../up/", "x.TIFF", "TIFF", "x"},
      {"..txt", "", "..txt", "txt", "."},
      {"a\\b.txt", "", "a\\b.txt", "txt", "a\\b"},
      {"dir/sub.d/", "dir/sub.d/", "", "", ""},
  };
  for (const PartsCase& c : cases) {
    VoFileSpec s{VoString(c.full)};
    EXPECT_EQ(Str(s.GetFullName()), c.full);
    EXPECT_EQ(Str(s.GetPath()), c.path) << c.full;
    EXPECT_EQ(Str(s.GetName()), c.name) << c.full;
    EXPECT_EQ(Str(s.GetExtension()), c.extension) << c.full;
    EXPECT_EQ(Str(s.GetBaseName()), c.base) << c.full;
  }
}

// ------------------------------------------------------------------ type derivation

struct DeriveCase {
  const char* full;
  unsigned long typeID;
  unsigned long creatorID;
  VoFileType type;
};

TEST(VoFileSpecTest, ConstructionDerivesTypeAndCreator) {
  const DeriveCase cases[] = {
      {"/Users/me/Pictures/photo.JPG", Code("JPEG"), Code("8BIM"), VoFileTypeJPEG},
      {"", 0, 0, VoFileTypeUnknown},
      {"README", 0, 0, VoFileTypeUnknown},
      {"data.xyz", kUnknownID, 0, VoFileTypeUnknown},
      {"notes.", Code("BINA"), Code("****"), VoFileTypeBinary},
      {"list.ref", Code("TEXT"), Code("ttxt"), VoFileTypeText},
      {"x.Icm", Code("prof"), Code("sync"), VoFileTypeProfile},
      {"/a.d/file", kUnknownID, 0, VoFileTypeUnknown},       // looks up "d/file"
      {".txt", Code("TEXT"), Code("ttxt"), VoFileTypeText},  // unlike GetExtension
      {"lib.DYLIB", Code("DYLB"), Code("****"), VoFileTypeLibrary},
      {"a.jp2", Code("jp2 "), Code("8BIM"), VoFileTypeJPEG2000},
      {"scan.sct", Code("..CT"), Code("8BIM"), VoFileTypeScitexCT},
      {"x.tar.gz", kUnknownID, 0, VoFileTypeUnknown},
      {"/tmp/dir.d/", kUnknownID, 0, VoFileTypeUnknown},
      {"page.HTM", Code("HTML"), Code("****"), VoFileTypeHTML},
      {"a.pdf", Code("PDF "), Code("****"), VoFileTypePDF},
  };
  for (const DeriveCase& c : cases) {
    VoFileSpec s{VoString(c.full)};
    EXPECT_EQ(s.GetTypeID(), c.typeID) << c.full;
    EXPECT_EQ(s.GetCreatorID(), c.creatorID) << c.full;
    EXPECT_EQ(s.GetType(), c.type) << c.full;
  }
}

TEST(VoFileSpecTest, NameWithoutDotKeepsTheTypeItHad) {
  VoFileSpec s{VoString("README")};
  s.SetName(VoString("a.txt"));
  EXPECT_EQ(s.GetTypeID(), Code("TEXT"));
  EXPECT_EQ(s.GetCreatorID(), Code("ttxt"));
  s.SetName(VoString("b"));
  EXPECT_EQ(Str(s.GetFullName()), "b");
  EXPECT_EQ(s.GetTypeID(), Code("TEXT"));
  EXPECT_EQ(s.GetCreatorID(), Code("ttxt"));
}

TEST(VoFileSpecTest, SameExtensionTypeKeepsTheCreator) {
  // The derived type ID equals the current one: the creator is not adjusted.
  VoFileSpec s{VoString("list.ref")};
  s.SetCreatorID(Code("abcd"));
  s.SetFullName(VoString("other.txt"));
  EXPECT_EQ(s.GetCreatorID(), Code("abcd"));
  // A different type ID adjusts it.
  s.SetFullName(VoString("other.icc"));
  EXPECT_EQ(s.GetCreatorID(), Code("sync"));
}

TEST(VoFileSpecTest, SetTypeRenamesAndAdjusts) {
  struct Case {
    const char* full;
    unsigned long creatorBefore;  // 0: leave as derived
    VoFileType type;
    const char* after;
    unsigned long typeID;
    unsigned long creatorID;
  } cases[] = {
      {"list.ref", Code("VoTl"), VoFileTypeText, "list.txt", Code("TEXT"), Code("VoTl")},
      {"scan.jpg", 0, VoFileTypeTIFF, "scan.tif", Code("TIFF"), Code("8BIM")},
      {"lib.dylib", 0, VoFileTypeLibrary, "lib.dll", Code("DLL "), Code("****")},
      {"a.pdf", 0, VoFileTypeText, "a.txt", Code("TEXT"), Code("ttxt")},
      {"/p/x.txt", 0, VoFileTypeBinary, "/p/x", Code("BINA"), Code("****")},
      {"/p/x.xyz", 0, VoFileTypeProfile, "/p/x.xyz.icc", Code("prof"), Code("sync")},
      {"/p/README", 0, VoFileTypeHTML, "/p/README.html", Code("HTML"), Code("****")},
      {"/p/.txt", 0, VoFileTypeGIF, "/p/.txt.gif", Code("GIFf"), Code("8BIM")},
      // Renamed to "x", then "d/x" is looked up again: the type becomes unknown.
      {"/a.d/x.txt", 0, VoFileTypeBinary, "/a.d/x", kUnknownID, 0},
      // A type the table does not list: 0x3F, no creator, no extension.
      {"x.txt", 0, static_cast<VoFileType>(77), "x", kUnknownID, 0},
  };
  for (const auto& c : cases) {
    VoFileSpec s{VoString(c.full)};
    if (c.creatorBefore) s.SetCreatorID(c.creatorBefore);
    s.SetType(c.type);
    EXPECT_EQ(Str(s.GetFullName()), c.after) << c.full;
    EXPECT_EQ(s.GetTypeID(), c.typeID) << c.full;
    EXPECT_EQ(s.GetCreatorID(), c.creatorID) << c.full;
  }
}

TEST(VoFileSpecTest, SetTypeUnknownDerivesFromTheFullName) {
  VoFileSpec s{VoString("x.txt")};
  s.SetTypeID(Code("PICT"));
  s.SetCreatorID(Code("zzzz"));
  s.SetType(VoFileTypeUnknown);
  EXPECT_EQ(s.GetTypeID(), Code("TEXT"));
  EXPECT_EQ(s.GetCreatorID(), Code("ttxt"));
  EXPECT_EQ(Str(s.GetFullName()), "x.txt");  // never renames
}

TEST(VoFileSpecTest, AdjustExtensionUsesTheTypesFirstEntry) {
  struct Case {
    const char* full;
    unsigned long typeID;
    const char* after;
    unsigned long typeAfter;
  } cases[] = {
      {"p.jpeg", Code("JFIF"), "p.jpg", Code("JPEG")},  // "jpg" finds entry 10 again
      {"x.dylib", Code("DYLB"), "x.dll", Code("DLL ")},   {"x.htm", Code("HTML"), "x.html", Code("HTML")},
      {"x.xyz", Code("TEXT"), "x.xyz.txt", Code("TEXT")}, {"x.txt", kUnknownID, "x", kUnknownID},
      {"x.txt", Code("nope"), "x", Code("nope")},
  };
  for (const auto& c : cases) {
    VoFileSpec s{VoString(c.full)};
    s.SetTypeID(c.typeID);
    s.AdjustExtension();
    EXPECT_EQ(Str(s.GetFullName()), c.after) << c.full;
    EXPECT_EQ(s.GetTypeID(), c.typeAfter) << c.full;
  }
}

TEST(VoFileSpecTest, AdjustCreatorID) {
  struct Case {
    unsigned long typeID, creatorID, want;
  } cases[] = {
      {Code("TEXT"), Code("VoTl"), Code("VoTl")},
      {Code("TEXT"), Code("ttxt"), Code("ttxt")},
      {Code("TEXT"), Code("8BIM"), Code("ttxt")},
      {Code("TEXT"), 0, Code("ttxt")},
      {Code("JFIF"), 0, Code("8BIM")},
      {Code("prof"), Code("abcd"), Code("sync")},
      {kUnknownID, kUnknownID, 0},
      {kUnknownID, Code("ttxt"), 0},
      {0, Code("ttxt"), 0},
      {Code("PDF "), Code("****"), Code("****")},
  };
  for (const auto& c : cases) {
    VoFileSpec s{VoString("README")};
    s.SetTypeID(c.typeID);
    if (c.creatorID) s.SetCreatorID(c.creatorID);  // else the creator stays 0
    s.AdjustCreatorID();
    EXPECT_EQ(s.GetCreatorID(), c.want) << std::hex << c.typeID << " " << c.creatorID;
    EXPECT_EQ(s.GetTypeID(), c.typeID);
  }
}

TEST(VoFileSpecTest, SetCreatorIDZeroOrMACSAdjusts) {
  for (unsigned long special : {0UL, Code("MACS"), 0x100000000UL, 0x14D414353UL}) {
    VoFileSpec s{VoString("x.icc")};
    s.SetCreatorID(Code("abcd"));
    EXPECT_EQ(s.GetCreatorID(), Code("abcd"));
    s.SetCreatorID(special);  // the last two are 0 and "MACS" in their low 32 bits
    EXPECT_EQ(s.GetCreatorID(), Code("sync")) << std::hex << special;
  }
}

TEST(VoFileSpecTest, IDsHoldThirtyTwoBits) {
  VoFileSpec s{VoString("README")};
  s.SetTypeID(0x154455854UL);
  EXPECT_EQ(s.GetTypeID(), Code("TEXT"));
  EXPECT_EQ(s.GetType(), VoFileTypeText);
  EXPECT_EQ(Str(s.GetFullName()), "README");  // storing changes nothing else
  EXPECT_EQ(s.GetCreatorID(), 0UL);
}

// ------------------------------------------------------------------ changing the name

struct EditCase {
  const char* full;
  const char* arg;
  const char* after;
};

TEST(VoFileSpecTest, SetPath) {
  const EditCase cases[] = {
      {"x.txt", "/tmp", "/tmp/x.txt"}, {"/tmp/x.txt", "", "x.txt"},
      {"/a/x.txt", "/b/", "/b/x.txt"}, {"x.txt", "/", "/x.txt"},
      {"/tmp/", "/u", "/u/"},          {"x", "a\\", "a\\/x"},
      {"", "/tmp", "/tmp/"},           {"/a/b/c", "rel/dir", "rel/dir/c"},
  };
  for (const EditCase& c : cases) {
    VoFileSpec s{VoString(c.full)};
    s.SetPath(VoString(c.arg));
    EXPECT_EQ(Str(s.GetFullName()), c.after) << c.full << " + " << c.arg;
  }
}

TEST(VoFileSpecTest, SetNameAndSetNativeFullName) {
  const EditCase cases[] = {
      {"/a/b.txt", "c.pdf", "/a/c.pdf"},
      {"/a/b.txt", "d/e.txt", "/a/d/e.txt"},
      {"b.txt", "", ""},
      {"/a/", "x", "/a/x"},
      {"", "x.icc", "x.icc"},
  };
  for (const EditCase& c : cases) {
    VoFileSpec s{VoString(c.full)};
    s.SetName(VoString(c.arg));
    EXPECT_EQ(Str(s.GetFullName()), c.after) << c.full << " + " << c.arg;
  }
  VoFileSpec n{VoString("x")};
  n.SetNativeFullName(VoString("/q/r.tif"));
  EXPECT_EQ(Str(n.GetFullName()), "/q/r.tif");
  EXPECT_EQ(n.GetTypeID(), Code("TIFF"));
  EXPECT_EQ(n.GetCreatorID(), Code("8BIM"));
}

TEST(VoFileSpecTest, Compose) {
  struct Case {
    const char* path;
    const char* name;
    const char* after;
  } cases[] = {
      {"/base", "/abs/f", "/abs/f"},
      {"/base", "f", "/base/f"},
      {"", "f", "f"},
      {"/base/", "f", "/base/f"},
      {"/base", "C:\\f", "C:\\f"},
      {"/base", "\\f", "\\f"},
      {"/base", "sub/f.txt", "/base/sub/f.txt"},
      {"rel", "C:f", "rel/C:f"},
      {"/base", "", "/base/"},
  };
  for (const auto& c : cases) {
    VoFileSpec s{VoString("/old/name.txt")};
    s.Compose(VoString(c.path), VoString(c.name));
    EXPECT_EQ(Str(s.GetFullName()), c.after) << c.path << " + " << c.name;
  }
}

TEST(VoFileSpecTest, IsAbsolute) {
  struct Case {
    const char* path;
    bool absolute;
  } cases[] = {
      {"/x", true},    {"\\x", true},  {":x", true},  {"C:/x", true}, {"C:\\x", true},
      {"C:x", false},  {"x/y", false}, {"", false},   {"C:", false},  {"/", true},
      {"ab:/", false}, {"x", false},   {"1:/", true}, {"./x", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(VoFileSpec::IsAbsolute(VoString(c.path)), c.absolute) << '"' << c.path << '"';
}

TEST(VoFileSpecTest, WindowsSeparators) {
  struct Case {
    const char* posix;
    const char* windows;
  } cases[] = {{"/a/b/c.txt", "\\a\\b\\c.txt"}, {"", ""}, {"plain", "plain"}, {"//", "\\\\"}};
  for (const auto& c : cases) {
    EXPECT_EQ(Str(VoFileSpec::Name2WinName(VoString(c.posix))), c.windows);
    EXPECT_EQ(Str(VoFileSpec::WinName2Name(VoString(c.windows))), c.posix);
  }
  EXPECT_EQ(Str(VoFileSpec::WinName2Name(VoString("a/b\\c"))), "a/b/c");
}

TEST(VoFileSpecTest, CheckExtension) {
  struct Case {
    const char* full;
    const char* extension;
    const char* after;
  } cases[] = {
      {"grey", "", "grey.icc"},
      {"grey.tif", "", "grey.icc"},
      {"grey.ICC", "", "grey.icc"},
      {"grey.icm", "", "grey.icm"},
      {"grey.tif", "icm", "grey.icm"},
      {"grey.icc", "icm", "grey.icc"},
      {"icc", "", "icc"},
      {"ab", "", "ab.icc"},
      {"a.tiff", "", "a.tiff.icc"},
      {"/p/x.tif", "", "/p/x.icc"},
      {"", "", ".icc"},
      {".tif", "", ".icc"},
      {"/p/", "", "/p/.icc"},
      {"abcd", "ICM", "abcd.ICM"},
      {"xicc", "", "xicc"},
      {"x.txt", "pf", "x.pf"},
      {"abc", "", "abc.icc"},
      {"a.c", "", "a.c.icc"},
  };
  for (const auto& c : cases) {
    VoFileSpec s{VoString(c.full)};
    s.CheckExtension(VoString(c.extension));
    EXPECT_EQ(Str(s.GetFullName()), c.after) << c.full << " with " << c.extension;
  }
  VoFileSpec t{VoString("grey.tif")};
  t.CheckExtension(VoString());
  EXPECT_EQ(t.GetTypeID(), Code("prof"));
  EXPECT_EQ(t.GetCreatorID(), Code("sync"));
}

// ------------------------------------------------------------------ values

TEST(VoFileSpecTest, EqualityComparesFullNamesOnly) {
  EXPECT_FALSE(VoFileSpec(VoString("/a/B.txt")) == VoFileSpec(VoString("/a/b.txt")));
  EXPECT_FALSE(VoFileSpec(VoString("/a/b.txt")) == VoFileSpec(VoString("/a/b.txt ")));
  VoFileSpec a{VoString("/a/b.txt")};
  VoFileSpec b{VoString("/a/b.txt")};
  b.SetTypeID(Code("PICT"));
  b.SetCreatorID(Code("zzzz"));
  EXPECT_TRUE(a == b);
  EXPECT_TRUE(VoFileSpec() == VoFileSpec(VoString("")));
}

TEST(VoFileSpecTest, CopiesCarryAllThreeFields) {
  VoFileSpec a{VoString("/a/b.txt")};
  a.SetTypeID(Code("PICT"));
  a.SetCreatorID(Code("zzzz"));
  VoFileSpec b(a);
  EXPECT_EQ(Str(b.GetFullName()), "/a/b.txt");
  EXPECT_EQ(b.GetTypeID(), Code("PICT"));
  EXPECT_EQ(b.GetCreatorID(), Code("zzzz"));
  VoFileSpec c;
  c = a;
  EXPECT_EQ(c.GetTypeID(), Code("PICT"));
  EXPECT_EQ(c.GetCreatorID(), Code("zzzz"));
  a.SetName(VoString("other.icc"));  // the copies are independent
  EXPECT_EQ(Str(b.GetFullName()), "/a/b.txt");
  EXPECT_EQ(Str(c.GetFullName()), "/a/b.txt");
}

void ExpectInitialFacts(const VoFileInfo& info) {
  VoDate zero(0, 0, 0, 0, 0, 0);
  for (const VoDate& d : {info.GetCreationDate(), info.GetModificationDate()}) {
    EXPECT_EQ(d.Year(), 0);
    EXPECT_EQ(d.Month(), 1);
    EXPECT_EQ(d.Day(), 1);
    EXPECT_EQ(d.SecondOfDay(), 0);
    EXPECT_EQ(d.Day2Long(), zero.Day2Long());
  }
  EXPECT_TRUE(info.IsFile());
  EXPECT_EQ(info.GetSize(), 0UL);
}

TEST(VoFileInfoTest, ConstructorsStartWithTheInitialFacts) {
  VoFileInfo fromName{VoString("/x/photo.jpg")};
  ExpectInitialFacts(fromName);
  EXPECT_EQ(fromName.GetTypeID(), Code("JPEG"));
  EXPECT_EQ(fromName.GetCreatorID(), Code("8BIM"));

  VoFileInfo empty;
  ExpectInitialFacts(empty);
  EXPECT_EQ(Str(empty.GetFullName()), "");
  EXPECT_EQ(empty.GetTypeID(), 0UL);

  // From a file specification the three fields are copied, not derived again.
  VoFileSpec fileSpec{VoString("/x/photo.jpg")};
  fileSpec.SetTypeID(Code("abcd"));
  fileSpec.SetCreatorID(Code("wxyz"));
  VoFileInfo fromSpec(fileSpec);
  ExpectInitialFacts(fromSpec);
  EXPECT_EQ(Str(fromSpec.GetFullName()), "/x/photo.jpg");
  EXPECT_EQ(fromSpec.GetTypeID(), Code("abcd"));
  EXPECT_EQ(fromSpec.GetCreatorID(), Code("wxyz"));
}

TEST(VoFileInfoTest, Accessors) {
  VoFileInfo info{VoString("/x/a.txt")};
  info.SetCreationDate(VoDate(2006, 5, 4, 9, 5, 7));
  info.SetModificationDate(VoDate(2007, 6, 5, 10, 6, 8));
  info.SetIsFile(false);
  info.SetSize(1234);
  EXPECT_EQ(Str(info.GetCreationDate().GetString()), "2006-5-4 9:05:07");
  EXPECT_EQ(Str(info.GetModificationDate().GetString()), "2007-6-5 10:06:08");
  EXPECT_FALSE(info.IsFile());
  EXPECT_EQ(info.GetSize(), 1234UL);
  VoFileInfo copy(info);  // a copy keeps the facts
  EXPECT_FALSE(copy.IsFile());
  EXPECT_EQ(copy.GetSize(), 1234UL);
  EXPECT_EQ(Str(copy.GetModificationDate().GetString()), "2007-6-5 10:06:08");
}

TEST(VoFileInfoTest, SizeOfLargeFilesIsNotCut) {
  const unsigned long sizes[] = {0xFFFFFFFFUL, 0x100000000UL, 5UL << 30, 0xFFFFFFFFFFFFFFFFUL};
  for (unsigned long size : sizes) {
    VoFileInfo info{VoString("big.bin")};
    info.SetSize(size);
    EXPECT_EQ(info.GetSize(), size);
  }
}

}  // namespace
