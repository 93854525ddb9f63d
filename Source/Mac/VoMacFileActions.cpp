// VoMacFileActions.cpp - opening, creating and moving files, the invisible flag, the working folder.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cstdio>
#include <string>
#include <vector>

#include "Linux/VoLinuxSys.h"
#include "Mac/VoMacBridgePrivate.h"
#include "VoCore/VoError.h"

namespace {

/// Writes the spec's non-zero IDs to the file it names (not to a folder).
void StoreCodes(const VoFileSpec& spec) {
  FSRef ref;
  if (VoFileSpecToFSRef(ref, spec) != kVoStatusNoErr) return;
  FSCatalogInfo info;
  if (FSGetCatalogInfo(ref, kFSCatInfoNodeFlags | kFSCatInfoFinderInfo, &info) != kVoStatusNoErr ||
      (info.nodeFlags & kFSNodeIsDirectoryMask))
    return;
  uint32_t type = static_cast<uint32_t>(spec.GetTypeID());
  uint32_t creator = static_cast<uint32_t>(spec.GetCreatorID());
  if (type == 0 && creator == 0) return;
  if (type != 0) info.fileType = type;
  if (creator != 0) info.fileCreator = creator;
  FSSetCatalogInfo(ref, kFSCatInfoFinderInfo, info);  // failures are ignored
}

[[noreturn]] void ThrowNotOpen(const char* prefix, const VoFileSpec& spec) {
  VoString text(prefix);
  text += spec.GetFullName();
  throw VoError(eVoFileNotOpen, text.c_str(), nullptr, 0);
}

}  // namespace

FILE* VoMacOpenFile(VoFileSpec& spec, eVoFileAccess access) {
  switch (access) {
    case eVoFileRead: {
      FSRef ref;
      VoFileSpecToFSRef(ref, spec);  // an unresolved spec leaves the path empty
      FILE* file = ref.path.length() > 0 ? VoSysOpenStream(ref.path.c_str(), "rbe") : nullptr;
      if (!file) ThrowNotOpen("FileNotOpen (for reading): ", spec);
      return file;
    }
    case eVoFileWrite:
    case eVoFileReadWrite: {
      spec.SetType(VoFileTypeUnknown);
      std::string path = VoMacPathBytes(spec.GetFullName());
      FILE* file = nullptr;
      if (!path.empty()) {
        if (access == eVoFileWrite) {
          file = VoSysOpenStream(path.c_str(), "wbe");
        } else {
          file = VoSysOpenStream(path.c_str(), "rb+e");
          if (!file) {
            // Create the file only when it is missing ("x": exclusive), so an
            // existing file that may not be read is never emptied here.
            FILE* made = VoSysOpenStream(path.c_str(), "wbxe");
            if (made) {
              gVoSys.fclose(made);
              file = VoSysOpenStream(path.c_str(), "rb+e");
            }
          }
        }
      }
      StoreCodes(spec);
      if (!file) ThrowNotOpen("FileNotOpen: (for writing)", spec);
      return file;
    }
    default:
      return nullptr;
  }
}

OSErr VoMacCreateDir(const VoFileSpec& spec) {
  std::string parent = VoMacPathBytes(spec.GetPath());
  std::string resolved;
  OSErr err = VoMacResolvePath(parent.empty() ? std::string(".") : parent, resolved);
  if (err != kVoStatusNoErr) return err;
  std::string name = VoMacPathBytes(spec.GetName());
  if (name.empty()) return kVoStatusBadName;
  VoSysFd dir;
  const VoSysStatus opened = VoSysOpenAt(dir, AT_FDCWD, resolved.c_str(), O_RDONLY | O_DIRECTORY);
  if (!opened.Ok()) return VoMacErrnoToStatus(opened.error);
  return VoSysRetry([&] { return gVoSys.mkdirat(dir.Get(), name.c_str(), 0777); }) == 0 ? kVoStatusNoErr
                                                                                        : VoMacLastStatus();
}

int VoMacMoveFile(const VoFileSpec& source, const VoFileSpec& target) {
  const VoString from = source.GetFullName();
  const VoString to = target.GetFullName();
  return VoSysRetry([&] { return gVoSys.renameat(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str()); }) == 0 ? 0
                                                                                                        : -1;
}

OSErr VoMacSetVisible(const VoFileSpec& spec, bool visible) {
  FSRef ref;
  OSErr err = VoFileSpecToFSRef(ref, spec);
  if (err != kVoStatusNoErr) return err;
  return FSChangeFinderFlags(ref, !visible, kIsInvisible);
}

int VoMacSetWorkingDir(int which) {
  (void)which;  // no bundles on Linux: both choices mean the executable's folder
  std::vector<char> buf(256);
  for (;;) {
    ssize_t n =
        VoSysRetry([&] { return gVoSys.readlinkat(AT_FDCWD, "/proc/self/exe", buf.data(), buf.size()); });
    if (n < 0) return -1;
    if (static_cast<size_t>(n) < buf.size()) {
      std::string folder = VoMacFolderOf(std::string(buf.data(), static_cast<size_t>(n)));
      if (folder.empty()) return -1;
      return VoSysRetry([&] { return gVoSys.chdir(folder.c_str()); }) == 0 ? 0 : -1;
    }
    if (buf.size() >= (1u << 20)) return -1;
    buf.resize(buf.size() * 2);
  }
}
