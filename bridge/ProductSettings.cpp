#include "ProductSettings.h"

#include <clocale>
#include <cwchar>
#include <mutex>
#include <vector>

#include "Handles.h"
#include "LogInstance.h"
#include "OnceFlag.h"
#include "RtMui.h"
#include "ShortPath.h"
#include "VerifiedLibrary.h"

namespace ProductSettings {
namespace {

constexpr wchar_t kProductKey[] = L"Software\\Varant\\ZEL";
constexpr wchar_t kSettingsKey[] = L"Software\\Varant\\ZEL\\Settings";
constexpr DWORD kMaxTextBytes = 522;
constexpr int kMaxProductStringChars = 1024;

// A REG_SZ or REG_EXPAND_SZ value of at most kMaxTextBytes bytes, terminated as stored.
std::optional<std::wstring> ReadBoundedText(HKEY key, const wchar_t* name) {
  wchar_t buffer[kMaxTextBytes / sizeof(wchar_t)];
  DWORD type = 0;
  DWORD bytes = sizeof(buffer);
  if (::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &bytes) != ERROR_SUCCESS)
    return std::nullopt;
  if (type != REG_SZ && type != REG_EXPAND_SZ) return std::nullopt;
  const DWORD chars = bytes / sizeof(wchar_t);
  if (chars == 0 || buffer[chars - 1] != L'\0') return std::nullopt;
  return std::wstring(buffer);
}

void ReadCategories(const std::wstring& settingsName, std::map<std::wstring, long>* categories) {
  const std::wstring path = std::wstring(kSettingsKey) + L"\\" + settingsName + L"\\Categories";
  Strata::UniqueHkey key;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) return;
  DWORD maxNameChars = 0;
  DWORD maxDataBytes = 0;
  if (::RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &maxNameChars,
                         &maxDataBytes, nullptr, nullptr) != ERROR_SUCCESS)
    return;
  std::vector<wchar_t> name(maxNameChars + 1);
  // Room for a terminator the stored data may lack.
  std::vector<wchar_t> data(maxDataBytes / sizeof(wchar_t) + 2);
  for (DWORD index = 0;; ++index) {
    DWORD nameChars = static_cast<DWORD>(name.size());
    DWORD dataBytes = static_cast<DWORD>((data.size() - 1) * sizeof(wchar_t));
    DWORD type = 0;
    std::fill(data.begin(), data.end(), L'\0');
    LSTATUS status = ::RegEnumValueW(key.get(), index, name.data(), &nameChars, nullptr, &type,
                                     reinterpret_cast<BYTE*>(data.data()), &dataBytes);
    if (status == ERROR_NO_MORE_ITEMS) break;
    if (status != ERROR_SUCCESS || type != REG_SZ || nameChars == 0) continue;
    (*categories)[std::wstring(name.data(), nameChars)] = std::wcstol(data.data(), nullptr, 10);
  }
}

}  // namespace

std::optional<std::wstring> ReadProductFolder(bool shortForm) {
  Strata::UniqueHkey key;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kProductKey, 0, KEY_READ, key.put()) != ERROR_SUCCESS) return std::nullopt;
  std::optional<std::wstring> folder = ReadBoundedText(key.get(), L"Install Dir");
  if (folder && shortForm) folder = Strata::ShortPath(*folder);
  return folder;
}

void ReportToService(int code, BYTE flag, HRESULT hr) {
  std::optional<std::wstring> folder = ReadProductFolder(false);
  if (!folder || folder->empty()) {
    ZEL_LOG(ETWLogging::kLevelWarning, L"ZelTARNHelper", L"ReportToService",
            L"Not reporting %d [0x%08X] to zel.dll: the product folder is unknown\r\n", code, hr);
    return;
  }
  Strata::UniqueModule library;
  if (FAILED(Ky::LoadVerifiedLibrary((*folder + L"\\zel.dll").c_str(), library))) return;
  using DllCanDeferFn = HRESULT WINAPI(int, BYTE, HRESULT);
  auto* canDefer = reinterpret_cast<DllCanDeferFn*>(::GetProcAddress(library.get(), "DllCanDefer"));
  if (canDefer) canDefer(code, flag, hr);
}

std::wstring LoadProductString(UINT id) {
  // Loaded once and kept for the life of the process: freeing it at unload would mean a library
  // call under the loader lock.
  static HMODULE resources = nullptr;
  static Strata::OnceFlag loaded;
  loaded.Run([] {
    std::optional<std::wstring> folder = ReadProductFolder(true);
    if (folder) resources = Strata::RtMui::LoadLibraryW((*folder + L"\\ZelRes2.DLL").c_str());
    std::setlocale(LC_ALL, ".ACP");
  });
  if (!resources) return std::wstring();
  wchar_t text[kMaxProductStringChars];
  int chars = Strata::RtMui::LoadStringW(resources, id, text, kMaxProductStringChars);
  return chars > 0 ? std::wstring(text, chars) : std::wstring();
}

bool ReadAffiliateId(std::wstring* affiliateId) {
  Strata::UniqueHkey key;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_READ, key.put()) != ERROR_SUCCESS) return false;
  std::optional<std::wstring> value = ReadBoundedText(key.get(), L"affid");
  *affiliateId = (!value || value->empty() || *value == L"0") ? std::wstring(L"default") : *value;
  return true;
}

void ReadCategoryMap(std::map<std::wstring, long>* categories) {
  categories->clear();
  ReadCategories(L"default", categories);
  std::wstring affiliateId;
  if (ReadAffiliateId(&affiliateId)) ReadCategories(affiliateId, categories);
}

}  // namespace ProductSettings
