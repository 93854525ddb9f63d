// VoFile.cpp - the stream on a named file, and the write-only stream that appends every write to a file.
#include "VoIO/VoFile.h"

#include <cerrno>
#include <cstring>
#include <typeinfo>

#include "Mac/VoMacFileCopy.h"
#include "Mac/VoMacFileOps.h"
#include "Mac/VoMacStdio.h"
#include "Mac/VoMacToolsOSX.h"
#include "VoCore/VoError.h"
#include "VoCore/VoStringPrivate.h"
#include "VoIO/VoFilePrivate.h"

// ==================================================================== VoFile

VoFile::VoFile() : mHandle(nullptr), mSpec(VoString("")), mAccess(eVoFileNone), mLastOp(kNone) {}

VoFile::VoFile(const VoFileSpec& spec, eVoFileAccess access)
    : mHandle(nullptr), mSpec(spec), mAccess(access), mLastOp(kNone) {}

VoFile::~VoFile() {
  if (mHandle != nullptr) VoMacStreamClose(mHandle);  // a destructor has no one to tell
}

void VoFile::OpenLazily(bool when) {
  if (when && mHandle == nullptr) Open(mAccess, false);
}

void VoFile::RequireHandle() const {
  if (mHandle == nullptr) VO_THROW(eVoFileNotOpen);
}

void VoFile::SwitchTo(LastOp op) {
  // C standard I/O needs a positioning call between output and input on a
  // stream opened for both.
  if (mLastOp != kNone && mLastOp != op) VoMacStreamSeek(mHandle, 0, SEEK_CUR);
  mLastOp = op;
}

void VoFile::Read(void* buffer, unsigned long size, unsigned long* count) {
  if (buffer == nullptr) VO_THROW(eVoArgErr);
  OpenLazily(mAccess == eVoFileRead || mAccess == eVoFileReadWrite);
  RequireHandle();
  SwitchTo(kRead);
  VoSysStatus status;
  const unsigned long n = VoMacStreamRead(mHandle, buffer, size, status);
  if (count != nullptr) *count = n;
  // Fewer bytes because the file ends (or got shorter) is no error; an I/O
  // error is, or it would look like the end of the file.
  if (!status.Ok()) {
    VoString message(status.call);
    message += " ";
    message += mSpec.GetFullName();
    VoError::ThrowSysError(status.error, message.c_str());
  }
}

void VoFile::Write(const void* buffer, unsigned long size, unsigned long* count) {
  OpenLazily(mAccess == eVoFileWrite || mAccess == eVoFileReadWrite);
  RequireHandle();
  if (buffer == nullptr) VO_THROW(eVoArgErr);
  SwitchTo(kWrite);
  VoSysStatus status;
  const unsigned long n = size == 0 ? 0 : VoMacStreamWrite(mHandle, buffer, size, status);
  if (count != nullptr) *count = n;
  if (n < size) {
    errno = status.error;
    VO_THROW(eVoFileWriteFailed);
  }
}

void VoFile::SetPosition(long offset, eVoFileSeekMode mode) {
  OpenLazily(mAccess != eVoFileNone);
  RequireHandle();
  long target = offset;
  int whence = SEEK_SET;
  switch (mode) {
    case eVoFileSeekBegin:
      break;
    case eVoFileSeekEnd: {
      const unsigned long length = Length();
      if (__builtin_sub_overflow(static_cast<long>(length), offset, &target)) VO_THROW(eVoFileSeekFailed);
      break;
    }
    case eVoFileSeekCurrent:
      whence = SEEK_CUR;
      break;
    default:
      VO_THROW(eVoArgErr);
  }
  if (VoMacStreamSeek(mHandle, target, whence) != 0) VO_THROW(eVoFileSeekFailed);
  mLastOp = kNone;
}

long VoFile::GetPosition() {
  OpenLazily(mAccess != eVoFileNone);
  RequireHandle();
  const long position = VoMacStreamTell(mHandle);
  if (position == -1) VO_THROW(eVoFilePosFailed);
  return position;
}

VoString VoFile::GetName() const {
  VoString name("VoFile\t");
  name += mSpec.GetFullName();
  return name;
}

void VoFile::SetSpec(const VoFileSpec& spec) { mSpec = spec; }

void VoFile::GetSpec(VoFileSpec& spec) const { spec = mSpec; }

void VoFile::Open(eVoFileAccess access, bool unused) {
  (void)unused;
  if (mHandle != nullptr) return;
  errno = 0;
  FILE* handle = VoMacOpenFile(mSpec, access);  // may throw its own code-12 error
  if (handle == nullptr) {
    const int err = errno;
    VoString text;
    switch (access) {
      case eVoFileRead:
        text.Printf("FileNotOpen (for reading, errno=%d): %s", err, mSpec.GetFullName().c_str());
        break;
      case eVoFileWrite:
      case eVoFileReadWrite:
        text.Printf("FileNotOpen (for writing, errno=%d): %s", err, mSpec.GetFullName().c_str());
        break;
      default:
        text = "FileNotOpen: ";
        text += mSpec.GetFullName();
        break;
    }
    throw VoError(eVoFileNotOpen, text.c_str(), nullptr, 0);
  }
  mHandle = handle;
  mAccess = access;
  mLastOp = kNone;
}

