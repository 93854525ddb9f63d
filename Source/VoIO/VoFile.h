/// \file
/// The stream on a named file, and the write-only stream that appends every write to a file.
#ifndef VOFOUNDATION_VOIO_VOFILE_H
#define VOFOUNDATION_VOIO_VOFILE_H

#include <cstdio>

#include "VoCore/VoString.h"
#include "VoIO/VoFileSpec.h"
#include "VoIO/VoStream.h"

/// The stream on a file named by a VoFileSpec.
///
/// A VoFile opens itself on first use with the access mode given to its
/// constructor: Read and Write open lazily for the modes that allow them,
/// Length, SetPosition and GetPosition for every mode but eVoFileNone. The file
/// is opened by the file-system bridge (VoMacOpenFile), binary, without text
/// translation; everything after opening is C standard I/O on that stream.
/// Reads and writes go straight to it; VoFile adds no buffer of its own.
///
/// Lengths and positions are `long`: on Linux 64-bit, so files of 2 GiB and
/// more are measured, positioned, read and written like any other. A
/// ReadString result is a VoString, which holds at most 2^31-1 characters.
///
/// A failing call of the C library surfaces as the error code the member
/// names; `errno` keeps the reason.
class VoFile : public VoStream {
 public:
  /// No handle, the spec of the empty string, access eVoFileNone.
  VoFile();
  /// No handle, a copy of \p spec, the given access; nothing is opened yet.
  VoFile(const VoFileSpec& spec, eVoFileAccess access);
  VoFile(const VoFile&) = delete;
  VoFile& operator=(const VoFile&) = delete;
  /// Closes the handle (if any).
  ~VoFile() override;

  /// Reads up to \p size bytes with fread and stores the number read in
  /// \p count (fewer, also 0 at the end or in a file that got shorter, is no
  /// error; an I/O error throws code 68, "System error: <errno> read <path>",
  /// after \p count was stored; an interrupted read is repeated). A null \p buffer throws
  /// "VoArgErr" (3) first; then the file opens lazily for eVoFileRead and
  /// eVoFileReadWrite. Without a handle (never opened, closed, eVoFileNone,
  /// or eVoFileWrite, which does not open for reading) "VoFileNotOpen" (12),
  /// as from the other operations. Reads and writes on a file opened for both
  /// may follow each other freely: before a read that follows a write, VoFile
  /// makes the positioning call C standard I/O needs between the two (a seek
  /// by 0 from the current position).
  void Read(void* buffer, unsigned long size, unsigned long* count) override;
  /// Opens lazily for eVoFileWrite and eVoFileReadWrite (without a handle then
  /// "VoFileNotOpen", 12, as for Read); only then does a null \p buffer throw
  /// "VoArgErr" (3). Writes \p size bytes with fwrite and stores the number
  /// written in \p count; fewer than \p size throws "VoFileWriteFailed" (17)
  /// after the count was stored. A write that follows a read gets the same
  /// positioning call as Read describes.
  void Write(const void* buffer, unsigned long size, unsigned long* count) override;
  /// Opens lazily unless the access is eVoFileNone; without a handle throws
  /// "VoFileNotOpen" (12). eVoFileSeekBegin: to \p offset; eVoFileSeekEnd: to
  /// Length() - offset; eVoFileSeekCurrent: by \p offset; another mode value
  /// throws "VoArgErr" (3). A failing seek (a negative target, a stream that
  /// cannot seek) throws "VoFileSeekFailed" (14). Positions beyond the end are
  /// allowed; writing there leaves a gap of zero bytes.
  void SetPosition(long offset, eVoFileSeekMode mode) override;
  /// Opens lazily unless the access is eVoFileNone; without a handle throws
  /// "VoFileNotOpen" (12). The position from ftell; -1 throws "VoFilePosFailed" (15).
  long GetPosition() override;
  /// "VoFile\t" followed by the spec's full name.
  VoString GetName() const override;

