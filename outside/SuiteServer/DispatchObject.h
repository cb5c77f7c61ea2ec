// Late-bound automation without a type library, for the few methods a stand-in offers to scripts:
// a class names its methods (dispatch ids from 1, in table order) and implements CallMethod.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include "ComGuard.h"
#include "ServerLock.h"
#include "TypelessDispatch.h"

namespace ZelStandIns {

template <typename ModuleLock, typename... Others>
class DispatchObject : public Ky::ComObject<ModuleLock, Ky::TypelessDispatch<>, Others...> {
 public:
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    if (!names || !ids || count == 0) return E_INVALIDARG;
    HRESULT hr = S_OK;
    for (UINT i = 0; i < count; ++i) {
      ids[i] = i == 0 ? FindMethod(names[0]) : DISPID_UNKNOWN;
      if (ids[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
  }
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* parameters, VARIANT* result, EXCEPINFO*,
                      UINT*) override {
    if (!(flags & DISPATCH_METHOD)) return DISP_E_MEMBERNOTFOUND;
    if (id < 1 || id > static_cast<DISPID>(MethodCount())) return DISP_E_MEMBERNOTFOUND;
    if (!parameters || parameters->cNamedArgs != 0) return DISP_E_NONAMEDARGS;
    VARIANT ignored;
    ::VariantInit(&ignored);
    HRESULT hr = GuardHResult([&] { return CallMethod(id, *parameters, result ? result : &ignored); });
    ::VariantClear(&ignored);
    return hr;
  }

 protected:
  virtual size_t MethodCount() const = 0;
  virtual const wchar_t* MethodName(size_t index) const = 0;
  // Arguments arrive last first, as IDispatch passes them.
  virtual HRESULT CallMethod(DISPID id, const DISPPARAMS& parameters, VARIANT* result) = 0;

  // Argument `index` (from 0, in call order) converted to `type` into `out` (initialised here).
  static HRESULT Argument(const DISPPARAMS& parameters, UINT index, VARTYPE type, VARIANT* out) {
    ::VariantInit(out);
    if (index >= parameters.cArgs) return DISP_E_BADPARAMCOUNT;
    return ::VariantChangeType(out, &parameters.rgvarg[parameters.cArgs - 1 - index], 0, type);
  }

 private:
  DISPID FindMethod(const wchar_t* name) const {
    for (size_t i = 0; name && i < MethodCount(); ++i) {
      if (_wcsicmp(name, MethodName(i)) == 0) return static_cast<DISPID>(i + 1);
    }
    return DISPID_UNKNOWN;
  }
};

}  // namespace ZelStandIns
