#include "ShlObjAPI.h"

namespace Strata {

HRESULT ShlObjAPI::SHGetKnownFolderPath(REFKNOWNFOLDERID folder, DWORD flags, HANDLE token, PWSTR* path) {
  return ::SHGetKnownFolderPath(folder, flags, token, path);
}

namespace {
// At namespace scope, unguarded (see OnceFlag.h).
ShlObjAPI g_systemShell;
}  // namespace

ShlObjAPI& ShlObjAPI::System() { return g_systemShell; }

}  // namespace Strata
