// VoLinuxClipboardPrivate.h - the desktop's text clipboard through the standard clipboard tools.
#ifndef VOFOUNDATION_LINUX_VOLINUXCLIPBOARDPRIVATE_H
#define VOFOUNDATION_LINUX_VOLINUXCLIPBOARDPRIVATE_H

#include <string>

// The clipboard is the CLIPBOARD selection of the desktop session. A selection
// is served by the process that owns it for as long as it lives, which a
// library call cannot do after it returns; so the text is handed to the
// standard tools, which keep serving it in the background:
//
// - Wayland (WAYLAND_DISPLAY set and wl-copy / wl-paste installed): wl-copy
//   with the type "text/plain;charset=utf-8", wl-paste --no-newline
//   --type text, wl-paste --list-types.
// - X11 (DISPLAY set): xclip (-selection clipboard; reading asks for the first
//   text target the owner offers: UTF8_STRING, text/plain;charset=utf-8,
//   STRING, TEXT, text/plain), else xsel (--clipboard). After a copy the call
//   waits (up to one second) until the new owner has taken the selection, so
//   that a read right after it finds the new text.
//
// The tools are started directly, never through a shell, with the text passed
// through a pipe: bytes pass unchanged, any value and any length (INCR
// transfers for long texts are the tools' business). When no tool fits, or no
// display is named, copying does nothing and reading finds no text. A tool
// that makes no progress for five seconds, has not ended after ten or writes
// more than 64 MiB is killed, and the call fails, as does a tool that exits
// with a code other than 0 (learned whatever the caller does with SIGCHLD). A
// tool that ends is done with: a background child it left holding its output
// is not waited for.

/// Puts \p text as the clipboard's text (an empty text too); false when no
/// tool could take it.
bool VoLinuxClipboardPut(const std::string& text);

/// The clipboard's text in \p text; false (and \p text empty) when the
/// clipboard holds no text or cannot be read.
bool VoLinuxClipboardGet(std::string* text);

/// Whether the clipboard holds text (an empty text too). With xsel, which
/// cannot tell, an empty text counts as none.
bool VoLinuxClipboardHasText();

#endif  // VOFOUNDATION_LINUX_VOLINUXCLIPBOARDPRIVATE_H
