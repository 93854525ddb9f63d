/// \file
/// Owning pointer to a reference-counted object.
#ifndef VOFOUNDATION_VOCORE_VOTEMPLATES_H
#define VOFOUNDATION_VOCORE_VOTEMPLATES_H

#include "VoCore/VoError.h"

/// Holds one reference to an object with the reference operations of
/// VoObject (RefCount, NewRef, Delete), or null.
///
/// Mind the difference between the two ways of storing a raw pointer:
/// constructing from a T* takes over the reference the caller held, while
/// assigning a T* takes a reference of its own (NewRef).
///
/// The destructor may throw: when the object's reference count is already 0
/// or less it leaves the object alone and throws "VoPtrInvalid" (code 20).
/// Like any throwing destructor this terminates the program when it happens
/// during stack unwinding. Copies share the object; there is no move, a
/// moved-from smart pointer is copied.
template <class T>
class VoSmartPtr {
 public:
  /// Null.
  VoSmartPtr() : mPtr(nullptr) {}
  /// Takes over the one reference the caller held on \p p; no NewRef.
  VoSmartPtr(T* p) : mPtr(p) {}  // NOLINT(google-explicit-constructor)
  /// Shares the object: NewRef when it is not null.
  VoSmartPtr(const VoSmartPtr& other) : mPtr(other.mPtr) {
    if (mPtr != nullptr) mPtr->NewRef();
  }

  /// Nothing when \p p is already held. Otherwise NewRef on p (when not null)
  /// first, then Delete on the object held so far (when not null). p is
  /// already stored when the old object is released, so that object's
  /// destruction never sees a stale pointer here. The caller keeps its own
  /// reference on p.
  VoSmartPtr& operator=(T* p) {
    if (p == mPtr) return *this;
    if (p != nullptr) p->NewRef();
    T* old = mPtr;
    mPtr = p;
    if (old != nullptr) old->Delete();
    return *this;
  }

  /// The same as assigning other's pointer.
  VoSmartPtr& operator=(const VoSmartPtr& other) { return *this = other.mPtr; }

  /// Delete on the object when its RefCount() is above 0; "VoPtrInvalid"
  /// (code 20) without touching it otherwise. Nothing for null.
  ~VoSmartPtr() noexcept(false) {
    if (mPtr == nullptr) return;
    if (mPtr->RefCount() > 0)
      mPtr->Delete();
    else
      VO_THROW(eVoPtrInvalid);
  }

  /// The object, or null; the reference stays with this pointer.
  T* Get() const { return mPtr; }
  /// The object, or null, as a plain pointer (borrowed).
  operator T*() const { return mPtr; }  // NOLINT(google-explicit-constructor)
  /// Member access on the object; the pointer must not be null.
  T* operator->() const { return mPtr; }
  /// The object; the pointer must not be null.
  T& operator*() const { return *mPtr; }

 private:
  T* mPtr;
};

#endif  // VOFOUNDATION_VOCORE_VOTEMPLATES_H
