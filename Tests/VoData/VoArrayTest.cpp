// Tests of the checked fixed-size array.
#include "VoData/VoArray.h"

#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <string>

#include "VoCore/VoError.h"
#include "VoData/VoTestProbe.h"

namespace {

using vo_test::Probe;
using vo_test::ProbeFailure;

class VoArrayProbeTest : public ::testing::Test {
 protected:
  void SetUp() override { Probe::Reset(); }
  void TearDown() override {
    Probe::constructBudget = -1;
    Probe::assignBudget = -1;
    EXPECT_EQ(Probe::live, 0) << "elements leaked or destroyed twice";
  }
};

void Fill(VoArray<int>& a, int base) {
  for (int i = 0; i < a.size; ++i) a[i] = base + i;
}

void ExpectIndexError(const std::function<void()>& f, const char* what) {
  try {
    f();
    ADD_FAILURE() << what << ": no error";
  } catch (const VoError& e) {
    EXPECT_EQ(e.GetErr(), 7u) << what;
    EXPECT_STREQ(e.GetErrName(), "VoIndexError") << what;
    EXPECT_STREQ(e.GetFileName(), "VoArray.h") << what;
  }
}

TEST(VoArrayTest, ConstructionGivesDefaultElements) {
  for (int n : {0, 1, 7, 1000}) {
    VoArray<int> a(n);
    EXPECT_EQ(a.size, n);
    EXPECT_NE(a.elements, nullptr);
    for (int i = 0; i < n; ++i) EXPECT_EQ(a[i], 0) << n << ":" << i;
  }
  VoArray<std::string> s(3);
  EXPECT_EQ(s[2], "");
}

TEST(VoArrayTest, OwnerFilledBlocksClearTheRest) {
  VoArray<int> a(8, VoRawElements{3});
  for (int i = 0; i < 3; ++i) a[i] = 5;
  for (int i = 3; i < 8; ++i) EXPECT_EQ(a[i], 0) << i;
  VoArray<std::string> s(4, VoRawElements{4});  // class types are always constructed
  for (int i = 0; i < 4; ++i) EXPECT_EQ(s[i], "");
  EXPECT_THROW(VoArray<int>(-2, VoRawElements{0}), VoError);
}

TEST(VoArrayTest, EveryIndexOutsideTheRangeThrows) {
  VoArray<int> a(3);
  Fill(a, 10);
  const VoArray<int>& c = a;
  for (int i : {-1, 3, 4, INT_MIN, INT_MAX}) {
    const std::string what = "index " + std::to_string(i);
    ExpectIndexError([&] { a[i] = 99; }, what.c_str());
    ExpectIndexError([&] { (void)c[i]; }, what.c_str());
  }
  EXPECT_EQ(a[0], 10);
  EXPECT_EQ(c[2], 12);

  VoArray<int> empty(0);
  ExpectIndexError([&] { (void)empty[0]; }, "empty");
  a.Clear();
  ExpectIndexError([&] { (void)a[0]; }, "cleared");
}

TEST(VoArrayTest, NegativeSizeIsAnArgumentError) {
  try {
    VoArray<int> a(-1);
    ADD_FAILURE() << "no error";
  } catch (const VoError& e) {
    EXPECT_EQ(e.GetErr(), 3u);
  }
  VoArray<int> b(2);
  Fill(b, 1);
  EXPECT_THROW(b.ReSize(-5), VoError);
  EXPECT_EQ(b.size, 2);
  EXPECT_EQ(b[1], 2);
}

TEST(VoArrayTest, CopiesAreIndependent) {
  VoArray<std::string> a(3);
  a[0] = "x";
  a[1] = "y";
  a[2] = "z";
  VoArray<std::string> b(a);
  EXPECT_EQ(b.size, 3);
  EXPECT_NE(b.elements, a.elements);
  b[1] = "changed";
  EXPECT_EQ(a[1], "y");

  VoArray<std::string> c(10);
  c = a;
  EXPECT_EQ(c.size, 3);
  EXPECT_EQ(c[2], "z");
  c[0] = "other";
  EXPECT_EQ(a[0], "x");

  VoArray<std::string> cleared(4);
  cleared.Clear();
  VoArray<std::string> fromCleared(cleared);
  EXPECT_EQ(fromCleared.size, 0);
  c = cleared;
  EXPECT_EQ(c.size, 0);
  ExpectIndexError([&] { (void)c[0]; }, "assigned from cleared");
}

TEST(VoArrayTest, SelfAssignmentKeepsTheBlock) {
  VoArray<int> a(4);
  Fill(a, 5);
  int* block = a.elements;
  VoArray<int>& alias = a;
  a = alias;
  EXPECT_EQ(a.elements, block);
  EXPECT_EQ(a.size, 4);
  EXPECT_EQ(a[3], 8);
}

TEST(VoArrayTest, ReSizeKeepsTheLeadingElements) {
  struct Case {
    int from;
    int to;
  } cases[] = {{5, 8}, {5, 2}, {5, 0}, {0, 3}, {1, 1000}};
  for (const Case& c : cases) {
    VoArray<int> a(c.from);
    Fill(a, 100);
    a.ReSize(c.to);
    ASSERT_EQ(a.size, c.to);
    for (int i = 0; i < c.to; ++i)
      EXPECT_EQ(a[i], i < c.from ? 100 + i : 0) << c.from << "->" << c.to << " at " << i;
  }
}

TEST(VoArrayTest, ReSizeToTheSameSizeDoesNothing) {
  VoArray<int> a(3);
  Fill(a, 1);
  int* block = a.elements;
  a.ReSize(3);
  EXPECT_EQ(a.elements, block);

  a.Clear();
  a.ReSize(0);  // 0 == size: stays cleared
  EXPECT_EQ(a.elements, nullptr);
  a.ReSize(2);
  EXPECT_EQ(a.size, 2);
  EXPECT_EQ(a[1], 0);
}

TEST(VoArrayTest, SwapExchangesBlocks) {
  VoArray<int> a(2);
  VoArray<int> b(5);
  Fill(a, 1);
  Fill(b, 10);
  int* blockA = a.elements;
  a.Swap(b);
  EXPECT_EQ(a.size, 5);
  EXPECT_EQ(b.size, 2);
  EXPECT_EQ(b.elements, blockA);
  EXPECT_EQ(a[4], 14);
}

TEST_F(VoArrayProbeTest, ElementsLiveExactlyAsLongAsTheirBlock) {
  {
    VoArray<Probe> a(4);
    EXPECT_EQ(Probe::live, 4);
    a.ReSize(9);
    EXPECT_EQ(Probe::live, 9);
    VoArray<Probe> b(a);
    EXPECT_EQ(Probe::live, 18);
    b = VoArray<Probe>(2);
    EXPECT_EQ(Probe::live, 11);
    a.Clear();
    EXPECT_EQ(Probe::live, 2);
  }
  EXPECT_EQ(Probe::live, 0);
}

TEST_F(VoArrayProbeTest, FailedConstructionPartWayFreesTheBlock) {
  Probe::constructBudget = 3;
  EXPECT_THROW(VoArray<Probe> a(6), ProbeFailure);
  EXPECT_EQ(Probe::live, 0);
}

TEST_F(VoArrayProbeTest, FailedCopyConstructionFreesTheBlock) {
  VoArray<Probe> a(5);
  Probe::assignBudget = 2;
  EXPECT_THROW(VoArray<Probe> b(a), ProbeFailure);
  EXPECT_EQ(Probe::live, 5);
}

TEST_F(VoArrayProbeTest, FailedAssignmentLeavesTheTargetAsItWas) {
  VoArray<Probe> source(6);
  for (int i = 0; i < 6; ++i) source[i].value = i + 1;
  VoArray<Probe> target(3);
  target[2].value = 42;
  Probe* block = target.elements;

  Probe::assignBudget = 4;  // fails on the fifth element
  EXPECT_THROW(target = source, ProbeFailure);
  EXPECT_EQ(target.size, 3);
  EXPECT_EQ(target.elements, block);
  EXPECT_EQ(target[2].value, 42);
  EXPECT_EQ(Probe::live, 9);

  Probe::assignBudget = -1;
  Probe::constructBudget = 2;  // fails while building the new block
  EXPECT_THROW(target = source, ProbeFailure);
  EXPECT_EQ(target.size, 3);
  EXPECT_EQ(Probe::live, 9);
}

TEST_F(VoArrayProbeTest, FailedReSizeLeavesTheArrayAsItWas) {
  VoArray<Probe> a(4);
  a[3].value = 7;
  Probe::assignBudget = 1;
  EXPECT_THROW(a.ReSize(10), ProbeFailure);
  EXPECT_EQ(a.size, 4);
  EXPECT_EQ(a[3].value, 7);
  Probe::assignBudget = -1;
  Probe::constructBudget = 0;
  EXPECT_THROW(a.ReSize(2), ProbeFailure);
  EXPECT_EQ(a.size, 4);
  EXPECT_EQ(Probe::live, 4);
}

}  // namespace
