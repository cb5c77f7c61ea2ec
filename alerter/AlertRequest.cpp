#include "AlertRequest.h"

#include <oleauto.h>

#include "ScriptInput.h"
#include "VariantValue.h"

namespace {

constexpr size_t kLabelIndex = 0;
constexpr size_t kActionIndex = 1;
constexpr LONG kPairElements = 2;

// A value that holds an array, of either engine, perhaps through a reference: anything else means
// no buttons.
bool HoldsArray(const VARIANT& value) {
  const VARTYPE type = V_VT(&value);
  return (type & VT_ARRAY) != 0 || (type & VT_TYPEMASK) == VT_DISPATCH;
}

// `count` elements (or all of them, kAllElements) of one array level of the buttons, read through
// the references script callers pass their variables by: a safe array of VARIANTs starting at 0
// (from C++ and VBScript) or a JScript array object.
HRESULT ReadLevel(const VARIANT& value, LONG count, VariantList* elements) {
  elements->clear();
  const VARIANT* held = ScriptInput::Referenced(value);
  if (!held) return E_INVALIDARG;
  HRESULT hr = E_INVALIDARG;
  LONG lower = 0;
  switch (V_VT(held)) {
    case VT_DISPATCH:
      hr = ScriptInput::ReadArrayObject(V_DISPATCH(held), count, elements);
      break;
    case VT_BYREF | VT_DISPATCH:
      hr = ScriptInput::ReadArrayObject(V_DISPATCHREF(held) ? *V_DISPATCHREF(held) : nullptr, count, elements);
      break;
    case VT_ARRAY | VT_VARIANT:
      hr = ScriptInput::ReadSafeArray(V_ARRAY(held), count, elements, &lower);
      break;
    case VT_BYREF | VT_ARRAY | VT_VARIANT:
      hr = ScriptInput::ReadSafeArray(V_ARRAYREF(held) ? *V_ARRAYREF(held) : nullptr, count, elements, &lower);
      break;
    default:
      break;
  }
  return SUCCEEDED(hr) && lower == 0 ? S_OK : E_INVALIDARG;
}

HRESULT ReadString(const CVariantValue& element, std::wstring* text) {
  const VARIANT* held = ScriptInput::Referenced(element.Get());
  BSTR value = nullptr;
  if (held && V_VT(held) == VT_BSTR) {
    value = V_BSTR(held);
  } else if (held && V_VT(held) == (VT_BYREF | VT_BSTR) && V_BSTRREF(held)) {
    value = *V_BSTRREF(held);
  } else {
    return E_INVALIDARG;
  }
  if (value) text->assign(value, ::SysStringLen(value));
  return S_OK;
}

HRESULT ReadButton(const CVariantValue& element, AlertButtonText* button) {
  VariantList pair;
  HRESULT hr = ReadLevel(element.Get(), kPairElements, &pair);
  if (SUCCEEDED(hr)) hr = ReadString(pair[kLabelIndex], &button->label);
  if (SUCCEEDED(hr)) hr = ReadString(pair[kActionIndex], &button->action);
  return hr;
}

}  // namespace

bool AlertRequest::IsSameAlert(const AlertRequest& other) const noexcept {
  return noRepeat && other.noRepeat && language == other.language && title == other.title &&
         defaultContent == other.defaultContent && detailsContent == other.detailsContent && appId == other.appId &&
         typeId == other.typeId && priority == other.priority && status == other.status &&
         timeout == other.timeout && retryIfFailed == other.retryIfFailed;
}

HRESULT AlertRequest::ReadButtons(const VARIANT& value, std::vector<AlertButtonText>* buttons) {
  buttons->clear();
  const VARIANT* held = ScriptInput::Referenced(value);
  if (held && !HoldsArray(*held)) return S_OK;
  VariantList elements;
  HRESULT hr = ReadLevel(value, ScriptInput::kAllElements, &elements);
  for (size_t index = 0; SUCCEEDED(hr) && index < elements.size(); ++index) {
    AlertButtonText button;
    hr = ReadButton(elements[index], &button);
    if (SUCCEEDED(hr)) buttons->push_back(std::move(button));
  }
  if (FAILED(hr)) buttons->clear();
  return hr;
}
