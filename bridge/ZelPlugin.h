// The service's plug-in for the platform's web proxy: registered by a key of the proxy's, which
// the proxy acknowledges once it has taken the plug-in up.
#pragma once

#include <windows.h>
#include <oaidl.h>

// Whether the plug-in is registered with the proxy. E_INVALIDARG for a null out pointer.
HRESULT IsZelPluginRegistered(VARIANT_BOOL* registered);

// Registers the plug-in and waits for the proxy's acknowledgement: ERROR_SUCCESS, the Win32 code of
// the registry step that failed, ERROR_TIMEOUT when the proxy did not answer in time, or the
// wait's error. A registration whose acknowledgement cannot be waited for answers the registry's
// code alone.
LONG RegisterZelPlugin();
