// What the users collection needs of the user objects it is handed back: the service's own
// objects answer this private interface, in this library only.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <optional>
#include <string>

#include "ServiceStore.h"

struct IServiceUser : public IUnknown {
  // The key of the user under "Users" in the service's state.
  virtual std::wstring STDMETHODCALLTYPE UserId() = 0;
  // Property 200 as the user object sees it: its unapplied value, else the applied one.
  virtual std::optional<std::wstring> STDMETHODCALLTYPE Name() = 0;
  // The properties written since the last apply, handed over for the user's creation.
  virtual ZelService::PropertyMap STDMETHODCALLTYPE TakePending() = 0;
};
__CRT_UUID_DECL(IServiceUser, 0x5b0e2a8c, 0x7f43, 0x4d2e, 0x9a, 0x61, 0x3c, 0x8e, 0x10, 0x52, 0xd4, 0x77)
