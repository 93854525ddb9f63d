// VoPlatform.cpp - byte order, system version and platform queries, byte swapping.
#include "VoSystem/VoPlatform.h"

#include <atomic>
#include <cstdint>
#include <cstring>
#include <string>

#include "Linux/VoLinuxKernelPrivate.h"

namespace {

// Process-wide caches. Atomic with relaxed order: lock-free, and concurrent
// first calls just compute and store the same value.
std::atomic<int> gEndian{-1};
std::atomic<long> gSystemVersion{0};
std::atomic<long> gPlatform{0};

uint16_t Swap16(uint16_t v) { return static_cast<uint16_t>((v >> 8) | (v << 8)); }

uint32_t Swap32(uint32_t v) {
  return (v >> 24) | ((v >> 8) & 0x0000FF00u) | ((v << 8) & 0x00FF0000u) | (v << 24);
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Reads a decimal number at *text, advancing past its digits; the value is
// capped at 1000 so that long digit runs cannot overflow.
long ReadNumber(const char*& text) {
  long value = 0;
  while (IsDigit(*text)) {
    if (value < 1000) value = value * 10 + (*text - '0');
    ++text;
  }
  return value;
}

long Clamp(long value, long limit) { return value > limit ? limit : value; }

}  // namespace

extern "C" {

int VoGetEndian(void) {
  int endian = gEndian.load(std::memory_order_relaxed);
  if (endian < 0) {
    const uint16_t one = 1;
    unsigned char bytes[sizeof one];
    std::memcpy(bytes, &one, sizeof one);
    endian = bytes[0] == 1 ? 1 : 0;
    gEndian.store(endian, std::memory_order_relaxed);
  }
  return endian;
}

long VoSystemVersionFromRelease(const char* release) {
  if (release == nullptr || !IsDigit(*release)) return 0;
  const char* p = release;
  const long major = Clamp(ReadNumber(p), 99);
  long minor = 0;
  long patch = 0;
  if (*p == '.' && IsDigit(p[1])) {
    ++p;
    minor = Clamp(ReadNumber(p), 9);
    if (*p == '.' && IsDigit(p[1])) {
      ++p;
      patch = Clamp(ReadNumber(p), 9);
    }
  }
  if (major == 0) return 0;
  if (major >= 10) return ((major / 10) << 12) | ((major % 10) << 8) | (minor << 4) | patch;
  return (major << 12) | (minor << 8) | (patch << 4);
}

long VoPlatformFromSystemVersion(long version) {
  if (version > 0x0FFF) return kVoPlatformCurrent;
  if (version >= 0x0900) return kVoPlatformVersion9;
  return kVoPlatformOlder;
}

long VoGetSystemVersion(void) {
  long version = gSystemVersion.load(std::memory_order_relaxed);
  if (version == 0) {
    version = VoSystemVersionFromRelease(VoLinuxKernelRelease().c_str());
    gSystemVersion.store(version, std::memory_order_relaxed);
  }
  return version;
}

long VoGetPlatform(void) {
  long platform = gPlatform.load(std::memory_order_relaxed);
  if (platform == 0) {
    const long version = VoGetSystemVersion();
    // A Linux kernel that does not tell its version is still the current system.
    platform = version == 0 ? static_cast<long>(kVoPlatformCurrent) : VoPlatformFromSystemVersion(version);
    gPlatform.store(platform, std::memory_order_relaxed);
  }
  return platform;
}

short SwapShort(short value) { return static_cast<short>(Swap16(static_cast<uint16_t>(value))); }

unsigned short SwapUShort(unsigned short value) { return Swap16(static_cast<uint16_t>(value)); }

long SwapLong(long value) { return static_cast<int32_t>(Swap32(static_cast<uint32_t>(value))); }

unsigned long SwapULong(unsigned long value) { return Swap32(static_cast<uint32_t>(value)); }

void SwapShortPtr(int16_t* values, long count) {
  if (values == nullptr) return;
  for (long i = 0; i < count; ++i) values[i] = static_cast<int16_t>(Swap16(static_cast<uint16_t>(values[i])));
}

void SwapLongPtr(int32_t* values, long count) {
  if (values == nullptr) return;
  for (long i = 0; i < count; ++i) values[i] = static_cast<int32_t>(Swap32(static_cast<uint32_t>(values[i])));
}

}  // extern "C"
