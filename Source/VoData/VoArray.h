/// \file
/// Fixed-size array with checked indexing.
#ifndef VOFOUNDATION_VODATA_VOARRAY_H
#define VOFOUNDATION_VODATA_VOARRAY_H

#include <algorithm>
#include <new>
#include <type_traits>

#include "VoCore/VoError.h"

/// Allocates one block of \p n elements. For trivial types the first \p raw
/// elements are left as `new T[]` leaves them (indeterminate, for a caller
/// that writes them itself) and the others are cleared; every other type is
/// value-initialised throughout. A failure of the new operator is thrown as
/// "VoMemFullErr" (code 4); a constructor that throws part-way has the
/// elements built so far destroyed and the block freed (by the
/// new-expression) before its exception passes on.
template <class T>
T* VoNewElementBlock(int n, int raw) {
  try {
    if constexpr (std::is_trivial_v<T>) {
      T* block = new T[static_cast<unsigned>(n)];
      if (raw < 0) raw = 0;
      if (raw < n) std::fill(block + raw, block + n, T{});
      return block;
    } else {
      return new T[static_cast<unsigned>(n)]();
    }
  } catch (const std::bad_alloc&) {
    VO_THROW(eVoMemFullErr);
  }
}

/// Asks VoArray(n, VoRawElements{k}) to leave the first k elements of a
/// trivial element type uninitialised, for an owner that writes them itself.
struct VoRawElements {
  /// How many leading elements the owner writes itself.
  int count;
};

/// A fixed number of elements of T with checked indexing.
///
/// T must be default-constructible, copy-assignable and destructible.
/// Elements are created only when a whole block is allocated and destroyed
/// only when a whole block is freed; in between they change by assignment
/// alone (never by move).
///
/// Owners read `size` directly and may read `elements` (null only after
/// Clear()); they must not change either except through the operations below.
///
/// Running out of memory throws "VoMemFullErr" (code 4) from every operation
/// that allocates a block (see VoNewElementBlock).
template <class T>
class VoArray {
 public:
  /// \p n value-initialised elements (`new T[n]()`): built-in types start as
  /// zero, not indeterminate; class types are default-constructed.
  /// "VoArgErr" (code 3) when n is negative.
  explicit VoArray(int n = 0) : size(0), elements(nullptr) {
    CheckSize(n);
    elements = VoNewElementBlock<T>(n, 0);
    size = n;
  }

  /// \p n elements for an owner that fills the block itself: for trivial
  /// types the first raw.count elements are left uninitialised (the rest are
  /// cleared), so they must be written before they are used; other types
  /// are value-initialised as by VoArray(n). VoRawElements{n} skips clearing
  /// altogether. "VoArgErr" (code 3) when n is negative.
  VoArray(int n, VoRawElements raw) : size(0), elements(nullptr) {
    CheckSize(n);
    elements = VoNewElementBlock<T>(n, raw.count);
    size = n;
  }

  /// A new block of the source's size, each element assigned from the
  /// source's. For trivial types the new elements are not cleared before they
  /// are assigned. When an assignment throws, the block made so far is freed
  /// before the exception passes on.
  VoArray(const VoArray& other) : size(0), elements(nullptr) {
    T* block = CopyBlock(other);
    elements = block;
    size = other.size;
  }

  /// Nothing for self-assignment; otherwise the block is replaced by a copy
  /// of the source's elements (size taken from the source). The new block is
  /// complete before the old one is destroyed, so a failure part-way leaves
  /// this array as it was (strong guarantee).
  VoArray& operator=(const VoArray& other) {
    if (this == &other) return *this;
    T* block = CopyBlock(other);
    delete[] elements;
    elements = block;
    size = other.size;
    return *this;
  }

  ~VoArray() { delete[] elements; }

  /// Element \p i; "VoIndexError" (code 7) unless 0 <= i < size.
  T& operator[](int i) {
    if (static_cast<unsigned>(i) >= static_cast<unsigned>(size)) VO_THROW(eVoIndexError);
    return elements[i];
  }
  /// Element \p i; "VoIndexError" (code 7) unless 0 <= i < size.
  const T& operator[](int i) const {
    if (static_cast<unsigned>(i) >= static_cast<unsigned>(size)) VO_THROW(eVoIndexError);
    return elements[i];
  }

  /// Nothing when \p n equals the size; otherwise a new block of n elements
  /// whose first min(size, n) are assigned from the old ones in order, the
  /// rest default-constructed (for trivial types the kept ones are not
  /// cleared first). "VoArgErr" (code 3) when n is negative. A failure
  /// part-way leaves the array as it was, as for copy assignment.
  void ReSize(int n) {
    if (n == size) return;
    CheckSize(n);
    const int keep = n < size ? n : size;
    T* block = VoNewElementBlock<T>(n, keep);
    try {
      if (keep > 0) std::copy(elements, elements + keep, block);
    } catch (...) {
      delete[] block;
      throw;
    }
    delete[] elements;
    elements = block;
    size = n;
  }

  /// Destroys the block; afterwards `elements` is null and `size` 0.
  void Clear() {
    delete[] elements;
    elements = nullptr;
    size = 0;
  }

  /// Exchanges blocks and sizes with \p other; no element is touched.
  void Swap(VoArray& other) noexcept {
    const int s = size;
    size = other.size;
    other.size = s;
    T* e = elements;
    elements = other.elements;
    other.elements = e;
  }

  int size;     ///< number of elements (signed 32-bit)
  T* elements;  ///< the block of `size` elements; null only after Clear()

 private:
  static void CheckSize(int n) {
    if (n < 0) VO_THROW(eVoArgErr);
  }

  // A new block with copies of other's elements; frees it again on failure.
  static T* CopyBlock(const VoArray& other) {
    T* block = VoNewElementBlock<T>(other.size, other.size);
    try {
      if (other.size > 0) std::copy(other.elements, other.elements + other.size, block);
    } catch (...) {
      delete[] block;
      throw;
    }
    return block;
  }
};

#endif  // VOFOUNDATION_VODATA_VOARRAY_H
