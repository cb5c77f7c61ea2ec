// Seam over the shell's known-folder query, so that tests can place folders where they like.
#pragma once

#include <windows.h>
#include <shlobj.h>

namespace Strata {

class ShlObjAPI {
 public:
  virtual ~ShlObjAPI() = default;
  virtual HRESULT SHGetKnownFolderPath(REFKNOWNFOLDERID folder, DWORD flags, HANDLE token, PWSTR* path);

  // The process-wide instance that calls the shell.
  static ShlObjAPI& System();
};

}  // namespace Strata
