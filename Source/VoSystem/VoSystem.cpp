// VoSystem.cpp - calendar dates (VoDate) and the operating-system utilities (VoSystem).
#include "VoSystem/VoSystem.h"

#include <climits>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>

#include "Linux/VoLinuxClipboardPrivate.h"
#include "Linux/VoLinuxClockPrivate.h"
#include "Linux/VoLinuxDesktopPrivate.h"
#include "Linux/VoLinuxKeysPrivate.h"
#include "Linux/VoLinuxProcessPrivate.h"
#include "Linux/VoLinuxX11Private.h"
#include "Mac/VoMacToolsOSX.h"
#include "Mac/VoMacToolsPrivate.h"
#include "VoCore/VoDebug.h"
#include "VoCore/VoError.h"
#include "VoIO/VoFile.h"
#include "VoIO/VoFileSpec.h"
#include "VoIO/VoStream.h"

namespace {

int Clamp(int value, int low, int high) {
  if (value < low) return low;
  if (value > high) return high;
  return value;
}

int SaturateToInt(long long value) {
  if (value < INT_MIN) return INT_MIN;
  if (value > INT_MAX) return INT_MAX;
  return static_cast<int>(value);
}

bool IsCSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

/// Reads up to \p wanted integers the way "%d" conversions in a row do, from
/// the text of \p text (up to its first zero byte or its length), with every
/// character of \p blanks taken as a blank. Returns the number read.
int ReadIntegers(const VoString& text, const char* blanks, int* values, int wanted) {
  long end = text.length();
  if (end < 0) end = 0;
  const char* chars = text.c_str();
  auto at = [&](long i) -> char {
    char c = chars[i];
    for (const char* b = blanks; *b; ++b)
      if (c == *b) return ' ';
    return c;
  };
  // Stop at the first zero byte as well as at the length.
  long limit = 0;
  while (limit < end && chars[limit] != 0) ++limit;

  long pos = 0;
  int count = 0;
  while (count < wanted) {
    while (pos < limit && IsCSpace(at(pos))) ++pos;
    long p = pos;
    bool negative = false;
    if (p < limit && (at(p) == '+' || at(p) == '-')) {
      negative = at(p) == '-';
      ++p;
    }
    if (p >= limit || at(p) < '0' || at(p) > '9') break;
    long long magnitude = 0;
    while (p < limit && at(p) >= '0' && at(p) <= '9') {
      // Past the 32-bit range the value only saturates; stop growing it.
      if (magnitude <= static_cast<long long>(INT_MAX) + 1) magnitude = magnitude * 10 + (at(p) - '0');
      ++p;
    }
    values[count++] = SaturateToInt(negative ? -magnitude : magnitude);
    pos = p;
  }
  return count;
}

#if defined(__GNUC__)
VoString Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
#endif

/// Formats into a new text string; long output is formatted again into a
/// buffer of the right size, never cut.
VoString Format(const char* format, ...) {
  char small[256];
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(small, sizeof small, format, args);
  va_end(args);
  if (n <= 0) return VoString();
  if (static_cast<size_t>(n) < sizeof small) return VoString(small, n);
  std::string large(static_cast<size_t>(n) + 1, '\0');
  va_start(args, format);
  std::vsnprintf(large.data(), large.size(), format, args);
  va_end(args);
  return VoString(large.data(), n);
}

}  // namespace

// ==================================================================== VoDate

VoDate::VoDate(int year, int month, int day, int hour, int minute, int second) {
  SetDate(year, month, day, hour, minute, second);
}

void VoDate::SetDate(int year, int month, int day, int hour, int minute, int second) {
  mYear = Clamp(year, 0, 3000);
  mMonth = Clamp(month, 1, 12);
  mDay = Clamp(day, 1, 31);
  SetTime(hour, minute, second);
}

void VoDate::SetTime(int hour, int minute, int second) {
  mHour = Clamp(hour, 0, 23);
  mMinute = Clamp(minute, 0, 59);
  mSecond = Clamp(second, 0, 59);
}

long VoDate::SecondOfDay() const {
  return static_cast<long>(mHour) * 3600 + static_cast<long>(mMinute) * 60 + mSecond;
}

long VoDate::Day2Long() const { return (12 * static_cast<long>(mYear) + mMonth) * 31 + mDay - 32; }

void VoDate::Long2Date(long key) {
  mYear = SaturateToInt(key / 372);
  mMonth = static_cast<int>((key / 31) % 12 + 1);
  mDay = static_cast<int>(key % 31 + 1);
}

VoString VoDate::GetString() const {
  return Format("%d-%d-%d %d:%02d:%02d", mYear, mMonth, mDay, mHour, mMinute, mSecond);
}

VoString VoDate::GetDayString() const { return Format("%d-%d-%d", mYear, mMonth, mDay); }

VoString VoDate::GetFileNameString() const {
  return Format("%d%02d%02d %02d-%02d", mYear, mMonth, mDay, mHour, mMinute);
}

