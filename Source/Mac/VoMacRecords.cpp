// VoMacRecords.cpp - specs, references and legacy records made of each other; the codes read into a spec.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cstdlib>
#include <string>

#include "Linux/VoLinuxSys.h"
#include "Mac/VoMacBridgePrivate.h"

VoString VoMacGetFullPathName(const VoFileSpec& spec) { return spec.GetFullName(); }

OSErr VoFileSpecToFSRef(FSRef& ref, const VoFileSpec& spec) {
  std::string resolved;
  OSErr err = VoMacResolvePath(VoMacPathBytes(spec.GetFullName()), resolved);
  if (err == kVoStatusNoErr) ref.path = VoMacString(resolved);
  return err;
}

void VoFileSpecToFSSpec(FSSpec& record, const VoFileSpec& spec) {
  std::string resolved;
  if (VoMacResolvePath(VoMacPathBytes(spec.GetFullName()), resolved) == kVoStatusNoErr) {
    VoMacRecordFromResolved(resolved, record);
    return;
  }
  std::string name = VoMacPathBytes(spec.GetName());
  if (name.empty()) {
    record = FSSpec();
    return;
  }
  std::string path = VoMacPathBytes(spec.GetPath());
  std::string folder;
  if (VoMacResolvePath(path.empty() ? std::string(".") : path, folder) == kVoStatusNoErr &&
      VoMacIsFolder(folder)) {
    VoMacMakeRecord(folder, name, record);
    return;
  }
  // Neither the object nor its folder exists: the name in the current folder.
  char* cwd;
  do {
    cwd = gVoSys.getcwd(nullptr, 0);
  } while (cwd == nullptr && errno == EINTR);
  VoMacMakeRecord(cwd ? std::string(cwd) : std::string(), name, record);
  free(cwd);
}

void FSRefToVoFileSpec(VoFileSpec& spec, const FSRef& ref) {
  std::string path = VoMacPathBytes(ref.path);
  std::string resolved;
  if (VoMacResolvePath(path, resolved) == kVoStatusNoErr) path = resolved;
  spec.SetNativeFullName(VoMacString(path));
  spec.SetTypeID(0);
  spec.SetCreatorID(0);  // with type ID 0 this leaves the creator 0
  VoMacFSRefToCreatorType(spec, ref);
}

void FSSpecToVoFileSpec(VoFileSpec& spec, const FSSpec& record) {
  std::string resolved;
  if (VoMacResolvePath(VoMacRecordPath(record), resolved) == kVoStatusNoErr) {
    FSRef ref;
    ref.path = VoMacString(resolved);
    FSRefToVoFileSpec(spec, ref);
    return;
  }
  VoString folder = VoMacGetPosixPath(record.vRefNum, record.parID);
  if (folder.length() == 0) folder = record.folder;
  spec.SetNativeFullName(folder);
  spec.SetName(record.name);
  spec.SetTypeID(0);
  spec.SetCreatorID(0);
  VoMacReadCreatorType(spec);
}

OSErr VoMacFSRefToCreatorType(VoFileSpec& spec, const FSRef& ref) {
  FSCatalogInfo info;
  OSErr err = FSGetCatalogInfo(ref, kFSCatInfoNodeFlags | kFSCatInfoFinderInfo, &info);
  if (err != kVoStatusNoErr) return err;
  uint32_t type = 0;
  uint32_t creator = 0;
  if (!(info.nodeFlags & kFSNodeIsDirectoryMask)) {
    type = info.fileType;
    creator = info.fileCreator;
  }
  spec.SetType(VoFileTypeUnknown);
  if (spec.GetType() == VoFileTypeUnknown) spec.SetTypeID(type);
  spec.SetCreatorID(creator);
  return kVoStatusNoErr;
}

OSErr VoMacReadCreatorType(VoFileSpec& spec) {
  FSRef ref;
  OSErr err = VoFileSpecToFSRef(ref, spec);
  if (err != kVoStatusNoErr) return err;
  return VoMacFSRefToCreatorType(spec, ref);
}

OSErr FSPathMakeFSSpec(const char* path, FSSpec* record, bool* isFolder) {
  if (!path || !record) return kVoStatusParamErr;
  std::string resolved;
  OSErr err = VoMacResolvePath(path, resolved);
  if (err != kVoStatusNoErr) return err;
  VoMacRecordFromResolved(resolved, *record);
  if (isFolder) *isFolder = VoMacIsFolder(resolved);
  return kVoStatusNoErr;
}

OSErr FSMakeFSSpec(short volume, long folder, const VoString& name, FSSpec* record) {
  if (!record) return kVoStatusParamErr;
  VoString folderPath = VoMacGetPosixPath(volume, folder);
  if (folderPath.length() == 0) return kVoStatusDirNotFound;
  *record = FSSpec();
  record->vRefNum = volume;
  record->parID = folder;
  record->folder = folderPath;
  record->name = name;
  struct stat st;
  if (VoSysRetry([&] {
        return gVoSys.fstatat(AT_FDCWD, VoMacRecordPath(*record).c_str(), &st, AT_SYMLINK_NOFOLLOW);
      }) != 0)
    return VoMacLastStatus();
  return kVoStatusNoErr;
}

OSErr FSpMakeFSRef(const FSSpec& record, FSRef* ref) {
  if (!ref) return kVoStatusParamErr;
  std::string resolved;
  OSErr err = VoMacResolveEntry(VoMacRecordPath(record), resolved);
  if (err == kVoStatusNoErr) ref->path = VoMacString(resolved);
  return err;
}

OSErr FSRefMakePath(const FSRef& ref, VoString* path) {
  if (!path || ref.path.length() == 0) return kVoStatusParamErr;
  *path = ref.path;
  return kVoStatusNoErr;
}
