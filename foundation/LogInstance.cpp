#include "LogInstance.h"

#include <atomic>
#include <mutex>
#include <new>
#include <optional>

#include "DefaultLogBuilder.h"
#include "FormatText.h"
#include "LevelGate.h"
#include "ModuleVersion.h"
#include "SlimLock.h"
#include "OnceFlag.h"

namespace {

// The identity recorded by SetLogIdentity; g_identityLock guards it.
struct StoredIdentity {
  std::optional<std::wstring> product;
  std::optional<std::wstring> group{L"_no_group"};
  std::optional<std::wstring> module;
  std::optional<std::wstring> hostSuffix{L"_no_host"};
  DWORD mechanism = ETWLogging::kMechanismFromRegistry;
};

Strata::SlimLock g_identityLock;
StoredIdentity g_identity;

std::optional<std::wstring> Optional(const wchar_t* text) {
  return text ? std::optional<std::wstring>(text) : std::nullopt;
}

const wchar_t* Pointer(const std::optional<std::wstring>& text) { return text ? text->c_str() : nullptr; }

DWORD LevelForStrataType(int type) {
  switch (type) {
    case Strata::kStrataTrace:
    case Strata::kStrataInfo: return ETWLogging::kLevelNormal;
    case Strata::kStrataError: return ETWLogging::kLevelError;
    default: return ETWLogging::kLevelWarning;
  }
}

// Owns the instance until process exit. Messages written by other static objects' destructors
// after this one has run find no instance instead of a deleted one.
struct InstanceHolder {
  std::atomic<CLogInstance*> instance{nullptr};
  ~InstanceHolder() { delete instance.exchange(nullptr); }
};
InstanceHolder g_instance;
Strata::OnceFlag g_instanceMade;

// The levels the process's logger accepts, kept by that logger itself. It reads "ask the logger"
// until the logger exists, and again once it has gone (a logger put in its place is asked).
std::atomic<uint64_t> g_processLogLevels{ETWLogging::LevelGate::kAskLogger};

CLogInstance* CreateProcessInstance() {
  StoredIdentity identity;
  {
    std::lock_guard<Strata::SlimLock> lock(g_identityLock);
    identity = g_identity;
  }
  auto* instance = new (std::nothrow) CLogInstance();
  if (!instance) return nullptr;
  instance->Create({Pointer(identity.product), Pointer(identity.group), Pointer(identity.module),
                    Pointer(identity.hostSuffix), identity.mechanism});
  if (auto* publisher = dynamic_cast<const ETWLogging::LevelPublisher*>(instance->Logger()))
    publisher->MirrorLevelsInto(&g_processLogLevels);
  return instance;
}

}  // namespace

DWORD CStrataLogHandler::OnLog(int type, const wchar_t* sourceFile, const wchar_t* function, int line,
                               const wchar_t* text) {
  return instance_.WriteText(LevelForStrataType(type), sourceFile, function, line, text);
}

CLogInstance::~CLogInstance() {
  if (strataHandler_) Strata::CLogger::UnregisterHandler(strataHandler_.get());
}

DWORD CLogInstance::Create(const LogIdentity& identity, const ETWLogging::LogConfigSource* configSource) {
  ETWLogging::CLoggingIf* built = nullptr;
  DWORD result = ETWLogging::CDefaultLogBuilder::Instance().BuildEx(identity.product, identity.group, identity.module,
                                                                     identity.hostSuffix, identity.mechanism, &built,
                                                                     configSource);
  SetLogger(std::unique_ptr<ETWLogging::CLoggingIf>(built));

  auto handler = std::unique_ptr<CStrataLogHandler>(new (std::nothrow) CStrataLogHandler(*this));
  if (handler && Strata::CLogger::RegisterHandler(handler.get()) == 0) {
    if (strataHandler_) Strata::CLogger::UnregisterHandler(strataHandler_.get());
    strataHandler_ = std::move(handler);
  }
  return result;
}

DWORD CLogInstance::WriteText(DWORD level, const wchar_t* sourceFile, const wchar_t* function, int line,
                              const wchar_t* text) {
  if (!logger_) return ETWLogging::kLogNoLogger;
  DWORD ready = logger_->EnsureReady();
  if (ready != ETWLogging::kLogOk) return ready;
  if (auto* extended = dynamic_cast<ETWLogging::CLoggingIf_ex*>(logger_.get()))
    return extended->LogTextEx(level, sourceFile, function, line, text);
  return logger_->LogText(sourceFile, function, line, level, text);
}

DWORD CLogInstance::WriteV(DWORD level, const wchar_t* sourceFile, const wchar_t* function, int line,
                           const wchar_t* format, va_list args) {
  if (!logger_) return ETWLogging::kLogNoLogger;
  DWORD ready = logger_->EnsureReady();
  if (ready != ETWLogging::kLogOk) return ready;
  if (auto* extended = dynamic_cast<ETWLogging::CLoggingIf_ex*>(logger_.get())) {
    wchar_t text[kExtendedCapacity];
    Strata::FormatIntoV(text, kExtendedCapacity, format, args);
    return extended->LogTextEx(level, sourceFile, function, line, text);
  }
  try {
    std::wstring text = Strata::FormatV(format, args);
    if (text.size() > kPlainLimit) text.resize(kPlainCutLength);
    return logger_->LogText(sourceFile, function, line, level, text.c_str());
  } catch (const std::bad_alloc&) {
    return ETWLogging::kLogOutOfMemory;
  }
}

void SetLogIdentity(const wchar_t* product, const wchar_t* group, const wchar_t* module, const wchar_t* hostSuffix,
                    DWORD mechanism) {
  std::lock_guard<Strata::SlimLock> lock(g_identityLock);
  g_identity = {Optional(product), Optional(group), Optional(module), Optional(hostSuffix), mechanism};
}

bool StartLibraryLog(const wchar_t* group, const wchar_t* sourceFile, const wchar_t* function,
                     const wchar_t* startFormat) {
  static Strata::OnceFlag started;
  bool first = false;
  started.Run([&] {
    first = true;
    SetLogIdentity(nullptr, group, nullptr, nullptr, ETWLogging::kMechanismFromRegistry);
    ZEL_LOG(ETWLogging::kLevelNormal, sourceFile, function, startFormat, Strata::GetModuleVersion().version.c_str());
  });
  return first;
}

CLogInstance* GetLogInstance() {
  g_instanceMade.Run([] { g_instance.instance = CreateProcessInstance(); });
  return g_instance.instance.load();
}

bool LogIsEnabled(DWORD level) {
  const uint64_t levels = g_processLogLevels.load(std::memory_order_acquire);
  if (!(levels & ETWLogging::LevelGate::kAskLogger)) return ETWLogging::LevelGate::Allows(levels, level);
  CLogInstance* instance = GetLogInstance();
  return instance && instance->IsEnabled(level);
}

DWORD LogWrite(DWORD level, const wchar_t* sourceFile, const wchar_t* function, int line, const wchar_t* format, ...) {
  CLogInstance* instance = GetLogInstance();
  if (!instance) return ETWLogging::kLogNoLogger;
  va_list args;
  va_start(args, format);
  DWORD result = instance->WriteV(level, sourceFile, function, line, format, args);
  va_end(args);
  return result;
}
