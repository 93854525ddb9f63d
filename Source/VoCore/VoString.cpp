// VoString.cpp - the string core: buffers, copy on write, access, comparison, append, search, numbers.
#include "VoCore/VoString.h"

#include <bit>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <atomic>
#include <new>

#if defined(__SANITIZE_ADDRESS__)
#define VO_SLAB_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VO_SLAB_ASAN 1
#endif
#endif
#ifdef VO_SLAB_ASAN
#include <sanitizer/asan_interface.h>
#endif

#include "VoCore/VoByteScan.h"
#include "VoCore/VoError.h"
#include "VoCore/VoMemoryPrivate.h"
#include "VoCore/VoStringPrivate.h"

namespace {

constexpr long kMaxCapacity = INT32_MAX;

/// Checks a requested capacity or length: negative is a bad argument, above the
/// 32-bit length field is more than a string can hold.
void CheckSize(long size) {
  if (size < 0) VO_THROW(eVoArgErr);
  if (size > kMaxCapacity) VO_THROW(eVoMemFullErr);
}

/// Blocks from this size on get the huge-page hint.
constexpr long kLargeBlock = 8L << 20;

/// Block sizes the calling thread keeps one freed block of, for the next
/// block of about the same size. glibc's per-thread cache serves blocks of up
/// to 1,032 bytes; larger ones take its general path, which costs as much as
/// copying a kilobyte. A string copied and then changed (the copy becomes
/// private) or built and dropped in a loop frees and allocates a block of the
/// same size each time, and so skips that path.
constexpr std::size_t kSpareLeast = 1033;
constexpr std::size_t kSpareMost = 16 * 1024;

/// The freed block kept by this thread: at most one, freed with the thread.
struct SpareBlock {
  void* block = nullptr;
  std::size_t bytes = 0;  ///< at most the block's size

  SpareBlock() = default;
  SpareBlock(const SpareBlock&) = delete;
  SpareBlock& operator=(const SpareBlock&) = delete;
  ~SpareBlock() { ::operator delete(block); }

