// VoDataBaseTextTest.cpp - the database text format: writer layouts, scanner, reader, errors, round trips.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "VoCore/VoError.h"
#include "VoCore/VoString.h"
#include "VoData/VoDataBase.h"
#include "VoDataBaseTestUtil.h"

using vodbtest::Dump;
using vodbtest::ErrorCode;
using vodbtest::LayoutScope;
using vodbtest::Node;

namespace {

VoString Str(const std::string& s) { return VoString(s.data(), static_cast<long>(s.size())); }
std::string Std(const VoString& s) { return std::string(s.c_str(), static_cast<size_t>(s.length())); }

// Reads \p text into a fresh database; returns the error code (0 when none)
// and leaves the database's picture in \p dump.
unsigned long ReadDump(const std::string& text, std::string& dump) {
  VoDataBase db;
  const unsigned long code = ErrorCode([&] { db.ReadFromString(Str(text)); });
  dump = Dump(db);
  return code;
}

std::string Replace(std::string s, const std::string& from, const std::string& to) {
  for (size_t at = 0; (at = s.find(from, at)) != std::string::npos; at += to.size())
    s.replace(at, from.size(), to);
  return s;
}

// ---------------------------------------------------------------- the worked example

void FillExample(VoDataBase& db) {
  db.SetString("Name", "Big Box");
  db.SetInt("Count", 3);
  db.SetString("Note", "");
  db.SetString("Window/Left", "10");
  db.SetString("Window/Title", "say \"hi\"");
  db.SetString("Path", "C:\\tmp");
}

const char kExamplePlain[] =
    "Name = \"Big Box\"\n"
    "Count = 3\n"
    "Note = \n"
    "Window = \n"
    "{\n"
    "\tLeft = 10\n"
    "\tTitle = \"say \\\"hi\\\"\"\n"
    "}\n"
    "Path = C:\\tmp\n";

const char kExampleBracketed[] =
    "{\n"
    "\t<\"Name\" = \"Big Box\">\n"
    "\t<\"Count\" = \"3\">\n"
    "\t<\"Note\" = \"\">\n"
    "\t<\"Window\" = \"\">\n"
    "\t{\n"
    "\t\t<\"Left\" = \"10\">\n"
    "\t\t<\"Title\" = \"say \\\"hi\\\"\">\n"
    "\t}\n"
    "\t<\"Path\" = \"C:\\\\tmp\">\n"
    "}\n";

TEST(VoDataBaseText, WorkedExampleByteForByteInBothLayouts) {
  VoDataBase db;
  FillExample(db);
  {
    LayoutScope plain(false);
    EXPECT_EQ(Std(db.WriteToString()), kExamplePlain);
  }
  {
    LayoutScope bracketed(true);
    EXPECT_EQ(Std(db.WriteToString()), kExampleBracketed);
  }
  for (const char* text : {kExamplePlain, kExampleBracketed}) {
    for (bool layout : {false, true}) {  // the reader ignores the switch
      LayoutScope scope(layout);
      VoDataBase back;
      back.ReadFromString(text);
      EXPECT_TRUE(vodbtest::SameDataBase(back, db)) << text;
      EXPECT_EQ(Dump(back), "Name=Big Box;Count=3;Note=;Window={Left=10;Title=say \"hi\"};Path=C:\\x5Ctmp");
    }
  }
}

TEST(VoDataBaseText, EmptyDatabase) {
  VoDataBase db;
  {
    LayoutScope plain(false);
    EXPECT_EQ(db.WriteToString().length(), 0);
    EXPECT_EQ(db.DB2String(0).length(), 0);
  }
  {
    LayoutScope bracketed(true);
    EXPECT_EQ(Std(db.WriteToString()), "{\n}\n");
  }
  for (const char* text : {"", "{\n}\n", "{}", " \n\t\r\n", "# nothing\n", "}"}) {
    std::string dump = "x";
    EXPECT_EQ(ReadDump(text, dump), 0u) << text;
    EXPECT_EQ(dump, "") << text;
  }
}

TEST(VoDataBaseText, SaveControlCharsReturnsThePreviousSetting) {
  const bool original = VoDataBase::SaveControlChars(true);
  EXPECT_TRUE(VoDataBase::mSaveControlChars);
  EXPECT_TRUE(VoDataBase::SaveControlChars(false));
  EXPECT_FALSE(VoDataBase::SaveControlChars(false));
  VoDataBase::SaveControlChars(original);
}

// ---------------------------------------------------------------- one entry's text

TEST(VoDataBaseText, EntryTextQuotesWhereNeeded) {
  const struct {
    std::string key, value, plain, quoted;
  } cases[] = {
      {"a", "1", "a = 1", "\"a\" = \"1\""},
      {"", "", "\"\" = ", "\"\" = \"\""},
      {"k", "", "k = ", "\"k\" = \"\""},
      {"a b", "x", "\"a b\" = x", "\"a b\" = \"x\""},
      {"k", "C:\\tmp", "k = C:\\tmp", "\"k\" = \"C:\\\\tmp\""},
      {"k", "a\tb", "k = \"a\tb\"", "\"k\" = \"a\tb\""},
      {"k", "one\ntwo", "k = \"one\ntwo\"", "\"k\" = \"one\ntwo\""},
      {"k", "x\r", "k = \"x\r\"", "\"k\" = \"x\r\""},
      {"k", "say \"hi\"", "k = \"say \\\"hi\\\"\"", "\"k\" = \"say \\\"hi\\\"\""},
      {"k\"", "v", "\"k\\\"\" = v", "\"k\\\"\" = \"v\""},
      {"k", "\\", "k = \\", "\"k\" = \"\\\\\""},
      {"a#", "#1", "a# = #1", "\"a#\" = \"#1\""},
      {">a", "<b>", ">a = <b>", "\">a\" = \"<b>\""},
      {"a=b", "=", "a=b = =", "\"a=b\" = \"=\""},
      // Bare, these keys would read back as a comment, a brace or a bracketed entry.
      {"#a", "1", "\"#a\" = 1", "\"#a\" = \"1\""},
      {"{a", "1", "\"{a\" = 1", "\"{a\" = \"1\""},
      {"}", "1", "\"}\" = 1", "\"}\" = \"1\""},
      {"<a", "1", "\"<a\" = 1", "\"<a\" = \"1\""},
      {"\xE9t\xE9", "\xFF", "\xE9t\xE9 = \xFF", "\"\xE9t\xE9\" = \"\xFF\""},
      // Longer texts, looked at eight bytes at a time: other control characters
      // need no quotes; a special character in the last, overlapping word counts.
      {"k", "0123456789\x01\x1F\x7F", "k = 0123456789\x01\x1F\x7F", "\"k\" = \"0123456789\x01\x1F\x7F\""},
      {"k", "0123456789abcdef\\", "k = 0123456789abcdef\\", "\"k\" = \"0123456789abcdef\\\\\""},
      {"k", "0123456789abcde\"", "k = \"0123456789abcde\\\"\"", "\"k\" = \"0123456789abcde\\\"\""},
      {"k", "01234567 89abcdef\\x", "k = \"01234567 89abcdef\\\\x\"", "\"k\" = \"01234567 89abcdef\\\\x\""},
      {"abcdefghi\tjk", "0123456789abcdefghij\r", "\"abcdefghi\tjk\" = \"0123456789abcdefghij\r\"",
       "\"abcdefghi\tjk\" = \"0123456789abcdefghij\r\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.plain);
    VoDBData entry(Str(c.key), Str(c.value));
    EXPECT_EQ(Std(entry.GetString(false)), c.plain);
    EXPECT_EQ(Std(entry.GetString(true)), c.quoted);
  }
  // Keys and values are written as text up to their first zero byte.
  VoDBData zeros(VoString("ab\0cd", 5), VoString("x y\0z", 5));
  EXPECT_EQ(Std(zeros.GetString(false)), "ab = \"x y\"");
}

TEST(VoDataBaseText, EntryRoundTripsInBothLayouts) {
  const char* const texts[] = {"#a", "{",  "}",   "<",    "<a>", "# x",   "#{", "#}",   "",     " ",
                               "\"", "\\", "a\\", "\r\n", "=",   "a = b", "\t", "x\ny", "\\\"", "\xFF\x01"};
  for (bool bracketed : {false, true}) {
    LayoutScope scope(bracketed);
    for (const char* key : texts) {
      for (const char* value : texts) {
        VoDataBase db;
        db.ReadFromString(Str("<" + Std(VoString(key).QuoteString()) + " = " +
                              Std(VoString(value).QuoteString()) + ">\n{\n<\"in\" = \"1\">\n}\n"));
        ASSERT_EQ(db.GetCount(), 1);
        ASSERT_EQ(db.GetIndexedName(0), key);
        ASSERT_EQ(db.GetIndexedValue(0), value);
        VoDataBase back;
        back.ReadFromString(db.WriteToString());
        EXPECT_TRUE(vodbtest::SameDataBase(back, db))
            << "layout " << bracketed << " key [" << key << "] value [" << value << "]\n"
            << db.WriteToString().c_str();
      }
    }
  }
}

TEST(VoDataBaseText, DB2StringIndentsByLevel) {
  VoDataBase db;
  db.SetString("a/b", "2");
  LayoutScope plain(false);
  EXPECT_EQ(Std(db.DB2String(2)), "\t\ta = \n\t\t{\n\t\t\tb = 2\n\t\t}\n");
  EXPECT_EQ(Std(db.DB2String(-3)), Std(db.DB2String(0)));
  LayoutScope bracketed(true);
  EXPECT_EQ(Std(db.DB2String(0)), "<\"a\" = \"\">\n{\n\t<\"b\" = \"2\">\n}\n");
}

// ---------------------------------------------------------------- scanner

TEST(VoDataBaseScanner, GetNextChar) {
  const struct {
    std::string text;
    long start;
    char expected;
    long endPos;
  } cases[] = {
      {"", 0, 0, 0},
      {std::string(" \t\n\r\0x", 6), 0, 'x', 6},
      {"x", 1, 0, 1},
      {"x", 7, 0, 7},
      {"a#b", 0, 'a', 1},
      {"a#b", 1, 0, 3},
      {"# comment\nx", 0, 'x', 11},
      {"#\nx", 0, 'x', 3},
      {"#", 0, 0, 1},
      {"#}x\ny", 0, 'y', 5},  // outside a block "#}" is a line comment
      {"#{ rest\nskipped\n#}x", 0, 'x', 19},
      {"#{\nskipped\n  #}\nstill\n#}\ny", 0, 'y', 26},  // an indented "#}" does not end the block
      {"#{\nx #} y\n#}z", 0, 'z', 13},
      {"#{\n\n#}\nz", 0, 'z', 8},  // an empty line counts as one line
      {"#{\r\n\r\n#}\r\nz", 0, 'z', 11},
      {"#{\r\r#}\rz", 0, 'z', 8},
      {"#{\n\r\n\r#}z", 0, 'z', 9},  // LF CR pairs are one line end
      {"#{ never closed\nx = 1\n", 0, 0, 22},
      {"#{\n#", 0, 0, 4},
      {"  <", 0, '<', 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.text));
    long pos = c.start;
    EXPECT_EQ(VoDataBase::GetNextChar(Str(c.text), pos), c.expected);
    EXPECT_EQ(pos, c.endPos);
  }
  long negative = -1;
  EXPECT_EQ(ErrorCode([&] { VoDataBase::GetNextChar("abc", negative); }), eVoIndexError);
}

TEST(VoDataBaseScanner, SkipLine) {
  const struct {
    std::string text;
    long start, endPos;
  } cases[] = {
      {"abc\ndef", 0, 4},   {"abc\r\ndef", 0, 5}, {"abc\n\rdef", 0, 5}, {"abc\n\ndef", 0, 4},
      {"abc\r\rdef", 0, 4}, {"abc", 0, 3},        {"", 0, 0},           {"\r\n", 0, 2},
      {"ab\n", 5, 5},       {"a\nb\nc", 2, 4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.text));
    long pos = c.start;
    VoDataBase::SkipLine(Str(c.text), pos);
    EXPECT_EQ(pos, c.endPos);
  }
  long negative = -5;
  EXPECT_EQ(ErrorCode([&] { VoDataBase::SkipLine("abc", negative); }), eVoIndexError);
}

