#include "ProductSetting.h"

#include "Handles.h"

namespace ProductSetting {
namespace {

constexpr DWORD kMaxAffiliateBytes = 522;

std::optional<DWORD> ReadDword(HKEY settings, const std::wstring& subkey, const wchar_t* name) {
  DWORD value = 0;
  DWORD bytes = sizeof(value);
  DWORD type = 0;
  if (::RegGetValueW(settings, subkey.c_str(), name, RRF_RT_ANY, &type, &value, &bytes) != ERROR_SUCCESS ||
      type != REG_DWORD || bytes != sizeof(value))
    return std::nullopt;
  return value;
}

}  // namespace

std::optional<std::wstring> ReadAffiliateId(HKEY root, const wchar_t* settingsKey) {
  Strata::UniqueHkey key;
  if (::RegOpenKeyExW(root, settingsKey, 0, KEY_READ, key.put()) != ERROR_SUCCESS) return std::nullopt;
  wchar_t buffer[kMaxAffiliateBytes / sizeof(wchar_t)] = {};
  DWORD bytes = sizeof(buffer);
  DWORD type = 0;
  const bool read =
      ::RegQueryValueExW(key.get(), L"affid", nullptr, &type, reinterpret_cast<BYTE*>(buffer), &bytes) == ERROR_SUCCESS;
  // Only a whole, terminated text is taken; anything else reads as no affiliate.
  const DWORD chars = bytes / sizeof(wchar_t);
  const bool wellFormed = read && (type == REG_SZ || type == REG_EXPAND_SZ) && bytes % sizeof(wchar_t) == 0 &&
                          chars > 0 && buffer[chars - 1] == L'\0';
  const std::wstring affiliate = wellFormed ? std::wstring(buffer) : std::wstring();
  return (affiliate.empty() || affiliate == L"0") ? std::wstring(L"default") : affiliate;
}

bool ReadProductSetting(const wchar_t* name, DWORD* value, HKEY root, const wchar_t* settingsKey) {
  std::optional<std::wstring> affiliate = ReadAffiliateId(root, settingsKey);
  if (!affiliate) return false;
  Strata::UniqueHkey settings;
  if (::RegOpenKeyExW(root, settingsKey, 0, KEY_READ, settings.put()) != ERROR_SUCCESS) return false;
  std::optional<DWORD> found = ReadDword(settings.get(), *affiliate, name);
  if (!found) found = ReadDword(settings.get(), L"default", name);
  if (found) *value = *found;
  return found.has_value();
}

uint32_t ReadRetryDelaySeconds(HKEY root, const wchar_t* settingsKey) {
  DWORD seconds = kDefaultRetryDelaySeconds;
  return ReadProductSetting(L"AlertRetryDelay", &seconds, root, settingsKey) ? seconds : kDefaultRetryDelaySeconds;
}

}  // namespace ProductSetting
