/// \file
/// Cast by class name, reference-counted objects and the replaceable block allocator.
#ifndef VOFOUNDATION_VOCORE_VOMEMORY_H
#define VOFOUNDATION_VOCORE_VOMEMORY_H

/// Root of the run-time cast by class name.
///
/// Every class taking part in the cast compares the requested name with its
/// own class name and otherwise hands the name on to the Cast of its base
/// class, so a cast walks from the most derived class towards VoCastBase and
/// yields this object for every name in the chain, null for any other name.
class VoCastBase {
 public:
  VoCastBase() = default;
  /// Copying copies nothing: the class has no data.
  /// @{
  VoCastBase(const VoCastBase&) = default;
  VoCastBase& operator=(const VoCastBase&) = default;
  /// @}

  /// This object when \p name is "VoCastBase", otherwise null (also for a null name).
  virtual void* Cast(const char* name);
  /// "VoCastBase".
  virtual const char* GetTypeName() const;
  virtual ~VoCastBase();

  /// True when both zero-terminated strings are equal byte for byte. A null
  /// pointer equals only another null pointer.
  static bool StringsEqual(const char* a, const char* b);
};

/// A VoCastBase with an intrusive reference count.
///
/// An object begins with one reference, owned by its creator. Each further
/// holder calls NewRef(), each holder that lets go calls Delete(); the object
/// destroys itself (with `delete`) when the count drops from 1 to 0, so an
/// object released with Delete() must have been created with `new`.
/// Classes derived from it in this library keep the inherited Cast and
/// GetTypeName, so they answer "VoObject" and a cast by their own name is null.
class VoObject : public VoCastBase {
 public:
  /// Reference count 1.
  VoObject() : mRefCount(1) {}
  /// Reference count 1: the count is not copied.
  VoObject(const VoObject& other) : VoCastBase(other), mRefCount(1) {}
  /// Does nothing: the count of the target stays as it is.
  VoObject& operator=(const VoObject&) { return *this; }

  /// This object when \p name is "VoObject", otherwise what VoCastBase::Cast gives.
  void* Cast(const char* name) override;
  /// "VoObject".
  const char* GetTypeName() const override;
  /// Sets the count to 0, so that a pointer left behind to a dead object
  /// can be recognised by its owners while the memory is still there.
  ~VoObject() override;

  /// The current number of references.
  virtual int RefCount() const;
  /// Adds one reference.
  virtual void NewRef();
  /// Drops one reference; when none is left the object deletes itself.
  virtual void Delete();

 private:
  int mRefCount;  // signed 32-bit
};

/// A block allocator that a program may install with VoSetMemoryManager().
class VoMemoryManager {
 public:
  constexpr VoMemoryManager() = default;
  virtual ~VoMemoryManager();
  /// A block of \p size bytes. How failure is reported is up to the manager.
  virtual void* Alloc(unsigned long size) = 0;
  /// Releases a block of this manager; may be given null.
  virtual void Free(void* block) = 0;

 protected:
  /// Managers are copied only by subclasses that allow it.
  /// @{
  VoMemoryManager(const VoMemoryManager&) = default;
  VoMemoryManager& operator=(const VoMemoryManager&) = default;
  /// @}
};

/// The default manager: the global scalar new and delete operators.
class VoMemoryManagerCPP : public VoMemoryManager {
 public:
  constexpr VoMemoryManagerCPP() = default;
  ~VoMemoryManagerCPP() override;
  /// Never returns null: any failure of the new operator is thrown as
  /// VoError code 4 "VoMemFullErr".
  void* Alloc(unsigned long size) override;
  /// Global delete; null is ignored.
  void Free(void* block) override;
};

/// The manager installed by the program; null means DefaultManager is used.
extern VoMemoryManager* pMemoryManager;
/// The manager in use while pMemoryManager is null. It is constant-initialised,
/// so it can be used from any static constructor; the library calls it
/// without virtual dispatch, so it also still works from static destructors.
extern VoMemoryManagerCPP DefaultManager;

/// A block of \p size bytes from the installed manager, or from DefaultManager.
void* VoAlloc(unsigned long size);
/// With a manager installed, hands \p block (null included) to its Free;
/// otherwise releases it with the global delete operator (null does nothing).
/// A block must be freed while the manager that allocated it is installed.
void VoFree(void* block);
/// Copies \p size bytes from \p source to \p dest; overlapping ranges are
/// copied correctly in either direction. Nothing happens when either pointer is null.
void VoCopy(void* dest, const void* source, unsigned long size);
/// Fills \p size bytes at \p dest with the byte \p value; nothing when \p dest is null.
void VoSet(void* dest, int value, unsigned long size);
/// A new block of \p size bytes from VoAlloc holding a copy of \p source;
/// when \p source is null the block is returned uninitialised.
void* VoClone(const void* source, unsigned long size);
/// Installs \p manager; null reinstalls the default. The library never
/// deletes an installed manager.
void VoSetMemoryManager(VoMemoryManager* manager);
/// The installed manager, null while the default is in use.
VoMemoryManager* VoGetMemoryManager();

#endif  // VOFOUNDATION_VOCORE_VOMEMORY_H
