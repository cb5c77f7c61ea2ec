// Creation of suite and service objects through the suite's class-factory interfaces.
#pragma once

#include <windows.h>

#include "PublisherCheck.h"

namespace Ky {

enum class CreationForm {
  // Through IKyClassFactory, else IKyClassFactory_PreComponentization.
  Plain,
  // As Plain, but only from the module that passes the publisher check, else E_ACCESSDENIED with
  // one diagnostic line naming the module. The server is the one the machine's classes register
  // (REGDB_E_CLASSNOTREG without one): in process, the library is verified before it is loaded and
  // the factory's creation method must be its code; out of process, the executable is verified and
  // the class object must be COM's proxy to it.
  Checked,
  // CoCreateInstance, for classes that still serve IClassFactory.
  CoCreate,
};

// Creates an instance of `clsid` for `iid` into *object, which is null on every failure.
// A null `object` gives E_POINTER. When neither factory interface is served, the result is the
// HRESULT of asking for the older one. `unsignedPolicy` matters to the checked form only.
HRESULT CreateInstanceViaFactory(REFCLSID clsid, DWORD classContext, REFIID iid, void** object,
                                 CreationForm form = CreationForm::Plain,
                                 UnsignedModules unsignedPolicy = BuildUnsignedModulePolicy()) noexcept;

}  // namespace Ky
