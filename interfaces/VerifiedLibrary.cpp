#include "VerifiedLibrary.h"

#include "DllWrapperBase.h"
#include "LogInstance.h"

namespace Ky {
namespace {

constexpr wchar_t kSource[] = L"VerifiedLibrary";
constexpr wchar_t kFunction[] = L"Ky::LoadVerifiedLibrary";

}  // namespace

HRESULT LoadVerifiedLibrary(const wchar_t* fullPath, Strata::UniqueModule& library, UnsignedModules unsignedPolicy,
                            BeforeLoadHook beforeLoad, void* hookContext) noexcept {
  library.reset();
  if (!Strata::CDllWrapperBase::IsFullyQualifiedPath(fullPath)) {
    ZEL_LOG(ETWLogging::kLevelError, kSource, kFunction, L"Refusing to load \"%s\": not a full path\r\n",
            fullPath ? fullPath : L"(null)");
    return E_INVALIDARG;
  }
  // Shared for reading only: nobody can write, replace or rename the file until the load is done.
  Strata::UniqueFile file(::CreateFileW(fullPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file) {
    HRESULT hr = HRESULT_FROM_WIN32(::GetLastError());
    ZEL_LOG(ETWLogging::kLevelError, kSource, kFunction, L"Cannot open \"%s\" [0x%08X]\r\n", fullPath, hr);
    return hr;
  }
  HRESULT hr = CheckPublisherOfOpenFile(fullPath, file.get(), unsignedPolicy);
  if (FAILED(hr)) {
    ZEL_LOG(ETWLogging::kLevelError, kSource, kFunction,
            L"Refusing to load \"%s\": it fails the publisher check [0x%08X]\r\n", fullPath, hr);
    return hr;
  }
  if (beforeLoad) beforeLoad(hookContext);
  library.reset(::LoadLibraryExW(fullPath, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
  if (!library) {
    hr = HRESULT_FROM_WIN32(::GetLastError());
    ZEL_LOG(ETWLogging::kLevelError, kSource, kFunction, L"Failed to load \"%s\" [0x%08X]\r\n", fullPath, hr);
    return FAILED(hr) ? hr : E_FAIL;
  }
  return S_OK;
}

}  // namespace Ky
