#include "AlertRequest.h"

#include <oleauto.h>

#include "ScriptInput.h"
#include "VariantValue.h"

namespace {

constexpr size_t kLabelIndex = 0;
constexpr size_t kActionIndex = 1;

// The elements of one array level of the buttons, at least `minimumCount` of them: a safe array of
// VARIANTs starting at 0 (from C++ and VBScript) or a JScript array object. By-reference values are
// refused, since a caller could change them while they are read.
HRESULT ReadLevel(const VARIANT& value, LONG minimumCount, VariantList* elements) {
  elements->clear();
  HRESULT hr = E_INVALIDARG;
  if (value.vt == VT_DISPATCH) {
    hr = ScriptInput::ReadArrayObject(value.pdispVal, ScriptInput::kAllElements, elements);
  } else if (value.vt == (VT_ARRAY | VT_VARIANT)) {
    LONG lower = -1;
    hr = ScriptInput::ReadSafeArray(value.parray, ScriptInput::kAllElements, elements, &lower);
    if (SUCCEEDED(hr) && lower != 0) hr = E_INVALIDARG;
  }
  if (SUCCEEDED(hr) && elements->size() < static_cast<size_t>(minimumCount)) hr = E_INVALIDARG;
  return FAILED(hr) ? E_INVALIDARG : S_OK;
}

HRESULT ReadString(const CVariantValue& element, std::wstring* text) {
  if (element.Get().vt != VT_BSTR) return E_INVALIDARG;
  BSTR value = element.Get().bstrVal;
  if (value) text->assign(value, ::SysStringLen(value));
  return S_OK;
}

HRESULT ReadButton(const CVariantValue& element, AlertButtonText* button) {
  VariantList pair;
  HRESULT hr = ReadLevel(element.Get(), 2, &pair);
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
  if (!(value.vt & VT_ARRAY) && value.vt != VT_DISPATCH) return S_OK;
  VariantList elements;
  HRESULT hr = ReadLevel(value, 1, &elements);
  for (size_t index = 0; SUCCEEDED(hr) && index < elements.size(); ++index) {
    AlertButtonText button;
    hr = ReadButton(elements[index], &button);
    if (SUCCEEDED(hr)) buttons->push_back(std::move(button));
  }
  if (FAILED(hr)) buttons->clear();
  return hr;
}
