// The platform's script host stand-in. The suite's classes answer only the suite factory
// interfaces, so a script cannot create them with `new ActiveXObject`; the platform's user
// interface creates them and hands them to its scripts. This automation object does the same for
// scripts run by cscript:
//   var host = new ActiveXObject("ZelStandIns.ScriptHost");
//   var logger = host.Create("ZelTARN.Logger");   // a ProgID or "{class id}"
// Create goes through CreateInstanceViaFactory (every context, no publisher check) and returns
// the object's IDispatch; a failure reaches the script as that HRESULT.
#pragma once

#include "DispatchObject.h"

namespace ZelStandIns {

extern const CLSID kScriptHostClassId;

class ScriptHost : public DispatchObject<ServerLock> {
 protected:
  size_t MethodCount() const override { return 1; }
  const wchar_t* MethodName(size_t) const override { return L"Create"; }
  HRESULT CallMethod(DISPID id, const DISPPARAMS& parameters, VARIANT* result) override;

 private:
  static HRESULT Create(const wchar_t* progIdOrClsid, VARIANT* result);
};

}  // namespace ZelStandIns
