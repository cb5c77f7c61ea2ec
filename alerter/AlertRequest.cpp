#include "AlertRequest.h"

#include <oleauto.h>

namespace {

constexpr LONG kLabelIndex = 0;
constexpr LONG kActionIndex = 1;

// A VARIANT copied out of an array, cleared whatever path leaves the scope.
class ScopedVariant {
 public:
  ScopedVariant() noexcept { ::VariantInit(&value_); }
  ~ScopedVariant() { ::VariantClear(&value_); }
  ScopedVariant(const ScopedVariant&) = delete;
  ScopedVariant& operator=(const ScopedVariant&) = delete;
  VARIANT* put() noexcept {
    ::VariantClear(&value_);
    return &value_;
  }
  const VARIANT& get() const noexcept { return value_; }

 private:
  VARIANT value_;
};

// A one-dimensional VARIANT array starting at 0; by-reference values are refused, since a caller
// could change them under us.
HRESULT CheckVariantVector(const VARIANT& value, LONG minimumCount, SAFEARRAY** array, LONG* count) {
  if (value.vt != (VT_ARRAY | VT_VARIANT) || !value.parray) return E_INVALIDARG;
  SAFEARRAY* vector = value.parray;
  if (::SafeArrayGetDim(vector) != 1) return E_INVALIDARG;
  VARTYPE type = VT_EMPTY;
  if (FAILED(::SafeArrayGetVartype(vector, &type)) || type != VT_VARIANT) return E_INVALIDARG;
  LONG lower = 0;
  LONG upper = -1;
  if (FAILED(::SafeArrayGetLBound(vector, 1, &lower)) || FAILED(::SafeArrayGetUBound(vector, 1, &upper)))
    return E_INVALIDARG;
  if (lower != 0 || upper < minimumCount - 1) return E_INVALIDARG;
  *array = vector;
  *count = upper + 1;
  return S_OK;
}

HRESULT ReadString(SAFEARRAY* array, LONG index, std::wstring* text) {
  ScopedVariant element;
  if (FAILED(::SafeArrayGetElement(array, &index, element.put())) || element.get().vt != VT_BSTR) return E_INVALIDARG;
  BSTR value = element.get().bstrVal;
  if (value) text->assign(value, ::SysStringLen(value));
  return S_OK;
}

HRESULT ReadButton(SAFEARRAY* buttons, LONG index, AlertButtonText* button) {
  ScopedVariant element;
  if (FAILED(::SafeArrayGetElement(buttons, &index, element.put()))) return E_INVALIDARG;
  SAFEARRAY* pair = nullptr;
  LONG count = 0;
  HRESULT hr = CheckVariantVector(element.get(), 2, &pair, &count);
  if (SUCCEEDED(hr)) hr = ReadString(pair, kLabelIndex, &button->label);
  if (SUCCEEDED(hr)) hr = ReadString(pair, kActionIndex, &button->action);
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
  if (!(value.vt & VT_ARRAY)) return S_OK;
  SAFEARRAY* array = nullptr;
  LONG count = 0;
  HRESULT hr = CheckVariantVector(value, 1, &array, &count);
  for (LONG index = 0; SUCCEEDED(hr) && index < count; ++index) {
    AlertButtonText button;
    hr = ReadButton(array, index, &button);
    if (SUCCEEDED(hr)) buttons->push_back(std::move(button));
  }
  if (FAILED(hr)) buttons->clear();
  return hr;
}
