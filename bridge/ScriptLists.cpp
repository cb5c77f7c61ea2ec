#include "ScriptLists.h"

#include <oleauto.h>

#include <string>

#include "ScriptInput.h"

namespace {

// A hole in a sparse script array is skipped, yet the answer is that of the last element asked
// for, as the logger has always answered its pages.
HRESULT AppendScriptArray(IDispatch* array, VariantList* list) {
  if (!array) return E_INVALIDARG;
  CVariantValue length;
  HRESULT hr = ScriptInput::GetProperty(array, L"length", &length);
  if (FAILED(hr)) return hr;
  CVariantValue count;
  hr = ::VariantChangeType(count.Put(), const_cast<VARIANT*>(&length.Get()), 0, VT_I4);
  if (FAILED(hr)) return hr;
  if (V_I4(&count.Get()) < 0 || V_I4(&count.Get()) > ScriptInput::kMaxElements) return E_INVALIDARG;
  for (LONG index = 0; index < V_I4(&count.Get()); ++index) {
    CVariantValue element;
    hr = ScriptInput::GetProperty(array, std::to_wstring(index), &element);
    if (SUCCEEDED(hr)) list->push_back(std::move(element));
  }
  return hr;
}

}  // namespace

HRESULT ConvertScriptList(const VARIANT& source, VariantList* list) {
  switch (V_VT(&source)) {
    case VT_ARRAY | VT_VARIANT:
      return ScriptInput::ReadSafeArray(V_ARRAY(&source), ScriptInput::kAllElements, list);
    case VT_BYREF | VT_ARRAY | VT_VARIANT:
      return ScriptInput::ReadSafeArray(V_ARRAYREF(&source) ? *V_ARRAYREF(&source) : nullptr,
                                        ScriptInput::kAllElements, list);
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
