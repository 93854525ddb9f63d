/// \file
/// Calendar dates (VoDate) and the operating-system utilities (VoSystem).
#ifndef VOFOUNDATION_VOSYSTEM_VOSYSTEM_H
#define VOFOUNDATION_VOSYSTEM_VOSYSTEM_H

#include "VoCore/VoString.h"

/// A calendar date with a time of day: six plain signed 32-bit fields, no time
/// zone, no fraction of a second. Copying copies the six fields.
///
/// `SetDate` / `SetTime` (and so the constructor) clamp every field into its
/// range: year 0..3000, month 1..12, day 1..31, hour 0..23, minute 0..59,
/// second 0..59. A value below the range becomes the lower bound, one above it
/// the upper bound; out-of-range values are never an error. The day is not
/// checked against the length of its month (February 31 is a valid date).
///
/// The accessors `Year()` ... `Second()` hand out modifiable references; a
/// value written through them is stored as it is, without clamping, and every
/// other member copes with such values (nothing overflows or reads out of bounds).
///
/// Choices made here:
/// - The constructor has default arguments, all 0, so `VoDate()` is the zero
///   date 0-1-1 0:00:00 (the value of a file date not yet set); containers of
///   dates need a default constructor.
/// - The printf-style text forms are never cut: a separator of any length given
///   to `GetFileNameString` appears in full (text up to its first zero byte).
/// - `GetShortString` returns a fixed-length string of six characters, so that
///   the zero character (the year 1935, whose code is (1935 + 113) mod 256 = 0)
///   survives; `SetShortString` reads six characters of explicit length, zero
///   bytes included.
/// - `SetShortString` reads characters 2 to 6 as unsigned codes 0..255.
/// - An integer of a text form too large for 32 bits is read as the nearest
///   32-bit value (and then clamped like any other).
class VoDate {
 public:
  /// Calls SetDate with the six values (clamped).
  VoDate(int year = 0, int month = 0, int day = 0, int hour = 0, int minute = 0, int second = 0);

  /// Clamps and stores year, month and day, then SetTime(hour, minute, second).
  void SetDate(int year, int month, int day, int hour, int minute, int second);
  /// Clamps and stores the three time fields; the date fields stay.
  void SetTime(int hour, int minute, int second);

  /// Field access: written values are stored unchanged (no clamping).
  /// @{
  int& Year() { return mYear; }
  int& Month() { return mMonth; }
  int& Day() { return mDay; }
  int& Hour() { return mHour; }
  int& Minute() { return mMinute; }
  int& Second() { return mSecond; }
  /// @}
  /// A field's value.
  /// @{
  int Year() const { return mYear; }
  int Month() const { return mMonth; }
  int Day() const { return mDay; }
  int Hour() const { return mHour; }
  int Minute() const { return mMinute; }
  int Second() const { return mSecond; }
  /// @}

  /// hour * 3600 + minute * 60 + second.
  long SecondOfDay() const;

  /// The day key (12 * year + month) * 31 + day - 32: every month counts 31
  /// days, so keys order dates like their (year, month, day) and equal keys
  /// mean equal dates. 0-1-1 is 0, 3000-12-31 is 1116371. A difference of keys
  /// is a day count only within one month.
  long Day2Long() const;
  /// Sets year = key / 372, month = (key / 31) % 12 + 1, day = key % 31 + 1
  /// (division truncating toward zero); no clamping, the time stays. Gives back
  /// the date of every key that Day2Long made from a date within the ranges.
  /// A year beyond the 32-bit range is stored as the nearest 32-bit value.
  void Long2Date(long key);

  // ---------------------------------------------------------------- text forms
  /// "%d-%d-%d %d:%02d:%02d": 2006-5-4 9:05:07.
  VoString GetString() const;
  /// "%d-%d-%d": 2006-5-4.
  VoString GetDayString() const;
  /// "%d%02d%02d %02d-%02d" (no seconds): 20060504 09-05.
  VoString GetFileNameString() const;
  /// "%d%02d%02d%s%02d-%02d" with \p separator between day and hour:
  /// 20060504_09-05 for "_".
  VoString GetFileNameString(VoString separator) const;
  /// Six characters, codes (year + 113) mod 256, month + 65, day + 65,
  /// hour + 65, minute + 65, second + 65 (each mod 256): 2006-5-4 9:05:07 is
  /// "GFEJFH". The year reads back unchanged for 1807 to 2062.
  VoString GetShortString() const;

  /// Reads the GetString / GetDayString forms and any text of at least three
  /// integers: '-' and ':' count as blanks, then up to six "%d" integers
  /// (year, month, day, hour, minute, second) are read from the start; reading
  /// stops at the first character that cannot continue the next integer and
  /// missing fields are 0. The values go through SetDate (clamped). Fewer than
  /// three integers throw "VoFormatErr" (19) and leave the date unchanged.
  void SetString(const VoString& text);
  /// Reads year, month and day as SetString does, with only '-' counting as a
  /// blank; the time becomes 0:00:00. Fewer than three integers throw
  /// "VoFormatErr" (19) and leave the date unchanged.
  void SetDayString(const VoString& text);
  /// Reads the GetShortString form: exactly six characters (else "VoFormatErr",
  /// 19, date unchanged). Year = first code as a signed 8-bit value + 1935,
  /// the others code - 65; the six values go through SetDate (clamped).
  void SetShortString(const VoString& text);

 private:
  int mYear;
  int mMonth;
  int mDay;
  int mHour;
  int mMinute;
  int mSecond;
};

// VoFileSpec carries VoDate values, so its header includes this one; it is
// included here only after VoDate is complete, and declared for the case that
// it is being read first.
class VoFileSpec;
class VoStream;
#include "VoIO/VoFileSpec.h"

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
  /// (opening, reading, writing) pass to the caller unchanged; an open file is
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