  /// The kept block when it holds \p wanted bytes and wastes at most an
  /// eighth of them; else null.
  void* Take(std::size_t wanted) noexcept {
    if (!block || bytes < wanted || bytes - wanted > wanted / 8) return nullptr;
    void* p = block;
    block = nullptr;
    return p;
  }
};

thread_local SpareBlock tSpare;

/// A block of the given capacity with count 1 and a zero behind the capacity;
/// the other characters are not touched.
VoStringData* AllocBlock(long capacity, bool fixedLength) {
  const std::size_t bytes = sizeof(VoStringData) + static_cast<std::size_t>(capacity) + 1;
  void* p = nullptr;
  if (bytes >= kSpareLeast && bytes <= kSpareMost) p = tSpare.Take(bytes);
  if (!p) p = ::operator new(bytes);
  // Large blocks are mostly fresh memory from the system: ask for huge pages
  // first, which makes touching it for the first time several times cheaper.
  if (capacity >= kLargeBlock) VoPrepareLargeBlock(p, static_cast<unsigned long>(bytes));
  auto* d = new (p) VoStringData{1, static_cast<int32_t>(capacity), 0, fixedLength, false, 0};
  // The byte behind the capacity is always a zero, so that a text filled up to
  // its capacity through operator[] or Get() still ends there.
  d->Chars()[capacity] = 0;
  return d;
}

/// An empty text block of capacity 0 whose length is known to be 0.
VoStringData* EmptyTextBlock() {
  VoStringData* d = AllocBlock(0, false);
  d->Chars()[0] = 0;
  d->mAppendReady = true;
  return d;
}

inline int Fold(signed char c) { return (c >= 'A' && c <= 'Z') ? c + 32 : c; }

/// The case-insensitive rule over at most n characters (n > 0).
inline int FoldCompareN(const char* a, const char* b, long n) {
  for (long i = 0; i < n; ++i) {
    const signed char ca = static_cast<signed char>(a[i]);
    const signed char cb = static_cast<signed char>(b[i]);
    if (ca == cb) {
      if (ca == 0) return 0;
      continue;
    }
    const int fa = Fold(ca);
    const int fb = Fold(cb);
    if (fa != fb) return fa - fb;
  }
  return 0;
}

using VoByteScan::kHighs;
using VoByteScan::kOnes;
using VoByteScan::Load8;
using VoByteScan::ZeroBytes;  // flags may be wrong above the lowest: callers verify each candidate

/// First occurrence of the m bytes (m >= 2) at a start position in [hay, hay + positions).
/// Reads at most up to hay + positions + m - 2.
const char* SearchBytes(const char* hay, long positions, const char* pat, long m) {
  if (positions <= 0) return nullptr;
  const char first = pat[0];
  if (m == 1) return static_cast<const char*>(std::memchr(hay, first, static_cast<std::size_t>(positions)));
  const char last = pat[m - 1];
  const std::size_t middle = static_cast<std::size_t>(m - 2);
  const char* p = hay;
  const char* const end = hay + positions;
  // While the first byte is rare, memchr skips fastest.
  long misses = 0;
  while (p < end) {
    p = static_cast<const char*>(std::memchr(p, first, static_cast<std::size_t>(end - p)));
    if (!p) return nullptr;
    if (p[m - 1] == last && std::memcmp(p + 1, pat + 1, middle) == 0) return p;
    ++p;
    if (++misses >= 16 && p - hay < misses * 64) break;  // frequent: switch
  }
  // Frequent first byte: test first and last byte of 8 positions at a time.
  const uint64_t firsts = VoByteScan::Repeat(static_cast<unsigned char>(first));
  const uint64_t lasts = VoByteScan::Repeat(static_cast<unsigned char>(last));
  for (; end - p >= 8; p += 8) {
    uint64_t hits = ZeroBytes(Load8(p) ^ firsts) & ZeroBytes(Load8(p + m - 1) ^ lasts);
    if (!hits) continue;
    if constexpr (std::endian::native == std::endian::little) {
      for (; hits; hits &= hits - 1) {
        const char* q = p + VoByteScan::FirstFlagged(hits);
        if (q[0] == first && q[m - 1] == last && std::memcmp(q + 1, pat + 1, middle) == 0) return q;
      }
    } else {
      for (const char* q = p; q < p + 8; ++q) {
        if (q[0] == first && q[m - 1] == last && std::memcmp(q + 1, pat + 1, middle) == 0) return q;
      }
    }
  }
  for (; p < end; ++p) {
    if (p[0] == first && p[m - 1] == last && std::memcmp(p + 1, pat + 1, middle) == 0) return p;
  }
  return nullptr;
}

/// Bytes where two words can differ and still be equal under the case rule: the
/// 0x20 bit of every byte whose lower-case form (w | 0x20) is 'a'..'z'.
inline uint64_t FoldableBits(uint64_t w) {
  const uint64_t lower = w | (kOnes * 0x20);
  const uint64_t low7 = lower & (kOnes * 0x7F);
  const uint64_t atLeastA = low7 + kOnes * (0x80 - 'a');      // high bit: >= 'a'
  const uint64_t aboveZ = low7 + kOnes * (0x80 - ('z' + 1));  // high bit: > 'z'
  const uint64_t letters = atLeastA & ~aboveZ & ~lower & kHighs;
  return letters >> 2;  // 0x80 -> 0x20
}

/// The number of pattern bytes that decide a strncmp match over n bytes: the
/// pattern up to and including its first zero byte, else all n.
long DecidingBytes(const char* pat, long n) {
  const void* z = std::memchr(pat, 0, static_cast<std::size_t>(n));
  return z ? static_cast<const char*>(z) - pat + 1 : n;
}

/// Formats into a new text block; the result is never cut.
VoStringData* FormatBlock(const char* format, std::va_list args) {
  char buffer[4096];
  std::va_list again;
  va_copy(again, args);
  const int n = std::vsnprintf(buffer, sizeof buffer, format, args);
  if (n < 0) {
    va_end(again);
    VO_THROW(eVoFormatErr);
  }
  VoStringData* d;
  if (static_cast<std::size_t>(n) < sizeof buffer) {
    d = NewStringData(buffer, n, false);
  } else {
    try {
      d = NewStringData(nullptr, n, false);
    } catch (...) {
      va_end(again);
      throw;
    }
    std::vsnprintf(d->Chars(), static_cast<std::size_t>(n) + 1, format, again);
    d->mLength = n;
  }
  va_end(again);
  return d;
}

VoStringData* FormatBlockVar(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  VoStringData* d;
  try {
    d = FormatBlock(format, args);
  } catch (...) {
    va_end(args);
    throw;
  }
  va_end(args);
  return d;
}

}  // namespace

