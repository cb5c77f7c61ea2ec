#include "AlerterTestSupport.h"

#include <cwchar>

#include "Handles.h"

namespace AlerterTest {
namespace {

Strata::UniqueHkey Open(const std::wstring& path, bool create) {
  Strata::UniqueHkey key;
  if (create) {
    ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(), nullptr);
  } else {
    ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, key.put());
  }
  return key;
}

void WriteDword(HKEY key, const wchar_t* name, DWORD value) {
  ::RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
}

}  // namespace

std::vector<DWORD> StandInAlerts::Handles() const {
  std::vector<DWORD> handles;
  Strata::UniqueHkey alerts = Open(keyPath_ + L"\\Alerts", false);
  wchar_t name[64];
  for (DWORD index = 0; alerts; ++index) {
    DWORD chars = 64;
    if (::RegEnumKeyExW(alerts.get(), index, name, &chars, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    handles.push_back(static_cast<DWORD>(std::wcstoul(name, nullptr, 10)));
  }
  return handles;
}

std::wstring StandInAlerts::AlertPath(DWORD handle) const {
  wchar_t name[16];
  std::swprintf(name, 16, L"%08u", handle);
  return keyPath_ + L"\\Alerts\\" + name;
}

std::optional<DWORD> StandInAlerts::ReadDword(DWORD handle, const wchar_t* name) const {
  DWORD value = 0;
  DWORD bytes = sizeof(value);
  if (::RegGetValueW(HKEY_LOCAL_MACHINE, AlertPath(handle).c_str(), name, RRF_RT_REG_DWORD, nullptr, &value, &bytes) !=
      ERROR_SUCCESS)
    return std::nullopt;
  return value;
}

std::optional<std::wstring> StandInAlerts::ReadText(DWORD handle, const wchar_t* name) const {
  wchar_t value[1024];
  DWORD bytes = sizeof(value);
  if (::RegGetValueW(HKEY_LOCAL_MACHINE, AlertPath(handle).c_str(), name, RRF_RT_REG_SZ, nullptr, value, &bytes) !=
      ERROR_SUCCESS)
    return std::nullopt;
  return std::wstring(value);
}

std::vector<std::wstring> StandInAlerts::ReadTexts(DWORD handle, const wchar_t* name) const {
  std::vector<wchar_t> value(4096, L'\0');
  DWORD bytes = static_cast<DWORD>((value.size() - 2) * sizeof(wchar_t));
  std::vector<std::wstring> texts;
  if (::RegGetValueW(HKEY_LOCAL_MACHINE, AlertPath(handle).c_str(), name, RRF_RT_REG_MULTI_SZ, nullptr, value.data(),
                     &bytes) != ERROR_SUCCESS)
    return texts;
  for (const wchar_t* text = value.data(); *text; text += wcslen(text) + 1) texts.emplace_back(text);
  return texts;
}

void StandInAlerts::Complete(DWORD handle, DWORD button, bool doNotShowAgain) const {
  static LONG next = 0;
  wchar_t name[32];
  std::swprintf(name, 32, L"t%lu-%ld", ::GetCurrentProcessId(), ::InterlockedIncrement(&next));
  Strata::UniqueHkey command = Open(keyPath_ + L"\\Commands\\" + name, true);
  WriteDword(command.get(), L"Button", button);
  WriteDword(command.get(), L"DoNotShowAgain", doNotShowAgain ? 1 : 0);
  // The handle last: the library takes a command once it names an alert.
  WriteDword(command.get(), L"Handle", handle);
}

void StandInAlerts::SetKnob(const wchar_t* name, DWORD value) const {
  WriteDword(Open(keyPath_, true).get(), name, value);
}

void StandInAlerts::Clear() const {
  ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, (keyPath_ + L"\\Alerts").c_str());
  ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, (keyPath_ + L"\\Commands").c_str());
}

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs) {
  const ULONGLONG end = ::GetTickCount64() + timeoutMs;
  while (!condition()) {
    if (::GetTickCount64() >= end) return condition();
    ::Sleep(50);
  }
  return true;
}

}  // namespace AlerterTest
