// Tests of the exception type.
#include "VoCore/VoError.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

struct FileCase {
  const char* path;
  const char* stored;
};

TEST(VoErrorTest, FileIsReducedToBaseName) {
  const FileCase cases[] = {
      {"/a/b/VoString.cpp", "VoString.cpp"},
      {"C:\\src\\x.cpp", "x.cpp"},
      {"plain.cpp", "plain.cpp"},
      {"mixed/dir\\y.cpp", "y.cpp"},
      {"dir/", ""},
      {nullptr, ""},
  };
  for (const FileCase& c : cases) {
    VoError e(eVoIndexError, "VoIndexError", c.path, 12);
    EXPECT_STREQ(e.GetFileName(), c.stored) << (c.path ? c.path : "(null)");
  }
}

TEST(VoErrorTest, AccessorsAndWhat) {
  VoError e(7, "VoIndexError", "/a/b/VoString.cpp", 12);
  EXPECT_EQ(e.GetErr(), 7u);
  EXPECT_STREQ(e.GetErrName(), "VoIndexError");
  EXPECT_EQ(e.GetLine(), 12);
  EXPECT_STREQ(e.what(), "Error=7 (VoIndexError)");
}

TEST(VoErrorTest, NullNameBecomesUnknown) {
  VoError e(3, nullptr, nullptr, 0);
  EXPECT_STREQ(e.GetErrName(), "Unknown");
  EXPECT_STREQ(e.GetFileName(), "");
  EXPECT_STREQ(e.what(), "Error=3 (Unknown)");
}

TEST(VoErrorTest, NoErrorTexts) {
  VoError def;
  EXPECT_EQ(def.GetErr(), 0u);
  EXPECT_STREQ(def.GetErrName(), "Unknown");
  EXPECT_STREQ(def.what(), "No Error");
  VoError zero(0, "Something", "f.cpp", 1);
  EXPECT_STREQ(zero.what(), "No Error");
}

TEST(VoErrorTest, WhatBuffersAreNotShared) {
  VoError a(7, "VoIndexError", "a.cpp", 1);
  VoError b(19, std::string(500, 'x').c_str(), "b.cpp", 2);
  const char* ta = a.what();
  const char* tb = b.what();
  EXPECT_STREQ(ta, "Error=7 (VoIndexError)");
  EXPECT_EQ(std::string(tb), "Error=19 (" + std::string(500, 'x') + ")");
}

TEST(VoErrorTest, ThrowSysError) {
  struct Case {
    int errnum;
    const char* message;
    const char* name;
  } cases[] = {
      {2, "", "System error: 2"}, {2, "open", "System error: 2 open"}, {-5, "x y", "System error: -5 x y"}};
  for (const Case& c : cases) {
    try {
      VoError::ThrowSysError(c.errnum, c.message);
      FAIL() << "no throw";
    } catch (const VoError& e) {
      EXPECT_EQ(e.GetErr(), 68u);
      EXPECT_STREQ(e.GetErrName(), c.name);
      EXPECT_STREQ(e.GetFileName(), "");
      EXPECT_EQ(e.GetLine(), 0);
    }
  }
}

TEST(VoErrorTest, CopyAndAssignAreDeep) {
  auto* first = new VoError(19, "VoFormatErr", "/x/db.cpp", 40);
  VoError copy(*first);
  VoError assigned;
  assigned = *first;
  delete first;
  for (const VoError* e : {&copy, &assigned}) {
    EXPECT_EQ(e->GetErr(), 19u);
    EXPECT_STREQ(e->GetErrName(), "VoFormatErr");
    EXPECT_STREQ(e->GetFileName(), "db.cpp");
    EXPECT_EQ(e->GetLine(), 40);
  }
  VoError& self = assigned;
  assigned = self;
  EXPECT_STREQ(assigned.GetErrName(), "VoFormatErr");
}

TEST(VoErrorTest, ThrowMacroUsesTableName) {
  try {
    VO_THROW(eVoPtrInvalid);
  } catch (const VoError& e) {
    EXPECT_EQ(e.GetErr(), 20u);
    EXPECT_STREQ(e.GetErrName(), "VoPtrInvalid");
    EXPECT_STREQ(e.GetFileName(), "VoErrorTest.cpp");
    EXPECT_GT(e.GetLine(), 0);
  }
}

TEST(VoErrorTest, TableNames) {
  const std::pair<unsigned long, const char*> table[] = {
      {1, "VoUndefProc"},         {2, "VoUnexpectedErr"},   {3, "VoArgErr"},
      {4, "VoMemFullErr"},        {7, "VoIndexError"},      {12, "VoFileNotOpen"},
      {13, "VoFileLengthFailed"}, {14, "VoFileSeekFailed"}, {15, "VoFilePosFailed"},
      {17, "VoFileWriteFailed"},  {18, "VoFileAccessErr"},  {19, "VoFormatErr"},
      {20, "VoPtrInvalid"},       {42, "VoGeneralErr"}};
  for (const auto& [code, name] : table) EXPECT_STREQ(VoErrorName(code), name);
  EXPECT_EQ(VoErrorName(0), nullptr);
  EXPECT_EQ(VoErrorName(68), nullptr);
}

}  // namespace

namespace {

TEST(VoErrorTest, WhatTextStaysValidAcrossCalls) {
  VoError e(7, "VoIndexError", "/a/b/VoString.cpp", 12);
  const char* first = e.what();
  const char* second = e.what();
  EXPECT_STREQ(first, "Error=7 (VoIndexError)");
  EXPECT_EQ(first, second);
  e = VoError(19, "VoFormatErr", nullptr, 1);
  EXPECT_STREQ(e.what(), "Error=19 (VoFormatErr)");
}

TEST(VoErrorTest, PlatformStatusCodesPrintSigned) {
  VoError e(static_cast<unsigned long>(-1L), "err", "x.cpp", 3);
  EXPECT_STREQ(e.what(), "Error=-1 (err)");
  VoError f(static_cast<unsigned long>(-43L), "err", "x.cpp", 3);
  EXPECT_STREQ(f.what(), "Error=-43 (err)");
}

}  // namespace
