// IDispatch of a dual interface, answered from the library's embedded type library: names and
// calls go through the system's DispGetIDsOfNames/DispInvoke on the interface's type information.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <wrl/client.h>

#include "ZelTARNModule.h"

template <typename Dual>
class CTypeLibDispatch : public Dual {
 public:
  using DualInterface = Dual;

  STDMETHODIMP GetTypeInfoCount(UINT* count) override {
    if (!count) return E_POINTER;
    *count = 1;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT index, LCID, ITypeInfo** info) override {
    if (!info) return E_POINTER;
    *info = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    return g_module.GetTypeInfo(__uuidof(Dual), info);
  }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    Microsoft::WRL::ComPtr<ITypeInfo> info;
    HRESULT hr = g_module.GetTypeInfo(__uuidof(Dual), &info);
    if (FAILED(hr)) return hr;
    return ::DispGetIDsOfNames(info.Get(), names, count, ids);
  }
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* parameters, VARIANT* result,
                      EXCEPINFO* exception, UINT* argumentError) override {
    Microsoft::WRL::ComPtr<ITypeInfo> info;
    HRESULT hr = g_module.GetTypeInfo(__uuidof(Dual), &info);
    if (FAILED(hr)) return hr;
    return ::DispInvoke(static_cast<Dual*>(this), info.Get(), id, flags, parameters, result, exception,
                        argumentError);
  }
};