// ------------------------------------------------------------------ block runs

/// A slab of a VoStringBlockRun: this header, then the blocks carved from it.
/// `live` starts at kBias, the run's own hold; each free takes 1 off, and the
/// run, when it moves on, takes off what it did not carve (kBias minus the
/// blocks carved). Whoever brings it to 0 frees the slab.
struct VoStringBlockRun::Slab {
  std::atomic<std::int64_t> live;
  std::int64_t unused;
};
static_assert(sizeof(VoStringBlockRun::Slab) % 8 == 0);

namespace {

constexpr std::int64_t kBias = std::int64_t{1} << 40;
/// A little under 64 KiB, so that the heap's own header still fits in 64 KiB;
/// offsets in 8-byte units stay far below the 16-bit field's limit.
constexpr std::size_t kSlabBytes = 64 * 1024 - 64;
static_assert(kSlabBytes / 8 < 65536);

/// Under AddressSanitizer the slab's free space and each freed block are
/// poisoned, so that a write past a carved block or a use after its release is
/// caught as it would be for a block of its own.
#ifdef VO_SLAB_ASAN
void SlabPoison(const void* p, std::size_t n) noexcept { __asan_poison_memory_region(p, n); }
void SlabUnpoison(const void* p, std::size_t n) noexcept { __asan_unpoison_memory_region(p, n); }
#else
void SlabPoison(const void*, std::size_t) noexcept {}
void SlabUnpoison(const void*, std::size_t) noexcept {}
#endif

void FreeCarved(VoStringData* data) noexcept {
  auto* slab = reinterpret_cast<VoStringBlockRun::Slab*>(reinterpret_cast<char*>(data) -
                                                         8 * std::size_t{data->mSlabOffset});
  SlabPoison(data, sizeof(VoStringData) + static_cast<std::size_t>(data->mCapacity) + 1);
  if (slab->live.fetch_sub(1, std::memory_order_acq_rel) == 1) {
    slab->~Slab();
    ::operator delete(static_cast<void*>(slab));
  }
}

}  // namespace

VoStringBlockRun::~VoStringBlockRun() { Retire(); }

void VoStringBlockRun::Retire() noexcept {
  Slab* slab = mSlab;
  if (slab == nullptr) return;
  mSlab = nullptr;
  mNext = mEnd = nullptr;
  const std::int64_t hold = kBias - mCarved;
  if (slab->live.fetch_sub(hold, std::memory_order_acq_rel) == hold) {
    slab->~Slab();
    ::operator delete(static_cast<void*>(slab));
  }
}

VoStringData* VoStringBlockRun::Carve(long size) {
  const std::size_t bytes = (sizeof(VoStringData) + static_cast<std::size_t>(size) + 1 + 7) & ~std::size_t{7};
  if (static_cast<std::size_t>(mEnd - mNext) < bytes) {
    void* p = ::operator new(kSlabBytes);  // may throw: the run stays as it was
    Retire();
    mSlab = new (p) Slab{{kBias}, 0};
    mNext = static_cast<char*>(p) + sizeof(Slab);
    mEnd = static_cast<char*>(p) + kSlabBytes;
    mCarved = 0;
    SlabPoison(mNext, static_cast<std::size_t>(mEnd - mNext));
  }
  SlabUnpoison(mNext, sizeof(VoStringData) + static_cast<std::size_t>(size) + 1);
  const std::size_t offset = static_cast<std::size_t>(mNext - reinterpret_cast<char*>(mSlab)) / 8;
  auto* d =
      new (mNext) VoStringData{1, static_cast<int32_t>(size), 0, false, false, static_cast<uint16_t>(offset)};
  mNext += bytes;
  ++mCarved;
  return d;
}

VoStringData* VoStringBlockRun::New(const char* source, long size) {
  if (size > kMostCarved || size < 0) return NewStringData(source, size, false);
  VoStringData* d = Carve(size);
  char* chars = d->Chars();
  if (source) {
    std::memcpy(chars, source, static_cast<std::size_t>(size));
    d->mLength = static_cast<int32_t>(size);
  } else {
    chars[0] = 0;
  }
  chars[size] = 0;
  return d;
}

