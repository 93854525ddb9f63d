// Tests of the byte-order, system-version and platform queries and the byte swaps.
#include "VoSystem/VoPlatform.h"

#include <gtest/gtest.h>

#include <bit>
#include <climits>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>

#include "Linux/VoLinuxKernelPrivate.h"

namespace {

// ---------------------------------------------------------------- swaps

// Every 16-bit value against the byte arithmetic written out.
TEST(VoPlatformTest, SwapShortAndUShort) {
  EXPECT_EQ(SwapShort(0x0102), 0x0201);
  EXPECT_EQ(SwapShort(0x00FF), -256);
  EXPECT_EQ(SwapUShort(0x00FF), 0xFF00);
  for (int v = SHRT_MIN; v <= SHRT_MAX; ++v) {
    const int swapped = ((v & 0xFF) << 8) | ((v >> 8) & 0xFF);
    ASSERT_EQ(SwapUShort(static_cast<unsigned short>(v)), swapped) << v;
    ASSERT_EQ(SwapShort(static_cast<short>(v)), static_cast<short>(swapped)) << v;
  }
}

struct LongCase {
  unsigned long in;
  long as_signed;             // SwapLong: sign-extended from 32 bits
  unsigned long as_unsigned;  // SwapULong: zero-extended
};

TEST(VoPlatformTest, SwapLongAndULong) {
  const LongCase cases[] = {
      {0x01020304UL, 0x04030201L, 0x04030201UL},
      {0x000000FFUL, -16777216L, 0xFF000000UL},
      {0xFF000000UL, 0xFFL, 0xFFUL},
      {0x00000080UL, INT32_MIN, 0x80000000UL},
      {0x80000000UL, 0x80L, 0x80UL},
      {0xFFFFFFFFUL, -1L, 0xFFFFFFFFUL},
      {0UL, 0L, 0UL},
      {0x7FFFFFFFUL, -129L, 0xFFFFFF7FUL},
      // Only the low 32 bits count on a 64-bit long.
      {0x7700000001020304UL, 0x04030201L, 0x04030201UL},
      {0xDEADBEEF000000FFUL, -16777216L, 0xFF000000UL},
      {0xFFFFFFFF00000000UL, 0L, 0UL},
  };
  for (const LongCase& c : cases) {
    EXPECT_EQ(SwapLong(static_cast<long>(c.in)), c.as_signed) << std::hex << c.in;
    EXPECT_EQ(SwapULong(c.in), c.as_unsigned) << std::hex << c.in;
  }
  EXPECT_EQ(SwapLong(-16777216L), 0xFF);  // negative input
}

TEST(VoPlatformTest, SwapLongPtr) {
  const int32_t original[4] = {0x01020304, -16777216, 0x00000080, 0x11223344};
  int32_t v[4];

  std::memcpy(v, original, sizeof v);
  SwapLongPtr(v, 2);
  EXPECT_EQ(v[0], 0x04030201);
  EXPECT_EQ(v[1], 0x000000FF);
  EXPECT_EQ(v[2], original[2]);
  EXPECT_EQ(v[3], original[3]);

  std::memcpy(v, original, sizeof v);
  SwapLongPtr(v, 4);
  EXPECT_EQ(v[2], INT32_MIN);
  EXPECT_EQ(v[3], 0x44332211);

  for (long count : {0L, -1L, LONG_MIN}) {
    std::memcpy(v, original, sizeof v);
    SwapLongPtr(v, count);
    EXPECT_EQ(std::memcmp(v, original, sizeof v), 0) << "count " << count;
  }
  SwapLongPtr(nullptr, 3);  // must not touch memory
  SwapLongPtr(nullptr, 0);
  SwapLongPtr(nullptr, -3);
}

TEST(VoPlatformTest, SwapShortPtr) {
  const int16_t original[3] = {0x0102, 0x00FF, 0x1234};
  int16_t v[3];

  std::memcpy(v, original, sizeof v);
  SwapShortPtr(v, 2);
  EXPECT_EQ(v[0], 0x0201);
  EXPECT_EQ(v[1], -256);
  EXPECT_EQ(v[2], 0x1234);

  for (long count : {0L, -5L}) {
    std::memcpy(v, original, sizeof v);
    SwapShortPtr(v, count);
    EXPECT_EQ(std::memcmp(v, original, sizeof v), 0) << "count " << count;
  }
  SwapShortPtr(nullptr, 2);
}

// The pointer swaps reverse the bytes in memory, whatever the byte order.
TEST(VoPlatformTest, PointerSwapsReverseMemoryBytes) {
  const unsigned char bytes[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  int32_t words[2];
  std::memcpy(words, bytes, sizeof words);
  SwapLongPtr(words, 2);
  const unsigned char expected32[8] = {4, 3, 2, 1, 8, 7, 6, 5};
  EXPECT_EQ(std::memcmp(words, expected32, 8), 0);

  int16_t halves[4];
  std::memcpy(halves, bytes, sizeof halves);
  SwapShortPtr(halves, 4);
  const unsigned char expected16[8] = {2, 1, 4, 3, 6, 5, 8, 7};
  EXPECT_EQ(std::memcmp(halves, expected16, 8), 0);
}

// ---------------------------------------------------------------- byte order

TEST(VoPlatformTest, EndianMatchesTheProcessor) {
  const int expected = std::endian::native == std::endian::little ? 1
                       : std::endian::native == std::endian::big  ? 0
                                                                  : -1;
  ASSERT_NE(expected, -1) << "mixed-endian processor";
  EXPECT_EQ(VoGetEndian(), expected);
  EXPECT_EQ(VoGetEndian(), expected);  // cached, same on every call
}

// ---------------------------------------------------------------- versions

struct ReleaseCase {
  const char* release;
  long version;
};

TEST(VoPlatformTest, SystemVersionFromRelease) {
  const ReleaseCase cases[] = {
      {"6.1.0-18-amd64", 0x6100},
      {"5.10.0", 0x5900},
      {"4.19.0", 0x4900},
      {"3.2.0", 0x3200},
      {"10.2.1", 0x1021},
      {"6.12.5-rc1", 0x6950},
      {"6.1.158+deb12-amd64", 0x6190},
      {"2.6.32", 0x2690},
      {"5.15", 0x5900},
      {"6", 0x6000},
      {"6.", 0x6000},
      {"6.x.3", 0x6000},
      {"6.2-rc3", 0x6200},
      {"6.0.0", 0x6000},
      {"10.4.9", 0x1049},
      {"12.0", 0x1200},
      {"99.9.9", 0x9999},
      {"123.4.5", 0x9945},
      {"99999999999999999999.1.1", 0x9911},
      {"4.4.0-1234567890123456789012345", 0x4400},
      {"0.9.5", 0},
      {"", 0},
      {"linux", 0},
      {"-6.1.0", 0},
      {" 6.1.0", 0},
      {nullptr, 0},
  };
  for (const ReleaseCase& c : cases)
    EXPECT_EQ(VoSystemVersionFromRelease(c.release), c.version)
        << (c.release ? c.release : "(null)") << " -> " << std::hex << VoSystemVersionFromRelease(c.release);
}

// Every kernel from version 3 on must be the current desktop platform.
TEST(VoPlatformTest, EveryModernKernelIsTheCurrentPlatform) {
  for (int major = 3; major <= 120; ++major) {
    for (int minor : {0, 1, 9, 10, 99}) {
      const std::string release = std::to_string(major) + "." + std::to_string(minor) + ".0";
      const long version = VoSystemVersionFromRelease(release.c_str());
      EXPECT_GT(version, 0x0FFF) << release;
      EXPECT_EQ(VoPlatformFromSystemVersion(version), kVoPlatformCurrent) << release;
    }
  }
}

struct PlatformCase {
  long version;
  long platform;
};

TEST(VoPlatformTest, PlatformFromSystemVersion) {
  const PlatformCase cases[] = {
      {0x1049, 0x00040002}, {0x0922, 0x00040001}, {0x0860, 0x00040000}, {0x1000, 0x00040002},
      {0x0FFF, 0x00040001}, {0x0900, 0x00040001}, {0x08FF, 0x00040000}, {0x0000, 0x00040000},
      {0x6100, 0x00040002}, {-1, 0x00040000},
  };
  for (const PlatformCase& c : cases)
    EXPECT_EQ(VoPlatformFromSystemVersion(c.version), c.platform) << std::hex << c.version;
}

TEST(VoPlatformTest, RunningSystem) {
  const std::string release = VoLinuxKernelRelease();
  ASSERT_FALSE(release.empty());
  // The kernel's release as /proc tells it, for an independent look.
  std::ifstream proc("/proc/sys/kernel/osrelease");
  std::string from_proc;
  if (proc && std::getline(proc, from_proc)) {
    EXPECT_EQ(release, from_proc);
  }

  const long version = VoGetSystemVersion();
  EXPECT_EQ(version, VoSystemVersionFromRelease(release.c_str()));
  EXPECT_GT(version, 0x0FFF);
  EXPECT_EQ(VoGetSystemVersion(), version);
  // Line ends and folder domains depend on this value.
  EXPECT_EQ(VoGetPlatform(), 0x00040002);
  EXPECT_EQ(VoGetPlatform(), 0x00040002);
}

}  // namespace