TEST(VoDataBaseScanner, EntrySetStringLeavesThePositionBehindTheValue) {
  const struct {
    std::string text;
    std::string key, value;
    long endPos;
  } cases[] = {
      {"  k = \"v\" rest", "k", "v", 9},
      {"k = v\r\nnext", "k", "v", 6},
      {"k = v", "k", "v", 5},
      {"k = \nnext", "k", "", 4},
      {"\"a b\"\n=\t  x y \n", "a b", "x y ", 15},
      {"k =", "k", "", 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.text));
    VoDBData entry;
    long pos = 0;
    entry.SetString(Str(c.text), pos);
    EXPECT_EQ(Std(entry.GetKey()), c.key);
    EXPECT_EQ(Std(entry.GetVal()), c.value);
    EXPECT_EQ(pos, c.endPos);
  }
  VoDBData entry("old", "kept");
  long pos = 0;
  EXPECT_EQ(ErrorCode([&] { entry.SetString("key=value", pos); }), eVoFormatErr);
  EXPECT_EQ(entry.GetKey(), "old");
  EXPECT_EQ(entry.GetVal(), "kept");
  pos = -1;
  EXPECT_EQ(ErrorCode([&] { entry.SetString("a = 1", pos); }), eVoIndexError);
}

TEST(VoDataBaseScanner, String2DBAppendsOneLevel) {
  VoDataBase db;
  db.SetString("x", "0");
  const VoString text("a = 1\n{\nb = 2\n}\n}\nc = 3");
  long pos = 0;
  db.String2DB(text, pos);
  EXPECT_EQ(Dump(db), "x=0;a=1{b=2}");
  EXPECT_EQ(pos, 17);  // behind the "}" that ends the level
  db.String2DB(text, pos);
  EXPECT_EQ(Dump(db), "x=0;a=1{b=2};c=3");
  pos = -2;
  EXPECT_EQ(ErrorCode([&] { db.String2DB(text, pos); }), eVoIndexError);
  // A level that opens at once belongs to the level's last entry read earlier.
  pos = 0;
  db.String2DB("{\nz = 9\n}\nd = 4", pos);
  EXPECT_EQ(Dump(db), "x=0;a=1{b=2};c=3{z=9};d=4");
  VoDataBase empty;
  pos = 0;
  EXPECT_EQ(ErrorCode([&] { empty.String2DB("{\nz = 9\n}", pos); }), eVoIndexError);
  EXPECT_EQ(empty.GetCount(), 0);
}

