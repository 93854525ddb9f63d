/// \file
/// The process-wide levelled debug log and the debugger and memory-checking hooks.
#ifndef VOFOUNDATION_VOCORE_VODEBUG_H
#define VOFOUNDATION_VOCORE_VODEBUG_H

class VoStream;
class VoString;

// The log has one current output stream, a numeric level and the name of the
// log file when it writes to one. A message of level L is written when
// L <= gDebugLevel (initially 0) and dropped otherwise; every message written
// ends in exactly one line end. Writing never fails from the caller's point
// of view: errors of the stream are swallowed.
//
// Every VoError raised with a non-zero code leaves the line
//   VoError: <code> "<name>", file "<file>", line <line>
// at level 1 (see VoError's raising constructor).

/// The current debug level (signed 32-bit); 0 at start. Messages of a level
/// above it are dropped; a negative level silences every message of level 0
/// and above.
///
/// The level, like the rest of the log's state (current stream, file name),
/// is unguarded: the log is meant for one thread at a time. Only the guard
/// against re-entry (see VoDebugWriteImpl) is kept per thread.
extern int gDebugLevel;

/// The default stream, the process's standard output (a VoStdOutStream), made
/// on the first call. It is never destroyed, so that errors traced by the
/// destructors of other static objects at process exit still find a live
/// stream; it holds no resources of its own.
VoStream* VoGetDefaultOutputStream();

/// A non-null \p stream becomes the current stream (it stays the caller's:
/// the log never releases it); with null the current stream stays, or the
/// default stream becomes current when there is none. Returns the current
/// stream, borrowed as VoGetDebugOutputImpl's result is.
VoStream* VoOutputStream(VoStream* stream);

/// The current stream; when there is none yet, the default stream, which
/// becomes current. The stream is borrowed: it stays valid only until the
/// output is changed, unless the caller takes a reference with NewRef.
VoStream* VoGetDebugOutputImpl();

/// A non-null \p stream becomes the current stream (it stays the caller's:
/// the log never releases a stream that a caller installs); null keeps the
/// current stream, or makes the default stream current when there is none.
void VoSetDebugOutputImpl(VoStream* stream);

/// Sets gDebugLevel.
void VoSetDebugLevelImpl(int level);
/// gDebugLevel.
int VoGetDebugLevelImpl();

/// The stored log file name (the name last given to VoSetDebugOutputFileImpl).
VoString& VoOutputFile();
/// A copy of the stored log file name.
VoString VoGetDebugOutputFileImpl();

/// Stores \p name. A non-empty name makes a new VoFlushFileStream on that file
/// the current stream: every message is appended to the file (created when
/// missing, never emptied), which is opened and closed for each write. The
/// empty name keeps the current stream (a log file set before stays in use),
/// or makes the default stream current when there is none; to return to the
/// standard output, call VoSetDebugOutputImpl(VoGetDefaultOutputStream()).
/// A file that cannot be opened is noticed only by the writes, which lose
/// their messages. Failing to make the stream (out of memory) passes to the
/// caller; the name has changed then, the current stream has not.
///
/// The log owns the stream it makes here and releases it (one Delete) as soon
/// as another stream or file replaces it as the current stream.
void VoSetDebugOutputFileImpl(const VoString& name);

/// Writes \p text (up to its terminating zero) to the current stream in one
/// Write call, and one LF in a second call when the text is not empty and does
/// not end in LF; nothing for an empty or null text. The current stream is
/// established first (the default stream when there is none), also when the
/// message is then dropped because \p level > gDebugLevel. Errors of the
/// stream are caught and dropped.
///
/// While the log writes a message on a thread, a message that the writing
/// itself produces on that thread (typically the trace line of an error that
/// the stream raises) is dropped: a failing stream costs one lost message,
/// never an endless recursion.
void VoDebugWriteImpl(int level, const char* text);
/// The same with the characters of \p text (up to its first zero byte).
void VoDebugWriteImpl(int level, const VoString& text);

/// When \p level <= gDebugLevel: formats the message with the printf
/// conversions into a 4096-byte buffer on the caller's stack (a longer
/// message is cut to its first 4095 characters), appends LF in the buffer
/// when the text has 1 to 4094 characters and does not end in LF, and writes
/// it with VoDebugWriteImpl (so a cut message gets its line end by a second
/// Write call). A dropped message is not formatted; a format that the C
/// library cannot convert (an encoding error) writes nothing.
void VoDebugPrintfImpl(int level, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

/// Debugger hook: does nothing.
void VoDebugBreakImpl();
/// Memory-checking hook: does nothing.
void StartMemDebug();
/// Memory-checking hook: does nothing.
void MemCheckPoint(bool);
/// Memory-checking hook: does nothing.
void EndMemDebug();

#endif  // VOFOUNDATION_VOCORE_VODEBUG_H
