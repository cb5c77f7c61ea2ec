#include "ScriptInput.h"

#include <oleauto.h>

namespace ScriptInput {

namespace {

// How many elements to read of an array holding `length`; -1 when the request does not fit.
LONG ElementsToRead(LONGLONG length, LONG count) {
  if (length < 0 || length > kMaxElements) return -1;
  if (count == kAllElements) return static_cast<LONG>(length);
  return (count >= 0 && count <= length) ? count : -1;
}

}  // namespace

const VARIANT* Referenced(const VARIANT& source) {
  if (V_VT(&source) != (VT_BYREF | VT_VARIANT)) return &source;
  const VARIANT* referenced = V_VARIANTREF(&source);
  if (!referenced || V_VT(referenced) == (VT_BYREF | VT_VARIANT)) return nullptr;
  return referenced;
}

HRESULT ToLong(const VARIANT& source, long* value) {
  CVariantValue converted;
  if (FAILED(::VariantChangeType(converted.Put(), const_cast<VARIANT*>(&source), 0, VT_I4))) return E_INVALIDARG;
  *value = V_I4(&converted.Get());
  return S_OK;
}

HRESULT GetProperty(IDispatch* object, const std::wstring& name, CVariantValue* value) {
  if (!object) return E_INVALIDARG;
  DISPID id = DISPID_UNKNOWN;
  LPOLESTR names[] = {const_cast<LPOLESTR>(name.c_str())};
  HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  if (FAILED(hr)) return hr;
  DISPPARAMS noArguments = {nullptr, nullptr, 0, 0};
  return object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &noArguments, value->Put(), nullptr,
                        nullptr);
}

// Checked before indexing: a two-dimensional VBScript array has the same VARIANT type as a list.
HRESULT ReadSafeArray(SAFEARRAY* array, LONG count, VariantList* elements, LONG* lowerBound) {
  VARTYPE type = VT_EMPTY;
  if (!array || ::SafeArrayGetDim(array) != 1 || FAILED(::SafeArrayGetVartype(array, &type)) || type != VT_VARIANT)
    return E_INVALIDARG;
  LONG lower = 0;
  LONG upper = -1;
  HRESULT hr = ::SafeArrayGetLBound(array, 1, &lower);
  if (SUCCEEDED(hr)) hr = ::SafeArrayGetUBound(array, 1, &upper);
  if (FAILED(hr)) return hr;
  const LONG wanted = ElementsToRead(static_cast<LONGLONG>(upper) - lower + 1, count);
  if (wanted < 0) return E_INVALIDARG;
  for (LONG i = 0; i < wanted; ++i) {
    LONG index = lower + i;
    CVariantValue element;
    hr = ::SafeArrayGetElement(array, &index, element.Put());
    if (FAILED(hr)) return hr;
    elements->push_back(std::move(element));
  }
  if (lowerBound) *lowerBound = lower;
  return S_OK;
}

HRESULT ReadArrayObject(IDispatch* array, LONG count, VariantList* elements) {
  CVariantValue lengthValue;
  long length = 0;
  if (FAILED(GetProperty(array, L"length", &lengthValue)) || FAILED(ToLong(lengthValue.Get(), &length)))
    return E_INVALIDARG;
  const LONG wanted = ElementsToRead(length, count);
  if (wanted < 0) return E_INVALIDARG;
  for (LONG i = 0; i < wanted; ++i) {
    CVariantValue element;
    if (FAILED(GetProperty(array, std::to_wstring(i), &element))) return E_INVALIDARG;
    elements->push_back(std::move(element));
  }
  return S_OK;
}

}  // namespace ScriptInput
