// VoError.cpp - the exception type and the table of error names.
#include "VoCore/VoError.h"

#include <cstdio>
#include <cstring>

#include "VoCore/VoDebug.h"

namespace {

char* CopyText(const char* text) {
  const std::size_t n = std::strlen(text);
  char* copy = new char[n + 1];
  std::memcpy(copy, text, n + 1);
  return copy;
}

// Text behind the last '/' or '\', the whole path when it has neither.
const char* BaseName(const char* path) {
  if (path == nullptr) return nullptr;
  const char* base = path;
  for (const char* p = path; *p != '\0'; ++p)
    if (*p == '/' || *p == '\\') base = p + 1;
  return base;
}

}  // namespace

const char* VoErrorName(unsigned long code) noexcept {
  switch (code) {
    case eVoUndefProc:
      return "VoUndefProc";
    case eVoUnexpectedErr:
      return "VoUnexpectedErr";
    case eVoArgErr:
      return "VoArgErr";
    case eVoMemFullErr:
      return "VoMemFullErr";
    case eVoIndexError:
      return "VoIndexError";
    case eVoFileNotOpen:
      return "VoFileNotOpen";
    case eVoFileLengthFailed:
      return "VoFileLengthFailed";
    case eVoFileSeekFailed:
      return "VoFileSeekFailed";
    case eVoFilePosFailed:
      return "VoFilePosFailed";
    case eVoFileWriteFailed:
      return "VoFileWriteFailed";
    case eVoFileAccessErr:
      return "VoFileAccessErr";
    case eVoFormatErr:
      return "VoFormatErr";
    case eVoPtrInvalid:
      return "VoPtrInvalid";
    case eVoGeneralErr:
      return "VoGeneralErr";
    default:
      return nullptr;
  }
}

VoError::VoError() : mErr(0), mErrName(nullptr), mFileName(nullptr), mLine(0), mWhat(nullptr) {
  Set(0, nullptr, nullptr, 0);
}

VoError::VoError(unsigned long code, const char* name, const char* file, int line)
    : mErr(0), mErrName(nullptr), mFileName(nullptr), mLine(0), mWhat(nullptr) {
  const char* base = BaseName(file);
  if (code != 0) {
    // Every raised error leaves one level-1 line in the debug log, before the
    // fields are stored. The log swallows its own failures and drops messages
    // that its writing produces, so this neither throws nor recurses.
    try {
      VoDebugPrintfImpl(1, "VoError: %d \"%s\", file \"%s\", line %d", static_cast<int>(code),
                        name ? name : "", base ? base : "", line);
    } catch (...) {
    }
  }
  Set(code, name, base, line);
}

VoError::VoError(const VoError& other)
    : mErr(0), mErrName(nullptr), mFileName(nullptr), mLine(0), mWhat(nullptr) {
  Set(other.mErr, other.mErrName, other.mFileName, other.mLine);
}

VoError& VoError::operator=(const VoError& other) {
  if (this == &other) return *this;
  // Copy first so that a failed allocation leaves this object intact.
  char* name = CopyText(other.mErrName ? other.mErrName : "Unknown");
  char* file = nullptr;
  try {
    if (other.mFileName) file = CopyText(other.mFileName);
  } catch (...) {
    delete[] name;
    throw;
  }
  FreeStrings();
  mErr = other.mErr;
  mErrName = name;
  mFileName = file;
  mLine = other.mLine;
  return *this;
}

VoError::~VoError() { FreeStrings(); }

void VoError::FreeStrings() noexcept {
  delete[] mErrName;
  delete[] mFileName;
  delete[] mWhat;
  mErrName = mFileName = mWhat = nullptr;
}

void VoError::Set(unsigned long code, const char* name, const char* file, int line) {
  delete[] mWhat;  // our own cache, not one of the two strings the caller frees
  mWhat = nullptr;
  mErr = code;
  mLine = line;
  mErrName = CopyText(name ? name : "Unknown");
  mFileName = file ? CopyText(file) : nullptr;
}

const char* VoError::what() const {
  if (mErr == 0 || mErrName == nullptr) return "No Error";
  // Formatted once per content: Set() and assignment drop the text, so a
  // pointer handed out stays valid until the error changes or is destroyed.
  if (mWhat == nullptr) {
    const std::size_t size = std::strlen(mErrName) + std::strlen(GetFileName()) + 50;
    mWhat = new char[size];
    // The code is printed signed, so a platform status such as -1 reads as -1.
    std::snprintf(mWhat, size, "Error=%ld (%s)", static_cast<long>(mErr), mErrName);
  }
  return mWhat;
}

void VoError::ThrowSysError(int errnum, const char* message) {
  const std::size_t size = std::strlen(message) + 32;
  char* text = new char[size];
  if (message[0] != '\0')
    std::snprintf(text, size, "System error: %d %s", errnum, message);
  else
    std::snprintf(text, size, "System error: %d", errnum);
  VoError error(eVoSystemErr, text, nullptr, 0);
  delete[] text;
  throw error;
}

void VoThrowError(unsigned long code, const char* file, int line) {
  throw VoError(code, VoErrorName(code), file, line);
}
