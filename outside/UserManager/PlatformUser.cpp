#include "PlatformUser.h"

#include <oleauto.h>

#include <cstring>
#include <memory>

#include "ComGuard.h"

namespace ZelStandIns {

namespace {
struct SafeArrayDestroyer {
  void operator()(SAFEARRAY* array) const { ::SafeArrayDestroy(array); }
};
struct BstrFreer {
  void operator()(BSTR text) const { ::SysFreeString(text); }
};
}  // namespace

HRESULT PlatformUser::AnswerText(const std::optional<std::wstring>& text, LPWSTR* out, LONG* result) const {
  if (!out || !result) return E_POINTER;
  *out = nullptr;
  *result = static_cast<LONG>(record_.nameResult);
  if (!text || (record_.nameResult & UserDirectory::kErrorMask) != 0) return S_OK;
  size_t bytes = (text->size() + 1) * sizeof(wchar_t);
  *out = static_cast<LPWSTR>(::CoTaskMemAlloc(bytes));
  if (!*out) return E_OUTOFMEMORY;
  std::memcpy(*out, text->c_str(), bytes);
  return S_OK;
}

HRESULT PlatformUser::AnswerNumber(DWORD value, LONG* out, LONG* result) {
  if (!out || !result) return E_POINTER;
  *out = static_cast<LONG>(value);
  *result = 0;
  return S_OK;
}

STDMETHODIMP PlatformUser::GetLogonName(LPWSTR* name, LONG* result) {
  return GuardHResult([&]() -> HRESULT {
    return AnswerText(record_.logonName, name, result);
  });
}

STDMETHODIMP PlatformUser::GetDisplayName(LPWSTR* name, LONG* result) {
  return GuardHResult([&]() -> HRESULT {
    return AnswerText(record_.displayName, name, result);
  });
}

STDMETHODIMP PlatformUser::GetUserType(LONG* type, LONG* result) { return AnswerNumber(record_.kind, type, result); }

STDMETHODIMP PlatformUser::IsStartupUser(LONG* startup, LONG* result) {
  return AnswerNumber(record_.startup, startup, result);
}

STDMETHODIMP PlatformUser::GetAdminFlag(LONG* flag, LONG* result) { return AnswerNumber(record_.adminFlag, flag, result); }

STDMETHODIMP PlatformUser::GetUserFlag(LONG* flag, LONG* result) { return AnswerNumber(record_.userFlag, flag, result); }

STDMETHODIMP PlatformUser::GetGroupSids(SAFEARRAY** sids, LONG* result) {
  return GuardHResult([&]() -> HRESULT {
    if (!sids || !result) return E_POINTER;
    *sids = nullptr;
    *result = 0;
    std::unique_ptr<SAFEARRAY, SafeArrayDestroyer> array(
        ::SafeArrayCreateVector(VT_BSTR, 0, static_cast<ULONG>(record_.groupSids.size())));
    if (!array) return E_OUTOFMEMORY;
    for (LONG i = 0; i < static_cast<LONG>(record_.groupSids.size()); ++i) {
      std::unique_ptr<OLECHAR, BstrFreer> sid(::SysAllocString(record_.groupSids[i].c_str()));
      if (!sid) return E_OUTOFMEMORY;
      HRESULT hr = ::SafeArrayPutElement(array.get(), &i, sid.get());
      if (FAILED(hr)) return hr;
    }
    *sids = array.release();
    return S_OK;
  });
}

}  // namespace ZelStandIns
