// A JScript array as the engine hands it over: "length" and "0", "1", ... as properties read through
// IDispatch. Its lifetime is the test's, which keeps the creation reference, and it can lie the way
// a hostile script can.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>
#include <utility>
#include <vector>

#include "ComObject.h"
#include "VariantValue.h"

namespace ZelTest {

class ScriptArray : public Ky::ComObject<Ky::NoModuleLock, IDispatch> {
 public:
  explicit ScriptArray(const std::vector<std::wstring>& texts) {
    for (const std::wstring& text : texts) items_.push_back(Text(text));
  }
  // An array of any values, other arrays among them.
  static ScriptArray Holding(VariantList items) { return ScriptArray(std::move(items), HoldingTag{}); }

  static CVariantValue Text(const std::wstring& text) {
    CVariantValue value;
    VARIANT* held = value.Put();
    V_VT(held) = VT_BSTR;
    V_BSTR(held) = ::SysAllocString(text.c_str());
    return value;
  }
  // This array as a script passes it.
  CVariantValue AsVariant() {
    CVariantValue value;
    VARIANT* held = value.Put();
    V_VT(held) = VT_DISPATCH;
    V_DISPATCH(held) = this;
    AddRef();
    return value;
  }

  STDMETHODIMP GetTypeInfoCount(UINT* count) override { return *count = 0, S_OK; }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT, LCID, DISPID* ids) override {
    std::wstring name = names[0];
    if (name == L"length") return *ids = kLengthId, S_OK;
    *ids = kFirstItemId + std::stoi(name);
    return S_OK;
  }
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS*, VARIANT* result, EXCEPINFO*,
                      UINT*) override {
    if (flags != DISPATCH_PROPERTYGET) return DISP_E_MEMBERNOTFOUND;
    if (id == kLengthId) {
      if (FAILED(lengthAnswer)) return lengthAnswer;
      V_VT(result) = VT_I4;
      V_I4(result) = claimedLength >= 0 ? claimedLength : static_cast<LONG>(items_.size());
      return S_OK;
    }
    const size_t index = static_cast<size_t>(id - kFirstItemId);
    if (index == unreadableIndex || index >= items_.size()) return DISP_E_MEMBERNOTFOUND;
    return ::VariantCopy(result, const_cast<VARIANT*>(&items_[index].Get()));
  }

  HRESULT lengthAnswer = S_OK;
  size_t unreadableIndex = ~size_t(0);
  // A length other than the items', as a hostile script can claim.
  LONG claimedLength = -1;

 private:
  struct HoldingTag {};
  ScriptArray(VariantList items, HoldingTag) : items_(std::move(items)) {}

  static constexpr DISPID kLengthId = 100;
  static constexpr DISPID kFirstItemId = 1000;
  VariantList items_;
};

}  // namespace ZelTest
