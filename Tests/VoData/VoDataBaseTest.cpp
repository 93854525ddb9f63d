// VoDataBaseTest.cpp - the database model: paths, typed values, indexed access, merge, copies, references.
#include "VoData/VoDataBase.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "VoCore/VoError.h"
#include "Support/VoScopedLocale.h"
#include "VoDataBaseTestUtil.h"

using vodbtest::Dump;
using vodbtest::ErrorCode;

namespace {

// A heap database for the reference-count tests.
VoDataBase* NewDB() { return new VoDataBase; }

// ---------------------------------------------------------------- paths

TEST(VoDataBasePath, EquivalentSpellingsAddressOneEntry) {
  VoDataBase db;
  db.SetString("a/b", "1");
  for (const char* path : {"a/b", "/a/b", "a/b/", "/a/b/"}) {
    SCOPED_TRACE(path);
    EXPECT_TRUE(db.Exists(path));
    EXPECT_EQ(db.GetString(path, "def"), "1");
    db.SetString(path, "2");
    EXPECT_EQ(db.GetString("a/b"), "2");
    db.SetString("a/b", "1");
  }
  EXPECT_EQ(Dump(db), "a={b=1}");
}

TEST(VoDataBasePath, EmptyComponentsAddressTheEmptyKey) {
  struct Case {
    const char* path;
    const char* dump;  // after SetString(path, "v") on an empty database
  };
  const Case cases[] = {
      {"", "=v"}, {"/", "=v"}, {"a//b", "a={={b=v}}"}, {"//", "=v"}, {"a/", "a=v"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    VoDataBase db;
    db.SetString(c.path, "v");
    EXPECT_EQ(Dump(db), c.dump);
    EXPECT_EQ(db.GetString(c.path), "v");
  }
}

TEST(VoDataBasePath, GetEntryReportsLevelAndIndex) {
  VoDataBase db;
  db.SetString("a", "1");
  db.SetString("b/c", "2");
  db.SetString("b/d", "3");
  int index = 99;
  EXPECT_EQ(db.GetEntry("a", false, index), &db);
  EXPECT_EQ(index, 0);
  VoDataBase* b = db.GetDB("b", false);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(db.GetEntry("b/d", false, index), b);
  EXPECT_EQ(index, 1);
  // Missing: null and -1, and nothing is created.
  EXPECT_EQ(db.GetEntry("b/x", false, index), nullptr);
  EXPECT_EQ(index, -1);
  EXPECT_EQ(db.GetEntry("a/x", false, index), nullptr);  // a has no nested level
  EXPECT_EQ(index, -1);
  EXPECT_EQ(db.GetEntry("zz/x", false, index), nullptr);
  EXPECT_EQ(Dump(db), "a=1;b={c=2;d=3}");
  // With create: the entry index is the former count; a level is attached to a.
  EXPECT_EQ(db.GetEntry("b/x", true, index), b);
  EXPECT_EQ(index, 2);
  EXPECT_NE(db.GetEntry("a/x", true, index), nullptr);
  EXPECT_EQ(index, 0);
  EXPECT_EQ(Dump(db), "a=1{x=};b={c=2;d=3;x=}");
}

TEST(VoDataBasePath, KeyWithSlashIsReachableOnlyByIndex) {
  VoDataBase db;
  db.ReadFromString("\"a/b\" = 1\n");
  ASSERT_EQ(db.GetCount(), 1);
  EXPECT_FALSE(db.Exists("a/b"));
  EXPECT_EQ(db.GetString("a/b", "none"), "none");
  EXPECT_EQ(db.GetIndex("a/b"), 0);
  EXPECT_EQ(db.GetIndexedValue(0), "1");
}

TEST(VoDataBasePath, KeysCompareExactlyAndCaseSensitively) {
  VoDataBase db;
  db.SetString("Key", "1");
  db.SetString("key", "2");
  db.SetString("ke", "3");
  db.SetString("keys", "4");
  EXPECT_EQ(db.GetString("key"), "2");
  EXPECT_EQ(db.GetString("KEY", "none"), "none");
  EXPECT_EQ(db.GetIndex("ke"), 2);
  EXPECT_EQ(db.GetIndex("k"), -1);
  EXPECT_EQ(db.GetIndexByValue("4"), 3);
  EXPECT_EQ(db.GetIndexByValue(""), -1);
}

TEST(VoDataBasePath, KeysCompareAsTextUpToTheirFirstZeroByte) {
  VoDataBase db;
  // A path whose component holds a zero byte matches the key of its text before it.
  db.SetString("ab", "1");
  const VoString withZero("ab\0cd", 5);
  EXPECT_EQ(db.GetString(withZero, "none"), "1");
  EXPECT_EQ(db.GetIndex(withZero), 0);
  // A key whose stored length is shorter than its text compares by its text.
  VoString shortened("abcdef");
  shortened.SetLength(3);
  EXPECT_EQ(db.GetIndex(shortened), -1);
  db.SetString("abcdef", "2");
  EXPECT_EQ(db.GetIndex(shortened), 1);
}

TEST(VoDataBasePath, DuplicateKeysFindTheFirst) {
  VoDataBase db;
  db.ReadFromString("a = 1\na = 2\n");
  EXPECT_EQ(db.GetString("a"), "1");
  EXPECT_EQ(db.GetIndex("a"), 0);
  db.Remove("a");
  EXPECT_EQ(db.GetCount(), 1);
  EXPECT_EQ(db.GetString("a"), "2");
  db.Remove("a");
  db.Remove("a");  // nothing left: no effect
  EXPECT_EQ(db.GetCount(), 0);
}

// ---------------------------------------------------------------- typed getters and setters

TEST(VoDataBaseValues, StoreCreatesTheDefaultAndItsLevels) {
  VoDataBase db;
  EXPECT_EQ(db.GetString("x/y", "d", false), "d");
  EXPECT_EQ(db.GetCount(), 0);
  EXPECT_EQ(db.GetString("x/y", "d", true), "d");
  EXPECT_EQ(Dump(db), "x={y=d}");
  // An existing entry is returned and not overwritten.
  EXPECT_EQ(db.GetString("x/y", "other", true), "d");

  VoDataBase typed;
  EXPECT_EQ(typed.GetInt("i", -7, true), -7);
  EXPECT_EQ(typed.GetDouble("d", 2.5, true), 2.5);
  EXPECT_TRUE(typed.GetBoolean("b", true, true));
  EXPECT_EQ(typed.GetDouble("e", 3.0, true), 3.0);
  EXPECT_EQ(Dump(typed), "i=-7;d=2.5;b=true;e=3");
  EXPECT_EQ(typed.GetInt("missing", 5, false), 5);
  EXPECT_FALSE(typed.GetBoolean("missing", false, false));
  EXPECT_EQ(typed.GetDouble("missing", 1.25, false), 1.25);
  EXPECT_EQ(typed.GetCount(), 4);
}

TEST(VoDataBaseValues, GetBooleanAcceptsTrueInAnyCaseAndOne) {
  const struct {
    const char* value;
    bool expected;
  } cases[] = {{"true", true}, {"TRUE", true},   {"tRuE", true},   {"1", true},   {"yes", false},
               {"on", false},  {"0", false},     {"01", false},    {" 1", false}, {"true ", false},
               {"", false},    {"truex", false}, {"false", false}, {"2", false},  {"1.0", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    VoDataBase db;
    db.SetString("b", c.value);
    EXPECT_EQ(db.GetBoolean("b", !c.expected), c.expected);
  }
}

TEST(VoDataBaseValues, GetIntReadsLikeAtol) {
  const struct {
    const char* value;
    int expected;
  } cases[] = {{"12abc", 12}, {"abc", 0},     {" -5", -5}, {"+7", 7},
               {"", 0},       {"\t 42 ", 42}, {"1e3", 1},  {"-2147483648", -2147483647 - 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    VoDataBase db;
    db.SetString("i", c.value);
    EXPECT_EQ(db.GetInt("i", 99), c.expected);
  }
}

// Numbers are read and written with "." as the decimal point in every locale.
#define FOR_EACH_NUMBER_LOCALE                       \
  for (const char* locale : vo_test::kNumberLocales) \
    if (vo_test::ScopedLocale in(locale); !in) {     \
      GTEST_SKIP() << locale << " is not installed"; \
    } else if (testing::ScopedTrace trace(__FILE__, __LINE__, locale); true)

TEST(VoDataBaseValues, GetDoubleReadsLikeAtof) {
  const struct {
    const char* value;
    double expected;
  } cases[] = {{"1.5", 1.5},
               {"-0.25x", -0.25},
               {"abc", 0.0},
               {"1e3", 1000.0},
               {" 2", 2.0},
               {"", 0.0},
               {"1,5", 1.0},
               {"0x1.8p1", 3.0},
               {"+-1", 0.0},
               {"\t-.5e1", -5.0},
               {"1e999", HUGE_VAL},
               {"-1e-999", -0.0},
               {"-Infinity", -HUGE_VAL},
               {"0x", 0.0}};
  FOR_EACH_NUMBER_LOCALE {
    for (const auto& c : cases) {
      SCOPED_TRACE(c.value);
      VoDataBase db;
      db.SetString("d", c.value);
      EXPECT_EQ(db.GetDouble("d", 99.0), c.expected);
    }
  }
}

TEST(VoDataBaseValues, SettersFormatTheirValues) {
  VoDataBase db;
  db.SetInt("i", -2147483647 - 1);
  db.SetBoolean("t", true);
  db.SetBoolean("f", false);
  EXPECT_EQ(Dump(db), "i=-2147483648;t=true;f=false");
  db.SetInt("i", 0);
  EXPECT_EQ(db.GetString("i"), "0");
}

TEST(VoDataBaseValues, SetDoubleWithoutFormatStripsZeros) {
  const struct {
    double value;
    const char* text;
  } cases[] = {{1.5, "1.5"},     {2.0, "2"},         {0.25, "0.25"},
               {0.0000001, "0"}, {-0.0000001, "-0"}, {-3.0, "-3"},
               {100.0, "100"},   {0.0, "0"},         {1234567.125, "1234567.125"}};
  FOR_EACH_NUMBER_LOCALE {
    for (const auto& c : cases) {
      SCOPED_TRACE(c.text);
      VoDataBase db;
      db.SetDouble("d", c.value, nullptr);
      EXPECT_EQ(db.GetString("d"), c.text);
    }
  }
}

TEST(VoDataBaseValues, SetDoubleKeepsAnEqualValueAndUsesTheFormat) {
  FOR_EACH_NUMBER_LOCALE {
    VoDataBase db;
    db.SetString("a", "1.50");
    db.SetDouble("a", 1.5);
    EXPECT_EQ(db.GetString("a"), "1.50");  // reads as 1.5 already
    db.SetString("b", "abc");
    db.SetDouble("b", 0.0);
    EXPECT_EQ(db.GetString("b"), "abc");  // reads as 0
    db.SetDouble("b", 0.5);
    EXPECT_EQ(db.GetString("b"), "0.5");
    db.SetDouble("c", 3.14159, "%.2f");
    EXPECT_EQ(db.GetString("c"), "3.14");
    db.SetDouble("e", 2.0, "%.3f");
    EXPECT_EQ(db.GetString("e"), "2.000");  // no stripping with a format
    db.SetDouble("n/m", 7.25);
    db.SetDouble("p", 1234.5, "%'.1f%% of 1,5");  // no grouping; text around the number kept
    EXPECT_EQ(Dump(db), "a=1.50;b=0.5;c=3.14;e=2.000;n={m=7.25};p=1234.5% of 1,5");
  }
}

TEST(VoDataBaseValues, SetStringKeepsTheNestedDatabase) {
  VoDataBase db;
  db.SetString("a/b", "1");
  db.SetString("a", "top");
  EXPECT_EQ(Dump(db), "a=top{b=1}");
}

// ---------------------------------------------------------------- this level

TEST(VoDataBaseIndexed, OutOfRangeThrowsIndexErrorAndChangesNothing) {
  VoDataBase db;
  db.SetString("a", "1");
  db.SetString("b", "2");
  for (int i : {-1, 2, 1000, -2147483647 - 1}) {
    SCOPED_TRACE(i);
    EXPECT_EQ(ErrorCode([&] { db.GetIndexedName(i); }), eVoIndexError);
    EXPECT_EQ(ErrorCode([&] { db.GetIndexedValue(i); }), eVoIndexError);
    EXPECT_EQ(ErrorCode([&] { db.GetIndexedDB(i); }), eVoIndexError);
    EXPECT_EQ(ErrorCode([&] { db.RemoveIndex(i); }), eVoIndexError);
  }
  EXPECT_EQ(Dump(db), "a=1;b=2");
  db.Clear();
  EXPECT_EQ(ErrorCode([&] { db.GetIndexedName(0); }), eVoIndexError);
  try {
    db.GetIndexedName(0);
  } catch (const VoError& e) {
    EXPECT_STREQ(e.GetErrName(), "VoIndexError");
  }
}

TEST(VoDataBaseIndexed, RemoveIndexKeepsTheOrderOfTheOthers) {
  const struct {
    int remove;
    const char* dump;
  } cases[] = {{0, "b=2;c=3;d=4"}, {1, "a=1;c=3;d=4"}, {3, "a=1;b=2;c=3"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.remove);
    VoDataBase db;
    db.ReadFromString("a = 1\nb = 2\nc = 3\nd = 4\n");
    db.RemoveIndex(c.remove);
    EXPECT_EQ(Dump(db), c.dump);
    db.SetString("e", "5");  // appending after a removal reuses the ring correctly
    EXPECT_EQ(Dump(db), std::string(c.dump) + ";e=5");
  }
}

TEST(VoDataBaseIndexed, ClearEmptiesAndTheLevelGrowsAgain) {
  VoDataBase db;
  for (int i = 0; i < 30; ++i) db.SetInt(VoString().Printf("k%d", i), i);
  db.Clear();
  EXPECT_EQ(db.GetCount(), 0);
  EXPECT_EQ(db.WriteToString(), "");
  for (int i = 0; i < 30; ++i) db.SetInt(VoString().Printf("n%d", i), i);
  EXPECT_EQ(db.GetCount(), 30);
  EXPECT_EQ(db.GetInt("n29"), 29);
  EXPECT_EQ(db.GetIndexedName(0), "n0");
}

// ---------------------------------------------------------------- merge and copies

TEST(VoDataBaseMerge, AppendOrSetByPath) {
  VoDataBase source;
  source.SetString("a", "2");
  source.SetString("b", "3");
  VoDataBase set;
  set.SetString("a", "1");
  set.MergeDB(&source, false);
  EXPECT_EQ(Dump(set), "a=2;b=3");
  VoDataBase appended;
  appended.SetString("a", "1");
  appended.MergeDB(&source, true);
  EXPECT_EQ(Dump(appended), "a=1;a=2;b=3");
  appended.MergeDB(nullptr, true);
  EXPECT_EQ(Dump(appended), "a=1;a=2;b=3");
}

TEST(VoDataBaseMerge, DuplicateKeysMergeIntoTheFirstEntrysLevel) {
  VoDataBase source;
  source.ReadFromString("k = 1\n{\nx = 1\n}\nk = 2\n{\ny = 2\n}\n");
  VoDataBase target;
  target.MergeDB(&source, true);
  EXPECT_EQ(Dump(target), "k=1{x=1;y=2};k=2");
  // A copy is made the same way.
  VoDataBase copy(source);
  EXPECT_EQ(Dump(copy), "k=1{x=1;y=2};k=2");
}

// Wide levels are merged through an index of their keys: the same results as
// the scans of narrow levels, paths and repeated keys included.
TEST(VoDataBaseMerge, WideLevelsMergeAsNarrowOnes) {
  std::string wide, wideDump;
  for (int i = 0; i < 16; ++i) {
    wide += "p" + std::to_string(i) + " = \n{\nv = 1\n}\n";
    wideDump += "p" + std::to_string(i) + "={v=1};";
  }
  const struct {
    const char* text;
    const char* dump;  // behind the wide part
  } cases[] = {
      {"k = 1\n{\nx = 1\n}\nk = 2\n{\ny = 2\n}\n", "k=1{x=1;y=2};k=2"},
      {"\"a/b\" = 1\n{\nc = 2\n}\na = 3\n{\nd = 4\n}\n", "a/b=1;a={b={c=2};d=4};a=3"},
      {"\"\" = 1\n{\nc = 2\n}\n\"\" = 3\n{\nd = 4\n}\n", "=1{c=2;d=4};=3"},
  };
  for (const auto& c : cases) {
    VoDataBase narrow, source;
    narrow.ReadFromString(c.text);
    source.ReadFromString((wide + c.text).c_str());
    EXPECT_EQ(Dump(VoDataBase(narrow)), c.dump) << c.text;
    EXPECT_EQ(Dump(VoDataBase(source)), wideDump + c.dump) << c.text;
    VoDataBase narrowSet, wideSet;
    narrowSet.MergeDB(&narrow, false);
    wideSet.MergeDB(&source, false);
    wideSet.MergeDB(&source, false);  // every key found again
    EXPECT_EQ(Dump(wideSet), wideDump + Dump(narrowSet)) << c.text;
  }
  // A wide level that repeats keys of the target's own entries merges into those.
  VoDataBase source;
  source.ReadFromString(wide.c_str());
  VoDataBase target;
  target.ReadFromString("p3 = 0\n{\nw = 0\n}\n");
  target.MergeDB(&source, true);
  std::string merged = "p3=0{w=0;v=1};" + wideDump;
  merged.replace(merged.find("p3={v=1}"), 8, "p3=");
  EXPECT_EQ(Dump(target) + ";", merged);
}

TEST(VoDataBaseMerge, KeysAreTakenAsPathsWithoutAppend) {
  VoDataBase source;
  source.ReadFromString("\"a/b\" = 1\n{\nc = 2\n}\n");
  VoDataBase target;
  target.MergeDB(&source, false);
  EXPECT_EQ(Dump(target), "a={b=1{c=2}}");
}

TEST(VoDataBaseMerge, MergingIntoItselfVisitsOnlyTheFormerEntries) {
  VoDataBase db;
  db.ReadFromString("a = 1\n{\nb = 2\n}\nc = 3\n");
  db.MergeDB(&db, true);
  EXPECT_EQ(Dump(db), "a=1{b=2;b=2};c=3;a=1;c=3");
}

TEST(VoDataBaseCopy, CopyIsDeepAndIndependent) {
  VoDataBase source;
  source.ReadFromString("a = 1\n{\nb = 2\n{\nc = 3\n}\n}\nd = 4\n");
  VoDataBase copy(source);
  EXPECT_EQ(Dump(copy), Dump(source));
  EXPECT_EQ(copy.RefCount(), 1);
  EXPECT_NE(copy.GetDB("a", false), source.GetDB("a", false));
  EXPECT_NE(copy.GetDB("a/b", false), source.GetDB("a/b", false));
  copy.SetString("a/b/c", "changed");
  copy.SetString("a/new", "x");
  EXPECT_EQ(source.GetString("a/b/c"), "3");
  EXPECT_FALSE(source.Exists("a/new"));
}

TEST(VoDataBaseCopy, AssignmentReplacesContentButNotTheCount) {
  VoDataBase* target = NewDB();
  target->NewRef();
  target->SetString("old", "x");
  VoDataBase source;
  source.ReadFromString("a = 1\n{\nb = 2\n}\n");
  *target = source;
  EXPECT_EQ(Dump(*target), "a=1{b=2}");
  EXPECT_EQ(target->RefCount(), 2);
  VoDataBase& alias = *target;
  *target = alias;  // self-assignment keeps everything
  EXPECT_EQ(Dump(*target), "a=1{b=2}");
  target->Delete();
  target->Delete();
}

TEST(VoDataBaseCopy, AssigningANestedLevelToItsAncestorIsSafe) {
  VoDataBase db;
  db.ReadFromString("a = 1\n{\nb = 2\n{\nc = 3\n}\n}\nd = 4\n");
  db = *db.GetDB("a", false);  // the source dies with the entries it replaces
  EXPECT_EQ(Dump(db), "b=2{c=3}");
  VoDataBase outer;
  outer.ReadFromString("x = 1\n{\ny = 2\n}\n");
  VoDataBase* inner = outer.GetDB("x", false);
  *inner = outer;  // a level assigned from the database that holds it
  EXPECT_EQ(Dump(outer), "x=1{x=1{y=2}}");
}

// ---------------------------------------------------------------- references

TEST(VoDataBaseRefs, SetDBOwnedHandsTheReferenceOver) {
  const struct {
    bool owned;
    int countAfter;
  } cases[] = {{true, 1}, {false, 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.owned);
    VoDataBase* nested = NewDB();
    nested->NewRef();  // a witness reference so the database can be observed throughout
    {
      VoDataBase db;
      db.SetDB("a/b", nested, c.owned);
      EXPECT_EQ(nested->RefCount(), c.countAfter + 1);
      EXPECT_EQ(db.GetDB("a/b", false), nested);
      // Setting the same database again changes nothing but the caller's part.
      nested->NewRef();
      db.SetDB("a/b", nested, true);
      EXPECT_EQ(nested->RefCount(), c.countAfter + 1);
      db.SetDB("a/b", nullptr, true);  // releases the entry's reference
      EXPECT_EQ(nested->RefCount(), c.countAfter);
      EXPECT_EQ(db.GetDB("a/b", false), nullptr);
      EXPECT_TRUE(db.Exists("a/b"));
    }
    if (!c.owned) nested->Delete();
    EXPECT_EQ(nested->RefCount(), 1);
    nested->Delete();
  }
}

TEST(VoDataBaseRefs, EntryConstructorsCopiesAndAssignment) {
  VoDataBase* db = NewDB();
  {
    VoDBData borrowed("k", "v", db, false);
    EXPECT_EQ(db->RefCount(), 2);
    {
      VoDBData copy(borrowed);
      EXPECT_EQ(db->RefCount(), 3);
      EXPECT_EQ(copy.GetDB(), db);
      EXPECT_EQ(copy.GetKey(), "k");
      EXPECT_EQ(copy.GetVal(), "v");
      VoDBData other("x", "y");
      other = copy;
      EXPECT_EQ(db->RefCount(), 4);
      VoDBData& alias = other;  // self-assignment through a reference
      other = alias;
      EXPECT_EQ(db->RefCount(), 4);
      other = VoDBData();
      EXPECT_EQ(db->RefCount(), 3);
      EXPECT_EQ(other.GetDB(), nullptr);
      EXPECT_EQ(other.GetKey(), "");
    }
    EXPECT_EQ(db->RefCount(), 2);
    db->NewRef();
    VoDBData owned("k2", "v2", db, true);
    EXPECT_EQ(db->RefCount(), 3);
    owned.SetDB(nullptr, false);
    EXPECT_EQ(db->RefCount(), 2);
    owned.SetKey("nk");
    owned.SetVal("nv");
    EXPECT_EQ(owned.GetKey(), "nk");
    EXPECT_EQ(owned.GetVal(), "nv");
  }
  EXPECT_EQ(db->RefCount(), 1);
  db->Delete();
}

TEST(VoDataBaseRefs, RemovedOverwrittenAndClearedEntriesReleaseTheirDatabases) {
  enum Action { kRemoveIndex, kRemoveKey, kClear, kOverwrite, kReplaceByRead, kDestroy };
  for (Action action : {kRemoveIndex, kRemoveKey, kClear, kOverwrite, kReplaceByRead, kDestroy}) {
    SCOPED_TRACE(static_cast<int>(action));
    VoDataBase* nested = NewDB();
    {
      VoDataBase db;
      db.SetString("first", "1");
      db.SetDB("held", nested, false);  // entry 1
      db.SetString("last", "3");
      EXPECT_EQ(nested->RefCount(), 2);
      switch (action) {
        case kRemoveIndex:
          db.RemoveIndex(1);
          break;
        case kRemoveKey:
          db.Remove("held");
          break;
        case kClear:
          db.Clear();
          break;
        case kOverwrite:
          db.SetDB("held", NewDB(), true);
          break;
        case kReplaceByRead:
          db.ReadFromString("x = 1\n");
          break;
        case kDestroy:
          break;
      }
      if (action != kDestroy) {
        EXPECT_EQ(nested->RefCount(), 1);
      }
    }
    EXPECT_EQ(nested->RefCount(), 1);
    nested->Delete();
  }
}

TEST(VoDataBaseRefs, RemovingFromAFullLevelReleasesTheMovedCopies) {
  // Ten entries fill a new level exactly; removing one leaves a copy of a
  // moved entry in the spare slot, which must not keep a database alive.
  VoDataBase* nested = NewDB();
  {
    VoDataBase db;
    db.SetDB("k0", nested, false);
    for (int i = 1; i < 10; ++i) db.SetInt(VoString().Printf("k%d", i), i);
    db.RemoveIndex(5);
    EXPECT_EQ(nested->RefCount(), 2);
    db.RemoveIndex(0);
    EXPECT_EQ(nested->RefCount(), 1);
    EXPECT_EQ(db.GetCount(), 8);
    EXPECT_EQ(db.GetIndexedName(0), "k1");
  }
  nested->Delete();
}

TEST(VoDataBaseRefs, CreatedLevelsAreHeldOnlyByTheirEntries) {
  VoDataBase db;
  VoDataBase* made = db.GetDB("x/y", true);
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(made->RefCount(), 1);
  EXPECT_EQ(db.GetDB("x", false)->RefCount(), 1);
  EXPECT_EQ(db.GetDB("x/y", true), made);
  EXPECT_EQ(db.GetDB("nothing", false), nullptr);
  EXPECT_EQ(db.GetCount(), 1);
  db.ReadFromString("a = 1\n{\nb = 2\n}\n");
  EXPECT_EQ(db.GetDB("a", false)->RefCount(), 1);
  VoDataBase copy(db);
  EXPECT_EQ(copy.GetDB("a", false)->RefCount(), 1);
}

TEST(VoDataBaseRefs, BehavesAsAVoObject) {
  VoDataBase db;
  EXPECT_STREQ(db.GetTypeName(), "VoObject");
  EXPECT_EQ(db.Cast("VoObject"), static_cast<void*>(&db));
  EXPECT_EQ(db.Cast("VoDataBase"), nullptr);
}

// ---------------------------------------------------------------- depth

// A chain of \p depth nested levels below \p root, each level holding one
// entry "k" (the levels are emptied first, so each keeps a one-slot list).
void BuildChain(VoDataBase& root, int depth) {
  VoDataBase* level = &root;
  for (int i = 0; i < depth; ++i) {
    VoDataBase* next = NewDB();
    next->Clear();
    level->SetDB("k", next, true);
    level = next;
  }
  level->SetString("k", "bottom");
}

int ChainDepth(VoDataBase* level) {
  int depth = 0;
  while ((level = level->GetDB("k", false)) != nullptr) ++depth;
  return depth;
}

constexpr int kDeep = 100000;  // far beyond what recursion survives, ASan or not

TEST(VoDataBaseDeep, DestroyCopyMergeAndAssignWithoutRecursion) {
  auto* root = NewDB();
  BuildChain(*root, kDeep);
  {
    VoDataBase copy(*root);
    EXPECT_EQ(ChainDepth(&copy), kDeep);
    EXPECT_TRUE(vodbtest::SameDataBase(copy, *root));
  }
  {
    VoDataBase merged;
    merged.MergeDB(root, false);
    EXPECT_EQ(ChainDepth(&merged), kDeep);
    VoDataBase assigned;
    assigned.SetString("old", "x");
    assigned = *root;
    EXPECT_EQ(ChainDepth(&assigned), kDeep);
  }
  // Clearing and removing release deep levels the same way.
  VoDataBase other(*root);
  other.Clear();
  root->RemoveIndex(0);
  EXPECT_EQ(root->GetCount(), 0);
  root->Delete();
}

TEST(VoDataBaseDeep, ADeepLevelSharedWithACallerSurvives) {
  VoDataBase* root = NewDB();
  BuildChain(*root, 1000);
  VoDataBase* middle = root;
  for (int i = 0; i < 500; ++i) middle = middle->GetDB("k", false);
  middle->NewRef();
  root->Delete();
  EXPECT_EQ(middle->RefCount(), 1);
  EXPECT_EQ(ChainDepth(middle), 500);
  EXPECT_EQ(middle->GetString("k/k/k/k"), "");
  middle->Delete();
}

}  // namespace
