// IDispatch without a type library, for objects that callers hold as VT_DISPATCH or call through
// their vtable: no type information, no names, no late-bound calls. Interface is IDispatch or an
// interface derived from it; a class that answers some names overrides GetIDsOfNames and Invoke.
#pragma once

#include <windows.h>
#include <oaidl.h>

namespace Ky {

template <typename Interface = IDispatch>
class TypelessDispatch : public Interface {
 public:
  // What ComObject answers for this base.
  using DualInterface = Interface;

  STDMETHODIMP GetTypeInfoCount(UINT* count) override {
    if (!count) return E_POINTER;
    *count = 0;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
    if (info) *info = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return DISP_E_UNKNOWNNAME; }
  STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return DISP_E_MEMBERNOTFOUND;
  }
};

}  // namespace Ky
