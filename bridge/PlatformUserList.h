// The platform's users as the configuration object lists them for the user interface: the people's
// accounts only, each as [display name, logon name, flag].
#pragma once

#include <windows.h>
#include <oaidl.h>

namespace PlatformUserList {

// The list in *list, which is empty when the platform's user managers cannot be had or no user is
// found (S_OK then); a failure of building the list is answered as it is.
HRESULT Read(VARIANT* list);

}  // namespace PlatformUserList
