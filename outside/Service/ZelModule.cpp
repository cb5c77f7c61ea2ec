// "zel.dll", the service stand-in's library: serves the service's root class and its event
// registry in process, registers them, and records every DllCanDefer call a library reports.
#include <windows.h>

#include <string>

#include "EventRegistry.h"
#include "KyGSService.h"
#include "ModuleFileName.h"
#include "ServiceRoot.h"
#include "ServiceStore.h"
#include "SuiteClassObject.h"

namespace {

HMODULE g_module = nullptr;

struct ServedClass {
  const CLSID* clsid;
  const wchar_t* description;
  ZelService::CSuiteClassObject::Creator creator;
  const wchar_t* knob;
};

template <typename Class>
HRESULT CreateObject(REFIID iid, void** object) {
  return Class::template CreateInstance<Class>(iid, object);
}

const ServedClass kServedClasses[] = {
    {&CLSID_KyGSService, L"Gadrel Service (stand-in)", &CreateObject<ZelService::CServiceRoot>, L"Create"},
    {&CLSID_KyGSEventRegistry, L"Gadrel Service event registry (stand-in)", &CreateObject<ZelService::CEventRegistry>,
     nullptr},
};

std::wstring ClassKey(const CLSID& clsid) {
  wchar_t text[40];
  ::StringFromGUID2(clsid, text, ARRAYSIZE(text));
  return std::wstring(L"Software\\Classes\\CLSID\\") + text;
}

HRESULT SetText(const std::wstring& key, const wchar_t* name, const std::wstring& text) {
  return HRESULT_FROM_WIN32(::RegSetKeyValueW(HKEY_LOCAL_MACHINE, key.c_str(), name, REG_SZ, text.c_str(),
                                              static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))));
}

HRESULT RegisterClass(const ServedClass& served, const std::wstring& modulePath) {
  const std::wstring key = ClassKey(*served.clsid);
  HRESULT hr = SetText(key, nullptr, served.description);
  if (SUCCEEDED(hr)) hr = SetText(key + L"\\InprocServer32", nullptr, modulePath);
  if (SUCCEEDED(hr)) hr = SetText(key + L"\\InprocServer32", L"ThreadingModel", L"Both");
  return hr;
}

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void*) {
  if (reason == DLL_PROCESS_ATTACH) {
    g_module = instance;
    ::DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

__declspec(dllexport) HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  for (const ServedClass& served : kServedClasses) {
    if (clsid != *served.clsid) continue;
    return ZelService::CSuiteClassObject::ComObject::CreateInstance<ZelService::CSuiteClassObject>(
        iid, object, served.creator, served.knob);
  }
  return CLASS_E_CLASSNOTAVAILABLE;
}

__declspec(dllexport) HRESULT STDAPICALLTYPE DllCanUnloadNow() {
  return ZelService::g_liveObjects == 0 ? S_OK : S_FALSE;
}

__declspec(dllexport) HRESULT STDAPICALLTYPE DllRegisterServer() {
  const std::wstring modulePath = Strata::ModuleFileName(g_module);
  for (const ServedClass& served : kServedClasses) {
    HRESULT hr = RegisterClass(served, modulePath);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

__declspec(dllexport) HRESULT STDAPICALLTYPE DllUnregisterServer() {
  HRESULT result = S_OK;
  for (const ServedClass& served : kServedClasses) {
    LSTATUS status = ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, ClassKey(*served.clsid).c_str());
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) result = HRESULT_FROM_WIN32(status);
  }
  return result;
}

// The libraries' failure report to the service; the stand-in only records it for tests to read.
__declspec(dllexport) HRESULT STDAPICALLTYPE DllCanDefer(long code, BYTE flag, long value) {
  ZelService::ServiceStore().RecordDllCanDefer(::GetCurrentProcessId(), code, flag, value);
  return S_OK;
}

}  // extern "C"
