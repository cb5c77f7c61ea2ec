// The classes this library serves, in registration order, and the class objects that create them.
#pragma once

#include <windows.h>

#include <cstddef>

#include "SuiteClassObject.h"

// Standard: IClassFactory. Suite: only the suite's class-factory interfaces, whose creation checks
// the publisher of the calling module (Ky::CSuiteClassObject).
enum class ClassObjectKind { Standard, Suite };

using CreateObjectFn = Ky::ObjectCreator;

struct ObjectMapEntry {
  const CLSID* clsid;
  UINT registryScript;
  ClassObjectKind kind;
  // Null for a class that is registered but not served yet: its class object is not available.
  CreateObjectFn create;
  const wchar_t* progId;
  const wchar_t* versionIndependentProgId;
  const wchar_t* description;
};

struct ObjectMap {
  const ObjectMapEntry* entries;
  size_t count;
  const ObjectMapEntry* begin() const { return entries; }
  const ObjectMapEntry* end() const { return entries + count; }
};

const ObjectMap& EventHandlerObjectMap();

// DllGetClassObject: the cached class object of a served class, else CLASS_E_CLASSNOTAVAILABLE.
HRESULT GetEventHandlerClassObject(REFCLSID clsid, REFIID iid, void** object);
