// The library's registration: its AppID, its classes and its type library, written and removed
// through the system's registrar from the registry scripts embedded in the library.
#pragma once

#include <windows.h>

namespace ServerRegistration {

HRESULT Register();
HRESULT Unregister();

}  // namespace ServerRegistration