// ------------------------------------------------------------------ blocks

void FreeStringData(VoStringData* data) noexcept {
  if (data->mSlabOffset != 0) {
    FreeCarved(data);
    return;
  }
  const std::size_t bytes = sizeof(VoStringData) + static_cast<std::size_t>(data->mCapacity) + 1;
  data->~VoStringData();
  if (bytes >= kSpareLeast && bytes <= kSpareMost) {
    SpareBlock& spare = tSpare;
    if (!spare.block) {
      spare.block = data;
      spare.bytes = bytes;
      return;
    }
  }
  ::operator delete(static_cast<void*>(data));
}

void DropSpareStringBlock() noexcept {
  ::operator delete(tSpare.block);
  tSpare.block = nullptr;
}

void VoString::FreeBlock(VoStringData* d) noexcept { FreeStringData(d); }

VoStringData* NewStringData(const char* source, long size, bool fixedLength) {
  CheckSize(size);
  VoStringData* d = AllocBlock(size, fixedLength);
  char* chars = d->Chars();
  chars[0] = 0;
  if (source) {
    std::memcpy(chars, source, static_cast<std::size_t>(size));
    d->mLength = static_cast<int32_t>(size);
  } else if (fixedLength) {
    std::memset(chars, 0, static_cast<std::size_t>(size));
    d->mLength = static_cast<int32_t>(size);
  }
  chars[size] = 0;
  return d;
}

VoStringData* CatStringData(VoStringData* data, const char* source, long count) {
  if (count < 0) VO_THROW(eVoArgErr);
  if (!data) return NewStringData(source, count, false);
  if (data->mCount != 1) VO_THROW(eVoUnexpectedErr);
  bool ready = data->mAppendReady;
  if (data->mLength < 0) {
    if (data->mFixedLength) VO_THROW(eVoGeneralErr);
    data->mLength = static_cast<int32_t>(std::strlen(data->Chars()));
    ready = true;
  } else if (data->mFixedLength) {
    ready = true;
  }
  const long length = data->mLength;
  const long needed = length + count;
  if (needed > kMaxCapacity) VO_THROW(eVoMemFullErr);
  // A text-mode length stays equal to the counted one when no zero byte comes in.
  if (ready && !data->mFixedLength && count > 0 &&
      std::memchr(source, 0, static_cast<std::size_t>(count)) != nullptr) {
    ready = false;
  }

  VoStringData* target = data;
  const long capacity = data->mCapacity;
  if (needed > capacity) {
    long newCapacity = (2 * needed < 3 * capacity) ? 3 * capacity / 2 : needed;
    if (newCapacity <= 9) newCapacity = 10;
    if (newCapacity > kMaxCapacity) newCapacity = kMaxCapacity;
    target = AllocBlock(newCapacity, data->mFixedLength);
    std::memcpy(target->Chars(), data->Chars(), static_cast<std::size_t>(length));
    target->mLength = static_cast<int32_t>(length);
    // The source may lie in the old block: copy before freeing it.
    if (count > 0) std::memcpy(target->Chars() + length, source, static_cast<std::size_t>(count));
    FreeStringData(data);
  } else if (count > 0) {
    std::memmove(target->Chars() + length, source, static_cast<std::size_t>(count));
  }
  target->mLength = static_cast<int32_t>(needed);
  target->Chars()[needed] = 0;
  target->mAppendReady = ready;
  return target;
}

// ------------------------------------------------------------------ construction

VoString::VoString(long size, bool fixedLength) : mData(nullptr) {
  if (size != 0) {
    mData = NewStringData(nullptr, size, fixedLength);
    mData->mAppendReady = true;  // text: length 0 over "", fixed: length = size >= 0
  }
}

VoString::VoString(const void* bytes, long size, bool fixedLength) : mData(nullptr) {
  if (size != 0) {
    mData = NewStringData(static_cast<const char*>(bytes), size, fixedLength);
    if (!bytes || fixedLength) mData->mAppendReady = true;
  }
}

