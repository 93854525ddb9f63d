/// \file
/// The abstract byte stream, its access and seek modes, text output operators and stream copying.
#ifndef VOFOUNDATION_VOIO_VOSTREAM_H
#define VOFOUNDATION_VOIO_VOSTREAM_H

#include "VoCore/VoMemory.h"
#include "VoCore/VoString.h"

/// How a stream or file is opened (shared by streams, files and the platform bridge).
enum eVoFileAccess {
  eVoFileNone = 0,      ///< no access: the state of a file that is not open
  eVoFileRead = 1,      ///< read only
  eVoFileWrite = 2,     ///< write only; a file is created or emptied
  eVoFileReadWrite = 3  ///< read and write; an existing file keeps its contents, a missing one is created
};

/// Where the offset of SetPosition() counts from.
enum eVoFileSeekMode {
  eVoFileSeekBegin = 0,   ///< from the start of the stream
  eVoFileSeekEnd = 1,     ///< backwards from the end: the new position is length - offset
  eVoFileSeekCurrent = 2  ///< relative to the current position
};

/// The library's abstract byte stream: a reference-counted object that reads
/// and writes blocks of bytes and can be positioned.
///
/// Byte counts are unsigned and positions signed; both are meant to stay within
/// 32 bits. The \p count out-parameter of Read and Write may be null; a stream
/// writes it only when it is not. Streams keep the inherited Cast and
/// GetTypeName of VoObject.
class VoStream : public VoObject {
 public:
  VoStream() = default;
  /// Streams copy as objects do (the reference count is not copied).
  /// @{
  VoStream(const VoStream&) = default;
  VoStream& operator=(const VoStream&) = default;
  /// @}
  ~VoStream() override;

  /// Reads up to \p size bytes into \p buffer; the number read goes to \p count.
  virtual void Read(void* buffer, unsigned long size, unsigned long* count) = 0;
  /// Writes \p size bytes of \p buffer; the number written goes to \p count.
  virtual void Write(const void* buffer, unsigned long size, unsigned long* count) = 0;
  /// Moves the position by \p offset, counted as \p mode says.
  virtual void SetPosition(long offset, eVoFileSeekMode mode) = 0;
  /// The current position.
  virtual long GetPosition() = 0;
  /// "VoStream". Only streams on named files say more.
  virtual VoString GetName() const;
};

/// Base of streams that implement only some operations: Read, Write,
/// SetPosition and GetPosition each throw "VoUndefProc" (code 1).
class VoStreamImplemented : public VoStream {
 public:
  VoStreamImplemented() = default;
  ~VoStreamImplemented() override;

  /// Throws "VoUndefProc" (1).
  void Read(void* buffer, unsigned long size, unsigned long* count) override;
  /// Throws "VoUndefProc" (1).
  void Write(const void* buffer, unsigned long size, unsigned long* count) override;
  /// Throws "VoUndefProc" (1).
  void SetPosition(long offset, eVoFileSeekMode mode) override;
  /// Throws "VoUndefProc" (1).
  long GetPosition() override;
};

/// A stream that swallows all output. Its other operations throw "VoUndefProc" (1).
class VoNullStream : public VoStreamImplemented {
 public:
  VoNullStream() = default;
  ~VoNullStream() override;

  /// Discards the bytes (\p buffer may be null) and stores \p size in \p count.
  void Write(const void* buffer, unsigned long size, unsigned long* count) override;
};

// ------------------------------------------------------------------ text output
// Each operator writes through the stream's Write with a null count and returns
// the stream, so that calls chain. Nothing is added: no separator, no line end.

/// The string's length() bytes (zero bytes of a fixed-length string included).
VoStream& operator<<(VoStream& stream, const VoString& text);
/// The text up to its terminating zero (not written). A null text throws
/// "VoArgErr" (3) before anything is written.
VoStream& operator<<(VoStream& stream, const char* text);
/// The number as printf's "%7.2f" writes it: at least seven characters,
/// right-aligned, two decimals, never cut however large the number.
VoStream& operator<<(VoStream& stream, double value);
/// "%d".
VoStream& operator<<(VoStream& stream, int value);
/// "%ld".
VoStream& operator<<(VoStream& stream, long value);
/// "%u".
VoStream& operator<<(VoStream& stream, unsigned int value);
/// "%lu".
VoStream& operator<<(VoStream& stream, unsigned long value);

/// Copies bytes from \p source to \p target through one buffer of \p blockSize
/// bytes, allocated once with VoAlloc and released with VoFree (also when an
/// error passes through).
///
/// \p length > 0: copies until \p length bytes have been delivered; each pass
/// asks the source for min(remaining, blockSize) bytes (count preset to 0) and
/// writes exactly the bytes received. A read that delivers 0 bytes ends the
/// copy early, so a source shorter than \p length is copied to its end instead
/// of being asked again for ever; nothing is written for that empty pass.
///
/// \p length <= 0: copies to the end of the source: each pass asks for
/// \p blockSize bytes and writes what it received; the first pass that
/// receives fewer bytes than it asked for is written (even when empty) and
/// ends the copy.
///
/// A count reported above the size asked for is taken as the size asked for.
/// A \p blockSize of 0 throws "VoArgErr" (3) before anything is read. Errors of
/// Read and Write pass through to the caller; what was written stays written.
///
/// Between two VoFile objects (exactly that class) whose handles are open for
/// reading and writing, the bytes are first copied inside the system, without
/// the buffer (copy_file_range, as cp does); where the system stops (the end of
/// the source, other file systems, files that are not regular, a target in
/// append mode, a failure) the passes above carry on from there, so the bytes
/// copied, the positions afterwards and the errors raised are the same.
void VoCopyStream(VoStream& source, VoStream& target, long length, unsigned long blockSize);

#endif  // VOFOUNDATION_VOIO_VOSTREAM_H