// ---------------------------------------------------------------- reading

TEST(VoDataBaseReader, AcceptedTexts) {
  const struct {
    std::string text;
    std::string dump;
  } cases[] = {
      {"a = 1", "a=1"},
      {"a = x # y\n", "a=x # y"},
      {"a = \"x\" b = 1\n", "a=x;b=1"},
      {"a = \nb = 2", "a=;b=2"},
      {"a =\nb = 2", "a=;b=2"},
      {"a =\r\nb = 2", "a=;b=2"},
      {"a =", "a="},
      {"a = ", "a="},
      {"a = 1 \t\n", "a=1 \\x09"},
      {"a =   \t1\n", "a=1"},
      {"a = \"\"\n", "a="},
      {"\"a\"= 1\n", "a=1"},
      {"\"a\"\n= 1\n", "a=1"},
      {"\"\" = 1\n", "=1"},
      {"a=b = 1\n", "a\\x3Db=1"},
      {"  a = 1\n\t\tb = 2\n", "a=1;b=2"},
      {"a = \"multi\nline\"\n", "a=multi\\x0Aline"},
      {"a = \"C:\\\\tmp\"\n", "a=C:\\x5Ctmp"},
      {"a = \"x\\ny\"\n", "a=x\\x5Cny"},  // no escape but \" and \\: the pair stays
      {"a = \"", "a="},                   // a lone quote unquotes to nothing
      {"a = \"x\\\"", "a=x\\x5C"},        // an escaped quote at the end closes nothing, yet unquotes
      {"a = 1\na = 2\n", "a=1;a=2"},
      {"a = 1\n{\nb = 2\n}\n{\nc = 3\n}\n", "a=1{c=3}"},
      {"a = 1\nb = 2\n}\nc = 3", "a=1;b=2"},
      {"{\na = 1\n}\nb = 2", "a=1"},
      {"{\na = 1\n{\nb = 2\n", "a=1{b=2}"},
      {"a = 1 {\n", "a=1 \\x7B"},
      {"a = \"1\" {\nb = 2\n}", "a=1{b=2}"},
      {"a = 1\n  {  b = 2  }  \n", "a=1{b=2  \\x7D  }"},
      {"a = 1\n{\n\"b\" = \"2\"}\n", "a=1{b=2}"},
      {"<a = \"1\">", "a=1"},
      {"< \"a\" =  \"1\"  >", "a=1"},
      {"<a = \"1\"\n>", "a=1"},
      {"<\"a\" = \"1\"><\"b\" = \"2\">", "a=1;b=2"},
      {"a = 1\n<\"b\" = \"2\">\nc = 3", "a=1;b=2;c=3"},
      {"# head\na = 1\n# between\nb = 2\n# tail", "a=1;b=2"},
      {"#{\na = 1\n#}\nb = 2", "b=2"},
      {"#{\na = 1\n  #}\nb = 2\n#}\nc = 3", "c=3"},
      {"#{\n\n#}\nb = 2", "b=2"},
      {"#{\na = 1\n#} b = 2\n", "b=2"},
      {"a = 1 # not a comment\n{\n# comment\nb = 2 #}\n}", "a=1 # not a comment{b=2 #\\x7D}"},
      {std::string("a\0= 1", 5), "a=1"},
      // A zero byte inside a bare value: each append counts the text again, so
      // the x lands where the zero was.
      {std::string("a = \0x\n", 7), "a=x"},
      {"\xE9 = \xFF\n", "\xE9=\xFF"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.text));
    std::string dump;
    EXPECT_EQ(ReadDump(c.text, dump), 0u);
    EXPECT_EQ(dump, c.dump);
  }
}

