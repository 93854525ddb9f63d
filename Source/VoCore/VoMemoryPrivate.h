// VoMemoryPrivate.h - what the memory layer asks of the platform layer (not installed).
#ifndef VOFOUNDATION_VOCORE_VOMEMORYPRIVATE_H
#define VOFOUNDATION_VOCORE_VOMEMORYPRIVATE_H

/// A hint before \p size bytes at \p block are filled in one go (a whole file
/// read into a fresh string block): for blocks of 8 MiB and more the system is
/// asked to back the block's 2 MiB-aligned interior with huge pages, which
/// makes touching fresh memory for the first time several times cheaper.
/// Changes no byte and reports nothing; without effect where the system
/// ignores it. Implemented by the platform layer (Source/Linux/VoLinuxMemory.cpp).
void VoPrepareLargeBlock(void* block, unsigned long size);

#endif  // VOFOUNDATION_VOCORE_VOMEMORYPRIVATE_H
