// VoLinuxKernelPrivate.h - the running kernel's release, for the platform queries.
#ifndef VOFOUNDATION_LINUX_VOLINUXKERNELPRIVATE_H
#define VOFOUNDATION_LINUX_VOLINUXKERNELPRIVATE_H

#include <string>

/// The release of the running kernel as uname(2) reports it ("6.1.0-18-amd64"),
/// or "" when the system does not tell.
std::string VoLinuxKernelRelease();

#endif  // VOFOUNDATION_LINUX_VOLINUXKERNELPRIVATE_H
