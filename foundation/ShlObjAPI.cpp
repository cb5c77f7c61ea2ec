#include "ShlObjAPI.h"

namespace Strata {

HRESULT ShlObjAPI::SHGetKnownFolderPath(REFKNOWNFOLDERID folder, DWORD flags, HANDLE token, PWSTR* path) {
  return ::SHGetKnownFolderPath(folder, flags, token, path);
}

ShlObjAPI& ShlObjAPI::System() {
  static ShlObjAPI instance;
  return instance;
}

}  // namespace Strata
