// Registration of the library: the service's event bindings first, then the classes, the AppID and
// the type library through the system registrar and the library's own registry scripts.
#pragma once

#include <windows.h>

// DllRegisterServer: S_FALSE (and nothing registered) when the event bindings could not be
// recorded, else the first registration error or S_OK.
HRESULT RegisterServer();
// DllUnregisterServer: S_FALSE (and nothing removed) when the event bindings could not be removed,
// else the first removal error or S_OK.
HRESULT UnregisterServer();
