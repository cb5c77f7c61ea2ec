#include "DllWrapperBase.h"

#include <cwctype>
#include <string_view>

namespace Strata {

namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

}  // namespace

CDllWrapperBase::~CDllWrapperBase() { Unload(); }

bool CDllWrapperBase::IsFullyQualifiedPath(const wchar_t* path) {
  if (!path) return false;
  std::wstring_view text(path);
  if (text.size() < 3 || text.size() >= MAX_PATH) return false;
  if (!std::iswalpha(text[0]) || text[1] != L':' || !IsSeparator(text[2])) return false;
  std::wstring_view name = text.substr(text.find_last_of(L"\\/") + 1);
  size_t dot = name.find_last_of(L'.');
  return dot != std::wstring_view::npos && dot > 0 && dot + 1 < name.size();
}

DWORD CDllWrapperBase::Load(const wchar_t* path) {
  // A bare or relative name would be looked for along the search path, where anyone could plant it.
  if (!IsFullyQualifiedPath(path)) return ERROR_BAD_PATHNAME;
  Unload();
  module_.reset(::LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
  if (!module_) return ::GetLastError();
  // The library's bookkeeping must not disturb the error the caller sees after a successful load.
  DWORD lastError = ::GetLastError();
  CallOptionalExport("DllAddRef");
  ::SetLastError(lastError);
  return ERROR_SUCCESS;
}

void CDllWrapperBase::Unload() {
  if (!module_) return;
  CallOptionalExport("DllRelease");
  module_.reset();
}

void CDllWrapperBase::CallOptionalExport(const char* name) const {
  using Export = HRESULT WINAPI();
  Export* function = nullptr;
  if (ResolveExport(name, function)) function();
}

}  // namespace Strata
