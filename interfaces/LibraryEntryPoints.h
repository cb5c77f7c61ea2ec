// What the entry points of the product's in-process libraries share. DllMain only records the
// module handle: it runs under the loader lock, where creating the diagnostic log (registry reads,
// a trace provider's registration, a file) must not happen. The log starts with the first entry
// point COM calls, and every entry point answers through the one exception guard.
#pragma once

#include <windows.h>

#include "ComGuard.h"
#include "LogInstance.h"
#include "PublisherCheck.h"
#include "RtMui.h"
#include "RuntimeReserve.h"

namespace Ky {

// How a library's diagnostic log begins: its group, the source file and function its first line
// carries, and that line's format (the library's version is its one argument).
struct LibraryLogStart {
  const wchar_t* group;
  const wchar_t* sourceFile;
  const wchar_t* function;
  const wchar_t* startFormat;
};

// `Module` is the library's module object: SetInstance(HINSTANCE) and CanUnloadNow().
template <typename Module>
class LibraryEntryPoints {
 public:
  // Constant-initialised, so that it is ready before DllMain runs.
  constexpr LibraryEntryPoints(Module& module, LibraryLogStart logStart) : module_(module), logStart_(logStart) {}

  BOOL Main(HINSTANCE instance, DWORD reason, void* reserved) const {
    if (reason == DLL_PROCESS_ATTACH) {
      module_.SetInstance(instance);
      ::DisableThreadLibraryCalls(instance);
    }
    // Unloaded by FreeLibrary (reserved is null) rather than by the process ending.
    if (reason == DLL_PROCESS_DETACH && !reserved) Strata::ReleaseRuntimeReserve();
    return TRUE;
  }

  HRESULT CanUnloadNow() const {
    return GuardHResult([this] {
      const HRESULT answer = module_.CanUnloadNow();
      // The language library goes with this one; were this one kept after all, its next use binds
      // the language library again.
      if (answer == S_OK) Strata::RtMui::Release();
      return answer;
    });
  }

  // An entry point that may be the library's first: starts the log, then answers `body()`.
  template <typename Body>
  HRESULT Logged(Body&& body) const {
    return GuardHResult([&] {
      if (StartLibraryLog(logStart_.group, logStart_.sourceFile, logStart_.function, logStart_.startFormat))
        NoteDevelopmentBuild(logStart_.sourceFile, logStart_.function);
      return body();
    });
  }

 private:
  Module& module_;
  const LibraryLogStart logStart_;
};

}  // namespace Ky
