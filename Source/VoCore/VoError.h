/// \file
/// The library's one exception type and its table of error codes.
#ifndef VOFOUNDATION_VOCORE_VOERROR_H
#define VOFOUNDATION_VOCORE_VOERROR_H

/// Error codes of the library. This is the single list; every raise site uses
/// one of these codes together with the name that VoErrorName() gives for it.
enum eVoErrorCode : unsigned long {
  eVoNoError = 0,
  eVoUndefProc = 1,          ///< "VoUndefProc": operation not available here
  eVoUnexpectedErr = 2,      ///< "VoUnexpectedErr": internal (append to shared buffer)
  eVoArgErr = 3,             ///< "VoArgErr": bad argument (null C string, bad enum)
  eVoMemFullErr = 4,         ///< "VoMemFullErr": the default allocator failed
  eVoIndexError = 7,         ///< "VoIndexError": index out of range
  eVoFileNotOpen = 12,       ///< "VoFileNotOpen", or an open-failure message
  eVoFileLengthFailed = 13,  ///< "VoFileLengthFailed"
  eVoFileSeekFailed = 14,    ///< "VoFileSeekFailed"
  eVoFilePosFailed = 15,     ///< "VoFilePosFailed"
  eVoFileWriteFailed = 17,   ///< "VoFileWriteFailed"
  eVoFileAccessErr = 18,     ///< "VoFileAccessErr": wrong direction on a standard stream
  eVoFormatErr = 19,         ///< "VoFormatErr": malformed text
  eVoPtrInvalid = 20,        ///< "VoPtrInvalid": owning pointer to a dead object
  eVoGeneralErr = 42,        ///< "VoGeneralErr": append to fixed-length string with unset length
  eVoSystemErr = 68          ///< "System error: %d ..." raised by VoError::ThrowSysError
};

/// The fixed error name of a library code ("VoIndexError" for 7, ...); null for
/// codes without a fixed name (0, 68 and platform result codes).
const char* VoErrorName(unsigned long code) noexcept;

/// The exception thrown by value for every failure of the library.
///
/// Holds an error code, an error name (or message text), the base name of the
/// raising source file and the source line. Each object owns its strings, and
/// also the text that what() returns, so two errors never share a buffer.
class VoError {
 public:
  /// Code 0, name "Unknown", no file, line 0. Never traced.
  VoError();
  /// The raising constructor: \p file is reduced to its base name (the text
  /// behind the last '/' or '\\'); an error with a non-zero code is traced in
  /// the debug log at level 1 before it is stored. A null \p name is stored as
  /// "Unknown", a null \p file as none.
  VoError(unsigned long code, const char* name, const char* file, int line);
  /// A copy with its own copies of name and file; not traced again.
  VoError(const VoError& other);
  /// Copies code, line, name and file; on an allocation failure this error is
  /// left as it was.
  VoError& operator=(const VoError& other);
  ~VoError();

  /// Stores code, line and copies of name ("Unknown" when null) and file (none
  /// when null). Does not free strings held before; callers free them first.
  void Set(unsigned long code, const char* name, const char* file, int line);

  /// The error code (see the table of codes above).
  unsigned long GetErr() const { return mErr; }
  /// The name or message; "" when there is none.
  const char* GetErrName() const { return mErrName ? mErrName : ""; }
  /// Base name of the raising file; "" when none was given.
  const char* GetFileName() const { return mFileName ? mFileName : ""; }
  /// Line of the raising statement; 0 when none was given.
  int GetLine() const { return mLine; }

  /// "No Error" for code 0 or no name, else "Error=<code> (<name>)". The text
  /// belongs to this object and stays valid until it is changed or destroyed.
  const char* what() const;

  /// Throws code 68 named "System error: <errnum>", followed by one blank and
  /// \p message when that is not empty; no file, line 0. \p message must not be null.
  [[noreturn]] static void ThrowSysError(int errnum, const char* message);

 private:
  void FreeStrings() noexcept;

  unsigned long mErr;
  char* mErrName;
  char* mFileName;
  int mLine;
  mutable char* mWhat;  // lazily formatted text of what()
};

/// Throws VoError with \p code, its fixed name, and the given source position.
/// Out of line so that templates and inline code carry no throw sequence.
[[noreturn]] void VoThrowError(unsigned long code, const char* file, int line);

/// Raise a library error with its fixed name at the current source position.
#define VO_THROW(code) VoThrowError((code), __FILE__, __LINE__)

#endif  // VOFOUNDATION_VOCORE_VOERROR_H
