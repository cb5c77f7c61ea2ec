// The reference count of a class object that its module keeps for the library's life (one
// reference) and hands out to callers. A caller may hold the class object and create objects later;
// the library must not be unloaded under it. So the references beyond the module's own count as one
// hold on the library, which the library's DllCanUnloadNow asks about.
#pragma once

#include <windows.h>

#include <atomic>

namespace Ky {

class ClassObjectReferences {
 public:
  explicit ClassObjectReferences(std::atomic<LONG>& libraryHolds) noexcept : libraryHolds_(libraryHolds) {}
  ClassObjectReferences(const ClassObjectReferences&) = delete;
  ClassObjectReferences& operator=(const ClassObjectReferences&) = delete;

  ULONG AddRef() noexcept {
    const ULONG count = ++references_;
    if (count == 2) ++libraryHolds_;
    return count;
  }
  // The count left; the object deletes itself at 0.
  ULONG Release() noexcept {
    const ULONG count = --references_;
    if (count == 1) --libraryHolds_;
    return count;
  }

 private:
  std::atomic<ULONG> references_{1};
  std::atomic<LONG>& libraryHolds_;
};

}  // namespace Ky
