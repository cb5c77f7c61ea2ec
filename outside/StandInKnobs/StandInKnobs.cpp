#include "StandInKnobs.h"

#include <mutex>

#include "Handles.h"
#include "SlimLock.h"

namespace ZelStandIns {

namespace {

// Only this process writes its subkey; the lock keeps two of its threads from losing a count. At
// namespace scope, and a slim lock, so that a library unloaded again and again leaves no handles.
Strata::SlimLock g_counting;

std::optional<DWORD> ReadDwordValue(HKEY key, const wchar_t* subkey, const wchar_t* name) {
  DWORD value = 0;
  DWORD size = sizeof(value);
  LSTATUS status = ::RegGetValueW(key, subkey, name, RRF_RT_REG_DWORD, nullptr, &value, &size);
  if (status != ERROR_SUCCESS) return std::nullopt;
  return value;
}

}  // namespace

StandInKnobs::StandInKnobs(const wchar_t* standIn)
    : keyPath_(KeyPath(standIn)), processKeyPath_(ProcessKeyPath(standIn, ::GetCurrentProcessId())) {}

std::wstring StandInKnobs::KeyPath(const wchar_t* standIn) {
  return std::wstring(L"Software\\ZelStandIns\\") + standIn;
}

std::wstring StandInKnobs::ProcessKeyPath(const wchar_t* standIn, DWORD processId) {
  return KeyPath(standIn) + L"\\Processes\\" + std::to_wstring(processId);
}

std::optional<DWORD> StandInKnobs::ReadDword(const wchar_t* name) const {
  std::optional<DWORD> value = ReadDwordValue(HKEY_LOCAL_MACHINE, processKeyPath_.c_str(), name);
  return value ? value : ReadDwordValue(HKEY_LOCAL_MACHINE, keyPath_.c_str(), name);
}

void StandInKnobs::CountCall(const wchar_t* name) const {
  std::lock_guard<Strata::SlimLock> lock(g_counting);
  Strata::UniqueHkey key;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, processKeyPath_.c_str(), 0, KEY_QUERY_VALUE | KEY_SET_VALUE, key.put()) !=
      ERROR_SUCCESS)
    return;
  DWORD count = ReadDwordValue(key.get(), nullptr, name).value_or(0) + 1;
  ::RegSetValueExW(key.get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&count), sizeof(count));
}

}  // namespace ZelStandIns
