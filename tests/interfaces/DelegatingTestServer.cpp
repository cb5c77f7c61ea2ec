// A signed in-process server whose class object is its own code except for the creation method,
// which is the unsigned test server's beside it: a check of the class object's QueryInterface
// would pass it, a check of the code about to create would not.
#include <windows.h>
#include <unknwn.h>

#include <string>

#include "KyClassFactory.h"

namespace {

HMODULE g_instance = nullptr;

using CreateInstanceFn = HRESULT(STDMETHODCALLTYPE*)(void* self, REFIID iid, IUnknown** object);

// The class object's methods table laid out as IKyClassFactory's.
struct FactoryTable {
  HRESULT(STDMETHODCALLTYPE* queryInterface)(void* self, REFIID iid, void** object);
  ULONG(STDMETHODCALLTYPE* addRef)(void* self);
  ULONG(STDMETHODCALLTYPE* release)(void* self);
  CreateInstanceFn createInstance;
};

struct ClassObject {
  const FactoryTable* table;
};

HRESULT STDMETHODCALLTYPE QueryInterface(void* self, REFIID iid, void** object) {
  if (!object) return E_POINTER;
  const bool known =
      iid == IID_IUnknown || iid == IID_IKyClassFactory || iid == IID_IKyClassFactory_PreComponentization;
  *object = known ? self : nullptr;
  return known ? S_OK : E_NOINTERFACE;
}

// The class object lives as long as the library.
ULONG STDMETHODCALLTYPE AddRef(void*) { return 2; }
ULONG STDMETHODCALLTYPE Release(void*) { return 1; }

std::wstring SiblingPath(const wchar_t* name) {
  wchar_t path[MAX_PATH] = L"";
  DWORD chars = ::GetModuleFileNameW(g_instance, path, MAX_PATH);
  std::wstring folder(path, chars);
  return folder.substr(0, folder.find_last_of(L'\\') + 1) + name;
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void*) {
  if (reason == DLL_PROCESS_ATTACH) g_instance = instance;
  return TRUE;
}

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID, REFIID iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  // Kept loaded for the life of the process: its code creates this library's objects.
  static HMODULE delegate = ::LoadLibraryW(SiblingPath(L"FactoryTestServer.dll").c_str());
  static const FactoryTable table{
      &QueryInterface, &AddRef, &Release,
      reinterpret_cast<CreateInstanceFn>(::GetProcAddress(delegate, "DelegatedCreateInstance"))};
  static ClassObject classObject{&table};
  if (!table.createInstance) return CLASS_E_CLASSNOTAVAILABLE;
  return QueryInterface(&classObject, iid, object);
}

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllCanUnloadNow() { return S_FALSE; }
