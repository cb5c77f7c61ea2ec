#include "ScriptLists.h"

#include <oleauto.h>

#include <string>

namespace {

// More elements than any caller sends; a script claiming more is refused, not iterated.
constexpr LONG kMaxElements = 4096;

// A list is one-dimensional and holds VARIANTs, whatever the VARIANT around it claims: an array of
// another element type would be copied into VARIANTs it does not fit.
HRESULT AppendSafeArray(SAFEARRAY* array, VariantList* list) {
  if (!array || ::SafeArrayGetDim(array) != 1) return E_INVALIDARG;
  VARTYPE elementType = VT_EMPTY;
  if (FAILED(::SafeArrayGetVartype(array, &elementType)) || elementType != VT_VARIANT) return E_INVALIDARG;
  LONG lower = 0;
  LONG upper = -1;
  HRESULT hr = ::SafeArrayGetLBound(array, 1, &lower);
  if (SUCCEEDED(hr)) hr = ::SafeArrayGetUBound(array, 1, &upper);
  if (FAILED(hr)) return hr;
  if (static_cast<LONGLONG>(upper) - lower + 1 > kMaxElements) return E_INVALIDARG;
  for (LONG index = lower; index <= upper; ++index) {
    CVariantValue element;
    hr = ::SafeArrayGetElement(array, &index, element.Put());
    if (FAILED(hr)) return hr;
    list->push_back(std::move(element));
  }
  return S_OK;
}

// A property of a script object, read the way script engines answer them.
HRESULT GetProperty(IDispatch* object, const std::wstring& name, VARIANT* value) {
  DISPID id = DISPID_UNKNOWN;
  LPOLESTR names[] = {const_cast<LPOLESTR>(name.c_str())};
  HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  if (FAILED(hr)) return hr;
  DISPPARAMS noArguments = {nullptr, nullptr, 0, 0};
  return object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &noArguments, value, nullptr,
                        nullptr);
}

HRESULT AppendScriptArray(IDispatch* array, VariantList* list) {
  if (!array) return E_INVALIDARG;
  CVariantValue length;
  HRESULT hr = GetProperty(array, L"length", length.Put());
  if (FAILED(hr)) return hr;
  CVariantValue count;
  hr = ::VariantChangeType(count.Put(), const_cast<VARIANT*>(&length.Get()), 0, VT_I4);
  if (FAILED(hr)) return hr;
  if (V_I4(&count.Get()) < 0 || V_I4(&count.Get()) > kMaxElements) return E_INVALIDARG;
  for (LONG index = 0; index < V_I4(&count.Get()); ++index) {
    CVariantValue element;
    hr = GetProperty(array, std::to_wstring(index), element.Put());
    if (SUCCEEDED(hr)) list->push_back(std::move(element));
  }
  return hr;
}

}  // namespace

HRESULT ConvertScriptList(const VARIANT& source, VariantList* list) {
  switch (V_VT(&source)) {
    case VT_ARRAY | VT_VARIANT:
      return AppendSafeArray(V_ARRAY(&source), list);
    case VT_BYREF | VT_ARRAY | VT_VARIANT:
      return AppendSafeArray(V_ARRAYREF(&source) ? *V_ARRAYREF(&source) : nullptr, list);
    case VT_BYREF | VT_VARIANT: {
      // Script engines pass their variables this way; a reference to a reference is not a list.
      const VARIANT* referenced = V_VARIANTREF(&source);
      if (!referenced) return E_INVALIDARG;
      if (V_VT(referenced) == (VT_BYREF | VT_VARIANT)) return S_OK;
      return ConvertScriptList(*referenced, list);
    }
    case VT_DISPATCH:
      return AppendScriptArray(V_DISPATCH(&source), list);
    default:
      return S_OK;
  }
}
