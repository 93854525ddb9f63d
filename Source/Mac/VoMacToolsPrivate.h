// VoMacToolsPrivate.h - hooks of the file-system bridge for the library's own tests.
#ifndef VOFOUNDATION_MAC_VOMACTOOLSPRIVATE_H
#define VOFOUNDATION_MAC_VOMACTOOLSPRIVATE_H

/// Replaces the machine-wide colour-profile folder (/usr/local/share/color/icc)
/// by \p path, so that tests need not touch the machine; null restores it.
/// The text is copied.
void VoMacSetSharedProfilesFolder(const char* path);

#endif  // VOFOUNDATION_MAC_VOMACTOOLSPRIVATE_H
