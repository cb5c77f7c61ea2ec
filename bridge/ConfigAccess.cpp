#include "ConfigAccess.h"

#include <oleauto.h>

#include <string>

namespace ConfigAccess {

namespace {

// The VARIANT a script reference points at; scripts pass variables one reference deep.
const VARIANT* Dereferenced(const VARIANT& source) {
  if (V_VT(&source) != (VT_BYREF | VT_VARIANT)) return &source;
  const VARIANT* referenced = V_VARIANTREF(&source);
  if (!referenced || V_VT(referenced) == (VT_BYREF | VT_VARIANT)) return nullptr;
  return referenced;
}

SAFEARRAY* ArrayOf(const VARIANT& source) {
  if (V_VT(&source) == (VT_ARRAY | VT_VARIANT)) return V_ARRAY(&source);
  if (V_VT(&source) == (VT_BYREF | VT_ARRAY | VT_VARIANT)) return V_ARRAYREF(&source) ? *V_ARRAYREF(&source) : nullptr;
  return nullptr;
}

// Read before indexing: a two-dimensional VBScript array has the same VARIANT type as a list.
HRESULT ReadSafeArray(SAFEARRAY* array, LONG count, std::vector<CVariantValue>* elements) {
  VARTYPE type = VT_EMPTY;
  if (::SafeArrayGetDim(array) != 1 || FAILED(::SafeArrayGetVartype(array, &type)) || type != VT_VARIANT)
    return E_INVALIDARG;
  LONG lower = 0;
  LONG upper = -1;
  if (FAILED(::SafeArrayGetLBound(array, 1, &lower)) || FAILED(::SafeArrayGetUBound(array, 1, &upper)))
    return E_INVALIDARG;
  if (static_cast<LONGLONG>(upper) - lower + 1 < count) return E_INVALIDARG;
  for (LONG i = 0; i < count; ++i) {
    LONG index = lower + i;
    CVariantValue element;
    if (FAILED(::SafeArrayGetElement(array, &index, element.Put()))) return E_INVALIDARG;
    elements->push_back(std::move(element));
  }
  return S_OK;
}

// A script array object says its own length; it is believed only up to the cap.
HRESULT ReadArrayObject(IDispatch* array, LONG count, std::vector<CVariantValue>* elements) {
  CVariantValue lengthValue;
  long length = 0;
  if (FAILED(GetScriptProperty(array, L"length", &lengthValue)) || FAILED(ToLong(lengthValue.Get(), &length)))
    return E_INVALIDARG;
  if (length < 0 || length > kMaxScriptElements || length < count) return E_INVALIDARG;
  for (LONG i = 0; i < count; ++i) {
    CVariantValue element;
    if (FAILED(GetScriptProperty(array, std::to_wstring(i), &element))) return E_INVALIDARG;
    elements->push_back(std::move(element));
  }
  return S_OK;
}

}  // namespace

HRESULT QueryHeld(const VARIANT& holder, REFIID iid, void** object) {
  *object = nullptr;
  const VARIANT* held = Dereferenced(holder);
  if (!held) return E_NOINTERFACE;
  IUnknown* unknown = nullptr;
  switch (V_VT(held)) {
    case VT_DISPATCH:
    case VT_UNKNOWN:
      unknown = V_UNKNOWN(held);
      break;
    case VT_BYREF | VT_DISPATCH:
    case VT_BYREF | VT_UNKNOWN:
      unknown = V_UNKNOWNREF(held) ? *V_UNKNOWNREF(held) : nullptr;
      break;
    default:
      break;
  }
  if (!unknown) return E_NOINTERFACE;
  HRESULT hr = unknown->QueryInterface(iid, object);
  if (SUCCEEDED(hr) && !*object) return E_NOINTERFACE;
  return hr;
}

HRESULT ToLong(const VARIANT& source, long* value) {
  CVariantValue converted;
  if (FAILED(::VariantChangeType(converted.Put(), const_cast<VARIANT*>(&source), 0, VT_I4))) return E_INVALIDARG;
  *value = V_I4(&converted.Get());
  return S_OK;
}

HRESULT CopyResolved(const VARIANT& source, CVariantValue* copy) {
  return ::VariantCopyInd(copy->Put(), const_cast<VARIANT*>(&source));
}

bool IsMissing(const VARIANT& argument) {
  const VARIANT* value = Dereferenced(argument);
  if (!value) return false;
  return V_VT(value) == VT_EMPTY || V_VT(value) == VT_NULL ||
         (V_VT(value) == VT_ERROR && V_ERROR(value) == DISP_E_PARAMNOTFOUND);
}

HRESULT ReadScriptArray(const VARIANT& source, LONG count, std::vector<CVariantValue>* elements) {
  if (count < 0 || count > kMaxScriptElements) return E_INVALIDARG;
  const VARIANT* value = Dereferenced(source);
  if (!value) return E_INVALIDARG;
  if (SAFEARRAY* array = ArrayOf(*value)) return ReadSafeArray(array, count, elements);
  if (V_VT(value) == VT_DISPATCH && V_DISPATCH(value)) return ReadArrayObject(V_DISPATCH(value), count, elements);
  return E_INVALIDARG;
}

HRESULT CreateVariantArray(ULONG count, CVariantValue* array) {
  SAFEARRAY* created = ::SafeArrayCreateVector(VT_VARIANT, 0, count);
  if (!created) return E_OUTOFMEMORY;
  VARIANT* held = array->Put();
  V_VT(held) = VT_ARRAY | VT_VARIANT;
  V_ARRAY(held) = created;
  return S_OK;
}

HRESULT PutElement(const CVariantValue& array, LONG index, const VARIANT& element) {
  return ::SafeArrayPutElement(V_ARRAY(&array.Get()), &index, const_cast<VARIANT*>(&element));
}

HRESULT GetScriptProperty(IDispatch* object, const std::wstring& name, CVariantValue* value) {
  DISPID id = DISPID_UNKNOWN;
  LPOLESTR names[] = {const_cast<LPOLESTR>(name.c_str())};
  HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  if (FAILED(hr)) return hr;
  DISPPARAMS noArguments = {nullptr, nullptr, 0, 0};
  return object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &noArguments, value->Put(),
                        nullptr, nullptr);
}

}  // namespace ConfigAccess
