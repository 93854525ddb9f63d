// VoMemory.cpp - cast by class name, reference counting and the block allocator.
#include "VoCore/VoMemory.h"

#include <cstring>
#include <new>

#include "VoCore/VoError.h"

// ---------------------------------------------------------------- VoCastBase

VoCastBase::~VoCastBase() = default;

bool VoCastBase::StringsEqual(const char* a, const char* b) {
  if (a == nullptr || b == nullptr) return a == b;
  return std::strcmp(a, b) == 0;
}

void* VoCastBase::Cast(const char* name) {
  if (name != nullptr && std::strcmp(name, "VoCastBase") == 0) return this;
  return nullptr;
}

const char* VoCastBase::GetTypeName() const { return "VoCastBase"; }

// ---------------------------------------------------------------- VoObject

VoObject::~VoObject() { mRefCount = 0; }

void* VoObject::Cast(const char* name) {
  if (StringsEqual(name, "VoObject")) return this;
  return VoCastBase::Cast(name);
}

const char* VoObject::GetTypeName() const { return "VoObject"; }

int VoObject::RefCount() const { return mRefCount; }

void VoObject::NewRef() { ++mRefCount; }

void VoObject::Delete() {
  if (--mRefCount == 0) delete this;
}

// ---------------------------------------------------------------- managers

VoMemoryManager::~VoMemoryManager() = default;

VoMemoryManagerCPP::~VoMemoryManagerCPP() = default;

void* VoMemoryManagerCPP::Alloc(unsigned long size) {
  try {
    return ::operator new(size);
  } catch (...) {
    VO_THROW(eVoMemFullErr);
  }
}

void VoMemoryManagerCPP::Free(void* block) {
  if (block != nullptr) ::operator delete(block);
}

constinit VoMemoryManager* pMemoryManager = nullptr;
constinit VoMemoryManagerCPP DefaultManager;

// ---------------------------------------------------------------- free functions

void* VoAlloc(unsigned long size) {
  if (pMemoryManager != nullptr) return pMemoryManager->Alloc(size);
  // Qualified call: no dependence on the object's dynamic type, which makes
  // it safe before and after the object's lifetime.
  return DefaultManager.VoMemoryManagerCPP::Alloc(size);
}

void VoFree(void* block) {
  if (pMemoryManager != nullptr) {
    pMemoryManager->Free(block);
    return;
  }
  if (block != nullptr) ::operator delete(block);
}

void VoCopy(void* dest, const void* source, unsigned long size) {
  if (dest == nullptr || source == nullptr) return;
  std::memmove(dest, source, size);
}

void VoSet(void* dest, int value, unsigned long size) {
  if (dest == nullptr) return;
  std::memset(dest, value, size);
}

void* VoClone(const void* source, unsigned long size) {
  void* block = VoAlloc(size);
  if (source != nullptr) VoCopy(block, source, size);
  return block;
}

void VoSetMemoryManager(VoMemoryManager* manager) { pMemoryManager = manager; }

VoMemoryManager* VoGetMemoryManager() { return pMemoryManager; }
