/// \file
/// Processor byte order, system version, platform value and byte swapping.
#ifndef VOFOUNDATION_VOSYSTEM_VOPLATFORM_H
#define VOFOUNDATION_VOSYSTEM_VOPLATFORM_H

#include <stdint.h>

/// Platform values of VoGetPlatform().
enum {
  kVoPlatformCurrent = 0x00040002L,   ///< current desktop system (version above 0x0FFF); every Linux
  kVoPlatformVersion9 = 0x00040001L,  ///< system version 0x0900 to 0x0FFF
  kVoPlatformOlder = 0x00040000L      ///< system version up to 0x08FF
};

#ifdef __cplusplus
extern "C" {
#endif

/// 0 on a big-endian processor, 1 on a little-endian one. Found on the first
/// call by storing the 16-bit value 1 and reading its first byte, then cached.
int VoGetEndian(void);

/// The operating system's version as four BCD digits, asked on the first call
/// and cached; while the cache holds 0 (the system did not tell) it is asked
/// again on every call.
///
/// On Linux this is the running kernel's release (uname) mapped by
/// VoSystemVersionFromRelease(): 6.1.0 gives 0x6100, 10.2.1 gives 0x1021.
long VoGetSystemVersion(void);

/// One of the three platform values, derived from VoGetSystemVersion() on the
/// first call by VoPlatformFromSystemVersion() and cached.
///
/// On Linux every kernel from version 1 on maps above 0x0FFF, so the result is
/// kVoPlatformCurrent (0x00040002). Should the kernel not tell its version at
/// all (version 0), the result is kVoPlatformCurrent as well, since no Linux
/// system is one of the older platforms.
long VoGetPlatform(void);

/// Maps a kernel release text to four BCD digits, left-aligned:
/// the digits of the major number, then one digit for the minor number and one
/// for the patch number, each of those two clamped to 9, and a 0 digit to fill
/// the fourth place when the major number has only one digit.
///
///   "6.1.0-18-amd64" -> 0x6100    "5.10.0" -> 0x5900    "3.2.0"  -> 0x3200
///   "10.2.1"         -> 0x1021    "6.12.5-rc1" -> 0x6950
///
/// A major number of 10 and more takes two digits (clamped to 99), exactly like
/// the "10.4.9" -> 0x1049 layout. So every release of major 1 or more maps above
/// 0x0FFF. Missing minor or patch numbers count as 0; parsing stops at the first
/// character that does not fit "major[.minor[.patch]]". A null text, a text that
/// does not start with a digit, or a major number of 0 gives 0 ("unknown").
long VoSystemVersionFromRelease(const char* release);

/// The platform value for a system version: kVoPlatformCurrent above 0x0FFF,
/// kVoPlatformVersion9 for 0x0900 to 0x0FFF, kVoPlatformOlder below 0x0900.
long VoPlatformFromSystemVersion(long version);

/// @{
/// The value with its two bytes exchanged.
short SwapShort(short value);
unsigned short SwapUShort(unsigned short value);
/// @}

/// The low 32 bits of \p value with their four bytes in reverse order. SwapLong
/// returns the swapped 32 bits as a signed 32-bit value widened to long (so
/// SwapLong(0x80) is -2147483648); SwapULong returns them zero-extended. Bits
/// above the low 32 of a 64-bit long are ignored.
/// @{
long SwapLong(long value);
unsigned long SwapULong(unsigned long value);
/// @}

/// Reverse the bytes of each of \p count consecutive 16-bit or 32-bit values
/// in place. SwapLongPtr works on 32-bit units (int32_t, not the 64-bit long of
/// LP64 systems); cast other 32-bit element types. A null pointer or a
/// count <= 0 does nothing.
/// @{
void SwapShortPtr(int16_t* values, long count);
void SwapLongPtr(int32_t* values, long count);
/// @}

#ifdef __cplusplus
}
#endif

#endif  // VOFOUNDATION_VOSYSTEM_VOPLATFORM_H
