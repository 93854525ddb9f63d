// VoMacStatus.cpp - the bridge's statuses for errno values.
#include <cerrno>

#include "Mac/VoMacToolsOSX.h"

OSErr VoMacErrnoToStatus(int errnum) {
  switch (errnum) {
    case 0:
      return kVoStatusNoErr;
    case ENOENT:
    case ELOOP:
      return kVoStatusFileNotFound;
    case ENOTDIR:
      return kVoStatusDirNotFound;
    case EEXIST:
      return kVoStatusDuplicate;
    case EACCES:
    case EPERM:
      return kVoStatusAccessDenied;
    case EINVAL:
    case EBADF:
    case EFAULT:
      return kVoStatusParamErr;
    case ENAMETOOLONG:
      return kVoStatusNameTooLong;
    case ENOSPC:
    case EDQUOT:
      return kVoStatusDiskFull;
    case EROFS:
      return kVoStatusWriteProtected;
    case EMFILE:
    case ENFILE:
      return kVoStatusTooManyFiles;
    case EBUSY:
    case ENOTEMPTY:
    case ETXTBSY:
      return kVoStatusBusy;
    case ENOMEM:
      return kVoStatusMemFull;
    case ENOTSUP:
    case ENOSYS:
      return kVoStatusUnsupported;
    default:
      return kVoStatusIOErr;
  }
}
