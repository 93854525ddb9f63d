// VoDebug.cpp - the process-wide levelled debug log.
#include "VoCore/VoDebug.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "VoCore/VoString.h"
#include "VoIO/VoFile.h"
#include "VoIO/VoStdStream.h"

int gDebugLevel = 0;

namespace {

// The current stream; null until first needed.
VoStream* gStream = nullptr;
// The stream the log made itself (a VoFlushFileStream) while it is current.
VoStream* gOwnedStream = nullptr;
// Set while this thread writes a message, so that messages produced by the
// writing itself (errors of the stream and their trace lines) are dropped.
thread_local bool tWriting = false;

/// Makes \p stream current. The log's own stream is released when replaced.
void MakeCurrent(VoStream* stream, bool logOwned) {
  VoStream* old = gOwnedStream;
  gStream = stream;
  if (logOwned)
    gOwnedStream = stream;
  else if (stream != old)
    gOwnedStream = nullptr;
  if (old != nullptr && old != stream) old->Delete();
}

/// Writes one message to \p stream, swallowing every error.
void WriteMessage(VoStream* stream, const char* text) {
  const unsigned long length = std::strlen(text);
  if (length == 0) return;
  tWriting = true;
  try {
    stream->Write(text, length, nullptr);
    if (text[length - 1] != '\n') stream->Write("\n", 1, nullptr);
  } catch (...) {
    // The message, or its line end, is lost; the caller is not told.
  }
  tWriting = false;
}

}  // namespace

VoStream* VoGetDefaultOutputStream() {
  // Made once and never destroyed (see the header).
  static VoStream* const stream = new VoStdOutStream();
  return stream;
}

VoStream* VoOutputStream(VoStream* stream) {
  if (stream != nullptr)
    MakeCurrent(stream, false);
  else if (gStream == nullptr)
    MakeCurrent(VoGetDefaultOutputStream(), false);
  return gStream;
}

VoStream* VoGetDebugOutputImpl() { return VoOutputStream(nullptr); }

void VoSetDebugOutputImpl(VoStream* stream) { VoOutputStream(stream); }

void VoSetDebugLevelImpl(int level) { gDebugLevel = level; }

int VoGetDebugLevelImpl() { return gDebugLevel; }

VoString& VoOutputFile() {
  static VoString* const name = new VoString();
  return *name;
}

VoString VoGetDebugOutputFileImpl() { return VoOutputFile(); }

void VoSetDebugOutputFileImpl(const VoString& name) {
  VoOutputFile() = name;
  if (name.length() == 0) {
    VoOutputStream(nullptr);
    return;
  }
  MakeCurrent(new VoFlushFileStream(VoFileSpec(name)), true);
}

void VoDebugWriteImpl(int level, const char* text) {
  VoStream* stream = gStream;
  if (stream == nullptr) {
    if (tWriting) return;
    try {
      stream = VoOutputStream(nullptr);
    } catch (...) {
      return;
    }
  }
  if (level > gDebugLevel || text == nullptr || tWriting) return;
  WriteMessage(stream, text);
}

void VoDebugWriteImpl(int level, const VoString& text) { VoDebugWriteImpl(level, text.c_str()); }

void VoDebugPrintfImpl(int level, const char* format, ...) {
  if (level > gDebugLevel || format == nullptr) return;
  char buffer[4096];
  std::va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  if (n < 0) return;
  const std::size_t length =
      static_cast<std::size_t>(n) < sizeof buffer ? static_cast<std::size_t>(n) : sizeof buffer - 1;
  if (length >= 1 && length <= sizeof buffer - 2 && buffer[length - 1] != '\n') {
    buffer[length] = '\n';
    buffer[length + 1] = '\0';
  }
  VoDebugWriteImpl(level, buffer);
}

void VoDebugBreakImpl() {}
void StartMemDebug() {}
void MemCheckPoint(bool) {}
void EndMemDebug() {}
