// Tests of the helper thread that works ahead through nested lists of jobs.
#include "Mac/VoMacWorkAhead.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <random>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

/// Jobs that count how often each one ran, and may take a while.
struct Counted {
  explicit Counted(std::size_t n, int micros = 0) : runs(n), micros(micros) {}
  std::vector<std::atomic<int>> runs;
  std::atomic<int> running{0};
  std::atomic<std::size_t> maxRunning{0};
  int micros;
  static void Job(void* context, std::size_t i) {
    Counted& c = *static_cast<Counted*>(context);
    c.running.fetch_add(1);
    if (c.micros > 0) std::this_thread::sleep_for(std::chrono::microseconds(c.micros));
    c.runs[i].fetch_add(1);
    c.running.fetch_sub(1);
  }
};

/// A walk-shaped use: each list waits for its jobs in order and, at some of
/// them, pushes a nested list first (as a walk enters a folder).
void Walk(VoMacWorkAhead& ahead, std::mt19937& random, int depth,
          std::vector<std::unique_ptr<Counted>>& all) {
  const std::size_t n = random() % 60;
  all.push_back(std::make_unique<Counted>(n, static_cast<int>(random() % 3)));
  Counted& jobs = *all.back();
  VoMacWorkList list(&Counted::Job, &jobs, n);
  VoMacWorkScope scope(ahead, list);
  for (std::size_t i = 0; i < n; ++i) {
    ahead.Wait(list, i);
    // What Wait reported done is done, exactly once.
    ASSERT_EQ(jobs.runs[i].load(), 1) << "depth " << depth << " job " << i;
    if (depth < 4 && random() % 8 == 0) Walk(ahead, random, depth + 1, all);
  }
}

TEST(VoMacWorkAheadTest, NestedListsHaveEveryJobDoneExactlyOnceBeforeItIsUsed) {
  for (unsigned seed = 1; seed <= 20; ++seed) {
    std::mt19937 random(seed);
    std::vector<std::unique_ptr<Counted>> all;
    {
      VoMacWorkAhead ahead;
      Walk(ahead, random, 0, all);
    }
    for (const auto& jobs : all) {
      for (std::size_t i = 0; i < jobs->runs.size(); ++i) ASSERT_EQ(jobs->runs[i].load(), 1) << seed;
    }
  }
}

TEST(VoMacWorkAheadTest, AHelperStartsOnlyForLongListsOnSeveralProcessors) {
  VoMacWorkAhead ahead;
  Counted few(VoMacWorkAhead::kMinHelped - 1);
  {
    VoMacWorkList list(&Counted::Job, &few, few.runs.size());
    VoMacWorkScope scope(ahead, list);
    for (std::size_t i = 0; i < few.runs.size(); ++i) ahead.Wait(list, i);
  }
  EXPECT_FALSE(ahead.HasHelper());
  Counted many(VoMacWorkAhead::kMinHelped);
  {
    VoMacWorkList list(&Counted::Job, &many, many.runs.size());
    VoMacWorkScope scope(ahead, list);
    for (std::size_t i = 0; i < many.runs.size(); ++i) ahead.Wait(list, i);
  }
  EXPECT_EQ(ahead.HasHelper(), std::thread::hardware_concurrency() > 1);
  for (const auto& r : many.runs) EXPECT_EQ(r.load(), 1);
}

TEST(VoMacWorkAheadTest, PoppingEarlyFinishesJobsUnderWayAndStartsNoOther) {
  VoMacWorkAhead ahead;
  Counted slow(200, 200);
  {
    VoMacWorkList list(&Counted::Job, &slow, slow.runs.size());
    VoMacWorkScope scope(ahead, list);
    ahead.Wait(list, 0);
    ahead.Wait(list, 1);
  }
  // After the pop no job of the list runs, now or later.
  EXPECT_EQ(slow.running.load(), 0);
  int done = 0;
  for (const auto& r : slow.runs) done += r.load();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  int later = 0;
  for (const auto& r : slow.runs) {
    EXPECT_LE(r.load(), 1);
    later += r.load();
  }
  EXPECT_EQ(later, done);
  EXPECT_GE(done, 2);
  EXPECT_LT(done, 200) << "the helper ran every job although the list was left after two";
}

TEST(VoMacWorkAheadTest, AnExceptionLeavingTheScopeEndsTheList) {
  VoMacWorkAhead ahead;
  Counted slow(100, 100);
  Counted next(40);
  try {
    VoMacWorkList list(&Counted::Job, &slow, slow.runs.size());
    VoMacWorkScope scope(ahead, list);
    ahead.Wait(list, 0);
    throw std::runtime_error("walker failed");
  } catch (const std::runtime_error&) {
  }
  EXPECT_EQ(slow.running.load(), 0);
  // The object is usable afterwards.
  VoMacWorkList list(&Counted::Job, &next, next.runs.size());
  VoMacWorkScope scope(ahead, list);
  for (std::size_t i = 0; i < next.runs.size(); ++i) {
    ahead.Wait(list, i);
    EXPECT_EQ(next.runs[i].load(), 1);
  }
}

TEST(VoMacWorkAheadTest, AnEmptyListNeedsNoWaitAndLeavesTheOuterListWorking) {
  VoMacWorkAhead ahead;
  Counted outer(50);
  VoMacWorkList list(&Counted::Job, &outer, outer.runs.size());
  VoMacWorkScope scope(ahead, list);
  for (std::size_t i = 0; i < outer.runs.size(); ++i) {
    if (i == 10) {
      Counted none(0);
      VoMacWorkList empty(&Counted::Job, &none, 0);
      VoMacWorkScope inner(ahead, empty);
    }
    ahead.Wait(list, i);
    EXPECT_EQ(outer.runs[i].load(), 1);
  }
}

}  // namespace