TEST(VoDataBaseReader, ErrorsKeepTheEntriesReadBefore) {
  const struct {
    std::string text;
    unsigned long code;
    std::string dump;
  } cases[] = {
      {"{{", eVoIndexError, ""},
      {"{\n{\na = 1\n}\n}", eVoIndexError, ""},
      {"a = 1\n{\n{\nb = 2\n}\n}\n", eVoIndexError, "a=1"},
      {"a = 1\n}\n{\n", 0, "a=1"},
      {"<a = 1>", eVoFormatErr, "a=1>"},
      {"<a = \"1\" b = 2", eVoFormatErr, "a=1"},
      {"<a = \"1\"", eVoFormatErr, "a=1"},
      {"key=value\n", eVoFormatErr, ""},
      {"key =value\n", eVoFormatErr, ""},
      {"key= value\n", eVoFormatErr, ""},
      {"a == 1\n", eVoFormatErr, ""},
      {"a = 1\nb", eVoFormatErr, "a=1"},
      {"a = 1\nb c = 2", eVoFormatErr, "a=1"},
      {"a = 1\nb\n", eVoFormatErr, "a=1"},
      {"a = \"abc", eVoFormatErr, ""},
      {"a = 1\n\"b = 2\n", eVoFormatErr, "a=1"},
      {std::string("a = \"x\0y\"", 9), eVoFormatErr, ""},
      {std::string("a = \"x\\\0y\"", 10), eVoFormatErr, ""},
      {"a = 1\n{\nb = 2\nc\n}\nd = 4", eVoFormatErr, "a=1"},
      {"a = 1\n{\nb = 2\n{\nc = 3\n}\nd\n}\n", eVoFormatErr, "a=1"},
      {"a = 1\n{\nb = 2\n}\nc = 3\n{\n{\n}\n}", eVoIndexError, "a=1{b=2};c=3"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.text));
    std::string dump;
    EXPECT_EQ(ReadDump(c.text, dump), c.code);
    EXPECT_EQ(dump, c.dump);
  }
  // The error carries its fixed name.
  VoDataBase db;
  try {
    db.ReadFromString("key=value");
    ADD_FAILURE() << "no error";
  } catch (const VoError& e) {
    EXPECT_STREQ(e.GetErrName(), "VoFormatErr");
  }
}

