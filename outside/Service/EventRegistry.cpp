#include "EventRegistry.h"

#include <optional>

#include "ServiceKnobs.h"
#include "ServiceResults.h"

namespace ZelService {

namespace {

// A GUID text in the one form the registry stores: braced and upper case.
std::optional<std::wstring> CanonicalGuid(BSTR text) {
  GUID guid;
  if (!text || FAILED(::CLSIDFromString(text, &guid))) return std::nullopt;
  wchar_t canonical[40];
  ::StringFromGUID2(guid, canonical, ARRAYSIZE(canonical));
  return std::wstring(canonical);
}

}  // namespace

HRESULT CEventRegistry::OpenProduct(BSTR product, long* result) {
  if (!result) return E_POINTER;
  HRESULT hr = S_OK;
  if (AnsweredByKnob(L"OpenProduct", hr, result)) return hr;
  if (!product || ::SysStringLen(product) == 0) {
    *result = kResultInvalidArgument;
    return S_OK;
  }
  std::lock_guard<Strata::SlimLock> lock(guard_);
  product_.assign(product, ::SysStringLen(product));
  changes_.clear();
  *result = kResultSuccess;
  return S_OK;
}

long CEventRegistry::RecordChange(bool add, BSTR eventIid, BSTR handlerClsid) {
  std::optional<std::wstring> event = CanonicalGuid(eventIid);
  std::optional<std::wstring> handler = CanonicalGuid(handlerClsid);
  if (!event || !handler) return kResultInvalidArgument;
  std::lock_guard<Strata::SlimLock> lock(guard_);
  if (product_.empty()) return kResultNoProduct;
  changes_.push_back(Change{add, *event, *handler});
  return kResultSuccess;
}

HRESULT CEventRegistry::AddBinding(BSTR eventIid, BSTR handlerClsid, long reserved, long* result) {
  if (!result) return E_POINTER;
  HRESULT hr = S_OK;
  if (AnsweredByKnob(L"AddBinding", hr, result)) return hr;
  *result = reserved != 0 ? kResultInvalidArgument : RecordChange(true, eventIid, handlerClsid);
  return S_OK;
}

HRESULT CEventRegistry::RemoveBinding(BSTR eventIid, BSTR handlerClsid, long* result) {
  if (!result) return E_POINTER;
  HRESULT hr = S_OK;
  if (AnsweredByKnob(L"RemoveBinding", hr, result)) return hr;
  *result = RecordChange(false, eventIid, handlerClsid);
  return S_OK;
}

HRESULT CEventRegistry::Save(long* result) {
  if (!result) return E_POINTER;
  HRESULT hr = S_OK;
  if (AnsweredByKnob(L"Save", hr, result)) return hr;
  std::lock_guard<Strata::SlimLock> lock(guard_);
  if (product_.empty()) {
    *result = kResultNoProduct;
    return S_OK;
  }
  Strata::MutexLock storeLock = store_.Lock();
  for (const Change& change : changes_) {
    // An event has one handler: a new binding replaces the old; a removal names the handler it removes.
    hr = change.add ? store_.SetBinding(product_, change.eventIid, change.handler)
                    : store_.RemoveBinding(product_, change.eventIid, change.handler);
    if (FAILED(hr)) return hr;
  }
  changes_.clear();
  *result = kResultSuccess;
  return S_OK;
}

HRESULT CEventRegistry::FindBinding(BSTR product, BSTR eventIid, BSTR* handlerClsid, long* result) {
  if (!handlerClsid || !result) return E_POINTER;
  *handlerClsid = nullptr;
  HRESULT hr = S_OK;
  if (AnsweredByKnob(L"FindBinding", hr, result)) return hr;
  std::optional<std::wstring> event = CanonicalGuid(eventIid);
  if (!product || !event) {
    *result = kResultInvalidArgument;
    return S_OK;
  }
  std::optional<std::wstring> handler = store_.FindBinding(std::wstring(product, ::SysStringLen(product)), *event);
  if (!handler) {
    *result = kResultNotFound;
    return S_OK;
  }
  *handlerClsid = ::SysAllocString(handler->c_str());
  if (!*handlerClsid) return E_OUTOFMEMORY;
  *result = kResultSuccess;
  return S_OK;
}

}  // namespace ZelService
