/// \file
/// Ordered sequence in a ring buffer with appending at both ends.
#ifndef VOFOUNDATION_VODATA_VOLIST_H
#define VOFOUNDATION_VODATA_VOLIST_H

#include <algorithm>
#include <climits>

#include "VoCore/VoError.h"
#include "VoData/VoArray.h"

/// An ordered sequence kept in a ring buffer on top of a VoArray<T>.
///
/// Element i (0 <= i < count) lives in slot (head + i) modulo the capacity,
/// which is `storage.size`. `tail` is the slot of the last element: -1 in a
/// new or emptied list, the slot before `head` when the list became empty by
/// removals. Slots outside the elements hold default values or stale copies
/// of former elements; they are never destroyed one by one. (For trivial
/// types the spare slots of a grown or re-sized ring are left as `new T[]`
/// leaves them, i.e. default-initialised, not cleared.)
///
/// A full list grows to 2 * count + 1 slots, so the capacity runs 10, 21, 43,
/// 87, ... from a new list and 1, 3, 7, 15, ... from an emptied one. Elements
/// are copied by assignment, never moved.
///
/// Owners read `count` directly, and empty a list by setting count 0, head 0,
/// tail -1 and calling `storage.Clear()` (capacity 0 afterwards).
///
/// Growing (AddBack or AddFront on a full list) and ReSize build the new ring
/// beside the old one before the old ring is freed, so a failure part-way
/// (out of memory, a throwing assignment) leaves the list exactly as it was.
template <class T>
class VoList {
 public:
  /// Count 0, head 0, tail -1, capacity 10.
  VoList() : count(0), head(0), tail(-1), storage(10) {}

  /// Copies count, head, tail and every slot of the storage.
  VoList(const VoList& other)
      : count(other.count), head(other.head), tail(other.tail), storage(other.storage) {}

  /// Nothing for self-assignment. Otherwise the storage takes the source's
  /// capacity and holds the source's elements from slot 0 on: head 0,
  /// tail count - 1. The storage is re-sized before count, head and tail
  /// change, so a failure never leaves the count above the capacity.
  VoList& operator=(const VoList& other) {
    if (this == &other) return *this;
    storage.ReSize(other.storage.size);
    count = other.count;
    head = 0;
    tail = count - 1;
    const int cap = other.storage.size;
    int from = other.head;
    for (int i = 0; i < count; ++i) {
      storage.elements[i] = other.storage.elements[from];
      if (++from == cap) from = 0;
    }
    return *this;
  }

  /// Element \p i; "VoIndexError" (code 7) unless 0 <= i < count. Works for
  /// every capacity up to the largest `int`: the slot is found without
  /// computing head + i beyond the capacity, so nothing can overflow.
  T& operator[](int i) { return storage.elements[Slot(i)]; }
  /// Element \p i; "VoIndexError" (code 7) unless 0 <= i < count.
  const T& operator[](int i) const { return storage.elements[Slot(i)]; }

  /// Appends a copy of \p x behind the last element. \p x may be an element
  /// of this list. On a full list the list grows: \p x is assigned into the
  /// new ring before the old one is freed, and the slots, head and tail come
  /// out as "copy \p x, ReSize(2 * count + 1), then add the copy" would leave
  /// them. Growing beyond the largest signed 32-bit capacity throws
  /// "VoMemFullErr" (code 4); the list is unchanged then.
  void AddBack(const T& x) {
    const int cap = storage.size;
    if (count == cap) return GrowBack(x);
    int slot = tail + 1;
    if (slot == cap) slot = 0;
    storage.elements[slot] = x;  // first, so that a failing assignment changes nothing
    tail = slot;
    ++count;
  }

  /// Inserts a copy of \p x before element 0. \p x may be an element of this
  /// list. A full list grows as for AddBack, with the same guarantees and the
  /// same "VoMemFullErr" (code 4) limit.
  void AddFront(const T& x) {
    const int cap = storage.size;
    if (count == cap) return GrowFront(x);
    int slot = head - 1;
    if (slot < 0) slot = cap - 1;
    storage.elements[slot] = x;
    head = slot;
    if (tail < 0) tail = slot;
    ++count;
  }

