// Tests of the ring-buffer list.
#include "VoData/VoList.h"

#include <gtest/gtest.h>

#include <climits>
#include <deque>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "VoCore/VoError.h"
#include "VoData/VoTestProbe.h"

namespace {

using IntList = VoList<int>;

template <class T>
int Capacity(const VoList<T>& l) {
  return l.storage.size;
}

std::vector<int> Contents(const IntList& l) {
  std::vector<int> out;
  for (int i = 0; i < l.count; ++i) out.push_back(l[i]);
  return out;
}

std::vector<int> Slots(const IntList& l) {
  return std::vector<int>(l.storage.elements, l.storage.elements + l.storage.size);
}

// head/tail/count agree with each other and with the capacity.
template <class T>
void ExpectConsistent(const VoList<T>& l) {
  const int cap = Capacity(l);
  ASSERT_GE(l.count, 0);
  ASSERT_LE(l.count, cap);
  if (l.count > 0) {
    ASSERT_GE(l.head, 0);
    ASSERT_LT(l.head, cap);
    EXPECT_EQ(l.tail, (l.head + l.count - 1) % cap);
  } else if (l.tail != -1) {
    EXPECT_EQ(l.tail, (l.head + cap - 1) % cap) << "empty by removals: tail before head";
  }
}

// c, b, a at slots 7, 8, 9 (by AddFront), then `backs` elements from slot 0 on:
// a wrapped ring reading 1, 2, 3, 4, ...
IntList Wrapped(int backs) {
  IntList l;
  l.AddFront(3);
  l.AddFront(2);
  l.AddFront(1);
  for (int i = 0; i < backs; ++i) l.AddBack(4 + i);
  return l;
}

template <class T>
void Empty(VoList<T>& l) {
  l.count = 0;
  l.head = 0;
  l.tail = -1;
  l.storage.Clear();
}

void ExpectListError(const std::function<void()>& f, const char* what) {
  try {
    f();
    ADD_FAILURE() << what << ": no error";
  } catch (const VoError& e) {
    EXPECT_EQ(e.GetErr(), 7u) << what;
    EXPECT_STREQ(e.GetErrName(), "VoIndexError") << what;
    EXPECT_STREQ(e.GetFileName(), "VoList.h") << what;
  }
}

TEST(VoListTest, NewList) {
  IntList l;
  EXPECT_EQ(l.count, 0);
  EXPECT_EQ(l.head, 0);
  EXPECT_EQ(l.tail, -1);
  EXPECT_EQ(Capacity(l), 10);
}

TEST(VoListTest, CapacityGrowsTwicePlusOne) {
  struct Case {
    bool emptied;
    int adds;
    int capacity;
  } cases[] = {
      {false, 10, 10}, {false, 11, 21}, {false, 21, 21}, {false, 22, 43}, {false, 44, 87}, {false, 88, 175},
      {true, 1, 1},    {true, 2, 3},    {true, 3, 3},    {true, 4, 7},    {true, 8, 15},   {true, 16, 31},
  };
  for (bool front : {false, true}) {
    for (const Case& c : cases) {
      IntList l;
      if (c.emptied) Empty(l);
      for (int i = 0; i < c.adds; ++i) front ? l.AddFront(i) : l.AddBack(i);
      EXPECT_EQ(Capacity(l), c.capacity) << c.adds << (c.emptied ? " emptied" : " new");
      ASSERT_EQ(l.count, c.adds);
      for (int i = 0; i < c.adds; ++i) EXPECT_EQ(l[i], front ? c.adds - 1 - i : i);
      ExpectConsistent(l);
    }
  }
}

TEST(VoListTest, AddFrontOnANewListUsesTheLastSlot) {
  IntList l;
  l.AddFront(1);
  EXPECT_EQ(l.head, 9);
  EXPECT_EQ(l.tail, 9);
  EXPECT_EQ(l.storage[9], 1);
  l.AddBack(2);
  EXPECT_EQ(l.tail, 0);
  EXPECT_EQ(l.storage[0], 2);
  EXPECT_EQ(Contents(l), std::vector<int>({1, 2}));
}

TEST(VoListTest, AddFrontOnAFullListGrowsIntoTheLastSlot) {
  IntList l;
  for (int i = 0; i < 10; ++i) l.AddBack(i);
  l.AddFront(-1);
  EXPECT_EQ(Capacity(l), 21);
  EXPECT_EQ(l.head, 20);
  EXPECT_EQ(l.tail, 9);
  EXPECT_EQ(l.count, 11);
  EXPECT_EQ(Contents(l), std::vector<int>({-1, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
}

TEST(VoListTest, GrowingAWrappedRingUnwindsIt) {
  IntList l = Wrapped(7);  // full: head 7, tail 6
  ASSERT_EQ(l.count, 10);
  ASSERT_EQ(l.head, 7);
  l.AddBack(11);
  EXPECT_EQ(l.head, 0);
  EXPECT_EQ(l.tail, 10);
  EXPECT_EQ(Contents(l), std::vector<int>({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}));
}

TEST(VoListTest, AddingAnElementOfTheListItselfWhenFull) {
  for (int which : {0, 4, 9}) {
    IntList back = Wrapped(7);
    back.AddBack(back[which]);
    EXPECT_EQ(back[10], which + 1);
    EXPECT_EQ(back[which], which + 1);

    IntList front = Wrapped(7);
    front.AddFront(front[which]);
    EXPECT_EQ(front[0], which + 1);
    EXPECT_EQ(front[which + 1], which + 1);
    EXPECT_EQ(front.count, 11);
  }
  VoList<std::string> s;
  for (int i = 0; i < 10; ++i) s.AddBack(std::string(40, static_cast<char>('a' + i)));
  s.AddBack(s[9]);
  s.AddFront(s[0]);
  EXPECT_EQ(s[11], std::string(40, 'j'));
  EXPECT_EQ(s[0], std::string(40, 'a'));
}

TEST(VoListTest, RemovingTheOnlyElementKeepsItsSlotForTheNextAddBack) {
  struct Case {
    int fronts;  // AddFront calls before trimming to one element
    int slot;    // slot of the remaining element
    int tail;    // tail after removing it
  } cases[] = {{0, 0, 9}, {1, 9, 8}, {5, 5, 4}};
  for (const Case& c : cases) {
    IntList l;
    if (c.fronts == 0) l.AddBack(1);
    for (int i = 0; i < c.fronts; ++i) l.AddFront(i);
    while (l.count > 1) l.Remove(0);
    ASSERT_EQ(l.head, c.slot);
    l.Remove(0);
    EXPECT_EQ(l.count, 0);
    EXPECT_EQ(l.tail, c.tail);
    ExpectConsistent(l);
    ExpectListError([&] { (void)l[0]; }, "emptied by removal");
    l.AddBack(77);
    EXPECT_EQ(l.tail, c.slot);
    EXPECT_EQ(l.storage[c.slot], 77);
    EXPECT_EQ(l[0], 77);
    // The same holds for AddFront into a list emptied by removals.
    l.Remove(0);
    l.AddFront(78);
    EXPECT_EQ(l.head, (c.slot + 9) % 10);
    EXPECT_EQ(l.tail, l.head);
    EXPECT_EQ(l[0], 78);
  }
}

TEST(VoListTest, RemoveKeepsTheOrderOfTheOthers) {
  for (int backs : {2, 7}) {  // wrapped partly full and wrapped full
    const IntList original = Wrapped(backs);
    for (int i = 0; i < original.count; ++i) {
      IntList l = original;
      std::vector<int> expected = Contents(original);
      expected.erase(expected.begin() + i);
      l.Remove(i);
      EXPECT_EQ(Contents(l), expected) << backs << " remove " << i;
      EXPECT_EQ(l.head, original.head);
      ExpectConsistent(l);
    }
  }
}

TEST(VoListTest, RemoveShiftsSlotsByAssignment) {
  // Partly full: the vacated slot takes the spare slot behind it.
  IntList l;
  for (int i = 1; i <= 3; ++i) l.AddBack(i);
  l.storage[3] = 99;  // a stale value in the spare slot
  l.Remove(0);
  EXPECT_EQ(Slots(l), std::vector<int>({2, 3, 99, 99, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(l.tail, 1);

  // Full: the last element's slot takes the slot of element 0 as it is then.
  IntList full;
  for (int i = 0; i < 10; ++i) full.AddBack(i);
  full.Remove(0);
  EXPECT_EQ(Slots(full), std::vector<int>({1, 2, 3, 4, 5, 6, 7, 8, 9, 1}));
  EXPECT_EQ(full.tail, 8);
}

TEST(VoListTest, IndexErrorsLeaveTheListUnchanged) {
  IntList l = Wrapped(2);
  const IntList& c = l;
  const std::vector<int> before = Slots(l);
  for (int i : {-1, 5, 6, 1 << 30, -(1 << 30)}) {
    const std::string what = "index " + std::to_string(i);
    ExpectListError([&] { l[i] = 0; }, what.c_str());
    ExpectListError([&] { (void)c[i]; }, what.c_str());
    ExpectListError([&] { l.Remove(i); }, what.c_str());
  }
  EXPECT_EQ(Slots(l), before);
  EXPECT_EQ(l.count, 5);
  EXPECT_EQ(l.tail, 1);
  EXPECT_EQ(l.head, 7);
}

TEST(VoListTest, EmptiedListGrowsFromCapacityOne) {
  IntList l = Wrapped(4);
  Empty(l);
  EXPECT_EQ(Capacity(l), 0);
  ExpectListError([&] { (void)l[0]; }, "emptied");
  ExpectListError([&] { l.Remove(0); }, "emptied");
  l.AddBack(5);
  EXPECT_EQ(Capacity(l), 1);
  EXPECT_EQ(l.head, 0);
  EXPECT_EQ(l.tail, 0);
  l.AddFront(4);
  EXPECT_EQ(Capacity(l), 3);
  EXPECT_EQ(l.head, 2);
  EXPECT_EQ(l.tail, 0);
  EXPECT_EQ(Contents(l), std::vector<int>({4, 5}));

  IntList f;
  Empty(f);
  f.AddFront(8);
  EXPECT_EQ(Capacity(f), 1);
  EXPECT_EQ(f.head, 0);
  EXPECT_EQ(f.tail, 0);
  f.AddBack(9);
  EXPECT_EQ(Contents(f), std::vector<int>({8, 9}));

  IntList one;  // removal from a ring of one slot
  Empty(one);
  one.AddBack(1);
  one.Remove(0);
  EXPECT_EQ(one.count, 0);
  EXPECT_EQ(one.tail, 0);
  one.AddBack(2);
  EXPECT_EQ(Capacity(one), 1);
  EXPECT_EQ(Contents(one), std::vector<int>({2}));
}

TEST(VoListTest, GrowthBeyondTheLargestCapacityIsMemFull) {
  // Pretend to be full one element beyond the largest count whose 2n + 1
  // still fits; the check comes before any allocation.
  IntList l;
  const int saved = l.storage.size;
  for (bool front : {false, true}) {
    l.count = l.storage.size = (INT_MAX - 1) / 2 + 1;
    try {
      front ? l.AddFront(1) : l.AddBack(1);
      ADD_FAILURE() << "no error";
    } catch (const VoError& e) {
      EXPECT_EQ(e.GetErr(), 4u);
      EXPECT_STREQ(e.GetFileName(), "VoList.h");
    }
    EXPECT_EQ(l.count, (INT_MAX - 1) / 2 + 1);
  }
  l.count = 0;
  l.storage.size = saved;
}

TEST(VoListTest, ReSize) {
  struct Case {
    int backs;  // the Wrapped() list, or -1 for 0..9 from slot 0
    int n;
    int count;
    int capacity;
  } cases[] = {
      {-1, 4, 4, 4},   {-1, 25, 10, 25}, {2, 20, 5, 20}, {7, 3, 3, 3},
      {7, 12, 10, 12}, {2, 0, 0, 0},     {2, 1, 1, 1},
  };
  for (const Case& c : cases) {
    IntList l;
    if (c.backs < 0)
      for (int i = 0; i < 10; ++i) l.AddBack(i + 1);
    else
      l = Wrapped(c.backs);
    std::vector<int> expected = Contents(l);
    if (c.n == l.count) continue;  // covered below
    expected.resize(static_cast<size_t>(c.count));
    l.ReSize(c.n);
    EXPECT_EQ(l.count, c.count) << c.backs << " -> " << c.n;
    EXPECT_EQ(Capacity(l), c.capacity);
    EXPECT_EQ(l.head, 0);
    EXPECT_EQ(l.tail, c.count - 1);
    EXPECT_EQ(Contents(l), expected);
  }
}

TEST(VoListTest, ReSizeToTheCountDoesNothingWhateverTheCapacity) {
  IntList l = Wrapped(2);  // count 5, capacity 10, head 7
  const std::vector<int> slots = Slots(l);
  int* block = l.storage.elements;
  l.ReSize(5);
  EXPECT_EQ(l.storage.elements, block);
  EXPECT_EQ(Capacity(l), 10);
  EXPECT_EQ(l.head, 7);
  EXPECT_EQ(Slots(l), slots);

  try {
    l.ReSize(-1);
    ADD_FAILURE() << "no error";
  } catch (const VoError& e) {
    EXPECT_EQ(e.GetErr(), 3u);
  }
  EXPECT_EQ(Slots(l), slots);
}

TEST(VoListTest, AssignmentFromAWrappedRingStartsAtSlotZero) {
  const IntList source = Wrapped(4);  // 1..7, head 7, tail 3
  for (int targetSize : {0, 3, 30}) {
    IntList target;
    for (int i = 0; i < targetSize; ++i) target.AddFront(-i);
    target = source;
    EXPECT_EQ(target.count, 7);
    EXPECT_EQ(target.head, 0);
    EXPECT_EQ(target.tail, 6);
    EXPECT_EQ(Capacity(target), 10);
    EXPECT_EQ(Contents(target), Contents(source));
    for (int i = 0; i < 7; ++i) EXPECT_EQ(target.storage[i], i + 1);
    ExpectConsistent(target);
  }
  EXPECT_EQ(source.head, 7);  // source untouched
}

TEST(VoListTest, AssignmentEdgeCases) {
  IntList l = Wrapped(4);
  const std::vector<int> slots = Slots(l);
  IntList& alias = l;
  l = alias;
  EXPECT_EQ(Slots(l), slots);
  EXPECT_EQ(l.head, 7);

  IntList emptied;
  Empty(emptied);
  l = emptied;
  EXPECT_EQ(l.count, 0);
  EXPECT_EQ(l.tail, -1);
  EXPECT_EQ(Capacity(l), 0);
  l.AddBack(3);
  EXPECT_EQ(Contents(l), std::vector<int>({3}));
}

TEST(VoListTest, CopyConstructionKeepsTheRingAsItIs) {
  const IntList source = Wrapped(4);
  IntList copy(source);
  EXPECT_EQ(copy.count, source.count);
  EXPECT_EQ(copy.head, 7);
  EXPECT_EQ(copy.tail, 3);
  EXPECT_EQ(Slots(copy), Slots(source));
  EXPECT_NE(copy.storage.elements, source.storage.elements);
  copy[0] = 100;
  EXPECT_EQ(source[0], 1);
}

// ----------------------------------------------------------- failure safety

using vo_test::Probe;
using vo_test::ProbeFailure;

class VoListProbeTest : public ::testing::Test {
 protected:
  void SetUp() override { Probe::Reset(); }
  void TearDown() override {
    Probe::assignBudget = -1;
    EXPECT_EQ(Probe::live, 0);
  }
  static void FillList(VoList<Probe>& l, int n) {
    Probe p;
    for (int i = 0; i < n; ++i) {
      p.value = i;
      l.AddBack(p);
    }
  }
};

TEST_F(VoListProbeTest, FailedGrowthLeavesTheListAsItWas) {
  for (bool front : {false, true}) {
    VoList<Probe> l;
    FillList(l, 10);
    Probe extra;
    extra.value = 50;
    Probe::assignBudget = 6;
    EXPECT_THROW(front ? l.AddFront(extra) : l.AddBack(extra), ProbeFailure);
    Probe::assignBudget = -1;
    EXPECT_EQ(l.count, 10);
    EXPECT_EQ(l.storage.size, 10);
    EXPECT_EQ(l.head, 0);
    EXPECT_EQ(l.tail, 9);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(l[i].value, i);
  }
}

TEST_F(VoListProbeTest, FailedReSizeLeavesTheListAsItWas) {
  VoList<Probe> l;
  FillList(l, 6);
  Probe::assignBudget = 2;
  EXPECT_THROW(l.ReSize(40), ProbeFailure);
  Probe::assignBudget = -1;
  EXPECT_EQ(l.count, 6);
  EXPECT_EQ(l.storage.size, 10);
  EXPECT_EQ(l[5].value, 5);
}

TEST_F(VoListProbeTest, FailedAssignmentLeavesASafeList) {
  VoList<Probe> source;
  FillList(source, 30);
  VoList<Probe> target;
  FillList(target, 3);
  Probe::assignBudget = 12;  // fails while copying the elements into the storage
  EXPECT_THROW(target = source, ProbeFailure);
  Probe::assignBudget = -1;
  EXPECT_LE(target.count, target.storage.size);
  for (int i = 0; i < target.count; ++i) (void)target[i].value;
  target.AddBack(source[0]);
}

TEST_F(VoListProbeTest, SlotsAreDestroyedOnlyWithTheirBlock) {
  {
    VoList<Probe> l;
    EXPECT_EQ(Probe::live, 10);
    FillList(l, 11);  // the fill loop's own probe is gone again
    EXPECT_EQ(Probe::live, 21);
    l.Remove(3);
    l.Remove(0);
    EXPECT_EQ(Probe::live, 21);
    VoList<Probe> copy(l);
    EXPECT_EQ(Probe::live, 42);
    copy.storage.Clear();
    copy.count = 0;
    copy.head = 0;
    copy.tail = -1;
    EXPECT_EQ(Probe::live, 21);
  }
}

// --------------------------------------------------- differential against std::deque

// Mixes of every operation, checked against std::deque after each step.
// \p make turns a random number into an element value.
template <class T, class Make>
void RunDifferential(unsigned seed, Make make) {
  std::mt19937 rng(seed);
  for (int round = 0; round < 40; ++round) {
    VoList<T> l;
    std::deque<T> d;
    for (int step = 0; step < 400; ++step) {
      const int op = static_cast<int>(rng() % 100);
      const T value = make(static_cast<int>(rng() % 1000));
      if (op < 35) {
        l.AddBack(value);
        d.push_back(value);
      } else if (op < 65) {
        l.AddFront(value);
        d.push_front(value);
      } else if (op < 90) {
        if (d.empty()) continue;
        const int i = static_cast<int>(rng() % d.size());
        l.Remove(i);
        d.erase(d.begin() + i);
      } else if (op < 95) {
        const int n = static_cast<int>(rng() % (d.size() + 8));
        l.ReSize(n);
        if (static_cast<size_t>(n) < d.size()) d.resize(static_cast<size_t>(n));
      } else if (op < 97) {
        Empty(l);
        d.clear();
      } else if (op < 99) {
        VoList<T> copy(l);
        VoList<T> other;
        other = copy;
        l = other;
      } else if (!d.empty()) {  // an element of the list itself
        const size_t k = rng() % d.size();
        const T expected = d[k];
        l.AddBack(l[static_cast<int>(k)]);
        d.push_back(expected);
      }
      ASSERT_EQ(l.count, static_cast<int>(d.size())) << round << ":" << step;
      for (int i = 0; i < l.count; ++i)
        ASSERT_EQ(l[i], d[static_cast<size_t>(i)]) << round << ":" << step << " element " << i;
      ExpectConsistent(l);
      if (::testing::Test::HasFailure()) return;
    }
  }
}

TEST(VoListTest, RandomOperationsMatchADeque) {
  RunDifferential<int>(20240611u, [](int v) { return v; });
}

TEST(VoListTest, RandomOperationsMatchADequeWithStrings) {
  RunDifferential<std::string>(
      7u, [](int v) { return std::string(static_cast<size_t>(v % 40), 'x') + std::to_string(v); });
}

}  // namespace
