// The one way the product loads a library whose code it will run in its own process (the
// platform's utility and alert libraries, the service's library, its own bridge library for
// re-registration): by full path only, after the publisher check, with the file held so that what
// was checked is what gets loaded.
#pragma once

#include <windows.h>

#include "Handles.h"
#include "PublisherCheck.h"

namespace Ky {

// Runs while the checked file is held open, after the check and before the load; a test uses it to
// try swapping the file in that moment.
using BeforeLoadHook = void (*)(void* context);

// Loads the library at `fullPath` into `library`, which is emptied first. A path that is not fully
// qualified ("C:\folder\name.dll") is refused with E_INVALIDARG and never reaches the search
// order; a file that fails the publisher check gives the check's HRESULT and is never loaded, so
// its DllMain never runs; a load failure gives the loader's error. Every refusal writes one
// diagnostic line naming the file. A library already loaded at that path is checked the same way
// and handed out with a reference of its own.
HRESULT LoadVerifiedLibrary(const wchar_t* fullPath, Strata::UniqueModule& library,
                            UnsignedModules unsignedPolicy = BuildUnsignedModulePolicy(),
                            BeforeLoadHook beforeLoad = nullptr, void* hookContext = nullptr) noexcept;

}  // namespace Ky
