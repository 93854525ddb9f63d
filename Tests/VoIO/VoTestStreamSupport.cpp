// VoTestStreamSupport.cpp - the recording memory stream of the IO tests.
#include "VoIO/VoTestStream.h"

#include <algorithm>
#include <cstring>

#include "VoCore/VoError.h"

void VoTestStream::Read(void* buffer, unsigned long size, unsigned long* count) {
  mReadRequests.push_back(size);
  std::size_t n = std::min<std::size_t>(size, mSource.size() - mReadPos);
  if (mMaxPerRead != 0) n = std::min<std::size_t>(n, mMaxPerRead);
  if (n > 0) std::memcpy(buffer, mSource.data() + mReadPos, n);
  mReadPos += n;
  if (count) {
    const unsigned long reported = static_cast<unsigned long>(n) + mExtraCount;
    *count = mAddToCount ? *count + reported : reported;
  }
}

void VoTestStream::Write(const void* buffer, unsigned long size, unsigned long* count) {
  if (static_cast<int>(mWriteSizes.size()) == mFailWrite) VO_THROW(eVoFileWriteFailed);
  mWriteSizes.push_back(size);
  mWriteCountGiven.push_back(count != nullptr);
  if (size > 0) mWritten.append(static_cast<const char*>(buffer), size);
  if (count) *count = size;
}

void VoTestStream::SetPosition(long offset, eVoFileSeekMode mode) {
  const long size = static_cast<long>(mSource.size());
  long pos = offset;
  if (mode == eVoFileSeekEnd) pos = size - offset;
  if (mode == eVoFileSeekCurrent) pos = static_cast<long>(mReadPos) + offset;
  mReadPos = static_cast<std::size_t>(std::clamp(pos, 0L, size));
}