VoString VoDate::GetFileNameString(VoString separator) const {
  return Format("%d%02d%02d%s%02d-%02d", mYear, mMonth, mDay, separator.c_str(), mHour, mMinute);
}

VoString VoDate::GetShortString() const {
  // Unsigned 32-bit arithmetic: fields written through the accessors may hold
  // any value, and only the low byte is kept.
  const int fields[6] = {mYear, mMonth, mDay, mHour, mMinute, mSecond};
  char codes[6];
  for (int i = 0; i < 6; ++i) {
    uint32_t offset = i == 0 ? 113u : 65u;
    codes[i] = static_cast<char>(static_cast<unsigned char>(static_cast<uint32_t>(fields[i]) + offset));
  }
  return VoString(codes, 6, true);
}

void VoDate::SetString(const VoString& text) {
  int v[6] = {0, 0, 0, 0, 0, 0};
  if (ReadIntegers(text, "-:", v, 6) < 3) VO_THROW(eVoFormatErr);
  SetDate(v[0], v[1], v[2], v[3], v[4], v[5]);
}

void VoDate::SetDayString(const VoString& text) {
  int v[3] = {0, 0, 0};
  if (ReadIntegers(text, "-", v, 3) < 3) VO_THROW(eVoFormatErr);
  SetDate(v[0], v[1], v[2], 0, 0, 0);
}

void VoDate::SetShortString(const VoString& text) {
  if (text.length() != 6) VO_THROW(eVoFormatErr);
  const unsigned char* c = reinterpret_cast<const unsigned char*>(text.c_str());
  int year = static_cast<int8_t>(c[0]) + 1935;
  SetDate(year, c[1] - 65, c[2] - 65, c[3] - 65, c[4] - 65, c[5] - 65);
}

// ==================================================================== VoSystem

VoDate VoSystem::GetDate() {
  std::time_t now = std::time(nullptr);
  if (now == static_cast<std::time_t>(-1)) VO_THROW(eVoUndefProc);
  // Not thread-safe (shared buffer); copied out at once. See the header.
  const std::tm* local = std::localtime(&now);
  if (!local) VO_THROW(eVoUndefProc);
  int year = SaturateToInt(static_cast<long long>(local->tm_year) + 1900);
  return VoDate(year, local->tm_mon + 1, local->tm_mday, local->tm_hour, local->tm_min, local->tm_sec);
}

// ---------------------------------------------------------------- clock and waiting

namespace {

/// Presentation modes: 0 normal, 3 menu bar and dock hidden.
constexpr int kModeNormal = 0;
constexpr int kModeAllHidden = 3;
int gPresentationMode = kModeNormal;

/// The pause after each of the three beeps of Beep(1), in ticks.
constexpr uint64_t kBeepPauseTicks = 40;

/// Block size of CopyFile.
constexpr unsigned long kCopyBlockSize = 100000;

/// The "err" error with a platform status as its code (-1: all bits set).
[[noreturn]] void ThrowErr(long status, int line) {
  throw VoError(static_cast<unsigned long>(status), "err", __FILE__, line);
}

}  // namespace

unsigned long VoSystem::TickCount() { return VoLinuxTicksToMilliseconds(VoLinuxTicks()); }

unsigned long VoSystem::CPUTime() { return TickCount(); }

unsigned long VoSystem::StartTimeMeasurement() { return TickCount(); }

void VoSystem::EndTimeMeasurement(long start, const VoString& label) {
  const uint32_t now = static_cast<uint32_t>(TickCount());
  const int32_t elapsed = static_cast<int32_t>(now - static_cast<uint32_t>(start));
  VoDebugPrintfImpl(1, "'%s' duration: %6.3fs", label.c_str(), elapsed / 1000.0);
}

unsigned long VoSystem::Delay(long milliseconds) {
  if (milliseconds <= 0) return 0;
  const uint64_t ticks = VoLinuxMillisecondsToTicks(milliseconds);
  const uint64_t end = VoLinuxWaitUntilTick(VoLinuxTicks() + ticks);
  return VoLinuxTicksToMilliseconds(end);
}

// ---------------------------------------------------------------- user interface and keyboard

void VoSystem::Beep(int kind) {
  const int count = kind == 1 ? 3 : 1;
  for (int i = 0; i < count; ++i) {
    VoLinuxBell();
    if (kind == 1) VoLinuxWaitUntilTick(VoLinuxTicks() + kBeepPauseTicks);
  }
}

void VoSystem::SystemActive(bool active) {
  if (active) VoLinuxUserActive();
}

bool VoSystem::ShowMenuBar(bool show) {
  const bool wasNormal = gPresentationMode == kModeNormal;
  gPresentationMode = show ? kModeNormal : kModeAllHidden;
  return wasNormal;
}

int VoSystem::GetNativeKey() {
  uint8_t map[kVoKeyMapBytes];
  VoLinuxX11KeyMap(map);
  return VoKeyMapLowest(map);
}

