// What the bridge library reads from the product's installation and settings, and the one report
// it makes to the service's own library.
#pragma once

#include <windows.h>

#include <map>
#include <optional>
#include <string>

namespace ProductSettings {

// HKEY_LOCAL_MACHINE "Software\Varant\ZEL" value "Install Dir": REG_SZ or REG_EXPAND_SZ of at
// most 522 bytes, stored with its terminating zero; nothing otherwise. `shortForm` asks for the
// short-path form (the value as read when it has none).
std::optional<std::wstring> ReadProductFolder(bool shortForm);

// Hands a failure to the service library "zel.dll" of the product folder through its export
// DllCanDefer. The library is loaded by full path only: with the folder unknown or empty the report
// is skipped with a diagnostic line. A missing or unverified library or a missing export is ignored.
void ReportToService(int code, BYTE flag, HRESULT hr);

// Text `id` of the product resource library "ZelRes2.DLL", loaded once per process through the
// resource-language loader; empty when the library or the text is missing.
std::wstring LoadProductString(UINT id);

// HKEY_LOCAL_MACHINE "Software\Varant\ZEL\Settings" value "affid". False, with *affiliateId
// untouched, when the settings key cannot be opened; "default" when the value is missing,
// malformed, empty or "0".
bool ReadAffiliateId(std::wstring* affiliateId);

// The content categories of the "default" settings and then of the affiliate's, which override
// them: each REG_SZ value of "<settings>\<name>\Categories" with a non-empty name maps to the
// decimal number its data starts with.
void ReadCategoryMap(std::map<std::wstring, long>* categories);

}  // namespace ProductSettings
