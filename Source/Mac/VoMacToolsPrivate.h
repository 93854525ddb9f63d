// VoMacToolsPrivate.h - names as bytes for the file-system bridge and the system layer; a hook for tests.
#ifndef VOFOUNDATION_MAC_VOMACTOOLSPRIVATE_H
#define VOFOUNDATION_MAC_VOMACTOOLSPRIVATE_H

#include <string>

#include "VoCore/VoString.h"

/// The length() bytes of \p s, zero bytes included; "" for a fixed-length
/// string whose length was made negative.
std::string VoMacBytes(const VoString& s);

/// The bytes of \p s as a name or path for the file system. A fixed-length
/// string whose length was made negative names nothing and is a bad argument:
/// throws "VoArgErr" (3).
std::string VoMacPathBytes(const VoString& s);

/// A text-mode copy of the bytes of \p s whose length is their count.
VoString VoMacString(const std::string& s);

/// Text up to and including the last '/' ("/" for "/x"); "" without a '/'.
std::string VoMacFolderOf(const std::string& path);

/// Text after the last '/'.
std::string VoMacNameOf(const std::string& path);

/// \p folder + "/" + \p name, without doubling a '/' at the end of \p folder.
std::string VoMacJoin(const std::string& folder, const std::string& name);

/// Replaces the machine-wide colour-profile folder (/usr/local/share/color/icc)
/// by \p path, so that tests need not touch the machine; null restores it.
/// The text is copied.
void VoMacSetSharedProfilesFolder(const char* path);

#endif  // VOFOUNDATION_MAC_VOMACTOOLSPRIVATE_H
