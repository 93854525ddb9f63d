// VoStdStream.cpp - streams on the process's standard input and standard output.
#include "VoIO/VoStdStream.h"

#include <cstdio>
#include <cstring>

#include "VoCore/VoError.h"
#include "VoSystem/VoPlatform.h"

// ------------------------------------------------------------------ VoStdStream

VoStdStream::~VoStdStream() = default;

void VoStdStream::SetPosition(long, eVoFileSeekMode) { VO_THROW(eVoFileAccessErr); }

long VoStdStream::GetPosition() { return mPosition; }

// ------------------------------------------------------------------ VoStdInStream

VoStdInStream::~VoStdInStream() = default;

void VoStdInStream::Read(void* buffer, unsigned long size, unsigned long* count) {
  if (size == 0) {
    if (count) *count = 0;
    return;
  }
  if (!buffer) VO_THROW(eVoArgErr);
  char* out = static_cast<char*>(buffer);
  const unsigned long wanted = size - 1;
  for (unsigned long i = 0; i < wanted; ++i) {
    const int c = std::fgetc(stdin);
    out[i] = c == EOF ? '\0' : static_cast<char>(c);
  }
  out[wanted] = '\0';
  if (count) *count = wanted;
  mPosition += static_cast<long>(wanted);
}

void VoStdInStream::Write(const void*, unsigned long, unsigned long*) { VO_THROW(eVoFileAccessErr); }

void VoStdInStream::Open(eVoFileAccess access) {
  if (access != eVoFileRead) VO_THROW(eVoFileAccessErr);
}

void VoStdInStream::Close() {}

// ------------------------------------------------------------------ VoStdOutStream

VoStdOutStream::~VoStdOutStream() = default;

void VoStdOutStream::Read(void*, unsigned long, unsigned long*) { VO_THROW(eVoFileAccessErr); }

void VoStdOutStream::Write(const void* buffer, unsigned long size, unsigned long* count) {
  if (!buffer && size > 0) VO_THROW(eVoArgErr);
  VoString text;
  text.Set(buffer, static_cast<long>(size));
  text.AdjustLineFeed(VoString(VoStdOutLineEnd(VoGetPlatform())));

  const long length = text.length();
  mPosition += length;
  if (count) *count += static_cast<unsigned long>(length);

  std::fputs(text.c_str(), stdout);
  std::fflush(stdout);
}

void VoStdOutStream::Open(eVoFileAccess access) {
  if (access != eVoFileWrite) VO_THROW(eVoFileAccessErr);
}

void VoStdOutStream::Close() {}

void VoStdOutStream::Write(const char* text) {
  if (!text) return;
  Write(text, std::strlen(text) + 1, nullptr);
}

const char* VoStdOutLineEnd(long platform) { return platform == kVoPlatformCurrent ? "\n" : "\r"; }
