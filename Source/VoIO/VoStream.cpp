// VoStream.cpp - the abstract byte stream, the not-implemented and null streams, text output and stream
// copying.
#include "VoIO/VoStream.h"

#include <cstdio>
#include <cstring>

#include "VoCore/VoError.h"
#include "VoIO/VoFilePrivate.h"

// ------------------------------------------------------------------ VoStream

VoStream::~VoStream() = default;

VoString VoStream::GetName() const { return VoString("VoStream"); }

// ------------------------------------------------------------------ VoStreamImplemented

VoStreamImplemented::~VoStreamImplemented() = default;

void VoStreamImplemented::Read(void*, unsigned long, unsigned long*) { VO_THROW(eVoUndefProc); }

void VoStreamImplemented::Write(const void*, unsigned long, unsigned long*) { VO_THROW(eVoUndefProc); }

void VoStreamImplemented::SetPosition(long, eVoFileSeekMode) { VO_THROW(eVoUndefProc); }

long VoStreamImplemented::GetPosition() { VO_THROW(eVoUndefProc); }

// ------------------------------------------------------------------ VoNullStream

VoNullStream::~VoNullStream() = default;

void VoNullStream::Write(const void*, unsigned long size, unsigned long* count) {
  if (count) *count = size;
}

// ------------------------------------------------------------------ text output

VoStream& operator<<(VoStream& stream, const VoString& text) {
  const long length = text.length();
  stream.Write(text.c_str(), length > 0 ? static_cast<unsigned long>(length) : 0UL, nullptr);
  return stream;
}

VoStream& operator<<(VoStream& stream, const char* text) {
  if (!text) VO_THROW(eVoArgErr);
  stream.Write(text, std::strlen(text), nullptr);
  return stream;
}

namespace {

// Room for any number these operators format: the widest is "%7.2f" of
// -DBL_MAX, 309 integer digits, sign, point and two decimals.
constexpr std::size_t kNumberBufferSize = 400;

}  // namespace

VoStream& operator<<(VoStream& stream, double value) {
  char text[kNumberBufferSize];
  std::snprintf(text, sizeof text, "%7.2f", value);
  return stream << static_cast<const char*>(text);
}

VoStream& operator<<(VoStream& stream, int value) {
  char text[kNumberBufferSize];
  std::snprintf(text, sizeof text, "%d", value);
  return stream << static_cast<const char*>(text);
}

VoStream& operator<<(VoStream& stream, long value) {
  char text[kNumberBufferSize];
  std::snprintf(text, sizeof text, "%ld", value);
  return stream << static_cast<const char*>(text);
}

VoStream& operator<<(VoStream& stream, unsigned int value) {
  char text[kNumberBufferSize];
  std::snprintf(text, sizeof text, "%u", value);
  return stream << static_cast<const char*>(text);
}

VoStream& operator<<(VoStream& stream, unsigned long value) {
  char text[kNumberBufferSize];
  std::snprintf(text, sizeof text, "%lu", value);
  return stream << static_cast<const char*>(text);
}

// ------------------------------------------------------------------ copying

namespace {

// Releases the copy buffer on every way out of VoCopyStream.
class CopyBuffer {
 public:
  explicit CopyBuffer(unsigned long size) : mBlock(static_cast<char*>(VoAlloc(size))) {}
  ~CopyBuffer() { VoFree(mBlock); }
  CopyBuffer(const CopyBuffer&) = delete;
  CopyBuffer& operator=(const CopyBuffer&) = delete;
  char* Get() const { return mBlock; }

 private:
  char* mBlock;
};

// One pass: asks the source for \p asked bytes and returns what it delivered,
// never more than was asked for.
unsigned long ReadBlock(VoStream& source, char* buffer, unsigned long asked) {
  unsigned long received = 0;
  source.Read(buffer, asked, &received);
  return received > asked ? asked : received;
}

}  // namespace

void VoCopyStream(VoStream& source, VoStream& target, long length, unsigned long blockSize) {
  if (blockSize == 0) VO_THROW(eVoArgErr);
  CopyBuffer buffer(blockSize);

  // Between two files the system copies what it can without the buffer; the
  // blocks carry on from where it stopped (the end of the source included:
  // the reads find it as they would have).
  bool complete = false;
  const long copied = VoFileCopyDirect(source, target, length, &complete);
  if (complete) return;
  if (length > 0) length -= copied;

  if (length > 0) {
    unsigned long remaining = static_cast<unsigned long>(length);
    while (remaining > 0) {
      const unsigned long asked = remaining < blockSize ? remaining : blockSize;
      const unsigned long received = ReadBlock(source, buffer.Get(), asked);
      if (received == 0) break;  // the source has ended before length bytes
      target.Write(buffer.Get(), received, nullptr);
      remaining -= received;
    }
    return;
  }

  for (;;) {
    const unsigned long received = ReadBlock(source, buffer.Get(), blockSize);
    target.Write(buffer.Get(), received, nullptr);
    if (received < blockSize) break;
  }
}