VoString::VoString(char c) : mData(NewStringData(&c, 1, false)) { mData->mAppendReady = (c != 0); }

VoString::VoString(const char* text) : mData(nullptr) {
  if (text) {
    mData = NewStringData(text, static_cast<long>(std::strlen(text)), false);
    mData->mAppendReady = true;
  }
}

VoString::VoString(const unsigned char* pascal) : mData(nullptr) {
  if (pascal) {
    const long n = pascal[0];
    mData = NewStringData(reinterpret_cast<const char*>(pascal + 1), n, false);
    mData->mAppendReady = std::memchr(pascal + 1, 0, static_cast<std::size_t>(n)) == nullptr;
  }
}

// ------------------------------------------------------------------ assignment

VoString& VoString::operator=(const char* text) { return *this = VoString(text); }
VoString& VoString::operator=(const unsigned char* pascal) { return *this = VoString(pascal); }
VoString& VoString::operator=(char c) { return *this = VoString(c); }

VoString& VoString::Set(const void* bytes, long size) {
  if (size == 0) return *this = VoString();
  VoStringData* d = NewStringData(static_cast<const char*>(bytes), size, false);
  if (!bytes) d->mAppendReady = true;
  return *this = VoString(d);
}

// ------------------------------------------------------------------ access

long VoString::CountLength() const {
  mData->mLength = static_cast<int32_t>(std::strlen(mData->Chars()));
  return mData->mLength;
}

char VoString::At(long index) const {
  if (!mData || index < 0 || index >= mData->mCapacity) VO_THROW(eVoIndexError);
  return mData->Chars()[index];
}

char& VoString::WritableAt(long index) {
  if (!mData || index < 0 || index >= mData->mCapacity) VO_THROW(eVoIndexError);
  if (mData->mCount > 1) {
    // The private copy will have capacity = length; check before copying.
    const long length = this->length();
    if (index >= length) VO_THROW(eVoIndexError);
  }
  WriteAccess();
  return mData->Chars()[index];
}

char* VoString::Get(long* length) {
  if (!mData) return nullptr;
  WriteAccess();
  if (length) *length = this->length();
  return mData->Chars();
}

unsigned char* VoString::p_str(unsigned char* buffer) const {
  if (!buffer) return nullptr;
  long n = length();
  if (n < 0) n = 0;
  if (n > 255) n = 255;
  buffer[0] = static_cast<unsigned char>(n);
  if (n > 0) std::memcpy(buffer + 1, c_str(), static_cast<std::size_t>(n));
  return buffer;
}

void VoString::SetLength(int length) {
  if (!mData || length > mData->mCapacity) VO_THROW(eVoIndexError);
  if (length < 0) {
    mData->mLength = -1;
    mData->mAppendReady = false;
  } else {
    mData->mLength = length;
    mData->mAppendReady = mData->mFixedLength;
  }
}

void VoString::WriteAccess() {
  PrepareAppend();
  if (!mData->mFixedLength) {
    mData->mLength = -1;
    mData->mAppendReady = false;
  }
}

void VoString::PrepareAppend() {
  VoStringData* d = mData;
  if (!d) {
    mData = EmptyTextBlock();
    return;
  }
  if (d->mCount == 1) {
    if (!d->mFixedLength && !d->mAppendReady) d->mLength = -1;
    return;
  }
  long length = this->length();
  const bool unset = length < 0;  // only a fixed-length buffer made -1 by SetLength
  if (unset) length = 0;
  VoStringData* copy = NewStringData(d->Chars(), length, d->mFixedLength);
  if (d->mFixedLength) {
    if (unset) copy->mLength = -1;
    copy->mAppendReady = !unset;
  } else if (d->mAppendReady) {
    copy->mAppendReady = true;  // the copied characters hold no zero byte
  } else {
    copy->mLength = -1;
  }
  --d->mCount;
  mData = copy;
}

// ------------------------------------------------------------------ comparison

int VoString::cmp(const VoString& other) const { return std::strcmp(c_str(), other.c_str()); }

int VoString::cmp(const char* other) const {
  if (!other) VO_THROW(eVoArgErr);
  return std::strcmp(c_str(), other);
}

int VoString::cmpIgnoreCase(const VoString& other) const { return Vostricmp(c_str(), other.c_str()); }

