#include "ProcessKnobs.h"

#include "Handles.h"

namespace ZelTest {

ProcessKnobs::ProcessKnobs(const wchar_t* standIn)
    : path_(std::wstring(L"Software\\ZelStandIns\\") + standIn + L"\\Processes\\" +
            std::to_wstring(::GetCurrentProcessId())) {
  Strata::UniqueHkey key;
  created_ = ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(),
                               nullptr) == ERROR_SUCCESS;
}

ProcessKnobs::~ProcessKnobs() {
  ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, path_.c_str());
  ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, path_.c_str());
}

void ProcessKnobs::SetDword(const wchar_t* name, DWORD value) const {
  ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, path_.c_str(), name, REG_DWORD, &value, sizeof(value));
}

std::wstring ProcessKnobs::Path(const std::wstring& below) const { return path_ + L"\\" + below; }

LSTATUS ProcessKnobs::SetText(const std::wstring& below, const wchar_t* name, const std::wstring& text) const {
  return ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, Path(below).c_str(), name, REG_SZ, text.c_str(),
                           static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

LSTATUS ProcessKnobs::SetDword(const std::wstring& below, const wchar_t* name, DWORD value) const {
  return ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, Path(below).c_str(), name, REG_DWORD, &value, sizeof(value));
}

std::optional<DWORD> ProcessKnobs::ReadDword(const wchar_t* name) const {
  DWORD value = 0;
  DWORD size = sizeof(value);
  if (::RegGetValueW(HKEY_LOCAL_MACHINE, path_.c_str(), name, RRF_RT_REG_DWORD, nullptr, &value, &size) != ERROR_SUCCESS)
    return std::nullopt;
  return value;
}

}  // namespace ZelTest