void VoFile::Close() {
  std::FILE* handle = mHandle;
  const bool written = mAccess == eVoFileWrite || mAccess == eVoFileReadWrite;
  mHandle = nullptr;
  mAccess = eVoFileNone;
  mLastOp = kNone;
  if (handle == nullptr) return;
  // The last buffered bytes reach the file only now: a written file whose
  // close failed does not hold what was written.
  const VoSysStatus status = VoMacStreamClose(handle);
  if (!status.Ok() && written) {
    errno = status.error;
    VO_THROW(eVoFileWriteFailed);
  }
}

unsigned long VoFile::Length() {
  OpenLazily(mAccess != eVoFileNone);
  RequireHandle();
  const long position = VoMacStreamTell(mHandle);
  if (position == -1) VO_THROW(eVoFileLengthFailed);
  if (VoMacStreamSeek(mHandle, 0, SEEK_END) != 0) VO_THROW(eVoFileLengthFailed);
  const long length = VoMacStreamTell(mHandle);
  if (VoMacStreamSeek(mHandle, position, SEEK_SET) != 0 || length == -1) VO_THROW(eVoFileLengthFailed);
  mLastOp = kNone;
  return static_cast<unsigned long>(length);
}

VoString VoFile::ReadString() {
  const long length = static_cast<long>(Length());
  const long position = GetPosition();
  if (length <= position) return VoString();
  const long size = length - position;
  // One block of the size, read straight into; NewStringData throws
  // "VoMemFullErr" beyond 2^31-1 characters before allocating.
  VoString text(NewStringData(nullptr, size, false));
  char* chars = text.Get();  // a large block already has the huge-page hint
  unsigned long got = 0;
  // stdio hands a large request straight to the system, into the block.
  Read(chars, static_cast<unsigned long>(size), &got);
  if (got < static_cast<unsigned long>(size))
    std::memset(chars + got, 0, static_cast<std::size_t>(size) - got);
  text.SetLength(static_cast<int>(size));
  return text;
}

void VoFile::WriteString(const VoString& text) {
  const long length = text.length();
  Write(text.c_str(), length > 0 ? static_cast<unsigned long>(length) : 0, nullptr);
}

void VoFile::ReplaceContents(const VoFileSpec& spec, const VoString& text) {
  const long length = text.length();
  eVoMacReplaceStage stage = eVoMacReplaceOpen;
  const VoSysStatus status = VoMacReplaceFileContents(
      spec, text.c_str(), length > 0 ? static_cast<unsigned long>(length) : 0, &stage);
  if (status.Ok()) return;
  const int err = status.error;
  if (stage == eVoMacReplaceOpen) {
    VoString message("FileNotOpen: (for writing)");
    message += spec.GetFullName();
    VoError error(eVoFileNotOpen, message.c_str(), nullptr, 0);
    errno = err;
    throw error;
  }
  errno = err;
  VO_THROW(eVoFileWriteFailed);
}

// ==================================================================== copying between files

long VoFileCopyDirect(VoStream& source, VoStream& target, long length, bool* complete) {
  *complete = false;
  // A derived class may read or write in its own way: only its Read and Write
  // know how.
  if (typeid(source) != typeid(VoFile) || typeid(target) != typeid(VoFile) || &source == &target) return 0;
  VoFile& from = static_cast<VoFile&>(source);
  VoFile& to = static_cast<VoFile&>(target);
  if (from.mHandle == nullptr || to.mHandle == nullptr) return 0;  // Read and Write open them lazily
  if (from.mAccess != eVoFileRead && from.mAccess != eVoFileReadWrite) return 0;
  if (to.mAccess != eVoFileWrite && to.mAccess != eVoFileReadWrite) return 0;
  const long copied = VoMacCopyFileData(from.mHandle, to.mHandle, length, complete);
  if (copied < 0) VoError::ThrowSysError(errno, "seek");
  if (copied > 0) {
    // Both handles were positioned, which stands for the switch between
    // reading and writing.
    from.mLastOp = VoFile::kNone;
    to.mLastOp = VoFile::kNone;
  }
  return copied;
}

// ==================================================================== VoFlushFileStream

VoFlushFileStream::VoFlushFileStream(const VoFileSpec& spec) : mSpec(spec) {}

VoFlushFileStream::~VoFlushFileStream() = default;

void VoFlushFileStream::Write(const void* buffer, unsigned long size, unsigned long* count) {
  if (buffer == nullptr && size > 0) return;
  try {
    VoMacAppendToFile(mSpec, buffer, size, count);  // failures lose the bytes silently
  } catch (...) {
  }
}