int VoString::cmpIgnoreCase(const char* other) const { return Vostricmp(c_str(), other); }

bool operator==(const VoString& a, const VoString& b) {
  const char* pa = a.c_str();
  const char* pb = b.c_str();
  return pa == pb || std::strcmp(pa, pb) == 0;
}
bool operator==(const VoString& a, const char* b) { return a.cmp(b) == 0; }
bool operator==(const char* a, const VoString& b) {
  if (!a) VO_THROW(eVoArgErr);
  return std::strcmp(a, b.c_str()) == 0;
}
bool operator!=(const VoString& a, const VoString& b) { return !(a == b); }
bool operator!=(const VoString& a, const char* b) { return !(a == b); }
bool operator!=(const char* a, const VoString& b) { return !(a == b); }
bool operator<(const VoString& a, const VoString& b) { return a.cmp(b) < 0; }
bool operator>(const VoString& a, const VoString& b) { return b < a; }
bool operator<=(const VoString& a, const VoString& b) { return !(b < a); }
bool operator>=(const VoString& a, const VoString& b) { return !(a < b); }

int Vostricmp(const char* a, const char* b) {
  if (!a || !b) VO_THROW(eVoArgErr);
  constexpr std::size_t kChunk = 256;
  for (;;) {
    // Bytes known to be readable in both strings: up to the first zero of a
    // within the chunk, then up to the first zero of b within that.
    const void* zeroA = std::memchr(a, 0, kChunk);
    const std::size_t readableA =
        zeroA ? static_cast<std::size_t>(static_cast<const char*>(zeroA) - a) + 1 : kChunk;
    const void* zeroB = std::memchr(b, 0, readableA);
    const std::size_t readable =
        zeroB ? static_cast<std::size_t>(static_cast<const char*>(zeroB) - b) + 1 : readableA;
    std::size_t i = 0;
    for (; i + 8 <= readable; i += 8) {
      const uint64_t wa = Load8(a + i);
      const uint64_t diff = wa ^ Load8(b + i);
      if (diff && (diff & ~FoldableBits(wa))) break;
    }
    for (; i < readable; ++i) {
      const signed char ca = static_cast<signed char>(a[i]);
      const signed char cb = static_cast<signed char>(b[i]);
      if (ca == cb) {
        if (ca == 0) return 0;
        continue;
      }
      const int fa = Fold(ca);
      const int fb = Fold(cb);
      if (fa != fb) return fa - fb;
    }
    if (zeroB) return 0;  // both ended together within equal words
    a += readable;
    b += readable;
  }
}

int Vostrincmp(const char* a, const char* b, int count) {
  if (!a || !b) VO_THROW(eVoArgErr);
  if (count <= 0) return 0;
  return FoldCompareN(a, b, count);
}

// ------------------------------------------------------------------ concatenation

VoString& VoString::Append(const char* bytes, long count) {
  if (mData && mData->mFixedLength && mData->mLength < 0) VO_THROW(eVoGeneralErr);
  if (mData && static_cast<long>(mData->mLength) + count > kMaxCapacity) VO_THROW(eVoMemFullErr);
  PrepareAppend();
  mData = CatStringData(mData, bytes, count);
  return *this;
}

VoString& VoString::operator+=(const VoString& other) {
  if (mData && mData->mFixedLength && mData->mLength < 0) VO_THROW(eVoGeneralErr);
  PrepareAppend();
  long n = other.length();  // after PrepareAppend: other may be this string
  if (n < 0) n = 0;
  mData = CatStringData(mData, other.c_str(), n);
  return *this;
}

VoString& VoString::operator+=(const char* text) {
  if (!text) VO_THROW(eVoArgErr);
  return Append(text, static_cast<long>(std::strlen(text)));
}

VoString& VoString::operator+=(const unsigned char* pascal) {
  if (!pascal) VO_THROW(eVoArgErr);
  return Append(reinterpret_cast<const char*>(pascal + 1), pascal[0]);
}

VoString operator+(const VoString& a, const VoString& b) {
  VoString result(a);
  result += b;
  return result;
}

VoString operator+(const VoString& a, char b) {
  VoString result(a);
  result += b;
  return result;
}

VoString operator+(char a, const VoString& b) {
  VoString result(a);
  result += b;
  return result;
}

