// A library loaded by full path that is told when it gains and loses a user.
#pragma once

#include <windows.h>

#include "Handles.h"

namespace Strata {

// Loads a library, calls its "DllAddRef" when it has one, and on unload its "DllRelease" then
// frees it. Not locked: a derived class guards its own use across threads.
class CDllWrapperBase {
 public:
  CDllWrapperBase() = default;
  CDllWrapperBase(const CDllWrapperBase&) = delete;
  CDllWrapperBase& operator=(const CDllWrapperBase&) = delete;
  virtual ~CDllWrapperBase();

  HMODULE Module() const { return module_.get(); }
  bool IsLoaded() const { return module_.valid(); }

  // Drive, folder, file name and extension all present, as in "C:\folder\name.dll".
  static bool IsFullyQualifiedPath(const wchar_t* path);

 protected:
  // Loads the library at a fully qualified path and calls its "DllAddRef". Returns a Win32 error:
  // ERROR_BAD_PATHNAME for any other path, the loader's error when loading fails.
  DWORD Load(const wchar_t* path);
  // Calls "DllRelease" when exported and frees the library; nothing happens when none is loaded.
  void Unload();

  // Looks an export up; stores null and returns false when it is missing.
  template <typename Function>
  bool ResolveExport(const char* name, Function*& function) const {
    function = reinterpret_cast<Function*>(::GetProcAddress(module_.get(), name));
    return function != nullptr;
  }

 private:
  void CallOptionalExport(const char* name) const;

  UniqueModule module_;
};

}  // namespace Strata
