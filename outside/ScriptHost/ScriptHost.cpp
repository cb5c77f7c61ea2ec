#include "ScriptHost.h"

#include <wrl/client.h>

#include "CallResult.h"
#include "CreateInstanceViaFactory.h"

namespace ZelStandIns {

// {6F1A2C83-4D5E-4B7A-9E21-0C3D8B5F7A16}
const CLSID kScriptHostClassId = {0x6F1A2C83, 0x4D5E, 0x4B7A, {0x9E, 0x21, 0x0C, 0x3D, 0x8B, 0x5F, 0x7A, 0x16}};

HRESULT ScriptHost::CallMethod(DISPID, const DISPPARAMS& parameters, VARIANT* result) {
  VARIANT name;
  HRESULT hr = Argument(parameters, 0, VT_BSTR, &name);
  if (SUCCEEDED(hr)) hr = Create(V_BSTR(&name), result);
  ::VariantClear(&name);
  return hr;
}

HRESULT ScriptHost::Create(const wchar_t* progIdOrClsid, VARIANT* result) {
  if (!progIdOrClsid) return E_INVALIDARG;
  CLSID clsid;
  HRESULT hr = progIdOrClsid[0] == L'{' ? ::CLSIDFromString(progIdOrClsid, &clsid)
                                        : ::CLSIDFromProgID(progIdOrClsid, &clsid);
  if (FAILED(hr)) return hr;
  Microsoft::WRL::ComPtr<IDispatch> object;
  hr = Ky::CreateInstanceViaFactory(clsid, Ky::kAnyClassContext, IID_IDispatch, &object);
  if (FAILED(hr)) return hr;
  ::VariantClear(result);
  V_VT(result) = VT_DISPATCH;
  V_DISPATCH(result) = object.Detach();
  return S_OK;
}

}  // namespace ZelStandIns
