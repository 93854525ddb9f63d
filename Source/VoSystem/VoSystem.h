/// \file
/// The operating-system utilities (VoSystem).
#ifndef VOFOUNDATION_VOSYSTEM_VOSYSTEM_H
#define VOFOUNDATION_VOSYSTEM_VOSYSTEM_H

#include "VoCore/VoString.h"
#include "VoIO/VoFileSpec.h"
#include "VoSystem/VoDate.h"

class VoStream;

/// Access to the operating system behind static operations; no instances.
///
/// What each service is on Linux (the results and errors stay those described
/// at each member):
///
/// - Clock: the tick count is taken from the monotonic clock (CLOCK_MONOTONIC:
///   time since system start, without suspended time) in whole ticks of 1/60 s.
///   Milliseconds are (ticks * 1000) / 60 in unsigned 32-bit arithmetic, so
///   the product wraps modulo 2^32: the value restarts after 4,294,967 ticks
///   (about 19.9 hours). Delay waits for whole ticks (see there).
/// - Beep: the X11 bell (XBell at the base volume) where the display named by
///   DISPLAY is reachable, else the terminal bell (BEL written to /dev/tty, the
///   controlling terminal), else nothing. The bell's duration is the display's
///   or terminal's own; the count and the pauses are those described at Beep.
/// - SystemActive(true): XResetScreenSaver on the display (restarts the X
///   screen saver's and the power saving's idle timer), and, where a session
///   bus is found, the freedesktop screen saver's SimulateUserActivity
///   (waiting at most 250 ms for its answer). Failures are ignored.
/// - ShowMenuBar: Linux has no global presentation mode that one program may
///   switch; the mode is kept as a process-wide value (initially normal), so
///   that the results follow the rules at ShowMenuBar, and nothing is shown
///   or hidden on screen.
/// - Keyboard: one XQueryKeymap snapshot of the display named by DISPLAY; each
///   virtual key code of the standard ANSI layout stands for X key symbols
///   (letters, digits, punctuation, Return, Tab, Space, Backspace (51), Escape
///   (53), the modifiers with the Super keys as Command (55 left, 54 right) and
///   Alt as Option, F1 to F20, the keypad with Num Lock as its Clear key (71),
///   the volume keys, Help as Insert (114), Home, End, Page Up/Down, forward
///   Delete (117), the arrows and Menu (110)). The table is in
///   Source/Linux/VoLinuxKeys.cpp. Without a display no key is held:
///   GetNativeKey() is -1 and TestKey(0, 0) is true.
/// - Clipboard: the CLIPBOARD selection, bytes unchanged, through the standard
///   tools started without a shell (wl-copy/wl-paste on Wayland, xclip or
///   xsel on X11), because only a process that lives on can serve a selection.
///   Without a display or without the tools, copying does nothing, reading
///   gives the empty string and ClipboardHasData() is false.
/// - Locked flag and visibility: those of the file-system bridge (the locked
///   flag is "no write permission bit set"; the invisible flag an extended
///   attribute).
/// - LaunchURL / LaunchFile: xdg-open started directly (fork and execve, no
///   shell: no text of a URL or path is ever run) with the URL as its one
///   argument, not waited for, and handed to the system by a double fork so
///   that no zombie is left. A launcher that cannot be run (a file that is
///   no program, an argument list too long) is traced at debug level 1 as
///   "cannot run <path>: <reason>"; the caller is told nothing.
/// - GetProcessFile: the path /proc/self/exe names.
/// - libX11 and libdbus-1 are loaded at run time when first needed; the library does
///   not link against them (see Source/Linux/VoLinuxX11Private.h).
///
/// Process-wide state: the presentation mode (a plain variable) and, per
/// thread, one X connection kept for the keyboard, bell and screen saver.
class VoSystem {
 public:
  VoSystem() = delete;

  // ---------------------------------------------------------------- clock and waiting

  /// Milliseconds since system start: the tick count (60 a second) * 1000 / 60
  /// in unsigned 32-bit arithmetic (wraps after 4,294,967 ticks), so steps of
  /// 16 or 17 ms.
  static unsigned long TickCount();
  /// The same value as TickCount() (elapsed time, not processor time).
  static unsigned long CPUTime();
  /// The same value as TickCount(); the caller keeps it as the start mark.
  static unsigned long StartTimeMeasurement();
  /// Writes "'<label>' duration: %6.3fs" to the debug log at level 1, from the
  /// milliseconds TickCount() - start taken as a signed 32-bit difference (so
  /// a mark from before the counter wrapped still gives the right time).
  static void EndTimeMeasurement(long start, const VoString& label);
  /// Waits (ms * 60 + 999) / 1000 whole ticks - 1 ms gives 1 tick, 17 ms 2,
  /// 1000 ms 60 - and returns TickCount()'s value at the end. The wait ends
  /// when the tick counter has advanced by that many ticks since the call, so
  /// it lasts between n - 1 and n ticks. milliseconds <= 0: returns 0 at once.
  /// The tick count is computed in 64 bits, so no length overflows.
  static unsigned long Delay(long milliseconds);

  /// The current local date and time (time zone and daylight saving as the
  /// system sets them), clamped like every VoDate (a year after 3000 is 3000).
  /// Throws "VoUndefProc" (1) when the clock cannot be read or the time cannot
  /// be converted to calendar time.
  ///
  /// Uses std::time and std::localtime. std::localtime returns a pointer to a
  /// buffer shared by the whole process, so calling GetDate while another
  /// thread uses localtime/gmtime/ctime is a data race; the fields are copied
  /// out at once, which is safe as long as the program itself keeps to one
  /// thread for these calls (the library starts no threads of its own).
  static VoDate GetDate();

  // ---------------------------------------------------------------- user interface and keyboard