TEST(VoDataBaseReader, ReadingReplacesTheContent) {
  VoDataBase db;
  db.ReadFromString("a = 1\n{\nb = 2\n}\n");
  db.ReadFromString("c = 3\n");
  EXPECT_EQ(Dump(db), "c=3");
  // Reading a text that an entry of the database itself holds.
  db.SetString("t", "x = 9\n");
  db.ReadFromString(db.GetString("t"));
  EXPECT_EQ(Dump(db), "x=9");
}

TEST(VoDataBaseReader, LineEndConventionsReadTheSame) {
  const std::string lf =
      "# settings\n"
      "a = 1\n"
      "#{\n"
      "hidden = 1\n"
      "\n"
      "#}\n"
      "b = \"two\nlines\"\n"
      "c = \n"
      "{\n"
      "\t<\"d\" = \"4\">\n"
      "\te = five 5\n"
      "}\n";
  std::string expected;
  ASSERT_EQ(ReadDump(lf, expected), 0u);
  ASSERT_EQ(expected, "a=1;b=two\\x0Alines;c={d=4;e=five 5}");
  for (const char* end : {"\r\n", "\r", "\n\r"}) {
    SCOPED_TRACE(::testing::PrintToString(std::string(end)));
    // Line ends inside the quoted value become part of it; compare the rest.
    std::string text = Replace(lf, "\n", end);
    std::string dump;
    EXPECT_EQ(ReadDump(text, dump), 0u);
    EXPECT_EQ(Replace(dump, Replace(Replace(end, "\r", "\\x0D"), "\n", "\\x0A"), "\\x0A"), expected);
  }
}

