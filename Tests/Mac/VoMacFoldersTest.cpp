// Tests of the bridge's well-known folders, SetPath and the native name.
#include <climits>
#include <cstdlib>
#include <map>
#include <string>

#include "VoCore/VoError.h"

#include "VoMacToolsFixture.h"

namespace vo_mac_test {
namespace {

// ==================================================================== well-known folders

struct FolderCase {
  const char* label;
  VoFolderType folder;
  std::map<std::string, std::string> env;  // "@" stands for the test's root
  const char* userDirs;                    // contents of user-dirs.dirs, or null
  const char* expected;                    // "@" root, "~" home; "" = empty result
};

std::string Expand(const std::string& text, const std::string& root, const std::string& home) {
  std::string out;
  for (char c : text) {
    if (c == '@')
      out += root;
    else if (c == '~')
      out += home;
    else
      out += c;
  }
  return out;
}

TEST_F(MacToolsTest, FolderTable) {
  const FolderCase cases[] = {
      {"config set", VoFolderTypePreferences, {{"XDG_CONFIG_HOME", "@/cfg"}}, nullptr, "@/cfg/"},
      {"config unset", VoFolderTypePreferences, {}, nullptr, "~/.config/"},
      {"config relative", VoFolderTypePreferences, {{"XDG_CONFIG_HOME", "rel/cfg"}}, nullptr, "~/.config/"},
      {"config empty", VoFolderTypePreferences, {{"XDG_CONFIG_HOME", ""}}, nullptr, "~/.config/"},
      {"config trailing slash", VoFolderTypePreferences, {{"XDG_CONFIG_HOME", "@/c2/"}}, nullptr, "@/c2/"},
      {"docs env", VoFolderTypeDocuments, {{"XDG_DOCUMENTS_DIR", "@/my docs"}}, nullptr, "@/my docs/"},
      {"docs env $HOME",
       VoFolderTypeDocuments,
       {{"XDG_DOCUMENTS_DIR", "$HOME/Papers"}},
       nullptr,
       "~/Papers/"},
      {"docs user-dirs",
       VoFolderTypeDocuments,
       {},
       "# comment\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\n  XDG_DOCUMENTS_DIR=\"$HOME/Docs \\\"q\\\"\"\n",
       "~/Docs \"q\"/"},
      {"docs user-dirs absolute",
       VoFolderTypeDocuments,
       {{"XDG_CONFIG_HOME", "@/cfg"}},
       "XDG_DOCUMENTS_DIR=\"@/abs docs\"\n",
       "@/abs docs/"},
      {"docs user-dirs relative ignored",
       VoFolderTypeDocuments,
       {},
       "XDG_DOCUMENTS_DIR=\"Docs\"\n",
       "~/Documents/"},
      {"docs user-dirs unterminated",
       VoFolderTypeDocuments,
       {},
       "XDG_DOCUMENTS_DIR=\"$HOME/x\n",
       "~/Documents/"},
      {"docs default", VoFolderTypeDocuments, {}, nullptr, "~/Documents/"},
      {"temp set", VoFolderTypeTemporary, {{"TMPDIR", "@/t"}}, nullptr, "@/t/"},
      {"temp unset", VoFolderTypeTemporary, {}, nullptr, "/tmp/"},
      {"temp relative", VoFolderTypeTemporary, {{"TMPDIR", "t"}}, nullptr, "/tmp/"},
      {"app support", VoFolderTypeAppSupport, {{"XDG_DATA_HOME", "@/data"}}, nullptr, "@/data/"},
      {"app support 2", VoFolderTypeAppSupport2, {{"XDG_DATA_HOME", "@/data"}}, nullptr, "@/data/"},
      {"app support 3", VoFolderTypeAppSupport3, {}, nullptr, "~/.local/share/"},
      {"user profiles", VoFolderTypeProfilesUser, {{"XDG_DATA_HOME", "@/data"}}, nullptr, "@/data/icc/"},
      {"user profiles default", VoFolderTypeProfilesUser, {}, nullptr, "~/.local/share/icc/"},
      {"local profiles", VoFolderTypeProfilesLocal, {}, nullptr, "@/shared/color/icc/"},
      {"profiles", VoFolderTypeProfiles, {}, nullptr, "@/shared/color/icc/"},
      {"none", VoFolderTypeNone, {}, nullptr, ""},
      {"unchanged", VoFolderTypeUnchanged, {}, nullptr, ""},
      {"out of range", static_cast<VoFolderType>(11), {}, nullptr, ""},
  };
  for (const FolderCase& c : cases) {
    SCOPED_TRACE(c.label);
    for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "TMPDIR", "XDG_DOCUMENTS_DIR"})
      unsetenv(name);
    for (const auto& [name, value] : c.env) setenv(name.c_str(), Expand(value, mRoot, mHome).c_str(), 1);
    std::string config = getenv("XDG_CONFIG_HOME") && getenv("XDG_CONFIG_HOME")[0] == '/'
                             ? getenv("XDG_CONFIG_HOME")
                             : mHome + "/.config";
    std::string userDirs = config + "/user-dirs.dirs";
    unlink(userDirs.c_str());
    if (c.userDirs) {
      mkdir(config.c_str(), 0700);
      WriteFile(userDirs, Expand(c.userDirs, mRoot, mHome));
    }
    std::string expected = Expand(c.expected, mRoot, mHome);
    std::string got = Str(VoMacFindFolder(c.folder));
    EXPECT_EQ(got, expected);
    if (!expected.empty()) {
      EXPECT_TRUE(IsDir(expected)) << "folder made: " << expected;
    }
    unlink(userDirs.c_str());
  }
}

