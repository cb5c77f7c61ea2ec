// The product's DWORD settings: HKEY_LOCAL_MACHINE "Software\Varant\ZEL\Settings", in the subkey
// named by its "affid" value, falling back to the subkey "default".
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

namespace ProductSetting {

constexpr wchar_t kSettingsKey[] = L"Software\\Varant\\ZEL\\Settings";
constexpr uint32_t kDefaultRetryDelaySeconds = 10;

// The affiliate's subkey name: "default" for a missing, malformed, empty or "0" affid; none when
// the settings key cannot be opened. `root`\`settingsKey` is a seam for tests.
std::optional<std::wstring> ReadAffiliateId(HKEY root = HKEY_LOCAL_MACHINE, const wchar_t* settingsKey = kSettingsKey);
// Whether `name` was found, as a 4-byte DWORD, in the affiliate's subkey or else in "default".
bool ReadProductSetting(const wchar_t* name, DWORD* value, HKEY root = HKEY_LOCAL_MACHINE,
                        const wchar_t* settingsKey = kSettingsKey);
// "AlertRetryDelay" in seconds, 10 when not set.
uint32_t ReadRetryDelaySeconds(HKEY root = HKEY_LOCAL_MACHINE, const wchar_t* settingsKey = kSettingsKey);

}  // namespace ProductSetting
