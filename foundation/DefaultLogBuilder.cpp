#include "DefaultLogBuilder.h"

#include <memory>
#include <new>

#include "ETWLogging.h"
#include "Logging.h"
#include "ObfuscatedRegKey.h"

namespace ETWLogging {
namespace {

constexpr wchar_t kLoggingKey[] = L"SOFTWARE\\Varant\\Logging";
constexpr wchar_t kMechanismValue[] = L"Logging Mechanism";

DWORD InitializeLogger(CLoggingIf& logger, const wchar_t* product, const wchar_t* group, const wchar_t* module,
                       const wchar_t* hostSuffix) {
  if (auto* extended = dynamic_cast<CLoggingIf_ex*>(&logger)) {
    if (extended->InitializeEx(product, group, module, hostSuffix, nullptr) == kLogOk) return kLogOk;
  }
  return logger.Initialize(group, module, hostSuffix, nullptr);
}

}  // namespace

bool CDefaultLogBuilder::FileLoggerSelected(DWORD mechanism, const LogConfigSource* configSource) {
  if (mechanism == kMechanismFile) return true;
  Strata::CObfuscatedRegKey key;
  LONG opened = configSource ? key.Open(configSource->root, configSource->path.c_str(), KEY_QUERY_VALUE)
                             : key.Open(HKEY_LOCAL_MACHINE, kLoggingKey, KEY_QUERY_VALUE);
  DWORD value = 0;
  return opened == ERROR_SUCCESS && key.QueryDWORDValue(kMechanismValue, value) == ERROR_SUCCESS &&
         value == kMechanismFile;
}

DWORD CDefaultLogBuilder::Build(const wchar_t* group, const wchar_t* module, const wchar_t* hostSuffix,
                                DWORD mechanism, CLoggingIf** logger, const LogConfigSource* configSource) {
  return BuildEx(nullptr, group, module, hostSuffix, mechanism, logger, configSource);
}

DWORD CDefaultLogBuilder::BuildEx(const wchar_t* product, const wchar_t* group, const wchar_t* module,
                                  const wchar_t* hostSuffix, DWORD mechanism, CLoggingIf** logger,
                                  const LogConfigSource* configSource) {
  if (!logger) return kLogInvalidParameter;
  *logger = nullptr;
  std::unique_ptr<CLoggingIf> built;
  if (FileLoggerSelected(mechanism, configSource)) {
    built.reset(new (std::nothrow) CLogging());
  } else {
    built.reset(new (std::nothrow) CETWLogging());
  }
  if (!built) return kLogOutOfMemory;
  DWORD result = InitializeLogger(*built, product, group, module, hostSuffix);
  if (result != kLogOk) return result;
  built->AddRef();
  *logger = built.release();
  return kLogOk;
}

namespace {
// At namespace scope, unguarded (see OnceFlag.h).
CDefaultLogBuilder g_defaultBuilder;
}  // namespace

CDefaultLogBuilder& CDefaultLogBuilder::Instance() { return g_defaultBuilder; }

}  // namespace ETWLogging
