// VoSystem.cpp - the operating-system utilities (VoSystem).
#include "VoSystem/VoSystem.h"

#include <climits>
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

// ==================================================================== VoSystem

VoDate VoSystem::GetDate() {
  std::time_t now = std::time(nullptr);
  if (now == static_cast<std::time_t>(-1)) VO_THROW(eVoUndefProc);
  // Not thread-safe (shared buffer); copied out at once. See the header.
  const std::tm* local = std::localtime(&now);
  if (!local) VO_THROW(eVoUndefProc);
  // A tm_year near INT_MAX: the year stays the largest int (and clamps to 3000).
  const int year = local->tm_year > INT_MAX - 1900 ? INT_MAX : local->tm_year + 1900;
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
