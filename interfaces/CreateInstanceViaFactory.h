// Creation of suite and service objects through the suite's class-factory interfaces.
#pragma once

#include <windows.h>

#include "PublisherCheck.h"

namespace Ky {

enum class CreationForm {
  // Through IKyClassFactory, else IKyClassFactory_PreComponentization.
  Plain,
  // As Plain, but only from a serving module that passes the publisher check (else E_ACCESSDENIED).
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