  /// kind 1: three beeps, each followed by a pause of 40 ticks (about 667 ms);
  /// any other kind: one beep, no pause. Failures are ignored.
  static void Beep(int kind);
  /// true: tells the desktop the user is active (restarts its idle timer: no
  /// screen saver, no dimming, no sleep for now); false: does nothing.
  static void SystemActive(bool active);
  /// Sets the normal presentation mode (show true) or the one that hides menu
  /// bar and dock (show false); returns true when the mode before the call was
  /// the normal one. On Linux only the process-wide mode changes (see above).
  static bool ShowMenuBar(bool show);
  /// The lowest virtual key code (0 to 127) of a key held now; -1 when none.
  static int GetNativeKey();
  /// On one snapshot of the keyboard: true when the key \p first selects is
  /// held and, when \p second is not 0, the key \p second selects too; \p second
  /// is not looked at when \p first is not held. Selector 0 means no key and
  /// counts as held; 1 Escape (53), 2 Command (55), 3 Shift (56), 4 right Shift
  /// (60), 5 Caps Lock (57), 6 and 7 Option (58), 8 right Option (61), 9
  /// Control (59), 10 right Control (62); any other value is itself the virtual
  /// key code (so codes 1 to 10 cannot be tested directly). A code outside 0 to
  /// 127 is never held.
  static bool TestKey(int first, int second);
  /// TestKey(2, 47): Command and the period key held together.
  static bool KeyBreak();

  // ---------------------------------------------------------------- clipboard

  /// Replaces the clipboard's contents by the string's length() bytes as text
  /// (no terminating zero, no character-set conversion). Failures are ignored.
  static void CopyToClipboard(const VoString& text);
  /// Exactly the bytes of the clipboard's text; the empty string when it holds
  /// no text, is empty or cannot be read.
  static VoString CopyFromClipboard();
  /// True when the clipboard holds text, also an empty one (with xsel, which
  /// cannot tell, an empty text counts as none).
  static bool ClipboardHasData();

  // ---------------------------------------------------------------- files

  /// True when the native full name can be opened for reading (fopen "r"); the
  /// file is closed again at once. A file without read permission counts as
  /// absent; a folder counts as present (it can be opened on Linux).
  static bool FileExists(const VoFileSpec& spec);
  /// True when the file can be opened for reading and writing (created when
  /// missing, contents kept). A file made by the test is removed again. No
  /// error is thrown: false when opening failed, true when only the removal did.
  static bool FileIsWritable(const VoFileSpec& spec);
  /// True when the object exists and carries the locked flag; false when it
  /// cannot be found or examined.
  static bool IsFileLocked(const VoFileSpec& spec);
  /// Clears the locked flag when it is set: 0 on success or when it was not
  /// set, else the bridge's status from finding the object or reading or
  /// writing its flags.
  static int UnLockFile(const VoFileSpec& spec);
  /// Deletes the file (the C library's remove, which also removes an empty
  /// folder). Failure throws a VoError named "err" with code -1 (all bits set).
  static void RemoveFile(const VoFileSpec& spec);
  /// Opens \p source for reading and \p target for writing (created or
  /// emptied), copies the source's Length() bytes with VoCopyStream in blocks
  /// of 100000 bytes (between two regular files the system copies the bytes
  /// itself, as cp does) and closes both. Lengths are 64-bit. The errors of VoFile
  /// (opening, reading, writing, closing the target: the last bytes not written)
  /// pass to the caller unchanged; an open file is
  /// closed as its object goes away. Copying a file onto itself empties it.
  static void CopyFile(const VoFileSpec& source, const VoFileSpec& target);
  /// Renames or moves through the bridge (rename of the two full names, so
  /// within one file system). Failure throws a VoError named "err", code -1.
  static void MoveFile(const VoFileSpec& source, const VoFileSpec& target);
  /// Creates the one folder the spec names through the bridge; its status (0 on success).
  static int CreateDir(const VoFileSpec& spec);
  /// Clears (visible) or sets the invisible flag through the bridge; its status.
  static int SetFileVisible(const VoFileSpec& spec, bool visible);
  /// Returns at once without effect.
  static void InstallICCProfile(const VoFileSpec& spec);
  /// Not available: always throws "VoUndefProc" (1); \p version is not touched.
  static void GetFileVersion(const VoFileSpec& spec, int* version);

  // ---------------------------------------------------------------- process and other programs

  /// The absolute path of the running program's executable (/proc/self/exe,
  /// of any length; the kernel adds " (deleted)" when the file was removed);
  /// an empty spec when it cannot be read.
  static VoFileSpec GetProcessFile();
  /// A spec with an empty full name: relative names stand for entries of the
  /// process's current folder.
  static VoFileSpec GetWorkingDir();
  /// Not available: always throws "VoUndefProc" (1). VoMacSetWorkingDir changes
  /// to the program's own folder.
  static void SetWorkingDir(const VoFileSpec& spec);
  /// Not available: always throws "VoUndefProc" (1).
  static void ExecuteCommandLine(const VoString& command, const VoFileSpec& folder, VoStream* output);
  /// Hands the whole URL (every byte up to its length, as one argument) to
  /// xdg-open, which opens it with the user's preferred application; returns
  /// at once and reports no failure (nothing happens without xdg-open). A URL
  /// that starts with '-' is refused by xdg-open as an option.
  static void LaunchURL(const VoString& url);
  /// LaunchURL("file://" + the object's path), the path unchanged (no
  /// percent-encoding, symbolic links resolved). A missing object throws a
  /// VoError named "err" whose code is the bridge's status (for example -43,
  /// as an unsigned number).
  static void LaunchFile(const VoFileSpec& spec);
};

#endif  // VOFOUNDATION_VOSYSTEM_VOSYSTEM_H