// ------------------------------------------------------------------ searching

VoString VoString::substr(long start, long count) const {
  long length = this->length();
  if (length < 0) length = 0;
  if (length <= start || count == 0) return VoString("");
  if (start < 0) start = 0;
  if (count < 0 || count > length - start) count = length - start;
  return VoString(NewStringData(c_str() + start, count, mData && mData->mFixedLength));
}

long VoString::find(const VoString& pattern, long start, bool ignoreCase) const {
  long length = this->length();
  if (length < 0) length = 0;
  long n = pattern.length();
  if (n < 0) n = 0;
  if (start < 0) start = 0;
  if (n == 0) return start <= length ? start : -1;
  if (n > length || start > length - n) return -1;
  const char* text = c_str();
  const char* pat = pattern.c_str();
  if (!ignoreCase) {
    const long m = DecidingBytes(pat, n);
    const char* hit = SearchBytes(text + start, length - n - start + 1, pat, m);
    return hit ? hit - text : -1;
  }
  for (long pos = start; pos <= length - n; ++pos) {
    if (FoldCompareN(text + pos, pat, n) == 0) return pos;
  }
  return -1;
}

long VoString::findreverse(const VoString& pattern, bool ignoreCase) const {
  long length = this->length();
  if (length < 0) length = 0;
  long n = pattern.length();
  if (n < 0) n = 0;
  if (n > length) return -1;
  if (n == 0) return length;
  const char* text = c_str();
  const char* pat = pattern.c_str();
  if (!ignoreCase) {
    const long m = DecidingBytes(pat, n);
    for (long pos = length - n; pos >= 0; --pos) {
      if (text[pos] == pat[0] && std::memcmp(text + pos, pat, static_cast<std::size_t>(m)) == 0) return pos;
    }
    return -1;
  }
  for (long pos = length - n; pos >= 0; --pos) {
    if (FoldCompareN(text + pos, pat, n) == 0) return pos;
  }
  return -1;
}

long VoString::find(char c, long start) const {
  const long length = this->length();
  if (start < 0) start = 0;
  if (start >= length) return -1;
  const char* text = c_str();
  const void* hit = std::memchr(text + start, c, static_cast<std::size_t>(length - start));
  return hit ? static_cast<const char*>(hit) - text : -1;
}

long VoString::findreverse(char c) const {
  const char* text = c_str();
  for (long pos = length() - 1; pos >= 0; --pos) {
    if (text[pos] == c) return pos;
  }
  return -1;
}

long VoString::containsChar(const VoString& set) const {
  const long setLength = set.length();
  if (setLength <= 0) return -1;
  bool inSet[256] = {};
  const unsigned char* s = reinterpret_cast<const unsigned char*>(set.c_str());
  for (long i = 0; i < setLength; ++i) inSet[s[i]] = true;
  const unsigned char* text = reinterpret_cast<const unsigned char*>(c_str());
  const long length = this->length();
  for (long pos = 0; pos < length; ++pos) {
    if (inSet[text[pos]]) return pos;
  }
  return -1;
}

void VoString::Replace(char from, char to) {
  WriteAccess();
  for (char* p = mData->Chars(); *p; ++p) {
    if (*p == from) *p = to;
  }
}

// ------------------------------------------------------------------ numbers

VoString VoString::Printf(const char* format, ...) {
  if (!format) VO_THROW(eVoArgErr);
  std::va_list args;
  va_start(args, format);
  VoStringData* d;
  try {
    d = FormatBlock(format, args);
  } catch (...) {
    va_end(args);
    throw;
  }
  va_end(args);
  if (d->mLength == 0) {
    // Set with size 0 leaves no buffer.
    FreeStringData(d);
    d = nullptr;
  }
  *this = VoString(d);
  return *this;
}

VoString VoString::ltoa(long value) { return Printf("%ld", value); }

VoString VoString::ftoa(double value, const char* format) {
  VoStringData* d = FormatBlockVar(format ? format : "%f", value);
  if (d->mLength == 0) {
    FreeStringData(d);
    d = nullptr;
  }
  *this = VoString(d);
  return *this;
}

long VoString::atol() const { return std::atol(c_str()); }

double VoString::atof() const { return std::atof(c_str()); }