// ---------------------------------------------------------------- depth

std::string NestedText(int depth) {
  std::string text;
  for (int i = 0; i < depth; ++i) text += "k = 1\n{\n";
  text += "k = bottom\n";
  for (int i = 0; i < depth; ++i) text += "}\n";
  return text;
}

TEST(VoDataBaseDepth, ReaderAcceptsTheLimitAndRejectsDeeper) {
  VoDataBase db;
  db.ReadFromString(Str(NestedText(VoDataBase::mMaxNesting)));
  VoDataBase* level = &db;
  int depth = 0;
  while (level->GetIndexedDB(0) != nullptr) {
    level = level->GetIndexedDB(0);
    ++depth;
  }
  EXPECT_EQ(depth, VoDataBase::mMaxNesting);
  EXPECT_EQ(level->GetIndexedValue(0), "bottom");

  EXPECT_EQ(ErrorCode([&] { db.ReadFromString(Str(NestedText(VoDataBase::mMaxNesting + 1))); }),
            eVoFormatErr);
  EXPECT_EQ(Dump(db), "k=1");  // the first entry stays, its unfinished level is gone
}

TEST(VoDataBaseDepth, AMillionOpeningBracesEndInAFormatError) {
  const std::string braces(1000000, '{');
  std::string dump;
  EXPECT_EQ(ReadDump(braces, dump), eVoFormatErr);
  EXPECT_EQ(dump, "");
  EXPECT_EQ(ReadDump("a = 1\n" + braces, dump), eVoFormatErr);
  EXPECT_EQ(dump, "a=1");
  std::string entries;
  for (int i = 0; i < 1000000 / 8; ++i) entries += "k = 1\n{\n";
  EXPECT_EQ(ReadDump(entries, dump), eVoFormatErr);
  EXPECT_EQ(dump, "k=1");
}

TEST(VoDataBaseDepth, WriterAcceptsTheLimitAndRejectsDeeper) {
  for (bool bracketed : {false, true}) {
    LayoutScope scope(bracketed);
    VoDataBase db;
    VoString path("k");
    for (int i = 0; i < VoDataBase::mMaxNesting; ++i) path += "/k";
    db.SetString(path, "bottom");  // levels 0 .. limit
    const VoString text = db.WriteToString();
    VoDataBase back;
    back.ReadFromString(text);
    EXPECT_TRUE(vodbtest::SameDataBase(back, db));
    EXPECT_EQ(back.GetString(path), "bottom");
    db.GetDB(path, true);  // one level more
    EXPECT_EQ(ErrorCode([&] { db.WriteToString(); }), eVoFormatErr);
  }
}

