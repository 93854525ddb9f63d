// VoMacWorkAhead.h - a second thread that works ahead of the caller through lists of small independent jobs.
#ifndef VOFOUNDATION_MAC_VOMACWORKAHEAD_H
#define VOFOUNDATION_MAC_VOMACWORKAHEAD_H

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <thread>

class VoMacWorkAhead;

/// A list of \p count independent jobs (job i is `work(context, i)`), done in
/// index order by whoever claims them first: the caller, or the helper thread
/// of the VoMacWorkAhead the list is pushed on. A job must not throw and must
/// touch nothing that another job or the caller touches until VoMacWorkAhead::Wait
/// says the job is done.
class VoMacWorkList {
 public:
  using Work = void (*)(void* context, std::size_t index);
  VoMacWorkList(Work work, void* context, std::size_t count);
  VoMacWorkList(const VoMacWorkList&) = delete;
  VoMacWorkList& operator=(const VoMacWorkList&) = delete;
  std::size_t Count() const { return mCount; }

 private:
  friend class VoMacWorkAhead;
  /// Claims the next job; false when none is left.
  bool Claim(std::size_t& index);
  /// Claims and does the next job; false when none was left.
  bool DoNext();

  Work mWork;
  void* mContext;
  std::size_t mCount;
  std::atomic<std::size_t> mNext{0};
  std::unique_ptr<std::atomic<unsigned char>[]> mDone;
  std::atomic<int> mUsers{0};  ///< helper threads inside this list
  VoMacWorkList* mOuter = nullptr;
};

/// Lets a helper thread do the jobs of the innermost pushed list while the
/// caller consumes their results in order: a depth-first walk pushes the jobs
/// of each folder it enters (examining the entries), waits for entry i just
/// before it reports it, and pops the list when it leaves the folder; the
/// helper then goes on with the jobs left in the folder one level up.
///
/// The helper thread is started on the first list of at least kMinHelped
/// jobs, only on a machine with more than one processor, and ends with the
/// object; where no thread can be started, the caller does every job itself.
/// The caller never waits for a job nobody has started: a job not yet claimed
/// is done by the caller at once. One object serves one calling thread.
class VoMacWorkAhead {
 public:
  static constexpr std::size_t kMinHelped = 16;

  VoMacWorkAhead();
  ~VoMacWorkAhead();
  VoMacWorkAhead(const VoMacWorkAhead&) = delete;
  VoMacWorkAhead& operator=(const VoMacWorkAhead&) = delete;

  /// Makes \p list the innermost list; the helper turns to it.
  void Push(VoMacWorkList& list);
  /// Returns once job \p index of \p list (the innermost list) is done,
  /// doing unclaimed jobs meanwhile.
  void Wait(VoMacWorkList& list, std::size_t index);
  /// Ends \p list (the innermost): no further job of it is started, the jobs
  /// under way are finished, and the list one level out becomes the innermost.
  /// Afterwards the helper no longer touches \p list.
  void Pop(VoMacWorkList& list);

  /// Whether a helper thread is running (for tests).
  bool HasHelper() const { return mThread.joinable(); }

 private:
  void StartHelper();
  void HelperLoop();
  /// Whether the innermost list has jobs nobody has claimed yet; only with
  /// the mutex held.
  bool HasWork() const;

  std::mutex mMutex;
  std::condition_variable mWake;
  std::atomic<VoMacWorkList*> mInnermost{nullptr};
  std::atomic<unsigned long> mChanges{0};  ///< counts the changes of mInnermost
  bool mQuit = false;
  bool mTried = false;
  std::thread mThread;
};

/// Pushes a list on construction and pops it on every way out of a scope.
class VoMacWorkScope {
 public:
  VoMacWorkScope(VoMacWorkAhead& ahead, VoMacWorkList& list) : mAhead(ahead), mList(list) {
    mAhead.Push(mList);
  }
  ~VoMacWorkScope() { mAhead.Pop(mList); }
  VoMacWorkScope(const VoMacWorkScope&) = delete;
  VoMacWorkScope& operator=(const VoMacWorkScope&) = delete;

 private:
  VoMacWorkAhead& mAhead;
  VoMacWorkList& mList;
};

#endif  // VOFOUNDATION_MAC_VOMACWORKAHEAD_H