  /// Replaces the spec (full name, type ID, creator ID). An open handle stays
  /// on the old file.
  virtual void SetSpec(const VoFileSpec& spec);
  /// Copies the spec into \p spec.
  virtual void GetSpec(VoFileSpec& spec) const;
  /// Does nothing when the file has a handle (whatever \p access asks for).
  /// Otherwise the bridge opens the spec (it may derive the spec's type from
  /// its extension for the writing modes and raises its own code-12 errors).
  /// When no handle results, throws code 12 named "FileNotOpen (for reading,
  /// errno=<n>): <full name>" for eVoFileRead, "FileNotOpen (for writing,
  /// errno=<n>): <full name>" for the writing modes, "FileNotOpen: <full name>"
  /// for eVoFileNone and other values, without source file, line 0; the access
  /// then keeps its previous value. \p unused does not change anything.
  virtual void Open(eVoFileAccess access, bool unused = false);
  /// Closes the handle, sets the access to eVoFileNone. May be called any
  /// number of times. When the file was open for writing (eVoFileWrite or
  /// eVoFileReadWrite) and closing fails (the last buffered bytes could not be
  /// written: a full disk, a size limit), throws "VoFileWriteFailed" (17) with
  /// errno telling why, after the handle was released. The destructor closes
  /// without reporting.
  virtual void Close();
  /// Opens lazily unless the access is eVoFileNone; without a handle throws
  /// "VoFileNotOpen" (12). The file's length in bytes; the position is kept.
  /// Seeking to the end or back, or asking the position, fails: "VoFileLengthFailed" (13).
  virtual unsigned long Length();
  /// The rest of the file from the current position, as one text-mode
  /// VoString holding every byte (zero bytes and line ends as they are): one
  /// allocation of that size and one virtual Read straight into it. Bytes the
  /// read does not deliver read as zero. Empty at or beyond the end. A rest of
  /// more than 2^31-1 bytes throws "VoMemFullErr" (4) before anything is read.
  virtual VoString ReadString();
  /// The virtual Write of every byte of \p text (length() bytes), no
  /// terminator, no line-end conversion.
  virtual void WriteString(const VoString& text);

  /// Replaces the contents of the file \p spec names with the bytes of \p text
  /// (length() bytes) so that the file holds either its old or its new
  /// contents, whatever fails (a full disk, a file-size limit, a crash): the
  /// bytes go to a new file in the same folder, which is flushed to the disk
  /// and renamed over the target; the folder is flushed afterwards.
  ///
  /// A symbolic link (also a chain, also one whose target is missing) is
  /// followed: the file it leads to is replaced and the link stays. An existing
  /// file's permission bits, owner and group (where the caller may set them)
  /// and extended attributes (the type and creator codes among them) are kept;
  /// a new file gets the mode 0666 less the umask. As opening the spec for
  /// writing does, the type and creator codes of the extension are stored with
  /// the file. A target that is no regular file (a device, a FIFO; one without
  /// a reader is not waited for), and a writable file in a folder where no file
  /// may be made or renamed over it, are written in place. In place the room
  /// for the new text is taken first, so a full disk or a size limit leaves the
  /// file as it was; only an I/O error in the middle of the write (or a
  /// copy-on-write file system running full) may leave it partly written.
  ///
  /// A file that cannot be made or written (no permission, a missing folder, a
  /// folder as target) throws code 12 named "FileNotOpen: (for writing)"
  /// followed by the full name, without source file, line 0, and leaves the
  /// target unchanged; a failure while writing throws "VoFileWriteFailed" (17).
  /// `errno` holds the reason afterwards. Once the new file is in place nothing
  /// fails any more but the flush of the folder, which is reported (17) with the
  /// new contents in place. No descriptor or temporary file outlives the call.
  static void ReplaceContents(const VoFileSpec& spec, const VoString& text);

  /// True while the file has a handle.
  bool IsOpen() const { return mHandle != nullptr; }
  /// The current access (eVoFileNone after Close).
  eVoFileAccess GetAccess() const { return mAccess; }

 private:
  friend long VoFileCopyDirect(VoStream& source, VoStream& target, long length, bool* complete);
  enum LastOp { kNone, kRead, kWrite };
  void OpenLazily(bool when);
  void RequireHandle() const;
  void SwitchTo(LastOp op);

  FILE* mHandle;
  VoFileSpec mSpec;
  eVoFileAccess mAccess;
  LastOp mLastOp;
};

/// A write-only stream that appends every write to a file: each Write opens
/// the file (creating it when missing, never emptying it), appends the bytes
/// and closes it, so whatever was written is in the file even when the process
/// ends without closing anything, and other processes may read or replace the
/// file between writes.
///
/// The file is opened in append mode (O_APPEND) and each Write hands its bytes
/// to the system in one call, so several processes appending to one file at
/// once (a shared log) neither overwrite nor split each other's writes.
/// A file the stream creates gets the mode 0666 less the umask and the type
/// and creator codes of its extension, as opening it for writing gives.
class VoFlushFileStream : public VoStreamImplemented {
 public:
  /// Keeps a copy of \p spec; touches no file.
  explicit VoFlushFileStream(const VoFileSpec& spec);
  ~VoFlushFileStream() override;

  /// Appends the \p size bytes of \p buffer to the file and stores the number
  /// appended in \p count. Never throws: when the file cannot be opened (a
  /// missing folder, no permission) nothing is written and \p count keeps its
  /// value; a write cut short (disk full) stores what was appended. A null
  /// \p buffer with a \p size above 0 writes nothing.
  void Write(const void* buffer, unsigned long size, unsigned long* count) override;

 private:
  VoFileSpec mSpec;
};

#endif  // VOFOUNDATION_VOIO_VOFILE_H