TEST(VoDataBaseDepth, AMillionLevelsBuiltByPathCannotBeWrittenButDoNotCrash) {
  VoDataBase db;
  VoDataBase* level = &db;
  for (int i = 0; i < 1000000; ++i) {
    VoDataBase* next = new VoDataBase;
    next->Clear();
    level->SetDB("k", next, true);
    level = next;
  }
  EXPECT_EQ(ErrorCode([&] { db.WriteToString(); }), eVoFormatErr);
  EXPECT_EQ(ErrorCode([&] { db.DB2String(3); }), eVoFormatErr);
}

// ---------------------------------------------------------------- properties

// A reader written straight from the format's rules on top of the string
// tokenizer (ReadString, UnQuoteString), building a test-side tree. The
// library's reader must agree with it on every text.
class ReferenceReader {
 public:
  explicit ReferenceReader(const VoString& text) : mText(text), mLen(text.length()) {}

  // Returns the error code (0 when none); \p top holds what was read.
  unsigned long Read(std::vector<Node>& top) {
    long pos = 0;
    if (Next(pos) != '{') pos = 0;
    try {
      Level(top, pos, 0);
    } catch (const VoError& e) {
      return e.GetErr();
    }
    return 0;
  }

 private:
  char At(long i) const { return mText.c_str()[i]; }
  static bool LineEnd(char c) { return c == '\n' || c == '\r'; }

  void SkipLine(long& pos) const {
    while (pos < mLen) {
      const char c = At(pos++);
      if (LineEnd(c)) {
        if (pos < mLen && LineEnd(At(pos)) && At(pos) != c) ++pos;
        return;
      }
    }
  }

  char Next(long& pos) const {
    bool block = false;
    for (;;) {
      if (pos >= mLen) return 0;
      const char c = At(pos++);
      if (c == '#') {
        if (pos >= mLen) return 0;
        const char d = At(pos++);
        if (block && d == '}') {
          block = false;
          continue;
        }
        if (!block && d == '{') block = true;
        if (LineEnd(d)) --pos;
        SkipLine(pos);
      } else if (block) {
        if (LineEnd(c)) --pos;
        SkipLine(pos);
      } else if (!(c == 0 || c == ' ' || c == '\t' || LineEnd(c))) {
        return c;
      }
    }
  }

  void Entry(Node& n, long& pos) const {
    const VoString key = mText.ReadString(pos, true, VoString());
    n.key = (key.length() > 0 && key.c_str()[0] == '"') ? key.UnQuoteString().c_str() : key.c_str();
    const VoString sep = mText.ReadString(pos, false, VoString());
    if (sep != "=") throw VoError(eVoFormatErr, "VoFormatErr", __FILE__, __LINE__);
    if (pos == mLen && At(mLen - 1) == '=') return;  // the text ends behind "=": empty value
    --pos;
    while (pos < mLen && (At(pos) == ' ' || At(pos) == '\t')) ++pos;
    if (pos >= mLen || LineEnd(At(pos))) return;
    if (At(pos) == '"')
      n.value = mText.ReadString(pos, true, VoString()).UnQuoteString().c_str();
    else
      n.value = mText.ReadString(pos, true, VoString("\r\n")).c_str();
  }

  void Level(std::vector<Node>& level, long& pos, int depth) const {
    for (;;) {
      const char c = Next(pos);
      if (c == 0 || c == '}') return;
      if (c == '{') {
        if (depth >= VoDataBase::mMaxNesting) throw VoError(eVoFormatErr, "VoFormatErr", __FILE__, __LINE__);
        std::vector<Node> nested;
        Level(nested, pos, depth + 1);
        if (level.empty()) throw VoError(eVoIndexError, "VoIndexError", __FILE__, __LINE__);
        level.back().nested = true;
        level.back().kids = std::move(nested);
        continue;
      }
      if (c != '<') --pos;
      Node n;
      Entry(n, pos);
      level.push_back(std::move(n));
      if (c == '<' && Next(pos) != '>') throw VoError(eVoFormatErr, "VoFormatErr", __FILE__, __LINE__);
    }
  }