  /// Removes element \p i; "VoIndexError" (code 7) unless 0 <= i < count.
  /// Each element behind it moves one place forward by assignment; the slot
  /// behind the new last element keeps a stale copy.
  void Remove(int i) {
    int slot = Slot(i);
    const int cap = storage.size;
    T* e = storage.elements;
    // count - i assignments, each slot from the one after it in ring order,
    // done in contiguous runs (a block move for trivial types).
    for (int left = count - i; left > 0;) {
      if (slot == cap - 1) {
        if (slot != 0) std::copy(e, e + 1, e + slot);  // capacity 1: onto itself
        slot = 0;
        --left;
      } else {
        const int run = left < cap - 1 - slot ? left : cap - 1 - slot;
        std::copy(e + slot + 1, e + slot + 1 + run, e + slot);
        slot += run;
        left -= run;
      }
    }
    if (--tail < 0) tail = cap - 1;
    --count;
  }

  /// Sets the capacity to \p n. Nothing when n equals the count (whatever the
  /// capacity). Otherwise the first min(n, count) elements move to slots 0,
  /// 1, ... of a new storage of n slots, the rest are dropped; head 0,
  /// tail count - 1. "VoArgErr" (code 3) when n is negative. A failure
  /// part-way leaves the list as it was.
  void ReSize(int n) {
    if (n == count) return;
    if (n < 0) VO_THROW(eVoArgErr);
    const int keep = n < count ? n : count;
    VoArray<T> ring(n, VoRawElements{n});
    FillRing(ring, keep);
    storage.Swap(ring);
    count = keep;
    head = 0;
    tail = keep - 1;
  }

  int count;           ///< number of elements (signed 32-bit)
  int head;            ///< slot of element 0
  int tail;            ///< slot of the last element, see the class comment
  VoArray<T> storage;  ///< the ring; its size is the capacity

 private:
  // Slot of element i, after the index check.
  int Slot(int i) const {
    if (static_cast<unsigned>(i) >= static_cast<unsigned>(count)) VO_THROW(eVoIndexError);
    const int toEnd = storage.size - head;  // no overflow for any capacity
    return i < toEnd ? head + i : i - toEnd;
  }

  // The capacity is a signed 32-bit number: a list of more than
  // (2^31 - 2) / 2 elements cannot grow.
  void CheckGrowth() const {
    if (count > (INT_MAX - 1) / 2) VO_THROW(eVoMemFullErr);
  }

  // AddBack on a full list: the new ring holds elements 0..count-1 in slots
  // 0..count-1 and x in slot count.
  void GrowBack(const T& x) {
    CheckGrowth();
    VoArray<T> ring(2 * count + 1, VoRawElements{2 * count + 1});
    FillRing(ring, count);
    ring.elements[count] = x;
    storage.Swap(ring);
    head = 0;
    tail = count;
    ++count;
  }

  // AddFront on a full list: the new ring holds elements 0..count-1 in slots
  // 0..count-1 and x in the last slot.
  void GrowFront(const T& x) {
    CheckGrowth();
    const int cap = 2 * count + 1;
    VoArray<T> ring(cap, VoRawElements{cap});
    FillRing(ring, count);
    ring.elements[cap - 1] = x;
    storage.Swap(ring);
    head = cap - 1;
    tail = count == 0 ? head : count - 1;
    ++count;
  }

  // Assigns elements 0..keep-1 to slots 0..keep-1 of a new storage.
  void FillRing(VoArray<T>& ring, int keep) const {
    if (keep <= 0) return;
    const int cap = storage.size;
    const T* from = storage.elements;
    T* to = ring.elements;
    // Elements 0..keep-1 in at most two runs of the old ring.
    int first = cap - head;
    if (first > keep) first = keep;
    if (first < 0) first = 0;
    // std::copy assigns element by element (a block copy for trivial types).
    to = std::copy(from + head, from + head + first, to);
    std::copy(from, from + (keep - first), to);
  }
};

#endif  // VOFOUNDATION_VODATA_VOLIST_H
