// VoMacFolders.cpp - finding a well-known folder and placing a spec's name in it.
#include <string>

#include "Mac/VoMacBridgePrivate.h"
#include "VoCore/VoError.h"
#include "VoSystem/VoPlatform.h"

VoString VoMacFindFolder(VoFolderType folder) {
  switch (static_cast<int>(folder)) {
    case VoFolderTypeProfiles:
    case VoFolderTypeProfilesLocal:
    case VoFolderTypeProfilesUser: {
      // A version-9 system has one profile folder for everybody.
      if (VoGetPlatform() == kVoPlatformVersion9) return VoMacString(VoMacSharedProfilesPath());
      if (folder == VoFolderTypeProfilesUser) return VoMacString(VoMacUserProfilesPath());
      std::string shared = VoMacSharedProfilesPath();
      if (!shared.empty() || folder == VoFolderTypeProfilesLocal) return VoMacString(shared);
      return VoMacString(VoMacUserProfilesPath());
    }
    case VoFolderTypePreferences:
      return VoMacString(VoMacFolderPath(VoMacConfigHome(), 0700));
    case VoFolderTypeDocuments:
      return VoMacString(VoMacFolderPath(VoMacDocumentsFolder(), 0700));
    case VoFolderTypeTemporary: {
      std::string tmp = VoMacEnvFolder("TMPDIR");
      return VoMacString(VoMacFolderPath(tmp.empty() ? std::string("/tmp") : tmp, 0700));
    }
    case VoFolderTypeAppSupport:
    case VoFolderTypeAppSupport2:
    case VoFolderTypeAppSupport3:
      return VoMacString(VoMacFolderPath(VoMacDataHome(), 0700));
    default:
      return VoString();
  }
}

void VoMacSetPath(VoFileSpec& spec, VoFolderType folder) {
  VoString name = spec.GetName();
  int value = static_cast<int>(folder);
  if (value < VoFolderTypeNone || value > VoFolderTypeAppSupport3) VO_THROW(eVoArgErr);
  if (folder == VoFolderTypeNone) {
    spec.SetFullName(name);
    return;
  }
  if (folder == VoFolderTypeUnchanged) return;
  spec.SetNativeFullName(VoMacFindFolder(folder));
  spec.SetName(name);
}
