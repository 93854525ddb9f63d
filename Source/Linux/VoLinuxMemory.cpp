// VoLinuxMemory.cpp - the huge-page hint for large fresh blocks (madvise).
#include <sys/mman.h>

#include <cstdint>

#include "Linux/VoLinuxSys.h"
#include "VoCore/VoMemoryPrivate.h"

void VoPrepareLargeBlock(void* block, unsigned long size) {
#ifdef MADV_HUGEPAGE
  constexpr uintptr_t kHuge = uintptr_t{2} << 20;
  if (block == nullptr || size < 4 * kHuge) return;
  const uintptr_t begin = (reinterpret_cast<uintptr_t>(block) + kHuge - 1) & ~(kHuge - 1);
  const uintptr_t end = (reinterpret_cast<uintptr_t>(block) + size) & ~(kHuge - 1);
  if (end > begin) gVoSys.madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
  (void)block;
  (void)size;
#endif
}
