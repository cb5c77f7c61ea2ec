// The local-server side of the stand-ins' server lifetime.
#pragma once

#include <windows.h>
#include <objbase.h>

namespace ZelStandIns {

// Serves `factory` for `clsid` from this process: registers it suspended, resumes it and returns
// once the last object made through it is gone (or no client came within a minute). The caller
// has initialised COM in the multithreaded apartment.
HRESULT ServeClass(REFCLSID clsid, IUnknown* factory);

}  // namespace ZelStandIns
