#include "ETWLogging.h"

#include <algorithm>
#include <cstdarg>
#include <new>

#include "ETWEvent.h"
#include "FormatText.h"
#include "ModuleVersion.h"
#include "SlimLock.h"

namespace ETWLogging {
namespace {

std::wstring FileNameOf(const std::wstring& path) { return path.substr(path.find_last_of(L"\\/") + 1); }

std::wstring WithoutExtension(const std::wstring& fileName) {
  return fileName.substr(0, fileName.find_last_of(L'.'));
}

std::wstring ExecutableFileName() {
  wchar_t path[MAX_PATH];
  DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  return FileNameOf(std::wstring(path, length));
}

}  // namespace

CETWLogging::CETWLogging(TraceProviderApi& api, RegistryPlace registry)
    : api_(api), properties_(std::move(registry)) {}

CETWLogging::~CETWLogging() { Uninitialize(); }

DWORD CETWLogging::Initialize(const wchar_t* group, const wchar_t* module, const wchar_t* hostSuffix,
                              LoggingConfigListenerIf* listener) {
  return InitializeEx(nullptr, group, module, hostSuffix, listener);
}

DWORD CETWLogging::InitializeEx(const wchar_t* product, const wchar_t* group, const wchar_t* module,
                                const wchar_t* hostSuffix, LoggingConfigListenerIf* listener) {
  std::unique_ptr<LoggingConfigListenerIf> given(listener);
  if (registered_) return kLogAlreadyInitialized;
  if ((group && !*group) || (hostSuffix && !*hostSuffix)) return kLogInvalidParameter;
  try {
    DWORD loaded = properties_.Load(product);
    if (loaded != kLogOk) return loaded;
    DWORD identified = InitializeIdentity(group, module);
    if (identified != kLogOk) return identified;
    if (!given) given = std::make_unique<CETWConfigurationListener>(properties_, this);
    given->AttachLogger(this);
  } catch (const std::bad_alloc&) {
    return kLogOutOfMemory;
  }
  listener_ = std::move(given);
  listener_->OnConfigure(true, kLevelInformation, 0);
  processId_ = ::GetCurrentProcessId();
  return kLogOk;
}

DWORD CETWLogging::InitializeIdentity(const wchar_t* group, const wchar_t* module) {
  group_ = group ? group : L"";
  executableFileName_ = ExecutableFileName();
  moduleBaseName_ = WithoutExtension(module ? FileNameOf(module) : executableFileName_);
  moduleLogName_ = moduleBaseName_.empty() ? group_ : group_ + L"\\" + moduleBaseName_;
  const Strata::ModuleVersion& library = Strata::GetModuleVersion();
  libraryFileName_ = library.fileName;
  libraryVersion_ = library.version;
  return kLogOk;
}

DWORD CETWLogging::GetModuleLogName(std::wstring* name) {
  if (!name) return kLogInvalidParameter;
  *name = moduleLogName_;
  return kLogOk;
}

DWORD CETWLogging::GetGroupName(std::wstring* name) {
  if (!name) return kLogInvalidParameter;
  *name = group_;
  return kLogOk;
}

void CETWLogging::SetSeverity(DWORD level) {
  severity_ = std::clamp<DWORD>(level, kLevelNormal, kLevelInformation6);
  PublishLevels();
}

// Level 3 always passes: it is what a session that asks for nothing in particular expects to see.
bool CETWLogging::Accepts(DWORD level) const { return level >= severity_ || level == kLevelInformation; }

bool CETWLogging::IsLevelEnabled(DWORD level) const {
  if (!registered_.load(std::memory_order_acquire)) Register();
  return session_.load(std::memory_order_relaxed) != 0 && enabled_.load(std::memory_order_relaxed) && Accepts(level);
}

void CETWLogging::PublishLevels() const {
  levels_.Publish([this] {
    if (!registered_.load(std::memory_order_acquire)) return LevelGate::kAskLogger;
    return LevelGate::LevelsOf([this](DWORD level) {
      return session_.load(std::memory_order_relaxed) != 0 && enabled_.load(std::memory_order_relaxed) &&
             Accepts(level);
    });
  });
}

DWORD CETWLogging::EnsureReady() { return registered_.load(std::memory_order_acquire) ? kLogOk : Register(); }

// Decided under the lock so that two first messages register once. A controller may call back
// from inside the registration; the callback takes no lock, so it cannot deadlock here.
DWORD CETWLogging::Register() const {
  std::lock_guard<Strata::SlimLock> lock(registrationLock_);
  if (registered_.load(std::memory_order_relaxed)) return kLogOk;
  // The callback needs the listener and the provider GUID that InitializeEx supplies.
  if (!listener_) return kLogNotInitialized;
  traceGuid_.Guid = &kDiagnosticEventGuid;
  TRACEHANDLE handle = 0;
  ULONG result = api_.RegisterTraceGuids(&ControlCallback, const_cast<CETWLogging*>(this),
                                         properties_.ProviderGuid(), &traceGuid_, &handle);
  if (registration_) UnregisterLocked();
  registration_ = result == ERROR_SUCCESS ? handle : 0;
  // A failed registration is not retried: it would cost a system call on every message.
  registered_.store(true, std::memory_order_release);
  PublishLevels();
  return result;
}

ULONG CETWLogging::UnregisterLocked() const {
  ULONG result = registration_ ? api_.UnregisterTraceGuids(registration_) : ERROR_SUCCESS;
  registration_ = 0;
  return result;
}

DWORD CETWLogging::Uninitialize() {
  if (!registered_) return kLogOk;
  enabled_ = false;
  std::lock_guard<Strata::SlimLock> lock(registrationLock_);
  ULONG result = UnregisterLocked();
  session_ = 0;
  registered_.store(false, std::memory_order_release);
  PublishLevels();
  return result;
}

ULONG WINAPI CETWLogging::ControlCallback(WMIDPREQUESTCODE code, void* context, ULONG*, void* buffer) noexcept {
  auto* self = static_cast<CETWLogging*>(context);
  switch (code) {
    case WMI_ENABLE_EVENTS: return self->OnEnable(buffer);
    case WMI_DISABLE_EVENTS: return self->OnDisable(buffer);
    default: return ERROR_INVALID_PARAMETER;
  }
}

// A newer session takes the provider over, as the system's own classic providers do: keeping the
// older one would send nothing to the session that asked last.
ULONG CETWLogging::OnEnable(void* buffer) {
  TRACEHANDLE session = api_.GetTraceLoggerHandle(buffer);
  if (session == kInvalidTraceHandle || session == 0) return ::GetLastError();
  session_ = session;
  PublishLevels();
  UCHAR level = api_.GetTraceEnableLevel(session);
  if (level == 0) return ::GetLastError();
  ULONG flags = api_.GetTraceEnableFlags(session);
  listener_->OnConfigure(true, level, flags);
  return ERROR_SUCCESS;
}

// Only the session that holds the provider may switch it off; a stale session's disable that
// arrives after a takeover must not silence the newer one.
ULONG CETWLogging::OnDisable(void* buffer) {
  TRACEHANDLE session = api_.GetTraceLoggerHandle(buffer);
  if (session == kInvalidTraceHandle || session == 0) return ERROR_SUCCESS;
  TRACEHANDLE held = session;
  if (!session_.compare_exchange_strong(held, 0)) return ERROR_SUCCESS;
  PublishLevels();
  listener_->OnConfigure(false, severity_, 0);
  return ERROR_SUCCESS;
}

DWORD CETWLogging::LogFormat(DWORD level, const wchar_t* sourceFile, const wchar_t* function, int line,
                             const wchar_t* format, ...) {
  if (!enabled_ || !Accepts(level) || !format || !*format) return kLogOk;
  va_list args;
  va_start(args, format);
  DWORD result = kLogOk;
  try {
    std::wstring text = Strata::FormatV(format, args);
    result = LogTextEx(level, sourceFile, function, line, text.c_str());
  } catch (const std::bad_alloc&) {
    result = kLogOutOfMemory;
  }
  va_end(args);
  return result;
}

// A message that cannot be sent is dropped without notice: callers ignore logging results, and
// nobody may be listening.
DWORD CETWLogging::LogTextEx(DWORD level, const wchar_t* sourceFile, const wchar_t* function, int line,
                             const wchar_t* text) {
  if (!enabled_ || !Accepts(level) || !text || !*text || session_ == 0) return kLogOk;
  try {
    return Send(MapTraceLevel(level), sourceFile, function, line, text);
  } catch (const std::bad_alloc&) {
    return kLogOk;
  }
}

DWORD CETWLogging::Send(DWORD level, const wchar_t* sourceFile, const wchar_t* function, int line,
                        const wchar_t* text) {
  std::wstring_view message(text);
  if (message.size() > kLongTextLimit) message = message.substr(0, kLongTextCut);
  std::vector<BYTE> payload = SerializePayload({processId_, ::GetCurrentThreadId(), executableFileName_,
                                                sourceFile ? sourceFile : L"", line, function ? function : L"",
                                                libraryFileName_, libraryVersion_, group_, message});
  EventWithPayload event = MakeEvent(level, payload);
  TRACEHANDLE session = session_.load();
  if (session) api_.TraceEvent(session, &event.header);
  return kLogOk;
}

}  // namespace ETWLogging
