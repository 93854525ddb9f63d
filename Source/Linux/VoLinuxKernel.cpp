// VoLinuxKernel.cpp - asks the kernel for its release with uname(2).
#include "Linux/VoLinuxKernelPrivate.h"

#include "Linux/VoLinuxSys.h"

std::string VoLinuxKernelRelease() {
  struct utsname names {};
  if (gVoSys.uname(&names) != 0) return std::string();
  // The field is NUL-terminated by the kernel; bound the copy all the same.
  std::string release(names.release, sizeof names.release);
  const std::string::size_type end = release.find('\0');
  if (end != std::string::npos) release.resize(end);
  return release;
}