  VoString mText;
  long mLen;
};

std::string RandomFormatText(vodbtest::Rng& rng) {
  static const char* const pieces[] = {
      "a",
      "key",
      " = ",
      "=",
      " =",
      "= ",
      "\"",
      "\\",
      "\"x y\"",
      "{",
      "}",
      "<",
      ">",
      "#",
      "#{",
      "#}",
      "\n",
      "\r",
      "\r\n",
      "\n\r",
      " ",
      "\t",
      "\"\"",
      "k = v\n",
      "<\"k\" = \"v\">\n",
      "\"q\\\"\" = \"\\\\\"\n",
      "\n{\n",
      "\n}\n",
      "# c\n",
      "#{\n\n#}\n",
      "v w ",
  };
  std::string text;
  const int n = rng.Below(40);
  for (int i = 0; i < n; ++i) {
    if (rng.Below(8) == 0)
      text += static_cast<char>(rng.Below(256));  // any byte, zero included
    else
      text += pieces[rng.Below(static_cast<int>(sizeof pieces / sizeof pieces[0]))];
  }
  return text;
}

TEST(VoDataBaseProperty, ReaderAgreesWithAReferenceBuiltOnTheTokenizer) {
  vodbtest::Rng rng(20240611);
  int errors = 0;
  for (int round = 0; round < 20000; ++round) {
    const std::string text = RandomFormatText(rng);
    std::vector<Node> expected;
    const unsigned long expectedCode = ReferenceReader(Str(text)).Read(expected);
    VoDataBase db;
    const unsigned long code = ErrorCode([&] { db.ReadFromString(Str(text)); });
    std::string why;
    ASSERT_EQ(code, expectedCode) << ::testing::PrintToString(text);
    ASSERT_TRUE(vodbtest::Matches(db, expected, &why)) << why << "\n" << ::testing::PrintToString(text);
    errors += code != 0;
  }
  // The generator must exercise both outcomes.
  EXPECT_GT(errors, 1000);
  EXPECT_LT(errors, 19000);
}

TEST(VoDataBaseProperty, WrittenDatabasesReadBackEqualInBothLayouts) {
  vodbtest::Rng rng(77);
  for (int round = 0; round < 400; ++round) {
    const std::vector<Node> tree = vodbtest::RandomTree(rng, 6, 3);
    VoDataBase db;
    db.ReadFromString(Str(vodbtest::TreeText(tree)));
    std::string why;
    ASSERT_TRUE(vodbtest::Matches(db, tree, &why)) << why;
    for (bool bracketed : {false, true}) {
      LayoutScope scope(bracketed);
      const VoString text = db.WriteToString();
      VoDataBase back;
      back.ReadFromString(text);
      ASSERT_TRUE(vodbtest::Matches(back, tree, &why)) << "layout " << bracketed << ": " << why << "\n"
                                                       << ::testing::PrintToString(Std(text));
      // Writing what was read gives the same text again.
      EXPECT_EQ(Std(back.WriteToString()), Std(text));
    }
  }
}

}  // namespace

namespace {

// An unclosed quoted key or value is reported by the unquoting code, as for
// any malformed quoted string.
TEST(VoDataBaseUnclosedQuoteTest, ErrorComesFromUnQuoteString) {
  const char* texts[] = {"a = \"x", "\"k = 1", "a = 1\nb = \"open\\\"  "};
  for (const char* text : texts) {
    VoDataBase db;
    try {
      db.ReadFromString(text);
      ADD_FAILURE() << "no error for " << text;
    } catch (const VoError& e) {
      EXPECT_EQ(e.GetErr(), 19u) << text;
      EXPECT_STREQ(e.GetErrName(), "VoFormatErr") << text;
      EXPECT_STREQ(e.GetFileName(), "VoStringConvert.cpp") << text;
    }
  }
}

}  // namespace
