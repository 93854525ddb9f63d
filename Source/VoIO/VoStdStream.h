/// \file
/// Streams on the process's standard input and standard output.
#ifndef VOFOUNDATION_VOIO_VOSTDSTREAM_H
#define VOFOUNDATION_VOIO_VOSTDSTREAM_H

#include "VoIO/VoStream.h"

/// Base of the two standard streams: a position counter and no seeking.
///
/// The standard streams need no opening: Open only checks the access mode and
/// Close does nothing, and both may be called any number of times. Several
/// objects may exist at once; each counts only its own bytes.
class VoStdStream : public VoStream {
 public:
  VoStdStream() : mPosition(0) {}
  ~VoStdStream() override;

  /// Always throws "VoFileAccessErr" (18): a standard stream cannot be positioned.
  void SetPosition(long offset, eVoFileSeekMode mode) override;
  /// The number of bytes read or written through this object so far; it only grows.
  long GetPosition() override;

 protected:
  long mPosition;  ///< bytes passed through this object
};

/// The process's standard input (the C library's stdin).
class VoStdInStream : public VoStdStream {
 public:
  VoStdInStream() = default;
  ~VoStdInStream() override;

  /// Takes exactly size - 1 characters from standard input, one at a time,
  /// waiting until they are there; a line end is a character like any other.
  /// Stores them in buffer[0 .. size-2], a zero in buffer[size-1], size - 1 in
  /// \p count and adds size - 1 to the position.
  ///
  /// The read never ends early: a character that standard input can no longer
  /// deliver (end of input or a read error) is stored as a zero byte, and the
  /// count is still size - 1.
  /// \p size 0 writes nothing into \p buffer and stores 0 in \p count.
  /// A null \p buffer with a \p size above 0 throws "VoArgErr" (3).
  void Read(void* buffer, unsigned long size, unsigned long* count) override;
  /// Throws "VoFileAccessErr" (18).
  void Write(const void* buffer, unsigned long size, unsigned long* count) override;

  /// Does nothing for eVoFileRead; any other mode throws "VoFileAccessErr" (18).
  virtual void Open(eVoFileAccess access);
  /// Does nothing.
  virtual void Close();
};

/// The process's standard output (the C library's stdout), written as text
/// with the platform's line ends and flushed after every write.
class VoStdOutStream : public VoStdStream {
 public:
  VoStdOutStream() = default;
  ~VoStdOutStream() override;

  /// Throws "VoFileAccessErr" (18).
  void Read(void* buffer, unsigned long size, unsigned long* count) override;
  /// Takes the \p size bytes of \p buffer as a string, turns each CR, LF and
  /// CR-LF pair into the line end of VoStdOutLineEnd(VoGetPlatform()) ("\n"
  /// on every Linux system), adds the converted length to the position and
  /// *adds* it to \p count (it does not store it: a caller that wants the
  /// count alone sets *count to 0 first). Then prints the converted text up to
  /// its first zero byte and flushes standard output, so the text has reached
  /// the terminal or pipe when Write returns.
  ///
  /// Each call converts on its own: a CR ending one write and an LF starting
  /// the next give two line ends. Output errors of the C library are not reported. \p size 0 prints
  /// nothing. A null \p buffer with a \p size above 0 throws "VoArgErr" (3).
  void Write(const void* buffer, unsigned long size, unsigned long* count) override;

  /// Does nothing for eVoFileWrite; any other mode throws "VoFileAccessErr" (18).
  virtual void Open(eVoFileAccess access);
  /// Does nothing.
  virtual void Close();
  /// Does nothing for a null text; otherwise Write(text, strlen(text) + 1,
  /// null): the terminating zero is counted in the position but ends the
  /// output, so "abc" prints three characters and advances the position by 4.
  virtual void Write(const char* text);
};

/// The line end that VoStdOutStream writes on the platform with the given
/// VoGetPlatform() value: "\n" for the current desktop platform (0x00040002,
/// which every Linux system reports), "\r" for any other value.
const char* VoStdOutLineEnd(long platform);

#endif  // VOFOUNDATION_VOIO_VOSTDSTREAM_H
