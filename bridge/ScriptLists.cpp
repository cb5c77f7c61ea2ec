#include "ScriptLists.h"

#include <oleauto.h>

#include <string>

#include "ConfigAccess.h"

namespace {

using ConfigAccess::GetScriptProperty;
using ConfigAccess::kMaxScriptElements;

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
  if (static_cast<LONGLONG>(upper) - lower + 1 > kMaxScriptElements) return E_INVALIDARG;
  for (LONG index = lower; index <= upper; ++index) {
    CVariantValue element;
    hr = ::SafeArrayGetElement(array, &index, element.Put());
    if (FAILED(hr)) return hr;
    list->push_back(std::move(element));
  }
  return S_OK;
}

HRESULT AppendScriptArray(IDispatch* array, VariantList* list) {
  if (!array) return E_INVALIDARG;
  CVariantValue length;
  HRESULT hr = GetScriptProperty(array, L"length", &length);
  if (FAILED(hr)) return hr;
  CVariantValue count;
  hr = ::VariantChangeType(count.Put(), const_cast<VARIANT*>(&length.Get()), 0, VT_I4);
  if (FAILED(hr)) return hr;
  if (V_I4(&count.Get()) < 0 || V_I4(&count.Get()) > kMaxScriptElements) return E_INVALIDARG;
  for (LONG index = 0; index < V_I4(&count.Get()); ++index) {
    CVariantValue element;
    hr = GetScriptProperty(array, std::to_wstring(index), &element);
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
