// VoTestStream.h - a memory stream for tests that records every call made to it.
#ifndef VOFOUNDATION_TESTS_VOIO_VOTESTSTREAM_H
#define VOFOUNDATION_TESTS_VOIO_VOTESTSTREAM_H

#include <string>
#include <utility>
#include <vector>

#include "VoIO/VoStream.h"

/// Reads come from mSource, writes go to mWritten; each call is recorded.
struct VoTestStream : public VoStream {
  explicit VoTestStream(std::string source = std::string()) : mSource(std::move(source)) {}

  /// Delivers min(size, mMaxPerRead (0: no limit), bytes left) bytes. Stores
  /// the count, or adds it to *count when mAddToCount is set; mExtraCount is
  /// added to the reported count (a stream that misreports).
  void Read(void* buffer, unsigned long size, unsigned long* count) override;
  /// Appends the bytes; stores size in *count. Throws "VoFileWriteFailed" (17)
  /// on the write whose index (0-based) is mFailWrite.
  void Write(const void* buffer, unsigned long size, unsigned long* count) override;
  /// Moves the read position within mSource (clamped to 0 .. size).
  void SetPosition(long offset, eVoFileSeekMode mode) override;
  /// The read position.
  long GetPosition() override { return static_cast<long>(mReadPos); }

  std::string mSource;
  std::size_t mReadPos = 0;
  unsigned long mMaxPerRead = 0;
  bool mAddToCount = false;
  unsigned long mExtraCount = 0;
  int mFailWrite = -1;

  std::string mWritten;
  std::vector<unsigned long> mReadRequests;
  std::vector<unsigned long> mWriteSizes;
  std::vector<bool> mWriteCountGiven;  // whether each Write got a count pointer
};

#endif  // VOFOUNDATION_TESTS_VOIO_VOTESTSTREAM_H
