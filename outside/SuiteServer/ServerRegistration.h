// Class registrations of the stand-ins, written under the machine's classes as an installer
// would (Wine's COM does not read per-user class registrations).
#pragma once

#include <windows.h>

#include <string>

namespace ZelStandIns {

enum class ServerKind { InProcess, Local };

struct ClassRegistration {
  CLSID clsid;
  const wchar_t* description;
  const wchar_t* progId;  // may be null
};

// Registers `server` (a module path, or a local server's whole command line) for the class,
// replacing a registration of the other kind, so exactly one kind serves the class afterwards.
HRESULT RegisterClassServer(const ClassRegistration& registration, ServerKind kind, const std::wstring& server);
// Removes the class's registration of `kind`, and the class key and ProgID when nothing else is left.
HRESULT UnregisterClassServer(const ClassRegistration& registration, ServerKind kind);

// The module that holds this code.
HMODULE ThisModule();

std::wstring GuidText(REFGUID guid);

}  // namespace ZelStandIns
