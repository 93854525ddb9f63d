// VoLinuxSysStatus.h - the outcome of a system step: its errno and the call that failed.
#ifndef VOFOUNDATION_LINUX_VOLINUXSYSSTATUS_H
#define VOFOUNDATION_LINUX_VOLINUXSYSSTATUS_H

/// What the platform layer hands up to where a VoError (or a bridge status)
/// is made: 0 or the errno value of the failure, and the name of the system
/// call that failed ("open", "fsync", "rename", ...), a static text. It holds
/// no POSIX type, so the portable modules may carry it.
struct VoSysStatus {
  int error = 0;               ///< 0, or the errno value
  const char* call = nullptr;  ///< the failing call; null on success

  bool Ok() const { return error == 0; }
  /// A failure of \p failedCall with \p errnum (0 counts as EIO: a failure
  /// is never reported as success).
  static VoSysStatus Failed(int errnum, const char* failedCall) {
    return VoSysStatus{errnum != 0 ? errnum : 5 /* EIO */, failedCall};
  }
};

#endif  // VOFOUNDATION_LINUX_VOLINUXSYSSTATUS_H
