// Where the event-tracing logger finds its identifiers and switches: a product's registry layout,
// or the built-in defaults of the product "QRV".
#pragma once

#include <windows.h>

#include <optional>
#include <string>

namespace ETWLogging {

// The registry the logger reads: the machine's, or a throw-away key of a test. Every key path is
// `prefix` followed by the path the layout names.
struct RegistryPlace {
  HKEY root = HKEY_LOCAL_MACHINE;
  std::wstring prefix;
};

namespace internal {

// Typed reads layered on one raw query; absent, unreadable or mistyped values read as nullopt.
std::optional<DWORD> ReadRegistryDword(HKEY root, const std::wstring& path, const wchar_t* name);
std::optional<std::wstring> ReadRegistryString(HKEY root, const std::wstring& path, const wchar_t* name);
std::optional<GUID> ReadRegistryGuid(HKEY root, const std::wstring& path, const wchar_t* name);

class ETWAppProperties {
 public:
  static constexpr wchar_t kDefaultProduct[] = L"QRV";

  explicit ETWAppProperties(RegistryPlace place = {}) : place_(std::move(place)) {}
  ~ETWAppProperties() = default;

  // 0, or 87 when the base folder cannot be had or the product has neither a complete registry
  // layout nor built-in defaults. Loads only once; later calls answer the first result.
  DWORD Load(const wchar_t* product);

  static const wchar_t* EtlFileName() { return L"kylogs.etl"; }
  static const wchar_t* PropertiesRootPath() { return L"SOFTWARE\\Varant.logging"; }
  // Root path, "\", product name and, when given, "\" and the subkey.
  static std::wstring ProductKeyPath(const std::wstring& product, const wchar_t* subkey = nullptr);

  HKEY RootKey() const { return place_.root; }
  const std::wstring& ProviderKey() const { return providerKey_; }
  const GUID& ProviderGuid() const { return providerGuid_; }
  const GUID& SessionIdGuid() const { return sessionIdGuid_; }
  const std::wstring& SessionName() const { return sessionName_; }
  const std::wstring& OwnerMutexName() const { return ownerMutexName_; }
  const std::wstring& LogPath() const { return logPath_; }
  const std::wstring& EtlFilePath() const { return etlFilePath_; }
  const std::wstring& LoggingKey() const { return loggingKey_; }
  const std::wstring& ControllerKey() const { return controllerKey_; }
  const std::wstring& ControllerPath() const { return controllerPath_; }

 private:
  DWORD LoadOnce(const std::wstring& product);
  bool LoadFromRegistry(const std::wstring& product);
  bool LoadDefaults(const std::wstring& product);
  void SetPaths(const std::wstring& logPath, const std::wstring& etlPath);

  RegistryPlace place_;
  std::optional<DWORD> loaded_;
  std::wstring productName_;
  std::wstring baseFolder_;
  GUID sessionIdGuid_{};
  std::wstring sessionName_;
  GUID providerGuid_{};
  std::wstring ownerMutexName_;
  std::wstring logPath_;
  std::wstring etlPath_;
  std::wstring etlFilePath_;
  std::wstring controllerPath_;
  std::wstring loggingKey_;
  std::wstring controllerKey_;
  std::wstring providerKey_;
  std::wstring switchesKey_;
};

}  // namespace internal
}  // namespace ETWLogging
