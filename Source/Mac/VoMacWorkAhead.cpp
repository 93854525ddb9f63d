// VoMacWorkAhead.cpp - a second thread that works ahead of the caller through lists of small independent
// jobs.
#include "Mac/VoMacWorkAhead.h"

#include <chrono>
#include <cstdint>
#include <limits>

namespace {

/// Spins this long for a job another thread has started before giving the
/// processor away: a job is one or two system calls.
constexpr int kSpinsBeforeYield = 256;

/// How long the helper watches for new jobs before it sleeps.
constexpr int kWatchMicros = 100;

/// Jobs claimed after a list has ended get indexes from here on.
constexpr std::size_t kEnded = std::numeric_limits<std::size_t>::max() / 2;

void Relax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}

}  // namespace

// ==================================================================== VoMacWorkList

VoMacWorkList::VoMacWorkList(Work work, void* context, std::size_t count)
    : mWork(work),
      mContext(context),
      mCount(count),
      mDone(new std::atomic<unsigned char>[count ? count : 1]) {
  for (std::size_t i = 0; i < count; ++i) mDone[i].store(0, std::memory_order_relaxed);
}

bool VoMacWorkList::Claim(std::size_t& index) {
  if (mNext.load(std::memory_order_relaxed) >= mCount) return false;
  index = mNext.fetch_add(1, std::memory_order_relaxed);
  return index < mCount;
}

bool VoMacWorkList::DoNext() {
  std::size_t index;
  if (!Claim(index)) return false;
  mWork(mContext, index);
  mDone[index].store(1, std::memory_order_release);
  return true;
}

// ==================================================================== VoMacWorkAhead

VoMacWorkAhead::VoMacWorkAhead() = default;

VoMacWorkAhead::~VoMacWorkAhead() {
  if (!mThread.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mMutex);
    mQuit = true;
  }
  mWake.notify_one();
  mThread.join();
}

void VoMacWorkAhead::Push(VoMacWorkList& list) {
  list.mOuter = mInnermost.load(std::memory_order_relaxed);
  {
    std::lock_guard<std::mutex> lock(mMutex);
    mInnermost.store(&list, std::memory_order_release);
    mChanges.fetch_add(1, std::memory_order_release);
  }
  if (!mTried && list.mCount >= kMinHelped) StartHelper();
  if (mThread.joinable()) mWake.notify_one();
}

void VoMacWorkAhead::Wait(VoMacWorkList& list, std::size_t index) {
  int spins = 0;
  while (list.mDone[index].load(std::memory_order_acquire) == 0) {
    if (list.DoNext()) continue;
    // The job is under way on the helper.
    if (++spins < kSpinsBeforeYield) {
      Relax();
    } else {
      std::this_thread::yield();
    }
  }
}

void VoMacWorkAhead::Pop(VoMacWorkList& list) {
  std::size_t claimed = list.mNext.exchange(kEnded, std::memory_order_relaxed);
  if (claimed > list.mCount) claimed = list.mCount;
  for (std::size_t i = 0; i < claimed; ++i) {
    int spins = 0;
    while (list.mDone[i].load(std::memory_order_acquire) == 0) {
      if (++spins < kSpinsBeforeYield) {
        Relax();
      } else {
        std::this_thread::yield();
      }
    }
  }
  {
    std::lock_guard<std::mutex> lock(mMutex);
    mInnermost.store(list.mOuter, std::memory_order_release);
    mChanges.fetch_add(1, std::memory_order_release);
  }
  if (!mThread.joinable()) return;
  mWake.notify_one();
  // The helper may still hold the list between its last claim and letting go.
  while (list.mUsers.load(std::memory_order_acquire) != 0) std::this_thread::yield();
}

void VoMacWorkAhead::StartHelper() {
  mTried = true;
  if (std::thread::hardware_concurrency() < 2) return;
  try {
    mThread = std::thread(&VoMacWorkAhead::HelperLoop, this);
  } catch (...) {
    // No thread: the caller does every job itself.
  }
}

bool VoMacWorkAhead::HasWork() const {
  // Under the mutex: the lists from the innermost outwards stay alive while
  // it is held (Pop lets go of a list only after taking it).
  const VoMacWorkList* list = mInnermost.load(std::memory_order_acquire);
  return list != nullptr && list->mNext.load(std::memory_order_relaxed) < list->mCount;
}

void VoMacWorkAhead::HelperLoop() {
  std::unique_lock<std::mutex> lock(mMutex);
  for (;;) {
    if (!mQuit && !HasWork()) {
      // The caller is usually about to push the next list (it is reporting
      // the last entries of a folder, or entering a subfolder): watching for
      // that a little while is much quicker than being woken. Only the change
      // count is watched; the lists themselves are looked at under the mutex.
      const unsigned long seen = mChanges.load(std::memory_order_acquire);
      lock.unlock();
      const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(kWatchMicros);
      for (int i = 0; mChanges.load(std::memory_order_acquire) == seen; ++i) {
        Relax();
        if ((i & 63) == 63 && std::chrono::steady_clock::now() > until) break;
      }
      lock.lock();
    }
    mWake.wait(lock, [this] { return mQuit || HasWork(); });
    if (mQuit) return;
    VoMacWorkList* list = mInnermost.load(std::memory_order_acquire);
    list->mUsers.fetch_add(1, std::memory_order_relaxed);
    lock.unlock();
    while (mInnermost.load(std::memory_order_acquire) == list && list->DoNext()) {
    }
    list->mUsers.fetch_sub(1, std::memory_order_release);
    lock.lock();
  }
}