TEST_F(MacToolsTest, SharedProfilesFallBackToTheUsersFolder) {
  // A regular file where the shared folder's parent should be: it cannot be made.
  WriteFile(P("blocker"), "x");
  VoMacSetSharedProfilesFolder(P("blocker/icc").c_str());
  setenv("XDG_DATA_HOME", P("data").c_str(), 1);
  EXPECT_EQ(Str(VoMacFindFolder(VoFolderTypeProfiles)), P("data/icc/"));
  EXPECT_EQ(Str(VoMacFindFolder(VoFolderTypeProfilesLocal)), "");
  EXPECT_EQ(Str(VoMacFindFolder(VoFolderTypeProfilesUser)), P("data/icc/"));
}

TEST_F(MacToolsTest, FolderPathsAreResolved) {
  Dir("real");
  ASSERT_EQ(symlink(P("real").c_str(), P("link").c_str()), 0);
  setenv("TMPDIR", P("link").c_str(), 1);
  EXPECT_EQ(Str(VoMacFindFolder(VoFolderTypeTemporary)), P("real/"));
}

// ==================================================================== SetPath and the native name

TEST_F(MacToolsTest, SetPathPlacesTheName) {
  setenv("XDG_DOCUMENTS_DIR", P("docs").c_str(), 1);
  const struct {
    const char* start;
    VoFolderType folder;
    std::string expected;
  } cases[] = {
      {"/a/b/report.txt", VoFolderTypeDocuments, P("docs/report.txt")},
      {"report.txt", VoFolderTypeDocuments, P("docs/report.txt")},
      {"/a/b/report.txt", VoFolderTypeNone, "report.txt"},
      {"/a/b/report.txt", VoFolderTypeUnchanged, "/a/b/report.txt"},
      {"/a/b/", VoFolderTypeDocuments, P("docs/")},
      {"", VoFolderTypeDocuments, P("docs/")},
  };
  for (const auto& c : cases) {
    VoFileSpec spec{VoString(c.start)};
    spec.SetPath(c.folder);
    EXPECT_EQ(Str(spec.GetFullName()), c.expected) << c.start << " " << c.folder;
  }
}

TEST_F(MacToolsTest, SetPathKeepsTheDerivedType) {
  setenv("TMPDIR", P("t").c_str(), 1);
  VoFileSpec spec(VoString("/x/grey.icc"));
  spec.SetPath(VoFolderTypeTemporary);
  EXPECT_EQ(Str(spec.GetFullName()), P("t/grey.icc"));
  EXPECT_EQ(spec.GetTypeID(), Code("prof"));
  EXPECT_EQ(spec.GetCreatorID(), Code("sync"));
}

TEST_F(MacToolsTest, SetPathOutOfRangeThrowsArgErr) {
  for (int value : {11, -1, 1000, INT_MIN}) {
    VoFileSpec spec(VoString("/a/b/report.txt"));
    try {
      spec.SetPath(static_cast<VoFolderType>(value));
      ADD_FAILURE() << "no error for " << value;
    } catch (const VoError& e) {
      EXPECT_EQ(e.GetErr(), 3u);
      EXPECT_STREQ(e.GetErrName(), "VoArgErr");
      EXPECT_STREQ(e.GetFileName(), "VoMacFolders.cpp");
      EXPECT_GT(e.GetLine(), 0);
    }
    EXPECT_EQ(Str(spec.GetFullName()), "/a/b/report.txt");
  }
}

TEST_F(MacToolsTest, SetPathWithAFailingLookupLeavesTheBareName) {
  WriteFile(P("file"), "x");
  setenv("XDG_CONFIG_HOME", P("file/cfg").c_str(), 1);
  VoFileSpec spec(VoString("/a/b/report.txt"));
  spec.SetPath(VoFolderTypePreferences);
  EXPECT_EQ(Str(spec.GetFullName()), "report.txt");
}

TEST(MacToolsNames, NativeFullNameIsTheFullName) {
  for (const char* name : {"/tmp/x.txt", "rel/x", "", "/a//b/../c/"}) {
    VoFileSpec spec{VoString(name)};
    EXPECT_EQ(Str(spec.GetNativeFullName()), name);
    EXPECT_EQ(Str(VoMacGetFullPathName(spec)), name);
  }
}

}  // namespace
}  // namespace vo_mac_test