bool VoSystem::TestKey(int first, int second) {
  uint8_t map[kVoKeyMapBytes];
  VoLinuxX11KeyMap(map);
  return VoKeyMapTest(map, first, second);
}

bool VoSystem::KeyBreak() { return TestKey(2, 47); }

// ---------------------------------------------------------------- clipboard

void VoSystem::CopyToClipboard(const VoString& text) { VoLinuxClipboardPut(VoMacBytes(text)); }

VoString VoSystem::CopyFromClipboard() {
  std::string text;
  if (!VoLinuxClipboardGet(&text) || text.empty()) return VoString();
  return VoString(text.data(), static_cast<long>(text.size()), false);
}

bool VoSystem::ClipboardHasData() { return VoLinuxClipboardHasText(); }

// ---------------------------------------------------------------- files

bool VoSystem::FileExists(const VoFileSpec& spec) {
  std::FILE* f = std::fopen(spec.GetNativeFullName().c_str(), "r");
  if (!f) return false;
  std::fclose(f);
  return true;
}

bool VoSystem::FileIsWritable(const VoFileSpec& spec) {
  bool result = false;
  try {
    const bool existed = FileExists(spec);
    VoFile file(spec, eVoFileNone);
    file.Open(eVoFileReadWrite, false);
    file.Close();
    result = true;
    if (!existed) RemoveFile(spec);
  } catch (...) {
    // What was reached stands: false when opening failed, true when only the
    // removal did.
  }
  return result;
}

bool VoSystem::IsFileLocked(const VoFileSpec& spec) {
  FSRef ref;
  if (VoFileSpecToFSRef(ref, spec) != 0) return false;
  FSCatalogInfo info;
  if (FSGetCatalogInfo(ref, kFSCatInfoNodeFlags, &info) != 0) return false;
  return (info.nodeFlags & kFSNodeLockedMask) != 0;
}

int VoSystem::UnLockFile(const VoFileSpec& spec) {
  FSRef ref;
  OSErr status = VoFileSpecToFSRef(ref, spec);
  if (status != 0) return status;
  FSCatalogInfo info;
  status = FSGetCatalogInfo(ref, kFSCatInfoNodeFlags, &info);
  if (status != 0) return status;
  if ((info.nodeFlags & kFSNodeLockedMask) == 0) return 0;
  info.nodeFlags = static_cast<uint16_t>(info.nodeFlags & ~kFSNodeLockedMask);
  return FSSetCatalogInfo(ref, kFSCatInfoNodeFlags, info);
}

void VoSystem::RemoveFile(const VoFileSpec& spec) {
  if (std::remove(spec.GetNativeFullName().c_str()) != 0) ThrowErr(-1, __LINE__);
}

void VoSystem::CopyFile(const VoFileSpec& source, const VoFileSpec& target) {
  VoFile from(source, eVoFileNone);
  from.Open(eVoFileRead, false);
  VoFile to(target, eVoFileNone);
  to.Open(eVoFileWrite, false);
  const unsigned long length = from.Length();
  VoCopyStream(from, to, static_cast<long>(length), kCopyBlockSize);
  from.Close();
  to.Close();
}

void VoSystem::MoveFile(const VoFileSpec& source, const VoFileSpec& target) {
  if (VoMacMoveFile(source, target) != 0) ThrowErr(-1, __LINE__);
}

int VoSystem::CreateDir(const VoFileSpec& spec) { return VoMacCreateDir(spec); }

int VoSystem::SetFileVisible(const VoFileSpec& spec, bool visible) { return VoMacSetVisible(spec, visible); }

void VoSystem::InstallICCProfile(const VoFileSpec&) {}

void VoSystem::GetFileVersion(const VoFileSpec&, int*) { VO_THROW(eVoUndefProc); }

// ---------------------------------------------------------------- process and other programs

VoFileSpec VoSystem::GetProcessFile() {
  const std::string path = VoLinuxExecutablePath();
  return VoFileSpec(VoString(path.data(), static_cast<long>(path.size()), false));
}

VoFileSpec VoSystem::GetWorkingDir() { return VoFileSpec(VoString()); }

void VoSystem::SetWorkingDir(const VoFileSpec&) { VO_THROW(eVoUndefProc); }

void VoSystem::ExecuteCommandLine(const VoString&, const VoFileSpec&, VoStream*) { VO_THROW(eVoUndefProc); }

void VoSystem::LaunchURL(const VoString& url) { VoLinuxLaunchDetached({"xdg-open", VoMacBytes(url)}); }

void VoSystem::LaunchFile(const VoFileSpec& spec) {
  FSRef ref;
  OSErr status = VoFileSpecToFSRef(ref, spec);
  if (status != 0) ThrowErr(status, __LINE__);
  VoString path;
  status = FSRefMakePath(ref, &path);
  if (status != 0) ThrowErr(status, __LINE__);
  LaunchURL(VoString("file://") + path);
}
