#include "ServerRegistration.h"

#include "Handles.h"

namespace ZelStandIns {

namespace {

const wchar_t* SubkeyOf(ServerKind kind) {
  return kind == ServerKind::InProcess ? L"InprocServer32" : L"LocalServer32";
}

std::wstring ClassKeyPath(REFCLSID clsid) { return L"Software\\Classes\\CLSID\\" + GuidText(clsid); }

LSTATUS SetText(const std::wstring& keyPath, const wchar_t* name, const std::wstring& text) {
  return ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, keyPath.c_str(), name, REG_SZ, text.c_str(),
                           static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

void DeleteKeyTree(const std::wstring& keyPath) {
  ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, keyPath.c_str());
  ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, keyPath.c_str());
}

bool KeyExists(const std::wstring& keyPath) {
  Strata::UniqueHkey key;
  return ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

}  // namespace

std::wstring GuidText(REFGUID guid) {
  wchar_t text[40] = {};
  ::StringFromGUID2(guid, text, 40);
  return text;
}

HMODULE ThisModule() {
  HMODULE module = nullptr;
  ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&ThisModule), &module);
  return module;
}

HRESULT RegisterClassServer(const ClassRegistration& registration, ServerKind kind, const std::wstring& server) {
  std::wstring classKey = ClassKeyPath(registration.clsid);
  ServerKind other = kind == ServerKind::InProcess ? ServerKind::Local : ServerKind::InProcess;
  DeleteKeyTree(classKey + L"\\" + SubkeyOf(other));
  std::wstring serverKey = classKey + L"\\" + SubkeyOf(kind);
  LSTATUS status = SetText(classKey, nullptr, registration.description);
  if (status == ERROR_SUCCESS) status = SetText(serverKey, nullptr, server);
  if (status == ERROR_SUCCESS && kind == ServerKind::InProcess) status = SetText(serverKey, L"ThreadingModel", L"Both");
  if (status == ERROR_SUCCESS && registration.progId) {
    status = SetText(classKey + L"\\ProgID", nullptr, registration.progId);
    if (status == ERROR_SUCCESS) {
      status = SetText(std::wstring(L"Software\\Classes\\") + registration.progId + L"\\CLSID", nullptr,
                       GuidText(registration.clsid));
    }
  }
  return HRESULT_FROM_WIN32(status);
}

HRESULT UnregisterClassServer(const ClassRegistration& registration, ServerKind kind) {
  std::wstring classKey = ClassKeyPath(registration.clsid);
  DeleteKeyTree(classKey + L"\\" + SubkeyOf(kind));
  ServerKind other = kind == ServerKind::InProcess ? ServerKind::Local : ServerKind::InProcess;
  if (KeyExists(classKey + L"\\" + SubkeyOf(other))) return S_OK;
  DeleteKeyTree(classKey);
  if (registration.progId) DeleteKeyTree(std::wstring(L"Software\\Classes\\") + registration.progId);
  return S_OK;
}

}  // namespace ZelStandIns
