#include "ZelPlugin.h"

#include "Handles.h"

namespace {

constexpr wchar_t kPluginKey[] = L"Software\\Varant\\KyProxy\\Plugins\\{08533142-6DAA-40C0-829F-098475E66646}";
// The web proxy's acknowledgement that it has taken up a newly registered plug-in.
constexpr wchar_t kPluginAcknowledgedEvent[] = L"Local\\{117497F9-4481-DA00-7A12-89BAF027BCE3}";
constexpr DWORD kPluginAcknowledgementWaitMs = 10000;

LSTATUS SetDword(HKEY key, const wchar_t* name, DWORD value) {
  return ::RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
}

// The plug-in's registration with the web proxy; the Win32 code of the first step that failed.
LSTATUS WritePluginKey() {
  Strata::UniqueHkey key;
  LSTATUS status = ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kPluginKey, 0, nullptr, 0,
                                     KEY_READ | KEY_CREATE_SUB_KEY | KEY_SET_VALUE, nullptr, key.put(), nullptr);
  if (status != ERROR_SUCCESS) return status;
  constexpr wchar_t kName[] = L"ZEL";
  status = ::RegSetValueExW(key.get(), L"Name", 0, REG_SZ, reinterpret_cast<const BYTE*>(kName), sizeof(kName));
  if (status == ERROR_SUCCESS) status = SetDword(key.get(), L"LateInit", 0);
  if (status == ERROR_SUCCESS) status = SetDword(key.get(), L"Protocols", 1);
  return status;
}

}  // namespace

HRESULT IsZelPluginRegistered(VARIANT_BOOL* registered) {
  if (!registered) return E_INVALIDARG;
  Strata::UniqueHkey key;
  *registered = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPluginKey, 0, KEY_READ, key.put()) == ERROR_SUCCESS
                    ? VARIANT_TRUE
                    : VARIANT_FALSE;
  return S_OK;
}

LONG RegisterZelPlugin() {
  // Created before the registry is touched, and cleared: an acknowledgement left set by an
  // earlier registration must not stand for this one.
  Strata::UniqueHandle acknowledged(::CreateEventW(nullptr, TRUE, FALSE, kPluginAcknowledgedEvent));
  if (acknowledged) ::ResetEvent(acknowledged.get());
  const LONG written = static_cast<LONG>(WritePluginKey());
  if (written != ERROR_SUCCESS || !acknowledged) return written;
  switch (::WaitForSingleObject(acknowledged.get(), kPluginAcknowledgementWaitMs)) {
    case WAIT_OBJECT_0:
      return ERROR_SUCCESS;
    case WAIT_TIMEOUT:
      return ERROR_TIMEOUT;
    default:
      return static_cast<LONG>(::GetLastError());
  }
}
