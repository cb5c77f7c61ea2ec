#include "ETWAppProperties.h"

#include <new>

#include "LogPaths.h"
#include "LoggingIf.h"
#include "ShlObjAPI.h"

namespace ETWLogging {
namespace internal {
namespace {

constexpr wchar_t kDefaultLoggingKey[] = L"SOFTWARE\\Varant\\Logging";
constexpr wchar_t kDefaultLogPath[] = L"\\Varant\\KYLOGS";
constexpr wchar_t kDefaultEtlPath[] = L"\\Varant\\KYLOGS\\ETW";
constexpr wchar_t kDefaultOwnerMutex[] = L"Global\\Varant.{0696D115-BE52-46c3-BFEE-D73A305B6581}";
constexpr wchar_t kDefaultSessionName[] = L"Varant.{E4367DA7-2B80-47f3-86D2-7626A18FC6F4}";
constexpr GUID kDefaultSessionIdGuid = {0x491FB070, 0x54CC, 0x11E0, {0xB8, 0xAF, 0x08, 0x00, 0x20, 0x0C, 0x9A, 0x66}};
constexpr GUID kDefaultProviderGuid = {0xE16CA450, 0x55CC, 0x11E0, {0xB8, 0xAF, 0x08, 0x00, 0x20, 0x0C, 0x9A, 0x66}};

LONG QueryRaw(HKEY root, const std::wstring& path, const wchar_t* name, DWORD flags, void* data, DWORD* bytes) {
  return ::RegGetValueW(root, path.c_str(), name, flags, nullptr, data, bytes);
}

bool KeyExists(HKEY root, const std::wstring& path) {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(root, path.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
  ::RegCloseKey(key);
  return true;
}

}  // namespace

std::optional<DWORD> ReadRegistryDword(HKEY root, const std::wstring& path, const wchar_t* name) {
  DWORD value = 0, bytes = sizeof(value);
  if (QueryRaw(root, path, name, RRF_RT_REG_DWORD, &value, &bytes) != ERROR_SUCCESS) return std::nullopt;
  return value;
}

std::optional<std::wstring> ReadRegistryString(HKEY root, const std::wstring& path, const wchar_t* name) {
  DWORD bytes = 0;
  if (QueryRaw(root, path, name, RRF_RT_REG_SZ, nullptr, &bytes) != ERROR_SUCCESS) return std::nullopt;
  std::wstring text(bytes / sizeof(wchar_t) + 1, L'\0');
  bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
  if (QueryRaw(root, path, name, RRF_RT_REG_SZ, &text[0], &bytes) != ERROR_SUCCESS) return std::nullopt;
  text.resize(wcsnlen(text.c_str(), text.size()));
  return text;
}

std::optional<GUID> ReadRegistryGuid(HKEY root, const std::wstring& path, const wchar_t* name) {
  GUID value{};
  DWORD bytes = sizeof(value);
  if (QueryRaw(root, path, name, RRF_RT_REG_BINARY, &value, &bytes) != ERROR_SUCCESS || bytes != sizeof(value))
    return std::nullopt;
  return value;
}

std::wstring ETWAppProperties::ProductKeyPath(const std::wstring& product, const wchar_t* subkey) {
  std::wstring path = std::wstring(PropertiesRootPath()) + L"\\" + product;
  if (subkey) path += std::wstring(L"\\") + subkey;
  return path;
}

DWORD ETWAppProperties::Load(const wchar_t* product) {
  if (!loaded_) {
    try {
      loaded_ = LoadOnce(product && *product ? product : kDefaultProduct);
    } catch (const std::bad_alloc&) {
      loaded_ = kLogOutOfMemory;
    }
  }
  return *loaded_;
}

DWORD ETWAppProperties::LoadOnce(const std::wstring& product) {
  productName_ = product;
  if (GetProgramDataFolder(Strata::ShlObjAPI::System(), &baseFolder_) != kLogOk) return kLogInvalidParameter;
  bool loaded = KeyExists(place_.root, place_.prefix + ProductKeyPath(product)) ? LoadFromRegistry(product)
                                                                                : LoadDefaults(product);
  return loaded ? kLogOk : kLogInvalidParameter;
}

void ETWAppProperties::SetPaths(const std::wstring& logPath, const std::wstring& etlPath) {
  logPath_ = baseFolder_ + logPath;
  etlPath_ = baseFolder_ + etlPath;
  etlFilePath_ = etlPath_ + L"\\" + EtlFileName();
}

bool ETWAppProperties::LoadFromRegistry(const std::wstring& product) {
  loggingKey_ = place_.prefix + ProductKeyPath(product);
  controllerKey_ = place_.prefix + ProductKeyPath(product, L"Controller");
  providerKey_ = place_.prefix + ProductKeyPath(product, L"Provider");
  switchesKey_ = loggingKey_;
  std::wstring sessionKey = place_.prefix + ProductKeyPath(product, L"Session");
  SetPaths(ReadRegistryString(place_.root, loggingKey_, L"Log Path").value_or(kDefaultLogPath),
           ReadRegistryString(place_.root, loggingKey_, L"ETL Path").value_or(kDefaultEtlPath));

  auto controllerPath = ReadRegistryString(place_.root, controllerKey_, L"Controller Path");
  auto ownerMutex = ReadRegistryString(place_.root, controllerKey_, L"Owner Mutex Name");
  auto sessionId = ReadRegistryGuid(place_.root, sessionKey, L"Session ID Guid");
  auto sessionName = ReadRegistryString(place_.root, sessionKey, L"Session Name");
  auto providerGuid = ReadRegistryGuid(place_.root, providerKey_, L"Provider Guid");
  if (!controllerPath || !ownerMutex || !sessionId || !sessionName || !providerGuid) return false;
  controllerPath_ = *controllerPath;
  ownerMutexName_ = *ownerMutex;
  sessionIdGuid_ = *sessionId;
  sessionName_ = *sessionName;
  providerGuid_ = *providerGuid;
  return true;
}

bool ETWAppProperties::LoadDefaults(const std::wstring& product) {
  if (product != kDefaultProduct) return false;
  loggingKey_ = place_.prefix + kDefaultLoggingKey;
  controllerKey_ = loggingKey_ + L"\\Controller";
  providerKey_ = loggingKey_ + L"\\Provider";
  switchesKey_ = loggingKey_;
  SetPaths(kDefaultLogPath, kDefaultEtlPath);
  ownerMutexName_ = kDefaultOwnerMutex;
  sessionName_ = kDefaultSessionName;
  sessionIdGuid_ = kDefaultSessionIdGuid;
  providerGuid_ = kDefaultProviderGuid;
  return true;
}

}  // namespace internal
}  // namespace ETWLogging
