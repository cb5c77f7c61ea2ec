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
  if (count < 0) return E_INVALIDARG;
  const VARIANT* value = Dereferenced(source);
  if (!value) return E_INVALIDARG;
  if (SAFEARRAY* array = ArrayOf(*value)) return ScriptInput::ReadSafeArray(array, count, elements);
  if (V_VT(value) == VT_DISPATCH && V_DISPATCH(value)) return ScriptInput::ReadArrayObject(V_DISPATCH(value), count, elements);
  return E_INVALIDARG;
}

}  // namespace ConfigAccess
