// VoStringPrivate.h - building blocks of VoString for the library's own string code (not installed).
#ifndef VOFOUNDATION_VOCORE_VOSTRINGPRIVATE_H
#define VOFOUNDATION_VOCORE_VOSTRINGPRIVATE_H

#include "VoCore/VoString.h"

/// A new block of capacity \p size (0 .. 2^31-1, else "VoMemFullErr" (4); a
/// negative size throws "VoArgErr" (3)) with count 1, the given mode, mAppendReady
/// false, and zero bytes at positions 0 and \p size.
///   - With \p source: copies \p size bytes from it; length = size.
///   - Without: text mode gets length 0 (room for size characters); fixed-length
///     mode gets length size, its bytes all zero.
/// To hand a block out, wrap it: `VoString(NewStringData(...))` adopts it.
///
/// Typical use for a result built byte by byte:
///   VoStringData* d = NewStringData(nullptr, maxSize, false);
///   char* out = d->Chars();  ... write n <= maxSize bytes ...
///   out[n] = 0; d->mLength = static_cast<int32_t>(n);
///   return VoString(d);
VoStringData* NewStringData(const char* source, long size, bool fixedLength);

/// Frees a block that no string uses any more. A block of 1 KiB to 16 KiB
/// may be kept instead, one per thread, for the next such block NewStringData
/// makes on that thread (see AllocBlock in VoString.cpp); it is freed when
/// the thread ends.
void FreeStringData(VoStringData* data) noexcept;

/// Frees the block the calling thread keeps for reuse, if any: for code that
/// counts the blocks in use.
void DropSpareStringBlock() noexcept;

/// Makes the blocks of many small strings born together (the keys and values
/// of a database read) cheaply: they are carved one behind the other from
/// slabs of 64 KiB, and freeing one costs an atomic decrement of its slab's
/// count of live blocks. A slab goes back to the heap when the run has moved
/// on from it and its last block has been freed, from whatever thread (the
/// count is the only thing a free touches, and it is atomic: strings are
/// free to travel to other threads as ever, and no lock is taken).
///
/// The blocks are ordinary string blocks in every other way: shared and copied
/// on write, grown (into a block of its own) and freed as any. The price is
/// that one long-lived block keeps its whole slab alive, so runs are for
/// strings that usually go together, not for strings in general.
///
/// Slabs come from the global operator new, as every string block does: the
/// replaceable memory manager (VoAlloc) has never been the string blocks'
/// allocator, and a program's replacement of operator new sees the slabs.
/// A run belongs to one thread and is not copied.
class VoStringBlockRun {
 public:
  VoStringBlockRun() = default;
  VoStringBlockRun(const VoStringBlockRun&) = delete;
  VoStringBlockRun& operator=(const VoStringBlockRun&) = delete;
  /// Lets go of the current slab (freed here when all its blocks are).
  ~VoStringBlockRun();

  /// As NewStringData(source, size, false): count 1, text mode, capacity
  /// \p size, the bytes of \p source (length \p size) or, for a null source,
  /// empty text. Sizes of more than kMostCarved characters get a block of their own.
  VoStringData* New(const char* source, long size);

  /// The largest capacity carved from a slab.
  static constexpr long kMostCarved = 1000;

  /// The header of a slab (VoString.cpp).
  struct Slab;

 private:
  VoStringData* Carve(long size);
  void Retire() noexcept;

  Slab* mSlab = nullptr;
  char* mNext = nullptr;  // where the next block goes
  char* mEnd = nullptr;
  long mCarved = 0;  // blocks carved from mSlab
};

/// Appends \p count bytes from \p source to \p data and returns the block that
/// now holds the string (\p data itself, or a new one that replaced it; the old
/// one is then freed). A null \p data gives a new text-mode block holding the
/// bytes. \p source may point into \p data. Throws "VoUnexpectedErr" (2) when
/// \p data is shared, "VoGeneralErr" (42) for a fixed-length block of length -1,
/// "VoMemFullErr" (4) beyond 2^31-1 characters. Growth: when the new length
/// exceeds the capacity, the new capacity is 3*capacity/2 if that is more than
/// the needed size, else the needed size; at least 10.
VoStringData* CatStringData(VoStringData* data, const char* source, long count);

#endif  // VOFOUNDATION_VOCORE_VOSTRINGPRIVATE_H
